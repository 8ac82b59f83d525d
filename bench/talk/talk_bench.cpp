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
// LinkLoss: the server is killed two seconds into a talk and started again
// three seconds later. Counters (ms): kill to the talker's stop_speak, kill
// to its -21, the server's return to both engines online again (one retry
// interval, 5 s, is in it by design).
//
// StrayFlood: during a talk, 50,000 datagrams a second for three seconds
// carry the talker's SSRC with random far-off sequence numbers and
// timestamps. Counters: the listener's voice frames played per second
// before and during the flood (50 is everything), the strays sent and those
// the receive stream dropped, per second.
//
// Run: build/bench/bench_talk   (by hand; it is not part of the suite)
#include "hal_log.h"
#include "rtp_stream.h"
#include "session.h"
#include "sessionset.h"
#include "talk_lag.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <random>
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

bool wait_for(const std::function<bool()> &pred, double seconds)
{
    double end = steady() + seconds;
    while (!pred()) {
        if (steady() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool has_error(TalkEngine *e, const std::string &code)
{
    for (const std::string &c : e->calls(SLOT_ERROR)) {
        if (c == code)
            return true;
    }
    return false;
}

void BM_LinkLoss(benchmark::State &state)
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
        talk.press();
        if (!wait_for([&] { return talk.b->status() == SESSION_STATUS_LISTENING; }, 10)) {
            state.SkipWithError("no talk");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        double killed = steady();
        talk.server.stop();
        double stop_at = 0, error_at = 0;
        wait_for(
            [&] {
                if (!stop_at && !talk.a->calls(SLOT_STOP_SPEAK).empty())
                    stop_at = steady();
                if (!error_at && has_error(talk.a, "-21"))
                    error_at = steady();
                return stop_at && error_at;
            },
            15);
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(killed + 3.0))));
        std::string error;
        if (!talk.server.restart(&error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        double back = steady();
        bool online = wait_for(
            [&] {
                return talk.a->status() == SESSION_STATUS_IDLE &&
                       talk.b->status() == SESSION_STATUS_IDLE && talk.a->online() &&
                       talk.b->online();
            },
            60);
        if (!stop_at || !error_at || !online) {
            state.SkipWithError("the talk did not end or the engines did not come back");
            return;
        }
        state.SetIterationTime(stop_at - killed);
        state.counters["kill_to_stop_speak_ms"] = (stop_at - killed) * 1000;
        state.counters["kill_to_error_ms"] = (error_at - killed) * 1000;
        state.counters["server_back_to_online_ms"] = (steady() - back) * 1000;
    }
}
BENCHMARK(BM_LinkLoss)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_StrayFlood(benchmark::State &state)
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
        talk.press();
        if (!wait_for([&] { return talk.b->status() == SESSION_STATUS_LISTENING; }, 10)) {
            state.SkipWithError("no talk");
            return;
        }
        auto counters = [&](uint64_t *frames, uint64_t *dropped) {
            talk.b->on_looper([&] {
                session *s = sessionset_current(talk.b->engine->sessionset);
                *frames = s && s->istream ? s->istream->voice_frames : 0;
                *dropped = s && s->istream ? s->istream->bad_seq : 0;
                return 0;
            });
        };
        std::this_thread::sleep_for(std::chrono::seconds(1));
        uint64_t f0 = 0, f1 = 0, f2 = 0, b0 = 0, b1 = 0, b2 = 0;
        counters(&f0, &b0);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        counters(&f1, &b1);
        auto relayed = talk.server.relayed_to(1001);
        if (relayed.empty()) {
            state.SkipWithError("nothing relayed");
            return;
        }
        Bytes model = relayed.back().datagram;
        uint16_t seq = (uint16_t)((model[2] << 8) | model[3]);
        std::mt19937 rng(5);
        const int per_ms = 50;
        uint64_t sent = 0;
        auto t = std::chrono::steady_clock::now();
        for (int ms = 0; ms < 3000; ms++) {
            for (int i = 0; i < per_ms; i++) {
                Bytes d = model;
                uint16_t far = (uint16_t)(seq + 1000 + rng() % 63536);
                uint32_t ts = rng();
                d[2] = (uint8_t)(far >> 8);
                d[3] = (uint8_t)far;
                d[4] = (uint8_t)(ts >> 24);
                d[5] = (uint8_t)(ts >> 16);
                d[6] = (uint8_t)(ts >> 8);
                d[7] = (uint8_t)ts;
                sent += talk.server.voice_inject(2001, 1001, d) ? 1 : 0;
            }
            t += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(t);
        }
        counters(&f2, &b2);
        // A talk that starved (no voice for 2 s) has lost its stream.
        if (f2 < f1)
            f2 = f1;
        if (b2 < b1)
            b2 = b1;
        state.SetIterationTime((double)(f2 - f1) / 3.0 / 1000.0);
        state.counters["frames_per_s_before"] = (double)(f1 - f0) / 3.0;
        state.counters["frames_per_s_flood"] = (double)(f2 - f1) / 3.0;
        state.counters["strays_sent_per_s"] = (double)sent / 3.0;
        state.counters["strays_dropped_per_s"] = (double)(b2 - b1) / 3.0;
        talk.release();
        talk.drained();
    }
}
BENCHMARK(BM_StrayFlood)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
