#include "hal_dsp.h"

#include "amr_frame.h"
#include "dsp_resampler.h"
#include "evrc_frame.h"
#include "evrc_packet.h"
#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_time.h"
#include "ringbuffer.h"
#include "rtc_aec.h"
#include "wave.h"

#include <atomic>
#include <new>
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>
#include <pthread.h>
#include <speex/speex_preprocess.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace
{

const char *k_tag = "dsp";
const uint32_t k_rate = 8000;
const uint32_t k_frame = 160;
const uint32_t k_buffers = 5;
const uint32_t k_record_ring = 32768;
const uint32_t k_play_ring = 2048;
// Default probation when nothing is configured: 140 ms.
const uint32_t k_default_probation = 1120;
// Longest probation taken from the settings (10 s).
const int32_t k_max_probation_ms = 10000;
// While every play buffer is with the device the looper waits in 5 ms steps;
// a device that keeps them all for this long has failed.
const int k_play_wait_steps = 100;
// A record drain ends with the next capture buffer, due within 20 ms; a
// device that gives nothing back is given up after this long.
const double k_record_drain_timeout = 0.5;
const double k_drain_tick = 0.02;

struct dsp_profile {
    uint32_t out_rate;
    uint32_t out_frames_per_buffer;
    uint32_t in_rate;
    uint32_t in_frames_per_buffer;
    uint32_t out_buffer_frames;
    uint32_t in_buffer_frames;
};

struct dsp_agc {
    uint32_t enable;
    float level;
};

// A frame buffer of the device layer: header and room for the largest frame.
struct dsp_frame {
    uint16_t pt;
    uint16_t size;
    uint8_t data[HAL_DSP_FRAME_DATA];
};

} // namespace

struct hal_dsp {
    hal_ctx *ctx;
    hal_log *log;
    hal_looper *looper;
    hal_ini *ini;
    uint8_t feature_low_latency;
    dsp_profile pprofile;
    dsp_agc play_agc_conf;
    dsp_profile rprofile;
    dsp_agc record_agc_conf;
    // Written on the looper, read by the capture thread.
    std::atomic<int> state;
    uint32_t record_codec;
    uint32_t play_codec;
    uint32_t quality;
    uint32_t probation;
    int input_device;
    wave_dev *in;
    wave_dev *out;
    hal_dsp_play_end_fn play_hook;
    void *play_arg;
    hal_dsp_record_end_fn record_hook;
    void *record_arg;
    dsp_resampler *fifo;
    SpeexPreprocessState *record_agc;
    SpeexPreprocessState *play_agc;
    void *amr_enc;
    evrc_encoder *evrc_enc;
    void *amr_dec;
    evrc_decoder *evrc_dec;
    // Echo canceller of this device, shared by the two sides (see rtc_aec.h).
    void *aec;
    ringbuffer *record_ring;
    ringbuffer *play_ring;
    uint32_t record_handed;
    uint32_t record_captured;
    uint32_t record_overflow;
    uint32_t play_played;
    uint32_t play_written;
    uint32_t play_underflow;
    uint32_t record_idx;
    uint32_t play_idx;
    wave_hdr record_hdr[k_buffers];
    wave_hdr play_hdr[k_buffers];
    int16_t record_pcm[k_buffers][k_frame];
    int16_t play_pcm[k_buffers][k_frame];
    int16_t accum[2 * k_frame];
    uint32_t accum_n;
    int16_t decoded[2 * k_frame];
    double record_first;
    double record_end;
    double play_first;
    double play_end;
    // Play buffers not with the device; guarded by play_lock.
    uint32_t play_free;
    // The output failed (write refused for good, or buffers never returned).
    uint8_t play_failed;
    uint8_t play_atend_posted;
    uint8_t record_drain_armed;
    pthread_mutex_t play_lock;
    pthread_mutex_t record_lock;
    dsp_frame record_frame;
    dsp_frame play_frame;
    dsp_frame read_frame;
    FILE *dump_record;
    FILE *dump_play;
    FILE *dump_play_wave;
};

#define DSP_LOG(d, prio, ...) hal_log_output((d)->log, (prio), k_tag, __VA_ARGS__)

