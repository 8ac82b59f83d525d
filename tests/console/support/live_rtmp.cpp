#include "live_rtmp.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QXmlStreamReader>

namespace
{

int freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

bool canConnect(int port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, quint16(port));
    return s.waitForConnected(200);
}

void end(QProcess *p)
{
    if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
    }
}

} // namespace

LiveRtmp::LiveRtmp() = default;

LiveRtmp::~LiveRtmp()
{
    for (QProcess *p : qAsConst(m_publishers)) {
        end(p);
        delete p;
    }
    if (m_nginx)
        end(m_nginx.get());
}

bool LiveRtmp::start()
{
    if (!m_dir.isValid())
        return false;
    m_rtmpPort = freePort();
    m_httpPort = freePort();
    const QString dir = m_dir.path();
    m_nginx = std::make_unique<QProcess>();
    m_nginx->setProcessChannelMode(QProcess::MergedChannels);
    m_nginx->setStandardOutputFile(dir + "/nginx.log");
    m_nginx->start("bash", {QStringLiteral(PTT_RTMP_SERVER_SCRIPT), dir,
                            QString::number(m_rtmpPort), QString::number(m_httpPort)});
    if (!m_nginx->waitForStarted(5000))
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000) {
        if (canConnect(m_rtmpPort) && canConnect(m_httpPort))
            return true;
        if (m_nginx->state() == QProcess::NotRunning)
            return false;
        QThread::msleep(50);
    }
    return false;
}

QString LiveRtmp::url(const QString &stream) const
{
    return QStringLiteral("rtmp://127.0.0.1:%1/live/%2").arg(m_rtmpPort).arg(stream);
}

bool LiveRtmp::publish(const QString &stream, const QString &colour)
{
    auto *p = new QProcess;
    m_publishers << p;
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->setStandardOutputFile(m_dir.path() + "/ffmpeg-" + stream + ".log");
    p->start("ffmpeg",
             {"-hide_banner", "-loglevel",   "warning", "-re",
              "-f",           "lavfi",       "-i",      "color=c=" + colour + ":s=320x240:r=25",
              "-c:v",         "libx264",     "-preset", "ultrafast",
              "-tune",        "zerolatency", "-g",      "25",
              "-pix_fmt",     "yuv420p",     "-f",      "flv",
              url(stream)});
    if (!p->waitForStarted(5000))
        return false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 15000) {
        if (count(stream, true) == 1)
            return true;
        if (p->state() == QProcess::NotRunning)
            return false;
        QThread::msleep(100);
    }
    return false;
}

QList<LiveRtmp::Client> LiveRtmp::clients() const
{
    QList<Client> out;
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, quint16(m_httpPort));
    if (!s.waitForConnected(2000))
        return out;
    s.write("GET /stat HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray reply;
    while (s.waitForReadyRead(2000))
        reply += s.readAll();
    reply += s.readAll();
    const int body = reply.indexOf("\r\n\r\n");
    QXmlStreamReader xml(reply.mid(body < 0 ? 0 : body + 4));
    QString stream;
    Client client;
    bool inClient = false;
    int depth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            ++depth;
            if (xml.name() == QLatin1String("stream")) {
                stream.clear();
            } else if (xml.name() == QLatin1String("name") && !inClient) {
                const QString text = xml.readElementText();
                --depth;
                stream = text;
            } else if (xml.name() == QLatin1String("client")) {
                inClient = true;
                client = Client();
                client.stream = stream;
            } else if (inClient && xml.name() == QLatin1String("publishing")) {
                client.publishing = true;
            } else if (inClient && xml.name() == QLatin1String("address")) {
                client.address = xml.readElementText();
                --depth;
            }
        } else if (xml.isEndElement()) {
            --depth;
            if (xml.name() == QLatin1String("client") && inClient) {
                inClient = false;
                out << client;
            }
        }
    }
    return out;
}

int LiveRtmp::count(const QString &stream, bool publishing) const
{
    int n = 0;
    for (const Client &c : clients())
        n += c.stream == stream && c.publishing == publishing ? 1 : 0;
    return n;
}

QString LiveRtmp::log() const
{
    QFile f(m_dir.path() + "/nginx.log");
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}
