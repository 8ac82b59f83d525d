#pragma once

#include "path_chooser.h"
#include "transfer_args.h"
#include "transfer_engine.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QNetworkAccessManager;

// A list of recordings fetched one after the other into ~/Documents, decoded
// to WAV and packed into one zip archive the dispatcher names. One run at a
// time; a single download stays allowed between two items.
//
// The handler slots are page-callable on the page object, so each one acts
// only when it is signalled by what it belongs to (the held reply, or this
// object's own DownloadNextSignal during a run).
class BulkDownload : public QObject
{
    Q_OBJECT
  public:
    // The manager and the chooser are not owned and must outlive this object.
    BulkDownload(QNetworkAccessManager *nam, PathChooser *chooser, TransferEngine engine,
                 QObject *parent = nullptr);
    ~BulkDownload() override;

    int DownLoadBulk(const QString &json);
    // Appends the request's items; -1 (nothing appended) for text that is not
    // a non-empty JSON array, or a name that is not a plain file name.
    int parsejsonUrl(const QString &json);
    // A page asking for one item outside a run is refused: items belong to a
    // run, which owns the index, the names and the archive.
    int DownloadEx(const QString &url, const QString &fileName, const QString &outfileName);

    bool running() const;
    const QVector<DownloadBulkItem> &items() const;
    // A name usable inside the working folder: no folder part, not "." or "..".
    static bool isPlainName(const QString &name);

  public slots:
    void onDownExReadyRead();
    void onDownExFinished();
    void onDownExError(QNetworkReply::NetworkError code);
    void onDownloadNext(const QString &url);

  signals:
    void DownloadNextSignal(QString url);
    void DownloadBulkEnd(QString meg);
    void SendHttpDownloadSignal(QString msg, int error);

  private:
    bool fromHeldReply() const;
    int fetch(int index);
    void release();
    void finishRun();
    void failRun();

    QNetworkAccessManager *m_nam;
    PathChooser *m_chooser;
    TransferEngine m_engine;
    QVector<DownloadBulkItem> m_items;
    QStringList m_converted;
    int m_index = 0;
    int m_count = 0;
    QString m_folder;
    QString m_archive;
    QPointer<QNetworkReply> m_down_extend_reply;
    bool m_running = false;
    bool m_chunkLost = false;
};
