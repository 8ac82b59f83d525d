// Decode entry point of the frame glue: one coded frame in, 160 samples out.
#include "evrc_frame.h"

#include <cstdlib>

evrc_decoder *evrc_decoder_new(void)
{
    evrc_decoder *dec = (evrc_decoder *)calloc(1, sizeof(evrc_decoder));
    if (dec)
        evrc_decoder_reset(dec);
    return dec;
}

void evrc_decoder_destroy(evrc_decoder **dec)
{
    if (!dec)
        return;
    free(*dec);
    *dec = nullptr;
}

void evrc_decoder_set_legacy(evrc_decoder *dec, int on)
{
    dec->legacy = on ? 1 : 0;
    dec->gauss.legacy = dec->legacy;
}

void evrc_decode_words(evrc_decoder *dec, Word16 rate, const uint16_t words[EVRC_FRAME_WORDS],
                       Word16 *out)
{
    evrc_check_frame(dec, &rate, words);
    evrc_set_rate(&dec->rate, rate);
    if (!dec->bad_rate && !dec->erasure)
        evrc_decode(dec, words, out);
    if (dec->bad_rate || dec->erasure)
        evrc_decode_erasure(dec, out);
}

int evrc_decode_frame(evrc_decoder *dec, const uint8_t *packet, int len, int16_t *out)
{
    if (!dec || !packet || !out)
        return 0;
    Word16 rate = evrc_rate_for_bytes(len);
    if (rate == 0)
        return 0;
    uint16_t words[EVRC_FRAME_WORDS];
    evrc_words_from_bytes(words, packet, len);
    evrc_decode_words(dec, rate, words, out);
    return EVRC_FRAME_LEN;
}
