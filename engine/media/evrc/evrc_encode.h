// Internal routines of the EVRC encoder, shared between its source files.
// Everything works on one encoder object; nothing here keeps state of its own.
#pragma once

#include "evrc_encoder.h"

#include <cstdint>

// The 320 residual samples of the analysis frames.
#define EVRC_RESIDUAL(st) ((st)->residual_buf + EVRC_RES_PAD)

extern "C" {

// Input high-pass filter, 160 samples in place.
void evrc_highpass_filter(evrc_highpass_state *hp, Word16 *samples);

// Hamming-windowed, lag-windowed autocorrelation of one 160-sample frame,
// normalised; the normalisation shift goes to *shift.
void evrc_windowed_autocorr(Word32 *r, Word16 *shift, const Word16 *frame);

// Levinson-Durbin recursion of order 10 on R(0)..R(10): 10 reflection and 10
// LPC coefficients (A(z) = 1 + sum lpc[k] z^-(k+1), Q12).
void durbin(const Word32 *r, Word16 *refl, Word16 *lpc);

// Order-10 filters of the encoder. The memory holds the last 10 outputs
// (all-pole) or inputs (all-zero), mem[0] the newest; the taps are summed
// from the oldest to the newest. out may equal in.
static inline void evrc_enc_allpole(Word16 *out, const Word16 *in, const Word16 *coef, Word16 *mem,
                                    int len)
{
    for (int n = 0; n < len; n++) {
        Word32 acc = L_shr(L_deposit_h(in[n]), 3);
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_msu(acc, coef[j], mem[j]);
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        mem[0] = round(L_shl(acc, 3));
        out[n] = mem[0];
    }
}

static inline void evrc_enc_allzero(Word16 *out, const Word16 *in, const Word16 *coef, Word16 *mem,
                                    int len)
{
    for (int n = 0; n < len; n++) {
        Word16 x = in[n];
        Word32 acc = L_shr(L_deposit_h(x), 3);
        for (int j = EVRC_LPC_ORDER - 1; j >= 0; j--)
            acc = L_mac(acc, coef[j], mem[j]);
        for (int j = EVRC_LPC_ORDER - 1; j > 0; j--)
            mem[j] = mem[j - 1];
        mem[0] = x;
        out[n] = round(L_shl(acc, 3));
    }
}

// Impulse response h[0..53] (h[0] = 2048, h[54] = 0) of the cascade
// 1/P(z), then N(z), then 1/D(z), rounded after each stage.
#define EVRC_IMPULSE_LEN 55
void evrc_weighted_impulse(Word16 *h, const Word16 *p, const Word16 *num, const Word16 *den);

// Frame analysis ahead of the rate decision; returns beta (Q15).
Word16 evrc_pre_encode(evrc_encoder *enc, const Word16 *samples, Word32 *autocorr);

// Open-loop delay and prediction gain of 160 residual samples. The two
// searches of a frame share the state: each filters only the newest 80
// samples of its window into the decimated history.
void evrc_open_loop_pitch(evrc_pitch_state *ps, const Word16 *residual, Word16 *delay,
                          Word16 *beta);

// Codes the analysed frame at `rate` into the encoder's frame words.
void evrc_encode(evrc_encoder *enc, Word16 rate);

// Split-vector LSP quantisation of the current unquantised LSPs with the
// rate's layout: indices out, quantised vector out.
void evrc_lsp_quantise(Word16 *indices, Word16 *qlsp, const Word16 *lsp, const evrc_rate_row *row);

// RCELP signal modification of one subframe: builds the adaptive-codebook
// excitation along the contour and the subframe's modified residual.
void evrc_rcelp_modify(evrc_encoder_state *st, const Word32 *contour, Word16 subframe, Word16 len,
                       Word16 *mod_res);

// Pitch-pulse location helper: the centre of the 5-sample window with the
// largest energy among `count` windows starting at `centre`. With `count`
// below 1 nothing is read: the lag is `centre` and the energy 0.
void evrc_max_energy_lag(Word16 *lag, Word32 *energy, const Word16 *signal, Word16 centre,
                         Word16 count);

// Fixed-codebook search driver and the two searches.
// aq, wnum, wden: the subframe's synthesis and weighting filters.
void evrc_fcb_search_drive(evrc_encoder_state *st, Word16 sharpening, Word16 len, Word16 lag,
                           Word16 full_rate, const Word16 *aq, const Word16 *wnum,
                           const Word16 *wden);

// Rate decision (bounds applied) and noise suppression of 80 samples.
Word16 evrc_select_rate(evrc_rate_state *rs, const Word32 *autocorr, Word16 max_rate,
                        Word16 min_rate, Word16 beta);
void evrc_noise_suppress(evrc_ns_state *ns, Word16 *samples);

} // extern "C"
