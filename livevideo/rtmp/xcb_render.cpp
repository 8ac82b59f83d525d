#include "xcb_render.h"

#include "rtmp_util.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace rtmp
{

namespace
{

// The pixel layout of a depth on this server: bits per pixel and the
// swscale format that matches it, or AV_PIX_FMT_NONE when we cannot draw it.
AVPixelFormat PixelFormatFor(xcb_connection_t *conn, uint8_t depth, int *bpp)
{
    const xcb_setup_t *setup = xcb_get_setup(conn);
    bool lsb = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    xcb_format_iterator_t it = xcb_setup_pixmap_formats_iterator(setup);
    for (; it.rem; xcb_format_next(&it)) {
        if (it.data->depth != depth)
            continue;
        *bpp = it.data->bits_per_pixel;
        if (it.data->bits_per_pixel == 32 && (depth == 24 || depth == 32))
            return lsb ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_0RGB;
        if (it.data->bits_per_pixel == 16 && depth == 16)
            return lsb ? AV_PIX_FMT_RGB565LE : AV_PIX_FMT_RGB565BE;
        return AV_PIX_FMT_NONE;
    }
    return AV_PIX_FMT_NONE;
}

} // namespace

Fit FitPicture(int width, int height, int sar_num, int sar_den, int win_w, int win_h)
{
    // The picture's shape on screen: its pixels may not be square.
    int64_t shape_w = width, shape_h = height;
    if (sar_num > 0 && sar_den > 0) {
        shape_w *= sar_num;
        shape_h *= sar_den;
    }
    Fit fit{0, 0, win_w, win_h};
    if (shape_w <= 0 || shape_h <= 0 || win_w <= 0 || win_h <= 0)
        return fit;
    if (shape_w * win_h > shape_h * win_w) {
        // Wider than the window: full width, bars above and below.
        fit.h = static_cast<int>((shape_h * win_w + shape_w / 2) / shape_w);
        fit.h = std::max(1, std::min(fit.h, win_h));
        fit.y = (win_h - fit.h) / 2;
    } else {
        fit.w = static_cast<int>((shape_w * win_h + shape_h / 2) / shape_h);
        fit.w = std::max(1, std::min(fit.w, win_w));
        fit.x = (win_w - fit.w) / 2;
    }
    return fit;
}

XcbRenderer::~XcbRenderer()
{
    Close();
}

void XcbRenderer::Close()
{
    Disconnect();
    sws_freeContext(sws_);
    sws_ = nullptr;
    current_ = 0;
    dead_ = false;
}

bool XcbRenderer::Connect()
{
    conn_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(conn_)) {
        Log(kLogError, "render: cannot connect to the X server");
        xcb_disconnect(conn_);
        conn_ = nullptr;
        return false;
    }
    shm_present_ = false;
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(conn_, &xcb_shm_id);
    if (ext && ext->present) {
        xcb_shm_query_version_reply_t *v =
            xcb_shm_query_version_reply(conn_, xcb_shm_query_version(conn_), nullptr);
        shm_present_ = v != nullptr;
        free(v);
    }
    return true;
}

void XcbRenderer::FreeShm()
{
    if (shm_addr_) {
        if (conn_ && !xcb_connection_has_error(conn_)) {
            xcb_shm_detach(conn_, shm_seg_);
            // The server may still read the segment: wait for it to catch up.
            free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
        }
        shmdt(shm_addr_);
    }
    shm_addr_ = nullptr;
    shm_size_ = 0;
    bars_buffer_ = nullptr;
    shm_id_ = -1;
}

void XcbRenderer::Disconnect()
{
    FreeShm();
    if (conn_) {
        if (gc_ && !xcb_connection_has_error(conn_))
            xcb_free_gc(conn_, gc_);
        xcb_disconnect(conn_);
    }
    conn_ = nullptr;
    gc_ = 0;
}

void XcbRenderer::DropWindow(const char *why)
{
    Log(kLogWarning, "render: stop drawing into window 0x%x: %s", current_, why);
    dead_ = true;
    if (conn_ && gc_ && !xcb_connection_has_error(conn_))
        xcb_free_gc(conn_, gc_);
    gc_ = 0;
}

bool XcbRenderer::EnsureShm(size_t size)
{
    if (!shm_present_)
        return false;
    if (shm_addr_ && shm_size_ >= size)
        return true;
    FreeShm();
    shm_id_ = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shm_id_ < 0) {
        shm_present_ = false;
        return false;
    }
    void *addr = shmat(shm_id_, nullptr, 0);
    if (addr == reinterpret_cast<void *>(-1)) {
        shmctl(shm_id_, IPC_RMID, nullptr);
        shm_present_ = false;
        return false;
    }
    shm_seg_ = xcb_generate_id(conn_);
    xcb_generic_error_t *err =
        xcb_request_check(conn_, xcb_shm_attach_checked(conn_, shm_seg_, shm_id_, 0));
    // Attached or not, the segment goes once both sides have let go of it.
    shmctl(shm_id_, IPC_RMID, nullptr);
    if (err) {
        // A server on another machine cannot share memory with us.
        free(err);
        shmdt(addr);
        shm_present_ = false;
        return false;
    }
    shm_addr_ = static_cast<uint8_t *>(addr);
    shm_size_ = size;
    return true;
}

