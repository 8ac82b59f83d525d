// Signalling frame: checksum, packing, reading from a byte stream, RTP header.
#include "etpacket.h"
#include "protocol_fixture.h"
#include "ptt_net.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdlib.h>
#include <string>
#include <vector>

namespace
{

using namespace ptt::test;

const Bytes k_logout_broad0 = {0x00, 0x00, 0x00, 0x14, 0x00, 0x0E, 'p',  't',
                               't',  '.',  'r',  'r',  '.',  'L',  'o',  'g',
                               'o',  'u',  't',  0x00, 0x2A, 0x42, 0x05, 0x35};
const Bytes k_logout_broad1 = {0x00, 0x00, 0x00, 0x18, 0x00, 0x0E, 'p',  't',
                               't',  '.',  'r',  'r',  '.',  'L',  'o',  'g',
                               'o',  'u',  't',  0x00, 0x2A, 0x86, 0x05, 0x39};

TEST(EtpacketChecksum, GoldenValues)
{
    struct Case {
        Bytes in;
        uint32_t want;
    } cases[] = {
        {{'a', 'b', 'c'}, 0x024D0127u},
        {{}, 0x00000001u},
        {{0xFF}, 0x00000000u},
        {{0x80}, 0x00620062u},
        // Plain Adler-32 of "Wikipedia" (all bytes below 0x80).
        {{'W', 'i', 'k', 'i', 'p', 'e', 'd', 'i', 'a'}, 0x11E60398u},
    };
    for (const Case &c : cases)
        EXPECT_EQ(etpacket_checksum(c.in.data(), c.in.size()), c.want) << c.in.size();
}

TEST(EtpacketChecksum, HighBytesSubtractAndWrap)
{
    // 1 - 128 wraps to 0xFFFFFF81 (98 mod 65521); a second 0x80 then gives
    // 98 - 128 -> 0xFFFFFFE2, which is 195 mod 65521; B = 98 + 195.
    Bytes b = {0x80, 0x80};
    EXPECT_EQ(etpacket_checksum(b.data(), b.size()), (293u << 16) | 195u);
}

TEST(EtpacketPack, LogoutGoldenFrameBothModes)
{
    Ptt__Rr__Logout logout = PTT__RR__LOGOUT__INIT;
    Codec c0 = make_codec(0);
    Codec c1 = make_codec(1);
    ASSERT_TRUE(c0 && c1);
    EXPECT_EQ(pack_frame(c0.get(), &logout.base, 1), k_logout_broad0);
    EXPECT_EQ(pack_frame(c1.get(), &logout.base, 1), k_logout_broad1);
    // Without checksum the same frame ends in four zero bytes.
    Bytes no_sum = k_logout_broad0;
    no_sum[20] = no_sum[21] = no_sum[22] = no_sum[23] = 0;
    EXPECT_EQ(pack_frame(c0.get(), &logout.base, 0), no_sum);
}

TEST(EtpacketPack, BodyFollowsNameAndChecksumCoversHeader)
{
    Codec c = make_codec(0);
    ASSERT_TRUE(c);
    Ptt__Rr__JoinGroup join = PTT__RR__JOIN_GROUP__INIT;
    join.gid = 300;
    Bytes f = pack_frame(c.get(), &join.base, 1);
    Bytes body = {0x08, 0xAC, 0x02};
    Bytes want = frame_of("ptt.rr.JoinGroup", body, false);
    uint32_t sum = etpacket_checksum(want.data(), want.size() - 4);
    want.resize(want.size() - 4);
    put32(want, sum);
    EXPECT_EQ(f, want);
}

TEST(EtpacketPack, RefusesBadArguments)
{
    Codec c = make_codec(0);
    ASSERT_TRUE(c);
    Ptt__Rr__Logout logout = PTT__RR__LOGOUT__INIT;
    uint8_t *out = (uint8_t *)&logout; // must be cleared on failure
    EXPECT_LE(etpacket_pack(c.get(), &out, NULL, 1), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_LE(etpacket_pack(NULL, &out, &logout.base, 1), 0);
    EXPECT_LE(etpacket_pack(c.get(), NULL, &logout.base, 1), 0);
}

TEST(EtpacketPack, RefusesFrameAboveMaximum)
{
    Codec c = make_codec(0);
    ASSERT_TRUE(c);
    std::vector<uint8_t> big(ETPACKET_MAX_FRAME, 'x');
    Ptt__Rr__CustomBroadcast cb = PTT__RR__CUSTOM_BROADCAST__INIT;
    cb.msg_name = (char *)"x";
    cb.has_msg = 1;
    cb.msg.data = big.data();
    cb.msg.len = big.size();
    uint8_t *out = NULL;
    EXPECT_LE(etpacket_pack(c.get(), &out, &cb.base, 1), 0);
    EXPECT_EQ(out, nullptr);
}

TEST(EtpacketUnpack, LogoutInMatchingModeIsFreshMessage)
{
    for (int broad = 0; broad < 2; broad++) {
        Codec c = make_codec((uint8_t)broad);
        ASSERT_TRUE(c);
        const Bytes &f = broad ? k_logout_broad1 : k_logout_broad0;
        ProtobufCMessage *m = NULL;
        ASSERT_EQ(etpacket_unpack(c.get(), f.data(), f.size(), &m), 24u);
        Msg msg(m);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->descriptor, &ptt__rr__logout__descriptor);
        EXPECT_EQ(m->n_unknown_fields, 0u);
    }
}

TEST(EtpacketUnpack, OtherModeBreaksTheStream)
{
    ProtobufCMessage *m = NULL;
    // The broad-0 frame read in broad mode declares T = 20, less than its
    // name and header need (N + 10 = 24): malformed.
    Codec c1 = make_codec(1);
    EXPECT_EQ(etpacket_unpack(c1.get(), k_logout_broad0.data(), k_logout_broad0.size(), &m),
              ETPACKET_MALFORMED);
    EXPECT_EQ(m, nullptr);
    // The broad frame read in mode 0 declares T = 28: it waits for 28 bytes,
    // then yields a 28-byte frame whose body swallowed the next 4 bytes.
    Codec c0 = make_codec(0);
    Bytes stream = k_logout_broad1;
    EXPECT_EQ(etpacket_unpack(c0.get(), stream.data(), stream.size(), &m), 0u);
    stream.insert(stream.end(), {0, 0, 0});
    EXPECT_EQ(etpacket_unpack(c0.get(), stream.data(), stream.size(), &m), 0u);
    stream.push_back(0);
    EXPECT_EQ(etpacket_unpack(c0.get(), stream.data(), stream.size(), &m), 28u);
    Msg msg(m);
}

TEST(EtpacketUnpack, WaitsForWholeFrame)
{
    Codec c = make_codec(0);
    ASSERT_TRUE(c);
    ProtobufCMessage *m = NULL;
    Bytes eleven(11, 0x55);
    EXPECT_EQ(etpacket_unpack(c.get(), eleven.data(), eleven.size(), &m), 0u);
    for (size_t n = 0; n < k_logout_broad0.size(); n++)
        EXPECT_EQ(etpacket_unpack(c.get(), k_logout_broad0.data(), n, &m), 0u) << n;
    // A whole frame plus part of the next: the first frame's size.
    Bytes two = k_logout_broad0;
    two.insert(two.end(), k_logout_broad0.begin(), k_logout_broad0.begin() + 13);
    EXPECT_EQ(etpacket_unpack(c.get(), two.data(), two.size(), &m), 24u);
    Msg msg(m);
    EXPECT_NE(m, nullptr);
}

TEST(EtpacketUnpack, MalformedHeaders)
{
    struct Case {
        const char *what;
        uint8_t broad;
        Bytes bytes;
        uint32_t want;
    } cases[] = {
        {"name length 0", 0, {0, 0, 0, 8, 0, 0, 'a', 0, 0, 0, 0, 0}, ETPACKET_MALFORMED},
        {"name length 1", 0, {0, 0, 0, 8, 0, 1, 0, 0, 0, 0, 0, 0}, ETPACKET_MALFORMED},
        {"name length 0 before the declared size is in",
         0,
         {0, 0, 0, 9, 0, 0, 'a', 0, 0, 0, 0, 0},
         0},
        {"broad length 0", 1, {0, 0, 0, 0, 0, 2, 'a', 0, 0, 0, 0, 0}, ETPACKET_MALFORMED},
        {"broad length 3", 1, {0, 0, 0, 3, 0, 2, 'a', 0, 0, 0, 0, 0}, ETPACKET_MALFORMED},
        {"name without NUL", 0, {0, 0, 0, 8, 0, 2, 'a', 'b', 0, 0, 0, 0}, ETPACKET_MALFORMED},
        {"length too small for the name, all buffered",
         0,
         {0, 0, 0, 8, 0, 3, 'a', 'b', 0, 0, 0, 0, 0},
         ETPACKET_MALFORMED},
        {"length too small for the name, whole frame buffered",
         0,
         {0, 0, 0, 8, 0, 3, 'a', 'b', 0, 0, 0, 0},
         ETPACKET_MALFORMED},
        {"name length 0xFFFF, whole frame buffered",
         0,
         {0, 0, 0, 8, 0xFF, 0xFF, 'a', 'b', 0, 0, 0, 0},
         ETPACKET_MALFORMED},
        {"name not yet buffered, frame incomplete", 0, {0, 0, 0, 9, 0, 3, 'a', 'b', 0, 0, 0, 0}, 0},
        {"smallest frame, unknown name", 0, {0, 0, 0, 8, 0, 2, 'a', 0, 0, 0, 0, 0}, 12},
        // Above the maximum frame: malformed at once, not "need more".
        {"length 0xFFFFFFFC",
         0,
         {0xFF, 0xFF, 0xFF, 0xFC, 0, 2, 'a', 0, 0, 0, 0, 0},
         ETPACKET_MALFORMED},
        {"length 0xFFFFFFFF",
         1,
         {0xFF, 0xFF, 0xFF, 0xFF, 0, 2, 'a', 0, 0, 0, 0, 0},
         ETPACKET_MALFORMED},
        {"one byte above the maximum",
         0,
         {0x00, 0xFF, 0xFF, 0xFD, 0, 2, 'a', 0, 0, 0, 0, 0},
         ETPACKET_MALFORMED},
        {"exactly the maximum waits", 0, {0x00, 0xFF, 0xFF, 0xFC, 0, 2, 'a', 0, 0, 0, 0, 0}, 0},
    };
    for (const Case &c : cases) {
        Codec codec = make_codec(c.broad);
        ASSERT_TRUE(codec);
        ProtobufCMessage *m = (ProtobufCMessage *)&c; // must be cleared
        EXPECT_EQ(etpacket_unpack(codec.get(), c.bytes.data(), c.bytes.size(), &m), c.want)
            << c.what;
        EXPECT_EQ(m, nullptr) << c.what;
    }
}

TEST(EtpacketUnpack, UnknownTypeIsConsumedAndNextFrameReads)
{
    Codec c = make_codec(0);
    ASSERT_TRUE(c);
    Bytes stream = frame_of("ptt.rr.NoSuchThing", {0x08, 0x01}, false);
    size_t first = stream.size();
    stream.insert(stream.end(), k_logout_broad0.begin(), k_logout_broad0.end());
    ProtobufCMessage *m = NULL;
    ASSERT_EQ(etpacket_unpack(c.get(), stream.data(), stream.size(), &m), first);
    EXPECT_EQ(m, nullptr);
    ASSERT_EQ(etpacket_unpack(c.get(), stream.data() + first, stream.size() - first, &m), 24u);
    Msg msg(m);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->descriptor, &ptt__rr__logout__descriptor);
}

