#include "web_support.h"

#include "crash_handler.h"
#include "sanitizer_options.h"
#include "shell_config.h"
#include "test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTcpSocket>
#include <QTextCodec>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace webtest
{

namespace
{
ptt::test::TempCwd *g_cwd = nullptr;
}

HttpServer::HttpServer()
{
    listen(QHostAddress::LocalHost, 0);
    connect(this, &QTcpServer::newConnection, this, [this]() {
        while (QTcpSocket *s = nextPendingConnection()) {
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QTcpSocket::readyRead, this, [this, s]() {
                const QByteArray head = s->property("buf").toByteArray() + s->readAll();
                if (!head.contains("\r\n\r\n")) {
                    s->setProperty("buf", head);
                    return;
                }
                s->setProperty("buf", QByteArray());
                const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
                const QString path =
                    words.size() > 1 ? QUrl(QString::fromLatin1(words[1])).path() : QString();
                m_requests[path]++;
                QByteArray reply;
                if (m_pages.contains(path)) {
                    const Entry &e = m_pages[path];
                    reply = "HTTP/1.1 " + e.status + "\r\nContent-Type: " + e.type +
                            "\r\nContent-Length: " + QByteArray::number(e.body.size()) + "\r\n" +
                            e.extra + "Connection: close\r\n\r\n" + e.body;
                } else {
                    reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: "
                            "close\r\n\r\n";
                }
                s->write(reply);
                s->disconnectFromHost();
            });
        }
    });
}

void HttpServer::serve(const QString &path, const QByteArray &body, const QByteArray &type,
                       const QByteArray &extra)
{
    m_pages[path] = Entry{body, type, extra};
}

void HttpServer::redirect(const QString &path, const QUrl &location)
{
    Entry e{QByteArray(), "text/plain", "Location: " + location.toEncoded() + "\r\n"};
    e.status = "302 Found";
    m_pages[path] = e;
}

QUrl HttpServer::url(const QString &path, const QString &host) const
{
    QUrl u;
    u.setScheme(QStringLiteral("http"));
    u.setHost(host);
    u.setPort(serverPort());
    u.setPath(path);
    return u;
}

bool spin_until(const std::function<bool()> &pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void spin_for(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
}

QString work_dir()
{
    return g_cwd ? QString::fromStdString(g_cwd->path()) : QString();
}

void write_config(const std::vector<std::pair<QString, QString>> &values)
{
    shell_config_release();
    QSettings s(QStringLiteral("config.ini"), QSettings::IniFormat);
    s.setIniCodec(QTextCodec::codecForName("GB2312"));
    s.clear();
    for (const auto &kv : values)
        s.setValue(kv.first, kv.second);
}

} // namespace webtest

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no application.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    auto cwd = std::make_unique<ptt::test::TempCwd>();
    webtest::g_cwd = cwd.get();
    const QByteArray dir = QByteArray::fromStdString(cwd->path());
    // Each test process keeps its own profile, cache and runtime folders.
    qputenv("HOME", dir);
    qputenv("XDG_DATA_HOME", dir + "/data");
    qputenv("XDG_CACHE_HOME", dir + "/cache");
    qputenv("XDG_CONFIG_HOME", dir + "/config");
    qputenv("XDG_RUNTIME_DIR", dir);
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    // No sound card in test runs.
    if (qEnvironmentVariableIsEmpty("LIRKO_AUDIO"))
        qputenv("LIRKO_AUDIO", "null");
    (void)CrashHandler::instance()->init(QString::fromLatin1(dir));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int rc;
    {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    webtest::g_cwd = nullptr;
    return rc;
}
