#include "lirko_voice_file.h"

#include "aes.h"
#include "cache.h"
#include "evrc_packet.h"
#include "focus_manager.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sound.h"
#include "hal_time.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_records.h"
#include "list.h"
#include "sessionset.h"
#include "voice_file.h"

#include <atomic>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static const char *TAG = "record";

#define RLOG(b, prio, ...) hal_log_output((b)->log, (prio), TAG, __VA_ARGS__)

// A recorded-voice file larger than this is not one this engine wrote
// (an hour of the largest frames is about 6 MB).
#define VOICE_FILE_READ_MAX (64u * 1024u * 1024u)

static void on_writer_tick(hal_looper *looper, double now, void *arg);
static void on_play_tick(hal_looper *looper, double now, void *arg);

static broadcast_t *record_of(lirko_t *engine)
{
    return engine ? engine->broadcast : NULL;
}

int is_encrypt_file(lirko_t *engine, const uint8_t *data, size_t len)
{
    voice_file_kind kind = voice_file_kind_of(data, len);
    hal_log *log = engine ? engine->log : NULL;
    if (kind == VOICE_FILE_NO_HEADER)
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s head is not KVMF", "is_encrypt_file");
    else
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s play_bytes %d", "is_encrypt_file",
                       (int)((uint32_t)data[30] << 8 | data[31]));
    return (int)kind;
}

// Reads a whole file into a malloc'd buffer: 0, or -1.
static int read_whole(const char *path, uint8_t **out, size_t *len)
{
    FILE *fp = fopen(path, "rb");
    if (!fp)
        return -1;
    uint8_t *data = NULL;
    size_t n = 0, cap = 0;
    for (;;) {
        if (n == cap) {
            if (cap >= VOICE_FILE_READ_MAX) {
                free(data);
                fclose(fp);
                return -1;
            }
            cap = cap ? cap * 2 : 4096;
            uint8_t *d = (uint8_t *)realloc(data, cap);
            if (!d) {
                free(data);
                fclose(fp);
                return -1;
            }
            data = d;
        }
        size_t got = fread(data + n, 1, cap - n, fp);
        n += got;
        if (got == 0)
            break;
    }
    int err = ferror(fp);
    fclose(fp);
    if (err) {
        free(data);
        return -1;
    }
    *out = data;
    *len = n;
    return 0;
}

// The frames of a file by its name's codec: 0 (frames in *out, a new list),
// -1 unreadable or malformed, -2 unknown codec.
static int load_frames(broadcast_t *b, const char *path, const char *who, list **out)
{
    uint32_t codec = voice_file_codec_of_path(path);
    uint8_t *data = NULL;
    size_t len = 0;
    if (read_whole(path, &data, &len) != 0)
        return -1;
    int kind = is_encrypt_file(b->engine, data, len);
    RLOG(b, HAL_LOG_INFO, "%s is_encrypt %d", who, kind);
    if (codec == 0) {
        free(data);
        return -2;
    }
    uint8_t key[32];
    cache_user *me = b->engine->cache ? b->engine->cache->myself : NULL;
    voice_file_key(me ? me->encrypt_key : NULL, key);
    list *frames = list_new();
    int r = frames ? voice_file_frames(data, len, codec, key, frames, b->log) : -1;
    free(data);
    if (!frames)
        return -1;
    *out = frames;
    return r;
}

static void free_frame_list(list **frames)
{
    if (!*frames)
        return;
    voice_file_free_frames(*frames);
    list_del(*frames);
    *frames = NULL;
}

// --- recorder ----------------------------------------------------------------------------------

