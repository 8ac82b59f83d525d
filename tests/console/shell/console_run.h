// The console program run as a dispatcher runs it, for end-to-end tests: its
// own X server (Xvfb, 1920x1080), the test push-to-talk server in this
// process, the test page from a loopback web server, and tarvex in a folder
// of its own with custom.ini, config.ini and the account on its command line.
#pragma once

#include "ptt_server.h"
#include "web_support.h"

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <sys/types.h>

namespace webtest
{

// Under a sanitizer real time means nothing: the limits hold in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double k_time_scale = 10.0;
#else
constexpr double k_time_scale = 1.0;
#endif

// One X server for one test: Xvfb names its display through -displayfd, so
// parallel tests never race for a display number.
class Xvfb
{
  public:
    Xvfb();
    ~Xvfb();
    bool ok() const
    {
        return !m_display.isEmpty();
    }
    QString display() const
    {
        return m_display;
    }
    // Grabs the screen with ffmpeg's x11grab into path (PNG).
    bool screenshot(const QString &path) const;
    // Sends the top-level window titled title a close request (as a window
    // manager's close button does). False when no such window exists.
    bool closeWindow(const QString &title) const;

  private:
    pid_t m_pid = -1;
    QString m_display;
};

// One page call as the page recorded it: console.warn("call NAME [args]").
struct PageCall {
    QString name;
    QString args; // the JSON array text
};

class ConsoleRun
{
  public:
    static constexpr const char *TITLE = "Tarvex end to end";

    ConsoleRun();
    ~ConsoleRun();

    bool start(const QStringList &args = {QStringLiteral("dispatcher"),
                                          QStringLiteral("dispatcher-pw")});
    // Before start: more config.ini text, and the program to run (tarvex
    // from the build when empty).
    void setExtraConfig(const QString &text)
    {
        m_extraConfig = text;
    }
    void setProgram(const QString &path)
    {
        m_program = path;
    }
    // Before start: the page's query (for example "drive=1", which makes the
    // test page take button presses from press()).
    void setPageQuery(const QString &query)
    {
        m_pageQuery = query;
    }
    // Before start: the configured address's path on the page's server
    // ("/dispatcher.html" by default), and one more environment variable.
    void setPagePath(const QString &path)
    {
        m_pagePath = path;
    }
    void setEnv(const QString &name, const QString &value)
    {
        m_extraEnv.insert(name, value);
    }
    // The configured page address (after start).
    QUrl pageUrl() const
    {
        return m_pageUrl;
    }
    // The page's own web server, to serve more files beside the page.
    HttpServer &http()
    {
        return m_http;
    }
    // Forgets the presses given so far: a page loaded anew (which starts
    // counting again) does not repeat them.
    void clearDrive();
    // Before start, in sanitizer builds: report the program's leaks at its
    // end (by default leaks are not checked in it), with the given
    // suppressions file. A leak report leaves the exit status alone: the
    // system libraries built without frame pointers leave blocks whose
    // stacks name nothing to suppress, so a test judges the report with
    // ownLeaks().
    void setLeakCheck(const QString &suppressions)
    {
        m_leakSuppressions = suppressions;
    }
    // The leak reports in the program's error output that name a file of
    // this source tree: leaks of our own code.
    QStringList ownLeaks() const;
    // Has the driven page press a button once ("login", "join", "talk" with
    // how "down" or "up"...).
    void press(const QString &button, const QString &how = QString());
    // Runs the program once more in the same folder and display, to its end.
    bool runAgain(const QStringList &args, QByteArray *err, int *code, qint64 *ms);
    ptt::test::PttServer &server()
    {
        return *m_server;
    }
    Xvfb &x()
    {
        return m_x;
    }
    QProcess &process()
    {
        return m_process;
    }
    QString folder() const
    {
        return m_folder;
    }
    QString qtlog() const;
    QList<PageCall> calls() const;
    // The recorded calls of one name, oldest first.
    QList<PageCall> calls(const QString &name) const;
    // Waits (running this process's loop) until qtlog.txt holds text.
    bool waitLog(const QString &text, int ms = 60000) const;
    // Waits until the page recorded a call of name; returns how many.
    int waitCall(const QString &name, int count = 1, int ms = 30000) const;
    // Waits for the program to end; true when it did within ms.
    bool waitExit(int ms);

  private:
    Xvfb m_x;
    std::unique_ptr<ptt::test::PttServer> m_server;
    HttpServer m_http;
    QProcess m_process;
    QString m_folder;
    QString m_extraConfig;
    QString m_program;
    QString m_pageQuery;
    QString m_pagePath = QStringLiteral("/dispatcher.html");
    QUrl m_pageUrl;
    QProcessEnvironment m_extraEnv;
    QString m_leakSuppressions;
    QByteArray m_drive;
    int m_presses = 0;
    QProcessEnvironment m_env;
};

} // namespace webtest
