// The page object's transfer and video slots: what reaches the page as
// signals, and the URL lists handed to the main window.
#include "jscontext.h"
#include "lirko_standin.h"
#include "path_chooser.h"
#include "table_data.h"
#include "test_http_server.h"
#include "transfer_flag.h"
#include "vistrel.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using standin::S;

namespace
{

class FixedChooser : public PathChooser
{
  public:
    QString answer;
    QString saveFileName(const QString &, const QString &, const QString &) override
    {
        return answer;
    }
    QString openFileName(const QString &, const QString &, const QString &) override
    {
        return answer;
    }
};

} // namespace

class JsContextMediaTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

  private slots:
    void init()
    {
        standin::Reset();
        transfer::setFlag(transfer::FlagIdle);
        QDir::setCurrent(m_dir.path());
        qputenv("HOME", m_dir.path().toLocal8Bit());
    }

    void downloadReportsThroughThePageObject()
    {
        TestHttpServer server;
        server.route("/f.bin", TestHttpServer::ok("payload"));
        JsContext js;
        FixedChooser chooser;
        chooser.answer = m_dir.filePath("f.bin");
        js.setPathChooser(&chooser);
        QSignalSpy status(&js, &JsContext::SendHttpDownStautsSignal);
        QSignalSpy result(&js, &JsContext::SendHttpDownloadSignal);
        QCOMPARE(js.DownLoad(server.url("/f.bin"), "bin"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(result.size(), 1, 10000);
        QCOMPARE(result.first(), (QList<QVariant>{"Down load success", 1}));
        QCOMPARE(status.size(), 3);
        // Page calls of the handlers touch nothing.
        js.onDownFinished();
        js.onError(99);
        js.onDownloadNext("u");
        QCOMPARE(result.size(), 1);
        QCOMPARE(js.SelectFile(QString()), QStringLiteral("NULL"));
        QCOMPARE(js.SelectFile("x"), chooser.answer);
    }

    void uploadSendsTheLengthKeptAtStop()
    {
        TestHttpServer server;
        server.route("/up", TestHttpServer::ok("ok"));
        JsContext js;
        QCOMPARE(js.SendpRecordAudio(server.url("/up"), "{}"), -1); // nothing recorded
        QVERIFY(server.requests().isEmpty());
    }

    void pullListsAreHandedOverAndTaken()
    {
        JsContext js;
        QList<QStringList> seen;
        connect(&js, &JsContext::StartpullstreamSignal, this,
                [&](int, QStringList &list, int, int, int, int) {
                    seen << list;
                    list.clear(); // the receiver takes the list
                });
        QCOMPARE(js.parseStartPulljsonUrl("[{\"url\":\"a\"}]"), 0);
        QCOMPARE(js.parseStartPulljsonUrl("[{\"url\":\"b\"}]"), 0);
        QCOMPARE(js.parseStartPulljsonUrl("nope"), -1);
        QCOMPARE(js.startpullstream(4, "[]", 0, 0, 0, 0), 0);
        QCOMPARE(js.startpullstream(4, "nope", 0, 0, 0, 0), 0);
        QCOMPARE(seen, (QList<QStringList>{{"a", "b"}, {}}));

        QSignalSpy stop(&js, &JsContext::StoppullstreamSignal);
        QCOMPARE(js.stoppullstream("[{}]"), 0);
        QCOMPARE(js.stoppullstream("nope"), -1);
        QCOMPARE(stop.size(), 1);

        QSignalSpy up(&js, &JsContext::startUpvideoSignal);
        QCOMPARE(js.startUpvideo(10, 10, 10, 10), 0);
        QCOMPARE(up.first(), (QList<QVariant>{0, 60, 1300, 900}));
    }

    void delayedStopAndLabels()
    {
        JsContext js;
        QSignalSpy stop(&js, &JsContext::StopVideoSingelSignal);
        QElapsedTimer t;
        t.start();
        QCOMPARE(js.stopvideosignel("p", "q"), 0);
        QCOMPARE(stop.size(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stop.size(), 1, 5000);
        QVERIFY(t.elapsed() >= 1900);
        QCOMPARE(stop.first(), (QList<QVariant>{"p", "q"}));

        QSignalSpy labels(&js, &JsContext::SettabeldataSingel);
        QCOMPARE(js.Settabeldata("{\"video_back\":\"B\",\"video_fluency\":3,"
                                 "\"video_highDefinition\":\"HD\"}"),
                 0);
        QCOMPARE(labels.first(), (QList<QVariant>{"B", "", "", "", "", ""}));
        QCOMPARE(TableData::instance()->high, QStringLiteral("HD"));
        QVERIFY(TableData::instance()->fluent.isEmpty());
        QCOMPARE(js.Settabeldata("{"), -1);
    }

    // The codec slots act on the process's one live-video instance, made on
    // first use and shared with whoever made it before.
    void codecSlotsUseTheOneLiveInstance()
    {
        JsContext js;
        QCOMPARE(js.SetCodectype(5), 0);
        IAvVistrel *live = CreateLiveInstance();
        QCOMPARE(live->GetCurrentCodecType(), 5);
        (void)live->SetCodecType(7);
        QCOMPARE(js.GetcurrentCodecType(), 7);
        ReleaseLiveInstance(&live);
        QVERIFY(live == nullptr);
        // A new instance starts with the default codec.
        QCOMPARE(js.GetcurrentCodecType(), 3);
        IAvVistrel *again = CreateLiveInstance();
        ReleaseLiveInstance(&again);
    }
};

QTEST_GUILESS_MAIN(JsContextMediaTest)
#include "jscontext_media_test.moc"
