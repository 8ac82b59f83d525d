// A host name or IP address with a port (and an IPv6 scope id).
#pragma once

#include "rtc/ipaddress.h"

#include <cstdint>
#include <string>
#include <sys/socket.h>

namespace rtc
{

class SocketAddress
{
  public:
    SocketAddress();
    // hostname may be IP text, which then counts as resolved.
    SocketAddress(const std::string &hostname, int port);
    SocketAddress(uint32_t ip_as_host_order_integer, int port);
    SocketAddress(const IPAddress &ip, int port);

    void Clear();
    // No host name, no IP, no port.
    bool IsNil() const;
    // An IP (or host name) and a non-zero port.
    bool IsComplete() const;

    void SetIP(uint32_t ip_as_host_order_integer);
    void SetIP(const IPAddress &ip);
    // Host name or IP text.
    void SetIP(const std::string &hostname);
    // The IP a resolver found for the host name, which is kept.
    void SetResolvedIP(const IPAddress &ip);
    void SetPort(int port);

    const std::string &hostname() const
    {
        return hostname_;
    }
    const IPAddress &ipaddr() const
    {
        return ip_;
    }
    int family() const
    {
        return ip_.family();
    }
    uint16_t port() const
    {
        return port_;
    }
    int scope_id() const
    {
        return scope_id_;
    }
    void SetScopeID(int id)
    {
        scope_id_ = id;
    }

    // The host name, or the IP (IPv6 in brackets).
    std::string HostAsURIString() const;
    std::string PortAsString() const;
    // "host:port", "1.2.3.4:port" or "[::1]:port".
    std::string ToString() const;
    // Parses what ToString writes, or a host without port (port 0).
    bool FromString(const std::string &str);

    bool IsAnyIP() const;
    bool IsLoopbackIP() const;
    // A host name without an IP yet.
    bool IsUnresolvedIP() const;

    bool operator==(const SocketAddress &addr) const;
    bool operator!=(const SocketAddress &addr) const
    {
        return !(*this == addr);
    }
    bool operator<(const SocketAddress &addr) const;

    // Fills saddr for the IP and port; 0 when there is no IP.
    size_t ToSockAddrStorage(sockaddr_storage *saddr) const;

  private:
    std::string hostname_;
    IPAddress ip_;
    uint16_t port_ = 0;
    int scope_id_ = 0;
    // The host name is IP text.
    bool literal_ = false;
};

bool SocketAddressFromSockAddrStorage(const sockaddr_storage &saddr, SocketAddress *out);

} // namespace rtc
