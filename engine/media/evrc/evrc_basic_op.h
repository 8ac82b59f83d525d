// Saturating 16/32-bit fixed-point operators of the EVRC codec.
//
// Every codec computation goes through these so that coded words and decoded
// samples are identical on any processor. Results equal exact integer
// arithmetic followed by saturation; there is no overflow flag.
//
// The one-line operators are `static inline` C++ functions kept outside the
// C-linkage block on purpose: `round` here overloads the C library's
// round(double) (a Word32 argument always selects this one), which only a
// C++-linkage function may do. Nothing of them is exported from the library.
#pragma once

#include <cstdint>

typedef int16_t Word16;
typedef int32_t Word32;

#define EVRC_MAX_16 ((Word16)32767)
#define EVRC_MIN_16 ((Word16)-32768)
#define EVRC_MAX_32 ((Word32)2147483647)
#define EVRC_MIN_32 ((Word32)(-2147483647 - 1))

static inline Word16 evrc_sat16(int64_t x)
{
    return x > 32767 ? EVRC_MAX_16 : (x < -32768 ? EVRC_MIN_16 : (Word16)x);
}

static inline Word32 evrc_sat32(int64_t x)
{
    return x > 2147483647LL ? EVRC_MAX_32 : (x < -2147483648LL ? EVRC_MIN_32 : (Word32)x);
}

static inline Word16 add(Word16 a, Word16 b)
{
    return evrc_sat16((int32_t)a + b);
}

static inline Word16 sub(Word16 a, Word16 b)
{
    return evrc_sat16((int32_t)a - b);
}

static inline Word32 L_add(Word32 a, Word32 b)
{
    return evrc_sat32((int64_t)a + b);
}

static inline Word32 L_sub(Word32 a, Word32 b)
{
    return evrc_sat32((int64_t)a - b);
}

// (a x b) >> 15; only -32768 x -32768 overflows (to 32767).
static inline Word16 mult(Word16 a, Word16 b)
{
    return evrc_sat16(((int32_t)a * b) >> 15);
}

// 2ab; -32768 x -32768 gives 2147483647.
static inline Word32 L_mult(Word16 a, Word16 b)
{
    return evrc_sat32((int64_t)a * b * 2);
}

// acc + 2ab computed exactly, then saturated: with a = b = -32768 this is
// acc + 2^31 (not acc plus a product saturated first).
static inline Word32 L_mac(Word32 acc, Word16 a, Word16 b)
{
    return evrc_sat32((int64_t)acc + (int64_t)a * b * 2);
}

static inline Word32 L_msu(Word32 acc, Word16 a, Word16 b)
{
    return evrc_sat32((int64_t)acc - (int64_t)a * b * 2);
}

static inline Word16 abs_s(Word16 x)
{
    return x == EVRC_MIN_16 ? EVRC_MAX_16 : (Word16)(x < 0 ? -x : x);
}

static inline Word16 negate(Word16 x)
{
    return x == EVRC_MIN_16 ? EVRC_MAX_16 : (Word16)-x;
}

static inline Word32 L_negate(Word32 x)
{
    return x == EVRC_MIN_32 ? EVRC_MAX_32 : -x;
}

static inline Word32 L_abs(Word32 x)
{
    return x < 0 ? L_negate(x) : x;
}

static inline Word16 extract_h(Word32 x)
{
    return (Word16)(x >> 16);
}

static inline Word16 extract_l(Word32 x)
{
    return (Word16)x;
}

static inline Word32 L_deposit_h(Word16 x)
{
    return (Word32)((uint32_t)(uint16_t)x << 16);
}

static inline Word32 L_deposit_l(Word16 x)
{
    return (Word32)x;
}

// Upper 16 bits of x + 32768, the sum saturated first.
static inline Word16 round(Word32 x)
{
    return extract_h(evrc_sat32((int64_t)x + 32768));
}

static inline Word16 shl(Word16 x, Word16 n);

// Arithmetic right shift; a negative count shifts left with saturation, and a
// count of -15 or less saturates any non-zero value by its sign.
static inline Word16 shr(Word16 x, Word16 n)
{
    if (n >= 0)
        return (Word16)(x >> (n > 15 ? 15 : n));
    if (n > -15)
        return shl(x, (Word16)-n);
    return x == 0 ? 0 : (x < 0 ? EVRC_MIN_16 : EVRC_MAX_16);
}

