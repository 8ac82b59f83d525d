#include "broadcast.h"

#include "amr_frame.h"
#include "cache.h"
#include "etpacket.h"
#include "evrc_packet.h"
#include "focus_manager.h"
#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sound.h"
#include "hal_string.h"
#include "hal_time.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_voice_file.h"
#include "list.h"
#include "post_util.h"

#include <stdlib.h>
#include <string.h>

static const char *TAG = "broadcast";

#define BLOG(b, prio, ...) hal_log_output((b)->log, (prio), TAG, __VA_ARGS__)

// Longest text of a text broadcast, in UTF-8 bytes.
#define BROADCAST_TEXT_MAX 255
// Frames of one recorded-broadcast packet, and of one packet played.
#define BROADCAST_PACKET_FRAMES 10
#define BROADCAST_DEFAULT_PRIORITY 20000

// One frame on the stack: the header and room for the largest frame.
typedef struct frame_buf {
    alignas(hal_sound_frame) uint8_t raw[sizeof(hal_sound_frame) + 64];
} frame_buf;

static void on_feed_evrc(hal_looper *looper, double now, void *arg);
static void on_feed_amr(hal_looper *looper, double now, void *arg);
static void on_next_broadcast(hal_looper *looper, double now, void *arg);
static void on_record_tick(hal_looper *looper, double now, void *arg);
static void on_replay_tick(hal_looper *looper, double now, void *arg);
static int play_broadcast(broadcast_t *b, uint32_t id);

// --- stop waiters ------------------------------------------------------------------------

int broadcast_stop_waiters_add(broadcast_stop_waiters *w, broadcast_stop_cb cb, void *arg)
{
    if (!cb)
        return 0;
    if (w->count >= BROADCAST_STOP_WAITERS)
        return -1;
    w->w[w->count].cb = cb;
    w->w[w->count].arg = arg;
    w->count++;
    return 0;
}

void broadcast_stop_waiters_finish(broadcast_stop_waiters *w, int result)
{
    // Taken out first: a completion may add a new waiter.
    broadcast_stop_waiters now = *w;
    w->count = 0;
    for (uint32_t i = 0; i < now.count; i++)
        now.w[i].cb(now.w[i].arg, result);
}

int32_t broadcast_priority(lirko_t *engine, int32_t def)
{
    const char *v =
        engine && engine->ini ? hal_ini_find(engine->ini, "broadcast", "broadcastprior") : NULL;
    return v && v[0] ? (int32_t)atoi(v) : def;
}

static int playtts_on(broadcast_t *b)
{
    const char *v = hal_ini_find(b->engine->ini, "broadcast", "playtts");
    return v && v[0] ? atoi(v) != 0 : 1;
}

// --- events --------------------------------------------------------------------------------

static newsheet *find_newsheet(broadcast_t *b, uint32_t id)
{
    cache *c = b->engine->cache;
    for (list_node *n = c ? list_begin(c->newsheets) : NULL; n; n = list_next(n)) {
        newsheet *s = (newsheet *)list_data_get(n);
        if (s->id == id)
            return s;
    }
    return NULL;
}

static char *dup_text(const char *s)
{
    return s ? strdup(s) : NULL;
}

static void free_sheet_copy(hal_looper_event *event)
{
    newsheet *s = (newsheet *)event->data;
    if (!s)
        return;
    free(s->text);
    free(s->phone);
    free(s->mediadata);
    free(s->media_name);
    free(s);
}

