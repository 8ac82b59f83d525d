// The engine's read operations over the directory and the talk state, the
// watched-group operations and the commands that send one request, from
// inside the engine.
#include "broadcast.h"
#include "cache.h"
#include "lirko.h"
#include "lirko_commands.h"
#include "lirko_query.h"
#include "lirko_results.h"
#include "lirko_user_commands.h"
#include "lirko_watch.h"
#include "list.h"
#include "ptt_push.pb-c.h"
#include "raw_client.h"
#include "sessionset.h"
#include "talk_fixture.h"

#include <algorithm>

using namespace ptt::test;

namespace
{

constexpr uint32_t kBig = 2004; // ten members, the own user first in display order

class Queries : public TalkFixture
{
  protected:
    void edit(Directory &d) override
    {
        TalkFixture::edit(d);
        DirGroup g;
        g.gid = kBig;
        g.type = 1;
        g.name = "Ten";
        d.groups[kBig] = g;
        d.members.push_back({kBig, 1000, true, std::nullopt});
        d.online.insert(1000);
        for (uint32_t i = 1; i <= 9; i++) {
            DirUser u;
            u.uid = 1100 + i;
            u.account = "m" + std::to_string(i);
            u.password_md5 = std::string(32, '0');
            u.role = 1;
            u.name = "m" + std::to_string(i);
            d.users[u.uid] = u;
            d.members.push_back({kBig, u.uid, false, std::nullopt});
        }
    }
    TalkEngine &online()
    {
        TalkEngine &e = add_engine();
        join(e, "dispatcher", "dispatcher-pw");
        return e;
    }
    // The uids of a member page, the member array freed again.
    std::vector<uint32_t> page(TalkEngine &e, int start, int count)
    {
        std::vector<uint32_t> uids;
        e.on_looper([&] {
            member_entry *out = nullptr;
            int n = lirko_query_memberlist(e.engine, kBig, start, count, &out);
            for (int i = 0; i < n; i++)
                uids.push_back(out[i].uid);
            lirko_free_members_array(&out, n);
            return n;
        });
        return uids;
    }
};

} // namespace

TEST_F(Queries, MemberPagesDropTheOwnUserAfterTheCut)
{
    TalkEngine &e = online();
    // The group's members arrive after the login's group list.
    ASSERT_TRUE(wait_until([&] {
        sync();
        return page(e, 0, -1).size() == 9;
    })) << page(e, 0, -1).size();
    EXPECT_EQ(page(e, 0, 5), (std::vector<uint32_t>{1101, 1102, 1103, 1104}));
    EXPECT_EQ(page(e, 5, 5), (std::vector<uint32_t>{1105, 1106, 1107, 1108, 1109}));
    EXPECT_EQ(page(e, 8, 5), (std::vector<uint32_t>{1108, 1109}));
    EXPECT_TRUE(page(e, 0, -2).empty());
    EXPECT_TRUE(page(e, -1, 3).empty()) << "a negative start holds nobody";
    EXPECT_TRUE(page(e, 10, 5).empty());
    EXPECT_EQ(e.on_looper([&] { return lirko_query_memberlist_size(e.engine, kBig); }), 9);

    // Refresh asks the server again even though the group is held.
    size_t before = server.count("ptt.rr.QueryMembers");
    EXPECT_EQ(e.on_looper([&] {
        member_entry *out = nullptr;
        int n = lirko_query_memberlist_refresh(e.engine, kBig, 0, 3, &out, 1);
        lirko_free_members_array(&out, n);
        return n;
    }),
              2);
    sync();
    EXPECT_EQ(server.count("ptt.rr.QueryMembers"), before + 1);
}

