#include "rtc/socketaddress.h"

#include "rtc/logging.h"

#include <cstdlib>
#include <cstring>

namespace rtc
{

SocketAddress::SocketAddress() = default;

SocketAddress::SocketAddress(const std::string &hostname, int port)
{
    SetIP(hostname);
    SetPort(port);
}

SocketAddress::SocketAddress(uint32_t ip_as_host_order_integer, int port)
{
    SetIP(IPAddress(ip_as_host_order_integer));
    SetPort(port);
}

SocketAddress::SocketAddress(const IPAddress &ip, int port)
{
    SetIP(ip);
    SetPort(port);
}

void SocketAddress::Clear()
{
    hostname_.clear();
    literal_ = false;
    ip_ = IPAddress();
    port_ = 0;
    scope_id_ = 0;
}

bool SocketAddress::IsNil() const
{
    return hostname_.empty() && IPIsUnspec(ip_) && port_ == 0;
}

bool SocketAddress::IsComplete() const
{
    return port_ != 0 && ((!IPIsAny(ip_) && !IPIsUnspec(ip_)) || !hostname_.empty());
}

void SocketAddress::SetIP(uint32_t ip_as_host_order_integer)
{
    SetIP(IPAddress(ip_as_host_order_integer));
}

void SocketAddress::SetIP(const IPAddress &ip)
{
    hostname_.clear();
    literal_ = false;
    ip_ = ip;
    scope_id_ = 0;
}

void SocketAddress::SetIP(const std::string &hostname)
{
    hostname_ = hostname;
    literal_ = IPFromString(hostname, &ip_);
    scope_id_ = 0;
}

void SocketAddress::SetResolvedIP(const IPAddress &ip)
{
    ip_ = ip;
    scope_id_ = 0;
}

void SocketAddress::SetPort(int port)
{
    RTC_DCHECK((0 <= port) && (port < 65536));
    port_ = static_cast<uint16_t>(port);
}

std::string SocketAddress::HostAsURIString() const
{
    if (!literal_ && !hostname_.empty())
        return hostname_;
    if (ip_.family() == AF_INET6)
        return "[" + ip_.ToString() + "]";
    return ip_.ToString();
}

std::string SocketAddress::PortAsString() const
{
    return std::to_string(port_);
}

std::string SocketAddress::ToString() const
{
    return HostAsURIString() + ":" + PortAsString();
}

bool SocketAddress::FromString(const std::string &str)
{
    std::string host;
    int port = 0;
    auto parse_port = [&port](const std::string &text) {
        if (text.empty() || text.size() > 5 ||
            text.find_first_not_of("0123456789") != std::string::npos)
            return false;
        port = atoi(text.c_str());
        return port < 65536;
    };
    if (!str.empty() && str[0] == '[') {
        size_t closebracket = str.find(']');
        if (closebracket == std::string::npos)
            return false;
        host = str.substr(1, closebracket - 1);
        if (closebracket + 1 < str.size()) {
            if (str[closebracket + 1] != ':' || !parse_port(str.substr(closebracket + 2)))
                return false;
        }
        IPAddress ip;
        if (!IPFromString(host, &ip) || ip.family() != AF_INET6)
            return false;
    } else {
        size_t pos = str.find(':');
        if (pos != std::string::npos && str.find(':', pos + 1) != std::string::npos) {
            host = str; // bare IPv6 text, no port
        } else if (pos != std::string::npos) {
            host = str.substr(0, pos);
            if (!parse_port(str.substr(pos + 1)))
                return false;
        } else {
            host = str;
        }
    }
    SetIP(host);
    SetPort(port);
    return true;
}

bool SocketAddress::IsAnyIP() const
{
    return IPIsAny(ip_);
}

bool SocketAddress::IsLoopbackIP() const
{
    return IPIsLoopback(ip_) || (IPIsAny(ip_) && hostname_ == "localhost");
}

bool SocketAddress::IsUnresolvedIP() const
{
    return IPIsUnspec(ip_) && !literal_ && !hostname_.empty();
}

bool SocketAddress::operator==(const SocketAddress &addr) const
{
    if (port_ != addr.port_)
        return false;
    if (ip_ != addr.ip_)
        return false;
    // Unresolved names compare by name.
    if (IPIsUnspec(ip_))
        return hostname_ == addr.hostname_;
    return true;
}

bool SocketAddress::operator<(const SocketAddress &addr) const
{
    if (ip_ != addr.ip_)
        return ip_ < addr.ip_;
    if (IPIsUnspec(ip_) && hostname_ != addr.hostname_)
        return hostname_ < addr.hostname_;
    return port_ < addr.port_;
}

size_t SocketAddress::ToSockAddrStorage(sockaddr_storage *addr) const
{
    memset(addr, 0, sizeof(*addr));
    if (ip_.family() == AF_INET) {
        sockaddr_in *saddr = reinterpret_cast<sockaddr_in *>(addr);
        saddr->sin_family = AF_INET;
        saddr->sin_port = htons(port_);
        saddr->sin_addr = ip_.ipv4_address();
        return sizeof(sockaddr_in);
    }
    if (ip_.family() == AF_INET6) {
        sockaddr_in6 *saddr = reinterpret_cast<sockaddr_in6 *>(addr);
        saddr->sin6_family = AF_INET6;
        saddr->sin6_port = htons(port_);
        saddr->sin6_addr = ip_.ipv6_address();
        saddr->sin6_scope_id = scope_id_;
        return sizeof(sockaddr_in6);
    }
    return 0;
}

bool SocketAddressFromSockAddrStorage(const sockaddr_storage &addr, SocketAddress *out)
{
    if (!out)
        return false;
    if (addr.ss_family == AF_INET) {
        const sockaddr_in *saddr = reinterpret_cast<const sockaddr_in *>(&addr);
        *out = SocketAddress(IPAddress(saddr->sin_addr), ntohs(saddr->sin_port));
        return true;
    }
    if (addr.ss_family == AF_INET6) {
        const sockaddr_in6 *saddr = reinterpret_cast<const sockaddr_in6 *>(&addr);
        *out = SocketAddress(IPAddress(saddr->sin6_addr), ntohs(saddr->sin6_port));
        out->SetScopeID(saddr->sin6_scope_id);
        return true;
    }
    return false;
}

} // namespace rtc
