// Decoder state machine: reset values, the classification of received frames
// into good frames and erasures, and the memories that erasures move.
#include "evrc_frame.h"
#include "evrc_tables.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace
{

const uint16_t kZero[EVRC_FRAME_WORDS] = {0};
const uint16_t kOnes[EVRC_FRAME_WORDS] = {0xffff};
// A valid half-rate frame (frame 1 of the reference half-rate file).
const uint16_t kHalf[EVRC_FRAME_WORDS] = {0x72bb, 0xe60f, 0xc968, 0x7cb6, 0x215b};
// A valid eighth-rate frame: LSP indices 7 and 3, energy index 34.
const uint16_t kEighth[EVRC_FRAME_WORDS] = {0x7322};

struct Decoder {
    evrc_decoder *dec = evrc_decoder_new();
    ~Decoder()
    {
        evrc_decoder_destroy(&dec);
    }
    void run(Word16 rate, const uint16_t *words)
    {
        evrc_decode_words(dec, rate, words, out);
    }
    int16_t out[EVRC_FRAME_LEN];
};

TEST(EvrcDecoder, ResetValues)
{
    Decoder d;
    ASSERT_NE(d.dec, nullptr);
    evrc_decoder *dec = d.dec;
    dec->ones_run = 2;
    dec->recovery = 3;
    dec->acb_gain_mem = 77;
    dec->excitation_scale = 5;
    dec->exc[3] = 9;
    dec->syn_mem[1] = 9;
    evrc_decoder_reset(dec);
    EXPECT_EQ(dec->rate.rate, EVRC_RATE_FULL);
    EXPECT_EQ(dec->rate.row->splits, 4);
    EXPECT_EQ(dec->last_rate, EVRC_RATE_EIGHTH);
    EXPECT_EQ(dec->recovery, 0);
    EXPECT_EQ(dec->erasure, 0);
    EXPECT_EQ(dec->bad_rate, 0);
    EXPECT_EQ(dec->prev_erased, 0);
    EXPECT_EQ(dec->frame_count, 0u);
    EXPECT_EQ(dec->acb_gain_mem, 0);
    EXPECT_EQ(dec->fcb_gain_mem, 0);
    EXPECT_EQ(dec->prev_delay, 40);
    EXPECT_EQ(dec->excitation_scale, 32767);
    EXPECT_EQ(dec->ones_run, 2); // survives a reset
    const Word16 initial[10] = {1573, 3146, 4719, 6291, 7864, 9437, 11010, 12583, 14156, 15729};
    for (int k = 0; k < 10; k++)
        EXPECT_EQ(dec->prev_lsp[k], initial[k]) << k;
    for (Word16 v : dec->exc)
        ASSERT_EQ(v, 0);
    for (Word16 v : dec->exc_saved)
        ASSERT_EQ(v, 0);
    for (Word16 v : dec->syn_mem)
        ASSERT_EQ(v, 0);
}

// One step of a classification sequence: what goes in, what the decoder
// makes of it.
struct Step {
    Word16 rate;
    const uint16_t *words;
    bool erased;        // synthesised as an erasure
    Word16 handed_rate; // rate the frame is decoded or synthesised at
    Word16 last_rate;   // last good rate afterwards
};

struct Sequence {
    const char *what;
    std::vector<Step> steps;
};

TEST(EvrcDecoder, FrameClassification)
{
    const Sequence sequences[] = {
        {"all-zero half-rate frame before any good frame: erasure in the eighth-rate manner",
         {{3, kZero, true, 1, 1}}},
        {"all-zero half-rate frame after a half-rate frame: erasure in the full-rate manner",
         {{3, kHalf, false, 3, 3}, {3, kZero, true, 4, 3}}},
        {"all-ones eighth-rate frames: two erasures, then decoded",
         {{1, kOnes, true, 1, 1},
          {1, kOnes, true, 1, 1},
          {1, kOnes, false, 1, 1},
          {1, kOnes, false, 1, 1}}},
        {"an ordinary eighth-rate frame clears the all-ones run",
         {{1, kOnes, true, 1, 1},
          {1, kOnes, true, 1, 1},
          {1, kEighth, false, 1, 1},
          {1, kOnes, true, 1, 1}}},
        {"rate 14 is an erasure, quarter rate and unknown rates are bad frames",
         {{3, kHalf, false, 3, 3},
          {14, kHalf, true, 4, 3},
          {2, kHalf, true, 4, 3},
          {0, kHalf, true, 4, 3},
          {7, kHalf, true, 4, 3},
          {3, kHalf, false, 3, 3}}},
        {"a good eighth-rate frame after a half-rate frame is decoded",
         {{3, kHalf, false, 3, 3}, {1, kEighth, false, 1, 1}}},
    };
    for (const Sequence &seq : sequences) {
        Decoder d;
        for (size_t i = 0; i < seq.steps.size(); i++) {
            const Step &st = seq.steps[i];
            Word16 rate = st.rate;
            evrc_check_frame(d.dec, &rate, st.words);
            bool erased = d.dec->bad_rate || d.dec->erasure;
            EXPECT_EQ(erased, st.erased) << seq.what << ", step " << i;
            EXPECT_EQ(rate, st.handed_rate) << seq.what << ", step " << i;
            EXPECT_EQ(d.dec->last_rate, st.last_rate) << seq.what << ", step " << i;
            // Finish the frame as the glue would, so the next step sees its memory.
            evrc_set_rate(&d.dec->rate, rate);
            if (!erased)
                evrc_decode(d.dec, st.words, d.out);
            if (d.dec->bad_rate || d.dec->erasure)
                evrc_decode_erasure(d.dec, d.out);
        }
    }
}

TEST(EvrcDecoder, ThirdAllOnesFrameUsesModerateEnergy)
{
    // The third all-ones frame is decoded with its LSP indices (15, 15) but at
    // energy index 64 instead of 255: the same as a frame that says 64.
    const uint16_t ones_64[EVRC_FRAME_WORDS] = {0xff40};
    Decoder a, b;
    for (int i = 0; i < 2; i++) {
        a.run(EVRC_RATE_EIGHTH, kOnes);
        b.run(EVRC_RATE_EIGHTH, kOnes);
    }
    a.run(EVRC_RATE_EIGHTH, kOnes);
    b.run(EVRC_RATE_EIGHTH, ones_64);
    EXPECT_EQ(a.dec->ones_run, 3);
    EXPECT_EQ(b.dec->ones_run, 0);
    EXPECT_EQ(a.dec->bad_rate | a.dec->erasure, 0);
    EXPECT_EQ(memcmp(a.out, b.out, sizeof a.out), 0);
}

TEST(EvrcDecoder, EighthRateRightAfterFullRateIsErased)
{
    // Build a decoded full-rate frame from the reference all-rate vectors'
    // first frame layout: any frame with rising LSPs and a valid delay will do.
    Decoder d;
    d.dec->last_rate = EVRC_RATE_FULL; // as after a good full-rate frame
    d.dec->prev_erased = 0;
    Word16 rate = EVRC_RATE_EIGHTH;
    evrc_check_frame(d.dec, &rate, kEighth);
    EXPECT_EQ(d.dec->bad_rate, 1);
    EXPECT_EQ(d.dec->erasure, 1);
    EXPECT_EQ(rate, EVRC_RATE_FULL);
    // ... unless that full-rate frame was itself synthesised as an erasure.
    d.dec->prev_erased = 1;
    rate = EVRC_RATE_EIGHTH;
    evrc_check_frame(d.dec, &rate, kEighth);
    EXPECT_EQ(d.dec->bad_rate | d.dec->erasure, 0);
    EXPECT_EQ(rate, EVRC_RATE_EIGHTH);
}

// A half-rate frame with the given LSP indices and delay field; every
// subframe with gains 0 and code word 0.
std::vector<uint16_t> half_frame(Word16 i1, Word16 i2, Word16 i3, Word16 delay_field)
{
    evrc_bits b;
    evrc_bits_clear(&b);
    evrc_pack_bits(&b, i1, 7);
    evrc_pack_bits(&b, i2, 7);
    evrc_pack_bits(&b, i3, 8);
    evrc_pack_bits(&b, delay_field, 7);
    for (int i = 0; i < 3; i++) {
        evrc_pack_bits(&b, 0, 3);
        evrc_pack_bits(&b, 0, 10);
        evrc_pack_bits(&b, 0, 4);
    }
    return std::vector<uint16_t>(b.words, b.words + EVRC_FRAME_WORDS);
}

TEST(EvrcDecoder, InvalidHalfRateContentIsErased)
{
    // The first split whose last LSP is highest against the second split whose
    // first LSP is lowest: the gap at the split boundary is too small.
    Word16 hi = 0, lo = 0;
    for (Word16 i = 0; i < 128; i++) {
        if (evrc_tab_lsp_half_split1[i][2] > evrc_tab_lsp_half_split1[hi][2])
            hi = i;
        if (evrc_tab_lsp_half_split2[i][0] < evrc_tab_lsp_half_split2[lo][0])
            lo = i;
    }
    ASSERT_LE(evrc_tab_lsp_half_split2[lo][0] - evrc_tab_lsp_half_split1[hi][2], 261);
    struct Bad {
        const char *what;
        std::vector<uint16_t> words;
    };
    const Bad bad[] = {
        {"LSP gap at a split boundary", half_frame(hi, lo, 0, 50)},
        {"delay above 120", half_frame(57, 46, 249, 101)},
    };
    const std::vector<uint16_t> good = half_frame(57, 46, 249, 100);
    {
        Decoder d;
        d.run(EVRC_RATE_HALF, good.data());
        EXPECT_EQ(d.dec->bad_rate, 0); // delay 120 is still fine
        EXPECT_EQ(d.dec->recovery, 0);
    }
    for (const Bad &b : bad) {
        Decoder d;
        d.run(EVRC_RATE_HALF, kHalf);
        ASSERT_EQ(d.dec->recovery, 0);
        Word16 rate = EVRC_RATE_HALF;
        evrc_check_frame(d.dec, &rate, b.words.data());
        ASSERT_EQ(d.dec->bad_rate | d.dec->erasure, 0) << b.what;
        evrc_set_rate(&d.dec->rate, rate);
        evrc_decode(d.dec, b.words.data(), d.out);
        EXPECT_EQ(d.dec->bad_rate, 1) << b.what;
        evrc_decode_erasure(d.dec, d.out);
        EXPECT_EQ(d.dec->recovery, 3) << b.what;
    }
}

// Under the 1998 rules a half-rate frame whose content fails its checks is
// synthesised like a full-rate erasure but leaves the excitation kept for a
// later delay-contour repair as it was; the default rules refresh it.
TEST(EvrcDecoder, HalfRateContentFailureKeepsTheSnapshotUnderLegacyRules)
{
    const std::vector<uint16_t> bad = half_frame(57, 46, 249, 101); // delay 121
    for (int legacy = 0; legacy < 2; legacy++) {
        Decoder d;
        evrc_decoder_set_legacy(d.dec, legacy);
        for (int i = 0; i < 3; i++)
            d.run(EVRC_RATE_HALF, kHalf);
        for (Word16 &v : d.dec->exc_saved)
            v = 1234;
        d.run(EVRC_RATE_HALF, bad.data());
        ASSERT_EQ(d.dec->bad_rate, 1);
        EXPECT_EQ(d.dec->recovery, 3);
        bool kept = std::all_of(std::begin(d.dec->exc_saved), std::end(d.dec->exc_saved),
                                [](Word16 v) { return v == 1234; });
        EXPECT_EQ(kept, legacy == 1) << "legacy " << legacy;
        // A full-rate erasure refreshes it under both rules.
        Word16 before[EVRC_ACB_MEM];
        memcpy(before, d.dec->exc, sizeof before);
        d.run(EVRC_RATE_ERASURE, kZero);
        EXPECT_EQ(memcmp(d.dec->exc_saved, before, sizeof before), 0) << "legacy " << legacy;
    }
}

// Eighth-rate LSP indices 0 and 6 give rising LSPs with too small a gap
// between the two halves (LSP 5 against 4) but a wide one between LSPs 9 and
// 8. The default rules decode the frame; the 1998 rules conceal it in place:
// previous LSPs, the level of the last good eighth-rate frame, the same
// output as an eighth-rate erasure, but no erasure run (recovery count, last
// good rate and the remembered energy index stay).
TEST(EvrcDecoder, EighthRateLspGapBetweenHalves)
{
    const uint16_t gap[EVRC_FRAME_WORDS] = {(0 << 12) | (6 << 8) | 200};
    const int16_t *a = evrc_tab_lsp_eighth_split1[0], *b = evrc_tab_lsp_eighth_split2[6];
    ASSERT_LE(b[0] - a[4], 261);
    ASSERT_GT(b[4] - b[3], 261);

    Decoder deflt;
    deflt.run(EVRC_RATE_EIGHTH, kEighth);
    deflt.run(EVRC_RATE_EIGHTH, gap);
    EXPECT_EQ(deflt.dec->bad_rate | deflt.dec->erasure, 0);
    EXPECT_EQ(deflt.dec->energy_idx, 200);
    EXPECT_EQ(deflt.dec->prev_lsp[5], b[0]);

    Decoder legacy, erased;
    evrc_decoder_set_legacy(legacy.dec, 1);
    evrc_decoder_set_legacy(erased.dec, 1);
    legacy.run(EVRC_RATE_EIGHTH, kEighth);
    erased.run(EVRC_RATE_EIGHTH, kEighth);
    Word16 prev[EVRC_LPC_ORDER];
    memcpy(prev, legacy.dec->prev_lsp, sizeof prev);
    legacy.run(EVRC_RATE_EIGHTH, gap);
    erased.run(EVRC_RATE_ERASURE, kZero);
    EXPECT_EQ(memcmp(legacy.out, erased.out, sizeof legacy.out), 0);
    EXPECT_EQ(memcmp(legacy.dec->prev_lsp, prev, sizeof prev), 0);
    EXPECT_EQ(legacy.dec->energy_idx, 34);
    EXPECT_EQ(legacy.dec->recovery, 0);
    EXPECT_EQ(erased.dec->recovery, 3);
    EXPECT_EQ(legacy.dec->last_rate, EVRC_RATE_EIGHTH);
    EXPECT_EQ(legacy.dec->prev_erased, 1);
    // The generator and its cache went on exactly as for the erasure.
    legacy.run(EVRC_RATE_EIGHTH, kEighth);
    erased.run(EVRC_RATE_EIGHTH, kEighth);
    EXPECT_EQ(memcmp(legacy.out, erased.out, sizeof legacy.out), 0);
}

TEST(EvrcDecoder, ErasuresFadeAndRecover)
{
    Decoder d;
    for (int i = 0; i < 3; i++)
        d.run(EVRC_RATE_HALF, kHalf);
    EXPECT_EQ(d.dec->excitation_scale, 32767);
    Word16 acb_mem = d.dec->acb_gain_mem;
    Word16 prev[10];
    memcpy(prev, d.dec->prev_lsp, sizeof prev);

    d.run(EVRC_RATE_ERASURE, kZero);
    EXPECT_EQ(d.dec->recovery, 3);
    EXPECT_EQ(d.dec->excitation_scale, 32767 - 3 * 1638);
    EXPECT_EQ(d.dec->acb_gain_mem, acb_mem); // first erasure of a run keeps it
    for (int k = 0; k < 10; k++) {
        // 0.875 of the last LSP plus 0.125 of the mean spread
        int want = (28672 * 2 * prev[k] + 4096 * 2 * evrc_tab_lsp_initial[k] + 32768) >> 16;
        EXPECT_EQ(d.dec->prev_lsp[k], want) << k;
    }
    d.run(EVRC_RATE_ERASURE, kZero);
    EXPECT_EQ(d.dec->acb_gain_mem, (acb_mem * 24576 * 2 + 32768) >> 16); // 0.75 per erasure
    EXPECT_EQ(d.dec->excitation_scale, 32767 - 6 * 1638);

    for (int i = 2; i < 5; i++)
        d.run(EVRC_RATE_ERASURE, kZero);
    EXPECT_EQ(d.dec->excitation_scale, 32767 - 15 * 1638);

    d.run(EVRC_RATE_HALF, kHalf);
    EXPECT_EQ(d.dec->recovery, 2);
    EXPECT_EQ(d.dec->excitation_scale, 32767 - 15 * 1638 + 3 * 6554);
    d.run(EVRC_RATE_HALF, kHalf);
    EXPECT_EQ(d.dec->recovery, 1);
    EXPECT_EQ(d.dec->excitation_scale, 32767); // held at 1.0
    d.run(EVRC_RATE_HALF, kHalf);
    EXPECT_EQ(d.dec->recovery, 0);
}

TEST(EvrcDecoder, OutputAlwaysDefinedAndDoubledAtHalfRate)
{
    Decoder d;
    d.run(EVRC_RATE_HALF, kHalf);
    for (int n = 0; n < EVRC_FRAME_LEN; n++)
        ASSERT_EQ(d.out[n] & 1, 0) << n; // half-rate output is doubled
    uint8_t wire[10];
    evrc_words_to_bytes(wire, kHalf, 5);
    int16_t a[EVRC_FRAME_LEN], b[EVRC_FRAME_LEN];
    evrc_decoder *x = evrc_decoder_new(), *y = evrc_decoder_new();
    ASSERT_EQ(evrc_decode_frame(x, wire, 10, a), EVRC_FRAME_LEN);
    evrc_decode_words(y, EVRC_RATE_HALF, kHalf, b);
    EXPECT_EQ(memcmp(a, b, sizeof a), 0); // the wire entry point is the same decoder
    evrc_decoder_destroy(&x);
    evrc_decoder_destroy(&y);
}

TEST(EvrcDecoder, FixedCodebookVectors)
{
    Word16 v[54] = {0};
    evrc_fcb_decode_half(v, 0x000, 53);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[2], -1);
    EXPECT_EQ(v[4], 1);
    int nonzero = 0;
    for (int n = 0; n < 53; n++)
        nonzero += v[n] != 0 ? 1 : 0;
    EXPECT_EQ(nonzero, 3);
    evrc_fcb_decode_half(v, 0x3ff, 53); // sign bit: -, +, -; 7*7+4 = 53 is dropped
    EXPECT_EQ(v[49], -1);
    EXPECT_EQ(v[51], 1);
    evrc_fcb_decode_half(v, 0x3ff, 54);
    EXPECT_EQ(v[53], -1);

    struct Full {
        const char *what;
        Word16 words[4];
        Word16 len;
        std::vector<std::pair<int, int>> pulses;
    };
    const Full cases[] = {
        {"pair code 127 leaves the tracks empty", {127, 127, 127, 127}, 54, {}},
        {"same place twice adds up", {0x00, 127, 127, 127}, 54, {{0, 2}}},
        {"negative pair, second below the first flips",
         {0x80 | 11, 127, 127, 127},
         54,
         {{5, -1}, {0, 1}}},
        {"position 54 never exists", {127, 127, 127, (Word16)((1 << 9) | 120)}, 54, {{50, 1}}},
        {"position 53 only in the last subframe",
         {120, 127, 127, (Word16)((3 << 9) | 127)},
         54,
         {{53, 2}}},
        {"position 53 dropped at 53 samples", {120, 127, 127, (Word16)((3 << 9) | 127)}, 53, {}},
        {"word 3 signs from bits 8 and 7",
         {127, 127, 127, (Word16)(0x180 | 0)},
         54,
         {{3, -1}, {4, -1}}},
    };
    for (const Full &c : cases) {
        Word16 code[54];
        evrc_fcb_decode_full(code, c.words, c.len);
        std::vector<std::pair<int, int>> got;
        for (int n = 0; n < c.len; n++)
            if (code[n])
                got.push_back({n, code[n]});
        std::vector<std::pair<int, int>> want = c.pulses;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << c.what;
    }
}

} // namespace
