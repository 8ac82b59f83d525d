// A deterministic stand-in for the engine's platform under the fuzz targets:
// the looper runs on the calling thread only when the target turns it, the
// sockets touch no network and the sound queue decodes what it is handed
// instead of feeding a device. Time is the engine's fake clock, moved by the
// target alone. Linked in place of hal_looper.cpp, hal_sock.cpp and
// hal_sound.cpp; nothing here is thread-safe, nothing needs to be.
#ifndef FUZZ_STAGE_H
#define FUZZ_STAGE_H

#include <stdint.h>

typedef struct hal_looper hal_looper;
typedef struct hal_sock hal_sock;
typedef struct lirko_t lirko_t;

// The engine record every engine target works on, made at the first call in
// a private scratch folder that also becomes the working directory (the
// engine writes its log there), on the fake clock, with the log silenced.
lirko_t *stage_engine(void);

// One cycle as the real loop runs it: events posted so far, then the
// timers due at the current time.
void stage_cycle(hal_looper *looper);
// Moves the fake clock in steps of at most 20 ms, one cycle after each.
void stage_advance(hal_looper *looper, uint64_t ms);

// The UDP sockets that read: the newest one the engine registered a reader
// on, NULL when none is open.
hal_sock *stage_udp_reader(void);
// Hands one datagram to a socket's reader as if it had arrived: the reader
// sees it, then "would block". 0, or -1 when the socket has no reader.
int stage_deliver(hal_sock *sock, const uint8_t *data, uint32_t len);
// Frames handed to the sound queue for playing that are longer than the
// device path's frame buffer (60 bytes) holds, since the start: the receive
// path must never produce one.
uint64_t stage_frames_oversized(void);

#endif
