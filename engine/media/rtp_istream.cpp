// The receive stream: sequence checks, jitter buffer, playout and
// concealment. See rtp_stream.h.
#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_string.h"
#include "hal_time.h"
#include "list.h"
#include "rtp_stream.h"
#include "rtp_stream_internal.h"

#include <math.h>
#include <speex/speex_jitter.h>
#include <stddef.h>
#include <string.h>

// Defined by the talk session; absent when the core is not linked in.
#pragma weak session_on_istream_stop

namespace
{

const char *k_tag = "rtpis";
const double k_tick = 0.02;
const int k_span = 160;                // samples of one frame, the jitter buffer's step
const uint64_t k_start_samples = 3200; // 400 ms
const int64_t k_probation_default = 2;
const int64_t k_probation_max = 100;
const uint32_t k_jump = 10;          // this far ahead restarts, this far behind drops
const uint32_t k_jump_ts_max = 8000; // a packet continuing a jump is at most 1 s later
const uint32_t k_wrap_high = 65136;  // last above this and sequence below k_wrap_low: a wrap
const uint32_t k_wrap_low = 400;
const uint32_t k_frame_data_max = RTP_POP_FRAME_DATA;
// A drain crosses at most this many missing spans (60 s) between packets.
const int k_drain_missing_max = 3000;

#define IS_LOG(s, prio, ...) (void)hal_log_output((s)->log, prio, k_tag, __VA_ARGS__)

// A payload copy stored in the jitter buffer. The buffer frees what it
// stores through its destroy callback, but a packet too late to be stored
// is neither kept nor freed by it; the link lets the stream find and free
// such copies after each reset of the buffer.
struct payload_copy {
    rtp_copy_link link;
    uint8_t data[];
};

void link_init(rtp_copy_link *l)
{
    l->prev = l;
    l->next = l;
}

payload_copy *copy_of(void *data)
{
    return (payload_copy *)((char *)data - offsetof(payload_copy, data));
}

// The jitter buffer's destroy callback, also used on what it hands out.
void copy_free(void *data)
{
    payload_copy *c = copy_of(data);
    c->link.prev->next = c->link.next;
    c->link.next->prev = c->link.prev;
    hal_free(c);
}

// Copies the buffer no longer holds; call right after a reset or destroy.
void free_lost_copies(rtp_istream *s)
{
    while (s->copies.next != &s->copies) {
        payload_copy *c = (payload_copy *)s->copies.next;
        copy_free(c->data);
    }
}

void *store_copy(rtp_istream *s, const uint8_t *payload, uint32_t length)
{
    payload_copy *c = (payload_copy *)hal_malloc(sizeof(payload_copy) + length);
    if (!c)
        return NULL;
    memcpy(c->data, payload, length);
    c->link.next = &s->copies;
    c->link.prev = s->copies.prev;
    s->copies.prev->next = &c->link;
    s->copies.prev = &c->link;
    return c->data;
}

uint32_t plain_type(uint32_t pt)
{
    if (pt == RTP_PT_AMR_ENCRYPTED)
        return HAL_PT_AMR;
    if (pt == RTP_PT_EVRC_ENCRYPTED)
        return HAL_PT_EVRC;
    return pt;
}

void forget_jumps(rtp_istream *s)
{
    for (uint32_t i = 0; i < RTP_ISTREAM_JUMP_CANDIDATES; i++) {
        free(s->jump_payload[i]);
        s->jump_payload[i] = NULL;
        s->jump_length[i] = 0;
    }
    s->jump_count = 0;
    s->jump_at = 0;
}

void release(rtp_istream *s)
{
    forget_jumps(s);
    if (s->jb)
        jitter_buffer_destroy(s->jb);
    free_lost_copies(s);
    rtp_frame_queue_clear(s->ready);
    rtp_frame_queue_clear(s->history);
    list_del(s->ready);
    list_del(s->history);
    hal_free(s);
}

void push_front(list *q, hal_sound_frame *f)
{
    if (f && list_push_front(q, f) != 0)
        hal_free(f);
}

void push_back(list *q, hal_sound_frame *f)
{
    if (f && list_push_back(q, f) != 0)
        hal_free(f);
}

// Puts `count` concealment frames at the front of the ready queue: the
// newest frames of the history, marked replayed (payload type 0), and
// erasure frames once the history runs out; then empties the history.
// Built from the front, so the replayed frames keep their playing order.
void conceal(rtp_istream *s, int64_t count)
{
    for (; count > 0; count--) {
        hal_sound_frame *f = (hal_sound_frame *)list_pop_back(s->history);
        if (f)
            f->pt = 0;
        else
            f = rtp_make_erasure_frame(s->pt);
        push_front(s->ready, f);
    }
    rtp_frame_queue_clear(s->history);
}

void do_restart(rtp_istream *s, uint32_t seq, uint32_t ts, double arrival)
{
    s->last_seq = seq;
    s->last_ts = ts;
    // This packet counts as the first of the new probation.
    s->probation_left = s->probation > 0 ? s->probation - 1 : 0;
    s->last_arrival = arrival;
    s->samples = 0;
    jitter_buffer_reset(s->jb);
    free_lost_copies(s);
    rtp_frame_queue_clear(s->ready);
    rtp_frame_queue_clear(s->history);
    if (s->state == RTP_ISTREAM_PLAYING) {
        s->state = RTP_ISTREAM_BUFFERING;
        IS_LOG(s, HAL_LOG_DEBUG,
               "%s packet(%llu) payload(%llu) drop(%llu) bad_seq(%llu) unordered(%llu) jitter(%f)",
               "rtp_istream_restart", (unsigned long long)s->packets,
               (unsigned long long)s->payload_bytes, (unsigned long long)s->dropped,
               (unsigned long long)s->bad_seq, (unsigned long long)s->unordered, s->jitter);
        rtp_notify(s, RTP_ISTREAM_EVENT_RESTARTED);
    }
}

enum seq_verdict { SEQ_ACCEPT, SEQ_DROP, SEQ_RESTART };

// The sequence rules after probation, on 16-bit values.
seq_verdict check_sequence(rtp_istream *s, uint32_t seq32)
{
    uint32_t seq = seq32 & 0xFFFFu;
    uint32_t last = s->last_seq & 0xFFFFu;
    if (seq == last) {
        IS_LOG(s, HAL_LOG_DEBUG, "duplicate,bad seq %u, last=%u", seq, last);
        s->bad_seq++;
        s->dropped++;
        return SEQ_DROP;
    }
    if (seq > last) {
        uint32_t d = seq - last;
        if (d < k_jump) {
            if (d > 1)
                s->unordered++;
            return SEQ_ACCEPT;
        }
        // A late packet from just before a wrap is behind, not a jump.
        if (last < k_wrap_low && seq > k_wrap_high) {
            if (last + 65536u - seq < k_jump)
                return SEQ_ACCEPT;
            s->dropped++;
            return SEQ_DROP;
        }
        IS_LOG(s, HAL_LOG_DEBUG, "long jump,bad seq %u, last=%u", seq, last);
        return SEQ_RESTART;
    }
    if ((last > k_wrap_high && seq < k_wrap_low) || last - seq < k_jump)
        return SEQ_ACCEPT;
    s->dropped++;
    return SEQ_DROP;
}

// A packet far off the sequence: one stray (a late copy, a misrouted or
// forged packet) must not throw away the jitter buffer, but a sender that
// really restarted its numbering must still be followed. As in RFC 3550
// appendix A.1, the stream moves only when a packet continues the far one:
// the next sequence number with a timestamp at most a second later. A playing
// stream asks this of the packet right after the far one (ring 0). One in
// probation asks it of any of the latest far packets (ring 1): strays may
// come first, and then the sequence being probed is a stray's while the
// talker's packets arrive among others. 1 when seq and ts confirm a jump.
int confirms_jump(rtp_istream *s, uint32_t seq, uint32_t ts, int ring, const uint8_t *payload,
                  uint32_t length, uint8_t **first, uint32_t *first_length, uint32_t *first_ts)
{
    uint16_t seq16 = (uint16_t)seq;
    uint32_t n = ring ? s->jump_count : (s->jump_count ? 1u : 0u);
    for (uint32_t i = 0; i < n; i++) {
        uint32_t at =
            (s->jump_at + RTP_ISTREAM_JUMP_CANDIDATES - 1 - i) % RTP_ISTREAM_JUMP_CANDIDATES;
        uint32_t step = ts - s->jump_ts[at];
        if (s->jump_next[at] == seq16 && step > 0 && step <= k_jump_ts_max) {
            if (first) {
                *first = s->jump_payload[at];
                *first_length = s->jump_length[at];
                *first_ts = s->jump_ts[at];
                s->jump_payload[at] = NULL;
            }
            forget_jumps(s);
            return 1;
        }
    }
    uint32_t at = s->jump_at;
    free(s->jump_payload[at]);
    s->jump_payload[at] = NULL;
    s->jump_length[at] = 0;
    if (ring && payload && length > 0) {
        s->jump_payload[at] = (uint8_t *)malloc(length);
        if (s->jump_payload[at]) {
            memcpy(s->jump_payload[at], payload, length);
            s->jump_length[at] = length;
        }
    }
    s->jump_next[at] = (uint16_t)(seq16 + 1u);
    s->jump_ts[at] = ts;
    s->jump_at = (at + 1) % RTP_ISTREAM_JUMP_CANDIDATES;
    if (s->jump_count < RTP_ISTREAM_JUMP_CANDIDATES)
        s->jump_count++;
    return 0;
}

// Within k_jump of last (either way) on 16-bit values.
int near_sequence(uint32_t seq, uint32_t last)
{
    uint32_t d = (seq - last) & 0xFFFFu;
    return d < k_jump || 0x10000u - d < k_jump;
}

// Puts an accepted packet into the jitter buffer; starts playing once 400 ms
// are in (the owner may end the stream from that report).
void buffer_packet(rtp_istream *s, uint32_t seq, uint32_t ts, const uint8_t *payload,
                   uint32_t length, double now)
{
    // (now - ts / 8000) - (last arrival - last ts / 8000), with the
    // timestamps subtracted first so that their wrap adds nothing.
    double d = (now - s->last_arrival) - (int32_t)(ts - s->last_ts) / 8000.0;
    s->jitter = (15.0 * s->jitter + fabs(d)) / 16.0;
    s->last_arrival = now;
    s->last_ts = ts;

    int64_t samples = rtp_payload_samples(s->pt, payload, length);
    if (samples > 0) {
        s->samples += (uint64_t)samples;
        void *copy = store_copy(s, payload, length);
        if (copy) {
            JitterBufferPacket p;
            memset(&p, 0, sizeof(p));
            p.data = (char *)copy;
            p.len = length;
            p.timestamp = ts;
            p.span = (spx_uint32_t)samples;
            p.sequence = (spx_uint16_t)seq;
            jitter_buffer_put(s->jb, &p);
        }
    }
    if (s->state == RTP_ISTREAM_BUFFERING && s->samples >= k_start_samples) {
        s->state = RTP_ISTREAM_PLAYING;
        rtp_notify(s, RTP_ISTREAM_EVENT_START);
    }
}

int do_put(rtp_istream *s, const rtp_header *header, const uint8_t *payload, uint32_t length)
{
    double now = hal_time_now();
    if (s->state == RTP_ISTREAM_DRAINING) {
        IS_LOG(s, HAL_LOG_ERROR, "try put packet in shutdown state");
        return -1;
    }
    rtp_fields f = rtp_header_fields(header);
    uint32_t pt = plain_type(f.pt);
    s->packets++;
    s->payload_bytes += length;

    if (s->ssrc == 0) {
        s->ssrc = f.ssrc;
        s->pt = pt;
        s->last_seq = f.seq - 1u;
        s->last_ts = f.ts;
        s->probation_left = s->probation;
        s->last_arrival = now;
    } else if (f.ssrc != s->ssrc || pt != s->pt) {
        return -1;
    }
    uint8_t *first = NULL;
    uint32_t first_length = 0, first_ts = 0;

    if (s->probation_left != 0) {
        if (f.seq == s->last_seq + 1u) {
            s->probation_left--;
            s->last_seq = f.seq;
        } else if (near_sequence(f.seq, s->last_seq)) {
            IS_LOG(s, HAL_LOG_DEBUG, "in probation,bad seq %u, last=%u", f.seq, s->last_seq);
            s->bad_seq++;
            s->dropped += s->probation - s->probation_left;
            do_restart(s, f.seq, f.ts, now);
            return 0;
        } else if (confirms_jump(s, f.seq, f.ts, 1, payload, length, &first, &first_length,
                                 &first_ts)) {
            // Far from the probed sequence but continuing an earlier far
            // packet: that sequence is probed instead, from its first packet.
            IS_LOG(s, HAL_LOG_DEBUG, "in probation,new seq %u, last=%u", f.seq, s->last_seq);
            s->dropped += s->probation - s->probation_left;
            do_restart(s, f.seq - 1u, first_ts, now);
            if (!s->dying && first) {
                s->dropped--; // counted when it came
                buffer_packet(s, f.seq - 1u, first_ts, first, first_length, now);
            }
            free(first);
            if (s->dying)
                return 0;
            if (s->probation_left)
                s->probation_left--;
            s->last_seq = f.seq;
        } else {
            // A stray among the probed packets: dropped, the probation goes on.
            s->bad_seq++;
            s->dropped++;
            return 0;
        }
    } else {
        seq_verdict v = check_sequence(s, f.seq);
        if (v == SEQ_DROP)
            return 0;
        if (v == SEQ_RESTART) {
            if (!confirms_jump(s, f.seq, f.ts, 0, NULL, 0, NULL, NULL, NULL)) {
                s->bad_seq++;
                s->dropped++;
                return 0;
            }
            do_restart(s, f.seq, f.ts, now);
            // The owner may have ended the stream from its restart callback.
            if (s->dying)
                return 0;
        } else {
            s->last_seq = f.seq;
        }
    }

    buffer_packet(s, f.seq, f.ts, payload, length, now);
    return 1;
}

// One read of the jitter buffer for the playing stream whose ready queue is
// empty; leaves at least one frame in it.
void read_jitter_buffer(rtp_istream *s)
{
    JitterBufferPacket p;
    memset(&p, 0, sizeof(p));
    // The buffer writes data only when it hands out a packet: a stale
    // pointer must not survive a miss.
    p.data = NULL;
    spx_int32_t offset = 0;
    int r = jitter_buffer_get(s->jb, &p, k_span, &offset);
    if (r == JITTER_BUFFER_OK) {
        // The ready queue is empty here: what it holds next is this packet.
        (void)rtp_split_payload(s->ready, s->pt, 0, (const uint8_t *)p.data, p.len);
        s->voice_frames += list_count(s->ready);
        if (offset <= 0) {
            rtp_frame_queue_clear(s->history);
            // Frames before the play position are not played.
            for (; offset <= -k_span && list_count(s->ready) > 0; offset += k_span) {
                push_back(s->history, (hal_sound_frame *)list_pop_front(s->ready));
                s->voice_frames--;
            }
        } else if (offset >= k_span) {
            conceal(s, offset / k_span);
        }
        if (p.data)
            copy_free(p.data);
    } else if (r == JITTER_BUFFER_MISSING || r == JITTER_BUFFER_INSERTION) {
        // A part of a frame counts as a whole one.
        conceal(s, ((int64_t)p.span + k_span - 1) / k_span);
    }
    jitter_buffer_tick(s->jb);
    if (list_count(s->ready) == 0) {
        IS_LOG(s, HAL_LOG_ERROR, "broken packet or broken code in jb");
        push_back(s->ready, rtp_make_erasure_frame(s->pt));
    }
}

void tick(rtp_istream *s)
{
    s->timer_status = 1;
    if (s->state == RTP_ISTREAM_DRAINING) {
        rtp_notify(s,
                   list_count(s->ready) > 0 ? RTP_ISTREAM_EVENT_FRAMES : RTP_ISTREAM_EVENT_DRAINED);
    } else if (s->state == RTP_ISTREAM_PLAYING) {
        if (list_count(s->ready) == 0)
            read_jitter_buffer(s);
        rtp_notify(s, RTP_ISTREAM_EVENT_FRAMES);
    }
    s->timer_status = 2;
}

// Packets still ahead of the play position.
int packets_ahead(rtp_istream *s)
{
    spx_int32_t n = 0;
    (void)jitter_buffer_ctl(s->jb, JITTER_BUFFER_GET_AVAILABLE_COUNT, &n);
    return n;
}

} // namespace

