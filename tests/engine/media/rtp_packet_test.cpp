// Frames and packets of the voice streams: packing (header, AMR-NB and
// multi-frame EVRC payloads, encryption, the 176-byte bound), splitting
// received payloads, erasure frames.
#include "aes.h"
#include "hal_string.h"
#include "list.h"
#include "rtp_test_util.h"

#include <gtest/gtest.h>

using namespace rtp_test;

namespace
{

struct queue {
    list *l = list_new();
    ~queue()
    {
        rtp_frame_queue_clear(l);
        list_del(l);
    }
    void add(uint32_t pt, const bytes &data)
    {
        ASSERT_EQ(list_push_back(l, frame(pt, data)), 0);
    }
    size_t count()
    {
        return list_count(l);
    }
    std::vector<bytes> take_all()
    {
        std::vector<bytes> v;
        while (hal_sound_frame *f = static_cast<hal_sound_frame *>(list_pop_front(l))) {
            v.push_back(frame_bytes(f));
            EXPECT_NE(f->pt, 0);
            hal_free(f);
        }
        return v;
    }
};

// Decrypts an AES-256-ECB/PKCS#7 payload with a 32-byte key; empty when the
// padding is broken.
bytes decrypt(const uint8_t *in, size_t len, const uint8_t key[32])
{
    aes_key k;
    aes_set_decrypt_key(key, 256, &k);
    bytes out(len);
    for (size_t i = 0; i + 16 <= len; i += 16)
        aes_decrypt_block(in + i, &out[i], &k);
    if (len == 0 || len % 16 || out.back() < 1 || out.back() > 16)
        return {};
    out.resize(len - out.back());
    return out;
}

} // namespace

TEST(RtpFrames, ErasureFrames)
{
    struct {
        uint32_t pt;
        bool made;
        bytes data;
    } rows[] = {{HAL_PT_AMR, true, {0x7C}},
                {HAL_PT_EVRC, true, bytes(10, 0)},
                {RTP_PT_AMR_ENCRYPTED, false, {}},
                {0, false, {}}};
    for (const auto &r : rows) {
        hal_sound_frame *f = rtp_make_erasure_frame(r.pt);
        ASSERT_EQ(f != nullptr, r.made) << r.pt;
        if (!f)
            continue;
        EXPECT_EQ(f->pt, r.pt);
        EXPECT_EQ(frame_bytes(f), r.data);
        hal_free(f);
    }
}

TEST(RtpPack, HeaderFieldsInNetworkOrder)
{
    queue q;
    q.add(HAL_PT_AMR, amr_frame(1));
    uint8_t out[RTP_PACKET_MAX];
    // The sequence number is sent as its low 16 bits.
    int n = rtp_pack_packet(q.l, 5, HAL_PT_AMR, 0x01020304, 0xA1B2C3D4, 0x10005, out, 0, nullptr);
    ASSERT_EQ(n, 12 + 13);
    EXPECT_EQ(bytes(out, out + 12),
              (bytes{0x80, 101, 0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0xA1, 0xB2, 0xC3, 0xD4}));
    EXPECT_EQ(bytes(out + 12, out + n), amr_frame(1));
    EXPECT_EQ(q.count(), 0u);
}

TEST(RtpPack, EvrcMultiFramePayload)
{
    // Five half-rate frames: count 5, rate codes 10 10 10 10 | 10 00 00 00.
    queue q;
    bytes want = {0x05, 0xAA, 0x80};
    for (uint32_t i = 0; i < 6; i++)
        q.add(HAL_PT_EVRC, evrc_frame(i));
    for (uint32_t i = 0; i < 5; i++) {
        bytes f = evrc_frame(i);
        want.insert(want.end(), f.begin(), f.end());
    }
    uint8_t out[RTP_PACKET_MAX];
    int n = rtp_pack_packet(q.l, 5, HAL_PT_EVRC, 0, 1, 0, out, 0, nullptr);
    ASSERT_EQ(n, 12 + 53);
    EXPECT_EQ(out[1], HAL_PT_EVRC);
    EXPECT_EQ(bytes(out + 12, out + n), want);
    EXPECT_EQ(q.count(), 1u) << "at most `most` frames are taken";

    // Mixed rates: eighth, quarter, half, full give codes 0, 1, 2, 3.
    queue m;
    for (uint32_t size : {2u, 4u, 10u, 22u})
        m.add(HAL_PT_EVRC, evrc_frame(size, size));
    n = rtp_pack_packet(m.l, 5, HAL_PT_EVRC, 0, 1, 0, out, 0, nullptr);
    ASSERT_EQ(n, 12 + 2 + 38);
    EXPECT_EQ(out[12], 4);
    EXPECT_EQ(out[13], 0x1B);
}

