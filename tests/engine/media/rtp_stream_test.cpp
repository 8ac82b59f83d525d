// Send stream to receive stream as a talk carries them: packets read back
// with the protocol layer's RTP header reader, decrypted and, for EVRC,
// turned into frame records, as the session hands them over. Every frame
// recorded is played once and in order.
#include "aes.h"
#include "etpacket.h"
#include "evrc_packet.h"
#include "hal_string.h"
#include "list.h"
#include "rtp_test_util.h"

#include <gtest/gtest.h>

using namespace rtp_test;

namespace
{

// What the session does with a received datagram before the stream sees
// it; empty when it would drop it.
bytes receive_payload(bytes datagram, const char *key, rtp_header **hdr, bytes &keep)
{
    keep = std::move(datagram);
    uint8_t *payload = nullptr;
    uint32_t len = etpacket_unpack_rtp(nullptr, keep.data(), keep.size(), hdr, &payload);
    if (len == ETPACKET_MALFORMED)
        return {};
    uint32_t pt = (*hdr)->mpt & 0x7F;
    bytes plain(payload, payload + len);
    if (pt == RTP_PT_AMR_ENCRYPTED || pt == RTP_PT_EVRC_ENCRYPTED) {
        uint8_t k[32] = {0};
        std::memcpy(k, key, strnlen(key, 32));
        aes_key sched;
        aes_set_decrypt_key(k, 256, &sched);
        if (len == 0 || len % 16)
            return {};
        for (uint32_t i = 0; i < len; i += 16)
            aes_decrypt_block(payload + i, &plain[i], &sched);
        uint8_t pad = plain.back();
        if (pad < 1 || pad > 16)
            return {};
        plain.resize(len - pad);
    }
    if (pt == HAL_PT_EVRC || pt == RTP_PT_EVRC_ENCRYPTED) {
        bytes records(EVRC_STREAM_CAPACITY);
        uint32_t n = evrc_packet_to_stream(plain.data(), plain.size(), records.data());
        records.resize(n);
        return records;
    }
    return plain;
}

struct SendToReceive : fixture {
};

} // namespace

TEST_F(SendToReceive, EveryFrameOnceAndInOrder)
{
    struct {
        uint32_t pt;
        uint32_t is_encryp;
        const char *key;
    } rows[] = {{HAL_PT_AMR, 0, ""},
                {HAL_PT_EVRC, 0, ""},
                {HAL_PT_AMR, 1, "0123456789abcdef0123456789ABCDEF"},
                {HAL_PT_EVRC, 1, "short key"}};
    for (const auto &r : rows) {
        SCOPED_TRACE(std::to_string(r.pt) + (r.is_encryp ? " encrypted" : " plain"));
        open("");
        rtp_ostream *out = rtp_ostream_new(ctx(), 4711, r.pt, 0, nullptr, r.is_encryp, r.key);
        rtp_istream *in = rtp_istream_new(ctx(), 0, nullptr);
        ASSERT_NE(out, nullptr);
        ASSERT_NE(in, nullptr);
        hal_looper_cancel_timer(looper(), rtp_ostream_on_timer, out);
        hal_looper_cancel_timer(looper(), rtp_istream_on_timer, in);

        std::vector<bytes> played;
        auto pop = [&] {
            uint8_t buf[RTP_POP_FRAME_SIZE];
            hal_sound_frame *f = reinterpret_cast<hal_sound_frame *>(buf);
            if (!rtp_istream_pop_frame(in, f))
                return false;
            EXPECT_EQ(f->pt, r.pt);
            played.push_back(frame_bytes(f));
            return true;
        };
        g_rec.in_hook = [&](void *, uint32_t ev, void *) {
            if (ev == RTP_ISTREAM_EVENT_FRAMES)
                pop();
        };
        // The session sends each packet; here it goes straight to the
        // receiving stream.
        size_t packets = 0;
        g_rec.out_hook = [&](void *, uint32_t ev, void *) {
            if (ev != RTP_OSTREAM_EVENT_PACKET || !out->last_len)
                return;
            bytes keep;
            rtp_header *h = nullptr;
            bytes p =
                receive_payload(bytes(out->packet, out->packet + out->last_len), r.key, &h, keep);
            out->last_len = 0;
            packets++;
            EXPECT_EQ(rtp_istream_put(in, h, p.data(), static_cast<uint32_t>(p.size())), 1);
        };

        // 3 s of voice recorded one frame per tick, and a last short packet.
        const uint32_t frames = 153;
        std::vector<bytes> recorded;
        double now = 1000.0;
        for (uint32_t i = 0; i < frames; i++) {
            recorded.push_back(frame_of(r.pt, i));
            list_push_back(out->frames, frame(r.pt, recorded.back()));
            now += 0.0201;
            rtp_ostream_on_timer(looper(), now, out);
            rtp_istream_on_timer(looper(), now, in);
        }
        out->state = RTP_OSTREAM_DRAINING;
        while (count_of(g_rec.out_events(), RTP_OSTREAM_EVENT_DRAINED) == 0 && now < 1010.0) {
            now += 0.0201;
            rtp_ostream_on_timer(looper(), now, out);
            rtp_istream_on_timer(looper(), now, in);
        }
        EXPECT_EQ(packets, (frames + 4) / 5);
        // The talker lets go: the rest is taken at once.
        rtp_istream_get(in);
        while (pop()) {
        }
        EXPECT_EQ(difference(played, recorded), "");
        EXPECT_EQ(in->dropped + in->bad_seq + in->unordered, 0u);
        rtp_ostream_destroy(&out);
        rtp_istream_destroy(&in);
        TearDown();
    }
}
