// EVRC decoder: frame classification, good-frame decoding at full, half and
// eighth rate, and the synthesis of erased frames.
#include "evrc_decoder.h"

#include "evrc_synth.h"
#include "evrc_tables.h"

#include <cstring>

namespace
{

const Word16 kAcbGainMeanFactor = 10923; // 1/3
const Word16 kFcbGainMeanFactor = 1365;  // 1/24
const Word16 kScaleRise = 6554;          // 0.2 per good subframe
const Word16 kScaleFall = 1638;          // 0.05 per erased subframe
const Word16 kRandomContourBelow = 4915; // 0.15
const Word16 kErasureNoiseBelow = 6554;  // 0.2
const Word16 kErasureNoiseFactor = 3277; // 0.1
const Word16 kEighthSeedAtReset = 1234;

Word16 *exc_now(evrc_decoder *dec)
{
    return dec->exc + EVRC_ACB_MEM;
}

void slide_excitation(evrc_decoder *dec, Word16 len)
{
    memmove(dec->exc, dec->exc + len, sizeof(Word16) * EVRC_ACB_MEM);
}

// Rising LSPs with the minimum gap at every split boundary.
bool lsp_valid(const Word16 *lsp, const evrc_rate_row *row)
{
    for (int i = 1; i < EVRC_LPC_ORDER; i++)
        if (lsp[i] <= lsp[i - 1])
            return false;
    int k = 0;
    for (int s = 0; s + 1 < row->splits; s++) {
        k += row->dim[s];
        if (sub(lsp[k], lsp[k - 1]) <= EVRC_MIN_LSP_SEP)
            return false;
    }
    return true;
}

void lsp_dequantise(Word16 *lsp, const Word16 *index, const evrc_rate_row *row)
{
    int k = 0;
    for (int s = 0; s < row->splits; s++) {
        const int16_t *cv = row->codebook[s] + index[s] * row->dim[s];
        for (int j = 0; j < row->dim[s]; j++)
            lsp[k++] = cv[j];
    }
}

// Pitch sharpening of a code vector: c[n] += factor c[n - delay].
void sharpen(Word16 *code, Word16 gain_q14, const Word32 *contour, Word16 len)
{
    Word16 factor = gain_q14;
    if (factor < 3276)
        factor = 3276;
    if (factor > 14744)
        factor = 14744;
    factor = shl(factor, 1);
    Word16 delay = round(L_add(L_shr(contour[0], 1), L_shr(contour[1], 1)));
    if (delay > len)
        return;
    for (int n = delay; n < len; n++)
        code[n] = add(code[n], mult_r(factor, code[n - delay]));
}

} // namespace

void evrc_fcb_decode_half(Word16 *code, Word16 word, Word16 len)
{
    memset(code, 0, sizeof(Word16) * len);
    Word16 s = (word & 0x200) ? -1 : 1;
    const Word16 offset[3] = {4, 2, 0};
    const Word16 amp[3] = {s, (Word16)-s, s};
    for (int k = 0; k < 3; k++) {
        Word16 pos = (Word16)(7 * ((word >> (3 * k)) & 7) + offset[k]);
        if (pos < len)
            code[pos] = amp[k];
    }
}

void evrc_fcb_decode_full(Word16 *code, const Word16 *words, Word16 len)
{
    memset(code, 0, sizeof(Word16) * len);
    Word16 s = (Word16)((words[3] >> 9) & 3);
    for (int k = 0; k < 3; k++) {
        Word16 c = (Word16)(words[k] & 0x7f);
        if (c >= 121)
            continue;
        Word16 track = (Word16)(s + k);
        if (track > 4)
            track = (Word16)(track - 5);
        Word16 i = (Word16)(c / 11), j = (Word16)(c - 11 * (c / 11));
        Word16 p1 = (Word16)(5 * i + track), p2 = (Word16)(5 * j + track);
        Word16 sign = (words[k] & 0x80) ? -1 : 1;
        if (p1 < len)
            code[p1] = sign;
        if (p2 < len) {
            if (p2 < p1)
                code[p2] = (Word16)-sign;
            else
                code[p2] = add(code[p2], sign);
        }
    }
    Word16 c = (Word16)(words[3] & 0x7f);
    if (c < 121) {
        Word16 p1 = (Word16)(5 * (c / 11) + (s + 3) % 5);
        Word16 p2 = (Word16)(5 * (c % 11) + (s + 4) % 5);
        if (p1 < len)
            code[p1] = (words[3] & 0x100) ? -1 : 1;
        if (p2 < len)
            code[p2] = (words[3] & 0x80) ? -1 : 1;
    }
}

