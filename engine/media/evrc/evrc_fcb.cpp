// Fixed-codebook searches of the EVRC encoder: the 10-bit half-rate
// codebook (3 pulses) and the 35-bit full-rate codebook (8 pulses). Both run
// in saturating 16-bit arithmetic on a normalised impulse response; the far
// end's packets were made that way, and the choice between near-equal
// candidates follows the rounding of every step.
#include "evrc_encode.h"
#include "evrc_tables.h"

#include <cstring>

#define FCB_LEN EVRC_IMPULSE_LEN
#define PULSE 4096

// The impulse response scaled to unit energy (about 2^-12 per unit), in
// `frame` samples from `delay` on (zeros before and from delay + len).
static void normalise_h(Word16 *out, const Word16 *h, Word16 len, int frame, int delay)
{
    Word32 e = 0;
    for (int n = 0; n < len; n++)
        e = L_mac(e, h[n], h[n]);
    Word16 k = shr(norm_l(e), 1);
    e = L_shr(L_shl(e, (Word16)(2 * k)), 12);
    Word16 phi = extract_h(L_shl(Inv_sqrt(e), 8));
    memset(out, 0, frame * sizeof(Word16));
    for (int n = 0; n < len && delay + n < frame; n++)
        out[delay + n] = mult(shl(h[n], k), phi);
}

// Autocorrelation of hn at lag `lag` over the `frame`-sample frame for the
// later position q: the sum of hn[n] hn[n + lag], n <= frame - 1 - q.
static Word32 h_corr(const Word16 *hn, int frame, int q, int lag, Word32 acc)
{
    for (int n = 0; n <= frame - 1 - q; n++)
        acc = L_mac(acc, hn[n], hn[n + lag]);
    return acc;
}

// Filtered code vector: y[n] = sum of +-h[n - p] (the excitation scale).
static void filtered_code(Word16 *y, const Word16 *h, const Word16 *pos, const Word16 *neg,
                          int npulse, Word16 len)
{
    for (int n = 0; n < len; n++) {
        Word32 acc = 0;
        for (int k = 0; k < npulse; k++)
            if (pos[k] <= n)
                acc = L_mac(acc, neg[k] ? negate(h[n - pos[k]]) : h[n - pos[k]], 8192);
        y[n] = round(acc);
    }
}

// 10-bit codebook: pulses on the tracks 7i, 7i + 2 and 7i + 4 with the sign
// pattern +, -, + (or all reversed).
static void fcb_search_half(evrc_encoder_state *st, Word16 *d, Word16 len)
{
    const int frame = EVRC_SUBFRAME_MAX;
    for (int n = len; n < FCB_LEN; n++)
        d[n] = 0;
    // A 53-sample subframe's response starts one sample late in the frame.
    Word16 hn[EVRC_SUBFRAME_MAX];
    normalise_h(hn, st->h, len, frame, frame - len);
    Word16 diag[3][8], cross[3][8][8]; // cross: (0,1), (1,2), (0,2)
    for (int t = 0; t < 3; t++)
        for (int i = 0; i < 8; i++) {
            int p = 7 * i + 2 * t;
            diag[t][i] = shr(extract_h(h_corr(hn, frame, p, 0, 65536)), 1);
        }
    static const int pair[3][2] = {{0, 1}, {1, 2}, {0, 2}};
    for (int c = 0; c < 3; c++)
        for (int i = 0; i < 8; i++)
            for (int j = 0; j < 8; j++) {
                int p = 7 * i + 2 * pair[c][0], q = 7 * j + 2 * pair[c][1];
                int hi = p > q ? p : q, lag = p > q ? p - q : q - p;
                cross[c][i][j] = extract_h(h_corr(hn, frame, hi, lag, 32768));
            }

    Word16 psi_best = -1, alpha_best = 1;
    Word16 best[3] = {0, 2, 4};
    for (int i0 = 0; i0 < 8; i0++) {
        Word16 p0 = (Word16)(7 * i0);
        for (int i1 = 0; i1 < 8; i1++) {
            Word16 p1 = (Word16)(7 * i1 + 2);
            Word16 x1 = sub(d[p0], d[p1]);
            Word16 a1 = add(diag[0][i0], sub(diag[1][i1], cross[0][i0][i1]));
            for (int i2 = 0; i2 < 8; i2++) {
                Word16 p2 = (Word16)(7 * i2 + 4);
                Word16 x = add(x1, d[p2]);
                Word16 a = add(a1, sub(add(diag[2][i2], cross[2][i0][i2]), cross[1][i1][i2]));
                Word16 psi = mult(x, x);
                if (L_msu(L_mult(alpha_best, psi), psi_best, a) > 0) {
                    psi_best = psi;
                    alpha_best = a;
                    best[0] = p0;
                    best[1] = p1;
                    best[2] = p2;
                }
            }
        }
    }
    Word16 sigma = sub(add(d[best[0]], d[best[2]]), d[best[1]]);
    Word16 negative = sigma < 0 ? 1 : 0;
    Word16 neg[3] = {negative, (Word16)!negative, negative};
    memset(st->code, 0, sizeof st->code);
    for (int k = 0; k < 3; k++)
        if (best[k] < len)
            st->code[best[k]] = add(st->code[best[k]], neg[k] ? -PULSE : PULSE);
    Word16 index = negative;
    for (int k = 0; k < 3; k++)
        index = add(shl(index, 3), mult(best[k], 4682));
    st->fcb_words[0] = index;
    filtered_code(st->code_filt, st->h, best, neg, 3, len);
}

