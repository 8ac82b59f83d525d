// The page object's slots against the recording stand-in of the engine:
// what reaches the engine, what comes back, and the directory JSON.
#include "jscontext.h"
#include "lirko_standin.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <functional>

using standin::S;

namespace
{

QStringList Calls()
{
    QStringList out;
    for (const std::string &c : S().calls)
        out << QString::fromStdString(c);
    return out;
}

QJsonArray A(const char *json)
{
    return QJsonDocument::fromJson(json).array();
}

win_group_t Group(gid_t gid, const char *name, int32_t weight = 0)
{
    win_group_t g{};
    g.gid = gid;
    strncpy(g.name, name, sizeof(g.name) - 1);
    g.sort_weight = weight;
    return g;
}

win_member_t Member(uid_t uid, const char *name, uint32_t online, uint32_t ingroup,
                    int32_t weight = 0)
{
    win_member_t m{};
    m.gid = 9;
    m.uid = uid;
    strncpy(m.name, name, sizeof(m.name) - 1);
    m.online = online;
    m.ingroup = ingroup;
    m.sort_weight = weight;
    m.has_gid = 1;
    return m;
}

win_user_t User(uid_t uid, const char *name)
{
    win_user_t u{};
    u.gid = 9;
    u.uid = uid;
    u.role = 3;
    u.online = 3;
    u.has_gid = 1;
    u.has_role = 1;
    u.audio_enabled = 1;
    u.location_on = 1;
    u.location_period = uid * 10;
    strncpy(u.name, name, sizeof(u.name) - 1);
    u.encrypt_on = 1;
    return u;
}

QStringList Names(const QString &json)
{
    QStringList names;
    for (const QJsonValue &v : QJsonDocument::fromJson(json.toUtf8()).array())
        names << v.toObject().value(QStringLiteral("name")).toString();
    return names;
}

} // namespace

using SlotCall = std::function<int(JsContext &)>;
Q_DECLARE_METATYPE(SlotCall)

class JsContextTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_old;

  private slots:
    void initTestCase()
    {
        m_old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        // The console reads its readings from its working directory.
        QVERIFY(QFile::copy(QStringLiteral(PTT_RUN_DIR "/py.res"), QStringLiteral("py.res")));
        qputenv("HOME", m_dir.path().toUtf8() + "/home");
    }

    void cleanupTestCase()
    {
        QDir::setCurrent(m_old);
    }

    void init()
    {
        standin::Reset();
    }

    void idArrays_data()
    {
        QTest::addColumn<SlotCall>("call");
        QTest::addColumn<QString>("engine");
        const char *ids = "[1, 2.9, -1, \"x\", 1e30]";
        auto row = [](const char *name, SlotCall f, const char *e) {
            QTest::newRow(name) << f << QString::fromLatin1(e);
        };
        row(
            "Call", [=](JsContext &j) { return j.Call(A(ids)); },
            "lirko_win_Call([1,2,4294967295,0,0],5)");
        row(
            "ForceDispatch", [=](JsContext &j) { return j.ForceDispatch(A(ids)); },
            "lirko_win_schedule_force_dispatch([1,2,4294967295,0,0],5)");
        row(
            "Takemic", [=](JsContext &j) { return j.Takemic(A(ids)); },
            "lirko_win_schedule_takemic([1,2,4294967295,0,0],5)");
        row(
            "Audioenable", [=](JsContext &j) { return j.Audioenable(A(ids), true); },
            "lirko_win_schedule_audioenable([1,2,4294967295,0,0],5,1)");
        row(
            "SwitchLocation", [=](JsContext &j) { return j.SwitchLocation(A(ids), false, 30); },
            "lirko_win_schedule_switch_location([1,2,4294967295,0,0],5,0,30)");
        row(
            "TempJoinGroup", [=](JsContext &j) { return j.TempJoinGroup(-1, A(ids)); },
            "lirko_win_schedule_temp_join_group(4294967295,[1,2,4294967295,0,0],5)");
        row(
            "TempLeaveGroup", [=](JsContext &j) { return j.TempLeaveGroup(0, A(ids)); },
            "lirko_win_schedule_temp_leave_group(0,[1,2,4294967295,0,0],5)");
        row(
            "SendTextBroadcast",
            [=](JsContext &j) { return j.SendTextBroadcast(QStringLiteral("t"), A(ids)); },
            "lirko_win_broadcast_send_text(\"t\",[1,2,4294967295,0,0],5)");
        row(
            "SendAudioBroadcast", [=](JsContext &j) { return j.SendAudioBroadcast(A(ids)); },
            "lirko_win_broadcast_send_recordaudio([1,2,4294967295,0,0],5)");
        row(
            "empty", [](JsContext &j) { return j.Call(QJsonArray()); }, "lirko_win_Call([],0)");
        row(
            "AddWatchGroup at most the array",
            [](JsContext &j) { return j.AddWatchGroup(A("[1,2]"), 5); },
            "lirko_win_AddWatchGroup([1,2],2)");
        row(
            "AddWatchGroup fewer", [](JsContext &j) { return j.AddWatchGroup(A("[1,2,3]"), 2); },
            "lirko_win_AddWatchGroup([1,2],2)");
        row(
            "RmWatchGroup negative", [](JsContext &j) { return j.RmWatchGroup(A("[1,2]"), -3); },
            "lirko_win_RmWatchGroup([],0)");
    }

    void idArrays()
    {
        QFETCH(SlotCall, call);
        QFETCH(QString, engine);
        JsContext js;
        S().results[engine.left(engine.indexOf('(')).toStdString()] = -7;
        QCOMPARE(call(js), -7);
        QCOMPARE(Calls(), QStringList{engine});
    }

    void initConfigOrderAndResult()
    {
        JsContext js;
        S().results["lirko_win_save_context"] = -1;
        S().results["lirko_win_save_dns"] = -1;
        S().results["lirko_win_save_record_code"] = 5;
        QCOMPARE(js.Init_Config(QString::fromUtf8("上下文"), QStringLiteral("1.2.3.4:5"),
                                QStringLiteral("amr")),
                 5);
        QCOMPARE(Calls(), (QStringList{QString::fromUtf8("lirko_win_save_context(\"上下文\")"),
                                       "lirko_win_save_dns(\"1.2.3.4:5\")",
                                       "lirko_win_save_record_code(\"amr\")"}));
    }

    void plainSlots()
    {
        JsContext js;
        QCOMPARE(js.CallByFullDuplex(0), -1);
        QVERIFY(S().calls.empty());
        QCOMPARE(js.CallByFullDuplex(4294967295u), 0);
        QCOMPARE(js.JoinGroup(-2), 0);
        QCOMPARE(js.login(QString::fromUtf8("张"), QStringLiteral("p"), 2), 0);
        S().results["lirko_win_getCurrentGroup"] = -1;
        QCOMPARE(js.GetCurrentGroup(), -1);
        QCOMPARE(Calls(), (QStringList{"lirko_win_single_call_full_duplex(4294967295)",
                                       "lirko_win_joinGroup(4294967294)",
                                       QString::fromUtf8("lirko_win_login(\"张\",\"p\",2)"),
                                       "lirko_win_getCurrentGroup()"}));
    }

    void hasAudioEnabledOnlyForOne()
    {
        JsContext js;
        for (int v : {0, 1, 2, -1}) {
            S().results["lirko_win_hasAudioEnabled"] = v;
            QCOMPARE(js.HasAudioEnabled(), v == 1);
        }
        S().results["lirko_win_hasAccount"] = 2;
        QVERIFY(js.HasAccount());
        S().results["lirko_win_isSpeaking"] = 5;
        QVERIFY(js.IsSpeaking());
        QVERIFY(!js.IsListening());
    }

    void logoutTellsTheWindowFirst()
    {
        JsContext js;
        S().results["lirko_win_logout"] = -3;
        size_t calls_at_emit = 99;
        connect(&js, &JsContext::logoutsingal, this, [&]() { calls_at_emit = S().calls.size(); });
        QCOMPARE(js.Logout(), -3);
        QCOMPARE(calls_at_emit, size_t(0));
        QCOMPARE(Calls(), QStringList{"lirko_win_logout()"});
    }

    void invite()
    {
        JsContext js;
        QCOMPARE(js.SendInvite(QString::fromUtf8(
                     "{\"invites\":[5,4294967295],\"with_audio\":true,\"with_video\":1,"
                     "\"is_full_duplex\":true,\"msg\":\"开会 ok\"}")),
                 0);
        QCOMPARE(js.SendInvite(QStringLiteral("{}")), 0);
        QCOMPARE(js.SendInvite(QStringLiteral("not json")), -1);
        QCOMPARE(js.SendInvite(QString()), -1);
        // The message goes out as UTF-8; a non-bool flag counts as false.
        QCOMPARE(Calls(),
                 (QStringList{
                     QString::fromUtf8("lirko_win_send_invite([5,4294967295],2,1,0,\"开会 ok\",1)"),
                     "lirko_win_send_invite(NULL,0,0,0,\"\",0)"}));
    }

    void responseInvite()
    {
        JsContext js;
        QCOMPARE(js.SendResponseInvite(QString(), 1, 1), -1);
        QCOMPARE(js.SendResponseInvite(QStringLiteral("18446744073709551615"), 7, 1), 0);
        QCOMPARE(js.SendResponseInvite(QStringLiteral("abc"), 7, 256), 0);
        QCOMPARE(Calls(), (QStringList{"lirko_win_send_response_invite(18446744073709551615,7,1)",
                                       "lirko_win_send_response_invite(0,7,0)"}));
    }

    void encryption()
    {
        JsContext js;
        const QString on = QStringLiteral(
            "{\"encryp_targets\":[3,-1],\"encryp_scope\":1,\"encryp_type\":\"aes\"}");
        QCOMPARE(js.AudioEncryp(on), 0);
        QCOMPARE(js.AudioEncryp(QStringLiteral("{\"encryp_key\":\"k1\"}")), 0);
        QCOMPARE(js.CloseAudioEncryp(on), 0);
        QCOMPARE(js.CloseAudioEncryp(QStringLiteral("[")), -1);
        QCOMPARE(js.AudioEncryp(QString()), -1);
        // An absent key in the page's JSON is an empty key, not "off".
        QCOMPARE(Calls(),
                 (QStringList{"lirko_win_set_AudioEncryp(1,[3,4294967295],2,\"aes\",\"\")",
                              "lirko_win_set_AudioEncryp(0,NULL,0,\"\",\"k1\")",
                              "lirko_win_set_AudioEncryp(1,[3,4294967295],2,\"aes\",NULL)"}));
    }

    void sosReturnsTheEngineResult()
    {
        JsContext js;
        QCOMPARE(js.ProcessSos(5, QString()), -1);
        QCOMPARE(js.CloseSos(5, QString()), -1);
        QVERIFY(S().calls.empty());
        S().results["lirko_win_process_sos_alarm"] = -4;
        S().results["lirko_win_close_sos_alarm"] = 0;
        QCOMPARE(js.ProcessSos(-1, QStringLiteral("9223372036854775813")), -4);
        QCOMPARE(js.CloseSos(5, QStringLiteral("x")), 0);
        QCOMPARE(Calls(),
                 (QStringList{"lirko_win_process_sos_alarm(4294967295,9223372036854775813)",
                              "lirko_win_close_sos_alarm(5,0)"}));
    }

    void ownRecording()
    {
        JsContext js;
        const QString docs = QDir::homePath() + QStringLiteral("/Documents");
        QVERIFY(!QDir(docs).exists());
        QCOMPARE(js.StopRecordAudio(), -1);
        QCOMPARE(js.StartRecordAudio(), 0);
        QVERIFY(QDir(docs).exists());
        QVERIFY(js.GetRecordAudioFilePath().isNull());
        QCOMPARE(js.StartRecordAudio(), -1);
        S().results["lirko_win_stop_record"] = 3;
        QCOMPARE(js.StopRecordAudio(), 3);
        QCOMPARE(js.GetRecordAudioFilePath(), QString::fromStdString(S().record_file));
        QCOMPARE(js.StopRecordAudio(), -1);
        QCOMPARE(Calls(), (QStringList{QStringLiteral("lirko_win_start_record(\"%1\")").arg(docs),
                                       "lirko_win_stop_record()"}));
    }

    void failedRecordingStartIsStopped()
    {
        JsContext js;
        S().results["lirko_win_start_record"] = -1;
        QCOMPARE(js.StartRecordAudio(), -1);
        const QString docs = QDir::homePath() + QStringLiteral("/Documents");
        QCOMPARE(Calls(), (QStringList{QStringLiteral("lirko_win_start_record(\"%1\")").arg(docs),
                                       "lirko_win_stop_record()"}));
        // Still idle: a stop is refused without reaching the engine.
        QCOMPARE(js.StopRecordAudio(), -1);
        QCOMPARE(S().calls.size(), size_t(2));
    }

    void broadcastRecording()
    {
        JsContext js;
        S().results["lirko_win_broadcast_start_record"] = -2;
        QCOMPARE(js.StartRecordBroadcastAudio(), -2);
        QCOMPARE(js.StopRecordBroadcastAudio(), 0);
        QSignalSpy play(&js, &JsContext::PlayRecordBroadcastAudioSignal);
        QCOMPARE(js.PlayRecordBroadcastAudio(), 0);
        QCOMPARE(play.count(), 1);
        QCOMPARE(Calls(), (QStringList{"lirko_win_broadcast_start_record()",
                                       "lirko_win_broadcast_stop_record()"}));
    }

    void mms()
    {
        JsContext js;
        js.SendMms(QStringLiteral("abc"), 0, QStringLiteral("t"));
        js.SendMms(QStringLiteral("abc"), -5, QStringLiteral("t"));
        js.SendMms(QStringLiteral("abc"), 3, QString());
        js.SendMms(QString(), 3, QStringLiteral("t"));
        js.SendMms(QLatin1String(""), 3, QStringLiteral("t"));
        QVERIFY(S().calls.empty());
        js.SendMms(QStringLiteral("abc"), 100, QStringLiteral("ptt.Mms"));
        js.SendMms(QStringLiteral("abc"), 2, QStringLiteral("ptt.Mms"));
        QCOMPARE(Calls(), (QStringList{"lirko_win_send_mms(\"abc\",3,\"ptt.Mms\")",
                                       "lirko_win_send_mms(\"ab\",2,\"ptt.Mms\")"}));
    }

    void saveAccount()
    {
        JsContext js;
        const QString n511(511, QLatin1Char('n'));
        QCOMPARE(js.SaveAccount(QStringLiteral("{\"Name\":\"%1\",\"Password\":\"p\",\"Role\":3}")
                                    .arg(QString(512, QLatin1Char('n')))),
                 -1);
        QCOMPARE(js.SaveAccount(QStringLiteral("{\"Name\":\"a\",\"Password\":\"%1\"}")
                                    .arg(QString(171, QChar(0x4E00)))),
                 -1);
        QVERIFY(S().calls.empty());
        QCOMPARE(js.SaveAccount(
                     QStringLiteral("{\"Name\":\"%1\",\"Password\":\"p\",\"Role\":3}").arg(n511)),
                 0);
        QCOMPARE(js.SaveAccount(QStringLiteral("nonsense")), 0);
        QCOMPARE(js.SaveAccount(QStringLiteral("{\"Name\":5,\"Role\":\"x\"}")), 0);
        QCOMPARE(Calls(),
                 (QStringList{QStringLiteral("lirko_win_saveAccount(\"%1\",\"p\",3)").arg(n511),
                              "lirko_win_saveAccount(\"\",\"\",0)",
                              "lirko_win_saveAccount(\"\",\"\",0)"}));
    }

    void settingsThroughThePage()
    {
        JsContext js;
        QVERIFY(js.QtReadIni(QStringLiteral("/page/k")).isNull());
        js.QtWriteIni(QStringLiteral("/page/k"), QString::fromUtf8("值"));
        QCOMPARE(js.QtReadIni(QStringLiteral("/PAGE/K")), QString::fromUtf8("值"));
        QCOMPARE(js.GetVersion(), QStringLiteral("QT15_V3.1.4_20240516"));
        QSignalSpy update(&js, &JsContext::QtUpdateSignal);
        QVERIFY(js.NotifyQtUpdate(QStringLiteral("u")));
        QCOMPARE(update.count(), 1);
    }

    // The slots that take or hand out a password log it by length only.
    void passwordsStayOutOfTheLog()
    {
        static QStringList lines;
        lines.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { lines << text; });
        {
            JsContext js;
            (void)js.SaveAccount(QStringLiteral("{\"Name\":\"ann\",\"Password\":\"pw-Saved\"}"));
            (void)js.ChangePassword(QStringLiteral("pw-Old"), QStringLiteral("pw-New"));
            js.QtWriteIni(QStringLiteral("/account/password"), QStringLiteral("pw-Ini"));
            QCOMPARE(js.QtReadIni(QStringLiteral("/Account/Password")), QStringLiteral("pw-Ini"));
            js.QtWriteIni(QStringLiteral("/account/user"), QStringLiteral("ann-user"));
        }
        qInstallMessageHandler(previous);
        const QString all = lines.join(QLatin1Char('\n'));
        QVERIFY2(!all.contains(QLatin1String("pw-")), qPrintable(all));
        // The log still tells what happened.
        QVERIFY2(all.contains(QLatin1String("Password length:  8")), qPrintable(all));
        QVERIFY2(all.contains(QLatin1String("newpassword length: 6")), qPrintable(all));
        QVERIFY2(all.contains(QLatin1String("ann-user")), qPrintable(all));
    }

    void recordDeviceFromTheFileBackend()
    {
        JsContext js;
        qputenv("LIRKO_AUDIO", "file:/tmp/in.wav,/tmp/out.wav");
        QVERIFY(js.CheckRecordDevice());
        qunsetenv("LIRKO_AUDIO");
    }

    void singleRecords()
    {
        JsContext js;
        S().self = User(2147483648u, "me");
        S().self.gid = 0xFFFFFFFFu;
        QCOMPARE(js.GetCurrentUser(),
                 QStringLiteral("{\"audio_enabled\":1,\"encrypt_on\":1,\"gid\":-1,\"has_gid\":1,"
                                "\"has_role\":1,\"location_on\":1,\"location_period\":0,"
                                "\"name\":\"me\",\"online\":3,\"uid\":-2147483648}"));
        S().users = {User(5, "five")};
        QCOMPARE(js.GetUser(5),
                 QStringLiteral("{\"audio_enabled\":1,\"encrypt_on\":1,\"gid\":9,\"has_gid\":1,"
                                "\"has_role\":1,\"location_on\":1,\"location_period\":50,"
                                "\"name\":\"five\",\"online\":3,\"role\":3,\"uid\":5}"));
        // Unknown: every number 0 and an empty name.
        QCOMPARE(js.GetUser(6),
                 QStringLiteral("{\"audio_enabled\":0,\"encrypt_on\":0,\"gid\":0,\"has_gid\":0,"
                                "\"has_role\":0,\"location_on\":0,\"location_period\":0,"
                                "\"name\":\"\",\"online\":0,\"role\":0,\"uid\":0}"));
        win_group_t g = Group(7, "North");
        g.type = 1;
        g.prior = -2;
        g.ip = 0xC0A80001u;
        g.port = 65535;
        g.is_encryp = 1;
        S().groups = {g};
        QCOMPARE(js.GetGroupByGid(7),
                 QStringLiteral("{\"gid\":7,\"ip\":-1062731775,\"is_encryp\":1,\"name\":\"North\","
                                "\"port\":65535,\"prior\":-2,\"type\":1}"));
        S().playing = User(8, "p");
        QCOMPARE(js.GetPlayingSoundUserMsg(),
                 QStringLiteral("{\"audio_enabled\":1,\"encrypt_on\":1,\"gid\":9,\"has_gid\":1,"
                                "\"has_role\":1,\"name\":\"p\",\"online\":3,\"uid\":8}"));
        S().saved_account = "acc";
        S().saved_password = "pw";
        S().saved_role = 2;
        QCOMPARE(js.GetSavedAccount(),
                 QStringLiteral("{\"IsAutoLogin\":0,\"IsRemembered\":0,\"Name\":\"acc\","
                                "\"Password\":\"pw\",\"Role\":2}"));
        S().name = "名字";
        QCOMPARE(js.GetName(), QString::fromUtf8("名字"));
        QCOMPARE(js.GetUid(), QStringLiteral("2147483648"));
        QCOMPARE(js.GetOnlineStatus(), QStringLiteral("3"));
    }

    void usersKeepTheirPositions()
    {
        JsContext js;
        S().users = {User(5, "five"), User(7, "seven")};
        const QString json = js.GetUsers(A("[7, 9, 5]"));
        QJsonArray a = QJsonDocument::fromJson(json.toUtf8()).array();
        QCOMPARE(a.size(), 3);
        QCOMPARE(a[0].toObject().value("location_period").toInt(), 70);
        QCOMPARE(a[0].toObject().value("name").toString(), QStringLiteral("seven"));
        // The engine stops at the unknown 9: it and everything after stay zero.
        QCOMPARE(a[1].toObject().value("uid").toInt(), 0);
        QCOMPARE(a[2].toObject().value("uid").toInt(), 0);
        QVERIFY(!a[0].toObject().contains("role"));
        QCOMPARE(js.GetUsers(QJsonArray()), QStringLiteral("[]"));
    }

    void groupListOrderAndShape()
    {
        JsContext js;
        win_group_t full{};
        full.gid = 99;
        memset(full.name, 'z', sizeof(full.name)); // no terminator in the field
        S().groups = {Group(1, "word"),  Group(2, "10a"), Group(3, "Word"),
                      Group(4, "好", 5), Group(5, "9a"),  full};
        const QStringList expected{QString::fromUtf8("好"),      "9a", "10a", "Word", "word",
                                   QString(64, QLatin1Char('z'))};
        QCOMPARE(Names(js.GetGroupList()), expected);
        QCOMPARE(Names(js.GetGroupListExtern()), expected);
        QVERIFY(S().calls.back() == "lirko_win_getGroupList_extern(6,1)");
        QCOMPARE(Names(js.GetGroupListExtern(false)), expected);
        QVERIFY(S().calls.back() == "lirko_win_getGroupList_extern(6,0)");
        S().groups.clear();
        QCOMPARE(js.GetGroupList(), QStringLiteral("[]"));
    }

    void memberListOrderAndShape()
    {
        JsContext js;
        S().members = {Member(1, "b", 3, 1), Member(2, "a", 3, 0), Member(3, "c", 1, 1),
                       Member(2147483648u, "d", 3, 1, 5), Member(4, "长", 3, 1)};
        const QString json = js.GetMemberList(9);
        QCOMPARE(Names(json), (QStringList{"d", "b", QString::fromUtf8("长"), "a", "c"}));
        QJsonObject d = QJsonDocument::fromJson(json.toUtf8()).array().first().toObject();
        QCOMPARE(QString::fromUtf8(QJsonDocument(d).toJson(QJsonDocument::Compact)),
                 QStringLiteral("{\"audio_enabled\":0,\"encrypt_on\":0,\"gid\":9,\"has_gid\":1,"
                                "\"has_role\":0,\"ingroup\":1,\"location_on\":0,"
                                "\"location_period\":0,\"name\":\"d\",\"online\":3,\"role\":0,"
                                "\"uid\":-2147483648}"));
        QCOMPARE(js.GetMemberListRefresh(9), json);
    }

    void listsThatShrankShowNoPhantoms()
    {
        JsContext js;
        S().shrink = 3;
        S().members = {Member(1, "b", 3, 1)};
        S().groups = {Group(1, "g")};
        S().speakers = {User(5, "s")};
        S().watched = {Group(2, "w")};
        QCOMPARE(Names(js.GetMemberList(9)), QStringList{"b"});
        QCOMPARE(Names(js.GetGroupList()), QStringList{"g"});
        QCOMPARE(Names(js.GetSpeakingUsers()), QStringList{"s"});
        QCOMPARE(Names(js.GetWatchGroups()), QStringList{"w"});
        S().shrink = 0;
        S().speakers.clear();
        S().watched.clear();
        QCOMPARE(js.GetSpeakingUsers(), QStringLiteral("[]"));
        QCOMPARE(js.GetWatchGroups(), QStringLiteral("[]"));
    }

    void departmentGroups()
    {
        JsContext js;
        QCOMPARE(js.getallgroups(), -1);
        QCOMPARE(Calls(), QStringList{"lirko_win_get_current_did()"});
        S().current_did = 1;
        S().has_department = true;
        S().shrink = 1; // one department record more counted than filled
        S().groups = {Group(10, "A"), Group(20, "B"), Group(30, "C")};
        win_group_t c2 = Group(30, "C"), d = Group(40, "D"), a1 = Group(10, "A");
        a1.did = 1;
        c2.did = 2;
        d.did = 2;
        S().department_groups = {a1, c2, d};
        QCOMPARE(js.getallgroups(), 0);
        QCOMPARE(js.getallgroupsdata(),
                 QStringLiteral(
                     "[{\"did\":1,\"gid\":10,\"ip\":0,\"is_encryp\":0,\"name\":\"A\",\"port\":0,"
                     "\"prior\":0,\"type\":0},"
                     "{\"did\":-1,\"gid\":20,\"ip\":0,\"is_encryp\":0,\"name\":\"B\",\"port\":0,"
                     "\"prior\":0,\"type\":0},"
                     "{\"did\":2,\"gid\":30,\"ip\":0,\"is_encryp\":0,\"name\":\"C\",\"port\":0,"
                     "\"prior\":0,\"type\":0},"
                     "{\"did\":2,\"gid\":40,\"ip\":0,\"is_encryp\":0,\"name\":\"D\",\"port\":0,"
                     "\"prior\":0,\"type\":0}]"));
        // Without a department record no group is marked as taken part in.
        S().has_department = false;
        QVERIFY(!js.getallgroupsdata().contains(QStringLiteral("\"did\":-1")));
    }

    void repeatedGroups()
    {
        JsContext js;
        std::vector<win_group_t> g = {Group(1, "a"), Group(1, "b"), Group(2, "c"), Group(1, "d")};
        for (auto &x : g)
            x.did = 4;
        g[2].did = 5;
        std::vector<GroupSort> e(g.size());
        QList<GroupSort *> list;
        for (size_t i = 0; i < g.size(); i++) {
            e[i].group = &g[i];
            list << &e[i];
        }
        QList<RepeatGid *> repeats;
        js.GetRepetitiveData(list, 4, repeats);
        QCOMPARE(repeats.size(), 2);
        QCOMPARE(repeats[0]->index, 0);
        QCOMPARE(repeats[1]->index, 1);
        QCOMPARE(repeats[1]->entry, list[1]);
        qDeleteAll(repeats);
        repeats.clear();
        QList<GroupSort *> one{list[0]};
        js.GetRepetitiveData(one, 4, repeats);
        QVERIFY(repeats.isEmpty());

        department_t dept{};
        dept.n_groups = 3;
        dept.groups = g.data();
        QVERIFY(js.IsMyParTakeGroup(2, &dept));
        QVERIFY(!js.IsMyParTakeGroup(3, &dept));
        dept.n_groups = 0;
        QVERIFY(!js.IsMyParTakeGroup(1, &dept));
    }
};

QTEST_GUILESS_MAIN(JsContextTest)
#include "jscontext_test.moc"
