// Fixed-codebook searches of the EVRC encoder: the 10-bit half-rate
// codebook (3 pulses) and the 35-bit full-rate codebook (8 pulses).
#include "evrc_encode.h"
#include "evrc_tables.h"

#include <cstdio>
#include <cstring>

#define FCB_LEN EVRC_IMPULSE_LEN
#define PULSE 4096

// Correlations of the impulse response with itself at every pair of pulse
// positions, as 16-bit values with a common scale.
typedef struct fcb_corr {
    Word16 phi[FCB_LEN][FCB_LEN];
} fcb_corr;

static void build_corr(fcb_corr *c, const Word16 *h, Word16 len)
{
    // phi(b - d, b) = sum over m <= len - 1 - b of h[m + d] h[m]: running sums
    // along each diagonal give the whole matrix in one pass per diagonal.
    Word32 tmp[FCB_LEN][FCB_LEN];
    Word32 maxv = 0;
    for (int d = 0; d < FCB_LEN; d++) {
        Word32 acc = 0;
        int m = 0;
        for (int b = len - 1; b >= d; b--) {
            for (; m <= len - 1 - b; m++)
                if (m + d < FCB_LEN)
                    acc = L_mac(acc, h[m + d], h[m]);
            tmp[b - d][b] = acc;
            Word32 a = L_abs(acc);
            if (a > maxv)
                maxv = a;
        }
        for (int b = len > d ? len : d; b < FCB_LEN; b++)
            tmp[b - d][b] = 0;
    }
    Word16 s = norm_l(maxv);
    for (int a = 0; a < FCB_LEN; a++)
        for (int b = a; b < FCB_LEN; b++) {
            Word16 v = round(L_shl(tmp[a][b], s));
            c->phi[a][b] = v;
            c->phi[b][a] = v;
        }
}

static void filtered_code(Word16 *z, const Word16 *h, const Word16 *pos, const Word16 *sign,
                          int npulse, Word16 len)
{
    for (int n = 0; n < len; n++) {
        Word32 acc = 0;
        for (int k = 0; k < npulse; k++) {
            if (pos[k] <= n)
                acc = L_mac(acc, sign[k] > 0 ? h[n - pos[k]] : negate(h[n - pos[k]]), 8192);
        }
        z[n] = round(acc);
    }
}

// 10-bit codebook: pulses on the tracks 7i, 7i + 2 and 7i + 4 with the sign
// pattern +, -, + (or all reversed).
static void fcb_search_half(evrc_encoder_state *st, const Word16 *d, Word16 len)
{
    fcb_corr c;
    build_corr(&c, st->h, len);
    Word16 best[3] = {0, 2, 4};
    // X can reach three times a 16-bit value when the three pulses fall on
    // one of the five normalisation tracks, so X^2 needs 64 bits.
    int64_t bx2 = -1, be = 1;
    Word16 bsign = 1;
    for (Word16 i0 = 0; i0 < 8; i0++) {
        Word16 p0 = (Word16)(7 * i0);
        Word32 x0 = d[p0];
        Word32 e0 = shr(c.phi[p0][p0], 1);
        for (Word16 i1 = 0; i1 < 8; i1++) {
            Word16 p1 = (Word16)(7 * i1 + 2);
            Word32 x1 = x0 - d[p1];
            Word32 e1 = e0 + shr(c.phi[p1][p1], 1) - c.phi[p0][p1];
            for (Word16 i2 = 0; i2 < 8; i2++) {
                Word16 p2 = (Word16)(7 * i2 + 4);
                Word32 x = x1 + d[p2];
                Word32 e = e1 + shr(c.phi[p2][p2], 1) + c.phi[p0][p2] - c.phi[p1][p2];
                if (e <= 0)
                    e = 1;
                int64_t x2 = (int64_t)x * x;
                if (bx2 < 0 || x2 * be > bx2 * e) {
                    bx2 = x2;
                    be = e;
                    best[0] = p0;
                    best[1] = p1;
                    best[2] = p2;
                    bsign = x >= 0 ? 1 : -1;
                }
            }
        }
    }
    Word16 sign[3] = {bsign, (Word16)-bsign, bsign};
    memset(st->code, 0, sizeof st->code);
    for (int k = 0; k < 3; k++)
        if (best[k] < len)
            st->code[best[k]] = add(st->code[best[k]], sign[k] > 0 ? PULSE : -PULSE);
    Word16 index = bsign < 0 ? 1 : 0;
    for (int k = 0; k < 3; k++)
        index = (Word16)((index << 3) + ((best[k] * 9364) >> 16));
    st->fcb_words[0] = index;
    filtered_code(st->code_filt, st->h, best, sign, 3, len);
}

