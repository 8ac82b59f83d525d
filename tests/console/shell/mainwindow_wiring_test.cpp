// The main window's wiring on the real engine library and web engine: the
// page finds "context", every engine event row reaches its page function,
// the page's requests reach the window, and the teardown order holds.
#include "jscontext.h"
#include "language_control.h"
#include "mainwindow.h"
#include "poc.h"
#include "ptt_server.h"
#include "shell_config.h"
#include "test_support.h"
#include "toast.h"
#include "video_container.h"
#include "video_information.h"
#include "video_main.h"
#include "video_single.h"
#include "video_wall.h"
#include "video_widget.h"
#include "vistrel.h"
#include "web_support.h"
#include "webview.h"
#include "widget_top.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QPushButton>
#include <QSettings>
#include <QTextCodec>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

using webtest::spin_for;
using webtest::spin_until;
using webtest::write_config;

namespace
{

// Collects every log line while it lives (any thread).
class LogCapture
{
  public:
    LogCapture()
    {
        s_self = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_self = nullptr;
    }
    QStringList lines() const
    {
        QMutexLocker hold(&m_lock);
        return m_lines;
    }
    // Where each text first shows up, in the order given (-1: missing).
    std::vector<int> positions(const QStringList &texts) const
    {
        const QStringList all = lines();
        std::vector<int> out;
        for (const QString &t : texts) {
            int at = -1;
            for (int i = 0; i < all.size() && at < 0; i++)
                if (all[i].contains(t))
                    at = i;
            out.push_back(at);
        }
        return out;
    }

  private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        if (LogCapture *self = s_self) {
            QMutexLocker hold(&self->m_lock);
            self->m_lines << message;
        }
    }
    static LogCapture *s_self;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_lock;
    QStringList m_lines;
};
LogCapture *LogCapture::s_self = nullptr;

struct LoopRun {
    qint64 ms;
    int code; // 99: nothing quit it
};