rtp_istream *rtp_istream_new(hal_ctx *ctx, uint32_t reserved, void *owner)
{
    (void)reserved;
    if (!ctx)
        return NULL;
    rtp_istream *s = (rtp_istream *)hal_calloc(1, sizeof(rtp_istream));
    if (!s)
        return NULL;
    int clamped = 0;
    JitterBufferPacket none;
    spx_int32_t offset = 0;
    s->ctx = ctx;
    s->looper = hal_ctx_get_looper(ctx);
    s->log = hal_ctx_get_log(ctx);
    s->notify = session_on_istream_stop;
    s->owner = owner;
    link_init(&s->copies);
    // 0 plays from the first packet; 100 is far beyond any use and keeps a
    // broken setting from holding the stream in probation for good.
    s->probation = (uint64_t)rtp_ini_number(hal_ctx_get_ini(ctx), "play", "packprobation",
                                            k_probation_default, 0, k_probation_max, &clamped);
    if (clamped)
        IS_LOG(s, HAL_LOG_ERROR, "packprobation out of 0..%d, using %llu", (int)k_probation_max,
               (unsigned long long)s->probation);
    s->probation_left = s->probation;
    s->ready = list_new();
    s->history = list_new();
    s->jb = jitter_buffer_init(k_span);
    if (!s->ready || !s->history || !s->jb)
        goto out;
    // Handed-out packets are the stored copies themselves, not copies of them.
    (void)jitter_buffer_ctl(s->jb, JITTER_BUFFER_SET_DESTROY_CALLBACK, (void *)copy_free);
    // A direct delay update turns the buffer's auto-adjustment off for good
    // (resets included): the 400 ms gathered before playing stay the delay.
    // Left on, it shortens the delay a few seconds into each talk and skips
    // the voice in between.
    memset(&none, 0, sizeof(none));
    (void)jitter_buffer_update_delay(s->jb, &none, &offset);
    if (hal_looper_set_timer(s->looper, rtp_istream_on_timer, k_tick, s) != 0)
        goto out;
    return s;
out:
    release(s);
    return NULL;
}

