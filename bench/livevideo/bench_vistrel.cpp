// Live video against nginx, ffmpeg and Xvfb on loopback:
// - StartToFirstFrame: from StartPullRtmpStream to the first picture in the
//   window, on a live stream with a key frame every second (median of 10).
//   Beside it, the ffmpeg tool with the same probe limits (to its exit).
// - FourPullsCpu: the process's CPU over 10 s while it plays four 640x360
//   25 fps streams (one publisher, URLs differing in the query string);
//   beside it, four ffmpeg tools drawing the same into SDL windows.
// - GlassToGlass: a publisher stamps each picture with the wall-clock time of
//   its making; the window is read back and the stamp decoded. Median and
//   95th percentile of the delay, the library against ffplay with its
//   low-delay options playing the same stream beside it (1 s key frames,
//   x264 zerolatency, nginx on loopback). VISTREL_BENCH_SECONDS sets the
//   measured time (60 by default).
// - LipSync: the publisher flashes the picture and beeps at the same instant
//   every second; the sound goes through ALSA (its file plugin over the null
//   device, the file's growth time-stamped), the flashes are seen in the
//   window; offset = flash drawn - beep played.
// - Recovery/<gap>: the publisher is killed, and restarted after <gap>
//   seconds; from its restart to its picture in the window.
#include "rtc/logging.h"
#include "video_fixture.h"
#include "vistrel.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

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
    // The anchor: the ffmpeg tool with the same probe limits and one
    // decoding thread, from its start to its exit after the first picture.
    std::vector<double> anchor;
    for (int i = 0; i < 5; i++) {
        std::string url = p.live.nginx.Url("bench") + "?ffmpeg=" + std::to_string(i);
        auto t0 = std::chrono::steady_clock::now();
        if (vt::RunCapture({"ffmpeg", "-v", "error", "-threads", "1", "-probesize", "500000",
                            "-analyzeduration", "1000000", "-i", url, "-an", "-frames:v", "1", "-f",
                            "null", "-"},
                           nullptr, 15s) == 0)
            anchor.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count());
    }
    std::sort(anchor.begin(), anchor.end());
    state.counters["ffmpeg_median_ms"] = anchor.empty() ? -1 : anchor[anchor.size() / 2];
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

