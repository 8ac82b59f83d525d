// What a message queue waits on: a socket server that other threads wake.
#pragma once

namespace rtc
{

class SocketServer
{
  public:
    virtual ~SocketServer() = default;

    // Sleeps until WakeUp is called or cms milliseconds pass (kForever: no
    // limit), handling socket events meanwhile when process_io is true.
    // False when the wait itself failed.
    virtual bool Wait(int cms, bool process_io) = 0;
    // Ends a Wait in progress, or the next one; callable from any thread.
    virtual void WakeUp() = 0;
};

} // namespace rtc
