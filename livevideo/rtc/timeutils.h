// Queue time of the thread base: 64-bit milliseconds of the monotonic clock,
// read through one seam that tests replace with a clock they step by hand.
#pragma once

#include <cstdint>

namespace rtc
{

// A wait or delay without limit.
constexpr int kForever = -1;

using ClockFunction = int64_t (*)();

// Milliseconds of CLOCK_MONOTONIC, or of the clock set for testing.
int64_t TimeMillis();
// Milliseconds of CLOCK_MONOTONIC, always: socket-level waits measure real time
// even while a test steps the queue's clock.
int64_t SystemTimeMillis();
// Replaces the clock behind TimeMillis; null restores CLOCK_MONOTONIC.
void SetClockForTesting(ClockFunction clock);

inline int64_t TimeDiff(int64_t later, int64_t earlier)
{
    return later - earlier;
}

inline int64_t TimeAfter(int64_t elapsed)
{
    return TimeMillis() + elapsed;
}

} // namespace rtc