bool XcbRenderer::Draw(const AVFrame *frame)
{
    uint32_t want = static_cast<uint32_t>(window_.load());
    if (want != current_) {
        if (conn_ && gc_ && !xcb_connection_has_error(conn_))
            xcb_free_gc(conn_, gc_);
        gc_ = 0;
        current_ = want;
        dead_ = false;
        // A lost server is tried again for a new window.
        if (conn_ && xcb_connection_has_error(conn_))
            Disconnect();
    }
    if (!current_ || dead_ || !frame || frame->width <= 0 || frame->height <= 0)
        return false;
    if (!conn_ && !Connect()) {
        dead_ = true;
        return false;
    }
    if (xcb_connection_has_error(conn_)) {
        DropWindow("the X connection is lost");
        Disconnect();
        return false;
    }
    // Errors of earlier unchecked requests (a put into a window destroyed
    // meanwhile) arrive as events on our connection.
    while (xcb_generic_event_t *ev = xcb_poll_for_event(conn_)) {
        if (ev->response_type == 0)
            dead_ = true;
        free(ev);
    }
    if (dead_) {
        DropWindow("an X error on the window");
        return false;
    }
    xcb_generic_error_t *err = nullptr;
    xcb_get_geometry_reply_t *geo =
        xcb_get_geometry_reply(conn_, xcb_get_geometry(conn_, current_), &err);
    if (!geo) {
        free(err);
        if (xcb_connection_has_error(conn_)) {
            DropWindow("the X connection is lost");
            Disconnect();
        } else {
            DropWindow("the window is gone");
        }
        return false;
    }
    int w = geo->width, h = geo->height, bpp = 0;
    AVPixelFormat fmt = PixelFormatFor(conn_, geo->depth, &bpp);
    uint8_t depth = geo->depth;
    free(geo);
    if (fmt == AV_PIX_FMT_NONE) {
        DropWindow("unsupported window depth");
        return false;
    }
    if (!gc_) {
        gc_ = xcb_generate_id(conn_);
        xcb_create_gc(conn_, gc_, current_, 0, nullptr);
    }
    // Scan lines are padded to 32 bits.
    int stride = ((w * bpp / 8) + 3) & ~3;
    size_t size = static_cast<size_t>(stride) * h;
    Fit fit = FitPicture(frame->width, frame->height, frame->sample_aspect_ratio.num,
                         frame->sample_aspect_ratio.den, w, h);
    sws_ = sws_getCachedContext(sws_, frame->width, frame->height,
                                static_cast<AVPixelFormat>(frame->format), fit.w, fit.h, fmt,
                                SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_)
        return false;
    bool shm = EnsureShm(size);
    uint8_t *dst = nullptr;
    if (shm) {
        dst = shm_addr_;
    } else {
        if (pixels_.size() < size)
            pixels_.resize(size);
        dst = pixels_.data();
    }
    // The bars are black: all-zero pixels in every format we draw. The
    // picture never writes there, so they are cleared once per layout.
    if (dst != bars_buffer_ || w != bars_w_ || h != bars_h_ || fit.x != bars_x_ ||
        fit.y != bars_y_) {
        std::memset(dst, 0, size);
        bars_buffer_ = dst;
        bars_w_ = w;
        bars_h_ = h;
        bars_x_ = fit.x;
        bars_y_ = fit.y;
    }
    uint8_t *planes[4] = {dst + static_cast<size_t>(fit.y) * stride +
                              static_cast<size_t>(fit.x) * (bpp / 8),
                          nullptr, nullptr, nullptr};
    int strides[4] = {stride, 0, 0, 0};
    sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, planes, strides);
    if (shm) {
        xcb_shm_put_image(conn_, current_, gc_, w, h, 0, 0, w, h, 0, 0, depth,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, 0, shm_seg_, 0);
    } else {
        // One request may carry only so much: put the picture in bands of rows.
        uint64_t max_bytes = static_cast<uint64_t>(xcb_get_maximum_request_length(conn_)) * 4;
        uint64_t rows = max_bytes > 64 ? (max_bytes - 64) / stride : 0;
        if (rows == 0)
            return false;
        for (int y = 0; y < h; y += static_cast<int>(rows)) {
            int n = std::min<int>(static_cast<int>(rows), h - y);
            xcb_put_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, current_, gc_, w, n, 0, y, 0, depth,
                          static_cast<uint32_t>(n) * stride, dst + static_cast<size_t>(y) * stride);
        }
    }
    xcb_flush(conn_);
    return true;
}

} // namespace rtmp
