// Byte ring for coded voice frames between the looper and the audio threads.
// Its size is a power of two and one byte always stays free, so equal read and
// write positions mean empty. Reads and writes are all or nothing. No locking:
// the device layer guards each ring with its own lock.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ringbuffer ringbuffer;

// size must be a power of two of at least 2; NULL otherwise or out of memory.
ringbuffer *ringbuffer_new(uint32_t size);
void ringbuffer_destroy(ringbuffer **rb);
// n, or 0 (nothing moved) when fewer than n bytes wait / n bytes do not fit.
uint32_t ringbuffer_read(ringbuffer *rb, void *dst, uint32_t n);
uint32_t ringbuffer_write(ringbuffer *rb, const void *src, uint32_t n);
// Bytes waiting to be read.
uint32_t ringbuffer_count(ringbuffer *rb);

#ifdef __cplusplus
}
#endif
