// The wall's widgets on a real X server (Xvfb) 1920 or 1280 pixels wide.
#include "language_control.h"
#include "table_data.h"
#include "toast.h"
#include "video_call_host.h"
#include "video_container.h"
#include "video_information.h"
#include "video_main.h"
#include "video_single.h"
#include "video_widget.h"
#include "wall_scale.h"
#include "widget_bottom.h"
#include "widget_top.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTranslator>
#include <QtTest>
#include <functional>

namespace
{

class FakeHost : public VideoCallHost
{
  public:
    int stops = 0;
    int works = 0;
    int StopVideoSignel() override
    {
        return ++stops, 0;
    }
    int threadWork() override
    {
        return ++works, 0;
    }
};

bool wide()
{
    return QGuiApplication::primaryScreen()->availableGeometry().width() == 1920;
}

} // namespace

class WallTest : public QObject
{
    Q_OBJECT
    qint64 m_now = 0;

  private slots:
    void initTestCase()
    {
        const int w = QGuiApplication::primaryScreen()->availableGeometry().width();
        QVERIFY2(w == 1920 || w == 1280, "run on a 1920 or 1280 pixels wide screen");
    }
    void cleanup()
    {
        delete VideoContainer::instance();
        LanguageControl::instance()->setLanguage(0);
    }

    void containerGeometry()
    {
        VideoContainer *c = VideoContainer::instance();
        const VideoContainer::Ui &ui = c->form();
        struct Want {
            QWidget *w;
            QRect at1920;
            QRect at1280;
        };
        const Want wants[] = {
            {ui.recordhistory, {432, 5, 48, 48}, {288, 3, 32, 32}},
            {ui.navlable, {5, 0, 60, 60}, {3, 0, 40, 40}},
            {ui.Slience, {370, 5, 48, 48}, {247, 3, 32, 32}},
            {ui.oneChannel, {60, 5, 48, 48}, {40, 3, 32, 32}},
            {ui.fourChannel, {122, 5, 48, 48}, {81, 3, 32, 32}},
            {ui.sixChannel, {184, 5, 48, 48}, {123, 3, 32, 32}},
            {ui.eightChannel, {246, 5, 48, 48}, {164, 3, 32, 32}},
            {ui.nineChannel, {308, 5, 48, 48}, {205, 3, 32, 32}},
        };
        QCOMPARE(c->size(), wide() ? QSize(1300, 960) : QSize(866, 640));
        QCOMPARE(c->minimumSize(), c->maximumSize());
        for (const Want &w : wants)
            QCOMPARE(w.w->geometry(), wide() ? w.at1920 : w.at1280);
        QVERIFY(ui.oneChannel->isChecked());
        QCOMPARE(c->windowTitle(), QString::fromUtf8("\u89c6\u9891\u56de\u4f20"));
        QCOMPARE(ui.navlable->text(), QString::fromUtf8("\u5206\u5c4f"));
        c->setTitle("walls");
        QCOMPARE(ui.navlable->text(), QStringLiteral("walls"));
    }

    void busyGuardAndLayoutSwitches()
    {
        VideoContainer *c = VideoContainer::instance();
        c->setClock([this] { return m_now; });
        QSignalSpy play(c, &VideoContainer::PlayVideoSignal);
        QSignalSpy stop(c, &VideoContainer::StopVideoSignal);
        QStringList order;
        connect(c, &VideoContainer::PlayVideoSignal, this, [&](int n, QStringList l) {
            order << QStringLiteral("play %1 %2").arg(n).arg(l.size());
        });
        connect(c, &VideoContainer::StopVideoSignal, this,
                [&](QStringList l) { order << QStringLiteral("stop %1").arg(l.size()); });

        m_now = 100000; // first switch after construction: never busy
        c->form().sixChannel->click();
        QCOMPARE(order, QStringList{"play 6 6"});
        QCOMPARE(play.first().at(1).toStringList(), (QStringList{"", "", "", "", "", ""}));

        m_now += 2999; // refused: the toast tells, the playing layout stays checked
        c->form().nineChannel->click();
        QCOMPARE(order.size(), 1);
        QVERIFY(c->form().sixChannel->isChecked());
        QVERIFY(c->m_toast->isVisible());
        QCOMPARE(c->m_toast->text(), QString::fromUtf8("\u64cd\u4f5c\u9891\u7e41!"));

        m_now += 1; // 3000 ms after the accepted switch
        c->form().nineChannel->click();
        QCOMPARE(order, (QStringList{"play 6 6", "stop 0", "play 9 9"}));
        QVERIFY(c->m_ninePlaying && !c->m_sixPlaying);

        m_now += 3000; // the layout already playing: nothing, but it counts
        c->form().nineChannel->click();
        QCOMPARE(order.size(), 3);
        LanguageControl::instance()->setLanguage(1);
        m_now += 10;
        c->form().fourChannel->click();
        QCOMPARE(order.size(), 3);
        QCOMPARE(c->m_toast->text(), QStringLiteral("Frequent operation!"));
        QVERIFY(c->form().nineChannel->isChecked());

        // A close resets the guard: the next switch is accepted at once.
        QSignalSpy closed(c, &VideoContainer::CloseVideoContainerSignal);
        c->show();
        c->close();
        QCOMPARE(closed.size(), 1);
        QCOMPARE(c->m_lastSwitchTime, 0);
        m_now += 10;
        c->form().fourChannel->click();
        QCOMPARE(order.last(), QStringLiteral("play 4 4"));
        QCOMPARE(stop.size(), 2);
    }

