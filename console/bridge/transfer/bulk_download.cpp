#include "bulk_download.h"

#include "single_download.h"
#include "transfer_flag.h"
#include "wav_file.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <quazip/JlCompress.h>

namespace
{

void removeIfExists(const QString &path)
{
    if (QFile::exists(path))
        QFile::remove(path);
}

} // namespace

BulkDownload::BulkDownload(QNetworkAccessManager *nam, PathChooser *chooser, TransferEngine engine,
                           QObject *parent)
    : QObject(parent), m_nam(nam), m_chooser(chooser), m_engine(std::move(engine))
{
    // Made once for the object's life: a run that ends early leaves nothing
    // connected twice behind it.
    connect(this, &BulkDownload::DownloadNextSignal, this, &BulkDownload::onDownloadNext);
}

BulkDownload::~BulkDownload()
{
    release();
}

bool BulkDownload::running() const
{
    return m_running;
}

const QVector<DownloadBulkItem> &BulkDownload::items() const
{
    return m_items;
}

bool BulkDownload::isPlainName(const QString &name)
{
    return transfer::isPlainName(name);
}

bool BulkDownload::fromHeldReply() const
{
    return m_down_extend_reply && sender() == m_down_extend_reply.data();
}

void BulkDownload::release()
{
    if (m_down_extend_reply) {
        m_down_extend_reply->disconnect(this);
        m_down_extend_reply->deleteLater();
    }
    m_down_extend_reply = nullptr;
}

int BulkDownload::DownLoadBulk(const QString &json)
{
    if (!transfer::mayStart() || m_running) {
        qDebug() << "BulkDownload::DownLoadBulk: DownLoadBulk bad status " << transfer::flag()
                 << m_running;
        return -1;
    }
    transfer::setFlag(transfer::FlagStarted);
    if (json.isEmpty()) {
        transfer::setFlag(transfer::FlagIdle);
        qDebug() << "BulkDownload::DownLoadBulk: DownLoadBulk  jsonurl is null";
        return -1;
    }
    m_items.clear();
    m_converted.clear();
    if (parsejsonUrl(json) == -1) {
        qDebug() << "BulkDownload::DownLoadBulk: parsejsonUrl parse faild";
        transfer::setFlag(transfer::FlagIdle);
        m_items.clear();
        return -1;
    }
    const QString archive = m_chooser->saveFileName(
        QString::fromUtf8("\u53e6\u5b58\u4e3a"),
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")),
        QStringLiteral("*.zip"));
    if (archive.isEmpty()) {
        transfer::setFlag(transfer::FlagIdle);
        qDebug() << "BulkDownload::DownLoadBulk: select file path cancel " << archive;
        return -1;
    }
    m_archive = archive;
    m_folder = SingleDownload::documentsFolder();
    QDir().mkpath(m_folder);
    m_index = 0;
    m_count = m_items.size();
    m_running = true;
    const int rc = fetch(0);
    transfer::setFlag(rc == 0 ? transfer::FlagRunning : transfer::FlagIdle);
    m_running = rc == 0;
    return rc;
}

int BulkDownload::parsejsonUrl(const QString &json)
{
    if (m_running)
        return -1;
    QVector<DownloadBulkItem> parsed;
    if (!transfer::parseBulkItems(json, &parsed))
        return -1;
    m_items += parsed;
    return 0;
}

int BulkDownload::DownloadEx(const QString &url, const QString &fileName,
                             const QString &outfileName)
{
    qDebug() << "BulkDownload::DownloadEx: refused outside a bulk run" << url << fileName
             << outfileName;
    return -1;
}

int BulkDownload::fetch(int index)
{
    const DownloadBulkItem &item = m_items.at(index);
    if (item.fileName.isNull())
        return -1;
    // The item's data is appended to its file in the working folder: a stale
    // file of that name would keep its old content in front.
    removeIfExists(m_folder + item.fileName);
    qDebug() << "BulkDownload::DownloadEx: Download:  url :" << item.fileName << item.url;
    release();
    m_chunkLost = false;
    QNetworkReply *reply = m_nam->get(QNetworkRequest(QUrl(item.url)));
    m_down_extend_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &BulkDownload::onDownExReadyRead);
    connect(reply, &QNetworkReply::finished, this, &BulkDownload::onDownExFinished);
    connect(reply, &QNetworkReply::errorOccurred, this, &BulkDownload::onDownExError);
    return 0;
}

