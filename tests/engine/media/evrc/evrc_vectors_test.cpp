// Decoding the reference packet files: the share of 20 ms frames whose 160
// samples equal the reference decoder's output exactly.
//
// The half-rate files are this system's own operating point. The all-rate and
// erasure files also contain eighth-rate frames and erasures, where this
// decoder follows later rules than the 1998 reference that made the files
// (a rejected Gaussian pair is redrawn; erased LSPs move towards the mean;
// the erasure noise seed is set once per run); those frames, and the frames
// whose memories they feed, are expected to differ, and every test checks
// that no other frame does. The legacy switch brings back the 1998 rules:
// with it every file is decoded exactly as the reference did.
#include "evrc_frame.h"
#include "test_support.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace
{

struct Share {
    int frames = 0;
    int exact = 0;
    // Differing full- or half-rate frames that are not eighth-rate or erased
    // frames and do not follow one within kMemoryFrames.
    int unexplained = 0;
    double percent() const
    {
        return frames ? 100.0 * exact / frames : 0.0;
    }
};

// How long the memories (excitation, filters) of an eighth-rate or erased
// frame can keep a following good frame from matching.
const int kMemoryFrames = 25;

Share decode_share(const std::string &pkt_name, const std::string &dec_name, bool legacy)
{
    Share share;
    std::string pkt = ptt::test::read_file(ptt::test::shared_data(pkt_name));
    std::string ref = ptt::test::read_file(ptt::test::shared_data(dec_name));
    EXPECT_FALSE(pkt.empty()) << pkt_name;
    EXPECT_EQ(pkt.size() / 24 * 320, ref.size()) << dec_name;
    evrc_decoder *dec = evrc_decoder_new();
    EXPECT_NE(dec, nullptr);
    if (!dec)
        return share;
    evrc_decoder_set_legacy(dec, legacy);
    size_t frames = pkt.size() / 24;
    int since_special = kMemoryFrames + 1;
    for (size_t f = 0; f < frames && (f + 1) * 320 <= ref.size(); f++) {
        const uint8_t *rec = (const uint8_t *)pkt.data() + 24 * f;
        uint16_t words[EVRC_FRAME_WORDS];
        for (int k = 0; k < EVRC_FRAME_WORDS; k++)
            words[k] = (uint16_t)(rec[2 + 2 * k] | rec[3 + 2 * k] << 8);
        int16_t out[EVRC_FRAME_LEN];
        Word16 rate = (Word16)(rec[0] | rec[1] << 8);
        evrc_decode_words(dec, rate, words, out);
        bool special =
            (rate != EVRC_RATE_HALF && rate != EVRC_RATE_FULL) || dec->bad_rate || dec->erasure;
        since_special = special ? 0 : since_special + 1;
        const uint8_t *want = (const uint8_t *)ref.data() + 320 * f;
        bool same = true;
        for (int n = 0; n < EVRC_FRAME_LEN && same; n++)
            same = (uint16_t)out[n] == (uint16_t)(want[2 * n] | want[2 * n + 1] << 8);
        share.frames++;
        share.exact += same ? 1 : 0;
        if (!same && since_special > kMemoryFrames)
            share.unexplained++;
    }
    evrc_decoder_destroy(&dec);
    return share;
}

struct VectorCase {
    const char *pkt;
    const char *dec;
    bool legacy;
    double floor_percent;
};

void check(const VectorCase &c)
{
    Share s = decode_share(std::string("evrc/vectors/") + c.pkt,
                           std::string("evrc/vectors/") + c.dec, c.legacy);
    printf("%-34s %-6s %4d of %4d frames exact (%.2f %%)\n", c.pkt, c.legacy ? "legacy" : "",
           s.exact, s.frames, s.percent());
    EXPECT_GT(s.frames, 0);
    EXPECT_EQ(s.unexplained, 0) << c.pkt
                                << ": good frames far from any eighth-rate frame or erasure differ";
    if (c.floor_percent >= 100.0)
        EXPECT_EQ(s.exact, s.frames) << c.pkt << (c.legacy ? " (legacy)" : "");
    else
        EXPECT_GE(s.percent(), c.floor_percent) << c.pkt;
}

// Streams without eighth-rate frames or erasures: the default rules and the
// 1998 ones agree.
TEST(EvrcVectors, HalfAndFullRateDecodesAreBitExact)
{
    const VectorCase cases[] = {
        {"halfrate/vec_01.h3n0.pkt", "halfrate/vec_01.h3n0.p0.dec", false, 100.0},
        {"halfrate/vec_02.h3n0.pkt", "halfrate/vec_02.h3n0.p0.dec", false, 100.0},
        {"synthetic/silence.h3n0.pkt", "synthetic/silence.h3n0.p0.dec", false, 100.0},
        {"synthetic/sine1k_m20dBFS.h3n0.pkt", "synthetic/sine1k_m20dBFS.h3n0.p0.dec", false, 100.0},
        {"synthetic/noise_m20dBFS.h3n0.pkt", "synthetic/noise_m20dBFS.h3n0.p0.dec", false, 100.0},
        {"rates/f.h4l4n0.pkt", "rates/f.h4l4n0.p0.dec", false, 100.0},
        {"rates/m.h4l4n0.pkt", "rates/m.h4l4n0.p0.dec", false, 100.0},
        {"rates/vec_01.h4l4n0.pkt", "rates/vec_01.h4l4n0.p0.dec", false, 100.0},
    };
    for (const VectorCase &c : cases)
        check(c);
}

// The later rules on eighth-rate frames and erasures: only those frames and
// the ones that inherit their memories differ.
TEST(EvrcVectors, AllRateAndErasureDecodes)
{
    const VectorCase cases[] = {
        {"official/short/f.pkt", "official/short/f_npf.dec", false, 65.0},
        {"official/short/m.pkt", "official/short/m_npf.dec", false, 70.0},
        {"official/long/vec_01.pkt", "halfrate/vec_01.p0.dec", false, 83.0},
        {"official/long/vec_02.pkt", "halfrate/vec_02.p0.dec", false, 80.0},
        {"erasure/vec_10_2.pkt", "erasure/vec_10_2.p0.dec", false, 55.0},
    };
    for (const VectorCase &c : cases)
        check(c);
}

// Every packet file with a reference decode, under the 1998 rules: all-rate,
// eighth-rate-only, full-rate-only, half-rate, erasures.
TEST(EvrcVectors, LegacyDecodesAreBitExact)
{
    const VectorCase cases[] = {
        {"official/short/f.pkt", "official/short/f_npf.dec", true, 100.0},
        {"official/short/m.pkt", "official/short/m_npf.dec", true, 100.0},
        {"official/long/vec_01.pkt", "halfrate/vec_01.p0.dec", true, 100.0},
        {"official/long/vec_02.pkt", "halfrate/vec_02.p0.dec", true, 100.0},
        {"erasure/vec_10_2.pkt", "erasure/vec_10_2.p0.dec", true, 100.0},
        {"halfrate/vec_01.h3n0.pkt", "halfrate/vec_01.h3n0.p0.dec", true, 100.0},
        {"halfrate/vec_02.h3n0.pkt", "halfrate/vec_02.h3n0.p0.dec", true, 100.0},
        {"synthetic/silence.h3n0.pkt", "synthetic/silence.h3n0.p0.dec", true, 100.0},
        {"synthetic/sine1k_m20dBFS.h3n0.pkt", "synthetic/sine1k_m20dBFS.h3n0.p0.dec", true, 100.0},
        {"synthetic/noise_m20dBFS.h3n0.pkt", "synthetic/noise_m20dBFS.h3n0.p0.dec", true, 100.0},
        {"rates/f.h1l1n0.pkt", "rates/f.h1l1n0.p0.dec", true, 100.0},
        {"rates/f.h4l1n0.pkt", "rates/f.h4l1n0.p0.dec", true, 100.0},
        {"rates/f.h4l4n0.pkt", "rates/f.h4l4n0.p0.dec", true, 100.0},
        {"rates/m.h1l1n0.pkt", "rates/m.h1l1n0.p0.dec", true, 100.0},
        {"rates/m.h4l1n0.pkt", "rates/m.h4l1n0.p0.dec", true, 100.0},
        {"rates/m.h4l4n0.pkt", "rates/m.h4l4n0.p0.dec", true, 100.0},
        {"rates/vec_01.h1l1n0.pkt", "rates/vec_01.h1l1n0.p0.dec", true, 100.0},
        {"rates/vec_01.h4l1n0.pkt", "rates/vec_01.h4l1n0.p0.dec", true, 100.0},
        {"rates/vec_01.h4l4n0.pkt", "rates/vec_01.h4l4n0.p0.dec", true, 100.0},
    };
    for (const VectorCase &c : cases)
        check(c);
}

} // namespace
