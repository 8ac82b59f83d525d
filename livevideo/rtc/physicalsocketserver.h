// The socket server on the operating system's own descriptors: one poll loop
// over the dispatchers' descriptors and an eventfd that WakeUp signals.
#pragma once

#include "rtc/criticalsection.h"
#include "rtc/socket.h"
#include "rtc/socketserver.h"

#include <cstdint>
#include <map>
#include <memory>

namespace rtc
{

// Events a dispatcher asks for and is told of.
enum DispatcherEvent {
    DE_READ = 0x0001,
    DE_WRITE = 0x0002,
    DE_CONNECT = 0x0004,
    DE_CLOSE = 0x0008,
    DE_ACCEPT = 0x0010,
};

// One descriptor the socket server polls for its owner.
class Dispatcher
{
  public:
    virtual ~Dispatcher() = default;
    virtual uint32_t GetRequestedEvents() = 0;
    // Before OnEvent, with the same events: the dispatcher stops asking for them.
    virtual void OnPreEvent(uint32_t ff) = 0;
    virtual void OnEvent(uint32_t ff, int err) = 0;
    virtual int GetDescriptor() = 0;
    virtual bool IsDescriptorClosed() = 0;
};

class PhysicalSocketServer : public SocketServer
{
  public:
    PhysicalSocketServer();
    ~PhysicalSocketServer() override;

    bool Wait(int cms, bool process_io) override;
    void WakeUp() override;

    // A plain (blocking) socket, or null with errno set.
    Socket *CreateSocket(int family, int type);
    // A non-blocking socket whose events this server reports while it waits
    // with process_io; null with errno set.
    AsyncSocket *CreateAsyncSocket(int family, int type);
    // Takes over an open descriptor (made non-blocking); null on failure.
    AsyncSocket *WrapSocket(int s);

    // Dispatchers are not owned; each removes itself before it is freed.
    void Add(Dispatcher *dispatcher);
    void Remove(Dispatcher *dispatcher);

  private:
    class Signaler;
    friend class Signaler;

    // Polls once for at most cms (kForever: no limit) and hands the events out.
    // -1: the poll failed; 0: it timed out; 1: something was handled.
    int PollOnce(int cms, bool process_io);
    // Turns poll's report on one socket into the events it asked for.
    void DispatchSocketEvents(Dispatcher *d, short revents);

    std::unique_ptr<Signaler> signal_wakeup_;
    // Each dispatcher with the serial number of its Add: a round of events goes
    // only to dispatchers still registered under the serial it polled with, never
    // to one removed meanwhile or to a new one at a freed one's address.
    std::map<Dispatcher *, uint64_t> dispatchers_;
    uint64_t next_serial_ = 1;
    // Only the waiting thread reads and writes it.
    bool fWait_ = false;
    CriticalSection crit_;
};

class AsyncResolver;

// One operating-system socket, TCP or UDP.
class PhysicalSocket : public AsyncSocket
{
  public:
    PhysicalSocket(PhysicalSocketServer *ss, int s = INVALID_SOCKET);
    ~PhysicalSocket() override;

    virtual bool Create(int family, int type);

    SocketAddress GetLocalAddress() const override;
    SocketAddress GetRemoteAddress() const override;
    int Bind(const SocketAddress &bind_addr) override;
    // A host name is resolved first (on a signal thread; the calling thread must
    // be a serving rtc::Thread), then connected.
    int Connect(const SocketAddress &addr) override;
    int Send(const void *pv, size_t cb) override;
    int SendTo(const void *buffer, size_t length, const SocketAddress &addr) override;
    int Recv(void *buffer, size_t length, int64_t *timestamp) override;
    int RecvFrom(void *buffer, size_t length, SocketAddress *out_addr, int64_t *timestamp) override;
    int Listen(int backlog) override;
    AsyncSocket *Accept(SocketAddress *out_addr) override;
    int Close() override;
    int GetError() const override;
    void SetError(int error) override;
    ConnState GetState() const override
    {
        return state_;
    }
    int EstimateMTU(uint16_t *mtu) override;
    int GetOption(Option opt, int *value) override;
    int SetOption(Option opt, int value) override;

    int GetDescriptor() const
    {
        return s_;
    }

  protected:
    int DoConnect(const SocketAddress &connect_addr);
    void OnResolveResult(AsyncResolver *resolver);
    void UpdateLastError();
    // -1 for options the system has no counterpart for.
    static int TranslateOption(Option opt, int *slevel, int *sopt);

    void EnableEvents(uint32_t events)
    {
        enabled_events_ |= events;
    }
    void DisableEvents(uint32_t events)
    {
        enabled_events_ &= ~events;
    }

    PhysicalSocketServer *ss_;
    int s_;
    int family_ = AF_UNSPEC;
    bool udp_ = false;
    mutable CriticalSection crit_;
    int error_ = 0;
    ConnState state_;
    AsyncResolver *resolver_ = nullptr;
    uint32_t enabled_events_ = 0;
    // A stream read found the end: the close is reported by the next wait.
    bool close_pending_ = false;
};

// A PhysicalSocket registered with its socket server, which turns the
// server's events into the socket's signals.
class SocketDispatcher : public Dispatcher, public PhysicalSocket
{
  public:
    explicit SocketDispatcher(PhysicalSocketServer *ss);
    SocketDispatcher(int s, PhysicalSocketServer *ss);
    ~SocketDispatcher() override;

    // Non-blocking and registered.
    bool Initialize();
    bool Create(int family, int type) override;

    int GetDescriptor() override;
    bool IsDescriptorClosed() override;
    uint32_t GetRequestedEvents() override;
    void OnPreEvent(uint32_t ff) override;
    void OnEvent(uint32_t ff, int err) override;
    int Close() override;

  private:
    bool registered_ = false;
    // Expires with the object: OnEvent's check after each signal.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace rtc
