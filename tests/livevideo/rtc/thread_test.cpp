// The thread's asserts: programming errors end the process with the assert line.
#include "rtc/thread.h"
#include "rtc_fixture.h"

#include <gtest/gtest.h>

namespace
{

using ThreadDeathTest = ::testing::Test;

TEST_F(ThreadDeathTest, JoinFromTheThreadItselfAsserts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    rtc_test::LogFolder log; // the dying child logs here, not beside the binary
    EXPECT_DEATH(
        {
            rtc::Thread worker;
            worker.Start();
            worker.Invoke<void>(RTC_FROM_HERE, [&] { worker.Join(); });
        },
        R"(\(common:59\): thread\(316\): ASSERT FAILED: !IsCurrent\(\) @ Join)");
    // The child wrote into this test's folder, which this process removes:
    // a folder of its own would outlive it.
    EXPECT_NE(log.contents().find("ASSERT FAILED: !IsCurrent() @ Join"), std::string::npos);
}

TEST_F(ThreadDeathTest, StartingARunningThreadAsserts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    rtc_test::LogFolder log; // the dying child logs here, not beside the binary
    EXPECT_DEATH(
        {
            rtc::Thread worker;
            worker.Start();
            worker.Start();
        },
        R"(\(common:59\): thread\(245\): ASSERT FAILED: !running\(\) @ Start)");
}

TEST_F(ThreadDeathTest, BlockingSendFromAThreadThatDisallowsItAsserts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    rtc_test::LogFolder log; // the dying child logs here, not beside the binary
    EXPECT_DEATH(
        {
            rtc::Thread a;
            rtc::Thread b;
            a.Start();
            b.Start();
            a.Invoke<void>(RTC_FROM_HERE, [&] {
                a.SetAllowBlockingCalls(false);
                b.Invoke<void>(RTC_FROM_HERE, [] {});
            });
        },
        R"(ASSERT FAILED: !caller \|\| caller->blocking_calls_allowed_ @ Send)");
}

} // namespace
