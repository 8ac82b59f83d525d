// The page object's video requests reach the wall, and the wall's endings
// reach the page as statements.
#include "../wall/fake_vistrel.h"
#include "customconfig.h"
#include "jscontext.h"
#include "language_control.h"
#include "lirko_standin.h"
#include "table_data.h"
#include "toast.h"
#include "video_container.h"
#include "wall_dispatch.h"

#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

class WallDispatchTest : public QObject
{
    Q_OBJECT
  private slots:
    void pageRequestsReachTheWall()
    {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        QStringList statements;
        JsContext::setStatementObserver([&](const QString &s) { statements << s; });
        QWidget window;
        JsContext js;
        FakeVistrel av;
        JsWallPage page(&js, nullptr);
        VideoWall wall(&window, VideoContainer::instance(), &page, &av);
        wall.connectContainer();
        QTranslator translator;
        connect_wall_rows(&window, &js, &wall, nullptr, &translator);

        js.startUpvideo(1, 2, 3, 4);
        QCOMPARE(wall.entries().size(), 1);
        QVERIFY(statements.last().startsWith("OnGetUrllistX(\"1\")"));
        js.stoppullstream("[]");
        QVERIFY(wall.entries().isEmpty());
        js.startpullstream(4, "[{\"url\":\"rtmp://h/a\"}]", 0, 0, 0, 0);
        QCOMPARE(wall.entries().size(), 4);
        QCOMPARE(wall.entries()[0]->url, QStringLiteral("rtmp://h/a"));
        // The list was taken: the next request carries only its own URLs.
        js.stoppullstream("[]");
        js.startpullstream(4, "[{\"url\":\"rtmp://h/b\"}]", 0, 0, 0, 0);
        QCOMPARE(wall.entries()[0]->url, QStringLiteral("rtmp://h/b"));

        js.startpullstreamindex("rtmp://h/x", false, "Ann", "360p");
        js.stoppullstreamindex("rtmp://h/x");
        QVERIFY(statements.last().startsWith("closeStrongPullX"));
        QVERIFY(statements.last().contains("rtmp://h/x"));

        js.showTips("hello");
        QCOMPARE(VideoContainer::instance()->m_toast->text(), QStringLiteral("hello"));
        js.setlanguage("en");
        QCOMPARE(LanguageControl::instance()->language(), 1);
        js.Settabeldata("{\"video_back\":\"Back\",\"video_single\":\"One call\","
                        "\"video_MultiScreen\":\"Multi\"}");
        QCOMPARE(VideoContainer::instance()->windowTitle(), QStringLiteral("Back"));
        QCOMPARE(CustomConfig::getInstance()->getValue("/videosingle/titel"),
                 QStringLiteral("One call"));

        js.startvideoinformation("rtmp://h/i", "t", 1, 2, 3, 255);
        QVERIFY(wall.videoInformation());
        js.stopvideoinformation();
        QVERIFY(!wall.videoInformation());
        QVERIFY(statements.last().startsWith("videoinformationstopX"));

        js.closevideocontainer(); // logout closes the wall
        QVERIFY(wall.entries().isEmpty());
        QVERIFY(statements.last().startsWith("closevideocontainerX"));
        JsContext::setStatementObserver(nullptr);
        delete VideoContainer::instance();
    }
};

QTEST_MAIN(WallDispatchTest)
#include "wall_dispatch_test.moc"