void evrc_decoder_reset(evrc_decoder *dec)
{
    Word16 ones_run = dec->ones_run;
    Word16 legacy = dec->legacy;
    memset(dec, 0, sizeof *dec);
    dec->ones_run = ones_run;
    dec->legacy = legacy;
    dec->gauss.legacy = legacy;
    evrc_set_rate(&dec->rate, EVRC_RATE_FULL);
    evrc_bits_clear(&dec->bits);
    dec->last_rate = EVRC_RATE_EIGHTH;
    memcpy(dec->prev_lsp, evrc_tab_lsp_initial, sizeof dec->prev_lsp);
    memcpy(dec->lsp, evrc_tab_lsp_initial, sizeof dec->lsp);
    dec->prev_delay = 40;
    dec->delay = 40;
    dec->excitation_scale = EVRC_MAX_16;
    dec->eighth_seed = kEighthSeedAtReset;
}

void evrc_check_frame(evrc_decoder *dec, Word16 *rate, const uint16_t words[EVRC_FRAME_WORDS])
{
    dec->bad_rate = 0;
    dec->erasure = 0;
    if (*rate != EVRC_RATE_EIGHTH && !dec->legacy) {
        bool zero = true;
        for (int i = 0; i < EVRC_FRAME_WORDS; i++)
            zero = zero && words[i] == 0;
        if (zero)
            *rate = EVRC_RATE_ERASURE;
    }
    switch (*rate) {
    case EVRC_RATE_EIGHTH:
        if (words[0] == 0xffff) {
            if (dec->ones_run < 3)
                dec->ones_run++;
            if (dec->ones_run < 3 || dec->legacy)
                dec->erasure = 1;
        } else {
            dec->ones_run = 0;
        }
        if (dec->last_rate == EVRC_RATE_FULL && !dec->prev_erased) {
            dec->bad_rate = 1;
            dec->erasure = 1;
        }
        break;
    case EVRC_RATE_HALF:
    case EVRC_RATE_FULL:
        dec->ones_run = 0;
        break;
    case EVRC_RATE_ERASURE:
        dec->ones_run = 0;
        dec->erasure = 1;
        break;
    default:
        dec->bad_rate = 1;
        break;
    }
    if (!dec->bad_rate && !dec->erasure)
        dec->last_rate = *rate;
    else
        *rate = dec->last_rate == EVRC_RATE_EIGHTH ? EVRC_RATE_EIGHTH : EVRC_RATE_FULL;
    dec->erasure_any = (Word16)(dec->bad_rate | dec->erasure);
}

// One subframe of eighth-rate noise excitation.
static void eighth_excitation(evrc_decoder *dec, Word16 *out, Word16 len, Word16 subframe,
                              Word16 energy_idx, bool erased)
{
    static_assert(sizeof evrc_tab_eighth_energy_lin[0] == 3 * sizeof(int16_t), "3 gains a row");
    Word16 gain;
    if (erased) {
        const int16_t *row = evrc_tab_eighth_energy_lin[dec->energy_row];
        Word32 acc = 0;
        for (int k = 0; k < 3; k++)
            acc = L_mac(acc, row[k], 10923);
        gain = round(acc);
    } else {
        if (subframe == 0)
            dec->energy_row = energy_idx;
        gain = evrc_tab_eighth_energy_lin[dec->energy_row][subframe];
    }
    for (int n = 0; n < len; n++) {
        Word16 g = evrc_gaussian_random(&dec->gauss, &dec->eighth_seed);
        out[n] = round(L_shr(L_mult(g, gain), 5));
    }
}

