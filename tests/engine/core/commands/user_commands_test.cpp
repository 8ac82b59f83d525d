// The engine's commands on other users and calls, their reply timers, the
// key getters and the record settings.
#include "cache.h"
#include "connection.h"
#include "lirko_record.h"
#include "lirko_user_commands.h"
#include "talk_fixture.h"

#include <sys/stat.h>

using namespace ptt::test;

namespace
{

const std::string kLongKey(64, 'k'); // one more than a terminated 64-byte buffer holds

class Commands : public TalkFixture
{
  protected:
    void edit(Directory &d) override
    {
        TalkFixture::edit(d);
        d.config.encrypt_enabled = true;
        d.config.encrypt_method = "aes";
        d.config.encrypt_key = kLongKey;
        d.groups.at(2001).key_method = "aes";
        d.groups.at(2001).key = std::string(40, 'g');
    }
    TalkEngine &online()
    {
        TalkEngine &e = add_engine();
        join(e, "dispatcher", "dispatcher-pw");
        return e;
    }
    std::string text_of(const std::string &type, size_t i = 0)
    {
        auto r = server.received(type);
        return i < r.size() ? r[i].text : std::string("(none)");
    }
};

} // namespace

TEST_F(Commands, RequestsCarryTheirFields)
{
    TalkEngine &e = online();
    lirko_t *en = e.engine;
    const uint32_t uids[] = {1001, 1002};
    struct row {
        std::function<int()> call;
        int result;
        const char *type;
        const char *text;
    } rows[] = {
        {[&] { return lirko_temp_join_group(en, 2002, uids, 2); }, 0, "ptt.rr.Dispatch",
         "gid: 2002 uids: 1001 uids: 1002"},
        {[&] { return lirko_temp_leave_group(en, 2002, uids, 2); }, -1, nullptr, nullptr},
        {[&] { return lirko_temp_leave_group(en, 0, uids, 2); }, 0, "ptt.rr.Dispatch",
         "gid: 0 uids: 1001 uids: 1002"},
        {[&] { return lirko_temp_join_group(en, 2002, nullptr, 2); }, -1, nullptr, nullptr},
        {[&] { return lirko_shedule_takemic(en, uids, 1); }, 0, "ptt.rr.TakeMic", "uids: 1001"},
        {[&] { return lirko_schedule_audioenable(en, uids, 1, 0); }, 0, "ptt.rr.ConfigureUser",
         "uids: 1001 audio_enabled: false"},
        {[&] { return lirko_shedule_switch_location(en, uids, 1, 1, 30); }, 0,
         "ptt.rr.ConfigureUser", "uids: 1001 switch_location: true location_report_period: 30"},
        {[&] { return lirko_send_query_department_tree(en, 0); }, -1, nullptr, nullptr},
        {[&] { return lirko_send_query_department_tree(en, 3001); }, 0,
         "ptt.rr.QueryDepartmentTree", "did: 3001"},
        {[&] { return lirko_close_sos_alarm(en, 1001, 77); }, 0, "sos.Close", "uid: 1001 uuid: 77"},
        {[&] { return lirko_process_sos_alarm(en, 1001, 78); }, 0, "sos.Process",
         "uid: 1001 uuid: 78"},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.type ? r.type : "refused");
        server.clear_received();
        EXPECT_EQ(e.on_looper(r.call), r.result);
        server.sync();
        if (r.type)
            EXPECT_EQ(text_of(r.type), r.text);
        else
            EXPECT_TRUE(server.received().empty());
    }
}

