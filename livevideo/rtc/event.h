// A manual- or automatic-reset event for threads of this process.
#pragma once

#include <pthread.h>

namespace rtc
{

class Event
{
  public:
    static constexpr int kForever = -1;

    Event(bool manual_reset, bool initially_signaled);
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    void Set();
    void Reset();
    // Waits up to milliseconds (kForever: without limit); true when signalled.
    // An automatic-reset event is reset by the wait that sees it set.
    bool Wait(int milliseconds);

  private:
    pthread_mutex_t event_mutex_;
    pthread_cond_t event_cond_;
    bool event_handle_ = false;
    const bool is_manual_reset_;
    bool event_status_;
};

} // namespace rtc