TEST(EtpacketUnpack, ChecksumIsNeverVerified)
{
    Codec c = make_codec(0);
    ASSERT_TRUE(c);
    for (uint32_t sum : {0u, 0x2A420535u, 0xDEADBEEFu}) {
        Bytes f = frame_of("ptt.rr.Logout", {}, false, sum);
        ProtobufCMessage *m = NULL;
        EXPECT_EQ(etpacket_unpack(c.get(), f.data(), f.size(), &m), 24u);
        Msg msg(m);
        EXPECT_NE(m, nullptr) << sum;
    }
}

TEST(EtpacketUnpack, RoundTripKeepsFields)
{
    for (int broad = 0; broad < 2; broad++) {
        Codec c = make_codec((uint8_t)broad);
        ASSERT_TRUE(c);
        Ptt__Net__Pong pong = PTT__NET__PONG__INIT;
        pong.has_seq = 1;
        pong.seq = 0xFFFFFFFFu;
        pong.has_gid = 1;
        pong.gid = 7;
        Bytes f = pack_frame(c.get(), &pong.base, broad);
        ProtobufCMessage *m = NULL;
        ASSERT_EQ(etpacket_unpack(c.get(), f.data(), f.size(), &m), f.size());
        Msg msg(m);
        ASSERT_NE(m, nullptr);
        auto *p = (Ptt__Net__Pong *)m;
        EXPECT_TRUE(p->has_seq && p->seq == 0xFFFFFFFFu);
        EXPECT_TRUE(p->has_gid && p->gid == 7);
        EXPECT_FALSE(p->has_uid);
    }
}