// Runs the application's loop until it quits or ms pass.
LoopRun run_loop(int ms)
{
    QElapsedTimer t;
    t.start();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(ms);
    const int code = QCoreApplication::exec();
    return {t.elapsed(), code};
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

// The page's codec slots act on the one live-video instance, the window's.
TEST_F(Wiring, CodecSlotsReachTheWindowsLiveInstance)
{
    make_window();
    IAvVistrel *live = CreateLiveInstance();
    const int before = live->GetCurrentCodecType();
    const int other = before == 4 ? 5 : 4;
    EXPECT_EQ(call_slot(QStringLiteral("SetCodectype"), QStringLiteral("[%1]").arg(other)).toInt(),
              0);
    EXPECT_EQ(live->GetCurrentCodecType(), other);
    EXPECT_EQ(call_slot(QStringLiteral("GetcurrentCodecType"), QStringLiteral("[]")).toInt(),
              other);
    (void)live->SetCodecType(before);
}

// Rows 47 to 50, 52, 53, 54 and 82: page-object signals the window carries out.
TEST_F(Wiring, PageRequestRowsReachTheirHandlers)
{
    make_window();
    take_calls();
    JsContext *js = window->jsContext();
    emit js->SendHttpUploadSignal(QStringLiteral("up"), 1);
    emit js->SendHttpDownloadSignal(QStringLiteral("down"), -1);
    emit js->SendHttpDownStautsSignal(QStringLiteral("status"), 2);
    emit js->DownloadBulkEnd(QStringLiteral("/tmp/z.zip"));
    emit js->PlayLocalFileStatus(3);
    ASSERT_TRUE(wait_calls(5));
    const QJsonArray calls = take_calls();
    QStringList got;
    for (const QJsonValue &c : calls)
        got << call_text(c);
    EXPECT_EQ(got, (QStringList{"OnHttpUpLoadX [\"up\",\"1\"]", "OnHttpDownLoadX [\"down\",\"-1\"]",
                                "OnHttpDownLoadStatusX [\"status\",\"2\"]",
                                "OnDownBulkMessageX [\"/tmp/z.zip\"]",
                                "SendPlayLocalFileStatusX [\"3\"]"}));

    // 54: minimise, then back.
    emit js->ShowScreenSignal(2);
    EXPECT_TRUE(spin_until([&] { return window->isMinimized(); }, 5000));
    emit js->ShowScreenSignal(3);
    EXPECT_TRUE(spin_until([&] { return !window->isMinimized(); }, 5000));

    // 53: the profile's cache folder goes (a file of ours in it shows it).
    const QString cache = window->webView()->page()->profile()->cachePath();
    QDir().mkpath(cache);
    const QString marker = cache + QStringLiteral("/marker");
    ASSERT_TRUE(ptt::test::write_file(marker.toStdString(), "x"));
    emit js->CleanCacheSignal();
    EXPECT_FALSE(QFile::exists(marker));

    // 47: the recorded broadcast plays back on the engine; its end reaches
    // the page (row 34).
    EXPECT_EQ(call_slot(QStringLiteral("StartRecordBroadcastAudio"), QStringLiteral("[]")).toInt(),
              0);
    spin_for(300);
    EXPECT_EQ(call_slot(QStringLiteral("StopRecordBroadcastAudio"), QStringLiteral("[]")).toInt(),
              0);
    take_calls();
    emit js->PlayRecordBroadcastAudioSignal();
    ASSERT_TRUE(wait_calls(1));
    EXPECT_EQ(call_text(take_calls().at(0)), QStringLiteral("OnPlayStopX []"));
}

// 55: the page's update request starts the updater from the working folder,
// and the console ends half a second later.
TEST_F(Wiring, UpdateRequestStartsTheUpdater)
{
    make_window();
    const QByteArray script = "#!/bin/sh\necho \"$1\" > ran.txt\n";
    ASSERT_TRUE(ptt::test::write_file("DevizaDuvuvi.exe", script.toStdString()));
    QFile::setPermissions(QStringLiteral("DevizaDuvuvi.exe"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QTimer::singleShot(0, window.get(),
                       [this] { emit window->jsContext()->QtUpdateSignal(QStringLiteral("v3")); });
    const LoopRun run = run_loop(5000);
    EXPECT_EQ(run.code, 0);
    EXPECT_GE(run.ms, 450);
    ASSERT_TRUE(spin_until([] { return QFile(QStringLiteral("ran.txt")).size() > 0; }, 5000));
    EXPECT_EQ(QString::fromStdString(ptt::test::read_file("ran.txt")), QStringLiteral("v3\n"));
    QFile::remove(QStringLiteral("DevizaDuvuvi.exe"));
}

// Rows 56 to 81: the page's video requests and the wall's own signals reach
// the wall through the window, and the wall's endings reach the page.
TEST_F(Wiring, WallRowsReachTheWallAndThePage)
{
    make_window();
    take_calls();
    JsContext *js = window->jsContext();
    VideoWall *wall = window->videoWall();
    VideoContainer *box = window->videoContainer();
    ASSERT_NE(wall, nullptr);
    ASSERT_EQ(box, VideoContainer::instance());
    const QString a = QStringLiteral("rtmp://127.0.0.1:1/live/a");
    const QString b = QStringLiteral("rtmp://127.0.0.1:1/live/b");
    auto entry = [&](const QString &url) -> PullWidgetEntry * {
        for (PullWidgetEntry *e : wall->entries())
            if (e->url == url)
                return e;
        return nullptr;
    };

    // 56 (then 58 and 57 through the one-channel layout): the wall opens.
    js->startUpvideo(0, 60, 1300, 900);
    ASSERT_NE(wall->pullMainWidget(), nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(wall->entries().size(), 1);
    ASSERT_TRUE(wait_calls(1));
    EXPECT_EQ(call_text(take_calls().at(0)), QStringLiteral("OnGetUrllistX [\"1\"]"));
    // 62, 61: the page's layout.
    js->stoppullstream(QStringLiteral("[]"));
    EXPECT_TRUE(wall->entries().isEmpty());
    js->startpullstream(4, QStringLiteral("[]"), 0, 0, 0, 0);
    EXPECT_EQ(wall->entries().size(), 4);
    // 65: opened by index, muted.
    js->startpullstreamindex(a, true, QStringLiteral("Ann"), QStringLiteral("360p"));
    js->startpullstreamindex(b, false, QStringLiteral("Bob"), QStringLiteral("360p"));
    ASSERT_NE(entry(a), nullptr);
    ASSERT_NE(entry(b), nullptr);
    EXPECT_TRUE(entry(a)->pulling && entry(a)->muted && entry(a)->strongPull);
    EXPECT_EQ(wall->activePullCount(), 2);
    // 71 and 78: one window's sound; 72: all.
    box->videovoiceEvent(a);
    EXPECT_FALSE(entry(a)->muted);
    box->videovoiceEventCustom(a, true);
    EXPECT_TRUE(entry(a)->muted);
    emit box->videoSetallmuteSignal(false);
    EXPECT_FALSE(entry(a)->muted || entry(b)->muted);
    // 68: the bars follow the wall.
    box->move(box->pos() + QPoint(40, 30));
    EXPECT_TRUE(spin_until(
        [&] { return entry(a)->top->pos() == entry(a)->tile->mapToGlobal(QPoint(0, 0)); }, 5000));
    // 69: full screen of one of four tiles.
    box->videofullscreenEvent(a);
    EXPECT_TRUE(entry(a)->tile->isFullScreenTile());
    box->videofullscreenEvent(a);
    EXPECT_FALSE(entry(a)->tile->isFullScreenTile());
    // 79 and 70: the page hears of a size choice and of a close by the wall.
    box->videosizeevent(QStringLiteral("480p"), a);
    box->videocloseEvent(a);
    EXPECT_EQ(entry(a), nullptr);
    EXPECT_EQ(wall->activePullCount(), 1);
    // 66: closed by the page, with and without the page's call back.
    js->stoppullstreamindexNocb(b);
    EXPECT_EQ(entry(b), nullptr);
    ASSERT_TRUE(wait_calls(2));
    QStringList got;
    for (const QJsonValue &c : take_calls())
        got << call_text(c);
    EXPECT_EQ(got, (QStringList{QStringLiteral("videosizechangeX [\"480p\",\"%1\"]").arg(a),
                                QStringLiteral("closeStrongPullX [\"%1\",\"0\"]").arg(a)}));

    // 75, 76, 77: labels, language and tips.
    EXPECT_EQ(js->Settabeldata(QStringLiteral("{\"video_back\":\"Back\",\"video_single\":"
                                              "\"One call\",\"video_MultiScreen\":\"Multi\"}")),
              0);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Back"));
    EXPECT_EQ(shell_config_value(QStringLiteral("/videosingle/titel")), QStringLiteral("One call"));
    js->setlanguage(QStringLiteral("en"));
    EXPECT_EQ(LanguageControl::instance()->language(), 1);
    js->showTips(QStringLiteral("hello"));
    EXPECT_EQ(box->m_toast->text(), QStringLiteral("hello"));

    // 63 and 64: the single call, ended by the page two seconds after it asks.
    js->startvideosignel(QStringLiteral("rtmp://127.0.0.1:1/live/push"),
                         QStringLiteral("rtmp://127.0.0.1:1/live/pull"), QStringLiteral("Cy"), 0, 0,
                         800, 600);
    ASSERT_NE(wall->singleCallWindow(), nullptr);
    EXPECT_TRUE(wall->singleCallActive());
    EXPECT_EQ(wall->singleCallWindow()->parentWidget(), window.get());
    js->stopvideosignel(QStringLiteral("rtmp://127.0.0.1:1/live/push"),
                        QStringLiteral("rtmp://127.0.0.1:1/live/pull"));
    EXPECT_TRUE(spin_until([&] { return !wall->singleCallActive(); }, 10000));
    EXPECT_EQ(wall->singleCallWindow(), nullptr);
    ASSERT_TRUE(wait_calls(1));
    EXPECT_EQ(call_text(take_calls().at(0)), QStringLiteral("CloseVideoSingelX []"));

    // 80 and 81: the information window.
    js->startvideoinformation(QStringLiteral("rtmp://127.0.0.1:1/live/i"), QStringLiteral("t"), 1,
                              2, 3, 255);
    ASSERT_NE(wall->videoInformation(), nullptr);
    js->stopvideoinformation();
    EXPECT_EQ(wall->videoInformation(), nullptr);
    ASSERT_TRUE(wait_calls(1));
    EXPECT_EQ(call_text(take_calls().at(0)),
              QStringLiteral("videoinformationstopX [\"rtmp://127.0.0.1:1/live/i\"]"));

    // 60, then 59: logout closes the wall and tears its windows down.
    js->closevideocontainer();
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(wall->entries().isEmpty());
    EXPECT_EQ(wall->pullMainWidget(), nullptr);
    ASSERT_TRUE(wait_calls(1));
    EXPECT_EQ(call_text(take_calls().at(0)), QStringLiteral("closevideocontainerX []"));
}

// Rows 67, 73 and 74: the page raises the wall or the main window; the
// wall's record-history button brings the main window forward.
TEST_F(Wiring, FocusRows)
{
    make_window();
    take_calls();
    JsContext *js = window->jsContext();
    VideoContainer *box = window->videoContainer();
    js->startUpvideo(0, 60, 1300, 900);
    ASSERT_TRUE(box->isVisible());
    auto active_is = [](QWidget *w) {
        return spin_until([w] { return QApplication::activeWindow() == w; }, 5000);
    };
    js->makewebWindowTop();
    EXPECT_TRUE(active_is(window.get()));
    js->makevideoWindowTop();
    EXPECT_TRUE(active_is(box));
    emit box->videorecordhistorySignal();
    EXPECT_TRUE(active_is(window.get()));
    ASSERT_TRUE(wait_calls(2));
    const QJsonArray calls = take_calls();
    EXPECT_EQ(call_text(calls.last()), QStringLiteral("getrecordhistoryX []"));
    js->closevideocontainer();
}

// Rows 10 to 13: a speaker's start saves the wall's mute states and
// silences it; a nested start keeps the first saved states; the stop gives
// them back once. The events come as the engine sends them: through the
// adapter's callbacks on another thread.
TEST_F(Wiring, SpeakersMuteTheWallAndGiveTheSoundBack)
{
    make_window();
    JsContext *js = window->jsContext();
    VideoWall *wall = window->videoWall();
    VideoContainer *box = window->videoContainer();
    js->startUpvideo(0, 60, 1300, 900);
    js->stoppullstream(QStringLiteral("[]"));
    js->startpullstream(4, QStringLiteral("[]"), 0, 0, 0, 0);
    ASSERT_EQ(wall->entries().size(), 4);
    take_calls();
    int seen = 0;
    // Runs one engine callback on a thread of its own and waits until its
    // page call is in.
    auto engine = [&](std::function<void()> callback) {
        std::thread t(std::move(callback));
        t.join();
        seen++;
        return wait_calls(seen);
    };

    // Nothing pulls: nothing is saved, nothing muted.
    box->videovoiceEventCustom(QString(), false);
    ASSERT_TRUE(engine([] { POc::win_pfn_notify_start_speak_cb(2001, "Patrol"); }));
    EXPECT_FALSE(wall->muteSaved());
    ASSERT_TRUE(engine([] { POc::win_pfn_notify_stop_speak_cb(2001, "Patrol"); }));

    const QString a = QStringLiteral("rtmp://127.0.0.1:1/live/a");
    const QString b = QStringLiteral("rtmp://127.0.0.1:1/live/b");
    js->startpullstreamindex(a, false, QStringLiteral("Ann"), QStringLiteral("360p"));
    js->startpullstreamindex(b, false, QStringLiteral("Bob"), QStringLiteral("360p"));
    PullWidgetEntry *ea = wall->entries()[0];
    PullWidgetEntry *eb = wall->entries()[1];
    ASSERT_EQ(ea->url, a);
    ASSERT_EQ(eb->url, b);
    box->videovoiceEventCustom(a, false); // a sounds, b stays muted
    ASSERT_FALSE(ea->muted);
    ASSERT_TRUE(eb->muted);

    // Someone's voice plays: the wall goes quiet, a's sound is kept.
    ASSERT_TRUE(
        engine([] { POc::win_pfn_notify_start_playing_sound(1001, "Alice", 2001, "Patrol"); }));
    EXPECT_TRUE(wall->muteSaved());
    EXPECT_TRUE(ea->muted && eb->muted);
    EXPECT_FALSE(ea->savedMuted);
    EXPECT_TRUE(eb->savedMuted);
    // The own talk starts meanwhile: the first saved states stay.
    ASSERT_TRUE(engine([] { POc::win_pfn_notify_start_speak_cb(2001, "Patrol"); }));
    EXPECT_FALSE(ea->savedMuted);
    EXPECT_TRUE(eb->savedMuted);
    // The first stop gives the sound back and clears what was saved.
    ASSERT_TRUE(engine([] { POc::win_pfn_notify_stop_speak_cb(2001, "Patrol"); }));
    EXPECT_FALSE(wall->muteSaved());
    EXPECT_FALSE(ea->muted);
    EXPECT_TRUE(eb->muted);
    // The second stop finds nothing saved and changes nothing.
    box->videovoiceEventCustom(b, false);
    ASSERT_TRUE(
        engine([] { POc::win_pfn_notify_stop_playing_sound(1001, "Alice", 2001, "Patrol"); }));
    EXPECT_FALSE(ea->muted);
    EXPECT_FALSE(eb->muted);

    QStringList names;
    for (const QJsonValue &c : take_calls())
        names << c.toArray().at(0).toString();
    EXPECT_EQ(names, (QStringList{"onStartSpeakX", "onStopSpeakX", "onStartPlayingX",
                                  "onStartSpeakX", "onStopSpeakX", "onStopPlayingX"}));
    js->closevideocontainer();
}

// Rows 10 to 13 over a new layout: a talk, own or heard, during which the
// wall gets a new layout (a layout switch, or closed and opened again)
// leaves every window of the new layout muted when it ends.
TEST_F(Wiring, TalksOverANewLayoutLeaveItsWindowsMuted)
{
    make_window();
    JsContext *js = window->jsContext();
    VideoWall *wall = window->videoWall();
    VideoContainer *box = window->videoContainer();
    box->setClock([] {
        static qint64 now = 0;
        return now += 5000; // no switch is ever too soon after the last
    });
    take_calls();
    int seen = 0;
    // Each step below makes one page call: wait for it.
    auto step = [&](std::function<void()> act) {
        act();
        seen++;
        return wait_calls(seen);
    };
    // An engine callback runs on a thread of its own, as the engine's do.
    auto engine = [](std::function<void()> callback) {
        return [callback] {
            std::thread t(callback);
            t.join();
        };
    };
    const std::function<void()> own[2] = {[] { POc::win_pfn_notify_start_speak_cb(2001, "P"); },
                                          [] { POc::win_pfn_notify_stop_speak_cb(2001, "P"); }};
    const std::function<void()> heard[2] = {
        [] { POc::win_pfn_notify_start_playing_sound(1001, "Alice", 2001, "P"); },
        [] { POc::win_pfn_notify_stop_playing_sound(1001, "Alice", 2001, "P"); }};
    const QString a = QStringLiteral("rtmp://127.0.0.1:1/live/a");
    const QString b = QStringLiteral("rtmp://127.0.0.1:1/live/b");
    auto open_wall = [&] { js->startUpvideo(0, 60, 1300, 900); };
    auto close_wall = [&] { js->closevideocontainer(); };
    for (int talk = 0; talk < 2; talk++) {
        const auto &calls = talk == 0 ? own : heard;
        for (int reopen = 0; reopen < 2; reopen++) {
            const std::string name = std::string(talk == 0 ? "own talk" : "heard talk") +
                                     (reopen ? ", wall reopened" : ", layout switch");
            ASSERT_TRUE(step(open_wall)) << name;
            js->startpullstreamindex(a, false, QStringLiteral("Ann"), QStringLiteral("360p"));
            box->videovoiceEventCustom(a, false); // the dispatcher turns a up
            ASSERT_TRUE(step(engine(calls[0]))) << name;
            ASSERT_TRUE(wall->muteSaved()) << name;
            if (reopen) {
                ASSERT_TRUE(step(close_wall)) << name;
                ASSERT_TRUE(step(open_wall)) << name;
            } else {
                ASSERT_TRUE(step([&] { box->form().fourChannel->click(); })) << name;
                ASSERT_EQ(wall->entries().size(), 4) << name;
            }
            js->startpullstreamindex(b, false, QStringLiteral("Bob"), QStringLiteral("360p"));
            ASSERT_TRUE(step(engine(calls[1]))) << name;
            ASSERT_FALSE(wall->entries().isEmpty()) << name;
            for (const PullWidgetEntry *e : wall->entries())
                EXPECT_TRUE(e->muted) << name << " " << e->url.toStdString();
            ASSERT_TRUE(step(close_wall)) << name;
        }
    }
}

// Teardown in order: the single call's thread and streams, the live-video
// instance, the video windows, the pop-ups, the engine, then the adapter,
// the web objects, the page object and the store.
TEST_F(Wiring, TeardownOrder)
{
    make_window();
    JsContext *js = window->jsContext();
    js->startUpvideo(0, 60, 1300, 900);
    js->startpullstreamindex(QStringLiteral("rtmp://127.0.0.1:1/live/a"), false,
                             QStringLiteral("Ann"), QStringLiteral("360p"));
    js->startvideosignel(QStringLiteral("rtmp://127.0.0.1:1/live/push"),
                         QStringLiteral("rtmp://127.0.0.1:1/live/pull"), QStringLiteral("Cy"), 0, 0,
                         800, 600);
    js->startvideoinformation(QStringLiteral("rtmp://127.0.0.1:1/live/i"), QStringLiteral("t"), 1,
                              2, 3, 255);
    window->webView()->page()->runJavaScript(
        QStringLiteral("window.open('/page', 'p', 'width=300,height=200,left=10,top=10')"));
    ASSERT_TRUE(spin_until([] { return Webpopupwindow::openWindows().size() == 1; }));
    QPointer<VideoInformation> info = window->videoWall()->videoInformation();
    ASSERT_FALSE(info.isNull());
    {
        LogCapture log;
        window.reset();
        const QStringList steps{"wait for the single call",
                                "stop the single call",
                                "delete m_pAvVistrel",
                                "delete the video windows",
                                "delete m_videocontainer",
                                "close the pop-ups",
                                "MainWindow exit",
                                "delete m_poc",
                                "delete m_custom_webView",
                                "delete m_webView",
                                "delete m_webChannel",
                                "delete m_jsContext",
                                "delete m_ini"};
        const std::vector<int> at = log.positions(steps);
        for (int i = 0; i < steps.size(); i++) {
            EXPECT_GE(at[i], 0) << steps[i].toStdString();
            if (i > 0) {
                EXPECT_LT(at[i - 1], at[i]) << steps[i].toStdString();
            }
        }
    }
    EXPECT_EQ(MainWindow::instance(), nullptr);
    EXPECT_EQ(POc::m_gPoc.load(), nullptr);
    EXPECT_TRUE(info.isNull());
    EXPECT_TRUE(Webpopupwindow::openWindows().isEmpty());
    spin_for(200);
}

// Engine events keep coming while the console closes: none reaches the
// page object or the adapter after they are gone (ASan checks the tree of
// this test too).
TEST_F(Wiring, EngineEventsDuringCloseAndTeardown)
{
    ptt::test::PttServer ptt;
    ASSERT_TRUE(ptt.start());
    ASSERT_TRUE(ptt::test::write_file("custom.ini", "[network]\ndns = " + ptt.dns_entry() + "\n"));
    make_window();
    take_calls();
    // The callbacks were registered after the load: the login's status
    // changes reach the page.
    EXPECT_EQ(
        call_slot(QStringLiteral("login"), QStringLiteral("['dispatcher', 'dispatcher-pw', 0]"))
            .toInt(),
        0);
    ASSERT_TRUE(spin_until([&] {
        return eval("window.calls.some(function (c) { return c[0] === 'onOnlineStatusChangedX' "
                    "&& c[1][0] === '3'; })")
            .toBool();
    }));
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        while (!stop) {
            ptt::test::push_users_changed(ptt, {1001, 1002});
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    EXPECT_TRUE(spin_until([&] {
        return eval("window.calls.some(function (c) { return c[0] === 'onUserChangedX'; })")
            .toBool();
    }));
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    bool told = false;
    QTimer::singleShot(500, window.get(), [&] {
        told = eval("window.calls.some(function (c) { return c[0] === 'closeMainwindowX'; })")
                   .toBool();
    });
    const LoopRun run = run_loop(10000);
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(told);
    window.reset();
    spin_for(300);
    stop = true;
    flood.join();
    ptt.stop();
}

} // namespace
