// The main window's wiring on the real engine library and web engine: the
// page finds "context", every engine event row reaches its page function,
// the page's requests reach the window, and the teardown order holds.
#include "jscontext.h"
#include "mainwindow.h"
#include "poc.h"
#include "shell_config.h"
#include "test_support.h"
#include "web_support.h"
#include "webview.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTextCodec>
#include <QWebChannel>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

using webtest::spin_for;
using webtest::spin_until;

namespace
{

void write_config(const std::vector<std::pair<QString, QString>> &values)
{
    shell_config_release();
    QSettings s(QStringLiteral("config.ini"), QSettings::IniFormat);
    s.setIniCodec(QTextCodec::codecForName("GB2312"));
    s.clear();
    for (const auto &kv : values)
        s.setValue(kv.first, kv.second);
}

QByteArray test_page()
{
    QFile f(QString::fromStdString(ptt::test::source_path("tests/fixtures/bridge_page/page.html")));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Wiring : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const QByteArray page = test_page();
        ASSERT_FALSE(page.isEmpty());
        server.serve(QStringLiteral("/page"), page);
    }
    void TearDown() override
    {
        window.reset();
        shell_config_release();
    }

    // A window on the test page, its channel up.
    void make_window()
    {
        write_config(
            {{QStringLiteral("/network/url"), server.url(QStringLiteral("/page")).toString()}});
        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_NE(window->webView(), nullptr);
        ASSERT_TRUE(spin_until([&] { return eval("window.channelReady === true").toBool(); }));
    }

    QVariant eval(const QString &script)
    {
        bool done = false;
        QVariant out;
        window->webView()->page()->runJavaScript(script, [&](const QVariant &v) {
            out = v;
            done = true;
        });
        if (!spin_until([&] { return done; }, 20000))
            ADD_FAILURE() << "no answer to " << script.toStdString();
        return out;
    }

    // The page's recorded calls since the last take, as [name, [args]].
    QJsonArray take_calls()
    {
        const QString json = eval(QStringLiteral("JSON.stringify(window.calls)")).toString();
        eval(QStringLiteral("window.calls = []; true"));
        return QJsonDocument::fromJson(json.toUtf8()).array();
    }

    // Waits until the page recorded n calls (more may follow).
    bool wait_calls(int n)
    {
        return spin_until([&] { return eval("window.calls.length").toInt() >= n; });
    }

    // Calls a slot of "context" from the page and waits for its answer.
    QVariant call_slot(const QString &name, const QString &args_json)
    {
        const QString id = QString::number(++next_id);
        eval(QStringLiteral("callSlot('%1', '%2', %3); true").arg(id, name, args_json));
        const QString probe = QStringLiteral("window.results.hasOwnProperty('%1')").arg(id);
        if (!spin_until([&] { return eval(probe).toBool(); }))
            return QStringLiteral("<no answer>");
        return eval(QStringLiteral("window.results['%1']").arg(id));
    }

    webtest::HttpServer server;
    std::unique_ptr<MainWindow> window;
    int next_id = 0;
};

QString call_text(const QJsonValue &call)
{
    const QJsonArray c = call.toArray();
    return c.at(0).toString() + QLatin1Char(' ') +
           QString::fromUtf8(QJsonDocument(c.at(1).toArray()).toJson(QJsonDocument::Compact));
}

