// Input noise suppression of the EVRC encoder: a 128-point transform of each
// 80-sample block, 16 frequency channels whose background noise is tracked
// in pauses, and a gain per channel that falls with the channel's
// signal-to-noise ratio (never below -13 dB). Only runs when the encoder
// object asks for it.
#include "evrc_encode.h"
#include "evrc_tables.h"

#include <cstring>

#define NS_FFT EVRC_NS_FFT
#define NS_BLOCK EVRC_NS_BLOCK
#define NS_OVERLAP EVRC_NS_OVERLAP
#define NS_WIN (NS_OVERLAP + NS_BLOCK)
#define NS_TAIL (NS_FFT - NS_BLOCK)

// Energies are Q8 ("0 dB input" level set).
#define NS_INIT_ENERGY 4096
#define NS_MIN_CHAN_ENERGY 16
#define NS_MIN_NOISE_ENERGY 16
#define NS_NOISE_FLOOR 256
#define NS_INIT_BLOCKS 4

#define NS_UPDATE_THLD 35
#define NS_METRIC_THLD 45
#define NS_INDEX_THLD 12
#define NS_SETBACK_THLD 12
#define NS_SNR_THLD 6
#define NS_INDEX_CNT_THLD 5
#define NS_HYSTER_CNT_THLD 6
#define NS_UPDATE_CNT_THLD 50

// dB values: Q5 for the totals and the long-term estimates, Q21 for the
// channel SNRs and gains.
#define NS_HIGH_TCE_DB 1600
#define NS_LOW_TCE_DB 960
#define NS_DEV_THLD 896
#define NS_HIGH_ALPHA 32440
#define NS_LOW_ALPHA 16383
#define NS_ALPHA_SLOPE 803
#define NS_MIN_GAIN_DB (-27262976)
#define NS_GAIN_SLOPE 14879
#define NS_LOG10_2_POW31 626255212 // log10(2^31), Q26
#define NS_LOG10_2_POW8 161614248  // log10(2^8), Q26
#define NS_TEN_Q10 10270
#define NS_HALF_STEP_Q21 393216
#define NS_INV_STEP_Q10 2731
#define NS_INV_20 1638

// log10(x), Q26, for x > 0.
static Word32 log10_q26(Word32 x)
{
    return L_add(L_mpy_ls(evrc_log2(x), 9864), NS_LOG10_2_POW31);
}

// 10 log10 of a Q8 energy in dB, Q21.
static Word32 db_q21(Word32 e)
{
    return L_mpy_ls(L_sub(log10_q26(e), NS_LOG10_2_POW8), NS_TEN_Q10);
}

// 10^x for a Q26 log10 x <= 0: Q31.
static Word32 exp10_q26(Word32 x)
{
    return evrc_pow2(L_shl(L_mpy_ls(x, 27213), 2));
}

// Complex 64-point transform on interleaved (re, im) pairs. The forward
// direction halves at every stage (1/64 in all); the inverse keeps the
// scale, the caller having left headroom for it.
static void ns_cfft(Word16 *x, int inverse)
{
    const Word16 *tw = &evrc_tab_fft_twiddle[0][0];
    for (Word16 i = 0, j = 0; i < NS_FFT - 2; i += 2) {
        if (j > i) {
            Word16 t = x[i];
            x[i] = x[j];
            x[j] = t;
            t = x[i + 1];
            x[i + 1] = x[j + 1];
            x[j + 1] = t;
        }
        Word16 k = NS_FFT / 2;
        while (j >= k) {
            j = sub(j, k);
            k = shr(k, 1);
        }
        j = add(j, k);
    }
    for (int stage = 0; stage < 6; stage++) {
        int span = 2 << stage;
        int step = evrc_tab_fft_stage_step[stage];
        int ti = 0;
        for (int j = 0; j < span; j += 2) {
            for (int k = j; k < NS_FFT; k += 2 * span) {
                int kj = k + span;
                Word32 re, im;
                if (!inverse) {
                    re = L_msu(L_mult(x[kj], tw[ti]), x[kj + 1], tw[ti + 1]);
                    im = L_mac(L_mult(x[kj + 1], tw[ti]), x[kj], tw[ti + 1]);
                } else {
                    re = L_mac(L_mult(x[kj], tw[ti]), x[kj + 1], tw[ti + 1]);
                    im = L_msu(L_mult(x[kj + 1], tw[ti]), x[kj], tw[ti + 1]);
                }
                Word16 r = round(re), m = round(im);
                if (!inverse) {
                    x[kj] = shr(sub(x[k], r), 1);
                    x[kj + 1] = shr(sub(x[k + 1], m), 1);
                    x[k] = shr(add(x[k], r), 1);
                    x[k + 1] = shr(add(x[k + 1], m), 1);
                } else {
                    x[kj] = sub(x[k], r);
                    x[kj + 1] = sub(x[k + 1], m);
                    x[k] = add(x[k], r);
                    x[k + 1] = add(x[k + 1], m);
                }
            }
            ti += 2 * step;
        }
    }
}

