// The echo layer: settings, failures, and the echo it removes from speech.
#include "media_test_util.h"
#include "rtc_aec.h"

#include <gtest/gtest.h>

using media_test::engine;
using media_test::file_opts;
using ptt::test::TempCwd;

namespace
{

std::string log_text()
{
    return ptt::test::read_file("kvptt.log");
}

} // namespace

TEST(RtcAec, DelayZeroTurnsEchoControlOff)
{
    TempCwd cwd;
    engine e("[record]\naec_delay=0\n", file_opts("", ""));
    EXPECT_EQ(rtc_aec_new(e.ctx(), 8000), nullptr);
    EXPECT_EQ(rtc_aec_get_delay(), 0);
    EXPECT_NE(log_text().find("rtc_aec_new aec_dealy:0"), std::string::npos);
}

TEST(RtcAec, DelaySettingIsHeldToTheCancellersRange)
{
    TempCwd cwd;
    struct row {
        const char *ini;
        int32_t delay;
    } rows[] = {{"", 90},
                {"[record]\naec_delay=120\n", 120},
                {"[record]\naec_delay=900\n", 500},
                {"[record]\naec_delay=-3\n", 0}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.ini);
        engine e(r.ini, file_opts("", ""));
        void *aec = rtc_aec_new(e.ctx(), 8000);
        EXPECT_EQ(rtc_aec_get_delay(), r.delay);
        EXPECT_EQ(aec != nullptr, r.delay != 0);
        rtc_aec_destroy(e.ctx(), &aec);
        EXPECT_EQ(aec, nullptr);
    }
}

TEST(RtcAec, OnlyEightAndSixteenKilohertz)
{
    TempCwd cwd;
    engine e("", file_opts("", ""));
    EXPECT_EQ(rtc_aec_new(e.ctx(), 44100), nullptr);
    EXPECT_NE(log_text().find("rtc_aec_new Init fail"), std::string::npos);
    void *aec = rtc_aec_new(e.ctx(), 16000);
    EXPECT_NE(aec, nullptr);
    rtc_aec_destroy(e.ctx(), &aec);
    rtc_aec_destroy(e.ctx(), &aec);
    rtc_aec_destroy(e.ctx(), nullptr);
}

TEST(RtcAec, FailureFreesTheCancellerAndClearsTheHandle)
{
    TempCwd cwd;
    engine e("", file_opts("", ""));
    int16_t near_end[RTC_AEC_FRAME], out[RTC_AEC_FRAME];
    for (int i = 0; i < RTC_AEC_FRAME; i++)
        near_end[i] = static_cast<int16_t>(i * 11);
    void *none = nullptr;
    EXPECT_EQ(rtc_aec_process(e.ctx(), &none, near_end, out), -1);
    EXPECT_EQ(std::memcmp(out, near_end, sizeof(out)), 0) << "no canceller: the near end as is";
    EXPECT_EQ(rtc_aec_playback(e.ctx(), &none, near_end), -1);

    void *aec = rtc_aec_new(e.ctx(), 8000);
    ASSERT_NE(aec, nullptr);
    EXPECT_EQ(rtc_aec_playback(e.ctx(), &aec, near_end), 0);
    EXPECT_EQ(rtc_aec_process(e.ctx(), &aec, near_end, out), 0);
    // Missing far-end samples fail the canceller: it is freed (ASan would
    // see a leak otherwise) and the shared handle cleared for both sides.
    EXPECT_EQ(rtc_aec_playback(e.ctx(), &aec, nullptr), -1);
    EXPECT_EQ(aec, nullptr);
    EXPECT_NE(log_text().find("rtc_aec_playback Process failed"), std::string::npos);
    EXPECT_EQ(rtc_aec_process(e.ctx(), &aec, near_end, out), -1);
    EXPECT_EQ(std::memcmp(out, near_end, sizeof(out)), 0);
}

// Far end: a speech clip; near end: the same clip 90 ms later (the configured
// delay) at half amplitude, plus a second talker in two stretches. Over the
// stretches where only the far end talks, after two seconds of convergence,
// the output is compared with the near end as it would pass with echo control
// off.
TEST(RtcAec, RemovesTheEchoOfSpeech)
{
    TempCwd cwd;
    engine e("[record]\naec_delay=90\n", file_opts("", ""));
    std::vector<int16_t> far_end = media_test::fixture("speech_far_8k.wav");
    std::vector<int16_t> talker = media_test::fixture("speech_near_8k.wav");
    ASSERT_GT(far_end.size(), 8000u * 10);
    ASSERT_GT(talker.size(), 8000u * 2);
    size_t n = far_end.size() / RTC_AEC_FRAME * RTC_AEC_FRAME;
    const size_t delay = 90 * 8;
    auto talking = [](size_t i) {
        double s = i / 8000.0;
        return (s >= 3 && s < 5) || (s >= 8 && s < 9.5);
    };
    std::vector<int16_t> near_end(n), talk(n, 0), out(n);
    for (size_t i = 0; i < n; i++) {
        double echo = i >= delay ? far_end[i - delay] * 0.5 : 0.0;
        if (talking(i))
            talk[i] = static_cast<int16_t>(talker[i % talker.size()] * 0.7);
        double v = std::max(-32768.0, std::min(32767.0, echo + talk[i]));
        near_end[i] = static_cast<int16_t>(std::lrint(v));
    }
    void *aec = rtc_aec_new(e.ctx(), 8000);
    ASSERT_NE(aec, nullptr);
    for (size_t i = 0; i < n; i += RTC_AEC_FRAME) {
        ASSERT_EQ(rtc_aec_playback(e.ctx(), &aec, &far_end[i]), 0);
        ASSERT_EQ(rtc_aec_process(e.ctx(), &aec, &near_end[i], &out[i]), 0);
    }
    rtc_aec_destroy(e.ctx(), &aec);

    double off = 0, on = 0, dt_talk = 0, dt_out = 0;
    for (size_t i = 2 * 8000; i < n; i++) {
        if (talking(i)) {
            dt_talk += double(talk[i]) * talk[i];
            dt_out += double(out[i]) * out[i];
        } else {
            off += double(near_end[i]) * near_end[i];
            on += double(out[i]) * out[i];
        }
    }
    double erle = 10 * std::log10(off / on);
    double dt_loss = 10 * std::log10(dt_talk / dt_out);
    std::printf("ERLE over far-end-only speech: %.1f dB (echo control off: 0 dB); "
                "second talker in double talk: %.1f dB below its level\n",
                erle, dt_loss);
    // Measured about 33 dB; a canceller that does nothing gives 0.
    EXPECT_GT(erle, 20.0);
    // The second talker is damped in double talk, but not wiped out.
    EXPECT_LT(dt_loss, 10.0);
}
