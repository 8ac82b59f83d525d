#include "rtc/event.h"

#include "rtc/logging.h"

#include <cerrno>
#include <ctime>

namespace rtc
{

Event::Event(bool manual_reset, bool initially_signaled)
    : is_manual_reset_(manual_reset), event_status_(initially_signaled)
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    // Waits count on the monotonic clock: a wall-clock step must not stretch them.
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    event_handle_ = pthread_mutex_init(&event_mutex_, nullptr) == 0 &&
                    pthread_cond_init(&event_cond_, &attr) == 0;
    pthread_condattr_destroy(&attr);
    RTC_CHECK_AT("event", 40, event_handle_);
}

Event::~Event()
{
    pthread_mutex_destroy(&event_mutex_);
    pthread_cond_destroy(&event_cond_);
}

void Event::Set()
{
    pthread_mutex_lock(&event_mutex_);
    event_status_ = true;
    pthread_cond_broadcast(&event_cond_);
    pthread_mutex_unlock(&event_mutex_);
}

void Event::Reset()
{
    pthread_mutex_lock(&event_mutex_);
    event_status_ = false;
    pthread_mutex_unlock(&event_mutex_);
}

bool Event::Wait(int milliseconds)
{
    timespec deadline;
    if (milliseconds != kForever) {
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
        if (deadline.tv_nsec >= 1000000000) {
            deadline.tv_sec++;
            deadline.tv_nsec -= 1000000000;
        }
    }
    pthread_mutex_lock(&event_mutex_);
    int error = 0;
    while (!event_status_ && error == 0) {
        if (milliseconds == kForever)
            error = pthread_cond_wait(&event_cond_, &event_mutex_);
        else
            error = pthread_cond_timedwait(&event_cond_, &event_mutex_, &deadline);
    }
    bool signaled = event_status_;
    if (signaled && !is_manual_reset_)
        event_status_ = false;
    pthread_mutex_unlock(&event_mutex_);
    return signaled;
}

} // namespace rtc