TEST_F(Queries, LookupsGroupsAndStatus)
{
    TalkEngine &e = add_engine();
    lirko_t *en = e.engine;
    EXPECT_EQ(e.on_looper([&] { return lirko_get_userstatus(en); }), 3) << "never logged in";
    ASSERT_EQ(e.login("dispatcher", "dispatcher-pw"), 0);
    EXPECT_EQ(e.on_looper([&] { return lirko_get_userstatus(en); }), 3) << "logging in";
    advance(5.0);
    ASSERT_TRUE(wait_until([&] { return e.online(); }));
    EXPECT_EQ(e.on_looper([&] { return lirko_get_userstatus(en); }), 2);
    EXPECT_EQ(e.on_looper([&] { return (int)lirko_get_online_status(en); }), 3);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.on_looper([&] { return (int)cache_group_count(en->cache); }) == 4;
    }));

    // Index and gid agree both ways.
    int count = e.on_looper([&] {
        cache_group *groups = nullptr;
        int n = lirko_query_grouplist(en, &groups);
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(lirko_get_group_by_index(en, i)->gid, groups[i].gid);
            EXPECT_EQ(lirko_get_group_index_by_gid(en, groups[i].gid), i);
            EXPECT_EQ(groups[i].prior, 0) << "the list carries type, gid and name only";
        }
        lirko_free_groups_array(&groups, n);
        EXPECT_EQ(groups, nullptr);
        return n;
    });
    EXPECT_EQ(count, 4);
    EXPECT_EQ(e.on_looper([&] { return lirko_get_group_by_index(en, 4) == nullptr; }), 1);
    EXPECT_EQ(e.on_looper([&] { return lirko_get_group_by_index(en, -1) == nullptr; }), 1);
    EXPECT_EQ(e.on_looper([&] { return lirko_get_group_index_by_gid(en, 9999); }), -1);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.on_looper([&] {
            cache_group *g = lirko_get_current_group(en);
            return g ? (int)g->gid : 0;
        }) == 2001;
    }));
    EXPECT_EQ(e.on_looper([&] { return (int)lirko_get_current_user(en)->uid; }), 1000);
    // An unknown user is asked for and not found yet.
    server.clear_received();
    EXPECT_EQ(e.on_looper([&] { return lirko_get_user(en, 4242) == nullptr; }), 1);
    sync();
    EXPECT_EQ(server.count("ptt.rr.QueryUsers"), 1u);
    // The contacts come with their names.
    std::vector<std::string> names;
    e.on_looper([&] {
        cache_user *contacts = nullptr;
        int n = lirko_query_contactlist(en, &contacts);
        for (int i = 0; i < n; i++)
            names.push_back(contacts[i].name ? contacts[i].name : "");
        lirko_free_contacts_array(en, &contacts, n);
        return n;
    });
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Alice", "Dave"}));
}

TEST_F(Queries, SpeakersAreFreedByTheCountHandedOut)
{
    TalkEngine &e = online();
    lirko_t *en = e.engine;
    RawMember alice(server, 1, 2001);
    sync();
    alice.request(2001);
    for (uint16_t seq = 1; seq <= 5; seq++)
        alice.voice(seq);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.on_looper([&] { return lirko_is_listening(en); }) == 1;
    }));
    EXPECT_EQ(e.on_looper([&] { return lirko_is_speaking(en); }), 0);
    e.on_looper([&] {
        cache_user *users = nullptr;
        int n = lirko_get_speaking_users(en, &users);
        EXPECT_EQ(n, 1);
        EXPECT_EQ(users[0].uid, 1001u);
        EXPECT_EQ(users[0].gid, 2001u);
        EXPECT_STREQ(users[0].name, "Alice");
        // Watching a second group now changes the session count; the free
        // goes by the count handed out, not by the sessions there are now.
        cache_group g = *cache_get_group_by_gid(en->cache, 2003);
        EXPECT_EQ(sessionset_start_watch_group(en->sessionset, &g), 0);
        lirko_free_users(en, &users, n);
        EXPECT_EQ(users, nullptr);
        cache_user record = {};
        EXPECT_EQ(lirko_get_playing_sound_user(en, &record), 1);
        EXPECT_EQ(record.uid, 1001u);
        EXPECT_EQ(record.has_gid, 1);
        free(record.name);
        return 0;
    });
}

