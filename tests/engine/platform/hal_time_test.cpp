#include "hal_time.h"

#include <gtest/gtest.h>
#include <string.h>

namespace
{

struct FakeClock : ::testing::Test {
    void TearDown() override
    {
        hal_clock_fake_disable();
    }
};

TEST_F(FakeClock, EngineTimeKeepsItsOffsetAndMillisecondSplit)
{
    hal_clock_fake_enable(0);
    EXPECT_DOUBLE_EQ(500.0, hal_time_now());
    hal_clock_fake_advance(1234);
    EXPECT_EQ(1234u, hal_clock_ms());
    EXPECT_NEAR(501.234, hal_time_now(), 1e-9);
}

TEST_F(FakeClock, NoWrapAfterFortyNineDays)
{
    // 2^32 ms is where a 32-bit tick counter would wrap.
    const uint64_t wrap = 4294967296ull;
    hal_clock_fake_enable(wrap - 500);
    double before = hal_time_now();
    hal_clock_fake_advance(1000);
    double after = hal_time_now();
    EXPECT_NEAR(1.0, after - before, 1e-6);
    EXPECT_GT(after, 4294967.0);
}

int g_wakes = 0;
void count_wake(void *arg)
{
    *static_cast<int *>(arg) += 1;
}

TEST_F(FakeClock, EveryChangeWakesWatchers)
{
    ASSERT_EQ(0, hal_clock_watch(count_wake, &g_wakes));
    hal_clock_fake_enable(10);
    hal_clock_fake_advance(5);
    hal_clock_fake_disable();
    hal_clock_unwatch(count_wake, &g_wakes);
    hal_clock_fake_enable(0);
    EXPECT_EQ(3, g_wakes);
    EXPECT_EQ(-1, hal_clock_watch(nullptr, nullptr));
}

TEST(RealClock, IsMonotonic)
{
    uint64_t a = hal_clock_ms();
    uint64_t b = hal_clock_ms();
    EXPECT_LE(a, b);
    EXPECT_GE(hal_time_now(), 500.0);
}

TEST(WallTime, StringNeedsTwentyFourBytes)
{
    char buf[64];
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(nullptr, hal_walltime_string(buf, 23));
    EXPECT_EQ(buf, hal_walltime_string(buf, 24));
    EXPECT_EQ(23u, strlen(buf));
    EXPECT_EQ('.', buf[19]);
    EXPECT_EQ(nullptr, hal_walltime_string(nullptr, 24));
    EXPECT_EQ(nullptr, hal_walltime_string(buf, 0));
}

TEST(WallTime, FillsFields)
{
    hal_walltime w;
    EXPECT_EQ(-1, hal_walltime_now(nullptr));
    ASSERT_EQ(0, hal_walltime_now(&w));
    EXPECT_GE(w.year, 2000);
    EXPECT_GE(w.month, 1);
    EXPECT_LE(w.month, 12);
    EXPECT_LE(w.millisecond, 999);
}

} // namespace
