// EVRC speed on one core in this system's configuration: half-rate frames,
// no post-filter. "x_realtime" is seconds of speech handled per second.
//
//   build/bench/evrc_bench --benchmark_counters_tabular=true
#include "evrc_frame.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

std::vector<uint8_t> read_all(const std::string &path)
{
    std::vector<uint8_t> data;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return data;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    fclose(f);
    return data;
}

// The half-rate packets of official/long/vec_01 (79 s of speech) as they
// travel on the wire: 10 bytes a frame, each word high byte first.
std::vector<uint8_t> wire_frames()
{
    std::vector<uint8_t> pkt =
        read_all(std::string(PTT_SHARED_DATA_DIR) + "/evrc/vectors/halfrate/vec_01.h3n0.pkt");
    std::vector<uint8_t> wire;
    for (size_t off = 0; off + 24 <= pkt.size(); off += 24)
        for (int k = 0; k < 5; k++) {
            wire.push_back(pkt[off + 3 + 2 * k]);
            wire.push_back(pkt[off + 2 + 2 * k]);
        }
    return wire;
}

void BM_DecodeHalfRate(benchmark::State &state)
{
    static const std::vector<uint8_t> wire = wire_frames();
    if (wire.empty()) {
        state.SkipWithError("reference packets not found");
        return;
    }
    size_t frames = wire.size() / 10;
    int16_t out[EVRC_FRAME_LEN];
    int64_t checksum = 0;
    for (auto _ : state) {
        evrc_decoder *dec = evrc_decoder_new();
        for (size_t f = 0; f < frames; f++) {
            evrc_decode_frame(dec, &wire[10 * f], 10, out);
            checksum += out[f % EVRC_FRAME_LEN];
        }
        evrc_decoder_destroy(&dec);
        benchmark::DoNotOptimize(checksum);
    }
    double seconds_of_speech = frames * 0.02;
    state.counters["x_realtime"] =
        benchmark::Counter(seconds_of_speech, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DecodeHalfRate)->Unit(benchmark::kMillisecond);

} // namespace
