// Play session: RTMP in, FLV demux, H.264 and AAC decode, pictures into a
// window, sound to the device. One thread per play.
#include "audio_out.h"
#include "play_clock.h"
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

// A picture due later than this is drawn at that point: the clock is off.
constexpr int64_t kMaxWaitUs = 500000;
// The sound's clock counts while sound was written this recently.
constexpr int64_t kSoundFreshUs = 250000;

int64_t NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t ToUs(int64_t ts, AVRational tb)
{
    return ts == AV_NOPTS_VALUE ? kNoTime : av_rescale_q(ts, tb, AVRational{1, 1000000});
}

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
    // Decodes a video packet: its pictures go to `keep` (the newest one
    // stays) or, without it, are presented in time.
    void Decode(Decoder &video, const AVPacket *pkt, AVFrame *frame, AVFrame *keep,
                AVRational tb = AVRational{1, 1000});
    // Draws a picture when it is due, waiting for it; a late one is not drawn.
    void Present(const AVFrame *frame, int64_t pts);
    void Draw(const AVFrame *frame);
    // The stream time of the sound being heard, from the device; kNoTime
    // without one.
    int64_t Heard() const;
    void Audio(AVFrame *frame, AVRational tb);

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

    // Session thread's timing state, per connection.
    PlayClock clock_;
    int64_t audio_end_ = kNoTime;  // stream time just after the last sound written
    int64_t audio_written_at_ = 0; // steady time of that write
    bool first_drawn_ = false;
    // What ended the last try, for the retry's log line.
    int why_level_ = kLogWarning;
    std::string why_;
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
        // One line a retry, with what ended the try.
        Log(why_level_, "play %s: retrying in %d s: %s", url_.c_str(),
            static_cast<int>(wait.count()), why_.c_str());
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
    why_level_ = kLogWarning;
    why_ = "out of memory";
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
            why_ = "cannot open: " + AvError(err);
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
            why_ = "no stream info: " + AvError(err);
            event_.OnRtmpStreamFailed(err);
        }
        return;
    }
    Decoder video, audio;
    bool has_video = video.Open(ic, AVMEDIA_TYPE_VIDEO);
    bool has_audio = audio.Open(ic, AVMEDIA_TYPE_AUDIO);
    if (!has_video && !has_audio) {
        why_ = "nothing to play";
        event_.OnRtmpStreamFailed(AVERROR_DECODER_NOT_FOUND);
        return;
    }
    Log(kLogInfo, "play %s: video %s, audio %s", url_.c_str(), has_video ? "yes" : "no",
        has_audio ? "yes" : "no");
    event_.OnRtmpStreamOK();

    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    AVFrame *newest = av_frame_alloc();
    const AVRational video_tb =
        has_video ? ic->streams[video.index]->time_base : AVRational{1, 1000};
    clock_.Reset();
    audio_end_ = kNoTime;
    first_drawn_ = false;
    // The probe left up to a second of packets buffered: those are read
    // without touching the connection. Of them only the video from the
    // newest key frame on is decoded, and only its newest picture drawn; the
    // play starts as live as the stream is.
    bool probed = true, keyed = false;
    std::vector<AVPacket *> pending;
    while (pkt && frame && newest && !stop_.Requested()) {
        const int64_t pos = ic->pb ? avio_tell(ic->pb) : -1;
        err = av_read_frame(ic, pkt);
        if (err < 0) {
            if (stop_.Requested())
                break;
            if (err == AVERROR_EOF || MediaIdle()) {
                why_level_ = kLogInfo;
                why_ = "the stream ended";
            } else {
                why_ = "read failed: " + AvError(err);
                event_.OnRtmpStreamFailed(err);
            }
            break;
        }
        if (probed && (!ic->pb || avio_tell(ic->pb) != pos)) {
            probed = false;
            for (AVPacket *p : pending) {
                keyed = true;
                Decode(video, p, frame, newest);
                av_packet_free(&p);
            }
            pending.clear();
            if (newest->width > 0)
                Draw(newest);
            av_frame_unref(newest);
        }
        const bool is_video = has_video && pkt->stream_index == video.index;
        const bool is_audio = has_audio && pkt->stream_index == audio.index;
        if (is_video || is_audio) {
            last_media_ns_.store(std::chrono::steady_clock::now().time_since_epoch().count());
            int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
            clock_.OnPacket(ToUs(ts, ic->streams[pkt->stream_index]->time_base), NowUs());
        }
        const bool key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        if (is_video && probed) {
            if (key) {
                for (AVPacket *p : pending)
                    av_packet_free(&p);
                pending.clear();
            }
            // Pictures before the first key frame would be drawn broken.
            if (key || !pending.empty()) {
                AVPacket *copy = av_packet_clone(pkt);
                if (copy)
                    pending.push_back(copy);
            }
        } else if (is_video) {
            if (keyed || key) {
                keyed = true;
                Decode(video, pkt, frame, nullptr, video_tb);
            }
        } else if (is_audio && !probed) {
            // Buffered sound is older than the first picture: it is passed over.
            if (avcodec_send_packet(audio.ctx, pkt) >= 0) {
                while (avcodec_receive_frame(audio.ctx, frame) >= 0) {
                    Audio(frame, ic->streams[audio.index]->time_base);
                    av_frame_unref(frame);
                }
            }
        }
        av_packet_unref(pkt);
    }
    for (AVPacket *p : pending)
        av_packet_free(&p);
    av_frame_free(&newest);
    av_frame_free(&frame);
    av_packet_free(&pkt);
}