TEST_F(Queries, WatchListCopiesAndStops)
{
    TalkEngine &e = online();
    lirko_t *en = e.engine;
    EXPECT_EQ(lirko_watch_groupex(), 0);
    // The fixture's server is newer than 1.08.07: the watch is asked for.
    server.clear_received();
    ASSERT_EQ(e.on_looper([&] { return lirko_watch_group(en, 2003); }), 0);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.on_looper([&] { return lirko_get_watch_group_count(en); }) == 1;
    }));
    // A group only a department lists can be watched as well.
    e.on_looper([&] { return lirko_send_query_department_tree(en, 3000); });
    sync();
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.on_looper([&] { return cache_get_department_group_by_gid(en->cache, 2002) != 0; });
    }));
    e.on_looper([&] {
        cache_group *mine = nullptr;
        int n = lirko_get_watch_groups(en, &mine);
        EXPECT_EQ(n, 1);
        EXPECT_EQ(mine[0].gid, 2003u);
        EXPECT_STREQ(mine[0].name, "All Hands");
        cache_group *again = mine;
        EXPECT_EQ(lirko_get_watch_groups(en, &again), 0) << "a held array is refused";
        lirko_free_groups_array(&mine, n);
        return 0;
    });
    // The current group's own session, watched too, stays alive when the
    // watch stops.
    ASSERT_EQ(e.on_looper([&] {
        cache_group g = *cache_get_group_by_gid(en->cache, 2001);
        return sessionset_start_watch_group(en->sessionset, &g);
    }),
              0);
    EXPECT_EQ(e.on_looper([&] { return lirko_get_watch_group_count(en); }), 2);
    EXPECT_EQ(e.on_looper([&] { return lirko_stop_watch_group(en, 2001); }), 0);
    EXPECT_EQ(e.on_looper([&] { return (int)sessionset_current_gid(en->sessionset); }), 2001);
    EXPECT_EQ(e.on_looper([&] { return lirko_stop_watch_group(en, 2003); }), 0);
    EXPECT_EQ(e.on_looper([&] { return lirko_stop_watch_group(en, 2003); }), -1);
    EXPECT_EQ(e.on_looper([&] { return lirko_get_watch_group_count(en); }), 0);
}

TEST_F(Queries, CommandsAndTheOfflineGate)
{
    TalkEngine &e = online();
    lirko_t *en = e.engine;
    const uint32_t uids[] = {1001, 1002};
    const char *accounts[] = {"alice", "bob"};
    server.clear_received();
    EXPECT_EQ(e.on_looper([&] { return lirko_call(en, nullptr, 1); }), -1);
    EXPECT_EQ(e.on_looper([&] { return lirko_singlecall(en, 1001); }), 0);
    EXPECT_EQ(e.on_looper([&] { return lirko_make_contacts_by_uid(en, 2, uids, "hi"); }), 0);
    EXPECT_EQ(e.on_looper([&] { return lirko_make_contacts_by_account(en, 2, accounts, nullptr); }),
              0);
    EXPECT_EQ(e.on_looper([&] { return lirko_remove_contacts(en, 1, uids); }), 0);
    EXPECT_EQ(e.on_looper([&] { return lirko_change_name(en, ""); }), -1);
    EXPECT_EQ(e.on_looper([&] { return lirko_change_password(en, "a", ""); }), -1);
    sync();
    auto text = [&](const char *type) {
        auto r = server.received(type);
        return r.empty() ? std::string("(none)") : r.back().text;
    };
    EXPECT_EQ(text("ptt.rr.SingleCall"), "uid: 1001");
    EXPECT_EQ(text("ptt.rr.RemoveContacts"), "uids: 1001");
    EXPECT_EQ(server.count("ptt.rr.MakeContacts"), 2u);
    EXPECT_EQ(server.count("ptt.rr.ChangeName") + server.count("ptt.rr.ChangePassword"), 0u);

    // Broadcast player commands and the hand-made frame.
    EXPECT_EQ(lirko_start_broadcast(nullptr, 1), -1);
    lirko_stop_broadcast(nullptr);
    EXPECT_EQ(e.on_looper([&] { return lirko_start_broadcast(en, 424242); }), -1) << "no such id";
    e.on_looper([&] {
        lirko_stop_broadcast(en);
        EXPECT_EQ(broadcast_pending_count(en->broadcast), 0u);
        return 0;
    });
    EXPECT_EQ(lirko_send_mms(nullptr, (const uint8_t *)"x", 1, "ptt.rr.Dispatch"), -1);
    EXPECT_EQ(e.on_looper([&] { return lirko_send_mms(en, nullptr, 4, "ptt.rr.Dispatch"); }), -1);

    // Small settings.
    char version[21];
    EXPECT_EQ(e.on_looper([&] { return lirko_get_version(en, version); }), 0);
    EXPECT_STREQ(version, "WIN-20231212-release");
    EXPECT_EQ(e.on_looper([&] { return lirko_get_broadcast_max_saved_count(en); }), 3);
    e.on_looper([&] {
        lirko_set_audio_prompt(en, 1);
        en->invite_failed = 0xFFFFFFFFu;
        lirko_cancel_invite_failed(en);
        EXPECT_EQ(en->invite_failed, 0u);
        lirko_set_locale_language(en, 2);
        EXPECT_EQ(lirko_get_locale_language(en), 2u);
        EXPECT_EQ(lirko_get_power_mode(en), en->sessionset->power_mode);
        return 0;
    });

    // Offline: the gate reports the last error and refuses while it is set.
    server.clear_received();
    e.on_looper([&] {
        en->login_state = LIRKO_STATUS_OFFLINE;
        en->last_error = 0;
        return 0;
    });
    e.clear();
    EXPECT_EQ(e.on_looper([&] { return lirko_call(en, uids, 2); }), 0) << "no error yet: sent";
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"0"});
    e.on_looper([&] {
        en->last_error = -20;
        return 0;
    });
    EXPECT_EQ(e.on_looper([&] { return lirko_singlecall_full_duplex(en, 1001); }), -1);
    sync();
    EXPECT_EQ(server.count("ptt.rr.Call"), 1u);
    EXPECT_EQ(server.count("ptt.rr.SingleCall"), 0u);
}