// The application gets its own copy of the entry: the cache may drop the
// entry before the event is delivered.
static void post_have_broadcast(broadcast_t *b, const newsheet *s)
{
    newsheet *copy = (newsheet *)calloc(1, sizeof(*copy));
    if (copy) {
        *copy = *s;
        copy->text = dup_text(s->text);
        copy->phone = dup_text(s->phone);
        copy->media_name = dup_text(s->media_name);
        copy->mediadata = NULL;
        copy->mediadata_length = 0;
        if (s->mediadata && s->mediadata_length &&
            (copy->mediadata = (uint8_t *)malloc(s->mediadata_length)) != NULL) {
            memcpy(copy->mediadata, s->mediadata, s->mediadata_length);
            copy->mediadata_length = s->mediadata_length;
        }
    }
    lirko_event_post_data(b->engine, "have_broadcast", 0, 0, (intptr_t)copy, NULL, free_sheet_copy);
    lirko_event_post(b->engine, "broadcast_play_started", (int32_t)s->id, (int32_t)s->id);
}

// --- player ----------------------------------------------------------------------------------

static void drop_media(broadcast_t *b)
{
    free(b->media);
    b->media = NULL;
    b->media_pos = b->media_len = 0;
}

static void player_idle(broadcast_t *b)
{
    b->state = BROADCAST_IDLE;
    b->pending = 0;
    (void)focus_manager_release(b->engine->focus, b);
}

// One broadcast has ended: tell the application, then play the next one
// after a short gap or give the device back.
static void finish_one(broadcast_t *b)
{
    lirko_event_post(b->engine, "broadcast_play_finished", (int32_t)b->current_id,
                     (int32_t)b->current_id);
    b->current_id++;
    if (b->pending > 0)
        b->pending--;
    if (b->pending == 0) {
        player_idle(b);
        return;
    }
    (void)hal_looper_cancel_timer(b->looper, on_next_broadcast, b);
    (void)hal_looper_set_timer(b->looper, on_next_broadcast, 0.3, b);
}

static void on_next_broadcast(hal_looper *looper, double now, void *arg)
{
    (void)now;
    broadcast_t *b = (broadcast_t *)arg;
    (void)hal_looper_cancel_timer(looper, on_next_broadcast, b);
    if (b->pending != 0)
        (void)play_broadcast(b, b->current_id);
}

static void on_audio_finished(hal_sound *sound, int result, void *arg)
{
    broadcast_t *b = (broadcast_t *)arg;
    BLOG(b, HAL_LOG_INFO, "broadcast audio finished result:%d", result);
    if (b->state != BROADCAST_PLAYING)
        return;
    (void)hal_sound_beep(sound, 1175, 100);
    finish_one(b);
}

static void stop_feeder(broadcast_t *b, hal_looper_timer_fn feeder)
{
    drop_media(b);
    (void)hal_looper_cancel_timer(b->looper, feeder, b);
    (void)hal_sound_async_stop_play(b->sound, on_audio_finished, b);
}

// Length of the EVRC packet at p (RTP header included), from its frame
// count and rate codes; 0 when it cannot be read.
static size_t evrc_packet_extent(const uint8_t *p, size_t left)
{
    if (left <= 12)
        return 0;
    size_t header = 12 + 4 * (size_t)(p[0] & 0x0F);
    if (left <= header)
        return 0;
    const uint8_t *pl = p + header;
    size_t n = pl[0];
    size_t codes = (n + 3) / 4;
    if (n == 0 || left - header < 1 + codes)
        return 0;
    size_t len = header + 1 + codes;
    for (size_t i = 0; i < n; i++)
        len += evrc_code_size((uint32_t)(pl[1 + i / 4] >> (6 - 2 * (i % 4))) & 3u);
    return len < left ? len : left;
}

// Length of the AMR-NB packet at p: frame by frame until a frame boundary
// followed by the next packet's first bytes, an invalid frame type or the
// end. 0 when even the first frame is unreadable.
static size_t amr_packet_extent(const uint8_t *p, size_t left)
{
    size_t header = left > 0 ? 12 + 4 * (size_t)(p[0] & 0x0F) : 0;
    if (left <= header)
        return 0;
    size_t pos = header;
    while (pos < left) {
        if (pos > header && left - pos >= 2 && p[pos] == 0x80 && p[pos + 1] == 0x65)
            break;
        uint32_t n = amr_frame_size(p[pos]);
        if (n == 0 || n > left - pos)
            break;
        pos += n;
    }
    return pos;
}

