// Rate decision of the EVRC encoder: the frame's energy in a low and a high
// band against adaptive background-noise estimates, with a full-rate
// hangover after speech.
#include "evrc_encode.h"
#include "evrc_tables.h"

#include <cstring>

#define NOISE_MAX 80954304

// The reference adds one to a 32-bit estimate with the 16-bit saturating
// add, which first drops the upper half; the decisions depend on it.
static Word32 plus_one16(Word32 x)
{
    return L_deposit_l(add(extract_l(x), 1));
}

static Word32 max32(Word32 a, Word32 b)
{
    return a > b ? a : b;
}

// band_signal / band_noise in Q8.
static Word32 band_ratio(Word32 signal, Word32 noise)
{
    if (noise < 1)
        return 256000000;
    if (signal <= 0)
        return 0;
    // The numerator is always normalised to one bit short of full, so the
    // quotient stays below one whatever the two mantissas are.
    Word16 ns = sub(norm_l(signal), 1), nn = norm_l(noise);
    Word32 q = L_divide(L_shl(signal, ns), L_shl(noise, nn));
    return L_shr(q, sub(23, sub(nn, ns)));
}

static void update_snr(evrc_rate_state *rs)
{
    for (int b = 0; b < 2; b++)
        rs->band_snr[b] = band_ratio(rs->band_signal[b], rs->band_noise[b]);
}

static void rate_state_init(evrc_rate_state *rs)
{
    memset(rs, 0, sizeof *rs);
    rs->initialised = 1;
    for (int b = 0; b < 2; b++) {
        rs->band_noise[b] = NOISE_MAX;
        for (int k = 0; k < EVRC_ACF_LAGS; k++)
            rs->band_filter_acf[b][k] = evrc_tab_rda_band_filter_acf[b][k];
    }
    rs->band_smoothed[0] = rs->band_signal[0] = 51200000;
    rs->band_smoothed[1] = rs->band_signal[1] = 5120000;
    rs->prev_rate = EVRC_RATE_EIGHTH;
    rs->hangover_count = 10;
    update_snr(rs);
}

static void band_energy(Word32 *e, const Word32 *r)
{
    for (int b = 0; b < 2; b++) {
        const int16_t *f = evrc_tab_rda_band_filter_acf_x2[b];
        Word32 acc = L_shr(L_mpy_ls(r[0], f[0]), 1);
        for (int k = 1; k < EVRC_ACF_LAGS; k++)
            acc = L_add(acc, L_mpy_ls(r[k], f[k]));
        e[b] = acc;
    }
}

