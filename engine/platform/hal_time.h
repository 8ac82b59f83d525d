// Engine time and wall-clock helpers.
//
// Engine time is a double of seconds taken from a 64-bit monotonic
// millisecond clock plus a fixed offset of 500.0; every looper timer and
// protocol timestamp uses it. Tests can replace the clock with a manual one
// (hal_clock_fake_*) so that timers of minutes fire in milliseconds of test
// time: every change of the manual clock wakes every running looper so it
// recomputes its wait.
#ifndef HAL_TIME_H
#define HAL_TIME_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_walltime {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t reserved;
    uint16_t millisecond;
} hal_walltime;

// Milliseconds of the engine clock (monotonic, never wraps).
uint64_t hal_clock_ms(void);
// Engine time: (ms mod 1000) * 0.001 + (ms div 1000) + 500.0.
double hal_time_now(void);

// Local date and time; 0, or -1 for a null pointer.
int hal_walltime_now(hal_walltime *out);
// "%Y-%m-%d %H:%M:%S.mmm" into buf; buf, or NULL when buf is NULL, size is 0
// or the text does not fit.
char *hal_walltime_string(char *buf, uint32_t size);

// Test seam: switch the engine clock to a manual clock that starts at
// start_ms and moves only through hal_clock_fake_advance. Process-wide.
void hal_clock_fake_enable(uint64_t start_ms);
// Moves the manual clock forward and wakes every looper.
void hal_clock_fake_advance(uint64_t ms);
// Back to the real monotonic clock; wakes every looper.
void hal_clock_fake_disable(void);

// Loopers register here to be woken whenever the clock is changed by hand.
// fn runs on the thread that changed the clock and must not block.
typedef void (*hal_clock_wake_fn)(void *arg);
int hal_clock_watch(hal_clock_wake_fn fn, void *arg);
void hal_clock_unwatch(hal_clock_wake_fn fn, void *arg);

#ifdef __cplusplus
}
#endif

#endif
