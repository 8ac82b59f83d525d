// The floor between two engines in group 2001, as their reports and prompt
// tones show it: the dispatcher (A) talks, alice (B) listens.
#include "lirko_talk.h"
#include "talk_fixture.h"

using namespace ptt::test;

namespace
{

class Floor : public TalkFixture
{
  protected:
    void SetUp() override
    {
        TalkFixture::SetUp();
        a = &add_engine();
        b = &add_engine();
        join(*a, "dispatcher", "dispatcher-pw");
        join(*b, "alice", "alice-pw");
    }
    int press(TalkEngine &e)
    {
        return e.on_looper([&] { return lirko_start_speak(e.engine); });
    }
    int release(TalkEngine &e)
    {
        return e.on_looper([&] { return lirko_stop_speak(e.engine); });
    }
    // The devices drain on engine timers: the clock moves while waiting.
    bool until(const std::function<bool()> &pred)
    {
        return wait_until([&] {
            advance(0.02, 0.02);
            return pred();
        });
    }
    TalkEngine *a = nullptr;
    TalkEngine *b = nullptr;
};

} // namespace

TEST_F(Floor, ThePressTheGrantAndTheReleaseReachBothSides)
{
    ASSERT_EQ(press(*a), 0);
    ASSERT_TRUE(until([&] { return a->status() == SESSION_STATUS_SPEAKING; }));
    EXPECT_EQ(a->calls(SLOT_START_SPEAK), std::vector<std::string>{"2001"});
    ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_LISTENING; }));
    EXPECT_EQ(b->calls(SLOT_USER_START_SPEAK), std::vector<std::string>{"2001,1000"});
    EXPECT_EQ(b->calls(SLOT_START_PLAYING), std::vector<std::string>{"2001,1000"});
    EXPECT_EQ(tones(), (std::vector<int>{1568, 1318}));

    ASSERT_EQ(release(*a), 0);
    ASSERT_TRUE(until([&] { return a->status() == SESSION_STATUS_IDLE; }));
    ASSERT_TRUE(server.wait_count("ptt.rr.ReleaseMic", 1));
    // The release follows the last voice the dispatcher sent.
    double released = server.received("ptt.rr.ReleaseMic")[0].at;
    for (const auto &r : server.relayed())
        EXPECT_LE(r.at, released);
    ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_IDLE; }));
    EXPECT_EQ(b->calls(SLOT_STOP_PLAYING), std::vector<std::string>{"2001,1000"});
    EXPECT_EQ(b->calls(SLOT_USER_STOP_SPEAK), std::vector<std::string>{"2001,1000"});
    // The listener's tone comes once its player has drained.
    ASSERT_TRUE(until([&] { return tones().size() == 4; }));
    EXPECT_EQ(tones(), (std::vector<int>{1568, 1318, 3700, 1175}));
    EXPECT_EQ(a->calls(SLOT_STOP_SPEAK), std::vector<std::string>{"2001"});
    EXPECT_TRUE(a->calls(SLOT_ERROR).empty());
    EXPECT_TRUE(b->calls(SLOT_ERROR).empty());
}

TEST_F(Floor, TheListenerCannotTalkOverAHigherRole)
{
    ASSERT_EQ(press(*a), 0);
    ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_LISTENING; }));
    EXPECT_EQ(press(*b), -1);
    sync();
    EXPECT_EQ(b->calls(SLOT_ERROR), std::vector<std::string>{"-45"});
    EXPECT_EQ(tones(), (std::vector<int>{1568, 1318, 2600}));
    auto requests = server.received("ptt.rr.RequestMic");
    ASSERT_EQ(requests.size(), 1u) << "nothing sent for alice";
    EXPECT_EQ(requests[0].text.find("uid: 1000"), requests[0].text.find("uid:"));
}

