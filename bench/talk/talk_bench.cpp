// Talk between two engines in one process, on the real clock and the file
// sound device, through the test server on loopback.
//
// MouthToEar: the dispatcher talks a clip of 1 kHz bursts once a second;
// every burst's lag from the talker's input to the listener's output (see
// tests/engine/core/session/talk_lag.h). Counters: median, min, max, the means of
// the first and last ten bursts and their difference (drift), in ms. The
// talk lasts PTT_TALK_SECONDS (default 60; 600 for the ten-minute drift).
//
// Floor: ten press/release rounds. Counters (medians, ms): press to the
// RequestMic at the server (the 60 ms request tone included), the floor
// grant to SPEAKING (measured from the request's arrival at the server,
// whose grant follows at once), press to the first voice datagram at the
// server.
//
// Run: build/bench/bench_talk   (by hand; it is not part of the suite)
#include "hal_log.h"
#include "talk_lag.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <thread>

using namespace ptt::test;

namespace
{

double steady()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double talk_seconds()
{
    const char *v = getenv("PTT_TALK_SECONDS");
    double s = v ? atof(v) : 60.0;
    return s >= 5 ? s : 60.0;
}

void quiet_logs(RealTalk &talk)
{
    for (auto &e : talk.engines)
        e->on_looper([&] { return hal_log_set_priority(e->engine->log, HAL_LOG_ERROR); });
}

void BM_MouthToEar(benchmark::State &state)
{
    for (auto _ : state) {
        TempCwd cwd;
        RealTalk talk;
        std::string why;
        double seconds = talk_seconds();
        if (!talk.start(cwd.path(), seconds + 1, 101, &why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        quiet_logs(talk);
        LagProbe probe;
        talk.press();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        talk.release();
        talk.drained();
        probe.stop();
        std::vector<double> lags = probe.lags(read_wav_samples(talk.out_path));
        if (lags.size() < 20) {
            state.SkipWithError("too few bursts heard");
            return;
        }
        std::vector<double> sorted = lags;
        std::sort(sorted.begin(), sorted.end());
        double first = mean(lags, 0, 10), last = mean(lags, lags.size() - 10, lags.size());
        state.SetIterationTime(median(lags));
        state.counters["median_ms"] = median(lags) * 1000;
        state.counters["min_ms"] = sorted.front() * 1000;
        state.counters["max_ms"] = sorted.back() * 1000;
        state.counters["first10_ms"] = first * 1000;
        state.counters["last10_ms"] = last * 1000;
        state.counters["drift_ms"] = (last - first) * 1000;
        state.counters["bursts"] = (double)lags.size();
    }
}
BENCHMARK(BM_MouthToEar)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Floor(benchmark::State &state)
{
    for (auto _ : state) {
        TempCwd cwd;
        RealTalk talk;
        std::string why;
        if (!talk.start(cwd.path(), 30, 101, &why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        quiet_logs(talk);
        std::vector<double> to_request, to_speaking, to_voice;
        for (int round = 0; round < 10; round++) {
            talk.server.clear_received();
            talk.server.clear_relayed();
            double pressed = steady();
            talk.press();
            while (talk.a->status() != SESSION_STATUS_SPEAKING && steady() - pressed < 5)
                ;
            double speaking = steady();
            talk.server.wait_relayed(1001, 1, std::chrono::seconds(5));
            auto requests = talk.server.received("ptt.rr.RequestMic");
            auto voice = talk.server.relayed_to(1001);
            if (requests.empty() || voice.empty()) {
                state.SkipWithError("no request or no voice");
                return;
            }
            to_request.push_back(requests[0].at - pressed);
            to_speaking.push_back(speaking - requests[0].at);
            to_voice.push_back(voice[0].at - pressed);
            talk.release();
            talk.drained();
            // Requests closer than a second apart are refused.
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        }
        state.SetIterationTime(median(to_voice));
        state.counters["press_to_request_ms"] = median(to_request) * 1000;
        state.counters["grant_to_speaking_ms"] = median(to_speaking) * 1000;
        state.counters["press_to_voice_ms"] = median(to_voice) * 1000;
    }
}
BENCHMARK(BM_Floor)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
