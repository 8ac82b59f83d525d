// Public interface of the live-video library (libVistrel.so).
//
// One process-wide instance publishes one local RTMP stream and plays any
// number of remote RTMP streams, each into an X11 window the caller owns.
// Callers reach it only through CreateLiveInstance / ReleaseLiveInstance and
// the IAvVistrel interface. The console calls the interface by slot, so the
// order of the virtual operations below is part of the binary interface and
// must never change.
#ifndef VISTREL_H
#define VISTREL_H

#include <cstdint>
#include <string>

#define VISTREL_API __attribute__((visibility("default")))

// A render target: the X11 window id of a caller-owned window (0 = none).
// The library only draws into it; it never creates, maps or destroys it.
typedef uintptr_t VistrelWindow;

class IAvVistrel
{
  public:
    // Slot 0. Deleting destructor; callers use ReleaseLiveInstance instead.
    virtual ~IAvVistrel() = default;

    // Slots 1 to 3: always true.
    virtual bool Reserved1() = 0;
    virtual bool Reserved2() = 0;
    virtual bool Reserved3() = 0;
    // Slot 4: handed to the push session when one exists; always -1.
    virtual int ForwardPushOpA(uintptr_t a, uintptr_t b, uintptr_t c) = 0;

    // Slot 5: publish the local picture to url, previewed in window.
    // 0 started, -1 a push session already exists.
    virtual int StartPushRtmpStream(VistrelWindow window, std::string url) = 0;
    // Slot 6: 0 stopped, -1 no push session.
    virtual int StopPushRtmpStream() = 0;
    // Slot 7: handed to the push session; true when one exists.
    virtual bool ForwardPushOpB(uintptr_t a, uintptr_t b, uintptr_t c) = 0;
    // Slot 8: move the push preview to window; true when a push session exists.
    virtual bool UpdatePushVideoRender(VistrelWindow window, uintptr_t a = 0, uintptr_t b = 0) = 0;

    // Slot 9: codec type for the next push start; always true.
    virtual bool SetCodecType(int type) = 0;
    // Slot 10: the push session's codec type, or the last one set (3 by default).
    virtual int GetCurrentCodecType() = 0;

    // Slot 11: play url into window; always 0. A url already playing is
    // stopped and started afresh.
    virtual int StartPullRtmpStream(VistrelWindow window, std::string url) = 0;
    // Slot 12: stop playing url; always 0.
    virtual int StopPullRtmpStream(std::string url) = 0;
    // Slot 13: mute or unmute url's sound; true when url is playing.
    virtual bool SetPullStreamMute(std::string url, bool mute) = 0;
    // Slot 14: draw url into window from now on; true when url is playing.
    virtual bool UpdatePullVideoRender(VistrelWindow window, std::string url) = 0;

    // Slot 15: build stamp, "YYYYMMDD-hh:mm:ss".
    virtual const std::string &GetCompileVersion() = 0;
    // Slot 16: file version of the library beside the executable, "a.b.c.d"
    // ("0.0.0.0" when it cannot be read).
    virtual const std::string &GetVersion() = 0;
};

// The one process-wide instance, made on the first call; every call returns
// the same object until it is released. Callable from any thread.
extern "C" VISTREL_API IAvVistrel *CreateLiveInstance();

// Stops the push and every pull, frees the instance and sets *instance to
// null; the next CreateLiveInstance makes a new one. Null or *instance null:
// nothing happens.
extern "C" VISTREL_API void ReleaseLiveInstance(IAvVistrel **instance);

#endif
