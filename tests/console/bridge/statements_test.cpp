// The 55 page statements, exactly, and the escaping of every text in them.
#include "jscontext.h"
#include "lirko_standin.h"
#include "pushstatements.h"

#include <QTemporaryDir>
#include <QtTest>
#include <functional>

namespace
{
struct Case {
    const char *name;
    std::function<void(JsContext &)> call;
    const char *statement;
};
} // namespace

class StatementsTest : public QObject
{
    Q_OBJECT

    QStringList m_seen;
    QTemporaryDir m_dir;

    QString Run(JsContext &js, const std::function<void(JsContext &)> &call)
    {
        m_seen.clear();
        call(js);
        return m_seen.size() == 1 ? m_seen.first()
                                  : QStringLiteral("<%1 statements>").arg(m_seen.size());
    }

  private slots:
    void initTestCase()
    {
        QDir::setCurrent(m_dir.path());
        JsContext::setStatementObserver([this](const QString &s) { m_seen << s; });
    }

    void cleanupTestCase()
    {
        JsContext::setStatementObserver(nullptr);
    }

    void everyStatementExactly()
    {
        const QString big = QStringLiteral("{\"a\":1}");
        const Case cases[] = {
            {"CloseVideoSingel", [](JsContext &j) { j.CloseVideoSingel(nullptr); },
             "CloseVideoSingelX();"},
            {"GetUrllist", [](JsContext &j) { j.GetUrllist(nullptr, 9); }, "OnGetUrllistX(\"9\");"},
            {"SendPlayLocalFileStatus",
             [](JsContext &j) { j.SendPlayLocalFileStatus(nullptr, -2); },
             "SendPlayLocalFileStatusX(\"-2\");"},
            {"StarSendInviteAck", [&](JsContext &j) { j.StarSendInviteAck(nullptr, big); },
             "OnSendInviteAckX('{\\\"a\\\":1}');"},
            {"StarSendInviteTimeOut", [](JsContext &j) { j.StarSendInviteTimeOut(nullptr); },
             "OnSendInviteTimeOutX();"},
            {"StarSendPushInvite",
             [](JsContext &j) {
                 j.StarSendPushInvite(nullptr, 18446744073709551615ull, 4294967295u, 1, 0,
                                      QStringLiteral("hi"), 1);
             },
             "OnSendPushInviteX(\"18446744073709551615\", \"4294967295\", \"1\", \"0\", \"hi\", "
             "\"1\");"},
            {"StarSendPushResponseInvite",
             [](JsContext &j) { j.StarSendPushResponseInvite(nullptr, 4294967296ull, 7, 1, 3); },
             "OnSendPushResponseInviteX(\"4294967296\", \"7\", \"1\", \"3\");"},
            {"StarSendResponseInviteAck",
             [](JsContext &j) { j.StarSendResponseInviteAck(nullptr, 4294967295u); },
             "OnSendResponseInviteAckX('4294967295');"},
            {"StarSendResponseInviteTimeOut",
             [](JsContext &j) { j.StarSendResponseInviteTimeOut(nullptr); },
             "OnSendResponseInviteTimeOutX();"},
            {"closeMainwindow", [](JsContext &j) { j.closeMainwindow(nullptr); },
             "closeMainwindowX();"},
            {"closeStrongPull",
             [](JsContext &j) { j.closeStrongPull(nullptr, QStringLiteral("rtmp://h/s"), -1); },
             "closeStrongPullX(\"rtmp://h/s\", \"-1\");"},
            {"closevideocontainercb", [](JsContext &j) { j.closevideocontainercb(nullptr); },
             "closevideocontainerX();"},
            {"getrecordhistory", [](JsContext &j) { j.getrecordhistory(nullptr); },
             "getrecordhistoryX();"},
            {"sendAddWatchGroup", [&](JsContext &j) { j.sendAddWatchGroup(nullptr, big); },
             "onAddWatchGropX('{\\\"a\\\":1}');"},
            {"sendAudioEnableChanged",
             [](JsContext &j) { j.sendAudioEnableChanged(nullptr, true); },
             "onAudioEnableChangedX(\"1\");"},
            {"sendAudioEnabled",
             [](JsContext &j) { j.sendAudioEnabled(nullptr, QStringLiteral("[]")); },
             "onAudioEnabledX('[]');"},
            {"sendBroadcastPlayAsyncStop",
             [](JsContext &j) { j.sendBroadcastPlayAsyncStop(nullptr); }, "OnPlayStopX();"},
            {"sendChangeName", [](JsContext &j) { j.sendChangeName(nullptr, false); },
             "onChangeNameResultX(\"0\");"},
            {"sendChangePassword", [](JsContext &j) { j.sendChangePassword(nullptr, true); },
             "onChangePasswordResultX(\"1\");"},
            {"sendCurrentGroupChanged",
             [](JsContext &j) { j.sendCurrentGroupChanged(nullptr, -5, QStringLiteral("North")); },
             "onCurrentGroupX(\"-5\", \"North\");"},
            {"sendDispatched",
             [](JsContext &j) { j.sendDispatched(nullptr, QStringLiteral("{}")); },
             "onDispatchedX('{}');"},
            {"sendDownBulkMessage",
             [](JsContext &j) { j.sendDownBulkMessage(nullptr, QStringLiteral("/t/a.zip")); },
             "OnDownBulkMessageX('/t/a.zip');"},
            {"sendEndRecordFile",
             [](JsContext &j) {
                 j.sendEndRecordFile(nullptr, true, 4294967295u, 8, QStringLiteral("t1"),
                                     QStringLiteral("f.amr"));
             },
             "onStopRecordX(\"1\", \"4294967295\", \"8\", \"t1\", \"f.amr\");"},
            {"sendExternalMessagep",
             [](JsContext &j) { j.sendExternalMessagep(nullptr, QStringLiteral("ext")); },
             "OnExternalMessagepX('ext');"},
            {"sendGetWatchGroup",
             [](JsContext &j) { j.sendGetWatchGroup(nullptr, QStringLiteral("{}")); },
             "onGetWatchGroupX('{}');"},
            {"sendGroupList", [](JsContext &j) { j.sendGroupList(nullptr); }, "onGroupListX();"},
            {"sendHttpDownload",
             [](JsContext &j) { j.sendHttpDownload(nullptr, QStringLiteral("m"), 404); },
             "OnHttpDownLoadX(\"m\", \"404\");"},
            {"sendHttpDownloadStatus",
             [](JsContext &j) { j.sendHttpDownloadStatus(nullptr, QStringLiteral("m"), 2); },
             "OnHttpDownLoadStatusX(\"m\", \"2\");"},
            {"sendHttpUpload", [](JsContext &j) { j.sendHttpUpload(nullptr, QString(), 0); },
             "OnHttpUpLoadX(\"\", \"0\");"},
            {"sendMemberChanged",
             [](JsContext &j) { j.sendMemberChanged(nullptr, QStringLiteral("{}")); },
             "onMemberChangedX('{}');"},
            {"sendMemberList", [](JsContext &j) { j.sendMemberList(nullptr, 4294967295u); },
             "onMemberListX(\"4294967295\");"},
            {"sendPlayRecordFileEnd", [](JsContext &j) { j.sendPlayRecordFileEnd(nullptr); },
             "onStopPalyRecordX();"},
            {"sendPocError",
             [](JsContext &j) { j.sendPocError(nullptr, QStringLiteral("bad"), -12); },
             "onErrorX(\"bad\" , \"-12\");"},
            {"sendPocStatus", [](JsContext &j) { j.sendPocStatus(nullptr, 3); },
             "onOnlineStatusChangedX('3');"},
            {"sendQueryDepartmentack", [](JsContext &j) { j.sendQueryDepartmentack(nullptr); },
             "OngetallgrouopsackX();"},
            {"sendQueryEncrypAck", [](JsContext &j) { j.sendQueryEncrypAck(nullptr, -1); },
             "sendQueryEncrypAckX(\"-1\");"},
            {"sendQueryEncrypTimeout", [](JsContext &j) { j.sendQueryEncrypTimeout(nullptr); },
             "sendQueryEncrypTimeout();"},
            {"sendRmWatchGroup",
             [](JsContext &j) { j.sendRmWatchGroup(nullptr, QStringLiteral("{}")); },
             "onRmWatchGropX('{}');"},
            {"sendSendCallback", [](JsContext &j) { j.sendSendCallback(nullptr, true); },
             "onSendedX(\"1\");"},
            {"sendSpeakInfo",
             [](JsContext &j) {
                 j.sendSpeakInfo(nullptr, static_cast<uint32_t>(-5), QStringLiteral("g"));
             },
             "onStartSpeakX(\"4294967291\" , \"g\");"},
            {"sendStartPlayingInfo",
             [](JsContext &j) {
                 j.sendStartPlayingInfo(nullptr, 1, QStringLiteral("u"), 2, QStringLiteral("g"));
             },
             "onStartPlayingX(\"1\" , \"u\" , \"2\" , \"g\");"},
            {"sendStartRecordFile",
             [](JsContext &j) {
                 j.sendStartRecordFile(nullptr, 2, 1, QStringLiteral("t0"), QStringLiteral("f"));
             },
             "onStartRecordX(\"2\", \"1\", \"t0\", \"f\");"},
            {"sendStartWatchGroup", [](JsContext &j) { j.sendStartWatchGroup(nullptr, 12); },
             "onStartWatchGroupX('12');"},
            {"sendStopInfo", [](JsContext &j) { j.sendStopInfo(nullptr, 3, QStringLiteral("g")); },
             "onStopSpeakX(\"3\" , \"g\");"},
            {"sendStopPlayingInfo",
             [](JsContext &j) {
                 j.sendStopPlayingInfo(nullptr, 1, QStringLiteral("u"), 2, QStringLiteral("g"));
             },
             "onStopPlayingX(\"1\" , \"u\" , \"2\" , \"g\");"},
            {"sendSwitchLocation",
             [](JsContext &j) { j.sendSwitchLocation(nullptr, QStringLiteral("{}")); },
             "onSwitchLocationX('{}');"},
            {"sendTakeMic", [](JsContext &j) { j.sendTakeMic(nullptr, true); },
             "onTakeMicX(\"1\");"},
            {"sendUserChanged",
             [](JsContext &j) { j.sendUserChanged(nullptr, 0, QStringLiteral("[]")); },
             "onUserChangedX(\"0\" , '[]');"},
            {"sendUserSpeakInfo",
             [](JsContext &j) {
                 j.sendUserSpeakInfo(nullptr, 1, QStringLiteral("u"), 2, QStringLiteral("g"));
             },
             "onUserStartSpeakX(\"1\" , \"u\" , \"2\" , \"g\");"},
            {"sendUserStopInfo",
             [](JsContext &j) {
                 j.sendUserStopInfo(nullptr, 1, QStringLiteral("u"), 2, QStringLiteral("g"));
             },
             "onUserStopSpeakX(\"1\" , \"u\" , \"2\" , \"g\");"},
            {"sendcloseSOs", [](JsContext &j) { j.sendcloseSOs(nullptr, 0); },
             "sendcloseSOsX(\"0\");"},
            {"sendprocessSOs", [](JsContext &j) { j.sendprocessSOs(nullptr, 1); },
             "sendprocessSosX(\"1\");"},
            {"sendsosAlarm", [](JsContext &j) { j.sendsosAlarm(nullptr, QStringLiteral("{}")); },
             "sendsosAlarmX('{}');"},
            {"videoinformationstop",
             [](JsContext &j) { j.videoinformationstop(nullptr, QStringLiteral("rtmp://x")); },
             "videoinformationstopX(\"rtmp://x\");"},
            {"videosizechange",
             [](JsContext &j) {
                 j.videosizechange(nullptr, QStringLiteral("720P"), QStringLiteral("rtmp://x"));
             },
             "videosizechangeX(\"720P\", \"rtmp://x\");"},
        };
        QCOMPARE(int(sizeof(cases) / sizeof(cases[0])), 55);
        QCOMPARE(int(PushId::Count), 55);
        JsContext js;
        QSet<QString> names;
        for (const Case &c : cases) {
            names.insert(QLatin1String(c.name));
            QCOMPARE(Run(js, c.call), QString::fromUtf8(c.statement));
        }
        QCOMPARE(names.size(), 55);
        // The table's names are the methods' names.
        for (int i = 0; i < int(PushId::Count); i++)
            QVERIFY(names.contains(QLatin1String(PushTemplateOf(PushId(i)).name)));
    }

