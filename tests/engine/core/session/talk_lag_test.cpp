// A minute of talk between two engines keeps its mouth-to-ear lag: the
// bursts of the first and of the last ten seconds arrive with the same
// delay, on the real clock. A lag that creeps (a queue that grows with every
// late wake-up) gains seconds in a minute; one re-settled underflow on a busy
// machine costs a few frames either way, hence the 250 ms bound.
#include "talk_lag.h"

#include <gtest/gtest.h>

using namespace ptt::test;

TEST(TalkLag, AMinuteOfTalkKeepsItsLag)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a real-time lag check means nothing at a sanitizer's pace";
#endif
    TempCwd cwd;
    RealTalk talk;
    std::string why;
    ASSERT_TRUE(talk.start(cwd.path(), 61.0, 101, &why)) << why;
    LagProbe probe;
    ASSERT_EQ(talk.press(), 0);
    // Sixty seconds of voice: 600 packets relayed to the listener.
    ASSERT_TRUE(talk.server.wait_relayed(1001, 600, std::chrono::seconds(90)));
    ASSERT_EQ(talk.release(), 0);
    ASSERT_TRUE(talk.drained());
    probe.stop();
    std::vector<double> lags = probe.lags(read_wav_samples(talk.out_path));
    ASSERT_GE(lags.size(), 58u);
    double first = mean(lags, 0, 10), last = mean(lags, lags.size() - 10, lags.size());
    EXPECT_LE(std::fabs(last - first), 0.250) << "first " << first << " s, last " << last << " s";
    RecordProperty("median_lag_ms", (int)lrint(median(lags) * 1000));
    if (getenv("PTT_PRINT_LAGS")) {
        for (double l : lags)
            printf("lag %.1f\n", l * 1000);
    }
}
