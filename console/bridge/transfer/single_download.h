#pragma once

#include "path_chooser.h"
#include "record_service.h"
#include "transfer_engine.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>

class QNetworkAccessManager;

// One file over HTTP at a time, on the GUI thread: a download the dispatcher
// saves where a dialog says (DownLoad), a recording played on the console's
// speaker (PlayAudioOnLine, PlayRecordOnLine) and a recording saved as WAV
// (RecordTranscode). They share the held reply, its target file and the
// receiving-started flag, and report through the three signals.
//
// The handler slots are page-callable on the page object, so each one acts
// only when it is signalled by the reply it holds; called any other way it
// does nothing.
class SingleDownload : public QObject
{
    Q_OBJECT
  public:
    // The manager and the chooser are not owned and must outlive this object.
    SingleDownload(QNetworkAccessManager *nam, PathChooser *chooser, TransferEngine engine,
                   QObject *parent = nullptr);
    ~SingleDownload() override;

    void setRecordService(const RecordService &service);
    const RecordService &recordService() const;

    int DownLoad(const QString &url, const QString &suffix);
    int PlayAudioOnLine(const QString &fileName, const QString &account, const QString &password);
    int PlayRecordOnLine(const QString &url, const QString &fileName, const QString &folder);
    int PlayRecordOnLineEx();
    int RecordTranscode(const QString &url, const QString &inputName, const QString &outputName);

    // The user's home folder + "/Documents/".
    static QString documentsFolder();
    // ".evrc", ".sevrc", ".amr" or ".samr" (case-sensitive) when the name ends so.
    static QString codedSuffix(const QString &name);

  public slots:
    void onReadyRead();
    void onDownFinished();
    void onError(QNetworkReply::NetworkError code);
    void onHeadFinished();
    void onPlayOnLineFinished();
    void onRTCHeadFinished();
    void onFinished();

  signals:
    void SendHttpDownStautsSignal(QString msg, int status);
    void SendHttpDownloadSignal(QString msg, int error);
    void PlayLocalFileStatus(int status);

  private:
    enum class Then { Save, Play, Transcode };
    bool fromHeldReply() const;
    void startGet(const QUrl &url, Then then);
    void hold(QNetworkReply *reply);
    void release();
    void endWithError(const QString &msg);

    QNetworkAccessManager *m_nam;
    PathChooser *m_chooser;
    TransferEngine m_engine;
    RecordService m_service;
    QPointer<QNetworkReply> m_reply;
    QString m_target;     // the file the held GET writes to
    QString m_url;        // remembered by RecordTranscode
    QString m_Wavoutfile; // chosen by RecordTranscode's dialog
    QString m_kind;       // suffix of the coded file RecordTranscode fetches
    bool m_receiving = false;
    bool m_chunkLost = false;
};
