// The wall's controller against a recording live-video instance, on Xvfb.
#include "fake_vistrel.h"
#include "video_container.h"
#include "video_information.h"
#include "video_main.h"
#include "video_wall.h"
#include "video_widget.h"
#include "wall_scale.h"
#include "widget_bottom.h"
#include "widget_top.h"

#include <QLabel>
#include <QListWidget>
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
    void getrecordhistory() override
    {
        lines << QStringLiteral("getrecordhistory");
    }
    void videosizechange(const QString &size, const QString &url) override
    {
        lines << QStringLiteral("videosizechange %1 %2").arg(size, url);
    }
};

QString h(const QWidget *w)
{
    return QString::number(w->winId());
}

} // namespace

class VideoWallTest : public QObject
{
    Q_OBJECT
    QWidget *m_main = nullptr;
    FakePage *m_page = nullptr;
    FakeVistrel *m_av = nullptr;
    VideoWall *m_wall = nullptr;
    qint64 m_now = 1000000;

    // A wall started up, then given `channels` tiles with these URLs by the page.
    void startWall(int channels, const QStringList &urls, bool withInstance = true)
    {
        VideoContainer::instance()->setClock([this] { return m_now += 5000; });
        m_wall = new VideoWall(m_main, VideoContainer::instance(), m_page,
                               withInstance ? m_av : nullptr);
        m_wall->connectContainer();
        m_wall->onStartUpVideo(0, 60, 1300, 900);
        QVERIFY(QTest::qWaitForWindowExposed(VideoContainer::instance()));
        QStringList stop;
        m_wall->onStopPullStream(stop);
        QStringList list = urls;
        m_wall->onStartPullStream(channels, list);
        QVERIFY(list.isEmpty()); // the page's list is taken, not left to grow
    }

  private slots:
    void init()
    {
        m_main = new QWidget;
        m_main->setGeometry(50, 50, 1200, 800);
        m_page = new FakePage;
        m_av = new FakeVistrel;
    }
    void cleanup()
    {
        delete m_wall;
        m_wall = nullptr;
        delete VideoContainer::instance();
        delete m_main;
        delete m_page;
        delete m_av;
    }

    void pageOpensAWallWithTwoUrls()
    {
        startWall(4, {"rtmp://h/a", "rtmp://h/b"});
        QCOMPARE(m_page->lines.first(), QStringLiteral("GetUrllist 1"));
        const float s = wallScale();
        QCOMPARE(m_wall->pullMainWidget()->size(), QSize(int(1300 * s), int(900 * s)));
        QCOMPARE(m_wall->pullMainWidget()->pos(), QPoint(0, int(60 * s)));
        const auto &e = m_wall->entries();
        QCOMPARE(e.size(), 4);
        QCOMPARE(e[0]->url, QStringLiteral("rtmp://h/a"));
        QCOMPARE(e[1]->url, QStringLiteral("rtmp://h/b"));
        QVERIFY(e[2]->url.isEmpty() && e[3]->url.isEmpty());
        QVERIFY(e[0]->pulling && e[1]->pulling && !e[2]->pulling);
        QTRY_VERIFY_WITH_TIMEOUT(e[1]->top->isVisible(), 15000);
        QCOMPARE(e[1]->top->pos(), e[1]->tile->mapToGlobal(QPoint(0, 0)));
        QCOMPARE(e[1]->top->width(), e[1]->tile->width());
        const QStringList calls = m_av->calls();
        QCOMPARE(calls.mid(calls.size() - 2),
                 (QStringList{"pull+ " + h(e[0]->tile) + " rtmp://h/a",
                              "pull+ " + h(e[1]->tile) + " rtmp://h/b"}));
        // The tile carries its URL: a double click reaches full screen.
        QVERIFY(QTest::qWaitForWindowExposed(e[0]->tile));
        const QSize before = e[0]->tile->size();
        QTest::mouseDClick(e[0]->tile, Qt::LeftButton);
        QVERIFY(e[0]->tile->isFullScreenTile());
        QCOMPARE(e[0]->tile->size(), 2 * before);
        QVERIFY(!e[1]->tile->isVisible());
    }

