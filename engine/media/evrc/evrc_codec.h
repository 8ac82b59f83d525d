// Shared structure of the EVRC speech codec: frame geometry, rate codes and
// their parameter rows, the coded frame's bit packer and reader, LPC
// weighting and the Gaussian noise generator. Encoder and decoder each own a
// context built from these pieces; nothing here holds state of its own.
#pragma once

#include "evrc_basic_op.h"

#include <cstdint>

#define EVRC_SAMPLE_RATE 8000
#define EVRC_FRAME_LEN 160
#define EVRC_SUBFRAMES 3
#define EVRC_SUBFRAME_MAX 54
#define EVRC_LPC_ORDER 10
#define EVRC_ACB_MEM 128
#define EVRC_FRAME_WORDS 11
#define EVRC_ACF_LAGS 17
#define EVRC_MIN_DELAY 20
#define EVRC_MAX_DELAY 120
#define EVRC_MIN_LSP_SEP 261
#define EVRC_LOOKAHEAD 80
// Samples the delay contour and the excitation builder compute past a subframe.
#define EVRC_EXTRA 10

// Rate codes used throughout the codec.
#define EVRC_RATE_BLANK 0
#define EVRC_RATE_EIGHTH 1
#define EVRC_RATE_QUARTER 2
#define EVRC_RATE_HALF 3
#define EVRC_RATE_FULL 4
#define EVRC_RATE_ERASURE 14

extern "C" {

// 16-bit words and wire bytes per rate code 0..4 ({0, 1, 0, 5, 11} and
// {0, 2, 0, 10, 22}).
extern const Word16 evrc_words_per_rate[5];
extern const Word16 evrc_bytes_per_rate[5];

// Rate for a coded frame of `bytes` bytes (2, 10, 22), or 0 for any other length.
Word16 evrc_rate_for_bytes(int bytes);

// Subframe lengths 53, 53, 54.
extern const Word16 evrc_subframe_len[EVRC_SUBFRAMES];

// One row of the per-rate parameters: the LSP split-vector layout and its
// codebooks (rows of `dim[i]` values, absolute LSPs in the Q15 0..0.5 scale).
typedef struct evrc_rate_row {
    Word16 splits;
    Word16 dim[4];
    Word16 size[4];
    Word16 bits[4];
    const int16_t *codebook[4];
} evrc_rate_row;

extern const evrc_rate_row evrc_rate_row_full;
extern const evrc_rate_row evrc_rate_row_half;
extern const evrc_rate_row evrc_rate_row_eighth;

// The rate selection a context is working with (evrc_set_rate). Each
// encoder and decoder context keeps its own.
typedef struct evrc_rate_sel {
    Word16 rate;
    const evrc_rate_row *row;
    const int16_t *fcb_gain; // fixed-codebook gain levels
    Word16 fcb_gain_levels;  // 32 at full rate, 16 otherwise
} evrc_rate_sel;

// Stores the rate and selects its row. Codes other than 3 and 4 keep the
// previous row (the eighth-rate path uses its own layout), except that 1
// selects the 16-level gain table.
void evrc_set_rate(evrc_rate_sel *sel, Word16 rate);

// The coded frame: 11 words, fields most significant bit first from bit 15 of
// word 0, a field running on into the next word when the current one is full.
typedef struct evrc_bits {
    uint16_t words[EVRC_FRAME_WORDS];
    Word16 bits_left; // bits still free (packing) or unread (unpacking) in words[index]
    Word16 index;
} evrc_bits;

// Clears the words and puts the cursor on bit 15 of word 0.
void evrc_bits_clear(evrc_bits *b);
// Loads received words (the rest zero) and puts the cursor on bit 15 of word 0.
void evrc_bits_load(evrc_bits *b, const uint16_t *words, int count);

// Appends a field of `width` bits (1..16); the value must fit its width.
void evrc_pack_bits(evrc_bits *b, Word16 value, Word16 width);
// Reads the next field of `width` bits (1..16). Reading past the 11th word
// gives zero bits instead of running off the frame.
Word16 evrc_unpack_bits(evrc_bits *b, Word16 width);

// Loads wire bytes (each word high byte first) into 11 words, the rest zero.
void evrc_words_from_bytes(uint16_t words[EVRC_FRAME_WORDS], const uint8_t *bytes, int len);
// Writes the first `count` words high byte first.
void evrc_words_to_bytes(uint8_t *bytes, const uint16_t *words, int count);

// Power-series LPC weighting a_k -> round(a_k g^k), k = 1..10. The factors are
// a closed set: there is no way to ask for a table that does not exist.
typedef enum evrc_weight_factor {
    EVRC_WEIGHT_1_0 = 0, // copies the coefficients
    EVRC_WEIGHT_0_9,     // 29491, perceptual weighting numerator
    EVRC_WEIGHT_0_5,     // 16384, perceptual weighting denominator
    EVRC_WEIGHT_0_994,   // 32571, bandwidth expansion of the frame analysis
    EVRC_WEIGHT_0_75,    // 24576, decoder expansion after an erasure
} evrc_weight_factor;

void evrc_weight(Word16 *out, const Word16 *lpc, evrc_weight_factor g);

// Polar-method Gaussian generator. Each user (decoder; encoder eighth-rate
// path) owns one: the second deviate of a pair is cached in it.
typedef struct evrc_gauss {
    Word16 cached_valid;
    Word32 cached;
    // Non-zero reproduces the 1998 reference: a rejected pair gives a
    // deviate approximated from a third draw instead of a new pair, and an
    // accepted pair is scaled through a 16-bit quotient and root. The far
    // end's eighth-rate packets were made with it; the decoder uses it only
    // for checking its synthesis against the reference's vectors.
    Word16 legacy;
} evrc_gauss;

void evrc_gauss_reset(evrc_gauss *g);
// One uniform draw: seed = 25173 seed + 13849 (mod 2^16); returns seed / 2 (Q15).
Word16 evrc_uniform(Word16 *seed);
// One Gaussian deviate (unit variance in Q13) from `seed`: the polar method,
// each accepted pair giving two deviates (the second one cached).
Word16 evrc_gaussian_random(evrc_gauss *g, Word16 *seed);

} // extern "C"
