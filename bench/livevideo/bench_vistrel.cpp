// Live video against nginx, ffmpeg and Xvfb on loopback:
// - StartToFirstFrame: from StartPullRtmpStream to the first picture in the
//   window, on a live stream with a key frame every second (median of 10).
// - FourPullsCpu: the process's CPU over 10 s while it plays four 640x360
//   25 fps streams (one publisher, URLs differing in the query string).
#include "rtc/logging.h"
#include "video_fixture.h"
#include "vistrel.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <sys/resource.h>
#include <thread>

using namespace std::chrono_literals;

namespace
{

// One set of peers for all benchmarks of the run.
struct Peers {
    vt::TempDir tmp;
    vt::LivePeers live;
    vt::Child publisher;
    bool ok = false;

    Peers()
    {
        rtc::LogMessage::SetLogFolderForTesting(tmp.path());
        // Sound goes to WAV files, not to a device the machine may not have.
        if (!live.Start(tmp.path()).empty())
            return;
        ok = publisher.Spawn(vt::PublishCommand("testsrc2=s=640x360:r=25",
                                                "sine=frequency=440:sample_rate=44100",
                                                live.nginx.Url("bench")),
                             tmp.path() + "/publisher.log");
        std::this_thread::sleep_for(2s);
    }
};

Peers &GetPeers()
{
    static Peers peers;
    return peers;
}

void StartToFirstFrame(benchmark::State &state)
{
    Peers &p = GetPeers();
    if (!p.ok) {
        state.SkipWithError("peers did not start");
        return;
    }
    IAvVistrel *av = CreateLiveInstance();
    xcb_window_t w = p.live.x.CreateWindow(0, 0, 320, 180);
    std::vector<double> ms;
    for (auto _ : state) {
        for (int i = 0; i < 10; i++) {
            p.live.x.Clear(w, 320, 180);
            std::string url = p.live.nginx.Url("bench") + "?run=" + std::to_string(i);
            auto t0 = std::chrono::steady_clock::now();
            av->StartPullRtmpStream(w, url);
            bool drawn = vt::WaitFor(
                [&] {
                    vt::Rgb c = p.live.x.Pixel(w, 160, 90);
                    return c.r + c.g + c.b > 0;
                },
                10s);
            auto t1 = std::chrono::steady_clock::now();
            av->StopPullRtmpStream(url);
            if (drawn)
                ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
    }
    ReleaseLiveInstance(&av);
    if (ms.empty()) {
        state.SkipWithError("nothing was drawn");
        return;
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["min_ms"] = ms.front();
    state.counters["max_ms"] = ms.back();
    state.counters["drawn"] = static_cast<double>(ms.size());
}
BENCHMARK(StartToFirstFrame)->Iterations(1)->Unit(benchmark::kMillisecond);

double CpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
           ru.ru_stime.tv_usec / 1e6;
}

void FourPullsCpu(benchmark::State &state)
{
    Peers &p = GetPeers();
    if (!p.ok) {
        state.SkipWithError("peers did not start");
        return;
    }
    IAvVistrel *av = CreateLiveInstance();
    std::vector<xcb_window_t> windows;
    for (int i = 0; i < 4; i++)
        windows.push_back(p.live.x.CreateWindow(330 * (i % 2), 200 * (i / 2), 320, 180));
    double cores = 0;
    for (auto _ : state) {
        for (int i = 0; i < 4; i++)
            av->StartPullRtmpStream(windows[i],
                                    p.live.nginx.Url("bench") + "?tile=" + std::to_string(i));
        for (int i = 0; i < 4; i++)
            vt::WaitFor(
                [&] {
                    vt::Rgb c = p.live.x.Pixel(windows[i], 160, 90);
                    return c.r + c.g + c.b > 0;
                },
                10s);
        double cpu0 = CpuSeconds();
        auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(10s);
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        cores = (CpuSeconds() - cpu0) / wall;
        for (int i = 0; i < 4; i++)
            av->StopPullRtmpStream(p.live.nginx.Url("bench") + "?tile=" + std::to_string(i));
    }
    ReleaseLiveInstance(&av);
    state.counters["cores"] = cores;
}
BENCHMARK(FourPullsCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
