// One piece of work run on a worker thread of its own, with completion
// reported on the thread that started it (which must be an rtc::Thread that
// serves its messages).
#pragma once

#include "rtc/criticalsection.h"
#include "rtc/sigslot.h"
#include "rtc/thread.h"

namespace rtc
{

class SignalThread : public MessageHandler
{
  public:
    SignalThread();

    // Before Start only.
    bool SetName(const std::string &name, const void *obj);
    // Runs DoWork on the worker; from the owner thread.
    void Start();
    // Stops the work and gives up the owner's hold: with wait, the worker has
    // ended when it returns; without, the object goes once the worker is done.
    // Either way the owner must not use the object afterwards, and SignalWorkDone
    // is not sent.
    void Destroy(bool wait);
    // Gives up the owner's hold: the object deletes itself once the work is
    // complete (after SignalWorkDone).
    void Release();

    // On the owner thread, when DoWork has returned.
    Signal<SignalThread *> SignalWorkDone;

    enum { ST_MSG_WORKER_DONE, ST_MSG_FIRST_AVAILABLE };

  protected:
    // Deleted only through Destroy or Release.
    ~SignalThread() override;

    Thread *worker()
    {
        return &worker_;
    }
    // On the owner thread, in Start.
    virtual void OnWorkStart() {}
    // On the worker.
    virtual void DoWork() = 0;
    // For long work: false once Destroy asked it to stop.
    bool ContinueWork();
    // On the owner thread, in Destroy while running.
    virtual void OnWorkStop() {}
    // On the owner thread, before SignalWorkDone.
    virtual void OnWorkDone() {}

    void OnMessage(Message *msg) override;

  private:
    enum State { kInit, kRunning, kReleasing, kComplete, kStopping };

    class Worker : public Thread
    {
      public:
        explicit Worker(SignalThread *parent) : parent_(parent) {}
        ~Worker() override
        {
            Stop();
        }
        void Run() override
        {
            parent_->Run();
        }

      private:
        SignalThread *parent_;
    };

    // Holds a reference for its scope under the lock; the last one out deletes.
    class EnterExit
    {
      public:
        explicit EnterExit(SignalThread *t) : t_(t)
        {
            t_->cs_.Enter();
            t_->refcount_++;
        }
        ~EnterExit()
        {
            bool last = --t_->refcount_ == 0;
            t_->cs_.Leave();
            if (last)
                delete t_;
        }

      private:
        SignalThread *t_;
    };

    void Run();

    Thread *main_;
    Worker worker_;
    CriticalSection cs_;
    State state_ = kInit;
    // The owner's hold plus one per EnterExit in progress.
    int refcount_ = 1;
};

} // namespace rtc
