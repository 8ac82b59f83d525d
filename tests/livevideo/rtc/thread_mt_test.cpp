// The worker thread: start, stop, send and invoke across threads, the wrapping
// of callers that have no rtc::Thread, and sends nobody will serve.
#include "rtc/event.h"
#include "rtc/thread.h"
#include "rtc_fixture.h"

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <inttypes.h>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

using rtc_test::LogFolder;

namespace
{

struct Counter : rtc::MessageHandler {
    std::atomic<int> count{0};
    std::vector<uint32_t> ids; // only touched on the worker
    rtc::Event done{false, false};
    uint32_t last_id = static_cast<uint32_t>(-5);
    void OnMessage(rtc::Message *msg) override
    {
        ids.push_back(msg->message_id);
        ++count;
        delete msg->pdata;
        if (msg->message_id == last_id)
            done.Set();
    }
};

struct CountedData : rtc::MessageData {
    explicit CountedData(std::atomic<int> *count) : count_(count) {}
    ~CountedData() override
    {
        ++*count_;
    }
    std::atomic<int> *count_;
};

struct ThreadTest : ::testing::Test {
    LogFolder log;
};

TEST_F(ThreadTest, StartRunsTheLoopAndStopJoins)
{
    rtc::Thread worker;
    EXPECT_FALSE(worker.running());
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.running());
    Counter c;
    c.last_id = 9;
    for (uint32_t id = 1; id <= 9; id++)
        worker.Post(RTC_FROM_HERE, &c, id);
    ASSERT_TRUE(c.done.Wait(10000));
    EXPECT_EQ(std::vector<uint32_t>({1, 2, 3, 4, 5, 6, 7, 8, 9}), c.ids);
    worker.Stop();
    EXPECT_FALSE(worker.running());
    // A stopped thread can start again.
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(7, worker.Invoke<int>(RTC_FROM_HERE, [] { return 7; }));
    worker.Stop();
}

TEST_F(ThreadTest, InvokeRunsOnTheWorkerAndReturnsTheResult)
{
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    std::thread::id ran_on;
    std::string got = worker.Invoke<std::string>(RTC_FROM_HERE, [&] {
        ran_on = std::this_thread::get_id();
        EXPECT_EQ(&worker, rtc::Thread::Current());
        return std::string("done");
    });
    EXPECT_EQ("done", got);
    EXPECT_NE(std::this_thread::get_id(), ran_on);
    // A caller that had no rtc::Thread was wrapped for the call only.
    EXPECT_EQ(nullptr, rtc::Thread::Current());
}

TEST_F(ThreadTest, SendFromTheWorkerToItselfRunsAtOnce)
{
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    std::vector<int> order;
    worker.Invoke<void>(RTC_FROM_HERE, [&] {
        order.push_back(1);
        worker.Invoke<void>(RTC_FROM_HERE, [&] { order.push_back(2); });
        order.push_back(3);
    });
    EXPECT_EQ(std::vector<int>({1, 2, 3}), order);
}

TEST_F(ThreadTest, WrappedCallerLeavesNoRegistrationBehind)
{
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    size_t queues = rtc::MessageQueueManager::QueueCountForTesting();
    rtc::Thread *during = nullptr;
    std::thread caller([&] {
        worker.Invoke<void>(RTC_FROM_HERE, [] {});
        during = rtc::Thread::Current();
    });
    caller.join();
    EXPECT_EQ(nullptr, during);
    EXPECT_EQ(queues, rtc::MessageQueueManager::QueueCountForTesting());
}

TEST_F(ThreadTest, ThreadsSendingToEachOtherDoNotBlock)
{
    rtc::Thread a, b;
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    // main -> a -> b -> a: a is blocked in its send to b and must serve b's send.
    int depth = a.Invoke<int>(RTC_FROM_HERE, [&] {
        return b.Invoke<int>(RTC_FROM_HERE, [&] {
            return a.Invoke<int>(RTC_FROM_HERE, [&] {
                EXPECT_TRUE(a.IsCurrent());
                return 3;
            });
        });
    });
    EXPECT_EQ(3, depth);
}