void BulkDownload::onDownExReadyRead()
{
    if (!fromHeldReply()) {
        qDebug() << "BulkDownload::onDownExReadyRead: m_down_extend_reply is null";
        return;
    }
    const QByteArray bytes = m_down_extend_reply->readAll();
    const QString path = m_folder + m_items.at(m_index).fileName;
    QFile file(path);
    qint64 written = -1;
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        written = file.write(bytes);
        file.close();
    }
    if (written != bytes.size())
        m_chunkLost = true;
    qDebug() << "BulkDownload::onDownExReadyRead: run onDownExReadyRead  " << bytes.size()
             << "write " << written << path;
}

void BulkDownload::onDownExFinished()
{
    if (!fromHeldReply())
        return;
    transfer::setFlag(transfer::FlagEnded);
    qDebug() << "BulkDownload::onDownExFinished: onDownExFinished ok";
    if (m_down_extend_reply->error() != QNetworkReply::NoError) {
        release();
        return;
    }
    const DownloadBulkItem &item = m_items.at(m_index);
    const QString wav = m_folder + item.outfileName;
    const QString input = m_folder + item.fileName;
    const QString pcm =
        m_folder + item.fileName.left(item.fileName.size() - 4) + QStringLiteral(".pcm");
    bool ok = !m_chunkLost && m_engine.codedToPcm(input, pcm) != -1;
    if (ok)
        ok = pcmToWav(pcm, wav) >= 0;
    removeIfExists(pcm);
    removeIfExists(input);
    release();
    transfer::setFlag(transfer::FlagEnded);
    if (ok) {
        m_converted.append(wav);
    } else {
        qDebug() << "BulkDownload::onDownExFinished: Trans From evrc/amr to pcm fail index : "
                    "Total: "
                 << m_index << m_count;
    }
    ++m_index;
    qDebug() << "BulkDownload::onDownExFinished: ok index : Total: " << m_index << m_count - 1;
    if (m_index > m_count - 1) {
        finishRun();
        return;
    }
    emit DownloadNextSignal(m_items.at(m_index).url);
}

void BulkDownload::finishRun()
{
    m_running = false;
    transfer::setFlag(transfer::FlagIdle);
    // What converted is packed even when the last item failed; a run that
    // converted nothing, or whose archive could not be written, is an error.
    bool ok = false;
    if (!m_converted.isEmpty()) {
        for (const QString &p : qAsConst(m_converted))
            qDebug() << "BulkDownload::finishRun:" << p;
        ok = JlCompress::compressFiles(m_archive, m_converted);
        qDebug() << "BulkDownload::finishRun: DownLoad oever ret " << ok;
    }
    m_converted.clear();
    if (ok)
        emit DownloadBulkEnd(m_archive);
    else
        emit SendHttpDownloadSignal(QStringLiteral("Down Load error"), -1);
}

void BulkDownload::failRun()
{
    m_running = false;
    m_converted.clear();
    emit SendHttpDownloadSignal(QStringLiteral("Down Load error"), -1);
}

void BulkDownload::onDownloadNext(const QString &url)
{
    if (sender() != this || !m_running)
        return;
    qDebug() << "BulkDownload::onDownloadNext: onDownloadNext url: " << url;
    if (fetch(m_index) != 0) {
        transfer::setFlag(transfer::FlagIdle);
        failRun();
    }
}

void BulkDownload::onDownExError(QNetworkReply::NetworkError code)
{
    if (!fromHeldReply())
        return;
    qDebug() << "BulkDownload::onDownExError: onDownExError enter onError" << code
             << m_down_extend_reply->errorString();
    transfer::setFlag(transfer::FlagEnded);
    release();
    removeIfExists(m_folder + m_items.at(m_index).fileName);
    failRun();
}
