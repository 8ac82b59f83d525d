// The console against other local processes and other sites, end to end:
// tarvex on its own X server with the real engine and web engine, the test
// server and the test page. No debugging port unless asked for; no document
// of another origin reaches the native object; no password in a log or in a
// file others may read.
#include "console_run.h"
#include "test_support.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using webtest::ConsoleRun;
using webtest::HttpServer;
using webtest::k_time_scale;
using webtest::PageCall;
using webtest::spin_until;

namespace
{

// The process ids of pid and every process below it.
QSet<int> process_tree(int pid)
{
    QSet<int> tree{pid};
    bool grew = true;
    while (grew) {
        grew = false;
        const QStringList all = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString &name : all) {
            bool number = false;
            const int p = name.toInt(&number);
            if (!number || tree.contains(p))
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(p));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            // "pid (name) state ppid ...": the name may hold spaces.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (rest.size() > 1 && tree.contains(rest[1].toInt())) {
                tree.insert(p);
                grew = true;
            }
        }
    }
    return tree;
}

// The TCP ports pid or a process below it listens on.
QList<int> listening_ports(int pid)
{
    QSet<QString> sockets;
    for (int p : process_tree(pid)) {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(p);
        for (const QString &fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            // "socket:[inode]" for a socket.
            char buf[64];
            const ssize_t n = readlink(QFile::encodeName(fds + QLatin1Char('/') + fd).constData(),
                                       buf, sizeof(buf) - 1);
            if (n > 0)
                sockets.insert(QString::fromLatin1(buf, (int)n));
        }
    }
    QList<int> ports;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        (void)f.readLine(); // the header
        while (!f.atEnd()) {
            const QStringList cols =
                QString::fromLatin1(f.readLine()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (cols.size() < 10 || cols[3] != QLatin1String("0A")) // LISTEN
                continue;
            if (!sockets.contains(QStringLiteral("socket:[%1]").arg(cols[9])))
                continue;
            ports << cols[1].section(QLatin1Char(':'), -1).toInt(nullptr, 16);
        }
    }
    return ports;
}

int mode_of(const QString &path)
{
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 ? (int)(st.st_mode & 07777) : -1;
}

// Every log the console wrote in its folder (its own, the engine's and its
// output streams): the settings files and the web profile are not logs.
QStringList log_files(const QString &folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(folder).relativeFilePath(path);
        if (rel.startsWith(QLatin1Char('.')) || rel == QLatin1String("config.ini") ||
            rel == QLatin1String("custom.ini") || rel == QLatin1String("py.res") ||
            rel == QLatin1String("pinyin.code") || rel.startsWith(QLatin1String("tarvex-")))
            continue;
        out << path;
    }
    return out;
}

class ConsoleSecurity : public ::testing::Test
{
  protected:
    std::string tail() const
    {
        return run.qtlog().right(4000).toStdString();
    }

    int pageLoads() const
    {
        return run.qtlog().count(QStringLiteral("channel ready"));
    }

    // Waits until the page was told status s (the last status it got).
    bool waitStatus(const QString &s, int ms = 30000)
    {
        return spin_until(
            [&] {
                const QList<PageCall> st = run.calls(QStringLiteral("onOnlineStatusChangedX"));
                return !st.isEmpty() &&
                       QJsonDocument::fromJson(st.last().args.toUtf8()).array() == QJsonArray{s};
            },
            ms);
    }

    // Waits until the page of the other origin opened by via reported
    // whether it holds the transport; true when it reported and never held it.
    bool reportsNoTransport(const QString &via)
    {
        const QString none = QStringLiteral("/seen/%1/none").arg(via);
        const QString held = QStringLiteral("/seen/%1/transport").arg(via);
        const bool reported =
            spin_until([&] { return foreign.requests(none) + foreign.requests(held) > 0; }, 60000);
        EXPECT_TRUE(reported) << via.toStdString() << " never loaded\n" << tail();
        EXPECT_EQ(foreign.requests(held), 0) << via.toStdString() << " holds the transport";
        return reported && foreign.requests(held) == 0;
    }

    // The page of the other origin reached by via goes back to the configured
    // page, which must come up with its channel again.
    void comeBack(const QString &via)
    {
        const int loads = pageLoads();
        run.clearDrive();
        foreign.serve(QStringLiteral("/back/") + via, run.pageUrl().toEncoded(), "text/plain",
                      "Cache-Control: no-store\r\n");
        ASSERT_TRUE(spin_until([&] { return pageLoads() > loads; }, 60000))
            << via.toStdString() << "\n"
            << tail();
    }

    ConsoleRun run;
    HttpServer foreign; // another port of 127.0.0.1: another origin
};

