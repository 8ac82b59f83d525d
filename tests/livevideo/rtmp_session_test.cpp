// The RTMP layer's sessions on their own, against servers that refuse or
// never answer: starts return at once, stops end blocking network calls,
// and no event comes after Destory.
#include "play_clock.h"
#include "rtmp.h"
#include "rtmp_util.h"
#include "video_fixture.h"
#include "xcb_render.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace
{

struct Events : RTMPGuesterEvent, RTMPHosterEvent {
    std::atomic<int> ok{0}, failed{0}, closed{0}, other{0};
    void OnRtmpStreamOK() override
    {
        ok++;
    }
    void OnRtmpStreamFailed(int) override
    {
        failed++;
    }
    void OnRtmpStreamClosed() override
    {
        closed++;
    }
    void OnRtmpFirstFrame(int, int) override
    {
        other++;
    }
    void OnRtmpVideoSource(bool) override
    {
        other++;
    }
    void OnRtmpStatus(int64_t) override
    {
        other++;
    }
    int Total() const
    {
        return ok + failed + closed + other;
    }
};

// A loopback port that accepts connections and never says a word.
class SilentServer
{
  public:
    SilentServer()
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(a);
        bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof(a));
        listen(fd_, 8);
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~SilentServer()
    {
        close(fd_);
    }
    std::string Url() const
    {
        return "rtmp://127.0.0.1:" + std::to_string(port_) + "/live/x";
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

template <typename F> std::chrono::milliseconds Timed(F f)
{
    auto t = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t);
}

// Pictures keep their shape in any window: as large as fits, centred.
TEST(RtmpRender, PicturesFitWithBars)
{
    struct Case {
        int width, height, sar_num, sar_den, win_w, win_h;
        rtmp::Fit want;
    };
    const Case cases[] = {
        {640, 360, 0, 1, 450, 800, {0, 273, 450, 253}}, // 16:9 in the call window
        {640, 360, 1, 1, 320, 180, {0, 0, 320, 180}},   // same shape: no bars
        {320, 180, 0, 0, 640, 360, {0, 0, 640, 360}},   // scaled up
        {640, 360, 0, 1, 400, 100, {111, 0, 178, 100}}, // wider window: bars left and right
        {480, 360, 4, 3, 640, 360, {0, 0, 640, 360}},   // non-square pixels: 16:9 on screen
        {640, 360, 0, 1, 1000, 1, {499, 0, 2, 1}},      // never less than a pixel
        {0, 360, 0, 1, 320, 180, {0, 0, 320, 180}},     // no picture size: the whole window
    };
    for (const Case &c : cases) {
        rtmp::Fit f = rtmp::FitPicture(c.width, c.height, c.sar_num, c.sar_den, c.win_w, c.win_h);
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " in " +
                     std::to_string(c.win_w) + "x" + std::to_string(c.win_h));
        EXPECT_EQ(f.x, c.want.x);
        EXPECT_EQ(f.y, c.want.y);
        EXPECT_EQ(f.w, c.want.w);
        EXPECT_EQ(f.h, c.want.h);
    }
}

// The play clock: pictures are due the margin after the live edge; late
// ones are recognised; a stall's backlog is late; a new timeline starts over;
// the sound's position leads when it is close to live.
TEST(RtmpPlayClock, DueTimesFollowTheLiveEdge)
{
    using rtmp::PlayClock;
    constexpr int64_t ms = 1000;
    PlayClock c;
    EXPECT_FALSE(c.Started());
    // Packets 40 ms apart, arriving 40 ms apart; the third came 30 ms late.
    c.OnPacket(1000 * ms, 5000 * ms);
    c.OnPacket(1040 * ms, 5040 * ms);
    c.OnPacket(1080 * ms, 5110 * ms);
    ASSERT_TRUE(c.Started());
    EXPECT_EQ(c.Position(5110 * ms), 1110 * ms - PlayClock::kMargin);
    // The late packet's picture is due now less the 30 ms it lost.
    EXPECT_EQ(c.Until(1080 * ms, 5110 * ms), PlayClock::kMargin - 30 * ms);
    EXPECT_EQ(c.Until(1110 * ms, 5110 * ms), PlayClock::kMargin);
    EXPECT_GT(c.Until(1040 * ms, 5110 * ms), -PlayClock::kLate); // a little late: still drawn
    EXPECT_LT(c.Until(900 * ms, 5110 * ms), -PlayClock::kLate);

    // A 1 s stall, then its backlog in a heap: all of it late but the newest.
    for (int64_t pts = 1120; pts <= 2120; pts += 40)
        c.OnPacket(pts * ms, 6120 * ms);
    EXPECT_LT(c.Until(1600 * ms, 6120 * ms), -PlayClock::kLate);
    EXPECT_GT(c.Until(2080 * ms, 6120 * ms), -PlayClock::kLate);

    // A sound position near live leads; one far off does not.
    EXPECT_EQ(c.Position(6120 * ms, 2000 * ms), 2000 * ms);
    EXPECT_EQ(c.Position(6120 * ms, 9000 * ms), c.Position(6120 * ms));

    // The edge forgets old packets after two windows: a publisher whose clock
    // runs slow is not taken for late forever.
    c.OnPacket(2100 * ms, 12000 * ms);
    c.OnPacket(2140 * ms, 12040 * ms);
    EXPECT_EQ(c.Position(12040 * ms), 2140 * ms - PlayClock::kMargin);

    // A new publisher starts its timestamps over: so does the clock.
    c.OnPacket(0, 12100 * ms);
    EXPECT_EQ(c.Position(12100 * ms), -PlayClock::kMargin);
    c.Reset();
    EXPECT_FALSE(c.Started());
    c.OnPacket(rtmp::kNoTime, 0);
    EXPECT_FALSE(c.Started());

    // A stream that pauses for 1.5 s and goes on with its timestamps where
    // they were: late at first, followed within half a second.
    PlayClock d;
    for (int64_t i = 0; i <= 25; i++)
        d.OnPacket(i * 40 * ms, (1000 + i * 40) * ms);
    d.OnPacket(1040 * ms, 3500 * ms);
    EXPECT_LT(d.Until(1040 * ms, 3500 * ms), -PlayClock::kLate);
    for (int64_t i = 1; i <= 15; i++)
        d.OnPacket((1040 + i * 40) * ms, (3500 + i * 40) * ms);
    EXPECT_EQ(d.Until(1640 * ms, 4100 * ms), PlayClock::kMargin);
}

