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

// Deepest nesting of messages accepted below the frame's own message.
// protobuf-c unpacks nested messages by recursion without a limit, and a
// department holds departments: a body of a few hundred kilobytes could
// otherwise nest deep enough to overflow the looper's stack. Real directory
// trees stay far below this.
const int k_max_nesting = 100;

bool read_varint(const uint8_t *p, size_t len, size_t *pos, uint64_t *out)
{
    uint64_t v = 0;
    for (int shift = 0; shift < 70 && *pos < len; shift += 7) {
        uint8_t b = p[(*pos)++];
        v |= (uint64_t)(b & 0x7F) << shift;
        if (!(b & 0x80)) {
            *out = v;
            return true;
        }
    }
    return false;
}

// Walks a body as protobuf wire format, following the fields that hold
// messages; false when they nest deeper than k_max_nesting or the body cannot
// be walked (protobuf-c would refuse such a body too).
bool nesting_ok(const ProtobufCMessageDescriptor *desc, const uint8_t *p, size_t len, int depth)
{
    if (depth > k_max_nesting)
        return false;
    size_t pos = 0;
    while (pos < len) {
        uint64_t key = 0;
        uint64_t value = 0;
        if (!read_varint(p, len, &pos, &key))
            return false;
        switch (key & 7) {
        case PROTOBUF_C_WIRE_TYPE_VARINT:
            if (!read_varint(p, len, &pos, &value))
                return false;
            break;
        case PROTOBUF_C_WIRE_TYPE_64BIT:
            if (len - pos < 8)
                return false;
            pos += 8;
            break;
        case PROTOBUF_C_WIRE_TYPE_32BIT:
            if (len - pos < 4)
                return false;
            pos += 4;
            break;
        case PROTOBUF_C_WIRE_TYPE_LENGTH_PREFIXED: {
            if (!read_varint(p, len, &pos, &value) || value > len - pos)
                return false;
            uint64_t tag = key >> 3;
            const ProtobufCFieldDescriptor *f =
                tag <= 0xFFFFFFFFu ? protobuf_c_message_descriptor_get_field(desc, (unsigned)tag)
                                   : NULL;
            if (f && f->type == PROTOBUF_C_TYPE_MESSAGE &&
                !nesting_ok((const ProtobufCMessageDescriptor *)f->descriptor, p + pos,
                            (size_t)value, depth + 1))
                return false;
            pos += (size_t)value;
            break;
        }
        default:
            return false;
        }
    }
    return true;
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
    // The whole frame is buffered here, so a name that does not fit in it is
    // malformed now: waiting for bytes beyond the frame would hold every later
    // frame behind this one.
    if (total < name_field + 10 || bytes[5 + name_field] != 0)
        return ETPACKET_MALFORMED;

    const char *name = (const char *)(bytes + 6);
    const ProtobufCMessageDescriptor *desc = etpacket_descriptor_get(codec->registry, name);
    if (desc) {
        size_t body = (size_t)(total - name_field - 10);
        const uint8_t *start = bytes + 6 + name_field;
        // Always through protobuf-c, also for an empty body: that is what
        // rejects a message whose required fields are missing.
        if (nesting_ok(desc, start, body, 0))
            *out = protobuf_c_message_unpack(desc, NULL, body, start);
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