// Returns true when a received frame's LSPs were unusable and the frame was
// concealed in place (1998 rules).
static bool decode_eighth(evrc_decoder *dec, Word16 *out)
{
    bool erased = dec->bad_rate || dec->erasure;
    bool concealed = erased;
    if (!erased) {
        Word16 idx[2];
        idx[0] = evrc_unpack_bits(&dec->bits, 4);
        idx[1] = evrc_unpack_bits(&dec->bits, 4);
        lsp_dequantise(dec->lsp, idx, &evrc_rate_row_eighth);
        bool bad = false;
        for (int i = 1; i < EVRC_LPC_ORDER; i++)
            bad = bad || dec->lsp[i] <= dec->lsp[i - 1];
        // The 1998 rules check the gap between the two halves of the vector.
        int gap = dec->legacy ? 5 : 9;
        bad = bad || dec->lsp[gap] <= add(dec->lsp[gap - 1], EVRC_MIN_LSP_SEP);
        Word16 energy_idx = evrc_unpack_bits(&dec->bits, 8);
        if (bad) {
            memcpy(dec->lsp, dec->prev_lsp, sizeof dec->lsp);
            // The 1998 rules conceal the frame right here, at the level of
            // the last good eighth-rate frame, without an erasure synthesis
            // (the recovery count, the fades and the last good rate stay).
            if (dec->legacy)
                concealed = true;
            else
                dec->bad_rate = 1;
        }
        if (!concealed)
            dec->energy_idx = energy_idx;
    }
    Word16 *exc = exc_now(dec);
    Word16 pos = 0;
    for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 len = evrc_subframe_len[i];
        // The third all-ones frame of a run is decoded, but at a moderate
        // energy rather than the top of the codebook.
        Word16 energy = dec->ones_run > 2 ? (Word16)64 : dec->energy_idx;
        eighth_excitation(dec, exc, len, i, energy, concealed);
        Word16 lsp[EVRC_LPC_ORDER], lpc[EVRC_LPC_ORDER];
        evrc_interpolate_lsp(lsp, dec->prev_lsp, dec->lsp, i);
        evrc_lsp_to_lpc(lpc, lsp);
        evrc_synthesis_filter(out + pos, exc, lpc, dec->syn_mem, len);
        slide_excitation(dec, len);
        pos = (Word16)(pos + len);
    }
    return concealed && !erased;
}

// The common end of every frame, decoded or synthesised.
static void frame_end(evrc_decoder *dec, bool erased)
{
    dec->prev_delay = dec->delay;
    memcpy(dec->prev_lsp, dec->lsp, sizeof dec->lsp);
    dec->frame_count++;
    dec->prev_erased = erased ? 1 : 0;
}

