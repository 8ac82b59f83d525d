// The engine core's server-message handlers, fed decoded messages through
// the dispatcher: which listener slot each reaches and with what, and the
// password change that ends in custom.ini.
#include "core_fixture.h"
#include "dispatcher.h"
#include "lirko_handlers.h"
#include "notify_recorder.h"
#include "post_util.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "ptt_serv.pb-c.h"
#include "sos.pb-c.h"

namespace ptt::test
{

class HandlersTest : public EngineFixture
{
  protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        if (HasFatalFailure())
            return;
        record_notifications();
    }

    std::vector<NotifyCall> deliver(const ProtobufCMessage &msg)
    {
        NotifyRecorder::get().clear();
        on_looper([&] {
            return dispatcher_deliver(connection_get_dispatcher(engine->connection), &msg);
        });
        settle(); // events the handler posted
        return NotifyRecorder::get().listener_calls();
    }

    std::string ini(const char *section, const char *key)
    {
        const char *v = NULL;
        std::string out;
        on_looper([&] {
            v = hal_ini_find(engine->ini, section, key);
            out = v ? v : "(none)";
            return 0;
        });
        return out;
    }
};

using Calls = std::vector<NotifyCall>;

TEST_F(HandlersTest, AllTwentyEightAreRegisteredInOrder)
{
    ASSERT_EQ(lirko_message_handler_count(), 28);
    EXPECT_STREQ(lirko_message_handler_name(0), "ptt.rr.LoginAck");
    EXPECT_STREQ(lirko_message_handler_name(27), "ptt.rr.PostWorksheetAck");
    dispatcher_t *d = connection_get_dispatcher(engine->connection);
    for (int i = 0; i < 28; i++)
        EXPECT_GE(dispatcher_count(d, lirko_message_handler_name(i)), 1)
            << lirko_message_handler_name(i);
}

TEST_F(HandlersTest, InviteAnswersAndPushes)
{
    Ptt__Push__ResponseInvite resp = PTT__PUSH__RESPONSE_INVITE__INIT;
    resp.has_invite_id = 1;
    resp.invite_id = 5000000000ull;
    resp.has_invitee = 1;
    resp.invitee = 1001;
    // No reason: reported as 10000.
    EXPECT_EQ(deliver(resp.base), (Calls{{47, "5000000000,1001,0,10000"}}));

    Ptt__Push__Invite inv = PTT__PUSH__INVITE__INIT;
    inv.has_inviter = 1;
    inv.inviter = 1002;
    inv.has_with_audio = 1;
    inv.with_audio = 1;
    inv.msg = const_cast<char *>("join");
    EXPECT_EQ(deliver(inv.base), (Calls{{46, "0,1002,1,0,\"join\",0"}}));

    uint32_t invited[] = {1, 2, 3};
    Ptt__Rr__InviteAck ack = PTT__RR__INVITE_ACK__INIT;
    ack.n_invited = 3;
    ack.invited = invited;
    EXPECT_EQ(deliver(ack.base), (Calls{{44, "0,ptr,3,0"}}));

    Ptt__Rr__ResponseInviteAck rack = PTT__RR__RESPONSE_INVITE_ACK__INIT;
    rack.has_result = 1;
    rack.result = -3;
    EXPECT_EQ(deliver(rack.base), (Calls{{45, "-3"}}));

    Ptt__Rr__SetEncryptAck eack = PTT__RR__SET_ENCRYPT_ACK__INIT;
    EXPECT_EQ(deliver(eack.base), (Calls{{50, "0"}}));
}

TEST_F(HandlersTest, SingleCallAckPostsWhetherTheResultIsNotMinusOne)
{
    struct {
        int32_t result;
        const char *code;
    } const cases[] = {{1, "1"}, {0, "1"}, {-1, "0"}, {-2, "1"}};
    for (const auto &c : cases) {
        Ptt__Rr__SingleCallAck ack = PTT__RR__SINGLE_CALL_ACK__INIT;
        ack.result = c.result;
        EXPECT_EQ(deliver(ack.base), (Calls{{54, c.code}})) << c.result;
    }
}

TEST_F(HandlersTest, ConfigureUserAckReportsAudioBeforeLocation)
{
    uint32_t uids[] = {1001, 1002};
    Ptt__Rr__ConfigureUserAck both = PTT__RR__CONFIGURE_USER_ACK__INIT;
    both.has_audio_enabled = 1;
    both.audio_enabled = 0;
    both.has_switch_location = 1;
    both.switch_location = 1;
    both.n_uids = 2;
    both.uids = uids;
    EXPECT_EQ(deliver(both.base), (Calls{{28, "1,0,ptr,2"}}));

    Ptt__Rr__ConfigureUserAck loc = PTT__RR__CONFIGURE_USER_ACK__INIT;
    loc.result = 3;
    loc.has_switch_location = 1;
    loc.switch_location = 0; // the report always says enabled 1
    EXPECT_EQ(deliver(loc.base), (Calls{{31, "0,1,null,0"}}));

    Ptt__Rr__ConfigureUserAck account = PTT__RR__CONFIGURE_USER_ACK__INIT;
    account.has_account_enabled = 1;
    account.has_switch_location = 1;
    EXPECT_EQ(deliver(account.base), Calls{});
}

