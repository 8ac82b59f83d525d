#include "rtc/criticalsection.h"

namespace rtc
{

CriticalSection::CriticalSection()
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&mutex_, &attr);
    pthread_mutexattr_destroy(&attr);
}

CriticalSection::~CriticalSection()
{
    pthread_mutex_destroy(&mutex_);
}

void CriticalSection::Enter() const
{
    pthread_mutex_lock(&mutex_);
    if (recursion_count_++ == 0)
        owner_.store(pthread_self(), std::memory_order_relaxed);
}

bool CriticalSection::TryEnter() const
{
    if (pthread_mutex_trylock(&mutex_) != 0)
        return false;
    if (recursion_count_++ == 0)
        owner_.store(pthread_self(), std::memory_order_relaxed);
    return true;
}

void CriticalSection::Leave() const
{
    if (--recursion_count_ == 0)
        owner_.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&mutex_);
}

bool CriticalSection::CurrentThreadIsOwner() const
{
    return pthread_equal(owner_.load(std::memory_order_relaxed), pthread_self()) != 0;
}

} // namespace rtc
