// EVRC encoder: the frame entry points, the reference packet files, the rate
// decision, noise suppression and the analysis edge cases.
#include "evrc_encode.h"
#include "evrc_frame.h"
#include "evrc_tables.h"
#include "test_support.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

std::vector<int16_t> read_pcm(const std::string &rel)
{
    std::string data = ptt::test::read_file(ptt::test::shared_data(rel));
    std::vector<int16_t> pcm(data.size() / 2);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = (int16_t)(uint16_t)((uint8_t)data[2 * i] | (uint8_t)data[2 * i + 1] << 8);
    return pcm;
}

struct PktRecord {
    uint16_t rate;
    uint16_t words[EVRC_FRAME_WORDS];
};

std::vector<PktRecord> read_pkt(const std::string &rel)
{
    std::string data = ptt::test::read_file(ptt::test::shared_data(rel));
    std::vector<PktRecord> recs(data.size() / 24);
    for (size_t f = 0; f < recs.size(); f++) {
        const uint8_t *p = (const uint8_t *)data.data() + 24 * f;
        recs[f].rate = (uint16_t)(p[0] | p[1] << 8);
        for (int k = 0; k < EVRC_FRAME_WORDS; k++)
            recs[f].words[k] = (uint16_t)(p[2 + 2 * k] | p[3 + 2 * k] << 8);
    }
    return recs;
}

// Field values of a coded frame in packing order.
std::vector<int> fields(uint16_t rate, const uint16_t *words)
{
    static const int half[] = {7, 7, 8, 7, 3, 10, 4, 3, 10, 4, 3, 10, 4};
    static const int full[] = {1, 6, 6, 9, 7,  7, 5, 3, 8, 8, 8,  11, 5,
                               3, 8, 8, 8, 11, 5, 3, 8, 8, 8, 11, 5};
    static const int eighth[] = {4, 4, 8};
    const int *w = rate == 3 ? half : rate == 4 ? full : eighth;
    int n = rate == 3 ? 13 : rate == 4 ? 25 : 3;
    std::vector<int> out;
    int pos = 0;
    for (int i = 0; i < n; i++) {
        int v = 0;
        for (int b = 0; b < w[i]; b++, pos++)
            v = (v << 1) | ((words[pos >> 4] >> (15 - (pos & 15))) & 1);
        out.push_back(v);
    }
    return out;
}

double pct(int part, int whole)
{
    return whole ? 100.0 * part / whole : 0.0;
}

// Every reference packet file is reproduced byte for byte. With noise
// suppression off the packets depend on the encoder alone (and, with rates
// 1..4, on the rate decision); with it on also on the suppressor. With
// `imposed` the reference's rate word of each frame is imposed, which checks
// the coding at every rate apart from the decision.
struct ExactCase {
    const char *pcm;
    const char *pkt;
    uint16_t min_rate, max_rate;
    bool imposed;
    uint16_t ns = 0;
};

int exact_frames(const ExactCase &c, int *frames)
{
    std::vector<int16_t> pcm = read_pcm(std::string("evrc/vectors/") + c.pcm);
    std::vector<PktRecord> ref = read_pkt(std::string("evrc/vectors/") + c.pkt);
    EXPECT_EQ(pcm.size() / EVRC_FRAME_LEN, ref.size()) << c.pkt;
    evrc_encoder *enc = evrc_encoder_new();
    EXPECT_NE(enc, nullptr);
    *frames = 0;
    if (!enc)
        return 0;
    enc->min_rate = c.min_rate;
    enc->max_rate = c.max_rate;
    enc->noise_suppression = c.ns;
    int exact = 0;
    for (size_t f = 0; f < ref.size() && (f + 1) * EVRC_FRAME_LEN <= pcm.size(); f++) {
        if (c.imposed)
            enc->imposed_rate = ref[f].rate;
        uint16_t words[EVRC_FRAME_WORDS];
        Word16 rate = evrc_encode_words(enc, &pcm[f * EVRC_FRAME_LEN], words);
        (*frames)++;
        exact += rate == ref[f].rate && memcmp(words, ref[f].words, sizeof words) == 0;
    }
    evrc_encoder_destroy(&enc);
    return exact;
}

