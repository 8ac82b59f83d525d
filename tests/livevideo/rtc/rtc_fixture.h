// Shared by the thread-base tests: a clock the test steps by hand, and a log
// folder of the test's own.
#pragma once

#include "rtc/logging.h"
#include "rtc/timeutils.h"
#include "test_support.h"

#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace rtc_test
{

// Replaces the queue clock for its lifetime; starts far from zero so that
// "0 = not time sensitive" never collides with a real deadline.
class FakeClock
{
  public:
    explicit FakeClock(int64_t start = 1000000)
    {
        now_.store(start);
        rtc::SetClockForTesting(&FakeClock::Read);
    }
    ~FakeClock()
    {
        rtc::SetClockForTesting(nullptr);
    }
    void Advance(int64_t ms)
    {
        now_.fetch_add(ms);
    }
    static int64_t Now()
    {
        return now_.load();
    }

  private:
    static int64_t Read()
    {
        return now_.load();
    }
    static inline std::atomic<int64_t> now_{0};
};

// Points the log at a fresh folder; the file itself opens with the first line.
class LogFolder
{
  public:
    LogFolder()
    {
        rtc::LogMessage::SetLogFolderForTesting(cwd_.path());
    }
    ~LogFolder()
    {
        rtc::LogMessage::SetLogFolderForTesting(cwd_.path() + "/gone");
    }
    std::string path() const
    {
        return cwd_.path() + "/log/kvvideo.log";
    }
    std::string contents() const
    {
        return ptt::test::read_file(path());
    }

  private:
    ptt::test::TempCwd cwd_;
};

// The local-time prefix of every line in the file.
inline const char *kTimePattern = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";

} // namespace rtc_test
