// Whatever a microphone delivers (clipping, hum, hours of digital silence,
// a square wave at the pitch limits), the encoder gives a frame of the rate's
// size within its bounds, which our decoder takes as a good frame and turns
// into 160 samples; under the sanitizer build no arithmetic overflows and
// nothing is read or written out of bounds.
#include "evrc_encode.h"
#include "evrc_frame.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace
{

const int16_t kMax = 32767, kMin = -32768;

int16_t square(long n, long period)
{
    return n % period < period / 2 ? kMax : kMin;
}

// Stateless full-scale noise, so each generator is a plain function of n.
int16_t noise(long n)
{
    uint32_t x = (uint32_t)n * 2654435761u + 0x9e3779b9u;
    x ^= x >> 15;
    x *= 0x85ebca6bu;
    x ^= x >> 13;
    return (int16_t)(uint16_t)(x >> 8);
}

int16_t impulses(long n, long period, long first)
{
    return n >= first && (n - first) % period == 0 ? kMax : 0;
}

struct Signal {
    const char *name;
    int frames;
    int16_t (*sample)(long n);
};

const Signal kSignals[] = {
    {"square period 2 (+-32767)", 25, [](long n) { return (int16_t)(n % 2 ? -kMax : kMax); }},
    {"alternating 32767/-32768", 25, [](long n) { return square(n, 2); }},
    {"square period 3", 25, [](long n) { return square(n, 3); }},
    {"square period 19", 25, [](long n) { return square(n, 19); }},
    {"square period 20", 25, [](long n) { return square(n, 20); }},
    {"square period 21", 25, [](long n) { return square(n, 21); }},
    {"square period 119", 25, [](long n) { return square(n, 119); }},
    {"square period 120", 25, [](long n) { return square(n, 120); }},
    {"square period 121", 25, [](long n) { return square(n, 121); }},
    {"full-scale white noise", 25, noise},
    {"DC +32767", 25, [](long) { return kMax; }},
    {"DC -32768", 25, [](long) { return kMin; }},
    {"single +32767 impulse", 25, [](long n) { return (int16_t)(n == 1000 ? kMax : 0); }},
    {"single -32768 impulse", 25, [](long n) { return (int16_t)(n == 1000 ? kMin : 0); }},
    {"impulse train period 20", 25, [](long n) { return impulses(n, 20, 0); }},
    {"impulse train period 57", 25, [](long n) { return impulses(n, 57, 3); }},
    {"impulse train period 120", 50, [](long n) { return impulses(n, 120, 7); }},
    {"impulse train period 160", 25, [](long n) { return impulses(n, 160, 159); }},
    {"clipped chirp 50..4000 Hz at 4x full scale", 50,
     [](long n) {
         // Sweeps the band in 1 s, then sweeps again.
         double t = (double)(n % 8000) / 8000.0;
         double phase = 2 * M_PI * (50.0 * t + (3950.0 / 2.0) * t * t);
         double v = 4.0 * 32768.0 * sin(phase);
         return (int16_t)(v > kMax ? kMax : v < kMin ? kMin : (long)v);
     }},
    {"full-scale square then silence", 40,
     [](long n) { return n < 3200 ? square(n, 80) : (int16_t)0; }},
    {"full-scale noise then silence", 40, [](long n) { return n < 3200 ? noise(n) : (int16_t)0; }},
    {"silence then full-scale noise", 40, [](long n) { return n < 3200 ? (int16_t)0 : noise(n); }},
    {"silence then DC -32768", 40, [](long n) { return n < 3200 ? (int16_t)0 : kMin; }},
    {"digital silence", 250, [](long) { return (int16_t)0; }},
};

struct Config {
    const char *name;
    uint16_t min_rate, max_rate, ns;
};

// This system's configuration, the codec's default and full rate only.
const Config kConfigs[] = {
    {"half rate, suppression off", EVRC_RATE_HALF, EVRC_RATE_HALF, 0},
    {"rates 1..4, suppression on", EVRC_RATE_EIGHTH, EVRC_RATE_FULL, 1},
    {"full rate only, suppression on", EVRC_RATE_FULL, EVRC_RATE_FULL, 1},
};

TEST(EvrcEncoderRobustness, ExtremeInputsGiveValidFrames)
{
    for (const Config &c : kConfigs) {
        for (const Signal &s : kSignals) {
            SCOPED_TRACE(std::string(c.name) + ": " + s.name);
            evrc_encoder *enc = evrc_encoder_new();
            evrc_decoder *dec = evrc_decoder_new();
            ASSERT_NE(enc, nullptr);
            ASSERT_NE(dec, nullptr);
            enc->min_rate = c.min_rate;
            enc->max_rate = c.max_rate;
            enc->noise_suppression = c.ns;
            for (int f = 0; f < s.frames; f++) {
                int16_t pcm[EVRC_FRAME_LEN];
                for (int n = 0; n < EVRC_FRAME_LEN; n++)
                    pcm[n] = s.sample((long)f * EVRC_FRAME_LEN + n);
                uint8_t out[2 * EVRC_FRAME_WORDS + 4];
                memset(out, 0xa5, sizeof out);
                int rate = evrc_encode_frame(enc, pcm, out);
                ASSERT_TRUE(rate == EVRC_RATE_EIGHTH || rate == EVRC_RATE_HALF ||
                            rate == EVRC_RATE_FULL)
                    << "frame " << f << " rate " << rate;
                ASSERT_GE(rate, c.min_rate) << "frame " << f;
                ASSERT_LE(rate, c.max_rate) << "frame " << f;
                int len = 2 * evrc_words_per_rate[rate];
                for (int k = len; k < (int)sizeof out; k++)
                    ASSERT_EQ(out[k], 0xa5) << "frame " << f << " wrote byte " << k;
                int16_t speech[EVRC_FRAME_LEN + 1];
                speech[EVRC_FRAME_LEN] = 0x5a5a;
                ASSERT_EQ(evrc_decode_frame(dec, out, len, speech), EVRC_FRAME_LEN)
                    << "frame " << f;
                ASSERT_EQ(speech[EVRC_FRAME_LEN], 0x5a5a) << "frame " << f;
                // Nothing we send may look damaged to the far end: no
                // all-ones eighth-rate frame, no eighth rate right after
                // full, no unordered LSPs, no delay beyond 120.
                ASSERT_FALSE(dec->erasure || dec->bad_rate) << "frame " << f << " rate " << rate;
            }
            evrc_encoder_destroy(&enc);
            evrc_decoder_destroy(&dec);
        }
    }
}

// The pitch-pulse search of the RCELP warping can start its window past the
// end of the residual (a full-scale impulse train at a 120-sample period
// drives it 45 samples beyond, outside the residual buffer's zero margin).
// With no window left to search, the helper must not read at all.
TEST(EvrcEncoderRobustness, PulseSearchWithNoWindowReadsNothing)
{
    // Exactly sized, so the sanitizer build sees any read past the end.
    std::vector<Word16> res(8, 1000);
    for (Word16 count : {0, -3, -45}) {
        Word16 lag = -1;
        Word32 energy = -1;
        evrc_max_energy_lag(&lag, &energy, res.data(), 7, count);
        EXPECT_EQ(lag, 7) << count;
        EXPECT_EQ(energy, 0) << count;
    }
    // One window that fits is still measured.
    Word16 lag = -1;
    Word32 energy = -1;
    evrc_max_energy_lag(&lag, &energy, res.data(), 5, 1);
    EXPECT_EQ(lag, 5);
    EXPECT_GT(energy, 0);
}

} // namespace
