#include "single_download.h"

#include "transfer_args.h"
#include "transfer_flag.h"
#include "wav_file.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace
{

QString saveCaption()
{
    return QString::fromUtf8("\u53e6\u5b58\u4e3a");
}

void removeIfExists(const QString &path)
{
    if (!path.isEmpty() && QFile::exists(path))
        QFile::remove(path);
}

} // namespace

SingleDownload::SingleDownload(QNetworkAccessManager *nam, PathChooser *chooser,
                               TransferEngine engine, QObject *parent)
    : QObject(parent), m_nam(nam), m_chooser(chooser), m_engine(std::move(engine))
{
}

SingleDownload::~SingleDownload()
{
    release();
}

void SingleDownload::setRecordService(const RecordService &service)
{
    m_service = service;
}

const RecordService &SingleDownload::recordService() const
{
    return m_service;
}

QString SingleDownload::documentsFolder()
{
    return QDir::homePath() + QStringLiteral("/Documents/");
}

QString SingleDownload::codedSuffix(const QString &name)
{
    return transfer::codedSuffix(name);
}

bool SingleDownload::fromHeldReply() const
{
    return m_reply && sender() == m_reply.data();
}

void SingleDownload::hold(QNetworkReply *reply)
{
    // A new request replaces the one held: its handlers go with it, so an
    // old reply can never drive the new one's handlers.
    release();
    m_reply = reply;
    m_chunkLost = false;
}

void SingleDownload::release()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
    }
    m_reply = nullptr;
}

void SingleDownload::startGet(const QUrl &url, Then then)
{
    QNetworkReply *reply = m_nam->get(QNetworkRequest(url));
    hold(reply);
    connect(reply, &QNetworkReply::readyRead, this, &SingleDownload::onReadyRead);
    switch (then) {
    case Then::Save:
        connect(reply, &QNetworkReply::finished, this, &SingleDownload::onDownFinished);
        break;
    case Then::Play:
        connect(reply, &QNetworkReply::finished, this, &SingleDownload::onPlayOnLineFinished);
        break;
    case Then::Transcode:
        connect(reply, &QNetworkReply::finished, this, &SingleDownload::onFinished);
        break;
    }
    connect(reply, &QNetworkReply::errorOccurred, this, &SingleDownload::onError);
}

void SingleDownload::endWithError(const QString &msg)
{
    transfer::setFlag(transfer::FlagEnded);
    m_receiving = false;
    emit SendHttpDownStautsSignal(QStringLiteral("Down Load complete"), transfer::FlagEnded);
    emit SendHttpDownloadSignal(msg, -1);
}

int SingleDownload::DownLoad(const QString &url, const QString &suffix)
{
    if (!transfer::mayStart()) {
        qDebug() << "SingleDownload::DownLoad: Downfile is runing, return -1";
        return -1;
    }
    const QString path = m_chooser->saveFileName(
        saveCaption(), QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")),
        QStringLiteral("*.") + suffix);
    transfer::setFlag(transfer::FlagStarted);
    emit SendHttpDownStautsSignal(QStringLiteral("start download"), transfer::FlagStarted);
    if (path.isEmpty()) {
        qDebug() << "SingleDownload::DownLoad: select file cacenl";
        transfer::setFlag(transfer::FlagIdle);
        m_receiving = false;
        emit SendHttpDownStautsSignal(QStringLiteral("download complete"), transfer::FlagIdle);
        emit SendHttpDownloadSignal(QStringLiteral("invalid Download"), 2);
        return 0;
    }
    m_target = path;
    removeIfExists(m_target);
    qDebug() << "SingleDownload::DownLoad: __________ok__________" << m_target;
    startGet(QUrl(url), Then::Save);
    return 0;
}

void SingleDownload::onReadyRead()
{
    if (!fromHeldReply())
        return;
    const QByteArray bytes = m_reply->readAll();
    if (!m_receiving) {
        transfer::setFlag(transfer::FlagRunning);
        emit SendHttpDownStautsSignal(QStringLiteral("Down Loading"), transfer::FlagRunning);
        m_receiving = true;
    }
    QFile file(m_target);
    qint64 written = -1;
    if (!m_target.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        written = file.write(bytes);
        file.close();
    }
    // A lost chunk spoils the file: the end of the transfer reports an error.
    if (written != bytes.size())
        m_chunkLost = true;
    qDebug() << "SingleDownload::onReadyRead: run onReadyRead  " << bytes.size() << "write "
             << written << m_target;
}

