// EVRC encoder front end: input high-pass filter, LPC analysis, the frame's
// residual and the open-loop pitch search that run before the rate decision.
#include "evrc_encode.h"
#include "evrc_synth.h"
#include "evrc_tables.h"

#include <cstdio>
#include <cstring>

void evrc_highpass_filter(evrc_highpass_state *hp, Word16 *samples)
{
    for (int n = 0; n < EVRC_FRAME_LEN; n++) {
        Word16 in = samples[n];
        for (int k = 0; k < 3; k++) {
            const int16_t *c = evrc_tab_highpass_biquads[k];
            Word32 acc = L_mult(hp->x[k][1], c[0]);
            acc = L_mac(acc, hp->x[k][0], c[1]);
            acc = L_mac(acc, in, c[2]);
            acc = L_shr(acc, 4);
            acc = L_sub(acc, L_mpy_ls(hp->y[k][1], c[3]));
            acc = L_sub(acc, L_mpy_ls(hp->y[k][0], c[4]));
            acc = L_shl(acc, 2);
            hp->x[k][1] = hp->x[k][0];
            hp->x[k][0] = in;
            hp->y[k][1] = hp->y[k][0];
            hp->y[k][0] = acc;
            in = round(L_shl(acc, 4));
        }
        samples[n] = in;
    }
}

void evrc_windowed_autocorr(Word32 *r, Word16 *shift, const Word16 *frame)
{
    Word16 y[EVRC_FRAME_LEN];
    for (int n = 0; n < EVRC_FRAME_LEN; n++)
        y[n] = mult_r(frame[n], evrc_tab_hamming160[n]);

    // Energy with block scaling: whenever the running sum passes 2^30 it is
    // halved and every later product is shifted one place more, so all lags
    // end up with the same scale (s - 1).
    Word16 s = 1;
    Word32 sum = 0;
    for (int n = 0; n < EVRC_FRAME_LEN; n++) {
        sum = L_add(sum, L_shr(L_mult(y[n], y[n]), s));
        if (sum > 0x40000000) {
            sum = L_shr(sum, 1);
            s++;
        }
    }
    Word32 r0 = L_shl(sum, 1);
    Word16 k = norm_l(r0);
    *shift = (Word16)(k + 3 - (s - 1));
    r[0] = L_shl(r0, k);
    for (int j = 1; j < EVRC_ACF_LAGS; j++) {
        Word32 acc = 0;
        for (int n = 0; n < EVRC_FRAME_LEN - j; n++)
            acc = L_add(acc, L_shr(L_mult(y[n], y[n + j]), (Word16)(s - 1)));
        r[j] = L_shl(acc, k);
    }
    for (int j = 0; j < EVRC_ACF_LAGS; j++)
        r[j] = L_mpy_ll(r[j], evrc_tab_lag_window_long[j]);
}

void durbin(const Word32 *r, Word16 *refl, Word16 *lpc)
{
    Word32 a[EVRC_LPC_ORDER + 1], tmp[EVRC_LPC_ORDER + 1];
    if (r[0] <= 1) {
        // A silent frame (R(0) = 0) is normal; anything else is not.
        if (r[0] != 0)
            fputs("Ill condition in durbin.\n", stderr);
        memset(refl, 0, EVRC_LPC_ORDER * sizeof(Word16));
        memset(lpc, 0, EVRC_LPC_ORDER * sizeof(Word16));
        return;
    }
    memset(a, 0, sizeof a);
    Word32 err = r[0];
    for (int i = 1; i <= EVRC_LPC_ORDER; i++) {
        Word32 sum = 0;
        Word16 scale = 1;
        for (int j = 1; j < i; j++) {
            sum = L_add(sum, L_shr(L_mpy_ll(a[j], r[i - j]), scale));
            if (sum > 0x40000000 || sum < -0x40000000) {
                sum = L_shr(sum, 1);
                scale++;
            }
        }
        sum = L_shl(sum, (Word16)(scale + 3));
        Word32 num = L_sub(r[i], sum);
        Word32 k = 0;
        // Once the error is 30 dB below R(0) the higher orders add nothing.
        if (err >= L_shr(r[0], 10)) {
            Word16 n = norm_l(err);
            k = L_shl(L_divide(L_abs(num), L_shl(err, n)), n);
            if (num < 0)
                k = L_negate(k);
        }
        for (int j = 1; j < i; j++)
            tmp[j] = L_sub(a[j], L_mpy_ll(k, a[i - j]));
        for (int j = 1; j < i; j++)
            a[j] = tmp[j];
        if (i < EVRC_LPC_ORDER)
            err = L_sub(err, L_mpy_ll(num, k));
        a[i] = L_shr(L_add(k, 4), 3);
        refl[i - 1] = round(k);
    }
    for (int i = 0; i < EVRC_LPC_ORDER; i++)
        lpc[i] = negate(round(a[i + 1]));
}

