// Draws decoded pictures into an X11 window, scaled to fit the window's
// current size with their shape kept (black bars fill the rest), over an xcb
// connection of its own.
//
// xcb keeps X errors on the connection that caused them (Xlib's default
// handlers would end the process, and they are shared with the host's
// toolkit), so a destroyed window or a lost server only stops the drawing:
// the renderer draws again once it is given another window.
#ifndef VISTREL_XCB_RENDER_H
#define VISTREL_XCB_RENDER_H

#include <atomic>
#include <cstdint>
#include <vector>
#include <xcb/xcb.h>

struct AVFrame;
struct SwsContext;

namespace rtmp
{

// Where a width x height picture (pixels sar_num:sar_den wide, 0 or less
// for square) goes in a win_w x win_h window: as large as fits, centred.
struct Fit {
    int x, y, w, h;
};
Fit FitPicture(int width, int height, int sar_num, int sar_den, int win_w, int win_h);

class XcbRenderer
{
  public:
    XcbRenderer() = default;
    ~XcbRenderer();
    XcbRenderer(const XcbRenderer &) = delete;
    XcbRenderer &operator=(const XcbRenderer &) = delete;

    // Any thread: the window to draw into from the next picture on (0: none).
    void SetWindow(uintptr_t window)
    {
        window_.store(window);
    }
    uintptr_t Window() const
    {
        return window_.load();
    }

    // Drawing thread only. True when the picture reached the window.
    bool Draw(const AVFrame *frame);
    // Drawing thread only: lets go of the connection and its resources.
    void Close();

  private:
    bool Connect();
    void Disconnect();
    void DropWindow(const char *why);
    bool EnsureShm(size_t size);
    void FreeShm();

    std::atomic<uintptr_t> window_{0};

    // Drawing thread's state.
    xcb_connection_t *conn_ = nullptr;
    uint32_t current_ = 0; // window the state below belongs to
    bool dead_ = false;    // drawing into current_ failed: wait for another window
    xcb_gcontext_t gc_ = 0;
    bool shm_present_ = false;
    uint32_t shm_seg_ = 0;
    int shm_id_ = -1;
    uint8_t *shm_addr_ = nullptr;
    size_t shm_size_ = 0;
    std::vector<uint8_t> pixels_; // put-image path
    // The layout whose bars the drawing buffer holds.
    const uint8_t *bars_buffer_ = nullptr;
    int bars_w_ = 0, bars_h_ = 0, bars_x_ = 0, bars_y_ = 0;
    SwsContext *sws_ = nullptr;
};

} // namespace rtmp

#endif