// 35-bit codebook: five interleaved tracks of 11 positions; pairs of pulses
// are searched depth first over four rotations of the track order.
static void fcb_search_full(evrc_encoder_state *st, const Word16 *d, Word16 len)
{
    fcb_corr c;
    build_corr(&c, st->h, len);
    Word16 sgn[FCB_LEN];
    Word16 dabs[FCB_LEN];
    for (int n = 0; n < FCB_LEN; n++) {
        sgn[n] = d[n] >= 0 ? 1 : -1;
        dabs[n] = abs_s(d[n]);
    }
    // Signed correlations: with the sign of every position fixed, all
    // pulses count as positive.
    Word16 rr[FCB_LEN][FCB_LEN];
    for (int a = 0; a < FCB_LEN; a++)
        for (int b = 0; b < FCB_LEN; b++)
            rr[a][b] = sgn[a] == sgn[b] ? c.phi[a][b] : negate(c.phi[a][b]);

    Word16 best_pos[8] = {0, 5, 10, 1, 6, 2, 3, 4};
    Word16 best_s = 0;
    Word16 bx2 = -1, be = 1;
    const int16_t *order = evrc_tab_acelp_track_order;
    for (Word16 s = 0; s < 4; s++) {
        Word16 pos[8];
        int np = 0;
        Word32 x = 0, e = 0;
        for (int pair = 0; pair < 4; pair++) {
            Word16 ta = order[s + 2 * pair], tb = order[s + 2 * pair + 1];
            Word16 ba = ta, bb = tb;
            Word16 px2 = -1, pe = 1;
            Word32 bx = 0, bE = 0;
            for (int i = 0; i < 11; i++) {
                Word16 pa = (Word16)(5 * i + ta);
                Word32 xa = L_add(x, dabs[pa]);
                Word32 ea = L_add(e, rr[pa][pa]);
                for (int k = 0; k < np; k++)
                    ea = L_add(ea, L_shl(rr[pa][pos[k]], 1));
                for (int j = 0; j < 11; j++) {
                    Word16 pb = (Word16)(5 * j + tb);
                    Word32 xx = L_add(xa, dabs[pb]);
                    Word32 ee = L_add(ea, rr[pb][pb]);
                    ee = L_add(ee, L_shl(rr[pa][pb], 1));
                    for (int k = 0; k < np; k++)
                        ee = L_add(ee, L_shl(rr[pb][pos[k]], 1));
                    Word16 x16 = extract_l(L_shr(xx, 3));
                    Word16 e16 = extract_l(L_shr(ee, 6));
                    if (e16 <= 0)
                        e16 = 1;
                    Word16 x2 = extract_h(L_mult(x16, x16));
                    if (px2 < 0 || L_msu(L_mult(x2, pe), px2, e16) > 0) {
                        px2 = x2;
                        pe = e16;
                        ba = pa;
                        bb = pb;
                        bx = xx;
                        bE = ee;
                    }
                }
            }
            pos[np++] = ba;
            pos[np++] = bb;
            x = bx;
            e = bE;
        }
        Word16 x16 = extract_l(L_shr(x, 3));
        Word16 e16 = extract_l(L_shr(e, 6));
        if (e16 <= 0)
            e16 = 1;
        Word16 x2 = extract_h(L_mult(x16, x16));
        if (bx2 < 0 || L_msu(L_mult(x2, be), bx2, e16) > 0) {
            bx2 = x2;
            be = e16;
            memcpy(best_pos, pos, sizeof pos);
            best_s = s;
        }
    }

    memset(st->code, 0, sizeof st->code);
    Word16 sign[8];
    for (int k = 0; k < 8; k++) {
        sign[k] = sgn[best_pos[k]];
        if (best_pos[k] < len)
            st->code[best_pos[k]] =
                add(st->code[best_pos[k]], sign[k] > 0 ? PULSE : (Word16)-PULSE);
    }
    filtered_code(st->code_filt, st->h, best_pos, sign, 8, len);

    // Per-track pulses: tracks s, s+1, s+2 (mod 5) hold two, s+3 and s+4 one.
    Word16 tp[5][2];
    Word16 tn[5] = {0, 0, 0, 0, 0};
    for (int k = 0; k < 8; k++) {
        Word16 t = (Word16)(best_pos[k] % 5);
        tp[t][tn[t]++] = best_pos[k];
    }
    for (int w = 0; w < 3; w++) {
        Word16 t = (Word16)((best_s + w) % 5);
        Word16 a = tp[t][0], b = tp[t][1];
        Word16 sa = sgn[a], sb = sgn[b];
        // Order so that the decoder's rule gives the second pulse's sign:
        // same sign when it is not below the first, opposite when it is.
        if (sa == sb) {
            if (b < a) {
                Word16 tmp = a;
                a = b;
                b = tmp;
            }
        } else if (b > a) {
            Word16 tmp = a;
            a = b;
            b = tmp;
            sa = sgn[a];
        }
        Word16 code = (Word16)(11 * (a / 5) + b / 5);
        st->fcb_words[w] = (Word16)(code | (sa < 0 ? 0x80 : 0));
    }
    Word16 t3 = (Word16)((best_s + 3) % 5), t4 = (Word16)((best_s + 4) % 5);
    Word16 a = tp[t3][0], b = tp[t4][0];
    Word16 code = (Word16)(11 * (a / 5) + b / 5);
    st->fcb_words[3] =
        (Word16)(code | (sgn[a] < 0 ? 0x100 : 0) | (sgn[b] < 0 ? 0x80 : 0) | (best_s << 9));
}

