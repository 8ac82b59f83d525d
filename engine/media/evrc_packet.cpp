#include "evrc_packet.h"

#include <string.h>

uint32_t evrc_code_size(uint32_t code)
{
    static const uint8_t sizes[4] = {2, 4, 10, 22};
    return code < 4 ? sizes[code] : 0;
}

int evrc_size_to_rate(uint32_t size)
{
    switch (size) {
    case 2:
        return 0;
    case 4:
        return 1;
    case 10:
        return 2;
    case 22:
        return 3;
    default:
        return -1;
    }
}

uint32_t evrc_stream_record_length(uint8_t rate_byte)
{
    switch (rate_byte & 0x0F) {
    case 1:
        return 4;
    case 3:
        return 12;
    case 4:
        return 24;
    default:
        return 0;
    }
}

static uint32_t code_bytes(uint32_t n)
{
    return (n + 3) / 4;
}

static uint32_t code_at(const uint8_t *codes, uint32_t i)
{
    return (uint32_t)(codes[i / 4] >> (6 - 2 * (i % 4))) & 3;
}

int evrc_packet_writer_init(evrc_packet_writer *w, uint8_t *buf, uint32_t capacity,
                            uint32_t nframes)
{
    if (!w || !buf || nframes == 0 || nframes > 255 || 1 + code_bytes(nframes) >= capacity)
        return 0;
    w->capacity = capacity;
    w->max_frames = nframes;
    w->start = buf;
    w->codes = buf + 1;
    buf[0] = (uint8_t)nframes;
    memset(w->codes, 0, code_bytes(nframes));
    w->length = 1 + code_bytes(nframes);
    w->pos = buf + w->length;
    w->frames = 0;
    return 1;
}

int evrc_packet_add_frame(evrc_packet_writer *w, uint32_t code, const uint8_t *packet)
{
    if (!w || !packet || code > 3 || w->frames >= w->max_frames)
        return 0;
    uint32_t size = evrc_code_size(code);
    if (w->length + size >= w->capacity)
        return 0;
    w->codes[w->frames / 4] |= (uint8_t)(code << (6 - 2 * (w->frames % 4)));
    memcpy(w->pos, packet, size);
    w->pos += size;
    w->length += size;
    w->frames++;
    return 1;
}

static void reader_load(evrc_packet_reader *r)
{
    r->code = code_at(r->codes, r->index);
    r->size = evrc_code_size(r->code);
}

int evrc_packet_reader_init(const uint8_t *packet, uint32_t length, evrc_packet_reader *r)
{
    if (!packet || !r || length < 4)
        return 0;
    uint32_t n = packet[0];
    // The count comes from the network: its rate codes must be inside.
    if (n == 0 || 1 + code_bytes(n) > length)
        return 0;
    r->length = length;
    r->count = n;
    r->start = packet;
    r->codes = packet + 1;
    r->first = packet + 1 + code_bytes(n);
    r->index = 0;
    r->pos = r->first;
    reader_load(r);
    return 1;
}

int evrc_packet_reader_frame_ok(const evrc_packet_reader *r)
{
    return r && r->index < r->count && (uint32_t)(r->pos - r->start) + r->size <= r->length;
}

int evrc_packet_reader_next(evrc_packet_reader *r)
{
    if (!r || r->index + 1 >= r->count)
        return 0;
    r->pos += r->size;
    r->index++;
    reader_load(r);
    return 1;
}

uint32_t evrc_packet_to_stream(const uint8_t *packet, uint32_t length, uint8_t *out)
{
    static const uint8_t data_size[4] = {2, 0, 10, 22};
    evrc_packet_reader r;
    if (!out || !evrc_packet_reader_init(packet, length, &r))
        return 0;
    uint32_t total = 0;
    do {
        if (total + 2 + r.size >= EVRC_STREAM_CAPACITY)
            return 0;
        if (!evrc_packet_reader_frame_ok(&r))
            break;
        out[total] = (uint8_t)(r.code + 1);
        out[total + 1] = data_size[r.code];
        memcpy(out + total + 2, r.pos, r.size);
        total += 2 + r.size;
        // The frame that ends the packet is the last, whatever the count
        // claims: frames behind it must not fail a stream that fits.
        if ((uint32_t)(r.pos - r.start) + r.size >= r.length)
            break;
    } while (evrc_packet_reader_next(&r));
    return total;
}
