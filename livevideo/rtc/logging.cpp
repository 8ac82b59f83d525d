#include "rtc/logging.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace rtc
{

namespace
{

// The file and its folder override: opened by the first line written, then
// written and flushed by any thread that finishes a line, all under g_log_mutex
// so lines never interleave and the open happens once.
std::mutex g_log_mutex;
FILE *g_log_file = nullptr;
bool g_log_file_tried = false;
std::string g_log_folder_for_testing;

// A finished line in the file is at most this long (time, two blanks, text).
constexpr size_t kMaxFileLine = 299;

std::string ExecutableFolder()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return ".";
    path[n] = '\0';
    char *slash = strrchr(path, '/');
    if (!slash)
        return ".";
    if (slash == path)
        return "/";
    *slash = '\0';
    return path;
}

std::string LogFolderLocked()
{
    std::string base =
        g_log_folder_for_testing.empty() ? ExecutableFolder() : g_log_folder_for_testing;
    return base + "/log/";
}

void OpenLogFileLocked()
{
    if (g_log_file_tried)
        return;
    g_log_file_tried = true;
    std::string folder = LogFolderLocked();
    if (access(folder.c_str(), F_OK) != 0)
        (void)mkdir(folder.c_str(), 0755);
    // An unopenable file silences only the file output.
    g_log_file = fopen((folder + "kvvideo.log").c_str(), "w+");
}

std::string ErrorText(int err)
{
    char buf[256];
    // The GNU strerror_r may return a static string instead of filling buf.
    const char *text = strerror_r(err, buf, sizeof(buf));
    std::string s = text ? text : "";
    while (!s.empty() && isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    return s;
}

} // namespace

const char *FileBaseName(const char *file)
{
    const char *end1 = strrchr(file, '/');
    const char *end2 = strrchr(file, '\\');
    const char *end = end1 > end2 ? end1 : end2;
    return end ? end + 1 : file;
}

LogMessage::LogMessage(const char *file, int line, LoggingSeverity sev, LogErrorContext err_ctx,
                       int err, const char *module)
    : severity_(sev)
{
    (void)module;
    if (file)
        print_stream_ << "(" << FileBaseName(file) << ":" << line << "): ";
    if (err_ctx != ERRCTX_NONE) {
        char code[32];
        snprintf(code, sizeof(code), " : [0x%08X]", static_cast<unsigned>(err));
        extra_ = code;
        std::string text = ErrorText(err);
        if (!text.empty())
            extra_ += " " + text;
    }
}

LogMessage::~LogMessage()
{
    print_stream_ << extra_ << "\n";
    OutputToDebug(print_stream_.str(), severity_);
}

std::string LogMessage::GetLogFilePath()
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return LogFolderLocked() + "kvvideo.log";
}

std::string LogMessage::LocalTimeString()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    char buf[64];
    snprintf(buf, sizeof(buf), "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
             local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
             static_cast<int>(ts.tv_nsec / 1000000));
    return buf;
}

void LogMessage::OutputToDebug(const std::string &line, LoggingSeverity sev)
{
    if (!Loggable(sev))
        return;
    std::string timed = LocalTimeString() + "  " + line;
    if (timed.size() > kMaxFileLine) {
        timed.resize(kMaxFileLine);
        // The cut takes the end of line with it; without one the next line
        // would run on in the same line of the file.
        timed += "\n";
    }
    std::lock_guard<std::mutex> lock(g_log_mutex);
    fwrite(line.data(), 1, line.size(), stderr);
    fflush(stderr);
    OpenLogFileLocked();
    if (g_log_file) {
        fwrite(timed.data(), 1, timed.size(), g_log_file);
        fflush(g_log_file);
    }
}

void LogMessage::SetLogFolderForTesting(const std::string &folder)
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (g_log_file)
        fclose(g_log_file);
    g_log_file = nullptr;
    g_log_file_tried = false;
    g_log_folder_for_testing = folder;
}

void LogAssert(const char *function, const char *file, int line, const char *expression)
{
    // Written as from one fixed place, as every assert of the base is.
    LogMessage("common", 59, LS_ERROR).stream()
        << FileBaseName(file) << "(" << line << ")"
        << ": ASSERT FAILED: " << expression << " @ " << function;
    abort();
}

FatalMessage::FatalMessage(const char *file, int line)
    : file_(FileBaseName(file)), line_(line), last_error_(errno)
{
}

FatalMessage::~FatalMessage()
{
    fflush(stdout);
    fflush(stderr);
    std::string block = "\n\n#\n# Fatal error in " + file_ + ", line " + std::to_string(line_) +
                        "\n# last system error: " + std::to_string(last_error_) + "\n# " +
                        stream_.str() + "\n#\n";
    fwrite(block.data(), 1, block.size(), stderr);
    fflush(stderr);
    abort();
}

} // namespace rtc
