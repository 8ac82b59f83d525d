#include "rtc/signalthread.h"

#include "rtc/logging.h"

namespace rtc
{

SignalThread::SignalThread() : main_(Thread::Current()), worker_(this)
{
    RTC_DCHECK(main_ != nullptr);
    worker_.SetName("SignalThread", this);
}

SignalThread::~SignalThread() = default;

bool SignalThread::SetName(const std::string &name, const void *obj)
{
    EnterExit ee(this);
    RTC_DCHECK(main_->IsCurrent());
    RTC_DCHECK(state_ == kInit);
    return worker_.SetName(name, obj);
}

void SignalThread::Start()
{
    EnterExit ee(this);
    RTC_DCHECK(main_->IsCurrent());
    if (state_ != kInit && state_ != kComplete) {
        RTC_DCHECK(state_ == kInit || state_ == kComplete);
        return;
    }
    state_ = kRunning;
    OnWorkStart();
    worker_.Start();
}

void SignalThread::Destroy(bool wait)
{
    EnterExit ee(this);
    RTC_DCHECK(main_->IsCurrent());
    if (state_ == kInit || state_ == kComplete) {
        refcount_--;
        return;
    }
    if (state_ == kRunning || state_ == kReleasing) {
        state_ = kStopping;
        // Quit asks long work to end (ContinueWork); the worker's completion
        // message then finds the object stopping and gives up the owner's hold.
        worker_.Quit();
        OnWorkStop();
        if (wait) {
            // The worker takes the lock to report; do not hold it while joining.
            cs_.Leave();
            worker_.Stop();
            cs_.Enter();
            // The completion message, if posted, goes with the object.
            refcount_--;
        }
    }
}

void SignalThread::Release()
{
    EnterExit ee(this);
    RTC_DCHECK(main_->IsCurrent());
    if (state_ == kComplete)
        refcount_--;
    else if (state_ == kRunning)
        state_ = kReleasing;
}

bool SignalThread::ContinueWork()
{
    return !worker_.IsQuitting();
}

void SignalThread::Run()
{
    DoWork();
    EnterExit ee(this);
    if (main_)
        main_->Post(RTC_FROM_HERE, this, ST_MSG_WORKER_DONE);
}

void SignalThread::OnMessage(Message *msg)
{
    if (msg->message_id != ST_MSG_WORKER_DONE)
        return;
    // Posting is the worker's last act: once it has ended it holds no reference,
    // so whatever is deleted below is deleted here, never on the worker.
    worker_.Stop();
    EnterExit ee(this);
    RTC_DCHECK(main_->IsCurrent());
    if (state_ == kStopping) {
        // Destroyed without waiting: the owner's hold ends now.
        refcount_--;
        return;
    }
    bool releasing = state_ == kReleasing;
    state_ = kComplete;
    OnWorkDone();
    SignalWorkDone(this);
    if (releasing)
        refcount_--;
}

} // namespace rtc
