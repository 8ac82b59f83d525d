// Logging from several threads while the threshold changes: every line
// stays whole and (under TSan) the threshold is read without a race.
#include "hal_log.h"
#include "test_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace
{

TEST(LogThreads, LinesStayWholeWhileTheThresholdChanges)
{
    ptt::test::TempCwd cwd;
    hal_log *log = hal_log_new(nullptr);
    ASSERT_EQ(0, hal_log_set_file(log, "kvptt.log"));
    ::testing::internal::CaptureStdout();
    // Each writer's first line goes out before the toggling starts, at the
    // open threshold, and the rest only once it runs: left to the scheduler,
    // a loaded machine could run every write while the toggler sat
    // preempted at the closed threshold (no line at all), or before it
    // started (no change to race with).
    std::atomic<bool> go{true};
    std::atomic<int> first_lines{0};
    std::atomic<bool> toggling{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; t++) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 500; i++) {
                EXPECT_EQ(0, hal_log_output(log, 5, "mt", "thread %d line %d %s", t, i,
                                            "payload-payload-payload"));
                if (i == 0) {
                    first_lines++;
                    while (!toggling.load())
                        std::this_thread::yield();
                }
            }
        });
    }
    std::thread toggler([&] {
        while (first_lines.load() < 4)
            std::this_thread::yield();
        toggling = true;
        for (int i = 0; go.load(); i++)
            EXPECT_EQ(0, hal_log_set_priority(log, i % 2 ? 6 : 2));
    });
    for (auto &w : writers)
        w.join();
    go = false;
    toggler.join();
    (void)::testing::internal::GetCapturedStdout();
    hal_log_destroy(&log);

    std::istringstream in(ptt::test::read_file(cwd.file("kvptt.log")));
    std::regex whole(
        R"(\[WARN\] [0-9 :.-]{23}\tmt\tthread [0-3] line \d+ payload-payload-payload)");
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
        lines++;
    }
    EXPECT_GE(lines, 4);
    EXPECT_LE(lines, 2000);
}

} // namespace
