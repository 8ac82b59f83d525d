// Frame entry points of the EVRC codec: 160 samples in, one coded frame out
// (2, 10 or 22 bytes, each 16-bit word high byte first), and back.
#pragma once

#include "evrc_decoder.h"
#include "evrc_encoder.h"

#include <cstdint>

extern "C" {

// New encoder with both rate bounds at half rate and noise suppression off,
// its state freshly reset; NULL when memory runs out.
evrc_encoder *evrc_encoder_new(void);
void evrc_encoder_destroy(evrc_encoder **enc);

// Encodes 160 samples (filtered and halved in place) into `out` (up to 22
// bytes); returns the rate 1, 3 or 4, or 0 with no output when an argument is NULL.
int evrc_encode_frame(evrc_encoder *enc, int16_t *samples, uint8_t *out);

// New decoder, freshly reset; NULL when memory runs out.
evrc_decoder *evrc_decoder_new(void);
void evrc_decoder_destroy(evrc_decoder **dec);

// Decodes one coded frame of 2, 10 or 22 bytes into 160 samples and returns
// 160; any other length (or a NULL argument) returns 0 and leaves `out` alone.
int evrc_decode_frame(evrc_decoder *dec, const uint8_t *packet, int len, int16_t *out);

} // extern "C"
