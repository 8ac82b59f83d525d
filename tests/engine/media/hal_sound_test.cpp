// The sound action queue: start, stop, promotion, drain and frame rules, the
// hooks of actions that never drain, and the prompt tones.
#include "hal_ini.h"
#include "hal_sound.h"
#include "media_test_util.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using media_test::engine;
using media_test::file_opts;
using ptt::test::TempCwd;
using ptt::test::wait_until;

namespace
{

// Settings that keep the tests quick and exact: no probation, no gain, no
// echo control, AMR-NB.
const char *k_ini = "[record]\nprobation=0\nagc_enable=0\naec_delay=0\ncodec=101\n"
                    "[play]\nagc_enable=0\n";

struct hooks {
    std::mutex mu;
    std::vector<std::pair<std::string, int>> calls; // (who, result)
    std::vector<uint32_t> frames;                   // record hook: frame sizes
};
hooks g_hooks;

void note(const char *who, int result)
{
    std::lock_guard<std::mutex> g(g_hooks.mu);
    g_hooks.calls.emplace_back(who, result);
}

void play_hook(hal_sound *, int result, void *arg)
{
    note(static_cast<const char *>(arg), result);
}

void record_hook(hal_sound *, int result, void *arg, hal_sound_frame **frames, uint32_t count)
{
    note(static_cast<const char *>(arg), result);
    std::lock_guard<std::mutex> g(g_hooks.mu);
    for (uint32_t i = 0; i < count; i++)
        g_hooks.frames.push_back(frames[i]->size);
}

std::vector<std::pair<std::string, int>> calls()
{
    std::lock_guard<std::mutex> g(g_hooks.mu);
    return g_hooks.calls;
}

size_t call_count()
{
    std::lock_guard<std::mutex> g(g_hooks.mu);
    return g_hooks.calls.size();
}

// One AMR-NB mode 6 frame (27 bytes) of whatever; the decoder takes it.
std::vector<uint8_t> amr_frame(uint8_t fill)
{
    std::vector<uint8_t> f(4 + 27, fill);
    hal_sound_frame *h = reinterpret_cast<hal_sound_frame *>(f.data());
    h->pt = HAL_PT_AMR;
    h->size = 27;
    h->data[0] = 0x34;
    return f;
}

std::vector<uint8_t> evrc_frame()
{
    std::vector<uint8_t> f(4 + 10, 0x11);
    hal_sound_frame *h = reinterpret_cast<hal_sound_frame *>(f.data());
    h->pt = HAL_PT_EVRC;
    h->size = 10;
    return f;
}

const hal_sound_frame *as_frame(const std::vector<uint8_t> &f)
{
    return reinterpret_cast<const hal_sound_frame *>(f.data());
}

struct SoundQueue : ::testing::Test {
    TempCwd cwd;
    std::unique_ptr<engine> e;
    hal_sound *s = nullptr;

    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> g(g_hooks.mu);
            g_hooks.calls.clear();
            g_hooks.frames.clear();
        }
        open("");
    }
    void open(const std::string &extra, uint32_t fail = 0)
    {
        wave_file_opts o = file_opts("", "out.wav");
        o.fail = fail;
        e.reset();
        e = std::make_unique<engine>(std::string(k_ini) + extra, o);
        s = hal_ctx_get_sound(e->ctx());
        ASSERT_NE(s, nullptr);
    }
    int run(const std::function<int()> &fn)
    {
        return e->run(fn);
    }
    std::pair<uint32_t, uint32_t> slots()
    {
        std::pair<uint32_t, uint32_t> r;
        run([&] {
            r = {hal_sound_current_action(s), hal_sound_cache_action(s)};
            return 0;
        });
        return r;
    }
};

} // namespace

