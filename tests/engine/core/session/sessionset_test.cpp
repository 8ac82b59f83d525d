// The session set: the default join, joins and their failures, the old and
// new forms of the join answer, watched sessions, the CurrentGroup push.
#include "cache.h"
#include "kvmos.h"
#include "lirko_talk.h"
#include "list.h"
#include "ptt_push.pb-c.h"
#include "raw_client.h"
#include "talk_fixture.h"

#include <arpa/inet.h>

using namespace ptt::test;

namespace
{

class SessionSet : public TalkFixture
{
  protected:
    TalkEngine &joined(const std::string &ini = "")
    {
        TalkEngine &e = add_engine(ini);
        join(e, "dispatcher", "dispatcher-pw");
        return e;
    }
    sessionset *set(TalkEngine &e)
    {
        return e.engine->sessionset;
    }
    uint32_t current_gid(TalkEngine &e)
    {
        return (uint32_t)e.on_looper([&] { return (int)sessionset_current_gid(set(e)); });
    }
    std::vector<uint32_t> joins()
    {
        std::vector<uint32_t> out;
        for (const auto &r : server.received("ptt.rr.JoinGroup"))
            out.push_back(reinterpret_cast<const Ptt__Rr__JoinGroup *>(r.msg.get())->gid);
        return out;
    }
    int watch(TalkEngine &e, uint32_t gid)
    {
        return e.on_looper([&] {
            return sessionset_start_watch_group(set(e),
                                                cache_get_group_by_gid(e.engine->cache, gid));
        });
    }
};

class SessionSetNoDefault : public SessionSet
{
    void edit(Directory &d) override
    {
        TalkFixture::edit(d);
        d.config.default_group.reset();
    }
};

} // namespace

TEST_F(SessionSet, DefaultJoinTakesTheSavedGroupThenTheDefault)
{
    struct row {
        const char *last_group;
        uint32_t joined;
    } rows[] = {{"2002", 2002}, {"9999", 2001}, {nullptr, 2001}};
    for (const row &r : rows) {
        SCOPED_TRACE(r.last_group ? r.last_group : "none");
        server.clear_received();
        std::string ini = r.last_group
                              ? std::string("[account]\nlast_group = ") + r.last_group + "\n"
                              : std::string();
        TalkEngine &e = joined(ini);
        EXPECT_EQ(joins(), std::vector<uint32_t>{r.joined});
        EXPECT_EQ(current_gid(e), r.joined);
        engines.clear();
    }
}

TEST_F(SessionSetNoDefault, WithoutSavedOrDefaultGroupTheFirstIsJoined)
{
    TalkEngine &e = joined();
    uint32_t first =
        (uint32_t)e.on_looper([&] { return (int)cache_group_at(e.engine->cache, 0)->gid; });
    EXPECT_EQ(joins(), std::vector<uint32_t>{first});
    EXPECT_EQ(current_gid(e), first);
}

TEST_F(SessionSet, JoinsAreOneAtATimeAndFailuresAreReported)
{
    TalkEngine &e = joined();
    auto join_gid = [&](uint32_t gid) {
        return e.on_looper([&] { return lirko_join_group(e.engine, gid); });
    };
    EXPECT_EQ(join_gid(2001), 0) << "already in it";
    EXPECT_EQ(joins().size(), 1u);
    EXPECT_EQ(join_gid(0), -1);

    server.set_join_result(-5);
    EXPECT_EQ(join_gid(2002), 0);
    server.sync();
    EXPECT_EQ(server.count("ptt.rr.LeaveGroup"), 1u) << "the group before is left first";
    ASSERT_TRUE(wait_until([&] {
        sync();
        return !e.calls(SLOT_ERROR).empty();
    }));
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"-30"});
    // Once for the group left, once for the failed join.
    EXPECT_EQ(e.calls(SLOT_CURRENT_GROUP), (std::vector<std::string>{"0", "0"}));
    EXPECT_EQ(current_gid(e), 0u);

    // No answer: a second join waits, and the first times out after 3.0 s.
    server.set_join_result(std::nullopt);
    server.ignore("ptt.rr.JoinGroup");
    e.clear();
    EXPECT_EQ(join_gid(2002), 0);
    EXPECT_EQ(join_gid(2003), -1);
    advance(2.5);
    EXPECT_TRUE(e.calls(SLOT_ERROR).empty());
    advance(1.0);
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"-31"});
    server.ignore("ptt.rr.JoinGroup", false);
    EXPECT_EQ(join_gid(2003), 0) << "the timed-out join no longer blocks";
    ASSERT_TRUE(wait_until([&] { return current_gid(e) == 2003; }));
}

TEST_F(SessionSet, TheOldAnswerCarriesTheVoiceAddressItself)
{
    TalkEngine &e = joined();
    server.set_join_result(std::nullopt, true);
    ASSERT_EQ(e.on_looper([&] { return lirko_join_group(e.engine, 2002); }), 0);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return current_gid(e) == 2002 && e.status() == SESSION_STATUS_IDLE;
    }));
    e.on_looper([&] {
        session *s = sessionset_current(set(e));
        EXPECT_EQ(s->server_ip, htonl(INADDR_LOOPBACK));
        EXPECT_EQ(s->server_port, htons(server.voice_port(2002)));
        EXPECT_EQ(s->prior, 0);
        return 0;
    });
}

