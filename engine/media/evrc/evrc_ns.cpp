// Input noise suppression of the EVRC encoder: a 128-point transform of each
// 80-sample block, 16 frequency channels whose background noise is tracked
// in pauses, and a gain per channel that falls with the channel's
// signal-to-noise ratio (never below -13 dB). Only runs when the encoder
// object asks for it.
#include "evrc_encode.h"
#include "evrc_tables.h"

#include <cstring>

#define NS_BINS (EVRC_NS_FFT / 2)
#define NS_WIN (EVRC_NS_OVERLAP + EVRC_NS_BLOCK)
#define NS_TAIL (EVRC_NS_FFT - EVRC_NS_BLOCK)

// Energies are Q8; these are the reference's "0 dB input" values.
#define NS_INIT_ENERGY 4096
#define NS_MIN_CHAN_ENERGY 16
#define NS_MIN_NOISE_ENERGY 16
#define NS_NOISE_FLOOR 256

// Decision thresholds (voice metric, SNR indices, counters).
#define NS_UPDATE_THLD 35
#define NS_METRIC_THLD 45
#define NS_INDEX_THLD 12
#define NS_SETBACK_THLD 12
#define NS_SNR_THLD 6
#define NS_INDEX_CNT_THLD 5
#define NS_HYSTER_CNT_THLD 6
#define NS_UPDATE_CNT_THLD 50

// dB values are Q8 here.
#define NS_HIGH_TCE_DB (50 << 8)
#define NS_LOW_TCE_DB (30 << 8)
#define NS_DEV_THLD (28 << 8)
#define NS_MIN_GAIN_DB (-13 << 8)

// 10 log10(x) in Q8 for x > 0 (x itself any integer scale).
static Word32 db10(Word32 x)
{
    if (x <= 0)
        return -(100 << 8);
    // evrc_log2 gives log2(x / 2^31) / 32 in Q31.
    int64_t l2 = (int64_t)evrc_log2(x) * 32 + ((int64_t)31 << 31); // log2(x), Q31
    // 10 log10(2) = 3.0103 (Q13: 24660).
    return (Word32)((l2 * 24660) >> (31 + 13 - 8));
}

// 10^(db / 20) in Q15 for db <= 0 (Q8).
static Word16 gain_from_db(Word32 db)
{
    if (db >= 0)
        return EVRC_MAX_16;
    // log2 of the gain = db / 20 / log10(2) = db * 0.16610 (Q8 -> Q31 / 32 scale).
    int64_t l2 = ((int64_t)db * 5443) >> 15; // log2(gain), Q8
    // evrc_pow2 takes log2 / 32 in Q31.
    Word32 arg = (Word32)((l2 << 23) / 32);
    Word32 p = evrc_pow2(arg);
    return round(p);
}

// Twiddle product: (a + jb)(wr + j wi) with Q15 twiddles.
static inline Word32 tw_re(Word32 a, Word32 b, Word16 wr, Word16 wi)
{
    return (Word32)(((int64_t)a * wr - (int64_t)b * wi + 16384) >> 15);
}

static inline Word32 tw_im(Word32 a, Word32 b, Word16 wr, Word16 wi)
{
    return (Word32)(((int64_t)a * wi + (int64_t)b * wr + 16384) >> 15);
}

// Complex radix-2 FFT of 64 points in place (re, im interleaved), unscaled;
// inverse selects the conjugate twiddles. Inputs stay far below 2^24, so
// the 32-bit values cannot overflow.
static void fft64(Word32 *x, int inverse)
{
    const int n = NS_BINS;
    for (int i = 1, j = 0; i < n; i++) {
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j |= bit;
        if (i < j) {
            Word32 t = x[2 * i];
            x[2 * i] = x[2 * j];
            x[2 * j] = t;
            t = x[2 * i + 1];
            x[2 * i + 1] = x[2 * j + 1];
            x[2 * j + 1] = t;
        }
    }
    for (int len = 2; len <= n; len <<= 1) {
        int step = EVRC_NS_FFT / len; // twiddle index step in the 128-point table
        for (int i = 0; i < n; i += len) {
            for (int k = 0; k < len / 2; k++) {
                Word16 wr = evrc_tab_fft_twiddle[k * step][0];
                Word16 wi = evrc_tab_fft_twiddle[k * step][1];
                if (inverse)
                    wi = negate(wi);
                int a = 2 * (i + k), b = 2 * (i + k + len / 2);
                Word32 tr = tw_re(x[b], x[b + 1], wr, wi);
                Word32 ti = tw_im(x[b], x[b + 1], wr, wi);
                x[b] = x[a] - tr;
                x[b + 1] = x[a + 1] - ti;
                x[a] = x[a] + tr;
                x[a + 1] = x[a + 1] + ti;
            }
        }
    }
}

