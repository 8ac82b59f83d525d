// EVRC encoder: quantisation of the analysed frame at the chosen rate and
// the local decoder that keeps the encoder's memories in step with the
// far end.
#include "evrc_encode.h"

#include "evrc_synth.h"
#include "evrc_tables.h"

#include <cstdio>
#include <cstring>

void evrc_encoder_init(evrc_encoder *enc)
{
    evrc_encoder_state *st = &enc->st;
    memset(st, 0, sizeof *st);
    evrc_set_rate(&st->rate, EVRC_RATE_FULL);
    evrc_bits_clear(&st->bits);
    for (int k = 0; k < EVRC_LPC_ORDER; k++) {
        st->prev_lsp[k] = evrc_tab_lsp_initial[k];
        st->prev_qlsp[k] = evrc_tab_lsp_initial[k];
        st->lsp[k] = evrc_tab_lsp_initial[k];
        st->qlsp[k] = evrc_tab_lsp_initial[k];
    }
    st->prev_delay = 40;
    st->delay = 40;
    st->frame_energy_prev = 8;
    st->eighth_seed = 1234;
    st->noise.legacy = 1;
}

// y = v * h (h kept scaled by 1/16: 2048 is one), summed along h.
static void convolve(Word16 *y, const Word16 *v, const Word16 *h, Word16 len)
{
    for (int n = 0; n < len; n++) {
        Word32 acc = 0;
        for (int j = 0; j <= n; j++)
            acc = L_mac(acc, v[n - j], h[j]);
        y[n] = round(L_shl(acc, 4));
    }
}

static Word16 acb_gain_quantise(const Word16 *x, const Word16 *y, Word16 len)
{
    // Block scaling driven by the energy: whenever it reaches 2^30 both sums
    // are halved and every later product shifted one place more.
    Word32 c = 0, e = 0;
    Word16 s = 1;
    for (int n = 0; n < len; n++) {
        c = L_add(c, L_shr(L_mult(y[n], x[n]), s));
        e = L_add(e, L_shr(L_mult(y[n], y[n]), s));
        if (e >= 0x40000000) {
            s++;
            e = L_shr(e, 1);
            c = L_shr(c, 1);
        }
    }
    if (c <= 0)
        return 0;
    Word16 idx = 0;
    for (Word16 k = 1; k < 8; k++)
        if (c > L_shl(L_mpy_ls(e, evrc_tab_acb_gain_mid[k - 1]), 1))
            idx = k;
    return idx;
}

static Word16 fcb_gain_quantise(Word16 g, Word16 acb_gain, const evrc_rate_sel *rs,
                                Word16 *quantised)
{
    Word32 scale;
    if (rs->rate == EVRC_RATE_FULL)
        scale = L_sub(EVRC_MAX_32, L_mult(acb_gain, 9830));
    else
        scale = L_sub(1932735283, L_mult(acb_gain, 6554));
    Word32 t = L_shl(L_mpy_ls(scale, g), 1);
    Word16 idx = 0;
    for (Word16 i = 1; i < rs->fcb_gain_levels; i++) {
        Word32 point = L_add(L_shr(L_deposit_h(rs->fcb_gain[i - 1]), 4),
                             L_shr(L_deposit_h(rs->fcb_gain[i]), 4));
        if (point < t)
            idx = i;
    }
    *quantised = shr(rs->fcb_gain[idx], 1);
    return idx;
}

// Delay tracking: keep the accumulated warp of the residual within bounds by
// moving the transmitted delay one sample against it.
static Word16 track_delay(evrc_encoder_state *st, Word16 delay)
{
    if (st->beta < 3277) {
        st->delay_drift = 0;
        st->delay_dir = 0;
        st->seg_pos = 0;
        return delay;
    }
    if (st->delay_drift > 5120)
        st->delay_dir = -1;
    else if (st->delay_drift < -5120)
        st->delay_dir = 1;
    else if (st->delay_dir == -1 && st->delay_drift <= 2560)
        st->delay_dir = 0;
    if (st->delay_dir == 1 && st->delay_drift >= -2560)
        st->delay_dir = 0;
    if (st->delay_dir != 0 && st->beta < 13107)
        delay = add(delay, st->delay_dir);
    return delay;
}