namespace
{

int ini_int(hal_dsp *d, const char *section, const char *key, int def, int *found)
{
    const char *v = d->ini ? hal_ini_find(d->ini, section, key) : NULL;
    if (found)
        *found = v != NULL;
    return v ? atoi(v) : def;
}

void load_config(hal_dsp *d)
{
    d->feature_low_latency = 0;
    d->pprofile = {k_rate, k_frame, k_rate, k_frame, k_frame, k_frame};
    d->rprofile = {k_rate, k_frame, k_rate, k_frame, k_frame, k_frame};
    d->play_agc_conf.enable = ini_int(d, "play", "agc_enable", 1, NULL) != 0;
    if (d->play_agc_conf.enable)
        d->play_agc_conf.level = (float)ini_int(d, "play", "agc_level", 16000, NULL);
    d->record_agc_conf.enable = ini_int(d, "record", "agc_enable", 1, NULL) != 0;
    if (d->record_agc_conf.enable)
        d->record_agc_conf.level = (float)ini_int(d, "record", "agc_level", 16000, NULL);
    DSP_LOG(d, HAL_LOG_INFO, "feature_low_latency %s", d->feature_low_latency ? "true" : "false");
    DSP_LOG(d, HAL_LOG_INFO, "[input] sample_rate=%u,frames_per_buffer=%u,buffer_frames=%u",
            d->pprofile.in_rate, d->pprofile.in_frames_per_buffer, d->pprofile.in_buffer_frames);
    DSP_LOG(d, HAL_LOG_INFO, "[output] sample_rate=%u,frames_per_buffer=%u,buffer_frames=%u",
            d->pprofile.out_rate, d->pprofile.out_frames_per_buffer, d->pprofile.out_buffer_frames);
}

SpeexPreprocessState *agc_new(const dsp_agc &conf)
{
    if (!conf.enable)
        return NULL;
    SpeexPreprocessState *st = speex_preprocess_state_init((int)k_frame, (int)k_rate);
    if (!st)
        return NULL;
    int on = 1;
    float level = conf.level;
    if (level < 1.0f)
        level = 1.0f;
    if (level > 32768.0f)
        level = 32768.0f;
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_AGC, &on);
    speex_preprocess_ctl(st, SPEEX_PREPROCESS_SET_AGC_LEVEL, &level);
    return st;
}

void agc_destroy(SpeexPreprocessState **st)
{
    if (*st)
        speex_preprocess_state_destroy(*st);
    *st = NULL;
}

void dump_open(FILE **fp, const char *name)
{
    if (!*fp)
        *fp = fopen(name, "wb+");
}

void dump_close(FILE **fp)
{
    if (*fp)
        fclose(*fp);
    *fp = NULL;
}

uint32_t elapsed_ms(double first, double end)
{
    return first > 0 && end > first ? (uint32_t)((end - first) * 1000.0) : 0;
}

void post(hal_dsp *d, const char *name)
{
    hal_looper_event ev;
    memset(&ev, 0, sizeof(ev));
    ev.name = (char *)name;
    hal_looper_post_event(d->looper, &ev, NULL);
}

// Largest data size a decoder of this payload type takes.
uint32_t codec_max(uint32_t pt)
{
    return pt == HAL_PT_AMR ? AMR_FRAME_MAX : pt == HAL_PT_EVRC ? EVRC_FRAME_MAX : 0;
}

// ---- Play side (looper) --------------------------------------------------

void play_callback(wave_dev *, uint32_t msg, void *instance, wave_hdr *)
{
    hal_dsp *d = (hal_dsp *)instance;
    if (msg == WAVE_MSG_OPEN) {
        DSP_LOG(d, HAL_LOG_DEBUG, "%s uMsg:WOM_OPEN", "hal_dsp_play_callback");
    } else if (msg == WAVE_MSG_CLOSE) {
        DSP_LOG(d, HAL_LOG_DEBUG, "%s uMsg:WOM_CLOSE", "hal_dsp_play_callback");
    } else if (msg == WAVE_MSG_DONE) {
        pthread_mutex_lock(&d->play_lock);
        d->play_free++;
        pthread_mutex_unlock(&d->play_lock);
        DSP_LOG(d, HAL_LOG_FRAME, "%s uMsg:WOM_DONE OK time:%f", "hal_dsp_play_callback",
                hal_time_now());
    }
}

uint32_t play_free(hal_dsp *d)
{
    pthread_mutex_lock(&d->play_lock);
    uint32_t n = d->play_free;
    pthread_mutex_unlock(&d->play_lock);
    return n;
}

bool decode_frame(hal_dsp *d)
{
    dsp_frame *f = &d->play_frame;
    if (!d->play_ring || ringbuffer_read(d->play_ring, f, 4) != 4)
        return false;
    if (f->size > sizeof(f->data)) {
        // Never written so (hal_dsp_write refuses it); skip rather than trust.
        uint8_t skip[64];
        for (uint32_t left = f->size; left > 0;) {
            uint32_t n = left < sizeof(skip) ? left : sizeof(skip);
            if (ringbuffer_read(d->play_ring, skip, n) != n)
                break;
            left -= n;
        }
        return false;
    }
    if (f->size && ringbuffer_read(d->play_ring, f->data, f->size) != f->size)
        return false;
    int16_t *pcm = d->decoded;
    if (d->play_codec == HAL_PT_EVRC) {
        if (!d->evrc_dec || evrc_decode_frame(d->evrc_dec, f->data, f->size, pcm) != 160) {
            DSP_LOG(d, HAL_LOG_ERROR, "Decode evrc fail");
            return false;
        }
    } else if (d->play_codec == HAL_PT_AMR) {
        // Without a decoder (its creation failed) the frame is skipped.
        if (!d->amr_dec)
            return false;
        Decoder_Interface_Decode(d->amr_dec, f->data, pcm, 0);
    } else {
        return false;
    }
    (void)rtc_aec_playback(d->ctx, &d->aec, pcm);
    if (d->play_agc)
        speex_preprocess_run(d->play_agc, pcm);
    if (d->dump_play) {
        fwrite(pcm, sizeof(int16_t), k_frame, d->dump_play);
        fflush(d->dump_play);
    }
    DSP_LOG(d, HAL_LOG_FRAME, "hal_dsp_decode_frame write to pcm,size:%d",
            (int)(k_frame * sizeof(int16_t)));
    (void)dsp_resampler_write(d->fifo, pcm, k_frame);
    return true;
}

