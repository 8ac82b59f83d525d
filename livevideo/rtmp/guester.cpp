// Play session: RTMP in, FLV demux, H.264 and AAC decode, pictures into a
// window, sound to the device. One thread per play.
#include "audio_out.h"
#include "rtmp.h"
#include "rtmp_util.h"
#include "xcb_render.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace rtmp
{

namespace
{

// A stream that sends nothing for this long has ended.
constexpr const char *kReadTimeoutUs = "10000000";
// nginx keeps a play connection busy with control messages after its
// publisher has gone, so the read time-out never fires: a stream that has
// sent no audio or video for this long has ended.
constexpr std::chrono::seconds kMediaIdleLimit(5);

// Numbers the play starts of the process, for the test switch's WAV files.
std::atomic<int> g_play_count{0};

struct Decoder {
    AVCodecContext *ctx = nullptr;
    int index = -1;
    ~Decoder()
    {
        avcodec_free_context(&ctx);
    }
    bool Open(AVFormatContext *ic, AVMediaType type)
    {
        index = av_find_best_stream(ic, type, -1, -1, nullptr, 0);
        if (index < 0)
            return false;
        const AVCodecParameters *par = ic->streams[index]->codecpar;
        const AVCodec *codec = avcodec_find_decoder(par->codec_id);
        if (!codec)
            return false;
        ctx = avcodec_alloc_context3(codec);
        if (!ctx || avcodec_parameters_to_context(ctx, par) < 0)
            return false;
        // One thread: frame threads would hold pictures back and add latency.
        ctx->thread_count = 1;
        ctx->pkt_timebase = ic->streams[index]->time_base;
        if (avcodec_open2(ctx, codec, nullptr) < 0) {
            avcodec_free_context(&ctx);
            return false;
        }
        return true;
    }
};

class Guester final : public RTMPGuester
{
  public:
    explicit Guester(RTMPGuesterEvent &event) : event_(event), stop_(std::chrono::milliseconds(0))
    {
    }
    ~Guester() override
    {
        StopRtmpPlay();
    }

    void StartRtmpPlay(const char *url, uintptr_t window) override
    {
        if (thread_.joinable())
            return;
        url_ = url ? url : "";
        number_ = ++g_play_count;
        renderer_.SetWindow(window);
        stop_.Reset();
        thread_ = std::thread(&Guester::Run, this);
    }
    void StopRtmpPlay() override
    {
        if (!thread_.joinable())
            return;
        stop_.Request();
        thread_.join();
    }
    void UpdateVideoRender(uintptr_t window) override
    {
        renderer_.SetWindow(window);
    }
    void SetMute(bool mute) override
    {
        mute_.store(mute);
    }

  private:
    static int OnInterrupt(void *opaque);
    bool MediaIdle() const;
    void Run();
    // One connection, from opening to its end; true when media came.
    bool Attempt();
    void Play(AVFormatContext *ic);
    void Audio(AVFrame *frame);

    RTMPGuesterEvent &event_;
    StopState stop_;
    std::thread thread_;
    std::string url_;
    int number_ = 0;
    std::atomic<bool> mute_{false};
    XcbRenderer renderer_;
    // Steady-clock time of the last media packet; 0 before the first.
    std::atomic<int64_t> last_media_ns_{0};

    // Session thread's audio state.
    SwrContext *swr_ = nullptr;
    bool swr_tried_ = false; // this connection's sound set up (or found unplayable)
    std::unique_ptr<AudioOut> out_;
    int out_rate_ = 0;
    int out_channels_ = 0;
    std::vector<int16_t> pcm_;
};

int Guester::OnInterrupt(void *opaque)
{
    auto *self = static_cast<Guester *>(opaque);
    return self->stop_.Interrupted() || self->MediaIdle() ? 1 : 0;
}

bool Guester::MediaIdle() const
{
    int64_t last = last_media_ns_.load();
    if (last == 0)
        return false;
    auto idle =
        std::chrono::steady_clock::now().time_since_epoch() - std::chrono::nanoseconds(last);
    return idle >= kMediaIdleLimit;
}

void Guester::Run()
{
    PrepareSessionThread("rtmp-play");
    InitFfmpeg();
    // A live stream comes and goes with its publisher and its server: the
    // play stays registered and tries again until it is stopped.
    Backoff backoff;
    while (!stop_.Requested()) {
        if (Attempt())
            backoff.Reset();
        if (stop_.Requested())
            break;
        auto wait = backoff.Next();
        Log(kLogInfo, "play %s: retrying in %d s", url_.c_str(), static_cast<int>(wait.count()));
        if (!stop_.SleepUntil(std::chrono::steady_clock::now() + wait))
            break;
    }
    swr_free(&swr_);
    out_.reset();
    renderer_.Close();
    event_.OnRtmpStreamClosed();
}

bool Guester::Attempt()
{
    last_media_ns_.store(0);
    swr_free(&swr_);
    swr_tried_ = false;
    AVFormatContext *ic = avformat_alloc_context();
    if (!ic) {
        event_.OnRtmpStreamFailed(AVERROR(ENOMEM));
        return false;
    }
    ic->interrupt_callback.callback = OnInterrupt;
    ic->interrupt_callback.opaque = this;
    AVDictionary *opts = nullptr;
    // rw_timeout, not timeout: for rtmp "timeout" means "listen".
    av_dict_set(&opts, "rw_timeout", kReadTimeoutUs, 0);
    int err = avformat_open_input(&ic, url_.c_str(), nullptr, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        if (!stop_.Requested()) {
            Log(kLogWarning, "play %s: cannot open: %s", url_.c_str(), AvError(err).c_str());
            event_.OnRtmpStreamFailed(err);
        }
        return false;
    }
    Play(ic);
    avformat_close_input(&ic);
    return last_media_ns_.load() != 0;
}

void Guester::Play(AVFormatContext *ic)
{
    // Enough to learn both tracks of a live stream without waiting long.
    ic->probesize = 500000;
    ic->max_analyze_duration = AV_TIME_BASE;
    int err = avformat_find_stream_info(ic, nullptr);
    if (err < 0) {
        if (!stop_.Requested()) {
            Log(kLogWarning, "play %s: no stream info: %s", url_.c_str(), AvError(err).c_str());
            event_.OnRtmpStreamFailed(err);
        }
        return;
    }
    Decoder video, audio;
    bool has_video = video.Open(ic, AVMEDIA_TYPE_VIDEO);
    bool has_audio = audio.Open(ic, AVMEDIA_TYPE_AUDIO);
    if (!has_video && !has_audio) {
        Log(kLogWarning, "play %s: nothing to play", url_.c_str());
        event_.OnRtmpStreamFailed(AVERROR_DECODER_NOT_FOUND);
        return;
    }
    Log(kLogInfo, "play %s: video %s, audio %s", url_.c_str(), has_video ? "yes" : "no",
        has_audio ? "yes" : "no");
    event_.OnRtmpStreamOK();

    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    bool keyed = false, first_drawn = false;
    while (pkt && frame && !stop_.Requested()) {
        err = av_read_frame(ic, pkt);
        if (err < 0) {
            if (stop_.Requested())
                break;
            if (err == AVERROR_EOF || MediaIdle()) {
                Log(kLogInfo, "play %s: the stream ended", url_.c_str());
            } else {
                Log(kLogWarning, "play %s: read failed: %s", url_.c_str(), AvError(err).c_str());
                event_.OnRtmpStreamFailed(err);
            }
            break;
        }
        if (pkt->stream_index == video.index || pkt->stream_index == audio.index)
            last_media_ns_.store(std::chrono::steady_clock::now().time_since_epoch().count());
        if (has_video && pkt->stream_index == video.index) {
            // Pictures before the first key frame would be drawn broken.
            if (!keyed && !(pkt->flags & AV_PKT_FLAG_KEY)) {
                av_packet_unref(pkt);
                continue;
            }
            keyed = true;
            if (avcodec_send_packet(video.ctx, pkt) >= 0) {
                while (avcodec_receive_frame(video.ctx, frame) >= 0) {
                    if (renderer_.Draw(frame) && !first_drawn) {
                        first_drawn = true;
                        event_.OnRtmpFirstFrame(frame->width, frame->height);
                    }
                    av_frame_unref(frame);
                }
            }
        } else if (has_audio && pkt->stream_index == audio.index) {
            if (avcodec_send_packet(audio.ctx, pkt) >= 0) {
                while (avcodec_receive_frame(audio.ctx, frame) >= 0) {
                    Audio(frame);
                    av_frame_unref(frame);
                }
            }
        }
        av_packet_unref(pkt);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
}

void Guester::Audio(AVFrame *frame)
{
    if (!swr_tried_) {
        swr_tried_ = true;
        int channels = frame->ch_layout.nb_channels >= 2 ? 2 : 1;
        AVChannelLayout layout;
        av_channel_layout_default(&layout, channels);
        int err = swr_alloc_set_opts2(&swr_, &layout, AV_SAMPLE_FMT_S16, frame->sample_rate,
                                      &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                      frame->sample_rate, 0, nullptr);
        if (err < 0 || swr_init(swr_) < 0) {
            Log(kLogWarning, "play %s: cannot convert the sound", url_.c_str());
            swr_free(&swr_);
            return;
        }
        // The output outlives a reconnection that keeps the sound's format,
        // so a test's WAV file holds the whole play.
        if (!out_ || out_rate_ != frame->sample_rate || out_channels_ != channels) {
            out_.reset();
            out_rate_ = frame->sample_rate;
            out_channels_ = channels;
            std::string dir = TestDir();
            if (dir.empty())
                out_ = AudioOut::OpenDevice(frame->sample_rate, out_channels_);
            else
                out_ = AudioOut::OpenWav(dir + "/pull-" + std::to_string(number_) + ".wav",
                                         frame->sample_rate, out_channels_);
        }
    }
    if (!swr_ || !out_)
        return;
    int max = swr_get_out_samples(swr_, frame->nb_samples);
    if (max <= 0)
        return;
    pcm_.resize(static_cast<size_t>(max) * out_channels_);
    uint8_t *dst = reinterpret_cast<uint8_t *>(pcm_.data());
    int n = swr_convert(swr_, &dst, max, const_cast<const uint8_t **>(frame->extended_data),
                        frame->nb_samples);
    if (n <= 0)
        return;
    // Muted sound keeps its place in time: silence, not a gap.
    if (mute_.load())
        std::fill(pcm_.begin(), pcm_.begin() + static_cast<size_t>(n) * out_channels_, 0);
    out_->Write(pcm_.data(), n);
}

} // namespace

} // namespace rtmp

RTMPGuester *RTMPGuester::Create(RTMPGuesterEvent &event)
{
    return new (std::nothrow) rtmp::Guester(event);
}

void RTMPGuester::Destory(RTMPGuester *guester)
{
    delete guester;
}