// Started as the run command starts it, with the engine logging everything:
// no TCP port is open. Pages of another origin reached by the address, by a
// new window and by a link to a new tab, a frame and a pop-up find no
// transport; the configured page, loaded again, has its channel and logs in.
// The account calls leave no password in any log, and the settings files
// that now hold one are the owner's alone.
TEST_F(ConsoleSecurity, OnlyTheDispatcherPageReachesTheConsole)
{
    QFile foreignPage(
        QString::fromStdString(ptt::test::source_path("tests/fixtures/console/foreign.html")));
    ASSERT_TRUE(foreignPage.open(QIODevice::ReadOnly));
    foreign.serve(QStringLiteral("/foreign.html"), foreignPage.readAll());
    QFile script(
        QString::fromStdString(ptt::test::source_path("tests/fixtures/console/security.js")));
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    run.http().serve(QStringLiteral("/security.js"), script.readAll(),
                     "text/javascript; charset=utf-8");
    const QString away = QString::fromLatin1(
        QUrl::toPercentEncoding(foreign.url(QStringLiteral("/foreign.html")).toString()));
    run.setPageQuery(QStringLiteral("drive=1&extra=security.js&away=") + away);
    run.setExtraConfig(QStringLiteral("[QT]\nlog=2\n"));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitLog(QStringLiteral("channel ready"), 60000)) << tail();
    EXPECT_TRUE(run.qtlog().contains(QStringLiteral("log level  2"))) << tail();

    const QList<int> open = listening_ports((int)run.process().processId());
    EXPECT_TRUE(open.isEmpty()) << "listening on " << open.size() << " ports, first "
                                << (open.isEmpty() ? 0 : open.first());
    EXPECT_FALSE(run.qtlog().contains(QStringLiteral("remote debugging")));

    // Guards: a frame and a pop-up of another origin.
    run.press(QStringLiteral("frame"));
    EXPECT_TRUE(reportsNoTransport(QStringLiteral("frame")));
    run.press(QStringLiteral("popup"));
    EXPECT_TRUE(reportsNoTransport(QStringLiteral("popup")));

    for (const char *via : {"href", "open", "blank"}) {
        SCOPED_TRACE(via);
        run.clearDrive();
        run.press(QStringLiteral("away") + QLatin1String(via));
        EXPECT_TRUE(reportsNoTransport(QLatin1String(via)));
        ASSERT_NO_FATAL_FAILURE(comeBack(QLatin1String(via)));
        // Nor did the transport come later, before it left.
        EXPECT_EQ(foreign.requests(QStringLiteral("/seen/%1/transport").arg(QLatin1String(via))),
                  0);
        EXPECT_TRUE(run.qtlog().contains(QStringLiteral("navigation to another origin"))) << tail();
    }

    // The configured page, loaded anew, works the console.
    run.clearDrive();
    run.press(QStringLiteral("save"));
    ASSERT_EQ(run.waitCall(QStringLiteral("SaveAccount->")), 1) << tail();
    run.press(QStringLiteral("chpw"));
    ASSERT_EQ(run.waitCall(QStringLiteral("ChangePassword->")), 1) << tail();
    run.press(QStringLiteral("login"));
    ASSERT_TRUE(waitStatus(QStringLiteral("3"))) << tail();
    ASSERT_TRUE(spin_until(
        [&] {
            return mode_of(run.folder() + QStringLiteral("/custom.ini")) == 0600 &&
                   mode_of(run.folder() + QStringLiteral("/config.ini")) == 0600;
        },
        30000));

    for (const char *via : {"frame", "popup"})
        EXPECT_EQ(foreign.requests(QStringLiteral("/seen/%1/transport").arg(QLatin1String(via))), 0)
            << via;

    // The logs are complete once the program ended.
    bool asked = false;
    for (int i = 0; i < 20 && !asked; i++) {
        run.x().closeWindow(QLatin1String(ConsoleRun::TITLE));
        asked = run.waitLog(QStringLiteral("closeEvent"), 500);
    }
    ASSERT_TRUE(asked);
    ASSERT_TRUE(run.waitExit(30000 * k_time_scale));

    const QString folder = run.folder();
    EXPECT_EQ(mode_of(folder + QStringLiteral("/custom.ini")), 0600);
    EXPECT_EQ(mode_of(folder + QStringLiteral("/config.ini")), 0600);
    const QStringList logs = log_files(folder);
    QString all;
    for (const QString &path : logs) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
        const QByteArray text = f.readAll();
        EXPECT_FALSE(text.contains("dispatcher-pw")) << path.toStdString();
        all += QString::fromUtf8(text);
    }
    EXPECT_TRUE(logs.contains(folder + QStringLiteral("/kvptt.log")));
    // Each narrowing was logged, and the password's file holds it.
    EXPECT_TRUE(all.contains(QStringLiteral("custom.ini holds a password: mode 644 narrowed")));
    EXPECT_TRUE(all.contains(QStringLiteral("holds a password: mode 644 narrowed to 600")));
    EXPECT_TRUE(all.contains(QStringLiteral("SaveAccount")));
    EXPECT_TRUE(ptt::test::read_file((folder + QStringLiteral("/custom.ini")).toStdString())
                    .find("dispatcher-pw") != std::string::npos);
}

// Asked for through the environment, the web engine's debugging port opens
// and the log names it. The configured address redirected to another origin
// (as http to https) is the dispatcher's page still.
TEST_F(ConsoleSecurity, DebuggingOnlyWhenAskedAndTheConfiguredRedirectKeepsTheChannel)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();
    run.setEnv(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"),
               QStringLiteral("127.0.0.1:%1").arg(port));
    QFile page(
        QString::fromStdString(ptt::test::source_path("tests/fixtures/console/dispatcher.html")));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    foreign.serve(QStringLiteral("/dispatcher.html"), page.readAll());
    run.setPagePath(QStringLiteral("/start"));
    run.http().redirect(QStringLiteral("/start"), foreign.url(QStringLiteral("/dispatcher.html")));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitLog(QStringLiteral("channel ready"), 60000)) << tail();
    EXPECT_EQ(foreign.requests(QStringLiteral("/dispatcher.html")), 1);
    EXPECT_TRUE(
        run.qtlog().contains(QStringLiteral("remote debugging is on at 127.0.0.1:%1").arg(port)))
        << tail();
    EXPECT_TRUE(spin_until(
        [&] { return listening_ports((int)run.process().processId()).contains(port); }, 30000));
}

} // namespace