// Real 128-point transform through the 64-point complex one: bins 0..64
// (re, im) of the plain DFT, halved.
static void rfft128(const Word16 *in, Word32 *out)
{
    Word32 z[2 * NS_BINS];
    for (int n = 0; n < 2 * NS_BINS; n++)
        z[n] = in[n];
    fft64(z, 0);
    // X[k] = (Z[k] + conj Z[64-k]) / 2 - j W^k (Z[k] - conj Z[64-k]) / 2.
    for (int k = 0; k <= NS_BINS; k++) {
        int k1 = k % NS_BINS, k2 = (NS_BINS - k) % NS_BINS;
        Word32 er = z[2 * k1] + z[2 * k2], ei = z[2 * k1 + 1] - z[2 * k2 + 1];
        Word32 dr = z[2 * k1] - z[2 * k2], di = z[2 * k1 + 1] + z[2 * k2 + 1];
        Word16 wr = k < NS_BINS ? evrc_tab_fft_twiddle[k][0] : (Word16)-32768;
        Word16 wi = k < NS_BINS ? evrc_tab_fft_twiddle[k][1] : (Word16)0;
        // -j (dr + j di) = di - j dr
        Word32 tr = tw_re(di, -dr, wr, wi), ti = tw_im(di, -dr, wr, wi);
        out[2 * k] = (er + tr) >> 2;
        out[2 * k + 1] = (ei + ti) >> 2;
    }
}

// Inverse of rfft128.
static void irfft128(const Word32 *in, Word32 *out)
{
    Word32 z[2 * NS_BINS];
    for (int k = 0; k < NS_BINS; k++) {
        int k2 = NS_BINS - k;
        Word32 er = in[2 * k] + in[2 * k2], ei = in[2 * k + 1] - in[2 * k2 + 1];
        Word32 dr = in[2 * k] - in[2 * k2], di = in[2 * k + 1] + in[2 * k2 + 1];
        Word16 wr = evrc_tab_fft_twiddle[k][0], wi = negate(evrc_tab_fft_twiddle[k][1]);
        // Z[k] = E + j W^-k D
        Word32 tr = tw_re(dr, di, wr, wi), ti = tw_im(dr, di, wr, wi);
        z[2 * k] = er - ti;
        z[2 * k + 1] = ei + tr;
    }
    fft64(z, 1);
    for (int n = 0; n < 2 * NS_BINS; n++)
        out[n] = z[n] >> 6;
}

static Word32 max32(Word32 a, Word32 b)
{
    return a > b ? a : b;
}

static void ns_init(evrc_ns_state *ns)
{
    memset(ns, 0, sizeof *ns);
    ns->initialised = 1;
    for (int i = 0; i < EVRC_NS_CHANNELS; i++) {
        ns->ch_energy[i] = 0;
        ns->ch_noise[i] = NS_INIT_ENERGY;
    }
}

