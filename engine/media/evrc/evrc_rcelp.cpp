// RCELP signal modification of the EVRC encoder: the residual is warped,
// segment by segment around its pitch pulses, so that it follows the delay
// contour that the decoder will interpolate.
#include "evrc_encode.h"
#include "evrc_synth.h"
#include "evrc_tables.h"

#include <cstdio>
#include <cstring>

// Residual samples available before the subframe and the analysis length.
#define RES_LEN (2 * EVRC_FRAME_LEN)
// The accumulated shift never takes the warped segment further than this
// from the residual it came from.
#define SHIFT_LIMIT 72

void evrc_max_energy_lag(Word16 *lag, Word32 *energy, const Word16 *signal, Word16 centre,
                         Word16 count)
{
    // The pulse search can place its first window past the end of the
    // residual; with no window to search the lag is the centre whatever the
    // samples, so none are read.
    if (count < 1) {
        *lag = centre;
        *energy = 0;
        return;
    }
    Word32 e = 0;
    for (int k = -2; k <= 2; k++)
        e = L_mac(e, signal[centre + k], signal[centre + k]);
    Word32 best = e;
    Word16 best_lag = centre;
    for (Word16 i = 1; i < count; i++) {
        e = L_msu(e, signal[centre + i - 3], signal[centre + i - 3]);
        e = L_mac(e, signal[centre + i + 2], signal[centre + i + 2]);
        if (e > best) {
            best = e;
            best_lag = (Word16)(centre + i);
        }
    }
    *lag = best_lag;
    *energy = L_shr(best, 1);
}

static Word16 max16(Word16 a, Word16 b)
{
    return a > b ? a : b;
}

static Word16 min16(Word16 a, Word16 b)
{
    return a < b ? a : b;
}

// Locates the next pitch pulse of the residual and the segment to warp.
// Indices are relative to the subframe start; `buf_end` residual samples are
// available from there.
static void find_segment(Word16 *start, Word16 *end, Word16 *range, Word16 pos, const Word16 *res,
                         Word16 buf_end, Word16 ishift, Word32 delay, Word16 len)
{
    Word16 lo = (Word16)(buf_end - RES_LEN + 2);
    Word16 t = ishift > 0 ? (Word16)(1 - ishift) : negate(ishift);
    Word16 d = extract_h(delay);
    Word16 w = shr(extract_h(L_add(L_add(delay, delay), delay)), 1);
    Word32 en;
    Word16 p;

    Word16 a = max16(lo, (Word16)(pos + t - shr(d, 2)));
    evrc_max_energy_lag(&p, &en, res, a, min16(w, (Word16)(buf_end - a - 2)));
    p = sub(p, t);
    if (p < pos) {
        // The strongest pulse lies before the segment: look one period on.
        a = max16(lo, (Word16)(p + t + round(L_mpy_ls(delay, 24576))));
        evrc_max_energy_lag(&p, &en, res, a, min16(shr(d, 1), (Word16)(buf_end - a - 2)));
        p = sub(p, t);
    }
    if (p > pos + d) {
        // More than a period ahead: there may be an earlier pulse.
        a = max16(lo, (Word16)(p + t - round(L_add(delay, L_shr(delay, 2)))));
        Word16 q;
        evrc_max_energy_lag(&q, &en, res, a, min16(shr(d, 1), (Word16)(buf_end - a - 2)));
        q = sub(q, t);
        if (q >= pos)
            p = q;
    }
    *start = pos;
    *end = (Word16)(p + 10);
    *range = 3;
    if (p < len - 5)
        *end = min16(*end, len);
    if (p < len + 5)
        *end = min16(*end, (Word16)(len + 10));
    else {
        *end = len;
        *range = 0;
    }
    if (p < pos)
        *range = 0;
    // A segment must move the position on; otherwise the rest of the
    // subframe goes out unwarped.
    if (*end <= pos) {
        *end = len;
        *range = 0;
    }
}

