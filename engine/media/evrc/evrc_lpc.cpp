// LSP and LPC conversions, interpolation and the order-10 filters.
#include "evrc_synth.h"
#include "evrc_tables.h"

#include <cstring>

Word32 evrc_cos2pi(Word16 x)
{
    Word16 ax = abs_s(x);
    Word16 i = shr(ax, 7);
    if (i > 128)
        i = 128;
    // r = 128 i - |x| is the (non-positive) distance from the table point;
    // cos(a - d) = cos a + (-d) sin a - d^2 / 2 cos a with d = 2 pi r, Q25.
    Word16 r = sub(shl(i, 7), ax);
    Word32 t1 = L_mpy_ls(L_mult(r, 3217), evrc_tab_sin129[i]);
    Word16 h = round(L_mult(r, 10106));
    Word32 t2 = L_mpy_ls(L_mult(h, r), evrc_tab_cos129[i]);
    return L_add(L_deposit_h(evrc_tab_cos129[i]), L_shl(L_sub(t1, t2), 6));
}

// Coefficients 0..5 of prod (1 - 2 cos(w_k) z^-1 + z^-2) over five LSPs
// (every other entry of `lsp`), Q24. The product is symmetric, so only its
// first half is formed: before a section is applied, f[i] equals f[i - 2].
// Coefficients 0..5 of prod (1 - 2 cos(w_k) z^-1 + z^-2) over five LSPs
// (every other entry of `lsp`), Q24, with each cosine rounded to Q15. The
// product is symmetric, so only its first half is formed: before a section
// is applied, f[i] equals f[i - 2].
static void lsp_poly(Word32 *f, const Word16 *lsp)
{
    f[0] = 1L << 24;
    Word16 c = round(evrc_cos2pi(lsp[0]));
    f[1] = L_msu(0, c, 512);
    for (int i = 2; i <= 5; i++) {
        c = round(evrc_cos2pi(lsp[2 * (i - 1)]));
        f[i] = f[i - 2];
        for (int j = i; j >= 2; j--) {
            f[j] = L_add(f[j], f[j - 2]);
            f[j] = L_sub(f[j], L_mpy_ls(L_shl(f[j - 1], 1), c));
        }
        f[1] = L_msu(f[1], c, 512);
    }
}

void evrc_lsp_to_lpc(Word16 *lpc, Word16 *lsp)
{
    Word32 f1[6], f2[6];
    lsp_poly(f1, lsp);
    lsp_poly(f2, lsp + 1);
    // A(z) = (P(z) (1 + z^-1) + Q(z) (1 - z^-1)) / 2
    for (int i = 5; i >= 1; i--) {
        f1[i] = L_add(f1[i], f1[i - 1]);
        f2[i] = L_sub(f2[i], f2[i - 1]);
    }
    for (int i = 1; i <= 5; i++) {
        lpc[i - 1] = extract_l(L_shr(L_add(L_add(f1[i], f2[i]), 1L << 12), 13));
        lpc[10 - i] = extract_l(L_shr(L_add(L_sub(f1[i], f2[i]), 1L << 12), 13));
    }
}

void evrc_interpolate_lsp(Word16 *out, const Word16 *prev, const Word16 *cur, Word16 subframe)
{
    Word16 frac = evrc_tab_lsp_interp[0][subframe];
    Word16 shift = evrc_tab_lsp_interp[1][subframe];
    for (int k = 0; k < EVRC_LPC_ORDER; k++) {
        Word32 acc = L_deposit_h(prev[k]);
        acc = L_add(acc, L_shl(L_mult(sub(cur[k], prev[k]), frac), shift));
        out[k] = round(acc);
    }
}

void evrc_interpolate_delay(Word32 *contour, Word16 prev_delay, Word16 delay, Word16 subframe)
{
    Word16 d = sub(delay, prev_delay);
    for (int k = 0; k < 3; k++) {
        Word16 t = evrc_tab_delay_interp[0][subframe + k];
        Word16 shift = evrc_tab_delay_interp[1][subframe + k];
        contour[k] = L_add(L_deposit_h(prev_delay), L_shl(L_mult(d, t), shift));
    }
}

void evrc_synthesis_filter(Word16 *out, const Word16 *in, const Word16 *lpc, Word16 *mem,
                           Word16 len)
{
    Word16 y[EVRC_LPC_ORDER + EVRC_FRAME_LEN];
    memcpy(y, mem, sizeof(Word16) * EVRC_LPC_ORDER);
    for (int n = 0; n < len; n++) {
        Word32 acc = L_mult(in[n], 4096);
        for (int k = 0; k < EVRC_LPC_ORDER; k++)
            acc = L_msu(acc, lpc[k], y[EVRC_LPC_ORDER + n - 1 - k]);
        y[EVRC_LPC_ORDER + n] = round(L_shl(acc, 3));
        out[n] = y[EVRC_LPC_ORDER + n];
    }
    memcpy(mem, y + len, sizeof(Word16) * EVRC_LPC_ORDER);
}

void evrc_residual_filter(Word16 *out, const Word16 *in, const Word16 *lpc, Word16 *mem, Word16 len)
{
    Word16 x[EVRC_LPC_ORDER + EVRC_FRAME_LEN];
    memcpy(x, mem, sizeof(Word16) * EVRC_LPC_ORDER);
    memcpy(x + EVRC_LPC_ORDER, in, sizeof(Word16) * len);
    for (int n = 0; n < len; n++) {
        Word32 acc = L_mult(x[EVRC_LPC_ORDER + n], 4096);
        for (int k = 0; k < EVRC_LPC_ORDER; k++)
            acc = L_mac(acc, lpc[k], x[EVRC_LPC_ORDER + n - 1 - k]);
        out[n] = round(L_shl(acc, 3));
    }
    memcpy(mem, x + len, sizeof(Word16) * EVRC_LPC_ORDER);
}