TEST_F(SessionSet, AWatchedGroupKeepsItsSessionAcrossJoinAndLeave)
{
    TalkEngine &e = joined();
    // WatchGroup goes out on every tick until it is acknowledged.
    server.ignore("ptt.rr.WatchGroup");
    ASSERT_EQ(watch(e, 2002), 0);
    EXPECT_EQ(watch(e, 2002), -1) << "watched already";
    advance(2.0);
    EXPECT_GE(count_to("ptt.rr.WatchGroup", 2002), 2u);
    server.ignore("ptt.rr.WatchGroup", false);
    advance(1.0);
    size_t watches = count_to("ptt.rr.WatchGroup", 2002);
    advance(3.0);
    EXPECT_EQ(count_to("ptt.rr.WatchGroup", 2002), watches);
    session *watched = nullptr;
    e.on_looper([&] {
        watched = (session *)list_front(set(e)->watched);
        return 0;
    });
    ASSERT_NE(watched, nullptr);
    uint32_t gids[2] = {};
    EXPECT_EQ(e.on_looper([&] { return sessionset_get_watch_gids(set(e), gids, 0); }), -1);
    EXPECT_EQ(gids[0], 0u) << "nothing written";
    EXPECT_EQ(e.on_looper([&] { return sessionset_get_watch_gids(set(e), gids, 2); }), 1);
    EXPECT_EQ(gids[0], 2002u);

    // Joining it makes the watching session the current one: no second
    // socket.
    ASSERT_EQ(e.on_looper([&] { return lirko_join_group(e.engine, 2002); }), 0);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return current_gid(e) == 2002;
    }));
    e.on_looper([&] {
        EXPECT_EQ(sessionset_current(set(e)), watched);
        EXPECT_TRUE(watched->is_member && watched->is_watcher);
        return 0;
    });
    // Leaving keeps it watched.
    ASSERT_EQ(e.on_looper([&] { return lirko_leave_group(e.engine); }), 0);
    e.on_looper([&] {
        EXPECT_EQ(sessionset_current(set(e)), nullptr);
        EXPECT_EQ(list_front(set(e)->watched), watched);
        EXPECT_FALSE(watched->is_member);
        EXPECT_TRUE(watched->is_watcher);
        EXPECT_NE(watched->sock, nullptr);
        return 0;
    });
}

TEST_F(SessionSet, AWatchSessionThatCannotOpenIsFreed)
{
    TalkEngine &e = joined();
    int lists = e.on_looper([&] { return set(e)->mos->mos_count; });
    e.on_looper([&] {
        cache_group g = {};
        g.gid = 2003;
        g.name = (char *)"unreachable";
        g.ip = 0xFFFFFFFFu; // a broadcast address a plain UDP socket may not connect to
        g.port = 9;
        EXPECT_EQ(sessionset_start_watch_group(set(e), &g), -1);
        EXPECT_EQ(list_count(set(e)->watched), 0u);
        EXPECT_EQ(set(e)->mos->mos_count, lists);
        g.ip = 0;
        EXPECT_EQ(sessionset_start_watch_group(set(e), &g), -1) << "no address";
        return 0;
    });
}

TEST_F(SessionSet, ACurrentGroupPushMovesWithoutLeaving)
{
    TalkEngine &e = joined();
    Ptt__Group g = PTT__GROUP__INIT;
    Ptt__EncryptKey key = PTT__ENCRYPT_KEY__INIT;
    fill_group_record(server.directory().groups.at(2002), &g, &key);
    Ptt__Push__CurrentGroup push = PTT__PUSH__CURRENT_GROUP__INIT;
    push.gid = 2002;
    push.group = &g;
    server.send_to(1000, push.base);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return current_gid(e) == 2002 && e.status() == SESSION_STATUS_IDLE;
    }));
    EXPECT_EQ(server.count("ptt.rr.LeaveGroup"), 0u);
    EXPECT_EQ(e.calls(SLOT_CURRENT_GROUP), (std::vector<std::string>{"0", "2002"}));
}

TEST_F(SessionSet, SpeakersAndTheEndOfTheSet)
{
    TalkEngine &e = joined();
    ASSERT_EQ(watch(e, 2002), 0);
    Ptt__Push__MemberGetMic get = PTT__PUSH__MEMBER_GET_MIC__INIT;
    get.gid = 2001;
    get.uid = 1002;
    server.voice_push(2001, get.base);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.status() == SESSION_STATUS_LISTENING;
    }));
    sessionset_speaker speakers[4] = {};
    EXPECT_EQ(e.on_looper([&] { return sessionset_get_speakers(set(e), speakers, 4); }), 1);
    EXPECT_EQ(speakers[0].gid, 2001u);
    EXPECT_EQ(speakers[0].uid, 1002u);
    EXPECT_EQ(e.on_looper([&] { return sessionset_get_speakers(set(e), speakers, 0); }), 0);
    EXPECT_GE(e.on_looper([&] { return lirko_get_mos(e.engine); }), 3);
    // A logout ends every session.
    e.on_looper([&] { return lirko_logout(e.engine); });
    ASSERT_TRUE(
        wait_until([&] { return e.on_looper([&] { return set(e)->mos->mos_count == 0; }); }));
    e.on_looper([&] {
        EXPECT_EQ(sessionset_current(set(e)), nullptr);
        EXPECT_EQ(list_count(set(e)->watched), 0u);
        return 0;
    });
}