static void write_frame(broadcast_t *b, const hal_sound_frame *f)
{
    voice_file_recorder *r = &b->file;
    if (!r->file || f->pt != r->codec)
        return;
    const uint8_t *plain = f->data;
    uint32_t len = f->size;
    if (f->pt == HAL_PT_EVRC) {
        evrc_packet_writer w;
        int code = evrc_size_to_rate(f->size);
        if (code < 0 || !evrc_packet_writer_init(&w, r->packet, sizeof(r->packet), 1) ||
            !evrc_packet_add_frame(&w, (uint32_t)code, f->data))
            return;
        plain = r->packet;
        len = w.length;
    }
    if (r->encrypt_on) {
        uint8_t record[2 + 512];
        int n = voice_file_seal(plain, len, r->aes, record, sizeof(record));
        if (n > 0) {
            (void)fwrite(record, 1, (size_t)n, r->file);
            (void)fflush(r->file);
        }
        RLOG(b, HAL_LOG_VERBOSE, "win_ostream_read_frame encrypt_on %d write frame size %d",
             r->encrypt_on, n);
        return;
    }
    if (f->pt == HAL_PT_EVRC) {
        uint8_t stream[EVRC_STREAM_CAPACITY];
        uint32_t n = evrc_packet_to_stream(plain, len, stream);
        if (n)
            (void)fwrite(stream, 1, n, r->file);
        RLOG(b, HAL_LOG_VERBOSE, "win_ostream_read_frame evrc write frame size %d", (int)n);
    } else {
        (void)fwrite(plain, 1, len, r->file);
        RLOG(b, HAL_LOG_VERBOSE, "win_ostream_read_frame amr write frame size %d", (int)len);
    }
}

static void close_file(broadcast_t *b)
{
    if (b->file.file) {
        RLOG(b, HAL_LOG_INFO, "on_recorder_stop win_speak_record_file:%p", (void *)b->file.file);
        fclose(b->file.file);
        b->file.file = NULL;
    }
}

// The recording has ended (stopped, drained, or its record action is gone):
// the file is closed and the focus given back before anyone is told.
static void recorder_finish(broadcast_t *b, int release)
{
    (void)hal_looper_cancel_timer(b->looper, on_writer_tick, b);
    close_file(b);
    b->file.active = 0;
    b->file.record_id = 0;
    if (release)
        (void)focus_manager_release(b->engine->focus, &b->file);
    broadcast_stop_waiters_finish(&b->file.stop, 0);
}

static void on_writer_tick(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    (void)now;
    broadcast_t *b = (broadcast_t *)arg;
    if (hal_sound_record_id(b->sound) != b->file.record_id) {
        // Another user of the device took it: frames from here on are not
        // ours to write.
        RLOG(b, HAL_LOG_ERROR, "win_ostream_read_frame find frame error !!!!!!");
        recorder_finish(b, 1);
        return;
    }
    const hal_sound_frame *f;
    while ((f = hal_sound_read_frame(b->sound)) != NULL)
        write_frame(b, f);
}

static void on_recorder_stop(hal_sound *sound, int result, void *arg, hal_sound_frame **frames,
                             uint32_t count)
{
    (void)sound;
    broadcast_t *b = (broadcast_t *)arg;
    RLOG(b, HAL_LOG_INFO, "on_recorder_stop count:%d win_speak_record_file %p result %d",
         (int)count, (void *)b->file.file, result);
    for (uint32_t i = 0; i < count; i++)
        write_frame(b, frames[i]);
    recorder_finish(b, 1);
}

// "dir/year_month_day_hour_minute_second_millisecond.ext": 0, or -1 when it
// does not fit.
static int file_path(char *out, size_t size, const char *dir, const struct tm *tm,
                     const struct timespec *ts, const char *ext)
{
    int n = snprintf(out, size, "%s/%d_%d_%d_%d_%d_%d_%d%s", dir, tm->tm_year + 1900,
                     tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec,
                     (int)(ts->tv_nsec / 1000000), ext);
    return n < 0 || (size_t)n >= size ? -1 : 0;
}

