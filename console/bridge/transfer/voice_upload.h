#pragma once

#include "path_chooser.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>

class QNetworkAccessManager;

// Sends the console's own voice recording to a web server as a multipart
// form, and lets the page pick a local file. One upload at a time.
class VoiceUpload : public QObject
{
    Q_OBJECT
  public:
    // The manager and the chooser are not owned and must outlive this object.
    VoiceUpload(QNetworkAccessManager *nam, PathChooser *chooser, QObject *parent = nullptr);
    ~VoiceUpload() override;

    // Posts the form: "msg" (the recording's length in milliseconds, as kept
    // when the recording stopped), one part per member of the JSON object in
    // key order, then the file. 0 when the request went out; -1 when there is
    // no recording, its file does not open, or an upload is still running.
    int SendpRecordAudio(const QString &url, const QString &json, const QString &recordedPath,
                         qint64 lengthMs);
    // The chosen path, or "NULL".
    QString SelectFile(const QString &select);

    // The file part's file name for a recorded file, or empty for none.
    static QString uploadFileName(const QString &recordedPath);

  public slots:
    void onUploadFinished();
    void OnUploadError(QNetworkReply::NetworkError code);

  signals:
    void SendHttpUploadSignal(QString msg, int error);

  private:
    bool fromHeldReply() const;
    void release();

    QNetworkAccessManager *m_nam;
    PathChooser *m_chooser;
    QPointer<QNetworkReply> m_reply;
};