    void openAndCloseByIndex()
    {
        startWall(4, {});
        m_av->clear();
        QCOMPARE(m_wall->openwidgetindex("rtmp://h/x", false, "Ann", "360p"), 0);
        QCOMPARE(m_wall->openwidgetindex("rtmp://h/y", true, "Bob", "240p"), 0);
        QCOMPARE(m_wall->openwidgetindex("rtmp://h/x", false, "Ann", "360p"), -1);
        // Free entries hold the empty URL: an empty URL counts as a duplicate.
        QCOMPARE(m_wall->openwidgetindex("", false, "", ""), -1);
        QCOMPARE(m_wall->activePullCount(), 2);
        QCOMPARE(m_av->calls(),
                 (QStringList{"pull+ " + h(m_wall->entries()[0]->tile) + " rtmp://h/x",
                              "mute rtmp://h/x 1",
                              "pull+ " + h(m_wall->entries()[1]->tile) + " rtmp://h/y",
                              "mute rtmp://h/y 1"}));
        // Both fast opens show their own bars, each at its tile's top-left.
        PullWidgetEntry *x = m_wall->entries()[0];
        PullWidgetEntry *y = m_wall->entries()[1];
        QTRY_VERIFY_WITH_TIMEOUT(x->top->isVisible() && y->top->isVisible(), 15000);
        QCOMPARE(x->top->pos(), x->tile->mapToGlobal(QPoint(0, 0)));
        QCOMPARE(y->top->pos(), y->tile->mapToGlobal(QPoint(0, 0)));
        QCOMPARE(x->bottom->picker()->shownText(), x->bottom->picker()->list()->item(1)->text());

        // The bars follow the wall.
        VideoContainer::instance()->move(VideoContainer::instance()->pos() + QPoint(40, 30));
        QTRY_COMPARE_WITH_TIMEOUT(x->top->pos(), x->tile->mapToGlobal(QPoint(0, 0)), 15000);

        m_av->clear();
        QCOMPARE(m_wall->closewidgetindex("rtmp://h/x"), 0);
        QCOMPARE(m_wall->closewidgetindexnocb("rtmp://h/y"), 0);
        QCOMPARE(m_wall->closewidgetindex("rtmp://h/unknown"), 0);
        QCOMPARE(m_page->lines.filter("closeStrongPull"),
                 QStringList{"closeStrongPull rtmp://h/x 1"});
        QCOMPARE(m_av->calls(), (QStringList{"pull- rtmp://h/x", "pull- rtmp://h/y"}));
        QVERIFY(!x->top->isVisible() && !x->pulling && x->url.isEmpty());
        QCOMPARE(m_wall->activePullCount(), 0);
    }

    void wallClosedRightAfterAnOpen()
    {
        startWall(4, {});
        QCOMPARE(m_wall->openwidgetindex("rtmp://h/x", false, "Ann", "480p"), 0);
        VideoContainer::instance()->close(); // within the bar's 200 ms
        QTest::qWait(300);
        QVERIFY(m_wall->entries().isEmpty());
        QVERIFY(!m_wall->pullMainWidget());
        QVERIFY(m_page->lines.contains("closevideocontainer"));
        QVERIFY(m_av->calls().contains("pull- rtmp://h/x"));
        // A new start-up after the close builds a fresh one-tile wall.
        m_wall->onStartUpVideo(0, 60, 1300, 900);
        QCOMPARE(m_wall->entries().size(), 1);
    }

    void speakerMutesAndRestoresNested()
    {
        startWall(4, {"rtmp://h/a", "rtmp://h/b"});
        m_wall->onVideoVoiceEvent("rtmp://h/a"); // a: sound on; b stays muted
        QVERIFY(!m_wall->entries()[0]->muted);
        m_av->clear();
        m_wall->speakerStarted();
        QVERIFY(m_wall->muteSaved());
        QCOMPARE(m_av->calls().filter("mute"),
                 (QStringList{"mute rtmp://h/a 1", "mute rtmp://h/b 1", "mute  1", "mute  1"}));
        m_wall->speakerStarted(); // nested: the first saved states stay
        QVERIFY(m_wall->entries()[0]->muted);
        m_av->clear();
        m_wall->speakerStopped();
        QVERIFY(!m_wall->muteSaved());
        QCOMPARE(m_av->calls().filter("rtmp"),
                 (QStringList{"mute rtmp://h/a 0", "mute rtmp://h/b 1"}));
        QVERIFY(!m_wall->entries()[0]->muted);
        m_av->clear();
        m_wall->speakerStopped(); // nothing saved: nothing restored
        QVERIFY(m_av->calls().isEmpty());
    }

