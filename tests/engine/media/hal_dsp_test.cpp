// The device path on the file sound device: probation, AMR-NB recording,
// play start-up and drain, the debug dumps, and the failures it must survive.
#include "evrc_frame.h"
#include "hal_dsp.h"
#include "hal_sound.h"
#include "media_test_util.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <opencore-amrnb/interf_enc.h>
#include <vector>

using media_test::engine;
using media_test::file_opts;
using media_test::in_periods;
using ptt::test::TempCwd;
using ptt::test::wait_until;

namespace
{

// Settings that keep the path exact: no gain, no echo control, AMR-NB; more
// [record] lines may be added.
std::string quiet(const std::string &record = "")
{
    return "[record]\nagc_enable=0\naec_delay=0\ncodec=101\n" + record + "[play]\nagc_enable=0\n";
}
const std::string k_quiet = quiet();

std::vector<int16_t> ramp(size_t n)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = static_cast<int16_t>(i % 30000);
    return v;
}

struct collected {
    std::mutex mu;
    int calls = 0;
    int result = 99;
    std::vector<std::vector<uint8_t>> frames;
};

void on_record_end(hal_sound *, int result, void *arg, hal_sound_frame **frames, uint32_t count)
{
    collected *c = static_cast<collected *>(arg);
    std::lock_guard<std::mutex> g(c->mu);
    c->calls++;
    c->result = result;
    for (uint32_t i = 0; i < count; i++) {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(frames[i]);
        c->frames.emplace_back(p, p + 4 + frames[i]->size);
    }
}

void on_play_end(hal_sound *, int result, void *arg)
{
    collected *c = static_cast<collected *>(arg);
    std::lock_guard<std::mutex> g(c->mu);
    c->calls++;
    c->result = result;
}

int calls(collected &c)
{
    std::lock_guard<std::mutex> g(c.mu);
    return c.calls;
}

// Reads every recorded frame waiting now (on the looper).
std::vector<std::vector<uint8_t>> read_frames(engine &e)
{
    std::vector<std::vector<uint8_t>> out;
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    e.run([&] { return media_test::take_recorded_frames(s, out); });
    return out;
}

// Polls until `n` recorded frames have been read (or a few seconds pass).
std::vector<std::vector<uint8_t>> collect_frames(engine &e, size_t n)
{
    std::vector<std::vector<uint8_t>> got;
    wait_until([&] {
        std::vector<std::vector<uint8_t>> more = read_frames(e);
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= n;
    });
    return got;
}

// Pumps `periods` of capture and waits until the device has delivered them.
void capture(uint32_t periods)
{
    uint64_t want = in_periods() + periods;
    wave_file_pump(WAVE_IN, periods);
    ASSERT_TRUE(wait_until([&] { return in_periods() >= want; }));
}

// Writes every frame to a started play, the device taking each buffer at
// once, each frame accepted whole; then asks for the drain and waits for its
// end hook.
void play_through(engine &e, const std::vector<std::vector<uint8_t>> &frames, collected &c)
{
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    wave_file_pump(WAVE_OUT, 1000000);
    for (const std::vector<uint8_t> &f : frames) {
        ASSERT_EQ(e.run([&] {
            return hal_sound_write_frame(s, reinterpret_cast<const hal_sound_frame *>(f.data()));
        }),
                  static_cast<int>(f.size()));
    }
    ASSERT_EQ(e.run([&] { return hal_sound_async_stop_play(s, on_play_end, &c); }), 0);
    ASSERT_TRUE(wait_until([&] { return calls(c) == 1; }));
}

std::vector<std::vector<uint8_t>> amr_frames(const std::vector<int16_t> &pcm, int mode)
{
    void *enc = Encoder_Interface_init(0);
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i + 160 <= pcm.size(); i += 160) {
        std::vector<uint8_t> f(4 + 64);
        hal_sound_frame *h = reinterpret_cast<hal_sound_frame *>(f.data());
        int n = Encoder_Interface_Encode(enc, static_cast<Mode>(mode), &pcm[i], h->data, 0);
        h->pt = HAL_PT_AMR;
        h->size = static_cast<uint16_t>(n);
        f.resize(4 + static_cast<size_t>(n));
        out.push_back(f);
    }
    Encoder_Interface_exit(enc);
    return out;
}

} // namespace

