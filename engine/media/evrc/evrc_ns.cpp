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
#define NS_DEV_THLD 896
#define NS_HIGH_ALPHA 32440
#define NS_LOW_ALPHA 16383
#define NS_ALPHA_SLOPE 803
#define NS_MIN_GAIN_DB (-27262976)
#define NS_GAIN_SLOPE 14879
#define NS_LOG10_Q8_OFFSET 464640964 // log10(2^31) - log10(2^8), Q26
#define NS_LOG10_Q4_OFFSET 545448088 // log10(2^31) - log10(2^4), Q26
#define NS_TEN_Q10 10270
#define NS_HALF_STEP_Q21 393216
#define NS_INV_STEP_Q10 2731
#define NS_INV_20 1638

// log10(x / 2^31), Q26, for x > 0.
static Word32 lg_q26(Word32 x)
{
    return L_mpy_ls(evrc_log2(x), 9864);
}

// 10 log10 of a Q8 energy in dB, Q5, truncated at both steps.
static Word16 db_q5(Word32 e)
{
    return mult(NS_TEN_Q10, extract_h(L_add(lg_q26(e), NS_LOG10_Q8_OFFSET)));
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
            // The two twiddle products are summed first, then added to the
            // half-sum term: an intermediate that saturates does so the same
            // way as at the far end.
            x[i] = round(L_shr(L_add(lr, L_sub(L_mult(r2, tw[i]), L_mult(i2, tw[i + 1]))), 1));
            x[i + 1] = round(L_shr(L_add(li, L_add(L_mult(i2, tw[i]), L_mult(r2, tw[i + 1]))), 1));
            x[j] = round(L_shr(L_add(lr, L_add(L_mult(r2, tw[j]), L_mult(i2, tw[j + 1]))), 1));
            x[j + 1] = round(L_shr(
                L_add(L_negate(li), L_add(L_negate(L_mult(i2, tw[j])), L_mult(r2, tw[j + 1]))), 1));
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
            x[i] = round(L_shr(L_add(lr, L_add(L_mult(r2, tw[i]), L_mult(i2, tw[i + 1]))), 1));
            x[i + 1] = round(L_shr(L_add(li, L_sub(L_mult(i2, tw[i]), L_mult(r2, tw[i + 1]))), 1));
            x[j] = round(L_shr(L_add(lr, L_sub(L_mult(r2, tw[j]), L_mult(i2, tw[j + 1]))), 1));
            x[j + 1] = round(
                L_shr(L_sub(L_negate(li), L_add(L_mult(i2, tw[j]), L_mult(r2, tw[j + 1]))), 1));
        }
        ns_cfft(x, 1);
    }
}

// Scales x in place so that its largest magnitude has `headroom` spare bits.
// The magnitude is taken in plain 16 bits, where -32768 stays negative and so
// never counts as the largest.
static Word16 ns_block_norm(Word16 *x, int count, Word16 headroom)
{
    Word16 m = (Word16)(x[0] < 0 ? -x[0] : x[0]);
    for (int i = 1; i < count; i++) {
        Word16 a = (Word16)(x[i] < 0 ? -x[i] : x[i]);
        if (a > m)
            m = a;
    }
    Word16 s = sub(norm_s(m), headroom);
    for (int i = 0; i < count; i++)
        x[i] = shift_r(x[i], s);
    return s;
}

// v x w through the normalised upper half of v, back at v's scale.
static Word32 weigh_upper(Word32 v, Word16 w)
{
    Word16 k = norm_l(v);
    return L_shr(L_mult(extract_h(L_shl(v, k)), w), k);
}

// Q31 weight x the normalised upper half of v, back at v's scale.
static Word32 weigh_upper_q31(Word32 v, Word32 w)
{
    Word16 k = norm_l(v);
    return L_shr(L_mpy_ls(w, extract_h(L_shl(v, k))), k);
}