TEST_F(HandlersTest, DispatchTakeMicWorksheetAndWatchAnswers)
{
    uint32_t uids[] = {7, 8};
    Ptt__Rr__DispatchAck d = PTT__RR__DISPATCH_ACK__INIT;
    d.has_gid = 1;
    d.gid = 2001;
    d.n_dispatched_uids = 2;
    d.dispatched_uids = uids;
    EXPECT_EQ(deliver(d.base), (Calls{{29, "1,1,2001,ptr,2"}}));

    Ptt__Rr__TakeMicAck t = PTT__RR__TAKE_MIC_ACK__INIT;
    t.result = -1;
    EXPECT_EQ(deliver(t.base), (Calls{{30, "0,null,0"}}));

    Ptt__Rr__PostWorksheetAck w = PTT__RR__POST_WORKSHEET_ACK__INIT;
    EXPECT_EQ(deliver(w.base), (Calls{{32, "1"}}));

    Ptt__Rr__GetWatchGroupAck g = PTT__RR__GET_WATCH_GROUP_ACK__INIT;
    g.n_gids = 2;
    g.gids = uids;
    EXPECT_EQ(deliver(g.base), (Calls{{38, "ptr,2"}}));

    Ptt__Rr__AddWatchGroupAck a = PTT__RR__ADD_WATCH_GROUP_ACK__INIT;
    a.n_add_gids = 1;
    a.add_gids = uids;
    a.n_gids = 2;
    a.gids = uids;
    EXPECT_EQ(deliver(a.base), (Calls{{40, "ptr,1,ptr,2,0"}}));

    Ptt__Rr__RemoveWatchGroupAck r = PTT__RR__REMOVE_WATCH_GROUP_ACK__INIT;
    r.result = -4;
    EXPECT_EQ(deliver(r.base), (Calls{{39, "null,0,null,0,-4"}}));
}

TEST_F(HandlersTest, ServerMessagesAndSosAnswers)
{
    Ptt__Serv__MultimediaMessage mm = PTT__SERV__MULTIMEDIA_MESSAGE__INIT;
    EXPECT_EQ(deliver(mm.base), Calls{}); // no text: nothing
    mm.msg = const_cast<char *>("pic");
    EXPECT_EQ(deliver(mm.base), (Calls{{36, "\"pic\""}}));
    Ptt__Serv__ExternalServMsg ext = PTT__SERV__EXTERNAL_SERV_MSG__INIT;
    ext.msg = const_cast<char *>("ext");
    EXPECT_EQ(deliver(ext.base), (Calls{{37, "\"ext\""}}));

    Sos__CloseAck close = SOS__CLOSE_ACK__INIT;
    EXPECT_EQ(deliver(close.base), (Calls{{53, "0"}}));
    Sos__ProcessAck process = SOS__PROCESS_ACK__INIT;
    process.has_result = 1;
    process.result = 2;
    EXPECT_EQ(deliver(process.base), (Calls{{52, "2"}}));

    Sos__AlarmNew none = SOS__ALARM_NEW__INIT;
    EXPECT_EQ(deliver(none.base), (Calls{{51, "ptr"}}));
}

TEST_F(HandlersTest, LeaveGroupAckForgetsTheCurrentGroup)
{
    on_looper([&] {
        engine->last_gid = 2001;
        return 0;
    });
    Ptt__Rr__LeaveGroupAck ack = PTT__RR__LEAVE_GROUP_ACK__INIT;
    deliver(ack.base);
    EXPECT_EQ(on_looper([&] { return (int)engine->last_gid; }), 0);
}

TEST_F(HandlersTest, InviteTimeoutReportsOnceAndAnAckCancelsIt)
{
    on_looper([&] {
        return hal_looper_set_timer(engine->looper, lirko_send_invite_time_cb, 3.0, engine);
    });
    NotifyRecorder::get().clear();
    advance(10.0);
    EXPECT_EQ(NotifyRecorder::get().listener_calls(), (Calls{{42, ""}}));

    on_looper([&] {
        return hal_looper_set_timer(engine->looper, lirko_send_set_encryp_time_cb, 3.0, engine);
    });
    Ptt__Rr__SetEncryptAck ack = PTT__RR__SET_ENCRYPT_ACK__INIT;
    deliver(ack.base);
    NotifyRecorder::get().clear();
    advance(10.0);
    EXPECT_EQ(NotifyRecorder::get().listener_calls(), Calls{});
}

// The password change stores the pending new password: as its digest when
// [account] encrypted says the saved password is one, else as typed, whole.
TEST_F(HandlersTest, ChangePasswordStoresThePendingPassword)
{
    std::string longpw(100, 'p');
    char digest[33];
    ASSERT_EQ(md5_hex_string(longpw.c_str(), digest), 0);
    struct {
        const char *encrypted;
        const char *pending;
        int32_t result;
        std::string stored;
        const char *reported;
    } const cases[] = {
        {"0", longpw.c_str(), 0, longpw, "1"},
        {"1", longpw.c_str(), 0, digest, "1"},
        {"1", NULL, 0, "old", "1"},            // nothing pending: nothing stored
        {"0", longpw.c_str(), -2, "old", "0"}, // refused: nothing stored
    };
    for (const auto &c : cases) {
        on_looper([&] {
            hal_ini_replace(engine->ini, "account", "encrypted", c.encrypted);
            hal_ini_replace(engine->ini, "account", "password", "old");
            return lirko_set_pending_password(engine, c.pending);
        });
        Ptt__Rr__ChangePasswordAck ack = PTT__RR__CHANGE_PASSWORD_ACK__INIT;
        ack.result = c.result;
        EXPECT_EQ(deliver(ack.base), (Calls{{8, c.reported}}));
        EXPECT_EQ(ini("account", "password"), c.stored);
        EXPECT_EQ(on_looper([&] { return engine->pending_password ? 1 : 0; }), 0);
    }
    // What was stored is on disk too.
    EXPECT_NE(read_file(cwd.file("custom.ini")).find(digest), std::string::npos);
}

} // namespace ptt::test
