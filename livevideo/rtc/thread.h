// A message queue served by its own OS thread. Other threads hand it work with
// a blocking Send or Invoke, which returns once the handler has run there.
#pragma once

#include "rtc/event.h"
#include "rtc/messagequeue.h"

#include <list>
#include <memory>
#include <pthread.h>
#include <string>
#include <utility>

namespace rtc
{

class Thread;

// Work a started thread runs instead of its message loop.
class Runnable
{
  public:
    virtual ~Runnable() = default;
    virtual void Run(Thread *thread) = 0;
};

class Thread : public MessageQueue
{
  public:
    // Owns a new PhysicalSocketServer; named "Thread" plus its address.
    Thread();
    // Not owned.
    explicit Thread(SocketServer *ss);
    explicit Thread(std::unique_ptr<SocketServer> ss);
    // Stops and joins the thread; pending sends return to their senders unrun.
    // A derived class whose handlers use its own members calls Stop in its own
    // destructor: by the time this one runs, those members are gone.
    ~Thread() override;

    // The rtc::Thread of the calling OS thread, or null.
    static Thread *Current();
    bool IsCurrent() const;

    const std::string &name() const
    {
        return name_;
    }
    // The name, followed when obj is given by " 0x" and the first 12 of the 16
    // upper-case hexadecimal digits of its address. False while running.
    bool SetName(const std::string &name, const void *obj);

    // Starts the OS thread, which runs runnable or else the message loop.
    // False when the OS refuses the thread.
    bool Start(Runnable *runnable = nullptr);
    // Quit, then Join.
    virtual void Stop();
    // The message loop: Get and Dispatch until Get returns false.
    virtual void Run();
    // Runs phandler->OnMessage on this thread and returns when it has run. From
    // this thread itself it runs at once. To a stopped thread, or to one that is
    // not serving (never started, start failed, loop ended), it returns at once
    // without running; the latter is logged as an error. The message owns pdata.
    virtual void Send(const Location &posted_from, MessageHandler *phandler, uint32_t id = 0,
                      MessageData *pdata = nullptr);

    // Runs functor on this thread and returns its result (value-initialised when
    // the send was not served).
    template <class ReturnT, class FunctorT>
    ReturnT Invoke(const Location &posted_from, FunctorT &&functor)
    {
        FunctorMessageHandler<ReturnT, std::decay_t<FunctorT>> handler(
            std::forward<FunctorT>(functor));
        Send(posted_from, &handler);
        return handler.MoveResult();
    }

    void Clear(MessageHandler *phandler, uint32_t id = MQID_ANY,
               MessageList *removed = nullptr) override;
    void ReceiveSends() override;

    // True between a successful Start and the end of Join.
    bool running();
    // Waits for the OS thread to end. Not from the thread itself.
    void Join();
    // Returns the previous value.
    bool SetAllowBlockingCalls(bool allow);

  private:
    struct SendMessage {
        Thread *thread;
        Message msg;
        bool *ready;
    };
    struct ThreadInit {
        Thread *thread;
        Runnable *runnable;
    };
    friend class ScopedCallerWrap;

    static void *PreRun(void *pv);
    // The clear hook: pending sends that match go back to their senders.
    static void ClearSends(MessageQueue *queue, MessageHandler *phandler, uint32_t id,
                           MessageList *out);
    // Makes this (unstarted) object stand for the calling OS thread while it
    // sends; see Send.
    void WrapCurrentForSend();
    void UnwrapCurrent();
    void ReceiveSendsFromThread(const Thread *source);
    bool PopSendMessageFromThread(const Thread *source, SendMessage *msg);
    // The loop has ended: nothing will serve the pending sends any more.
    void StopServing();

    std::list<SendMessage> sendlist_;
    std::string name_;
    Event running_;
    pthread_t thread_{};
    bool has_thread_ = false;
    bool owned_ = true;
    bool blocking_calls_allowed_ = true;
    // Under crit_: sends are queued only while something will take them.
    bool serving_ = false;
};

} // namespace rtc
