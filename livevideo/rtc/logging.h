// The live-video log: one line per LogMessage, written when it is destroyed to
// standard error and to "kvvideo.log" in a folder named "log" beside the
// running program. Also the asserts and fatal checks that end the process.
#pragma once

#include <sstream>
#include <string>

namespace rtc
{

enum LoggingSeverity {
    LS_SENSITIVE = 0,
    LS_VERBOSE = 1,
    LS_INFO = 2,
    LS_WARNING = 3,
    LS_ERROR = 4,
};

// What follows the text of a line: nothing, or an error code with its text.
// Both codes are errno values here; the module name is accepted and unused.
enum LogErrorContext {
    ERRCTX_NONE,
    ERRCTX_ERRNO,
    ERRCTX_SYSTEM,
};

class LogMessage
{
  public:
    // file may be null (then no "(file:line): " prefix); module may be null.
    LogMessage(const char *file, int line, LoggingSeverity sev,
               LogErrorContext err_ctx = ERRCTX_NONE, int err = 0, const char *module = nullptr);
    ~LogMessage();
    LogMessage(const LogMessage &) = delete;
    LogMessage &operator=(const LogMessage &) = delete;

    std::ostream &stream()
    {
        return print_stream_;
    }

    // Lines below info are never built (their arguments are not even formatted).
    static bool Loggable(LoggingSeverity sev)
    {
        return sev >= LS_INFO;
    }
    // "<executable folder>/log/kvvideo.log", or under the folder set for testing.
    static std::string GetLogFilePath();
    // Local time as "%04d-%02d-%02d %02d:%02d:%02d.%03d".
    static std::string LocalTimeString();
    // Writes a finished line (with its end of line): whole to standard error, with
    // the time and cut to 299 characters to the file.
    static void OutputToDebug(const std::string &line, LoggingSeverity sev);

    // Tests only: the folder that stands in for the executable's folder. The open
    // file, if any, is closed; the next line opens the file there afresh ("w+").
    // ctest runs many test processes from one folder, so each needs its own.
    static void SetLogFolderForTesting(const std::string &folder);

  private:
    std::ostringstream print_stream_;
    LoggingSeverity severity_;
    std::string extra_;
};

// Lets a stream expression stand where a void expression is expected.
class LogMessageVoidify
{
  public:
    void operator&(std::ostream &) {}
};

// Writes the assert line and ends the process.
[[noreturn]] void LogAssert(const char *function, const char *file, int line,
                            const char *expression);

// The block a failed check writes to standard error before it aborts.
class FatalMessage
{
  public:
    FatalMessage(const char *file, int line);
    // Writes the block and aborts.
    ~FatalMessage();
    FatalMessage(const FatalMessage &) = delete;
    FatalMessage &operator=(const FatalMessage &) = delete;

    std::ostream &stream()
    {
        return stream_;
    }

  private:
    std::string file_;
    int line_;
    int last_error_;
    std::ostringstream stream_;
};

// Exposed for tests: the text after the last '/' or '\'.
const char *FileBaseName(const char *file);

} // namespace rtc

#define RTC_LOG_FILE_LINE(file, line, sev)                                                         \
    !rtc::LogMessage::Loggable(sev)                                                                \
        ? static_cast<void>(0)                                                                     \
        : rtc::LogMessageVoidify() & rtc::LogMessage(file, line, sev).stream()

#define RTC_LOG(sev) RTC_LOG_FILE_LINE(__FILE__, __LINE__, rtc::sev)

#define RTC_LOG_E(sev, ctx, err)                                                                   \
    !rtc::LogMessage::Loggable(rtc::sev)                                                           \
        ? static_cast<void>(0)                                                                     \
        : rtc::LogMessageVoidify() &                                                               \
              rtc::LogMessage(__FILE__, __LINE__, rtc::sev, rtc::ctx, err).stream()

#define RTC_LOG_ERRNO(sev) RTC_LOG_E(sev, ERRCTX_ERRNO, errno)
#define RTC_LOG_ERR(sev) RTC_LOG_E(sev, ERRCTX_SYSTEM, errno)

// Programming errors only: the assert line, then the process ends. Some call
// sites give a fixed file and line so their diagnostics stay the same across
// edits of the source.
#define RTC_DCHECK_AT(file, line, condition)                                                       \
    ((condition) ? static_cast<void>(0) : rtc::LogAssert(__func__, file, line, #condition))
#define RTC_DCHECK(condition) RTC_DCHECK_AT(rtc::FileBaseName(__FILE__), __LINE__, condition)

#define RTC_CHECK_AT(file, line, condition)                                                        \
    (condition) ? static_cast<void>(0)                                                             \
                : rtc::LogMessageVoidify() & rtc::FatalMessage(file, line).stream()                \
                                                 << "Check failed: " #condition
#define RTC_CHECK(condition) RTC_CHECK_AT(__FILE__, __LINE__, condition)
