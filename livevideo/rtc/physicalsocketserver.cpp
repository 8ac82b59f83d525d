#include "rtc/physicalsocketserver.h"

#include "rtc/logging.h"
#include "rtc/timeutils.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace rtc
{

// The wake-up: an eventfd that WakeUp counts up and the waiting thread drains,
// so a wake-up given before the wait starts is not lost.
class PhysicalSocketServer::Signaler : public Dispatcher
{
  public:
    explicit Signaler(PhysicalSocketServer *ss) : ss_(ss)
    {
        fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        RTC_CHECK(fd_ >= 0);
    }
    ~Signaler() override
    {
        close(fd_);
    }

    void Signal()
    {
        uint64_t one = 1;
        // EAGAIN means the counter is already far from zero: the waiter wakes anyway.
        while (write(fd_, &one, sizeof(one)) < 0 && errno == EINTR) {
        }
    }

    uint32_t GetRequestedEvents() override
    {
        return DE_READ;
    }
    void OnPreEvent(uint32_t) override
    {
        uint64_t count;
        while (read(fd_, &count, sizeof(count)) < 0 && errno == EINTR) {
        }
    }
    void OnEvent(uint32_t, int) override
    {
        ss_->fWait_ = false;
    }
    int GetDescriptor() override
    {
        return fd_;
    }
    bool IsDescriptorClosed() override
    {
        return false;
    }

  private:
    PhysicalSocketServer *ss_;
    int fd_;
};

PhysicalSocketServer::PhysicalSocketServer() : signal_wakeup_(std::make_unique<Signaler>(this)) {}

PhysicalSocketServer::~PhysicalSocketServer()
{
    signal_wakeup_.reset();
    RTC_DCHECK(dispatchers_.empty());
}

void PhysicalSocketServer::WakeUp()
{
    signal_wakeup_->Signal();
}

void PhysicalSocketServer::Add(Dispatcher *pdispatcher)
{
    CritScope cs(&crit_);
    dispatchers_.insert(pdispatcher);
    removed_during_wait_.erase(pdispatcher);
}

void PhysicalSocketServer::Remove(Dispatcher *pdispatcher)
{
    CritScope cs(&crit_);
    if (dispatchers_.erase(pdispatcher) == 0) {
        RTC_LOG(LS_WARNING) << "PhysicalSocketServer asked to remove a unknown "
                            << "dispatcher, potentially from a duplicate call to Add.";
        return;
    }
    removed_during_wait_.insert(pdispatcher);
}

namespace
{

int PendingSocketError(int fd)
{
    int err = 0;
    socklen_t len = sizeof(err);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

} // namespace

void PhysicalSocketServer::DispatchSocketEvents(Dispatcher *d, short revents)
{
    uint32_t requested = d->GetRequestedEvents();
    int err = 0;
    if (revents & POLLERR)
        err = PendingSocketError(d->GetDescriptor());
    uint32_t ff = 0;
    const char *bit = nullptr;
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        if (requested & DE_ACCEPT) {
            ff |= DE_ACCEPT;
            bit = "FD_ACCEPT_BIT";
        } else if (requested & DE_READ) {
            ff |= DE_READ;
            bit = "FD_READ_BIT";
        } else if ((requested & DE_CLOSE) && (revents & (POLLHUP | POLLERR))) {
            ff |= DE_CLOSE;
            bit = "FD_CLOSE_BIT";
        }
    }
    if (revents & (POLLOUT | POLLHUP | POLLERR)) {
        if (requested & DE_CONNECT) {
            ff |= DE_CONNECT;
            bit = "FD_CONNECT_BIT";
        } else if (requested & DE_WRITE) {
            ff |= DE_WRITE;
            bit = bit ? bit : "FD_WRITE_BIT";
        }
    }
    if (!ff)
        return;
    if (err != 0)
        RTC_LOG(LS_WARNING) << "PhysicalSocketServer got " << bit << " error " << err;
    d->OnPreEvent(ff);
    d->OnEvent(ff, err);
}

int PhysicalSocketServer::PollOnce(int cms, bool process_io)
{
    std::vector<pollfd> fds;
    std::vector<Dispatcher *> owners;
    {
        CritScope cs(&crit_);
        removed_during_wait_.clear();
        fds.push_back({signal_wakeup_->GetDescriptor(), POLLIN, 0});
        owners.push_back(signal_wakeup_.get());
        if (process_io) {
            for (Dispatcher *d : dispatchers_) {
                uint32_t ff = d->GetRequestedEvents();
                short events = 0;
                if (ff & (DE_READ | DE_ACCEPT))
                    events |= POLLIN;
                if (ff & (DE_WRITE | DE_CONNECT))
                    events |= POLLOUT;
                if (!events && !(ff & DE_CLOSE))
                    continue;
                fds.push_back({d->GetDescriptor(), events, 0});
                owners.push_back(d);
            }
        }
    }
    int n = poll(fds.data(), fds.size(), cms);
    if (n < 0)
        return errno == EINTR ? 1 : -1;
    if (n == 0)
        return 0;
    for (size_t i = 0; i < fds.size(); i++) {
        if (!fds[i].revents)
            continue;
        Dispatcher *d = owners[i];
        {
            CritScope cs(&crit_);
            // A handler earlier in this round may have removed it, or freed it
            // and another taken its address with a new descriptor.
            if (d != signal_wakeup_.get() &&
                (!dispatchers_.count(d) || removed_during_wait_.count(d) ||
                 d->GetDescriptor() != fds[i].fd))
                continue;
        }
        if (d == signal_wakeup_.get()) {
            d->OnPreEvent(DE_READ);
            d->OnEvent(DE_READ, 0);
            continue;
        }
        DispatchSocketEvents(d, fds[i].revents);
    }
    return 1;
}

bool PhysicalSocketServer::Wait(int cmsWait, bool process_io)
{
    int64_t stop_at = cmsWait == kForever ? 0 : SystemTimeMillis() + cmsWait;
    fWait_ = true;
    while (fWait_) {
        int cms = kForever;
        if (cmsWait != kForever) {
            int64_t left = stop_at - SystemTimeMillis();
            cms = left > 0 ? static_cast<int>(left) : 0;
        }
        // A signal that interrupts the poll counts as a round with no events:
        // the loop polls again for the time left.
        int result = PollOnce(cms, process_io);
        if (result < 0) {
            RTC_LOG_ERRNO(LS_ERROR) << "poll failed";
            fWait_ = false;
            return false;
        }
        if (result == 0)
            break;
        if (cmsWait != kForever && SystemTimeMillis() >= stop_at)
            break;
    }
    fWait_ = false;
    return true;
}

} // namespace rtc
