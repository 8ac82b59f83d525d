// Real speech through the real path: a clip recorded from the file sound
// device with the engine's settings (gain, echo control, encoder), played
// back through the decoder into a WAV file, and compared with the clip.
#include "hal_sound.h"
#include "media_test_util.h"

#include <gtest/gtest.h>
#include <mutex>

using media_test::engine;
using media_test::file_opts;
using media_test::in_periods;
using ptt::test::TempCwd;
using ptt::test::wait_until;

namespace
{

struct play_end {
    std::mutex mu;
    int calls = 0;
};

void on_play_end(hal_sound *, int, void *arg)
{
    play_end *p = static_cast<play_end *>(arg);
    std::lock_guard<std::mutex> g(p->mu);
    p->calls++;
}

// Records the whole clip as coded frames, then plays them into out.wav.
// Returns the frames recorded.
size_t record_and_play(engine &e, size_t samples)
{
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    size_t periods = samples / 160;
    std::vector<std::vector<uint8_t>> frames;
    EXPECT_EQ(e.run([&] { return hal_sound_start_record(s, 0); }), 0);
    uint64_t want = in_periods() + periods;
    wave_file_pump(WAVE_IN, static_cast<uint32_t>(periods));
    EXPECT_TRUE(wait_until(
        [&] {
            e.run([&] { return media_test::take_recorded_frames(s, frames); });
            return in_periods() >= want && frames.size() >= periods;
        },
        std::chrono::seconds(20)));
    EXPECT_EQ(e.run([&] { return hal_sound_stop_record(s); }), 0);

    EXPECT_EQ(e.run([&] { return hal_sound_start_play(s, 0); }), 0);
    wave_file_pump(WAVE_OUT, 1000000);
    for (const std::vector<uint8_t> &f : frames) {
        int rc = e.run([&] {
            return hal_sound_write_frame(s, reinterpret_cast<const hal_sound_frame *>(f.data()));
        });
        EXPECT_EQ(rc, static_cast<int>(f.size()));
    }
    play_end p;
    EXPECT_EQ(e.run([&] { return hal_sound_async_stop_play(s, on_play_end, &p); }), 0);
    EXPECT_TRUE(wait_until([&] {
        std::lock_guard<std::mutex> g(p.mu);
        return p.calls == 1;
    }));
    return frames.size();
}

// Segmental SNR (dB) of out against in over 20 ms segments where the input
// speaks, with out shifted by lag samples; segments clamped to -10..35 dB.
double segmental_snr(const std::vector<int16_t> &in, const std::vector<int16_t> &out, size_t lag)
{
    double sum = 0;
    int count = 0;
    for (size_t i = 0; i + 160 <= in.size() && i + lag + 160 <= out.size(); i += 160) {
        double sig = 0, err = 0;
        for (size_t k = 0; k < 160; k++) {
            double x = in[i + k], y = out[i + lag + k];
            sig += x * x;
            err += (x - y) * (x - y);
        }
        if (sig / 160 < 1e5) // silence: no speech to measure
            continue;
        double snr = 10 * std::log10(sig / (err + 1));
        sum += std::max(-10.0, std::min(35.0, snr));
        count++;
    }
    return count ? sum / count : -10;
}

std::vector<int16_t> byteswapped(const std::vector<int16_t> &x)
{
    std::vector<int16_t> y(x.size());
    for (size_t i = 0; i < x.size(); i++) {
        uint16_t u = static_cast<uint16_t>(x[i]);
        y[i] = static_cast<int16_t>(static_cast<uint16_t>(u << 8 | u >> 8));
    }
    return y;
}

// Drops one frame in four (the rest close up), as a lossy path would.
std::vector<int16_t> drop_frames(const std::vector<int16_t> &x)
{
    std::vector<int16_t> y;
    for (size_t i = 0; i + 160 <= x.size(); i += 160)
        if ((i / 160) % 4 != 3)
            y.insert(y.end(), x.begin() + i, x.begin() + i + 160);
    return y;
}

struct codec_row {
    const char *name;
    int pt;
    double env_floor; // envelope correlation
    // Segmental SNR with gain and echo control off, dB; NAN where the codec
    // does not keep the waveform (EVRC's RCELP shifts the speech in time, so
    // only its envelope can be compared).
    double snr_floor;
};

void check_codec(const codec_row &r)
{
    std::vector<int16_t> clip = media_test::fixture("speech_far_8k.wav");
    ASSERT_GT(clip.size(), 8000u * 10);
    std::string input = ptt::test::source_path("tests/fixtures/audio/speech_far_8k.wav");
    const size_t max_lag = 8000; // 1 s either way covers start-up and filters
    for (int plain = 0; plain < 2; plain++) {
        TempCwd cwd;
        std::string ini = "[record]\nprobation=0\ncodec=" + std::to_string(r.pt) + "\n";
        if (plain)
            ini += "agc_enable=0\naec_delay=0\n[play]\nagc_enable=0\n";
        size_t frames;
        std::vector<int16_t> out;
        {
            engine e(ini, file_opts(input, "out.wav"));
            frames = record_and_play(e, clip.size());
            out = media_test::read_wav("out.wav");
        }
        EXPECT_EQ(frames, clip.size() / 160);
        // One frame of start-up silence, then every frame.
        EXPECT_EQ(out.size(), (frames + 1) * 160);
        auto match = media_test::best_envelope_match(clip, out, max_lag);
        if (!plain) {
            // The floor catches a broken path: wrong byte order, lost
            // frames, silence.
            double swapped = media_test::best_envelope_match(clip, byteswapped(out), max_lag).first;
            double dropped = media_test::best_envelope_match(clip, drop_frames(out), max_lag).first;
            double silent =
                media_test::best_envelope_match(clip, std::vector<int16_t>(out.size(), 0), max_lag)
                    .first;
            std::printf("%s, engine settings (gain, echo control): envelope correlation %.3f at "
                        "lag %zu samples (byte-swapped %.3f, one frame in four lost %.3f, "
                        "silence %.3f)\n",
                        r.name, match.first, match.second, swapped, dropped, silent);
            EXPECT_GT(match.first, r.env_floor);
            EXPECT_LT(swapped, r.env_floor);
            EXPECT_LT(dropped, r.env_floor);
            EXPECT_LT(silent, r.env_floor);
        } else {
            // The decoder's delay is a few samples: find it exactly.
            size_t best_lag = 0;
            double best = -100;
            for (size_t lag = 160; lag < 160 + 200; lag++) {
                double snr = segmental_snr(clip, out, lag);
                if (snr > best) {
                    best = snr;
                    best_lag = lag;
                }
            }
            std::printf("%s, gain and echo control off: envelope correlation %.3f, segmental SNR "
                        "%.1f dB at lag %zu\n",
                        r.name, match.first, best, best_lag);
            EXPECT_GT(match.first, r.env_floor);
            if (!std::isnan(r.snr_floor)) {
                EXPECT_GT(best, r.snr_floor);
            }
        }
        EXPECT_FALSE(ptt::test::read_file("record_pcm.raw").empty());
        EXPECT_FALSE(ptt::test::read_file("play_pcm.raw").empty());
    }
}

} // namespace

TEST(SpeechPath, AmrNb)
{
    check_codec({"AMR-NB 10.2 kbit/s", 101, 0.90, 2.0});
}

TEST(SpeechPath, Evrc)
{
    check_codec({"EVRC half rate", 103, 0.90, NAN});
}
