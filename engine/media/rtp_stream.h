// The voice streams of a talk session, between the session's UDP socket and
// the sound queue (hal_sound.h).
//
// rtp_ostream (send): every 20 ms it takes the coded frames the recorder has
// produced and bundles a fixed number of them ("fop" in [record]) into one
// RTP packet: AMR-NB as payload type 101, EVRC as a multi-frame packet of
// type 103 (evrc_packet.h); 111 and 113 when the payload is encrypted with
// AES-256-ECB/PKCS#7. The packet waits in `packet`/`last_len` and the owner
// is told with event 2; the owner sends it and clears `last_len`.
//
// rtp_istream (receive): locks on to the first packet's SSRC and payload
// type, checks sequence numbers (probation, jumps, duplicates, reordering),
// keeps a jitter estimate, stores the payload in a speexdsp jitter buffer,
// starts playing once 400 ms of voice have arrived and then hands the owner
// one coded frame per 20 ms, filling gaps by replaying the frames just played
// or with erasure frames.
//
// Threads: everything runs on the looper thread; both streams tick on their
// own 0.02 s looper timers. No locks.
//
// Owner callbacks: the constructors fix them to the talk session's handlers
// session_on_istream_stop and session_on_ostream_notify, declared below and
// defined by the session (engine/core). The media layer refers to them
// weakly, so it links without the core: a program that defines neither gets
// streams that report to nobody. Test programs define their own versions.
//
// A stream may be destroyed from inside its own owner callback (or from
// anything the callback calls): the destroy clears the handle and stops the
// timer at once, and the memory is released when the stream's operation
// that made the call returns.
#ifndef RTP_STREAM_H
#define RTP_STREAM_H

#include "hal_dsp.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_log hal_log;
typedef struct hal_looper hal_looper;
typedef struct hal_sound hal_sound;
typedef struct list list;
typedef struct JitterBuffer_ JitterBuffer;
// The 12 fixed header bytes as etpacket_unpack_rtp (etpacket.h) leaves them:
// version byte, marker/payload type byte, then sequence number, timestamp
// and SSRC in host order.
typedef struct rtp_header rtp_header;

#define RTP_HEADER_SIZE 12
// Room for a payload, plain or encrypted: a plain payload stays below this
// so that its padded, encrypted form still fits.
#define RTP_PAYLOAD_MAX 176
#define RTP_PACKET_MAX (RTP_HEADER_SIZE + RTP_PAYLOAD_MAX)
// Key field: at most 35 characters and a terminator; the first 32 bytes
// (zero-filled) are the AES-256 key.
#define RTP_KEY_FIELD 36
#define RTP_KEY_MAX (RTP_KEY_FIELD - 1)
// Frame buffer of rtp_istream_pop_frame: a hal_sound_frame with room for 60
// data bytes.
#define RTP_POP_FRAME_SIZE 64
#define RTP_POP_FRAME_DATA (RTP_POP_FRAME_SIZE - 4)

// Payload types on the wire (the plain ones are HAL_PT_AMR and HAL_PT_EVRC).
#define RTP_PT_AMR_ENCRYPTED 111
#define RTP_PT_EVRC_ENCRYPTED 113

// Receive stream to owner.
typedef enum rtp_istream_event {
    RTP_ISTREAM_EVENT_START = 0,     // 400 ms have arrived: playing starts
    RTP_ISTREAM_EVENT_FRAMES = 1,    // at least one frame waits for rtp_istream_pop_frame
    RTP_ISTREAM_EVENT_RESTARTED = 2, // the stream was playing and has been reset
    RTP_ISTREAM_EVENT_DRAINED = 3,   // draining and nothing is left (every tick)
} rtp_istream_event;

// Send stream to owner.
typedef enum rtp_ostream_event {
    RTP_OSTREAM_EVENT_START = 0,   // the first packet is about to be built
    RTP_OSTREAM_EVENT_DRAINED = 1, // draining and the queue is empty (every tick)
    RTP_OSTREAM_EVENT_PACKET = 2,  // `packet` holds `last_len` bytes to send
} rtp_ostream_event;

typedef enum rtp_istream_state {
    RTP_ISTREAM_BUFFERING = 0,
    RTP_ISTREAM_PLAYING = 1,
    RTP_ISTREAM_DRAINING = 2,
} rtp_istream_state;

typedef enum rtp_ostream_state {
    RTP_OSTREAM_WAITING = 0,
    RTP_OSTREAM_SENDING = 1,
    RTP_OSTREAM_DRAINING = 2,
} rtp_ostream_state;

// stream is the rtp_istream or rtp_ostream that reports; the result of the
// call is not used.
typedef void (*rtp_stream_notify_cb)(void *stream, uint32_t event, void *owner);