TEST_F(SoundQueue, StartRule)
{
    using A = hal_sound_action_type;
    // {first, second, nowait of the second, result, current, cached}
    struct row {
        A first;
        A second;
        int nowait;
        int rc;
        uint32_t current;
        uint32_t cached;
    } rows[] = {
        {HAL_SOUND_ACTION_RECORD, HAL_SOUND_ACTION_PLAY, 0, 0, 1, 2},
        {HAL_SOUND_ACTION_RECORD, HAL_SOUND_ACTION_PLAY, 1, -2, 1, 0},
        {HAL_SOUND_ACTION_PLAY, HAL_SOUND_ACTION_RECORD, 0, 0, 2, 1},
        {HAL_SOUND_ACTION_TTS, HAL_SOUND_ACTION_RECORD, 0, 0, 4, 1},
        {HAL_SOUND_ACTION_PLAY, HAL_SOUND_ACTION_PLAY, 1, 0, 2, 0},
        {HAL_SOUND_ACTION_RECORD, HAL_SOUND_ACTION_RECORD, 1, 0, 1, 0},
    };
    auto start = [&](A kind, int nowait) {
        switch (kind) {
        case HAL_SOUND_ACTION_RECORD:
            return hal_sound_start_record(s, nowait);
        case HAL_SOUND_ACTION_PLAY:
            return hal_sound_start_play(s, nowait);
        default:
            return hal_sound_play_tts(s, "text", nullptr, nullptr, nowait);
        }
    };
    for (const row &r : rows) {
        SCOPED_TRACE(std::to_string(r.first) + " then " + std::to_string(r.second));
        ASSERT_EQ(run([&] { return start(r.first, 0); }), 0);
        EXPECT_EQ(run([&] { return start(r.second, r.nowait); }), r.rc);
        EXPECT_EQ(slots(), std::make_pair(r.current, r.cached));
        if (r.cached) {
            // A second waiting start is refused: the cached one stays.
            EXPECT_EQ(run([&] { return start(r.second, 0); }), -2);
        }
        run([&] {
            hal_sound_stop_all(s);
            hal_sound_stop_record(s);
            hal_sound_stop_play(s);
            return 0;
        });
        EXPECT_EQ(slots(), std::make_pair(0u, 0u));
    }
    EXPECT_EQ(hal_sound_play_tts(s, nullptr, nullptr, nullptr, 0), -1);
    EXPECT_EQ(hal_sound_start_play(nullptr, 0), -1);
}

TEST_F(SoundQueue, NewTextToSpeechReplacesTheOldOneWithMinusFive)
{
    std::vector<std::string> order;
    auto done = [](hal_sound *, int result, void *arg) {
        note(static_cast<const char *>(arg), result);
    };
    ASSERT_EQ(run([&] { return hal_sound_play_tts(s, "one", done, (void *)"one", 0); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_play_tts(s, "two", done, (void *)"two", 1); }), 0);
    EXPECT_EQ(calls(), (std::vector<std::pair<std::string, int>>{{"one", -5}}));
    EXPECT_EQ(slots(), std::make_pair(4u, 0u)) << "it never finishes by itself";
}

TEST_F(SoundQueue, StopRuleAndPromotion)
{
    // Stopping the current action starts the cached one.
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_stop_record(s); }), 0) << "cached record dropped";
    EXPECT_EQ(slots(), std::make_pair(2u, 0u));
    ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_stop_play(s); }), 0);
    EXPECT_EQ(slots(), std::make_pair(1u, 0u)) << "record promoted";
    EXPECT_EQ(run([&] { return hal_sound_stop_play(s); }), -2);
    EXPECT_EQ(run([&] { return hal_sound_stop_record(s); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_stop_record(s); }), -2);
    EXPECT_EQ(slots(), std::make_pair(0u, 0u));

    // A promoted action that fails to start leaves the slot empty.
    open("", WAVE_FAIL_OPEN_IN);
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_stop_play(s); }), 0);
    EXPECT_EQ(slots(), std::make_pair(0u, 0u));
    EXPECT_EQ(run([&] { return hal_sound_start_record(s, 0); }), -1);
}

TEST_F(SoundQueue, StopAllKeepsCachedRecordAndTextToSpeech)
{
    struct row {
        std::function<int()> cache;
        uint32_t left;
    } rows[] = {
        {[&] { return hal_sound_start_record(s, 0); }, 1},
        {[&] { return hal_sound_play_tts(s, "t", nullptr, nullptr, 0); }, 4},
        {[&] { return hal_sound_start_play(s, 0); }, 0},
    };
    for (const row &r : rows) {
        open("");
        // Current: a play or record action of another kind than the cached.
        ASSERT_EQ(run([&] {
                      return r.left == 1 ? hal_sound_start_play(s, 0)
                                         : hal_sound_start_record(s, 0);
                  }),
                  0);
        ASSERT_EQ(run(r.cache), 0);
        EXPECT_EQ(run([&] { return hal_sound_stop_all(s); }), 0);
        EXPECT_EQ(slots(), std::make_pair(0u, r.left)) << "nothing is promoted";
    }
    EXPECT_EQ(hal_sound_stop_all(nullptr), -1);
}

