#include "rtc/physicalsocketserver.h"

#include "rtc/logging.h"
#include "rtc/nethelpers.h"
#include "rtc/timeutils.h"
#include "rtc/winping.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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
    dispatchers_[pdispatcher] = next_serial_++;
}

void PhysicalSocketServer::Remove(Dispatcher *pdispatcher)
{
    CritScope cs(&crit_);
    if (dispatchers_.erase(pdispatcher) == 0) {
        RTC_LOG(LS_WARNING) << "PhysicalSocketServer asked to remove a unknown "
                            << "dispatcher, potentially from a duplicate call to Add.";
        return;
    }
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
    std::vector<std::pair<Dispatcher *, uint64_t>> owners;
    {
        CritScope cs(&crit_);
        fds.push_back({signal_wakeup_->GetDescriptor(), POLLIN, 0});
        owners.emplace_back(signal_wakeup_.get(), 0);
        if (process_io) {
            for (auto [d, serial] : dispatchers_) {
                uint32_t ff = d->GetRequestedEvents();
                short events = 0;
                if (ff & (DE_READ | DE_ACCEPT))
                    events |= POLLIN;
                if (ff & (DE_WRITE | DE_CONNECT))
                    events |= POLLOUT;
                if (!events && !(ff & DE_CLOSE))
                    continue;
                fds.push_back({d->GetDescriptor(), events, 0});
                owners.emplace_back(d, serial);
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
        Dispatcher *d = owners[i].first;
        if (d != signal_wakeup_.get()) {
            // A handler earlier in this round may have removed it, or freed it
            // and registered another at the same address (and descriptor).
            CritScope cs(&crit_);
            auto it = dispatchers_.find(d);
            if (it == dispatchers_.end() || it->second != owners[i].second)
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

namespace rtc
{

namespace
{

// Path MTUs worth probing, largest first; 0 ends the table.
const uint16_t PACKET_MAXIMUMS[] = {65535, 32000, 17914, 8166, 4352, 2002,
                                    1492,  1006,  508,   296,  68,   0};
// IP plus ICMP header bytes that a probe's payload leaves room for.
const int IPV6_HEADER_SIZE = 40 + 8;
const int IPV4_HEADER_SIZE = 20 + 8;
const int ICMP_HEADER_SIZE = 8;
const uint32_t ICMP_PING_TIMEOUT_MILLIS = 10000;

} // namespace

Socket *PhysicalSocketServer::CreateSocket(int family, int type)
{
    auto *socket = new PhysicalSocket(this);
    if (socket->Create(family, type))
        return socket;
    delete socket;
    return nullptr;
}

AsyncSocket *PhysicalSocketServer::CreateAsyncSocket(int family, int type)
{
    auto *dispatcher = new SocketDispatcher(this);
    if (dispatcher->Create(family, type))
        return dispatcher;
    delete dispatcher;
    return nullptr;
}

AsyncSocket *PhysicalSocketServer::WrapSocket(int s)
{
    auto *dispatcher = new SocketDispatcher(s, this);
    if (dispatcher->Initialize())
        return dispatcher;
    delete dispatcher;
    return nullptr;
}

PhysicalSocket::PhysicalSocket(PhysicalSocketServer *ss, int s)
    : ss_(ss), s_(s), state_(s == INVALID_SOCKET ? CS_CLOSED : CS_CONNECTED)
{
    if (s_ == INVALID_SOCKET)
        return;
    int type = 0;
    socklen_t len = sizeof(type);
    if (getsockopt(s_, SOL_SOCKET, SO_TYPE, &type, &len) == 0)
        udp_ = type == SOCK_DGRAM;
    sockaddr_storage addr;
    len = sizeof(addr);
    if (getsockname(s_, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        family_ = addr.ss_family;
}

PhysicalSocket::~PhysicalSocket()
{
    PhysicalSocket::Close();
}

bool PhysicalSocket::Create(int family, int type)
{
    Close();
    s_ = ::socket(family, type | SOCK_CLOEXEC, 0);
    udp_ = type == SOCK_DGRAM;
    family_ = family;
    UpdateLastError();
    if (udp_)
        EnableEvents(DE_READ | DE_WRITE);
    return s_ != INVALID_SOCKET;
}

SocketAddress PhysicalSocket::GetLocalAddress() const
{
    sockaddr_storage addr_storage = {};
    socklen_t addrlen = sizeof(addr_storage);
    SocketAddress address;
    if (getsockname(s_, reinterpret_cast<sockaddr *>(&addr_storage), &addrlen) == 0)
        SocketAddressFromSockAddrStorage(addr_storage, &address);
    else
        RTC_LOG(LS_WARNING) << "GetLocalAddress: unable to get local addr, socket=" << s_;
    return address;
}

SocketAddress PhysicalSocket::GetRemoteAddress() const
{
    sockaddr_storage addr_storage = {};
    socklen_t addrlen = sizeof(addr_storage);
    SocketAddress address;
    if (getpeername(s_, reinterpret_cast<sockaddr *>(&addr_storage), &addrlen) == 0)
        SocketAddressFromSockAddrStorage(addr_storage, &address);
    else
        RTC_LOG(LS_WARNING) << "GetRemoteAddress: unable to get remote addr, socket=" << s_;
    return address;
}

int PhysicalSocket::Bind(const SocketAddress &bind_addr)
{
    sockaddr_storage addr_storage;
    size_t len = bind_addr.ToSockAddrStorage(&addr_storage);
    int err = ::bind(s_, reinterpret_cast<sockaddr *>(&addr_storage), static_cast<socklen_t>(len));
    UpdateLastError();
    RTC_LOG(LS_VERBOSE) << "Binding socket to network address " << bind_addr.ToString()
                        << " result " << err;
    if (err == 0)
        RTC_LOG(LS_INFO) << "Bound @ " << GetLocalAddress().ToString();
    return err;
}

int PhysicalSocket::Connect(const SocketAddress &addr)
{
    if (state_ != CS_CLOSED) {
        SetError(EALREADY);
        return SOCKET_ERROR;
    }
    if (addr.IsUnresolvedIP()) {
        RTC_LOG(LS_INFO) << "Resolving addr in PhysicalSocket::Connect";
        resolver_ = new AsyncResolver();
        resolver_->SignalDone.connect(this, [this](AsyncResolver *r) { OnResolveResult(r); });
        resolver_->Start(addr);
        state_ = CS_CONNECTING;
        return 0;
    }
    return DoConnect(addr);
}

int PhysicalSocket::DoConnect(const SocketAddress &connect_addr)
{
    if (s_ == INVALID_SOCKET && !Create(connect_addr.family(), SOCK_STREAM))
        return SOCKET_ERROR;
    sockaddr_storage addr_storage;
    size_t len = connect_addr.ToSockAddrStorage(&addr_storage);
    int err =
        ::connect(s_, reinterpret_cast<sockaddr *>(&addr_storage), static_cast<socklen_t>(len));
    UpdateLastError();
    if (err == 0) {
        state_ = CS_CONNECTED;
    } else if (IsBlockingError(GetError())) {
        state_ = CS_CONNECTING;
    } else {
        return SOCKET_ERROR;
    }
    // An immediate connect is reported through the next wait too, so the owner
    // always hears of it the same way.
    EnableEvents(DE_READ | DE_WRITE | DE_CONNECT);
    return 0;
}

void PhysicalSocket::OnResolveResult(AsyncResolver *resolver)
{
    if (resolver != resolver_)
        return;
    int error = resolver_->GetError();
    SocketAddress resolved;
    if (error == 0 && !resolver_->GetResolvedAddress(family_ == AF_UNSPEC ? 0 : family_, &resolved))
        error = EHOSTUNREACH;
    if (error == 0) {
        state_ = CS_CLOSED; // DoConnect starts from a closed socket
        error = DoConnect(resolved);
        if (error != 0)
            error = GetError();
    } else {
        Close();
    }
    if (error) {
        SetError(error);
        SignalCloseEvent(this, error);
    }
}

int PhysicalSocket::GetError() const
{
    CritScope cs(&crit_);
    return error_;
}

void PhysicalSocket::SetError(int error)
{
    CritScope cs(&crit_);
    error_ = error;
}

void PhysicalSocket::UpdateLastError()
{
    SetError(errno);
}

int PhysicalSocket::TranslateOption(Option opt, int *slevel, int *sopt)
{
    switch (opt) {
    case OPT_DONTFRAGMENT:
        *slevel = IPPROTO_IP;
        *sopt = IP_MTU_DISCOVER;
        return 0;
    case OPT_RCVBUF:
        *slevel = SOL_SOCKET;
        *sopt = SO_RCVBUF;
        return 0;
    case OPT_SNDBUF:
        *slevel = SOL_SOCKET;
        *sopt = SO_SNDBUF;
        return 0;
    case OPT_NODELAY:
        *slevel = IPPROTO_TCP;
        *sopt = TCP_NODELAY;
        return 0;
    case OPT_IPV6_V6ONLY:
        *slevel = IPPROTO_IPV6;
        *sopt = IPV6_V6ONLY;
        return 0;
    case OPT_DSCP:
        RTC_LOG(LS_WARNING) << "Socket::OPT_DSCP not supported.";
        return -1;
    }
    return -1;
}

int PhysicalSocket::GetOption(Option opt, int *value)
{
    int slevel;
    int sopt;
    if (TranslateOption(opt, &slevel, &sopt) == -1)
        return -1;
    socklen_t optlen = sizeof(*value);
    int ret = ::getsockopt(s_, slevel, sopt, value, &optlen);
    if (ret != -1 && opt == OPT_DONTFRAGMENT)
        *value = (*value != IP_PMTUDISC_DONT) ? 1 : 0;
    return ret;
}

int PhysicalSocket::SetOption(Option opt, int value)
{
    int slevel;
    int sopt;
    if (TranslateOption(opt, &slevel, &sopt) == -1)
        return -1;
    if (opt == OPT_DONTFRAGMENT)
        value = value ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    return ::setsockopt(s_, slevel, sopt, &value, sizeof(value));
}

int PhysicalSocket::Send(const void *pv, size_t cb)
{
    int sent = static_cast<int>(::send(s_, pv, cb, MSG_NOSIGNAL));
    UpdateLastError();
    RTC_DCHECK(sent <= static_cast<int>(cb));
    if (sent < 0 && IsBlockingError(GetError()))
        EnableEvents(DE_WRITE);
    return sent;
}

int PhysicalSocket::SendTo(const void *buffer, size_t length, const SocketAddress &addr)
{
    sockaddr_storage saddr;
    size_t len = addr.ToSockAddrStorage(&saddr);
    int sent = static_cast<int>(::sendto(s_, buffer, length, MSG_NOSIGNAL,
                                         reinterpret_cast<sockaddr *>(&saddr),
                                         static_cast<socklen_t>(len)));
    UpdateLastError();
    RTC_DCHECK(sent <= static_cast<int>(length));
    if (sent < 0 && IsBlockingError(GetError()))
        EnableEvents(DE_WRITE);
    return sent;
}

int PhysicalSocket::Recv(void *buffer, size_t length, int64_t *timestamp)
{
    if (timestamp)
        *timestamp = -1;
    int received = static_cast<int>(::recv(s_, buffer, length, 0));
    if (received == 0 && length != 0 && !udp_) {
        // The owner learns of the end through the close event of the next wait,
        // not through a zero-length read it might take for "nothing yet".
        RTC_LOG(LS_WARNING) << "EOF from socket; deferring close event";
        close_pending_ = true;
        EnableEvents(DE_READ);
        SetError(EWOULDBLOCK);
        return SOCKET_ERROR;
    }
    if (received < 0)
        UpdateLastError();
    else
        SetError(0);
    int error = GetError();
    bool success = received >= 0 || IsBlockingError(error);
    if (udp_ || success)
        EnableEvents(DE_READ);
    if (!success)
        RTC_LOG(LS_INFO) << "Error = " << error;
    return received;
}

int PhysicalSocket::RecvFrom(void *buffer, size_t length, SocketAddress *out_addr,
                             int64_t *timestamp)
{
    if (timestamp)
        *timestamp = -1;
    sockaddr_storage addr_storage;
    socklen_t addr_len = sizeof(addr_storage);
    int received = static_cast<int>(
        ::recvfrom(s_, buffer, length, 0, reinterpret_cast<sockaddr *>(&addr_storage), &addr_len));
    if (received < 0)
        UpdateLastError();
    else
        SetError(0);
    if (received >= 0 && out_addr)
        SocketAddressFromSockAddrStorage(addr_storage, out_addr);
    int error = GetError();
    bool success = received >= 0 || IsBlockingError(error);
    if (udp_ || success)
        EnableEvents(DE_READ);
    if (!success)
        RTC_LOG(LS_INFO) << "Error = " << error;
    return received;
}

int PhysicalSocket::Listen(int backlog)
{
    int err = ::listen(s_, backlog);
    UpdateLastError();
    if (err == 0) {
        state_ = CS_CONNECTING;
        EnableEvents(DE_ACCEPT);
        RTC_LOG(LS_INFO) << "Listening @ " << GetLocalAddress().ToString();
    }
    return err;
}

AsyncSocket *PhysicalSocket::Accept(SocketAddress *out_addr)
{
    // Asked again whether or not this one works: the next connection is news too.
    EnableEvents(DE_ACCEPT);
    sockaddr_storage addr_storage;
    socklen_t addr_len = sizeof(addr_storage);
    int s = ::accept4(s_, reinterpret_cast<sockaddr *>(&addr_storage), &addr_len, SOCK_CLOEXEC);
    UpdateLastError();
    if (s == INVALID_SOCKET)
        return nullptr;
    if (out_addr)
        SocketAddressFromSockAddrStorage(addr_storage, out_addr);
    return ss_->WrapSocket(s);
}

int PhysicalSocket::Close()
{
    if (s_ == INVALID_SOCKET)
        return 0;
    int err = ::close(s_);
    UpdateLastError();
    s_ = INVALID_SOCKET;
    state_ = CS_CLOSED;
    enabled_events_ = 0;
    close_pending_ = false;
    if (resolver_) {
        resolver_->Destroy(false);
        resolver_ = nullptr;
    }
    return err;
}

int PhysicalSocket::EstimateMTU(uint16_t *mtu)
{
    SocketAddress addr = GetRemoteAddress();
    if (addr.IsAnyIP() || IPIsUnspec(addr.ipaddr())) {
        SetError(ENOTCONN);
        return -1;
    }
    WinPing ping;
    if (!ping.IsValid()) {
        SetError(EINVAL);
        return -1;
    }
    int header_size = ICMP_HEADER_SIZE;
    if (addr.family() == AF_INET6)
        header_size = IPV6_HEADER_SIZE;
    else if (addr.family() == AF_INET)
        header_size = IPV4_HEADER_SIZE;
    for (int level = 0; PACKET_MAXIMUMS[level] > 0; ++level) {
        WinPing::PingResult result = ping.Ping(addr.ipaddr(), PACKET_MAXIMUMS[level] - header_size,
                                               ICMP_PING_TIMEOUT_MILLIS, 1, false);
        if (result == WinPing::PING_FAIL || result == WinPing::PING_INVALID_PARAMS) {
            SetError(EINVAL);
            return -1;
        }
        if (result != WinPing::PING_TOO_LARGE) {
            *mtu = PACKET_MAXIMUMS[level];
            return 0;
        }
    }
    RTC_DCHECK_AT("physicalsocketserver", 571, false);
    return -1;
}

SocketDispatcher::SocketDispatcher(PhysicalSocketServer *ss) : PhysicalSocket(ss) {}

SocketDispatcher::SocketDispatcher(int s, PhysicalSocketServer *ss) : PhysicalSocket(ss, s) {}

SocketDispatcher::~SocketDispatcher()
{
    SocketDispatcher::Close();
}

bool SocketDispatcher::Initialize()
{
    int flags = fcntl(s_, F_GETFL, 0);
    if (flags < 0 || fcntl(s_, F_SETFL, flags | O_NONBLOCK) < 0) {
        UpdateLastError();
        return false;
    }
    if (state_ == CS_CONNECTED)
        EnableEvents(DE_READ | DE_WRITE);
    ss_->Add(this);
    registered_ = true;
    return true;
}

bool SocketDispatcher::Create(int family, int type)
{
    if (!PhysicalSocket::Create(family, type))
        return false;
    return Initialize();
}

int SocketDispatcher::GetDescriptor()
{
    return s_;
}

bool SocketDispatcher::IsDescriptorClosed()
{
    if (udp_)
        return s_ == INVALID_SOCKET;
    char ch;
    ssize_t res = ::recv(s_, &ch, 1, MSG_PEEK | MSG_DONTWAIT);
    if (res > 0)
        return false;
    if (res == 0)
        return true;
    return errno == EBADF || errno == ECONNRESET || errno == ENOTCONN || errno == EPIPE;
}

uint32_t SocketDispatcher::GetRequestedEvents()
{
    return enabled_events_;
}

void SocketDispatcher::OnPreEvent(uint32_t ff)
{
    // Level-triggered poll would repeat these at once: each is asked for again
    // by the call that consumes it (Recv, Accept, a blocked Send).
    DisableEvents(ff & (DE_READ | DE_WRITE | DE_ACCEPT | DE_CONNECT));
}

void SocketDispatcher::OnEvent(uint32_t ff, int err)
{
    // A slot may delete the socket; nothing after that signal may touch it.
    std::weak_ptr<bool> alive = alive_;
    if (ff & DE_CONNECT) {
        RTC_LOG(LS_VERBOSE) << "Signalled with DE_CONNECT: " << ff;
        if (err != 0) {
            SetError(err);
            state_ = CS_CLOSED;
            enabled_events_ = 0;
            SignalCloseEvent(this, err);
            return;
        }
        state_ = CS_CONNECTED;
        EnableEvents(DE_READ | DE_WRITE);
        RTC_LOG(LS_INFO) << "Connected @ " << GetRemoteAddress().ToString();
        SignalConnectEvent(this);
        if (alive.expired())
            return;
    }
    if (ff & (DE_READ | DE_CLOSE)) {
        if (close_pending_ || (ff & DE_CLOSE) || (err != 0 && !udp_)) {
            close_pending_ = false;
            enabled_events_ = 0;
            SetError(err);
            SignalCloseEvent(this, err);
            return;
        }
    }
    if (ff & (DE_READ | DE_ACCEPT)) {
        SignalReadEvent(this);
        if (alive.expired())
            return;
    }
    if (ff & DE_WRITE)
        SignalWriteEvent(this);
}

int SocketDispatcher::Close()
{
    if (registered_) {
        ss_->Remove(this);
        registered_ = false;
    }
    return PhysicalSocket::Close();
}

} // namespace rtc
