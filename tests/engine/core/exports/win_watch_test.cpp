// Watched groups through the public header: an old server (1.08.07) is not
// asked and the watch session opens at once; a newer one is asked with one
// WatchGroup and the session opens only with its acknowledgement. The
// watched group's voice plays, and stopping says ByeGroup on the group's
// voice socket.
#include "ptt_rr.pb-c.h"
#include "raw_client.h"
#include "win_exports.h"

#include <cstdlib>

using namespace ptt::test;

namespace
{

class WinWatch : public WinServerTest
{
  protected:
    // The server's version goes into the directory per test (see online).
    WinWatch() : WinServerTest(50'000'000, true, false) {}
    void SetUp() override
    {
        WinServerTest::SetUp();
        Heard::get().clear();
    }
    void online(int patch)
    {
        server.edit_directory([patch](Directory &d) {
            d.config.present = true;
            d.config.audio_enabled = true;
            d.config.default_group = 2001;
            d.version[0] = 1;
            d.version[1] = 8;
            d.version[2] = patch;
        });
        server.sync();
        ASSERT_TRUE(write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() +
                                                           "\n[record]\nprobation = 0\n"));
        ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
        win_register_heard();
        ASSERT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
        win_advance(server, 5.0);
        ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));
        ASSERT_TRUE(wait_until([] { return Heard::get().has("current 2001"); }));
        server.sync();
        server.clear_received();
    }
    // WatchGroup requests sent on the signalling connection (the watch
    // session's own keep-alive WatchGroup travels on its voice socket).
    size_t tcp_watch_requests()
    {
        size_t n = 0;
        for (const auto &r : server.received("ptt.rr.WatchGroup"))
            n += !r.udp;
        return n;
    }
};

} // namespace

TEST_F(WinWatch, AnOldServerIsNotAskedAndTheSessionOpensAtOnce)
{
    online(7);
    ASSERT_EQ(lirko_win_startWatchGroup(2003), 0);
    EXPECT_EQ(lirko_win_getWatchedGroupCount(), 1) << "open before anything came back";
    EXPECT_TRUE(wait_until([] { return Heard::get().has("start_watch 2003"); }));
    win_advance(server, 1.0);
    EXPECT_EQ(tcp_watch_requests(), 0u);
    EXPECT_EQ(lirko_win_startWatchGroup(2003), -1) << "already watched";
    win_group_t groups[2];
    ASSERT_EQ(lirko_win_getWatchGroups(groups, 2), 1);
    EXPECT_EQ(groups[0].gid, 2003u);
    EXPECT_EQ(lirko_win_getWatchGroups(groups, 0), -1);
}

TEST_F(WinWatch, ANewServerOpensTheSessionWithItsAnswerAndTheVoicePlays)
{
    online(8);
    // The server holds its answer back until the test sends it.
    server.ignore("ptt.rr.WatchGroup");
    ASSERT_EQ(lirko_win_startWatchGroup(2003), 0);
    ASSERT_TRUE(server.wait_count("ptt.rr.WatchGroup", 1));
    win_advance(server, 2.0);
    EXPECT_EQ(tcp_watch_requests(), 1u);
    EXPECT_EQ(win_text_of(server, "ptt.rr.WatchGroup"),
              "gid: 2003 uid: 1000 expect_pt: 103 accept_pt: 103 store: true");
    EXPECT_EQ(lirko_win_getWatchedGroupCount(), 0) << "no session before the answer";
    EXPECT_FALSE(Heard::get().has("start_watch 2003"));

    server.ignore("ptt.rr.WatchGroup", false);
    Ptt__Rr__WatchGroupAck ack = PTT__RR__WATCH_GROUP_ACK__INIT;
    ack.result = 0;
    ack.has_gid = 1;
    ack.gid = 2003;
    server.push(ack.base);
    ASSERT_TRUE(wait_until([] { return lirko_win_getWatchedGroupCount() == 1; }));
    EXPECT_TRUE(wait_until([] { return Heard::get().has("start_watch 2003"); }));
    EXPECT_EQ(tcp_watch_requests(), 1u);

    // Alice talks in the watched group; her voice reaches the watch session
    // and plays.
    RawMember alice(server, 1, 2003);
    win_advance(server, 2.0);
    alice.request(2003);
    ASSERT_TRUE(server.wait_count("ptt.rr.RequestMic", 1));
    for (uint16_t seq = 1; seq <= 10; seq++) {
        alice.voice(seq);
        lirko_win_getOnlineStatus();
    }
    EXPECT_TRUE(server.wait_relayed(1000, 10));
    EXPECT_TRUE(wait_until([] { return Heard::get().has("playing 1001 2003"); }))
        << Heard::get().all();
    EXPECT_TRUE(wait_until([] { return lirko_win_isListening() == 1; }));
    win_user_t playing = {};
    ASSERT_EQ(lirko_win_getPlayingSoundUser(&playing), 0);
    EXPECT_EQ(playing.uid, 1001u);
    EXPECT_EQ(playing.gid, 2003u);
    EXPECT_EQ(playing.has_gid, 1u);
    EXPECT_STREQ(playing.name, "Alice");
    win_user_t speaking[2] = {};
    ASSERT_EQ(lirko_win_getSpeakingUsersSize(), 1);
    ASSERT_EQ(lirko_win_getSpeakingUsers(speaking, 2), 1);
    EXPECT_EQ(speaking[0].uid, 1001u);
    EXPECT_EQ(speaking[0].gid, 2003u);

    // Stopping says goodbye on the group's voice socket.
    server.clear_received();
    ASSERT_EQ(lirko_win_stopWatchGroup(2003), 0);
    EXPECT_EQ(lirko_win_getWatchedGroupCount(), 0);
    ASSERT_TRUE(server.wait_count("ptt.rr.ByeGroup", 1));
    auto bye = server.received("ptt.rr.ByeGroup");
    EXPECT_TRUE(bye[0].udp);
    EXPECT_EQ(bye[0].gid, 2003u);
    EXPECT_EQ(bye[0].text, "gid: 2003 uid: 1000");
    EXPECT_EQ(lirko_win_stopWatchGroup(2003), -1);
    EXPECT_EQ(lirko_win_getCurrentGroup(), 2001u) << "the joined group is untouched";
}