// The talk session's handlers (engine/core), fixed as the owner callbacks.
void session_on_istream_stop(void *stream, uint32_t event, void *owner);
void session_on_ostream_notify(void *stream, uint32_t event, void *owner);

// Payload copies held by the jitter buffer, linked so that none is lost.
typedef struct rtp_copy_link {
    struct rtp_copy_link *prev;
    struct rtp_copy_link *next;
} rtp_copy_link;

// Frame queues (`ready`, `history`, `frames`) are lists of heap
// hal_sound_frame records (hal_malloc, 4 + size bytes); a queue owns its
// frames and whoever removes one frees it with hal_free.

// Far-off packets remembered while waiting for one to be continued: enough
// for a real jump to be followed among dozens of strays per packet.
#define RTP_ISTREAM_JUMP_CANDIDATES 64

// Receive stream. The owner only calls the operations below; the fields are
// read by tests and logs.
typedef struct rtp_istream {
    hal_ctx *ctx;
    hal_looper *looper;
    hal_log *log;
    uint32_t state; // rtp_istream_state
    uint32_t ssrc;  // locked; 0 until the first packet
    uint32_t pt;    // locked plain payload type (101 or 103)
    uint64_t probation_left;
    uint64_t probation; // [play] packprobation, 0..100, default 2
    uint32_t last_seq;  // 32-bit in probation, compared as 16 bits after it
    uint32_t last_ts;
    double last_arrival; // engine seconds
    uint64_t packets;
    uint64_t payload_bytes;
    uint64_t dropped;
    uint64_t bad_seq;
    uint64_t unordered;
    uint64_t voice_frames; // frames of received voice handed out while playing
    uint64_t samples;      // received since the last restart
    double jitter;         // seconds
    // A packet far off the sequence is followed only when a packet of its
    // own sequence continues it: jump_next holds the sequence numbers (16
    // bits) that would continue the latest far packets, jump_ts their
    // timestamps, jump_count of them, the oldest overwritten at jump_at.
    uint16_t jump_next[RTP_ISTREAM_JUMP_CANDIDATES];
    uint32_t jump_ts[RTP_ISTREAM_JUMP_CANDIDATES];
    // In probation also their payloads (owned), so the packet that began a
    // confirmed sequence is played too.
    uint8_t *jump_payload[RTP_ISTREAM_JUMP_CANDIDATES];
    uint32_t jump_length[RTP_ISTREAM_JUMP_CANDIDATES];
    uint32_t jump_count;
    uint32_t jump_at;
    JitterBuffer *jb;
    list *ready;           // frames to hand out, in playing order
    list *history;         // frames handed out since the last jitter-buffer read
    uint32_t timer_status; // 0 before the first tick, 1 inside it, 2 after
    rtp_stream_notify_cb notify;
    void *owner;
    // Internal: operations running on the stream, a destroy deferred until
    // they return, and the payload copies given to the jitter buffer.
    uint32_t busy;
    uint32_t dying;
    rtp_copy_link copies;
} rtp_istream;

// Send stream. The owner reads `state`, `packet` and `last_len`, clears
// `last_len` once it has sent the packet, and starts draining by setting
// `state` to RTP_OSTREAM_DRAINING and appending heap frames (rtp_frame_copy)
// to `frames`.
typedef struct rtp_ostream {
    hal_looper *looper;
    hal_log *log;
    hal_sound *sound;
    uint32_t state; // rtp_ostream_state
    uint64_t sent;  // packets built
    uint32_t pt;    // 101 or 103
    uint32_t ssrc;
    uint32_t ts;
    uint32_t seq;     // its low 16 bits are sent
    double next_send; // engine seconds
    rtp_stream_notify_cb notify;
    void *owner;
    list *frames; // frames waiting to be sent
    uint64_t last_len;
    uint8_t packet[RTP_PACKET_MAX];
    uint32_t fop; // frames per packet: [record] fop, 1..5 (AMR-NB) or 1..7 (EVRC)
    uint32_t is_encryp;
    char key[RTP_KEY_FIELD];
    // Internal: see rtp_istream.
    uint32_t busy;
    uint32_t dying;
} rtp_ostream;

// ---- Receive stream ------------------------------------------------------