    void speakerWithoutPullsChangesNothing()
    {
        startWall(4, {});
        m_av->clear();
        m_wall->speakerStarted();
        QVERIFY(!m_wall->muteSaved());
        QVERIFY(m_av->calls().isEmpty());
    }

    void singleCallsBackToBackAndLateStop()
    {
        m_wall = new VideoWall(m_main, VideoContainer::instance(), m_page, m_av);
        m_main->show();
        QStringList stopsWhileWindowLived;
        m_av->onStopPull = [&](const std::string &url) {
            videosignalmain *w = m_wall->singleCallWindow();
            stopsWhileWindowLived << QString::fromStdString(url) +
                                         (w && QWidget::find(w->pullTile->winId()) ? " live"
                                                                                   : " gone");
        };
        m_wall->onStartVideoSingel("rtmp://h/pushA", "rtmp://h/pullA", "Ann", 0, 0, 1200, 800);
        videosignalmain *a = m_wall->singleCallWindow();
        const QString pushA = h(a->pushTile), pullA = h(a->pullTile);
        m_wall->onStartVideoSingel("rtmp://h/pushB", "rtmp://h/pullB", "Bob", 0, 0, 1200, 800);
        videosignalmain *b = m_wall->singleCallWindow();
        QTRY_COMPARE_WITH_TIMEOUT(m_av->calls().size(), 6, 15000);
        QCOMPARE(m_av->calls(),
                 (QStringList{"push+ " + pushA + " rtmp://h/pushA",
                              "pull+ " + pullA + " rtmp://h/pullA", "pull- rtmp://h/pullA", "push-",
                              "push+ " + h(b->pushTile) + " rtmp://h/pushB",
                              "pull+ " + h(b->pullTile) + " rtmp://h/pullB"}));
        QCOMPARE(stopsWhileWindowLived, QStringList{"rtmp://h/pullA live"});
        QCOMPARE(b->size(), QSize(int(450 * wallScale()), int(800 * wallScale())));
        QCOMPARE(b->pos(), QPoint((1200 - b->width()) / 2, 0));
        QCOMPARE(b->nameOverlay->userName(), QStringLiteral("Bob"));

        m_wall->onStopVideoSingel("rtmp://h/pushA", "rtmp://h/pullA"); // late: ignored
        QCOMPARE(m_wall->singleCallWindow(), b);
        QVERIFY(m_wall->singleCallActive());
        QCOMPARE(m_av->calls().size(), 6);

        // Mute and swap act on the running call.
        m_wall->onSingelMuteClicked();
        m_wall->onSwitchPushPull();
        m_wall->onSwitchPushPull();
        QCOMPARE(m_av->calls().mid(6),
                 (QStringList{"mute rtmp://h/pullB 1", "pushrender " + h(b->pullTile) + " 0 0",
                              "pullrender " + h(b->pushTile) + " rtmp://h/pullB",
                              "pushrender " + h(b->pushTile) + " 0 0",
                              "pullrender " + h(b->pullTile) + " rtmp://h/pullB"}));

        m_av->clear();
        m_wall->onStopVideoSingel("rtmp://h/pushB", "rtmp://h/pullB");
        QCOMPARE(m_av->calls(), (QStringList{"pull- rtmp://h/pullB", "push-"}));
        QVERIFY(!m_wall->singleCallActive());
        QVERIFY(!m_wall->singleCallWindow());
        QCOMPARE(m_page->lines.count("CloseVideoSingel"), 1);
    }