// Capture discarded at every record start: 140 ms by default (the first
// seven buffers); 50 ms is two buffers and 80 samples of the third; a
// negative setting discards nothing (and must not run past the buffers).
TEST(HalDsp, ProbationTable)
{
    struct row {
        const char *setting;
        size_t dropped;
    } rows[] = {{nullptr, 1120}, {"140", 1120}, {"50", 400}, {"0", 0}, {"-5", 0}, {"1", 8}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.setting ? r.setting : "(missing)");
        TempCwd cwd;
        std::vector<int16_t> in = ramp(2400);
        ASSERT_TRUE(media_test::write_raw("in.raw", in));
        engine e(quiet(r.setting ? std::string("probation=") + r.setting + "\n" : ""),
                 file_opts("in.raw", ""));
        hal_sound *s = hal_ctx_get_sound(e.ctx());
        ASSERT_EQ(e.run([&] { return hal_sound_start_record(s, 0); }), 0);
        capture(10);
        std::vector<std::vector<uint8_t>> frames = collect_frames(e, (1600 - r.dropped) / 160);
        EXPECT_EQ(frames.size(), (1600 - r.dropped) / 160);
        EXPECT_TRUE(read_frames(e).empty());
        ASSERT_EQ(e.run([&] { return hal_sound_stop_record(s); }), 0);
        std::vector<int16_t> dump = media_test::read_raw("record_pcm.raw");
        ASSERT_EQ(dump.size(), 1600 - r.dropped);
        EXPECT_TRUE(std::equal(dump.begin(), dump.end(), in.begin() + r.dropped));
    }
}

// One second of a tone recorded as AMR-NB with the default quality (mode 6,
// 10.2 kbit/s): 50 frames of 27 bytes, header 0x34 (type 6, quality bit).
// Frames read during the recording are not handed to the drain hook again.
TEST(HalDsp, AmrRecordOfOneSecondTone)
{
    TempCwd cwd;
    ASSERT_TRUE(media_test::write_raw("tone.raw", media_test::tone(1000, 8000)));
    engine e(quiet("probation=0\n"), file_opts("tone.raw", ""));
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    ASSERT_EQ(e.run([&] { return hal_sound_start_record(s, 0); }), 0);
    capture(30);
    std::vector<std::vector<uint8_t>> frames = collect_frames(e, 30);
    EXPECT_EQ(frames.size(), 30u);
    capture(20);
    collected c;
    ASSERT_EQ(e.run([&] { return hal_sound_async_stop_record(s, on_record_end, &c); }), 0);
    // The buffer after the drain was armed ends it (unless the capture thread
    // was just past the point of handing the last one back).
    wave_file_pump(WAVE_IN, 1);
    ASSERT_TRUE(wait_until([&] { return calls(c) == 1; }));
    EXPECT_EQ(c.result, 0);
    // The tone's remaining 20 frames, maybe with one coded from the silence
    // after the file's end; nothing read before comes again.
    ASSERT_GE(c.frames.size(), 20u);
    ASSERT_LE(c.frames.size(), 21u);
    frames.insert(frames.end(), c.frames.begin(), c.frames.begin() + 20);
    ASSERT_EQ(frames.size(), 50u);
    for (const std::vector<uint8_t> &f : frames) {
        const hal_sound_frame *h = reinterpret_cast<const hal_sound_frame *>(f.data());
        EXPECT_EQ(h->pt, HAL_PT_AMR);
        ASSERT_EQ(h->size, 27u);
        EXPECT_EQ(h->data[0], 0x34);
    }
    EXPECT_EQ(e.run([&] { return (int)hal_sound_current_action(s); }), 0);
}

