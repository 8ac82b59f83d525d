// A recursive lock that knows its owner, and its scoped use.
#pragma once

#include <atomic>
#include <pthread.h>

namespace rtc
{

class CriticalSection
{
  public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection &) = delete;
    CriticalSection &operator=(const CriticalSection &) = delete;

    void Enter() const;
    bool TryEnter() const;
    void Leave() const;
    // True when the calling thread holds it (at any depth).
    bool CurrentThreadIsOwner() const;

  private:
    mutable pthread_mutex_t mutex_;
    // Written only by the holder; read by anyone to ask "is it me?".
    mutable std::atomic<pthread_t> owner_{0};
    mutable int recursion_count_ = 0;
};

class CritScope
{
  public:
    explicit CritScope(const CriticalSection *cs) : cs_(cs)
    {
        cs_->Enter();
    }
    ~CritScope()
    {
        cs_->Leave();
    }
    CritScope(const CritScope &) = delete;
    CritScope &operator=(const CritScope &) = delete;

  private:
    const CriticalSection *cs_;
};

} // namespace rtc
