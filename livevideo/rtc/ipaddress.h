// IPv4 and IPv6 addresses and their text forms.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

namespace rtc
{

class IPAddress
{
  public:
    IPAddress();
    explicit IPAddress(const in_addr &ip4);
    explicit IPAddress(const in6_addr &ip6);
    explicit IPAddress(uint32_t ip_in_host_byte_order);

    bool operator==(const IPAddress &other) const;
    bool operator!=(const IPAddress &other) const
    {
        return !(*this == other);
    }
    // IPv4 before IPv6, then by bytes.
    bool operator<(const IPAddress &other) const;

    // AF_INET, AF_INET6, or AF_UNSPEC when unset.
    int family() const
    {
        return family_;
    }
    in_addr ipv4_address() const;
    in6_addr ipv6_address() const;
    // 4, 16 or 0 bytes.
    size_t Size() const;
    // Dotted IPv4 or IPv6 text; empty when unset.
    std::string ToString() const;
    uint32_t v4AddressAsHostOrderInteger() const;
    bool IsNil() const
    {
        return family_ == AF_UNSPEC;
    }

  private:
    int family_;
    union {
        in_addr ip4;
        in6_addr ip6;
    } u_;
};

// Parses dotted IPv4 or IPv6 text; false (and out unset) for anything else.
bool IPFromString(const std::string &str, IPAddress *out);
bool IPIsAny(const IPAddress &ip);
bool IPIsLoopback(const IPAddress &ip);
bool IPIsUnspec(const IPAddress &ip);

// Text of an address of family af into dst. Null for other families or when
// dst is shorter than the longest text plus room (22 for IPv4, 65 for IPv6).
const char *inet_ntop(int af, const void *src, char *dst, socklen_t size);
// 1 parsed, 0 not an address of that family, -1 unknown family.
int inet_pton(int af, const char *src, void *dst);

} // namespace rtc
