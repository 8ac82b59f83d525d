// The main window on the real engine library and web engine (offscreen).
#include "lirko_win.h"
#include "mainwindow.h"
#include "shell_config.h"
#include "test_support.h"
#include "web_support.h"
#include "webview.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSettings>
#include <QTextCodec>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <gtest/gtest.h>
#include <memory>
#include <utility>

using webtest::spin_for;
using webtest::spin_until;
using webtest::write_config;

namespace
{

const QByteArray k_page = "<html><head><title>dispatcher</title></head><body>page</body></html>";

struct LoopRun {
    qint64 ms;
    int code; // 99: nothing quit it
};

// Runs the application's loop until it quits or ms pass.
LoopRun run_loop(int ms = 10000)
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

// The cache clean removes the web cache's own folder and nothing else: a
// path that is empty (an off-the-record profile), relative, or a folder the
// console lives in keeps its files.
TEST(MainWindowCache, CleanRemovesOnlyTheCacheFolder)
{
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("keep/sub")));
    const QString planted = cwd + QStringLiteral("/keep/sub/recording.amr");
    ASSERT_TRUE(ptt::test::write_file(planted.toStdString(), "x"));
    QWebEngineProfile off_the_record;
    ASSERT_TRUE(off_the_record.isOffTheRecord());
    const QStringList refused{off_the_record.cachePath(),
                              QString(),
                              QStringLiteral("keep"),
                              QStringLiteral("."),
                              cwd,
                              cwd + QStringLiteral("/"),
                              cwd + QStringLiteral("/keep/.."),
                              QFileInfo(cwd).path(),
                              QStringLiteral("/"),
                              QDir::homePath(),
                              QCoreApplication::applicationDirPath()};
    for (const QString &path : refused) {
        EXPECT_FALSE(mainwindow_cache_folder_removable(path)) << path.toStdString();
        EXPECT_FALSE(mainwindow_remove_cache_folder(path)) << path.toStdString();
        EXPECT_TRUE(QFile::exists(planted)) << path.toStdString();
    }
    // A folder of its own goes, with what is in it.
    const QString cache = cwd + QStringLiteral("/keep/sub");
    EXPECT_TRUE(mainwindow_remove_cache_folder(cache));
    EXPECT_FALSE(QFile::exists(planted));
    EXPECT_TRUE(QDir(cwd + QStringLiteral("/keep")).exists());
}

TEST(MainWindowValues, LogPriority)
{
    struct Case {
        const char *value; // null: missing
        int priority;
    } cases[] = {{nullptr, 8}, {"1", 2},   {"2", 2}, {"5", 5}, {"8", 8},
                 {"9", 8},     {"abc", 2}, {"", 2},  {"-3", 2}};
    for (const Case &c : cases)
        EXPECT_EQ(mainwindow_log_priority(c.value ? QString::fromLatin1(c.value) : QString()),
                  c.priority)
            << (c.value ? c.value : "(missing)");
}

TEST(MainWindowValues, TitleAndAddress)
{
    EXPECT_EQ(mainwindow_title(QString()), QStringLiteral("Tarvex Dispatch Console"));
    EXPECT_EQ(mainwindow_title(QStringLiteral("")), QStringLiteral(""));
    EXPECT_EQ(mainwindow_title(QStringLiteral("调度台")), QStringLiteral("调度台"));
    const QUrl builtin = mainwindow_page_url(QString());
    EXPECT_EQ(builtin.scheme(), QStringLiteral("http"));
    EXPECT_EQ(builtin.port(), 6262);
    EXPECT_EQ(builtin.path(), QStringLiteral("/Zorevuviri_ZI"));
    EXPECT_EQ(mainwindow_page_url(QStringLiteral("https://d.example:1/x")),
              QUrl(QStringLiteral("https://d.example:1/x")));
}

class MainWin : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        server.serve(QStringLiteral("/disp"), k_page);
        QFile::remove(QStringLiteral("DevizaDuvuvi.exe"));
    }
    void TearDown() override
    {
        window.reset();
        shell_config_release();
    }
    void make_window(const QString &title = QStringLiteral("调度台"))
    {
        std::vector<std::pair<QString, QString>> values = {
            {QStringLiteral("/network/url"), server.url(QStringLiteral("/disp")).toString()}};
        if (!title.isNull())
            values.push_back({QStringLiteral("/QT/title"), title});
        write_config(values);
        window = std::make_unique<MainWindow>();
        window->show();
    }
    bool page_loaded()
    {
        return window->webView() != nullptr && window->webView()->title() == "dispatcher";
    }

    webtest::HttpServer server;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWin, LoadsTheConfiguredPageWithTheChannel)
{
    make_window();
    EXPECT_EQ(MainWindow::instance(), window.get());
    EXPECT_TRUE(window->engineLoaded());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("调度台"));
    ASSERT_NE(window->webView(), nullptr);
    EXPECT_NE(window->webView()->page()->webChannel(), nullptr);
    EXPECT_TRUE(spin_until([&] { return page_loaded(); }));
    EXPECT_GT(MainWindow::desktopScale(), 0.0f);
    window.reset();
    EXPECT_EQ(MainWindow::instance(), nullptr);
}