void evrc_noise_suppress(evrc_ns_state *ns, Word16 *samples)
{
    int first = !ns->initialised;
    if (first)
        ns_init(ns);

    // Pre-emphasis y[n] = x[n] - 0.8 x[n-1], at half scale for headroom.
    Word16 pre[EVRC_NS_BLOCK];
    Word16 last = ns->pre_emph_mem;
    for (int n = 0; n < EVRC_NS_BLOCK; n++) {
        Word32 acc = L_mult(samples[n], 16384);
        acc = L_msu(acc, last, 13107);
        pre[n] = round(acc);
        last = samples[n];
    }
    ns->pre_emph_mem = last;

    // Analysis frame: overlap, new block, zeros; windowed.
    Word16 buf[EVRC_NS_FFT];
    memcpy(buf, ns->overlap, EVRC_NS_OVERLAP * sizeof(Word16));
    memcpy(buf + EVRC_NS_OVERLAP, pre, EVRC_NS_BLOCK * sizeof(Word16));
    memset(buf + NS_WIN, 0, (EVRC_NS_FFT - NS_WIN) * sizeof(Word16));
    memcpy(ns->overlap, pre + EVRC_NS_BLOCK - EVRC_NS_OVERLAP, EVRC_NS_OVERLAP * sizeof(Word16));
    for (int n = 0; n < NS_WIN; n++)
        buf[n] = mult_r(buf[n], evrc_tab_ns_window[n]);
    Word16 shift = evrc_block_normalise(buf, EVRC_NS_FFT, 2);

    Word32 dft[2 * (NS_BINS + 1)];
    rfft128(buf, dft);

    // Channel energies (Q8 of the per-bin power at the input scale).
    Word32 ch_db[EVRC_NS_CHANNELS];
    Word16 snr_idx[EVRC_NS_CHANNELS];
    Word32 tce = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        int lo = evrc_tab_ns_channel_bins[c][0], hi = evrc_tab_ns_channel_bins[c][1];
        int64_t e = 0;
        for (int k = lo; k <= hi; k++)
            e += (int64_t)dft[2 * k] * dft[2 * k] + (int64_t)dft[2 * k + 1] * dft[2 * k + 1];
        // Per-bin power |DFT|^2 / 128 of the (pre-emphasised) input in Q8:
        // dft is half the DFT of the normalised, half-scale block.
        int sh = 2 * shift;
        int64_t v = e * 32;
        v = sh >= 0 ? v >> sh : v << -sh;
        v /= (hi - lo + 1);
        if (v > EVRC_MAX_32)
            v = EVRC_MAX_32;
        Word32 en = (Word32)v;
        if (first)
            ns->ch_energy[c] = en;
        else
            ns->ch_energy[c] =
                L_add(L_mpy_ll(ns->ch_energy[c], 1181116006), L_mpy_ll(en, 966367642));
        ns->ch_energy[c] = max32(ns->ch_energy[c], NS_MIN_CHAN_ENERGY);
        tce = L_add(tce, ns->ch_energy[c]);
        ch_db[c] = db10(ns->ch_energy[c]);
        // Channel SNR in steps of 0.375 dB.
        Word32 snr = ch_db[c] - db10(ns->ch_noise[c]);
        Word32 q = (snr + 48) * 2731 >> 18; // (snr + 0.1875 dB) / 0.375 dB
        if (q < 0)
            q = 0;
        if (q > 89)
            q = 89;
        snr_idx[c] = (Word16)q;
    }

    Word32 vm = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        vm += evrc_tab_ns_voice_metric[snr_idx[c]];

    // Spectral deviation from the long-term channel energies.
    Word32 dev = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        if (first)
            ns->ch_enrg_long_db[c] = ch_db[c];
        Word32 d = ns->ch_enrg_long_db[c] - ch_db[c];
        dev += d < 0 ? -d : d;
    }
    Word32 tce_db = db10(tce);
    Word32 alpha; // Q15
    if (tce_db > NS_HIGH_TCE_DB)
        alpha = 32440;
    else if (tce_db < NS_LOW_TCE_DB)
        alpha = 16383;
    else
        alpha = 32440 - (((NS_HIGH_TCE_DB - tce_db) * 803) >> 8) / 1;
    if (alpha < 16383)
        alpha = 16383;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        ns->ch_enrg_long_db[c] = (Word32)(((int64_t)alpha * ns->ch_enrg_long_db[c] +
                                           (int64_t)(32768 - alpha) * ch_db[c]) >>
                                          15);

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
    if (ns->update_count == ns->last_update_count)
        ns->hyster_count = add(ns->hyster_count, 1);
    else
        ns->hyster_count = 0;
    ns->last_update_count = ns->update_count;
    if (ns->hyster_count > NS_HYSTER_CNT_THLD)
        ns->update_count = 0;

    // SNR setback: with little evidence of speech, low channel SNRs count as 1.
    int index_cnt = 0;
    for (int c = 5; c < EVRC_NS_CHANNELS; c++)
        if (snr_idx[c] >= NS_INDEX_THLD)
            index_cnt++;
    Word16 q_snr[EVRC_NS_CHANNELS];
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        q_snr[c] = snr_idx[c];
        if (vm <= NS_METRIC_THLD || index_cnt <= NS_INDEX_CNT_THLD)
            if (q_snr[c] <= NS_SETBACK_THLD)
                q_snr[c] = 1;
    }

    // Overall noise level sets the gain floor: no suppression below the
    // "0 dB" noise level, at most 13 dB for loud noise.
    Word32 tne = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++)
        tne = L_add(tne, ns->ch_noise[c]);
    Word32 gn = -(db10(tne) - db10(NS_NOISE_FLOOR * EVRC_NS_CHANNELS));
    if (gn < NS_MIN_GAIN_DB)
        gn = NS_MIN_GAIN_DB;
    if (gn > 0)
        gn = 0;
    for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
        // 0.45 dB of gain per 0.375 dB step of SNR above the threshold.
        Word32 g = ((Word32)(q_snr[c] - NS_SNR_THLD) * 96 * 14879 >> 15) + gn;
        if (g > 0)
            g = 0;
        if (g < NS_MIN_GAIN_DB)
            g = NS_MIN_GAIN_DB;
        Word16 gq = gain_from_db(g);
        int lo = evrc_tab_ns_channel_bins[c][0], hi = evrc_tab_ns_channel_bins[c][1];
        for (int k = lo; k <= hi; k++) {
            dft[2 * k] = L_mpy_ls(dft[2 * k], gq);
            dft[2 * k + 1] = L_mpy_ls(dft[2 * k + 1], gq);
        }
    }
    // Bins outside the channels (DC, the lowest and the top) are removed.
    dft[0] = dft[1] = dft[2] = dft[3] = 0;
    dft[2 * NS_BINS] = dft[2 * NS_BINS + 1] = 0;

    if (update) {
        for (int c = 0; c < EVRC_NS_CHANNELS; c++) {
            Word32 n = L_add(L_mpy_ls(ns->ch_noise[c], 29490), L_mpy_ls(ns->ch_energy[c], 3277));
            ns->ch_noise[c] = max32(n, NS_MIN_NOISE_ENERGY);
        }
    }

    // Synthesis: inverse transform, overlap-add, de-emphasis, scaling undone
    // with one extra bit (the -6 dB the analysis expects).
    Word32 y[EVRC_NS_FFT];
    irfft128(dft, y);
    // Back from the normalised block to the half-scale pre-emphasised one.
    Word32 out32[EVRC_NS_FFT];
    for (int n = 0; n < EVRC_NS_FFT; n++)
        out32[n] = L_shr(y[n], shift);
    Word16 de = ns->de_emph_mem;
    for (int n = 0; n < EVRC_NS_BLOCK; n++) {
        Word32 v = out32[n];
        if (n < NS_TAIL)
            v = L_add(v, L_deposit_l(ns->out_overlap[n]));
        // The pre-emphasis worked at half scale, which is the 6 dB the
        // analysis expects: de-emphasis keeps it.
        Word32 acc = L_add(L_shl(v, 16), L_mult(de, 26214));
        de = round(acc);
        samples[n] = de;
    }
    ns->de_emph_mem = de;
    for (int n = 0; n < NS_TAIL; n++) {
        Word32 v = out32[EVRC_NS_BLOCK + n];
        if (EVRC_NS_BLOCK + n < NS_TAIL)
            v = L_add(v, L_deposit_l(ns->out_overlap[EVRC_NS_BLOCK + n]));
        ns->out_overlap[n] = (Word16)(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
}