TEST(HalDsp, AmrQualityIsHeldToTheModes)
{
    struct row {
        const char *quality;
        size_t size;
        uint8_t header;
    } rows[] = {{"0", 13, 0x04}, {"7", 32, 0x3C}, {"9", 32, 0x3C}, {"-2", 13, 0x04}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.quality);
        TempCwd cwd;
        ASSERT_TRUE(media_test::write_raw("tone.raw", media_test::tone(700, 1600)));
        engine e(quiet(std::string("probation=0\nquality=") + r.quality + "\n"),
                 file_opts("tone.raw", ""));
        hal_sound *s = hal_ctx_get_sound(e.ctx());
        ASSERT_EQ(e.run([&] { return hal_sound_start_record(s, 0); }), 0);
        capture(3);
        std::vector<std::vector<uint8_t>> frames = collect_frames(e, 3);
        ASSERT_EQ(frames.size(), 3u);
        for (const std::vector<uint8_t> &f : frames) {
            EXPECT_EQ(f.size(), 4 + r.size);
            EXPECT_EQ(f[4], r.header);
        }
    }
}

// EVRC, the default record codec, codes every frame at half rate: 10 bytes.
TEST(HalDsp, EvrcRecordIsHalfRate)
{
    TempCwd cwd;
    ASSERT_TRUE(media_test::write_raw("tone.raw", media_test::tone(700, 1600)));
    engine e("[record]\nprobation=0\n", file_opts("tone.raw", ""));
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    EXPECT_EQ(e.run([&] { return (int)hal_sound_expect_codec(s); }), HAL_PT_EVRC);
    ASSERT_EQ(e.run([&] { return hal_sound_start_record(s, 0); }), 0);
    capture(10);
    std::vector<std::vector<uint8_t>> frames = collect_frames(e, 10);
    ASSERT_EQ(frames.size(), 10u);
    for (const std::vector<uint8_t> &f : frames) {
        const hal_sound_frame *h = reinterpret_cast<const hal_sound_frame *>(f.data());
        EXPECT_EQ(h->pt, HAL_PT_EVRC);
        EXPECT_EQ(h->size, 10u);
    }
}

// Play start-up and drain: the first written frame goes out as silence (it
// is decoded and waits); from the second on each write sends the frame
// before it; the drain sends what is left, then the hook runs.
TEST(HalDsp, PlayStartupAndDrain)
{
    struct row {
        size_t frames;
        size_t out_samples; // in the output file
        size_t decoded;     // frames in play_pcm.raw
    } rows[] = {{1, 160, 1}, {2, 480, 2}, {43, 44 * 160, 43}};
    std::vector<int16_t> speech = media_test::fixture("speech_far_8k.wav");
    for (const row &r : rows) {
        SCOPED_TRACE(r.frames);
        TempCwd cwd;
        engine e(k_quiet, file_opts("", "out.wav"));
        hal_sound *s = hal_ctx_get_sound(e.ctx());
        std::vector<std::vector<uint8_t>> frames = amr_frames(
            std::vector<int16_t>(speech.begin() + 8000, speech.begin() + 8000 + 160 * r.frames), 6);
        ASSERT_EQ(frames.size(), r.frames);
        ASSERT_EQ(e.run([&] { return hal_sound_start_play(s, 0); }), 0);
        EXPECT_TRUE(ptt::test::read_file("play_pcm.wave").empty());
        collected c;
        ASSERT_NO_FATAL_FAILURE(play_through(e, frames, c));
        EXPECT_EQ(c.result, 0);
        std::vector<int16_t> out = media_test::read_wav("out.wav");
        std::vector<int16_t> decoded = media_test::read_raw("play_pcm.raw");
        ASSERT_EQ(out.size(), r.out_samples);
        ASSERT_EQ(decoded.size(), r.decoded * 160);
        // Silence first; then exactly the decoded frames, in order.
        for (size_t i = 0; i < 160; i++)
            ASSERT_EQ(out[i], 0);
        if (r.frames >= 2) {
            EXPECT_TRUE(std::equal(out.begin() + 160, out.end(), decoded.begin()));
        }
        EXPECT_TRUE(ptt::test::read_file("play_pcm.wave").empty());
        EXPECT_EQ(e.run([&] { return (int)hal_sound_current_action(s); }), 0);
    }
}

