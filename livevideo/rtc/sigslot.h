// The signals through which sockets and signal threads report: callbacks
// connected per receiver, called in connection order.
#pragma once

#include <functional>
#include <utility>
#include <vector>

namespace rtc
{

template <class... Args> class Signal
{
  public:
    using Slot = std::function<void(Args...)>;

    // receiver only identifies the connection for disconnect.
    void connect(const void *receiver, Slot slot)
    {
        slots_.emplace_back(receiver, std::move(slot));
    }
    void disconnect(const void *receiver)
    {
        for (auto it = slots_.begin(); it != slots_.end();) {
            if (it->first == receiver)
                it = slots_.erase(it);
            else
                ++it;
        }
    }
    void disconnect_all()
    {
        slots_.clear();
    }
    bool empty() const
    {
        return slots_.empty();
    }
    // A slot may connect or disconnect while it runs: the call goes to the
    // slots connected when it started.
    void operator()(Args... args)
    {
        std::vector<std::pair<const void *, Slot>> slots = slots_;
        for (auto &s : slots)
            s.second(args...);
    }

  private:
    std::vector<std::pair<const void *, Slot>> slots_;
};

} // namespace rtc