void evrc_decode(evrc_decoder *dec, const uint16_t words[EVRC_FRAME_WORDS], Word16 *out)
{
    evrc_bits_load(&dec->bits, words, EVRC_FRAME_WORDS);
    if (dec->recovery > 0)
        dec->recovery--;
    Word16 rate = dec->rate.rate;
    if (rate == EVRC_RATE_EIGHTH) {
        bool concealed = decode_eighth(dec, out);
        frame_end(dec, concealed);
        return;
    }
    const evrc_rate_row *row = dec->rate.row;
    bool full = rate == EVRC_RATE_FULL;
    if (full)
        dec->lpc_flag = evrc_unpack_bits(&dec->bits, 1);
    Word16 idx[4];
    for (int s = 0; s < row->splits; s++)
        idx[s] = evrc_unpack_bits(&dec->bits, row->bits[s]);
    lsp_dequantise(dec->lsp, idx, row);
    if (!lsp_valid(dec->lsp, row)) {
        dec->bad_rate = 1;
        return;
    }
    Word16 delay = add(evrc_unpack_bits(&dec->bits, 7), EVRC_MIN_DELAY);
    if (delay > EVRC_MAX_DELAY) {
        dec->bad_rate = 1;
        return;
    }
    if (full) {
        Word16 diff = evrc_unpack_bits(&dec->bits, 5);
        if (diff != 0) {
            Word16 rebuilt = sub(delay, sub(diff, 16));
            if (!dec->legacy && (rebuilt < EVRC_MIN_DELAY || rebuilt > EVRC_MAX_DELAY)) {
                dec->bad_rate = 1;
                return;
            }
            // The 1998 rules skip that check. A rebuilt delay below the
            // range is used as it is (the contour reads back what it has
            // just written); one above it would reach before the excitation
            // memory and is capped.
            if (rebuilt > EVRC_MAX_DELAY)
                rebuilt = EVRC_MAX_DELAY;
            if (dec->recovery == 2) {
                // Rebuild the erased frame's excitation along the contour that
                // the delay difference reveals.
                memcpy(dec->exc, dec->exc_saved, sizeof dec->exc_saved);
                Word16 start = dec->prev_delay;
                if (abs_s(sub(rebuilt, start)) > 15)
                    start = rebuilt;
                for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
                    Word32 contour[3];
                    evrc_interpolate_delay(contour, start, rebuilt, i);
                    evrc_decode_acb(exc_now(dec), dec->acb_gain_mem, contour, evrc_subframe_len[i]);
                    slide_excitation(dec, evrc_subframe_len[i]);
                }
                dec->prev_delay = rebuilt;
            }
        }
    }
    dec->delay = delay;
    if (abs_s(sub(delay, dec->prev_delay)) > 15)
        dec->prev_delay = delay;

    dec->acb_gain_mem = 0;
    dec->fcb_gain_mem = 0;
    Word16 *exc = exc_now(dec);
    Word16 pos = 0;
    for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 len = evrc_subframe_len[i];
        Word16 lsp[EVRC_LPC_ORDER], lpc[EVRC_LPC_ORDER];
        evrc_interpolate_lsp(lsp, dec->prev_lsp, dec->lsp, i);
        evrc_lsp_to_lpc(lpc, lsp);
        if (full && dec->lpc_flag && dec->recovery == 2)
            evrc_weight(lpc, lpc, EVRC_WEIGHT_0_75);
        Word32 contour[3];
        evrc_interpolate_delay(contour, dec->prev_delay, delay, i);

        Word16 acb_idx = evrc_unpack_bits(&dec->bits, 3);
        Word16 code_words[4];
        if (full) {
            code_words[0] = evrc_unpack_bits(&dec->bits, 8);
            code_words[1] = evrc_unpack_bits(&dec->bits, 8);
            code_words[2] = evrc_unpack_bits(&dec->bits, 8);
            code_words[3] = evrc_unpack_bits(&dec->bits, 11);
        } else {
            code_words[0] = evrc_unpack_bits(&dec->bits, 10);
        }
        Word16 fcb_idx = evrc_unpack_bits(&dec->bits, full ? 5 : 4);

        Word16 acb_gain = evrc_tab_acb_gain[acb_idx];
        evrc_decode_acb(exc, acb_gain, contour, len);

        Word16 code[EVRC_SUBFRAME_MAX];
        if (full)
            evrc_fcb_decode_full(code, code_words, len);
        else
            evrc_fcb_decode_half(code, code_words[0], len);
        for (int n = 0; n < len; n++)
            code[n] = shl(code[n], 11);
        sharpen(code, acb_gain, contour, len);

        Word16 level = dec->rate.fcb_gain[fcb_idx];
        // The level is the gain times 8 (Q3); with the code vector in Q11
        // the product lands on the sample scale.
        for (int n = 0; n < len; n++)
            exc[n] = add(exc[n], round(L_mult(code[n], level)));

        dec->acb_gain_mem = add(dec->acb_gain_mem, mult_r(acb_gain, kAcbGainMeanFactor));
        dec->fcb_gain_mem = add(dec->fcb_gain_mem, mult_r(level, kFcbGainMeanFactor));
        dec->excitation_scale = add(dec->excitation_scale, kScaleRise);

        evrc_synthesis_filter(out + pos, exc, lpc, dec->syn_mem, len);
        for (int n = 0; n < len; n++)
            out[pos + n] = shl(out[pos + n], 1);
        slide_excitation(dec, len);
        pos = (Word16)(pos + len);
    }
    frame_end(dec, false);
}

