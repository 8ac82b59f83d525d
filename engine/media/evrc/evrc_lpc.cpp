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

// P'(z) = (1 + z^-1) prod (1 - 2 cos(w_k) z^-1 + z^-2) over the five LSPs at
// even places of `lsp` (sign -1: Q'(z) with (1 - z^-1) over the odd ones),
// coefficients 0..11 with 1.0 = 2^q, each cosine rounded to Q15 first.
static void lsp_poly(Word32 *f, const Word16 *lsp, Word32 sign, Word16 q)
{
    f[0] = 1L << q;
    f[1] = sign < 0 ? -(1L << q) : (1L << q);
    for (int i = 2; i < 12; i++)
        f[i] = 0;
    Word16 n = 1;
    for (int s = 0; s < 5; s++) {
        Word16 c = round(evrc_cos2pi(lsp[2 * s]));
        n = (Word16)(n + 2);
        for (int j = n; j >= 1; j--) {
            Word32 v = f[j];
            if (j >= 2)
                v = L_add(v, f[j - 2]);
            f[j] = L_sub(v, L_mpy_ls(L_shl(f[j - 1], 1), c));
        }
    }
}

void evrc_lsp_to_lpc(Word16 *lpc, Word16 *lsp)
{
    // The sum polynomial carries one more fractional bit than the difference
    // polynomial; the rounding of the result depends on it.
    Word32 p[12], q[12];
    lsp_poly(p, lsp, 1, 25);
    lsp_poly(q, lsp + 1, -1, 24);
    // A(z) = (P'(z) + Q'(z)) / 2
    for (int i = 1; i <= EVRC_LPC_ORDER; i++)
        lpc[i - 1] = extract_l(L_shr(L_add(L_add(p[i], L_shl(q[i], 1)), 1L << 13), 14));
}

// Coefficients 1..5 of the symmetric halves of A(z) +- z^-11 A(1/z) with their
// trivial roots at z = -1 (sum) and z = 1 (difference) divided out, Q24.
static void lsp_halves(Word32 *p, Word32 *q, const Word16 *lpc)
{
    Word32 prev_p = 1L << 24, prev_q = 1L << 24;
    for (int i = 1; i <= 5; i++) {
        Word32 lo = L_shl(L_deposit_l(lpc[i - 1]), 12);
        Word32 hi = L_shl(L_deposit_l(lpc[EVRC_LPC_ORDER - i]), 12);
        p[i] = L_sub(L_add(lo, hi), prev_p);
        q[i] = L_add(L_sub(lo, hi), prev_q);
        prev_p = p[i];
        prev_q = q[i];
    }
}

// cos(2 pi f k) in Q31 for a frequency f (Q31 fraction of the sampling rate,
// 0..0.5): the table cosine at the LSP unit below the reduced angle, plus a
// first-order step along the sine for the rest.
static Word32 cos_multiple(Word32 f, int k)
{
    uint32_t v = ((uint32_t)f * (uint32_t)k) & 0x7fffffffu; // one period is 2^31
    if (v > 0x40000000u)
        v = 0x80000000u - v;
    Word16 x = (Word16)(v >> 16);
    Word32 c = evrc_cos2pi(x);
    uint32_t frac = v & 0xffffu;
    if (frac != 0) {
        // sin(2 pi x) = cos(2 pi (x - 1/4)); the step is 2 pi frac / 2^31.
        int16_t q = (int16_t)(x - 8192);
        Word32 sine = evrc_cos2pi((Word16)(q < 0 ? -q : q));
        int64_t t = ((int64_t)sine * frac) >> 16;
        c = L_sub(c, (Word32)((t * 1686629713LL) >> 43)); // 2 pi in Q28
    }
    return c;
}

// The half polynomial on the unit circle, cos 5w + h1 cos 4w + ... + h5 / 2
// (a positive factor dropped), Q24.
static Word32 eval_half(const Word32 *h, Word32 f)
{
    Word32 acc = L_shr(cos_multiple(f, 5), 7);
    for (int k = 1; k <= 4; k++)
        acc = L_add(acc, L_mpy_ll(h[k], cos_multiple(f, 5 - k)));
    return L_add(acc, L_shr(h[5], 1));
}

void evrc_lpc_to_lsp(Word16 *lsp, const Word16 *lpc, const Word16 *prev_lsp)
{
    Word32 p[6], q[6];
    lsp_halves(p, q, lpc);
    // Frequencies here are 32-bit fractions of the sampling rate (2^31 = 1).
    const Word32 half_rate = 0x40000000;
    const Word32 step = evrc_tab_a2lsp_steps[0];
    Word32 f = 0;
    Word32 v = eval_half(p, 0);
    for (int k = 0; k < EVRC_LPC_ORDER; k++) {
        const Word32 *h = (k & 1) ? q : p;
        if (k > 0)
            v = eval_half(h, f);
        bool found = false;
        while (f < half_rate) {
            Word32 g = L_add(f, step);
            if (g > half_rate)
                g = half_rate;
            Word32 w = eval_half(h, g);
            if ((v <= 0) != (w <= 0)) {
                // Halve the bracket with the finer steps, then interpolate.
                for (int r = 1; r < 4; r++) {
                    Word32 m = L_add(f, evrc_tab_a2lsp_steps[r]);
                    if (m >= g)
                        continue;
                    Word32 u = eval_half(h, m);
                    if ((v <= 0) == (u <= 0)) {
                        f = m;
                        v = u;
                    } else {
                        g = m;
                        w = u;
                    }
                }
                int64_t span = (int64_t)g - f;
                int64_t den = (int64_t)v - w;
                int64_t root = f + (den != 0 ? span * v / den : span / 2);
                lsp[k] = round((Word32)root);
                f = (Word32)root;
                v = eval_half(h, f);
                found = true;
                break;
            }
            f = g;
            v = w;
        }
        if (!found) {
            memcpy(lsp, prev_lsp, sizeof(Word16) * EVRC_LPC_ORDER);
            return;
        }
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