// Real 128-point transform through the complex one. Forward: 128 samples in,
// DC and Nyquist in x[0], x[1], then bins 1..63 as (re, im), all 1/128 of
// the plain DFT. Inverse: the same layout back to samples.
static void ns_rfft(Word16 *x, int inverse)
{

    const Word16 *tw = &evrc_tab_fft_twiddle[0][0];
    if (!inverse) {
        ns_cfft(x, 0);
        Word16 a = x[0], b = x[1];
        x[0] = add(a, b);
        x[1] = sub(a, b);
        for (int i = 2, j = NS_FFT - 2; i <= NS_FFT / 2; i += 2, j = NS_FFT - i) {
            Word16 r1 = add(x[i], x[j]);
            Word16 i1 = sub(x[i + 1], x[j + 1]);
            Word16 r2 = add(x[i + 1], x[j + 1]);
            Word16 i2 = sub(x[j], x[i]);
            Word32 lr = L_deposit_h(r1), li = L_deposit_h(i1);
            x[i] = round(L_shr(L_msu(L_mac(lr, r2, tw[i]), i2, tw[i + 1]), 1));
            x[i + 1] = round(L_shr(L_mac(L_mac(li, i2, tw[i]), r2, tw[i + 1]), 1));
            x[j] = round(L_shr(L_mac(L_mac(lr, r2, tw[j]), i2, tw[j + 1]), 1));
            x[j + 1] = round(L_shr(L_mac(L_msu(L_negate(li), i2, tw[j]), r2, tw[j + 1]), 1));
        }
    } else {
        Word16 a = x[0], b = x[1];
        x[0] = shr(add(a, b), 1);
        x[1] = shr(sub(a, b), 1);
        for (int i = 2, j = NS_FFT - 2; i <= NS_FFT / 2; i += 2, j = NS_FFT - i) {
            Word16 r1 = add(x[i], x[j]);
            Word16 i1 = sub(x[i + 1], x[j + 1]);
            Word16 r2 = negate(add(x[j + 1], x[i + 1]));
            Word16 i2 = negate(sub(x[j], x[i]));
            Word32 lr = L_deposit_h(r1), li = L_deposit_h(i1);
            x[i] = round(L_shr(L_mac(L_mac(lr, r2, tw[i]), i2, tw[i + 1]), 1));
            x[i + 1] = round(L_shr(L_msu(L_mac(li, i2, tw[i]), r2, tw[i + 1]), 1));
            x[j] = round(L_shr(L_msu(L_mac(lr, r2, tw[j]), i2, tw[j + 1]), 1));
            x[j + 1] = round(L_shr(L_msu(L_msu(L_negate(li), i2, tw[j]), r2, tw[j + 1]), 1));
        }
        ns_cfft(x, 1);
    }
}

static void ns_init(evrc_ns_state *ns)
{
    memset(ns, 0, sizeof *ns);
    ns->initialised = 1;
    for (int i = 0; i < EVRC_NS_CHANNELS; i++) {
        ns->ch_energy[i] = NS_INIT_ENERGY;
        ns->ch_noise[i] = NS_INIT_ENERGY;
    }
}