TEST_F(Commands, InvitationsAndEncryptionWaitThreeSecondsForTheirAnswer)
{
    TalkEngine &e = online();
    // Unanswered, so that the reply timers run out.
    for (const char *type : {"ptt.rr.Invite", "ptt.rr.ResponseInvite", "ptt.rr.SetEncrypt"})
        server.ignore(type);
    lirko_t *en = e.engine;
    EXPECT_EQ(e.on_looper([&] { return lirko_send_invite(en, nullptr, 0, 1, 0, "x", 0); }), -1);
    const uint32_t none[1] = {};
    ASSERT_EQ(e.on_looper([&] { return lirko_send_invite(en, none, 0, 1, 0, nullptr, 1); }), 0);
    ASSERT_EQ(e.on_looper([&] { return lirko_send_response_invite(en, 9, 1001, 1); }), 0);
    ASSERT_EQ(e.on_looper([&] { return lirko_set_encryp(en, 2, nullptr, 0, "aes", nullptr); }), 0);
    server.sync();
    EXPECT_EQ(text_of("ptt.rr.Invite"),
              "with_audio: true with_video: false full_duplex: true create_group: false");
    EXPECT_EQ(text_of("ptt.rr.ResponseInvite"), "invite_id: 9 inviter: 1001 accept: true");
    EXPECT_EQ(text_of("ptt.rr.SetEncrypt"), "scope: USER");
    EXPECT_EQ(text_of("ptt.rr.ConfigureUser"), "location_report_period: 1 encrypt_enabled: false");
    advance(2.5);
    EXPECT_TRUE(e.calls(SLOT_INVITE_TIMEOUT).empty());
    advance(5.0);
    EXPECT_EQ(e.calls(SLOT_INVITE_TIMEOUT).size(), 1u);
    EXPECT_EQ(e.calls(SLOT_RESPONSE_INVITE_TIMEOUT).size(), 1u);
    EXPECT_EQ(e.calls(SLOT_ENCRYP_TIMEOUT).size(), 1u);

    // A key is sent as bytes and never written to the log in clear.
    const uint32_t users[] = {1001};
    ASSERT_EQ(e.on_looper([&] { return lirko_set_encryp(en, 2, users, 1, "aes", "s3cr3t-key"); }),
              0);
    server.sync();
    EXPECT_EQ(text_of("ptt.rr.SetEncrypt", 1),
              "scope: USER targets: 1001 encrypt: { method: \"aes\" key: \"s3cr3t-key\" }");
    EXPECT_EQ(read_file(cwd.file("kvptt.log")).find("s3cr3t-key"), std::string::npos);
    advance(3.5);
    EXPECT_EQ(e.calls(SLOT_ENCRYP_TIMEOUT).size(), 2u);

    // A request that could not be sent waits for nothing.
    e.clear();
    server.close_clients();
    ASSERT_TRUE(wait_until(
        [&] { return e.on_looper([&] { return !connection_is_connected(en->connection); }); }));
    EXPECT_EQ(e.on_looper([&] { return lirko_send_invite(en, users, 1, 1, 0, nullptr, 0); }), -1);
    EXPECT_EQ(e.on_looper([&] { return lirko_set_encryp(en, 2, users, 1, "aes", nullptr); }), -1);
    EXPECT_EQ(e.on_looper([&] { return lirko_send_response_invite(en, 1, 1, 0); }), -1);
    advance(4.0);
    EXPECT_TRUE(e.calls(SLOT_INVITE_TIMEOUT).empty());
    EXPECT_TRUE(e.calls(SLOT_ENCRYP_TIMEOUT).empty());
    EXPECT_TRUE(e.calls(SLOT_RESPONSE_INVITE_TIMEOUT).empty());
}

// A logout or an unload ends the wait for the answers: no time-out reaches
// the application afterwards. A broken link does not: the time-out is how the
// application hears that its request was lost.
TEST_F(Commands, LogoutAndUnloadEndTheReplyTimersALostLinkDoesNot)
{
    TalkEngine &e = online();
    for (const char *type : {"ptt.rr.Invite", "ptt.rr.ResponseInvite", "ptt.rr.SetEncrypt"})
        server.ignore(type);
    lirko_t *en = e.engine;
    const uint32_t users[] = {1001};
    auto send_all = [&] {
        ASSERT_EQ(e.on_looper([&] { return lirko_send_invite(en, users, 1, 1, 0, nullptr, 0); }),
                  0);
        ASSERT_EQ(e.on_looper([&] { return lirko_send_response_invite(en, 9, 1001, 1); }), 0);
        ASSERT_EQ(e.on_looper([&] { return lirko_set_encryp(en, 2, users, 1, "aes", nullptr); }),
                  0);
    };
    auto timeouts = [&] {
        return e.calls(SLOT_INVITE_TIMEOUT).size() + e.calls(SLOT_RESPONSE_INVITE_TIMEOUT).size() +
               e.calls(SLOT_ENCRYP_TIMEOUT).size();
    };

    send_all();
    advance(1.0);
    EXPECT_EQ(e.on_looper([&] { return lirko_logout(en); }), 0);
    advance(5.0);
    EXPECT_EQ(timeouts(), 0u) << "after a logout";

    // The link breaks while the requests wait: their time-outs come.
    ASSERT_EQ(e.login("dispatcher", "dispatcher-pw"), 0);
    advance(5.0);
    ASSERT_TRUE(wait_until([&] { return e.online(); }));
    e.clear();
    send_all();
    advance(1.0);
    server.close_clients();
    ASSERT_TRUE(wait_until(
        [&] { return e.on_looper([&] { return !connection_is_connected(en->connection); }); }));
    advance(2.5);
    EXPECT_EQ(e.calls(SLOT_INVITE_TIMEOUT).size(), 1u);
    EXPECT_EQ(e.calls(SLOT_RESPONSE_INVITE_TIMEOUT).size(), 1u);
    EXPECT_EQ(e.calls(SLOT_ENCRYP_TIMEOUT).size(), 1u);

    // An unload within the wait: nothing is delivered, nothing runs on freed
    // memory (the sanitizer build checks).
    advance(5.0);
    ASSERT_TRUE(wait_until([&] { return e.online(); }));
    e.clear();
    send_all();
    advance(2.5);
    lirko_destroy(&e.engine);
    hal_clock_fake_advance(5000);
    EXPECT_EQ(timeouts(), 0u) << "during an unload";
}