void rtp_istream_destroy(rtp_istream **stream)
{
    rtp_istream *s = stream ? *stream : NULL;
    if (s && !s->dying)
        IS_LOG(s, HAL_LOG_ERROR, "%s self:%p timer_status:%d in", "rtp_istream_destroy", (void *)s,
               (int)s->timer_status);
    rtp_destroy(stream, rtp_istream_on_timer, release);
}

int rtp_istream_put(rtp_istream *s, const rtp_header *header, const uint8_t *payload,
                    uint32_t length)
{
    if (!s || !header || s->dying)
        return -1;
    rtp_enter(s);
    int rc = do_put(s, header, payload, length);
    rtp_leave(s, release);
    return rc;
}

void rtp_istream_restart(rtp_istream *s, const rtp_header *header, double arrival)
{
    if (!s || !header || s->dying)
        return;
    rtp_fields f = rtp_header_fields(header);
    rtp_enter(s);
    do_restart(s, f.seq, f.ts, arrival);
    rtp_leave(s, release);
}

void rtp_istream_on_timer(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    (void)now;
    rtp_istream *s = (rtp_istream *)arg;
    if (!s || s->dying)
        return;
    rtp_enter(s);
    tick(s);
    rtp_leave(s, release);
}

int rtp_istream_pop_frame(rtp_istream *s, hal_sound_frame *frame)
{
    if (!s || !frame)
        return 0;
    int rc = 0;
    hal_sound_frame *f = (hal_sound_frame *)list_pop_front(s->ready);
    if (f) {
        if (f->size <= k_frame_data_max) {
            frame->size = f->size;
            memcpy(frame->data, f->data, f->size);
            frame->pt = (uint16_t)s->pt;
            rc = 1;
        }
        // Replayed frames are copies of history frames already played.
        if (f->pt == 0)
            hal_free(f);
        else
            push_back(s->history, f);
    }
    if (s->state == RTP_ISTREAM_PLAYING)
        jitter_buffer_tick(s->jb);
    return rc;
}