TEST(RtpPack, PayloadSizesAndTheBound)
{
    // (payload type, frames, frame size, plain payload length or -1).
    struct {
        uint32_t pt;
        uint32_t frames;
        uint32_t mode_or_size;
        int plain;
    } rows[] = {
        {HAL_PT_EVRC, 5, 22, 1 + 2 + 110}, // 5 full-rate frames: 113 bytes
        {HAL_PT_EVRC, 7, 22, 1 + 2 + 154}, // the most "fop" allows for EVRC
        {HAL_PT_EVRC, 8, 22, -1},          // 179 would pass 176
        {HAL_PT_AMR, 5, 7, 160},           // the largest AMR-NB payload at 5 frames
        {HAL_PT_AMR, 6, 7, -1},            // 192: no room once encrypted
    };
    for (const auto &r : rows) {
        queue q;
        for (uint32_t i = 0; i < r.frames; i++)
            q.add(r.pt, r.pt == HAL_PT_EVRC ? evrc_frame(i, r.mode_or_size)
                                            : amr_frame(i, r.mode_or_size));
        uint8_t out[RTP_PACKET_MAX];
        int n = rtp_pack_packet(q.l, r.frames, r.pt, 0, 1, 0, out, 0, nullptr);
        EXPECT_EQ(n, r.plain < 0 ? -1 : 12 + r.plain) << r.pt << " x" << r.frames;
        EXPECT_EQ(q.count(), 0u) << "the frames taken are dropped, also on failure";
    }
}

TEST(RtpPack, RefusedInput)
{
    uint8_t out[RTP_PACKET_MAX];
    queue empty;
    EXPECT_EQ(rtp_pack_packet(empty.l, 5, HAL_PT_AMR, 0, 1, 0, out, 0, nullptr), -1);
    queue q;
    q.add(HAL_PT_AMR, amr_frame(1));
    EXPECT_EQ(rtp_pack_packet(q.l, 0, HAL_PT_AMR, 0, 1, 0, out, 0, nullptr), -1);
    EXPECT_EQ(rtp_pack_packet(q.l, 5, 100, 0, 1, 0, out, 0, nullptr), -1);
    EXPECT_EQ(rtp_pack_packet(q.l, 5, RTP_PT_AMR_ENCRYPTED, 0, 1, 0, out, 0, nullptr), -1);
    EXPECT_EQ(q.count(), 1u) << "nothing taken for a refused payload type";

    // An EVRC frame of no rate fails the packet and loses the frames taken
    // for it; the next packet goes out.
    queue e;
    e.add(HAL_PT_EVRC, evrc_frame(1));
    e.add(HAL_PT_EVRC, evrc_frame(2, 11));
    e.add(HAL_PT_EVRC, evrc_frame(3));
    EXPECT_EQ(rtp_pack_packet(e.l, 2, HAL_PT_EVRC, 0, 1, 0, out, 0, nullptr), -1);
    ASSERT_EQ(e.count(), 1u);
    EXPECT_EQ(rtp_pack_packet(e.l, 2, HAL_PT_EVRC, 0, 1, 0, out, 0, nullptr), 12 + 2 + 10);
}

TEST(RtpPack, EncryptedPayload)
{
    const char *key = "0123456789abcdef0123456789ABCDEF-xyz";
    // Plain lengths: 13 pads to 16; 32 (a multiple of 16) gets a whole block.
    // 160 plain bytes encrypt to 176.
    struct {
        uint32_t pt;
        std::vector<bytes> frames;
        uint32_t wire_pt;
        size_t cipher;
    } rows[] = {
        {HAL_PT_AMR, {amr_frame(1)}, 111, 16},
        {HAL_PT_AMR, {amr_frame(1, 7)}, 111, 48},
        {HAL_PT_AMR, packet_frames(HAL_PT_AMR, 0), 111, 80},
        {HAL_PT_AMR,
         {amr_frame(1, 7), amr_frame(2, 7), amr_frame(3, 7), amr_frame(4, 7), amr_frame(5, 7)},
         111,
         176},
        {HAL_PT_EVRC, packet_frames(HAL_PT_EVRC, 0), 113, 64},
    };
    for (const auto &r : rows) {
        queue plain, enc;
        for (const bytes &f : r.frames) {
            plain.add(r.pt, f);
            enc.add(r.pt, f);
        }
        uint8_t p[RTP_PACKET_MAX], c[RTP_PACKET_MAX];
        int pn = rtp_pack_packet(plain.l, 5, r.pt, 7, 9, 3, p, 0, key);
        int cn = rtp_pack_packet(enc.l, 5, r.pt, 7, 9, 3, c, 1, key);
        ASSERT_GT(pn, 12);
        ASSERT_EQ(cn, static_cast<int>(12 + r.cipher));
        EXPECT_EQ(c[1], r.wire_pt);
        EXPECT_EQ(bytes(c + 2, c + 12), bytes(p + 2, p + 12));
        // The key is the first 32 characters of the text.
        EXPECT_EQ(decrypt(c + 12, r.cipher, reinterpret_cast<const uint8_t *>(key)),
                  bytes(p + 12, p + pn));
    }
}

