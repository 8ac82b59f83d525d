// Push session: a camera (V4L2) or the synthetic picture, encoded as H.264
// with a key frame every second, muxed as FLV onto RTMP, previewed in a
// window. Video only. One thread per push.
#include "rtmp.h"
#include "rtmp_util.h"
#include "xcb_render.h"

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace rtmp
{

namespace
{

constexpr const char *kCameraDevice = "/dev/video0";
constexpr const char *kWriteTimeoutUs = "5000000";
// After a stop, FFmpeg's calls may go on this long to close the stream
// properly with the server.
constexpr std::chrono::milliseconds kStopGrace(800);

// The synthetic picture: four quadrants of pure colours a test can find.
constexpr int kSynthWidth = 640;
constexpr int kSynthHeight = 360;
constexpr int kSynthFps = 25;

void FillSynthetic(AVFrame *f)
{
    static const uint8_t colours[4][3] = {
        {255, 0, 0},    // top left: red
        {0, 255, 0},    // top right: green
        {0, 0, 255},    // bottom left: blue
        {255, 255, 255} // bottom right: white
    };
    for (int y = 0; y < f->height; y++) {
        uint8_t *row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
        for (int x = 0; x < f->width; x++) {
            const uint8_t *c = colours[(y >= f->height / 2) * 2 + (x >= f->width / 2)];
            row[3 * x] = c[0];
            row[3 * x + 1] = c[1];
            row[3 * x + 2] = c[2];
        }
    }
}

// The picture source: a V4L2 camera through libavdevice, else the synthetic
// picture at 25 frames a second.
class Source
{
  public:
    explicit Source(StopState &stop) : stop_(stop) {}
    ~Source()
    {
        avcodec_free_context(&dec_);
        avformat_close_input(&cam_);
        av_packet_free(&pkt_);
        av_frame_free(&synth_);
    }

    bool Open(bool allow_camera)
    {
        pkt_ = av_packet_alloc();
        if (!pkt_)
            return false;
        if (allow_camera && access(kCameraDevice, R_OK) == 0 && OpenCamera())
            return true;
        synth_ = av_frame_alloc();
        if (!synth_)
            return false;
        synth_->format = AV_PIX_FMT_RGB24;
        synth_->width = kSynthWidth;
        synth_->height = kSynthHeight;
        if (av_frame_get_buffer(synth_, 0) < 0)
            return false;
        FillSynthetic(synth_);
        fps_ = kSynthFps;
        next_ = std::chrono::steady_clock::now();
        return true;
    }
    bool IsCamera() const
    {
        return cam_ != nullptr;
    }
    int Width() const
    {
        return cam_ ? dec_->width : kSynthWidth;
    }
    int Height() const
    {
        return cam_ ? dec_->height : kSynthHeight;
    }
    int Fps() const
    {
        return fps_;
    }
    // The next picture, owned by the source until the next call; null when
    // stopped or the camera failed.
    const AVFrame *Next(AVFrame *out)
    {
        if (!cam_) {
            next_ += std::chrono::milliseconds(1000 / kSynthFps);
            auto now = std::chrono::steady_clock::now();
            if (next_ < now - std::chrono::seconds(1))
                next_ = now; // fell far behind (a stalled write): do not race
            if (!stop_.SleepUntil(next_))
                return nullptr;
            return synth_;
        }
        while (!stop_.Requested()) {
            int err = avcodec_receive_frame(dec_, out);
            if (err >= 0)
                return out;
            if (err != AVERROR(EAGAIN))
                return nullptr;
            err = av_read_frame(cam_, pkt_);
            if (err < 0) {
                Log(kLogWarning, "push: camera read failed: %s", AvError(err).c_str());
                return nullptr;
            }
            if (pkt_->stream_index == index_)
                avcodec_send_packet(dec_, pkt_);
            av_packet_unref(pkt_);
        }
        return nullptr;
    }

  private:
    bool OpenCamera()
    {
        const AVInputFormat *v4l2 = av_find_input_format("video4linux2");
        if (!v4l2)
            return false;
        cam_ = avformat_alloc_context();
        if (!cam_)
            return false;
        cam_->interrupt_callback = stop_.Callback();
        AVDictionary *opts = nullptr;
        av_dict_set(&opts, "framerate", "25", 0);
        int err = avformat_open_input(&cam_, kCameraDevice, v4l2, &opts);
        av_dict_free(&opts);
        if (err < 0) {
            Log(kLogInfo, "push: no camera at %s: %s", kCameraDevice, AvError(err).c_str());
            return false;
        }
        index_ = av_find_best_stream(cam_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const AVCodec *codec =
            index_ >= 0 ? avcodec_find_decoder(cam_->streams[index_]->codecpar->codec_id) : nullptr;
        if (codec)
            dec_ = avcodec_alloc_context3(codec);
        if (!dec_ || avcodec_parameters_to_context(dec_, cam_->streams[index_]->codecpar) < 0 ||
            avcodec_open2(dec_, codec, nullptr) < 0 || dec_->width <= 0 || dec_->height <= 0) {
            Log(kLogInfo, "push: the camera at %s gives no usable picture", kCameraDevice);
            avcodec_free_context(&dec_);
            avformat_close_input(&cam_);
            return false;
        }
        AVRational rate = cam_->streams[index_]->avg_frame_rate;
        fps_ = rate.num > 0 && rate.den > 0 ? std::max(1, rate.num / rate.den) : 25;
        return true;
    }

    StopState &stop_;
    AVFormatContext *cam_ = nullptr;
    AVCodecContext *dec_ = nullptr;
    int index_ = -1;
    AVPacket *pkt_ = nullptr;
    AVFrame *synth_ = nullptr;
    int fps_ = kSynthFps;
    std::chrono::steady_clock::time_point next_;
};

class Hoster final : public RTMPHoster
{
  public:
    explicit Hoster(RTMPHosterEvent &event) : event_(event), stop_(kStopGrace) {}
    ~Hoster() override
    {
        StopRtmpPush();
    }

    void PassThroughOp1(uintptr_t, uintptr_t, uintptr_t) override {}
    void SetCodecType(int type) override
    {
        codec_type_.store(type);
    }
    int GetCodecType() override
    {
        return codec_type_.load();
    }
    void SetVideoRender(uintptr_t window) override
    {
        renderer_.SetWindow(window);
    }
    void StartRtmpPush(const char *url) override
    {
        if (thread_.joinable())
            return;
        url_ = url ? url : "";
        stop_.Reset();
        thread_ = std::thread(&Hoster::Run, this);
    }
    void StopRtmpPush() override
    {
        if (!thread_.joinable())
            return;
        stop_.Request();
        thread_.join();
    }
    void PassThroughOp11(uintptr_t, uintptr_t, uintptr_t) override {}
    void UpdateVideoRender(uintptr_t window, uintptr_t, uintptr_t) override
    {
        renderer_.SetWindow(window);
    }

  private:
    void Run();
    // One connection; *published once its header went out.
    int Publish(Source &source, bool *published);

    RTMPHosterEvent &event_;
    StopState stop_;
    std::thread thread_;
    std::string url_;
    std::atomic<int> codec_type_{3};
    XcbRenderer renderer_;
};

void Hoster::Run()
{
    PrepareSessionThread("rtmp-push");
    InitFfmpeg();
    {
        Source source(stop_);
        if (!source.Open(TestDir().empty())) {
            event_.OnRtmpStreamFailed(AVERROR(ENOMEM));
        } else {
            event_.OnRtmpVideoSource(source.IsCamera());
            // The server may restart or drop us: publish again until stopped.
            Backoff backoff;
            while (!stop_.Requested()) {
                bool published = false;
                int err = Publish(source, &published);
                if (stop_.Requested())
                    break;
                if (published)
                    backoff.Reset();
                if (err < 0)
                    event_.OnRtmpStreamFailed(err);
                // One line a retry, with what ended the try.
                auto wait = backoff.Next();
                Log(err < 0 ? kLogWarning : kLogInfo, "push %s: retrying in %d s: %s", url_.c_str(),
                    static_cast<int>(wait.count()),
                    err < 0 ? AvError(err).c_str() : "the picture source ended");
                if (!stop_.SleepUntil(std::chrono::steady_clock::now() + wait))
                    break;
            }
        }
    }
    renderer_.Close();
    Log(kLogInfo, "push %s: ended", url_.c_str());
    event_.OnRtmpStreamClosed();
}

int Hoster::Publish(Source &source, bool *published)
{
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!codec)
        return AVERROR_ENCODER_NOT_FOUND;

    AVFormatContext *oc = nullptr;
    AVCodecContext *enc = nullptr;
    SwsContext *sws = nullptr;
    AVFrame *yuv = av_frame_alloc();
    AVFrame *cam = av_frame_alloc();
    AVPacket *pkt = av_packet_alloc();
    AVDictionary *opts = nullptr;
    bool header = false;
    int err = AVERROR(ENOMEM);
    const int fps = source.Fps();
    auto start = std::chrono::steady_clock::now();
    auto status_at = start + std::chrono::seconds(1);
    int64_t last_key = -1, last_pts = -1;

    if (!yuv || !cam || !pkt)
        goto out;
    err = avformat_alloc_output_context2(&oc, nullptr, "flv", url_.c_str());
    if (err < 0)
        goto out;
    enc = avcodec_alloc_context3(codec);
    if (!enc) {
        err = AVERROR(ENOMEM);
        goto out;
    }
    enc->width = source.Width() & ~1;
    enc->height = source.Height() & ~1;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    // Milliseconds: FLV's own unit, and a camera's frames come when they come.
    enc->time_base = AVRational{1, 1000};
    enc->framerate = AVRational{fps, 1};
    enc->gop_size = fps; // a key frame every second
    enc->keyint_min = fps;
    enc->max_b_frames = 0;
    enc->bit_rate = 800000;
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // FLV carries the parameter sets up front
    av_opt_set(enc->priv_data, "preset", "veryfast", 0);
    av_opt_set(enc->priv_data, "tune", "zerolatency", 0);
    err = avcodec_open2(enc, codec, nullptr);
    if (err < 0)
        goto out;
    yuv->format = AV_PIX_FMT_YUV420P;
    yuv->width = enc->width;
    yuv->height = enc->height;
    err = av_frame_get_buffer(yuv, 0);
    if (err < 0)
        goto out;
    {
        AVStream *st = avformat_new_stream(oc, nullptr);
        if (!st) {
            err = AVERROR(ENOMEM);
            goto out;
        }
        avcodec_parameters_from_context(st->codecpar, enc);
        st->time_base = enc->time_base;
    }
    oc->interrupt_callback = stop_.Callback();
    av_dict_set(&opts, "rw_timeout", kWriteTimeoutUs, 0);
    err = avio_open2(&oc->pb, url_.c_str(), AVIO_FLAG_WRITE, &oc->interrupt_callback, &opts);
    if (err < 0)
        goto out;
    err = avformat_write_header(oc, nullptr);
    if (err < 0)
        goto out;
    header = true;
    *published = true;
    Log(kLogInfo, "push %s: publishing %dx%d from %s", url_.c_str(), enc->width, enc->height,
        source.IsCamera() ? "the camera" : "the synthetic picture");
    event_.OnRtmpStreamOK();

    while (!stop_.Requested()) {
        const AVFrame *pic = source.Next(cam);
        if (!pic)
            break;
        renderer_.Draw(pic);
        sws = sws_getCachedContext(sws, pic->width, pic->height,
                                   static_cast<AVPixelFormat>(pic->format), yuv->width, yuv->height,
                                   AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws || av_frame_make_writable(yuv) < 0) {
            err = AVERROR(ENOMEM);
            break;
        }
        sws_scale(sws, pic->data, pic->linesize, 0, pic->height, yuv->data, yuv->linesize);
        if (pic == cam)
            av_frame_unref(cam);
        auto now = std::chrono::steady_clock::now();
        int64_t pts = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
        if (pts <= last_pts)
            pts = last_pts + 1;
        last_pts = pts;
        yuv->pts = pts;
        // A key frame every second of time, whatever the frame rate does.
        if (last_key < 0 || pts - last_key >= 1000) {
            yuv->pict_type = AV_PICTURE_TYPE_I;
            last_key = pts;
        } else {
            yuv->pict_type = AV_PICTURE_TYPE_NONE;
        }
        err = avcodec_send_frame(enc, yuv);
        while (err >= 0) {
            err = avcodec_receive_packet(enc, pkt);
            if (err < 0)
                break;
            pkt->stream_index = 0;
            av_packet_rescale_ts(pkt, enc->time_base, oc->streams[0]->time_base);
            err = av_interleaved_write_frame(oc, pkt);
        }
        if (err == AVERROR(EAGAIN))
            err = 0;
        if (err < 0)
            break;
        if (now >= status_at) {
            status_at += std::chrono::seconds(1);
            event_.OnRtmpStatus(oc->pb ? avio_tell(oc->pb) : 0);
        }
    }
    if (stop_.Requested())
        err = 0;

out:
    if (header)
        av_write_trailer(oc);
    if (oc) {
        avio_closep(&oc->pb);
        avformat_free_context(oc);
    }
    av_dict_free(&opts);
    avcodec_free_context(&enc);
    sws_freeContext(sws);
    av_frame_free(&yuv);
    av_frame_free(&cam);
    av_packet_free(&pkt);
    return err;
}

} // namespace

} // namespace rtmp

RTMPHoster *RTMPHoster::Create(RTMPHosterEvent &event)
{
    return new (std::nothrow) rtmp::Hoster(event);
}

void RTMPHoster::Destory(RTMPHoster *hoster)
{
    delete hoster;
}