// Left shift with saturation (any non-zero value saturates from 16 places
// on); a negative count shifts right, a count of -15 or less gives the sign.
static inline Word16 shl(Word16 x, Word16 n)
{
    if (n >= 0)
        return evrc_sat16((int64_t)x << (n > 16 ? 16 : n));
    if (n > -15)
        return shr(x, (Word16)-n);
    return x < 0 ? (Word16)-1 : (Word16)0;
}

// Left shift with saturation by sign; a negative count is an arithmetic right
// shift (31 places or more leave -1 or 0).
static inline Word32 L_shl(Word32 x, Word16 n)
{
    if (n >= 0) {
        if (x == 0)
            return 0;
        return evrc_sat32((int64_t)x << (n > 32 ? 32 : n));
    }
    return x >> (n < -31 ? 31 : -n);
}

static inline Word32 L_shr(Word32 x, Word16 n)
{
    if (n >= 0)
        return x >> (n > 31 ? 31 : n);
    return L_shl(x, n == EVRC_MIN_16 ? EVRC_MAX_16 : (Word16)-n);
}

// Rounding shift: a right shift adds back the last bit shifted out.
static inline Word16 shift_r(Word16 x, Word16 n)
{
    if (n >= 0)
        return shl(x, n);
    if (n < -15)
        return 0;
    Word16 k = (Word16)-n;
    return evrc_sat16((int32_t)(x >> k) + ((x >> (k - 1)) & 1));
}

static inline Word32 L_shift_r(Word32 x, Word16 n)
{
    if (n >= 0)
        return L_shl(x, n);
    if (n < -31)
        return 0;
    Word16 k = (Word16)-n;
    return evrc_sat32((int64_t)(x >> k) + ((x >> (k - 1)) & 1));
}

// Left shifts that bring a non-zero value into 16384..32767 in magnitude
// (negative values by their one's complement); 0 for 0.
static inline Word16 norm_s(Word16 x)
{
    if (x == 0)
        return 0;
    if (x == -1)
        return 15;
    int32_t v = x < 0 ? ~x : x;
    Word16 n = 0;
    while (v < 0x4000) {
        v <<= 1;
        n++;
    }
    return n;
}

static inline Word16 norm_l(Word32 x)
{
    if (x == 0)
        return 0;
    if (x == -1)
        return 31;
    uint32_t v = (uint32_t)(x < 0 ? ~x : x);
    return (Word16)(__builtin_clz(v) - 1);
}

static inline Word16 mult_r(Word16 a, Word16 b)
{
    return evrc_sat16(((int32_t)a * b + 16384) >> 15);
}

static inline Word16 mac_r(Word32 acc, Word16 a, Word16 b)
{
    return round(L_mac(acc, a, b));
}

static inline Word16 msu_r(Word32 acc, Word16 a, Word16 b)
{
    return round(L_msu(acc, a, b));
}

// Q31 x Q15: floor(x c / 2^15), saturated (the only overflow is
// -2^31 x -32768).
static inline Word32 L_mpy_ls(Word32 x, Word16 c)
{
    return evrc_sat32(((int64_t)x * c) >> 15);
}

// Q31 x Q31: floor(x y / 2^31), saturated.
static inline Word32 L_mpy_ll(Word32 x, Word32 y)
{
    return evrc_sat32(((int64_t)x * y) >> 31);
}

extern "C" {

// num / den in Q31 for 0 <= num <= den, den normalised (high half at least
// 16383). Bad input prints a line on standard output and gives 0.
Word32 L_divide(Word32 num, Word32 den);

// 16-bit quotient num / den in Q15: 0 for negative input or num > den, 32767
// when equal.
Word16 evrc_divide_s(Word16 num, Word16 den);

// out[i] = round(L_shl(in[i], 4)).
void evrc_round_shl4(const Word32 *in, Word16 *out, Word16 count);

// Scales x in place so that its largest magnitude has `headroom` spare bits;
// returns the shift applied (negative: the block was scaled down).
Word16 evrc_block_normalise(Word16 *x, Word16 count, Word16 headroom);

// Square root of a normalised Q31 value (0.5..1); Word16 result in Q15.
Word16 evrc_sqrt(Word32 x);

// log2 of a positive Q31 fraction, divided by 32 (Q31): integer part in the
// upper bits, fraction below it.
Word32 evrc_log2(Word32 x);

// 2^(32 x), the inverse of evrc_log2, for x <= 0 (Q31 fraction).
Word32 evrc_pow2(Word32 x);

// Inverse square root of the ETSI basic-math library (x <= 0 gives 0x3FFFFFFF).
Word32 Inv_sqrt(Word32 x);

} // extern "C"