// Frames come from the network: nothing larger than the codec's largest
// frame, or shorter than its own header says, reaches a decoder.
TEST(HalDsp, RefusesFramesNoDecoderCanTake)
{
    TempCwd cwd;
    engine e(k_quiet, file_opts("", "out.wav"));
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    hal_dsp *d = hal_sound_get_dsp(s);
    ASSERT_EQ(e.run([&] { return hal_sound_start_play(s, 0); }), 0);
    wave_file_pump(WAVE_OUT, 1000000);
    struct row {
        uint16_t pt;
        uint16_t size;
        uint8_t header;
        int rc;
    } rows[] = {
        {HAL_PT_AMR, 60, 0x34, -1},                             // 60 bytes: larger than any frame
        {HAL_PT_AMR, 33, 0x3C, -1}, {HAL_PT_AMR, 20, 0x34, -1}, // shorter than mode 6
        {HAL_PT_AMR, 27, 0x4C, -1},                             // frame type 9 does not exist
        {HAL_PT_AMR, 0, 0, -1},     {111, 27, 0x34, -1},
        {HAL_PT_AMR, 27, 0x34, 31}, {HAL_PT_EVRC, 10, 0, -1}, // the play is AMR-NB now
        {HAL_PT_AMR, 1, 0x7C, 5},                             // NO_DATA
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.pt) + "/" + std::to_string(r.size));
        std::vector<uint8_t> f(4 + 64, 0);
        hal_sound_frame *h = reinterpret_cast<hal_sound_frame *>(f.data());
        h->pt = r.pt;
        h->size = r.size;
        h->data[0] = r.header;
        EXPECT_EQ(e.run([&] { return hal_dsp_write(d, h); }), r.rc);
    }
    EXPECT_EQ(e.run([&] { return hal_dsp_write(d, nullptr); }), -1);
}

// One failed device write must not stall the drain: only buffers the device
// took are counted.
TEST(HalDsp, DrainCompletesAfterFailedWrites)
{
    TempCwd cwd;
    wave_file_opts o = file_opts("", "out.wav");
    o.fail_write_after = 3;
    engine e(k_quiet, o);
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    std::vector<std::vector<uint8_t>> frames = amr_frames(media_test::tone(500, 160 * 6), 6);
    ASSERT_EQ(e.run([&] { return hal_sound_start_play(s, 0); }), 0);
    wave_file_pump(WAVE_OUT, 1000000);
    for (const std::vector<uint8_t> &f : frames)
        e.run([&] {
            return hal_sound_write_frame(s, reinterpret_cast<const hal_sound_frame *>(f.data()));
        });
    collected c;
    ASSERT_EQ(e.run([&] { return hal_sound_async_stop_play(s, on_play_end, &c); }), 0);
    ASSERT_TRUE(wait_until([&] { return calls(c) == 1; }));
    EXPECT_EQ(media_test::read_wav("out.wav").size(), 3u * 160);
}

// A device that keeps every buffer: the looper gives up waiting instead of
// sleeping for ever, and the drain ends with a failure.
TEST(HalDsp, DrainEndsWhenTheDeviceKeepsItsBuffers)
{
    TempCwd cwd;
    wave_file_opts o = file_opts("", "out.wav");
    o.fail = WAVE_FAIL_WITHHOLD_OUT;
    engine e(k_quiet, o);
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    std::vector<std::vector<uint8_t>> frames = amr_frames(media_test::tone(500, 160 * 8), 6);
    ASSERT_EQ(e.run([&] { return hal_sound_start_play(s, 0); }), 0);
    for (const std::vector<uint8_t> &f : frames)
        e.run([&] {
            return hal_sound_write_frame(s, reinterpret_cast<const hal_sound_frame *>(f.data()));
        });
    collected c;
    ASSERT_EQ(e.run([&] { return hal_sound_async_stop_play(s, on_play_end, &c); }), 0);
    ASSERT_TRUE(wait_until([&] { return calls(c) == 1; }));
    EXPECT_EQ(c.result, -1);
    EXPECT_EQ(e.run([&] { return (int)hal_sound_current_action(s); }), 0);
}