void evrc_weighted_impulse(Word16 *h, const Word16 *p, const Word16 *num, const Word16 *den)
{
    const int n_out = EVRC_IMPULSE_LEN - 1;
    Word16 mem[EVRC_LPC_ORDER];
    memset(mem, 0, sizeof mem);
    mem[0] = 2048;
    h[0] = 2048;
    for (int n = 1; n < n_out; n++) {
        Word32 acc = 0;
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_msu(acc, mem[j], p[j]);
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        h[n] = round(L_shl(acc, 3));
        mem[0] = h[n];
    }
    memset(mem, 0, sizeof mem);
    mem[0] = 2048;
    for (int n = 1; n < n_out; n++) {
        Word32 acc = L_shr(L_deposit_h(h[n]), 3);
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_mac(acc, mem[j], num[j]);
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        mem[0] = h[n];
        h[n] = round(L_shl(acc, 3));
    }
    memset(mem, 0, sizeof mem);
    mem[0] = 2048;
    for (int n = 1; n < n_out; n++) {
        Word32 acc = L_shr(L_deposit_h(h[n]), 3);
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_msu(acc, mem[j], den[j]);
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        h[n] = round(L_shl(acc, 3));
        mem[0] = h[n];
    }
    h[n_out] = 0;
}

// Residual of speech[start .. start + len) (indices into the 320-sample
// analysis frames, the 10 older samples before them) with one set of
// coefficients.
static void residual_segment(evrc_encoder_state *st, int start, int len, const Word16 *lpc)
{
    // The memory is the input history, the newest sample first.
    Word16 mem[EVRC_LPC_ORDER];
    for (int j = 0; j < EVRC_LPC_ORDER; j++)
        mem[j] = st->speech[start + EVRC_LPC_ORDER - 1 - j];
    evrc_enc_allzero(EVRC_RESIDUAL(st) + start, st->speech + EVRC_LPC_ORDER + start, lpc, mem, len);
}

#define PITCH_WIN 160
#define PITCH_DEC 4
#define PITCH_DMIN 5
#define PITCH_DMAX 30

// A correlation sum with its block scaling: the sum carries 2^(1 - scale)
// of the plain sum of products.
typedef struct scaled_sum {
    Word32 acc;
    Word16 scale;
} scaled_sum;

// Sum of u[i] v[i], i < n: each product shifted by the current scale, the
// sum halved (and the scale raised) whenever it reaches 2^30.
static scaled_sum block_sum(const Word16 *u, const Word16 *v, int n)
{
    scaled_sum r = {0, 1};
    for (int i = 0; i < n; i++) {
        r.acc = L_add(r.acc, L_shr(L_mult(u[i], v[i]), r.scale));
        if (L_abs(r.acc) >= 0x40000000) {
            r.acc = L_shr(r.acc, 1);
            r.scale++;
        }
    }
    return r;
}

// Whether a beats b once both are brought to the coarser scale.
static bool sum_beats(scaled_sum a, scaled_sum b)
{
    if (b.scale >= a.scale)
        return L_shr(a.acc, (Word16)(b.scale - a.scale)) > b.acc;
    return a.acc > L_shr(b.acc, (Word16)(a.scale - b.scale));
}

// Lag in lo..hi with the largest autocorrelation of x (n samples), the
// smallest lag on ties.
static Word16 best_lag(const Word16 *x, int n, Word16 lo, Word16 hi, scaled_sum *best)
{
    best->acc = EVRC_MIN_32;
    best->scale = 1;
    Word16 lag = lo;
    for (Word16 k = lo; k <= hi; k++) {
        scaled_sum c = block_sum(x, x + k, n - k);
        if (sum_beats(c, *best)) {
            *best = c;
            lag = k;
        }
    }
    return lag;
}