static void feed(broadcast_t *b, uint32_t codec, hal_looper_timer_fn self)
{
    const char *who = codec == HAL_PT_EVRC ? "on_playevrc_timeout" : "on_playamr_timeout";
    if (!b->media || b->media_pos >= b->media_len) {
        BLOG(b, HAL_LOG_INFO, "%s stop broadcast pos==total:%d", who, (int)b->media_len);
        stop_feeder(b, self);
        return;
    }
    uint8_t *p = b->media + b->media_pos;
    size_t left = b->media_len - b->media_pos;
    size_t extent = codec == HAL_PT_EVRC ? evrc_packet_extent(p, left) : amr_packet_extent(p, left);
    BLOG(b, HAL_LOG_VERBOSE, "%s header:%x %x rtplen:%d", who, p[0], left > 1 ? p[1] : 0,
         (int)extent);
    rtp_header *h = NULL;
    uint8_t *payload = NULL;
    uint32_t plen =
        extent ? etpacket_unpack_rtp(NULL, p, (uint32_t)extent, &h, &payload) : ETPACKET_MALFORMED;
    if (plen == ETPACKET_MALFORMED || plen == 0) {
        BLOG(b, HAL_LOG_ERROR, "%s etpacket_unpack_rtp failed!", who);
        stop_feeder(b, self);
        return;
    }
    frame_buf fb;
    hal_sound_frame *f = (hal_sound_frame *)fb.raw;
    uint32_t written = 0;
    if (codec == HAL_PT_EVRC) {
        b->stream_len = evrc_packet_to_stream(payload, plen, b->stream);
        if (b->stream_len == 0) {
            BLOG(b, HAL_LOG_ERROR, "%s evrc_packet_to_stream failed!", who);
            stop_feeder(b, self);
            return;
        }
        for (uint32_t pos = 0; pos < b->stream_len && written < BROADCAST_PACKET_FRAMES;) {
            uint32_t n = evrc_stream_record_length(b->stream[pos]);
            if (n == 0 || n > b->stream_len - pos)
                break;
            f->pt = HAL_PT_EVRC;
            f->size = (uint16_t)(n - 2);
            memcpy(f->data, b->stream + pos + 2, n - 2);
            (void)hal_sound_write_frame(b->sound, f);
            written++;
            pos += n;
        }
    } else {
        for (uint32_t pos = 0; pos < plen && written < BROADCAST_PACKET_FRAMES;) {
            uint32_t n = amr_frame_size(payload[pos]);
            if (n == 0 || n > plen - pos) {
                BLOG(b, HAL_LOG_ERROR, "%s stop broadcast p+size > data", who);
                stop_feeder(b, self);
                return;
            }
            f->pt = HAL_PT_AMR;
            f->size = (uint16_t)n;
            memcpy(f->data, payload + pos, n);
            (void)hal_sound_write_frame(b->sound, f);
            written++;
            pos += n;
        }
    }
    b->media_pos += extent;
}

static void on_feed_evrc(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    (void)now;
    feed((broadcast_t *)arg, HAL_PT_EVRC, on_feed_evrc);
}

static void on_feed_amr(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    (void)now;
    feed((broadcast_t *)arg, HAL_PT_AMR, on_feed_amr);
}