TEST_F(SoundQueue, DrainRuleWithoutACurrentAction)
{
    // Play: the hook hears 0 at once; record: -2 and no call.
    EXPECT_EQ(run([&] { return hal_sound_async_stop_play(s, play_hook, (void *)"play"); }), -2);
    EXPECT_EQ(run([&] { return hal_sound_async_stop_record(s, record_hook, (void *)"rec"); }), -2);
    EXPECT_EQ(calls(), (std::vector<std::pair<std::string, int>>{{"play", 0}}));
    // A cached action is dropped and its hook called with 0.
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_async_stop_record(s, record_hook, (void *)"cached"); }),
              0);
    EXPECT_EQ(calls().back(), std::make_pair(std::string("cached"), 0));
    EXPECT_EQ(slots(), std::make_pair(2u, 0u));
}

TEST_F(SoundQueue, PlayDrainPromotesThenCallsTheHook)
{
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    wave_file_pump(WAVE_OUT, 1000000);
    std::vector<uint8_t> f = amr_frame(0);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(f)); }), 31);
    ASSERT_EQ(run([&] { return hal_sound_play_tts(s, "next", nullptr, nullptr, 0); }), 0);
    ASSERT_EQ(slots(), std::make_pair(2u, 4u));
    uint32_t current_in_hook = 0;
    static uint32_t *seen;
    seen = &current_in_hook;
    auto hook = [](hal_sound *snd, int result, void *) {
        *seen = hal_sound_current_action(snd);
        note("drained", result);
    };
    ASSERT_EQ(run([&] { return hal_sound_async_stop_play(s, hook, nullptr); }), 0);
    ASSERT_TRUE(wait_until([&] { return call_count() == 1; }));
    EXPECT_EQ(calls()[0], std::make_pair(std::string("drained"), 0));
    EXPECT_EQ(current_in_hook, 4u) << "the next action had started";
    EXPECT_EQ(slots(), std::make_pair(4u, 0u));
}

TEST_F(SoundQueue, FrameRule)
{
    std::vector<uint8_t> a1 = amr_frame(1), a2 = amr_frame(2), ev = evrc_frame();
    EXPECT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(a1)); }), -2) << "not playing";
    EXPECT_EQ(hal_sound_write_frame(s, nullptr), -1);
    // Held while cached, in order; the first frame fixes the codec.
    ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(a1)); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(ev)); }), -6);
    EXPECT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(a2)); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_get_play_depth(s); }), 2);
    // The record ends; the play starts with its two frames (one decoded into
    // the FIFO, one waiting in the ring).
    ASSERT_EQ(run([&] { return hal_sound_stop_record(s); }), 0);
    ASSERT_EQ(slots(), std::make_pair(2u, 0u));
    EXPECT_EQ(run([&] { return hal_sound_get_play_depth(s); }), 31 / 2);
    EXPECT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(ev)); }), -6);
    EXPECT_EQ(media_test::read_raw("play_pcm.raw").size(), 160u);
    EXPECT_EQ(run([&] { return hal_sound_get_record_depth(s); }), 0);
    uint32_t codec = 0;
    EXPECT_EQ(run([&] { return hal_sound_accept_codecs(s, &codec); }), 1);
    EXPECT_EQ(codec, 101u);
    EXPECT_EQ(run([&] { return (int)hal_sound_expect_codec(s); }), 101);
}

TEST_F(SoundQueue, RecordConfiguration)
{
    struct row {
        const char *ini;
        uint32_t codec;
    } rows[] = {{"[record]\ncodec=103\n", 103},
                {"[record]\ncodec=101\n", 101},
                {"[record]\ncodec=7\n", 103},
                {"[other]\nx=1\n", 103}};
    for (const row &r : rows) {
        ASSERT_TRUE(ptt::test::write_file("custom.ini", r.ini));
        ASSERT_EQ(run([&] { return hal_ini_load(hal_ctx_get_ini(e->ctx()), nullptr, nullptr); }),
                  0);
        // Read again at every record start.
        run([&] {
            hal_sound_start_record(s, 0);
            return hal_sound_stop_record(s);
        });
        EXPECT_EQ(run([&] { return (int)hal_sound_expect_codec(s); }), (int)r.codec) << r.ini;
    }
}

