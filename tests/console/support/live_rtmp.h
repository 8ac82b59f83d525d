#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// Real RTMP peers for the console's live tests: nginx with its RTMP module
// and its statistics page, run from a temporary prefix on 127.0.0.1, and
// ffmpeg publishing solid colours. Every process is ended by this object.
class LiveRtmp
{
  public:
    LiveRtmp();
    ~LiveRtmp();

    bool start();
    QString url(const QString &stream) const;
    // Publishes a 320x240 picture of one colour ("red", "0x00ff00", ...).
    bool publish(const QString &stream, const QString &colour);

    struct Client {
        QString stream;
        bool publishing = false;
        QString address;
    };
    // The clients nginx lists on its statistics page.
    QList<Client> clients() const;
    int count(const QString &stream, bool publishing) const;
    QString log() const;

  private:
    QTemporaryDir m_dir;
    int m_rtmpPort = 0;
    int m_httpPort = 0;
    std::unique_ptr<QProcess> m_nginx;
    QList<QProcess *> m_publishers;
};
