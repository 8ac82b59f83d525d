// The command and directory exports through the public header: one row per
// export giving its arguments, its result, the request the server received
// and what the callbacks heard; refused destinations leave the caller's
// array as it was.
#include "ptt_rr.pb-c.h"
#include "win_exports.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

using namespace ptt::test;

namespace
{

class WinExports : public WinServerTest
{
  protected:
    WinExports() : WinServerTest(30'000'000) {}
    void SetUp() override
    {
        WinServerTest::SetUp();
        if (HasFatalFailure())
            return;
        server.edit_directory([](Directory &d) { d.user_department[1000] = 3001; });
        server.sync();
        Heard::get().clear();
    }
    void online()
    {
        ASSERT_TRUE(write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() +
                                                           "\n[record]\nprobation = 0\n"));
        ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
        lirko_win_set_online_status_cb(WinReports::on_status);
        lirko_win_set_error_cb(WinReports::on_error);
        win_register_heard();
        ASSERT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
        win_advance(server, 5.0);
        ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));
        ASSERT_TRUE(wait_until([] { return Heard::get().has("current 2001"); }));
        ASSERT_TRUE(wait_until([] { return Heard::get().has("members 2001"); }));
        server.sync();
    }

    // One export: what it is called with, what it returns, the one request
    // the server then receives (nullptr: none) with its text (nullptr: not
    // compared) and the line a callback then hears (nullptr: none awaited).
    struct Row {
        const char *name;
        std::function<int()> call;
        int result;
        const char *request;
        const char *text;
        const char *heard;
    };
    void run(const std::vector<Row> &rows)
    {
        for (const Row &r : rows) {
            SCOPED_TRACE(r.name);
            server.sync();
            server.clear_received();
            Heard::get().clear();
            EXPECT_EQ(r.call(), r.result);
            if (r.request) {
                EXPECT_TRUE(server.wait_count(r.request, 1));
                if (r.text) {
                    EXPECT_EQ(win_text_of(server, r.request), r.text);
                }
            } else {
                lirko_win_getOnlineStatus();
                server.sync();
                EXPECT_EQ(win_requests(server), std::vector<std::string>{});
            }
            if (r.heard) {
                EXPECT_TRUE(wait_until([&] { return Heard::get().has(r.heard); }))
                    << "heard: " << Heard::get().all();
            }
        }
    }
};

// Arrays whose every byte is a known pattern, to see that a refused call
// wrote nothing.
template <typename T, size_t N> struct Canary {
    T items[N];
    Canary()
    {
        memset(items, 0xA5, sizeof(items));
    }
    bool intact() const
    {
        const unsigned char *p = (const unsigned char *)items;
        for (size_t i = 0; i < sizeof(items); i++) {
            if (p[i] != 0xA5)
                return false;
        }
        return true;
    }
};

} // namespace

TEST_F(WinExports, WithoutAnEngineEveryExportRefuses)
{
    win_group_t g = {};
    win_member_t m = {};
    win_user_t u = {};
    uid_t uid = 1001;
    char text[LIRKO_NAME_BUF_SIZE] = "kept";
    int role = 7;
    EXPECT_EQ(lirko_win_getSavedAccount(text, text, &role), -1);
    EXPECT_STREQ(text, "kept");
    EXPECT_EQ(role, 7);
    EXPECT_EQ(lirko_win_saveAccount("a", "b", 0), -1);
    EXPECT_EQ(lirko_win_hasAccount(), 0);
    EXPECT_EQ(lirko_win_changeName("x"), -1);
    EXPECT_EQ(lirko_win_save_context("x"), -1);
    EXPECT_EQ(lirko_win_get_version(text), -1);
    EXPECT_EQ(lirko_win_Call(&uid, 1), -1);
    EXPECT_EQ(lirko_win_schedule_takemic(&uid, 1), -1);
    EXPECT_EQ(lirko_win_getGroupSize(), 0);
    EXPECT_EQ(lirko_win_getGroupList(&g, 1), -1);
    EXPECT_EQ(lirko_win_getMemberList(&m, 1, 2001), -1);
    EXPECT_EQ(lirko_win_getUser(&u, 1001), -1);
    EXPECT_EQ(lirko_win_getUid(), 0u);
    EXPECT_EQ(lirko_win_startWatchGroup(2002), -1);
    EXPECT_EQ(lirko_win_GetWatchGroup(), -1);
}

