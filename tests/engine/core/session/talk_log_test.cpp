// What a talk costs the log at the engine's default threshold: a line per
// voice frame would be hundreds a second on a real desk, so none may show.
#include "hal_log.h"
#include "lirko.h"
#include "lirko_talk.h"
#include "talk_fixture.h"

#include <map>
#include <regex>
#include <sstream>

using namespace ptt::test;

namespace
{

class TalkLog : public TalkFixture
{
  protected:
    void SetUp() override
    {
        TalkFixture::SetUp();
        if (HasFatalFailure())
            return;
        // Pumped devices: every 20 ms of the talk is a period captured and
        // played, however loaded the machine is.
        wave_file_opts o = {};
        snprintf(o.out_path, sizeof(o.out_path), "%s", cwd.file("out.wav").c_str());
        o.pacing = WAVE_PACE_PUMPED;
        o.fail_write_after = -1;
        ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
        a = &add_engine();
        b = &add_engine();
        join(*a, "dispatcher", "dispatcher-pw");
        join(*b, "alice", "alice-pw");
    }
    bool until(const std::function<bool()> &pred)
    {
        return wait_until([&] {
            wave_file_pump(WAVE_IN | WAVE_OUT, 1);
            advance(0.02, 0.02);
            return pred();
        });
    }
    static uint64_t captured()
    {
        wave_file_stats st;
        wave_file_get_stats(&st);
        return st.in_periods;
    }
    TalkEngine *a = nullptr;
    TalkEngine *b = nullptr;
};

// Each line's message with its numbers and addresses blanked, counted.
std::map<std::string, int> messages(const std::string &log)
{
    static const std::regex prefix(R"(^\[[A-Z]+\] [0-9-]+ [0-9:.]+\t)");
    static const std::regex numbers("(0x)?[0-9a-fA-F]*[0-9][0-9a-fA-F]*");
    std::map<std::string, int> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (!std::regex_search(line, prefix))
            continue;
        out[std::regex_replace(std::regex_replace(line, prefix, ""), numbers, "#")]++;
    }
    return out;
}

} // namespace

TEST_F(TalkLog, TenSecondsOfTalkLogNoLinePerFrame)
{
    ASSERT_EQ(hal_log_get_priority(a->engine->log), 2); // the default threshold
    ASSERT_EQ(hal_log_get_priority(b->engine->log), 2);
    testing::internal::CaptureStdout();
    ASSERT_EQ(a->on_looper([&] { return lirko_start_speak(a->engine); }), 0);
    ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_LISTENING; }));
    const uint64_t start = captured();
    for (uint64_t i = 1; i <= 500; i++) {
        wave_file_pump(WAVE_IN | WAVE_OUT, 1);
        ASSERT_TRUE(wait_until([&] { return captured() >= start + i; }));
        advance(0.02, 0.02);
    }
    ASSERT_EQ(a->on_looper([&] { return lirko_stop_speak(a->engine); }), 0);
    ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_IDLE; }));
    const std::string log = testing::internal::GetCapturedStdout();

    // 500 frames were captured, sent and played (in packets of 5): a
    // message seen once per 50 ms of talk is logged for every frame.
    ASSERT_GE(server.relayed().size(), 90u) << "the talk carried voice";
    for (const auto &[message, count] : messages(log))
        EXPECT_LT(count, 200) << message;
}
