// EVRC encode speed on one core in this system's configuration: half rate,
// noise suppression off, on the 79 s reference speech (official/long/vec_01).
// "x_realtime" is seconds of speech encoded per second.
//
//   build/bench/evrc_encode_bench --benchmark_counters_tabular=true
#include "evrc_frame.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

std::vector<int16_t> read_speech()
{
    std::vector<int16_t> pcm;
    std::string path = std::string(PTT_SHARED_DATA_DIR) + "/evrc/vectors/official/long/vec_01.pcm";
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return pcm;
    int16_t frame[EVRC_FRAME_LEN];
    while (fread(frame, sizeof(int16_t), EVRC_FRAME_LEN, f) == EVRC_FRAME_LEN)
        pcm.insert(pcm.end(), frame, frame + EVRC_FRAME_LEN);
    fclose(f);
    return pcm;
}

void BM_EncodeHalfRate(benchmark::State &state)
{
    static const std::vector<int16_t> speech = read_speech();
    if (speech.empty()) {
        state.SkipWithError("reference speech not found");
        return;
    }
    size_t frames = speech.size() / EVRC_FRAME_LEN;
    std::vector<int16_t> work(speech.size());
    int64_t checksum = 0;
    for (auto _ : state) {
        // The encoder filters its input in place; start every pass from the file.
        state.PauseTiming();
        memcpy(work.data(), speech.data(), speech.size() * sizeof(int16_t));
        state.ResumeTiming();
        evrc_encoder *enc = evrc_encoder_new();
        uint8_t out[22];
        for (size_t f = 0; f < frames; f++) {
            evrc_encode_frame(enc, &work[f * EVRC_FRAME_LEN], out);
            checksum += out[f % 10];
        }
        evrc_encoder_destroy(&enc);
        benchmark::DoNotOptimize(checksum);
    }
    double seconds_of_speech = frames * 0.02;
    state.counters["x_realtime"] =
        benchmark::Counter(seconds_of_speech, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EncodeHalfRate)->Unit(benchmark::kMillisecond);

} // namespace