template <size_t N> void check_exact(const ExactCase (&cases)[N])
{
    for (const ExactCase &c : cases) {
        int frames = 0;
        int exact = exact_frames(c, &frames);
        printf("%-34s %-8s %4d of %4d frames exact (%6.2f %%)\n", c.pkt, c.imposed ? "imposed" : "",
               exact, frames, pct(exact, frames));
        EXPECT_GT(frames, 0) << c.pkt;
        EXPECT_EQ(exact, frames) << c.pkt << (c.imposed ? " (rates imposed)" : "");
    }
}

TEST(EvrcEncoderVectors, HalfRateNoiseSuppressionOff)
{
    const ExactCase cases[] = {
        {"synthetic/silence.pcm", "synthetic/silence.h3n0.pkt", 3, 3, false},
        {"synthetic/sine1k_m20dBFS.pcm", "synthetic/sine1k_m20dBFS.h3n0.pkt", 3, 3, false},
        {"synthetic/noise_m20dBFS.pcm", "synthetic/noise_m20dBFS.h3n0.pkt", 3, 3, false},
        {"official/long/vec_01.pcm", "halfrate/vec_01.h3n0.pkt", 3, 3, false},
        {"official/long/vec_02.pcm", "halfrate/vec_02.h3n0.pkt", 3, 3, false},
        {"official/short/f.pcm", "rates/f.h3n0.pkt", 3, 3, false},
        {"official/short/m.pcm", "rates/m.h3n0.pkt", 3, 3, false},
    };
    check_exact(cases);
}

TEST(EvrcEncoderVectors, EighthRateNoiseSuppressionOff)
{
    const ExactCase cases[] = {
        {"official/short/f.pcm", "rates/f.h1l1n0.pkt", 1, 1, false},
        {"official/short/m.pcm", "rates/m.h1l1n0.pkt", 1, 1, false},
        {"official/long/vec_01.pcm", "rates/vec_01.h1l1n0.pkt", 1, 1, false},
    };
    check_exact(cases);
}

TEST(EvrcEncoderVectors, FullRateNoiseSuppressionOff)
{
    const ExactCase cases[] = {
        {"official/short/f.pcm", "rates/f.h4l4n0.pkt", 4, 4, false},
        {"official/short/m.pcm", "rates/m.h4l4n0.pkt", 4, 4, false},
        {"official/long/vec_01.pcm", "rates/vec_01.h4l4n0.pkt", 4, 4, false},
    };
    check_exact(cases);
}

// Every rate, the reference's rate word imposed on each frame.
TEST(EvrcEncoderVectors, AllRateImposedNoiseSuppressionOff)
{
    const ExactCase cases[] = {
        {"official/short/f.pcm", "rates/f.h4l1n0.pkt", 1, 4, true},
        {"official/short/m.pcm", "rates/m.h4l1n0.pkt", 1, 4, true},
        {"official/long/vec_01.pcm", "rates/vec_01.h4l1n0.pkt", 1, 4, true},
    };
    check_exact(cases);
}

// Every rate with this encoder's own rate decision. The background estimate
// rises either fast (after a stretch without periodicity) or by the slow
// creep, never both in one frame: letting both run drifted the estimate up
// over long pauses after speech and moved later choices.
TEST(EvrcEncoderVectors, AllRateOwnDecisionNoiseSuppressionOff)
{
    const ExactCase cases[] = {
        {"official/short/f.pcm", "rates/f.h4l1n0.pkt", 1, 4, false},
        {"official/short/m.pcm", "rates/m.h4l1n0.pkt", 1, 4, false},
        {"official/long/vec_01.pcm", "rates/vec_01.h4l1n0.pkt", 1, 4, false},
    };
    check_exact(cases);
}

// The standard's default: rates 1..4, noise suppression on.
TEST(EvrcEncoderVectors, AllRate)
{
    const ExactCase cases[] = {
        {"official/short/f.pcm", "official/short/f.pkt", 1, 4, false, 1},
        {"official/short/m.pcm", "official/short/m.pkt", 1, 4, false, 1},
        {"official/long/vec_01.pcm", "official/long/vec_01.pkt", 1, 4, false, 1},
        {"official/long/vec_02.pcm", "official/long/vec_02.pkt", 1, 4, false, 1},
    };
    check_exact(cases);
}

