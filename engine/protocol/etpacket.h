// The signalling frame codec: every signalling message travels as
//   length (u32 BE) | name length N (u16 BE) | type name + NUL | body | checksum (u32 BE)
// The length counts the bytes after itself, or the whole frame when the
// engine runs in "broad" mode ([network] broad); both ends must agree on it.
// The body is the message's protobuf encoding; the checksum is a signed-byte
// Adler-32 variant over everything in front of it, or 0. Received checksums
// are never verified: the server sends 0 as often as not.
#ifndef ETPACKET_H
#define ETPACKET_H

#include <protobuf-c/protobuf-c.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_log hal_log;
typedef struct etpacket_registry etpacket_registry;

// etpacket_unpack: a frame that can never be read (the stream is broken).
// etpacket_unpack_rtp: a datagram too short for its RTP header.
#define ETPACKET_MALFORMED 0xFFFFFFFFu
// No frame is shorter: a one-letter name and an empty body.
#define ETPACKET_MIN_FRAME 12u
// No frame is longer. The connection's receive buffer stops growing here, so
// a larger declared size could never be buffered: it is malformed at once
// instead of stalling the stream, and packing refuses to produce one.
#define ETPACKET_MAX_FRAME 0x1000000u

// One codec per engine, owned by the engine record. The record comes from
// etpacket_new (calloc); etpacket_destroy releases the registry only and the
// owner releases the record itself with free().
typedef struct etpacket {
    etpacket_registry *registry;
    // Length mode: 0 = the length field counts the bytes after itself,
    // otherwise it counts the whole frame.
    uint8_t broad;
} etpacket;

// The fixed RTP header (RFC 3550) as etpacket_unpack_rtp leaves it: the
// multi-byte fields converted to host order in place. Packed because it is
// laid over a datagram buffer of any alignment.
typedef struct rtp_header {
    uint8_t vpxcc; // version (2 bits), padding, extension, CSRC count (4 bits)
    uint8_t mpt;   // marker (1 bit), payload type (7 bits)
    uint16_t seq;
    uint32_t ts;
    uint32_t ssrc;
} __attribute__((packed)) rtp_header;

// Makes the codec and its registry of every "ptt" message type. log may be
// NULL. NULL when memory runs out.
etpacket *etpacket_new(uint8_t broad, hal_log *log);
// Releases the registry and clears codec->registry; NULL codec or a codec
// without registry does nothing, so a second call is harmless.
void etpacket_destroy(etpacket *codec);

// Packs msg into one newly allocated frame of exactly T bytes stored in *out
// (the caller frees it with free()) and returns T. A result of 0 or below is a
// failure and leaves *out NULL: bad arguments, no memory, or a frame above
// ETPACKET_MAX_FRAME.
int32_t etpacket_pack(const etpacket *codec, uint8_t **out, const ProtobufCMessage *msg,
                      int with_checksum);

// Reads the first frame of bytes[0..count). Returns 0 when no whole frame is
// buffered yet, ETPACKET_MALFORMED for a broken stream, and otherwise the size
// T of the first frame (never more than count), which the caller removes from
// its buffer. On a size result *out holds the decoded message, or NULL when the
// type name is unknown or the body does not decode (a required field without a
// declared default missing counts as not decoding, also for an empty body);
// the caller frees a message with protobuf_c_message_free_unpacked(msg, NULL).
uint32_t etpacket_unpack(const etpacket *codec, const uint8_t *bytes, size_t count,
                         ProtobufCMessage **out);

// Adler-32 with the bytes taken as signed values.
uint32_t etpacket_checksum(const uint8_t *bytes, size_t count);

// Takes apart the RTP header at the start of packet: converts sequence
// number, timestamp, SSRC and the CSRC words to host order in place, points
// *header at the packet and *payload behind the CSRC list, and returns the
// payload length; ETPACKET_MALFORMED when the header does not fit. codec is
// not used.
uint32_t etpacket_unpack_rtp(const etpacket *codec, uint8_t *packet, uint32_t count,
                             rtp_header **header, uint8_t **payload);

#ifdef __cplusplus
}
#endif

#endif