    void escaping_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("plain") << QString::fromUtf8("北 North 7")
                               << QString::fromUtf8("北 North 7");
        QTest::newRow("quotes") << QStringLiteral("a\"b'c") << QStringLiteral("a\\\"b\\'c");
        QTest::newRow("backslash") << QStringLiteral("a\\b") << QStringLiteral("a\\\\b");
        QTest::newRow("line ends") << QStringLiteral("a\r\nb") << QStringLiteral("a\\r\\nb");
        QTest::newRow("separators")
            << QString(QChar(0x2028)) + QChar(0x2029) << QStringLiteral("\\u2028\\u2029");
        QTest::newRow("controls") << QString(QChar(0)) + QChar(0x1f) + QChar(0x7f)
                                  << QStringLiteral("\\u0000\\u001f\\u007f");
        QTest::newRow("markers") << QStringLiteral("%2%1") << QStringLiteral("%2%1");
    }

    void escaping()
    {
        QFETCH(QString, text);
        QFETCH(QString, escaped);
        QCOMPARE(JsStringEscape(text), escaped);
    }

    void markersInsideArgumentsStay()
    {
        JsContext js;
        QCOMPARE(Run(js,
                     [](JsContext &j) {
                         j.sendUserSpeakInfo(nullptr, 1, QStringLiteral("%2 %3"), 2,
                                             QStringLiteral("%1"));
                     }),
                 QStringLiteral("onUserStartSpeakX(\"1\" , \"%2 %3\" , \"2\" , \"%1\");"));
    }

    void textsAreEscapedInEveryQuoteKind()
    {
        JsContext js;
        QCOMPARE(
            Run(js,
                [](JsContext &j) { j.sendsosAlarm(nullptr, QStringLiteral("{\"a\":\"it's\"}")); }),
            QStringLiteral("sendsosAlarmX('{\\\"a\\\":\\\"it\\'s\\\"}');"));
        QCOMPARE(
            Run(js, [](JsContext &j) { j.sendPocError(nullptr, QStringLiteral("x\");y(\""), 1); }),
            QStringLiteral("onErrorX(\"x\\\");y(\\\"\" , \"1\");"));
    }
};

QTEST_GUILESS_MAIN(StatementsTest)
#include "statements_test.moc"
