// The talk exports through the public header: joining and leaving, pressing
// and releasing talk, and whether the own user talks or a member's voice
// plays.
#include "ptt_rr.pb-c.h"
#include "raw_client.h"
#include "win_fixture.h"

#include <cstdlib>
#include <mutex>

using namespace ptt::test;

namespace
{

struct TalkReports {
    std::mutex m;
    std::vector<std::string> calls;
    static TalkReports &get()
    {
        static TalkReports r;
        return r;
    }
    static void add(const std::string &c)
    {
        std::lock_guard<std::mutex> lock(get().m);
        get().calls.push_back(c);
    }
    bool has(const std::string &c)
    {
        std::lock_guard<std::mutex> lock(m);
        for (const std::string &x : calls) {
            if (x == c)
                return true;
        }
        return false;
    }
};

class WinTalk : public WinServerTest
{
  protected:
    void online()
    {
        ASSERT_TRUE(write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() +
                                                           "\n[record]\nprobation = 0\n"));
        ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
        lirko_win_set_current_group_cb(
            [](gid_t gid, const char *) { TalkReports::add("group " + std::to_string(gid)); });
        lirko_win_set_start_speak_cb(
            [](gid_t gid, const char *) { TalkReports::add("speak " + std::to_string(gid)); });
        lirko_win_set_stop_speak_cb(
            [](gid_t gid, const char *) { TalkReports::add("stop " + std::to_string(gid)); });
        lirko_win_set_start_playing_cb([](uid_t uid, const char *, gid_t, const char *) {
            TalkReports::add("playing " + std::to_string(uid));
        });
        ASSERT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
        win_advance(server, 5.0);
        ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));
        ASSERT_TRUE(wait_until([] { return TalkReports::get().has("group 2001"); }));
    }
};

} // namespace

TEST_F(WinTalk, WithoutAnEngineNothingTalks)
{
    EXPECT_EQ(lirko_win_joinGroup(2001), -1);
    EXPECT_EQ(lirko_win_leaveGroup(), -1);
    EXPECT_EQ(lirko_win_startSpeak(), -1);
    EXPECT_EQ(lirko_win_stopSpeak(), -1);
    EXPECT_EQ(lirko_win_isSpeaking(), 0);
    EXPECT_EQ(lirko_win_isListening(), 0);
}

TEST_F(WinTalk, JoinTalkListenAndLeave)
{
    write_file(cwd.file("custom.ini"), "");
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
    EXPECT_EQ(lirko_win_joinGroup(2001), -1) << "not online";
    lirko_win_on_unload();

    online();
    // The voice socket answers shortly after the join; until then the
    // request is refused.
    ASSERT_TRUE(wait_until([] { return lirko_win_startSpeak() == 0; }));
    EXPECT_EQ(lirko_win_isSpeaking(), 1);
    ASSERT_TRUE(server.wait_count("ptt.rr.RequestMic", 1));
    ASSERT_TRUE(wait_until([] { return TalkReports::get().has("speak 2001"); }));
    EXPECT_EQ(lirko_win_stopSpeak(), 0);
    ASSERT_TRUE(wait_until([] { return lirko_win_isSpeaking() == 0; }));
    EXPECT_EQ(lirko_win_stopSpeak(), -1) << "not talking";
    EXPECT_EQ(lirko_win_joinGroup(0), -1);
    EXPECT_EQ(lirko_win_joinGroup(2001), 0) << "already in it";

    RawMember alice(server, 1, 2001);
    server.sync();
    alice.request(2001);
    ASSERT_TRUE(wait_until([] { return lirko_win_isListening() == 1; }));
    EXPECT_TRUE(TalkReports::get().has("playing 1001"));
    alice.request(2001, "ptt.rr.ReleaseMic");
    ASSERT_TRUE(wait_until([] { return lirko_win_isListening() == 0; }));

    EXPECT_EQ(lirko_win_leaveGroup(), 0);
    ASSERT_TRUE(server.wait_count("ptt.rr.LeaveGroup", 1));
    EXPECT_EQ(lirko_win_leaveGroup(), -1) << "no group left";
    ASSERT_TRUE(wait_until([] { return TalkReports::get().has("group 0"); }));
    EXPECT_EQ(lirko_win_startSpeak(), -1);
}
