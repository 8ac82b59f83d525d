#include "voice_upload.h"

#include "transfer_args.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

VoiceUpload::VoiceUpload(QNetworkAccessManager *nam, PathChooser *chooser, QObject *parent)
    : QObject(parent), m_nam(nam), m_chooser(chooser)
{
}

VoiceUpload::~VoiceUpload()
{
    release();
}

bool VoiceUpload::fromHeldReply() const
{
    return m_reply && sender() == m_reply.data();
}

void VoiceUpload::release()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
    }
    m_reply = nullptr;
}

QString VoiceUpload::uploadFileName(const QString &recordedPath)
{
    if (recordedPath.endsWith(QLatin1String("sevrc")))
        return QStringLiteral("record_audio.sevrc");
    if (recordedPath.endsWith(QLatin1String("evrc")))
        return QStringLiteral("record_audio.evrc");
    if (recordedPath.endsWith(QLatin1String("samr")))
        return QStringLiteral("record_audio.samr");
    if (recordedPath.endsWith(QLatin1String("amr")))
        return QStringLiteral("record_audio.amr");
    return QString();
}

int VoiceUpload::SendpRecordAudio(const QString &url, const QString &json,
                                  const QString &recordedPath, qint64 lengthMs)
{
    if (m_reply) {
        qDebug() << "VoiceUpload::SendpRecordAudio: an upload is still running";
        return -1;
    }
    if (recordedPath.isEmpty()) {
        qDebug() << "VoiceUpload::SendpRecordAudio: no recording to upload";
        return -1;
    }
    auto *file = new QFile(recordedPath);
    if (!file->open(QIODevice::ReadOnly)) {
        qDebug() << "VoiceUpload::SendpRecordAudio: cannot open" << recordedPath;
        delete file;
        return -1;
    }

    const QVector<transfer::FormField> fields = transfer::uploadFields(json);

    auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart msg;
    msg.setHeader(QNetworkRequest::ContentDispositionHeader,
                  QVariant(QStringLiteral("form-data; name=\"msg\"")));
    msg.setBody(QByteArray::number(lengthMs));
    form->append(msg);
    for (const transfer::FormField &field : fields) {
        QHttpPart part;
        part.setHeader(
            QNetworkRequest::ContentDispositionHeader,
            QVariant(QStringLiteral("form-data; name=\"") + field.name + QLatin1Char('"')));
        part.setBody(field.body);
        form->append(part);
    }
    QHttpPart filePart;
    const QString uploadName = uploadFileName(recordedPath);
    if (!uploadName.isEmpty()) {
        filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QVariant(QStringLiteral("form-data; name=\"file\";filename=\"") +
                                    uploadName + QLatin1Char('"')));
    }
    filePart.setHeader(QNetworkRequest::ContentTypeHeader, QVariant(QStringLiteral("image/jpeg")));
    filePart.setBodyDevice(file);
    file->setParent(form); // the file lives as long as the form
    form->append(filePart);

    QNetworkReply *reply = m_nam->post(QNetworkRequest(QUrl(url)), form);
    form->setParent(reply); // and the form as long as the reply
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this, &VoiceUpload::onUploadFinished);
    connect(reply, &QNetworkReply::errorOccurred, this, &VoiceUpload::OnUploadError);
    qDebug() << "VoiceUpload::SendpRecordAudio: StopRecordAudio upload file " << recordedPath;
    return 0;
}

void VoiceUpload::onUploadFinished()
{
    if (!fromHeldReply())
        return;
    qDebug() << "VoiceUpload::onUploadFinished: onUploadFinished";
    const bool failed = m_reply->error() != QNetworkReply::NoError;
    if (failed)
        qDebug() << "VoiceUpload::onUploadFinished: __________" << m_reply->errorString();
    release();
    if (!failed)
        emit SendHttpUploadSignal(QStringLiteral("Down load success"), 1);
}

void VoiceUpload::OnUploadError(QNetworkReply::NetworkError code)
{
    if (!fromHeldReply())
        return;
    const QString text = m_reply->errorString();
    qDebug() << "VoiceUpload::OnUploadError: OnUploadError" << code << text;
    release();
    emit SendHttpUploadSignal(text, -1);
}

QString VoiceUpload::SelectFile(const QString &select)
{
    if (select.isNull())
        return QStringLiteral("NULL");
    const QString path =
        m_chooser->openFileName(QString::fromUtf8("\u6253\u5f00"), QDir::currentPath(),
                                QStringLiteral("*.mp4;*.jpg;*.jpeg;*.png;*.amr;;*"));
    if (path.isEmpty())
        return QStringLiteral("NULL");
    qDebug() << "VoiceUpload::SelectFile:" << path << select;
    return path;
}