// User and system time of another process, from /proc.
double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos)
        return 0;
    std::istringstream in(stat.substr(paren + 2));
    std::string field;
    double ticks = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int i = 3; i <= 15 && in >> field; i++)
        if (i >= 14)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
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

    // The anchor: four ffmpeg tools, one decoding thread each, drawing the
    // same streams at the same size into SDL windows.
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    std::vector<std::unique_ptr<vt::Child>> tools;
    for (int i = 0; i < 4; i++) {
        tools.push_back(std::make_unique<vt::Child>());
        tools.back()->Spawn({"ffmpeg", "-v", "error", "-threads", "1", "-probesize", "500000",
                             "-analyzeduration", "1000000", "-i",
                             p.live.nginx.Url("bench") + "?tool=" + std::to_string(i), "-an", "-vf",
                             "scale=320:180", "-pix_fmt", "yuv420p", "-f", "sdl2",
                             "tool-" + std::to_string(i)});
    }
    std::this_thread::sleep_for(4s); // past their probes
    double tool_cpu0 = 0, tool_cpu1 = 0;
    for (auto &t : tools)
        tool_cpu0 += ProcessCpuSeconds(t->pid());
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(10s);
    for (auto &t : tools)
        tool_cpu1 += ProcessCpuSeconds(t->pid());
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.counters["ffmpeg_cores"] = (tool_cpu1 - tool_cpu0) / wall;
}
BENCHMARK(FourPullsCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

int BenchSeconds(int fallback)
{
    const char *s = std::getenv("VISTREL_BENCH_SECONDS");
    return s && std::atoi(s) > 0 ? std::atoi(s) : fallback;
}

int64_t WallMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double SteadyMs()
{
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void GlassToGlass(benchmark::State &state)
{
    Peers &p = GetPeers();
    if (!p.ok) {
        state.SkipWithError("peers did not start");
        return;
    }
    const std::string url = p.live.nginx.Url("stamped");
    vt::Child publisher;
    publisher.Spawn(vt::PublishCommand(vt::StampedVideo(320, 180, 25), "", url),
                    p.tmp.path() + "/stamped.log");
    IAvVistrel *av = CreateLiveInstance();
    xcb_window_t w = p.live.x.CreateWindow(0, 0, 320, 180);
    av->StartPullRtmpStream(w, url);
    vt::Child ffplay;
    ffplay.Spawn({"env",
                  "SDL_AUDIODRIVER=dummy",
                  "ffplay",
                  "-hide_banner",
                  "-loglevel",
                  "error",
                  "-fflags",
                  "nobuffer",
                  "-flags",
                  "low_delay",
                  "-framedrop",
                  "-probesize",
                  "32",
                  "-analyzeduration",
                  "0",
                  "-sync",
                  "ext",
                  "-an",
                  "-window_title",
                  "g2g-ffplay",
                  "-left",
                  "400",
                  "-top",
                  "0",
                  "-x",
                  "320",
                  "-y",
                  "180",
                  url},
                 p.tmp.path() + "/ffplay.log");
    xcb_window_t anchor = 0;
    vt::WaitFor(
        [&] {
            anchor = p.live.x.FindWindow("g2g-ffplay");
            return anchor != 0;
        },
        15s);
    std::vector<double> ours, theirs;
    for (auto _ : state) {
        // Both show pictures before the count starts.
        vt::WaitFor([&] { return vt::ReadStamp(p.live.x.Row(w, 135, 320)) > 0; }, 15s);
        int last[2] = {-1, -1};
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(BenchSeconds(60));
        while (std::chrono::steady_clock::now() < end) {
            for (int i = 0; i < 2; i++) {
                xcb_window_t win = i == 0 ? w : anchor;
                if (!win)
                    continue;
                std::vector<vt::Rgb> row = p.live.x.Row(win, 135, 320);
                int stamp = vt::ReadStamp(row);
                if (stamp < 0 || stamp == last[i])
                    continue;
                bool first = last[i] < 0;
                last[i] = stamp;
                if (first)
                    continue; // seen late: its change happened before we looked
                double delay = static_cast<double>((WallMs() - stamp) & 0xffff);
                if (delay < 5000)
                    (i == 0 ? ours : theirs).push_back(delay);
            }
            std::this_thread::sleep_for(2ms);
        }
    }
    av->StopPullRtmpStream(url);
    ReleaseLiveInstance(&av);
    ffplay.Kill();
    if (ours.empty()) {
        state.SkipWithError("nothing was drawn");
        return;
    }
    state.counters["median_ms"] = Percentile(ours, 0.5);
    state.counters["p95_ms"] = Percentile(ours, 0.95);
    state.counters["pictures"] = static_cast<double>(ours.size());
    state.counters["ffplay_median_ms"] = Percentile(theirs, 0.5);
    state.counters["ffplay_p95_ms"] = Percentile(theirs, 0.95);
    state.counters["ffplay_pictures"] = static_cast<double>(theirs.size());
}
BENCHMARK(GlassToGlass)->Iterations(1)->Unit(benchmark::kMillisecond);

void LipSync(benchmark::State &state)
{
    Peers &p = GetPeers();
    if (!p.ok) {
        state.SkipWithError("peers did not start");
        return;
    }
    // ALSA's default device becomes its file plugin over the null device.
    const std::string conf = p.tmp.path() + "/alsa-conf";
    const std::string played = p.tmp.path() + "/played.wav";
    std::filesystem::create_directories(conf + "/alsa");
    {
        std::ofstream rc(conf + "/alsa/asoundrc");
        rc << "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" << played
           << "\"\n  format \"wav\"\n}\n";
    }
    // The file plugin writes out what goes beyond one buffer of the device:
    // the file lags the writes by exactly that. The library asks for the
    // same parameters (one channel here, 200 ms), so its buffer is this one.
    size_t lag_bytes = 0;
    {
        setenv("XDG_CONFIG_HOME", conf.c_str(), 1);
        snd_pcm_t *pcm = nullptr;
        snd_pcm_uframes_t buffer = 0, period = 0;
        if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) == 0) {
            if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                                   44100, 1, 200000) == 0 &&
                snd_pcm_get_params(pcm, &buffer, &period) == 0)
                lag_bytes = buffer * 2;
            snd_pcm_close(pcm);
        }
    }
    const char *dir_env = std::getenv("VISTREL_TEST_DIR");
    const std::string test_dir = dir_env ? dir_env : "";
    setenv("XDG_CONFIG_HOME", conf.c_str(), 1);
    unsetenv("VISTREL_TEST_DIR");

    const std::string url = p.live.nginx.Url("lips");
    vt::Child publisher;
    publisher.Spawn(vt::PublishCommand(
                        "color=c=black:s=320x180:r=25,geq=lum='255*lt(mod(T,1),0.2)':cb=128:cr=128",
                        "aevalsrc='0.5*lt(mod(t,1),0.2)*sin(2*PI*1000*t)':s=44100", url),
                    p.tmp.path() + "/lips.log");
    IAvVistrel *av = CreateLiveInstance();
    xcb_window_t w = p.live.x.CreateWindow(0, 200, 320, 180);
    av->StartPullRtmpStream(w, url);
    std::vector<double> flashes;                  // steady ms of each flash's first sight
    std::vector<std::pair<double, size_t>> grown; // steady ms, file size
    for (auto _ : state) {
        bool lit = true; // a flash under way at the start is not counted
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(BenchSeconds(60) / 3);
        size_t last_size = 0;
        while (std::chrono::steady_clock::now() < end) {
            vt::Rgb c = p.live.x.Pixel(w, 160, 90);
            bool now_lit = c.r + c.g + c.b > 3 * 128;
            double t = SteadyMs();
            if (now_lit && !lit)
                flashes.push_back(t);
            lit = now_lit;
            std::error_code ec;
            size_t size = static_cast<size_t>(std::filesystem::file_size(played, ec));
            if (!ec && size != last_size) {
                grown.emplace_back(t, size);
                last_size = size;
            }
            std::this_thread::sleep_for(1ms);
        }
    }
    av->StopPullRtmpStream(url);
    ReleaseLiveInstance(&av);
    unsetenv("XDG_CONFIG_HOME");
    if (!test_dir.empty())
        setenv("VISTREL_TEST_DIR", test_dir.c_str(), 1);

    vt::Wav wav;
    if (!vt::ReadWav(played, &wav) || flashes.empty() || grown.empty()) {
        state.SkipWithError("no flash or no sound");
        return;
    }
    // Beep starts, in 5 ms blocks; each mapped to when the file grew past it.
    std::vector<double> beeps;
    const size_t block = static_cast<size_t>(wav.rate / 200);
    bool on = true;
    for (size_t at = 0; block && at + block <= wav.samples.size(); at += block) {
        bool now_on = vt::Peak(wav, at, block) > 2000;
        if (now_on && !on) {
            size_t byte = at * 2 * static_cast<size_t>(wav.channels);
            if (byte < lag_bytes) {
                on = now_on;
                continue; // written before the file began to grow: no time for it
            }
            for (const auto &g : grown)
                if (g.second >= 44 + byte - lag_bytes) {
                    beeps.push_back(g.first);
                    break;
                }
        }
        on = now_on;
    }
    std::vector<double> offsets;
    for (double f : flashes) {
        double best = 1e9;
        for (double b : beeps)
            if (std::abs(f - b) < std::abs(best))
                best = f - b;
        if (std::abs(best) < 500)
            offsets.push_back(best);
    }
    if (offsets.empty()) {
        state.SkipWithError("no flash matched a beep");
        return;
    }
    std::sort(offsets.begin(), offsets.end());
    state.counters["median_ms"] = Percentile(offsets, 0.5);
    state.counters["min_ms"] = offsets.front();
    state.counters["max_ms"] = offsets.back();
    state.counters["pairs"] = static_cast<double>(offsets.size());
    state.counters["device_buffer_ms"] = static_cast<double>(lag_bytes) / 2 / 44.1;
}
BENCHMARK(LipSync)->Iterations(1)->Unit(benchmark::kMillisecond);