static void encode_eighth(evrc_encoder *enc);

void evrc_encode(evrc_encoder *enc, Word16 rate)
{
    evrc_encoder_state *st = &enc->st;
    evrc_set_rate(&st->rate, rate);
    evrc_bits_clear(&st->bits);
    if (rate == EVRC_RATE_EIGHTH) {
        encode_eighth(enc);
        st->prev_rate = rate;
        st->frame_count++;
        return;
    }
    Word16 full = rate == EVRC_RATE_FULL;
    if (full)
        evrc_pack_bits(&st->bits, st->lpc_flag, 1);
    const evrc_rate_row *row = st->rate.row;
    evrc_lsp_quantise(st->lsp_idx, st->qlsp, st->lsp, row);
    for (int s = 0; s < row->splits; s++)
        evrc_pack_bits(&st->bits, st->lsp_idx[s], row->bits[s]);

    Word16 delay = track_delay(st, st->open_loop_delay);
    if (delay < EVRC_MIN_DELAY)
        delay = EVRC_MIN_DELAY;
    if (delay > EVRC_MAX_DELAY)
        delay = EVRC_MAX_DELAY;
    st->delay = delay;
    evrc_pack_bits(&st->bits, sub(delay, EVRC_MIN_DELAY), 7);
    Word16 diff = sub(delay, st->prev_delay);
    if (full)
        evrc_pack_bits(&st->bits, abs_s(diff) <= 15 ? add(diff, 16) : 0, 5);
    // A jump the decoder will not interpolate across.
    if (abs_s(diff) > 15)
        st->prev_delay = delay;

    Word16 acb_sum = 0;
    for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 len = evrc_subframe_len[i];
        Word16 lsp[EVRC_LPC_ORDER], aq[EVRC_LPC_ORDER], a[EVRC_LPC_ORDER];
        evrc_interpolate_lsp(lsp, st->prev_qlsp, st->qlsp, i);
        evrc_lsp_to_lpc(aq, lsp);
        evrc_interpolate_lsp(lsp, st->prev_lsp, st->lsp, i);
        evrc_lsp_to_lpc(a, lsp);
        Word16 wnum[EVRC_LPC_ORDER], wden[EVRC_LPC_ORDER];
        evrc_weight(wnum, a, EVRC_WEIGHT_0_9);
        evrc_weight(wden, a, EVRC_WEIGHT_0_5);

        Word32 contour[3];
        evrc_interpolate_delay(contour, st->prev_delay, delay, i);

        Word16 mres[EVRC_SUBFRAME_MAX];
        evrc_rcelp_modify(st, contour, i, len, mres);

        // Weighted modified speech, less the weighted synthesis filter's
        // response to its past. The speech side runs on the unquantised
        // filter and its own memories.
        Word16 sw[EVRC_SUBFRAME_MAX], zir[EVRC_SUBFRAME_MAX];
        evrc_enc_allpole(sw, mres, a, st->sp_mem, len);
        evrc_enc_allzero(sw, sw, wnum, st->swnum_mem, len);
        evrc_enc_allpole(sw, sw, wden, st->swden_mem, len);
        Word16 m1[EVRC_LPC_ORDER], m2[EVRC_LPC_ORDER], m3[EVRC_LPC_ORDER];
        memcpy(m1, st->syn_mem, sizeof m1);
        memcpy(m2, st->wnum_mem, sizeof m2);
        memcpy(m3, st->wden_mem, sizeof m3);
        memset(zir, 0, sizeof zir);
        evrc_enc_allpole(zir, zir, aq, m1, len);
        evrc_enc_allzero(zir, zir, wnum, m2, len);
        evrc_enc_allpole(zir, zir, wden, m3, len);
        for (int n = 0; n < len; n++)
            st->target[n] = sub(sw[n], zir[n]);

        evrc_weighted_impulse(st->h, aq, wnum, wden);

        // Adaptive codebook: the gain from the filtered vector, then the
        // vector scaled in place and filtered again for the fixed-codebook
        // target, so that the target holds exactly what the excitation will.
        Word16 *acb = st->exc + EVRC_ACB_MEM;
        Word16 y[EVRC_SUBFRAME_MAX];
        convolve(y, acb, st->h, len);
        Word16 gi = acb_gain_quantise(st->target, y, len);
        Word16 g = evrc_tab_acb_gain[gi];
        st->acb_idx[i] = gi;
        acb_sum = add(acb_sum, gi);
        for (int n = 0; n < len; n++)
            acb[n] = round(L_shl(L_mult(g, acb[n]), 1));
        convolve(y, acb, st->h, len);
        for (int n = 0; n < len; n++)
            st->target[n] = sub(st->target[n], y[n]);

        // Fixed codebook, sharpened at the rounded mean delay of the subframe.
        Word16 lag = round(L_shr(L_add(contour[0], contour[1]), 1));
        if (lag > len)
            lag = 200;
        evrc_fcb_search_drive(st, g, len, lag, full, aq, wnum, wden);
        Word16 gq;
        Word16 fi = fcb_gain_quantise(st->fcb_gain, g, &st->rate, &gq);
        st->fcb_gain_idx[i] = fi;

        // Local decoder: total excitation, synthesis and weighting memories.
        for (int n = 0; n < len; n++)
            acb[n] = add(acb[n], round(L_mult(st->code[n], gq)));
        Word16 syn[EVRC_SUBFRAME_MAX];
        evrc_enc_allpole(syn, acb, aq, st->syn_mem, len);
        evrc_enc_allzero(syn, syn, wnum, st->wnum_mem, len);
        evrc_enc_allpole(syn, syn, wden, st->wden_mem, len);
        memmove(st->exc, st->exc + len, EVRC_ACB_MEM * sizeof(Word16));

        evrc_pack_bits(&st->bits, gi, 3);
        if (full) {
            evrc_pack_bits(&st->bits, st->fcb_words[0], 8);
            evrc_pack_bits(&st->bits, st->fcb_words[1], 8);
            evrc_pack_bits(&st->bits, st->fcb_words[2], 8);
            evrc_pack_bits(&st->bits, st->fcb_words[3], 11);
            evrc_pack_bits(&st->bits, fi, 5);
        } else {
            evrc_pack_bits(&st->bits, st->fcb_words[0], 10);
            evrc_pack_bits(&st->bits, fi, 4);
        }
    }
    if (acb_sum <= 1 && st->acb_idx[2] != 1) {
        st->delay_drift = 0;
        st->seg_pos = 0;
    }
    st->prev_delay = delay;
    st->prev_rate = rate;
    st->frame_count++;
}

