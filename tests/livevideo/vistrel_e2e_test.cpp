// End to end: libVistrel.so through its public header against nginx's RTMP
// module, the ffmpeg tool as publisher and prober, and Xvfb, all on loopback.
#include "rtc/logging.h"
#include "video_fixture.h"
#include "vistrel.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using vt::Rgb;

namespace
{

const Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kBlack{0, 0, 0};

// How long a call took.
template <typename F> std::chrono::milliseconds Timed(F f)
{
    auto t = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t);
}

// Tone and silence of a play session's WAV, in 100 ms blocks.
struct AudioShape {
    std::vector<bool> tone, silent;
};
AudioShape Shape(const vt::Wav &w)
{
    AudioShape s;
    size_t block = static_cast<size_t>(w.rate / 10);
    for (size_t at = 0; block && at + block <= w.samples.size(); at += block) {
        s.tone.push_back(vt::ToneLevel(w, at, block, 440) > 0.02);
        s.silent.push_back(vt::Peak(w, at, block) < 64);
    }
    return s;
}

size_t FileSize(const std::string &path)
{
    std::error_code ec;
    auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<size_t>(n);
}

// How often `text` occurs in the library's log.
size_t LogCount(const std::string &dir, const std::string &text)
{
    std::ifstream f(dir + "/log/kvvideo.log");
    std::string log((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t n = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
        n++;
    return n;
}

TEST(VistrelEndToEnd, PublishPlayMuteMoveAndRelease)
{
    vt::TempDir tmp;
    const std::string dir = tmp.path();
    rtc::LogMessage::SetLogFolderForTesting(dir);
    vt::LivePeers peers;
    const std::string failed = peers.Start(dir);
    ASSERT_TRUE(failed.empty()) << failed;
    vt::Xvfb &xvfb = peers.xvfb;
    vt::Nginx &nginx = peers.nginx;
    vt::XTest &x = peers.x;
    const int threads_at_start = vt::ThreadCount();

    IAvVistrel *av = CreateLiveInstance();
    ASSERT_NE(av, nullptr);
    const std::string url = nginx.Url("cam");

    // Pull first, then publish: left half red and right half blue for the
    // first seconds, then all red, with a 440 Hz tone throughout.
    xcb_window_t a = x.CreateWindow(0, 0, 320, 180);
    xcb_window_t b = x.CreateWindow(700, 0, 320, 180);
    ASSERT_EQ(av->StartPullRtmpStream(a, url), 0);
    vt::Child publisher;
    ASSERT_TRUE(publisher.Spawn(
        vt::PublishCommand("color=c=red:s=320x180:r=25:d=60[a];color=c=blue:s=160x180:r=25:d=3[b];"
                           "[a][b]overlay=x=160:eof_action=pass",
                           "sine=frequency=440:sample_rate=44100:duration=60", url,
                           {"-b:a", "64k"}),
        dir + "/publisher.log"));

    // The picture, at the window's size, from the first key frame on.
    Rgb left{}, right{};
    EXPECT_TRUE(vt::WaitFor(
        [&] {
            left = x.Pixel(a, 40, 90);
            right = x.Pixel(a, 280, 90);
            return vt::Near(left, kRed) && vt::Near(right, kBlue);
        },
        10s))
        << "left " << vt::ToString(left) << " right " << vt::ToString(right);
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(a, 280, 90), kRed); }, 10s));

    // A sound-less second play of the same stream, muted right after its start.
    const std::string quiet_url = url + "?quiet=1";
    ASSERT_EQ(av->StartPullRtmpStream(0, quiet_url), 0);
    EXPECT_TRUE(av->SetPullStreamMute(quiet_url, true));

    // It is drawn into a tall call window: the 16:9 picture fills the width
    // (rows 273 to 525), with black bars above and below, unsqueezed.
    xcb_window_t tall = x.CreateWindow(830, 200, 450, 800);
    EXPECT_TRUE(av->UpdatePullVideoRender(tall, quiet_url));
    EXPECT_TRUE(vt::WaitFor(
        [&] {
            return vt::Near(x.Pixel(tall, 3, 400), kRed) &&
                   vt::Near(x.Pixel(tall, 446, 400), kRed) &&
                   vt::Near(x.Pixel(tall, 225, 277), kRed) &&
                   vt::Near(x.Pixel(tall, 225, 521), kRed) &&
                   vt::Near(x.Pixel(tall, 225, 268), kBlack, 0) &&
                   vt::Near(x.Pixel(tall, 225, 530), kBlack, 0) &&
                   vt::Near(x.Pixel(tall, 5, 5), kBlack, 0) &&
                   vt::Near(x.Pixel(tall, 444, 794), kBlack, 0);
        },
        10s))
        << vt::ToString(x.Pixel(tall, 225, 277)) << vt::ToString(x.Pixel(tall, 225, 268))
        << vt::ToString(x.Pixel(tall, 225, 530)) << vt::ToString(x.Pixel(tall, 3, 400));
    EXPECT_TRUE(av->UpdatePullVideoRender(0, quiet_url));
    x.Destroy(tall);

    // The window doubles: the picture follows its new size.
    x.Resize(a, 640, 360);
    EXPECT_TRUE(vt::WaitFor(
        [&] {
            return vt::Near(x.Pixel(a, 634, 354), kRed) && vt::Near(x.Pixel(a, 5, 5), kRed) &&
                   vt::Near(x.Pixel(a, 634, 5), kRed) && vt::Near(x.Pixel(a, 5, 354), kRed);
        },
        5s));

    // Mute for a while; meanwhile move the picture to window b.
    auto muted_at = std::chrono::steady_clock::now();
    EXPECT_TRUE(av->SetPullStreamMute(url, true));
    EXPECT_TRUE(av->UpdatePullVideoRender(b, url));
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(b, 160, 90), kRed); }, 5s));
    std::this_thread::sleep_for(200ms);
    x.Clear(a, 640, 360);
    for (int i = 0; i < 5; i++) {
        std::this_thread::sleep_for(100ms);
        EXPECT_TRUE(vt::Near(x.Pixel(a, 320, 180), kBlack, 0)) << "window a was drawn into";
    }
    std::this_thread::sleep_until(muted_at + 1800ms);
    EXPECT_TRUE(av->SetPullStreamMute(url, false));
    std::this_thread::sleep_for(1500ms);

    auto took = Timed([&] { EXPECT_EQ(av->StopPullRtmpStream(url), 0); });
    EXPECT_LT(took, 2s);
    EXPECT_EQ(av->StopPullRtmpStream(quiet_url), 0);
    EXPECT_FALSE(av->SetPullStreamMute(url, false));

    // Sound: tone, then at least a second of silence, then tone again.
    vt::Wav wav;
    ASSERT_TRUE(vt::ReadWav(dir + "/pull-1.wav", &wav));
    AudioShape shape = Shape(wav);
    size_t i = 0, n = shape.tone.size();
    while (i < n && !shape.tone[i])
        i++;
    EXPECT_LT(i, n) << "no tone before the mute";
    while (i < n && !shape.silent[i])
        i++;
    size_t silence = 0;
    while (i < n && shape.silent[i])
        i++, silence++;
    EXPECT_GE(silence, 10u) << "silence after the mute, in 100 ms blocks";
    size_t tone_after = 0;
    for (; i < n; i++)
        tone_after += shape.tone[i];
    EXPECT_GE(tone_after, 5u) << "tone after the unmute, in 100 ms blocks";
    // The play muted at its start wrote silence only.
    vt::Wav quiet;
    ASSERT_TRUE(vt::ReadWav(dir + "/pull-2.wav", &quiet));
    EXPECT_GT(quiet.samples.size(), static_cast<size_t>(quiet.rate));
    EXPECT_LT(vt::Peak(quiet, 0, quiet.samples.size()), 64);

    // Push the synthetic picture, previewed in window p.
    const std::string push_url = nginx.Url("me");
    xcb_window_t p = x.CreateWindow(0, 400, 320, 180);
    ASSERT_EQ(av->StartPushRtmpStream(p, push_url), 0);
    EXPECT_EQ(av->StartPushRtmpStream(p, push_url), -1);
    EXPECT_TRUE(vt::WaitFor(
        [&] {
            return vt::Near(x.Pixel(p, 80, 45), kRed) && vt::Near(x.Pixel(p, 240, 45), kGreen) &&
                   vt::Near(x.Pixel(p, 80, 135), kBlue) && vt::Near(x.Pixel(p, 240, 135), kWhite);
        },
        10s))
        << "preview " << vt::ToString(x.Pixel(p, 80, 45)) << vt::ToString(x.Pixel(p, 240, 45))
        << vt::ToString(x.Pixel(p, 80, 135)) << vt::ToString(x.Pixel(p, 240, 135));
    std::string probe;
    EXPECT_EQ(
        vt::RunCapture({"ffprobe", "-v", "error", "-rw_timeout", "5000000", "-analyzeduration",
                        "1000000", "-select_streams", "v:0", "-show_entries",
                        "stream=codec_name,width,height", "-of", "csv=p=0", push_url},
                       &probe, 15s),
        0);
    EXPECT_EQ(probe.substr(0, probe.find('\n')), "h264,640,360");
    const std::string frame_path = dir + "/frame.rgb";
    EXPECT_EQ(vt::RunCapture({"ffmpeg", "-v", "error", "-rw_timeout", "5000000", "-analyzeduration",
                              "1000000", "-i", push_url, "-frames:v", "1", "-f", "rawvideo",
                              "-pix_fmt", "rgb24", "-y", frame_path},
                             nullptr, 15s),
              0);
    {
        std::ifstream f(frame_path, std::ios::binary);
        std::vector<uint8_t> rgb((std::istreambuf_iterator<char>(f)),
                                 std::istreambuf_iterator<char>());
        ASSERT_EQ(rgb.size(), 640u * 360 * 3);
        auto at = [&](int px, int py) {
            const uint8_t *q = &rgb[(static_cast<size_t>(py) * 640 + px) * 3];
            return Rgb{q[0], q[1], q[2]};
        };
        EXPECT_TRUE(vt::Near(at(160, 90), kRed)) << vt::ToString(at(160, 90));
        EXPECT_TRUE(vt::Near(at(480, 90), kGreen)) << vt::ToString(at(480, 90));
        EXPECT_TRUE(vt::Near(at(160, 270), kBlue)) << vt::ToString(at(160, 270));
        EXPECT_TRUE(vt::Near(at(480, 270), kWhite)) << vt::ToString(at(480, 270));
    }
    EXPECT_TRUE(av->UpdatePushVideoRender(b));
    took = Timed([&] { EXPECT_EQ(av->StopPushRtmpStream(), 0); });
    EXPECT_LT(took, 2s);
    EXPECT_EQ(av->StopPushRtmpStream(), -1);
    EXPECT_NE(vt::RunCapture({"ffprobe", "-v", "error", "-rw_timeout", "2000000", push_url},
                             nullptr, 15s),
              0)
        << "the stream is still published";

    // A stream never published: the stop still returns at once.
    ASSERT_EQ(av->StartPullRtmpStream(b, nginx.Url("never")), 0);
    std::this_thread::sleep_for(1s);
    took = Timed([&] { av->StopPullRtmpStream(nginx.Url("never")); });
    EXPECT_LT(took, 2s);

    // The window goes first: drawing stops, the sound plays on, the stop returns.
    xcb_window_t d = x.CreateWindow(400, 400, 320, 180);
    ASSERT_EQ(av->StartPullRtmpStream(d, url), 0); // pull-4
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(d, 160, 90), kRed); }, 10s));
    x.Destroy(d);
    std::this_thread::sleep_for(300ms);
    size_t size_then = FileSize(dir + "/pull-4.wav");
    EXPECT_TRUE(vt::WaitFor([&] { return FileSize(dir + "/pull-4.wav") > size_then + 20000; }, 5s))
        << "the sound stopped with the window";
    // The publisher goes: the play ends by itself, quietly, and says so in the log.
    publisher.Kill();
    EXPECT_TRUE(vt::WaitFor(
        [&] {
            std::ifstream f(dir + "/log/kvvideo.log");
            std::string log((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            return log.find("play " + url + ": retrying in 1 s: the stream ended") !=
                   std::string::npos;
        },
        15s))
        << "no end of stream in the log";
    took = Timed([&] { av->StopPullRtmpStream(url); });
    EXPECT_LT(took, 2s);

    // The server dies mid-stream.
    const std::string url2 = nginx.Url("cam2");
    vt::Child publisher2;
    ASSERT_TRUE(publisher2.Spawn(vt::PublishCommand("color=c=red:s=320x180:r=25:d=60", "", url2),
                                 dir + "/publisher2.log"));
    xcb_window_t e = x.CreateWindow(400, 600, 320, 180);
    ASSERT_EQ(av->StartPullRtmpStream(e, url2), 0);
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(e, 160, 90), kRed); }, 10s));
    // The X server goes first: the session loses its drawing, the process lives on.
    xvfb.Kill();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(av->UpdatePullVideoRender(e, url2));
    std::this_thread::sleep_for(300ms);
    nginx.Kill();
    std::this_thread::sleep_for(300ms);
    took = Timed([&] { av->StopPullRtmpStream(url2); });
    EXPECT_LT(took, 2s);

    ReleaseLiveInstance(&av);
    EXPECT_EQ(av, nullptr);
    EXPECT_TRUE(vt::WaitFor([&] { return vt::ThreadCount() == threads_at_start; }, 3s))
        << vt::ThreadCount() << " threads, " << threads_at_start << " at the start";
}

} // namespace

