#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpServer>

// A scripted HTTP/1.1 server on 127.0.0.1 for the console's transfer tests.
// Each path answers with a fixed response; every request is recorded.
class TestHttpServer : public QObject
{
    Q_OBJECT
  public:
    struct Response {
        int status = 200;
        QList<QPair<QByteArray, QByteArray>> headers;
        QList<QByteArray> chunks; // sent one by one, some milliseconds apart
        bool chunked = false;     // Transfer-Encoding: chunked, else Content-Length
        bool reset = false;       // send the first chunk, then reset the connection
        int delayMs = 30;         // pause before each chunk
    };
    struct Request {
        QByteArray method;
        QByteArray path;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    TestHttpServer();
    ~TestHttpServer() override;
    quint16 port() const;
    QString url(const QString &path) const;

    void route(const QByteArray &path, const Response &response);
    static Response ok(const QByteArray &body);

    const QList<Request> &requests() const;
    int count(const QByteArray &path) const;

  private:
    void onConnection();
    void serve(class QTcpSocket *socket);
    void respond(QTcpSocket *socket, const Response &r, bool head);

    QTcpServer m_server;
    QHash<QByteArray, Response> m_routes;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