std::vector<int16_t> test_speech(size_t frames)
{
    std::vector<int16_t> pcm = read_pcm("evrc/vectors/official/short/f.pcm");
    pcm.resize(frames * EVRC_FRAME_LEN);
    return pcm;
}

TEST(EvrcEncoder, HalfRateFramesAreTenBytesFromTheFirstOn)
{
    std::vector<int16_t> pcm = test_speech(100);
    evrc_encoder *enc = evrc_encoder_new();
    ASSERT_NE(enc, nullptr);
    EXPECT_EQ(enc->min_rate, 3);
    EXPECT_EQ(enc->max_rate, 3);
    EXPECT_EQ(enc->noise_suppression, 0);
    for (size_t f = 0; f < 100; f++) {
        uint8_t out[22];
        memset(out, 0xAA, sizeof out);
        ASSERT_EQ(evrc_encode_frame(enc, &pcm[f * EVRC_FRAME_LEN], out), 3) << f;
        for (int k = 10; k < 22; k++)
            ASSERT_EQ(out[k], 0xAA) << "wrote past the 10-byte frame";
    }
    evrc_encoder_destroy(&enc);
    EXPECT_EQ(enc, nullptr);
    evrc_encoder_destroy(&enc);
    evrc_encoder_destroy(nullptr);
}

TEST(EvrcEncoder, NullArgumentsGiveNoOutput)
{
    evrc_encoder *enc = evrc_encoder_new();
    ASSERT_NE(enc, nullptr);
    int16_t pcm[EVRC_FRAME_LEN] = {0};
    uint8_t out[22];
    EXPECT_EQ(evrc_encode_frame(nullptr, pcm, out), 0);
    EXPECT_EQ(evrc_encode_frame(enc, nullptr, out), 0);
    EXPECT_EQ(evrc_encode_frame(enc, pcm, nullptr), 0);
    evrc_encoder_destroy(&enc);
}

TEST(EvrcEncoder, SamplesAreFilteredAndHalvedInPlace)
{
    std::vector<int16_t> pcm = test_speech(20);
    std::vector<int16_t> expect = pcm;
    evrc_highpass_state hp;
    memset(&hp, 0, sizeof hp);
    evrc_encoder *enc = evrc_encoder_new();
    ASSERT_NE(enc, nullptr);
    for (size_t f = 0; f < 20; f++) {
        int16_t *x = &expect[f * EVRC_FRAME_LEN];
        evrc_highpass_filter(&hp, x);
        for (int n = 0; n < EVRC_FRAME_LEN; n++)
            x[n] = (int16_t)((x[n] >> 1) + (x[n] & 1));
        uint8_t out[22];
        evrc_encode_frame(enc, &pcm[f * EVRC_FRAME_LEN], out);
    }
    EXPECT_EQ(pcm, expect);
    // Noise suppression stays untouched while it is off.
    EXPECT_EQ(enc->ns.initialised, 0);
    evrc_encoder_destroy(&enc);
}