namespace
{

// Pulls and the push outlive their peers without a call from the page: a
// publisher gone for 10 s, a pull started 10 s before its publisher, and a
// restart of the server.
TEST(VistrelEndToEnd, PullsAndPushRecoverWithoutACall)
{
    vt::TempDir tmp;
    const std::string dir = tmp.path();
    rtc::LogMessage::SetLogFolderForTesting(dir);
    vt::LivePeers peers;
    const std::string failed = peers.Start(dir);
    ASSERT_TRUE(failed.empty()) << failed;
    vt::XTest &x = peers.x;
    IAvVistrel *av = CreateLiveInstance();
    ASSERT_NE(av, nullptr);
    const std::string gap_url = peers.nginx.Url("gap"), late_url = peers.nginx.Url("late"),
                      push_url = peers.nginx.Url("me");
    auto publish = [&](vt::Child &c, const std::string &colour, const std::string &url) {
        return c.Spawn(vt::PublishCommand("color=c=" + colour + ":s=320x180:r=25", "", url),
                       dir + "/publisher-" + colour + ".log");
    };

    xcb_window_t a = x.CreateWindow(0, 0, 320, 180);   // late
    xcb_window_t c = x.CreateWindow(330, 0, 320, 180); // gap
    xcb_window_t b = x.CreateWindow(0, 200, 320, 180); // our own push, played back
    vt::Child gap;
    ASSERT_TRUE(publish(gap, "red", gap_url));
    const auto late_started = std::chrono::steady_clock::now();
    ASSERT_EQ(av->StartPullRtmpStream(a, late_url), 0);
    ASSERT_EQ(av->StartPullRtmpStream(c, gap_url), 0);
    ASSERT_EQ(av->StartPushRtmpStream(0, push_url), 0);
    ASSERT_EQ(av->StartPullRtmpStream(b, push_url), 0);
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(c, 160, 90), kRed); }, 10s));
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(b, 80, 45), kRed); }, 10s));

    // The gap's publisher goes for 10 s; the late one comes 10 s after its pull.
    gap.Kill();
    const auto gap_started = std::chrono::steady_clock::now();
    EXPECT_TRUE(
        vt::WaitFor([&] { return LogCount(dir, "play " + gap_url + ": retrying") >= 1; }, 15s));
    std::this_thread::sleep_until(late_started + 10s);
    vt::Child late;
    ASSERT_TRUE(publish(late, "lime", late_url));
    std::this_thread::sleep_until(gap_started + 10s);
    ASSERT_TRUE(publish(gap, "blue", gap_url));
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(a, 160, 90), kGreen); }, 20s))
        << "the late pull shows " << vt::ToString(x.Pixel(a, 160, 90));
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(c, 160, 90), kBlue); }, 20s))
        << "the pull after the gap shows " << vt::ToString(x.Pixel(c, 160, 90));

    // The server restarts on its port; the publishers' ffmpeg died with it.
    const int port = peers.nginx.port();
    peers.nginx.Kill();
    gap.Kill();
    late.Kill();
    EXPECT_TRUE(vt::WaitFor(
        [&] {
            return LogCount(dir, "push " + push_url + ": retrying") >= 1 &&
                   LogCount(dir, "play " + push_url + ": retrying") >= 1;
        },
        15s));
    x.Clear(b, 320, 180);
    ASSERT_TRUE(peers.nginx.Start(dir, port));
    ASSERT_TRUE(publish(gap, "red", gap_url));
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(c, 160, 90), kRed); }, 20s))
        << "the pull after the restart shows " << vt::ToString(x.Pixel(c, 160, 90));
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(b, 80, 45), kRed); }, 20s))
        << "the push is not back: " << vt::ToString(x.Pixel(b, 80, 45));
    EXPECT_EQ(LogCount(dir, "push " + push_url + ": publishing"), 2u);

    auto took = Timed([&] { ReleaseLiveInstance(&av); });
    EXPECT_LT(took, 4s);
}

} // namespace