// Peak-to-average measure of a residual segment (Q6; 16 = a 5-sample peak
// holding as much energy as the segment's average level suggests for it).
static Word16 segment_peakiness(const Word16 *x, Word16 len)
{
    if (len <= 5)
        return 0;
    Word32 e = 0;
    for (int k = 0; k < 5; k++)
        e = L_mac(e, x[k], x[k]);
    Word16 s = sub(norm_l(e), 3);
    Word32 floor = L_shl(e, s);
    Word32 peak = e;
    for (int i = 5; i < len; i++) {
        Word32 p2 = L_mult(x[i], x[i]);
        e = L_add(e, p2);
        e = L_sub(e, L_mult(x[i - 5], x[i - 5]));
        if (e > peak)
            peak = e;
        if (L_shl(p2, (Word16)(s - 2)) < floor)
            floor = L_add(L_sub(floor, L_shr(floor, 3)), L_shl(p2, (Word16)(s - 3)));
    }
    if (peak <= 0 || floor <= 0)
        return 0;
    // peak / (floor 2^-s) x 27 / (32 len), in Q6.
    int64_t num = (int64_t)peak * 27 * 64;
    int64_t den = (int64_t)32 * len;
    // floor carries a factor 2^s.
    int64_t f = floor;
    int64_t q;
    if (s >= 0)
        q = (num << s) / (den * f);
    else
        q = num / ((den * f) << -s);
    return q > 32767 ? EVRC_MAX_16 : (Word16)q;
}

// Finds the shift of one segment against the target and writes the warped
// segment into the modified residual.
static void mdfyorig(evrc_encoder_state *st, const Word16 *target, Word16 beta, Word16 max_shift,
                     const Word16 *res, Word16 start, Word16 end, Word16 *mres)
{
    Word16 shift = st->delay_drift;
    Word16 left = max_shift, right = max_shift;
    if (shift < 0)
        left = add(max_shift, 1);
    if (shift > 0)
        right = add(max_shift, 1);
    Word16 ashift = abs_s(shift);
    if ((beta < 6554 && ashift > 3840) || (beta < 9830 && ashift > 7680)) {
        if (shift < 0)
            right = min16(right, 1);
        else
            left = min16(left, 1);
    }
    Word16 s = shr(shift, 8);
    if (s + left > SHIFT_LIMIT) {
        left = (Word16)(SHIFT_LIMIT - s);
        fprintf(stderr, "mdfyorig:*** Buffer limit. shiftrangel is:%d\n", left);
    }
    if (right - s > SHIFT_LIMIT) {
        right = (Word16)(s + SHIFT_LIMIT);
        fprintf(stderr, "mdfyorig:*** Buffer limit. shiftranger is:%d\n", right);
    }
    if (left < 0)
        left = 0;
    if (right < 0)
        right = 0;

    Word16 seg = (Word16)(end - start);
    Word16 best_idx = (Word16)(8 * left - 4);
    if (seg > 0 && left + right > 1) {
        Word16 work[EVRC_SUBFRAME_MAX + EVRC_EXTRA + 2 * (SHIFT_LIMIT + 4)];
        Word16 wlen = (Word16)(seg + left + right);
        Word32 d24 = (Word32)((uint32_t)(uint16_t)shift << 16);
        for (int m = 0; m < wlen; m++)
            evrc_interp_sample(&work[m], &res[start - left + m], d24, 16384, 3);

        Word32 corr[2 * (SHIFT_LIMIT + 4) + 1];
        Word16 nk = (Word16)(left + right + 1);
        for (int j = 0; j < nk; j++) {
            Word32 acc = 0;
            for (int n = 0; n < seg; n++)
                acc = L_mac(acc, work[n + j], target[start + n]);
            corr[j] = L_shr(acc, 1);
        }
        Word32 best = 0;
        for (int j = 1; j < nk - 1; j++) {
            for (int p = 0; p < 8; p++) {
                // The correlations keep their full 32 bits: at speech
                // levels their upper halves alone are a few units and
                // cannot place the peak.
                Word32 v = L_mpy_ls(corr[j - 1], evrc_tab_rcelp_quad_interp[0][p]);
                v = L_add(v, L_mpy_ls(corr[j], evrc_tab_rcelp_quad_interp[1][p]));
                v = L_add(v, L_mpy_ls(corr[j + 1], evrc_tab_rcelp_quad_interp[2][p]));
                if (v > best) {
                    best = v;
                    best_idx = (Word16)(8 * (j - 1) + p);
                }
            }
        }
        if (best > 0) {
            // Accept only a clear match: normalised correlation above 0.7.
            // The segment's energy is taken where it stands now, before the
            // new shift.
            int jb = left;
            Word32 es = 0, et = 0;
            for (int n = 0; n < seg; n++) {
                es = L_mac(es, work[n + jb], work[n + jb]);
                et = L_mac(et, target[start + n], target[start + n]);
            }
            es = L_shr(es, 1);
            et = L_shr(et, 1);
            int accept = 0;
            if (es > 0 && et > 0) {
                Word16 nb = norm_l(best), ns = norm_l(es), nt = norm_l(et);
                Word16 b16 = extract_h(L_shl(best, nb));
                Word16 s16 = extract_h(L_shl(es, ns));
                Word16 t16 = extract_h(L_shl(et, nt));
                Word32 lhs = L_mult(b16, b16);                  // best^2 2^(2 nb - 32)
                Word32 rhs = L_mpy_ls(L_mult(s16, t16), 16056); // 0.49 es et 2^(ns + nt - 32)
                Word16 diff = (Word16)(2 * nb - ns - nt);       // lhs carries 2^diff more
                if (diff >= 0)
                    accept = L_shr(lhs, diff) > rhs;
                else
                    accept = lhs > L_shr(rhs, negate(diff));
            }
            if (!accept)
                best_idx = (Word16)(8 * left - 4);
        } else {
            best_idx = (Word16)(8 * left - 4);
        }
    }
    shift = add(shift, sub(shl(left, 8), shl(add(best_idx, 4), 5)));
    st->delay_drift = shift;

    Word32 d24 = (Word32)((uint32_t)(uint16_t)shift << 16);
    for (int n = start; n < end; n++)
        evrc_interp_sample(&mres[n], &res[n], d24, 29491, 8);
    st->seg_pos = end;
}

