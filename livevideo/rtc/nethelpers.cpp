#include "rtc/nethelpers.h"

#include <netdb.h>

namespace rtc
{

int ResolveHostname(const std::string &hostname, int family, std::vector<IPAddress> *addresses)
{
    if (!addresses)
        return -1;
    addresses->clear();
    addrinfo hints = {};
    hints.ai_family = family == 0 ? AF_UNSPEC : family;
    // One entry per address rather than one per socket type.
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *result = nullptr;
    int ret = getaddrinfo(hostname.c_str(), nullptr, &hints, &result);
    if (ret != 0)
        return ret;
    for (addrinfo *cursor = result; cursor; cursor = cursor->ai_next) {
        if (family != 0 && cursor->ai_family != family)
            continue;
        if (cursor->ai_family == AF_INET) {
            auto *sa = reinterpret_cast<const sockaddr_in *>(cursor->ai_addr);
            addresses->push_back(IPAddress(sa->sin_addr));
        } else if (cursor->ai_family == AF_INET6) {
            auto *sa = reinterpret_cast<const sockaddr_in6 *>(cursor->ai_addr);
            addresses->push_back(IPAddress(sa->sin6_addr));
        }
    }
    freeaddrinfo(result);
    return 0;
}

AsyncResolver::AsyncResolver() = default;

void AsyncResolver::Start(const SocketAddress &addr)
{
    addr_ = addr;
    done_ = false;
    // The work reads addr_ on the worker; Start's thread creation orders it.
    SignalThread::Start();
}

bool AsyncResolver::GetResolvedAddress(int family, SocketAddress *addr) const
{
    if (!done_ || error_ != 0 || !addr)
        return false;
    for (const IPAddress &ip : addresses_) {
        if (family == 0 || ip.family() == family) {
            *addr = addr_;
            addr->SetResolvedIP(ip);
            return true;
        }
    }
    return false;
}

void AsyncResolver::DoWork()
{
    error_ = ResolveHostname(addr_.hostname(), addr_.family(), &addresses_);
}

void AsyncResolver::OnWorkDone()
{
    done_ = true;
    SignalDone(this);
}

} // namespace rtc