// The target moved back through the weighted synthesis filter into the
// residual domain: Aq(z), 1/Wn(z) and Wd(z), each from zero state. The last
// two run with their coefficients at a eighth of the scale of the first.
static void residual_target(Word16 *c, const Word16 *x, Word16 len, const Word16 *aq,
                            const Word16 *wnum, const Word16 *wden)
{
    Word16 a[FCB_LEN], b[FCB_LEN];
    Word16 mem[EVRC_LPC_ORDER];
    memset(mem, 0, sizeof mem);
    a[0] = x[0];
    mem[0] = x[0];
    for (int n = 1; n < len; n++) {
        Word32 acc = 0;
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_mac(acc, mem[j], aq[j]);
        a[n] = round(L_add(L_deposit_h(x[n]), L_shl(acc, 3)));
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        mem[0] = x[n];
    }
    memset(mem, 0, sizeof mem);
    b[0] = a[0];
    mem[0] = a[0];
    for (int n = 1; n < len; n++) {
        Word32 acc = L_deposit_h(a[n]);
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_msu(acc, mem[j], wnum[j]);
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        b[n] = round(acc);
        mem[0] = b[n];
    }
    memset(mem, 0, sizeof mem);
    c[0] = b[0];
    mem[0] = b[0];
    for (int n = 1; n < len; n++) {
        Word32 acc = L_deposit_h(b[n]);
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_mac(acc, mem[j], wden[j]);
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        mem[0] = b[n];
        c[n] = round(acc);
    }
    for (int n = len; n < FCB_LEN; n++)
        c[n] = 0;
}

// Best pair of positions on tracks tx and ty (11 positions each), adding to
// the running correlation *x and energy *a of the pulses fixed so far.
static void pair_search(Word16 *ix, Word16 *iy, Word16 *x, Word16 *a, int tx, int ty,
                        const Word16 *d, const Word16 *c, const Word16 *cx, const Word16 *cy,
                        Word16 (*cross)[11][11])
{
    Word16 psi_best = -1, alpha_best = 1;
    Word16 bx = (Word16)tx, by = (Word16)ty;
    for (int i = 0; i < 11; i++) {
        int px = 5 * i + tx;
        Word16 x1 = add(*x, d[px]);
        Word16 a1 = add(*a, cx[px]);
        if (c[px] < 0)
            continue;
        for (int j = 0; j < 11; j++) {
            int py = 5 * j + ty;
            Word16 x2 = add(x1, d[py]);
            Word16 a2 = add(a1, add(cy[py], cross[tx][i][j]));
            Word16 psi = mult(x2, x2);
            if (L_msu(L_mult(alpha_best, psi), psi_best, a2) > 0) {
                psi_best = psi;
                alpha_best = a2;
                bx = (Word16)px;
                by = (Word16)py;
            }
        }
    }
    *ix = bx;
    *iy = by;
    *x = add(*x, add(d[bx], d[by]));
    *a = alpha_best;
}

