// Split-vector LSP quantisation of the EVRC encoder.
#include "evrc_encode.h"

// Weighted squared error between the LSPs and a code vector: each LSP counts
// by the inverse distances to its two neighbours (the band edges 0 and 0.5
// for the outermost ones), so that closely spaced pairs (formants) are kept
// more accurately.
//
// The distances are compared only in their upper 32 bits (a resolution of
// four squared LSP units per unit of inverse gap), and on equal values the
// later code vector wins. The reference encoder's picks follow that coarser,
// later-favouring comparison: with full-resolution distances and the first
// minimum kept, it takes the later of two near-equal code vectors far more
// often than the earlier one.
void evrc_lsp_quantise(Word16 *indices, Word16 *qlsp, const Word16 *lsp, const evrc_rate_row *row)
{
    int64_t w[EVRC_LPC_ORDER];
    for (int i = 0; i < EVRC_LPC_ORDER; i++) {
        int32_t lo = i == 0 ? lsp[0] : lsp[i] - lsp[i - 1];
        int32_t hi = i == EVRC_LPC_ORDER - 1 ? 16384 - lsp[i] : lsp[i + 1] - lsp[i];
        if (lo < 1)
            lo = 1;
        if (hi < 1)
            hi = 1;
        w[i] = ((int64_t)1 << 30) / lo + ((int64_t)1 << 30) / hi;
    }
    int off = 0;
    for (int s = 0; s < row->splits; s++) {
        const int16_t *cb = row->codebook[s];
        Word16 dim = row->dim[s];
        int64_t best = INT64_MAX;
        Word16 best_j = 0;
        for (Word16 j = 0; j < row->size[s]; j++) {
            const int16_t *c = cb + j * dim;
            // Keep the split boundary a valid (rising, separated) LSP pair.
            if (off > 0 && c[0] - qlsp[off - 1] <= EVRC_MIN_LSP_SEP)
                continue;
            int64_t d = 0;
            for (int k = 0; k < dim; k++) {
                int64_t e = (int64_t)lsp[off + k] - c[k];
                d += w[off + k] * e * e;
            }
            d >>= 32;
            if (d <= best) {
                best = d;
                best_j = j;
            }
        }
        indices[s] = best_j;
        for (int k = 0; k < dim; k++)
            qlsp[off + k] = cb[best_j * dim + k];
        off += dim;
    }
}
