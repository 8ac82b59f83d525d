#include "rtc/messagequeue.h"

#include "rtc/logging.h"

#include <algorithm>
#include <mutex>

namespace rtc
{

MessageHandler::~MessageHandler()
{
    MessageQueueManager::Clear(this);
}

MessageQueueManager *MessageQueueManager::Instance()
{
    // Never deleted: see the class comment.
    static MessageQueueManager *const instance = new MessageQueueManager;
    return instance;
}

void MessageQueueManager::Add(MessageQueue *message_queue)
{
    Instance()->AddInternal(message_queue);
}

void MessageQueueManager::Remove(MessageQueue *message_queue)
{
    Instance()->RemoveInternal(message_queue);
}

void MessageQueueManager::Clear(MessageHandler *handler)
{
    Instance()->ClearInternal(handler);
}

size_t MessageQueueManager::QueueCountForTesting()
{
    MessageQueueManager *m = Instance();
    CritScope cs(&m->crit_);
    return m->message_queues_.size();
}

void MessageQueueManager::AddInternal(MessageQueue *message_queue)
{
    RTC_DCHECK_AT("messagequeue", 60, !crit_.CurrentThreadIsOwner());
    CritScope cs(&crit_);
    message_queues_.push_back(message_queue);
}

void MessageQueueManager::RemoveInternal(MessageQueue *message_queue)
{
    RTC_DCHECK_AT("messagequeue", 74, !crit_.CurrentThreadIsOwner());
    CritScope cs(&crit_);
    auto it = std::find(message_queues_.begin(), message_queues_.end(), message_queue);
    if (it != message_queues_.end())
        message_queues_.erase(it);
}

void MessageQueueManager::ClearInternal(MessageHandler *handler)
{
    RTC_DCHECK_AT("messagequeue", 118, !crit_.CurrentThreadIsOwner());
    MessageList doomed;
    {
        CritScope cs(&crit_);
        for (MessageQueue *queue : message_queues_)
            queue->ClearAll(handler, MQID_ANY, &doomed);
    }
    // Outside the lock: deleting data may destroy further handlers, which
    // clear through here again.
    for (Message &msg : doomed)
        delete msg.pdata;
}

MessageQueue::MessageQueue(SocketServer *ss, bool init_queue) : ss_(ss)
{
    RTC_CHECK_AT("messagequeue", 129, ss);
    if (init_queue)
        DoInit();
}

MessageQueue::MessageQueue(std::unique_ptr<SocketServer> ss, bool init_queue)
    : ss_(ss.get()), own_ss_(std::move(ss))
{
    RTC_CHECK_AT("messagequeue", 129, ss_);
    if (init_queue)
        DoInit();
}

MessageQueue::~MessageQueue()
{
    DoDestroy();
}

void MessageQueue::DoInit()
{
    if (fInitialized_)
        return;
    fInitialized_ = true;
    MessageQueueManager::Add(this);
}

void MessageQueue::DoDestroy()
{
    if (fDestroyed_)
        return;
    fDestroyed_ = true;
    if (fInitialized_)
        MessageQueueManager::Remove(this);
    ClearAll(nullptr, MQID_ANY, nullptr);
    std::unique_lock<std::shared_mutex> lock(ss_lock_);
    ss_ = nullptr;
}

SocketServer *MessageQueue::socketserver()
{
    return ss_;
}

void MessageQueue::WakeUpSocketServer()
{
    std::shared_lock<std::shared_mutex> lock(ss_lock_);
    if (ss_)
        ss_->WakeUp();
}

void MessageQueue::Quit()
{
    fStop_.store(true);
    WakeUpSocketServer();
}

bool MessageQueue::IsQuitting()
{
    return fStop_.load();
}

void MessageQueue::Restart()
{
    fStop_.store(false);
}

bool MessageQueue::Peek(Message *pmsg, int cmsWait)
{
    if (fPeekKeep_) {
        *pmsg = msgPeek_;
        return true;
    }
    if (!Get(pmsg, cmsWait))
        return false;
    msgPeek_ = *pmsg;
    fPeekKeep_ = true;
    return true;
}

bool MessageQueue::Get(Message *pmsg, int cmsWait, bool process_io)
{
    if (fPeekKeep_) {
        *pmsg = msgPeek_;
        fPeekKeep_ = false;
        return true;
    }

    const int64_t msStart = TimeMillis();
    int64_t msCurrent = msStart;
    while (true) {
        ReceiveSends();

        int64_t cmsDelayNext = kForever;
        bool first_pass = true;
        while (true) {
            {
                CritScope cs(&crit_);
                // Due delayed messages join the immediate queue once per round,
                // in trigger order.
                if (first_pass) {
                    first_pass = false;
                    while (!dmsgq_.empty()) {
                        const DelayedMessage &top = dmsgq_.front();
                        if (msCurrent < top.msTrigger_) {
                            cmsDelayNext = TimeDiff(top.msTrigger_, msCurrent);
                            break;
                        }
                        msgq_.push_back(top.msg_);
                        std::pop_heap(dmsgq_.begin(), dmsgq_.end());
                        dmsgq_.pop_back();
                    }
                }
                if (msgq_.empty())
                    break;
                *pmsg = msgq_.front();
                msgq_.pop_front();
            }

            if (pmsg->ts_sensitive) {
                int64_t delay = TimeDiff(msCurrent, pmsg->ts_sensitive);
                if (delay > 0) {
                    RTC_LOG_FILE_LINE("messagequeue", 354, rtc::LS_WARNING)
                        << "rtc::MessageQueue::Get"
                        << ": "
                        << "id: " << pmsg->message_id << "  delay: " << (delay + kMaxMsgLatency)
                        << "ms";
                }
            }
            if (pmsg->message_id == MQID_DISPOSE) {
                RTC_DCHECK_AT("messagequeue", 361, NULL == pmsg->phandler);
                delete pmsg->pdata;
                *pmsg = Message();
                continue;
            }
            return true;
        }

        if (IsQuitting())
            break;

        int64_t cmsNext;
        if (cmsWait == kForever) {
            cmsNext = cmsDelayNext;
        } else {
            cmsNext = std::max<int64_t>(0, cmsWait - TimeDiff(msCurrent, msStart));
            if (cmsDelayNext != kForever && cmsDelayNext < cmsNext)
                cmsNext = cmsDelayNext;
        }
        {
            std::shared_lock<std::shared_mutex> lock(ss_lock_);
            if (!ss_ ||
                !ss_->Wait(static_cast<int>(std::min<int64_t>(cmsNext, INT32_MAX)), process_io))
                return false;
        }

        msCurrent = TimeMillis();
        if (cmsWait != kForever && TimeDiff(msCurrent, msStart) >= cmsWait)
            return false;
    }
    return false;
}

void MessageQueue::ReceiveSends() {}

void MessageQueue::Post(const Location &posted_from, MessageHandler *phandler, uint32_t id,
                        MessageData *pdata, bool time_sensitive)
{
    if (IsQuitting()) {
        // Nobody will take it: its data would be lost, so free it here.
        delete pdata;
        return;
    }
    {
        CritScope cs(&crit_);
        Message msg;
        msg.posted_from = posted_from;
        msg.phandler = phandler;
        msg.message_id = id;
        msg.pdata = pdata;
        if (time_sensitive)
            msg.ts_sensitive = TimeMillis() + kMaxMsgLatency;
        msgq_.push_back(msg);
    }
    WakeUpSocketServer();
}

void MessageQueue::PostDelayed(const Location &posted_from, int cmsDelay, MessageHandler *phandler,
                               uint32_t id, MessageData *pdata)
{
    DoDelayPost(posted_from, cmsDelay, TimeAfter(cmsDelay), phandler, id, pdata);
}

void MessageQueue::PostAt(const Location &posted_from, int64_t tstamp, MessageHandler *phandler,
                          uint32_t id, MessageData *pdata)
{
    DoDelayPost(posted_from, TimeDiff(tstamp, TimeMillis()), tstamp, phandler, id, pdata);
}

void MessageQueue::DoDelayPost(const Location &posted_from, int64_t cmsDelay, int64_t tstamp,
                               MessageHandler *phandler, uint32_t id, MessageData *pdata)
{
    if (IsQuitting()) {
        delete pdata;
        return;
    }
    {
        CritScope cs(&crit_);
        Message msg;
        msg.posted_from = posted_from;
        msg.phandler = phandler;
        msg.message_id = id;
        msg.pdata = pdata;
        dmsgq_.emplace_back(cmsDelay, tstamp, dmsgq_next_num_, msg);
        std::push_heap(dmsgq_.begin(), dmsgq_.end());
        // A wrapped counter would put later messages ahead of earlier ones
        // with the same trigger time.
        RTC_DCHECK_AT("messagequeue", 455, 0 != ++dmsgq_next_num_);
    }
    WakeUpSocketServer();
}

int MessageQueue::GetDelay()
{
    CritScope cs(&crit_);
    if (!msgq_.empty())
        return 0;
    if (!dmsgq_.empty()) {
        int64_t delay = TimeDiff(dmsgq_.front().msTrigger_, TimeMillis());
        if (delay < 0)
            delay = 0;
        return static_cast<int>(std::min<int64_t>(delay, INT32_MAX));
    }
    return kForever;
}

void MessageQueue::Clear(MessageHandler *phandler, uint32_t id, MessageList *removed)
{
    ClearAll(phandler, id, removed);
}

void MessageQueue::ClearAll(MessageHandler *phandler, uint32_t id, MessageList *removed)
{
    // Data is deleted after the lock is left: a data object may own a handler,
    // whose destructor clears through the manager and takes other locks.
    MessageList doomed;
    MessageList *out = removed ? removed : &doomed;
    {
        CritScope cs(&crit_);
        if (clear_hook_)
            clear_hook_(this, phandler, id, out);
        if (fPeekKeep_ && msgPeek_.Match(phandler, id)) {
            out->push_back(msgPeek_);
            fPeekKeep_ = false;
        }
        for (auto it = msgq_.begin(); it != msgq_.end();) {
            if (it->Match(phandler, id)) {
                out->push_back(*it);
                it = msgq_.erase(it);
            } else {
                ++it;
            }
        }
        auto keep = std::remove_if(dmsgq_.begin(), dmsgq_.end(), [&](const DelayedMessage &d) {
            if (!d.msg_.Match(phandler, id))
                return false;
            out->push_back(d.msg_);
            return true;
        });
        dmsgq_.erase(keep, dmsgq_.end());
        std::make_heap(dmsgq_.begin(), dmsgq_.end());
    }
    for (Message &msg : doomed)
        delete msg.pdata;
}

void MessageQueue::Dispatch(Message *pmsg)
{
    int64_t start_time = TimeMillis();
    pmsg->phandler->OnMessage(pmsg);
    int64_t diff = TimeDiff(TimeMillis(), start_time);
    if (diff >= kSlowDispatchLoggingThreshold) {
        RTC_LOG_FILE_LINE("messagequeue", 579, rtc::LS_INFO)
            << "Message took " << diff
            << "ms to dispatch. Posted from: " << pmsg->posted_from.ToString();
    }
}

size_t MessageQueue::size() const
{
    CritScope cs(&crit_);
    return msgq_.size() + dmsgq_.size() + (fPeekKeep_ ? 1u : 0u);
}

} // namespace rtc
