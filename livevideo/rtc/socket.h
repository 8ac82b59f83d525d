// The socket interfaces the physical socket server implements.
#pragma once

#include "rtc/sigslot.h"
#include "rtc/socketaddress.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>

namespace rtc
{

constexpr int SOCKET_ERROR = -1;
constexpr int INVALID_SOCKET = -1;

inline bool IsBlockingError(int e)
{
    return e == EWOULDBLOCK || e == EAGAIN || e == EINPROGRESS;
}

class Socket
{
  public:
    enum ConnState { CS_CLOSED, CS_CONNECTING, CS_CONNECTED };
    enum Option {
        OPT_DONTFRAGMENT,
        OPT_RCVBUF,
        OPT_SNDBUF,
        OPT_NODELAY,
        OPT_IPV6_V6ONLY,
        OPT_DSCP,
    };

    virtual ~Socket() = default;
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;

    virtual SocketAddress GetLocalAddress() const = 0;
    virtual SocketAddress GetRemoteAddress() const = 0;
    virtual int Bind(const SocketAddress &addr) = 0;
    virtual int Connect(const SocketAddress &addr) = 0;
    virtual int Send(const void *pv, size_t cb) = 0;
    virtual int SendTo(const void *pv, size_t length, const SocketAddress &addr) = 0;
    // timestamp may be null; it receives -1 (no receive time is kept).
    virtual int Recv(void *pv, size_t cb, int64_t *timestamp) = 0;
    virtual int RecvFrom(void *pv, size_t cb, SocketAddress *paddr, int64_t *timestamp) = 0;
    virtual int Listen(int backlog) = 0;
    virtual Socket *Accept(SocketAddress *paddr) = 0;
    virtual int Close() = 0;
    // errno of the last failed operation.
    virtual int GetError() const = 0;
    virtual void SetError(int error) = 0;
    bool IsBlocking() const
    {
        return IsBlockingError(GetError());
    }
    virtual ConnState GetState() const = 0;
    // The path MTU to the connected peer: 0 and *mtu set, or -1 (see GetError).
    virtual int EstimateMTU(uint16_t *mtu) = 0;
    virtual int GetOption(Option opt, int *value) = 0;
    virtual int SetOption(Option opt, int value) = 0;

  protected:
    Socket() = default;
};

// A non-blocking socket that reports readiness through its signals.
class AsyncSocket : public Socket
{
  public:
    AsyncSocket *Accept(SocketAddress *paddr) override = 0;

    Signal<AsyncSocket *> SignalReadEvent;
    Signal<AsyncSocket *> SignalWriteEvent;
    Signal<AsyncSocket *> SignalConnectEvent;
    // With the error that closed it (0: the peer closed).
    Signal<AsyncSocket *, int> SignalCloseEvent;
};

} // namespace rtc
