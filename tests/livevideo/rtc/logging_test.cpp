// The live-video log: line layout, the cut in the file, error context, one
// file per run, and the asserts and fatal checks that end the process.
#include "rtc/logging.h"
#include "rtc_fixture.h"
#include "test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <string>

using rtc_test::LogFolder;

namespace
{

std::string Timed(const std::string &rest)
{
    return std::string(rtc_test::kTimePattern) + "  " + rest;
}

TEST(LogTest, LineLayoutInTheFile)
{
    LogFolder log;
    RTC_LOG_FILE_LINE("/src/livevideo/AvVistrel.cpp", 163, rtc::LS_INFO) << "value " << 42;
    RTC_LOG_FILE_LINE("C:\\src\\win.cpp", 7, rtc::LS_ERROR) << "bad";
    RTC_LOG_FILE_LINE(nullptr, 0, rtc::LS_WARNING) << "bare";
    std::regex expected(Timed(R"(\(AvVistrel\.cpp:163\): value 42
)") + Timed(R"(\(win\.cpp:7\): bad
)") + Timed("bare\n"));
    EXPECT_TRUE(std::regex_match(log.contents(), expected)) << log.contents();
}

TEST(LogTest, BelowInfoIsNeverBuilt)
{
    LogFolder log;
    int evaluated = 0;
    auto arg = [&] { return ++evaluated; };
    RTC_LOG(LS_VERBOSE) << arg();
    RTC_LOG(LS_SENSITIVE) << arg();
    EXPECT_EQ(0, evaluated);
    RTC_LOG(LS_INFO) << "kept " << arg();
    EXPECT_EQ(1, evaluated);
    EXPECT_NE(std::string::npos, log.contents().find("kept 1\n"));
    EXPECT_EQ(std::string::npos, log.contents().find("): 1\n"));
}

TEST(LogTest, LongLineIsCutInTheFileAndWholeOnStandardError)
{
    LogFolder log;
    std::string text(400, 'x');
    text[399] = 'E';
    ::testing::internal::CaptureStderr();
    RTC_LOG_FILE_LINE(nullptr, 0, rtc::LS_INFO) << text;
    RTC_LOG_FILE_LINE(nullptr, 0, rtc::LS_INFO) << "next";
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(text + "\nnext\n", err);

    std::string file = log.contents();
    size_t eol = file.find('\n');
    ASSERT_NE(std::string::npos, eol);
    std::string first = file.substr(0, eol);
    // Time (23), two blanks, then text up to 299 characters in all.
    EXPECT_EQ(299u, first.size());
    EXPECT_EQ(std::string(299 - 25, 'x'), first.substr(25));
    EXPECT_TRUE(std::regex_match(file.substr(eol + 1), std::regex(Timed("next\n"))));
}

TEST(LogTest, ErrorContextGivesTheCodeAndItsText)
{
    LogFolder log;
    RTC_LOG_E(LS_ERROR, ERRCTX_SYSTEM, 5) << "open failed";
    RTC_LOG_E(LS_WARNING, ERRCTX_ERRNO, 0x1234abcd) << "odd";
    std::string file = log.contents();
    EXPECT_NE(std::string::npos,
              file.find("open failed : [0x00000005] " + std::string(strerror(5)) + "\n"))
        << file;
    EXPECT_NE(std::string::npos, file.find("odd : [0x1234ABCD] ")) << file;
}

TEST(LogTest, LocalTimeStringLayout)
{
    EXPECT_TRUE(
        std::regex_match(rtc::LogMessage::LocalTimeString(), std::regex(rtc_test::kTimePattern)));
}

TEST(LogTest, LogFileSitsInTheLogFolderBesideTheProgramAndEachRunStartsEmpty)
{
    ptt::test::TempCwd dir;
    std::string program = dir.file("writer");
    ASSERT_TRUE(ptt::test::copy_file(RTC_LOG_WRITER, program));
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);

    const std::string at = R"(\(log_writer\.cpp:\d+\): )";
    auto run = ptt::test::run_program(program, {"first run", "second line"});
    ASSERT_EQ(0, run.exit_code) << run.err;
    EXPECT_TRUE(std::regex_match(run.err, std::regex(at + "first run\n" + at + "second line\n")))
        << run.err;
    std::string log = ptt::test::read_file(dir.file("log/kvvideo.log"));
    EXPECT_TRUE(
        std::regex_match(log, std::regex(Timed(at + "first run\n") + Timed(at + "second line\n"))))
        << log;

    run = ptt::test::run_program(program, {"only this"});
    ASSERT_EQ(0, run.exit_code) << run.err;
    log = ptt::test::read_file(dir.file("log/kvvideo.log"));
    EXPECT_TRUE(std::regex_match(log, std::regex(Timed(at + "only this\n")))) << log;
}

TEST(LogTest, UnwritableFolderSilencesOnlyTheFile)
{
    ptt::test::TempCwd dir;
    ASSERT_TRUE(ptt::test::write_file(dir.file("log"), "a file where the folder should be"));
    rtc::LogMessage::SetLogFolderForTesting(dir.path());
    ::testing::internal::CaptureStderr();
    RTC_LOG(LS_ERROR) << "still on stderr";
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("still on stderr\n"));
    rtc::LogMessage::SetLogFolderForTesting(dir.path() + "/gone");
}

using LogDeathTest = ::testing::Test;

TEST_F(LogDeathTest, AssertWritesItsLineAndEnds)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    rtc_test::LogFolder log; // the dying child logs here, not beside the binary
    int one = 1;
    EXPECT_DEATH(RTC_DCHECK(one == 2),
                 R"(\(common:59\): logging_test\.cpp\([0-9]+\): ASSERT FAILED: one == 2 @ )");
}

TEST_F(LogDeathTest, FatalCheckWritesItsBlockAndAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    rtc_test::LogFolder log; // the dying child logs here, not beside the binary
    void *ss = nullptr;
    EXPECT_DEATH(
        {
            errno = 13;
            RTC_CHECK_AT("messagequeue", 129, ss);
        },
        "\n\n#\n# Fatal error in messagequeue, line 129\n# last system error: 13\n"
        "# Check failed: ss\n#\n");
}

} // namespace
