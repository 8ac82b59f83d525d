#include "rtc/winping.h"

#include "rtc/logging.h"
#include "rtc/timeutils.h"

#include <cerrno>
#include <cstring>
#include <netinet/icmp6.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rtc
{

namespace
{

// Room for the largest IP datagram and its headers.
constexpr size_t kReplyBufferSize = 65535 + 512;

int OpenIcmp(int family, int protocol, bool *raw)
{
    int fd = socket(family, SOCK_RAW | SOCK_CLOEXEC, protocol);
    *raw = fd >= 0;
    if (fd < 0)
        fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
    return fd;
}

uint16_t Checksum(const uint8_t *data, size_t len)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < len; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (len & 1)
        sum += static_cast<uint32_t>(data[len - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

} // namespace

WinPing::WinPing()
{
    hping_ = OpenIcmp(AF_INET, IPPROTO_ICMP, &raw_);
    if (hping_ < 0) {
        RTC_LOG_ERRNO(LS_ERROR) << "IcmpCreateFile: ";
        return;
    }
    hping6_ = OpenIcmp(AF_INET6, IPPROTO_ICMPV6, &raw6_);
    if (hping6_ < 0)
        RTC_LOG_ERRNO(LS_WARNING) << "Icmp6CreateFile: ";
    reply_.resize(kReplyBufferSize);
    valid_ = true;
}

WinPing::~WinPing()
{
    if (hping_ >= 0 && close(hping_) != 0)
        RTC_LOG_ERRNO(LS_ERROR) << "IcmpCloseHandle: ";
    if (hping6_ >= 0 && close(hping6_) != 0)
        RTC_LOG_ERRNO(LS_ERROR) << "Icmp6CloseHandle: ";
}

WinPing::PingResult WinPing::Ping(const IPAddress &ip, uint32_t data_size, uint32_t timeout_millis,
                                  uint8_t ttl, bool allow_fragments)
{
    RTC_DCHECK(IsValid());
    if (!IsValid())
        return PING_FAIL;
    if (data_size == 0 || timeout_millis == 0 || ttl == 0) {
        RTC_LOG(LS_ERROR) << "IcmpSendEcho: data_size/timeout/ttl is 0.";
        return PING_INVALID_PARAMS;
    }
    const bool v6 = ip.family() == AF_INET6;
    if (!v6 && ip.family() != AF_INET)
        return PING_INVALID_PARAMS;
    int fd = v6 ? hping6_ : hping_;
    bool raw = v6 ? raw6_ : raw_;
    if (fd < 0)
        return PING_FAIL;
    if (data_size > 65535)
        return PING_TOO_LARGE;

    int hops = ttl;
    int pmtu = allow_fragments ? IP_PMTUDISC_DONT : IP_PMTUDISC_PROBE;
    if (v6) {
        int pmtu6 = allow_fragments ? IPV6_PMTUDISC_DONT : IPV6_PMTUDISC_PROBE;
        (void)setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &hops, sizeof(hops));
        (void)setsockopt(fd, IPPROTO_IPV6, IPV6_MTU_DISCOVER, &pmtu6, sizeof(pmtu6));
    } else {
        (void)setsockopt(fd, IPPROTO_IP, IP_TTL, &hops, sizeof(hops));
        (void)setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof(pmtu));
    }

    const uint16_t id = static_cast<uint16_t>(getpid());
    const uint16_t seq = ++seq_;
    std::vector<uint8_t> packet(8 + data_size);
    packet[0] = v6 ? ICMP6_ECHO_REQUEST : ICMP_ECHO;
    packet[4] = id >> 8;
    packet[5] = id & 0xFF;
    packet[6] = seq >> 8;
    packet[7] = seq & 0xFF;
    for (uint32_t i = 0; i < data_size; i++)
        packet[8 + i] = static_cast<uint8_t>('a' + i % 23);
    if (!v6) {
        // The kernel fills ICMPv6 sums itself; raw IPv4 needs ours.
        uint16_t sum = Checksum(packet.data(), packet.size());
        packet[2] = sum >> 8;
        packet[3] = sum & 0xFF;
    }

    sockaddr_storage to = {};
    socklen_t to_len;
    if (v6) {
        auto *sa = reinterpret_cast<sockaddr_in6 *>(&to);
        sa->sin6_family = AF_INET6;
        sa->sin6_addr = ip.ipv6_address();
        to_len = sizeof(*sa);
    } else {
        auto *sa = reinterpret_cast<sockaddr_in *>(&to);
        sa->sin_family = AF_INET;
        sa->sin_addr = ip.ipv4_address();
        to_len = sizeof(*sa);
    }
    ssize_t sent;
    do {
        sent =
            sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to), to_len);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EMSGSIZE)
            return PING_TOO_LARGE;
        RTC_LOG_ERRNO(LS_ERROR) << "IcmpSendEcho(" << ip.ToString() << ", " << data_size << "): ";
        return PING_FAIL;
    }
    return AwaitReply(fd, raw, ip.family(), id, seq, timeout_millis);
}