void evrc_noise_suppress(evrc_ns_state *ns, Word16 *samples)
{
    if (!ns->initialised) {
        memset(ns, 0, sizeof *ns);
        ns->initialised = 1;
    }
    if (ns->block_count < EVRC_MAX_16)
        ns->block_count++;
    int first = ns->block_count == 1;

    // Normalise the new block; bring the history to the same scale.
    Word16 x[NS_BLOCK];
    memcpy(x, samples, sizeof x);
    Word16 s = ns_block_norm(x, NS_BLOCK, 2);
    Word16 ds = sub(s, ns->last_shift);
    ns->pre_emph_mem = shift_r(ns->pre_emph_mem, ds);
    for (int n = 0; n < NS_OVERLAP; n++)
        ns->overlap[n] = shift_r(ns->overlap[n], ds);
    ns->last_shift = s;

    Word16 buf[NS_FFT];
    memcpy(buf, ns->overlap, sizeof ns->overlap);
    Word16 prev = ns->pre_emph_mem;
    for (int n = 0; n < NS_BLOCK; n++) {
        buf[NS_OVERLAP + n] = add(x[n], mult(-26214, prev));
        prev = x[n];
    }
    ns->pre_emph_mem = prev;
    memcpy(ns->overlap, buf + NS_BLOCK, sizeof ns->overlap);
    for (int n = 0; n < NS_WIN; n++)
        buf[n] = mult_r(buf[n], evrc_tab_ns_window[n]);
    memset(buf + NS_WIN, 0, (NS_FFT - NS_WIN) * sizeof(Word16));

    ns_rfft(buf, 0);

    // Channel energies, Q8 of the mean |G(k)|^2 with G = 2/128 DFT: the
    // block scaling undone (2s in power), and << 7 because G is twice the
    // transform's output and L_mac doubled the squares. Smoothed 0.55 on the
    // new value, each term weighed through its upper half.
    Word16 rho = (Word16)(7 - 2 * s);
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
        if (first)
            ns->ch_energy[c] = L_shl(e, rho);
        else
            ns->ch_energy[c] = L_add(weigh_upper_q31(ns->ch_energy[c], 966367642),
                                     L_shl(weigh_upper_q31(e, 1181116006), rho));
        if (ns->ch_energy[c] < NS_MIN_CHAN_ENERGY)
            ns->ch_energy[c] = NS_MIN_CHAN_ENERGY;
    }

    // The first blocks seed the noise estimate from the signal itself.
    if (ns->block_count <= NS_INIT_BLOCKS) {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            ns->ch_noise[c] = ns->ch_energy[c] < NS_INIT_ENERGY ? NS_INIT_ENERGY : ns->ch_energy[c];
    }

    // Channel SNRs in 0.375 dB steps from the quotient E/N (Q4), and the
    // voice metric. The numerator is normalised one bit short of the
    // denominator so that the division always holds.
    Word16 snr_idx[EVRC_NS_CHANNELS];
    Word16 vm = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        Word16 kn = norm_l(ns->ch_noise[c]), ke = norm_l(ns->ch_energy[c]);
        Word32 q = L_divide(L_shl(ns->ch_energy[c], sub(ke, 1)), L_shl(ns->ch_noise[c], kn));
        q = L_shr(q, (Word16)(26 + ke - kn));
        if (q == 0)
            q = 1;
        Word32 t = L_mult(NS_TEN_Q10, extract_h(L_add(lg_q26(q), NS_LOG10_Q4_OFFSET)));
        if (t < 0)
            t = 0;
        snr_idx[c] = extract_h(L_mult(extract_h(L_add(t, NS_HALF_STEP_Q21)), NS_INV_STEP_Q10));
        vm = add(vm, (Word16)evrc_tab_ns_voice_metric[snr_idx[c] > 89 ? 89 : snr_idx[c]]);
    }

    Word32 tne = 0, tce = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        tne = L_add(tne, ns->ch_noise[c]);
        tce = L_add(tce, ns->ch_energy[c]);
    }

    // Spectral deviation against the long-term log spectrum (Q5 dB), and
    // the long-term update, faster the quieter the block.
    Word16 ch_db[EVRC_NS_CHANNELS];
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        ch_db[c] = db_q5(ns->ch_energy[c]);
    Word16 dev = 0;
    if (first) {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            ns->ch_enrg_long_db[c] = ch_db[c];
    } else {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            dev = add(dev, abs_s(sub(ns->ch_enrg_long_db[c], ch_db[c])));
    }
    // The constant is formed in Q10 and only then moved to Q15, so on the
    // ramp it is a multiple of 32.
    Word16 g = sub(1023, mult(NS_ALPHA_SLOPE, shl(sub(NS_HIGH_TCE_DB, db_q5(tce)), 5)));
    Word16 alpha;
    if (g > 1023)
        alpha = NS_HIGH_ALPHA;
    else if (g < 511)
        alpha = NS_LOW_ALPHA;
    else
        alpha = shl(g, 5);
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        ns->ch_enrg_long_db[c] = extract_h(L_add(L_mult(sub(EVRC_MAX_16, alpha), ch_db[c]),
                                                 L_mult(alpha, ns->ch_enrg_long_db[c])));

    // Noise update decision. The counters wrap as plain 16-bit integers.
    int update = 0;
    if (vm <= NS_UPDATE_THLD) {
        update = 1;
        ns->update_count = 0;
    } else if (tce > NS_NOISE_FLOOR && dev < NS_DEV_THLD) {
        ns->update_count = (Word16)(ns->update_count + 1);
        if (ns->update_count >= NS_UPDATE_CNT_THLD)
            update = 1;
    }
    // The hysteresis counts the blocks of the current stall of the update
    // counter; a long stall resets the counter (but not the hysteresis, so
    // the next stalled block resets it again).
    if (ns->update_count == ns->last_update_count)
        ns->hyster_count = (Word16)(ns->hyster_count + 1);
    else
        ns->hyster_count = 0;
    ns->last_update_count = ns->update_count;
    if (ns->hyster_count > NS_HYSTER_CNT_THLD)
        ns->update_count = 0;

    // With few strong channels the weak ones are set back to the floor, and
    // with little evidence of speech all of them are.
    Word16 index_cnt = 0;
    for (int c = 5; c < EVRC_NS_CHANNELS; c++)
        if (snr_idx[c] >= NS_INDEX_THLD)
            index_cnt++;
    if (index_cnt < NS_INDEX_CNT_THLD)
        for (int c = 0; c < EVRC_NS_CHANNELS; c++)
            if (vm <= NS_METRIC_THLD || snr_idx[c] <= NS_SETBACK_THLD)
                snr_idx[c] = 1;

    // Gain floor from the total noise estimate, at most 13 dB down. A
    // channel at or above 0 dB gets 10^(-2^-26), just under unity.
    Word32 gn = L_mpy_ls(L_negate(L_add(lg_q26(tne), NS_LOG10_Q8_OFFSET)), NS_TEN_Q10);
    if (gn < NS_MIN_GAIN_DB)
        gn = NS_MIN_GAIN_DB;
    Word16 gain[NS_FFT / 2];
    gain[0] = gain[1] = EVRC_MAX_16;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        Word16 q = snr_idx[c] < NS_SNR_THLD ? (Word16)NS_SNR_THLD : snr_idx[c];
        Word32 gdb = L_add(L_shl(L_mult(sub(q, NS_SNR_THLD), NS_GAIN_SLOPE), 5), gn);
        if (gdb > 0)
            gdb = 0;
        Word32 y = L_shl(L_mpy_ls(gdb, NS_INV_20), 5);
        if (y == 0)
            y = -1;
        Word16 gq = extract_h(exp10_q26(y));
        int lo = evrc_tab_ns_channel_bins[c][0], hi = evrc_tab_ns_channel_bins[c][1];
        for (int k = lo; k <= hi; k++)
            gain[k] = gq;
    }
    // Every bin is scaled, DC, Nyquist and bin 1 too (by 32767).
    for (int k = 0; k < NS_FFT / 2; k++) {
        buf[2 * k] = mult(buf[2 * k], gain[k]);
        buf[2 * k + 1] = mult(buf[2 * k + 1], gain[k]);
    }

    if (update) {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
            Word32 n =
                L_add(weigh_upper(ns->ch_noise[c], 29490), weigh_upper(ns->ch_energy[c], 3277));
            ns->ch_noise[c] = n < NS_MIN_NOISE_ENERGY ? NS_MIN_NOISE_ENERGY : n;
        }
    }

    // Synthesis in 16 bits: inverse transform with 4 bits of headroom, back
    // to the input scale with the extra halving the analysis expects,
    // overlap-add, de-emphasis (the carried-over sample's product
    // truncated, the others rounded).
    Word16 s2 = ns_block_norm(buf, NS_FFT, 4);
    ns_rfft(buf, 1);
    Word16 back = negate(add(add(s, s2), 1));
    for (int n = 0; n < NS_FFT; n++)
        buf[n] = shift_r(buf[n], back);
    for (int n = 0; n < NS_TAIL; n++) {
        buf[n] = add(buf[n], ns->out_overlap[n]);
        ns->out_overlap[n] = buf[NS_BLOCK + n];
    }
    Word16 y = add(buf[0], mult(26214, ns->de_emph_mem));
    samples[0] = y;
    for (int n = 1; n < NS_BLOCK; n++) {
        y = add(buf[n], mult_r(26214, y));
        samples[n] = y;
    }
    ns->de_emph_mem = y;
}
