// Synthesis primitives shared by the EVRC encoder and decoder: LSP and LPC
// conversions, LSP and delay interpolation, the order-10 filters, and the
// band-limited fractional-delay interpolation along a delay contour.
#pragma once

#include "evrc_codec.h"

#include <cstdint>

extern "C" {

// cos(2 pi x) for an LSP frequency x (Q15 fraction of the sampling rate,
// 0..16384), Q31: the table point plus a second-order Taylor step.
Word32 evrc_cos2pi(Word16 x);

// 10 LSPs (rising, Q15 of the sampling rate) to the coefficients of
// A(z) = 1 + sum lpc[k] z^-(k+1), Q12. An LSP vector that leaves 0..0.5 is
// repaired in place first.
void evrc_lsp_to_lpc(Word16 *lpc, Word16 *lsp);

// The 10 LPC coefficients (Q12) back to rising LSPs (Q15).
void evrc_lpc_to_lsp(Word16 *lsp, const Word16 *lpc);

// LSPs of subframe 0, 1 or 2 between the previous and the current frame's
// (weights 1/6, 1/2, 5/6; subframe 3 gives the current vector).
void evrc_interpolate_lsp(Word16 *out, const Word16 *prev, const Word16 *cur, Word16 subframe);

// Delay contour of a subframe: three Q16 delays at its start, its end and
// the end of the look-ahead, interpolated between the previous and the
// current frame's delay.
void evrc_interpolate_delay(Word32 *contour, Word16 prev_delay, Word16 delay, Word16 subframe);

// All-pole 1/A(z) over `len` samples; `mem` holds the last 10 outputs
// (mem[9] the newest) and is updated. out may equal in.
void evrc_synthesis_filter(Word16 *out, const Word16 *in, const Word16 *lpc, Word16 *mem,
                           Word16 len);

// All-zero A(z) over `len` samples; `mem` holds the last 10 inputs (mem[9]
// the newest) and is updated. out may not equal in.
void evrc_residual_filter(Word16 *out, const Word16 *in, const Word16 *lpc, Word16 *mem,
                          Word16 len);

// One sample of `in` (pointing at delay 0) at the Q24 delay `delay`, by the
// band-limited interpolator: factor 29491 selects the 17-tap (0.9) filter set
// with half-length 8, any other factor the 7-tap (0.5) set with half-length 3.
void evrc_interp_sample(Word16 *out, const Word16 *in, Word32 delay, Word16 factor,
                        Word16 half_length);

// len + 10 samples out[n] = in[n] interpolated at the contour's delay
// behind n (delays: Q16 at subframe start, end and look-ahead end). out may
// equal in: samples written earlier are then read back as the pitch repeats.
void evrc_delay_contour_acb(Word16 *out, const Word16 *in, const Word32 *delays, Word16 len,
                            Word16 factor, Word16 half_length);

// The decoder's adaptive-codebook vector: the contour over the excitation
// history (`exc` points at the first new sample, EVRC_ACB_MEM past samples
// before it), then the first len samples scaled by the Q14 gain.
void evrc_decode_acb(Word16 *exc, Word16 gain, const Word32 *delays, Word16 len);

} // extern "C"
