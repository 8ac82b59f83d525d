// The wall, the single call and the information window against the real
// live-video library, nginx's RTMP module and ffmpeg, on Xvfb.
#include "live_rtmp.h"
#include "video_container.h"
#include "video_information.h"
#include "video_main.h"
#include "video_wall.h"
#include "video_widget.h"
#include "vistrel.h"
#include "widget_top.h"

#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

namespace
{

class FakePage : public WallPage
{
  public:
    QStringList lines;
    void closeStrongPull(const QString &url, bool notStrong) override
    {
        lines << QStringLiteral("closeStrongPull %1 %2").arg(url).arg(notStrong);
    }
    void closevideocontainercb() override
    {
        lines << QStringLiteral("closevideocontainer");
    }
    void CloseVideoSingel() override
    {
        lines << QStringLiteral("CloseVideoSingel");
    }
    void videoinformationstop(const QString &url) override
    {
        lines << QStringLiteral("videoinformationstop %1").arg(url);
    }
    void GetUrllist(int channelnum) override
    {
        lines << QStringLiteral("GetUrllist %1").arg(channelnum);
    }
    void getrecordhistory() override {}
    void videosizechange(const QString &, const QString &) override {}
};

// The colour in the middle of a native window, as the X server has it.
QColor centre(const QWidget *w)
{
    const QImage img = QGuiApplication::primaryScreen()->grabWindow(w->winId()).toImage();
    if (img.isNull())
        return QColor();
    return img.pixelColor(img.width() / 2, img.height() / 2);
}

bool near(const QColor &a, const QColor &b)
{
    return a.isValid() && qAbs(a.red() - b.red()) < 40 && qAbs(a.green() - b.green()) < 40 &&
           qAbs(a.blue() - b.blue()) < 40;
}

} // namespace

class LiveWallTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_work;
    LiveRtmp m_rtmp;
    IAvVistrel *m_av = nullptr;
    QWidget m_main;
    FakePage m_page;
    VideoWall *m_wall = nullptr;
    QString m_red, m_blue;

  private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_work.path())); // kvvideo.log lands here
        QVERIFY2(m_rtmp.start(), qPrintable(m_rtmp.log()));
        QVERIFY(m_rtmp.publish("red", "red"));
        QVERIFY(m_rtmp.publish("blue", "blue"));
        m_red = m_rtmp.url("red");
        m_blue = m_rtmp.url("blue");
        m_av = CreateLiveInstance();
        QVERIFY(m_av);
        m_main.setGeometry(0, 0, 1400, 1000);
        m_main.show();
        m_wall = new VideoWall(&m_main, VideoContainer::instance(), &m_page, m_av);
        m_wall->connectContainer();
        VideoContainer::instance()->setClock([] {
            static qint64 now = 0;
            return now += 5000;
        });
    }

    void wallPlaysEachStreamInItsTile()
    {
        m_wall->onStartUpVideo(0, 60, 1300, 900);
        QStringList stop;
        m_wall->onStopPullStream(stop);
        QStringList urls{m_red, m_blue};
        m_wall->onStartPullStream(4, urls);
        const auto &e = m_wall->entries();
        QCOMPARE(e.size(), 4);
        QTRY_VERIFY_WITH_TIMEOUT(near(centre(e[0]->tile), Qt::red), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(near(centre(e[1]->tile), Qt::blue), 20000);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(e[i]->top->pos(), e[i]->tile->mapToGlobal(QPoint(0, 0)));
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("red", false), 1, 10000);

        // The wall moves: the bars follow, the pictures stay in their tiles.
        VideoContainer::instance()->move(VideoContainer::instance()->pos() + QPoint(60, 40));
        QTRY_COMPARE_WITH_TIMEOUT(e[0]->top->pos(), e[0]->tile->mapToGlobal(QPoint(0, 0)), 15000);
        QCOMPARE(e[1]->top->pos(), e[1]->tile->mapToGlobal(QPoint(0, 0)));
        QTRY_VERIFY_WITH_TIMEOUT(near(centre(e[1]->tile), Qt::blue), 10000);
    }

    void indexOpensSpeakersAndLayouts()
    {
        QCOMPARE(m_wall->openwidgetindex(m_red, false, "Ann", "360p"), -1);
        m_wall->closewidgetindex(m_blue);
        QCOMPARE(m_page.lines.last(), "closeStrongPull " + m_blue + " 1");
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("blue", false), 0, 10000);
        QCOMPARE(m_wall->openwidgetindex(m_blue, true, "Bob", "240p"), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("blue", false), 1, 10000);

        m_wall->onVideoVoiceEvent(m_red); // sound on
        m_wall->speakerStarted();
        m_wall->speakerStarted();
        QVERIFY(m_wall->entries()[0]->muted);
        m_wall->speakerStopped();
        QVERIFY(!m_wall->entries()[0]->muted);
        QVERIFY(m_wall->entries()[1]->muted);

        VideoContainer::instance()->form().nineChannel->click(); // layout switch stops all
        QCOMPARE(m_wall->entries().size(), 9);
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("red", false) + m_rtmp.count("blue", false), 0,
                                  10000);
    }

    void singleCallsKeepTheNewest()
    {
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        m_wall->onStartVideoSingel(m_rtmp.url("me1"), m_red, "Ann", 0, 0, 1400, 1000);
        QTRY_VERIFY_WITH_TIMEOUT(near(centre(m_wall->singleCallWindow()->pullTile), Qt::red),
                                 20000);
        QVERIFY(ticks > 5); // the GUI thread kept serving while the call started
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("me1", true), 1, 10000);
        QCOMPARE(m_rtmp.count("red", false), 1);

        m_wall->onStartVideoSingel(m_rtmp.url("me2"), m_blue, "Bob", 0, 0, 1400, 1000);
        m_wall->onStopVideoSingel(m_rtmp.url("me1"), m_red); // the first call's late stop
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("me2", true), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(near(centre(m_wall->singleCallWindow()->pullTile), Qt::blue),
                                 20000);
        QCOMPARE(m_rtmp.count("me1", true), 0);
        QCOMPARE(m_rtmp.count("red", false), 0);
        m_wall->onStopVideoSingel(m_rtmp.url("me2"), m_blue);
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("me2", true) + m_rtmp.count("blue", false), 0,
                                  10000);
    }

    void informationWindowClosedByTheWindowManager()
    {
        m_wall->onStartVideoInformation(m_red, "Info", 76, 166, 74, 255);
        QPointer<VideoInformation> info = m_wall->videoInformation();
        QTRY_VERIFY_WITH_TIMEOUT(near(centre(info->surface()), Qt::red), 20000);
        info->close();
        QCOMPARE(m_page.lines.last(), "videoinformationstop " + m_red);
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("red", false), 0, 10000);
    }

    void logoutAndReleaseLeaveNoClient()
    {
        VideoContainer::instance()->close(); // the page's logout
        QVERIFY(m_wall->entries().isEmpty());
        // Streams running when the main window goes: the release ends them.
        m_wall->onStartUpVideo(0, 60, 1300, 900);
        m_wall->openwidgetindex(m_red, false, "Ann", "480p");
        QTRY_COMPARE_WITH_TIMEOUT(m_rtmp.count("red", false), 1, 10000);
        delete m_wall;
        m_wall = nullptr;
        delete VideoContainer::instance();
        ReleaseLiveInstance(&m_av);
        QVERIFY(!m_av);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (const LiveRtmp::Client &c : m_rtmp.clients()) {
                    if (!c.publishing || c.stream.startsWith("me"))
                        return false;
                }
                return true;
            }(),
            10000);
        QFile log(m_work.filePath("kvvideo.log"));
        if (log.open(QIODevice::ReadOnly)) {
            const QByteArray text = log.readAll();
            QVERIFY2(!text.contains("BadWindow") && !text.contains("BadDrawable") &&
                         !text.contains("X error"),
                     text.constData());
        }
    }
};

QTEST_MAIN(LiveWallTest)
#include "live_wall_test.moc"