void evrc_rcelp_modify(evrc_encoder_state *st, const Word32 *contour, Word16 subframe, Word16 len,
                       Word16 *mod_res)
{
    // Adaptive-codebook excitation along the contour, built in place after
    // the past excitation.
    evrc_delay_contour_acb(st->exc + EVRC_ACB_MEM, st->exc + EVRC_ACB_MEM, contour, len, 29491, 8);

    // The target: the past modified residual continued along the contour.
    Word16 target[EVRC_RCELP_WORK];
    memcpy(target, st->mres, EVRC_RCELP_HIST * sizeof(Word16));
    memset(target + EVRC_RCELP_HIST, 0, (EVRC_RCELP_WORK - EVRC_RCELP_HIST) * sizeof(Word16));
    evrc_delay_contour_acb(target + EVRC_RCELP_HIST, target + EVRC_RCELP_HIST, contour, len, 16384,
                           3);

    Word16 buf_end = (Word16)(3 * EVRC_LOOKAHEAD - 53 * subframe);
    const Word16 *res = EVRC_RESIDUAL(st) + (RES_LEN - buf_end);
    Word16 *mres = st->mres + EVRC_RCELP_HIST;
    while (st->seg_pos < len) {
        Word16 drift = st->delay_drift;
        Word16 ishift = add(shr(drift, 8), (Word16)(shr(drift, 7) & 1));
        Word16 start, end, range;
        find_segment(&start, &end, &range, st->seg_pos, res, buf_end, ishift, contour[1], len);
        Word16 peak = segment_peakiness(res + start - ishift, (Word16)(end - start));
        mdfyorig(st, target + EVRC_RCELP_HIST, st->beta, peak < 16 ? 0 : range, res, start, end,
                 mres);
    }
    st->seg_pos = sub(st->seg_pos, len);
    memcpy(mod_res, mres, len * sizeof(Word16));
    // Slide the history; samples already warped past the subframe move to
    // the start of the next one.
    memmove(st->mres, st->mres + len, (EVRC_RCELP_WORK - len) * sizeof(Word16));
    memset(st->mres + EVRC_RCELP_WORK - len, 0, len * sizeof(Word16));
}
