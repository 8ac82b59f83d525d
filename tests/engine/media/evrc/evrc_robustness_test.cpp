// Arbitrary bytes from the network never break the decoder: every accepted
// frame yields 160 samples, every other length is refused, and (under the
// sanitizer build) nothing is read or written out of bounds.
#include "evrc_frame.h"
#include "test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace
{

TEST(EvrcRobustness, RandomFramesAlwaysGive160Samples)
{
    evrc_decoder *dec = evrc_decoder_new();
    ASSERT_NE(dec, nullptr);
    std::mt19937 rng(20240611);
    const int lengths[3] = {2, 10, 22};
    uint8_t frame[22];
    int16_t out[EVRC_FRAME_LEN + 8];
    for (int i = 0; i < 100000; i++) {
        int len = lengths[rng() % 3];
        for (int k = 0; k < len; k++)
            frame[k] = (uint8_t)rng();
        // Now and then the special patterns the classifier looks for.
        if (i % 97 == 0)
            memset(frame, 0, sizeof frame);
        if (i % 89 == 0)
            memset(frame, 0xff, sizeof frame);
        out[EVRC_FRAME_LEN] = 0x5a5a;
        ASSERT_EQ(evrc_decode_frame(dec, frame, len, out), EVRC_FRAME_LEN) << "frame " << i;
        ASSERT_EQ(out[EVRC_FRAME_LEN], 0x5a5a) << "wrote past 160 samples at frame " << i;
    }
    evrc_decoder_destroy(&dec);
    EXPECT_EQ(dec, nullptr);
}

TEST(EvrcRobustness, RandomWordsAtEveryRateCode)
{
    // The packet-file path hands rate codes straight from a file.
    evrc_decoder *dec = evrc_decoder_new();
    ASSERT_NE(dec, nullptr);
    evrc_decoder_set_legacy(dec, 1); // the 1998 rules have fewer checks
    std::mt19937 rng(99);
    int16_t out[EVRC_FRAME_LEN];
    for (int i = 0; i < 20000; i++) {
        uint16_t words[EVRC_FRAME_WORDS];
        for (uint16_t &w : words)
            w = (uint16_t)rng();
        Word16 rate = (Word16)(rng() % 16);
        evrc_decode_words(dec, rate, words, out);
    }
    evrc_decoder_destroy(&dec);
}

struct Record {
    Word16 rate;
    uint16_t words[EVRC_FRAME_WORDS];
};

// Full rate: the delay field follows the LPC flag and 28 LSP bits, the
// delay difference follows the delay.
const int kDelayBit = 29;
const int kDiffBit = 36;

unsigned get_field(const uint16_t *words, int pos, int width)
{
    unsigned v = 0;
    for (int b = 0; b < width; b++, pos++)
        v = (v << 1) | ((words[pos >> 4] >> (15 - (pos & 15))) & 1u);
    return v;
}

// Writes `width` bits of v at bit `pos` of the packed frame (MSB first).
void put_field(uint16_t *words, int pos, int width, unsigned v)
{
    for (int b = 0; b < width; b++, pos++) {
        uint16_t mask = (uint16_t)(0x8000u >> (pos & 15));
        if ((v >> (width - 1 - b)) & 1)
            words[pos >> 4] |= mask;
        else
            words[pos >> 4] &= (uint16_t)~mask;
    }
}

// What a corrupted stream exercised, summed over all streams.
struct Coverage {
    int erased = 0;
    int repairs = 0;       // full-rate delay-contour repairs after an erasure
    int short_rebuilt = 0; // ... whose rebuilt delay is below 20
    int long_rebuilt = 0;  // ... or above 120
};

// A corrupted copy of a stretch of real all-rate packets: erasures, bursts of
// erasure, blank and quarter-rate words, all-ones eighth-rate frames, random
// payloads, rate swaps, and full-rate frames right after a damaged one with
// chosen delays and delay differences.
std::vector<Record> corrupt_stream(const std::vector<Record> &source,
                                   const std::vector<Record> &full, uint32_t seed, size_t frames)
{
    std::mt19937 rng(seed);
    std::vector<Record> out;
    size_t at = rng() % (source.size() - frames);
    bool damaged = false;
    while (out.size() < frames) {
        Record r = source[at + out.size()];
        unsigned pick = rng() % 100;
        if (damaged && rng() % 2) {
            // A good full-rate frame after damage: its delay difference
            // rebuilds the damaged frame's contour from rebuilt delays of
            // 5 to 135.
            r = full[rng() % full.size()];
            unsigned delay_field, diff;
            switch (rng() % 3) {
            case 0: // short delays, differences that rebuild below 20
                delay_field = rng() % 11;
                diff = 17 + rng() % 15;
                break;
            case 1: // long delays, differences that rebuild above 120
                delay_field = 90 + rng() % 11;
                diff = 1 + rng() % 15;
                break;
            default:
                delay_field = rng() % 101;
                diff = rng() % 32;
                break;
            }
            put_field(r.words, kDelayBit, 7, delay_field);
            put_field(r.words, kDiffBit, 5, diff);
            damaged = false;
        } else if (pick < 6) {
            r.rate = EVRC_RATE_ERASURE;
            damaged = true;
        } else if (pick < 9) {
            static const Word16 kBurstWords[3] = {EVRC_RATE_ERASURE, 0, 2};
            size_t len = 2 + rng() % 6;
            for (size_t k = 0; k < len && out.size() + 1 < frames; k++) {
                Record b = source[at + out.size()];
                b.rate = kBurstWords[rng() % 3];
                out.push_back(b);
            }
            r.rate = kBurstWords[rng() % 3];
            damaged = true;
        } else if (pick < 13) {
            r.rate = EVRC_RATE_EIGHTH;
            r.words[0] = 0xffff;
            damaged = true;
        } else if (pick < 17) {
            static const Word16 kRates[3] = {EVRC_RATE_EIGHTH, EVRC_RATE_HALF, EVRC_RATE_FULL};
            r.rate = kRates[rng() % 3];
            for (uint16_t &w : r.words)
                w = (uint16_t)rng();
            damaged = true;
        } else if (pick < 21) {
            static const Word16 kSwap[5] = {0, EVRC_RATE_HALF, 0, EVRC_RATE_FULL, EVRC_RATE_EIGHTH};
            if (r.rate == EVRC_RATE_EIGHTH || r.rate == EVRC_RATE_HALF || r.rate == EVRC_RATE_FULL)
                r.rate = kSwap[r.rate];
            damaged = true;
        } else {
            damaged = false;
        }
        out.push_back(r);
    }
    out.resize(frames);
    return out;
}

// What is out of range in the decoder's state after a frame, if anything.
const char *state_fault(const evrc_decoder *dec)
{
    auto rate_ok = [](Word16 r) {
        return r == EVRC_RATE_EIGHTH || r == EVRC_RATE_HALF || r == EVRC_RATE_FULL;
    };
    if (!rate_ok(dec->last_rate))
        return "last good rate";
    if (!rate_ok(dec->rate.rate))
        return "rate in force";
    if (dec->recovery < 0 || dec->recovery > 3)
        return "recovery count";
    if (dec->excitation_scale < 0)
        return "excitation scale";
    if (dec->delay < EVRC_MIN_DELAY || dec->delay > EVRC_MAX_DELAY)
        return "delay";
    if (dec->prev_delay != dec->delay)
        return "previous delay";
    if (dec->energy_row < 0 || dec->energy_row > 255)
        return "energy row";
    if (dec->ones_run < 0 || dec->ones_run > 3)
        return "all-ones run";
    return nullptr;
}

// Decodes a stream from reset, checking after every frame that the decoder's
// state stays in range and that nothing is written past the 160 samples.
std::vector<int16_t> decode_stream(const std::vector<Record> &stream, int legacy, Coverage *cov)
{
    std::vector<int16_t> pcm;
    evrc_decoder *dec = evrc_decoder_new();
    EXPECT_NE(dec, nullptr);
    if (!dec)
        return pcm;
    evrc_decoder_set_legacy(dec, legacy);
    for (size_t f = 0; f < stream.size(); f++) {
        const Record &r = stream[f];
        int16_t out[EVRC_FRAME_LEN + 8];
        for (int k = EVRC_FRAME_LEN; k < EVRC_FRAME_LEN + 8; k++)
            out[k] = 0x5a5a;
        Word16 recovery = dec->recovery;
        evrc_decode_words(dec, r.rate, r.words, out);
        for (int k = EVRC_FRAME_LEN; k < EVRC_FRAME_LEN + 8; k++)
            if (out[k] != 0x5a5a)
                ADD_FAILURE() << "wrote past 160 samples at frame " << f;
        pcm.insert(pcm.end(), out, out + EVRC_FRAME_LEN);
        bool erased = dec->bad_rate || dec->erasure;
        if (cov) {
            cov->erased += erased;
            if (!erased && r.rate == EVRC_RATE_FULL && recovery == 3) {
                int delay = (int)get_field(r.words, kDelayBit, 7) + EVRC_MIN_DELAY;
                int diff = (int)get_field(r.words, kDiffBit, 5);
                if (diff != 0) {
                    int rebuilt = delay - (diff - 16);
                    cov->repairs++;
                    cov->short_rebuilt += rebuilt < EVRC_MIN_DELAY;
                    cov->long_rebuilt += rebuilt > EVRC_MAX_DELAY;
                }
            }
        }
        const char *fault = state_fault(dec);
        EXPECT_EQ(fault, nullptr) << fault << " after frame " << f;
        if (::testing::Test::HasFailure())
            break;
    }
    evrc_decoder_destroy(&dec);
    return pcm;
}

// Seeded corrupted streams: they cannot be compared with the reference here,
// so each is decoded twice from reset under both rule sets, with the state
// in range after every frame and the same samples both times.
TEST(EvrcRobustness, CorruptedStreamsStayBoundedAndDeterministic)
{
    std::string data =
        ptt::test::read_file(ptt::test::shared_data("evrc/vectors/official/long/vec_01.pkt"));
    ASSERT_GE(data.size(), 24u * 1000);
    std::vector<Record> source(data.size() / 24), full;
    for (size_t f = 0; f < source.size(); f++) {
        const uint8_t *p = (const uint8_t *)data.data() + 24 * f;
        source[f].rate = (Word16)(p[0] | p[1] << 8);
        for (int k = 0; k < EVRC_FRAME_WORDS; k++)
            source[f].words[k] = (uint16_t)(p[2 + 2 * k] | p[3 + 2 * k] << 8);
        if (source[f].rate == EVRC_RATE_FULL)
            full.push_back(source[f]);
    }
    Coverage cov;
    for (uint32_t seed = 1; seed <= 40; seed++) {
        std::vector<Record> stream = corrupt_stream(source, full, seed, 200);
        for (int legacy = 1; legacy >= 0; legacy--) {
            std::vector<int16_t> a = decode_stream(stream, legacy, legacy ? &cov : nullptr);
            std::vector<int16_t> b = decode_stream(stream, legacy, nullptr);
            ASSERT_FALSE(::testing::Test::HasFailure()) << "seed " << seed << " legacy " << legacy;
            ASSERT_EQ(a.size(), stream.size() * EVRC_FRAME_LEN);
            ASSERT_TRUE(a == b) << "seed " << seed << " legacy " << legacy
                                << ": two decodes of one stream differ";
        }
    }
    printf("corrupted streams: %d erased frames, %d contour repairs (%d rebuilt below 20, %d "
           "above 120)\n",
           cov.erased, cov.repairs, cov.short_rebuilt, cov.long_rebuilt);
    EXPECT_GT(cov.short_rebuilt, 0);
    EXPECT_GT(cov.long_rebuilt, 0);
}

TEST(EvrcRobustness, RefusesOtherLengthsAndNullArguments)
{
    evrc_decoder *dec = evrc_decoder_new();
    ASSERT_NE(dec, nullptr);
    uint8_t frame[32] = {0};
    int16_t out[EVRC_FRAME_LEN];
    for (int len : {-1, 0, 1, 3, 4, 9, 11, 21, 23, 32}) {
        out[0] = 77;
        EXPECT_EQ(evrc_decode_frame(dec, frame, len, out), 0) << len;
        EXPECT_EQ(out[0], 77) << len;
    }
    EXPECT_EQ(evrc_decode_frame(nullptr, frame, 10, out), 0);
    EXPECT_EQ(evrc_decode_frame(dec, nullptr, 10, out), 0);
    EXPECT_EQ(evrc_decode_frame(dec, frame, 10, nullptr), 0);
    evrc_decoder_destroy(&dec);
    evrc_decoder_destroy(&dec); // a cleared handle is accepted
    evrc_decoder_destroy(nullptr);
}

} // namespace