namespace
{

// A play that joins a running stream starts from its live end and draws it
// at its pace: the probe's buffered second is not drawn at once, nor what a
// stalled server sends in a heap.
TEST(VistrelEndToEnd, PicturesArePacedFromTheLiveEnd)
{
    vt::TempDir tmp;
    const std::string dir = tmp.path();
    rtc::LogMessage::SetLogFolderForTesting(dir);
    vt::LivePeers peers;
    const std::string failed = peers.Start(dir);
    ASSERT_TRUE(failed.empty()) << failed;
    vt::XTest &x = peers.x;
    IAvVistrel *av = CreateLiveInstance();
    ASSERT_NE(av, nullptr);
    const std::string url = peers.nginx.Url("counter");
    constexpr int kFps = 25;
    vt::Child publisher;
    ASSERT_TRUE(publisher.Spawn(vt::PublishCommand(vt::StampedVideo(640, 360, kFps),
                                                   "sine=frequency=440:sample_rate=44100", url),
                                dir + "/publisher.log"));
    auto counter = [&](xcb_window_t w) { return vt::ReadStamp(x.Row(w, 45, 320)); };

    // A first play shows that the stream is live, and where live is.
    xcb_window_t live = x.CreateWindow(0, 0, 320, 180);
    ASSERT_EQ(av->StartPullRtmpStream(live, url), 0);
    ASSERT_TRUE(vt::WaitFor([&] { return counter(live) > 0; }, 15s));

    // Joined just before a key frame (one a second), the probe holds a
    // second of pictures after it: the worst case for a play that would
    // draw from that key frame on.
    ASSERT_TRUE(vt::WaitFor(
        [&] {
            int n = counter(live) % kFps;
            return n >= kFps - 5 && n <= kFps - 2;
        },
        5s));
    xcb_window_t w = x.CreateWindow(400, 0, 320, 180);
    ASSERT_EQ(av->StartPullRtmpStream(w, url + "?second=1"), 0);
    // Watched without pause: the first picture drawn is the one counted from.
    int first = -1, live_then = -1;
    const auto limit = std::chrono::steady_clock::now() + 15s;
    while (first <= 0 && std::chrono::steady_clock::now() < limit)
        first = counter(w);
    ASSERT_GT(first, 0) << "nothing drawn";
    const auto first_at = std::chrono::steady_clock::now();
    live_then = counter(live);
    std::this_thread::sleep_until(first_at + 1s);
    const int later = counter(w), live_now = counter(live);
    EXPECT_LE(std::abs(first - live_then), 5) << "first " << first << ", live " << live_then;
    EXPECT_LE(later - first, kFps * 13 / 10) << "from " << first << " to " << later;
    EXPECT_GE(later - first, kFps / 2) << "from " << first << " to " << later;
    EXPECT_LE(std::abs(live_now - later), 5) << "live " << live_now << ", second play " << later;

    // The server stalls for 1.5 s, then sends what it held back in a heap:
    // the play catches up by passing over it, not by drawing it fast.
    int before = counter(w);
    peers.nginx.Pause(true);
    std::this_thread::sleep_for(1500ms);
    peers.nginx.Pause(false);
    std::vector<int> seen;
    const auto resumed = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point moved{};
    while (std::chrono::steady_clock::now() < resumed + 3s) {
        int n = counter(w);
        if (n <= 0 || n == before || (!seen.empty() && n == seen.back()))
            continue;
        if (seen.empty())
            moved = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() > moved + 200ms)
            break;
        seen.push_back(n);
    }
    ASSERT_FALSE(seen.empty()) << "the picture did not move after the stall";
    std::string drawn;
    for (int n : seen)
        drawn += std::to_string(n) + " ";
    // 200 ms at 25 pictures a second (5), the jump, the two or three that
    // were only just late, and room for error; drawn fast it would be 40.
    EXPECT_LE(seen.size(), 12u) << "drawn after the stall: " << drawn << "(from " << before << ")";
    // And it is live again: within a few pictures of the other play.
    EXPECT_TRUE(vt::WaitFor([&] { return std::abs(counter(live) - counter(w)) <= 3; }, 2s))
        << "live " << counter(live) << ", second play " << counter(w);
    EXPECT_TRUE(vt::WaitFor(
        [&] {
            int stamp = vt::ReadStamp(x.Row(w, 135, 320));
            int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
            return stamp >= 0 && ((now - stamp) & 0xffff) < 500;
        },
        2s))
        << "the picture stays behind after the stall";

