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
    evrc_gauss_reset(&st->gauss);
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

// Eighth rate: two 4-bit LSP indices and the frame's energy contour as one
// 8-bit index; the local decoder synthesises the same kind of noise.
static void encode_eighth(evrc_encoder *enc)
{
    evrc_encoder_state *st = &enc->st;
    Word16 idx[2];
    evrc_lsp_quantise(idx, st->qlsp, st->lsp, &evrc_rate_row_eighth);
    evrc_pack_bits(&st->bits, idx[0], 4);
    evrc_pack_bits(&st->bits, idx[1], 4);

    // Level of the residual per subframe as log10 of its RMS value, a
    // quarter of it in Q15: the scale of the energy codebook.
    Word16 loge[EVRC_SUBFRAMES];
    const Word16 *res = EVRC_RESIDUAL(st) + EVRC_LOOKAHEAD;
    for (int i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 len = evrc_subframe_len[i];
        int64_t e = 0;
        for (int n = 0; n < len; n++)
            e += (int64_t)res[n] * res[n];
        res += len;
        // log2(mean square), Q16, from the normalised sum.
        int64_t ms = e / len;
        if (ms < 1)
            ms = 1;
        int sh = 0;
        while (ms > EVRC_MAX_32) {
            ms >>= 1;
            sh++;
        }
        int64_t l2 = ((int64_t)evrc_log2((Word32)ms) * 32 >> 15) + ((int64_t)(31 + sh) << 16);
        // log10(rms) / 4 = log2(ms) x log10(2) / 8; log10(2) / 8 = 1233 / 32768.
        int64_t v = l2 * 1233 >> 16;
        loge[i] = (Word16)(v > 32767 ? 32767 : v);
    }
    Word32 best = EVRC_MAX_32;
    Word16 bi = 0;
    for (Word16 j = 0; j < 256; j++) {
        Word32 d = 0;
        for (int i = 0; i < EVRC_SUBFRAMES; i++) {
            Word16 e = sub(loge[i], evrc_tab_eighth_energy_log[j][i]);
            d = L_mac(d, e, e);
        }
        if (d < best) {
            best = d;
            bi = j;
        }
    }
    if (idx[0] == 15 && idx[1] == 15 && bi == 255)
        bi = 127;
    st->energy_idx = bi;
    evrc_pack_bits(&st->bits, bi, 8);

    // Local synthesis of the noise the decoder will produce.
    for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 len = evrc_subframe_len[i];
        Word16 lsp[EVRC_LPC_ORDER], aq[EVRC_LPC_ORDER];
        evrc_interpolate_lsp(lsp, st->prev_qlsp, st->qlsp, i);
        evrc_lsp_to_lpc(aq, lsp);
        Word16 *e = st->exc + EVRC_ACB_MEM;
        Word16 gain = evrc_tab_eighth_energy_lin[bi][i];
        for (int n = 0; n < len; n++)
            e[n] =
                round(L_shr(L_mult(evrc_gaussian_random(&st->gauss, &st->eighth_seed), gain), 5));
        Word16 syn[EVRC_SUBFRAME_MAX];
        Word16 wnum[EVRC_LPC_ORDER], wden[EVRC_LPC_ORDER];
        evrc_weight(wnum, aq, EVRC_WEIGHT_0_9);
        evrc_weight(wden, aq, EVRC_WEIGHT_0_5);
        evrc_enc_allpole(syn, e, aq, st->syn_mem, len);
        evrc_enc_allzero(syn, syn, wnum, st->wnum_mem, len);
        evrc_enc_allpole(syn, syn, wden, st->wden_mem, len);
        memmove(st->exc, st->exc + len, EVRC_ACB_MEM * sizeof(Word16));
    }
    st->delay_drift = 0;
    st->delay_dir = 0;
    st->seg_pos = 0;
}
