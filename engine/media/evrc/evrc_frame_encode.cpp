// Encode entry point of the EVRC codec: one 160-sample frame in, one coded
// frame (rate 1, 3 or 4) out, each 16-bit word high byte first.
#include "evrc_encode.h"
#include "evrc_frame.h"

#include <cstdlib>
#include <cstring>

evrc_encoder *evrc_encoder_new(void)
{
    evrc_encoder *enc = (evrc_encoder *)calloc(1, sizeof(evrc_encoder));
    if (!enc)
        return NULL;
    enc->min_rate = EVRC_RATE_HALF;
    enc->max_rate = EVRC_RATE_HALF;
    enc->noise_suppression = 0;
    evrc_encoder_init(enc);
    return enc;
}

void evrc_encoder_destroy(evrc_encoder **enc)
{
    if (!enc || !*enc)
        return;
    free(*enc);
    *enc = NULL;
}

Word16 evrc_encode_words(evrc_encoder *enc, Word16 *samples, uint16_t words[EVRC_FRAME_WORDS])
{
    evrc_highpass_filter(&enc->hp, samples);
    if (enc->noise_suppression) {
        evrc_noise_suppress(&enc->ns, samples);
        evrc_noise_suppress(&enc->ns, samples + EVRC_NS_BLOCK);
    } else {
        // The suppressor scales its output down by 6 dB; without it the
        // frame is halved (rounding half up) so the analysis sees the same level.
        for (int n = 0; n < EVRC_FRAME_LEN; n++)
            samples[n] = shift_r(samples[n], -1);
    }
    Word16 beta = evrc_pre_encode(enc, samples, enc->autocorr);
    enc->beta = (uint16_t)beta;
    // Bounds outside 1..4 are held to the rates the codec can code.
    Word16 max_rate = (Word16)enc->max_rate, min_rate = (Word16)enc->min_rate;
    if (max_rate > EVRC_RATE_FULL || max_rate < EVRC_RATE_EIGHTH)
        max_rate = EVRC_RATE_FULL;
    if (min_rate < EVRC_RATE_EIGHTH || min_rate > EVRC_RATE_FULL)
        min_rate = EVRC_RATE_EIGHTH;
    if (min_rate > max_rate)
        min_rate = max_rate;
    Word16 rate = evrc_select_rate(&enc->rd, enc->autocorr, max_rate, min_rate, beta);
    // Quarter rate is not coded: a decision for it goes out at half rate.
    if (rate == EVRC_RATE_QUARTER)
        rate = EVRC_RATE_HALF;
    if (enc->imposed_rate == EVRC_RATE_EIGHTH || enc->imposed_rate == EVRC_RATE_HALF ||
        enc->imposed_rate == EVRC_RATE_FULL)
        rate = (Word16)enc->imposed_rate;
    enc->imposed_rate = 0;
    evrc_encode(enc, rate);
    memcpy(enc->st.prev_qlsp, enc->st.qlsp, sizeof enc->st.qlsp);
    memcpy(enc->st.prev_lsp, enc->st.lsp, sizeof enc->st.lsp);
    memcpy(words, enc->st.bits.words, EVRC_FRAME_WORDS * sizeof(uint16_t));
    return rate;
}

int evrc_encode_frame(evrc_encoder *enc, int16_t *samples, uint8_t *out)
{
    if (!enc || !samples || !out)
        return 0;
    uint16_t words[EVRC_FRAME_WORDS];
    Word16 rate = evrc_encode_words(enc, samples, words);
    evrc_words_to_bytes(out, words, evrc_words_per_rate[rate]);
    return rate;
}
