// Encoders and decoders on separate threads: a full-duplex call encodes on
// the capture thread while the looper decodes. Nothing may be shared, so
// each thread's output equals what it produces alone (TSan checks the rest).
#include "evrc_frame.h"
#include "test_support.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace
{

std::vector<int16_t> read_pcm(const std::string &rel, size_t frames)
{
    std::string data = ptt::test::read_file(ptt::test::shared_data(rel));
    std::vector<int16_t> pcm(data.size() / 2);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = (int16_t)(uint16_t)((uint8_t)data[2 * i] | (uint8_t)data[2 * i + 1] << 8);
    pcm.resize(frames * EVRC_FRAME_LEN);
    return pcm;
}

std::vector<uint8_t> encode_all(std::vector<int16_t> pcm, uint16_t max_rate, uint16_t ns)
{
    std::vector<uint8_t> out;
    evrc_encoder *enc = evrc_encoder_new();
    if (!enc)
        return out;
    enc->min_rate = 1;
    enc->max_rate = max_rate;
    enc->noise_suppression = ns;
    for (size_t f = 0; f < pcm.size() / EVRC_FRAME_LEN; f++) {
        uint8_t pkt[22];
        int rate = evrc_encode_frame(enc, &pcm[f * EVRC_FRAME_LEN], pkt);
        out.push_back((uint8_t)rate);
        out.insert(out.end(), pkt, pkt + (rate == 4 ? 22 : rate == 3 ? 10 : 2));
    }
    evrc_encoder_destroy(&enc);
    return out;
}

std::vector<int16_t> decode_all(const std::vector<uint8_t> &stream)
{
    std::vector<int16_t> out;
    evrc_decoder *dec = evrc_decoder_new();
    if (!dec)
        return out;
    for (size_t pos = 0; pos < stream.size();) {
        int rate = stream[pos++];
        int len = rate == 4 ? 22 : rate == 3 ? 10 : 2;
        int16_t pcm[EVRC_FRAME_LEN];
        evrc_decode_frame(dec, &stream[pos], len, pcm);
        out.insert(out.end(), pcm, pcm + EVRC_FRAME_LEN);
        pos += len;
    }
    evrc_decoder_destroy(&dec);
    return out;
}

TEST(EvrcEncoderThreads, EncodersAndDecoderRunConcurrently)
{
    std::vector<int16_t> a = read_pcm("evrc/vectors/official/short/f.pcm", 150);
    std::vector<int16_t> b = read_pcm("evrc/vectors/official/short/m.pcm", 150);
    ASSERT_EQ(a.size(), 150u * EVRC_FRAME_LEN);
    ASSERT_EQ(b.size(), 150u * EVRC_FRAME_LEN);
    std::vector<uint8_t> ea = encode_all(a, 3, 0), eb = encode_all(b, 4, 1);
    std::vector<int16_t> da = decode_all(ea);

    std::vector<uint8_t> ta, tb;
    std::vector<int16_t> tda;
    std::thread t1([&] { ta = encode_all(a, 3, 0); });
    std::thread t2([&] { tb = encode_all(b, 4, 1); });
    std::thread t3([&] { tda = decode_all(ea); });
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ(ta, ea);
    EXPECT_EQ(tb, eb);
    EXPECT_EQ(tda, da);
}

} // namespace