TEST_F(MainWin, EmptyTitleStaysEmptyAndMissingTitleGivesTheDefault)
{
    make_window(QStringLiteral(""));
    EXPECT_EQ(window->windowTitle(), QString());
    window.reset();
    make_window(QString());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tarvex Dispatch Console"));
}

TEST_F(MainWin, MissingAddressLoadsTheBuiltInOne)
{
    write_config({});
    window = std::make_unique<MainWindow>();
    ASSERT_NE(window->webView(), nullptr);
    EXPECT_TRUE(spin_until([&] { return !window->webView()->url().isEmpty(); }));
    EXPECT_EQ(window->webView()->url(), QUrl(QString::fromLatin1(MAINWINDOW_DEFAULT_URL)));
}

// An engine loaded already makes the window's load fail: no view, and
// closing quits at once.
TEST_F(MainWin, FailedEngineLoadLeavesAWindowWithoutViewThatQuitsAtOnce)
{
    ASSERT_EQ(lirko_win_on_load(QDir::currentPath().toUtf8().constData()), 0);
    make_window();
    EXPECT_FALSE(window->engineLoaded());
    EXPECT_EQ(window->webView(), nullptr);
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    const LoopRun run = run_loop();
    EXPECT_EQ(run.code, 0);
    EXPECT_LT(run.ms, 1500);
    window.reset();
    lirko_win_on_unload();
}

TEST_F(MainWin, CloseWaitsTwoSecondsThenQuits)
{
    make_window();
    ASSERT_TRUE(spin_until([&] { return page_loaded(); }));
    bool up_at_1800 = false;
    QTimer::singleShot(0, window.get(), [this] { window->close(); });
    QTimer::singleShot(1800, window.get(),
                       [&] { up_at_1800 = window->isVisible() && window->closing(); });
    const LoopRun run = run_loop();
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(up_at_1800);
    // Qt's coarse timers may fire up to 5 % early.
    EXPECT_GE(run.ms, 1800);
    // Well past the two seconds: a loaded machine delays the quit timer, and
    // a window that never quits is caught all the same.
    EXPECT_LT(run.ms, 10000);
}

TEST_F(MainWin, ShowScreenTypes)
{
    make_window();
    struct Step {
        int type;
        Qt::WindowState state;
    } steps[] = {{2, Qt::WindowMinimized}, {2, Qt::WindowMinimized}, {3, Qt::WindowNoState},
                 {1, Qt::WindowMaximized}, {1, Qt::WindowMaximized}, {7, Qt::WindowNoState},
                 {2, Qt::WindowMinimized}, {3, Qt::WindowNoState}};
    for (const Step &s : steps) {
        window->SetShowScreen(s.type);
        spin_for(20);
        EXPECT_EQ(window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized), s.state)
            << "type " << s.type;
    }
}

