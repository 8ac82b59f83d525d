// The socket server on the operating system's own descriptors: one poll loop
// over the dispatchers' descriptors and an eventfd that WakeUp signals.
#pragma once

#include "rtc/criticalsection.h"
#include "rtc/socketserver.h"

#include <cstdint>
#include <memory>
#include <set>

namespace rtc
{

// Events a dispatcher asks for and is told of.
enum DispatcherEvent {
    DE_READ = 0x0001,
    DE_WRITE = 0x0002,
    DE_CONNECT = 0x0004,
    DE_CLOSE = 0x0008,
    DE_ACCEPT = 0x0010,
};

// One descriptor the socket server polls for its owner.
class Dispatcher
{
  public:
    virtual ~Dispatcher() = default;
    virtual uint32_t GetRequestedEvents() = 0;
    // Before OnEvent, with the same events: the dispatcher stops asking for them.
    virtual void OnPreEvent(uint32_t ff) = 0;
    virtual void OnEvent(uint32_t ff, int err) = 0;
    virtual int GetDescriptor() = 0;
    virtual bool IsDescriptorClosed() = 0;
};

class PhysicalSocketServer : public SocketServer
{
  public:
    PhysicalSocketServer();
    ~PhysicalSocketServer() override;

    bool Wait(int cms, bool process_io) override;
    void WakeUp() override;

    // Dispatchers are not owned; each removes itself before it is freed.
    void Add(Dispatcher *dispatcher);
    void Remove(Dispatcher *dispatcher);

  private:
    class Signaler;
    friend class Signaler;

    // Polls once for at most cms (kForever: no limit) and hands the events out.
    // -1: the poll failed; 0: it timed out; 1: something was handled.
    int PollOnce(int cms, bool process_io);
    // Turns poll's report on one socket into the events it asked for.
    void DispatchSocketEvents(Dispatcher *d, short revents);

    std::unique_ptr<Signaler> signal_wakeup_;
    std::set<Dispatcher *> dispatchers_;
    // Dispatchers removed while a Wait hands out events: it must not call them.
    std::set<Dispatcher *> removed_during_wait_;
    // Only the waiting thread reads and writes it.
    bool fWait_ = false;
    CriticalSection crit_;
};

} // namespace rtc