uint32_t read_pcm(hal_dsp *d, int16_t *out)
{
    uint32_t n = dsp_resampler_read(d->fifo, out, k_frame);
    while (n < k_frame && decode_frame(d))
        n += dsp_resampler_read(d->fifo, out + n, k_frame - n);
    return n;
}

bool play_enque(hal_dsp *d, bool force)
{
    DSP_LOG(d, HAL_LOG_FRAME, "hal_dsp_play_enque :waveOutWrite start@0");
    if (!d->out || d->play_failed)
        return false;
    wave_hdr *h = &d->play_hdr[d->play_idx];
    if (wave_unprepare(d->out, h) != 0)
        return false; // still with the device
    int16_t *pcm = d->play_pcm[d->play_idx];
    if (d->play_played > 0) {
        DSP_LOG(d, HAL_LOG_FRAME, "hal_dsp_play_enque :waveOutWrite start@3-1");
        uint32_t n = read_pcm(d, pcm);
        if (n < k_frame) {
            if (!force)
                return false;
            memset(pcm + n, 0, (k_frame - n) * sizeof(int16_t));
            d->play_underflow += k_frame - n;
        }
        d->play_played += n;
    } else {
        if (!force)
            return false;
        DSP_LOG(d, HAL_LOG_FRAME, "hal_dsp_play_enque :waveOutWrite start@1");
        uint32_t n = 0;
        if (dsp_resampler_waiting(d->fifo) > 0 && ringbuffer_count(d->play_ring) > 0) {
            DSP_LOG(d, HAL_LOG_FRAME, "hal_dsp_play_enque :waveOutWrite start@2");
            n = read_pcm(d, pcm);
            d->play_played += n;
            d->play_first = hal_time_now();
            DSP_LOG(d, HAL_LOG_DEBUG, "first play enque");
        } else if (dsp_resampler_waiting(d->fifo) == 0) {
            (void)decode_frame(d);
        }
        memset(pcm + n, 0, (k_frame - n) * sizeof(int16_t));
    }
    h->flags = 0;
    h->data = pcm;
    h->size = k_frame * sizeof(int16_t);
    if (wave_prepare(d->out, h) != 0)
        return false;
    int rc = wave_write(d->out, h);
    if (rc != 0) {
        // Not queued, so not counted: the drain still sees every buffer back.
        DSP_LOG(d, HAL_LOG_ERROR, "hal_dsp_play_enque waveOutWrite failed %d", rc);
        if (rc == WAVE_EFAILED)
            d->play_failed = 1;
        return false;
    }
    pthread_mutex_lock(&d->play_lock);
    d->play_free--;
    pthread_mutex_unlock(&d->play_lock);
    // Wait, without the play lock (the device callback needs it), until the
    // device hands a buffer back; a device that never does has failed.
    int steps = 0;
    while (play_free(d) == 0) {
        if (steps == 0)
            DSP_LOG(d, HAL_LOG_VERBOSE, "waveFreeBlockCount ======================0");
        if (++steps > k_play_wait_steps) {
            DSP_LOG(d, HAL_LOG_ERROR, "play device keeps every buffer, giving up");
            d->play_failed = 1;
            break;
        }
        struct timespec ts = {0, 5 * 1000 * 1000};
        nanosleep(&ts, NULL);
    }
    DSP_LOG(d, HAL_LOG_FRAME, "hal_dsp_play_enque :waveOutWrite play_queue_idx:%d , time:%f",
            (int)d->play_idx, hal_time_now());
    d->play_idx = (d->play_idx + 1) % k_buffers;
    return true;
}

void drain_play_on_timer(hal_looper *looper, double now, void *arg)
{
    (void)now;
    hal_dsp *d = (hal_dsp *)arg;
    if (d->state.load() != HAL_DSP_SHUTDOWN_PLAYING) {
        (void)hal_looper_cancel_timer(looper, drain_play_on_timer, d);
        return;
    }
    if (d->play_atend_posted || play_enque(d, false))
        return;
    if (play_free(d) == k_buffers || d->play_failed) {
        DSP_LOG(d, HAL_LOG_DEBUG, "%s head at end", "dsp_async_stop_play_on_timer");
        post(d, "dsp.play.atend");
        // The timer stays until the end event has stopped the play path (which
        // cancels it): its next tick also wakes a looper that would otherwise
        // sleep with the event still queued.
        d->play_atend_posted = 1;
    }
}

// ---- Record side -----------------------------------------------------------

