// Calls into an engine from a test: a function run on the engine's looper
// thread, as every internal operation must be, and a wait for the timers due
// at the current engine time.
#pragma once

#include "hal_looper.h"

#include <functional>

namespace ptt::test
{

// Runs fn on the looper and returns its result.
inline int looper_call(hal_looper *looper, std::function<int()> fn)
{
    return hal_looper_exec(
        looper,
        [](hal_looper *, void *arg) { return (*static_cast<std::function<int()> *>(arg))(); }, &fn);
}

// Returns once the looper has run every timer due at the current time: the
// first round trip lets due timers fire, the second runs what they posted.
inline void looper_settle(hal_looper *looper)
{
    looper_call(looper, [] { return 0; });
    looper_call(looper, [] { return 0; });
}

} // namespace ptt::test
