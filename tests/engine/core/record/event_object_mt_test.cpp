// The engine's event object: a bounded wait that a signal from another
// thread ends, that resets after each signal, and that gives up in time.
#include "lirko_event_object.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

TEST(EventObject, BoundedWaitEndsOnSignalOrTimeout)
{
    lirko_event_object *ev = lirko_event_object_new();
    ASSERT_NE(ev, nullptr);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(lirko_event_object_wait_for(ev, 50), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(50));

    std::thread signaller([ev] { lirko_event_object_signal(ev); });
    EXPECT_EQ(lirko_event_object_wait_for(ev, 10'000), 0);
    signaller.join();
    // Reset by the wait that took it.
    EXPECT_EQ(lirko_event_object_wait_for(ev, 10), -1);

    lirko_event_object_signal(ev); // before anyone waits: kept
    EXPECT_EQ(lirko_event_object_wait_for(ev, 10), 0);
    EXPECT_EQ(lirko_event_object_wait_for(nullptr, 10), -1);
    lirko_event_object_destroy(&ev);
    EXPECT_EQ(ev, nullptr);
}