TEST(RtpPack, ShortKeyIsZeroFilled)
{
    queue q;
    q.add(HAL_PT_AMR, amr_frame(1));
    uint8_t out[RTP_PACKET_MAX];
    ASSERT_EQ(rtp_pack_packet(q.l, 5, HAL_PT_AMR, 0, 1, 0, out, 1, "abc"), 12 + 16);
    uint8_t k[32] = {'a', 'b', 'c'};
    EXPECT_EQ(decrypt(out + 12, 16, k), amr_frame(1));
}

TEST(RtpSplit, FramesOfEachCodec)
{
    // AMR-NB: mode 7, SID and NO_DATA frames keep their header byte.
    bytes sid(6, 0x11), nodata{0x7C};
    sid[0] = 8 << 3;
    bytes amr = payload(HAL_PT_AMR, {amr_frame(1, 7), sid, nodata, amr_frame(2)});
    queue a;
    ASSERT_EQ(rtp_split_payload(a.l, HAL_PT_AMR, 0, amr.data(), amr.size()), 0);
    EXPECT_EQ(a.take_all(), (std::vector<bytes>{amr_frame(1, 7), sid, nodata, amr_frame(2)}));

    // EVRC records [rate][size][data] lose their two header bytes.
    std::vector<bytes> ev = {evrc_frame(1, 22), evrc_frame(2, 10), evrc_frame(3, 2)};
    bytes evrc = payload(HAL_PT_EVRC, ev);
    queue e;
    ASSERT_EQ(rtp_split_payload(e.l, HAL_PT_EVRC, 0, evrc.data(), evrc.size()), 0);
    EXPECT_EQ(e.take_all(), ev);
}

TEST(RtpSplit, MalformedPayloadClearsTheQueue)
{
    bytes bad_type = payload(HAL_PT_AMR, {amr_frame(1), bytes{9 << 3}});
    bytes cut = payload(HAL_PT_AMR, {amr_frame(1), amr_frame(2)});
    cut.pop_back();
    bytes evrc_quarter = payload(HAL_PT_EVRC, {evrc_frame(1)});
    evrc_quarter.insert(evrc_quarter.end(), {2, 4, 0, 0, 0, 0});
    bytes evrc_cut = payload(HAL_PT_EVRC, {evrc_frame(1, 22)});
    evrc_cut.resize(20);
    struct {
        const char *name;
        uint32_t pt;
        bytes p;
    } rows[] = {{"AMR frame type 9", HAL_PT_AMR, bad_type},
                {"AMR frame past the end", HAL_PT_AMR, cut},
                {"EVRC rate 2", HAL_PT_EVRC, evrc_quarter},
                {"EVRC record past the end", HAL_PT_EVRC, evrc_cut},
                {"another payload type", 100, payload(HAL_PT_AMR, {amr_frame(1)})}};
    for (const auto &r : rows) {
        queue q;
        q.add(HAL_PT_AMR, amr_frame(9));
        EXPECT_EQ(rtp_split_payload(q.l, r.pt, 0, r.p.data(), r.p.size()), -1) << r.name;
        EXPECT_EQ(q.count(), r.pt == 100 ? 1u : 0u) << r.name;
    }
    queue q;
    EXPECT_EQ(rtp_split_payload(q.l, HAL_PT_AMR, 0, nullptr, 5), -1);
    EXPECT_EQ(rtp_split_payload(q.l, HAL_PT_AMR, 0, cut.data(), 0), -1);
}
