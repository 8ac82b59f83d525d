// Host-name lookup: blocking, and asynchronous on a signal thread.
#pragma once

#include "rtc/ipaddress.h"
#include "rtc/signalthread.h"
#include "rtc/socketaddress.h"

#include <vector>

namespace rtc
{

// getaddrinfo for hostname, limited to the families configured on this machine
// and to family (0: any); the addresses in the order given. Returns 0 or the
// getaddrinfo error code unchanged.
int ResolveHostname(const std::string &hostname, int family, std::vector<IPAddress> *addresses);

class AsyncResolver : public SignalThread
{
  public:
    AsyncResolver();

    // Resolves addr's host name; SignalDone follows on this thread.
    void Start(const SocketAddress &addr);
    // addr with the first resolved IP of family; false while running, after a
    // failure or when no address of that family was found.
    bool GetResolvedAddress(int family, SocketAddress *addr) const;
    int GetError() const
    {
        return error_;
    }
    const SocketAddress &address() const
    {
        return addr_;
    }
    const std::vector<IPAddress> &addresses() const
    {
        return addresses_;
    }

    Signal<AsyncResolver *> SignalDone;

  protected:
    ~AsyncResolver() override = default;
    void DoWork() override;
    void OnWorkDone() override;

  private:
    SocketAddress addr_;
    std::vector<IPAddress> addresses_;
    int error_ = -1;
    bool done_ = false;
};

} // namespace rtc