// Frames of a stream, fed in two pieces split at every byte position, give
// the same sequence of results as the whole stream at once.
TEST(EtpacketUnpack, StreamSplitAtEveryBytePosition)
{
    Codec c = make_codec(0);
    ASSERT_TRUE(c);
    Ptt__Rr__JoinGroup join = PTT__RR__JOIN_GROUP__INIT;
    join.gid = 77;
    join.has_uid = 1;
    join.uid = 0xFFFFFFFFu;
    Ptt__Rr__Logout logout = PTT__RR__LOGOUT__INIT;
    Ptt__Net__Ping ping = PTT__NET__PING__INIT;
    ping.has_timestamp = 1;
    ping.timestamp = 123456;

    Bytes stream;
    auto append = [&](const Bytes &b) { stream.insert(stream.end(), b.begin(), b.end()); };
    append(pack_frame(c.get(), &join.base, 1));
    append(frame_of("ptt.rr.Unknown", {0x08, 0x01}, false)); // unknown type
    append(pack_frame(c.get(), &logout.base, 0));            // zero checksum
    append(frame_of("ptt.rr.JoinGroupAck", {}, false));      // required result missing
    append(pack_frame(c.get(), &ping.base, 1));
    const std::vector<std::string> want = {"ptt.rr.JoinGroup", "-", "ptt.rr.Logout", "-",
                                           "ptt.net.Ping"};

    for (size_t split = 0; split <= stream.size(); split++) {
        std::vector<std::string> got;
        Bytes buf;
        auto drain = [&]() {
            for (int guard = 0; guard < 100; guard++) {
                ProtobufCMessage *m = NULL;
                uint32_t n = etpacket_unpack(c.get(), buf.data(), buf.size(), &m);
                ASSERT_NE(n, ETPACKET_MALFORMED) << split;
                if (n == 0)
                    return;
                ASSERT_LE(n, buf.size());
                got.push_back(m ? m->descriptor->name : "-");
                if (m) {
                    EXPECT_EQ(protobuf_c_message_check(m), 1);
                    protobuf_c_message_free_unpacked(m, NULL);
                }
                buf.erase(buf.begin(), buf.begin() + n);
            }
        };
        buf.insert(buf.end(), stream.begin(), stream.begin() + split);
        drain();
        buf.insert(buf.end(), stream.begin() + split, stream.end());
        drain();
        EXPECT_TRUE(buf.empty()) << split;
        EXPECT_EQ(got, want) << "split at " << split;
    }
}

