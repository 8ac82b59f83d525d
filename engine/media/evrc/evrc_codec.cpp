// Rate rows, bit packing and the other pieces shared by encoder and decoder.
#include "evrc_codec.h"

#include "evrc_tables.h"

#include <cstring>

const Word16 evrc_words_per_rate[5] = {0, 1, 0, 5, 11};
const Word16 evrc_bytes_per_rate[5] = {0, 2, 0, 10, 22};
const Word16 evrc_subframe_len[EVRC_SUBFRAMES] = {53, 53, 54};

Word16 evrc_rate_for_bytes(int bytes)
{
    switch (bytes) {
    case 2:
        return EVRC_RATE_EIGHTH;
    case 10:
        return EVRC_RATE_HALF;
    case 22:
        return EVRC_RATE_FULL;
    default:
        return 0;
    }
}

const evrc_rate_row evrc_rate_row_full = {
    4,
    {2, 2, 3, 3},
    {64, 64, 512, 128},
    {6, 6, 9, 7},
    {&evrc_tab_lsp_full_split1[0][0], &evrc_tab_lsp_full_split2[0][0],
     &evrc_tab_lsp_full_split3[0][0], &evrc_tab_lsp_full_split4[0][0]},
};

const evrc_rate_row evrc_rate_row_half = {
    3,
    {3, 3, 4, 0},
    {128, 128, 256, 0},
    {7, 7, 8, 0},
    {&evrc_tab_lsp_half_split1[0][0], &evrc_tab_lsp_half_split2[0][0],
     &evrc_tab_lsp_half_split3[0][0], nullptr},
};

const evrc_rate_row evrc_rate_row_eighth = {
    2,
    {5, 5, 0, 0},
    {16, 16, 0, 0},
    {4, 4, 0, 0},
    {&evrc_tab_lsp_eighth_split1[0][0], &evrc_tab_lsp_eighth_split2[0][0], nullptr, nullptr},
};

void evrc_set_rate(evrc_rate_sel *sel, Word16 rate)
{
    sel->rate = rate;
    if (rate == EVRC_RATE_FULL) {
        sel->row = &evrc_rate_row_full;
        sel->fcb_gain = evrc_tab_fcb_gain_full;
        sel->fcb_gain_levels = 32;
    } else if (rate == EVRC_RATE_HALF) {
        sel->row = &evrc_rate_row_half;
        sel->fcb_gain = evrc_tab_fcb_gain_half;
        sel->fcb_gain_levels = 16;
    } else if (rate == EVRC_RATE_EIGHTH) {
        if (!sel->row)
            sel->row = &evrc_rate_row_full;
        sel->fcb_gain = evrc_tab_fcb_gain_half;
        sel->fcb_gain_levels = 16;
    } else if (!sel->row) {
        sel->row = &evrc_rate_row_full;
        sel->fcb_gain = evrc_tab_fcb_gain_full;
        sel->fcb_gain_levels = 32;
    }
}

void evrc_bits_clear(evrc_bits *b)
{
    memset(b->words, 0, sizeof b->words);
    b->bits_left = 16;
    b->index = 0;
}

void evrc_bits_load(evrc_bits *b, const uint16_t *words, int count)
{
    evrc_bits_clear(b);
    if (count > EVRC_FRAME_WORDS)
        count = EVRC_FRAME_WORDS;
    for (int i = 0; i < count; i++)
        b->words[i] = words[i];
}

void evrc_pack_bits(evrc_bits *b, Word16 value, Word16 width)
{
    uint32_t v = (uint16_t)value;
    Word16 left = (Word16)(b->bits_left - width);
    if (b->index >= EVRC_FRAME_WORDS)
        return;
    if (left >= 0) {
        b->words[b->index] |= (uint16_t)(v << left);
        b->bits_left = left;
        if (left == 0 && b->index + 1 < EVRC_FRAME_WORDS) {
            b->index++;
            b->bits_left = 16;
        }
        return;
    }
    Word16 shortfall = (Word16)-left;
    b->words[b->index] |= (uint16_t)(v >> shortfall);
    b->index++;
    b->bits_left = (Word16)(16 - shortfall);
    if (b->index < EVRC_FRAME_WORDS)
        b->words[b->index] |= (uint16_t)(v << b->bits_left);
}

Word16 evrc_unpack_bits(evrc_bits *b, Word16 width)
{
    uint32_t value = 0;
    for (Word16 i = 0; i < width; i++) {
        uint32_t bit = 0;
        if (b->index < EVRC_FRAME_WORDS)
            bit = (b->words[b->index] >> (b->bits_left - 1)) & 1u;
        value = (value << 1) | bit;
        if (--b->bits_left == 0) {
            b->bits_left = 16;
            b->index++;
        }
    }
    return (Word16)value;
}

void evrc_words_from_bytes(uint16_t words[EVRC_FRAME_WORDS], const uint8_t *bytes, int len)
{
    memset(words, 0, EVRC_FRAME_WORDS * sizeof(uint16_t));
    if (len > 2 * EVRC_FRAME_WORDS)
        len = 2 * EVRC_FRAME_WORDS;
    for (int i = 0; i + 1 < len; i += 2)
        words[i / 2] = (uint16_t)((bytes[i] << 8) | bytes[i + 1]);
}