// The server dies two seconds into a talk and comes back after a short or a
// long outage. The talker's talk ends at once and visibly (stop_speak with
// one -21, nothing left to send), the listener hears the talk end, both come
// back online and a new talk goes through. Two notes: time here is the test
// clock, which stands still while the engines notice the closed link; and
// the long outage runs past the three failed start-ups that report an idle
// engine's outage, without a second -21 for the talker.
TEST_F(Floor, ALostLinkEndsTheTalkAtOnceAndTheTalkResumesAfterTheOutage)
{
    for (double outage : {3.0, 12.0}) {
        SCOPED_TRACE(outage);
        a->clear();
        b->clear();
        ASSERT_EQ(press(*a), 0);
        ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_LISTENING; }));
        advance(2.0, 0.02);
        ASSERT_EQ(a->status(), SESSION_STATUS_SPEAKING);

        server.stop();
        double killed = hal_time_now();
        ASSERT_TRUE(until(
            [&] { return !a->calls(SLOT_STOP_SPEAK).empty() && !a->calls(SLOT_ERROR).empty(); }));
        EXPECT_LE(hal_time_now() - killed, 3.0);
        EXPECT_EQ(a->calls(SLOT_STOP_SPEAK), std::vector<std::string>{"2001"});
        EXPECT_EQ(a->calls(SLOT_ERROR), std::vector<std::string>{"-21"});
        // Nothing is left that could send voice, and the talk key reads up.
        EXPECT_EQ(a->on_looper([&] {
            session *s = sessionset_current(a->engine->sessionset);
            return s ? (int)(s->ostream != nullptr) + 10 * session_is_talking(s) : 0;
        }),
                  0);
        EXPECT_EQ(release(*a), -1);
        // The listener hears the talk end (its voice stops at the kill).
        ASSERT_TRUE(until([&] { return !b->calls(SLOT_USER_STOP_SPEAK).empty(); }));
        EXPECT_EQ(b->calls(SLOT_USER_STOP_SPEAK), std::vector<std::string>{"2001,1000"});
        EXPECT_EQ(b->calls(SLOT_STOP_PLAYING), std::vector<std::string>{"2001,1000"});

        advance(outage - (hal_time_now() - killed), 0.1);
        std::string error;
        ASSERT_TRUE(server.restart(&error)) << error;
        ASSERT_TRUE(until([&] {
            advance(0.5, 0.1);
            return a->online() && b->online() && a->status() == SESSION_STATUS_IDLE &&
                   b->status() == SESSION_STATUS_IDLE;
        }));
        // One -21 for the talker's outage, whatever its length.
        EXPECT_EQ(a->calls(SLOT_ERROR), std::vector<std::string>{"-21"});
        EXPECT_EQ(a->calls(SLOT_START_SPEAK).size(), a->calls(SLOT_STOP_SPEAK).size());

        ASSERT_EQ(press(*a), 0);
        ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_LISTENING; }));
        EXPECT_EQ(a->calls(SLOT_START_SPEAK), (std::vector<std::string>{"2001", "2001"}));
        ASSERT_EQ(release(*a), 0);
        ASSERT_TRUE(until([&] { return a->status() == SESSION_STATUS_IDLE; }));
        ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_IDLE; }));
        EXPECT_EQ(a->calls(SLOT_START_SPEAK).size(), a->calls(SLOT_STOP_SPEAK).size());
        advance(1.5); // one talk request a second
    }
}

// An unload tells the application nothing more, not even of the talk and the
// playback it cuts short; a logout ends both visibly.
TEST_F(Floor, ALogoutReportsTheEndsOfTalksAnUnloadDoesNot)
{
    ASSERT_EQ(press(*a), 0);
    ASSERT_TRUE(until([&] { return b->status() == SESSION_STATUS_LISTENING; }));
    a->clear();
    b->clear();
    EXPECT_EQ(b->on_looper([&] { return lirko_logout(b->engine); }), 0);
    ASSERT_TRUE(until([&] { return !b->calls(SLOT_USER_STOP_SPEAK).empty(); }));
    EXPECT_EQ(b->calls(SLOT_STOP_PLAYING), std::vector<std::string>{"2001,1000"});
    EXPECT_EQ(b->calls(SLOT_USER_STOP_SPEAK), std::vector<std::string>{"2001,1000"});

    lirko_destroy(&a->engine);
    EXPECT_TRUE(a->calls().empty());
}