TEST(HalDsp, StartRecordTwiceKeepsTheOpenInput)
{
    TempCwd cwd;
    engine e(k_quiet, file_opts("", ""));
    hal_dsp *d = hal_sound_get_dsp(hal_ctx_get_sound(e.ctx()));
    EXPECT_EQ(e.run([&] { return hal_dsp_start_record(d, HAL_PT_AMR); }), 0);
    EXPECT_EQ(e.run([&] { return hal_dsp_start_record(d, HAL_PT_AMR); }), 0);
    // The one input is closed by the stop; a second one would leak (ASan).
    e.run([&] {
        hal_dsp_stop_record(d);
        return 0;
    });
    EXPECT_EQ(hal_dsp_get_status(d), HAL_DSP_IDLE);
    EXPECT_EQ(e.run([&] { return hal_dsp_read_frame(d) == nullptr; }), 1);
}

TEST(HalDsp, StartFailures)
{
    struct row {
        uint32_t fail;
        int play;
        int record;
    } rows[] = {{WAVE_FAIL_NO_OUT_DEVICE, -1, 0},
                {WAVE_FAIL_OPEN_OUT, -1, 0},
                {WAVE_FAIL_NO_IN_DEVICE, 0, -1},
                {WAVE_FAIL_OPEN_IN, 0, -1}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.fail);
        TempCwd cwd;
        wave_file_opts o = file_opts("", "");
        o.fail = r.fail;
        engine e(k_quiet, o);
        hal_dsp *d = hal_sound_get_dsp(hal_ctx_get_sound(e.ctx()));
        EXPECT_EQ(e.run([&] { return hal_dsp_start_play(d); }), r.play);
        e.run([&] {
            hal_dsp_stop_play_with_stats(d);
            return 0;
        });
        EXPECT_EQ(e.run([&] { return hal_dsp_start_record(d, HAL_PT_AMR); }), r.record);
        EXPECT_EQ(hal_dsp_get_status(d), r.record == 0 ? HAL_DSP_RECORDING : HAL_DSP_IDLE);
        // A start in the wrong state is refused.
        if (r.record == 0) {
            EXPECT_EQ(e.run([&] { return hal_dsp_start_play(d); }), -1);
        }
    }
}

// The whole path on ALSA's null PCM: the real ALSA code, no sound card.
TEST(HalDsp, NullAlsaRecordAndPlay)
{
    TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file("custom.ini", quiet("probation=0\n")));
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_NULL, nullptr), 0);
    hal_ctx *ctx = hal_ctx_new(".");
    ASSERT_NE(ctx, nullptr);
    {
        hal_sound *s = hal_ctx_get_sound(ctx);
        auto run = [&](const std::function<int()> &fn) { return media_test::on_looper(ctx, fn); };
        ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
        std::vector<std::vector<uint8_t>> frames;
        ASSERT_TRUE(wait_until([&] {
            run([&] { return media_test::take_recorded_frames(s, frames); });
            return frames.size() >= 10;
        }));
        ASSERT_EQ(run([&] { return hal_sound_stop_record(s); }), 0);
        // Silence in, AMR-NB out: real frames of the null PCM's capture.
        for (const std::vector<uint8_t> &f : frames)
            EXPECT_EQ(reinterpret_cast<const hal_sound_frame *>(f.data())->pt, HAL_PT_AMR);

        ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
        for (const std::vector<uint8_t> &f : frames)
            EXPECT_GT(run([&] {
                          return hal_sound_write_frame(
                              s, reinterpret_cast<const hal_sound_frame *>(f.data()));
                      }),
                      0);
        collected c;
        ASSERT_EQ(run([&] { return hal_sound_async_stop_play(s, on_play_end, &c); }), 0);
        ASSERT_TRUE(wait_until([&] { return calls(c) == 1; }));
        EXPECT_EQ(c.result, 0);
        EXPECT_EQ(media_test::read_raw("play_pcm.raw").size(), frames.size() * 160);
        EXPECT_EQ(run([&] { return hal_sound_play_tone(s, 1); }), 0);
    }
    hal_ctx_destroy(&ctx);
}

