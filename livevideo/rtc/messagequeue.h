// Messages, the queue that holds them (immediate and delayed) and the
// process-wide manager that lets a dying handler cancel its messages everywhere.
#pragma once

#include "rtc/criticalsection.h"
#include "rtc/location.h"
#include "rtc/messagehandler.h"
#include "rtc/socketserver.h"
#include "rtc/timeutils.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <shared_mutex>
#include <vector>

namespace rtc
{

class MessageQueue;

// Message ids with a meaning of their own: any id (in Clear) and "dispose of
// the data" (handled by the queue itself).
constexpr uint32_t MQID_ANY = static_cast<uint32_t>(-1);
constexpr uint32_t MQID_DISPOSE = static_cast<uint32_t>(-2);

// Data a message carries; the message owns it.
class MessageData
{
  public:
    MessageData() = default;
    virtual ~MessageData() = default;
};

template <class T> class TypedMessageData : public MessageData
{
  public:
    explicit TypedMessageData(const T &data) : data_(data) {}
    const T &data() const
    {
        return data_;
    }
    T &data()
    {
        return data_;
    }

  private:
    T data_;
};

// Deletes what it holds when the queue disposes of it.
template <class T> class DisposeData : public MessageData
{
  public:
    explicit DisposeData(T *data) : data_(data) {}
    ~DisposeData() override
    {
        delete data_;
    }

  private:
    T *data_;
};

struct Message {
    bool Match(MessageHandler *handler, uint32_t id) const
    {
        return (handler == nullptr || handler == phandler) && (id == MQID_ANY || id == message_id);
    }
    Location posted_from;
    MessageHandler *phandler = nullptr;
    uint32_t message_id = 0;
    MessageData *pdata = nullptr;
    // Deadline in queue milliseconds; 0 when not time sensitive.
    int64_t ts_sensitive = 0;
};

using MessageList = std::list<Message>;

// A message held back until its trigger time; ties go by posting order.
struct DelayedMessage {
    DelayedMessage(int64_t delay, int64_t trigger, uint32_t num, const Message &msg)
        : cmsDelay_(delay), msTrigger_(trigger), num_(num), msg_(msg)
    {
    }
    // Heap order: true when this one comes out after other.
    bool operator<(const DelayedMessage &other) const
    {
        return other.msTrigger_ < msTrigger_ ||
               (other.msTrigger_ == msTrigger_ && other.num_ < num_);
    }

    int64_t cmsDelay_;
    int64_t msTrigger_;
    uint32_t num_;
    Message msg_;
};

class MessageQueue
{
  public:
    // A time-sensitive message is late when taken more than this after posting.
    static constexpr int kMaxMsgLatency = 150;
    // A dispatch that takes this long or longer is logged.
    static constexpr int kSlowDispatchLoggingThreshold = 50;

    // ss is not owned. A derived class that registers itself later passes
    // init_queue = false and calls DoInit at the end of its constructor.
    MessageQueue(SocketServer *ss, bool init_queue);
    MessageQueue(std::unique_ptr<SocketServer> ss, bool init_queue);
    virtual ~MessageQueue();
    MessageQueue(const MessageQueue &) = delete;
    MessageQueue &operator=(const MessageQueue &) = delete;

    SocketServer *socketserver();

    virtual void Quit();
    virtual bool IsQuitting();
    virtual void Restart();

    // Takes the next message: waits up to cmsWait (kForever: no limit), running
    // sends addressed to this queue's thread meanwhile. False when the queue
    // stops, the wait fails or the time is up.
    virtual bool Get(Message *pmsg, int cmsWait = kForever, bool process_io = true);
    // Get, keeping the message for the next Get.
    virtual bool Peek(Message *pmsg, int cmsWait = 0);
    // The queue takes ownership of pdata (deleted at once when stopped).
    virtual void Post(const Location &posted_from, MessageHandler *phandler, uint32_t id = 0,
                      MessageData *pdata = nullptr, bool time_sensitive = false);
    virtual void PostDelayed(const Location &posted_from, int cmsDelay, MessageHandler *phandler,
                             uint32_t id = 0, MessageData *pdata = nullptr);
    // tstamp in TimeMillis() milliseconds.
    virtual void PostAt(const Location &posted_from, int64_t tstamp, MessageHandler *phandler,
                        uint32_t id = 0, MessageData *pdata = nullptr);
    // Removes matching messages (null handler: any; MQID_ANY: any id) into
    // removed, or deletes their data when removed is null.
    virtual void Clear(MessageHandler *phandler, uint32_t id = MQID_ANY,
                       MessageList *removed = nullptr);
    virtual void Dispatch(Message *pmsg);
    virtual void ReceiveSends();
    // 0 when a message is ready, the milliseconds to the next delayed one, or kForever.
    virtual int GetDelay();

    bool empty() const
    {
        return size() == 0u;
    }
    size_t size() const;

    // Deletes doomed on the queue's thread, after what is already queued.
    template <class T> void Dispose(T *doomed)
    {
        if (doomed)
            Post(RTC_FROM_HERE, nullptr, MQID_DISPOSE, new DisposeData<T>(doomed));
    }

  protected:
    friend class MessageQueueManager;

    void DoInit();
    // Deregisters, clears every message and detaches the socket server. A
    // class that adds to what ClearAll removes calls it from its own destructor.
    void DoDestroy();

    // What Clear does, without a virtual call: the manager reaches queues whose
    // owners may be in the middle of being destroyed on another thread (their
    // dynamic type changing), until their DoDestroy deregisters them.
    void ClearAll(MessageHandler *phandler, uint32_t id, MessageList *removed);
    // Called by ClearAll under crit_ before the queue's own messages are taken:
    // lets a derived class remove what it keeps (pending sends) into out.
    using ClearHook = void (*)(MessageQueue *queue, MessageHandler *phandler, uint32_t id,
                               MessageList *out);
    void SetClearHook(ClearHook hook)
    {
        clear_hook_ = hook;
    }
    void WakeUpSocketServer();

    std::atomic<bool> fStop_{false};
    bool fPeekKeep_ = false;
    Message msgPeek_;
    MessageList msgq_;
    std::vector<DelayedMessage> dmsgq_;
    uint32_t dmsgq_next_num_ = 0;
    CriticalSection crit_;
    bool fInitialized_ = false;
    bool fDestroyed_ = false;

  private:
    void DoDelayPost(const Location &posted_from, int64_t cmsDelay, int64_t tstamp,
                     MessageHandler *phandler, uint32_t id, MessageData *pdata);

    ClearHook clear_hook_ = nullptr;
    SocketServer *ss_;
    std::unique_ptr<SocketServer> own_ss_;
    // Shared while the queue waits on or wakes the server, exclusive to detach it.
    std::shared_mutex ss_lock_;
};

// The registered queues of the process. Made on first use and kept for the
// process's life: threads may still enter it while the last queue goes away.
class MessageQueueManager
{
  public:
    static void Add(MessageQueue *message_queue);
    static void Remove(MessageQueue *message_queue);
    static void Clear(MessageHandler *handler);
    // Tests: how many queues are registered.
    static size_t QueueCountForTesting();

  private:
    static MessageQueueManager *Instance();
    MessageQueueManager() = default;

    void AddInternal(MessageQueue *message_queue);
    void RemoveInternal(MessageQueue *message_queue);
    void ClearInternal(MessageHandler *handler);

    std::vector<MessageQueue *> message_queues_;
    CriticalSection crit_;
};

} // namespace rtc
