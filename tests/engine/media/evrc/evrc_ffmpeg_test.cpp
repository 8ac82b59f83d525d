// An independent decoder agrees: FFmpeg's floating-point EVRC decoder (post-
// filter off) decodes the same half-rate packets close to ours. It is not
// bit-exact, so the check is a signal-to-noise ratio of ours against the
// difference; the floor sits a few dB below what the reference files give
// (about 31 dB for speech, 41 dB and more for the tone and the noise).
#include "evrc_frame.h"
#include "test_support.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifdef PTT_HAVE_AVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}
#endif

namespace
{

#ifdef PTT_HAVE_AVCODEC

// Decodes a reference packet file (half-rate records) with both decoders and
// returns the SNR of ours against the difference, in dB.
double snr_against_ffmpeg(const std::string &name)
{
    std::string pkt = ptt::test::read_file(ptt::test::shared_data(name));
    EXPECT_FALSE(pkt.empty()) << name;
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_EVRC);
    if (!codec) {
        ADD_FAILURE() << "libavcodec has no EVRC decoder";
        return 0;
    }
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = EVRC_SAMPLE_RATE;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    av_channel_layout_copy(&ctx->ch_layout, &mono);
    EXPECT_GE(av_opt_set_int(ctx->priv_data, "postfilter", 0, 0), 0);
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    evrc_decoder *dec = evrc_decoder_new();

    std::vector<float> theirs;
    std::vector<int16_t> ours;
    for (size_t f = 0; f + 1 <= pkt.size() / 24; f++) {
        const uint8_t *rec = (const uint8_t *)pkt.data() + 24 * f;
        int bytes = evrc_bytes_per_rate[rec[0] <= 4 ? rec[0] : 0];
        EXPECT_EQ(bytes, 10) << "frame " << f;
        if (bytes != 10)
            break;
        uint8_t wire[22];
        for (int k = 0; k < bytes / 2;
             k++) { // file words are little-endian, the wire high byte first
            wire[2 * k] = rec[3 + 2 * k];
            wire[2 * k + 1] = rec[2 + 2 * k];
        }
        int16_t out[EVRC_FRAME_LEN];
        EXPECT_EQ(evrc_decode_frame(dec, wire, bytes, out), EVRC_FRAME_LEN);
        ours.insert(ours.end(), out, out + EVRC_FRAME_LEN);
        EXPECT_EQ(av_new_packet(packet, bytes), 0);
        memcpy(packet->data, wire, bytes);
        EXPECT_EQ(avcodec_send_packet(ctx, packet), 0);
        av_packet_unref(packet);
        while (avcodec_receive_frame(ctx, frame) == 0) {
            EXPECT_EQ(frame->format, AV_SAMPLE_FMT_FLT);
            const float *d = (const float *)frame->data[0];
            theirs.insert(theirs.end(), d, d + frame->nb_samples);
        }
    }
    evrc_decoder_destroy(&dec);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);

    EXPECT_EQ(ours.size(), theirs.size());
    size_t n = std::min(ours.size(), theirs.size());
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; i++) {
        double x = ours[i] / 32768.0;
        double e = x - theirs[i];
        signal += x * x;
        noise += e * e;
    }
    return noise > 0 ? 10.0 * std::log10(signal / noise) : 200.0;
}

TEST(EvrcFfmpeg, HalfRateSpeechAgrees)
{
    for (const char *name :
         {"evrc/vectors/halfrate/vec_01.h3n0.pkt", "evrc/vectors/halfrate/vec_02.h3n0.pkt"}) {
        double snr = snr_against_ffmpeg(name);
        printf("%s: %.2f dB against FFmpeg\n", name, snr);
        EXPECT_GE(snr, 25.0) << name;
    }
}

TEST(EvrcFfmpeg, HalfRateToneAndNoiseAgree)
{
    for (const char *name : {"evrc/vectors/synthetic/sine1k_m20dBFS.h3n0.pkt",
                             "evrc/vectors/synthetic/noise_m20dBFS.h3n0.pkt"}) {
        double snr = snr_against_ffmpeg(name);
        printf("%s: %.2f dB against FFmpeg\n", name, snr);
        EXPECT_GE(snr, 35.0) << name;
    }
}

#else

TEST(EvrcFfmpeg, HalfRateSpeechAgrees)
{
    GTEST_SKIP() << "libavcodec was not found when the build was configured";
}

#endif

} // namespace
