// ICMP echo for IPv4 and IPv6, used to probe the path MTU. Raw ICMP sockets
// when the process may open them (root or CAP_NET_RAW), else the unprivileged
// datagram kind (net.ipv4.ping_group_range); not valid when neither opens.
#pragma once

#include "rtc/ipaddress.h"

#include <cstdint>
#include <vector>

namespace rtc
{

class WinPing
{
  public:
    enum PingResult {
        PING_FAIL,
        PING_INVALID_PARAMS,
        PING_TOO_LARGE,
        PING_TIMEOUT,
        PING_SUCCESS,
    };

    WinPing();
    ~WinPing();
    WinPing(const WinPing &) = delete;
    WinPing &operator=(const WinPing &) = delete;

    // An IPv4 ICMP socket could be opened.
    bool IsValid() const
    {
        return valid_;
    }
    // One echo of data_size bytes; "too large" when it would need fragmenting
    // and allow_fragments is false.
    PingResult Ping(const IPAddress &ip, uint32_t data_size, uint32_t timeout_millis, uint8_t ttl,
                    bool allow_fragments);

  private:
    PingResult AwaitReply(int fd, bool raw, int family, uint16_t id, uint16_t seq,
                          uint32_t timeout_millis);

    int hping_ = -1;
    int hping6_ = -1;
    bool raw_ = false;
    bool raw6_ = false;
    std::vector<uint8_t> reply_;
    uint16_t seq_ = 0;
    bool valid_ = false;
};

} // namespace rtc