// Starts feeding the entry's media; 1 when it plays, 0 when there is none
// to play, -1 on failure.
static int play_media(broadcast_t *b, const newsheet *s)
{
    (void)hal_sound_beep(b->sound, 1318, 60);
    if (!s->has_media || !s->mediadata || s->mediadata_length == 0)
        return 0;
    hal_looper_timer_fn feeder = s->mime == HAL_PT_AMR                    ? on_feed_amr
                                 : s->mime == HAL_PT_EVRC || s->mime == 2 ? on_feed_evrc
                                                                          : NULL;
    if (!feeder)
        return -1;
    int r = hal_sound_start_play(b->sound, 0);
    if (r != 0) {
        BLOG(b, HAL_LOG_ERROR, "hal_sound_start_play result:%d", r);
        return -1;
    }
    drop_media(b);
    b->media = (uint8_t *)malloc(s->mediadata_length);
    if (!b->media) {
        (void)hal_sound_stop_play(b->sound);
        return -1;
    }
    memcpy(b->media, s->mediadata, s->mediadata_length);
    b->media_len = s->mediadata_length;
    (void)hal_looper_cancel_timer(b->looper, on_feed_evrc, b);
    (void)hal_looper_cancel_timer(b->looper, on_feed_amr, b);
    (void)hal_looper_set_timer(b->looper, feeder, 0.2, b);
    return 1;
}

static int play_broadcast(broadcast_t *b, uint32_t id)
{
    b->state = BROADCAST_PLAYING;
    newsheet *s = find_newsheet(b, id);
    if (!s) {
        BLOG(b, HAL_LOG_ERROR, "broadcast lirko_get_broadcast fail,id = %d", (int)id);
        player_idle(b);
        return -1;
    }
    int tts = playtts_on(b) && s->text;
    (void)hal_sound_stop_all(b->sound);
    // The text is shown by the application; this platform speaks no text,
    // so a text part ends at once instead of holding the player for ever.
    post_have_broadcast(b, s);
    if (tts)
        BLOG(b, HAL_LOG_INFO, "broadcast %u text shown, no speech", id);
    int r = play_media(b, s);
    if (r < 0) {
        BLOG(b, HAL_LOG_ERROR, "broadcast play_audio fail!");
        player_idle(b);
        return -1;
    }
    if (r == 0)
        finish_one(b);
    return 0;
}

static void on_update(hal_looper *looper, hal_looper_event *event, void *arg,
                      hal_looper_processor *processor)
{
    (void)looper;
    (void)processor;
    broadcast_t *b = (broadcast_t *)arg;
    uint32_t first = (uint32_t)event->code, n = (uint32_t)event->value;
    if (n == 0)
        return;
    if (b->state != BROADCAST_IDLE) {
        b->pending += n;
        return;
    }
    b->current_id = first;
    b->pending = n;
    int32_t prio = broadcast_priority(b->engine, BROADCAST_DEFAULT_PRIORITY);
    if (prio == 0)
        prio = BROADCAST_DEFAULT_PRIORITY;
    b->state = BROADCAST_FOCUS_REQUESTED;
    if (!focus_manager_require_nowait(b->engine->focus, b, prio, NULL)) {
        BLOG(b, HAL_LOG_ERROR, "broadcast focus_manager_require_nowait fail!");
        b->pending = 0;
        b->state = BROADCAST_IDLE;
        return;
    }
    if (b->state == BROADCAST_MARKED)
        return; // broadcast_startplay follows once the session has stopped
    (void)play_broadcast(b, b->current_id);
}

static void on_startplay(hal_looper *looper, hal_looper_event *event, void *arg,
                         hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)processor;
    broadcast_t *b = (broadcast_t *)arg;
    if (b->state == BROADCAST_MARKED)
        (void)play_broadcast(b, b->current_id);
}

void broadcast_mark_by_session(broadcast_t *b)
{
    if (!b || b->state != BROADCAST_FOCUS_REQUESTED)
        return;
    b->state = BROADCAST_MARKED;
    lirko_event_post(b->engine, "broadcast_startplay", 0, 0);
}

int broadcast_start_play(broadcast_t *b, uint32_t id)
{
    if (!b)
        return -1;
    broadcast_stop(b);
    int32_t prio = broadcast_priority(b->engine, BROADCAST_DEFAULT_PRIORITY);
    if (!focus_manager_require_nowait(b->engine->focus, b, prio ? prio : BROADCAST_DEFAULT_PRIORITY,
                                      NULL)) {
        BLOG(b, HAL_LOG_ERROR, "broadcast focus_manager_require_nowait fail!");
        return -1;
    }
    b->current_id = id;
    b->pending = 1;
    return play_broadcast(b, id);
}