int record_enqueue(hal_dsp *d, wave_dev *dev)
{
    wave_hdr *h = &d->record_hdr[d->record_idx];
    h->flags = 0;
    h->data = d->record_pcm[d->record_idx];
    h->size = k_frame * sizeof(int16_t);
    if (wave_prepare(dev, h) != 0) {
        DSP_LOG(d, HAL_LOG_ERROR, "record Enqueue error");
        return -1;
    }
    if (wave_add_buffer(dev, h) != 0) {
        DSP_LOG(d, HAL_LOG_ERROR, "record Enqueue waveInAddBuffer error");
        return -1;
    }
    d->record_handed += k_frame;
    d->record_idx = (d->record_idx + 1) % k_buffers;
    return 0;
}

// Capture thread: one frame from the accumulation buffer to the record ring.
void process_record(hal_dsp *d)
{
    int16_t frame[k_frame];
    // Without a canceller (or when it fails) the frame is the near end as is.
    (void)rtc_aec_process(d->ctx, &d->aec, d->accum, frame);
    dsp_frame *f = &d->record_frame;
    int size = -1;
    if (d->record_codec == HAL_PT_EVRC && d->evrc_enc) {
        f->pt = HAL_PT_EVRC;
        int rate = evrc_encode_frame(d->evrc_enc, frame, f->data);
        size = rate == 1 ? 2 : rate == 3 ? 10 : rate == 4 ? 22 : -1;
    } else if (d->record_codec == HAL_PT_AMR && d->amr_enc) {
        f->pt = HAL_PT_AMR;
        size = Encoder_Interface_Encode(d->amr_enc, (enum Mode)d->quality, frame, f->data, 0);
    }
    if (size > 0 && size <= (int)sizeof(f->data)) {
        f->size = (uint16_t)size;
        pthread_mutex_lock(&d->record_lock);
        uint32_t w = ringbuffer_write(d->record_ring, f, 4 + (uint32_t)size);
        pthread_mutex_unlock(&d->record_lock);
        if (w == 0) {
            d->record_overflow++;
            DSP_LOG(d, HAL_LOG_ERROR, "record overflow!");
        }
    }
    d->accum_n -= k_frame;
    memmove(d->accum, d->accum + k_frame, d->accum_n * sizeof(int16_t));
}

void record_callback(wave_dev *dev, uint32_t msg, void *instance, wave_hdr *h)
{
    hal_dsp *d = (hal_dsp *)instance;
    if (msg == WAVE_MSG_OPEN) {
        DSP_LOG(d, HAL_LOG_ERROR, "hal_dsp_record_callback wim_open ok");
        return;
    }
    if (msg == WAVE_MSG_CLOSE) {
        DSP_LOG(d, HAL_LOG_ERROR, "hal_dsp_record_callback wim_close ok");
        return;
    }
    if (msg != WAVE_MSG_DATA)
        return;
    DSP_LOG(d, HAL_LOG_FRAME, "hal_dsp_record_callback wim_data ok,recorded size:%d",
            (int)h->recorded);
    uint32_t n = h->recorded / 2;
    if (n > k_frame)
        n = k_frame;
    uint32_t skip = 0;
    if (d->probation < n) {
        skip = d->probation;
        n -= d->probation;
        d->probation = 0;
    } else {
        d->probation -= n;
        n = 0;
    }
    if (n > 0) {
        int16_t *kept = h->data + skip;
        if (d->dump_record) {
            fwrite(kept, sizeof(int16_t), n, d->dump_record);
            fflush(d->dump_record);
        }
        if (d->record_agc && h->recorded / 2 >= k_frame)
            speex_preprocess_run(d->record_agc, h->data);
        if (d->record_captured == 0) {
            d->record_first = hal_time_now();
            DSP_LOG(d, HAL_LOG_DEBUG, "first record dequed");
        }
        d->record_captured += n;
        memcpy(d->accum + d->accum_n, kept, n * sizeof(int16_t));
        d->accum_n += n;
        if (d->accum_n >= k_frame)
            process_record(d);
    }
    int state = d->state.load();
    if (state == HAL_DSP_RECORDING || state == HAL_DSP_FULL_DUPLEX) {
        (void)record_enqueue(d, dev);
    } else if (state == HAL_DSP_SHUTDOWN_RECORDING) {
        d->record_end = hal_time_now();
        DSP_LOG(d, HAL_LOG_INFO, "record %u samples(overflow %u) in %u ms", d->record_captured,
                d->record_overflow, elapsed_ms(d->record_first, d->record_end));
        post(d, "dsp.record.atend");
    }
}

void free_frames(hal_dsp *d, hal_sound_frame **frames, uint32_t count)
{
    DSP_LOG(d, HAL_LOG_DEBUG, "frames @1 count %d", (int)count);
    for (uint32_t i = 0; i < count; i++) {
        DSP_LOG(d, HAL_LOG_VERBOSE, "frames @1 %d", (int)i);
        free(frames[i]);
    }
    DSP_LOG(d, HAL_LOG_DEBUG, "frames @2");
    free(frames);
}

