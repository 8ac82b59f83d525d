// Cost of one 20 ms tick of each voice stream, on the thread that calls it
// (the looper in the engine). Send: one recorded frame queued per tick, a
// packet built every fifth tick (plain and encrypted). Receive: a packet of
// five frames put every fifth tick, one frame handed out per tick. The
// engine log is silenced: it is not what is measured.
#include "hal_ctx.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_string.h"
#include "list.h"
#include "rtp_stream.h"
#include "wave.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" void session_on_istream_stop(void *stream, uint32_t event, void *)
{
    uint8_t buf[RTP_POP_FRAME_SIZE];
    if (event == RTP_ISTREAM_EVENT_FRAMES)
        benchmark::DoNotOptimize(rtp_istream_pop_frame(static_cast<rtp_istream *>(stream),
                                                       reinterpret_cast<hal_sound_frame *>(buf)));
}

extern "C" void session_on_ostream_notify(void *stream, uint32_t event, void *)
{
    if (event == RTP_OSTREAM_EVENT_PACKET)
        static_cast<rtp_ostream *>(stream)->last_len = 0;
}

namespace
{

struct bench_engine {
    std::string dir, old;
    hal_ctx *ctx = nullptr;
    bench_engine()
    {
        char buf[4096];
        old = getcwd(buf, sizeof(buf)) ? buf : ".";
        char t[] = "/tmp/rtp-bench-XXXXXX";
        dir = mkdtemp(t);
        if (chdir(dir.c_str()) != 0)
            std::perror("chdir");
        std::ofstream("custom.ini") << "[play]\npackprobation=0\n";
        wave_set_backend(WAVE_BACKEND_NULL, nullptr);
        ctx = hal_ctx_new(".");
        hal_log_set_priority(hal_ctx_get_log(ctx), 8);
    }
    ~bench_engine()
    {
        hal_ctx_destroy(&ctx);
        if (chdir(old.c_str()) != 0)
            std::perror("chdir");
        std::string cmd = "rm -rf " + dir;
        if (std::system(cmd.c_str()) != 0)
            std::perror("rm");
    }
};

hal_sound_frame *amr_frame(uint32_t id)
{
    hal_sound_frame *f = static_cast<hal_sound_frame *>(hal_malloc(4 + 32));
    f->pt = 101;
    f->size = 32;
    std::memset(f->data, static_cast<int>(id), 32);
    f->data[0] = 7 << 3 | 4;
    return f;
}

void BM_SendTick(benchmark::State &state)
{
    bench_engine e;
    rtp_ostream *s =
        rtp_ostream_new(e.ctx, 1000, 101, 0, nullptr, static_cast<uint32_t>(state.range(0)),
                        "0123456789abcdef0123456789ABCDEF");
    hal_looper_cancel_timer(hal_ctx_get_looper(e.ctx), rtp_ostream_on_timer, s);
    double now = 1000.0;
    uint32_t id = 0;
    for (auto _ : state) {
        list_push_back(s->frames, amr_frame(id++));
        now += 0.02;
        rtp_ostream_on_timer(nullptr, now, s);
    }
    state.counters["packets"] = static_cast<double>(s->sent);
    rtp_ostream_destroy(&s);
}

void BM_ReceiveTick(benchmark::State &state)
{
    bench_engine e;
    rtp_istream *s = rtp_istream_new(e.ctx, 0, nullptr);
    hal_looper_cancel_timer(hal_ctx_get_looper(e.ctx), rtp_istream_on_timer, s);
    // The header as the session hands it over, then five 32-byte frames.
    uint8_t header[RTP_HEADER_SIZE] = {0x80, 101};
    uint32_t ssrc = 1000;
    std::memcpy(header + 8, &ssrc, 4);
    std::vector<uint8_t> payload(5 * 32);
    for (size_t i = 0; i < payload.size(); i += 32)
        payload[i] = 7 << 3 | 4;
    uint32_t k = 0, ticks = 0;
    auto put = [&] {
        uint16_t seq = static_cast<uint16_t>(k);
        uint32_t ts = k * 800;
        std::memcpy(header + 2, &seq, 2);
        std::memcpy(header + 4, &ts, 4);
        k++;
        rtp_istream_put(s, reinterpret_cast<const rtp_header *>(header), payload.data(),
                        static_cast<uint32_t>(payload.size()));
    };
    for (int i = 0; i < 4; i++)
        put();
    for (auto _ : state) {
        if (ticks++ % 5 == 0)
            put();
        rtp_istream_on_timer(nullptr, 0, s);
    }
    state.counters["dropped"] = static_cast<double>(s->dropped);
    rtp_istream_destroy(&s);
}

} // namespace

BENCHMARK(BM_SendTick)->ArgName("encrypted")->Arg(0)->Arg(1);
BENCHMARK(BM_ReceiveTick);