void SingleDownload::onDownFinished()
{
    if (!fromHeldReply())
        return;
    transfer::setFlag(transfer::FlagEnded);
    if (m_reply->error() != QNetworkReply::NoError) {
        qDebug() << "SingleDownload::onDownFinished: __________" << m_reply->errorString();
        release();
        return;
    }
    release();
    m_receiving = false;
    if (m_chunkLost) {
        removeIfExists(m_target);
        endWithError(QStringLiteral("Down Load error"));
        return;
    }
    emit SendHttpDownStautsSignal(QStringLiteral("Down Load complete"), transfer::FlagEnded);
    emit SendHttpDownloadSignal(QStringLiteral("Down load success"), 1);
}

void SingleDownload::onError(QNetworkReply::NetworkError code)
{
    if (!fromHeldReply())
        return;
    qDebug() << "SingleDownload::onError: onError error:" << code << m_reply->errorString();
    release();
    // What arrived before the failure is not the file that was asked for.
    removeIfExists(m_target);
    endWithError(QStringLiteral("Down Load error"));
}

void SingleDownload::onHeadFinished()
{
    // No request of the console is ever answered through this handler; the
    // page may still call it, which must not touch the held reply.
    if (!fromHeldReply())
        return;
    qDebug() << "SingleDownload::onHeadFinished: no HEAD request is routed here";
}

int SingleDownload::PlayAudioOnLine(const QString &fileName, const QString &account,
                                    const QString &password)
{
    if (fileName.isNull() || account.isNull() || password.isNull())
        return -1;
    const QString folder = documentsFolder();
    QNetworkRequest request(m_service.url());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray(RecordService::ContentType));
    QNetworkReply *reply = m_nam->post(request, m_service.requestBody(fileName, account, password));
    connect(reply, &QNetworkReply::finished, this, [this, reply, fileName, folder]() {
        const QString url = recordServiceDownloadPath(reply->readAll());
        qDebug() << "SingleDownload::PlayAudioOnLine: Rc_DownloadFilePath  " << url;
        reply->deleteLater();
        PlayRecordOnLine(url, fileName, folder);
    });
    return 0;
}

int SingleDownload::PlayRecordOnLine(const QString &url, const QString &fileName,
                                     const QString &folder)
{
    const QString dir = folder.isEmpty() ? documentsFolder() : folder;
    const QString kind = codedSuffix(fileName);
    if (kind.isEmpty()) {
        qDebug() << "SingleDownload::PlayRecordOnLine: Down load Suffix not evrc or amr, exit "
                    "down load";
        return -1;
    }
    QDir().mkpath(dir);
    const bool evrc = kind == QLatin1String(".evrc") || kind == QLatin1String(".sevrc");
    m_target =
        QDir(dir).filePath(evrc ? QStringLiteral("audio.evrc") : QStringLiteral("audio.amr"));
    qDebug() << "SingleDownload::PlayRecordOnLine:" << m_target;
    if (QFile::exists(m_target)) {
        qDebug() << "SingleDownload::PlayRecordOnLine: remove local file" << m_target;
        QFile::remove(m_target);
    }
    m_receiving = false;
    startGet(QUrl(url), Then::Play);
    transfer::setFlag(transfer::FlagStarted);
    return 0;
}

int SingleDownload::PlayRecordOnLineEx()
{
    return 0;
}

void SingleDownload::onPlayOnLineFinished()
{
    if (!fromHeldReply())
        return;
    transfer::setFlag(transfer::FlagEnded);
    m_receiving = false;
    qDebug() << "SingleDownload::onPlayOnLineFinished: ";
    if (m_reply->error() != QNetworkReply::NoError) {
        qDebug() << "SingleDownload::onPlayOnLineFinished: onPlayOnLineFinished error: "
                 << m_reply->errorString();
        release();
        return;
    }
    release();
    const int rc = m_chunkLost ? -1 : m_engine.playAudio(m_target);
    qDebug() << "JsContext::PlayLocalRecord" << rc << m_target;
    removeIfExists(m_target);
    if (rc == -1) {
        qDebug() << "SingleDownload::onPlayOnLineFinished: play local file " << m_target
                 << " faild";
        emit PlayLocalFileStatus(-1);
    }
}