static void update_estimates(evrc_rate_state *rs, Word16 beta)
{
    for (int b = 0; b < 2; b++) {
        Word32 e8 = L_shl(rs->band_energy[b], 3);
        if (!rs->first_done)
            rs->band_smoothed[b] = e8;
        else
            rs->band_smoothed[b] = L_add(e8, L_mpy_ls(L_sub(rs->band_smoothed[b], e8), 19661));
    }
    rs->first_done = 1;

    // The estimate rises in one of two ways per frame, never both: fast
    // after a stretch without periodicity, otherwise a slow creep in bands
    // well above the background once speech has been seen.
    if (beta < 9830)
        rs->low_beta_count = add(rs->low_beta_count, 1);
    else
        rs->low_beta_count = 0;
    if (rs->low_beta_count > 8) {
        for (int b = 0; b < 2; b++)
            rs->band_noise[b] =
                max32(plus_one16(rs->band_noise[b]), L_shl(L_mpy_ls(rs->band_noise[b], 16876), 1));
        rs->low_beta_count = 9;
    } else if (rs->signal_seen) {
        for (int b = 0; b < 2; b++)
            if (rs->snr_class[b] >= 4 && rs->band_noise[b] < rs->band_smoothed[b])
                rs->band_noise[b] = max32(plus_one16(rs->band_noise[b]),
                                          L_shl(L_mpy_ls(rs->band_noise[b], 16474), 1));
    }
    for (int b = 0; b < 2; b++) {
        if (rs->band_noise[b] > rs->band_smoothed[b])
            rs->band_noise[b] = rs->band_smoothed[b];
        if (rs->band_noise[b] < evrc_tab_rda_lowest_level[b])
            rs->band_noise[b] = evrc_tab_rda_lowest_level[b];
        if (rs->band_noise[b] > NOISE_MAX)
            rs->band_noise[b] = NOISE_MAX;
    }
    if (beta > 16384) {
        rs->high_beta_count = add(rs->high_beta_count, 1);
        if (rs->high_beta_count > 5) {
            rs->signal_seen = 1;
            for (int b = 0; b < 2; b++)
                rs->band_signal[b] = L_mpy_ls(rs->band_signal[b], 31785);
        }
    } else {
        rs->high_beta_count = 0;
    }
    for (int b = 0; b < 2; b++)
        if (rs->band_signal[b] < rs->band_smoothed[b])
            rs->band_signal[b] = rs->band_smoothed[b];
    update_snr(rs);

    static const Word32 nominal[2] = {747110, 616038};
    for (int b = 0; b < 2; b++) {
        Word32 cls;
        if (!rs->signal_seen) {
            if (rs->band_noise[b] < 1) {
                cls = 7;
            } else {
                Word32 x = L_add(L_mpy_ls(evrc_log2(rs->band_noise[b]), 9864), 626255212);
                cls = (nominal[b] - (x >> 9) + 32768) >> 16;
            }
        } else {
            if (rs->band_snr[b] < 1) {
                cls = 0;
            } else {
                Word32 x = L_add(L_mpy_ls(evrc_log2(rs->band_snr[b]), 9864), 626255212);
                x = L_sub(x, 161614248);
                cls = ((x >> 9) - 262144 + 32768) >> 16;
            }
        }
        if (cls < 0)
            cls = 0;
        if (cls > 7)
            cls = 7;
        rs->snr_class[b] = (Word16)cls;
    }
}

Word16 evrc_select_rate(evrc_rate_state *rs, const Word32 *autocorr, Word16 max_rate,
                        Word16 min_rate, Word16 beta)
{
    if (!rs->initialised)
        rate_state_init(rs);
    band_energy(rs->band_energy, autocorr);

    Word16 r = EVRC_RATE_EIGHTH;
    for (int b = 0; b < 2; b++) {
        const int16_t *k = evrc_tab_rda_thresh_snr[b * 8 + rs->snr_class[b]];
        Word32 e8 = L_shl(rs->band_energy[b], 3);
        Word16 br = EVRC_RATE_EIGHTH;
        if (e8 > L_shl(L_mpy_ls(rs->band_noise[b], k[0]), 7)) {
            br = EVRC_RATE_HALF;
            if (e8 > L_shl(L_mpy_ls(rs->band_noise[b], k[1]), 7))
                br = EVRC_RATE_FULL;
        }
        rs->band_rate[b] = br;
        if (br > r)
            r = br;
    }

    // Hangover: after a run of full-rate frames, keep full rate for a few
    // frames more (longer at low SNR) so that word endings are not clipped.
    if (rs->speech_run < 2 && rs->hangover_on != 1) {
        if (r == EVRC_RATE_FULL) {
            rs->speech_run = add(rs->speech_run, 1);
            rs->hangover_count = 0;
        } else {
            rs->speech_run = 0;
        }
    } else {
        if (r == EVRC_RATE_FULL) {
            rs->hangover_on = 0;
            rs->hangover_count = 0;
            rs->speech_run = add(rs->speech_run, 1);
        } else {
            rs->hangover_count = add(rs->hangover_count, 1);
            if (rs->hangover_count <= evrc_tab_rda_hangover[rs->snr_class[0]]) {
                rs->hangover_on = 1;
                r = EVRC_RATE_FULL;
            } else {
                rs->hangover_on = 0;
            }
            rs->speech_run = 0;
        }
    }
    if (rs->prev_rate == EVRC_RATE_FULL && r == EVRC_RATE_EIGHTH)
        r = EVRC_RATE_HALF;
    if (rs->frame_count == 0)
        r = EVRC_RATE_FULL;
    if (r > max_rate)
        r = max_rate;
    if (r < min_rate)
        r = min_rate;
    rs->prev_rate = r;
    update_estimates(rs, beta);
    rs->frame_count = add(rs->frame_count, 1);
    return r;
}
