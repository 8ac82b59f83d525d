// The coded frame's bit layout: packing and reading fields across word
// boundaries, the documented worked example and the reference packet files.
#include "evrc_codec.h"
#include "test_support.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace
{

// Half-rate fields in order: LSP 7, 7, 8; delay 7; per subframe ACB 3, FCB 10, gain 4.
const Word16 kHalfWidths[] = {7, 7, 8, 7, 3, 10, 4, 3, 10, 4, 3, 10, 4};
const Word16 kFullWidths[] = {1, 6, 6, 9, 7,  7, 5, 3, 8, 8, 8,  11, 5,
                              3, 8, 8, 8, 11, 5, 3, 8, 8, 8, 11, 5};

TEST(EvrcBits, WorkedExampleHalfRate)
{
    // Frame 1 of halfrate/vec_01.h3n0.pkt.
    const uint16_t words[5] = {0x72bb, 0xe60f, 0xc968, 0x7cb6, 0x215b};
    const Word16 fields[13] = {57, 46, 249, 65, 7, 805, 10, 0, 997, 11, 0, 533, 11};

    evrc_bits rd;
    evrc_bits_load(&rd, words, 5);
    for (int i = 0; i < 13; i++)
        EXPECT_EQ(evrc_unpack_bits(&rd, kHalfWidths[i]), fields[i]) << "field " << i;

    evrc_bits wr;
    evrc_bits_clear(&wr);
    for (int i = 0; i < 13; i++)
        evrc_pack_bits(&wr, fields[i], kHalfWidths[i]);
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(wr.words[i], words[i]) << "word " << i;
    for (int i = 5; i < EVRC_FRAME_WORDS; i++)
        EXPECT_EQ(wr.words[i], 0) << "word " << i;
}

TEST(EvrcBits, WideFieldSpanningWords)
{
    // A 16-bit field read with 4 bits left takes them as its top bits and the
    // top 12 bits of the next word; 4 bits are left afterwards.
    const uint16_t words[2] = {0x0005, 0xabcd};
    evrc_bits rd;
    evrc_bits_load(&rd, words, 2);
    EXPECT_EQ(evrc_unpack_bits(&rd, 12), 0);
    EXPECT_EQ((uint16_t)evrc_unpack_bits(&rd, 16), 0x5abc);
    EXPECT_EQ(rd.bits_left, 4);
    EXPECT_EQ(evrc_unpack_bits(&rd, 4), 0xd);
}

TEST(EvrcBits, FullRateRoundTripUses170Bits)
{
    std::mt19937 rng(7);
    for (int iter = 0; iter < 200; iter++) {
        std::vector<Word16> fields;
        evrc_bits wr;
        evrc_bits_clear(&wr);
        for (Word16 w : kFullWidths) {
            Word16 v = (Word16)(rng() & ((1u << w) - 1));
            fields.push_back(v);
            evrc_pack_bits(&wr, v, w);
        }
        EXPECT_EQ(wr.words[10] & 0x3f, 0); // last 6 bits unused
        evrc_bits rd;
        evrc_bits_load(&rd, wr.words, EVRC_FRAME_WORDS);
        for (size_t i = 0; i < fields.size(); i++)
            ASSERT_EQ(evrc_unpack_bits(&rd, kFullWidths[i]), fields[i]);
    }
}

TEST(EvrcBits, ReadingPastTheFrameGivesZeros)
{
    evrc_bits rd;
    const uint16_t ones[EVRC_FRAME_WORDS] = {0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff,
                                             0xffff, 0xffff, 0xffff, 0xffff, 0xffff};
    evrc_bits_load(&rd, ones, EVRC_FRAME_WORDS);
    for (int i = 0; i < 11; i++)
        EXPECT_EQ((uint16_t)evrc_unpack_bits(&rd, 16), 0xffff);
    EXPECT_EQ(evrc_unpack_bits(&rd, 16), 0);
}

TEST(EvrcBits, WireBytesAreHighByteFirst)
{
    const uint8_t bytes[10] = {0x72, 0xbb, 0xe6, 0x0f, 0xc9, 0x68, 0x7c, 0xb6, 0x21, 0x5b};
    uint16_t words[EVRC_FRAME_WORDS];
    evrc_words_from_bytes(words, bytes, 10);
    EXPECT_EQ(words[0], 0x72bb);
    EXPECT_EQ(words[4], 0x215b);
    EXPECT_EQ(words[5], 0);
    uint8_t back[10];
    evrc_words_to_bytes(back, words, 5);
    EXPECT_EQ(memcmp(back, bytes, 10), 0);
    EXPECT_EQ(evrc_rate_for_bytes(2), EVRC_RATE_EIGHTH);
    EXPECT_EQ(evrc_rate_for_bytes(10), EVRC_RATE_HALF);
    EXPECT_EQ(evrc_rate_for_bytes(22), EVRC_RATE_FULL);
    EXPECT_EQ(evrc_rate_for_bytes(4), 0);
    EXPECT_EQ(evrc_rate_for_bytes(0), 0);
}

// Every frame of a reference packet file re-packs to the same words: the
// layout is the one the reference writes.
void check_repack(const std::string &file)
{
    std::string data = ptt::test::read_file(ptt::test::shared_data(file));
    ASSERT_FALSE(data.empty()) << file;
    ASSERT_EQ(data.size() % 24, 0u);
    size_t frames = data.size() / 24;
    for (size_t f = 0; f < frames; f++) {
        const uint8_t *rec = (const uint8_t *)data.data() + 24 * f;
        uint16_t words[EVRC_FRAME_WORDS];
        int rate = rec[0] | rec[1] << 8;
        for (int i = 0; i < EVRC_FRAME_WORDS; i++)
            words[i] = (uint16_t)(rec[2 + 2 * i] | rec[3 + 2 * i] << 8);
        const Word16 *widths = nullptr;
        int n = 0;
        if (rate == 3) {
            widths = kHalfWidths;
            n = 13;
        } else if (rate == 4) {
            widths = kFullWidths;
            n = 25;
        } else if (rate == 1) {
            static const Word16 eighth[] = {4, 4, 8};
            widths = eighth;
            n = 3;
        } else {
            continue;
        }
        evrc_bits rd, wr;
        evrc_bits_load(&rd, words, EVRC_FRAME_WORDS);
        evrc_bits_clear(&wr);
        for (int i = 0; i < n; i++)
            evrc_pack_bits(&wr, evrc_unpack_bits(&rd, widths[i]), widths[i]);
        for (int i = 0; i < EVRC_FRAME_WORDS; i++)
            ASSERT_EQ(wr.words[i], words[i]) << file << " frame " << f << " word " << i;
    }
}

TEST(EvrcBits, ReferencePacketFilesRepack)
{
    check_repack("evrc/vectors/halfrate/vec_01.h3n0.pkt");
    check_repack("evrc/vectors/official/long/vec_01.pkt");
}

TEST(EvrcBits, ReferenceHalfRateFrameOne)
{
    std::string data =
        ptt::test::read_file(ptt::test::shared_data("evrc/vectors/halfrate/vec_01.h3n0.pkt"));
    ASSERT_GE(data.size(), 48u);
    const uint8_t want[14] = {0x03, 0x00, 0xbb, 0x72, 0x0f, 0xe6, 0x68,
                              0xc9, 0xb6, 0x7c, 0x5b, 0x21, 0x00, 0x00};
    EXPECT_EQ(memcmp(data.data() + 24, want, 14), 0);
}

TEST(EvrcRate, SetRateSelectsRows)
{
    evrc_rate_sel sel = {};
    evrc_set_rate(&sel, EVRC_RATE_FULL);
    EXPECT_EQ(sel.row->splits, 4);
    EXPECT_EQ(sel.fcb_gain_levels, 32);
    EXPECT_EQ(sel.row->codebook[0][0], 465);
    EXPECT_EQ(sel.row->codebook[0][1], 635);
    EXPECT_EQ(sel.row->codebook[0][6], 1293);
    evrc_set_rate(&sel, EVRC_RATE_HALF);
    EXPECT_EQ(sel.row->splits, 3);
    EXPECT_EQ(sel.row->size[2], 256);
    EXPECT_EQ(sel.fcb_gain_levels, 16);
    EXPECT_EQ(sel.row->codebook[0][3], 752);
    EXPECT_EQ(sel.row->codebook[0][5], 3452);
    // Eighth rate keeps the previous row but switches to the 16-level gains.
    evrc_set_rate(&sel, EVRC_RATE_FULL);
    evrc_set_rate(&sel, EVRC_RATE_EIGHTH);
    EXPECT_EQ(sel.row->splits, 4);
    EXPECT_EQ(sel.fcb_gain_levels, 16);
    EXPECT_EQ(sel.fcb_gain[15], 23848);
    evrc_set_rate(&sel, EVRC_RATE_ERASURE);
    EXPECT_EQ(sel.row->splits, 4);
    EXPECT_EQ(sel.rate, EVRC_RATE_ERASURE);
}

TEST(EvrcWeight, PowerSeriesTables)
{
    Word16 a[EVRC_LPC_ORDER], out[EVRC_LPC_ORDER];
    for (int k = 0; k < EVRC_LPC_ORDER; k++)
        a[k] = 8192; // 2.0 in Q12: each result is the table power, rounded, over 4
    evrc_weight(out, a, EVRC_WEIGHT_0_994);
    const Word16 want994[10] = {32571, 32376, 32182, 31989, 31797,
                                31606, 31416, 31228, 31040, 30854};
    for (int k = 0; k < EVRC_LPC_ORDER; k++)
        EXPECT_EQ(out[k], (want994[k] + 2) >> 2) << k;
    a[0] = 4096;
    evrc_weight(out, a, EVRC_WEIGHT_0_5);
    EXPECT_EQ(out[0], 2048);
    evrc_weight(out, a, EVRC_WEIGHT_0_75);
    EXPECT_EQ(out[0], 3072);
    evrc_weight(out, a, EVRC_WEIGHT_0_9);
    EXPECT_EQ(out[0], 3686);
    evrc_weight(out, a, EVRC_WEIGHT_1_0);
    EXPECT_EQ(out[0], 4096);
    EXPECT_EQ(out[1], 8192);
}

} // namespace