TEST_F(Wiring, ThePageFindsContextWithItsSlots)
{
    make_window();
    EXPECT_EQ(window->webView()->page()->webChannel()->registeredObjects().value(
                  QStringLiteral("context")),
              window->jsContext());
    QStringList missing;
    for (const char *slot :
         {"Init_Config", "login", "Logout", "GetMemberList", "getallgroupsdata", "ProcessSos",
          "CheckRecordDevice", "DownLoad", "SendpRecordAudio", "startpullstream",
          "startvideosignel", "Settabeldata", "SetCodectype", "GetcurrentCodecType"}) {
        if (!eval(QStringLiteral("typeof window.context['%1'] === 'function'")
                      .arg(QLatin1String(slot)))
                 .toBool())
            missing << QLatin1String(slot);
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.join(' ').toStdString();
    // A slot answers the page through the window's store.
    shell_config_set(QStringLiteral("/QT/probe"), QStringLiteral("seen"));
    EXPECT_EQ(call_slot(QStringLiteral("QtReadIni"), QStringLiteral("['/QT/probe']")).toString(),
              QStringLiteral("seen"));
}

// Rows 6 to 46 and 51: each POc signal, emitted on another thread as the
// engine's callbacks do, reaches its page function with its arguments.
TEST_F(Wiring, EveryEngineRowReachesItsPageFunction)
{
    make_window();
    take_calls();
    struct Row {
        int row;
        std::function<void(POc *)> emit_it;
        const char *call;
    };
    const QString name = QStringLiteral("O'Neil \"x\"");
    const std::vector<Row> rows = {
        {6, [](POc *p) { emit p->SendPocStaSignal(LIRKO_STATUS_ONLINE); },
         "onOnlineStatusChangedX [\"3\"]"},
        {7, [](POc *p) { emit p->SendPocErrorSignal(QStringLiteral("kicked"), 17); },
         "onErrorX [\"kicked\",\"17\"]"},
        {8,
         [name](POc *p) {
             emit p->SendUserStartSpeakInfoSignal(4000000000u, name, 2001,
                                                  QStringLiteral("Patrol"));
         },
         "onUserStartSpeakX [\"4000000000\",\"O'Neil \\\"x\\\"\",\"2001\",\"Patrol\"]"},
        {9,
         [](POc *p) {
             emit p->SendUserStopSpeakInfoSignal(1000, QStringLiteral("A"), 2001,
                                                 QStringLiteral("Patrol"));
         },
         "onUserStopSpeakX [\"1000\",\"A\",\"2001\",\"Patrol\"]"},
        {10,
         [](POc *p) {
             emit p->SendStartPlayingInfoSignal(1001, QStringLiteral("B"), 2002,
                                                QStringLiteral("North"));
         },
         "onStartPlayingX [\"1001\",\"B\",\"2002\",\"North\"]"},
        {11,
         [](POc *p) {
             emit p->SendStopPlayingInfoSignal(1001, QStringLiteral("B"), 2002,
                                               QStringLiteral("North"));
         },
         "onStopPlayingX [\"1001\",\"B\",\"2002\",\"North\"]"},
        {12, [](POc *p) { emit p->SendStartSpeakInfoSignal(2001, QStringLiteral("Patrol")); },
         "onStartSpeakX [\"2001\",\"Patrol\"]"},
        {13, [](POc *p) { emit p->SendStopSpeakInfoSignal(2001, QStringLiteral("Patrol")); },
         "onStopSpeakX [\"2001\",\"Patrol\"]"},
        {14, [](POc *p) { emit p->SendChangeNameSignal(1); }, "onChangeNameResultX [\"1\"]"},
        {15, [](POc *p) { emit p->SendChangePasswordSignal(0); },
         "onChangePasswordResultX [\"0\"]"},
        {16, [](POc *p) { emit p->SendAudioEnableSignal(5); }, "onAudioEnableChangedX [\"1\"]"},
        {17, [](POc *p) { emit p->SendUserChangedSignal(2, QStringLiteral("[{\"uid\":1}]")); },
         "onUserChangedX [\"2\",\"[{\\\"uid\\\":1}]\"]"},
        {18,
         [](POc *p) { emit p->SendCurrentGroupChangedSignal(4294967295u, QStringLiteral("All")); },
         "onCurrentGroupX [\"-1\",\"All\"]"},
        {19, [](POc *p) { emit p->SendMemberChangedSignal(QStringLiteral("{\"gid\":7}")); },
         "onMemberChangedX [\"{\\\"gid\\\":7}\"]"},
        {20, [](POc *p) { emit p->SendMemberListSignal(2001); }, "onMemberListX [\"2001\"]"},
        {21, [](POc *p) { emit p->SendGroupListSignal(); }, "onGroupListX []"},
        {22,
         [](POc *p) {
             emit p->SendStartRecordFileSignal(2001, 1000, QStringLiteral("10:00"),
                                               QStringLiteral("a.amr"));
         },
         "onStartRecordX [\"2001\",\"1000\",\"10:00\",\"a.amr\"]"},
        {23,
         [](POc *p) {
             emit p->SendEndRecordSignal(2, 2001, 1000, QStringLiteral("10:01"),
                                         QStringLiteral("a.amr"));
         },
         "onStopRecordX [\"1\",\"2001\",\"1000\",\"10:01\",\"a.amr\"]"},
        {24, [](POc *p) { emit p->SendPlayRecordFileEndSignal(); }, "onStopPalyRecordX []"},
        {25, [](POc *p) { emit p->SendDispatcherSignal(QStringLiteral("d")); },
         "onDispatchedX [\"d\"]"},
        {26, [](POc *p) { emit p->SendTakeMicSignal(true); }, "onTakeMicX [\"1\"]"},
        {27, [](POc *p) { emit p->SendAudioEnabledSignal(QStringLiteral("ae")); },
         "onAudioEnabledX [\"ae\"]"},
        {28, [](POc *p) { emit p->SendSwitchLocationSignal(QStringLiteral("sl")); },
         "onSwitchLocationX [\"sl\"]"},
        {29, [](POc *p) { emit p->SendGetWatchGroupSignal(QStringLiteral("gw")); },
         "onGetWatchGroupX [\"gw\"]"},
        {30, [](POc *p) { emit p->SendRmWatchGroupSignal(QStringLiteral("rw")); },
         "onRmWatchGropX [\"rw\"]"},
        {31, [](POc *p) { emit p->SendAddWatchGroupSignal(QStringLiteral("aw")); },
         "onAddWatchGropX [\"aw\"]"},
        {32, [](POc *p) { emit p->SendStartWatchGroupSignal(2002); },
         "onStartWatchGroupX [\"2002\"]"},
        {33, [](POc *p) { emit p->SendSendCallbackSignal(false); }, "onSendedX [\"0\"]"},
        {34, [](POc *p) { emit p->SendBroadcastPlayAsyncStopSignal(); }, "OnPlayStopX []"},
        {35, [](POc *p) { emit p->SendStarSendInviteTimeOut(); }, "OnSendInviteTimeOutX []"},
        {36, [](POc *p) { emit p->SendStarSendResponseInviteTimeOut(); },
         "OnSendResponseInviteTimeOutX []"},
        {37, [](POc *p) { emit p->SendStarSendInviteAck(QStringLiteral("{\"r\":0}")); },
         "OnSendInviteAckX [\"{\\\"r\\\":0}\"]"},
        {38, [](POc *p) { emit p->SendStarSendResponseInviteAck(7); },
         "OnSendResponseInviteAckX [\"7\"]"},
        {39,
         [](POc *p) {
             emit p->SendStarSendPushInvite(9223372036854775813ull, 1000, 1, 0,
                                            QStringLiteral("hi"), 1);
         },
         "OnSendPushInviteX [\"9223372036854775813\",\"1000\",\"1\",\"0\",\"hi\",\"1\"]"},
        {40, [](POc *p) { emit p->SendStarSendPushResponseInvite(5, 1001, 1, 2); },
         "OnSendPushResponseInviteX [\"5\",\"1001\",\"1\",\"2\"]"},
        {41, [](POc *p) { emit p->sendQueryDepartmentack(); }, "OngetallgrouopsackX []"},
        {42, [](POc *p) { emit p->sendQueryEncrypTimeout(); }, "sendQueryEncrypTimeout []"},
        {43, [](POc *p) { emit p->sendQueryEncrypAck(-2); }, "sendQueryEncrypAckX [\"-2\"]"},
        {44, [](POc *p) { emit p->sendSOSALARM(QStringLiteral("sos")); },
         "sendsosAlarmX [\"sos\"]"},
        {45, [](POc *p) { emit p->sendProcessSOs(0); }, "sendprocessSosX [\"0\"]"},
        {46, [](POc *p) { emit p->sendCloseSOs(-1); }, "sendcloseSOsX [\"-1\"]"},
        {51, [](POc *p) { emit p->SendExternalMessageSignal(QStringLiteral("ext")); },
         "OnExternalMessagepX [\"ext\"]"},
    };
    ASSERT_EQ(rows.size(), 42u);
    POc *poc = window->poc();
    ASSERT_NE(poc, nullptr);
    EXPECT_EQ(POc::m_gPoc.load(), poc);
    std::thread engine([&] {
        for (const Row &r : rows)
            r.emit_it(poc);
    });
    engine.join();
    ASSERT_TRUE(wait_calls(int(rows.size())));
    spin_for(100); // nothing more arrives
    const QJsonArray calls = take_calls();
    ASSERT_EQ(calls.size(), int(rows.size()));
    for (size_t i = 0; i < rows.size(); i++)
        EXPECT_EQ(call_text(calls.at(int(i))).toStdString(), rows[i].call) << "row " << rows[i].row;
}

} // namespace