TEST_F(Commands, KeyGettersStopAtTheirBuffer)
{
    TalkEngine &e = online();
    lirko_t *en = e.engine;
    char key[LIRKO_KEY_BUF_SIZE + 8];
    memset(key, 'x', sizeof(key));
    ASSERT_EQ(e.on_looper([&] { return lirko_get_my_self_encryp_key(en, key); }), 0);
    EXPECT_EQ(std::string(key), kLongKey.substr(0, 63));
    EXPECT_EQ(key[64], 'x') << "nothing past the buffer";
    uint8_t on = 0, has = 0;
    ASSERT_EQ(e.on_looper([&] { return lirko_get_my_self_is_encryp(en, &on, &has); }), 0);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(has, 1);
    ASSERT_EQ(e.on_looper([&] { return lirko_get_current_group_encryp_key(en, key); }), 0);
    EXPECT_EQ(std::string(key), std::string(40, 'g'));
    uint32_t is_encryp = 0;
    ASSERT_EQ(e.on_looper([&] { return lirko_get_current_group_is_encryp(en, &is_encryp, &has); }),
              0);
    EXPECT_EQ(is_encryp, 1u);
    EXPECT_EQ(e.on_looper([&] { return lirko_get_my_self_encryp_key(en, nullptr); }), -1);
    EXPECT_EQ(e.on_looper([&] { return (int)lirko_get_uid(en); }), 1000);
    EXPECT_EQ(e.on_looper([&] { return lirko_set_log_priority(en, 9); }), -1);
    EXPECT_EQ(e.on_looper([&] { return lirko_set_log_priority(en, 8); }), 0);
    EXPECT_EQ(e.on_looper([&] { return lirko_set_log_priority(en, 2); }), 0);
}

TEST_F(Commands, RecordSettingsNeedADirectory)
{
    TalkEngine &e = add_engine();
    lirko_t *en = e.engine;
    std::string dir = cwd.file("records");
    EXPECT_EQ(e.on_looper([&] { return lirko_record_set_enabled(en, 1, nullptr); }), -1)
        << "no directory yet";
    ASSERT_EQ(e.on_looper([&] { return lirko_record_set_enabled(en, 1, dir.c_str()); }), 0);
    struct stat st;
    EXPECT_TRUE(stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) << "made";
    EXPECT_EQ(lirko_record_get_enabled(en), 1);
    EXPECT_EQ(std::string(lirko_record_get_recordpath(en)), dir);
    std::string too_long(129, 'd');
    EXPECT_EQ(e.on_looper([&] { return lirko_record_set_enabled(en, 0, too_long.c_str()); }), -1);
    EXPECT_EQ(lirko_record_get_enabled(en), 1) << "unchanged";
    std::string file = cwd.file("plain");
    write_file(file, "x");
    EXPECT_EQ(e.on_looper([&] { return lirko_record_set_enabled(en, 1, file.c_str()); }), -1);
    ASSERT_EQ(e.on_looper([&] { return lirko_record_set_enabled(en, 0, nullptr); }), 0);
    EXPECT_EQ(lirko_record_get_enabled(en), 0);
    EXPECT_EQ(std::string(lirko_record_get_recordpath(en)), dir) << "kept";
}