// The updater comes from the working directory only, never from PATH.
TEST_F(MainWin, UpdaterFromTheWorkingDirectoryQuitsAfterHalfASecond)
{
    make_window();
    const QString path_dir = webtest::work_dir() + QStringLiteral("/bin");
    QDir().mkpath(path_dir);
    const QByteArray script = "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/ran.txt\"\n";
    {
        QFile f(path_dir + QStringLiteral("/DevizaDuvuvi.exe"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(script);
    }
    QFile::setPermissions(path_dir + QStringLiteral("/DevizaDuvuvi.exe"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("PATH", path_dir.toUtf8() + ":" + qgetenv("PATH"));

    QTimer::singleShot(0, window.get(), [this] { window->onQtUpdate(QStringLiteral("v2.1")); });
    LoopRun run = run_loop(1500);
    EXPECT_EQ(run.code, 99) << "an updater found along PATH was started";
    EXPECT_FALSE(QFile::exists(path_dir + QStringLiteral("/ran.txt")));

    ASSERT_TRUE(QFile::copy(path_dir + QStringLiteral("/DevizaDuvuvi.exe"),
                            QStringLiteral("DevizaDuvuvi.exe")));
    QTimer::singleShot(0, window.get(), [this] { window->onQtUpdate(QStringLiteral("v2.1")); });
    run = run_loop(5000);
    EXPECT_EQ(run.code, 0);
    EXPECT_GE(run.ms, 450);
    EXPECT_TRUE(spin_until([] { return QFile::exists(QStringLiteral("ran.txt")); }, 5000));
    QFile ran(QStringLiteral("ran.txt"));
    ASSERT_TRUE(ran.open(QIODevice::ReadOnly));
    EXPECT_EQ(ran.readAll(), QByteArray("v2.1\n"));
}

TEST_F(MainWin, CleanRemovesTheCacheFolder)
{
    make_window();
    ASSERT_TRUE(spin_until([&] { return page_loaded(); }));
    const QString cache = window->webView()->page()->profile()->cachePath();
    QDir().mkpath(cache);
    // The web engine may make the folder again at any time: a file of ours
    // inside it shows that it went.
    const QString marker = cache + QStringLiteral("/marker");
    ASSERT_TRUE(ptt::test::write_file(marker.toStdString(), "x"));
    QMetaObject::invokeMethod(window.get(), "clean");
    EXPECT_FALSE(QFile::exists(marker));
}

// Rows 1 to 5, the web view's own, on a real window: a renderer crash reloads
// the page, the page's full-screen request switches the window to full
// screen and back (maximised), its permission request is answered twice and
// granted, and its download is saved where the window's save dialog says.
TEST_F(MainWin, WebViewRows)
{
    const QByteArray page =
        "<html><head><title>rows</title></head><body>"
        "<button id=\"full\" onclick=\"document.documentElement.requestFullscreen()\">"
        "full</button></body></html>";
    server.serve(QStringLiteral("/rows"), page);
    server.serve(QStringLiteral("/file.txt"), "the file's text", "text/plain",
                 "Content-Disposition: attachment; filename=\"file.txt\"\r\n");
    write_config(
        {{QStringLiteral("/network/url"), server.url(QStringLiteral("/rows")).toString()}});
    window = std::make_unique<MainWindow>();
    window->show();
    ASSERT_NE(window->webView(), nullptr);
    QWebEnginePage *p = window->webView()->page();
    auto js = [p](const QString &script) {
        auto answer = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
        p->runJavaScript(script, [answer](const QVariant &r) {
            answer->second = r;
            answer->first = true;
        });
        EXPECT_TRUE(spin_until([&] { return answer->first; })) << script.toStdString();
        return answer->second;
    };
    auto loaded = [&] { return js(QStringLiteral("document.readyState")) == "complete"; };
    ASSERT_TRUE(spin_until([&] { return window->webView()->title() == "rows" && loaded(); }));

    // 1: the page comes again from the server on the next turn of the loop.
    js(QStringLiteral("window.before = 1; true"));
    emit window->webView()->renderProcessTerminated(QWebEnginePage::CrashedTerminationStatus, 1);
    EXPECT_TRUE(spin_until([&] { return server.requests(QStringLiteral("/rows")) == 2; }));
    EXPECT_TRUE(spin_until([&] { return loaded() && js("typeof window.before") == "undefined"; }));

    // 2: a key press on the focused button is the user's gesture the request needs.
    window->activateWindow();
    js(QStringLiteral("document.getElementById('full').focus(); true"));
    QWidget *input = window->webView()->focusProxy();
    ASSERT_NE(input, nullptr);
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent key(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QCoreApplication::sendEvent(input, &key);
    }
    EXPECT_TRUE(spin_until([&] { return window->isFullScreen(); }));
    js(QStringLiteral("document.exitFullscreen(); true"));
    EXPECT_TRUE(spin_until([&] { return window->isMaximized() && !window->isFullScreen(); }));

    // 3 and 4: the configured page's request, answered by both rows.
    QStringList answers;
    {
        static QStringList *s_answers = nullptr;
        s_answers = &answers;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
                if (s_answers != nullptr && text.contains(QLatin1String("permission")))
                    s_answers->append(text);
            });
        js(QStringLiteral("window.perm = ''; Notification.requestPermission()"
                          ".then(function (r) { window.perm = r; }); true"));
        EXPECT_TRUE(spin_until([&] { return js(QStringLiteral("window.perm")) == "granted"; }));
        qInstallMessageHandler(previous);
        s_answers = nullptr;
    }
    EXPECT_EQ(answers.filter(QStringLiteral("granted")).size(), 2)
        << answers.join('\n').toStdString();

    // 5: the window's own save dialog, with its caption.
    QList<QWidget *> parents;
    QStringList captions;
    const QString saved = webtest::work_dir() + QStringLiteral("/row5.txt");
    webhost_set_save_asker([&](QWidget *parent, const QString &caption, const QString &) {
        parents.append(parent);
        captions.append(caption);
        return saved;
    });
    js(QStringLiteral("var a = document.createElement('a'); a.href = '/file.txt'; "
                      "document.body.appendChild(a); a.click(); true"));
    EXPECT_TRUE(spin_until([&] {
        QFile f(saved);
        return f.open(QIODevice::ReadOnly) && f.readAll() == "the file's text";
    }));
    webhost_set_save_asker(nullptr);
    ASSERT_EQ(parents.size(), 1);
    EXPECT_EQ(parents[0], window.get());
    EXPECT_EQ(captions[0], QString::fromUtf8("\u53e6\u5b58\u4e3a"));
}

// Pop-ups go with the window that hosts their opener.
TEST_F(MainWin, DestructionClosesThePopups)
{
    make_window();
    ASSERT_TRUE(spin_until([&] { return page_loaded(); }));
    window->webView()->page()->runJavaScript(
        QStringLiteral("window.open('/disp', 'p', 'width=300,height=200,left=10,top=10')"));
    ASSERT_TRUE(spin_until([] { return Webpopupwindow::openWindows().size() == 1; }));
    window.reset();
    EXPECT_TRUE(Webpopupwindow::openWindows().isEmpty());
    spin_for(200);
}

} // namespace