TEST_F(Queries, ContactAnswersAndTheBroadcastList)
{
    TalkEngine &e = online();
    lirko_t *en = e.engine;
    // Two pending requests; refusing one drops it at once.
    Ptt__Push__ContactshipAsked__Request r1 = PTT__PUSH__CONTACTSHIP_ASKED__REQUEST__INIT;
    Ptt__Push__ContactshipAsked__Request r2 = PTT__PUSH__CONTACTSHIP_ASKED__REQUEST__INIT;
    r1.uid = 1002;
    r2.uid = 1003;
    Ptt__Push__ContactshipAsked__Request *reqs[] = {&r1, &r2};
    Ptt__Push__ContactshipAsked asked = PTT__PUSH__CONTACTSHIP_ASKED__INIT;
    asked.n_requests = 2;
    asked.requests = reqs;
    server.push(asked.base);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.on_looper([&] { return (int)list_count(en->cache->request_contacts); }) == 2;
    }));
    const uint32_t refuse[] = {1003};
    EXPECT_EQ(e.on_looper([&] { return lirko_response_contacts(en, 0, nullptr, 1, refuse); }), 0);
    std::vector<uint32_t> left;
    e.on_looper([&] {
        request_contact *out = nullptr;
        int n = lirko_query_requestcontactlist(en, &out);
        for (int i = 0; i < n; i++)
            left.push_back(out[i].uid);
        lirko_free_requestcontactlist_array(&out, n);
        return 0;
    });
    EXPECT_EQ(left, std::vector<uint32_t>{1002});
    sync();
    auto r = server.received("ptt.rr.MakeContactsResponse");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].text, "refused_uids: 1003");

    // Received broadcasts: listed oldest first, fetched and removed by id.
    Ptt__Worksheet w1 = PTT__WORKSHEET__INIT;
    Ptt__Worksheet w2 = PTT__WORKSHEET__INIT;
    w1.current_address = (char *)"first";
    w2.current_address = (char *)"second";
    Ptt__Worksheet *ws[] = {&w1, &w2};
    Ptt__Push__NewWorksheet sheet = PTT__PUSH__NEW_WORKSHEET__INIT;
    sheet.n_worksheets = 2;
    sheet.worksheets = ws;
    server.push(sheet.base);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.on_looper([&] { return (int)list_count(en->cache->newsheets); }) == 2;
    }));
    e.on_looper([&] {
        newsheet *list = nullptr;
        int n = lirko_get_broadcastlist(en, &list);
        EXPECT_EQ(n, 2);
        EXPECT_STREQ(list[0].text, "first");
        uint32_t first = list[0].id;
        lirko_free_newsheet_array(&list, (uint32_t)n);
        EXPECT_STREQ(lirko_get_broadcast(en, first)->text, "first");
        lirko_remove_boadcasts(en, &first, 1);
        EXPECT_EQ(lirko_get_broadcast(en, first), nullptr);
        EXPECT_EQ(list_count(en->cache->newsheets), 1u);
        lirko_clear_broadcastlist(en);
        EXPECT_EQ(list_count(en->cache->newsheets), 0u);
        return 0;
    });
}