// Ends a drained (or given-up) recording: the hook gets what the ring still
// holds.
void finish_record(hal_dsp *d, int result)
{
    d->record_drain_armed = 0;
    hal_dsp_record_end_fn hook = d->record_hook;
    void *arg = d->record_arg;
    hal_sound_frame **frames = NULL;
    uint32_t count = 0;
    if (hook && d->record_ring) {
        pthread_mutex_lock(&d->record_lock);
        uint32_t cap = ringbuffer_count(d->record_ring) / 4;
        frames = cap ? (hal_sound_frame **)calloc(cap, sizeof(*frames)) : NULL;
        dsp_frame f;
        while (frames && count < cap && ringbuffer_read(d->record_ring, &f, 4) == 4) {
            if (f.size > sizeof(f.data) ||
                (f.size && ringbuffer_read(d->record_ring, f.data, f.size) != f.size))
                break;
            hal_sound_frame *c = (hal_sound_frame *)malloc(4 + (size_t)f.size);
            if (!c)
                break;
            memcpy(c, &f, 4 + (size_t)f.size);
            frames[count++] = c;
        }
        pthread_mutex_unlock(&d->record_lock);
    }
    hal_dsp_shutdown_record(d);
    if (hook)
        hook(d, arg, result, frames, count);
    if (frames)
        free_frames(d, frames, count);
}

void drain_record_on_timer(hal_looper *looper, double now, void *arg)
{
    (void)now;
    hal_dsp *d = (hal_dsp *)arg;
    (void)hal_looper_cancel_timer(looper, drain_record_on_timer, d);
    if (!d->record_drain_armed || d->state.load() != HAL_DSP_SHUTDOWN_RECORDING)
        return;
    DSP_LOG(d, HAL_LOG_ERROR, "record drain: no capture from the device, ending it");
    d->state.store(HAL_DSP_IDLE);
    finish_record(d, -1);
}

// Marks the end of a play and logs what it played.
void log_play_stats(hal_dsp *d)
{
    d->play_end = hal_time_now();
    DSP_LOG(d, HAL_LOG_INFO, "play %u samples(underflow %u) in %u ms", d->play_played,
            d->play_underflow, elapsed_ms(d->play_first, d->play_end));
}

// A side that reached its end while shutting down (or in full duplex) goes
// idle; returns the state the end-of-side handler then sees.
int settle_at_end(hal_dsp *d, int shutdown_state)
{
    int st = d->state.load();
    if (st == shutdown_state || st == HAL_DSP_FULL_DUPLEX) {
        d->state.store(HAL_DSP_IDLE);
        st = HAL_DSP_IDLE;
    }
    return st;
}

} // namespace

// ---- Public ------------------------------------------------------------------

hal_dsp *hal_dsp_new(hal_ctx *ctx)
{
    hal_dsp *d = new (std::nothrow) hal_dsp();
    if (!d)
        return NULL;
    d->ctx = ctx;
    d->log = ctx ? hal_ctx_get_log(ctx) : NULL;
    d->looper = ctx ? hal_ctx_get_looper(ctx) : NULL;
    d->ini = ctx ? hal_ctx_get_ini(ctx) : NULL;
    d->input_device = WAVE_MAPPER;
    d->play_free = k_buffers;
    pthread_mutex_init(&d->play_lock, NULL);
    pthread_mutex_init(&d->record_lock, NULL);
    load_config(d);
    return d;
}

void hal_dsp_destroy(hal_dsp **pd)
{
    if (!pd || !*pd)
        return;
    hal_dsp *d = *pd;
    hal_dsp_stop_play(d);
    hal_dsp_shutdown_record(d);
    pthread_mutex_destroy(&d->play_lock);
    pthread_mutex_destroy(&d->record_lock);
    delete d;
    *pd = NULL;
}

hal_dsp_status hal_dsp_get_status(const hal_dsp *d)
{
    return d ? (hal_dsp_status)d->state.load() : HAL_DSP_IDLE;
}

void hal_dsp_set_status(hal_dsp *d, hal_dsp_status status)
{
    if (d)
        d->state.store(status);
}

int hal_dsp_play_open(const hal_dsp *d)
{
    return d && d->out;
}

uint32_t hal_dsp_play_ring_bytes(const hal_dsp *d)
{
    return d && d->play_ring ? ringbuffer_count(d->play_ring) : 0;
}

