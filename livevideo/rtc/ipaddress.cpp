#include "rtc/ipaddress.h"

#include <arpa/inet.h>
#include <cstring>

namespace rtc
{

namespace
{

constexpr socklen_t kMinIPv4TextBuffer = 22;
constexpr socklen_t kMinIPv6TextBuffer = 65;

} // namespace

IPAddress::IPAddress() : family_(AF_UNSPEC)
{
    memset(&u_, 0, sizeof(u_));
}

IPAddress::IPAddress(const in_addr &ip4) : family_(AF_INET)
{
    memset(&u_, 0, sizeof(u_));
    u_.ip4 = ip4;
}

IPAddress::IPAddress(const in6_addr &ip6) : family_(AF_INET6)
{
    u_.ip6 = ip6;
}

IPAddress::IPAddress(uint32_t ip_in_host_byte_order) : family_(AF_INET)
{
    memset(&u_, 0, sizeof(u_));
    u_.ip4.s_addr = htonl(ip_in_host_byte_order);
}

bool IPAddress::operator==(const IPAddress &other) const
{
    if (family_ != other.family_)
        return false;
    if (family_ == AF_INET)
        return u_.ip4.s_addr == other.u_.ip4.s_addr;
    if (family_ == AF_INET6)
        return memcmp(&u_.ip6, &other.u_.ip6, sizeof(u_.ip6)) == 0;
    return true;
}

bool IPAddress::operator<(const IPAddress &other) const
{
    if (family_ != other.family_) {
        if (family_ == AF_UNSPEC)
            return true;
        if (family_ == AF_INET && other.family_ == AF_INET6)
            return true;
        return false;
    }
    if (family_ == AF_INET)
        return v4AddressAsHostOrderInteger() < other.v4AddressAsHostOrderInteger();
    if (family_ == AF_INET6)
        return memcmp(&u_.ip6, &other.u_.ip6, sizeof(u_.ip6)) < 0;
    return false;
}

in_addr IPAddress::ipv4_address() const
{
    return u_.ip4;
}

in6_addr IPAddress::ipv6_address() const
{
    return u_.ip6;
}

size_t IPAddress::Size() const
{
    switch (family_) {
    case AF_INET:
        return sizeof(in_addr);
    case AF_INET6:
        return sizeof(in6_addr);
    }
    return 0;
}

std::string IPAddress::ToString() const
{
    char buf[kMinIPv6TextBuffer + 15];
    const void *src = family_ == AF_INET ? static_cast<const void *>(&u_.ip4)
                                         : static_cast<const void *>(&u_.ip6);
    if (!rtc::inet_ntop(family_, src, buf, sizeof(buf)))
        return std::string();
    return buf;
}

uint32_t IPAddress::v4AddressAsHostOrderInteger() const
{
    return family_ == AF_INET ? ntohl(u_.ip4.s_addr) : 0;
}

bool IPFromString(const std::string &str, IPAddress *out)
{
    if (!out)
        return false;
    in_addr addr4;
    in6_addr addr6;
    if (rtc::inet_pton(AF_INET, str.c_str(), &addr4) > 0) {
        *out = IPAddress(addr4);
        return true;
    }
    if (rtc::inet_pton(AF_INET6, str.c_str(), &addr6) > 0) {
        *out = IPAddress(addr6);
        return true;
    }
    *out = IPAddress();
    return false;
}

bool IPIsAny(const IPAddress &ip)
{
    if (ip.family() == AF_INET)
        return ip.v4AddressAsHostOrderInteger() == INADDR_ANY;
    if (ip.family() == AF_INET6) {
        in6_addr a = ip.ipv6_address();
        return IN6_IS_ADDR_UNSPECIFIED(&a);
    }
    return false;
}

bool IPIsLoopback(const IPAddress &ip)
{
    if (ip.family() == AF_INET)
        return (ip.v4AddressAsHostOrderInteger() >> 24) == 127;
    if (ip.family() == AF_INET6) {
        in6_addr a = ip.ipv6_address();
        return IN6_IS_ADDR_LOOPBACK(&a);
    }
    return false;
}

bool IPIsUnspec(const IPAddress &ip)
{
    return ip.family() == AF_UNSPEC;
}

const char *inet_ntop(int af, const void *src, char *dst, socklen_t size)
{
    if (!src || !dst)
        return nullptr;
    if (af == AF_INET && size >= kMinIPv4TextBuffer)
        return ::inet_ntop(AF_INET, src, dst, size);
    if (af == AF_INET6 && size >= kMinIPv6TextBuffer)
        return ::inet_ntop(AF_INET6, src, dst, size);
    return nullptr;
}

int inet_pton(int af, const char *src, void *dst)
{
    if (af != AF_INET && af != AF_INET6)
        return -1;
    return ::inet_pton(af, src, dst);
}

} // namespace rtc
