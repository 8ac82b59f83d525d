#include "ringbuffer.h"

#include <stdlib.h>
#include <string.h>

struct ringbuffer {
    uint8_t *data;
    uint32_t write;
    uint32_t read;
    uint32_t size;
    uint32_t mask;
};

ringbuffer *ringbuffer_new(uint32_t size)
{
    if (size < 2 || (size & (size - 1)) != 0)
        return NULL;
    ringbuffer *rb = static_cast<ringbuffer *>(calloc(1, sizeof(ringbuffer)));
    if (!rb)
        return NULL;
    rb->data = static_cast<uint8_t *>(malloc(size));
    if (!rb->data) {
        free(rb);
        return NULL;
    }
    rb->size = size;
    rb->mask = size - 1;
    return rb;
}

void ringbuffer_destroy(ringbuffer **rb)
{
    if (!rb || !*rb)
        return;
    free((*rb)->data);
    free(*rb);
    *rb = NULL;
}

uint32_t ringbuffer_count(ringbuffer *rb)
{
    return rb ? (rb->write - rb->read) & rb->mask : 0;
}

uint32_t ringbuffer_read(ringbuffer *rb, void *dst, uint32_t n)
{
    if (!rb || !dst || n == 0 || ringbuffer_count(rb) < n)
        return 0;
    uint32_t first = rb->size - rb->read;
    if (first > n)
        first = n;
    memcpy(dst, rb->data + rb->read, first);
    memcpy(static_cast<uint8_t *>(dst) + first, rb->data, n - first);
    rb->read = (rb->read + n) & rb->mask;
    return n;
}

uint32_t ringbuffer_write(ringbuffer *rb, const void *src, uint32_t n)
{
    if (!rb || !src || n == 0 || n > rb->mask - ringbuffer_count(rb))
        return 0;
    uint32_t first = rb->size - rb->write;
    if (first > n)
        first = n;
    memcpy(rb->data + rb->write, src, first);
    memcpy(rb->data, static_cast<const uint8_t *>(src) + first, n - first);
    rb->write = (rb->write + n) & rb->mask;
    return n;
}