int hal_dsp_start_play(hal_dsp *d)
{
    if (!d)
        return -1;
    const char *fn = "hal_dsp_start_play";
    int prev = d->state.load();
    if (prev == HAL_DSP_IDLE) {
        d->state.store(HAL_DSP_PLAYING);
    } else if (prev == HAL_DSP_FULL_DUPLEX) {
        DSP_LOG(d, HAL_LOG_INFO, "%s status:%d start play full_duplex", fn, prev);
    } else {
        DSP_LOG(d, HAL_LOG_ERROR, "%s ERROR status:%d", fn, prev);
        return -1;
    }
    if (d->out) // already open (full duplex): nothing to do twice
        return 0;
    int n = wave_count(WAVE_OUT);
    DSP_LOG(d, HAL_LOG_INFO, "%s nOutDevices: %d", fn, n);
    bool caps = false;
    char name[128];
    for (int i = 0; i < n && !caps; i++) {
        caps = wave_caps(WAVE_OUT, WAVE_MAPPER, name, sizeof(name)) == 0;
        if (caps)
            DSP_LOG(d, HAL_LOG_INFO,
                    "%s mr %d wMid:%d wPid %d devicename %s vDriverVersion %d caps.wChannels %d "
                    "caps.wReserved1 %d caps.dwFormats %d caps.dwSupport %d",
                    fn, 0, 0, 0, name, 0, 1, 0, 0, 0);
    }
    for (int i = 0; i < n && !caps; i++)
        caps = wave_caps(WAVE_OUT, WAVE_MAPPER, name, sizeof(name)) == 0;
    if (!caps) {
        DSP_LOG(d, HAL_LOG_ERROR, "%s ERROR no out devices! nOutDevices:%d", fn, n);
        goto fail;
    }
    memset(d->play_pcm, 0, sizeof(d->play_pcm));
    memset(d->play_hdr, 0, sizeof(d->play_hdr));
    DSP_LOG(d, HAL_LOG_INFO,
            "self->rprofile.input_buffer_frames %d pprofile.input_buffer_frames %d, "
            "output_buffer_frames %d",
            (int)d->rprofile.in_buffer_frames, (int)d->pprofile.in_buffer_frames,
            (int)d->pprofile.out_buffer_frames);
    d->play_first = d->play_end = 0;
    d->play_idx = 0;
    d->play_played = d->play_written = d->play_underflow = 0;
    d->play_failed = 0;
    d->play_free = k_buffers;
    d->play_ring = ringbuffer_new(k_play_ring);
    memset(d->decoded, 0, sizeof(d->decoded));
    d->play_codec = 0;
    d->fifo = dsp_resampler_new(d->pprofile.in_rate, d->pprofile.out_rate);
    d->play_agc = agc_new(d->play_agc_conf);
    if (!d->play_ring || !d->fifo) {
        DSP_LOG(d, HAL_LOG_ERROR, "%s out of memory", fn);
        goto fail;
    }
    dump_open(&d->dump_play, "play_pcm.raw");
    dump_open(&d->dump_play_wave, "play_pcm.wave");
    if (wave_open(&d->out, WAVE_OUT, WAVE_MAPPER, play_callback, d) != 0 &&
        wave_open(&d->out, WAVE_OUT, WAVE_MAPPER, play_callback, d) != 0) {
        DSP_LOG(d, HAL_LOG_ERROR, "%s 333333333", fn);
        goto fail;
    }
    // The output plays at the level the system mixer gives it: there is no
    // per-stream volume to force to full here.
    DSP_LOG(d, HAL_LOG_INFO, "%s OK outdevid %d WAVE_MAPPER %d", fn, WAVE_MAPPER, WAVE_MAPPER);
    return 0;
fail:
    hal_dsp_stop_play_with_stats(d);
    // A full-duplex record keeps running: only the play side failed.
    if (prev == HAL_DSP_FULL_DUPLEX)
        d->state.store(HAL_DSP_FULL_DUPLEX);
    return -1;
}

int hal_dsp_write(hal_dsp *d, const hal_sound_frame *frame)
{
    if (!d || !frame)
        return -1;
    int st = d->state.load();
    if (st != HAL_DSP_PLAYING && st != HAL_DSP_FULL_DUPLEX) {
        DSP_LOG(d, HAL_LOG_ERROR, "%s only can write in PLAYING status  %d", "hal_dsp_write", st);
        return -1;
    }
    if (!d->play_ring)
        return -1;
    // Sizes come from the network: nothing larger than the codec's largest
    // frame reaches the decoder's buffer, and a decoder takes only its own
    // codec.
    uint32_t max = codec_max(frame->pt);
    uint32_t codec = d->play_codec ? d->play_codec : frame->pt;
    if (max == 0 || frame->pt != codec || frame->size == 0 || frame->size > max) {
        DSP_LOG(d, HAL_LOG_ERROR, "%s refused frame pt %u size %u (play codec %u)", "hal_dsp_write",
                frame->pt, frame->size, d->play_codec);
        return -1;
    }
    // The AMR-NB decoder reads as many bytes as the header's frame type says.
    if (frame->pt == HAL_PT_AMR &&
        (amr_frame_size(frame->data[0]) == 0 || frame->size < amr_frame_size(frame->data[0]))) {
        DSP_LOG(d, HAL_LOG_ERROR, "%s bad amr frame %u", "hal_dsp_write", frame->size);
        return -1;
    }
    if (d->play_codec == 0) {
        d->play_codec = frame->pt;
        if (frame->pt == HAL_PT_AMR)
            d->amr_dec = Decoder_Interface_init();
        else
            d->evrc_dec = evrc_decoder_new(); // a fresh decoder state for each play
    }
    uint32_t bytes = 4 + (uint32_t)frame->size;
    uint32_t n = ringbuffer_write(d->play_ring, frame, bytes);
    if (n == 0)
        DSP_LOG(d, HAL_LOG_ERROR, "%s ringbuffer overflow!", "hal_dsp_write");
    if (d->play_played > 0)
        d->play_written += k_frame;
    (void)play_enque(d, true);
    return (int)n;
}

