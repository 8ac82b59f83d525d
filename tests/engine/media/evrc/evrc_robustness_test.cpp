// Arbitrary bytes from the network never break the decoder: every accepted
// frame yields 160 samples, every other length is refused, and (under the
// sanitizer build) nothing is read or written out of bounds.
#include "evrc_frame.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>

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