void Recovery(benchmark::State &state)
{
    Peers &p = GetPeers();
    if (!p.ok) {
        state.SkipWithError("peers did not start");
        return;
    }
    const auto gap = std::chrono::seconds(state.range(0));
    const std::string url = p.live.nginx.Url("comeback");
    auto publish = [&](vt::Child &c, const char *colour) {
        c.Spawn(vt::PublishCommand(std::string("color=c=") + colour + ":s=320x180:r=25", "", url),
                p.tmp.path() + "/comeback.log");
    };
    vt::Child publisher;
    publish(publisher, "red");
    IAvVistrel *av = CreateLiveInstance();
    xcb_window_t w = p.live.x.CreateWindow(400, 200, 320, 180);
    av->StartPullRtmpStream(w, url);
    vt::WaitFor([&] { return vt::Near(p.live.x.Pixel(w, 160, 90), {255, 0, 0}); }, 15s);
    std::vector<double> ms;
    for (auto _ : state) {
        for (int i = 0; i < 3; i++) {
            const bool blue = i % 2 == 0;
            publisher.Kill();
            std::this_thread::sleep_for(gap);
            auto t0 = std::chrono::steady_clock::now();
            publish(publisher, blue ? "blue" : "red");
            vt::Rgb want = blue ? vt::Rgb{0, 0, 255} : vt::Rgb{255, 0, 0};
            if (vt::WaitFor([&] { return vt::Near(p.live.x.Pixel(w, 160, 90), want); }, 30s))
                ms.push_back(
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                        .count());
        }
    }
    av->StopPullRtmpStream(url);
    ReleaseLiveInstance(&av);
    if (ms.empty()) {
        state.SkipWithError("the picture never came back");
        return;
    }
    state.counters["median_ms"] = Percentile(ms, 0.5);
    state.counters["max_ms"] = *std::max_element(ms.begin(), ms.end());
    state.counters["recovered"] = static_cast<double>(ms.size());
}
BENCHMARK(Recovery)->Arg(2)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
