// The send stream: recorded frames bundled into RTP packets on a 20 ms
// tick. See rtp_stream.h.
#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sound.h"
#include "hal_string.h"
#include "hal_time.h"
#include "list.h"
#include "rtp_stream.h"
#include "rtp_stream_internal.h"

#include <math.h>
#include <string.h>

// Defined by the talk session; absent when the core is not linked in.
#pragma weak session_on_ostream_notify

namespace
{

const char *k_tag = "rtpos";
const double k_tick = 0.02;
const uint32_t k_samples_per_frame = 160;
const int64_t k_fop_default = 5;
// Frames per packet that keep the payload below 176 bytes, encrypted too:
// 5 AMR-NB frames of up to 32 bytes are 160 (176 once padded); 7 full-rate
// EVRC frames are 1 + 2 + 154 = 157 bytes.
const int64_t k_fop_max_amr = 5;
const int64_t k_fop_max_evrc = 7;
// Frames read from the recorder in one tick: a tick delayed by a busy
// looper catches up; the bound keeps one tick short.
const int k_fill_max = 50;

#define OS_LOG(s, prio, ...) (void)hal_log_output((s)->log, prio, k_tag, __VA_ARGS__)

void release(rtp_ostream *s)
{
    rtp_frame_queue_clear(s->frames);
    list_del(s->frames);
    hal_free(s);
}

int send_packet(rtp_ostream *s)
{
    int len = rtp_pack_packet(s->frames, s->fop, s->pt, s->ts, s->ssrc, s->seq, s->packet,
                              s->is_encryp, s->key);
    if (len < 1)
        return len;
    s->sent++;
    s->seq++;
    s->last_len = (uint64_t)len;
    // A short last packet still advances by a whole packet.
    s->ts += s->fop * k_samples_per_frame;
    s->next_send += s->fop * k_tick;
    rtp_notify(s, RTP_OSTREAM_EVENT_PACKET);
    return len;
}

void tick(rtp_ostream *s, double now)
{
    for (int n = 0; n < k_fill_max && rtp_ostream_fill(s); n++) {
    }
    uint64_t queued = list_count(s->frames);
    OS_LOG(s, HAL_LOG_FRAME, "%s start count:%d", "rtp_ostream_on_timer", (int)queued);
    switch (s->state) {
    case RTP_OSTREAM_WAITING:
        if (queued >= (uint64_t)s->fop + 1) {
            s->next_send = now;
            s->state = RTP_OSTREAM_SENDING;
            rtp_notify(s, RTP_OSTREAM_EVENT_START);
            if (!s->dying)
                (void)send_packet(s);
        }
        break;
    case RTP_OSTREAM_SENDING:
        if (now < s->next_send)
            break;
        if (queued < s->fop)
            OS_LOG(s, HAL_LOG_DEBUG, "interrupt current(%u) want(%u)", (unsigned)queued,
                   (unsigned)s->fop);
        else
            (void)send_packet(s);
        break;
    case RTP_OSTREAM_DRAINING:
        if (now >= s->next_send && queued > 0)
            (void)send_packet(s);
        if (!s->dying && list_count(s->frames) == 0) {
            OS_LOG(s, HAL_LOG_DEBUG, "send %llu package", (unsigned long long)s->sent);
            rtp_notify(s, RTP_OSTREAM_EVENT_DRAINED);
        }
        break;
    default:
        break;
    }
}

} // namespace

rtp_ostream *rtp_ostream_new(hal_ctx *ctx, uint32_t ssrc, uint32_t payload_type, uint32_t reserved,
                             void *owner, uint32_t is_encryp, const char *key)
{
    (void)reserved;
    if (!ctx)
        return NULL;
    if (payload_type != HAL_PT_AMR && payload_type != HAL_PT_EVRC) {
        (void)hal_log_output(hal_ctx_get_log(ctx), HAL_LOG_ERROR, k_tag,
                             "rtp_ostream_new: payload type %u carries no voice",
                             (unsigned)payload_type);
        return NULL;
    }
    rtp_ostream *s = (rtp_ostream *)hal_calloc(1, sizeof(rtp_ostream));
    if (!s)
        return NULL;
    s->looper = hal_ctx_get_looper(ctx);
    s->log = hal_ctx_get_log(ctx);
    s->sound = hal_ctx_get_sound(ctx);
    s->pt = payload_type;
    s->ssrc = ssrc;
    s->is_encryp = is_encryp;
    size_t key_len = key ? strnlen(key, RTP_KEY_MAX + 1) : 0;
    if (key_len > RTP_KEY_MAX) {
        OS_LOG(s, HAL_LOG_ERROR, "key longer than %d characters, cut", RTP_KEY_MAX);
        key_len = RTP_KEY_MAX;
    }
    memcpy(s->key, key ? key : "", key_len);
    s->notify = session_on_ostream_notify;
    s->owner = owner;

    int clamped = 0;
    int64_t fop_max = payload_type == HAL_PT_AMR ? k_fop_max_amr : k_fop_max_evrc;
    s->fop = (uint32_t)rtp_ini_number(hal_ctx_get_ini(ctx), "record", "fop", k_fop_default, 1,
                                      fop_max, &clamped);
    if (clamped)
        OS_LOG(s, HAL_LOG_ERROR, "fop out of 1..%d for payload type %u, using %u", (int)fop_max,
               (unsigned)payload_type, (unsigned)s->fop);

    uint32_t secs = (uint32_t)(uint64_t)floor(hal_time_now());
    s->ts = secs & 0xFFFFu;
    s->seq = (secs & 255u) + 400u;

    s->frames = list_new();
    if (!s->frames)
        goto out;
    while (rtp_ostream_fill(s)) {
    }
    // The key itself never goes to the log.
    OS_LOG(s, HAL_LOG_DEBUG, "%s start is_encryp %d key length %u", "rtp_ostream_new",
           (int)is_encryp, (unsigned)key_len);
    if (hal_looper_set_timer(s->looper, rtp_ostream_on_timer, k_tick, s) != 0)
        goto out;
    return s;
out:
    release(s);
    return NULL;
}

void rtp_ostream_destroy(rtp_ostream **stream)
{
    rtp_destroy(stream, rtp_ostream_on_timer, release);
}

int rtp_ostream_fill(rtp_ostream *s)
{
    if (!s)
        return 0;
    // Frames come only while the sound queue records.
    hal_sound_frame *f = rtp_frame_copy(hal_sound_read_frame(s->sound));
    if (!f)
        return 0;
    if (list_push_back(s->frames, f) != 0) {
        hal_free(f);
        return 0;
    }
    return 1;
}

int rtp_ostream_send_packet(rtp_ostream *s)
{
    if (!s || s->dying)
        return -1;
    rtp_enter(s);
    int len = send_packet(s);
    rtp_leave(s, release);
    return len;
}

void rtp_ostream_on_timer(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    rtp_ostream *s = (rtp_ostream *)arg;
    if (!s || s->dying)
        return;
    rtp_enter(s);
    tick(s, now);
    rtp_leave(s, release);
}