    ReleaseLiveInstance(&av);
}

} // namespace

namespace
{

// Sound through ALSA rather than a test file: the default device is ALSA's
// file plugin over its null device, set up by an asoundrc in the test's
// folder, so what the play sent to the device can be read back.
TEST(VistrelEndToEnd, SoundPlaysThroughAlsa)
{
    vt::TempDir tmp;
    const std::string dir = tmp.path();
    rtc::LogMessage::SetLogFolderForTesting(dir);
    vt::LivePeers peers;
    const std::string failed = peers.Start(dir);
    ASSERT_TRUE(failed.empty()) << failed;
    const std::string played = dir + "/played.wav";
    std::filesystem::create_directories(dir + "/alsa");
    {
        std::ofstream rc(dir + "/alsa/asoundrc");
        rc << "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" << played
           << "\"\n  format \"wav\"\n}\n";
    }
    // ALSA reads $XDG_CONFIG_HOME/alsa/asoundrc after its own configuration.
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    unsetenv("VISTREL_TEST_DIR");

    vt::XTest &x = peers.x;
    IAvVistrel *av = CreateLiveInstance();
    ASSERT_NE(av, nullptr);
    const std::string url = peers.nginx.Url("tone");
    vt::Child publisher;
    ASSERT_TRUE(publisher.Spawn(vt::PublishCommand("color=c=red:s=320x180:r=25",
                                                   "sine=frequency=440:sample_rate=44100", url,
                                                   {"-b:a", "64k"}),
                                dir + "/publisher.log"));
    xcb_window_t w = x.CreateWindow(0, 0, 320, 180);
    ASSERT_EQ(av->StartPullRtmpStream(w, url), 0);
    // The pictures follow the device's clock: they are drawn.
    EXPECT_TRUE(vt::WaitFor([&] { return vt::Near(x.Pixel(w, 160, 90), kRed); }, 15s));
    // Two seconds of sound (44100 Hz, one channel) reached the device.
    EXPECT_TRUE(vt::WaitFor([&] { return FileSize(played) > 44 + 2 * 2 * 44100; }, 15s))
        << FileSize(played) << " bytes played";
    auto took = Timed([&] { EXPECT_EQ(av->StopPullRtmpStream(url), 0); });
    EXPECT_LT(took, 2s);
    ReleaseLiveInstance(&av);
    unsetenv("XDG_CONFIG_HOME");

    vt::Wav wav;
    ASSERT_TRUE(vt::ReadWav(played, &wav));
    EXPECT_EQ(wav.rate, 44100);
    ASSERT_GE(wav.samples.size(), 2u * 44100);
    // lavfi's sine is an eighth of full scale: about 0.06 on this measure.
    const size_t second = wav.samples.size() - 44100;
    const double level = vt::ToneLevel(wav, second, 44100, 440);
    EXPECT_GT(level, 0.04) << level;
    EXPECT_LT(level, 0.09) << level;
    EXPECT_LT(vt::ToneLevel(wav, second, 44100, 1000), 0.005);
}

} // namespace
