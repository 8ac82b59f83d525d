// The queue on one thread, with the clock stepped by hand.
#include "rtc/messagequeue.h"
#include "rtc/physicalsocketserver.h"
#include "rtc_fixture.h"

#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using rtc_test::FakeClock;
using rtc_test::LogFolder;

namespace
{

struct Recorder : rtc::MessageHandler {
    std::vector<uint32_t> ids;
    FakeClock *clock = nullptr;
    int64_t take_ms = 0;
    void OnMessage(rtc::Message *msg) override
    {
        ids.push_back(msg->message_id);
        if (clock)
            clock->Advance(take_ms);
        delete msg->pdata;
    }
};

// Counts its destructions, so a test sees data freed exactly once.
struct CountedData : rtc::MessageData {
    explicit CountedData(int *count) : count_(count) {}
    ~CountedData() override
    {
        ++*count_;
    }
    int *count_;
};

struct QueueTest : ::testing::Test {
    LogFolder log;
    FakeClock clock;
    rtc::PhysicalSocketServer ss;
    rtc::MessageQueue queue{&ss, true};

    // Every message ready now, in the order Get hands them out.
    std::vector<uint32_t> Drain(Recorder *r)
    {
        rtc::Message msg;
        while (queue.Get(&msg, 0))
            queue.Dispatch(&msg);
        return r->ids;
    }
};

TEST_F(QueueTest, DelayedMessagesComeOutByTriggerTimeThenPostingOrder)
{
    Recorder r;
    queue.PostDelayed(RTC_FROM_HERE, 30, &r, 1);
    queue.PostDelayed(RTC_FROM_HERE, 10, &r, 2);
    queue.PostDelayed(RTC_FROM_HERE, 30, &r, 3);
    queue.PostDelayed(RTC_FROM_HERE, 10, &r, 4);
    queue.PostAt(RTC_FROM_HERE, rtc_test::FakeClock::Now() + 10, &r, 5);
    queue.PostDelayed(RTC_FROM_HERE, 20, &r, 6);
    queue.Post(RTC_FROM_HERE, &r, 7);

    EXPECT_EQ(std::vector<uint32_t>({7}), Drain(&r));
    EXPECT_EQ(10, queue.GetDelay());
    clock.Advance(9);
    EXPECT_EQ(1, queue.GetDelay());
    EXPECT_EQ(std::vector<uint32_t>({7}), Drain(&r));
    clock.Advance(1);
    EXPECT_EQ(0, queue.GetDelay());
    EXPECT_EQ(std::vector<uint32_t>({7, 2, 4, 5}), Drain(&r));
    clock.Advance(100);
    EXPECT_EQ(std::vector<uint32_t>({7, 2, 4, 5, 6, 1, 3}), Drain(&r));
    EXPECT_EQ(rtc::kForever, queue.GetDelay());
    EXPECT_TRUE(queue.empty());
}

TEST_F(QueueTest, LateTimeSensitiveMessageLogsItsDelay)
{
    Recorder r;
    struct Case {
        int64_t taken_after;
        bool warned;
    } cases[] = {{150, false}, {151, true}, {200, true}};
    for (const Case &c : cases) {
        std::string before = log.contents();
        queue.Post(RTC_FROM_HERE, &r, 77, nullptr, true);
        clock.Advance(c.taken_after);
        rtc::Message msg;
        ASSERT_TRUE(queue.Get(&msg, 0));
        EXPECT_EQ(77u, msg.message_id);
        std::string added = log.contents().substr(before.size());
        std::string expected = "(messagequeue:354): rtc::MessageQueue::Get: id: 77  delay: " +
                               std::to_string(c.taken_after) + "ms\n";
        if (c.warned)
            EXPECT_NE(std::string::npos, added.find(expected)) << added;
        else
            EXPECT_EQ("", added);
    }
}

TEST_F(QueueTest, SlowDispatchIsLoggedFromFiftyMilliseconds)
{
    Recorder r;
    r.clock = &clock;
    for (int64_t ms : {49, 50, 120}) {
        std::string before = log.contents();
        r.take_ms = ms;
        queue.Post(rtc::Location("Poster::Post", "poster.cpp:12"), &r, 1);
        rtc::Message msg;
        ASSERT_TRUE(queue.Get(&msg, 0));
        queue.Dispatch(&msg);
        std::string added = log.contents().substr(before.size());
        if (ms < 50) {
            EXPECT_EQ("", added);
            continue;
        }
        std::regex line(std::string(rtc_test::kTimePattern) +
                        "  \\(messagequeue:579\\): Message took " + std::to_string(ms) +
                        "ms to dispatch\\. Posted from: Poster::Post@poster\\.cpp:12\n");
        EXPECT_TRUE(std::regex_match(added, line)) << added;
    }
}

TEST_F(QueueTest, DestroyedHandlerLeavesNoMessageInAnyQueue)
{
    rtc::PhysicalSocketServer ss2;
    rtc::MessageQueue other(&ss2, true);
    Recorder keep;
    int freed = 0;
    {
        Recorder doomed;
        queue.Post(RTC_FROM_HERE, &doomed, 1, new CountedData(&freed));
        queue.PostDelayed(RTC_FROM_HERE, 5, &doomed, 2, new CountedData(&freed));
        other.Post(RTC_FROM_HERE, &doomed, 3, new CountedData(&freed));
        queue.Post(RTC_FROM_HERE, &keep, 4);
        other.PostDelayed(RTC_FROM_HERE, 5, &keep, 5);
    }
    EXPECT_EQ(3, freed);
    EXPECT_EQ(1u, queue.size());
    EXPECT_EQ(1u, other.size());
    clock.Advance(5);
    EXPECT_EQ(std::vector<uint32_t>({4}), Drain(&keep));
}

// Message data that owns a handler with messages of its own.
struct OwnsHandler : rtc::MessageData {
    std::unique_ptr<Recorder> inner = std::make_unique<Recorder>();
};

TEST_F(QueueTest, DataThatOwnsAHandlerIsFreedSafelyByAClear)
{
    rtc::PhysicalSocketServer ss2;
    rtc::MessageQueue other(&ss2, true);
    int freed = 0;
    {
        Recorder outer;
        auto *data = new OwnsHandler;
        other.Post(RTC_FROM_HERE, data->inner.get(), 1, new CountedData(&freed));
        queue.Post(RTC_FROM_HERE, data->inner.get(), 2, new CountedData(&freed));
        queue.Post(RTC_FROM_HERE, &outer, 3, data);
        // outer goes: its message's data goes, and with it the inner handler,
        // whose own messages leave both queues.
    }
    EXPECT_EQ(2, freed);
    EXPECT_TRUE(queue.empty());
    EXPECT_TRUE(other.empty());
}

TEST_F(QueueTest, ClearMatchesHandlerAndIdAndHandsTheMessagesOver)
{
    Recorder a, b;
    int freed = 0;
    queue.Post(RTC_FROM_HERE, &a, 1, new CountedData(&freed));
    queue.Post(RTC_FROM_HERE, &a, 2, new CountedData(&freed));
    queue.PostDelayed(RTC_FROM_HERE, 10, &a, 1, new CountedData(&freed));
    queue.Post(RTC_FROM_HERE, &b, 1, new CountedData(&freed));
    rtc::Message peeked;
    ASSERT_TRUE(queue.Peek(&peeked));
    EXPECT_EQ(1u, peeked.message_id);

    rtc::MessageList removed;
    queue.Clear(&a, 1, &removed);
    ASSERT_EQ(2u, removed.size()); // the peeked one and the delayed one
    EXPECT_EQ(0, freed);
    for (rtc::Message &m : removed)
        delete m.pdata;
    EXPECT_EQ(2, freed);

    queue.Clear(nullptr, 1); // any handler: b's message, data freed
    EXPECT_EQ(3, freed);
    clock.Advance(10);
    EXPECT_EQ(std::vector<uint32_t>({2}), Drain(&a));
    EXPECT_EQ(4, freed);
    EXPECT_TRUE(b.ids.empty());
}

TEST_F(QueueTest, PeekKeepsTheMessageForTheNextGet)
{
    Recorder r;
    queue.Post(RTC_FROM_HERE, &r, 8);
    queue.Post(RTC_FROM_HERE, &r, 9);
    rtc::Message msg;
    ASSERT_TRUE(queue.Peek(&msg));
    ASSERT_TRUE(queue.Peek(&msg));
    EXPECT_EQ(8u, msg.message_id);
    ASSERT_TRUE(queue.Get(&msg, 0));
    EXPECT_EQ(8u, msg.message_id);
    ASSERT_TRUE(queue.Get(&msg, 0));
    EXPECT_EQ(9u, msg.message_id);
    EXPECT_FALSE(queue.Get(&msg, 0));
}

TEST_F(QueueTest, StoppedQueueDropsPostsAndFreesTheirData)
{
    Recorder r;
    int freed = 0;
    queue.Quit();
    EXPECT_TRUE(queue.IsQuitting());
    queue.Post(RTC_FROM_HERE, &r, 1, new CountedData(&freed));
    queue.PostDelayed(RTC_FROM_HERE, 1, &r, 2, new CountedData(&freed));
    EXPECT_EQ(2, freed);
    EXPECT_TRUE(queue.empty());
    rtc::Message msg;
    EXPECT_FALSE(queue.Get(&msg, rtc::kForever)); // stopped: no wait at all
    queue.Restart();
    queue.Post(RTC_FROM_HERE, &r, 3);
    EXPECT_EQ(std::vector<uint32_t>({3}), Drain(&r));
}

TEST_F(QueueTest, DisposeDeletesOnTheQueueAndIsNeverHandedOut)
{
    int freed = 0;
    Recorder r;
    queue.Dispose(new CountedData(&freed));
    queue.Post(RTC_FROM_HERE, &r, 6);
    EXPECT_EQ(0, freed);
    EXPECT_EQ(std::vector<uint32_t>({6}), Drain(&r));
    EXPECT_EQ(1, freed);
}

TEST_F(QueueTest, GetWithATimeLimitReturnsFalseWhenNothingArrives)
{
    rtc::SetClockForTesting(nullptr); // a real wait of 30 ms
    rtc::Message msg;
    int64_t start = rtc::SystemTimeMillis();
    EXPECT_FALSE(queue.Get(&msg, 30));
    EXPECT_GE(rtc::SystemTimeMillis() - start, 30);
}

TEST(QueueManagerTest, QueuesRegisterForTheirLifetime)
{
    size_t before = rtc::MessageQueueManager::QueueCountForTesting();
    {
        rtc::PhysicalSocketServer ss;
        rtc::MessageQueue q(&ss, true);
        EXPECT_EQ(before + 1, rtc::MessageQueueManager::QueueCountForTesting());
    }
    EXPECT_EQ(before, rtc::MessageQueueManager::QueueCountForTesting());
    // The manager outlives its last queue: registering again works.
    rtc::PhysicalSocketServer ss;
    rtc::MessageQueue q(&ss, true);
    EXPECT_EQ(before + 1, rtc::MessageQueueManager::QueueCountForTesting());
}

} // namespace
