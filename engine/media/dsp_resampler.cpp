#include "dsp_resampler.h"

#include <math.h>
#include <speex/speex_resampler.h>
#include <stdlib.h>
#include <string.h>

dsp_resampler *dsp_resampler_new(uint32_t in_rate, uint32_t out_rate)
{
    if (in_rate == 0 || out_rate == 0)
        return NULL;
    dsp_resampler *r = (dsp_resampler *)calloc(1, sizeof(*r));
    if (!r)
        return NULL;
    r->in_rate = in_rate;
    r->out_rate = out_rate;
    r->in_capacity = in_rate * 2 / 50;
    r->in = (int16_t *)calloc(r->in_capacity, sizeof(int16_t));
    int ok = r->in != NULL;
    if (ok && in_rate != out_rate) {
        r->out_capacity = out_rate * 2 / 50;
        r->out = (int16_t *)calloc(r->out_capacity, sizeof(int16_t));
        int err = 0;
        // Quality 0: voice at telephone rates needs no better, and it is the
        // cheapest filter.
        r->resampler = speex_resampler_init(1, in_rate, out_rate, 0, &err);
        ok = r->out && r->resampler;
    }
    if (!ok)
        dsp_resampler_destroy(&r);
    return r;
}

void dsp_resampler_destroy(dsp_resampler **pr)
{
    if (!pr || !*pr)
        return;
    dsp_resampler *r = *pr;
    if (r->resampler)
        speex_resampler_destroy((SpeexResamplerState *)r->resampler);
    free(r->in);
    free(r->out);
    free(r);
    *pr = NULL;
}

uint32_t dsp_resampler_waiting(const dsp_resampler *r)
{
    return r ? r->in_write - r->in_read : 0;
}

uint32_t dsp_resampler_write(dsp_resampler *r, const int16_t *pcm, uint32_t n)
{
    if (!r || !pcm)
        return 0;
    uint32_t waiting = r->in_write - r->in_read;
    if (r->in_read > 0) {
        memmove(r->in, r->in + r->in_read, waiting * sizeof(int16_t));
        r->in_read = 0;
        r->in_write = waiting;
    }
    uint32_t room = r->in_capacity - r->in_write;
    if (n > room)
        n = room;
    memcpy(r->in + r->in_write, pcm, n * sizeof(int16_t));
    r->in_write += n;
    return n;
}

uint32_t dsp_resampler_read(dsp_resampler *r, int16_t *out, uint32_t n)
{
    if (!r || !out)
        return 0;
    if (!r->resampler) {
        uint32_t waiting = r->in_write - r->in_read;
        uint32_t take = n < waiting ? n : waiting;
        memcpy(out, r->in + r->in_read, take * sizeof(int16_t));
        r->in_read += take;
        if (r->in_read == r->in_write)
            r->in_read = r->in_write = 0;
        return take;
    }
    uint32_t delivered = 0;
    while (1) {
        uint32_t ready = r->out_write - r->out_read;
        uint32_t take = n - delivered < ready ? n - delivered : ready;
        memcpy(out + delivered, r->out + r->out_read, take * sizeof(int16_t));
        r->out_read += take;
        delivered += take;
        if (delivered == n)
            return n;
        r->out_read = r->out_write = 0;
        uint32_t waiting = r->in_write - r->in_read;
        if (waiting < 4)
            return delivered;
        double want = round((double)(n - delivered) * r->in_rate / r->out_rate);
        spx_uint32_t in_len = want < 1.0 ? 2 : (spx_uint32_t)want;
        if (in_len > waiting)
            in_len = waiting;
        spx_uint32_t out_len = r->out_capacity;
        speex_resampler_process_int((SpeexResamplerState *)r->resampler, 0, r->in + r->in_read,
                                    &in_len, r->out, &out_len);
        r->in_read += in_len;
        r->out_write = out_len;
        if (out_len == 0)
            return delivered;
    }
}
