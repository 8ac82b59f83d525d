#include "console_run.h"

#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace webtest
{

Xvfb::Xvfb()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        close(fds[0]);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1920x1080x24",
               "-nolisten", "tcp", "-noreset", (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    if (m_pid < 0) {
        close(fds[0]);
        return;
    }
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (!number.empty())
        m_display = QStringLiteral(":") + QString::fromStdString(number);
}

Xvfb::~Xvfb()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status;
        waitpid(m_pid, &status, 0);
    }
}

bool Xvfb::screenshot(const QString &path) const
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                  QStringLiteral("-f"), QStringLiteral("x11grab"), QStringLiteral("-video_size"),
                  QStringLiteral("1920x1080"), QStringLiteral("-i"), m_display,
                  QStringLiteral("-frames:v"), QStringLiteral("1"), path});
    return ffmpeg.waitForFinished(30000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0 && QFile::exists(path);
}

namespace
{

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), nullptr);
    xcb_atom_t a = r != nullptr ? r->atom : (xcb_atom_t)XCB_ATOM_NONE;
    free(r);
    return a;
}

QString window_name(xcb_connection_t *c, xcb_window_t w, xcb_atom_t utf8, xcb_atom_t net_name)
{
    xcb_get_property_reply_t *r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, net_name, utf8, 0, 1024), nullptr);
    QString name;
    if (r != nullptr && xcb_get_property_value_length(r) > 0)
        name = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(r)),
                                 xcb_get_property_value_length(r));
    free(r);
    return name;
}

} // namespace

bool Xvfb::closeWindow(const QString &title) const
{
    xcb_connection_t *c = xcb_connect(m_display.toLatin1().constData(), nullptr);
    if (c == nullptr || xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t utf8 = atom(c, "UTF8_STRING");
    const xcb_atom_t net_name = atom(c, "_NET_WM_NAME");
    const xcb_atom_t protocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t del = atom(c, "WM_DELETE_WINDOW");
    bool sent = false;
    xcb_query_tree_reply_t *tree =
        xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr);
    if (tree != nullptr) {
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !sent; i++) {
            if (window_name(c, children[i], utf8, net_name) != title)
                continue;
            xcb_client_message_event_t ev;
            memset(&ev, 0, sizeof(ev));
            ev.response_type = XCB_CLIENT_MESSAGE;
            ev.format = 32;
            ev.window = children[i];
            ev.type = protocols;
            ev.data.data32[0] = del;
            ev.data.data32[1] = XCB_CURRENT_TIME;
            xcb_send_event(c, 0, children[i], XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char *>(&ev));
            sent = true;
        }
        free(tree);
    }
    xcb_flush(c);
    xcb_disconnect(c);
    return sent;
}

ConsoleRun::ConsoleRun()
{
    m_folder = work_dir() + QStringLiteral("/console");
    QDir().mkpath(m_folder);
    // Also the runtime folder, which Qt wants private.
    QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile page(
        QString::fromStdString(ptt::test::source_path("tests/fixtures/console/dispatcher.html")));
    if (page.open(QIODevice::ReadOnly))
        m_http.serve(QStringLiteral("/dispatcher.html"), page.readAll());
    m_server = std::make_unique<ptt::test::PttServer>();
}

ConsoleRun::~ConsoleRun()
{
    // A program that crashed or failed says why in its error output.
    if (m_process.state() == QProcess::NotRunning &&
        (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)) {
        QFile err(m_folder + QStringLiteral("/tarvex.err"));
        if (err.open(QIODevice::ReadOnly))
            fprintf(stderr, "tarvex.err:\n%s\n", err.readAll().right(6000).constData());
    }
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    m_server->stop();
}

bool ConsoleRun::start(const QStringList &args)
{
    if (!m_x.ok() || !m_server->start())
        return false;
    const std::string dir = m_folder.toStdString();
    // Another run's log in a reused folder must not answer this run's waits.
    QFile::remove(m_folder + QStringLiteral("/qtlog.txt"));
    ptt::test::write_file(dir + "/custom.ini", "[network]\ndns = " + m_server->dns_entry() + "\n");
    QUrl pageUrl = m_http.url(m_pagePath);
    pageUrl.setQuery(m_pageQuery);
    m_pageUrl = pageUrl;
    const QString config =
        QStringLiteral("[Qt]\nqtlog=1\n%3\n[QT]\ntitle=%1\n\n[network]\nurl=%2\n")
            .arg(QLatin1String(TITLE), pageUrl.toString(), m_extraConfig);
    ptt::test::write_file(dir + "/config.ini", config.toStdString());
    QFile::link(QString::fromStdString(ptt::test::run_path("pinyin.code")),
                m_folder + QStringLiteral("/pinyin.code"));
    QFile::copy(QString::fromStdString(ptt::test::run_path("py.res")),
                m_folder + QStringLiteral("/py.res"));
    // As an installer leaves them, readable by everyone: no password in
    // them yet.
    const auto shared = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QFile::setPermissions(m_folder + QStringLiteral("/custom.ini"), shared);
    QFile::setPermissions(m_folder + QStringLiteral("/config.ini"), shared);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_x.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("LIRKO_AUDIO"), QStringLiteral("null"));
    env.insert(QStringLiteral("HOME"), m_folder);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_folder);
    env.remove(QStringLiteral("QT_QUICK_BACKEND"));
    // No desktop session here: keep Qt off the accessibility bus.
    env.insert(QStringLiteral("QT_ACCESSIBILITY"), QStringLiteral("0"));
    env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
