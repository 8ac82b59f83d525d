// Engine callbacks, raised from a thread of their own as the engine's looper
// raises them, reach exactly their page statement through POc's queued
// signals; what the engine lent for the call is overwritten as soon as the
// callback returns.
#include "jscontext.h"
#include "lirko_standin.h"
#include "poc.h"
#include "pocwiring.h"

#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <functional>
#include <thread>

using standin::Callback;
using standin::S;

namespace
{

// Runs f on a thread of its own and waits for it, as the engine's thread
// would call back while the GUI thread goes on.
void OnEngineThread(const std::function<void()> &f)
{
    std::thread t(f);
    t.join();
}

QString Json(const char *json)
{
    return JsStringEscape(QString::fromUtf8(json));
}

} // namespace

class PocTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_seen;
    QObject *m_window = nullptr;
    JsContext *m_js = nullptr;
    POc *m_poc = nullptr;
    int m_started = 0, m_stopped = 0;

    // Waits until n statements arrived; no more follow.
    QStringList Take(int n)
    {
        (void)QTest::qWaitFor([&]() { return m_seen.size() >= n; }, 10000);
        QCoreApplication::processEvents();
        QStringList out = m_seen;
        m_seen.clear();
        return out;
    }

  private slots:
    void initTestCase()
    {
        QDir::setCurrent(m_dir.path());
        RegisterBridgeMetaTypes();
        JsContext::setStatementObserver([this](const QString &s) { m_seen << s; });
        m_window = new QObject;
        m_js = new JsContext(m_window);
        m_poc = new POc(m_window);
        QCOMPARE(POc::m_gPoc.load(), m_poc);
        PocWiringHooks hooks;
        hooks.speakerStarted = [this]() { m_started++; };
        hooks.speakerStopped = [this]() { m_stopped++; };
        ConnectPocToPage(
            m_poc, m_js, m_window, []() { return nullptr; }, hooks);
        POc::InitCallbacks();
    }

    void cleanupTestCase()
    {
        delete m_window;
        JsContext::setStatementObserver(nullptr);
    }

    void registrationOrder()
    {
        const QStringList expected{"lirko_win_set_online_status_cb",
                                   "lirko_win_set_user_start_speak_cb",
                                   "lirko_win_set_user_stop_speak_cb",
                                   "lirko_win_set_start_playing_cb",
                                   "lirko_win_set_stop_playing_cb",
                                   "lirko_win_set_start_speak_cb",
                                   "lirko_win_set_stop_speak_cb",
                                   "lirko_win_set_error_cb",
                                   "lirko_win_set_change_name_cb",
                                   "lirko_win_set_change_password_cb",
                                   "lirko_win_set_audio_enabled_cb",
                                   "lirko_win_set_users_changed_cb",
                                   "lirko_win_set_current_group_cb",
                                   "lirko_win_set_member_changed_cb",
                                   "lirko_win_set_memberlist_cb",
                                   "lirko_win_set_grouplist_cb",
                                   "lirko_win_set_start_record_cb",
                                   "lirko_win_set_finish_record_cb",
                                   "lirko_win_set_play_recordfile_end_cb",
                                   "lirko_win_set_dispatcher_cb",
                                   "lirko_win_set_take_mic_cb",
                                   "lirko_win_set_audio_enabledcall_cb",
                                   "lirko_win_set_switch_location_cb",
                                   "lirko_win_set_send_cb",
                                   "lirko_win_set_message_cb",
                                   "lirko_win_set_watchgrouplist_cb",
                                   "lirko_win_set_multimedia_message_cb",
                                   "lirko_win_set_external_message_cb",
                                   "lirko_win_get_watch_group_cb",
                                   "lirko_win_rm_watch_group_cb",
                                   "lirko_win_add_watch_group_cb",
                                   "lirko_win_set_start_watch_group_cb",
                                   "lirko_win_set_send_invite_ack_cb",
                                   "lirko_win_set_send_response_invite_ack_cb",
                                   "lirko_win_set_send_invite_timeout_cb",
                                   "lirko_win_set_send_response_invite_timeout_cb",
                                   "lirko_win_set_send_push_invite_cb",
                                   "lirko_win_set_send_push_response_invite_cb",
                                   "lirko_win_set_query_department_cb",
                                   "lirko_win_set_send_encryp_timeout_cb",
                                   "lirko_win_set_send_encryp_ack_cb",
                                   "lirko_win_set_sos_alarm_new_cb",
                                   "lirko_win_set_process_sos_cb",
                                   "lirko_win_set_close_sos_cb"};
        QStringList got;
        for (const std::string &s : S().setters)
            got << QString::fromStdString(s);
        QCOMPARE(got, expected);
    }

    void textCallbacks()
    {
        char name[64], group[64];
        OnEngineThread([&]() {
            strcpy(name, "张三\"");
            strcpy(group, "North");
            Callback<lirko_speak_info_cb>("user_start_speak")(2147483648u, name, 7, group);
            Callback<lirko_speak_info_cb>("user_stop_speak")(1, name, 4294967295u, group);
            Callback<lirko_speak_info_cb>("start_playing")(1, name, 7, group);
            Callback<lirko_speak_info_cb>("stop_playing")(1, name, 7, group);
            Callback<lirko_group_info_cb>("start_speak")(4294967295u, group);
            Callback<lirko_group_info_cb>("stop_speak")(7, group);
            Callback<lirko_group_info_cb>("current_group")(0, group);
            Callback<lirko_group_info_cb>("current_group")(5, nullptr);
            Callback<lirko_group_info_cb>("current_group")(4294967295u, group);
            Callback<lirko_error_cb>("error")("登录失败", -12);
            Callback<lirko_text_cb>("external_message")("ext'msg");
            Callback<lirko_text_cb>("multimedia_message")("log only");
            Callback<lirko_message_cb>("message")("log only");
            Callback<lirko_void_cb>("watchgrouplist")();
            memset(name, 0xAA, sizeof(name));
            memset(group, 0xAA, sizeof(group));
        });
        QCOMPARE(
            Take(9),
            (QStringList{
                QString::fromUtf8(
                    "onUserStartSpeakX(\"2147483648\" , \"张三\\\"\" , \"7\" , \"North\");"),
                QString::fromUtf8(
                    "onUserStopSpeakX(\"1\" , \"张三\\\"\" , \"4294967295\" , \"North\");"),
                QString::fromUtf8("onStartPlayingX(\"1\" , \"张三\\\"\" , \"7\" , \"North\");"),
                QString::fromUtf8("onStopPlayingX(\"1\" , \"张三\\\"\" , \"7\" , \"North\");"),
                "onStartSpeakX(\"4294967295\" , \"North\");", "onStopSpeakX(\"7\" , \"North\");",
                "onCurrentGroupX(\"-1\", \"North\");",
                QString::fromUtf8("onErrorX(\"登录失败\" , \"-12\");"),
                "OnExternalMessagepX('ext\\'msg');"}));
        QCOMPARE(m_started, 2);
        QCOMPARE(m_stopped, 2);
    }

    void scalarCallbacks()
    {
        OnEngineThread([]() {
            Callback<lirko_online_status_cb>("online_status")(LIRKO_STATUS_ONLINE);
            Callback<lirko_bool_cb>("change_name")(2);
            Callback<lirko_bool_cb>("change_password")(0);
            Callback<lirko_bool_cb>("audio_enabled")(1);
            Callback<lirko_bool_cb>("send")(5);
            Callback<lirko_take_mic_cb>("take_mic")(3, nullptr, 0);
            Callback<lirko_gid_cb>("memberlist")(4294967295u);
            Callback<lirko_void_cb>("grouplist")();
            Callback<lirko_void_cb>("play_recordfile_end")();
            Callback<lirko_gid_cb>("start_watch_group")(12);
            Callback<lirko_void_cb>("send_invite_timeout")();
            Callback<lirko_void_cb>("send_response_invite_timeout")();
            Callback<lirko_result_cb>("send_response_invite_ack")(-1);
            Callback<lirko_void_cb>("query_department_tree")();
            Callback<lirko_void_cb>("send_encryp_timeout")();
            Callback<lirko_result_cb>("send_encryp_ack")(-3);
            Callback<lirko_result_cb>("process_sos")(1);
            Callback<lirko_result_cb>("close_sos")(-2);
        });
        QCOMPARE(Take(18),
                 (QStringList{"onOnlineStatusChangedX('3');", "onChangeNameResultX(\"1\");",
                              "onChangePasswordResultX(\"0\");", "onAudioEnableChangedX(\"1\");",
                              "onSendedX(\"1\");", "onTakeMicX(\"1\");",
                              "onMemberListX(\"4294967295\");", "onGroupListX();",
                              "onStopPalyRecordX();", "onStartWatchGroupX('12');",
                              "OnSendInviteTimeOutX();", "OnSendResponseInviteTimeOutX();",
                              "OnSendResponseInviteAckX('4294967295');", "OngetallgrouopsackX();",
                              "sendQueryEncrypTimeout();", "sendQueryEncrypAckX(\"-3\");",
                              "sendprocessSosX(\"1\");", "sendcloseSOsX(\"-2\");"}));
    }

    void recordCallbacks()
    {
        char t[32], f[32];
        OnEngineThread([&]() {
            strcpy(t, "2024-01-01 10:00:00");
            strcpy(f, "/r/a.amr");
            Callback<lirko_start_record_cb>("start_record")(7, 8, t, f);
            Callback<lirko_finish_record_cb>("finish_record")(2, 7, 8, t, f);
            memset(t, 0, sizeof(t));
            memset(f, 0, sizeof(f));
        });
        QCOMPARE(
            Take(2),
            (QStringList{
                "onStartRecordX(\"7\", \"8\", \"2024-01-01 10:00:00\", \"/r/a.amr\");",
                "onStopRecordX(\"1\", \"7\", \"8\", \"2024-01-01 10:00:00\", \"/r/a.amr\");"}));
    }

    void listCallbacks()
    {
        uid_t uids[3];
        gid_t gids[3], changed[2];
        win_user_t users[2];
        OnEngineThread([&]() {
            uids[0] = 2147483648u;
            uids[1] = 5;
            uids[2] = 4294967295u;
            Callback<lirko_uid_list_result_cb>("audio_enabledcall")(1, 0, uids, 3);
            Callback<lirko_uid_list_result_cb>("switch_location")(0, 7, uids, 0);
            Callback<lirko_dispatcher_cb>("dispatcher")(1, 1, 4294967295u, nullptr, 0);
            Callback<lirko_members_changed_cb>("member_changed")(9, uids, 2, nullptr, 0, uids + 2,
                                                                 1, nullptr, 0);
            gids[0] = 1;
            gids[1] = 2;
            gids[2] = 2147483648u;
            changed[0] = 2147483648u;
            changed[1] = 3;
            Callback<lirko_watch_group_list_cb>("add_watch_group")(changed, 1, gids, 3, 0);
            Callback<lirko_watch_group_list_cb>("rm_watch_group")(changed + 1, 1, gids, 2, 0);
            Callback<lirko_watch_group_list_cb>("get_watch_group")(gids, 3, nullptr, 0, 0);
            Callback<lirko_watch_group_list_cb>("get_watch_group")(nullptr, 0, nullptr, 0, 0);
            Callback<lirko_users_changed_cb>("users_changed")(0, nullptr);
            memset(users, 0, sizeof(users));
            users[0].gid = 9;
            users[0].uid = 2147483648u;
            users[0].online = 3;
            users[0].has_gid = 1;
            users[0].has_role = 1;
            users[0].audio_enabled = 1;
            users[0].encrypt_on = 1;
            memset(users[0].name, 'n', sizeof(users[0].name)); // a full field, no terminator
            users[1].uid = 6;
            strcpy(users[1].name, "six");
            Callback<lirko_users_changed_cb>("users_changed")(2, users);
            memset(uids, 0xAA, sizeof(uids));
            memset(gids, 0xAA, sizeof(gids));
            memset(users, 0xAA, sizeof(users));
        });
        const QString n64(64, QLatin1Char('n'));
        QCOMPARE(
            Take(10),
            (QStringList{
                "onAudioEnabledX('" +
                    Json("{\"AudioEnable\":false,\"Size\":3,\"Success\":true,"
                         "\"Uids\":[-2147483648,5,-1]}") +
                    "');",
                "onSwitchLocationX('" +
                    Json("{\"LocationEnabled\":true,\"Size\":0,\"Success\":false,\"Uids\":[]}") +
                    "');",
                "onDispatchedX('" +
                    Json(
                        "{\"Gid\":-1,\"HasGid\":true,\"Success\":true,\"UidSize\":0,\"Uids\":[]}") +
                    "');",
                "onMemberChangedX('" +
                    Json("{\"Gid\":9,\"Jc\":1,\"Js\":[-1],\"Lc\":0,\"Ls\":[],\"Rc\":0,\"Rs\":[],"
                         "\"Uc\":2,\"Us\":[-2147483648,5]}") +
                    "');",
                "onAddWatchGropX('" +
                    Json("{\"AddGids\":[-2147483648],\"Gids\":[1,2,-2147483648],"
                         "\"add_gid_count\":1,\"gid_count\":3}") +
                    "');",
                "onRmWatchGropX('" +
                    Json("{\"Gids\":[1,2],\"RmGids\":[3],\"gid_count\":2,\"rm_gid_count\":1}") +
                    "');",
                "onGetWatchGroupX('" + Json("{\"Gids\":[1,2,-2147483648],\"gid_count\":3}") + "');",
                "onGetWatchGroupX('" + Json("{\"Gids\":[],\"gid_count\":0}") + "');",
                "onUserChangedX(\"0\" , '[]');",
                "onUserChangedX(\"2\" , '" +
                    JsStringEscape("[{\"audio_enable\":1,\"encrypt_on\":1,\"gid\":9,\"has_gid\":1,"
                                   "\"has_role\":1,\"name\":\"" +
                                   n64 +
                                   "\",\"online\":3,\"uid\":-2147483648},"
                                   "{\"audio_enable\":0,\"encrypt_on\":0,\"gid\":0,\"has_gid\":0,"
                                   "\"has_role\":0,\"name\":\"six\",\"online\":0,\"uid\":6}]") +
                    "');"}));
    }

    void inviteAndAlarmCallbacks()
    {
        uint32_t invited[2];
        char msg[16];
        sos_alarm_t alarm;
        OnEngineThread([&]() {
            invited[0] = 3;
            invited[1] = 2147483648u;
            Callback<lirko_invite_ack_cb>("send_invite_ack")(9223372036854775813ull, invited, 2,
                                                             -1);
            Callback<lirko_invite_ack_cb>("send_invite_ack")(1, nullptr, 0, 0);
            strcpy(msg, "来 'x'");
            Callback<lirko_push_invite_cb>("send_push_invite")(9223372036854775813ull, 4294967295u,
                                                               1, 0, msg, 1);
            Callback<lirko_push_response_invite_cb>("send_push_response_invite")(
                18446744073709551615ull, 8, 1, -1);
            memset(&alarm, 0, sizeof(alarm));
            alarm.uuid = 9223372036854775813ull;
            alarm.status = 1;
            alarm.reporter = 2147483648u;
            alarm.gid = 18446744073709551615ull;
            alarm.processer = 4;
            alarm.start_time = 100;
            alarm.process_time = 200;
            alarm.close_time = 300;
            alarm.longitude = 116.5;
            alarm.latitude = 39.25;
            alarm.altitude = 10;
            alarm.location_type = 2;
            memset(alarm.address, 'a', sizeof(alarm.address));
            alarm.speed = 1.5;
            alarm.dirang = 90;
            alarm.satellites = 7;
            alarm.resend = 1;
            memset(alarm.devicesn, 'd', sizeof(alarm.devicesn));
            alarm.source = 3;
            alarm.accuracy = 3;
            alarm.year = 2024;
            alarm.month = 5;
            alarm.day = 16;
            alarm.hour = 10;
            alarm.minute = 20;
            alarm.second = 30;
            alarm.millisecond = 400;
            Callback<lirko_sos_alarm_cb>("sos_alarm")(&alarm);
            memset(invited, 0xAA, sizeof(invited));
            memset(msg, 0xAA, sizeof(msg));
            memset(&alarm, 0xAA, sizeof(alarm));
        });
        const QString addr(132, QLatin1Char('a')), sn(131, QLatin1Char('d'));
        QCOMPARE(
            Take(5),
            (QStringList{
                "OnSendInviteAckX('" +
                    Json("{\"invite_id\":\"9223372036854775813\",\"invites\":[3,-2147483648],"
                         "\"invites_count\":2,\"result\":-1}") +
                    "');",
                "OnSendInviteAckX('" +
                    Json("{\"invite_id\":\"1\",\"invites\":[],\"invites_count\":0,\"result\":0}") +
                    "');",
                QString::fromUtf8("OnSendPushInviteX(\"9223372036854775813\", \"4294967295\", "
                                  "\"1\", \"0\", \"来 \\'x\\'\", \"1\");"),
                "OnSendPushResponseInviteX(\"18446744073709551615\", \"8\", \"1\", "
                "\"4294967295\");",
                "sendsosAlarmX('" +
                    JsStringEscape(
                        "{\"accuracy\":3,\"address\":\"" + addr +
                        "\",\"altitude\":10,\"close_time\":300,\"day\":16,\"devicesn\":\"" + sn +
                        "\",\"dirang\":90,\"gid\":\"18446744073709551615\",\"hour\":10,"
                        "\"latitude\":39.25,\"location_type\":2,\"longitude\":116.5,"
                        "\"millisecond\":400,\"minute\":20,\"month\":5,\"process_time\":200,"
                        "\"processer\":4,\"reporter\":-2147483648,\"resend\":1,\"satellites\":7,"
                        "\"second\":30,\"source\":3,\"speed\":1.5,\"start_time\":100,"
                        "\"status\":1,\"uuid\":\"9223372036854775813\",\"year\":2024}") +
                    "');"}));
    }

    void broadcastPlayback()
    {
        S().results["lirko_win_broadcast_play_recordaudio"] = -2;
        QCOMPARE(m_poc->sendPlayRecordBroadcastAudio(), -2);
        QCOMPARE(S().calls.back(), std::string("lirko_win_broadcast_play_recordaudio(cb)"));
        OnEngineThread([]() { Callback<lirko_play_stop_cb>("broadcast_play_stop")(); });
        QCOMPARE(Take(1), QStringList{"OnPlayStopX();"});
    }

    void manyArriveInOrder()
    {
        OnEngineThread([]() {
            for (gid_t g = 1; g <= 200; g++)
                Callback<lirko_gid_cb>("memberlist")(g);
        });
        QStringList got = Take(200);
        QCOMPARE(got.size(), 200);
        for (int i = 0; i < 200; i++)
            QCOMPARE(got[i], QStringLiteral("onMemberListX(\"%1\");").arg(i + 1));
    }

    void secondInstanceChangesNothing()
    {
        POc second;
        QCOMPARE(POc::m_gPoc.load(), m_poc);
    }

    // Last: the instance goes away.
    void nothingAfterTheInstanceIsGone()
    {
        delete m_poc;
        m_poc = nullptr;
        QVERIFY(POc::m_gPoc.load() == nullptr);
        OnEngineThread([]() {
            Callback<lirko_online_status_cb>("online_status")(LIRKO_STATUS_OFFLINE);
            Callback<lirko_gid_cb>("memberlist")(3);
        });
        QTest::qWait(100);
        QVERIFY(m_seen.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PocTest)
#include "poc_test.moc"