void broadcast_stop(broadcast_t *b)
{
    if (!b)
        return;
    (void)hal_looper_cancel_timer(b->looper, on_feed_evrc, b);
    (void)hal_looper_cancel_timer(b->looper, on_feed_amr, b);
    (void)hal_looper_cancel_timer(b->looper, on_next_broadcast, b);
    drop_media(b);
    uint32_t was = b->state;
    // Idle first: the drain hook the stop may call finds nothing to finish.
    player_idle(b);
    if (was == BROADCAST_PLAYING)
        (void)hal_sound_stop_play(b->sound);
}

uint32_t broadcast_pending_count(const broadcast_t *b)
{
    return b ? b->pending : 0;
}

// --- recorder ----------------------------------------------------------------------------------

static void free_recorded(broadcast_t *b)
{
    void *f;
    while ((f = list_pop_front(b->recorded)) != NULL)
        free(f);
    b->replay_cursor = NULL;
}

static void append_copy(broadcast_t *b, const hal_sound_frame *f)
{
    size_t bytes = sizeof(hal_sound_frame) + f->size;
    hal_sound_frame *copy = (hal_sound_frame *)malloc(bytes);
    if (!copy)
        return;
    memcpy(copy, f, bytes);
    if (list_push_back(b->recorded, copy) != 0)
        free(copy);
}

// The recorder and the replay are the author's one activity: they share a
// focus entry, so one may follow the other at once.
static void recorder_end(broadcast_t *b, int release)
{
    (void)hal_looper_cancel_timer(b->looper, on_record_tick, b);
    b->recording = 0;
    b->record_id = 0;
    if (release)
        (void)focus_manager_release(b->engine->focus, &b->recorded);
    broadcast_stop_waiters_finish(&b->record_stop, 0);
}

static void on_record_tick(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    (void)now;
    broadcast_t *b = (broadcast_t *)arg;
    if (hal_sound_record_id(b->sound) != b->record_id) {
        // Another user of the device replaced the recording: it has ended.
        BLOG(b, HAL_LOG_ERROR, "broadcast_win_ostream_read_frame find frame error !!!!!!");
        recorder_end(b, 1);
        return;
    }
    const hal_sound_frame *f;
    while ((f = hal_sound_read_frame(b->sound)) != NULL) {
        BLOG(b, HAL_LOG_VERBOSE, "broadcast_win_ostream_read_frame find frame");
        append_copy(b, f);
    }
}

static void on_recorder_stop(hal_sound *sound, int result, void *arg, hal_sound_frame **frames,
                             uint32_t count)
{
    (void)sound;
    broadcast_t *b = (broadcast_t *)arg;
    BLOG(b, HAL_LOG_INFO, "broadcast_on_recorder_stop count:%d result:%d", (int)count, result);
    for (uint32_t i = 0; i < count; i++)
        append_copy(b, frames[i]);
    recorder_end(b, 1);
}

static void replay_end(broadcast_t *b, int call_back, int release);

int lirko_broadcast_start_record(lirko_t *engine)
{
    broadcast_t *b = engine ? engine->broadcast : NULL;
    if (!b)
        return -1;
    int32_t prio = broadcast_priority(engine, BROADCAST_DEFAULT_PRIORITY);
    if (!focus_manager_require_nowait(engine->focus, &b->recorded, prio, NULL)) {
        BLOG(b, HAL_LOG_ERROR, "win_broadcast_start_record focus_manager_require_nowait == FALSE");
        return -1;
    }
    // The list about to be emptied must not be walked by a replay.
    if (b->replaying)
        replay_end(b, 1, 0);
    if (b->recording)
        recorder_end(b, 0);
    (void)hal_sound_stop_all(b->sound);
    free_recorded(b);
    int r = hal_sound_start_record(b->sound, 1);
    if (r != 0) {
        BLOG(b, HAL_LOG_ERROR, "win_broadcast_start_record hal_sound_start_record result:%d", r);
        (void)focus_manager_release(engine->focus, &b->recorded);
        return -1;
    }
    b->record_id = hal_sound_record_id(b->sound);
    b->recording = 1;
    (void)hal_looper_set_timer(b->looper, on_record_tick, 0.02, b);
    return 0;
}

