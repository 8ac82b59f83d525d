#include "rtc/thread.h"

#include "rtc/logging.h"
#include "rtc/physicalsocketserver.h"

#include <cinttypes>
#include <cstdio>

namespace rtc
{

namespace
{

// The rtc::Thread of each OS thread: set by a started thread's entry and by a
// caller wrapped for one send.
thread_local Thread *t_current = nullptr;

// pthread_setname_np refuses names over 15 bytes; a cut name is better than none.
void SetCurrentThreadName(const std::string &name)
{
    (void)pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

} // namespace

Thread::Thread() : Thread(std::make_unique<PhysicalSocketServer>()) {}

Thread::Thread(SocketServer *ss) : MessageQueue(ss, false), running_(true, false)
{
    SetName("Thread", this);
    SetClearHook(&Thread::ClearSends);
    DoInit();
}

Thread::Thread(std::unique_ptr<SocketServer> ss)
    : MessageQueue(std::move(ss), false), running_(true, false)
{
    SetName("Thread", this);
    SetClearHook(&Thread::ClearSends);
    DoInit();
}

Thread::~Thread()
{
    Stop();
    DoDestroy();
    StopServing();
    if (!owned_ && t_current == this)
        t_current = nullptr;
}

Thread *Thread::Current()
{
    return t_current;
}

bool Thread::IsCurrent() const
{
    return t_current == this;
}

bool Thread::SetName(const std::string &name, const void *obj)
{
    if (running())
        return false;
    name_ = name;
    if (obj) {
        // The suffix keeps 15 characters: " 0x" and the first 12 of the 16 digits.
        char buf[32];
        snprintf(buf, sizeof(buf), " 0x%016" PRIXPTR, reinterpret_cast<uintptr_t>(obj));
        name_.append(buf, 15);
    }
    return true;
}

bool Thread::running()
{
    return running_.Wait(0);
}

bool Thread::SetAllowBlockingCalls(bool allow)
{
    bool previous = blocking_calls_allowed_;
    blocking_calls_allowed_ = allow;
    return previous;
}

bool Thread::Start(Runnable *runnable)
{
    RTC_DCHECK_AT("thread", 242, owned_);
    if (!owned_)
        return false;
    RTC_DCHECK_AT("thread", 245, !running());
    if (running())
        return false;

    Restart();
    {
        CritScope cs(&crit_);
        serving_ = true;
    }
    ThreadInit *init = new ThreadInit{this, runnable};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    int error = pthread_create(&thread_, &attr, PreRun, init);
    pthread_attr_destroy(&attr);
    if (error != 0) {
        RTC_LOG_E(LS_ERROR, ERRCTX_ERRNO, error) << "Unable to create pthread";
        delete init;
        StopServing();
        return false;
    }
    has_thread_ = true;
    running_.Set();
    return true;
}

void *Thread::PreRun(void *pv)
{
    ThreadInit *init = static_cast<ThreadInit *>(pv);
    Thread *thread = init->thread;
    t_current = thread;
    SetCurrentThreadName(thread->name_);
    if (init->runnable)
        init->runnable->Run(thread);
    else
        thread->Run();
    thread->StopServing();
    t_current = nullptr;
    delete init;
    return nullptr;
}

void Thread::Run()
{
    Message msg;
    while (Get(&msg))
        Dispatch(&msg);
}

void Thread::Stop()
{
    MessageQueue::Quit();
    Join();
}

void Thread::Join()
{
    if (!running())
        return;
    RTC_DCHECK_AT("thread", 316, !IsCurrent());
    if (Current() && !Current()->blocking_calls_allowed_) {
        RTC_LOG_FILE_LINE("thread", 319, rtc::LS_WARNING)
            << "Waiting for the thread to join, "
            << "but blocking calls have been disallowed";
    }
    RTC_DCHECK_AT("thread", 323, has_thread_);
    pthread_join(thread_, nullptr);
    thread_ = pthread_t{};
    has_thread_ = false;
    running_.Reset();
}

void Thread::StopServing()
{
    MessageList doomed;
    {
        CritScope cs(&crit_);
        serving_ = false;
        if (sendlist_.empty())
            return;
        RTC_LOG(LS_ERROR) << name_ << ": " << sendlist_.size()
                          << " pending send(s) returned unrun: the thread no longer serves them";
        for (SendMessage &smsg : sendlist_) {
            doomed.push_back(smsg.msg);
            *smsg.ready = true;
            smsg.thread->socketserver()->WakeUp();
        }
        sendlist_.clear();
    }
    for (Message &msg : doomed)
        delete msg.pdata;
}

void Thread::WrapCurrentForSend()
{
    owned_ = false;
    thread_ = pthread_self();
    {
        CritScope cs(&crit_);
        serving_ = true;
    }
    t_current = this;
}

void Thread::UnwrapCurrent()
{
    if (t_current == this)
        t_current = nullptr;
    StopServing();
}

// A caller with no rtc::Thread of its own gets one for the length of a send, so
// the target has a socket server to wake it through.
class ScopedCallerWrap
{
  public:
    ScopedCallerWrap() : current_(Thread::Current())
    {
        if (!current_) {
            wrapped_ = std::make_unique<Thread>();
            wrapped_->WrapCurrentForSend();
            current_ = wrapped_.get();
        }
    }
    ~ScopedCallerWrap()
    {
        if (wrapped_)
            wrapped_->UnwrapCurrent();
    }
    Thread *current() const
    {
        return current_;
    }

