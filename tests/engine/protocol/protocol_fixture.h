// Helpers shared by the protocol tests: owned codecs and messages, and frames
// written by hand, independent of etpacket_pack.
#pragma once

#include "etpacket.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdlib.h>
#include <string>
#include <vector>

namespace ptt::test
{

using Bytes = std::vector<uint8_t>;

struct CodecDeleter {
    void operator()(etpacket *c) const
    {
        etpacket_destroy(c);
        free(c);
    }
};
using Codec = std::unique_ptr<etpacket, CodecDeleter>;

inline Codec make_codec(uint8_t broad)
{
    return Codec(etpacket_new(broad, NULL));
}

struct MsgDeleter {
    void operator()(ProtobufCMessage *m) const
    {
        protobuf_c_message_free_unpacked(m, NULL);
    }
};
using Msg = std::unique_ptr<ProtobufCMessage, MsgDeleter>;

inline Bytes pack_frame(const etpacket *codec, const ProtobufCMessage *msg, int with_checksum)
{
    uint8_t *frame = NULL;
    int32_t n = etpacket_pack(codec, &frame, msg, with_checksum);
    EXPECT_GT(n, 0);
    Bytes out(frame, frame + (n > 0 ? n : 0));
    free(frame);
    return out;
}

// The body of a frame packed with broad 0 or 1 (both have the same layout).
inline Bytes body_of(const Bytes &frame)
{
    if (frame.size() < 12)
        return {};
    size_t name = ((size_t)frame[4] << 8) | frame[5];
    return Bytes(frame.begin() + 6 + name, frame.end() - 4);
}

inline void put32(Bytes &b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back((uint8_t)(v >> s));
}

inline Bytes frame_of(const std::string &name, const Bytes &body, bool broad, uint32_t checksum = 0)
{
    uint32_t total = (uint32_t)(body.size() + name.size() + 11);
    Bytes b;
    put32(b, broad ? total : total - 4);
    b.push_back((uint8_t)((name.size() + 1) >> 8));
    b.push_back((uint8_t)(name.size() + 1));
    b.insert(b.end(), name.begin(), name.end());
    b.push_back(0);
    b.insert(b.end(), body.begin(), body.end());
    put32(b, checksum);
    return b;
}

} // namespace ptt::test