// 35-bit codebook: five interleaved tracks of 11 positions; pairs of pulses
// are searched depth first over four rotations of the track order.
static void fcb_search_full(evrc_encoder_state *st, Word16 *d, Word16 len, const Word16 *aq,
                            const Word16 *wnum, const Word16 *wden)
{
    const int frame = FCB_LEN;
    Word16 c[FCB_LEN];
    residual_target(c, st->target, len, aq, wnum, wden);
    for (int n = len; n < FCB_LEN; n++)
        d[n] = 0;

    // Signs from a mix of the backward-filtered target and the residual-
    // domain target, each at unit energy.
    Word32 ec = 0, ed = 0;
    for (int n = 0; n < FCB_LEN; n++) {
        ec = L_mac(ec, c[n], c[n]);
        ed = L_mac(ed, d[n], d[n]);
    }
    Word16 nc = norm_l(ec), nd = norm_l(ed);
    Word16 ch = extract_h(L_shl(ec, nc)), dh = extract_h(L_shl(ed, nd));
    Word32 rho = L_mult(ch, dh);
    Word16 n = norm_l(rho);
    Word16 sig = evrc_sqrt(L_shl(rho, n));
    n = (Word16)(n + nc + nd);
    if (n & 1)
        sig = mult(sig, 23170);
    n = (Word16)(shr(n, 1) + 1);
    nd = (Word16)(nd + 2);
    Word16 mu = nd > n ? n : nd;
    nd = (Word16)(nd - mu);
    n = (Word16)(n - mu);
    Word16 sgn[FCB_LEN], negs[FCB_LEN];
    for (int i = 0; i < FCB_LEN; i++) {
        Word32 e = L_add(L_shr(L_mult(dh, c[i]), nd), L_shr(L_mult(sig, d[i]), n));
        if (e >= 0) {
            sgn[i] = EVRC_MAX_16;
            negs[i] = EVRC_MIN_16;
        } else {
            sgn[i] = EVRC_MIN_16;
            negs[i] = EVRC_MAX_16;
            d[i] = negate(d[i]);
        }
        c[i] = extract_h(L_shl(L_abs(e), 8));
    }
    // Only the six strongest positions of each track start a pair.
    for (int t = 0; t < 5; t++)
        for (int k = 0; k < 5; k++) {
            Word16 m = EVRC_MAX_16;
            int at = -1;
            for (int p = t; p < FCB_LEN; p += 5)
                if (c[p] >= 0 && c[p] <= m) {
                    m = c[p];
                    at = p;
                }
            if (at >= 0)
                c[at] = -1;
        }

    Word16 hn[FCB_LEN];
    normalise_h(hn, st->h, len, frame, 0);
    Word16 diag[FCB_LEN];
    for (int p = 0; p < FCB_LEN; p++)
        diag[p] = shr(extract_h(h_corr(hn, frame, p, 0, 65536)), 1);
    // cross[t][i][j]: position 5i + t against 5j + (t + 1 mod 5), signed.
    Word16 cross[5][11][11];
    for (int t = 0; t < 5; t++) {
        int u = (t + 1) % 5;
        for (int i = 0; i < 11; i++)
            for (int j = 0; j < 11; j++) {
                int p = 5 * i + t, q = 5 * j + u;
                int hi = p > q ? p : q, lag = p > q ? p - q : q - p;
                Word16 r = extract_h(h_corr(hn, frame, hi, lag, 32768));
                cross[t][i][j] = mult(r, sgn[p] > 0 ? sgn[q] : negs[q]);
            }
    }

    const int16_t *order = evrc_tab_acelp_track_order;
    Word16 psi_best = -1, alpha_best = 1;
    Word16 best_pos[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    Word16 best_s = 0;
    for (Word16 s = 0; s < 4; s++) {
        Word16 pos[8];
        Word16 x = 0, a = 0;
        pair_search(&pos[0], &pos[1], &x, &a, order[s], order[s + 1], d, c, diag, diag, cross);
        Word16 v[FCB_LEN];
        memset(v, 0, sizeof v);
        for (int j = 2; j < 8; j += 2) {
            for (int k = j - 2; k < j; k++) {
                Word16 p = pos[k];
                for (int m = p; m < FCB_LEN; m++)
                    v[m] = sgn[p] > 0 ? add(v[m], hn[m - p]) : sub(v[m], hn[m - p]);
            }
            Word16 cx[FCB_LEN], cy[FCB_LEN];
            for (int side = 0; side < 2; side++) {
                int t = order[s + j + side];
                Word16 *cc = side ? cy : cx;
                for (int p = t; p < FCB_LEN; p += 5) {
                    Word32 acc = 0;
                    for (int m = p; m < FCB_LEN; m++)
                        acc = L_mac(acc, hn[m - p], v[m]);
                    cc[p] = add(mult(round(acc), sgn[p]), diag[p]);
                }
            }
            pair_search(&pos[j], &pos[j + 1], &x, &a, order[s + j], order[s + j + 1], d, c, cx, cy,
                        cross);
        }
        Word16 psi = mult(x, x);
        if (L_msu(L_mult(alpha_best, psi), psi_best, a) > 0) {
            psi_best = psi;
            alpha_best = a;
            memcpy(best_pos, pos, sizeof pos);
            best_s = s;
        }
    }

    memset(st->code, 0, sizeof st->code);
    Word16 neg[8];
    Word16 stored[5][2];
    Word16 count[5] = {0, 0, 0, 0, 0};
    for (int k = 0; k < 8; k++) {
        Word16 p = best_pos[k];
        neg[k] = sgn[p] < 0 ? 1 : 0;
        if (p < len)
            st->code[p] = add(st->code[p], neg[k] ? -PULSE : PULSE);
        Word16 idx = mult(p, 6554);
        Word16 t = (Word16)(p - 5 * idx);
        stored[t][count[t]++] = (Word16)(idx + (neg[k] ? 16 : 0));
    }
    filtered_code(st->code_filt, st->h, best_pos, neg, 8, len);

    for (int w = 0; w < 3; w++) {
        int t = (best_s + w) % 5;
        Word16 f = stored[t][0], g = stored[t][1];
        bool swap;
        if ((f & 16) == (g & 16))
            swap = g < f;
        else
            swap = (g & 15) > (f & 15);
        if (swap) {
            Word16 tmp = f;
            f = g;
            g = tmp;
        }
        st->fcb_words[w] = (Word16)((f & 16) * 8 + (f & 15) * 11 + (g & 15));
    }
    Word16 i = stored[(best_s + 3) % 5][0], j = stored[(best_s + 4) % 5][0];
    st->fcb_words[3] =
        (Word16)(512 * best_s + 16 * (i & 16) + 8 * (j & 16) + 11 * (i & 15) + (j & 15));
}

// Pitch sharpening v[n] += factor v[n - lag] from the lag on.
static void sharpen(Word16 *v, Word16 factor, Word16 lag, Word16 len)
{
    for (int n = lag; n < len; n++)
        v[n] = add(v[n], mult(v[n - lag], factor));
}

void evrc_fcb_search_drive(evrc_encoder_state *st, Word16 sharpening, Word16 len, Word16 lag,
                           Word16 full_rate, const Word16 *aq, const Word16 *wnum,
                           const Word16 *wden)
{
    Word16 f = sharpening;
    if (f < 3277)
        f = 3277;
    if (f > 14746)
        f = 14746;
    f = shl(f, 1);
    sharpen(st->h, f, lag, len);
    for (int n = len; n < FCB_LEN; n++)
        st->h[n] = 0;

    // Backward-filtered target, scaled by the sum of the per-track peaks.
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
    Word32 tot = 5;
    for (int t = 0; t < 5; t++) {
        Word32 m = 0;
        for (int n = t; n < FCB_LEN; n += 5)
            if (L_abs(dd[n]) > m)
                m = L_abs(dd[n]);
        tot = L_add(tot, L_shr(m, 1));
    }
    Word16 s = (Word16)(norm_l(tot) - 2);
    Word16 d[FCB_LEN];
    for (int n = 0; n < FCB_LEN; n++)
        d[n] = round(L_shl(dd[n], s));

    if (full_rate)
        fcb_search_full(st, d, len, aq, wnum, wden);
    else
        fcb_search_half(st, d, len);

    sharpen(st->code, f, lag, len);

    // Optimal gain of the chosen vector (Q of the gain table: code amplitude
    // 1 is 512 units of the filtered vector).
    Word16 ys[EVRC_SUBFRAME_MAX];
    Word32 acc = 1;
    for (int n = 0; n < len; n++) {
        ys[n] = shr(st->code_filt[n], 1);
        acc = L_mac(acc, st->target[n], ys[n]);
    }
    Word16 exy = norm_l(acc);
    Word16 xy = extract_h(L_shl(acc, exy));
    if (xy <= 0) {
        st->fcb_gain = 0;
        return;
    }
    acc = 0;
    for (int n = 0; n < len; n++)
        acc = L_mac(acc, ys[n], ys[n]);
    Word16 eyy = norm_l(acc);
    Word16 yy = extract_h(L_shl(acc, eyy));
    st->fcb_gain = shr(evrc_divide_s(shr(xy, 1), yy), (Word16)(exy + 5 - eyy + 1));
}
