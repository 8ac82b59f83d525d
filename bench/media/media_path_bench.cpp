// CPU time of the sound path per 20 ms frame, as a fraction of real time.
//
// Record: capture buffer -> automatic gain -> echo control -> AMR-NB encoder
// (or EVRC) -> record ring -> read on the looper. Play: frame written on the
// looper -> decoder -> far end to the echo canceller -> automatic gain ->
// FIFO -> device buffer. Both run the engine's own code on the file sound
// device, pumped as fast as it goes; the figure is the CPU time of the whole
// process (every thread) divided by the frames moved. The engine log is
// silenced: it is not the path being measured.
#include "hal_ctx.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sound.h"
#include "wave.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

const size_t k_frames = 500; // 10 s of speech

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

int on_looper(hal_ctx *ctx, const std::function<int()> &fn)
{
    return hal_looper_exec(
        hal_ctx_get_looper(ctx),
        [](hal_looper *, void *arg) { return (*static_cast<const std::function<int()> *>(arg))(); },
        const_cast<std::function<int()> *>(&fn));
}

struct bench_dir {
    std::string dir;
    std::string old;
    bench_dir()
    {
        char buf[4096];
        old = getcwd(buf, sizeof(buf)) ? buf : ".";
        char t[] = "/tmp/media-bench-XXXXXX";
        dir = mkdtemp(t);
        if (chdir(dir.c_str()) != 0)
            std::perror("chdir");
    }
    ~bench_dir()
    {
        if (chdir(old.c_str()) != 0)
            std::perror("chdir");
        std::string cmd = "rm -rf " + dir;
        if (std::system(cmd.c_str()) != 0)
            std::perror("rm");
    }
};

hal_ctx *make_engine(const std::string &ini)
{
    std::ofstream("custom.ini") << ini;
    wave_file_opts o{};
    std::snprintf(o.in_path, sizeof(o.in_path), "%s",
                  PTT_SOURCE_DIR "/tests/fixtures/audio/speech_far_8k.wav");
    std::snprintf(o.out_path, sizeof(o.out_path), "out.wav");
    o.loop = 1;
    o.pacing = WAVE_PACE_PUMPED;
    o.fail_write_after = -1;
    wave_set_backend(WAVE_BACKEND_FILE, &o);
    hal_ctx *ctx = hal_ctx_new(".");
    hal_log_set_priority(hal_ctx_get_log(ctx), 8);
    return ctx;
}

// Records k_frames frames; returns them.
std::vector<std::vector<uint8_t>> record(hal_ctx *ctx)
{
    hal_sound *s = hal_ctx_get_sound(ctx);
    std::vector<std::vector<uint8_t>> frames;
    on_looper(ctx, [&] { return hal_sound_start_record(s, 0); });
    wave_file_pump(WAVE_IN, k_frames);
    while (frames.size() < k_frames) {
        on_looper(ctx, [&] {
            const hal_sound_frame *f;
            while ((f = hal_sound_read_frame(s)) != nullptr) {
                const uint8_t *p = reinterpret_cast<const uint8_t *>(f);
                frames.emplace_back(p, p + 4 + f->size);
            }
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // idle, not spinning
    }
    on_looper(ctx, [&] { return hal_sound_stop_record(s); });
    return frames;
}

void play(hal_ctx *ctx, const std::vector<std::vector<uint8_t>> &frames)
{
    hal_sound *s = hal_ctx_get_sound(ctx);
    on_looper(ctx, [&] { return hal_sound_start_play(s, 0); });
    wave_file_pump(WAVE_OUT, 1u << 30);
    on_looper(ctx, [&] {
        for (const std::vector<uint8_t> &f : frames)
            hal_sound_write_frame(s, reinterpret_cast<const hal_sound_frame *>(f.data()));
        return 0;
    });
    on_looper(ctx, [&] { return hal_sound_stop_play(s); });
}

void report(benchmark::State &state, double cpu, size_t frames)
{
    double per_frame = cpu / frames;
    state.counters["cpu_us_per_frame"] = per_frame * 1e6;
    state.counters["fraction_of_real_time"] = per_frame / 0.020;
}

void BM_RecordPath(benchmark::State &state)
{
    bench_dir dir;
    std::string ini = "[record]\nprobation=0\ncodec=" + std::to_string(state.range(0)) + "\n";
    hal_ctx *ctx = make_engine(ini);
    double cpu = 0;
    size_t frames = 0;
    for (auto _ : state) {
        double t0 = cpu_seconds();
        frames += record(ctx).size();
        cpu += cpu_seconds() - t0;
    }
    report(state, cpu, frames);
    hal_ctx_destroy(&ctx);
}

void BM_PlayPath(benchmark::State &state)
{
    bench_dir dir;
    std::string ini = "[record]\nprobation=0\ncodec=" + std::to_string(state.range(0)) + "\n";
    hal_ctx *ctx = make_engine(ini);
    std::vector<std::vector<uint8_t>> frames = record(ctx);
    double cpu = 0;
    size_t n = 0;
    for (auto _ : state) {
        double t0 = cpu_seconds();
        play(ctx, frames);
        cpu += cpu_seconds() - t0;
        n += frames.size();
    }
    report(state, cpu, n);
    hal_ctx_destroy(&ctx);
}

} // namespace

BENCHMARK(BM_RecordPath)->Arg(101)->Arg(103)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlayPath)->Arg(101)->Arg(103)->Unit(benchmark::kMillisecond)->UseRealTime();
