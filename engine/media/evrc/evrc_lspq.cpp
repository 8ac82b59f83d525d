// Split-vector LSP quantisation of the EVRC encoder.
#include "evrc_encode.h"

// Weighted squared error between the LSPs and a code vector: each LSP counts
// by roughly the inverse of its smaller gap to a neighbour (the outermost
// ones by their one inner gap), so that closely spaced pairs (formants) are
// kept more accurately. A weight is a 16-bit mantissa with its own shift.
//
// The distance is rounded to 16 bits and the last of equal minima wins: the
// decoder's far end was made with exactly these picks.
void evrc_lsp_quantise(Word16 *indices, Word16 *qlsp, const Word16 *lsp, const evrc_rate_row *row)
{
    Word16 w[EVRC_LPC_ORDER], ws[EVRC_LPC_ORDER];
    for (int i = 0; i < EVRC_LPC_ORDER; i++) {
        Word16 g;
        if (i == 0)
            g = sub(lsp[1], lsp[0]);
        else if (i == EVRC_LPC_ORDER - 1)
            g = sub(lsp[i], lsp[i - 1]);
        else {
            Word16 lo = sub(lsp[i], lsp[i - 1]), hi = sub(lsp[i + 1], lsp[i]);
            g = lo < hi ? lo : hi;
        }
        if (g == 0) {
            w[i] = 18346;
            ws[i] = 4;
            continue;
        }
        // 1 / (2 pi g) + 1 / (2 g) for g = m 2^-s; a negative gap (LSPs out
        // of order) gets no inverse term.
        Word16 s = norm_s(g);
        w[i] = add(mult(evrc_divide_s(16384, shl(g, s)), 5215), shr(16384, (Word16)(s - 1)));
        ws[i] = s;
    }
    int off = 0;
    for (int sp = 0; sp < row->splits; sp++) {
        const int16_t *cb = row->codebook[sp];
        Word16 dim = row->dim[sp];
        Word16 best = EVRC_MAX_16;
        Word16 best_j = 0;
        for (Word16 j = 0; j < row->size[sp]; j++) {
            const int16_t *c = cb + j * dim;
            Word16 dist;
            // Keep the split boundary a valid (rising, separated) LSP pair.
            if (off > 0 && c[0] <= add(qlsp[off - 1], EVRC_MIN_LSP_SEP)) {
                dist = EVRC_MAX_16;
            } else {
                Word32 acc = 0;
                for (int k = 0; k < dim; k++) {
                    Word16 e = sub(lsp[off + k], c[k]);
                    Word32 t = L_shl(L_mult(w[off + k], e), ws[off + k]);
                    acc = L_add(acc, L_mult(extract_h(t), e));
                }
                dist = round(acc);
            }
            if (dist <= best) {
                best = dist;
                best_j = j;
            }
        }
        indices[sp] = best_j;
        for (int k = 0; k < dim; k++)
            qlsp[off + k] = cb[best_j * dim + k];
        off += dim;
    }
}
