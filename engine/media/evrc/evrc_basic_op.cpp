// Out-of-line fixed-point helpers of the EVRC codec: division, block
// normalisation and the polynomial square root, logarithm and power of two.
#include "evrc_basic_op.h"

#include "evrc_tables.h"

#include <cstdio>

Word16 evrc_divide_s(Word16 num, Word16 den)
{
    if (num < 0 || den <= 0 || num > den)
        return 0;
    if (num == den)
        return EVRC_MAX_16;
    return (Word16)(((int32_t)num << 15) / den);
}

Word32 L_divide(Word32 num, Word32 den)
{
    if (num < 0 || den < 0 || num > den) {
        fputs("ERROR: Invalid input into L_divide!\n", stdout);
        return 0;
    }
    // Reciprocal seed from the high half of the denominator, refined by one
    // Newton step: r' = r (2 - den r).
    Word16 r = evrc_divide_s(0x3fff, extract_h(den));
    Word32 e = L_sub(EVRC_MAX_32, L_mpy_ls(den, r));
    Word32 recip = L_mpy_ls(e, r);
    return L_shl(L_mpy_ll(num, recip), 2);
}

void evrc_round_shl4(const Word32 *in, Word16 *out, Word16 count)
{
    for (Word16 i = 0; i < count; i++)
        out[i] = round(L_shl(in[i], 4));
}

Word16 evrc_block_normalise(Word16 *x, Word16 count, Word16 headroom)
{
    Word16 m = 0;
    for (Word16 i = 0; i < count; i++) {
        Word16 a = abs_s(x[i]);
        if (a > m)
            m = a;
    }
    Word16 s = sub(norm_s(m), headroom);
    for (Word16 i = 0; i < count; i++)
        x[i] = shift_r(x[i], s);
    return s;
}

Word16 evrc_sqrt(Word32 x)
{
    // Taylor series of sqrt(1 + 2h) around 1 with h = (y - 1) / 2:
    // 1 + h - h^2/2 + h^3/2 - 5h^4/8 + 7h^5/8.
    Word32 acc = L_sub(L_shr(x, 1), 0x40000000);
    Word16 h = extract_h(acc);
    acc = L_sub(acc, EVRC_MIN_32); // + 1.0, which does not fit in Q31 on its own
    Word32 t = L_msu(0, h, h);     // -h^2
    Word16 h2n = extract_h(t);
    acc = L_add(acc, L_shr(t, 1));
    t = L_msu(0, h, h2n); // h^3
    Word16 h3 = extract_h(t);
    acc = L_add(acc, L_shr(t, 1));
    Word16 h4 = round(L_mult(h, h3));
    Word16 h5 = round(L_msu(0, h2n, h3));
    acc = L_msu(acc, 0x5000, h4);
    return mac_r(acc, 0x7000, h5);
}

Word32 evrc_log2(Word32 x)
{
    Word16 shift = norm_l(x);
    Word32 m32 = L_shl(x, shift);
    Word16 exponent = negate(add(shift, 1));
    Word16 m = extract_h(m32);
    Word16 m2 = mult_r(m, m);
    Word32 acc = L_mult(m2, evrc_tab_log2_poly[0]);
    acc = L_mac(acc, m, evrc_tab_log2_poly[1]);
    acc = L_add(acc, L_deposit_h(evrc_tab_log2_poly[2]));
    // The polynomial gives log2(m) / 4 in -0.25..0; as a fraction of 1/32 it
    // becomes the fractional part once the sign bits are masked off.
    acc = L_shr(acc, 3) & 0x03ffffff;
    return L_add(acc, L_deposit_h(shl(exponent, 10)));
}

Word32 evrc_pow2(Word32 x)
{
    Word32 acc = L_mult(extract_h(x), 0x0020);
    Word16 integer = extract_h(acc);
    Word16 shift = sub(-1, integer);
    // Fraction f in 0..1 becomes f - 1 in Q15, where 2^(f - 1) lies in 0.5..1.
    acc = (acc & 0xffff) + L_deposit_h(-1);
    Word16 f = extract_l(L_shr(acc, 1));
    Word16 f2 = mult_r(f, f);
    acc = L_mult(f2, evrc_tab_exp2_poly[0]);
    acc = L_mac(acc, f, evrc_tab_exp2_poly[1]);
    acc = L_add(acc, L_deposit_h(evrc_tab_exp2_poly[2]));
    if (shift > 0)
        acc = L_shr(acc, shift);
    return acc;
}

Word32 Inv_sqrt(Word32 x)
{
    if (x <= 0)
        return 0x3fffffff;
    Word16 e = norm_l(x);
    x = L_shl(x, e);
    e = sub(30, e);
    if ((e & 1) == 0)
        x = L_shr(x, 1);
    e = add(shr(e, 1), 1);
    x = L_shr(x, 9);
    Word16 i = sub(extract_h(x), 16);
    Word16 a = (Word16)(extract_l(L_shr(x, 1)) & 0x7fff);
    Word32 y = L_deposit_h(evrc_tab_inv_sqrt[i]);
    y = L_msu(y, sub(evrc_tab_inv_sqrt[i], evrc_tab_inv_sqrt[i + 1]), a);
    return L_shr(y, e);
}
