// The socket server's wait and wake-up across threads, and waits that a
// signal interrupts.
#include "rtc/physicalsocketserver.h"
#include "rtc/thread.h"
#include "rtc/timeutils.h"
#include "rtc_fixture.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>
#include <thread>

namespace
{

TEST(SocketServerWaitTest, WakeUpFromAnotherThreadEndsAnEndlessWait)
{
    rtc::PhysicalSocketServer ss;
    std::thread waker([&] { ss.WakeUp(); });
    EXPECT_TRUE(ss.Wait(rtc::kForever, true));
    waker.join();
}

TEST(SocketServerWaitTest, WakeUpBeforeTheWaitIsNotLost)
{
    rtc::PhysicalSocketServer ss;
    ss.WakeUp();
    ss.WakeUp();
    int64_t start = rtc::SystemTimeMillis();
    EXPECT_TRUE(ss.Wait(10000, false));
    EXPECT_LT(rtc::SystemTimeMillis() - start, 5000);
    // Both wake-ups were taken by that one wait.
    start = rtc::SystemTimeMillis();
    EXPECT_TRUE(ss.Wait(50, false));
    EXPECT_GE(rtc::SystemTimeMillis() - start, 50);
}

void OnSignal(int) {}

TEST(SocketServerWaitTest, SignalsDoNotEndATimedWaitEarly)
{
    struct sigaction sa = {};
    sa.sa_handler = OnSignal; // no SA_RESTART: poll returns EINTR
    struct sigaction old;
    ASSERT_EQ(0, sigaction(SIGUSR1, &sa, &old));
    rtc::PhysicalSocketServer ss;
    pthread_t waiter = pthread_self();
    std::atomic<bool> done{false};
    std::thread signaller([&] {
        while (!done) {
            pthread_kill(waiter, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    int64_t start = rtc::SystemTimeMillis();
    bool ok = ss.Wait(200, true);
    int64_t took = rtc::SystemTimeMillis() - start;
    done = true;
    signaller.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_TRUE(ok);
    EXPECT_GE(took, 200);
}

TEST(SocketServerWaitTest, WorkerKeepsServingThroughSignals)
{
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    struct sigaction old;
    ASSERT_EQ(0, sigaction(SIGUSR2, &sa, &old));
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    pthread_t handle = worker.Invoke<pthread_t>(RTC_FROM_HERE, [] { return pthread_self(); });
    for (int i = 0; i < 20; i++) {
        pthread_kill(handle, SIGUSR2);
        EXPECT_EQ(i, worker.Invoke<int>(RTC_FROM_HERE, [i] { return i; }));
    }
    worker.Stop();
    sigaction(SIGUSR2, &old, nullptr);
}

} // namespace