// The eighth-rate noise generator, with the far end's arithmetic: the
// packets were made with this sequence.
static Word16 eighth_noise(evrc_encoder_state *st)
{
    return evrc_gaussian_random(&st->noise, &st->eighth_seed);
}

// log10 of a Q31 value via log2 (Q31 / 32).
static Word32 log10_q(Word32 x)
{
    return L_mpy_ls(evrc_log2(x), 9864);
}

// Eighth rate: two 4-bit LSP indices and the frame's energy contour as one
// 8-bit index. The level of each subframe is measured against the gain of
// its synthesis filter; the local decoder then draws the frame's noise once
// and runs the filter memories over it.
static void encode_eighth(evrc_encoder *enc)
{
    evrc_encoder_state *st = &enc->st;
    st->delay_drift = 0;
    st->seg_pos = 0;
    Word16 idx[2];
    evrc_lsp_quantise(idx, st->qlsp, st->lsp, &evrc_rate_row_eighth);
    evrc_pack_bits(&st->bits, idx[0], 4);
    evrc_pack_bits(&st->bits, idx[1], 4);

    Word16 loge[EVRC_SUBFRAMES];
    Word16 bi = 0;
    const Word16 *res = EVRC_RESIDUAL(st) + EVRC_LOOKAHEAD;
    for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 len = evrc_subframe_len[i];
        Word16 lsp[EVRC_LPC_ORDER], aq[EVRC_LPC_ORDER];
        evrc_interpolate_lsp(lsp, st->prev_qlsp, st->qlsp, i);
        evrc_lsp_to_lpc(aq, lsp);

        Word16 h[EVRC_IMPULSE_LEN];
        evrc_weighted_impulse(h, aq, aq, aq);
        Word32 e = 0;
        for (int n = 0; n < len; n++)
            e = L_mac(e, h[n], h[n]);
        Word16 k = norm_l(e);
        Word16 q = evrc_sqrt(L_shl(e, k));
        if (k & 1)
            q = mult(q, 23170);
        k = shr(k, 1);
        Word16 g = shr(q, (Word16)(k - 1));

        if (i == 0 && st->frame_count == 0 && st->prev_rate != EVRC_RATE_EIGHTH)
            st->eighth_seed = 1234;

        Word32 sum = 0;
        for (int n = 0; n < len; n++)
            sum = L_add(sum, L_deposit_l(abs_s(res[n])));
        sum = L_shl(sum, 1);
        res += len;
        Word32 v;
        if (sum < 54) {
            v = log10_q(L_deposit_h(g));
            v = L_negate(L_add(L_shl(v, 3), 484942745));
        } else {
            // The 54 also serves the 53-sample subframes.
            Word32 lam = L_mult(54, g);
            Word16 a1 = norm_l(lam);
            Word16 lh = round(L_shl(lam, a1));
            Word16 a2 = (Word16)(norm_l(sum) - 1);
            Word16 sh = round(L_shl(sum, a2));
            v = L_deposit_h(shl(evrc_divide_s(sh, lh), (Word16)(a1 - a2)));
            v = L_add(log10_q(v), 141412467);
            v = L_add(L_shl(v, 3), 969485490);
        }
        loge[i] = round(v);

        if (i == EVRC_SUBFRAMES - 1) {
            Word32 best = EVRC_MAX_32;
            for (Word16 j = 0; j < 256; j++) {
                Word32 d = 0;
                for (int s = 0; s < EVRC_SUBFRAMES; s++) {
                    Word16 t = sub(loge[s], evrc_tab_eighth_energy_log[j][s]);
                    d = L_mac(d, t, t);
                }
                if (d < best) {
                    best = d;
                    bi = j;
                }
            }
            // Frame samples 32..159 of the noise, straight into the memory.
            const int16_t *lin = evrc_tab_eighth_energy_lin[bi];
            for (int m = 32; m < 159; m++)
                st->exc[m - 32] = round(L_shr(L_mult(eighth_noise(st), lin[m / 53]), 5));
            st->exc[EVRC_ACB_MEM - 1] = round(L_shr(L_mult(eighth_noise(st), lin[2]), 5));
        }

        // Memory update over the newest samples of the excitation memory:
        // the previous frame's in subframes 0 and 1, the new noise in 2.
        Word16 syn[EVRC_SUBFRAME_MAX];
        Word16 wnum[EVRC_LPC_ORDER], wden[EVRC_LPC_ORDER];
        evrc_weight(wnum, aq, EVRC_WEIGHT_0_9);
        evrc_weight(wden, aq, EVRC_WEIGHT_0_5);
        evrc_enc_allpole(syn, st->exc + EVRC_ACB_MEM - len, aq, st->syn_mem, len);
        evrc_enc_allzero(syn, syn, wnum, st->wnum_mem, len);
        evrc_enc_allpole(syn, syn, wden, st->wden_mem, len);
    }
    if ((idx[0] & idx[1] & 15) == 15 && bi == 255)
        bi = 127;
    st->energy_idx = bi;
    evrc_pack_bits(&st->bits, bi, 8);
}
