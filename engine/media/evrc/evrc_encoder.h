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

// Frame-to-frame state of the encoder proper (reset by evrc_encoder_init).
typedef struct evrc_encoder_state {
    evrc_rate_sel rate;
    evrc_bits bits;   // the frame being packed
    evrc_gauss gauss; // eighth-rate excitation generator (its own cache)
    Word16 eighth_seed;
    Word16 frame_count;
    Word16 prev_rate;
    Word16 speech[2 * EVRC_FRAME_LEN]; // previous and current input frame
    Word16 prev_qlsp[EVRC_LPC_ORDER], qlsp[EVRC_LPC_ORDER];
    Word16 prev_lsp[EVRC_LPC_ORDER], lsp[EVRC_LPC_ORDER];
    Word16 lpc[EVRC_LPC_ORDER];
    Word16 exc[EVRC_ACB_MEM + EVRC_SUBFRAME_MAX + EVRC_EXTRA];
    Word16 syn_mem[EVRC_LPC_ORDER];
    Word16 wgt_mem[EVRC_LPC_ORDER];
    Word16 prev_delay;
    Word16 open_loop_delay;
    Word16 beta;
    Word16 delay_drift;
    Word16 delay_dir;
    Word16 seg_pos;
    Word16 frame_energy_prev;
    Word16 lpc_flag;
} evrc_encoder_state;

// The encoder object (the frame glue's view first, as the glue fills it).
typedef struct evrc_encoder {
    uint16_t beta;                  // last open-loop pitch prediction gain (Q15)
    Word32 autocorr[EVRC_ACF_LAGS]; // last frame's normalised R(0)..R(16)
    uint16_t min_rate;
    uint16_t max_rate;
    uint16_t noise_suppression;
    evrc_encoder_state st;
    evrc_highpass_state hp;
} evrc_encoder;

// Resets the encoder proper (not the high-pass, noise-suppression and
// rate-decision states, which start fresh with a new object).
void evrc_encoder_init(evrc_encoder *enc);

} // extern "C"
