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
#include <QRegularExpression>
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
        // The enlarged tile takes the room of the hidden ones: alone in the
        // grid, in its middle at the top; back to normal, back to its cell.
        VideoMain *grid = m_wall->pullMainWidget();
        QTRY_COMPARE_WITH_TIMEOUT(
            e[0]->tile->geometry(),
            QRect(QPoint((grid->width() - 2 * before.width()) / 2, 0), 2 * before), 5000);
        QTest::mouseDClick(e[0]->tile, Qt::LeftButton);
        QVERIFY(!e[0]->tile->isFullScreenTile());
        QTRY_COMPARE_WITH_TIMEOUT(
            e[0]->tile->geometry(),
            QRect(QPoint((grid->width() / 2 - before.width()) / 2, 0), before), 5000);
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

    // The page adds four tiles to the one-tile layout: five tiles, laid out
    // in the six-tile grid, each in a cell of its own.
    void fiveTilesInTheSixGrid()
    {
        m_wall = new VideoWall(m_main, VideoContainer::instance(), m_page, m_av);
        m_wall->connectContainer();
        VideoContainer::instance()->setClock([this] { return m_now += 5000; });
        m_wall->onStartUpVideo(0, 60, 1300, 900);
        QVERIFY(QTest::qWaitForWindowExposed(VideoContainer::instance()));
        QStringList urls{"rtmp://h/a", "rtmp://h/b"};
        m_wall->onStartPullStream(4, urls);
        const auto &e = m_wall->entries();
        QCOMPARE(e.size(), 5);
        VideoMain *grid = m_wall->pullMainWidget();
        QCOMPARE(grid->gridCount(), 6);
        QCOMPARE(m_wall->openwidgetindex("rtmp://h/c", false, "Cy", "360p"), 0);
        QCOMPARE(e[0]->url, QStringLiteral("rtmp://h/c")); // the layout's free tile
        QTRY_VERIFY_WITH_TIMEOUT(e[0]->top->isVisible(), 15000);
        const int cellW = grid->width() / 3;
        for (int i = 0; i < e.size(); ++i) {
            const QRect g = e[i]->tile->geometry();
            QCOMPARE(g.size(), QSize(grid->width() / 4, grid->height() / 2 - 1));
            QVERIFY2(qAbs(g.center().x() - ((i % 3) * cellW + cellW / 2)) <= 2,
                     qPrintable(QString::number(i)));
            QCOMPARE(i < 3 ? g.top() : g.bottom(), i < 3 ? 0 : grid->height() - 1);
            for (int j = 0; j < i; ++j)
                QVERIFY(!g.intersects(e[j]->tile->geometry()));
        }
        for (int i : {0, 1, 2}) // the bars sit on their own tiles
            QTRY_COMPARE_WITH_TIMEOUT(e[i]->top->pos(), e[i]->tile->mapToGlobal(QPoint(0, 0)),
                                      15000);
    }

    // Past nine tiles the grid has no cell: those tiles stay hidden and
    // nothing is pulled into them.
    void tilesPastNineStayHidden()
    {
        startWall(9, {});
        m_av->clear();
        QStringList urls{"rtmp://h/x", "rtmp://h/y"};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("tiles past it stay hidden"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no cell for.*rtmp://h/x"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no cell for.*rtmp://h/y"));
        m_wall->onStartPullStream(2, urls);
        const auto &e = m_wall->entries();
        QCOMPARE(e.size(), 11);
        QVERIFY(m_av->calls().filter("pull+").isEmpty());
        for (int i : {9, 10})
            QVERIFY(e[i]->tile->isHidden() && !e[i]->pulling);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(m_wall->openwidgetindex(QStringLiteral("rtmp://h/%1").arg(i), false, "", ""),
                     0);
        QCOMPARE(m_wall->openwidgetindex("rtmp://h/more", false, "", ""), 0);
        QCOMPARE(m_av->calls().filter("pull+").size(), 9);
        QVERIFY(!e[9]->pulling && !e[10]->pulling && e[9]->tile->isHidden());
    }

    // A layout made while a speaker holds the wall quiet keeps its windows
    // muted when the speaker stops: the new layout by a layout switch, and
    // by closing and opening the wall again.
    void speakerOverANewLayout_data()
    {
        QTest::addColumn<bool>("reopen");
        QTest::newRow("layout switch") << false;
        QTest::newRow("close and open") << true;
    }
    void speakerOverANewLayout()
    {
        QFETCH(bool, reopen);
        startWall(4, {});
        m_wall->openwidgetindex("rtmp://h/a", false, "Ann", "360p");
        m_wall->onVideoVoiceEvent("rtmp://h/a"); // the dispatcher turns a up
        m_wall->speakerStarted();
        QVERIFY(m_wall->muteSaved());
        if (reopen) {
            VideoContainer::instance()->close();
            m_wall->onStartUpVideo(0, 60, 1300, 900);
        } else {
            VideoContainer::instance()->form().fourChannel->click();
        }
        // The page pulls into the new layout; one more stream by the page's list.
        m_wall->openwidgetindex("rtmp://h/b", false, "Bob", "360p");
        QStringList more{"rtmp://h/c"};
        m_wall->onStartPullStream(1, more);
        m_av->clear();
        m_wall->speakerStopped();
        for (const PullWidgetEntry *e : m_wall->entries())
            QVERIFY2(e->muted, qPrintable(e->url));
        QVERIFY2(m_av->calls().filter(QRegularExpression(" 0$")).isEmpty(),
                 qPrintable(m_av->calls().join('\n')));
        QVERIFY(m_av->calls().contains("mute rtmp://h/b 1"));
        QVERIFY(m_av->calls().contains("mute rtmp://h/c 1"));
    }

    // A stream the page adds while a speaker is on starts muted.
    void layoutStreamDuringASpeakerStartsMuted()
    {
        startWall(4, {"rtmp://h/a"});
        m_wall->speakerStarted();
        m_av->clear();
        QStringList more{"rtmp://h/b"};
        m_wall->onStartPullStream(1, more);
        const QStringList calls = m_av->calls().filter("rtmp://h/b");
        QCOMPARE(calls.size(), 2);
        QVERIFY(calls[0].startsWith("pull+ "));
        QCOMPARE(calls[1], QStringLiteral("mute rtmp://h/b 1"));
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

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("stop ignored"));
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

    // The page's stop names the call's URLs or none: either ends the running
    // call; URLs of another call leave it running, with a log line.
    void pageStopOfACall_data()
    {
        QTest::addColumn<QString>("push");
        QTest::addColumn<QString>("pull");
        QTest::addColumn<bool>("ends");
        QTest::newRow("its URLs") << "rtmp://h/p"
                                  << "rtmp://h/q" << true;
        QTest::newRow("no URLs") << ""
                                 << "" << true;
        QTest::newRow("no push URL") << ""
                                     << "rtmp://h/other" << true;
        QTest::newRow("no pull URL") << "rtmp://h/other"
                                     << "" << true;
        QTest::newRow("another call") << "rtmp://h/p"
                                      << "rtmp://h/old" << false;
    }
    void pageStopOfACall()
    {
        QFETCH(QString, push);
        QFETCH(QString, pull);
        QFETCH(bool, ends);
        m_wall = new VideoWall(m_main, VideoContainer::instance(), m_page, m_av);
        m_wall->onStartVideoSingel("rtmp://h/p", "rtmp://h/q", "Ann", 0, 0, 800, 600);
        QTRY_COMPARE_WITH_TIMEOUT(m_av->calls().size(), 2, 15000);
        if (!ends)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("stop ignored"));
        m_wall->onStopVideoSingel(push, pull);
        QCOMPARE(m_wall->singleCallActive(), !ends);
        QCOMPARE(m_page->lines.count("CloseVideoSingel"), ends ? 1 : 0);
        const QStringList stops = ends ? QStringList{"pull- rtmp://h/q", "push-"} : QStringList();
        QCOMPARE(m_av->calls().mid(2), stops);
        if (ends) { // a second stop finds no call
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("stop ignored"));
            m_wall->onStopVideoSingel(push, pull);
            QCOMPARE(m_page->lines.count("CloseVideoSingel"), 1);
        }
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