// Normalised correlation c / sqrt(e0 e1) of the window at delay d (Q15);
// `at_least` makes a quotient equal to one saturate too.
static Word16 pitch_gain(const Word16 *x, Word16 d, scaled_sum c, bool at_least)
{
    scaled_sum e1 = block_sum(x + d, x + d, PITCH_WIN - d);
    scaled_sum e0 = block_sum(x, x, PITCH_WIN - d);
    Word16 n1 = norm_l(e1.acc), n0 = norm_l(e0.acc);
    Word32 p = L_mpy_ll(L_shl(e1.acc, n1), L_shl(e0.acc, n0));
    Word16 np = norm_l(p);
    Word16 q = evrc_sqrt(L_shl(p, np));
    Word16 n = (Word16)(np + n1 + n0 - e0.scale - e1.scale);
    Word32 den = (n & 1) ? L_mult(q, 23170) : L_deposit_h(q);
    Word32 num = L_shl(c.acc, (Word16)(shr(n, 1) + c.scale));
    if (den == 0 || num <= 0)
        return 0;
    if (num > den || (at_least && num == den))
        return EVRC_MAX_16;
    return round(L_divide(num, den));
}

void evrc_open_loop_pitch(evrc_pitch_state *ps, const Word16 *x, Word16 *delay, Word16 *beta)
{
    // Decimation by 4 after a 3-pole low-pass; only the newest 80 samples
    // enter, the older half of the window was filtered by the previous search.
    Word16 *dec = ps->dec;
    Word16 *m = ps->decim_mem;
    memmove(dec, dec + 20, 20 * sizeof(Word16));
    const int16_t *c = evrc_tab_pitch_decim_filter;
    for (int j = 0; j < 80; j++) {
        Word32 w = L_shr(L_deposit_h(x[80 + j]), 4);
        w = L_msu(w, m[0], c[0]);
        w = L_msu(w, m[1], c[1]);
        w = L_msu(w, m[2], c[2]);
        w = L_shl(w, 2);
        if ((j & 3) == 3) {
            Word32 o = L_add(w, L_deposit_h(m[2]));
            o = L_mac(o, m[0], -10224);
            o = L_mac(o, m[1], -10224);
            dec[20 + (j >> 2)] = round(L_shl(o, 1));
        }
        m[2] = m[1];
        m[1] = m[0];
        m[0] = round(w);
    }

    scaled_sum cd;
    Word16 kd = best_lag(dec, EVRC_PITCH_DEC_LEN, PITCH_DMIN, PITCH_DMAX, &cd);
    Word16 lg = ps->last_good_delay;
    if (lg != 0 && abs_s(sub(lg, shl(kd, 2))) > 2) {
        // A decimated peak near the last good delay wins unless the global
        // one is clearly stronger.
        Word16 lo = (Word16)((lg >> 2) - 2);
        if (lo < PITCH_DMIN)
            lo = PITCH_DMIN;
        Word16 hi = (Word16)(lo + 4 > PITCH_DMAX ? PITCH_DMAX : lo + 4);
        scaled_sum c2;
        Word16 k2 = best_lag(dec, EVRC_PITCH_DEC_LEN, lo, hi, &c2);
        Word32 b = L_mpy_ls(cd.acc, 27361);
        if (c2.scale >= cd.scale ? L_shr(b, (Word16)(c2.scale - cd.scale)) < c2.acc
                                 : b < L_shr(c2.acc, (Word16)(cd.scale - c2.scale)))
            kd = k2;
    }

    Word16 lo = (Word16)(4 * kd - 3 < EVRC_MIN_DELAY ? EVRC_MIN_DELAY : 4 * kd - 3);
    Word16 hi = (Word16)(4 * kd + 3 > EVRC_MAX_DELAY ? EVRC_MAX_DELAY : 4 * kd + 3);
    scaled_sum cf;
    Word16 d = best_lag(x, PITCH_WIN, lo, hi, &cf);
    Word16 b = pitch_gain(x, d, cf, false);

    // Stay with the last clearly periodic delay when the new one jumps away
    // from it and the old delay still predicts well enough.
    if (lg != 0) {
        Word16 w1 = (Word16)(lg - 6 < EVRC_MIN_DELAY ? EVRC_MIN_DELAY : lg - 6);
        Word16 w2 = (Word16)(lg + 6 > EVRC_MAX_DELAY ? EVRC_MAX_DELAY : lg + 6);
        if (d > w2 || d < w1) {
            scaled_sum c2;
            Word16 d2 = best_lag(x, PITCH_WIN, w1, w2, &c2);
            Word16 t = pitch_gain(x, d2, c2, true);
            if ((d > w2 && shr(t, 1) > mult_r(9830, b)) ||
                (d < w1 && shr(t, 1) > mult_r(19661, b))) {
                d = d2;
                b = t;
            }
        }
    }
    if (b > 13107) {
        ps->last_good_delay = d;
        ps->last_beta = b;
    } else {
        ps->last_beta = mult_r(24576, ps->last_beta);
        if (ps->last_beta < 9830)
            ps->last_good_delay = 0;
    }
    *delay = d;
    *beta = b;
}