int lirko_start_record(lirko_t *engine, const char *dir, char *out, size_t out_size)
{
    broadcast_t *b = record_of(engine);
    if (!b || !dir || !out || out_size == 0)
        return -1;
    cache_user *me = engine->cache ? engine->cache->myself : NULL;
    uint8_t encrypt_on = me ? me->encrypt_on : 0;
    struct timespec ts;
    struct tm tm;
    clock_gettime(CLOCK_REALTIME, &ts);
    localtime_r(&ts.tv_sec, &tm);
    char path[LIRKO_VOICE_FILE_PATH_MAX];
    // The longest extension decides whether the path fits, before anything
    // starts; the codec is known once the recording has started.
    if (file_path(path, sizeof(path), dir, &tm, &ts, ".sevrc") != 0 || strlen(path) >= out_size) {
        RLOG(b, HAL_LOG_ERROR, "win_start_record path too long");
        return -1;
    }
    int32_t prio = broadcast_priority(engine, 20000);
    if (!focus_manager_require_nowait(engine->focus, &b->file, prio, NULL)) {
        RLOG(b, HAL_LOG_ERROR, "win_start_record focus_manager_require_nowait == FALSE");
        return -1;
    }
    // A second start ends the first writer; its file is complete as it is.
    if (b->file.active)
        recorder_finish(b, 0);
    (void)hal_sound_stop_all(b->sound);
    int r = hal_sound_start_record(b->sound, 1);
    if (r != 0) {
        RLOG(b, HAL_LOG_ERROR, "win_start_record hal_sound_start_record result:%d", r);
        (void)focus_manager_release(engine->focus, &b->file);
        return -1;
    }
    uint32_t codec = hal_sound_expect_codec(b->sound);
    const char *ext = encrypt_on ? (codec == HAL_PT_EVRC ? ".sevrc" : ".samr")
                                 : (codec == HAL_PT_EVRC ? ".evrc" : ".amr");
    (void)file_path(path, sizeof(path), dir, &tm, &ts, ext);
    RLOG(b, HAL_LOG_INFO, "win_start_record creater %s file paytype %d",
         codec == HAL_PT_EVRC ? "evrc" : "amr", (int)codec);
    uint16_t header_pt = (uint16_t)(codec == HAL_PT_EVRC ? VOICE_FILE_PT_EVRC : VOICE_FILE_PT_AMR);
    RLOG(b, HAL_LOG_INFO, "win_start_record encrypt_on %d paytype %d", encrypt_on,
         encrypt_on ? header_pt : (int)codec);
    close_file(b);
    b->file.file = fopen(path, "wb+");
    RLOG(b, HAL_LOG_INFO, "win_start_record open file %s result:%d", path, b->file.file ? 0 : -1);
    if (!b->file.file) {
        (void)hal_sound_stop_record(b->sound);
        (void)focus_manager_release(engine->focus, &b->file);
        return -1;
    }
    b->file.encrypt_on = encrypt_on;
    b->file.codec = codec;
    lirko_copy_text(b->file.key, sizeof(b->file.key), me ? me->encrypt_key : "");
    voice_file_key(b->file.key, b->file.aes);
    uint32_t seconds = (uint32_t)hal_time_now();
    if (encrypt_on) {
        RLOG(b, HAL_LOG_INFO, "wirte encrpyt head");
        uint8_t header[VOICE_FILE_HEADER_SIZE];
        voice_file_header(header, seconds, me ? me->uid : 0,
                          sessionset_current_gid(engine->sessionset), header_pt);
        (void)fwrite(header, 1, sizeof(header), b->file.file);
        (void)fflush(b->file.file);
    }
    RLOG(b, HAL_LOG_INFO, "file_name %s timestamp %d", path, (int)seconds);
    lirko_copy_text(out, out_size, path);
    b->file.record_id = hal_sound_record_id(b->sound);
    b->file.active = 1;
    (void)hal_looper_set_timer(b->looper, on_writer_tick, 0.02, b);
    return 0;
}

int lirko_stop_record(lirko_t *engine, broadcast_stop_cb cb, void *arg)
{
    broadcast_t *b = record_of(engine);
    if (!b || broadcast_stop_waiters_add(&b->file.stop, cb, arg) != 0)
        return -1;
    (void)hal_looper_cancel_timer(b->looper, on_writer_tick, b);
    if (b->file.active && b->file.record_id && hal_sound_record_id(b->sound) == b->file.record_id &&
        hal_sound_async_stop_record(b->sound, on_recorder_stop, b) == HAL_SOUND_OK)
        return 0;
    recorder_finish(b, b->file.active);
    return 0;
}

// --- playback ----------------------------------------------------------------------------------

static void notify_stop_play(broadcast_t *b)
{
    if (!b->file_playing)
        return;
    b->file_playing = 0;
    lirko_event_post(b->engine, "stop_play_recordfile", 0, 0);
    (void)focus_manager_release(b->engine->focus, &b->play_frames);
}

static void on_play_drained(hal_sound *sound, int result, void *arg)
{
    (void)sound;
    (void)result;
    notify_stop_play((broadcast_t *)arg);
}

static void on_play_tick(hal_looper *looper, double now, void *arg)
{
    (void)now;
    broadcast_t *b = (broadcast_t *)arg;
    hal_sound_frame *f = b->play_frames ? (hal_sound_frame *)list_pop_front(b->play_frames) : NULL;
    if (f) {
        RLOG(b, HAL_LOG_VERBOSE, "lirko_winplay_recordfile_on_timer write_frame");
        (void)hal_sound_write_frame(b->sound, f);
        free(f);
        return;
    }
    (void)hal_looper_cancel_timer(looper, on_play_tick, b);
    free_frame_list(&b->play_frames);
    RLOG(b, HAL_LOG_INFO, "hal_looper_cancel_timer");
    (void)hal_sound_async_stop_play(b->sound, on_play_drained, b);
}

