// The two byte formats EVRC frames travel and rest in.
//
// Multi-frame packet (RTP payload type 103, recorded broadcasts, encrypted
// voice-file records):
//   [N][(N + 3) / 4 bytes of 2-bit rate codes, first frame in the top bits]
//   [the N codec packets back to back]
// Rate codes: 0 = 2 bytes (eighth rate), 1 = 4 (quarter), 2 = 10 (half),
// 3 = 22 (full).
//
// Frame stream (plain voice files): one record per frame,
//   [rate = code + 1][data size by rate: 2, 0, 10, 22][codec packet]
// A reader takes the record length from the rate alone.
#ifndef EVRC_PACKET_H
#define EVRC_PACKET_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define EVRC_PACKET_CAPACITY 512
#define EVRC_STREAM_CAPACITY 512
// Largest codec packet (full rate).
#define EVRC_FRAME_MAX 22

// Codec packet bytes of a rate code (0..3); 0 for other codes.
uint32_t evrc_code_size(uint32_t code);
// Rate code of a codec packet size: 2 -> 0, 4 -> 1, 10 -> 2, 22 -> 3, else -1.
int evrc_size_to_rate(uint32_t size);
// Record length in a frame stream from its first byte: 4, 12 or 24 for rates
// 1, 3 and 4; 0 (invalid, ends the stream) otherwise.
uint32_t evrc_stream_record_length(uint8_t rate_byte);

typedef struct evrc_packet_writer {
    uint32_t capacity;
    uint32_t max_frames;
    uint8_t *start;
    uint8_t *codes;
    uint8_t *pos;
    uint32_t length;
    uint32_t frames;
} evrc_packet_writer;

// Starts a packet of `nframes` (1..255) frames in buf: writes N, zeroes the
// rate codes, places the write position behind them. 1, or 0 when an
// argument is invalid or the header does not fit.
int evrc_packet_writer_init(evrc_packet_writer *w, uint8_t *buf, uint32_t capacity,
                            uint32_t nframes);
// 1 when appended; 0 when w or packet is NULL, the code is above 3, the
// writer holds its maximum number of frames, or the frame would reach the
// end of the capacity.
int evrc_packet_add_frame(evrc_packet_writer *w, uint32_t code, const uint8_t *packet);

typedef struct evrc_packet_reader {
    uint32_t length;
    uint32_t count;
    const uint8_t *start;
    const uint8_t *codes;
    const uint8_t *first;
    uint32_t index;
    uint32_t code;
    uint32_t size;
    const uint8_t *pos;
} evrc_packet_reader;

// 1 when the reader is set on the first frame; 0 when an argument is NULL,
// the length is below 4, the count is 0 or the rate codes do not fit.
int evrc_packet_reader_init(const uint8_t *packet, uint32_t length, evrc_packet_reader *r);
// 1 when the current frame lies wholly inside the packet.
int evrc_packet_reader_frame_ok(const evrc_packet_reader *r);
// Moves to the next frame; 0 after the last one.
int evrc_packet_reader_next(evrc_packet_reader *r);

// Converts a multi-frame packet into a frame stream in out (512 bytes):
// bytes written, or 0 when the packet is unreadable or the stream would
// reach 512 bytes. Frames that do not lie wholly inside the packet end it.
uint32_t evrc_packet_to_stream(const uint8_t *packet, uint32_t length, uint8_t *out);

#ifdef __cplusplus
}
#endif

#endif
