#include "hal_log.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <regex>
#include <string>

using ptt::test::read_file;
using ptt::test::TempCwd;

namespace
{

struct LogFixture : ::testing::Test {
    TempCwd cwd;
    hal_log *log = hal_log_new(nullptr);
    void TearDown() override
    {
        hal_log_destroy(&log);
    }
    std::string contents()
    {
        return read_file(cwd.file("kvptt.log"));
    }
};

TEST_F(LogFixture, LineFormatMatchesTheFileLayout)
{
    ASSERT_EQ(0, hal_log_set_file(log, "kvptt.log"));
    ASSERT_EQ(0, hal_log_output(log, 3, "looper", "main thread: %u", 5124u));
    ASSERT_EQ(0, hal_log_output(log, 2, "ini", "%s", "verbose line"));
    ASSERT_EQ(0, hal_log_output(log, 7, "x", "fatal"));
    std::regex line(R"(\[DEBUG\] \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\tlooper\tmain thread: 5124
\[VERBOSE\] \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\tini\tverbose line
\[FATAL\] [^\t]+\tx\tfatal
)");
    EXPECT_TRUE(std::regex_match(contents(), line)) << contents();
}

TEST_F(LogFixture, MessagesAreNotTruncated)
{
    ASSERT_EQ(0, hal_log_set_file(log, "kvptt.log"));
    std::string big(5000, 'q');
    ASSERT_EQ(0, hal_log_output(log, 4, "t", "%s|", big.c_str()));
    EXPECT_NE(std::string::npos, contents().find(big + "|\n"));
}

TEST_F(LogFixture, PriorityAndThresholdRules)
{
    ASSERT_EQ(0, hal_log_set_file(log, "kvptt.log"));
    struct Case {
        int priority;
        int result;
        bool written;
    } cases[] = {
        {1, 0, false}, {2, 0, true}, {0, 0, false}, {-4, 0, false}, {9, -1, false}, {6, 0, true},
    };
    for (const auto &c : cases) {
        std::string before = contents();
        EXPECT_EQ(c.result, hal_log_output(log, c.priority, "t", "p%d", c.priority)) << c.priority;
        EXPECT_EQ(c.written, contents().size() > before.size()) << c.priority;
    }
    EXPECT_EQ(-1, hal_log_output(log, 4, nullptr, "x"));
    EXPECT_EQ(-1, hal_log_output(log, 4, "t", nullptr));
    EXPECT_EQ(-1, hal_log_output(nullptr, 4, "t", "x"));
}

TEST_F(LogFixture, SetPriorityRefusesOutOfRangeAndEightSilences)
{
    EXPECT_EQ(-1, hal_log_set_priority(log, 1));
    EXPECT_EQ(-1, hal_log_set_priority(log, 9));
    EXPECT_EQ(2, hal_log_get_priority(log));
    ASSERT_EQ(0, hal_log_set_file(log, "kvptt.log"));
    ASSERT_EQ(0, hal_log_set_priority(log, 8));
    EXPECT_EQ(0, hal_log_output(log, 7, "t", "fatal but silenced"));
    EXPECT_EQ(-1, hal_log_output(log, 9, "t", "out of range reaches the threshold"));
    EXPECT_EQ("", contents());
    ASSERT_EQ(0, hal_log_set_priority(log, 5));
    EXPECT_EQ(0, hal_log_output(log, 4, "t", "dropped"));
    EXPECT_EQ(0, hal_log_output(log, 5, "t", "kept"));
    EXPECT_EQ(std::string::npos, contents().find("dropped"));
    EXPECT_NE(std::string::npos, contents().find("[WARN]"));
}

TEST_F(LogFixture, SecondFileIsRefusedAndFirstKept)
{
    ASSERT_EQ(0, hal_log_set_file(log, "kvptt.log"));
    EXPECT_EQ(-1, hal_log_set_file(log, "other.log"));
    EXPECT_EQ(0, hal_log_output(log, 4, "t", "goes to the first"));
    EXPECT_NE(std::string::npos, contents().find("goes to the first"));
    EXPECT_EQ("", read_file(cwd.file("other.log")));
}

TEST_F(LogFixture, OpeningTruncatesAnExistingFile)
{
    ASSERT_TRUE(ptt::test::write_file(cwd.file("kvptt.log"), "old contents\n"));
    ASSERT_EQ(0, hal_log_set_file(log, "kvptt.log"));
    EXPECT_EQ("", contents());
    EXPECT_EQ(-1, hal_log_set_file(nullptr, "x.log"));
}

TEST_F(LogFixture, WithoutFileLinesReachStandardOutput)
{
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, hal_log_output(log, 4, "tag", "to stdout %d", 42));
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("[INFO] "));
    EXPECT_NE(std::string::npos, out.find("\ttag\tto stdout 42\n"));
}

TEST(LogDestroy, NullHandlesAreIgnoredAndHandleIsCleared)
{
    hal_log_destroy(nullptr);
    hal_log *none = nullptr;
    hal_log_destroy(&none);
    hal_log *log = hal_log_new(nullptr);
    ASSERT_NE(nullptr, log);
    hal_log_destroy(&log);
    EXPECT_EQ(nullptr, log);
}

} // namespace