// Ends a playback at once; tells the application when one was running.
static void stop_playback(broadcast_t *b)
{
    (void)hal_looper_cancel_timer(b->looper, on_play_tick, b);
    free_frame_list(&b->play_frames);
    if (!b->file_playing)
        return;
    (void)hal_sound_stop_play(b->sound);
    notify_stop_play(b);
}

int lirko_record_play_audio(lirko_t *engine, const char *path)
{
    broadcast_t *b = record_of(engine);
    if (!b || !path)
        return -1;
    stop_playback(b);
    list *frames = NULL;
    int r = load_frames(b, path, "lirko_record_play_audio", &frames);
    if (r == 0 && list_count(frames) == 0)
        r = -1; // nothing to play
    if (r != 0) {
        free_frame_list(&frames);
        return r;
    }
    if (!focus_manager_require_nowait(engine->focus, &b->play_frames, 20000, NULL)) {
        RLOG(b, HAL_LOG_ERROR, "lirko_win_play_recordfile focus_manager_require_nowait == FALSE");
        free_frame_list(&frames);
        return -1;
    }
    (void)hal_sound_stop_all(b->sound);
    r = hal_sound_start_play(b->sound, 1);
    if (r != 0) {
        RLOG(b, HAL_LOG_ERROR, "lirko_win_play_recordfile hal_sound_start_play result:%d", r);
        free_frame_list(&frames);
        (void)focus_manager_release(engine->focus, &b->play_frames);
        return -1;
    }
    b->play_frames = frames;
    b->file_playing = 1;
    (void)hal_looper_set_timer(b->looper, on_play_tick, 0.02, b);
    return 0;
}

int lirko_record_stop_play_audio(lirko_t *engine)
{
    broadcast_t *b = record_of(engine);
    if (b)
        stop_playback(b);
    return 0;
}

int lirko_audio_coded_to_pcm(lirko_t *engine, const char *in_path, const char *out_path)
{
    broadcast_t *b = record_of(engine);
    if (!b || !in_path || !out_path)
        return -1;
    if (voice_file_codec_of_path(in_path) == 0)
        return -2;
    list *frames = NULL;
    int r = load_frames(b, in_path, "lirko_audio_coded_to_pcm", &frames);
    // A file that is cut short or holds nothing to decode gives no output
    // at all: a caller must never take part of a recording, or an empty
    // one, for the whole of it.
    if (r != 0 || list_count(frames) == 0) {
        free_frame_list(&frames);
        return r == -2 ? -2 : -1;
    }
    // Written under a name of its own and renamed into place only when
    // complete, so a failure leaves no output file behind.
    char tmp[PATH_MAX];
    static std::atomic<unsigned> counter{0};
    int n =
        snprintf(tmp, sizeof(tmp), "%s.%ld.%u.tmp", out_path, (long)getpid(), counter.fetch_add(1));
    FILE *out = n > 0 && (size_t)n < sizeof(tmp) ? fopen(tmp, "wbx") : NULL;
    if (!out) {
        RLOG(b, HAL_LOG_ERROR, "lirko_audio_coded_to_pcm cannot create %s", out_path);
        free_frame_list(&frames);
        return -1;
    }
    int decoded = voice_file_decode(frames, out, b->log);
    free_frame_list(&frames);
    bool ok = fclose(out) == 0 && decoded > 0;
    if (ok && rename(tmp, out_path) != 0) {
        RLOG(b, HAL_LOG_ERROR, "lirko_audio_coded_to_pcm cannot write %s", out_path);
        ok = false;
    }
    if (!ok)
        (void)unlink(tmp);
    return ok ? 0 : -1;
}

void lirko_voice_file_shutdown(broadcast_t *b)
{
    if (!b)
        return;
    (void)hal_looper_cancel_timer(b->looper, on_play_tick, b);
    free_frame_list(&b->play_frames);
    b->file_playing = 0;
    if (b->file.active || b->file.file)
        recorder_finish(b, 1);
    broadcast_stop_waiters_finish(&b->file.stop, -1);
}
