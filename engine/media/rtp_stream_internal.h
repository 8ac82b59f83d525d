// What the send and receive streams share inside the media layer.
#ifndef RTP_STREAM_INTERNAL_H
#define RTP_STREAM_INTERNAL_H

#include "hal_looper.h"
#include "rtp_stream.h"

#include <stdint.h>

typedef struct hal_ini hal_ini;

// The header fields a stream reads, taken out of an rtp_header.
typedef struct rtp_fields {
    uint32_t pt; // low seven bits of the second byte
    uint32_t seq;
    uint32_t ts;
    uint32_t ssrc;
} rtp_fields;

rtp_fields rtp_header_fields(const rtp_header *header);

// Samples (160 a frame) of a received payload; 0 for a payload type that
// carries no frames (anything but 101 and 103) or an empty payload; -1 for
// a frame of invalid size or one that runs past the end.
int64_t rtp_payload_samples(uint32_t payload_type, const uint8_t *payload, uint32_t length);

// An INI value read as a decimal number, truncated to an integer and
// bounded to lo..hi; def when the key is missing. *clamped (when given) is
// set when the value lay outside the bounds.
int64_t rtp_ini_number(hal_ini *ini, const char *section, const char *key, int64_t def, int64_t lo,
                       int64_t hi, int *clamped);

// Lifetime of a stream that calls its owner: every operation that may call
// out runs between rtp_enter and rtp_leave, so a destroy from inside the
// call (rtp_destroy) only clears the handle, stops the timer and marks the
// stream; the outermost rtp_leave then releases it.
template <typename S> void rtp_enter(S *s)
{
    s->busy++;
}

template <typename S> void rtp_leave(S *s, void (*release)(S *))
{
    if (--s->busy == 0 && s->dying)
        release(s);
}

template <typename S> void rtp_notify(S *s, uint32_t event)
{
    if (s->notify && !s->dying)
        s->notify(s, event, s->owner);
}

template <typename S> void rtp_destroy(S **handle, hal_looper_timer_fn timer, void (*release)(S *))
{
    if (!handle || !*handle)
        return;
    S *s = *handle;
    *handle = NULL;
    if (s->dying)
        return;
    (void)hal_looper_cancel_timer(s->looper, timer, s);
    s->dying = 1;
    if (s->busy == 0)
        release(s);
}

#endif