TEST_F(ThreadTest, EightThreadsInvokeAThousandTimesEach)
{
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    int64_t sum = 0; // only the worker touches it
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 8; t++) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < 1000; i++) {
                int64_t v = t * 1000 + i;
                int64_t seen = worker.Invoke<int64_t>(RTC_FROM_HERE, [&sum, v] {
                    sum += v;
                    return v;
                });
                if (seen != v)
                    ++wrong;
            }
        });
    }
    for (auto &c : callers)
        c.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(int64_t{7999} * 8000 / 2, worker.Invoke<int64_t>(RTC_FROM_HERE, [&] { return sum; }));
}

TEST_F(ThreadTest, SendToAThreadThatNeverStartedReturnsAtOnceWithAnError)
{
    rtc::Thread never;
    std::atomic<int> freed{0};
    Counter c;
    never.Send(RTC_FROM_HERE, &c, 1, new CountedData(&freed));
    EXPECT_EQ(0, never.Invoke<int>(RTC_FROM_HERE, [] { return 5; }));
    EXPECT_EQ(0, c.count.load());
    EXPECT_EQ(1, freed.load());
    EXPECT_NE(std::string::npos, log.contents().find("not run: the thread is not serving"))
        << log.contents();
}

struct ReturnsAtOnce : rtc::Runnable {
    void Run(rtc::Thread *) override {}
};

TEST_F(ThreadTest, SendAfterTheLoopEndedReturnsAtOnce)
{
    rtc::Thread worker;
    ReturnsAtOnce runnable;
    ASSERT_TRUE(worker.Start(&runnable));
    // The runnable never serves messages; once it has returned nothing will.
    worker.Join();
    EXPECT_EQ(0, worker.Invoke<int>(RTC_FROM_HERE, [] { return 5; }));
}

// Holds the worker inside a handler until released.
struct Gate {
    rtc::Event entered{true, false};
    rtc::Event release{true, false};
    void Hold()
    {
        entered.Set();
        release.Wait(rtc::Event::kForever);
    }
};

struct HeldRunnable : rtc::Runnable {
    Gate gate;
    void Run(rtc::Thread *) override
    {
        gate.Hold();
    }
};

TEST_F(ThreadTest, SendsPendingWhenTheLoopEndsReturnUnrun)
{
    rtc::Thread worker;
    HeldRunnable runnable;
    ASSERT_TRUE(worker.Start(&runnable));
    ASSERT_TRUE(runnable.gate.entered.Wait(10000));
    std::atomic<int> ran{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < 3; i++)
        senders.emplace_back([&] { worker.Invoke<void>(RTC_FROM_HERE, [&] { ++ran; }); });
    // Queued or refused, every send comes back once the runnable returns
    // without serving them.
    runnable.gate.release.Set();
    for (auto &s : senders)
        s.join();
    EXPECT_EQ(0, ran.load());
    worker.Stop();
}

TEST_F(ThreadTest, SendToAStoppedThreadReturnsAtOnce)
{
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    worker.Stop();
    std::atomic<int> freed{0};
    Counter c;
    worker.Send(RTC_FROM_HERE, &c, 1, new CountedData(&freed));
    EXPECT_EQ(0, c.count.load());
    EXPECT_EQ(1, freed.load());
}

TEST_F(ThreadTest, ClearReturnsAPendingSendToItsSender)
{
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    Gate gate;
    struct Holder : rtc::MessageHandler {
        Gate *gate;
        void OnMessage(rtc::Message *) override
        {
            gate->Hold();
        }
    } holder;
    holder.gate = &gate;
    worker.Post(RTC_FROM_HERE, &holder);
    ASSERT_TRUE(gate.entered.Wait(10000));

    Counter target;
    std::atomic<bool> returned{false};
    std::thread sender([&] {
        worker.Send(RTC_FROM_HERE, &target, 4);
        returned = true;
    });
    // Clear from a third thread while the send waits: the sender returns unrun.
    ASSERT_TRUE(ptt::test::wait_until(
        [&] {
            rtc::MessageList removed;
            worker.Clear(&target, rtc::MQID_ANY, &removed);
            return !removed.empty();
        },
        std::chrono::seconds(10)));
    sender.join();
    EXPECT_TRUE(returned.load());
    gate.release.Set();
    worker.Stop();
    EXPECT_EQ(0, target.count.load());
}