Word16 evrc_pre_encode(evrc_encoder *enc, const Word16 *samples, Word32 *autocorr)
{
    evrc_encoder_state *st = &enc->st;
    Word16 *sp = st->speech;
    memmove(sp, sp + EVRC_FRAME_LEN, (EVRC_LPC_ORDER + EVRC_FRAME_LEN) * sizeof(Word16));
    memcpy(sp + EVRC_LPC_ORDER + EVRC_FRAME_LEN, samples, EVRC_FRAME_LEN * sizeof(Word16));

    Word16 shift;
    Word16 refl[EVRC_LPC_ORDER], pc[EVRC_LPC_ORDER];
    evrc_windowed_autocorr(autocorr, &shift, sp + EVRC_LPC_ORDER + EVRC_FRAME_LEN);
    durbin(autocorr, refl, pc);
    for (int j = 0; j < EVRC_ACF_LAGS; j++)
        autocorr[j] = L_shr(autocorr[j], shift);

    // LPC flag: the synthesis filter's gain jumped by more than ten times.
    // (The unexpanded coefficients in all three stages.)
    Word16 h[EVRC_IMPULSE_LEN];
    evrc_weighted_impulse(h, pc, pc, pc);
    Word32 acc = 0;
    for (int n = 0; n < EVRC_SUBFRAME_MAX; n++)
        acc = L_add(acc, L_shr(L_mult(h[n], h[n]), 4));
    Word16 e = round(acc);
    Word16 t = e;
    for (int i = 0; i < 10; i++)
        t = sub(t, st->frame_energy_prev);
    st->lpc_flag = t > 0 ? 1 : 0;
    st->frame_energy_prev = e;

    evrc_weight(st->lpc, pc, EVRC_WEIGHT_0_994);
    evrc_lpc_to_lsp(st->lsp, st->lpc);

    // Residual of both analysis frames: the oldest half with the previous
    // frame's filter, the coded frame with interpolated filters, the
    // look-ahead with this frame's.
    // The oldest part is filtered again with the previous frame's LSPs
    // converted back, from a zero memory (the far end's packets were made
    // so; the previous frame's expanded coefficients differ in rounding).
    Word16 old_lpc[EVRC_LPC_ORDER];
    evrc_lsp_to_lpc(old_lpc, st->prev_lsp);
    Word16 mem[EVRC_LPC_ORDER];
    memset(mem, 0, sizeof mem);
    evrc_enc_allzero(EVRC_RESIDUAL(st), st->speech + EVRC_LPC_ORDER, old_lpc, mem, EVRC_LOOKAHEAD);
    int start = EVRC_LOOKAHEAD;
    for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 lsp[EVRC_LPC_ORDER], lpc[EVRC_LPC_ORDER];
        evrc_interpolate_lsp(lsp, st->prev_lsp, st->lsp, i);
        evrc_lsp_to_lpc(lpc, lsp);
        residual_segment(st, start, evrc_subframe_len[i], lpc);
        start += evrc_subframe_len[i];
    }
    residual_segment(st, start, EVRC_LOOKAHEAD, st->lpc);

    Word16 d1, b1, d2, b2;
    evrc_open_loop_pitch(&st->pitch, EVRC_RESIDUAL(st) + EVRC_LOOKAHEAD, &d1, &b1);
    evrc_open_loop_pitch(&st->pitch, EVRC_RESIDUAL(st) + 2 * EVRC_LOOKAHEAD, &d2, &b2);
    Word16 delay = d2, beta = b2;
    if (sub(b1, 13107) > b2) {
        if (abs_s(sub(d1, d2)) > 15) {
            delay = d1;
            beta = b1;
        } else {
            beta = shr(add(b1, b2), 1);
            delay = shr(add(d1, d2), 1);
        }
    }
    st->open_loop_delay = delay;
    st->beta = beta;
    return beta;
}
