#pragma once

// What the single-call window and its start thread need of the window that
// runs the call (the main window).
class VideoCallHost
{
  public:
    virtual ~VideoCallHost() = default;
    // Stops the call's streams and tells the page.
    virtual int StopVideoSignel() = 0;
    // Starts the call's push, then its pull; runs on the call's own thread.
    virtual int threadWork() = 0;
};