// EVRC frames played through the device path decode exactly as the codec's
// reference decoder does, and every play starts from a fresh decoder state:
// the same packets played twice give the same sound.
TEST(HalDsp, EvrcPlayDecodesLikeTheReferenceFromAFreshState)
{
    std::string pkt =
        ptt::test::read_file(ptt::test::shared_data("evrc/vectors/halfrate/vec_01.h3n0.pkt"));
    ASSERT_GE(pkt.size(), 24u * 100);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t k = 0; k < 100; k++) {
        const uint8_t *rec = reinterpret_cast<const uint8_t *>(pkt.data()) + 24 * k;
        int rate = rec[0] | rec[1] << 8;
        size_t words = rate == 1 ? 1 : rate == 3 ? 5 : 11;
        std::vector<uint8_t> f(4 + 2 * words);
        hal_sound_frame *h = reinterpret_cast<hal_sound_frame *>(f.data());
        h->pt = HAL_PT_EVRC;
        h->size = static_cast<uint16_t>(2 * words);
        for (size_t w = 0; w < words; w++) { // on the wire each word goes high byte first
            h->data[2 * w] = rec[2 + 2 * w + 1];
            h->data[2 * w + 1] = rec[2 + 2 * w];
        }
        frames.push_back(f);
    }
    std::vector<int16_t> ref =
        media_test::read_raw(ptt::test::shared_data("evrc/vectors/halfrate/vec_01.h3n0.p0.dec"));
    ASSERT_GE(ref.size(), 100u * 160);
    ref.resize(100 * 160);
    // What a fresh decoder makes of the same packets.
    std::vector<int16_t> fresh(100 * 160);
    evrc_decoder *dec = evrc_decoder_new();
    ASSERT_NE(dec, nullptr);
    for (size_t k = 0; k < 100; k++) {
        const hal_sound_frame *h = reinterpret_cast<const hal_sound_frame *>(frames[k].data());
        ASSERT_EQ(evrc_decode_frame(dec, h->data, h->size, &fresh[160 * k]), 160);
    }
    evrc_decoder_destroy(&dec);

    TempCwd cwd;
    engine e(k_quiet, file_opts("", "out.wav"));
    hal_sound *s = hal_ctx_get_sound(e.ctx());
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(e.run([&] { return hal_sound_start_play(s, 0); }), 0);
        collected c;
        ASSERT_NO_FATAL_FAILURE(play_through(e, frames, c));
        std::vector<int16_t> decoded = media_test::read_raw("play_pcm.raw");
        ASSERT_EQ(decoded.size(), ref.size());
        // Every play decodes from a fresh state, frame by frame, in order.
        EXPECT_EQ(decoded, fresh) << "play " << round;
        if (round == 0) {
            // And the bytes go to the codec in its wire order (each word high
            // byte first): the frames come out as the reference decoder's
            // (a wrong order would match none; the codec's own exactness is
            // tested with the codec).
            size_t same = 0;
            for (size_t k = 0; k < 100; k++)
                same += std::equal(decoded.begin() + 160 * k, decoded.begin() + 160 * (k + 1),
                                   ref.begin() + 160 * k);
            std::printf("EVRC frames decoded as the reference (no post-filter): %zu of 100\n",
                        same);
            EXPECT_EQ(same, 100u);
        }
    }
}