    void allMuteToggle()
    {
        VideoContainer *c = VideoContainer::instance();
        QSignalSpy mute(c, &VideoContainer::videoSetallmuteSignal);
        QVERIFY(c->m_allMute);
        c->form().Slience->click();
        QCOMPARE(mute.size(), 1);
        QCOMPARE(mute.takeFirst().at(0).toBool(), false);
        QVERIFY(!c->m_toast->isVisible());
        QVERIFY(c->form().Slience->styleSheet().contains("Silence.png"));
        c->form().Slience->click();
        QCOMPARE(mute.takeFirst().at(0).toBool(), true);
        QVERIFY(c->m_toast->isVisible());
        QVERIFY(c->form().Slience->styleSheet().contains("mute.png"));
        c->setMuteButton(false);
        QVERIFY(!c->m_allMute);
        QCOMPARE(mute.size(), 0);
    }

    // The grids of the five layouts, and the counts the page can make by
    // adding tiles to a layout: each in the smallest grid that holds it.
    void gridFills_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("grid");
        QTest::addColumn<QList<QRect>>("cells"); // (row, col, w, h) per placed tile
        auto cells = [](int count, int perRow, int w, std::function<int(int)> h) {
            QList<QRect> out;
            for (int i = 0; i < count; ++i)
                out << QRect(i / perRow, i % perRow, w, h(i / perRow));
            return out;
        };
        auto half = [](int) { return 449; };
        auto third = [](int row) { return row == 1 ? 298 : 299; };
        QTest::newRow("1") << 1 << 1 << QList<QRect>{{0, 0, 650, 900}};
        QTest::newRow("4") << 4 << 4 << cells(4, 2, 325, half);
        QTest::newRow("6") << 6 << 6 << cells(6, 3, 325, half);
        QTest::newRow("8") << 8 << 8 << cells(8, 4, 309, half);
        QTest::newRow("9") << 9 << 9 << cells(9, 3, 236, third);
        QTest::newRow("2 in 4") << 2 << 4 << cells(2, 2, 325, half);
        QTest::newRow("5 in 6") << 5 << 6 << cells(5, 3, 325, half);
        QTest::newRow("7 in 8") << 7 << 8 << cells(7, 4, 309, half);
        QTest::newRow("13 in 9") << 13 << 9 << cells(9, 3, 236, third);
    }
    void gridFills()
    {
        QFETCH(int, n);
        QFETCH(int, grid);
        QFETCH(QList<QRect>, cells);
        VideoMain wall;
        wall.setFixedSize(1300, 900);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        QVector<VideoWidget *> tiles;
        for (int i = 0; i < n; ++i)
            tiles << new VideoWidget(&wall, false);
        tiles[0]->show(); // shown and free tiles alike keep their cells
        if (n > 9)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("tiles past it stay hidden"));
        wall.FillVideoMian(tiles);
        QCOMPARE(wall.widgetNum(), n);
        QCOMPARE(wall.gridCount(), grid);
        auto *layout = qobject_cast<QGridLayout *>(wall.layout());
        QVERIFY(layout);
        const int rows = grid == 9 ? 3 : grid == 1 ? 1 : 2;
        const int cols = grid == 1 ? 1 : grid == 4 ? 2 : grid == 8 ? 4 : 3;
        for (int i = 0; i < n; ++i) {
            VideoWidget *t = tiles[i];
            QVERIFY(t->renderWindow() != 0);
            if (i >= cells.size()) { // no cell: out of the grid and hidden
                QVERIFY(!wall.placed(t));
                QVERIFY(t->isHidden());
                continue;
            }
            QVERIFY(wall.placed(t));
            int row, col, rs, cs;
            layout->getItemPosition(layout->indexOf(t), &row, &col, &rs, &cs);
            QCOMPARE(QRect(row, col, t->width(), t->height()), cells[i]);
            // In its cell, as the separator lines draw them: centred across,
            // the first row at the top, the last at the bottom.
            const QRect g = t->geometry();
            const int cellW = 1300 / cols;
            QVERIFY2(qAbs(g.center().x() - (col * cellW + cellW / 2)) <= 2,
                     qPrintable(QStringLiteral("tile %1 at %2").arg(i).arg(g.x())));
            if (row == 0)
                QCOMPARE(g.top(), 0);
            if (row == rows - 1)
                QCOMPARE(g.bottom(), 899);
            for (int j = 0; j < i; ++j)
                QVERIFY2(!g.intersects(tiles[j]->geometry()),
                         qPrintable(QStringLiteral("tiles %1 and %2 overlap").arg(j).arg(i)));
        }
    }

    void tileFullScreen()
    {
        VideoMain grid;
        grid.setFixedSize(1300, 900);
        QVector<VideoWidget *> tiles;
        for (int i = 0; i < 9; ++i)
            tiles << new VideoWidget(&grid, i == 0);
        grid.FillVideoMian(tiles);
        QSignalSpy normal(tiles[0], &VideoWidget::PullWidgetShownormal);
        tiles[0]->fullScreenVideo(9);
        QCOMPARE(tiles[0]->size(), QSize(590, 897));
        QVERIFY(tiles[0]->isFullScreenTile());
        tiles[0]->fullScreenVideo(9);
        QCOMPARE(tiles[0]->size(), QSize(236, 299));
        QCOMPARE(normal.size(), 1);
        tiles[4]->fullScreenVideo(9);
        QCOMPARE(tiles[4]->size(), QSize(590, 894));
    }

    void tileDoubleClicks()
    {
        VideoContainer *c = VideoContainer::instance();
        QSignalSpy full(c, &VideoContainer::videofullscreenEventSignal);
        QWidget host;
        host.resize(400, 400);
        auto *wall = new VideoWidget(&host, false);
        wall->setUrl("rtmp://127.0.0.1/live/a");
        auto *push = new VideoWidget(&host, false);
        push->setWallTile(false);
        push->setSwap(true);
        QSignalSpy swap(push, &VideoWidget::SwitchPushPull);
        host.show();
        wall->show();
        push->show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QTest::mouseDClick(wall, Qt::RightButton);
        QCOMPARE(full.size(), 0);
        QTest::mouseDClick(wall, Qt::LeftButton);
        QCOMPARE(full.size(), 1);
        QCOMPARE(full.first().at(0).toString(), QStringLiteral("rtmp://127.0.0.1/live/a"));
        QTest::mouseDClick(push, Qt::LeftButton);
        QCOMPARE(swap.size(), 1);
        QCOMPARE(full.size(), 1);
    }

    void barsAndPicker()
    {
        VideoContainer *c = VideoContainer::instance();
        QSignalSpy size(c, &VideoContainer::videosizeeventSignal);
        QSignalSpy voice(c, &VideoContainer::videovoiceEventSignal);
        widgetTop top;
        QCOMPARE(top.barHeight(), wide() ? 28 : 18);
        QCOMPARE(top.height(), top.barHeight());
        top.setUrl("u1");
        top.slience->click();
        QCOMPARE(voice.takeFirst().at(0).toString(), QStringLiteral("u1"));
        top.setName(QString(200, 'n'), 300);
        QVERIFY(top.name().endsWith(QChar(0x2026)));
        QVERIFY(top.nameLabel->fontMetrics().horizontalAdvance(top.name()) <= 180);
        top.setMuteIcon(true);
        QCOMPARE(top.slience->width(), int(38 * wallScale()));

        widgetBottom bottom;
        bottom.setUrl("u2");
        bottom.resize(84, 115);
        pushcombox *p = bottom.picker();
        bottom.show();
        QCOMPARE(p->geometry(), QRect(0, 83, 84, 32));
        p->click();
        QVERIFY(p->popup()->isVisible());
        QCOMPARE(p->popup()->geometry(), QRect(0, 0, 84, 78));
        QCOMPARE(p->popup()->geometry().bottom() + 1 + 5, p->y());
        p->click();
        QVERIFY(!p->popup()->isVisible());
        p->click();
        p->list()->setCurrentRow(2);
        p->on_clicked();
        QCOMPARE(size.takeFirst(), (QList<QVariant>{"240p", "u2"}));
        QVERIFY(!p->popup()->isVisible());
        p->list()->setCurrentRow(1);
        p->on_clicked();
        QCOMPARE(size.takeFirst(), (QList<QVariant>{"360p", "u2"}));
        p->fillItems("720p");
        QCOMPARE(p->shownText(), TableData::instance()->high);

        // New labels keep the shown quality under its new name.
        p->list()->setCurrentRow(2);
        p->on_clicked();
        TableData::instance()->fluent = QStringLiteral("smooth");
        p->ChangeComBoxTableData();
        QCOMPARE(p->shownText(), QStringLiteral("smooth"));
        QCOMPARE(p->list()->item(2)->text(), QStringLiteral("smooth"));
        TableData::instance()->fluent = QString::fromUtf8("\u6d41\u7545");
    }

    void singleCallWindow_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shown");
        QTest::newRow("missing") << QString() << QString::fromUtf8("\u89c6\u9891\u5355\u547c");
        QTest::newRow("empty") << QStringLiteral("") << QString();
        QTest::newRow("set") << QStringLiteral("Call") << QStringLiteral("Call");
    }
    void singleCallWindow()
    {
        QFETCH(QString, title);
        QFETCH(QString, shown);
        FakeHost host;
        QWidget main;
        auto *w = new videosignalmain(&main, &host, title);
        w->buildLayout();
        QCOMPARE(w->windowTitle(), shown);
        QCOMPARE(w->size(), wide() ? QSize(450, 800) : QSize(300, 533));
        QCOMPARE(w->pushTile->geometry(),
                 wide() ? QRect(288, 0, 162, 125) : QRect(192, 0, 108, 83));
        QVERIFY(w->pushTile->renderWindow() != w->pullTile->renderWindow());
        w->show();
        w->nameOverlay->setUserName("far");
        w->nameOverlay->show();
        w->close();
        QCOMPARE(host.stops, 1);
        QVERIFY(!w->nameOverlay->isVisible());
        QCOMPARE(w->nameOverlay->userName(), QStringLiteral(" "));
        delete w;
    }

    void informationWindow()
    {
        QWidget main;
        main.setGeometry(100, 100, 1000, 700);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        QPointer<VideoInformation> info = new VideoInformation(nullptr, &main);
        QCOMPARE(info->size(), QSize(500, 450));
        QCOMPARE(info->surface()->geometry(), QRect(90, 30, 320, 420));
        QSignalSpy mute(info.data(), &VideoInformation::videoInformationmuteEvent);
        QSignalSpy closing(info.data(), &VideoInformation::videoInformationCloseEvent);
        info->show();
        QVERIFY(QTest::qWaitForWindowExposed(info));
        info->topBar()->videoSlice->click();
        QCOMPARE(mute.takeFirst().at(0).toBool(), false);
        QVERIFY(info->topBar()->videoSlice->styleSheet().contains("audio_on.png"));

        info->topBar()->videofullscreen->click();
        QCOMPARE(info->size(), QSize(1000, 700));
        info->topBar()->videofullscreen->click();
        QCOMPARE(info->size(), QSize(500, 450));
        QCOMPARE(info->surface()->geometry(), QRect(89, 30, 323, 420));
        QCOMPARE(info->topBar()->size(), QSize(500, 40));

        // A drag that starts below the band does not move the window.
        const QPoint before = info->pos();
        QTest::mousePress(info, Qt::LeftButton, {}, QPoint(100, 60));
        QMouseEvent move(QEvent::MouseMove, QPoint(150, 90), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(info, &move);
        QCOMPARE(info->pos(), before);

        info->closeButton()->click();
        QCOMPARE(closing.size(), 1);
        info->close(); // deletes itself
        QTRY_VERIFY_WITH_TIMEOUT(info.isNull(), 15000);
    }

    void toastAndLanguage()
    {
        Toast toast;
        toast.showText("first");
        QVERIFY(toast.isVisible());
        QCOMPARE(toast.height(), 52);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(toast.pos(),
                 QPoint((screen.width() - toast.width()) / 2, screen.height() * 7 / 10));
        QTRY_VERIFY_WITH_TIMEOUT(!toast.isVisible(), 5000);
        toast.showText(QString(400, 'w'));
        QVERIFY(toast.x() < 0);

        QTranslator translator;
        QCOMPARE(applyLanguage("CN", nullptr, &translator), 1);
        QCOMPARE(LanguageControl::instance()->language(), 1);
        QCOMPARE(applyLanguage("zh", nullptr, &translator), 1);
        QCOMPARE(applyLanguage("cn", nullptr, &translator), 0);
        QCOMPARE(LanguageControl::instance()->language(), 0);
        QCOMPARE(webActionTexts().size(), 25);
    }
};

QTEST_MAIN(WallTest)
#include "wall_test.moc"