// Pitch sharpening c[n] += factor c[n - lag] from the lag on.
static void sharpen(Word16 *v, Word16 factor, Word16 lag, Word16 len)
{
    for (int n = lag; n < len; n++)
        v[n] = add(v[n], mult_r(factor, v[n - lag]));
}

void evrc_fcb_search_drive(evrc_encoder_state *st, Word16 sharpening, Word16 len, Word16 lag,
                           Word16 full_rate)
{
    Word16 f = sharpening;
    if (f < 3277)
        f = 3277;
    if (f > 14746)
        f = 14746;
    f = shl(f, 1);
    if (lag < len)
        sharpen(st->h, f, lag, len);
    for (int n = len; n < FCB_LEN; n++)
        st->h[n] = 0;

    // Backward-filtered target.
    Word16 x[FCB_LEN];
    memset(x, 0, sizeof x);
    memcpy(x, st->target, len * sizeof(Word16));
    Word32 dd[FCB_LEN];
    for (int n = 0; n < FCB_LEN; n++) {
        Word32 acc = 0;
        for (int k = n; k < FCB_LEN; k++)
            acc = L_mac(acc, x[k], st->h[k - n]);
        dd[n] = acc;
    }
    Word32 tsum = 0;
    for (int t = 0; t < 5; t++) {
        Word32 m = 0;
        for (int n = t; n < FCB_LEN; n += 5)
            if (L_abs(dd[n]) > m)
                m = L_abs(dd[n]);
        tsum = L_add(tsum, m);
    }
    Word16 s = sub(norm_l(tsum), 0);
    Word16 d[FCB_LEN];
    for (int n = 0; n < FCB_LEN; n++)
        d[n] = round(L_shl(dd[n], s));

    if (full_rate)
        fcb_search_full(st, d, len);
    else
        fcb_search_half(st, d, len);

    if (lag < len)
        sharpen(st->code, f, lag, len);

    // Optimal gain of the chosen vector: code amplitude 1 is 512 units of
    // the filtered vector (h/4 per pulse against h/2048 for the excitation).
    int64_t num = 0, den = 0;
    for (int n = 0; n < len; n++) {
        num += (int64_t)st->target[n] * st->code_filt[n];
        den += (int64_t)st->code_filt[n] * st->code_filt[n];
    }
    int64_t g = den > 0 ? (num * 512 + den / 2) / den : 0;
    if (g > 32767)
        g = 32767;
    if (g < -32768)
        g = -32768;
    st->fcb_gain = (Word16)g;
}