TEST_F(ThreadTest, SetNameAddsTheAddressAsTwelveHexDigits)
{
    rtc::Thread worker;
    const void *obj = reinterpret_cast<const void *>(uintptr_t{0x00007F1234ABCDEF});
    ASSERT_TRUE(worker.SetName("AvVistrel", obj));
    EXPECT_EQ("AvVistrel 0x00007F1234AB", worker.name());
    ASSERT_TRUE(worker.SetName("plain", nullptr));
    EXPECT_EQ("plain", worker.name());
    std::regex fresh(R"(Thread 0x[0-9A-F]{12})");
    EXPECT_TRUE(std::regex_match(rtc::Thread().name(), fresh));

    ASSERT_TRUE(worker.SetName("AvVistrel", &worker));
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.SetName("other", nullptr));
    // The OS name is cut to the 15 bytes the kernel keeps.
    std::string os_name = worker.Invoke<std::string>(RTC_FROM_HERE, [] {
        char buf[32] = {};
        pthread_getname_np(pthread_self(), buf, sizeof(buf));
        return std::string(buf);
    });
    EXPECT_EQ("AvVistrel 0x00", os_name.substr(0, 14));
    EXPECT_EQ(15u, os_name.size());
}

TEST_F(ThreadTest, JoinFromAThreadThatDisallowsBlockingCallsWarns)
{
    rtc::Thread joiner, joined;
    ASSERT_TRUE(joiner.Start());
    ASSERT_TRUE(joined.Start());
    joiner.Invoke<void>(RTC_FROM_HERE, [&] {
        joiner.SetAllowBlockingCalls(false);
        joined.Stop();
    });
    std::regex line(std::string(rtc_test::kTimePattern) +
                    "  \\(thread:319\\): Waiting for the thread to join, but blocking calls "
                    "have been disallowed\n");
    EXPECT_TRUE(std::regex_search(log.contents(), line)) << log.contents();
}

// A derived thread, as the live-video instance is one.
class DerivedThread : public rtc::Thread
{
  public:
    ~DerivedThread() override
    {
        Stop();
    }
    std::string payload = "derived";
};

TEST_F(ThreadTest, ThreadsDieWhileOtherThreadsInvoke)
{
    // Every Invoke ends with its handler clearing itself from every registered
    // queue, including threads being destroyed at that moment.
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    std::atomic<bool> stop{false};
    std::vector<std::thread> callers;
    for (int t = 0; t < 3; t++) {
        callers.emplace_back([&] {
            while (!stop)
                worker.Invoke<void>(RTC_FROM_HERE, [] {});
        });
    }
    for (int i = 0; i < 40; i++) {
        auto doomed = std::make_unique<DerivedThread>();
        ASSERT_TRUE(doomed->Start());
        EXPECT_EQ("derived",
                  doomed->Invoke<std::string>(RTC_FROM_HERE, [&] { return doomed->payload; }));
        doomed.reset();
    }
    stop = true;
    for (auto &c : callers)
        c.join();
}

TEST_F(ThreadTest, DelayedPostsRunOnTheWorkerInTriggerOrder)
{
    rtc::Thread worker;
    ASSERT_TRUE(worker.Start());
    Counter c;
    c.last_id = 1;
    worker.PostDelayed(RTC_FROM_HERE, 60, &c, 1);
    worker.PostDelayed(RTC_FROM_HERE, 20, &c, 2);
    worker.Post(RTC_FROM_HERE, &c, 3);
    ASSERT_TRUE(c.done.Wait(10000));
    worker.Stop();
    EXPECT_EQ(std::vector<uint32_t>({3, 2, 1}), c.ids);
}

} // namespace
