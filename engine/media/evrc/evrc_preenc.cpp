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

void evrc_impulse_response(Word16 *h, const Word16 *lpc, evrc_weight_factor g1,
                           evrc_weight_factor g2)
{
    Word16 num[EVRC_LPC_ORDER], den[EVRC_LPC_ORDER];
    Word16 x[EVRC_IMPULSE_LEN];
    Word16 mem[EVRC_LPC_ORDER];
    evrc_weight(num, lpc, g1);
    evrc_weight(den, lpc, g2);
    memset(x, 0, sizeof x);
    x[0] = 2048;
    // Numerator A(z/g1), then 1/A(z/g2), then 1/A(z).
    memset(mem, 0, sizeof mem);
    evrc_residual_filter(h, x, num, mem, EVRC_IMPULSE_LEN);
    memset(mem, 0, sizeof mem);
    evrc_synthesis_filter(h, h, den, mem, EVRC_IMPULSE_LEN);
    memset(mem, 0, sizeof mem);
    evrc_synthesis_filter(h, h, lpc, mem, EVRC_IMPULSE_LEN);
}

// Residual of speech[start .. start + len) (indices into the 320-sample
// analysis frames, the 10 older samples before them) with one set of
// coefficients.
static void residual_segment(evrc_encoder_state *st, int start, int len, const Word16 *lpc)
{
    Word16 mem[EVRC_LPC_ORDER];
    memcpy(mem, st->speech + start, sizeof mem);
    evrc_residual_filter(EVRC_RESIDUAL(st) + start, st->speech + EVRC_LPC_ORDER + start, lpc, mem,
                         (Word16)len);
}

// Decimation low-pass (3rd-order all-pole, feedback scaled down by 4) and the
// window of the open-loop pitch search.
#define PITCH_WIN 160
#define PITCH_DEC 4
#define PITCH_DWIN (PITCH_WIN / PITCH_DEC)

// Normalised-correlation pieces of one candidate delay over the window.
typedef struct pitch_corr {
    Word32 c, e0, e1;
} pitch_corr;

static pitch_corr full_corr(const Word16 *x, Word16 d)
{
    pitch_corr pc = {0, 0, 0};
    for (int n = d; n < PITCH_WIN; n++) {
        pc.c = L_mac(pc.c, x[n], x[n - d]);
        pc.e0 = L_mac(pc.e0, x[n], x[n]);
        pc.e1 = L_mac(pc.e1, x[n - d], x[n - d]);
    }
    return pc;
}

static uint64_t isqrt64(uint64_t v)
{
    uint64_t r = 0, bit = (uint64_t)1 << 62;
    while (bit > v)
        bit >>= 2;
    while (bit != 0) {
        if (v >= r + bit) {
            v -= r + bit;
            r = (r >> 1) + bit;
        } else {
            r >>= 1;
        }
        bit >>= 2;
    }
    return r;
}

// c / sqrt(e0 e1) in Q15, 0 when not positive.
static Word16 corr_gain(pitch_corr pc)
{
    if (pc.c <= 0 || pc.e0 <= 0 || pc.e1 <= 0)
        return 0;
    uint64_t den = isqrt64((uint64_t)pc.e0 * (uint64_t)pc.e1);
    if (den == 0)
        return 0;
    uint64_t g = ((uint64_t)pc.c << 15) / den;
    return g > 32767 ? EVRC_MAX_16 : (Word16)g;
}