// The layer's log lines, kept for the test to wait on.
std::mutex g_log_mutex;
std::vector<std::string> g_log;

void KeepLine(int, const char *line)
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log.push_back(line);
}

size_t LinesWith(const std::string &text)
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    size_t n = 0;
    for (const auto &l : g_log)
        n += l.find(text) != std::string::npos;
    return n;
}

// A session against a port nobody listens on fails, waits 1 s, fails again,
// waits 2 s, ... logging each retry once; no close until it is stopped, and
// a stop during a wait returns at once.
TEST(RtmpSession, RefusedSessionsRetryWithBackoffAndStopAtOnce)
{
    rtmp::SetLogSink(KeepLine);
    setenv("VISTREL_TEST_DIR", "/tmp", 1); // the synthetic picture, never a camera
    const std::string url = "rtmp://127.0.0.1:" + std::to_string(vt::FreePort()) + "/live/x";
    for (bool play : {true, false}) {
        SCOPED_TRACE(play ? "play" : "push");
        Events ev;
        RTMPGuester *g = play ? RTMPGuester::Create(ev) : nullptr;
        RTMPHoster *h = play ? nullptr : RTMPHoster::Create(ev);
        const std::string what = (play ? "play " : "push ") + url + ": retrying in ";
        auto started = std::chrono::steady_clock::now();
        EXPECT_LT(Timed([&] {
                      if (g)
                          g->StartRtmpPlay(url.c_str(), 0);
                      else
                          h->StartRtmpPush(url.c_str());
                  }),
                  500ms);
        EXPECT_TRUE(vt::WaitFor([&] { return LinesWith(what + "2 s") == 1; }, 10s));
        // Two tries, the second one the back-off's first second after the first.
        EXPECT_GE(std::chrono::steady_clock::now() - started, 1s);
        EXPECT_EQ(LinesWith(what + "1 s"), 1u);
        EXPECT_EQ(LinesWith((play ? "play " : "push ") + url), 2u) << "one line a retry";
        EXPECT_EQ(ev.failed, 2);
        EXPECT_EQ(ev.closed, 0);
        EXPECT_EQ(ev.ok, 0);
        EXPECT_LT(Timed([&] {
                      if (g)
                          g->StopRtmpPlay();
                      else
                          h->StopRtmpPush();
                  }),
                  500ms);
        EXPECT_EQ(ev.closed, 1);
        EXPECT_EQ(ev.failed, 2);
        EXPECT_EQ(LinesWith(what + "4 s"), 0u);
        RTMPGuester::Destory(g);
        RTMPHoster::Destory(h);
    }
    rtmp::SetLogSink(nullptr);
}

TEST(RtmpSession, StopsEndASilentServersWaitAndNothingFollowsDestory)
{
    SilentServer server;
    Events play_ev, push_ev;
    RTMPGuester *g = RTMPGuester::Create(play_ev);
    RTMPHoster *h = RTMPHoster::Create(push_ev);
    ASSERT_NE(g, nullptr);
    ASSERT_NE(h, nullptr);
    setenv("VISTREL_TEST_DIR", "/tmp", 1); // the synthetic picture, never a camera
    g->StartRtmpPlay(server.Url().c_str(), 0);
    h->SetCodecType(7);
    h->StartRtmpPush(server.Url().c_str());
    EXPECT_EQ(h->GetCodecType(), 7);
    std::this_thread::sleep_for(1s); // both are blocked in the handshake now
    EXPECT_LT(Timed([&] { g->StopRtmpPlay(); }), 2s);
    EXPECT_LT(Timed([&] { h->StopRtmpPush(); }), 2s);
    // A stop is quiet: closed, not failed.
    EXPECT_EQ(play_ev.closed, 1);
    EXPECT_EQ(play_ev.failed, 0);
    EXPECT_EQ(push_ev.closed, 1);
    EXPECT_EQ(push_ev.failed, 0);
    // Destory of a running session stops it first; nothing comes after it.
    g->StartRtmpPlay(server.Url().c_str(), 0);
    RTMPGuester::Destory(g);
    int play_total = play_ev.Total(), push_total = push_ev.Total();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(play_ev.Total(), play_total);
    RTMPHoster::Destory(h);
    EXPECT_EQ(push_ev.Total(), push_total);
    RTMPGuester::Destory(nullptr);
    RTMPHoster::Destory(nullptr);
}

} // namespace
