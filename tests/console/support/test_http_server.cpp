#include "test_http_server.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

TestHttpServer::TestHttpServer()
{
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onConnection);
    if (!m_server.listen(QHostAddress::LocalHost, 0))
        qFatal("test http server: listen failed");
}

TestHttpServer::~TestHttpServer()
{
    // The sockets go first, while the tables their handlers touch still exist.
    m_server.close();
    const QList<QTcpSocket *> sockets = m_server.findChildren<QTcpSocket *>();
    for (QTcpSocket *s : sockets) {
        s->disconnect(this);
        delete s;
    }
}

quint16 TestHttpServer::port() const
{
    return m_server.serverPort();
}

QString TestHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void TestHttpServer::route(const QByteArray &path, const Response &response)
{
    m_routes.insert(path, response);
}

TestHttpServer::Response TestHttpServer::ok(const QByteArray &body)
{
    Response r;
    r.chunks = {body};
    return r;
}

const QList<TestHttpServer::Request> &TestHttpServer::requests() const
{
    return m_requests;
}

int TestHttpServer::count(const QByteArray &path) const
{
    int n = 0;
    for (const Request &r : m_requests)
        n += r.path == path ? 1 : 0;
    return n;
}

void TestHttpServer::onConnection()
{
    while (QTcpSocket *s = m_server.nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, this, [this, s]() { serve(s); });
        connect(s, &QTcpSocket::disconnected, this, [this, s]() {
            m_buffers.remove(s);
            s->deleteLater();
        });
    }
}

void TestHttpServer::serve(QTcpSocket *socket)
{
    QByteArray &buf = m_buffers[socket];
    buf += socket->readAll();
    for (;;) {
        const int end = buf.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request req;
        const QList<QByteArray> lines = buf.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        req.method = first.value(0);
        req.path = first.value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                req.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                   lines[i].mid(colon + 1).trimmed());
        }
        const int length = req.headers.value("content-length", "0").toInt();
        if (buf.size() < end + 4 + length)
            return;
        req.body = buf.mid(end + 4, length);
        buf.remove(0, end + 4 + length);
        m_requests.append(req);
        Response r;
        if (m_routes.contains(req.path))
            r = m_routes.value(req.path);
        else
            r = Response{404, {}, {"not here"}, false, false, 0};
        respond(socket, r, req.method == "HEAD");
    }
}

void TestHttpServer::respond(QTcpSocket *socket, const Response &r, bool head)
{
    QByteArray total;
    for (const QByteArray &c : r.chunks)
        total += c;
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(r.status) + (r.status == 200 ? " OK" : " Error") + "\r\n";
    for (const auto &h : r.headers)
        out += h.first + ": " + h.second + "\r\n";
    if (r.chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else
        out +=
            "Content-Length: " + QByteArray::number(total.size() + (r.reset ? 1000 : 0)) + "\r\n";
    out += "\r\n";
    socket->write(out);
    if (head)
        return;
    QPointer<QTcpSocket> s(socket);
    int delay = 0;
    for (int i = 0; i < r.chunks.size(); ++i) {
        delay += r.delayMs;
        const QByteArray c = r.chunks[i];
        const bool last = i == r.chunks.size() - 1;
        QTimer::singleShot(delay, this, [s, c, last, r]() {
            if (!s)
                return;
            s->write(r.chunked ? QByteArray::number(c.size(), 16) + "\r\n" + c + "\r\n" : c);
            if (last && r.chunked)
                s->write("0\r\n\r\n");
            s->flush();
            if (r.reset) {
                // Linger of zero: the close sends a reset, not an orderly end.
                struct linger lg = {1, 0};
                setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
                s->abort();
            }
        });
        if (r.reset)
            break;
    }
}