TEST_F(SoundQueue, FullDuplexSlots)
{
    EXPECT_EQ(run([&] { return hal_sound_stop_full_duplex_record(s); }), -2);
    EXPECT_EQ(run([&] { return hal_sound_stop_full_duplex_play(s); }), -2);
    ASSERT_EQ(run([&] { return hal_sound_start_full_duplex_record(s); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_start_full_duplex_play(s); }), 0);
    EXPECT_EQ(hal_dsp_get_status(hal_sound_get_dsp(s)), HAL_DSP_FULL_DUPLEX);
    EXPECT_EQ(slots(), std::make_pair(0u, 0u)) << "the full-duplex slots are apart";
    wave_file_pump(WAVE_OUT, 1000000);
    std::vector<uint8_t> a = amr_frame(3), ev = evrc_frame();
    EXPECT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(a)); }), 31);
    EXPECT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(ev)); }), -6);
    wave_file_pump(WAVE_IN, 3);
    ASSERT_TRUE(
        wait_until([&] { return run([&] { return hal_sound_read_frame(s) != nullptr; }) == 1; }));
    // Starting again replaces the running one.
    EXPECT_EQ(run([&] { return hal_sound_start_full_duplex_record(s); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_stop_full_duplex_record(s); }), 0);
    EXPECT_EQ(run([&] { return hal_sound_stop_full_duplex_play(s); }), 0);
    EXPECT_EQ(hal_dsp_get_status(hal_sound_get_dsp(s)), HAL_DSP_IDLE);
}

// A drain that the device never completes must not leave its waiter hanging:
// a destroyed action calls its hook with a failure, and a record drain is
// given up after a bounded wait.
TEST_F(SoundQueue, HooksOfActionsThatNeverDrain)
{
    ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_async_stop_record(s, record_hook, (void *)"rec"); }), 0);
    // No capture moves (nothing pumped): stop everything before it drains.
    EXPECT_EQ(run([&] { return hal_sound_stop_all(s); }), 0);
    EXPECT_EQ(calls(), (std::vector<std::pair<std::string, int>>{{"rec", -1}}));

    // A play replaced while it drains.
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    std::vector<uint8_t> f = amr_frame(0);
    wave_file_pump(WAVE_OUT, 2);
    ASSERT_EQ(run([&] { return hal_sound_write_frame(s, as_frame(f)); }), 31);
    ASSERT_EQ(run([&] { return hal_sound_async_stop_play(s, play_hook, (void *)"play"); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    EXPECT_EQ(calls().back(), std::make_pair(std::string("play"), -1));
    EXPECT_EQ(call_count(), 2u);
    run([&] { return hal_sound_stop_all(s); });

    // Capture that never comes back: the record drain ends by itself.
    open("", WAVE_FAIL_WITHHOLD_IN);
    ASSERT_EQ(run([&] { return hal_sound_start_record(s, 0); }), 0);
    wave_file_pump(WAVE_IN, 10);
    ASSERT_EQ(run([&] { return hal_sound_async_stop_record(s, record_hook, (void *)"held"); }), 0);
    ASSERT_TRUE(wait_until([&] { return call_count() == 3; }, std::chrono::seconds(3)));
    EXPECT_EQ(calls().back(), std::make_pair(std::string("held"), -1));
    EXPECT_EQ(slots(), std::make_pair(0u, 0u));
}

TEST_F(SoundQueue, ToneTable)
{
    struct row {
        uint32_t kind;
        double freq;
        size_t samples;
    } rows[] = {{1, 3700, 480}, {2, 2600, 800}, {3, 2600, 800}, {4, 1318, 480},
                {5, 1175, 800}, {0, 1568, 480}, {6, 1568, 480}, {99, 1568, 480}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.kind);
        wave_file_opts o = file_opts("", "tone.wav");
        ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0); // a fresh output file
        ASSERT_EQ(run([&] { return hal_sound_play_tone(s, r.kind); }), 0);
        std::vector<int16_t> pcm = media_test::read_wav("tone.wav");
        ASSERT_EQ(pcm.size(), r.samples);
        EXPECT_NEAR(media_test::peak_frequency(pcm), r.freq, 8.0);
    }
    EXPECT_EQ(hal_sound_play_tone(nullptr, 1), -1);
    // An open play path does not stop a tone.
    wave_file_opts o = file_opts("", "tone.wav");
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    ASSERT_EQ(run([&] { return hal_sound_start_play(s, 0); }), 0);
    ASSERT_EQ(run([&] { return hal_sound_play_tone(s, 4); }), 0);
    EXPECT_EQ(media_test::read_wav("tone.wav").size(), 480u);
}