#if defined(__SANITIZE_ADDRESS__)
    // Memory errors end the program; leaks are not checked in it: a plugin
    // that Qt unloads at exit leaves blocks no suppression can name.
    if (m_leakSuppressions.isEmpty()) {
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    } else {
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) +
                       QStringLiteral(":detect_leaks=1:abort_on_error=0:exitcode=0"));
        env.insert(QStringLiteral("LSAN_OPTIONS"),
                   QStringLiteral("suppressions=") + m_leakSuppressions);
    }
#endif
    if (geteuid() == 0)
        env.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    for (const QString &name : m_extraEnv.keys())
        env.insert(name, m_extraEnv.value(name));
    m_env = env;
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_folder);
    m_process.setStandardOutputFile(m_folder + QStringLiteral("/tarvex.out"));
    m_process.setStandardErrorFile(m_folder + QStringLiteral("/tarvex.err"));
    if (m_program.isEmpty())
        m_program = QString::fromStdString(ptt::test::run_path("tarvex"));
    m_process.start(m_program, args);
    return m_process.waitForStarted(10000);
}

bool ConsoleRun::runAgain(const QStringList &args, QByteArray *err, int *code, qint64 *ms)
{
    QProcess again;
    again.setProcessEnvironment(m_env);
    again.setWorkingDirectory(m_folder);
    QElapsedTimer t;
    again.start(m_program, args);
    if (!again.waitForStarted(10000))
        return false;
    t.start();
    const bool ended = again.waitForFinished(20000);
    *ms = t.elapsed();
    *err = again.readAllStandardError();
    *code = again.exitStatus() == QProcess::NormalExit ? again.exitCode() : -1;
    return ended;
}

void ConsoleRun::press(const QString &button, const QString &how)
{
    m_drive += QString(QStringLiteral("%1 %2 %3\n")).arg(++m_presses).arg(button, how).toUtf8();
    m_http.serve(QStringLiteral("/drive"), m_drive, "text/plain; charset=utf-8",
                 "Cache-Control: no-store\r\n");
}

void ConsoleRun::clearDrive()
{
    m_drive.clear();
    m_http.serve(QStringLiteral("/drive"), m_drive, "text/plain; charset=utf-8",
                 "Cache-Control: no-store\r\n");
}

QList<PageCall> ConsoleRun::calls(const QString &name) const
{
    QList<PageCall> out;
    for (const PageCall &c : calls())
        if (c.name == name)
            out.append(c);
    return out;
}

QString ConsoleRun::qtlog() const
{
    QFile f(m_folder + QStringLiteral("/qtlog.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QList<PageCall> ConsoleRun::calls() const
{
    // Records are "<prefix> <time>\t <message>\n\t": a message is the text up
    // to the record's end, line breaks included.
    QList<PageCall> out;
    static const QRegularExpression re(
        QStringLiteral("\\[Warning\\]  \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\t call (\\S+) "
                       "(.*?)\\n\\t(?=\\[|\\s\\d{4}-|$)"),
        QRegularExpression::DotMatchesEverythingOption);
    auto it = re.globalMatch(qtlog());
    while (it.hasNext()) {
        auto m = it.next();
        out.append(PageCall{m.captured(1), m.captured(2)});
    }
    return out;
}

QStringList ConsoleRun::ownLeaks() const
{
    QFile err(m_folder + QStringLiteral("/tarvex.err"));
    if (!err.open(QIODevice::ReadOnly))
        return {};
    const QString root = QString::fromStdString(ptt::test::source_path(""));
    QStringList own;
    // A report is a "Direct leak" or "Indirect leak" line and its frames,
    // up to a blank line.
    const QStringList blocks = QString::fromUtf8(err.readAll()).split(QStringLiteral("\n\n"));
    for (const QString &block : blocks)
        if (block.contains(QStringLiteral(" leak of ")) && block.contains(root))
            own << block;
    return own;
}

bool ConsoleRun::waitLog(const QString &text, int ms) const
{
    return spin_until([&] { return qtlog().contains(text); }, ms);
}

int ConsoleRun::waitCall(const QString &name, int count, int ms) const
{
    int n = 0;
    spin_until(
        [&] {
            n = 0;
            for (const PageCall &c : calls())
                if (c.name == name)
                    n++;
            return n >= count;
        },
        ms);
    return n;
}

bool ConsoleRun::waitExit(int ms)
{
    return spin_until([&] { return m_process.state() == QProcess::NotRunning; }, ms);
}

} // namespace webtest
