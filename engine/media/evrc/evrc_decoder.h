// EVRC decoder context: everything the decoder carries from frame to frame.
//
// One context per decoding stream; nothing is shared with other decoders or
// with any encoder, so a full-duplex call may decode on one thread while it
// encodes on another.
#pragma once

#include "evrc_codec.h"

#include <cstdint>

extern "C" {

// Decoder memories plus the per-frame work area.
typedef struct evrc_decoder {
    evrc_rate_sel rate;
    evrc_bits bits;
    evrc_gauss gauss;

    Word16 bad_rate;    // the frame's rate or content is unusable
    Word16 erasure;     // the frame is erased
    Word16 erasure_any; // bad_rate OR erasure, as the glue last saw them
    Word16 ones_run;    // consecutive all-ones eighth-rate frames, at most 3
    Word16 last_rate;   // rate of the last frame taken as good
    Word16 recovery;    // 3 after an erasure, counting down on good frames
    Word16 prev_erased; // the previous frame was synthesised as an erasure
    uint32_t frame_count;

    Word16 prev_lsp[EVRC_LPC_ORDER];
    Word16 lsp[EVRC_LPC_ORDER];
    Word16 prev_delay;
    Word16 delay;
    Word16 acb_gain_mem; // Q14, a third of each subframe's pitch gain
    Word16 fcb_gain_mem;
    Word16 excitation_scale; // Q15 fade applied to erasure excitation
    Word16 lpc_flag;

    Word16 erasure_seed;
    Word16 eighth_seed;
    Word16 eighth_idx[2];
    Word16 energy_idx;
    Word16 energy_row; // last energy row used, for erased eighth-rate frames

    // Past excitation (EVRC_ACB_MEM samples) followed by room for one
    // subframe and its look-ahead, and a few samples that stay zero: the
    // interpolator reads up to 3 samples ahead of the one it writes when a
    // delay is below its half-length, which only a delay rebuilt under the
    // 1998 rules can be.
    Word16 exc[EVRC_ACB_MEM + EVRC_SUBFRAME_MAX + EVRC_EXTRA + 4];
    Word16 exc_saved[EVRC_ACB_MEM];
    Word16 syn_mem[EVRC_LPC_ORDER];

    // Non-zero follows the 1998 reference where it differs from the later
    // erasure rules (see evrc_decoder_set_legacy); 0 in normal use.
    Word16 legacy;
} evrc_decoder;

// Decoder reset: rate 4, last good rate eighth, memories cleared, LSPs at
// their initial spread, delay 40, excitation scale 1.0. ones_run is kept.
void evrc_decoder_reset(evrc_decoder *dec);

// Classifies a received frame (rate in/out) and sets the erasure flags.
void evrc_check_frame(evrc_decoder *dec, Word16 *rate, const uint16_t words[EVRC_FRAME_WORDS]);
// Decodes a good frame into 160 samples; may set bad_rate on invalid content.
void evrc_decode(evrc_decoder *dec, const uint16_t words[EVRC_FRAME_WORDS], Word16 *out);
// Synthesises a replacement for an erased or unusable frame.
void evrc_decode_erasure(evrc_decoder *dec, Word16 *out);

// Classifies, decodes (or synthesises) one frame given by its rate code
// (0..4 or 14; anything else is a bad frame) and its 11 words.
void evrc_decode_words(evrc_decoder *dec, Word16 rate, const uint16_t words[EVRC_FRAME_WORDS],
                       Word16 *out);

// Half-rate code vector of a subframe from its 10-bit word: pulses of +-1 at
// 7p + 4, 7p + 2 and 7p (p from the low bits up; signs s, -s, s with s the
// sign of bit 9), a pulse past the subframe dropped.
void evrc_fcb_decode_half(Word16 *code, Word16 word, Word16 len);

// Full-rate code vector (pulses +-1, two on one place +-2) of a subframe of
// `len` samples from its four index words.
void evrc_fcb_decode_full(Word16 *code, const Word16 *words, Word16 len);

// Follows the 1998 reference's erasure rules instead of the later ones (every
// all-ones eighth-rate frame erased, erased LSPs repeated unchanged, the
// erasure noise seed reloaded per subframe, no all-zero or delay-difference
// checks, Gaussian pairs never redrawn and scaled in 16 bits, the excitation
// kept for the contour repair only at full-rate erasures, eighth-rate frames
// with unusable LSPs concealed in place). For checking the rest of the
// decoder against reference vectors only; normal decoding leaves it off.
void evrc_decoder_set_legacy(evrc_decoder *dec, int on);

} // extern "C"