TEST(EtpacketRtp, SwapsHeaderInPlace)
{
    Bytes pkt = {0x80, 0x64, 0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04, 0xAA};
    rtp_header *h = NULL;
    uint8_t *payload = NULL;
    ASSERT_EQ(etpacket_unpack_rtp(NULL, pkt.data(), (uint32_t)pkt.size(), &h, &payload), 1u);
    EXPECT_EQ((void *)h, (void *)pkt.data());
    EXPECT_EQ(payload, pkt.data() + 12);
    EXPECT_EQ(h->vpxcc, 0x80);
    EXPECT_EQ(h->mpt & 0x7F, 100);
    EXPECT_EQ(h->seq, 0x1234);
    EXPECT_EQ(h->ts, 0xDEADBEEFu);
    EXPECT_EQ(h->ssrc, 0x01020304u);
    EXPECT_EQ(*payload, 0xAA);
}

TEST(EtpacketRtp, LengthTable)
{
    struct Case {
        uint8_t cc;
        uint32_t size;
        uint32_t want;
    } cases[] = {
        {0, 11, ETPACKET_MALFORMED},
        {0, 12, 0},
        {0, 20, 8},
        {1, 15, ETPACKET_MALFORMED},
        {1, 16, 0},
        {15, 71, ETPACKET_MALFORMED},
        {15, 72, 0},
        {15, 80, 8},
    };
    for (const Case &c : cases) {
        Bytes pkt(c.size, 0);
        if (!pkt.empty())
            pkt[0] = (uint8_t)(0x80 | c.cc);
        rtp_header *h = NULL;
        uint8_t *payload = NULL;
        EXPECT_EQ(etpacket_unpack_rtp(NULL, pkt.data(), c.size, &h, &payload), c.want)
            << (int)c.cc << " " << c.size;
    }
}

TEST(EtpacketRtp, CsrcWordsAreSwapped)
{
    Bytes pkt(12 + 8 + 2, 0);
    pkt[0] = 0x82;
    Bytes csrc = {0x11, 0x22, 0x33, 0x44, 0xA1, 0xB2, 0xC3, 0xD4};
    std::copy(csrc.begin(), csrc.end(), pkt.begin() + 12);
    rtp_header *h = NULL;
    uint8_t *payload = NULL;
    ASSERT_EQ(etpacket_unpack_rtp(NULL, pkt.data(), (uint32_t)pkt.size(), &h, &payload), 2u);
    uint32_t w[2];
    memcpy(w, pkt.data() + 12, 8);
    EXPECT_EQ(w[0], 0x11223344u);
    EXPECT_EQ(w[1], 0xA1B2C3D4u);
    EXPECT_EQ(payload, pkt.data() + 20);
}

} // namespace
