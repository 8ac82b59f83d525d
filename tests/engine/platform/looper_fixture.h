// Helpers for tests that drive a looper: run lambdas on it, and a manual
// engine clock so timers of minutes fire in milliseconds.
#pragma once

#include "hal_looper.h"
#include "hal_time.h"

#include <gtest/gtest.h>
#include <type_traits>
#include <utility>

namespace ptt::test
{

// Runs f() on the looper thread through hal_looper_exec and returns its int.
template <typename F> int run_on(hal_looper *lp, F &&f)
{
    using Fn = std::remove_reference_t<F>;
    auto tramp = [](hal_looper *, void *arg) -> int { return (*static_cast<Fn *>(arg))(); };
    return hal_looper_exec(lp, tramp, (void *)&f);
}

inline int looper_noop(hal_looper *, void *)
{
    return 0;
}

// Returns once every cycle that started before the call has completed its
// event and timer steps: the second call is served in a later cycle than the
// first.
inline void settle(hal_looper *lp)
{
    (void)hal_looper_exec(lp, looper_noop, nullptr);
    (void)hal_looper_exec(lp, looper_noop, nullptr);
}

// A running looper on the manual clock, which starts at 1,000,000 ms.
struct LooperTest : ::testing::Test {
    hal_looper *lp = nullptr;
    void SetUp() override
    {
        hal_clock_fake_enable(1000000);
        lp = hal_looper_new(nullptr, nullptr);
        ASSERT_NE(nullptr, lp);
    }
    void TearDown() override
    {
        hal_looper_destroy(&lp);
        hal_clock_fake_disable();
    }
    // Moves the manual clock and waits until the looper has acted on it.
    void advance(uint64_t ms)
    {
        hal_clock_fake_advance(ms);
        settle(lp);
    }
};

} // namespace ptt::test