// Each encoder keeps its own memories (high-pass, analysis, rate decision):
// interleaving two streams gives each the output it gets alone.
TEST(EvrcEncoder, EncodersShareNothing)
{
    std::vector<int16_t> a = test_speech(60);
    std::vector<int16_t> b = read_pcm("evrc/vectors/official/short/m.pcm");
    b.resize(a.size());
    auto alone = [](std::vector<int16_t> pcm, uint16_t max_rate, uint16_t ns) {
        std::vector<uint16_t> out;
        evrc_encoder *enc = evrc_encoder_new();
        enc->min_rate = 1;
        enc->max_rate = max_rate;
        enc->noise_suppression = ns;
        for (size_t f = 0; f < pcm.size() / EVRC_FRAME_LEN; f++) {
            uint16_t w[EVRC_FRAME_WORDS];
            out.push_back((uint16_t)evrc_encode_words(enc, &pcm[f * EVRC_FRAME_LEN], w));
            out.insert(out.end(), w, w + EVRC_FRAME_WORDS);
        }
        evrc_encoder_destroy(&enc);
        return out;
    };
    std::vector<uint16_t> ea = alone(a, 4, 1), eb = alone(b, 3, 0);
    evrc_encoder *x = evrc_encoder_new(), *y = evrc_encoder_new();
    x->min_rate = 1;
    x->max_rate = 4;
    x->noise_suppression = 1;
    y->min_rate = 1;
    y->max_rate = 3;
    std::vector<uint16_t> ia, ib;
    for (size_t f = 0; f < a.size() / EVRC_FRAME_LEN; f++) {
        uint16_t w[EVRC_FRAME_WORDS];
        ia.push_back((uint16_t)evrc_encode_words(x, &a[f * EVRC_FRAME_LEN], w));
        ia.insert(ia.end(), w, w + EVRC_FRAME_WORDS);
        ib.push_back((uint16_t)evrc_encode_words(y, &b[f * EVRC_FRAME_LEN], w));
        ib.insert(ib.end(), w, w + EVRC_FRAME_WORDS);
    }
    evrc_encoder_destroy(&x);
    evrc_encoder_destroy(&y);
    EXPECT_EQ(ia, ea);
    EXPECT_EQ(ib, eb);
}

// The rate decision on its own, driven with chosen autocorrelations.
Word32 g_loud[EVRC_ACF_LAGS], g_quiet[EVRC_ACF_LAGS];

void make_acf()
{
    // A flat spectrum: R(0) only, at two levels.
    memset(g_loud, 0, sizeof g_loud);
    memset(g_quiet, 0, sizeof g_quiet);
    g_loud[0] = 400000000;
    g_quiet[0] = 2000;
}

TEST(EvrcRateDecision, FirstFrameFullNeverFullToEighth)
{
    make_acf();
    evrc_rate_state rs;
    memset(&rs, 0, sizeof rs);
    // The very first frame is full rate even when silent.
    EXPECT_EQ(evrc_select_rate(&rs, g_quiet, 4, 1, 0), 4);
    Word16 prev = 4;
    for (int i = 0; i < 200; i++) {
        const Word32 *r = (i / 7) % 2 ? g_loud : g_quiet;
        Word16 rate = evrc_select_rate(&rs, r, 4, 1, (Word16)(i % 3 ? 20000 : 1000));
        EXPECT_TRUE(rate == 1 || rate == 3 || rate == 4);
        EXPECT_FALSE(prev == 4 && rate == 1) << "frame " << i;
        prev = rate;
    }
}

TEST(EvrcRateDecision, BoundsHoldEveryFrameWhileEstimatesAdapt)
{
    make_acf();
    evrc_rate_state rs;
    memset(&rs, 0, sizeof rs);
    for (int i = 0; i < 50; i++)
        EXPECT_EQ(evrc_select_rate(&rs, i % 2 ? g_loud : g_quiet, 3, 3, 1000), 3);
    // Quiet frames without periodicity pulled the noise estimates down.
    EXPECT_LT(rs.band_noise[0], 80954304);
    EXPECT_EQ(rs.frame_count, 50);
}

TEST(EvrcRateDecision, HangoverAfterSpeechAtLowSnr)
{
    // Loud background: the noise estimate settles high, SNR class 0.
    Word32 background[EVRC_ACF_LAGS] = {10000000};
    Word32 speech[EVRC_ACF_LAGS] = {1000000000};
    evrc_rate_state rs;
    memset(&rs, 0, sizeof rs);
    for (int i = 0; i < 30; i++)
        evrc_select_rate(&rs, background, 4, 1, 0);
    ASSERT_EQ(evrc_select_rate(&rs, background, 4, 1, 0), 1);
    // Two frames judged full by the bands, the low band in SNR class 0.
    EXPECT_EQ(evrc_select_rate(&rs, speech, 4, 1, 0), 4);
    EXPECT_EQ(evrc_select_rate(&rs, speech, 4, 1, 0), 4);
    ASSERT_EQ(rs.snr_class[0], 0);
    // Eight more full-rate frames although the bands now say otherwise.
    for (int i = 0; i < 8; i++)
        EXPECT_EQ(evrc_select_rate(&rs, background, 4, 1, 0), 4) << "hangover frame " << i;
    EXPECT_NE(evrc_select_rate(&rs, background, 4, 1, 0), 4);
}

