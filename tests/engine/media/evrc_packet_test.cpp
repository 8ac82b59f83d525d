// The EVRC multi-frame packet and frame stream formats, and the AMR-NB
// storage frame sizes.
#include "amr_frame.h"
#include "evrc_packet.h"

#include <gtest/gtest.h>
#include <vector>

namespace
{

std::vector<uint8_t> frame(uint32_t code, uint8_t fill)
{
    return std::vector<uint8_t>(evrc_code_size(code), fill);
}

std::vector<uint8_t> build(const std::vector<uint32_t> &codes)
{
    uint8_t buf[EVRC_PACKET_CAPACITY];
    evrc_packet_writer w;
    EXPECT_EQ(evrc_packet_writer_init(&w, buf, sizeof(buf), static_cast<uint32_t>(codes.size())),
              1);
    for (size_t i = 0; i < codes.size(); i++) {
        std::vector<uint8_t> f = frame(codes[i], static_cast<uint8_t>(0x10 + i));
        EXPECT_EQ(evrc_packet_add_frame(&w, codes[i], f.data()), 1);
    }
    return std::vector<uint8_t>(buf, buf + w.length);
}

} // namespace

TEST(EvrcPacket, SizesAndRates)
{
    struct row {
        uint32_t size;
        int code;
    } rows[] = {{2, 0}, {4, 1}, {10, 2}, {22, 3}, {0, -1}, {3, -1}, {11, -1}, {23, -1}};
    for (const row &r : rows)
        EXPECT_EQ(evrc_size_to_rate(r.size), r.code) << r.size;
    struct rec {
        uint8_t byte;
        uint32_t len;
    } recs[] = {{1, 4}, {2, 0}, {3, 12}, {4, 24}, {0, 0}, {5, 0}, {0x13, 12}, {0xF4, 24}};
    for (const rec &r : recs)
        EXPECT_EQ(evrc_stream_record_length(r.byte), r.len) << int(r.byte);
}

TEST(EvrcPacket, FiveFramesUseTwoRateCodeBytes)
{
    std::vector<uint8_t> p = build({3, 2, 0, 1, 2});
    ASSERT_EQ(p.size(), 1u + 2u + 22 + 10 + 2 + 4 + 10);
    EXPECT_EQ(p[0], 5);
    EXPECT_EQ(p[1], 0xE1); // 11 10 00 01
    EXPECT_EQ(p[2], 0x80); // 10, then the unused codes stay 0
    EXPECT_EQ(p[3], 0x10);
    EXPECT_EQ(p[3 + 22], 0x11);

    evrc_packet_reader r;
    ASSERT_EQ(evrc_packet_reader_init(p.data(), static_cast<uint32_t>(p.size()), &r), 1);
    std::vector<uint32_t> seen;
    do {
        ASSERT_TRUE(evrc_packet_reader_frame_ok(&r));
        EXPECT_EQ(r.pos[0], 0x10 + r.index);
        seen.push_back(r.code);
    } while (evrc_packet_reader_next(&r));
    EXPECT_EQ(seen, (std::vector<uint32_t>{3, 2, 0, 1, 2}));
}

TEST(EvrcPacket, WriterRefusals)
{
    uint8_t buf[EVRC_PACKET_CAPACITY];
    evrc_packet_writer w;
    std::vector<uint8_t> f = frame(3, 1);
    EXPECT_EQ(evrc_packet_writer_init(&w, buf, sizeof(buf), 0), 0);
    EXPECT_EQ(evrc_packet_writer_init(&w, buf, sizeof(buf), 256), 0);
    ASSERT_EQ(evrc_packet_writer_init(&w, buf, sizeof(buf), 2), 1);
    EXPECT_EQ(evrc_packet_add_frame(nullptr, 3, f.data()), 0);
    EXPECT_EQ(evrc_packet_add_frame(&w, 3, nullptr), 0);
    EXPECT_EQ(evrc_packet_add_frame(&w, 4, f.data()), 0);
    EXPECT_EQ(evrc_packet_add_frame(&w, 3, f.data()), 1);
    EXPECT_EQ(evrc_packet_add_frame(&w, 3, f.data()), 1);
    EXPECT_EQ(evrc_packet_add_frame(&w, 3, f.data()), 0) << "more than its count";
    // 1 + 6 code bytes + 22 x 22 = 491; a 22nd frame would reach 513.
    ASSERT_EQ(evrc_packet_writer_init(&w, buf, sizeof(buf), 24), 1);
    for (int i = 0; i < 22; i++)
        EXPECT_EQ(evrc_packet_add_frame(&w, 3, f.data()), i < 22 ? 1 : 0);
    EXPECT_EQ(w.length, 7u + 22 * 22);
    EXPECT_EQ(evrc_packet_add_frame(&w, 3, f.data()), 0) << "would reach the end of the buffer";
    EXPECT_EQ(evrc_packet_add_frame(&w, 0, f.data()), 1);
}