void evrc_open_loop_pitch(evrc_pitch_state *ps, Word16 half, const Word16 *x, Word16 *delay,
                          Word16 *beta)
{
    Word16 dec[PITCH_DWIN];
    // Each half-frame search filters its own continuous stream: its window
    // in this frame starts exactly where its window of the previous frame
    // ended, so the low-pass carries on from there instead of starting cold
    // (a cold start rings into the first decimated samples and decides the
    // search on weakly periodic frames). The input is not scaled down: quiet
    // residuals would otherwise decimate to all zeros.
    Word16 *m = ps->decim_mem[half != 0];
    int nd = 0;
    for (int n = 0; n < PITCH_WIN; n++) {
        Word32 acc = L_mult(x[n], (Word16)-10224);
        Word32 fb = L_mult(m[0], evrc_tab_pitch_decim_filter[0]);
        fb = L_mac(fb, m[1], evrc_tab_pitch_decim_filter[1]);
        fb = L_mac(fb, m[2], evrc_tab_pitch_decim_filter[2]);
        acc = L_sub(acc, L_shl(fb, 2));
        Word16 y = round(acc);
        m[2] = m[1];
        m[1] = m[0];
        m[0] = y;
        if ((n & (PITCH_DEC - 1)) == 0)
            dec[nd++] = y;
    }
    Word32 best = EVRC_MIN_32;
    Word16 bd = EVRC_MIN_DELAY / PITCH_DEC;
    for (Word16 d = EVRC_MIN_DELAY / PITCH_DEC; d <= EVRC_MAX_DELAY / PITCH_DEC; d++) {
        Word32 r = 0;
        for (int n = d; n < PITCH_DWIN; n++)
            r = L_mac(r, dec[n], dec[n - d]);
        if (r > best) {
            best = r;
            bd = d;
        }
    }
    // Around the decimated peak the delay with the largest cross-correlation
    // wins (the earlier one on a tie); its normalised correlation is the
    // prediction gain.
    Word16 bestd = EVRC_MIN_DELAY;
    Word16 bg = -1;
    Word32 bc = EVRC_MIN_32;
    for (Word16 d = (Word16)(PITCH_DEC * bd - 3); d <= PITCH_DEC * bd + 3; d++) {
        if (d < EVRC_MIN_DELAY || d > EVRC_MAX_DELAY)
            continue;
        pitch_corr c = full_corr(x, d);
        if (bg < 0 || c.c > bc) {
            bc = c.c;
            bg = corr_gain(c);
            bestd = d;
        }
    }
    Word16 b = bg < 0 ? 0 : bg;

    // Stay with the last clearly periodic delay when the new one jumps away
    // from it and the old delay still predicts well enough.
    if (ps->last_good_delay != 0) {
        Word16 lg = ps->last_good_delay;
        Word16 g2 = -1, d2 = lg;
        Word32 c2 = EVRC_MIN_32;
        for (Word16 d = (Word16)(lg - 6); d <= lg + 6; d++) {
            if (d < EVRC_MIN_DELAY || d > EVRC_MAX_DELAY)
                continue;
            pitch_corr c = full_corr(x, d);
            if (g2 < 0 || c.c > c2) {
                c2 = c.c;
                g2 = corr_gain(c);
                d2 = d;
            }
        }
        Word16 half = shr(g2, 1);
        if ((bestd > lg + 6 && half > mult(b, 9830)) || (bestd < lg - 6 && half > mult(b, 19661))) {
            bestd = d2;
            b = g2;
        }
    }
    if (b > 13107) {
        ps->last_good_delay = bestd;
        ps->last_beta = b;
    } else {
        ps->last_beta = mult(ps->last_beta, 24576);
        if (ps->last_beta < 9830)
            ps->last_good_delay = 0;
    }
    *delay = bestd;
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
    Word16 h[EVRC_IMPULSE_LEN];
    evrc_impulse_response(h, pc, EVRC_WEIGHT_1_0, EVRC_WEIGHT_1_0);
    Word32 acc = 0;
    for (int n = 0; n < EVRC_SUBFRAME_MAX; n++)
        acc = L_add(acc, L_shr(L_mult(h[n], h[n]), 4));
    Word16 e = round(acc);
    Word16 t = e;
    for (int i = 0; i < 10; i++)
        t = sub(t, st->frame_energy_prev);
    st->lpc_flag = t > 0 ? 1 : 0;
    st->frame_energy_prev = e;

    memcpy(st->prev_lpc, st->lpc, sizeof st->lpc);
    evrc_weight(st->lpc, pc, EVRC_WEIGHT_0_994);
    evrc_lpc_to_lsp(st->lsp, st->lpc);

    // Residual of both analysis frames: the oldest half with the previous
    // frame's filter, the coded frame with interpolated filters, the
    // look-ahead with this frame's.
    residual_segment(st, 0, EVRC_LOOKAHEAD, st->prev_lpc);
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
    evrc_open_loop_pitch(&st->pitch, 0, EVRC_RESIDUAL(st) + EVRC_LOOKAHEAD, &d1, &b1);
    evrc_open_loop_pitch(&st->pitch, 1, EVRC_RESIDUAL(st) + 2 * EVRC_LOOKAHEAD, &d2, &b2);
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