int SingleDownload::RecordTranscode(const QString &url, const QString &inputName,
                                    const QString & /*outputName*/)
{
    if (codedSuffix(inputName).isEmpty()) {
        qDebug() << "SingleDownload::RecordTranscode: Down load Suffix not evrc or amr, exit "
                    "down load";
        return -1;
    }
    m_target.clear();
    m_url = url;
    QNetworkReply *reply = m_nam->head(QNetworkRequest(QUrl(url)));
    hold(reply);
    qDebug() << "SingleDownload::RecordTranscode: enter RecordTranscode DownLoad url:" << url;
    connect(reply, &QNetworkReply::finished, this, &SingleDownload::onRTCHeadFinished);
    connect(reply, &QNetworkReply::errorOccurred, this, &SingleDownload::onError);
    return 0;
}

void SingleDownload::onRTCHeadFinished()
{
    if (!fromHeldReply())
        return;
    QString name = m_url.mid(m_url.lastIndexOf(QLatin1Char('/')) + 1);
    qDebug() << "SingleDownload::onRTCHeadFinished: file name " << name;
    transfer::setFlag(transfer::FlagIdle);
    if (m_reply->error() != QNetworkReply::NoError) {
        qDebug() << "SingleDownload::onRTCHeadFinished: onRTCHeadFinished Download error: "
                 << m_reply->errorString();
        release();
        return;
    }
    const QByteArray header = m_reply->rawHeader("filename");
    if (!header.isEmpty())
        name = QString::fromUtf8(header);
    // Only the final suffix names the kind: "a.evrc.evrc" becomes "a.evrc.wav".
    m_kind = codedSuffix(name);
    QString wavName = name;
    if (m_kind.isEmpty())
        m_kind = QStringLiteral(".evrc");
    else
        wavName = name.left(name.size() - m_kind.size()) + QStringLiteral(".wav");
    release();

    QString chosen = m_chooser->saveFileName(saveCaption(), wavName, QStringLiteral("*.wav"));
    if (chosen.isEmpty()) {
        transfer::setFlag(transfer::FlagIdle);
        qDebug() << "SingleDownload::onRTCHeadFinished: select file cancel m_Wavoutfile";
        return;
    }
    if (!chosen.endsWith(QLatin1String(".wav")))
        chosen += QStringLiteral(".wav");
    m_Wavoutfile = chosen;
    m_target = chosen.left(chosen.size() - 4) + m_kind;
    removeIfExists(m_target);
    qDebug() << "SingleDownload::onRTCHeadFinished: " << m_target << m_Wavoutfile << name;
    m_receiving = false;
    startGet(QUrl(m_url), Then::Transcode);
}

void SingleDownload::onFinished()
{
    if (!fromHeldReply())
        return;
    transfer::setFlag(transfer::FlagEnded);
    if (m_reply->error() != QNetworkReply::NoError) {
        qDebug() << "SingleDownload::onFinished: onFinished error: " << m_reply->errorString();
        release();
        return;
    }
    release();
    const QString pcm = m_Wavoutfile.left(m_Wavoutfile.size() - 4) + QStringLiteral(".pcm");
    if (m_chunkLost) {
        removeIfExists(m_target);
        endWithError(QStringLiteral("Down Load error"));
        return;
    }
    const qint64 begin = QDateTime::currentMSecsSinceEpoch();
    qDebug() << "SingleDownload::onFinished: begin time " << begin << m_target << pcm;
    const int rc = m_engine.codedToPcm(m_target, pcm);
    qDebug() << "SingleDownload::onFinished: end time " << QDateTime::currentMSecsSinceEpoch()
             << "diff: " << QDateTime::currentMSecsSinceEpoch() - begin;
    qint64 wav = -1;
    if (rc != -1) {
        wav = pcmToWav(pcm, m_Wavoutfile);
        qDebug() << "SingleDownload::onFinished: PcmtoWav" << pcm << m_Wavoutfile << wav;
    }
    removeIfExists(pcm);
    removeIfExists(m_target);
    if (rc == -1) {
        qDebug() << "SingleDownload::onFinished: Trans From evrc/amr to pcm fail";
        endWithError(QStringLiteral("Trans From evrc/amr to pcm fail"));
        return;
    }
    if (wav < 0) {
        endWithError(QStringLiteral("Down Load error"));
        return;
    }
    m_receiving = false;
    emit SendHttpDownStautsSignal(QStringLiteral("Down Load complete"), transfer::FlagEnded);
    emit SendHttpDownloadSignal(QStringLiteral("Down load success"), 1);
}
