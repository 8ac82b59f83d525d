// Sample-rate converter over the speexdsp resampler, used by the play side
// as its PCM FIFO: input is appended at one rate, output read at the other.
// With equal rates it is a plain FIFO. One thread at a time (the looper).
#ifndef DSP_RESAMPLER_H
#define DSP_RESAMPLER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dsp_resampler {
    void *resampler; // speexdsp state; NULL when the rates are equal
    double in_rate;
    double out_rate;
    uint32_t in_capacity; // in_rate * 2 / 50 samples (40 ms)
    uint32_t in_read;
    uint32_t in_write;
    int16_t *in;
    uint32_t out_capacity; // 0 when the rates are equal
    uint32_t out_read;
    uint32_t out_write;
    int16_t *out;
} dsp_resampler;

// NULL when a rate is 0 or memory runs out.
dsp_resampler *dsp_resampler_new(uint32_t in_rate, uint32_t out_rate);
void dsp_resampler_destroy(dsp_resampler **r);
// Moves the unread input to the front and appends up to n samples; returns
// the number appended (less than n only when the input is full).
uint32_t dsp_resampler_write(dsp_resampler *r, const int16_t *pcm, uint32_t n);
// Samples waiting on the input side.
uint32_t dsp_resampler_waiting(const dsp_resampler *r);
// Reads up to n converted samples; returns the number delivered.
uint32_t dsp_resampler_read(dsp_resampler *r, int16_t *out, uint32_t n);

#ifdef __cplusplus
}
#endif

#endif