int lirko_broadcast_stop_record(lirko_t *engine, broadcast_stop_cb cb, void *arg)
{
    broadcast_t *b = engine ? engine->broadcast : NULL;
    if (!b || broadcast_stop_waiters_add(&b->record_stop, cb, arg) != 0)
        return -1;
    (void)hal_looper_cancel_timer(b->looper, on_record_tick, b);
    if (b->recording && b->record_id && hal_sound_record_id(b->sound) == b->record_id) {
        if (hal_sound_async_stop_record(b->sound, on_recorder_stop, b) == HAL_SOUND_OK)
            return 0;
    }
    recorder_end(b, 1);
    return 0;
}

// --- replay ------------------------------------------------------------------------------------

static void replay_end(broadcast_t *b, int call_back, int release)
{
    (void)hal_looper_cancel_timer(b->looper, on_replay_tick, b);
    lirko_play_stop_cb cb = b->replay_stop;
    b->replay_stop = NULL;
    b->replaying = 0;
    b->replay_cursor = NULL;
    if (release)
        (void)focus_manager_release(b->engine->focus, &b->recorded);
    if (call_back && cb)
        cb();
}

static void on_replay_drained(hal_sound *sound, int result, void *arg)
{
    (void)sound;
    (void)result;
    broadcast_t *b = (broadcast_t *)arg;
    if (b->replaying)
        replay_end(b, 1, 1);
}

static void on_replay_tick(hal_looper *looper, double now, void *arg)
{
    (void)now;
    broadcast_t *b = (broadcast_t *)arg;
    if (b->replay_cursor) {
        (void)hal_sound_write_frame(b->sound, (hal_sound_frame *)list_data_get(b->replay_cursor));
        b->replay_cursor = list_next(b->replay_cursor);
    }
    if (!b->replay_cursor) {
        (void)hal_looper_cancel_timer(looper, on_replay_tick, b);
        (void)hal_sound_async_stop_play(b->sound, on_replay_drained, b);
    }
}

int lirko_broadcast_play_recordaudio(lirko_t *engine, lirko_play_stop_cb on_stop)
{
    broadcast_t *b = engine ? engine->broadcast : NULL;
    if (!b)
        return -1;
    if (b->replaying)
        return 0;
    if (b->recording || list_count(b->recorded) == 0)
        return -1;
    int32_t prio = broadcast_priority(engine, BROADCAST_DEFAULT_PRIORITY);
    if (!focus_manager_require_nowait(engine->focus, &b->recorded, prio, NULL)) {
        BLOG(b, HAL_LOG_ERROR,
             "win_broadcast_play_recordaudio focus_manager_require_nowait == FALSE");
        return -1;
    }
    (void)hal_sound_stop_all(b->sound);
    int r = hal_sound_start_play(b->sound, 1);
    if (r != 0) {
        BLOG(b, HAL_LOG_ERROR, "win_broadcast_play_recordaudio hal_sound_start_play result:%d", r);
        (void)focus_manager_release(engine->focus, &b->recorded);
        return -1;
    }
    b->replaying = 1;
    b->replay_stop = on_stop;
    b->replay_cursor = list_begin(b->recorded);
    (void)hal_looper_set_timer(b->looper, on_replay_tick, 0.02, b);
    return 0;
}

// --- sending -----------------------------------------------------------------------------------

