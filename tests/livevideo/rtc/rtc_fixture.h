// Shared by the thread-base tests: a clock the test steps by hand, and a log
// folder of the test's own.
#pragma once

#include "rtc/logging.h"
#include "rtc/timeutils.h"
#include "test_support.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
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
// A death test's child (the test binary run again, which dies before any
// destructor) takes its parent's folder from the environment instead of
// making one it could never remove.
class LogFolder
{
  public:
    LogFolder()
    {
        const char *inherited = getenv(kVariable);
        if (inherited && *inherited) {
            path_ = inherited;
        } else {
            cwd_ = std::make_unique<ptt::test::TempCwd>();
            path_ = cwd_->path();
            setenv(kVariable, path_.c_str(), 1);
        }
        rtc::LogMessage::SetLogFolderForTesting(path_);
    }
    ~LogFolder()
    {
        rtc::LogMessage::SetLogFolderForTesting(path_ + "/gone");
        if (cwd_)
            unsetenv(kVariable);
    }
    LogFolder(const LogFolder &) = delete;
    LogFolder &operator=(const LogFolder &) = delete;
    std::string path() const
    {
        return path_ + "/log/kvvideo.log";
    }
    std::string contents() const
    {
        return ptt::test::read_file(path());
    }

  private:
    static constexpr const char *kVariable = "PTT_RTC_TEST_LOG_FOLDER";
    std::unique_ptr<ptt::test::TempCwd> cwd_; // null in a death test's child
    std::string path_;
};

// The local-time prefix of every line in the file.
inline const char *kTimePattern = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})";

} // namespace rtc_test