void rtp_istream_get(rtp_istream *s)
{
    if (!s)
        return;
    s->state = RTP_ISTREAM_DRAINING;
    rtp_frame_queue_clear(s->history);
    int missing = 0;
    for (;;) {
        JitterBufferPacket p;
        memset(&p, 0, sizeof(p));
        p.data = NULL;
        spx_int32_t offset = 0;
        int r = jitter_buffer_get(s->jb, &p, k_span, &offset);
        if (r == JITTER_BUFFER_MISSING && p.span > 0 && missing < k_drain_missing_max &&
            packets_ahead(s) > 0) {
            // A lost packet between buffered ones: the voice after it is
            // still handed out, with erasure frames in the gap.
            missing++;
            for (int64_t n = ((int64_t)p.span + k_span - 1) / k_span; n > 0; n--)
                push_back(s->ready, rtp_make_erasure_frame(s->pt));
            continue;
        }
        if (r != JITTER_BUFFER_OK)
            break;
        // The history serves as scratch here.
        (void)rtp_split_payload(s->history, s->pt, 0, (const uint8_t *)p.data, p.len);
        for (; offset >= k_span; offset -= k_span)
            push_front(s->history, rtp_make_erasure_frame(s->pt));
        for (; offset <= -k_span; offset += k_span) {
            void *f = list_pop_front(s->history);
            if (f)
                hal_free(f);
            else
                IS_LOG(s, HAL_LOG_ERROR, "broken code in jb");
        }
        list_join(s->ready, s->history);
        if (p.data)
            copy_free(p.data);
    }
}