static void put_rtp_header(uint8_t *p, uint32_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc)
{
    p[0] = 0x80;
    p[1] = (uint8_t)(pt & 0x7F);
    p[2] = (uint8_t)(seq >> 8);
    p[3] = (uint8_t)seq;
    p[4] = (uint8_t)(ts >> 24);
    p[5] = (uint8_t)(ts >> 16);
    p[6] = (uint8_t)(ts >> 8);
    p[7] = (uint8_t)ts;
    p[8] = (uint8_t)(ssrc >> 24);
    p[9] = (uint8_t)(ssrc >> 16);
    p[10] = (uint8_t)(ssrc >> 8);
    p[11] = (uint8_t)ssrc;
}

// The recording as broadcast media: packets of up to 10 frames. 0 with
// *out (malloc'd) and *len, or -1.
static int build_media(broadcast_t *b, uint32_t codec, uint8_t **out, size_t *len)
{
    size_t frames = (size_t)list_count(b->recorded);
    // Worst case per packet: header, count, codes and ten largest frames.
    size_t cap = (frames / BROADCAST_PACKET_FRAMES + 1) * (12 + 1 + 3 + 10 * 64);
    uint8_t *media = (uint8_t *)malloc(cap);
    if (!media)
        return -1;
    uint32_t now = (uint32_t)hal_time_now();
    uint16_t seq = (uint16_t)(now % 256 + 400);
    uint32_t ts = now % 65536;
    cache_user *me = b->engine->cache ? b->engine->cache->myself : NULL;
    uint32_t ssrc = me ? me->uid : 0;
    size_t pos = 0;
    list_node *n = list_begin(b->recorded);
    while (n) {
        uint8_t *pkt = media + pos;
        put_rtp_header(pkt, codec, seq, ts, ssrc);
        size_t body = 12;
        list_node *m = n;
        uint32_t count = 0;
        while (m && count < BROADCAST_PACKET_FRAMES) {
            m = list_next(m);
            count++;
        }
        if (codec == HAL_PT_EVRC) {
            evrc_packet_writer w;
            if (!evrc_packet_writer_init(&w, pkt + 12, EVRC_PACKET_CAPACITY, count)) {
                free(media);
                return -1;
            }
            for (uint32_t i = 0; i < count; i++, n = list_next(n)) {
                const hal_sound_frame *f = (const hal_sound_frame *)list_data_get(n);
                int code = evrc_size_to_rate(f->size);
                if (code < 0 || !evrc_packet_add_frame(&w, (uint32_t)code, f->data)) {
                    BLOG(b, HAL_LOG_ERROR,
                         "win_broadcast_send_recordaudio "
                         "evrc8k_packet_append_frame_raw == 0 should be 1");
                    free(media);
                    return -1;
                }
            }
            body += w.length;
        } else {
            for (uint32_t i = 0; i < count; i++, n = list_next(n)) {
                const hal_sound_frame *f = (const hal_sound_frame *)list_data_get(n);
                uint32_t size = f->size < 64 ? f->size : 64;
                memcpy(pkt + body, f->data, size);
                body += size;
            }
        }
        pos += body;
        seq++;
        ts += 1600;
    }
    *out = media;
    *len = pos;
    return 0;
}

int lirko_broadcast_send_recordaudio(lirko_t *engine, const uint32_t *uids, uint32_t count)
{
    broadcast_t *b = engine ? engine->broadcast : NULL;
    if (!b || !uids || count == 0 || b->replaying || b->recording || list_count(b->recorded) == 0)
        return -1;
    // The media is announced with the record codec: frames of another codec
    // (the setting changed since) are not sent under its name.
    uint32_t codec = lirko_voice_payload_type(engine);
    for (list_node *n = list_begin(b->recorded); n; n = list_next(n)) {
        if (((const hal_sound_frame *)list_data_get(n))->pt != codec) {
            BLOG(b, HAL_LOG_ERROR, "win_broadcast_send_recordaudio codec %u mismatch", codec);
            return -1;
        }
    }
    uint8_t *media = NULL;
    size_t len = 0;
    if (build_media(b, codec, &media, &len) != 0)
        return -1;
    int r = post_util_postworksheet(engine, NULL, NULL, media, (uint32_t)len, uids, count);
    free(media);
    BLOG(b, HAL_LOG_INFO, "win_broadcast_send_recordaudio bytes %d result %d", (int)len, r);
    // Kept when the send failed (offline): the author can send it again.
    if (r == 0)
        free_recorded(b);
    return r;
}

