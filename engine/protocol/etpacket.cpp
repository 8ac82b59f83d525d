#include "etpacket.h"

#include "etpacket_registry.h"
#include "hal_error.h"
#include "hal_log.h"

#include <stdlib.h>
#include <string.h>

namespace
{

const char k_tag[] = "lirko";

void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

void put_be16(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

uint32_t get_be32(const uint8_t *p)
{
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}

uint16_t get_be16(const uint8_t *p)
{
    return (uint16_t)((p[0] << 8) | p[1]);
}

// Swaps one big-endian word in place without assuming alignment.
void swap_be32_in_place(uint8_t *p)
{
    uint32_t v = get_be32(p);
    memcpy(p, &v, 4);
}

} // namespace

etpacket *etpacket_new(uint8_t broad, hal_log *log)
{
    etpacket *codec = (etpacket *)calloc(1, sizeof(*codec));
    if (!codec)
        return NULL;
    codec->broad = broad;
    codec->registry = etpacket_registry_new();
    if (!codec->registry) {
        free(codec);
        return NULL;
    }
    (void)hal_log_output(log, HAL_LOG_VERBOSE, k_tag, "@1etpacket new done !!!");
    if (etpacket_registry_build(codec->registry) != 0) {
        etpacket_registry_destroy(&codec->registry);
        free(codec);
        return NULL;
    }
    (void)hal_log_output(log, HAL_LOG_VERBOSE, k_tag, "@2etpacket new done !!!");
    return codec;
}

void etpacket_destroy(etpacket *codec)
{
    if (!codec || !codec->registry)
        return;
    etpacket_registry_destroy(&codec->registry);
}

uint32_t etpacket_checksum(const uint8_t *bytes, size_t count)
{
    uint32_t a = 1;
    uint32_t b = 0;
    for (size_t i = 0; i < count; i++) {
        // The peer adds each byte as a signed char: bytes from 0x80 subtract,
        // and the sum wraps modulo 2^32 before the modulo 65521.
        a = (a + (uint32_t)(int32_t)(int8_t)bytes[i]) % 65521u;
        b = (b + a) % 65521u;
    }
    return (b << 16) | a;
}

int32_t etpacket_pack(const etpacket *codec, uint8_t **out, const ProtobufCMessage *msg,
                      int with_checksum)
{
    if (out)
        *out = NULL;
    if (!codec || !out || !msg || !msg->descriptor || !msg->descriptor->name)
        return HAL_ERR;
    const char *name = msg->descriptor->name;
    size_t name_len = strlen(name);
    size_t body = protobuf_c_message_get_packed_size(msg);
    if (name_len + 1 > 0xFFFF)
        return HAL_ERR;
    size_t total = body + name_len + 11;
    if (total > ETPACKET_MAX_FRAME)
        return HAL_ERR;
    uint8_t *frame = (uint8_t *)malloc(total);
    if (!frame)
        return HAL_ENOMEM;
    put_be32(frame, codec->broad ? (uint32_t)total : (uint32_t)(total - 4));
    put_be16(frame + 4, (uint16_t)(name_len + 1));
    memcpy(frame + 6, name, name_len + 1);
    if (body > 0 && protobuf_c_message_pack(msg, frame + 6 + name_len + 1) != body) {
        free(frame);
        return HAL_ERR;
    }
    uint32_t sum = with_checksum ? etpacket_checksum(frame, total - 4) : 0;
    put_be32(frame + total - 4, sum);
    *out = frame;
    return (int32_t)total;
}

uint32_t etpacket_unpack(const etpacket *codec, const uint8_t *bytes, size_t count,
                         ProtobufCMessage **out)
{
    if (out)
        *out = NULL;
    if (!codec || !out)
        return ETPACKET_MALFORMED;
    if (count < ETPACKET_MIN_FRAME)
        return 0;
    if (!bytes)
        return ETPACKET_MALFORMED;
    // 64-bit sums: a length near 2^32 must not wrap into a small frame size.
    uint64_t length = get_be32(bytes);
    uint64_t total = length + 4 - (codec->broad ? 4 : 0);
    if (total > ETPACKET_MAX_FRAME)
        return ETPACKET_MALFORMED;
    if (count < total)
        return 0;
    uint64_t name_field = get_be16(bytes + 4);
    if (name_field < 2)
        return ETPACKET_MALFORMED;
    // Header, name and checksum must be buffered before the frame can be
    // judged: a length too small for its own name is malformed only then.
    if (count < name_field + 10)
        return 0;
    if (total < name_field + 10 || bytes[5 + name_field] != 0)
        return ETPACKET_MALFORMED;

    const char *name = (const char *)(bytes + 6);
    const ProtobufCMessageDescriptor *desc = etpacket_descriptor_get(codec->registry, name);
    if (desc) {
        size_t body = (size_t)(total - name_field - 10);
        // Always through protobuf-c, also for an empty body: that is what
        // rejects a message whose required fields are missing.
        *out = protobuf_c_message_unpack(desc, NULL, body, bytes + 6 + name_field);
    }
    return (uint32_t)total;
}

uint32_t etpacket_unpack_rtp(const etpacket *codec, uint8_t *packet, uint32_t count,
                             rtp_header **header, uint8_t **payload)
{
    (void)codec;
    if (!packet || !header || !payload || count < 12)
        return ETPACKET_MALFORMED;
    uint32_t csrc = packet[0] & 15u;
    uint32_t head = 12 + 4 * csrc;
    if (count < head)
        return ETPACKET_MALFORMED;
    uint16_t seq = get_be16(packet + 2);
    memcpy(packet + 2, &seq, 2);
    for (uint32_t off = 4; off < head; off += 4)
        swap_be32_in_place(packet + off);
    *header = (rtp_header *)packet;
    *payload = packet + head;
    return count - head;
}