// A stream in state 0 with its 20 ms timer set; reserved is ignored; owner
// is handed back to session_on_istream_stop. NULL when memory runs out or
// ctx is NULL.
rtp_istream *rtp_istream_new(hal_ctx *ctx, uint32_t reserved, void *owner);
// Stops the timer, frees the jitter buffer, the queues and the stream, and
// clears the handle; NULL or a handle holding NULL: nothing.
void rtp_istream_destroy(rtp_istream **stream);
// One received packet: header as etpacket_unpack_rtp leaves it, payload
// already decrypted (for EVRC converted to [rate][size][data] records by
// evrc_packet_to_stream). The header may carry the encrypted payload types
// (111, 113): they count as 101 and 103. 1 accepted (stored, or dropped as
// malformed); 0 dropped or restarted; -1 refused (no stream, another SSRC or
// payload type than the locked ones, or draining).
int rtp_istream_put(rtp_istream *stream, const rtp_header *header, const uint8_t *payload,
                    uint32_t length);
// Starts draining: every packet left in the jitter buffer goes to the ready
// queue at once (gaps between them filled with erasure frames); later
// packets are refused; the timer hands the frames out one per tick (event 1)
// and then reports event 3 on every tick.
void rtp_istream_get(rtp_istream *stream);
// Copies the front ready frame into frame (RTP_POP_FRAME_SIZE bytes) with
// the stream's payload type: 1; 0 when the queue is empty or the frame holds
// more than 60 data bytes (it is taken all the same).
int rtp_istream_pop_frame(rtp_istream *stream, hal_sound_frame *frame);
// Resets the stream at this packet (not stored): new probation, jitter
// buffer and queues emptied, event 2 when it was playing.
void rtp_istream_restart(rtp_istream *stream, const rtp_header *header, double arrival);
// The 20 ms tick (a hal_looper_timer_fn; stream is the rtp_istream).
void rtp_istream_on_timer(hal_looper *looper, double now, void *stream);

// ---- Send stream ---------------------------------------------------------

// A stream in state 0 with its 20 ms timer set, the frames recorded so far
// already queued. payload_type 101 or 103 (anything else: NULL, logged);
// reserved is ignored; owner is handed back to session_on_ostream_notify;
// is_encryp non-zero encrypts with key (NULL: empty; at most 35 characters
// are kept). Timestamp and sequence number start from the engine time in
// whole seconds s: s & 0xFFFF and (s & 255) + 400. NULL when memory runs out
// or ctx is NULL.
rtp_ostream *rtp_ostream_new(hal_ctx *ctx, uint32_t ssrc, uint32_t payload_type, uint32_t reserved,
                             void *owner, uint32_t is_encryp, const char *key);
// Stops the timer, frees the queue with its frames and the stream, and
// clears the handle; NULL or a handle holding NULL: nothing.
void rtp_ostream_destroy(rtp_ostream **stream);
// While the sound queue records (current or full-duplex record action):
// appends a copy of the next recorded frame. 1 when one was appended, else 0.
int rtp_ostream_fill(rtp_ostream *stream);
// Builds the next packet from the queue (at most fop frames) and reports it
// with event 2: its length, or a value below 1 when none was built.
int rtp_ostream_send_packet(rtp_ostream *stream);
// The 20 ms tick (a hal_looper_timer_fn; stream is the rtp_ostream).
void rtp_ostream_on_timer(hal_looper *looper, double now, void *stream);

// ---- Frames and packets --------------------------------------------------

// Takes up to `most` frames from the front of the queue (freeing them) and
// writes header and payload into out (RTP_PACKET_MAX bytes). key: the first
// 32 bytes of the text (zero-filled) are the AES key when is_encryp is set.
// 12 + payload length; -1 for an empty queue, `most` 0, a payload type other
// than 101 or 103, an EVRC frame of another size than 2, 4, 10 or 22 bytes,
// or a payload that would reach 176 bytes (the frames taken are dropped).
int rtp_pack_packet(list *frames, uint32_t most, uint32_t payload_type, uint32_t ts, uint32_t ssrc,
                    uint32_t seq, uint8_t *out, uint32_t is_encryp, const char *key);
// Appends the frames of a received payload (as rtp_istream_put takes it) to
// the queue. 0; -1 for no payload, a payload type other than 101 or 103, or
// a malformed payload (the queue is then cleared).
int rtp_split_payload(list *frames, uint32_t payload_type, uint32_t reserved,
                      const uint8_t *payload, uint32_t length);
// A heap erasure frame: AMR-NB one byte 0x7C; EVRC ten zero bytes. NULL for
// another payload type or when memory runs out.
hal_sound_frame *rtp_make_erasure_frame(uint32_t payload_type);
// A heap copy (hal_malloc) of a frame; NULL for NULL or out of memory.
hal_sound_frame *rtp_frame_copy(const hal_sound_frame *frame);
// Removes and frees every frame; NULL is ignored.
void rtp_frame_queue_clear(list *frames);

#ifdef __cplusplus
}
#endif

#endif