void evrc_noise_suppress(evrc_ns_state *ns, Word16 *samples)
{
    if (!ns->initialised)
        ns_init(ns);
    if (ns->block_count < EVRC_MAX_16)
        ns->block_count++;
    int first = ns->block_count == 1;

    // Normalise the new block; bring the history to the same scale.
    Word16 x[NS_BLOCK];
    memcpy(x, samples, sizeof x);
    Word16 s = evrc_block_normalise(x, NS_BLOCK, 2);
    Word16 ds = sub(s, ns->last_shift);
    ns->pre_emph_mem = shift_r(ns->pre_emph_mem, ds);
    for (int n = 0; n < NS_OVERLAP; n++)
        ns->overlap[n] = shift_r(ns->overlap[n], ds);
    ns->last_shift = s;

    Word16 buf[NS_FFT];
    memcpy(buf, ns->overlap, sizeof ns->overlap);
    Word16 prev = ns->pre_emph_mem;
    for (int n = 0; n < NS_BLOCK; n++) {
        buf[NS_OVERLAP + n] = round(L_mac(L_deposit_h(x[n]), prev, -26214));
        prev = x[n];
    }
    ns->pre_emph_mem = prev;
    memcpy(ns->overlap, buf + NS_BLOCK, sizeof ns->overlap);
    for (int n = 0; n < NS_WIN; n++)
        buf[n] = mult_r(buf[n], evrc_tab_ns_window[n]);
    memset(buf + NS_WIN, 0, (NS_FFT - NS_WIN) * sizeof(Word16));

    ns_rfft(buf, 0);

    // Channel energies, Q8 of the mean |G(k)|^2 with G = 2/128 DFT.
    Word32 tce = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        int lo = evrc_tab_ns_channel_bins[c][0], hi = evrc_tab_ns_channel_bins[c][1];
        Word32 e = 0;
        for (int k = lo; k <= hi; k++) {
            e = L_mac(e, buf[2 * k], buf[2 * k]);
            e = L_mac(e, buf[2 * k + 1], buf[2 * k + 1]);
        }
        if (evrc_tab_ns_channel_scale[c][0]) {
            e = L_shr(e, evrc_tab_ns_channel_scale[c][1]);
        } else {
            Word16 nrm = norm_l(e);
            e = L_shr(L_mult(extract_h(L_shl(e, nrm)), evrc_tab_ns_channel_scale[c][1]), nrm);
        }
        // Undo the block scaling (2s in power); G = 2/128 DFT is twice the
        // transform's output, and L_mac doubled the squares: Q8 needs << 7.
        e = L_shr(e, sub(shl(s, 1), 7));
        if (first)
            ns->ch_energy[c] = e;
        else
            ns->ch_energy[c] =
                L_add(L_mpy_ll(ns->ch_energy[c], 1181116006), L_mpy_ll(e, 966367642));
        if (ns->ch_energy[c] < NS_MIN_CHAN_ENERGY)
            ns->ch_energy[c] = NS_MIN_CHAN_ENERGY;
        tce = L_add(tce, ns->ch_energy[c]);
    }

    // The first blocks seed the noise estimate from the signal itself.
    if (ns->block_count <= NS_INIT_BLOCKS) {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            ns->ch_noise[c] = ns->ch_energy[c] < NS_INIT_ENERGY ? NS_INIT_ENERGY : ns->ch_energy[c];
    }

    // Channel SNRs quantised in 0.375 dB steps, and the voice metric.
    Word16 snr_idx[EVRC_NS_CHANNELS];
    Word16 vm = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        Word32 l = L_sub(log10_q26(ns->ch_energy[c]), log10_q26(ns->ch_noise[c]));
        Word32 db = L_mpy_ls(l, NS_TEN_Q10);
        Word16 q = extract_h(L_mpy_ls(L_add(db, NS_HALF_STEP_Q21), NS_INV_STEP_Q10));
        if (q < 0)
            q = 0;
        if (q > 89)
            q = 89;
        snr_idx[c] = q;
        vm = add(vm, (Word16)evrc_tab_ns_voice_metric[q]);
    }

    // Spectral deviation against the long-term log spectrum (Q5 dB).
    Word16 ch_db[EVRC_NS_CHANNELS];
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        ch_db[c] = extract_h(db_q21(ns->ch_energy[c]));
    Word16 tce_db = extract_h(db_q21(tce));
    Word16 dev = 0;
    if (first) {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            ns->ch_enrg_long_db[c] = ch_db[c];
    } else {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            dev = add(dev, abs_s(sub(ns->ch_enrg_long_db[c], ch_db[c])));
    }
    Word16 alpha;
    if (tce_db > NS_HIGH_TCE_DB)
        alpha = NS_HIGH_ALPHA;
    else if (tce_db < NS_LOW_TCE_DB)
        alpha = NS_LOW_ALPHA;
    else
        alpha = sub(NS_HIGH_ALPHA,
                    extract_l(L_shr(L_mult(sub(NS_HIGH_TCE_DB, tce_db), NS_ALPHA_SLOPE), 6)));
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        ns->ch_enrg_long_db[c] =
            round(L_mac(L_mult(alpha, ns->ch_enrg_long_db[c]), sub(EVRC_MAX_16, alpha), ch_db[c]));

    // Noise update decision.
    int update = 0;
    if (vm <= NS_UPDATE_THLD) {
        update = 1;
        ns->update_count = 0;
    } else if (tce > NS_NOISE_FLOOR && dev < NS_DEV_THLD) {
        ns->update_count = add(ns->update_count, 1);
        if (ns->update_count >= NS_UPDATE_CNT_THLD)
            update = 1;
    }
    // The hysteresis counts every block in which the update counter stood
    // still, not only the latest run of them: a slowly rising counter that
    // stalls now and then is reset too, and only the reset clears the
    // hysteresis. The reference encoder's packets follow this reading (a
    // forced update after the short pauses of a stretch of speech would pull
    // the noise estimate up where it keeps it low).
    if (ns->update_count == ns->last_update_count)
        ns->hyster_count = add(ns->hyster_count, 1);
    ns->last_update_count = ns->update_count;
    if (ns->hyster_count > NS_HYSTER_CNT_THLD) {
        ns->update_count = 0;
        ns->hyster_count = 0;
    }

    // With little evidence of speech, weak channels are set back to the floor.
    Word16 index_cnt = 0;
    for (int c = 5; c < EVRC_NS_CHANNELS; c++)
        if (snr_idx[c] >= NS_INDEX_THLD)
            index_cnt++;
    if (vm <= NS_METRIC_THLD || index_cnt <= NS_INDEX_CNT_THLD)
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            if (snr_idx[c] <= NS_SETBACK_THLD)
                snr_idx[c] = 1;

    // Gain floor from the total noise estimate, at most 13 dB down.
    Word32 tne = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        tne = L_add(tne, ns->ch_noise[c]);
    Word32 gn = L_negate(db_q21(tne));
    if (gn < NS_MIN_GAIN_DB)
        gn = NS_MIN_GAIN_DB;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        Word16 q = snr_idx[c];
        if (q < NS_SNR_THLD)
            q = NS_SNR_THLD;
        Word32 g = L_add(L_shl(L_mult(sub(q, NS_SNR_THLD), NS_GAIN_SLOPE), 5), gn);
        Word16 gq = g >= 0 ? EVRC_MAX_16 : round(exp10_q26(L_shl(L_mpy_ls(g, NS_INV_20), 5)));
        int lo = evrc_tab_ns_channel_bins[c][0], hi = evrc_tab_ns_channel_bins[c][1];
        for (int k = lo; k <= hi; k++) {
            buf[2 * k] = mult_r(buf[2 * k], gq);
            buf[2 * k + 1] = mult_r(buf[2 * k + 1], gq);
        }
    }

    if (update) {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
            Word32 n = L_add(L_mpy_ls(ns->ch_noise[c], 29490), L_mpy_ls(ns->ch_energy[c], 3277));
            ns->ch_noise[c] = n < NS_MIN_NOISE_ENERGY ? NS_MIN_NOISE_ENERGY : n;
        }
    }

    // Synthesis at full precision in 32 bits: inverse transform with 4 bits
    // of headroom, back to the input scale (with the extra halving the
    // analysis expects), overlap-add, de-emphasis.
    Word16 s2 = evrc_block_normalise(buf, NS_FFT, 4);
    ns_rfft(buf, 1);
    Word16 back = add(add(s, s2), 1);
    Word32 y[NS_FFT];
    for (int n = 0; n < NS_FFT; n++)
        y[n] = L_shr(L_deposit_h(buf[n]), back);
    for (int n = 0; n < NS_TAIL; n++)
        y[n] = L_add(y[n], ns->out_overlap[n]);
    for (int n = 0; n < NS_TAIL; n++)
        ns->out_overlap[n] = y[NS_BLOCK + n];
    Word32 de = ns->de_emph_mem;
    for (int n = 0; n < NS_BLOCK; n++) {
        de = L_add(y[n], L_mpy_ls(de, 26214));
        samples[n] = round(de);
    }
    ns->de_emph_mem = de;
}