double power_db(const std::vector<int16_t> &x, size_t from)
{
    double e = 0;
    for (size_t i = from; i < x.size(); i++)
        e += (double)x[i] * x[i];
    return 10 * log10(e / (double)(x.size() - from) + 1e-9);
}

// The suppressor learns a steady background, takes it down by the full
// 13 dB (on top of the 6 dB every output loses), and lets a tone that rises
// well above it through at the plain 6 dB.
TEST(EvrcNoiseSuppression, BackgroundReducedToneKept)
{
    const size_t noise_blocks = 300, tone_blocks = 40;
    const size_t n = (noise_blocks + tone_blocks) * EVRC_NS_BLOCK;
    std::vector<int16_t> in(n);
    uint32_t seed = 12345;
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        double v = (double)((int)((seed >> 16) % 4001) - 2000);
        if (i >= noise_blocks * EVRC_NS_BLOCK)
            v += 8000 * sin(2 * M_PI * 1000 * (double)i / 8000);
        in[i] = (int16_t)lrint(v);
    }
    std::vector<int16_t> out = in;
    evrc_ns_state ns;
    memset(&ns, 0, sizeof ns);
    for (size_t f = 0; f < n / EVRC_NS_BLOCK; f++)
        evrc_noise_suppress(&ns, &out[f * EVRC_NS_BLOCK]);
    EXPECT_EQ(ns.initialised, 1);
    auto segment_db = [](const std::vector<int16_t> &x, size_t from, size_t to) {
        return power_db(std::vector<int16_t>(x.begin() + from, x.begin() + to), 0);
    };
    size_t b = EVRC_NS_BLOCK;
    double noise_gain = segment_db(out, 200 * b, 300 * b) - segment_db(in, 200 * b, 300 * b);
    double tone_gain = segment_db(out, 310 * b, 340 * b) - segment_db(in, 310 * b, 340 * b);
    EXPECT_LT(noise_gain, -6.0 - 10.0);
    EXPECT_GT(noise_gain, -6.0 - 14.0);
    EXPECT_NEAR(tone_gain, -6.0, 1.0);
}