TEST_F(WinExports, AccountAndSettings)
{
    online();
    char account[LIRKO_ACCOUNT_BUF_SIZE];
    char password[LIRKO_PASSWORD_BUF_SIZE];
    memset(account, 'A', sizeof(account));
    memset(password, 'P', sizeof(password));
    int role = 42;
    char version[32] = {};
    const std::string long_text(260, 'x');
    run({
        {"getSavedAccount, nothing saved",
         [&] { return lirko_win_getSavedAccount(account, password, &role); }, -1, nullptr, nullptr,
         nullptr},
        {"saveAccount NULL", [] { return lirko_win_saveAccount(nullptr, "pw", 1); }, -1, nullptr,
         nullptr, nullptr},
        {"saveAccount", [] { return lirko_win_saveAccount("dispatcher", "dispatcher-pw", 9); }, 0,
         nullptr, nullptr, nullptr},
        {"saveAccount, folder unwritable",
         [&] {
             UnwritableFolder ro(cwd.path());
             return lirko_win_saveAccount("dispatcher", "dispatcher-pw", 9);
         },
         -1, nullptr, nullptr, nullptr},
        {"saveAccount, value too long",
         [] { return lirko_win_saveAccount(std::string(1 << 20, 'a').c_str(), "pw", 9); }, -1,
         nullptr, nullptr, nullptr},
        {"clearAccount, folder unwritable",
         [&] {
             UnwritableFolder ro(cwd.path());
             return lirko_win_clearAccount();
         },
         -1, nullptr, nullptr, nullptr},
        {"saveAccount again",
         [] { return lirko_win_saveAccount("dispatcher", "dispatcher-pw", 9); }, 0, nullptr,
         nullptr, nullptr},
        {"hasAccount", [] { return lirko_win_hasAccount(); }, 1, nullptr, nullptr, nullptr},
        {"changeName empty", [] { return lirko_win_changeName(""); }, -1, nullptr, nullptr,
         nullptr},
        {"changeName", [] { return lirko_win_changeName("Desk One"); }, 0, "ptt.rr.ChangeName",
         "name: \"Desk One\"", "name 1"},
        {"changePassword NULL", [] { return lirko_win_changePassword(nullptr, "x"); }, -1, nullptr,
         nullptr, nullptr},
        // MD5 of "dispatcher-pw" and of "new-pw".
        {"changePassword", [] { return lirko_win_changePassword("dispatcher-pw", "new-pw"); }, 0,
         "ptt.rr.ChangePassword",
         "old_pwd_md5: \"EFE0EF527057A704259299FD98908DFA\" new_pwd_md5: "
         "\"647775114FF093D5D981C0523D23CBA4\"",
         "password 1"},
        {"hasAudioEnabled", [] { return lirko_win_hasAudioEnabled(); }, 1, nullptr, nullptr,
         nullptr},
        {"getOnlineStatus", [] { return (int)lirko_win_getOnlineStatus(); }, 3, nullptr, nullptr,
         nullptr},
        {"set_join_default_group 0", [] { return lirko_win_set_join_default_group(0); }, 0, nullptr,
         nullptr, nullptr},
        {"is_join_default_group", [] { return lirko_win_is_join_default_group(); }, 0, nullptr,
         nullptr, nullptr},
        {"set_join_default_group 1", [] { return lirko_win_set_join_default_group(1); }, 0, nullptr,
         nullptr, nullptr},
        {"save_context NULL", [] { return lirko_win_save_context(nullptr); }, -1, nullptr, nullptr,
         nullptr},
        {"save_context", [] { return lirko_win_save_context("ctx-1"); }, 0, nullptr, nullptr,
         nullptr},
        {"save_context too long", [&] { return lirko_win_save_context(long_text.c_str()); }, -1,
         nullptr, nullptr, nullptr},
        {"save_dns", [&] { return lirko_win_save_dns(server.dns_entry().c_str()); }, 0, nullptr,
         nullptr, nullptr},
        {"save_record_code", [] { return lirko_win_save_record_code("101"); }, 0, nullptr, nullptr,
         nullptr},
        {"save_record_code bad UTF-8", [] { return lirko_win_save_record_code("\xff\xfe"); }, -1,
         nullptr, nullptr, nullptr},
        {"set_log_priority 1", [] { return lirko_win_set_log_priority(1); }, -1, nullptr, nullptr,
         nullptr},
        {"set_log_priority 9", [] { return lirko_win_set_log_priority(9); }, -1, nullptr, nullptr,
         nullptr},
        {"set_log_priority 2", [] { return lirko_win_set_log_priority(2); }, 0, nullptr, nullptr,
         nullptr},
        {"get_version NULL", [] { return lirko_win_get_version(nullptr); }, -1, nullptr, nullptr,
         nullptr},
        {"get_version", [&] { return lirko_win_get_version(version); }, 0, nullptr, nullptr,
         nullptr},
        {"get_mos", [] { return lirko_win_get_mos() >= 0 && lirko_win_get_mos() <= 5; }, 1, nullptr,
         nullptr, nullptr},
        {"set_btdsp_data", [] { return lirko_win_set_btdsp_data(nullptr, 0, 0, 0); }, 0, nullptr,
         nullptr, nullptr},
        {"finished_btdsp_data", [] { return lirko_win_finished_btdsp_data(); }, 0, nullptr, nullptr,
         nullptr},
    });
    // The refused read left every byte of the buffers as it was.
    EXPECT_EQ(account[0], 'A');
    EXPECT_EQ(account[sizeof(account) - 1], 'A');
    EXPECT_EQ(password[0], 'P');
    EXPECT_EQ(role, 42);
    EXPECT_STREQ(version, "WIN-20231212-release");
    EXPECT_EQ(lirko_win_getSavedAccount(account, password, &role), 0);
    EXPECT_STREQ(account, "dispatcher");
    EXPECT_STREQ(password, "new-pw") << "the accepted password change was saved";
    EXPECT_EQ(role, 9);
    EXPECT_EQ(lirko_win_getSavedAccount(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(lirko_win_is_join_default_group(), 1);
    std::string ini = read_file(cwd.file("custom.ini"));
    EXPECT_NE(ini.find("context = ctx-1"), std::string::npos) << ini;
    EXPECT_NE(ini.find("codec = 101"), std::string::npos) << ini;
    EXPECT_EQ(ini.find(long_text), std::string::npos);
    EXPECT_EQ(lirko_win_clearAccount(), 0);
    EXPECT_EQ(lirko_win_hasAccount(), 0);
    EXPECT_EQ(lirko_win_getSavedAccount(account, password, &role), -1);
}

TEST_F(WinExports, CallsInvitesSosAndDispatching)
{
    online();
    const uid_t two[] = {1001, 1002};
    const uid_t me[] = {1000};
    // A TakeMic request packed by hand, as a multimedia sender would.
    Ptt__Rr__TakeMic take = PTT__RR__TAKE_MIC__INIT;
    uint32_t taken = 1003;
    take.n_uids = 1;
    take.uids = &taken;
    std::vector<uint8_t> body(protobuf_c_message_get_packed_size(&take.base));
    protobuf_c_message_pack(&take.base, body.data());
    run({
        {"joinGroup 0", [] { return lirko_win_joinGroup(0); }, -1, nullptr, nullptr, nullptr},
        {"getCurrentGroup", [] { return (int)lirko_win_getCurrentGroup(); }, 2001, nullptr, nullptr,
         nullptr},
        {"isSpeaking", [] { return lirko_win_isSpeaking(); }, 0, nullptr, nullptr, nullptr},
        {"isListening", [] { return lirko_win_isListening(); }, 0, nullptr, nullptr, nullptr},
        {"Call NULL", [] { return lirko_win_Call(nullptr, 1); }, -1, nullptr, nullptr, nullptr},
        {"Call", [&] { return lirko_win_Call(two, 2); }, 0, "ptt.rr.Call", "uids: 1001 uids: 1002",
         nullptr},
        {"single_call_full_duplex", [] { return lirko_win_single_call_full_duplex(1001); }, 0,
         "ptt.rr.SingleCall", "uid: 1001 full_duplex: true", nullptr},
        // Inviting oneself brings the server's push back to this engine.
        {"send_invite", [&] { return lirko_win_send_invite(me, 1, 1, 0, "come", 0); }, 0,
         "ptt.rr.Invite",
         "invitees: 1000 with_audio: true with_video: false msg: \"come\" full_duplex: false "
         "create_group: false",
         "push_invite 7000 1000 a1 v0 come d0"},
        {"send_response_invite", [] { return lirko_win_send_response_invite(7000, 1000, 1); }, 0,
         "ptt.rr.ResponseInvite", "invite_id: 7000 inviter: 1000 accept: true",
         "push_response 7000 1000 1"},
        {"set_AudioEncryp", [&] { return lirko_win_set_AudioEncryp(2, two, 1, "aes", "k1"); }, 0,
         "ptt.rr.SetEncrypt", "scope: USER targets: 1001 encrypt: { method: \"aes\" key: \"k1\" }",
         "encryp_ack 0"},
        {"process_sos_alarm", [] { return lirko_win_process_sos_alarm(1001, 77); }, 0,
         "sos.Process", "uid: 1001 uuid: 77", "process_sos 0"},
        {"close_sos_alarm", [] { return lirko_win_close_sos_alarm(1001, 78); }, 0, "sos.Close",
         "uid: 1001 uuid: 78", "close_sos 0"},
        {"send_mms NULL name", [&] { return lirko_win_send_mms(body.data(), 4, nullptr); }, -1,
         nullptr, nullptr, nullptr},
        {"send_mms",
         [&] { return lirko_win_send_mms(body.data(), (uint32_t)body.size(), "ptt.rr.TakeMic"); },
         0, "ptt.rr.TakeMic", "uids: 1003", "takemic 1 n1"},
        {"temp_join_group gid 0", [&] { return lirko_win_schedule_temp_join_group(0, two, 2); }, -1,
         nullptr, nullptr, nullptr},
        {"temp_join_group count 0",
         [&] { return lirko_win_schedule_temp_join_group(2002, two, 0); }, -1, nullptr, nullptr,
         nullptr},
        {"temp_join_group", [&] { return lirko_win_schedule_temp_join_group(2002, two, 2); }, 0,
         "ptt.rr.Dispatch", "gid: 2002 uids: 1001 uids: 1002", "dispatch 1 1 2002 n2"},
        {"temp_leave_group gid 2002",
         [&] { return lirko_win_schedule_temp_leave_group(2002, two, 1); }, -1, nullptr, nullptr,
         nullptr},
        {"temp_leave_group", [&] { return lirko_win_schedule_temp_leave_group(0, two, 1); }, 0,
         "ptt.rr.Dispatch", "gid: 0 uids: 1001", "dispatch 1 1 0 n1"},
        {"force_dispatch NULL", [] { return lirko_win_schedule_force_dispatch(nullptr, 1); }, -1,
         nullptr, nullptr, nullptr},
        {"force_dispatch", [&] { return lirko_win_schedule_force_dispatch(two + 1, 1); }, 0,
         "ptt.rr.Dispatch", "gid: 2001 uids: 1002", "dispatch 1 1 2001 n1"},
        {"audioenable", [&] { return lirko_win_schedule_audioenable(two, 1, 0); }, 0,
         "ptt.rr.ConfigureUser", "uids: 1001 audio_enabled: false", "audio 1 0 n1"},
        {"takemic NULL", [] { return lirko_win_schedule_takemic(nullptr, 1); }, -1, nullptr,
         nullptr, nullptr},
        {"takemic", [&] { return lirko_win_schedule_takemic(two, 2); }, 0, "ptt.rr.TakeMic",
         "uids: 1001 uids: 1002", "takemic 1 n2"},
        {"switch_location 0 s", [&] { return lirko_win_schedule_switch_location(two, 1, 1, 0); }, 0,
         "ptt.rr.ConfigureUser", "uids: 1001 switch_location: true location_report_period: 1",
         "location 1 1 n1"},
        {"switch_location 1000 s",
         [&] { return lirko_win_schedule_switch_location(two, 1, 1, 1000); }, 0,
         "ptt.rr.ConfigureUser", "uids: 1001 switch_location: true location_report_period: 300",
         "location 1 1 n1"},
        {"switch_location count 0",
         [&] { return lirko_win_schedule_switch_location(two, 0, 1, 10); }, -1, nullptr, nullptr,
         nullptr},
    });
}

TEST_F(WinExports, DirectoryLists)
{
    online();
    Canary<win_group_t, 3> groups;
    Canary<win_member_t, 3> members;
    Canary<win_user_t, 3> users;
    Canary<uid_t, 8> uids;
    win_group_t one_group = {};
    win_user_t one_user = {};
    char name[LIRKO_NAME_BUF_SIZE];
    const uid_t asked[] = {1001, 4242, 1002};
    run({
        {"getGroupSize", [] { return lirko_win_getGroupSize(); }, 3, nullptr, nullptr, nullptr},
        {"getGroupList NULL", [] { return lirko_win_getGroupList(nullptr, 3); }, -3, nullptr,
         nullptr, nullptr},
        {"getGroupList capacity 0", [&] { return lirko_win_getGroupList(groups.items, 0); }, -3,
         nullptr, nullptr, nullptr},
        {"getGroupList one short", [&] { return lirko_win_getGroupList(groups.items, 2); }, -2,
         nullptr, nullptr, nullptr},
        {"getGroupList_extern one short",
         [&] { return lirko_win_getGroupList_extern(groups.items, 2, 0); }, -2, nullptr, nullptr,
         nullptr},
        {"getMemberSize", [] { return lirko_win_getMemberSize(2001); }, 2, nullptr, nullptr,
         nullptr},
        {"getMemberList NULL", [] { return lirko_win_getMemberList(nullptr, 3, 2001); }, -3,
         nullptr, nullptr, nullptr},
        {"getMemberList gid 0", [&] { return lirko_win_getMemberList(members.items, 3, 0); }, -3,
         nullptr, nullptr, nullptr},
        {"getMemberList one short", [&] { return lirko_win_getMemberList(members.items, 1, 2001); },
         -2, nullptr, nullptr, nullptr},
        {"getSpeakingUsers NULL", [] { return lirko_win_getSpeakingUsers(nullptr, 3); }, -3,
         nullptr, nullptr, nullptr},
        {"getSpeakingUsers capacity 0", [&] { return lirko_win_getSpeakingUsers(users.items, 0); },
         -3, nullptr, nullptr, nullptr},
        {"getWatchGroups capacity 0", [&] { return lirko_win_getWatchGroups(groups.items, 0); }, -1,
         nullptr, nullptr, nullptr},
        {"getWatchGroups none watched", [&] { return lirko_win_getWatchGroups(groups.items, 3); },
         0, nullptr, nullptr, nullptr},
        {"getAllUsersId NULL", [] { return lirko_win_getAllUsersId(nullptr, 3); }, -1, nullptr,
         nullptr, nullptr},
        {"getAllUsersId one", [&] { return lirko_win_getAllUsersId(uids.items, 1); }, -2, nullptr,
         nullptr, nullptr},
        {"getUsers NULL uids", [&] { return lirko_win_getUsers(users.items, nullptr, 3); }, -1,
         nullptr, nullptr, nullptr},
        {"getUsers NULL users", [&] { return lirko_win_getUsers(nullptr, asked, 3); }, -2, nullptr,
         nullptr, nullptr},
        {"getUser NULL", [] { return lirko_win_getUser(nullptr, 1001); }, -1, nullptr, nullptr,
         nullptr},
        {"getUser uid 0", [&] { return lirko_win_getUser(&one_user, 0); }, -1, nullptr, nullptr,
         nullptr},
        {"getGroupByGid NULL", [] { return lirko_win_getGroupByGid(nullptr, 2001); }, -1, nullptr,
         nullptr, nullptr},
        {"getGroupByGid unknown", [&] { return lirko_win_getGroupByGid(&one_group, 9999); }, -1,
         nullptr, nullptr, nullptr},
        {"getName NULL", [] { return lirko_win_getName(nullptr); }, -1, nullptr, nullptr, nullptr},
        {"getCurrentUser NULL", [] { return lirko_win_getCurrentUser(nullptr); }, -1, nullptr,
         nullptr, nullptr},
        {"getPlayingSoundUser nobody", [&] { return lirko_win_getPlayingSoundUser(&one_user); }, -1,
         nullptr, nullptr, nullptr},
        {"query_department_group NULL", [] { return lirko_win_query_department_group(nullptr, 1); },
         -1, nullptr, nullptr, nullptr},
        {"freeGroupList NULL", [] { return lirko_win_freeGroupList(nullptr, 1); }, -1, nullptr,
         nullptr, nullptr},
        {"freeMemberList count 0",
         [&] { return lirko_win_freeMemberList((struct member_entry *)&one_user, 0); }, -1, nullptr,
         nullptr, nullptr},
        {"freeSpeakingUsers NULL", [] { return lirko_win_freeSpeakingUsers(nullptr, 1); }, -1,
         nullptr, nullptr, nullptr},
        {"freeWatchGroups NULL", [] { return lirko_win_freeWatchGroups(nullptr, 2); }, -1, nullptr,
         nullptr, nullptr},
        {"freeUsers count 0",
         [&] { return lirko_win_freeUsers((struct cache_user *)&one_user, 0); }, -1, nullptr,
         nullptr, nullptr},
        {"freeAllUsersId NULL", [] { return lirko_win_freeAllUsersId(nullptr); }, -1, nullptr,
         nullptr, nullptr},
        {"freePlayingSoundUser NULL", [] { return lirko_win_freePlayingSoundUser(nullptr); }, -1,
         nullptr, nullptr, nullptr},
    });
    EXPECT_TRUE(groups.intact());
    EXPECT_TRUE(members.intact());
    EXPECT_TRUE(users.intact());
    EXPECT_TRUE(uids.intact());

    // The lists themselves.
    win_group_t list[3];
    ASSERT_EQ(lirko_win_getGroupList(list, 3), 3);
    std::set<gid_t> gids;
    for (const win_group_t &g : list)
        gids.insert(g.gid);
    EXPECT_EQ(gids, (std::set<gid_t>{2001, 2002, 2003}));
    ASSERT_EQ(lirko_win_getGroupByGid(&one_group, 2001), 0);
    EXPECT_STREQ(one_group.name, "Patrol");
    EXPECT_EQ(one_group.prior, 10);
    EXPECT_NE(one_group.port, 0);
    win_member_t two[2];
    ASSERT_EQ(lirko_win_getMemberList(two, 2, 2001), 2);
    std::set<uid_t> member_uids = {two[0].uid, two[1].uid};
    EXPECT_EQ(member_uids, (std::set<uid_t>{1001, 1002})) << "the own user is not listed";
    EXPECT_EQ(two[0].gid, 2001u);
    EXPECT_EQ(two[0].has_gid, 1u);

    int all = lirko_win_getAllUserSize();
    ASSERT_GE(all, 3);
    std::vector<uid_t> all_uids(all);
    EXPECT_EQ(lirko_win_getAllUsersId(all_uids.data(), all_uids.size()), all);
    EXPECT_EQ(lirko_win_getUser(&one_user, 1001), 1);
    EXPECT_STREQ(one_user.name, "Alice");
    EXPECT_EQ(lirko_win_getUid(), 1000u);
    EXPECT_EQ(lirko_win_get_current_did(), 3001u);
    ASSERT_EQ(lirko_win_getName(name), 0);
    EXPECT_STREQ(name, "Dispatcher");
    win_user_t self = {};
    self.location_on = 5;
    self.location_period = 6;
    ASSERT_EQ(lirko_win_getCurrentUser(&self), 0);
    EXPECT_EQ(self.uid, 1000u);
    EXPECT_EQ(self.location_on, 5u) << "the application's own location setting stays";
    EXPECT_EQ(self.location_period, 6u);
    EXPECT_EQ(lirko_win_getSpeakingUsersSize(), 0);
    EXPECT_EQ(lirko_win_getSpeakingUsers(&one_user, 1), 0);
    EXPECT_EQ(lirko_win_getWatchedGroupCount(), 0);

    // An unknown uid stops the copy there and asks the server for the user.
    Canary<win_user_t, 3> partial;
    server.clear_received();
    EXPECT_EQ(lirko_win_getUsers(partial.items, asked, 3), -1);
    EXPECT_EQ(partial.items[0].uid, 1001u);
    EXPECT_EQ(((unsigned char *)&partial.items[1])[0], 0xA5) << "nothing past the unknown uid";
    EXPECT_TRUE(server.wait_count("ptt.rr.QueryUsers", 1));
    EXPECT_EQ(lirko_win_getUser(&one_user, 4242), -1);

    // Forced group refreshes: one request per 6 s of the engine clock.
    server.clear_received();
    EXPECT_EQ(lirko_win_getGroupList_extern(list, 3, 1), 3);
    win_advance(server, 2.0);
    EXPECT_EQ(lirko_win_getGroupList_extern(list, 3, 1), 3);
    win_advance(server, 2.0);
    EXPECT_EQ(server.count("ptt.rr.QueryGroup"), 1u);
    win_advance(server, 2.5);
    EXPECT_EQ(lirko_win_getGroupList_extern(list, 3, 1), 3);
    EXPECT_TRUE(server.wait_count("ptt.rr.QueryGroup", 2));
    EXPECT_EQ(lirko_win_getGroupList_extern(list, 3, 0), 3);
    server.sync();
    EXPECT_EQ(server.count("ptt.rr.QueryGroup"), 2u) << "without force nothing is asked";

    // Asking the server for the members again.
    // (The refreshed group list asks for the members of every group too.)
    auto asked_for_2001 = [&] {
        size_t n = 0;
        for (const auto &r : server.received("ptt.rr.QueryMembers"))
            n += r.text == "gids: 2001 version2: true";
        return n;
    };
    win_advance(server, 1.0);
    size_t before = asked_for_2001();
    EXPECT_EQ(lirko_win_getMemberList_refresh(two, 2, 2001), 2);
    EXPECT_TRUE(wait_until([&] { return asked_for_2001() == before + 1; }));

    // Departments: the tree, then its groups within the caller's capacity.
    run({{"query_department_tree", [] { return lirko_win_query_department_tree(3000); }, 0,
          "ptt.rr.QueryDepartmentTree", "did: 3000", "departments"}});
    EXPECT_EQ(lirko_win_query_department_group_size(), 2);
    Canary<win_group_t, 2> dept;
    win_group_t *p = dept.items;
    EXPECT_EQ(lirko_win_query_department_group(&p, 1), 0);
    EXPECT_EQ(((unsigned char *)&dept.items[1])[0], 0xA5) << "one record asked, one written";
    std::set<std::pair<uint32_t, gid_t>> did_gid = {{dept.items[0].did, dept.items[0].gid}};
    EXPECT_EQ(lirko_win_query_department_group(&p, 2), 0);
    did_gid.insert({dept.items[1].did, dept.items[1].gid});
    EXPECT_EQ(did_gid, (std::set<std::pair<uint32_t, gid_t>>{{3001, 2001}, {3002, 2002}}));
    EXPECT_EQ(dept.items[0].has_key, 0);
    EXPECT_EQ(dept.items[0].is_encryp, 0u);
}

TEST_F(WinExports, StoredWatchList)
{
    online();
    const gid_t add[] = {2002, 2003};
    run({
        {"GetWatchGroup, empty", [] { return lirko_win_GetWatchGroup(); }, 0,
         "ptt.rr.GetWatchGroup", "", "get_watch n0"},
        {"AddWatchGroup", [&] { return lirko_win_AddWatchGroup(add, 2); }, 0,
         "ptt.rr.AddWatchGroup", "gids: 2002 gids: 2003", "add_watch c2 n2 r0"},
        {"GetWatchGroup", [] { return lirko_win_GetWatchGroup(); }, 0, "ptt.rr.GetWatchGroup", "",
         "get_watch n2"},
        {"RmWatchGroup", [&] { return lirko_win_RmWatchGroup(add, 1); }, 0,
         "ptt.rr.RemoveWatchGroup", "gids: 2002", "rm_watch c1 n1 r0"},
        {"AddWatchGroup none", [] { return lirko_win_AddWatchGroup(nullptr, 0); }, 0,
         "ptt.rr.AddWatchGroup", "", "add_watch c0 n1 r0"},
        {"stopWatchGroup gid 0", [] { return lirko_win_stopWatchGroup(0); }, -1, nullptr, nullptr,
         nullptr},
        {"stopWatchGroup not watched", [] { return lirko_win_stopWatchGroup(2002); }, -1, nullptr,
         nullptr, nullptr},
        {"startWatchGroup unknown", [] { return lirko_win_startWatchGroup(9999); }, -1, nullptr,
         nullptr, nullptr},
    });
}
