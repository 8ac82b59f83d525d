// Inside the sound-device layer: what a backend provides and the helpers it
// may use to wait on its device thread. Only wave_*.cpp include this.
#ifndef WAVE_BACKEND_H
#define WAVE_BACKEND_H

#include "wave.h"

#include <stdint.h>
#include <time.h>

// A transfer was cut short by a reset, a stop or a close.
#define WAVE_EINTR (-100)

typedef struct wave_backend_ops {
    int (*count)(wave_dir dir);
    int (*caps)(wave_dir dir, int index, char *name, size_t size);
    // Caller's thread; sets dev->impl. 0 or a negative code.
    int (*open)(wave_dev *dev, int index);
    // Device thread: capture into, or play, one buffer of `frames` samples.
    // Returns the frames moved, WAVE_EINTR when interrupted (the buffer is
    // then handed back by the reset or close), or another negative code when
    // the device has failed for good.
    int (*transfer)(wave_dev *dev, int16_t *pcm, uint32_t frames);
    // Device thread: capture stopped, or the device reset. discard is set
    // when buffers were still queued (their sound may be dropped); when
    // clear, everything already handed back should still be heard.
    void (*stop)(wave_dev *dev, int discard);
    // Caller's thread, after the device thread has ended.
    void (*close)(wave_dev *dev);
    // Caller's thread, before a buffer is queued for output; NULL: always 0.
    int (*write_check)(wave_dev *dev);
    // Plays PCM synchronously on a device of its own.
    int (*beep)(const int16_t *pcm, uint32_t frames);
} wave_backend_ops;

extern const wave_backend_ops wave_alsa_ops;
extern const wave_backend_ops wave_null_ops;
extern const wave_backend_ops wave_file_ops;

// What a backend may read of its device.
wave_dir wave_dev_dir(const wave_dev *dev);
void *wave_dev_impl(const wave_dev *dev);
void wave_dev_set_impl(wave_dev *dev, void *impl);

// Device thread: 1 when the current transfer should give up (reset, close,
// or input stopped).
int wave_dev_interrupted(wave_dev *dev);
// Device thread: waits until the monotonic deadline (NULL: forever);
// 1 when interrupted first, else 0.
int wave_dev_wait_until(wave_dev *dev, const struct timespec *deadline);
// Device thread: takes one pumped-pacing credit, waiting for it; 1 when
// interrupted first, else 0.
int wave_dev_take_credit(wave_dev *dev);
// Any thread: gives credits and wakes the device.
void wave_dev_add_credits(wave_dev *dev, uint32_t periods);

// Monotonic time helpers.
void wave_now(struct timespec *ts);
void wave_add_ns(struct timespec *ts, int64_t ns);
int64_t wave_diff_ns(const struct timespec *a, const struct timespec *b); // a - b

// Duration of n frames in nanoseconds.
static inline int64_t wave_frames_ns(uint64_t n)
{
    return (int64_t)(n * 1000000000ull / WAVE_RATE);
}

#endif