int hal_dsp_async_stop_play(hal_dsp *d, hal_dsp_play_end_fn hook, void *arg)
{
    if (!d)
        return -1;
    d->play_hook = hook;
    d->play_arg = arg;
    int st = d->state.load();
    if (st == HAL_DSP_SHUTDOWN_PLAYING)
        return 0;
    if (st != HAL_DSP_PLAYING) {
        DSP_LOG(d, HAL_LOG_DEBUG, "%s (%d) already HAL_DSP_SHUTDOWN_PLAYING or HAL_DSP_IDLE",
                "hal_dsp_async_stop_play", st);
        return -1;
    }
    d->state.store(HAL_DSP_SHUTDOWN_PLAYING);
    d->play_atend_posted = 0;
    (void)hal_looper_set_timer(d->looper, drain_play_on_timer, k_drain_tick, d);
    DSP_LOG(d, HAL_LOG_DEBUG, "%s PLAYING to SHUTDOWN", "hal_dsp_async_stop_play");
    return 0;
}

void hal_dsp_stop_play(hal_dsp *d)
{
    if (!d)
        return;
    (void)hal_looper_cancel_timer(d->looper, drain_play_on_timer, d);
    if (d->out) {
        (void)wave_reset(d->out);
        wave_close(&d->out);
    }
    d->play_hook = NULL;
    d->play_arg = NULL;
    d->play_first = d->play_end = 0;
    memset(d->play_hdr, 0, sizeof(d->play_hdr));
    d->play_idx = 0;
    d->play_played = d->play_written = d->play_underflow = 0;
    d->play_free = k_buffers;
    d->play_failed = 0;
    d->play_atend_posted = 0;
    ringbuffer_destroy(&d->play_ring);
    dsp_resampler_destroy(&d->fifo);
    if (d->amr_dec)
        Decoder_Interface_exit(d->amr_dec);
    d->amr_dec = NULL;
    evrc_decoder_destroy(&d->evrc_dec);
    d->play_codec = 0;
    agc_destroy(&d->play_agc);
    dump_close(&d->dump_play);
    dump_close(&d->dump_play_wave);
}

void hal_dsp_stop_play_with_stats(hal_dsp *d)
{
    if (!d)
        return;
    d->state.store(HAL_DSP_IDLE);
    log_play_stats(d);
    hal_dsp_stop_play(d);
}

void hal_dsp_on_event_play_atend(hal_looper *looper, hal_looper_event *event, void *arg,
                                 hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)processor;
    hal_dsp *d = (hal_dsp *)arg;
    int st = settle_at_end(d, HAL_DSP_SHUTDOWN_PLAYING);
    DSP_LOG(d, HAL_LOG_DEBUG, "hal_dsp_on_event_play_atend start");
    if (st != HAL_DSP_IDLE)
        return;
    hal_dsp_play_end_fn hook = d->play_hook;
    void *hook_arg = d->play_arg;
    int result = d->play_failed ? -1 : 0;
    if (d->play_played > 0) {
        log_play_stats(d);
    }
    hal_dsp_stop_play(d);
    if (hook)
        hook(d, hook_arg, result);
}

