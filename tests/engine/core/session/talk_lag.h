// Mouth-to-ear lag of a talk between two engines in one process, on the
// real clock and the file sound device: the talker's input is a clip of
// short 1 kHz bursts once a second in silence, the listener's output is the
// device's output file. A thread watches the file device's counters (input
// periods captured, output samples appended) against the monotonic clock,
// which places every input and output sample in time; each burst's lag is
// the time its onset was heard minus the time it was spoken.
#pragma once

#include "lirko_talk.h"
#include "talk_engine.h"
#include "wave.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace ptt::test
{

constexpr uint32_t kLagRate = 8000;
constexpr uint32_t kLagPeriod = 160;
// Bursts of 40 ms at 0.5 s, 1.5 s, ... (on period boundaries).
constexpr uint32_t kBurstFirst = 4000;
constexpr uint32_t kBurstEvery = 8000;
constexpr uint32_t kBurstLength = 320;

inline std::vector<int16_t> burst_clip(double seconds)
{
    std::vector<int16_t> pcm((size_t)(seconds * kLagRate));
    for (size_t start = kBurstFirst; start + kBurstLength <= pcm.size(); start += kBurstEvery) {
        for (size_t i = 0; i < kBurstLength; i++)
            pcm[start + i] = (int16_t)lrint(16000.0 * sin(2.0 * M_PI * 1000.0 * i / kLagRate));
    }
    return pcm;
}

class LagProbe
{
  public:
    LagProbe()
    {
        wave_file_stats s;
        wave_file_get_stats(&s);
        base_in_ = s.in_periods;
        running_ = true;
        thread_ = std::thread([this] { poll(); });
    }
    ~LagProbe()
    {
        stop();
    }
    void stop()
    {
        if (running_.exchange(false))
            thread_.join();
    }

    // The lag of each burst heard in out (the output file's samples, from
    // its start), in seconds; bursts inside a prompt tone are not counted.
    // Only once stopped.
    std::vector<double> lags(const std::vector<int16_t> &out) const
    {
        std::vector<std::pair<size_t, size_t>> tones;
        for (auto [pos, freq] : tone_positions(out))
            tones.push_back({pos, pos + (freq == 2600 || freq == 1175 ? 800 : 480)});
        auto in_tone = [&](size_t i) {
            for (auto [a, b] : tones) {
                if (i >= a && i < b)
                    return true;
            }
            return false;
        };
        std::vector<double> lags;
        size_t quiet_since = 0;
        bool quiet = true;
        for (size_t i = 0; i < out.size(); i++) {
            bool loud = std::abs((int)out[i]) > 4000 && !in_tone(i);
            if (loud && quiet && i - quiet_since >= kBurstEvery / 2) {
                double heard = heard_at(i);
                uint32_t j = kBurstFirst + (uint32_t)lags.size() * kBurstEvery;
                double spoken = spoken_at(j);
                if (heard > 0 && spoken > 0)
                    lags.push_back(heard - spoken);
            }
            if (loud) {
                quiet = false;
            } else if (!quiet && std::abs((int)out[i]) < 500) {
                quiet = true;
                quiet_since = i;
            }
        }
        return lags;
    }

  private:
    struct mark {
        double t;
        uint64_t in_periods;
        uint64_t out_samples;
    };
    static double now()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void poll()
    {
        uint64_t in = ~0ull, out = ~0ull;
        while (running_) {
            wave_file_stats s;
            wave_file_get_stats(&s);
            if (s.in_periods != in || s.out_samples != out) {
                in = s.in_periods;
                out = s.out_samples;
                marks_.push_back({now(), in, out});
            }
            std::this_thread::sleep_for(std::chrono::microseconds(250));
        }
    }
    // The time the output sample i was heard: its period was appended when
    // played out, the sample sounding (period end - i) samples before that.
    double heard_at(size_t i) const
    {
        uint64_t end = (i / kLagPeriod + 1) * kLagPeriod;
        for (const mark &m : marks_) {
            if (m.out_samples >= end)
                return m.t - (double)(end - i) / kLagRate;
        }
        return -1;
    }
    // The time the input sample j was spoken: its period was delivered at
    // the end of its capture.
    double spoken_at(uint32_t j) const
    {
        uint64_t period = base_in_ + j / kLagPeriod + 1;
        uint64_t end = ((uint64_t)j / kLagPeriod + 1) * kLagPeriod;
        for (const mark &m : marks_) {
            if (m.in_periods >= period)
                return m.t - (double)(end - j) / kLagRate;
        }
        return -1;
    }

    uint64_t base_in_ = 0;
    std::atomic<bool> running_{false};
    std::thread thread_;
    std::vector<mark> marks_;
};

// Two engines in group 2001 on the real clock: A (the dispatcher) talks the
// burst clip, B (alice) listens. Automatic gain is off on both sides, so the
// bursts arrive as spoken.
class RealTalk
{
  public:
    // Starts the server and both engines and waits until both sessions are
    // ready; false (with a reason) when anything fails.
    bool start(const std::string &dir, double clip_seconds, uint32_t codec, std::string *why)
    {
        std::string clip = dir + "/bursts.raw";
        std::vector<int16_t> pcm = burst_clip(clip_seconds);
        write_file(clip, std::string((const char *)pcm.data(), pcm.size() * 2));
        out_path = dir + "/out.wav";
        wave_file_opts o = {};
        snprintf(o.in_path, sizeof(o.in_path), "%s", clip.c_str());
        snprintf(o.out_path, sizeof(o.out_path), "%s", out_path.c_str());
        o.fail_write_after = -1;
        wave_set_backend(WAVE_BACKEND_FILE, &o);
        server.edit_directory([](Directory &d) {
            d.config.present = true;
            d.config.audio_enabled = true;
            d.config.default_group = 2001;
        });
        if (!server.start(why))
            return false;
        std::string ini = "[record]\ncodec = " + std::to_string(codec) +
                          "\nprobation = 0\nagc_enable = 0\n[play]\nagc_enable = 0\n";
        for (const char *name : {"a", "b"}) {
            std::string d = dir + "/" + name;
            mkdir(d.c_str(), 0777);
            engines.push_back(std::make_unique<TalkEngine>(server, d, ini));
        }
        a = engines[0].get();
        b = engines[1].get();
        if (!a->engine || !b->engine || a->login("dispatcher", "dispatcher-pw") != 0 ||
            b->login("alice", "alice-pw") != 0) {
            *why = "engines";
            return false;
        }
        // The first connection attempt starts one retry interval after the
        // login.
        if (!wait_until(
                [&] {
                    return a->status() == SESSION_STATUS_IDLE && b->status() == SESSION_STATUS_IDLE;
                },
                std::chrono::seconds(30))) {
            *why = "no session";
            return false;
        }
        return true;
    }
    int press()
    {
        return a->on_looper([&] { return lirko_start_speak(a->engine); });
    }
    int release()
    {
        return a->on_looper([&] { return lirko_stop_speak(a->engine); });
    }
    // Waits until the listener has played the talk out.
    bool drained()
    {
        return wait_until([&] { return b->status() == SESSION_STATUS_IDLE; },
                          std::chrono::seconds(30));
    }

    PttServer server;
    std::vector<std::unique_ptr<TalkEngine>> engines;
    TalkEngine *a = nullptr;
    TalkEngine *b = nullptr;
    std::string out_path;
};

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double mean(const std::vector<double> &v, size_t from, size_t to)
{
    double s = 0;
    for (size_t i = from; i < to; i++)
        s += v[i];
    return to > from ? s / (double)(to - from) : 0;
}

} // namespace ptt::test