void evrc_words_to_bytes(uint8_t *bytes, const uint16_t *words, int count)
{
    for (int i = 0; i < count; i++) {
        bytes[2 * i] = (uint8_t)(words[i] >> 8);
        bytes[2 * i + 1] = (uint8_t)words[i];
    }
}

void evrc_weight(Word16 *out, const Word16 *lpc, evrc_weight_factor g)
{
    const int16_t *powers;
    switch (g) {
    case EVRC_WEIGHT_0_9:
        powers = evrc_tab_weight_gamma1;
        break;
    case EVRC_WEIGHT_0_5:
        powers = evrc_tab_weight_gamma2;
        break;
    case EVRC_WEIGHT_0_994:
        powers = evrc_tab_weight_gamma_4;
        break;
    case EVRC_WEIGHT_0_75:
        powers = evrc_tab_weight_beta;
        break;
    case EVRC_WEIGHT_1_0:
    default:
        if (out != lpc)
            memmove(out, lpc, EVRC_LPC_ORDER * sizeof(Word16));
        return;
    }
    for (int k = 0; k < EVRC_LPC_ORDER; k++)
        out[k] = mult_r(lpc[k], powers[k]);
}

void evrc_gauss_reset(evrc_gauss *g)
{
    g->cached_valid = 0;
    g->cached = 0;
}

Word16 evrc_uniform(Word16 *seed)
{
    Word32 acc = L_mac(27698, 25173, *seed);
    *seed = (Word16)(uint16_t)((uint32_t)L_shr(acc, 1) & 0xffffu);
    return (Word16)((uint16_t)*seed >> 1);
}

// The polar step as the 1998 reference takes it: -ln(rho) / rho as a 16-bit
// quotient, the odd-exponent factor on the 16-bit root, the root
// renormalised. Returns one deviate and caches the other.
static Word16 polar_1998(evrc_gauss *g, Word16 v1, Word16 v2, Word32 rho)
{
    rho = L_shl(rho, 1);
    Word32 lambda = L_negate(L_mpy_ls(evrc_log2(rho), 22713)); // -ln(rho)
    Word16 k = norm_l(rho);
    Word16 rs = round(L_shl(rho, k));
    Word16 qd = evrc_divide_s(round(lambda), rs);
    Word16 m = norm_s(qd);
    Word16 rt = evrc_sqrt(L_deposit_h(shl(qd, m)));
    k = (Word16)(k + 6 - m);
    if (k & 1) {
        rt = mult(rt, 23170);
        k = (Word16)(k + 1);
    }
    k = shr(k, 1);
    Word16 m2 = norm_s(rt);
    rt = shl(rt, m2);
    k = (Word16)(k - m2);
    g->cached = L_shl(L_mult(v1, rt), (Word16)(k - 2));
    g->cached_valid = 1;
    return round(L_shl(L_mult(v2, rt), (Word16)(k - 2)));
}

// The polar step at full 32-bit precision.
static Word16 polar_exact(evrc_gauss *g, Word16 v1, Word16 v2, Word32 s)
{
    // Both v sqrt(-2 ln s / s) are deviates. With num = -ln(s) / 32 the
    // factor under the root is 64 num / s.
    Word32 num = L_negate(L_mpy_ls(evrc_log2(L_shl(s, 1)), 22713));
    Word16 en = norm_l(num);
    Word16 es = norm_l(s);
    Word32 q = L_divide(L_shr(L_shl(num, en), 1), L_shl(s, es));
    Word16 eq = norm_l(q);
    q = L_shl(q, eq);
    Word16 e = (Word16)(6 + es - en - eq);
    Word16 root = evrc_sqrt(q);
    Word32 a = L_mult(v2, root);
    Word32 b = L_mult(v1, root);
    if (e & 1) {
        // 2^(e/2) = 2^((e+1)/2) / sqrt(2)
        a = L_mpy_ls(a, 23170);
        b = L_mpy_ls(b, 23170);
        e = (Word16)(e + 1);
    }
    // Deviates leave in Q13.
    Word16 shift = (Word16)(shr(e, 1) - 2);
    g->cached = L_shl(b, shift);
    g->cached_valid = 1;
    return round(L_shl(a, shift));
}

Word16 evrc_gaussian_random(evrc_gauss *g, Word16 *seed)
{
    if (g->cached_valid) {
        g->cached_valid = 0;
        return round(g->cached);
    }
    for (;;) {
        Word16 v1 = shl(sub(evrc_uniform(seed), 16384), 1);
        Word16 v2 = shl(sub(evrc_uniform(seed), 16384), 1);
        Word32 s = L_add(L_shr(L_mult(v1, v1), 1), L_shr(L_mult(v2, v2), 1)); // Q30
        if (s == 0 || s >= 0x40000000) {
            if (!g->legacy)
                continue; // outside the unit circle: draw a new pair
            Word16 u3 = evrc_uniform(seed);
            return add(add(shr(v1, 3), shr(v2, 3)), shr(sub(u3, 16384), 2));
        }
        return g->legacy ? polar_1998(g, v1, v2, s) : polar_exact(g, v1, v2, s);
    }
}
