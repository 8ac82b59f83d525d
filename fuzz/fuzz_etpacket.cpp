// Fuzzes the signalling frame reader and the RTP header reader with bytes as
// they could arrive from the network, in both length modes.
#include "etpacket.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace
{

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Reads frames off the front of the input as the connection does.
void read_stream(const etpacket *codec, const uint8_t *data, size_t size)
{
    size_t off = 0;
    for (;;) {
        ProtobufCMessage *m = NULL;
        uint32_t n = etpacket_unpack(codec, data + off, size - off, &m);
        if (n == 0 || n == ETPACKET_MALFORMED) {
            check(m == NULL);
            return;
        }
        // Never a frame larger than what is buffered, never one below the minimum.
        check(n >= ETPACKET_MIN_FRAME && n <= size - off);
        if (m) {
            // What decoded packs again and reads back as the same type.
            uint8_t *frame = NULL;
            int32_t t = etpacket_pack(codec, &frame, m, 1);
            if (t > 0) {
                ProtobufCMessage *again = NULL;
                check(etpacket_unpack(codec, frame, (size_t)t, &again) == (uint32_t)t);
                // protobuf-c keeps an unknown field with an overlong tag 0
                // ("80 00") but writes it back as "00", which it then refuses:
                // only messages with unknown fields may fail to read back.
                check(again ? again->descriptor == m->descriptor : m->n_unknown_fields > 0);
                if (again)
                    protobuf_c_message_free_unpacked(again, NULL);
                free(frame);
            }
            protobuf_c_message_free_unpacked(m, NULL);
        }
        off += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static etpacket *codecs[2] = {etpacket_new(0, NULL), etpacket_new(1, NULL)};
    for (etpacket *codec : codecs)
        read_stream(codec, data, size);

    // The RTP reader swaps in place: give it a copy of exactly the input.
    uint8_t *copy = (uint8_t *)malloc(size ? size : 1);
    if (size)
        memcpy(copy, data, size);
    rtp_header *header = NULL;
    uint8_t *payload = NULL;
    uint32_t n = etpacket_unpack_rtp(NULL, copy, (uint32_t)size, &header, &payload);
    if (n != ETPACKET_MALFORMED) {
        check((uint8_t *)header == copy);
        check(payload >= copy + 12 && payload + n == copy + size);
    }
    free(copy);
    return 0;
}
