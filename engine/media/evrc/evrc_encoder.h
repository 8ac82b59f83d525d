// EVRC encoder: the encoder object of the frame glue and the encoder context
// that carries all of its state from frame to frame.
//
// Each encoder object owns one context. The high-pass, noise-suppression and
// rate-decision states live in it too, so they last as long as the object (a
// new object starts them fresh); two encoders never share anything, and an
// encoder never shares anything with a decoder.
#pragma once

#include "evrc_codec.h"

#include <cstdint>

extern "C" {

// Input high-pass filter: three second-order sections, each with two past
// inputs and two past 32-bit outputs.
typedef struct evrc_highpass_state {
    Word16 x[3][2];
    Word32 y[3][2];
} evrc_highpass_state;

// Open-loop pitch search memory, one for both half-frame searches of a frame
// and carried from frame to frame: the decimated signal (the older 20 values
// from the previous search, the newer 20 from this one), the decimation
// low-pass memory, and the last delay found with a clear periodicity and how
// clear it was (delay 0: none).
#define EVRC_PITCH_DEC_LEN 40
typedef struct evrc_pitch_state {
    Word16 dec[EVRC_PITCH_DEC_LEN];
    Word16 decim_mem[3];
    Word16 last_good_delay;
    Word16 last_beta;
} evrc_pitch_state;

// Rate decision: background-noise and signal estimates of the low and high
// band, and the hangover counters.
typedef struct evrc_rate_state {
    Word16 initialised;
    Word32 band_noise[2];
    Word32 band_energy[2];
    Word32 band_smoothed[2];
    Word32 band_signal[2];
    Word32 band_snr[2];
    Word16 band_rate[2];
    Word16 band_filter_acf[2][EVRC_ACF_LAGS];
    Word16 snr_class[2];
    Word16 prev_rate;
    Word16 speech_run;
    Word16 hangover_count;
    Word16 hangover_on;
    Word16 frame_count;
    Word16 low_beta_count;
    Word16 high_beta_count;
    Word16 signal_seen;
    Word16 first_done;
} evrc_rate_state;

#define EVRC_NS_CHANNELS 16
#define EVRC_NS_FFT 128
#define EVRC_NS_OVERLAP 24
#define EVRC_NS_BLOCK 80

// Noise suppression: overlap buffers, channel energy and noise estimates and
// the decision counters.
typedef struct evrc_ns_state {
    Word16 initialised;
    Word16 block_count;              // blocks processed, saturating
    Word16 last_shift;               // normalisation shift of the previous block
    Word16 pre_emph_mem;             // last input sample (pre-emphasis), at last_shift
    Word16 overlap[EVRC_NS_OVERLAP]; // analysis overlap, at last_shift
    Word16 out_overlap[EVRC_NS_FFT - EVRC_NS_BLOCK]; // synthesis tail
    Word16 de_emph_mem;                              // last output sample
    Word32 ch_energy[EVRC_NS_CHANNELS];              // Q8
    Word32 ch_noise[EVRC_NS_CHANNELS];               // Q8
    Word16 ch_enrg_long_db[EVRC_NS_CHANNELS];        // Q5 dB
    Word16 update_count;
    Word16 last_update_count;
    Word16 hyster_count;
} evrc_ns_state;

#define EVRC_RES_PAD 48
#define EVRC_RES_TAIL 32
#define EVRC_RCELP_HIST 128
#define EVRC_RCELP_WORK (EVRC_RCELP_HIST + 64)

// Frame-to-frame state of the encoder proper (reset by evrc_encoder_init).
typedef struct evrc_encoder_state {
    evrc_rate_sel rate;
    evrc_bits bits; // the frame being packed
    // Eighth-rate noise generator: seed, and the second deviate of a pair.
    Word16 eighth_seed;
    evrc_gauss noise;
    Word16 frame_count;
    Word16 prev_rate;

    // Analysis: 10 older samples, then the previous and the current input frame.
    Word16 speech[EVRC_LPC_ORDER + 2 * EVRC_FRAME_LEN];
    // Residual of both frames, with zero margins for the warping filters and
    // the pitch-pulse search (EVRC_RES_PAD before, EVRC_RES_TAIL after): at
    // the largest accumulated shift the search starts up to 28 samples
    // before the residual.
    Word16 residual_buf[EVRC_RES_PAD + 2 * EVRC_FRAME_LEN + EVRC_RES_TAIL];
    Word16 lpc[EVRC_LPC_ORDER]; // this frame's analysis, bandwidth-expanded
    Word16 prev_qlsp[EVRC_LPC_ORDER], qlsp[EVRC_LPC_ORDER];
    Word16 prev_lsp[EVRC_LPC_ORDER], lsp[EVRC_LPC_ORDER];
    Word16 frame_energy_prev;
    Word16 lpc_flag;
    evrc_pitch_state pitch;
    Word16 open_loop_delay;
    Word16 beta;

    // Coding.
    Word16 prev_delay;
    Word16 delay;
    Word16 delay_drift; // accumulated RCELP shift, 1/256 sample
    Word16 delay_dir;
    Word16 seg_pos;
    Word16 mres[EVRC_RCELP_WORK]; // modified residual: history, then the subframe
    Word16 exc[EVRC_ACB_MEM + EVRC_SUBFRAME_MAX + EVRC_EXTRA];
    Word16 syn_mem[EVRC_LPC_ORDER];  // 1/Aq(z), driven by the excitation
    Word16 wnum_mem[EVRC_LPC_ORDER]; // numerator of the weighting, on that output
    Word16 wden_mem[EVRC_LPC_ORDER]; // denominator of the weighting
    Word16 sp_mem[EVRC_LPC_ORDER];   // 1/A(z), driven by the modified residual
    Word16 swnum_mem[EVRC_LPC_ORDER];
    Word16 swden_mem[EVRC_LPC_ORDER];

    // Per-subframe work shared with the codebook searches.
    Word16 target[EVRC_SUBFRAME_MAX + 1];
    Word16 h[EVRC_SUBFRAME_MAX + 1];
    Word16 code[EVRC_SUBFRAME_MAX + 1];
    Word16 code_filt[EVRC_SUBFRAME_MAX + 1];
    Word16 fcb_words[4];
    Word16 fcb_gain; // optimal fixed-codebook gain of the chosen vector

    // Quantisation indices of the frame.
    Word16 lsp_idx[4];
    Word16 acb_idx[EVRC_SUBFRAMES];
    Word16 fcb_gain_idx[EVRC_SUBFRAMES];
    Word16 energy_idx;
} evrc_encoder_state;

// The encoder object (the frame glue's view first, as the glue fills it).
typedef struct evrc_encoder {
    uint16_t beta;                  // last open-loop pitch prediction gain (Q15)
    Word32 autocorr[EVRC_ACF_LAGS]; // last frame's normalised R(0)..R(16)
    uint16_t min_rate;
    uint16_t max_rate;
    uint16_t noise_suppression;
    // Test seam: 1, 3 or 4 codes the next frame at that rate whatever the
    // rate decision chose (the decision still runs, so its estimates move on
    // as usual); 0 leaves the choice to the decision. Cleared after each frame.
    uint16_t imposed_rate;
    evrc_encoder_state st;
    evrc_highpass_state hp;
    evrc_rate_state rd;
    evrc_ns_state ns;
} evrc_encoder;

// Resets the encoder proper (not the high-pass, noise-suppression and
// rate-decision states, which start fresh with a new object). Every memory
// starts at zero (the filter memories, the open-loop pitch search, the
// matching history and the modified residual, the excitation), the noise
// generator at seed 1234 with nothing cached: the reference packets were
// made from that state. Called once, when the object is created.
void evrc_encoder_init(evrc_encoder *enc);

// Encodes 160 samples (filtered and halved or noise-suppressed in place)
// into 11 words (the rate's words, zeros behind them); returns the rate 1, 3
// or 4. The packet-file form of a frame.
Word16 evrc_encode_words(evrc_encoder *enc, Word16 *samples, uint16_t words[EVRC_FRAME_WORDS]);

} // extern "C"