  private:
    Thread *current_;
    std::unique_ptr<Thread> wrapped_;
};

void Thread::Send(const Location &posted_from, MessageHandler *phandler, uint32_t id,
                  MessageData *pdata)
{
    if (IsQuitting()) {
        delete pdata;
        return;
    }

    Message msg;
    msg.posted_from = posted_from;
    msg.phandler = phandler;
    msg.message_id = id;
    msg.pdata = pdata;
    if (IsCurrent()) {
        phandler->OnMessage(&msg);
        return;
    }

    Thread *caller = Current();
    RTC_DCHECK_AT("thread", 349, !caller || caller->blocking_calls_allowed_);

    ScopedCallerWrap wrap;
    Thread *current_thread = wrap.current();
    RTC_DCHECK_AT("thread", 357, current_thread != NULL);

    bool ready = false;
    bool serving;
    {
        CritScope cs(&crit_);
        serving = serving_;
        if (serving)
            sendlist_.push_back(SendMessage{current_thread, msg, &ready});
    }
    if (!serving) {
        RTC_LOG(LS_ERROR) << "Send to " << name_ << " from " << posted_from.ToString()
                          << " not run: the thread is not serving messages";
        delete pdata;
        return;
    }
    WakeUpSocketServer();

    bool waited = false;
    crit_.Enter();
    while (!ready) {
        crit_.Leave();
        // Run what the target sends back meanwhile: two threads sending to each
        // other must not block each other.
        current_thread->ReceiveSendsFromThread(this);
        current_thread->socketserver()->Wait(kForever, false);
        waited = true;
        crit_.Enter();
    }
    crit_.Leave();

    // The waits above may have eaten a wake-up meant for a message posted to
    // the caller meanwhile; give it back.
    if (waited)
        current_thread->socketserver()->WakeUp();
}

void Thread::ReceiveSends()
{
    ReceiveSendsFromThread(nullptr);
}

void Thread::ReceiveSendsFromThread(const Thread *source)
{
    SendMessage smsg;
    crit_.Enter();
    while (PopSendMessageFromThread(source, &smsg)) {
        crit_.Leave();
        smsg.msg.phandler->OnMessage(&smsg.msg);
        crit_.Enter();
        // Both under the lock the sender reads "ready" under: once it sees the
        // flag it may free its wrapped thread and that thread's socket server.
        *smsg.ready = true;
        smsg.thread->socketserver()->WakeUp();
    }
    crit_.Leave();
}

bool Thread::PopSendMessageFromThread(const Thread *source, SendMessage *msg)
{
    for (auto it = sendlist_.begin(); it != sendlist_.end(); ++it) {
        if (it->thread == source || source == nullptr) {
            *msg = *it;
            sendlist_.erase(it);
            return true;
        }
    }
    return false;
}

void Thread::Clear(MessageHandler *phandler, uint32_t id, MessageList *removed)
{
    ClearAll(phandler, id, removed);
}

void Thread::ClearSends(MessageQueue *queue, MessageHandler *phandler, uint32_t id,
                        MessageList *out)
{
    // Only ever set on a Thread, and called while it is still registered.
    Thread *thread = static_cast<Thread *>(queue);
    for (auto it = thread->sendlist_.begin(); it != thread->sendlist_.end();) {
        if (it->msg.Match(phandler, id)) {
            out->push_back(it->msg);
            *it->ready = true;
            it->thread->socketserver()->WakeUp();
            it = thread->sendlist_.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace rtc
