// What the send and receive streams share inside the media layer.
#ifndef RTP_STREAM_INTERNAL_H
#define RTP_STREAM_INTERNAL_H

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

#endif