WinPing::PingResult WinPing::AwaitReply(int fd, bool raw, int family, uint16_t id, uint16_t seq,
                                        uint32_t timeout_millis)
{
    const int64_t stop_at = SystemTimeMillis() + timeout_millis;
    while (true) {
        int64_t left = stop_at - SystemTimeMillis();
        if (left <= 0)
            return PING_TIMEOUT;
        pollfd pfd = {fd, POLLIN, 0};
        int n = poll(&pfd, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return PING_FAIL;
        if (n == 0)
            return PING_TIMEOUT;
        ssize_t got = recv(fd, reply_.data(), reply_.size(), MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return PING_FAIL;
        }
        const uint8_t *icmp = reply_.data();
        size_t len = static_cast<size_t>(got);
        // Raw IPv4 sockets hand over the IP header too.
        if (raw && family == AF_INET) {
            if (len < sizeof(iphdr))
                continue;
            size_t ihl = (reply_[0] & 0x0F) * 4u;
            if (len < ihl + 8)
                continue;
            icmp += ihl;
            len -= ihl;
        }
        if (len < 8)
            continue;
        uint8_t type = icmp[0];
        uint16_t rseq = static_cast<uint16_t>(icmp[6] << 8 | icmp[7]);
        uint16_t rid = static_cast<uint16_t>(icmp[4] << 8 | icmp[5]);
        // A datagram socket's id is the kernel's; only raw replies carry ours.
        bool ours = rseq == seq && (!raw || rid == id);
        if (family == AF_INET) {
            if (type == ICMP_ECHOREPLY && ours)
                return PING_SUCCESS;
            if (type != ICMP_TIME_EXCEEDED && type != ICMP_DEST_UNREACH)
                continue;
            // An error quotes the IP header and the first 8 bytes of what it is
            // about: only one about our echo counts.
            if (len < 8 + sizeof(iphdr))
                continue;
            size_t quoted_ihl = (icmp[8] & 0x0F) * 4u;
            if (len < 8 + quoted_ihl + 8)
                continue;
            const uint8_t *quoted = icmp + 8 + quoted_ihl;
            if (quoted[0] != ICMP_ECHO || (quoted[6] << 8 | quoted[7]) != seq ||
                (quoted[4] << 8 | quoted[5]) != id)
                continue;
            if (type == ICMP_DEST_UNREACH && icmp[1] == ICMP_FRAG_NEEDED)
                return PING_TOO_LARGE;
            return PING_SUCCESS; // an answer of some kind: the size went through
        } else {
            if (type == ICMP6_ECHO_REPLY && ours)
                return PING_SUCCESS;
            if (type == ICMP6_PACKET_TOO_BIG)
                return PING_TOO_LARGE;
            if (type == ICMP6_TIME_EXCEEDED || type == ICMP6_DST_UNREACH)
                return PING_SUCCESS;
        }
        // Our own request seen on loopback, or someone else's traffic.
    }
}

} // namespace rtc
