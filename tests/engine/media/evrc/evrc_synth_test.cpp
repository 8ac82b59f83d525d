// Synthesis primitives: the table cosine, LSP and delay interpolation, the
// LSP/LPC conversions and the band-limited interpolation along the contour.
#include "evrc_synth.h"
#include "evrc_tables.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace
{

TEST(EvrcSynth, CosineAtTablePointsAndBetween)
{
    EXPECT_EQ(evrc_cos2pi(0), 32767 * 65536);
    EXPECT_EQ(evrc_cos2pi(16384), -32768 * 65536);
    EXPECT_EQ(evrc_cos2pi(8192), 0); // cos(pi / 2), a table point
    double worst = 0;
    for (int x = 0; x <= 16384; x += 7) {
        double want = std::cos(2 * M_PI * x / 32768.0) * 32768.0;
        worst = std::max(worst, std::fabs(evrc_cos2pi((Word16)x) / 65536.0 - want));
    }
    EXPECT_LT(worst, 1.5); // the table is rounded to Q15; the Taylor step adds little
}

TEST(EvrcSynth, LspInterpolation)
{
    const Word16 prev[10] = {1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000};
    const Word16 cur[10] = {1600, 2000, 2400, 4001, 5000, 6000, 7000, 8000, 9000, 16000};
    Word16 out[10];
    evrc_interpolate_lsp(out, prev, cur, 0);
    EXPECT_EQ(out[0], 1100); // 1/6 of the way
    EXPECT_EQ(out[2], 2900);
    EXPECT_EQ(out[9], 11000);
    evrc_interpolate_lsp(out, prev, cur, 1);
    EXPECT_EQ(out[0], 1300); // halfway
    EXPECT_EQ(out[3], 4001); // 4000.5 rounds up
    evrc_interpolate_lsp(out, prev, cur, 2);
    EXPECT_EQ(out[0], 1500); // 5/6
    evrc_interpolate_lsp(out, prev, cur, 3);
    EXPECT_EQ(memcmp(out, cur, sizeof out), 0);
}

TEST(EvrcSynth, DelayContour)
{
    Word32 c[3];
    evrc_interpolate_delay(c, 40, 40, 1);
    EXPECT_EQ(c[0], 40 << 16);
    EXPECT_EQ(c[2], 40 << 16);
    evrc_interpolate_delay(c, 40, 70, 0);
    EXPECT_EQ(c[0], 40 << 16);
    EXPECT_NEAR(c[1] / 65536.0, 40 + 30 * 53 / 160.0, 0.01);
    EXPECT_NEAR(c[2] / 65536.0, 40 + 30 * 106 / 160.0, 0.01);
    evrc_interpolate_delay(c, 40, 70, 2);
    EXPECT_EQ(c[1], 70 << 16); // frame end
    EXPECT_EQ(c[2], 70 << 16); // the look-ahead stays there
}

// A history of zeros with one sample of 10000 `age` samples before the new
// subframe; the contour reads it back through the interpolation filter.
struct Buffer {
    Word16 data[EVRC_ACB_MEM + EVRC_SUBFRAME_MAX + EVRC_EXTRA] = {0};
    Word16 *now = data + EVRC_ACB_MEM;
};

TEST(EvrcSynth, ConstantDelayUsesTheIntegerPhase)
{
    Buffer b;
    b.now[-20] = 10000;
    const Word32 delays[3] = {40 << 16, 40 << 16, 40 << 16};
    Word16 out[64];
    evrc_delay_contour_acb(out, b.now, delays, 53, 29491, 8);
    // out[n] is in[n - 40] through the phase-4 taps: the centre tap 29491 lands
    // on n = 20, its neighbours (3123) on n = 19 and 21.
    EXPECT_EQ(out[20], (10000 * 29491 * 2 + 32768) >> 16);
    EXPECT_EQ(out[19], (10000 * 3123 * 2 + 32768) >> 16);
    EXPECT_EQ(out[21], (10000 * 3123 * 2 + 32768) >> 16);
    EXPECT_EQ(out[30], 0); // beyond the 17 taps
}

TEST(EvrcSynth, HalfSampleDelayUsesPhaseZero)
{
    Buffer b;
    b.now[-41] = 10000;
    Word16 out;
    // 40.5 samples: rounds to 41, lands on phase 8, becomes phase 0 at 40, whose
    // two equal centre taps (20443) sit on in[-41] and in[-40].
    evrc_interp_sample(&out, b.now, (Word32)(40.5 * 16777216.0), 29491, 8);
    EXPECT_EQ(out, (10000 * 20443 * 2 + 32768) >> 16);
    b.now[-41] = 0;
    b.now[-40] = 10000;
    evrc_interp_sample(&out, b.now, (Word32)(40.5 * 16777216.0), 29491, 8);
    EXPECT_EQ(out, (10000 * 20443 * 2 + 32768) >> 16);
}

TEST(EvrcSynth, AdaptiveCodebookRepeatsThePitchInPlace)
{
    // A delay shorter than the subframe reads samples written by the same call.
    Buffer b;
    b.now[-20] = 8000;
    const Word32 delays[3] = {20 << 16, 20 << 16, 20 << 16};
    evrc_decode_acb(b.now, 16384, delays, 53); // gain 1.0 (Q14)
    int peak0 = 0, peak1 = 10;
    for (int n = 0; n < 53; n++) {
        if (std::abs(b.now[n]) > std::abs(b.now[peak0]) && n < 10)
            peak0 = n;
        if (std::abs(b.now[n]) > std::abs(b.now[peak1]) && n >= 10 && n < 30)
            peak1 = n;
    }
    EXPECT_EQ(peak0, 0);
    EXPECT_EQ(peak1, 20);
    EXPECT_NEAR(b.now[0], 8000 * 0.9, 2);
    // The echo of the echo: 0.9 twice, plus what the side taps gather from
    // the first echo's own spread.
    EXPECT_NEAR(b.now[20], 8000 * 0.81, 300);
}

TEST(EvrcSynth, LspLpcRoundTrip)
{
    // The reset spread: 10 equally spaced LSPs give a flat-ish filter.
    Word16 lsp[10], lpc[10], back[10];
    memcpy(lsp, evrc_tab_lsp_initial, sizeof lsp);
    evrc_lsp_to_lpc(lpc, lsp);
    evrc_lpc_to_lsp(back, lpc);
    // The root search ends on a grid of 1704565 / 2^16 = 26 LSP units and
    // takes the grid point nearer the root: half a step off at most.
    for (int k = 0; k < 10; k++)
        EXPECT_NEAR(back[k], lsp[k], 13) << k;
    // A codebook vector from each half-rate split.
    const Word16 real[10] = {1838, 2254, 3831, 5436, 6247, 6956, 9764, 11491, 13058, 14587};
    memcpy(lsp, real, sizeof lsp);
    evrc_lsp_to_lpc(lpc, lsp);
    EXPECT_EQ(lpc[0], -4339); // A(z) coefficients in Q12
    EXPECT_EQ(lpc[9], 696);
    evrc_lpc_to_lsp(back, lpc);
    for (int k = 0; k < 10; k++)
        EXPECT_NEAR(back[k], real[k], 13) << k;
}

// LSPs that leave 0..0.5 are spread evenly between the clamped ends, in the
// caller's vector, before the conversion.
TEST(EvrcSynth, LspOutOfRangeRepairedInPlace)
{
    Word16 lsp[10] = {0, 2254, 3831, 5436, 6247, 6956, 9764, 11491, 13058, 16384};
    Word16 lpc[10];
    evrc_lsp_to_lpc(lpc, lsp);
    EXPECT_EQ(lsp[0], 721);
    Word16 step = (Word16)((2 * (16351 - 721) * 3277 + 32768) >> 16);
    for (int k = 1; k < 10; k++)
        EXPECT_EQ(lsp[k], lsp[k - 1] + step) << k;
    Word16 again[10];
    memcpy(again, lsp, sizeof again);
    Word16 lpc2[10];
    evrc_lsp_to_lpc(lpc2, again);
    EXPECT_EQ(memcmp(again, lsp, sizeof again), 0); // a valid vector is left alone
    EXPECT_EQ(memcmp(lpc, lpc2, sizeof lpc), 0);
}

TEST(EvrcSynth, FiltersInvertEachOther)
{
    const Word16 lpc[10] = {-4339, 1672, 1027, -385, -1178, 1172, 898, -125, -445, 696};
    Word16 x[53], y[53], r[53];
    for (int n = 0; n < 53; n++)
        x[n] = (Word16)((n * 7919) % 2001 - 1000);
    Word16 syn_mem[10] = {0}, res_mem[10] = {0};
    evrc_synthesis_filter(y, x, lpc, syn_mem, 53);
    evrc_residual_filter(r, y, lpc, res_mem, 53);
    for (int n = 0; n < 53; n++)
        EXPECT_NEAR(r[n], x[n], 3) << n; // only the output rounding remains
    EXPECT_EQ(syn_mem[9], y[52]);
    EXPECT_EQ(res_mem[9], y[52]);
}

TEST(EvrcSynth, WeightFactorsAreAClosedSet)
{
    const Word16 lpc[10] = {4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096, 4096};
    Word16 out[10];
    const evrc_weight_factor all[] = {EVRC_WEIGHT_1_0, EVRC_WEIGHT_0_9, EVRC_WEIGHT_0_5,
                                      EVRC_WEIGHT_0_994, EVRC_WEIGHT_0_75};
    const double g[] = {1.0, 0.9, 0.5, 0.994, 0.75};
    for (int i = 0; i < 5; i++) {
        evrc_weight(out, lpc, all[i]);
        for (int k = 0; k < 10; k++)
            EXPECT_NEAR(out[k], 4096 * std::pow(g[i], k + 1), 1.5) << i << " " << k;
    }
    // A value outside the set copies instead of ending the process.
    evrc_weight(out, lpc, (evrc_weight_factor)42);
    EXPECT_EQ(memcmp(out, lpc, sizeof out), 0);
}

} // namespace