int hal_dsp_start_record(hal_dsp *d, uint32_t codec)
{
    if (!d)
        return -1;
    const char *fn = "hal_dsp_start_record";
    int prev = d->state.load();
    if (prev == HAL_DSP_IDLE) {
        d->state.store(HAL_DSP_RECORDING);
    } else if (prev != HAL_DSP_RECORDING && prev != HAL_DSP_FULL_DUPLEX) {
        DSP_LOG(d, HAL_LOG_ERROR, "%s NOT in status HAL_DSP_IDLE status:%d", fn, prev);
        return -1;
    }
    // Recording already: the open input goes on as it is.
    if (d->in)
        return 0;
    char name[128];
    int found = 0;
    int ms = 0;
    int n = wave_count(WAVE_IN);
    if (n <= 0)
        goto fail;
    d->input_device = WAVE_MAPPER;
    for (int i = 0; i < n; i++) {
        if (wave_caps(WAVE_IN, i, name, sizeof(name)) == 0) {
            d->input_device = i;
            break;
        }
    }
    if (wave_open(&d->in, WAVE_IN, d->input_device, record_callback, d) != 0 &&
        wave_open(&d->in, WAVE_IN, WAVE_MAPPER, record_callback, d) != 0)
        goto fail;
    d->aec = rtc_aec_new(d->ctx, (int32_t)k_rate);
    if (!d->aec && rtc_aec_get_delay() != 0)
        DSP_LOG(d, HAL_LOG_ERROR, "%s failed aec new!", fn);
    ms = ini_int(d, "record", "probation", 0, &found);
    // A negative or huge setting must not reach the sample arithmetic.
    if (ms < 0)
        ms = 0;
    if (ms > k_max_probation_ms)
        ms = k_max_probation_ms;
    d->probation = found ? k_rate * (uint32_t)ms / 1000 : k_default_probation;
    d->record_codec = codec;
    d->quality = (uint32_t)ini_int(d, "record", "quality", 6, NULL);
    if ((int)d->quality < 0)
        d->quality = 0;
    if (d->quality > 7)
        d->quality = 7;
    memset(d->record_pcm, 0, sizeof(d->record_pcm));
    memset(d->record_hdr, 0, sizeof(d->record_hdr));
    d->record_first = d->record_end = 0;
    d->record_idx = 0;
    d->record_handed = d->record_captured = d->record_overflow = 0;
    d->record_ring = ringbuffer_new(k_record_ring);
    d->accum_n = 0;
    if (!d->record_ring)
        goto fail;
    if (codec == HAL_PT_AMR) {
        d->amr_enc = Encoder_Interface_init(1);
        DSP_LOG(d, HAL_LOG_INFO, "Start encode AMR");
    } else if (codec == HAL_PT_EVRC) {
        d->evrc_enc = evrc_encoder_new();
        DSP_LOG(d, HAL_LOG_INFO, "Start encode Evrc");
    } else {
        DSP_LOG(d, HAL_LOG_ERROR, "Unsupport encode paytype");
    }
    d->record_agc = agc_new(d->record_agc_conf);
    dump_open(&d->dump_record, "record_pcm.raw");
    if (record_enqueue(d, d->in) != 0 || wave_start(d->in) != 0)
        goto fail;
    DSP_LOG(d, HAL_LOG_INFO, "start record");
    return 0;
fail:
    DSP_LOG(d, HAL_LOG_ERROR, "start record error!");
    // In full duplex the play side stays as it was.
    d->state.store(prev == HAL_DSP_FULL_DUPLEX ? HAL_DSP_FULL_DUPLEX : HAL_DSP_IDLE);
    DSP_LOG(d, HAL_LOG_INFO, "hal_dsp_stop_record");
    hal_dsp_shutdown_record(d);
    return -1;
}

const hal_sound_frame *hal_dsp_read_frame(hal_dsp *d)
{
    if (!d || !d->in || !d->record_ring)
        return NULL;
    dsp_frame *f = &d->read_frame;
    const hal_sound_frame *out = NULL;
    pthread_mutex_lock(&d->record_lock);
    if (ringbuffer_read(d->record_ring, f, 4) == 4 && f->size <= sizeof(f->data) &&
        (f->size == 0 || ringbuffer_read(d->record_ring, f->data, f->size) == f->size))
        out = (const hal_sound_frame *)f;
    pthread_mutex_unlock(&d->record_lock);
    return out;
}

int hal_dsp_async_stop_record(hal_dsp *d, hal_dsp_record_end_fn hook, void *arg)
{
    if (!d)
        return -1;
    d->record_hook = hook;
    d->record_arg = arg;
    d->state.store(HAL_DSP_SHUTDOWN_RECORDING);
    d->record_drain_armed = 1;
    (void)hal_looper_cancel_timer(d->looper, drain_record_on_timer, d);
    (void)hal_looper_set_timer(d->looper, drain_record_on_timer, k_record_drain_timeout, d);
    return 0;
}

void hal_dsp_stop_record(hal_dsp *d)
{
    if (!d)
        return;
    d->state.store(HAL_DSP_IDLE);
    DSP_LOG(d, HAL_LOG_INFO, "hal_dsp_stop_record");
    hal_dsp_shutdown_record(d);
}

void hal_dsp_shutdown_record(hal_dsp *d)
{
    if (!d)
        return;
    DSP_LOG(d, HAL_LOG_ERROR, "hal_dsp_shutdown_record start");
    (void)hal_looper_cancel_timer(d->looper, drain_record_on_timer, d);
    d->record_drain_armed = 0;
    if (d->in) {
        (void)wave_stop(d->in);
        (void)wave_reset(d->in);
        wave_close(&d->in); // joins the capture thread
    }
    d->input_device = WAVE_MAPPER;
    d->record_hook = NULL;
    d->record_arg = NULL;
    d->record_first = d->record_end = 0;
    memset(d->record_hdr, 0, sizeof(d->record_hdr));
    pthread_mutex_lock(&d->record_lock);
    ringbuffer_destroy(&d->record_ring);
    pthread_mutex_unlock(&d->record_lock);
    d->accum_n = 0;
    if (d->amr_enc)
        Encoder_Interface_exit(d->amr_enc);
    d->amr_enc = NULL;
    evrc_encoder_destroy(&d->evrc_enc);
    agc_destroy(&d->record_agc);
    rtc_aec_destroy(d->ctx, &d->aec);
    dump_close(&d->dump_record);
    DSP_LOG(d, HAL_LOG_ERROR, "hal_dsp_shutdown_record stop");
}

void hal_dsp_on_event_record_atend(hal_looper *looper, hal_looper_event *event, void *arg,
                                   hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)processor;
    hal_dsp *d = (hal_dsp *)arg;
    int st = settle_at_end(d, HAL_DSP_SHUTDOWN_RECORDING);
    if (st != HAL_DSP_IDLE)
        return;
    finish_record(d, 0);
}