void Guester::Decode(Decoder &video, const AVPacket *pkt, AVFrame *frame, AVFrame *keep,
                     AVRational tb)
{
    if (avcodec_send_packet(video.ctx, pkt) < 0)
        return;
    while (avcodec_receive_frame(video.ctx, frame) >= 0) {
        if (keep) {
            av_frame_unref(keep);
            av_frame_move_ref(keep, frame);
        } else {
            Present(frame, ToUs(frame->best_effort_timestamp, tb));
            av_frame_unref(frame);
        }
    }
}

int64_t Guester::Heard() const
{
    // Sound that stopped coming (a stream gone silent, a device gone quiet)
    // no longer tells the time.
    if (!out_ || audio_end_ == kNoTime || out_rate_ <= 0 ||
        NowUs() - audio_written_at_ > kSoundFreshUs)
        return kNoTime;
    int64_t queued = out_->QueuedFrames();
    if (queued < 0)
        return kNoTime;
    return audio_end_ - queued * 1000000 / out_rate_;
}

void Guester::Present(const AVFrame *frame, int64_t pts)
{
    if (pts != kNoTime && clock_.Started()) {
        int64_t until = clock_.Until(pts, NowUs(), Heard());
        if (until < -PlayClock::kLate)
            return;
        if (until > 0) {
            auto wait = std::chrono::microseconds(std::min<int64_t>(until, kMaxWaitUs));
            if (!stop_.SleepUntil(std::chrono::steady_clock::now() + wait))
                return;
        }
    }
    Draw(frame);
}

void Guester::Draw(const AVFrame *frame)
{
    if (renderer_.Draw(frame) && !first_drawn_) {
        first_drawn_ = true;
        event_.OnRtmpFirstFrame(frame->width, frame->height);
    }
}

void Guester::Audio(AVFrame *frame, AVRational tb)
{
    const int64_t pts = ToUs(frame->best_effort_timestamp, tb);
    // Sound that comes too late after a stall would hold the play behind live.
    if (pts != kNoTime && clock_.Started() && frame->sample_rate > 0 &&
        pts + int64_t{frame->nb_samples} * 1000000 / frame->sample_rate <
            clock_.Position(NowUs()) - PlayClock::kBehind)
        return;
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
    if (pts != kNoTime) {
        audio_end_ = pts + int64_t{n} * 1000000 / out_rate_;
        audio_written_at_ = NowUs();
    }
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
