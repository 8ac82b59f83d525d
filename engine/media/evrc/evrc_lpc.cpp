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

void evrc_lsp_to_lpc(Word16 *lpc, Word16 *lsp)
{
    // An LSP vector that leaves 0..0.5 is spread evenly between its
    // (clamped) ends, in place, so the caller keeps the repaired vector.
    if (lsp[0] <= 0 || lsp[EVRC_LPC_ORDER - 1] >= 16384) {
        if (lsp[0] <= 0)
            lsp[0] = 721;
        if (lsp[EVRC_LPC_ORDER - 1] >= 16384)
            lsp[EVRC_LPC_ORDER - 1] = 16351;
        Word16 step = round(L_mult(sub(lsp[EVRC_LPC_ORDER - 1], lsp[0]), 3277));
        for (int k = 1; k < EVRC_LPC_ORDER; k++)
            lsp[k] = add(lsp[k - 1], step);
    }
    Word16 c[5], d[5];
    for (int k = 0; k < 5; k++) {
        c[k] = round(evrc_cos2pi(lsp[2 * k]));
        d[k] = round(evrc_cos2pi(lsp[2 * k + 1]));
    }
    // A(z) = (P(z) + Q(z)) / 2 as the impulse response of the two cascades
    // of second-order sections 1 - 2 cos(w) z^-1 + z^-2, after (1 + z^-1)
    // and (1 - z^-1).
    Word32 pa[5][2], pb[5][2];
    memset(pa, 0, sizeof pa);
    memset(pb, 0, sizeof pb);
    Word32 xp = 0;
    for (int t = 0; t <= EVRC_LPC_ORDER; t++) {
        Word32 x = t == 0 ? 0x20000000 : 0;
        Word32 al = L_shr(L_add(x, xp), 4);
        Word32 be = L_shr(L_sub(x, xp), 4);
        xp = x;
        for (int k = 0; k < 5; k++) {
            Word32 an = L_add(L_sub(al, L_mpy_ls(L_shl(pa[k][0], 1), c[k])), pa[k][1]);
            pa[k][1] = pa[k][0];
            pa[k][0] = al;
            al = an;
            Word32 bn = L_add(L_shl(L_sub(L_shr(be, 1), L_mpy_ls(pb[k][0], d[k])), 1), pb[k][1]);
            pb[k][1] = pb[k][0];
            pb[k][0] = be;
            be = bn;
        }
        if (t >= 1)
            lpc[t - 1] = round(L_shl(L_add(al, be), 2));
    }
}

// Coefficients 1..5 of the symmetric halves of A(z) +- z^-11 A(1/z) with their
// trivial roots at z = -1 (sum) and z = 1 (difference) divided out, Q23; the
// last one is halved, as the Chebyshev sum below counts it once.
static void lsp_halves(Word32 *p, Word32 *q, const Word16 *lpc)
{
    Word32 prev_p = 1L << 23;
    p[0] = prev_p;
    q[0] = prev_p;
    q[1] = L_add(L_shr(L_deposit_h(sub(lpc[0], lpc[9])), 5), prev_p);
    for (int j = 1; j <= 5; j++) {
        Word32 lo = L_shr(L_deposit_h(lpc[j - 1]), 5);
        Word32 hi = L_shr(L_deposit_h(lpc[EVRC_LPC_ORDER - j]), 5);
        p[j] = L_sub(L_add(lo, hi), p[j - 1]);
        if (j > 1)
            q[j] = L_add(L_sub(lo, hi), q[j - 1]);
    }
    p[5] = L_shr(p[5], 1);
    q[5] = L_shr(q[5], 1);
}

// The half polynomial at frequency f (2^30 = half the sampling rate) by the
// Chebyshev recursion in x = cos(2 pi f), Q23.
static Word32 eval_half(const Word32 *k, Word32 f)
{
    Word32 x = L_shr(evrc_cos2pi(round(f)), 1);
    Word32 t2 = 0, t1 = 1L << 23;
    for (int j = 2; j <= 6; j++) {
        Word32 s = j == 6 ? L_shr(x, 1) : x;
        Word32 t = L_add(L_sub(L_shl(L_mpy_ll(s, t1), 2), t2), k[j - 1]);
        t2 = t1;
        t1 = t;
    }
    return t1;
}

void evrc_lpc_to_lsp(Word16 *lsp, const Word16 *lpc)
{
    Word32 poly[2][6];
    lsp_halves(poly[0], poly[1], lpc);
    // The roots of the two halves interlace: they are found in turn along one
    // sweep, each on a coarse grid, then bracketed in three halving steps.
    // The sweep resumes from the coarse point past each root.
    const Word32 half_rate = 0x40000000;
    Word32 prev[2] = {EVRC_MAX_32, EVRC_MAX_32};
    Word32 f = 0;
    for (int k = 0; k < EVRC_LPC_ORDER; k++) {
        const Word32 *h = poly[k & 1];
        Word32 *pv = &prev[k & 1];
        int level = 0;
        Word32 step = evrc_tab_a2lsp_steps[0];
        Word32 coarse = f;
        for (;;) {
            Word32 v = eval_half(h, f);
            bool crossing = (v > 0 && *pv < 0) || (v < 0 && *pv > 0) || v == 0 || f >= half_rate;
            if (!crossing) {
                *pv = v;
                f = L_add(f, step);
                continue;
            }
            if (level == 3) {
                lsp[k] =
                    L_abs(v) < L_abs(*pv) ? round(f) : round(L_sub(f, evrc_tab_a2lsp_steps[3]));
                *pv = *pv < 0 ? EVRC_MAX_32 : EVRC_MIN_32;
                f = coarse;
                break;
            }
            if (level == 0)
                coarse = f;
            level++;
            step = evrc_tab_a2lsp_steps[level];
            f = L_sub(f, step);
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
