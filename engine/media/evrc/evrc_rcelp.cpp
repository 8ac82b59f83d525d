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

static Word16 min16(Word16 a, Word16 b)
{
    return a < b ? a : b;
}

// Locates the next pitch pulse of the residual and the segment to warp.
// Indices are relative to the subframe start; `buf_end` residual samples are
// available from there (and at least RES_BEFORE before it).
static void find_segment(Word16 *start, Word16 *end, Word16 *range, Word16 pos, const Word16 *res,
                         Word16 buf_end, Word16 ishift, Word32 delay, Word16 len)
{
    Word16 t = ishift > 0 ? sub(1, ishift) : negate(ishift);
    Word16 d = extract_h(delay);
    Word32 en;
    Word16 p;

    Word16 n = shr(extract_h(L_sub(L_shl(delay, 2), delay)), 1);
    Word16 o = (Word16)(pos + t - (d >> 2));
    evrc_max_energy_lag(&p, &en, res, o, min16(n, (Word16)(buf_end - o - 2)));
    p = sub(p, t);
    if (p < pos) {
        // The strongest pulse lies before the segment: look one period on.
        o = (Word16)(extract_h(L_add(L_mpy_ls(delay, 24576), 32768)) + t + p);
        evrc_max_energy_lag(&p, &en, res, o, min16((Word16)(d >> 1), (Word16)(buf_end - o - 2)));
        p = sub(p, t);
    }
    if (p > pos + d) {
        // More than a period ahead: there may be an earlier pulse.
        o = (Word16)(t - extract_h(L_add(L_add(delay, L_shr(delay, 2)), 32768)) + p);
        Word16 q;
        evrc_max_energy_lag(&q, &en, res, o, min16((Word16)(d >> 1), (Word16)(buf_end - o - 2)));
        q = sub(q, t);
        if (q >= pos)
            p = q;
    }
    *start = pos;
    *end = (Word16)(p + 10);
    *range = 3;
    if (p < len - 5 && *end > len)
        *end = len;
    if (p < len + 5 && *end > len + 10)
        *end = (Word16)(len + 10);
    if (p >= len + 5)
        *end = len;
    if (p >= *end || p < *start)
        *range = 0;
    // A segment must move the position on; otherwise the loop over the
    // subframe would not end.
    if (*end <= pos) {
        *end = len;
        *range = 0;
    }
}

// Peak-to-average measure of a residual segment (Q6; 16 = a 5-sample peak
// holding as much energy as the segment's average level suggests for it).
// The average is a slowly decaying floor that only quieter samples feed.
static Word16 segment_peakiness(const Word16 *x, Word16 len)
{
    Word32 e = 0;
    for (int k = 0; k < 5; k++)
        e = L_mac(e, x[k], x[k]);
    Word32 peak = e;
    Word16 s = sub(norm_l(e), 3);
    Word32 floor = L_shl(e, s);
    for (int j = 0; j + 5 < len; j++) {
        Word32 q = L_mult(x[j + 5], x[j + 5]);
        e = L_add(e, L_msu(q, x[j], x[j]));
        if (L_shl(q, (Word16)(s - 2)) < floor)
            floor = L_add(L_sub(floor, L_shr(floor, 3)), L_shl(q, (Word16)(s - 3)));
        if (peak < e)
            peak = e;
    }
    if (floor == 0)
        return 0;
    Word16 f = norm_l(floor);
    Word16 fs = round(L_shl(floor, f));
    s = add(s, f);
    Word16 m = norm_l(peak);
    Word16 ms = round(L_shl(peak, (Word16)(m - 1)));
    Word32 v = L_mult(evrc_divide_s(ms, fs), evrc_divide_s(432, shl(len, 9)));
    return extract_h(L_shift_r(v, (Word16)(s - m - 8)));
}

// Finds the shift of one segment against the target and writes the warped
// segment into the modified residual.
static void mdfyorig(evrc_encoder_state *st, const Word16 *target, Word16 beta, Word16 max_shift,
                     const Word16 *res, Word16 start, Word16 end, Word16 *mres)
{
    Word16 shift = st->delay_drift;
    Word16 seg = (Word16)(end - start);
    if (max_shift != 0) {
        Word16 left = max_shift, right = max_shift;
        if (shift < 0)
            left = add(left, 1);
        if (shift > 0)
            right = add(right, 1);
        Word16 ashift = abs_s(shift);
        if ((beta < 6554 && ashift > 3840) || (beta < 9830 && ashift > 7680)) {
            if (shift < 0)
                right = 1;
            else
                left = 1;
        }
        Word16 s = shr(shift, 8);
        if (left + s > SHIFT_LIMIT) {
            left = (Word16)(SHIFT_LIMIT - s);
            fprintf(stderr, "mdfyorig:*** Buffer limit. shiftrangel is:%d\n", left);
        }
        if (right - s > SHIFT_LIMIT) {
            right = (Word16)(SHIFT_LIMIT + s);
            fprintf(stderr, "mdfyorig:*** Buffer limit. shiftranger is:%d\n", right);
        }

        Word16 best_idx = (Word16)(8 * left - 4);
        Word16 nk = (Word16)(left + right + 1);
        if (left >= 0 && nk > 2) {
            // The segment at every whole shift from `left` earlier to
            // `right` later than the current one.
            Word16 work[EVRC_SUBFRAME_MAX + EVRC_EXTRA + 2 * (SHIFT_LIMIT + 4)];
            Word16 wlen = (Word16)(seg + nk - 1);
            Word32 d24 = L_deposit_h(shift);
            for (int m = 0; m < wlen; m++)
                evrc_interp_sample(&work[m], &res[start - left + m], d24, 16384, 3);

            Word32 corr[2 * (SHIFT_LIMIT + 4) + 1];
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
            // Accept only a clear match: squared normalised correlation
            // above 0.49. The segment's energy is taken where it stands now,
            // before the new shift.
            Word32 es = 0, et = 0;
            for (int n = 0; n < seg; n++) {
                es = L_mac(es, work[n + left], work[n + left]);
                et = L_mac(et, target[start + n], target[start + n]);
            }
            bool accept = false;
            if (es != 0 && et != 0) {
                Word16 n1 = norm_l(best);
                Word32 y = L_mpy_ll(L_shl(best, n1), L_shl(best, n1));
                Word16 n2 = norm_l(es), n3 = norm_l(et);
                Word32 z = L_mpy_ll(L_shl(es, n2), L_shl(et, n3));
                z = L_shl(L_mpy_ls(z, 16056), (Word16)(2 * n1 - (2 + n2 + n3)));
                accept = y > z;
            }
            if (!accept)
                best_idx = (Word16)(8 * left - 4);
        }
        // Plain 16-bit arithmetic, as the far end's contour was built with.
        shift = (Word16)(shift + 256 * left - 32 * (best_idx + 4));
        st->delay_drift = shift;
    }

    Word32 d24 = L_deposit_h(shift);
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
        Word16 ishift = shift_r(drift, -8);
        Word16 start, end, range;
        find_segment(&start, &end, &range, st->seg_pos, res, buf_end, ishift, contour[1], len);
        // The peak measure looks at the residual by the truncated shift.
        Word16 peak = segment_peakiness(res + start - shr(drift, 8), (Word16)(end - start));
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