void evrc_decode_erasure(evrc_decoder *dec, Word16 *out)
{
    if (dec->recovery == 3)
        dec->acb_gain_mem = mult_r(dec->acb_gain_mem, 24576);
    else
        dec->erasure_seed = shl(dec->prev_lsp[EVRC_LPC_ORDER - 1], 1);
    dec->recovery = 3;

    for (int k = 0; k < EVRC_LPC_ORDER; k++) {
        if (dec->legacy) {
            dec->lsp[k] = dec->prev_lsp[k];
        } else {
            Word32 acc = L_mult(dec->prev_lsp[k], 28672);
            acc = L_mac(acc, evrc_tab_lsp_initial[k], 4096);
            dec->lsp[k] = round(acc);
        }
    }

    if (dec->rate.rate == EVRC_RATE_EIGHTH) {
        dec->bad_rate = 1;
        decode_eighth(dec, out);
        frame_end(dec, true);
        return;
    }

    // The 1998 rules keep the excitation for a later delay-contour repair
    // only from full-rate erasures, not from a half-rate frame whose content
    // failed its checks.
    if (!dec->legacy || dec->rate.rate == EVRC_RATE_FULL)
        memcpy(dec->exc_saved, dec->exc, sizeof dec->exc_saved);
    dec->delay = dec->prev_delay;
    Word16 *exc = exc_now(dec);
    Word16 pos = 0;
    for (Word16 i = 0; i < EVRC_SUBFRAMES; i++) {
        Word16 len = evrc_subframe_len[i];
        Word16 lsp[EVRC_LPC_ORDER], lpc[EVRC_LPC_ORDER];
        evrc_interpolate_lsp(lsp, dec->prev_lsp, dec->lsp, i);
        evrc_lsp_to_lpc(lpc, lsp);
        Word32 contour[3];
        if (dec->acb_gain_mem < kRandomContourBelow) {
            for (int k = 0; k < 3; k++)
                contour[k] = L_deposit_h(evrc_tab_erasure_random_delays[i + k]);
        } else {
            evrc_interpolate_delay(contour, dec->delay, dec->delay, i);
        }
        evrc_decode_acb(exc, dec->acb_gain_mem, contour, len);
        for (int n = 0; n < len; n++)
            exc[n] = mult_r(exc[n], dec->excitation_scale);
        dec->excitation_scale = sub(dec->excitation_scale, kScaleFall);
        if (dec->excitation_scale < 0)
            dec->excitation_scale = 0;
        // The noise feeds the synthesis only; the excitation memory keeps the
        // faded pitch excitation.
        Word16 syn_in[EVRC_SUBFRAME_MAX];
        memcpy(syn_in, exc, sizeof(Word16) * len);
        if (dec->acb_gain_mem < kErasureNoiseBelow) {
            if (dec->legacy)
                dec->erasure_seed = shl(dec->prev_lsp[EVRC_LPC_ORDER - 1], 1);
            Word16 amp = mult_r(dec->fcb_gain_mem, kErasureNoiseFactor);
            for (int n = 0; n < len; n++) {
                Word16 g = evrc_gaussian_random(&dec->gauss, &dec->erasure_seed);
                syn_in[n] = add(syn_in[n], mult_r(g, amp));
            }
        }
        slide_excitation(dec, len);
        evrc_synthesis_filter(out + pos, syn_in, lpc, dec->syn_mem, len);
        for (int n = 0; n < len; n++)
            out[pos + n] = shl(out[pos + n], 1);
        pos = (Word16)(pos + len);
    }
    frame_end(dec, true);
}
