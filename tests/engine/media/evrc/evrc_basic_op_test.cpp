// The fixed-point operators: the golden values the codec relies on, and the
// polynomial helpers against their real-valued functions.
#include "evrc_basic_op.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace
{

struct Golden32 {
    const char *what;
    Word32 got;
    Word32 want;
};

TEST(EvrcBasicOp, GoldenTable)
{
    const Golden32 cases[] = {
        {"L_mac(0,-32768,-32768)", L_mac(0, -32768, -32768), 2147483647},
        {"L_mac(-1,-32768,-32768)", L_mac(-1, -32768, -32768), 2147483647},
        {"L_mac(-2^31,-32768,-32768)", L_mac(EVRC_MIN_32, -32768, -32768), 0},
        {"L_msu(0,-32768,-32768)", L_msu(0, -32768, -32768), EVRC_MIN_32},
        {"L_msu(2^31-1,-32768,-32768)", L_msu(EVRC_MAX_32, -32768, -32768), -1},
        {"L_mult(-32768,-32768)", L_mult(-32768, -32768), 2147483647},
        {"L_mult(-32768,32767)", L_mult(-32768, 32767), -2147418112},
        {"mult(-32768,-32768)", mult(-32768, -32768), 32767},
        {"mult(-1,1)", mult(-1, 1), -1},
        {"shl(-1,15)", shl(-1, 15), -32768},
        {"shl(1,15)", shl(1, 15), 32767},
        {"shl(0,40)", shl(0, 40), 0},
        {"shl(-2,-20)", shl(-2, -20), -1},
        {"shl(200,-3)", shl(200, -3), 25},
        {"shr(-1,20)", shr(-1, 20), -1},
        {"shr(5,-20)", shr(5, -20), 32767},
        {"shr(-5,-20)", shr(-5, -20), -32768},
        {"shr(0,-20)", shr(0, -20), 0},
        {"shr(3,-2)", shr(3, -2), 12},
        {"shift_r(3,-1)", shift_r(3, -1), 2},
        {"shift_r(-3,-1)", shift_r(-3, -1), -1},
        {"shift_r(32767,-1)", shift_r(32767, -1), 16384},
        {"shift_r(5,-16)", shift_r(5, -16), 0},
        {"shift_r(3,2)", shift_r(3, 2), 12},
        {"L_shl(1073741824,1)", L_shl(1073741824, 1), 2147483647},
        {"L_shl(-1073741825,1)", L_shl(-1073741825, 1), EVRC_MIN_32},
        {"L_shl(-1,31)", L_shl(-1, 31), EVRC_MIN_32},
        {"L_shl(1,31)", L_shl(1, 31), 2147483647},
        {"L_shl(-5,-40)", L_shl(-5, -40), -1},
        {"L_shl(5,-40)", L_shl(5, -40), 0},
        {"L_shr(-8,2)", L_shr(-8, 2), -2},
        {"round(2147483647)", round(EVRC_MAX_32), 32767},
        {"round(-32769)", round(-32769), -1},
        {"round(98303)", round(98303), 1},
        {"abs_s(-32768)", abs_s(-32768), 32767},
        {"negate(-32768)", negate(-32768), 32767},
        {"add(32000,1000)", add(32000, 1000), 32767},
        {"sub(-32000,1000)", sub(-32000, 1000), -32768},
        {"L_add(2^31-1,1)", L_add(EVRC_MAX_32, 1), EVRC_MAX_32},
        {"L_sub(-2^31,1)", L_sub(EVRC_MIN_32, 1), EVRC_MIN_32},
        {"norm_s(0)", norm_s(0), 0},
        {"norm_s(1)", norm_s(1), 14},
        {"norm_s(-1)", norm_s(-1), 15},
        {"norm_s(-16384)", norm_s(-16384), 1},
        {"norm_s(-32768)", norm_s(-32768), 0},
        {"norm_l(0)", norm_l(0), 0},
        {"norm_l(1)", norm_l(1), 30},
        {"norm_l(-1)", norm_l(-1), 31},
        {"norm_l(0x40000000)", norm_l(0x40000000), 0},
        {"norm_l(-2^31)", norm_l(EVRC_MIN_32), 0},
        {"extract_h(-65536)", extract_h(-65536), -1},
        {"extract_l(0x12348765)", extract_l(0x12348765), (Word16)0x8765},
        {"L_deposit_h(-1)", L_deposit_h(-1), -65536},
        {"L_mpy_ls(-2^31,-32768)", L_mpy_ls(EVRC_MIN_32, -32768), 2147483647},
        {"L_mpy_ls(-1,1)", L_mpy_ls(-1, 1), -1},
        {"L_mpy_ls(65537,16384)", L_mpy_ls(65537, 16384), 32768},
        {"L_mpy_ll(-2^31,-2^31)", L_mpy_ll(EVRC_MIN_32, EVRC_MIN_32), 2147483647},
        {"L_mpy_ll(2^30,2^30)", L_mpy_ll(0x40000000, 0x40000000), 0x20000000},
        {"L_mpy_ll(-1,1)", L_mpy_ll(-1, 1), -1},
        {"evrc_divide_s(1,2)", evrc_divide_s(1, 2), 16384},
        {"evrc_divide_s(3,3)", evrc_divide_s(3, 3), 32767},
        {"evrc_divide_s(4,3)", evrc_divide_s(4, 3), 0},
    };
    for (const Golden32 &c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
}

// Captures what a call writes on standard output.
std::string stdout_of(const std::function<void()> &fn)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(EvrcBasicOp, LDivideRejectsBadInputWithMessage)
{
    const Word32 bad[][2] = {{1, 0}, {-1, 0x40000000}, {5, -7}, {0x40000001, 0x40000000}};
    for (const auto &b : bad) {
        Word32 q = -1;
        std::string out = stdout_of([&] { q = L_divide(b[0], b[1]); });
        EXPECT_EQ(q, 0);
        EXPECT_EQ(out, "ERROR: Invalid input into L_divide!\n");
    }
}

TEST(EvrcBasicOp, LDivideQuotients)
{
    EXPECT_EQ(L_divide(0, 0x40000000), 0);
    Word32 one = L_divide(0x40000000, 0x40000000);
    EXPECT_GT(one, 2147483647 - 300000);
    Word32 d = 0x5a000000;
    for (Word32 n : {0x01000000, 0x20000000, 0x4a000000, 0x59ffffff}) {
        double want = (double)n / d * 2147483648.0;
        EXPECT_NEAR((double)L_divide(n, d), want, want * 1e-4 + 64) << n;
    }
}

TEST(EvrcBasicOp, RoundShl4AndBlockNormalise)
{
    const Word32 in[3] = {0x00012345, -0x00080000, 0x7fffffff};
    Word16 out[3];
    evrc_round_shl4(in, out, 3);
    EXPECT_EQ(out[0], 18);
    EXPECT_EQ(out[1], -128);
    EXPECT_EQ(out[2], 32767);

    Word16 x[4] = {100, -300, 7, 0};
    Word16 s = evrc_block_normalise(x, 4, 2);
    EXPECT_EQ(s, 4); // 300 << 6 reaches 16384..32767, two bits kept spare
    EXPECT_EQ(x[1], -4800);
    EXPECT_EQ(x[0], 1600);
    Word16 y[2] = {32767, -5};
    EXPECT_EQ(evrc_block_normalise(y, 2, 2), -2);
    EXPECT_EQ(y[0], 8192);
    EXPECT_EQ(y[1], -1);
    Word16 z[2] = {0, 0};
    EXPECT_EQ(evrc_block_normalise(z, 2, 3), -3);
}

TEST(EvrcBasicOp, SqrtLog2Pow2FollowTheirFunctions)
{
    for (double y = 0.5; y < 1.0; y += 0.01) {
        Word32 x = (Word32)(y * 2147483648.0);
        double got = evrc_sqrt(x) / 32768.0;
        EXPECT_NEAR(got, std::sqrt(y), 2e-3) << y;
    }
    for (double v : {1e-6, 1e-4, 0.01, 0.3, 0.5, 0.7, 0.999}) {
        Word32 x = (Word32)(v * 2147483648.0);
        double got = evrc_log2(x) / 2147483648.0 * 32.0;
        EXPECT_NEAR(got, std::log2(v), 0.01) << v;
        double back = evrc_pow2(evrc_log2(x)) / 2147483648.0;
        EXPECT_NEAR(back / v, 1.0, 0.01) << v;
    }
    // The domain is x < 0: 2^0 itself does not fit in Q31.
    EXPECT_NEAR(evrc_pow2(-1) / 2147483648.0, 1.0, 3e-3);
    EXPECT_NEAR(evrc_pow2(-(1 << 26)) / 2147483648.0, 0.5, 2e-3); // 2^-1
}

TEST(EvrcBasicOp, InvSqrt)
{
    EXPECT_EQ(Inv_sqrt(0), 0x3fffffff);
    EXPECT_EQ(Inv_sqrt(-1), 0x3fffffff);
    for (Word32 x : {1, 100, 65536, 0x10000000, 0x7fffffff}) {
        // 1/sqrt(x) for an integer x, in Q30.
        double want = 1073741824.0 / std::sqrt((double)x);
        EXPECT_NEAR((double)Inv_sqrt(x) / want, 1.0, 2e-3) << x;
    }
}

} // namespace