TEST(EvrcAnalysis, SilentFrame)
{
    int16_t zero[EVRC_FRAME_LEN] = {0};
    Word32 r[EVRC_ACF_LAGS];
    Word16 shift = -1;
    evrc_windowed_autocorr(r, &shift, zero);
    for (int j = 0; j < EVRC_ACF_LAGS; j++)
        EXPECT_EQ(r[j], 0);
    EXPECT_EQ(shift, 3);
    Word16 refl[EVRC_LPC_ORDER], lpc[EVRC_LPC_ORDER];
    memset(lpc, 0x55, sizeof lpc);
    testing::internal::CaptureStderr();
    durbin(r, refl, lpc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    for (int k = 0; k < EVRC_LPC_ORDER; k++)
        EXPECT_EQ(lpc[k], 0);
}

TEST(EvrcAnalysis, IllConditionedDurbinReportsAndFlattens)
{
    Word32 r[EVRC_ACF_LAGS] = {1, 5, 7};
    Word16 refl[EVRC_LPC_ORDER], lpc[EVRC_LPC_ORDER];
    memset(lpc, 0x55, sizeof lpc);
    testing::internal::CaptureStderr();
    durbin(r, refl, lpc);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Ill condition in durbin.\n");
    for (int k = 0; k < EVRC_LPC_ORDER; k++)
        EXPECT_EQ(lpc[k], 0);
}

// A full-scale square wave pushes the energy sum past 2^30 several times;
// every lag must still carry the same scale.
TEST(EvrcAnalysis, LoudFrameKeepsOneScaleForAllLags)
{
    int16_t x[EVRC_FRAME_LEN];
    for (int n = 0; n < EVRC_FRAME_LEN; n++)
        x[n] = (n / 10) % 2 ? 32767 : -32768;
    Word32 r[EVRC_ACF_LAGS];
    Word16 shift;
    evrc_windowed_autocorr(r, &shift, x);
    EXPECT_LE(norm_l(r[0]), 1);
    double y[EVRC_FRAME_LEN], r0 = 0;
    for (int n = 0; n < EVRC_FRAME_LEN; n++) {
        y[n] = x[n] * evrc_tab_hamming160[n] / 32768.0;
        r0 += y[n] * y[n];
    }
    for (int j = 1; j < EVRC_ACF_LAGS; j++) {
        double rj = 0;
        for (int n = 0; n + j < EVRC_FRAME_LEN; n++)
            rj += y[n] * y[n + j];
        double want = rj / r0 * evrc_tab_lag_window_long[j] / evrc_tab_lag_window_long[0];
        EXPECT_NEAR((double)r[j] / r[0], want, 1e-3) << "lag " << j;
    }
}

TEST(EvrcAnalysis, HighPassRemovesDcAndKeepsSpeechBand)
{
    evrc_highpass_state hp;
    memset(&hp, 0, sizeof hp);
    int16_t x[EVRC_FRAME_LEN];
    double out_dc = 0, out_tone = 0;
    for (int f = 0; f < 20; f++) {
        for (int n = 0; n < EVRC_FRAME_LEN; n++)
            x[n] = 10000;
        evrc_highpass_filter(&hp, x);
        if (f == 19)
            for (int n = 0; n < EVRC_FRAME_LEN; n++)
                out_dc += fabs((double)x[n]);
    }
    memset(&hp, 0, sizeof hp);
    for (int f = 0; f < 20; f++) {
        for (int n = 0; n < EVRC_FRAME_LEN; n++)
            x[n] = (int16_t)lrint(10000 * sin(2 * M_PI * 1000 * (f * EVRC_FRAME_LEN + n) / 8000.0));
        evrc_highpass_filter(&hp, x);
        if (f == 19)
            for (int n = 0; n < EVRC_FRAME_LEN; n++)
                out_tone += (double)x[n] * x[n];
    }
    EXPECT_LT(out_dc / EVRC_FRAME_LEN, 2.0);
    EXPECT_NEAR(10 * log10(out_tone / EVRC_FRAME_LEN / (10000.0 * 10000 / 2)), 0.0, 0.5);
}

TEST(EvrcAnalysis, MaxEnergyLagPicksFirstStrongestWindow)
{
    Word16 s[40] = {0};
    s[12] = 1000;
    s[30] = 1000;
    Word16 lag;
    Word32 e;
    evrc_max_energy_lag(&lag, &e, s, 5, 30);
    EXPECT_EQ(lag, 10); // windows 10..14 hold the pulse at 12 first
    EXPECT_EQ(e, L_mult(1000, 1000) >> 1);
}

// The open-loop search on pulse trains, from loud to barely above zero: the
// period is found and the prediction gain is high. Each half-frame search
// keeps its own decimator memory, so one half never disturbs the other's.
TEST(EvrcAnalysis, OpenLoopPitchOnPulseTrains)
{
    struct Case {
        Word16 period, amplitude;
    } cases[] = {{57, 3000}, {110, 20000}, {24, 8000}, {45, 3}};
    for (const Case &c : cases) {
        Word16 res[3 * EVRC_FRAME_LEN] = {0};
        for (int n = 7; n < 3 * EVRC_FRAME_LEN; n += c.period)
            res[n] = c.amplitude;
        evrc_pitch_state ps;
        memset(&ps, 0, sizeof ps);
        // Each search decimates only the newer half of its window, so the
        // decimated history covers a whole window from the second search on.
        for (int w = 0; w < 5; w++) {
            Word16 older[20];
            memcpy(older, ps.dec + 20, sizeof older);
            Word16 delay = 0, beta = 0;
            evrc_open_loop_pitch(&ps, res + 80 * w, &delay, &beta);
            EXPECT_EQ(memcmp(older, ps.dec, sizeof older), 0) << "history not carried on";
            // A window with one pulse shows no period.
            int first = 80 * w, pulses = 0;
            for (int n = first; n < first + EVRC_FRAME_LEN; n++)
                pulses += res[n] != 0;
            if (w < 1 || pulses < 2)
                continue;
            EXPECT_EQ(delay, c.period) << c.amplitude << " window " << w;
            EXPECT_GT(beta, 26214) << c.period << " window " << w; // 0.8
        }
    }
}

// Coding a prepared frame at full rate: the delay-difference field.
TEST(EvrcEncoder, FullRateDelayDifference)
{
    std::vector<int16_t> pcm = test_speech(3);
    struct Case {
        Word16 prev, delay, field;
    } cases[] = {{40, 50, 26}, {40, 25, 1}, {40, 56, 0}, {60, 44, 0}, {60, 45, 1}};
    for (const Case &c : cases) {
        evrc_encoder *enc = evrc_encoder_new();
        ASSERT_NE(enc, nullptr);
        for (int f = 0; f < 3; f++) {
            int16_t *x = &pcm[f * EVRC_FRAME_LEN];
            evrc_highpass_filter(&enc->hp, x);
            evrc_pre_encode(enc, x, enc->autocorr);
        }
        enc->st.prev_delay = c.prev;
        enc->st.open_loop_delay = c.delay;
        enc->st.beta = 0; // no delay tracking
        evrc_encode(enc, EVRC_RATE_FULL);
        std::vector<int> f = fields(4, (const uint16_t *)enc->st.bits.words);
        EXPECT_EQ(f[5], c.delay - 20);
        EXPECT_EQ(f[6], c.field) << c.prev << " -> " << c.delay;
        EXPECT_EQ(enc->st.prev_delay, c.delay);
        evrc_encoder_destroy(&enc);
    }
}

// An eighth-rate frame is never all ones: indices 15, 15 with energy 255 go
// out with energy 127.
TEST(EvrcEncoder, EighthRateNeverAllOnes)
{
    evrc_encoder *enc = evrc_encoder_new();
    ASSERT_NE(enc, nullptr);
    for (int k = 0; k < 5; k++) {
        enc->st.lsp[k] = evrc_tab_lsp_eighth_split1[15][k];
        enc->st.lsp[5 + k] = evrc_tab_lsp_eighth_split2[15][k];
    }
    // A residual loud enough for the top energy row.
    Word16 *res = EVRC_RESIDUAL(&enc->st);
    for (int n = 0; n < 2 * EVRC_FRAME_LEN; n++)
        res[n] = n % 2 ? 32767 : -32768;
    evrc_encode(enc, EVRC_RATE_EIGHTH);
    std::vector<int> f = fields(1, (const uint16_t *)enc->st.bits.words);
    EXPECT_EQ(f[0], 15);
    EXPECT_EQ(f[1], 15);
    EXPECT_EQ(f[2], 127);
    EXPECT_NE(enc->st.bits.words[0], 0xFFFF);
    evrc_encoder_destroy(&enc);
}

// The split search rounds distances to 16 bits and lets the later code
// vector win a tie. One split of all ten LSPs (evenly spaced by 1500, so LSP 4
// weighs 5608 x 2^-4 per squared unit: its distance is round(2 floor(2.738 e)
// e / 2^16)), two code vectors that differ from the LSPs only there: errors
// up to 77 units round to distance 0, 78..133 to 1, 134.. to 2.
TEST(EvrcLspQuantise, LaterCodeVectorWinsWithinOneStep)
{
    struct Case {
        int err0, err1; // error of code vectors 0 and 1 at LSP 4
        Word16 pick;
    };
    const Case cases[] = {
        {20, -30, 1},  // both round to 0: the later wins though farther
        {0, 77, 1},    // exact match against the largest error still at 0
        {0, 78, 0},    // one step apart
        {100, 90, 1},  // both 1
        {140, 100, 1}, // the later is a step better
        {100, 140, 0}, // the earlier is a step better
        {-60, 60, 1},  // equal distances
    };
    Word16 lsp[EVRC_LPC_ORDER];
    for (int k = 0; k < EVRC_LPC_ORDER; k++)
        lsp[k] = (Word16)(1500 * (k + 1));
    for (const Case &c : cases) {
        int16_t cb[2 * EVRC_LPC_ORDER];
        for (int j = 0; j < 2; j++)
            for (int k = 0; k < EVRC_LPC_ORDER; k++)
                cb[j * EVRC_LPC_ORDER + k] = lsp[k];
        cb[4] = (int16_t)(lsp[4] + c.err0);
        cb[EVRC_LPC_ORDER + 4] = (int16_t)(lsp[4] + c.err1);
        const evrc_rate_row row = {1, {EVRC_LPC_ORDER}, {2}, {1}, {cb}};
        Word16 idx[4] = {-1, -1, -1, -1};
        Word16 q[EVRC_LPC_ORDER];
        evrc_lsp_quantise(idx, q, lsp, &row);
        EXPECT_EQ(idx[0], c.pick) << c.err0 << " " << c.err1;
        EXPECT_EQ(q[4], cb[c.pick * EVRC_LPC_ORDER + 4]) << c.err0 << " " << c.err1;
    }
}

// Encoded speech decodes to speech: the local decoder and the far end agree
// closely enough that the round trip tracks the reference's own round trip.
TEST(EvrcEncoder, RoundTripTracksReferenceDecode)
{
    std::vector<int16_t> pcm = read_pcm("evrc/vectors/official/long/vec_01.pcm");
    std::string ref =
        ptt::test::read_file(ptt::test::shared_data("evrc/vectors/halfrate/vec_01.h3n0.p0.dec"));
    size_t frames = 500;
    ASSERT_GE(ref.size(), frames * 320);
    evrc_encoder *enc = evrc_encoder_new();
    evrc_decoder *dec = evrc_decoder_new();
    ASSERT_TRUE(enc && dec);
    double sig = 0, err = 0;
    for (size_t f = 0; f < frames; f++) {
        uint8_t pkt[22];
        int16_t out[EVRC_FRAME_LEN];
        ASSERT_EQ(evrc_encode_frame(enc, &pcm[f * EVRC_FRAME_LEN], pkt), 3);
        ASSERT_EQ(evrc_decode_frame(dec, pkt, 10, out), EVRC_FRAME_LEN);
        for (int n = 0; n < EVRC_FRAME_LEN; n++) {
            const uint8_t *p = (const uint8_t *)ref.data() + 320 * f + 2 * n;
            double want = (int16_t)(uint16_t)(p[0] | p[1] << 8);
            sig += want * want;
            err += (want - out[n]) * (want - out[n]);
        }
    }
    double snr = 10 * log10(sig / (err + 1));
    printf("round trip against the reference decode: %.2f dB\n", snr);
    EXPECT_GT(snr, 0.5);
    evrc_encoder_destroy(&enc);
    evrc_decoder_destroy(&dec);
}

} // namespace

// Three half-rate pulses that all fall on one of the five tracks used to
// normalise the backward-filtered target: their correlation is three times
// that track's peak. The target is scaled with the headroom for it, so the
// 16-bit search still picks them (pulses at 0, 30 and 25 with signs +, -, +:
// word 0 0 4 3).
TEST(EvrcEncoder, HalfRateSearchKeepsLargeCorrelationsWhole)
{
    evrc_encoder *enc = evrc_encoder_new();
    ASSERT_NE(enc, nullptr);
    evrc_encoder_state *st = &enc->st;
    memset(st->h, 0, sizeof st->h);
    st->h[0] = 2048;
    memset(st->target, 0, sizeof st->target);
    st->target[0] = 12000;
    st->target[25] = 12000;
    st->target[30] = -12000;
    Word16 flat[EVRC_LPC_ORDER] = {0};
    evrc_fcb_search_drive(st, 0, 53, 200, 0, flat, flat, flat);
    EXPECT_EQ(st->fcb_words[0], (4 << 3) | 3);
    EXPECT_EQ(st->code[0], 4096);
    EXPECT_EQ(st->code[30], -4096);
    EXPECT_EQ(st->code[25], 4096);
    evrc_encoder_destroy(&enc);
}
