// Shared pieces of the RTMP layer's sessions: the log sink, the stop state
// that FFmpeg's interrupt callback reads, and thread set-up.
#ifndef VISTREL_RTMP_UTIL_H
#define VISTREL_RTMP_UTIL_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <mutex>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

namespace rtmp
{

enum LogLevel { kLogInfo = 2, kLogWarning = 3, kLogError = 4 };

// Where the layer's lines go; the library points it at its own log. Set it
// before any session starts. The default writes to standard error.
typedef void (*LogSink)(int level, const char *line);
void SetLogSink(LogSink sink);
void Log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// FFmpeg's error text for code.
std::string AvError(int code);

// The value of VISTREL_TEST_DIR, empty when unset.
std::string TestDir();

// Once per process: FFmpeg's network and device registration, its log level.
void InitFfmpeg();

// A session's stop request. FFmpeg's blocking calls poll Interrupted()
// through the interrupt callback; after a stop they end once `grace` has
// passed, so a push can still say goodbye to its server.
class StopState
{
  public:
    explicit StopState(std::chrono::milliseconds grace) : grace_(grace) {}
    void Reset();
    void Request();
    bool Requested() const
    {
        return requested_.load(std::memory_order_acquire);
    }
    bool Interrupted() const;
    // Sleeps until `until` or a stop request; false when stopped.
    bool SleepUntil(std::chrono::steady_clock::time_point until);
    // For AVFormatContext::interrupt_callback.
    AVIOInterruptCB Callback();

  private:
    static int OnInterrupt(void *opaque);

    const std::chrono::milliseconds grace_;
    std::atomic<bool> requested_{false};
    std::atomic<int64_t> deadline_ns_{0};
    std::mutex mutex_;
    std::condition_variable cv_;
};

// The wait before a session's next try after a failure or an end of stream:
// 1 s, doubling up to 8 s; a try that got as far as media starts it over.
class Backoff
{
  public:
    std::chrono::seconds Next()
    {
        std::chrono::seconds wait = next_;
        next_ = std::min(next_ * 2, std::chrono::seconds(8));
        return wait;
    }
    void Reset()
    {
        next_ = std::chrono::seconds(1);
    }

  private:
    std::chrono::seconds next_{1};
};

// Called first on every session thread: names it and keeps SIGPIPE from a
// dead peer (RTMP server or X server) away from the process.
void PrepareSessionThread(const char *name);

} // namespace rtmp

#endif
