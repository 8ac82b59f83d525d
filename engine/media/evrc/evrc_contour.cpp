// Fractional-delay interpolation along the pitch delay contour.
#include "evrc_synth.h"
#include "evrc_tables.h"

void evrc_interp_sample(Word16 *out, const Word16 *in, Word32 delay, Word16 factor,
                        Word16 half_length)
{
    Word16 h = extract_h(delay); // delay in 1/256 sample
    Word16 whole = add(shr(h, 8), (Word16)(shr(h, 7) & 1));
    // Distance from the rounded delay to the true one, to the nearest 1/8 sample.
    Word32 r = L_shl(L_sub(L_shl(L_deposit_l(whole), 24), delay), 1);
    Word16 phase = shr(add(extract_h(r), 0x120), 6);
    if (phase == 8) {
        phase = 0;
        whole = sub(whole, 1);
    }
    const int16_t *taps =
        factor == 29491 ? evrc_tab_bl_interp_fl8[phase] : evrc_tab_bl_interp_fl3[phase];
    const Word16 *x = in - (whole + half_length);
    Word32 acc = 0;
    for (int k = 0; k <= 2 * half_length; k++)
        acc = L_mac(acc, x[k], taps[k]);
    *out = round(acc);
}

void evrc_delay_contour_acb(Word16 *out, const Word16 *in, const Word32 *delays, Word16 len,
                            Word16 factor, Word16 half_length)
{
    // 32 / len in Q31: the per-sample step in Q24 is the Q19 delay change times it.
    const Word32 c = len == 53 ? 0x4D4873EB : 0x4BDA12F7;
    Word32 d = L_shl(delays[0], 8);
    Word32 step = L_mpy_ll(c, L_shl(L_sub(delays[1], delays[0]), 3));
    evrc_interp_sample(out, in, d, factor, half_length);
    for (int n = 1; n < len; n++) {
        d = L_add(d, step);
        evrc_interp_sample(out + n, in + n, d, factor, half_length);
    }
    d = L_shl(delays[1], 8);
    step = L_mpy_ll(c, L_shl(L_sub(delays[2], delays[1]), 3));
    evrc_interp_sample(out + len, in + len, d, factor, half_length);
    for (int n = len + 1; n < len + EVRC_EXTRA; n++) {
        d = L_add(d, step);
        evrc_interp_sample(out + n, in + n, d, factor, half_length);
    }
}

void evrc_decode_acb(Word16 *exc, Word16 gain, const Word32 *delays, Word16 len)
{
    evrc_delay_contour_acb(exc, exc, delays, len, 29491, 8);
    for (int n = 0; n < len; n++)
        exc[n] = round(L_shl(L_mult(exc[n], gain), 1));
}
