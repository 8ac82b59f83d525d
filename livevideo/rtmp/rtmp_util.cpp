#include "rtmp_util.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pthread.h>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/log.h>
}

namespace rtmp
{

namespace
{

void StderrSink(int, const char *line)
{
    std::fprintf(stderr, "%s\n", line);
}

// Written before sessions start, read by their threads.
std::atomic<LogSink> g_sink{StderrSink};

} // namespace

void SetLogSink(LogSink sink)
{
    g_sink.store(sink ? sink : StderrSink);
}

void Log(int level, const char *fmt, ...)
{
    char line[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof(line), fmt, ap);
    va_end(ap);
    g_sink.load()(level, line);
}

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof(text));
    return text;
}

std::string TestDir()
{
    const char *dir = std::getenv("VISTREL_TEST_DIR");
    return dir ? dir : "";
}

void InitFfmpeg()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // FFmpeg's own chatter would go to the console's standard error for
        // every dropped packet; our sessions log what matters themselves.
        av_log_set_level(AV_LOG_ERROR);
        avformat_network_init();
        avdevice_register_all();
    });
}

void StopState::Reset()
{
    requested_.store(false, std::memory_order_release);
    deadline_ns_.store(0);
}

void StopState::Request()
{
    auto now = std::chrono::steady_clock::now() + grace_;
    deadline_ns_.store(now.time_since_epoch().count());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_.store(true, std::memory_order_release);
    }
    cv_.notify_all();
}

bool StopState::Interrupted() const
{
    if (!Requested())
        return false;
    return std::chrono::steady_clock::now().time_since_epoch().count() >= deadline_ns_.load();
}

bool StopState::SleepUntil(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_until(lock, until, [this] { return Requested(); });
}

AVIOInterruptCB StopState::Callback()
{
    AVIOInterruptCB cb;
    cb.callback = OnInterrupt;
    cb.opaque = this;
    return cb;
}

int StopState::OnInterrupt(void *opaque)
{
    return static_cast<StopState *>(opaque)->Interrupted() ? 1 : 0;
}

void PrepareSessionThread(const char *name)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_setname_np(pthread_self(), name);
}

} // namespace rtmp
