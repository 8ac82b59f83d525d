// The RTMP layer: one push session (RTMPHoster) and any number of play
// sessions (RTMPGuester), on FFmpeg (RTMP, FLV, H.264, AAC) and X11 (xcb).
//
// Each session runs on one thread of its own: starts return at once, stops
// end the thread within about two seconds whatever the network or the X
// server do, and no event is delivered once Destory has returned. Events come
// on the session's thread.
//
// A started session lives until it is stopped: after a failure or an end of
// stream it tries again after 1 s, doubling the wait up to 8 s (back to 1 s
// once a try got media through), and logs each retry once.
//
// Render targets are X11 window ids (0 = none). Every session opens its own
// connection to $DISPLAY, so an X error or a lost server stays with it: the
// session stops drawing and keeps playing.
//
// VISTREL_TEST_DIR=<folder> is a test switch: push sessions use the
// synthetic picture even when a camera exists, and every play session writes
// the sound it plays to <folder>/pull-<n>.wav (n counting play starts in the
// process from 1) instead of the sound device.
#ifndef VISTREL_RTMP_H
#define VISTREL_RTMP_H

#include <cstdint>

// Reports of a push session.
class RTMPHosterEvent
{
  public:
    virtual ~RTMPHosterEvent() = default;
    // Connected; the header went out and frames follow.
    virtual void OnRtmpStreamOK() = 0;
    // The connection or a write failed (FFmpeg error code); the push tries again.
    virtual void OnRtmpStreamFailed(int code) = 0;
    // The push ended (after a stop).
    virtual void OnRtmpStreamClosed() = 0;
    // The picture source opened: true for a camera, false for the synthetic picture.
    virtual void OnRtmpVideoSource(bool camera) = 0;
    // Once a second while publishing: bytes sent so far.
    virtual void OnRtmpStatus(int64_t bytes_sent) = 0;
};

// Reports of a play session.
class RTMPGuesterEvent
{
  public:
    virtual ~RTMPGuesterEvent() = default;
    // The stream opened and its tracks are known.
    virtual void OnRtmpStreamOK() = 0;
    // Opening or reading failed (FFmpeg error code); the play tries again.
    virtual void OnRtmpStreamFailed(int code) = 0;
    // The play ended (after a stop).
    virtual void OnRtmpStreamClosed() = 0;
    // The first picture of a connection was drawn, at its source size.
    virtual void OnRtmpFirstFrame(int width, int height) = 0;
};

// Publishes one picture source to an RTMP URL as H.264 in FLV (video only,
// key frame every second), previewed in a window.
class RTMPHoster
{
  public:
    // Null only when out of memory.
    static RTMPHoster *Create(RTMPHosterEvent &event);
    // Stops a running push first; accepts null.
    static void Destory(RTMPHoster *hoster);

    // Does nothing: kept for the callers that hand values through.
    virtual void PassThroughOp1(uintptr_t a, uintptr_t b, uintptr_t c) = 0;
    // Any codec type means H.264; the value is kept and given back.
    virtual void SetCodecType(int type) = 0;
    virtual int GetCodecType() = 0;
    // Preview window; 0 detaches it.
    virtual void SetVideoRender(uintptr_t window) = 0;
    // Starts publishing to url (copied); ignored while a push runs.
    virtual void StartRtmpPush(const char *url) = 0;
    // Ends the push; returns within about two seconds.
    virtual void StopRtmpPush() = 0;
    // Does nothing: kept for the callers that hand values through.
    virtual void PassThroughOp11(uintptr_t a, uintptr_t b, uintptr_t c) = 0;
    // Moves the preview to window; a and b are accepted and unused.
    virtual void UpdateVideoRender(uintptr_t window, uintptr_t a, uintptr_t b) = 0;

  protected:
    virtual ~RTMPHoster() = default;
};

// Plays one RTMP stream: pictures into a window, sound to the default device.
class RTMPGuester
{
  public:
    // Null only when out of memory.
    static RTMPGuester *Create(RTMPGuesterEvent &event);
    // Stops a running play first; accepts null.
    static void Destory(RTMPGuester *guester);

    // Starts playing url (copied) into window; ignored while a play runs.
    virtual void StartRtmpPlay(const char *url, uintptr_t window) = 0;
    // Ends the play; returns within about two seconds.
    virtual void StopRtmpPlay() = 0;
    // Draws into window from the next picture on; 0 stops drawing.
    virtual void UpdateVideoRender(uintptr_t window) = 0;
    // Silence instead of the sound, from the next sample on.
    virtual void SetMute(bool mute) = 0;

  protected:
    virtual ~RTMPGuester() = default;
};

#endif
