// Shared by the web-engine tests: the process is set up before any test
// (own storage folders, no sandbox as root, offscreen unless told otherwise,
// the crash handler installed before the application object as tarvex does),
// a loopback HTTP server and an event-loop wait.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <functional>
#include <utility>
#include <vector>

namespace webtest
{

// Serves fixed bodies by path on 127.0.0.1; unknown paths get 404.
class HttpServer : public QTcpServer
{
  public:
    HttpServer();
    void serve(const QString &path, const QByteArray &body,
               const QByteArray &type = "text/html; charset=utf-8", const QByteArray &extra = {});
    // Answers path with "302 Found" to location.
    void redirect(const QString &path, const QUrl &location);
    QUrl url(const QString &path, const QString &host = QStringLiteral("127.0.0.1")) const;
    int requests(const QString &path) const
    {
        return m_requests.value(path);
    }

  private:
    struct Entry {
        QByteArray body, type, extra;
        QByteArray status = "200 OK";
    };
    QHash<QString, Entry> m_pages;
    QHash<QString, int> m_requests;
};

// Runs the event loop until pred holds or ms pass.
bool spin_until(const std::function<bool()> &pred, int ms = 20000);
// Lets the event loop run for ms (for "nothing happens" checks).
void spin_for(int ms);
// The folder the test process runs in.
QString work_dir();
// Replaces config.ini in the current folder with these keys (GB2312, as the
// console keeps it) and drops the console's own store, so the next window
// reads the file afresh.
void write_config(const std::vector<std::pair<QString, QString>> &values);

} // namespace webtest