int lirko_broadcast_send_text(lirko_t *engine, const char *text, const uint32_t *uids,
                              uint32_t count)
{
    if (!engine || !text || !uids || count == 0)
        return -1;
    int need = GBKToUTF8(text, NULL, 0);
    if (need <= 0)
        return -1;
    char *utf8 = (char *)malloc((size_t)need);
    if (!utf8)
        return -1;
    if (GBKToUTF8(text, utf8, need) <= 0) {
        free(utf8);
        return -1;
    }
    size_t len = strlen(utf8);
    if (len > BROADCAST_TEXT_MAX) {
        // Cut before a character that would not fit whole.
        len = BROADCAST_TEXT_MAX;
        while (len > 0 && ((uint8_t)utf8[len] & 0xC0) == 0x80)
            len--;
        utf8[len] = '\0';
    }
    int r = post_util_postworksheet(engine, NULL, utf8, NULL, 0, uids, count);
    free(utf8);
    return r;
}

// --- record ------------------------------------------------------------------------------------

broadcast_t *broadcast_new(lirko_t *engine)
{
    broadcast_t *b = (broadcast_t *)calloc(1, sizeof(*b));
    if (!b)
        return NULL;
    b->engine = engine;
    b->log = engine->log;
    b->looper = engine->looper;
    b->sound = hal_ctx_get_sound(engine->ctx);
    b->recorded = list_new();
    if (!b->recorded) {
        free(b);
        return NULL;
    }
    if (lirko_event_subscribe(engine, "broadcast_update", on_update, b) != 0) {
        list_del(b->recorded);
        free(b);
        return NULL;
    }
    if (lirko_event_subscribe(engine, "broadcast_startplay", on_startplay, b) != 0) {
        lirko_event_unsubscribe(engine, "broadcast_update", on_update, b);
        list_del(b->recorded);
        free(b);
        return NULL;
    }
    return b;
}

void broadcast_destroy(broadcast_t **pb)
{
    if (!pb || !*pb)
        return;
    broadcast_t *b = *pb;
    lirko_event_unsubscribe(b->engine, "broadcast_startplay", on_startplay, b);
    lirko_event_unsubscribe(b->engine, "broadcast_update", on_update, b);
    // Nothing of the device may call back into this record once it is gone:
    // end what runs while the record still exists.
    b->state = BROADCAST_IDLE;
    b->pending = 0;
    lirko_voice_file_shutdown(b);
    if (b->replaying)
        replay_end(b, 0, 1);
    if (b->recording)
        recorder_end(b, 1);
    hal_looper *lp = b->looper;
    (void)hal_looper_cancel_timer(lp, on_feed_evrc, b);
    (void)hal_looper_cancel_timer(lp, on_feed_amr, b);
    (void)hal_looper_cancel_timer(lp, on_next_broadcast, b);
    (void)hal_looper_cancel_timer(lp, on_record_tick, b);
    (void)hal_looper_cancel_timer(lp, on_replay_tick, b);
    // Drain hooks still held by the sound queue run now (and find nothing
    // to do), not later against freed memory.
    (void)hal_sound_stop_all(b->sound);
    broadcast_stop_waiters_finish(&b->record_stop, -1);
    drop_media(b);
    free_recorded(b);
    list_del(b->recorded);
    free(b);
    *pb = NULL;
}
