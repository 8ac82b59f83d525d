#include "rtc/timeutils.h"

#include <atomic>
#include <ctime>

namespace rtc
{

namespace
{

// The clock behind TimeMillis; any thread reads it, tests set it before the
// threads they check start and restore it after they end.
std::atomic<ClockFunction> g_clock{nullptr};

} // namespace

int64_t SystemTimeMillis()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t TimeMillis()
{
    ClockFunction clock = g_clock.load(std::memory_order_acquire);
    return clock ? clock() : SystemTimeMillis();
}

void SetClockForTesting(ClockFunction clock)
{
    g_clock.store(clock, std::memory_order_release);
}

} // namespace rtc