TEST(EvrcPacket, ToStream)
{
    uint8_t out[EVRC_STREAM_CAPACITY];
    std::vector<uint8_t> p = build({2, 0, 3});
    uint32_t n = evrc_packet_to_stream(p.data(), static_cast<uint32_t>(p.size()), out);
    ASSERT_EQ(n, 12u + 4u + 24u);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 10);
    EXPECT_EQ(out[2], 0x10);
    EXPECT_EQ(out[12], 1);
    EXPECT_EQ(out[13], 2);
    EXPECT_EQ(out[16], 4);
    EXPECT_EQ(out[17], 22);
    EXPECT_EQ(out[18], 0x12);
    // Read back by record length.
    uint32_t pos = 0, records = 0;
    while (pos < n && evrc_stream_record_length(out[pos])) {
        pos += evrc_stream_record_length(out[pos]);
        records++;
    }
    EXPECT_EQ(records, 3u);
    EXPECT_EQ(pos, n);

    // 21 full-rate frames fit (504 bytes); 30 do not (720).
    std::vector<uint8_t> p21 = build(std::vector<uint32_t>(21, 3));
    EXPECT_EQ(evrc_packet_to_stream(p21.data(), static_cast<uint32_t>(p21.size()), out), 504u);
    uint8_t big[1 + 8 + 30 * 22] = {30};
    // With all codes 0 they are 30 eighth-rate frames: 120 bytes.
    EXPECT_EQ(evrc_packet_to_stream(big, sizeof(big), out), 120u);
    for (int i = 1; i <= 8; i++)
        big[i] = 0xFF;
    EXPECT_EQ(evrc_packet_to_stream(big, sizeof(big), out), 0u);

    // A packet shorter than its count claims gives the frames wholly inside.
    std::vector<uint8_t> cut(p.begin(), p.end() - 1);
    EXPECT_EQ(evrc_packet_to_stream(cut.data(), static_cast<uint32_t>(cut.size()), out), 16u);
    // The conversion stops with the frame that ends the packet: frames the
    // count claims behind it cannot make a fitting stream fail. 25 full-rate
    // frames claimed, 21 inside: 504 bytes.
    std::vector<uint8_t> p25(1 + 7 + 21 * 22, 0x5A);
    p25[0] = 25;
    for (int i = 1; i <= 7; i++)
        p25[i] = 0xFF;
    EXPECT_EQ(evrc_packet_to_stream(p25.data(), static_cast<uint32_t>(p25.size()), out), 504u);
    // Unreadable packets.
    EXPECT_EQ(evrc_packet_to_stream(p.data(), 3, out), 0u);
    uint8_t zero[8] = {0};
    EXPECT_EQ(evrc_packet_to_stream(zero, sizeof(zero), out), 0u);
    uint8_t claims[4] = {255, 0, 0, 0}; // 64 code bytes cannot be inside 4
    EXPECT_EQ(evrc_packet_to_stream(claims, sizeof(claims), out), 0u);
    EXPECT_EQ(evrc_packet_to_stream(nullptr, 10, out), 0u);
}

TEST(AmrFrame, StorageSizes)
{
    const uint32_t want[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
    for (uint32_t ft = 0; ft < 16; ft++) {
        // The quality bit (0x04) and the padding bits do not change the size.
        EXPECT_EQ(amr_frame_size(static_cast<uint8_t>(ft << 3)), want[ft]) << ft;
        EXPECT_EQ(amr_frame_size(static_cast<uint8_t>(ft << 3 | 0x04 | 0x83)), want[ft]) << ft;
    }
    EXPECT_EQ(amr_frame_type(0x3C), 7u);
}
