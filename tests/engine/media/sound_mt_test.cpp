// Record and play at once, in real time, as a full-duplex call does: the
// capture thread codes speech with echo control while the looper decodes
// what it recorded back to the output (feeding the same canceller) and the
// playback thread returns buffers. Run under ThreadSanitizer.
#include "hal_sound.h"
#include "media_test_util.h"

#include <atomic>
#include <gtest/gtest.h>

using media_test::engine;
using media_test::file_opts;
using ptt::test::TempCwd;
using ptt::test::wait_until;

namespace
{

struct loop_state {
    hal_sound *sound;
    std::atomic<int> moved{0};
};

// Every 20 ms: recorded frames go straight back to the output.
void loopback(hal_looper *, double, void *arg)
{
    loop_state *st = static_cast<loop_state *>(arg);
    const hal_sound_frame *f;
    while ((f = hal_sound_read_frame(st->sound)) != nullptr) {
        if (hal_sound_write_frame(st->sound, f) > 0)
            st->moved++;
    }
}

} // namespace

TEST(SoundMt, FullDuplexRecordAndPlayInRealTime)
{
    TempCwd cwd;
    std::string input = ptt::test::source_path("tests/fixtures/audio/speech_far_8k.wav");
    engine e("[record]\nprobation=0\n", file_opts(input, "out.wav", WAVE_PACE_REALTIME));
    loop_state st;
    st.sound = hal_ctx_get_sound(e.ctx());
    hal_looper *looper = hal_ctx_get_looper(e.ctx());
    ASSERT_EQ(e.run([&] { return hal_sound_start_full_duplex_record(st.sound); }), 0);
    ASSERT_EQ(e.run([&] { return hal_sound_start_full_duplex_play(st.sound); }), 0);
    ASSERT_EQ(hal_looper_set_timer(looper, loopback, 0.02, &st), 0);
    // A second of speech around the loop.
    ASSERT_TRUE(wait_until([&] { return st.moved.load() >= 50; }, std::chrono::seconds(10)));
    ASSERT_TRUE(wait_until([&] { return media_test::read_wav("out.wav").size() >= 40u * 160; },
                           std::chrono::seconds(10)));
    ASSERT_EQ(hal_looper_cancel_timer(looper, loopback, &st), 0);
    EXPECT_EQ(e.run([&] { return hal_sound_stop_full_duplex_record(st.sound); }), 0);
    EXPECT_EQ(e.run([&] { return hal_sound_stop_full_duplex_play(st.sound); }), 0);
    // What came out is sound, not silence: the recorded speech came round.
    // (Its fidelity is measured without the loop elsewhere; here the echo
    // canceller sees its own output as far end and damps it.)
    std::vector<int16_t> out = media_test::read_wav("out.wav");
    int peak = 0;
    for (int16_t v : out)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GT(peak, 2000);
}