    void callWindowClosedByItsOwnClose()
    {
        m_wall = new VideoWall(m_main, VideoContainer::instance(), m_page, m_av);
        m_wall->onStartVideoSingel("rtmp://h/p", "rtmp://h/q", "Ann", 0, 0, 800, 600);
        QTRY_COMPARE_WITH_TIMEOUT(m_av->calls().size(), 2, 15000);
        m_wall->singleCallWindow()->close();
        QCOMPARE(m_av->calls().mid(2), (QStringList{"pull- rtmp://h/q", "push-"}));
        QCOMPARE(m_page->lines, QStringList{"CloseVideoSingel"});
        // A new call after it stops nothing twice.
        m_wall->onStartVideoSingel("rtmp://h/p2", "rtmp://h/q2", "Ann", 0, 0, 800, 600);
        QTRY_COMPARE_WITH_TIMEOUT(m_av->calls().size(), 6, 15000);
        QVERIFY(m_av->calls().at(4).startsWith("push+ "));
    }

    void informationWindowClosesOneWay()
    {
        m_wall = new VideoWall(m_main, VideoContainer::instance(), m_page, m_av);
        m_wall->onStartVideoInformation("rtmp://h/i1", "One", 10, 20, 30, 255);
        QPointer<VideoInformation> first = m_wall->videoInformation();
        QCOMPARE(m_av->calls(), (QStringList{"pull+ " + h(first->surface()) + " rtmp://h/i1",
                                             "mute rtmp://h/i1 1"}));
        QCOMPARE(first->titleLabel()->text(), QStringLiteral("One"));
        // A second request ends the first the one way every window ends.
        m_wall->onStartVideoInformation("rtmp://h/i2", "Two", 10, 20, 30, 255);
        QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 15000);
        QCOMPARE(m_page->lines, QStringList{"videoinformationstop rtmp://h/i1"});
        QVERIFY(m_av->calls().contains("pull- rtmp://h/i1"));
        QPointer<VideoInformation> second = m_wall->videoInformation();
        second->topBar()->videoSlice->click();
        QCOMPARE(m_av->calls().last(), QStringLiteral("mute rtmp://h/i2 0"));
        // A window-manager close stops the pull and tells the page.
        second->close();
        QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), 15000);
        QVERIFY(!m_wall->videoInformation());
        QCOMPARE(m_page->lines.last(), QStringLiteral("videoinformationstop rtmp://h/i2"));
        QCOMPARE(m_av->calls().last(), QStringLiteral("pull- rtmp://h/i2"));
        m_wall->closeVideoInformation(); // nothing open: nothing happens
        QCOMPARE(m_page->lines.size(), 2);
    }

    void nullInstanceSkipsEveryCall()
    {
        startWall(4, {"rtmp://h/a"}, false);
        QCOMPARE(m_wall->openwidgetindex("rtmp://h/x", true, "Ann", "480p"), 0);
        m_wall->onVideoVoiceEvent("rtmp://h/x");
        m_wall->onVideoSetAllMute(true);
        m_wall->speakerStarted();
        m_wall->speakerStopped();
        m_wall->closewidgetindex("rtmp://h/x");
        m_wall->onStartVideoSingel("p", "q", "Ann", 0, 0, 800, 600);
        m_wall->onSingelMuteClicked();
        m_wall->onSwitchPushPull();
        m_wall->onStopVideoSingel("p", "q");
        m_wall->onStartVideoInformation("i", "t", 1, 2, 3, 4);
        m_wall->closeVideoInformation();
        VideoContainer::instance()->close();
        QVERIFY(m_wall->entries().isEmpty());
        QCOMPARE(m_page->lines.count("CloseVideoSingel"), 1);
    }

    void pickerAndHistoryReachThePage()
    {
        startWall(4, {});
        m_wall->openwidgetindex("rtmp://h/x", false, "Ann", "480p");
        pushcombox *p = m_wall->entries()[0]->bottom->picker();
        p->list()->setCurrentRow(2);
        p->on_clicked();
        QCOMPARE(m_page->lines.last(), QStringLiteral("videosizechange 240p rtmp://h/x"));
        VideoContainer::instance()->form().recordhistory->click();
        QCOMPARE(m_page->lines.last(), QStringLiteral("getrecordhistory"));
        m_wall->onSettabeldata("Back", "Multi");
        QCOMPARE(VideoContainer::instance()->windowTitle(), QStringLiteral("Back"));
        QCOMPARE(VideoContainer::instance()->form().navlable->text(), QStringLiteral("Multi"));
    }
};

QTEST_MAIN(VideoWallTest)
#include "video_wall_test.moc"
