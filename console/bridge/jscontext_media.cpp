// The page object's transfer and video slots: recorded voice over HTTP
// (SingleDownload, BulkDownload, VoiceUpload) and the video and window
// commands, which become signals the main window carries out.
#include "bridgelog.h"
#include "bulk_download.h"
#include "customconfig.h"
#include "jscontext.h"
#include "path_chooser.h"
#include "record_service.h"
#include "single_download.h"
#include "table_data.h"
#include "transfer_engine.h"
#include "video_commands.h"
#include "vistrel.h"
#include "voice_upload.h"
#include "wav_file.h"

#include <QTimer>
#include <QUrl>

void JsContext::setUpTransfers()
{
    m_chooser = new RoutedPathChooser;
    m_single = new SingleDownload(m_network, m_chooser, TransferEngine::lirko());
    m_bulk = new BulkDownload(m_network, m_chooser, TransferEngine::lirko());
    m_upload = new VoiceUpload(m_network, m_chooser);
    connect(m_single, &SingleDownload::SendHttpDownStautsSignal, this,
            &JsContext::SendHttpDownStautsSignal);
    connect(m_single, &SingleDownload::SendHttpDownloadSignal, this,
            &JsContext::SendHttpDownloadSignal);
    connect(m_single, &SingleDownload::PlayLocalFileStatus, this, &JsContext::PlayLocalFileStatus);
    connect(m_bulk, &BulkDownload::SendHttpDownloadSignal, this,
            &JsContext::SendHttpDownloadSignal);
    connect(m_bulk, &BulkDownload::DownloadBulkEnd, this, &JsContext::DownloadBulkEnd);
    connect(m_bulk, &BulkDownload::DownloadNextSignal, this, &JsContext::DownloadNextSignal);
    connect(m_upload, &VoiceUpload::SendHttpUploadSignal, this, &JsContext::SendHttpUploadSignal);
    setPageAddress(QUrl());
}

void JsContext::tearDownTransfers()
{
    // The transfers use the chooser and the manager: they go first.
    delete m_single;
    delete m_bulk;
    delete m_upload;
    delete m_chooser;
}

void JsContext::setPathChooser(PathChooser *chooser)
{
    m_chooser->route(chooser);
}

void JsContext::setPageAddress(const QUrl &address)
{
    const QString host = m_config ? m_config->getValue(RecordService::HostKey) : QString();
    const QString ns = m_config ? m_config->getValue(RecordService::NamespaceKey) : QString();
    m_single->setRecordService(RecordService::fromSettings(host, ns, address));
}

int JsContext::DownLoad(QString url, QString suffix)
{
    BRIDGE_LOG("JsContext") << url << suffix;
    return m_single->DownLoad(url, suffix);
}

int JsContext::DownLoadBulk(QString json)
{
    BRIDGE_LOG("JsContext") << json;
    return m_bulk->DownLoadBulk(json);
}

int JsContext::parsejsonUrl(QString json)
{
    BRIDGE_LOG("JsContext") << json;
    return m_bulk->parsejsonUrl(json);
}

int JsContext::DownloadEx(QString url, QString fileName, QString outfileName)
{
    BRIDGE_LOG("JsContext") << url << fileName << outfileName;
    return m_bulk->DownloadEx(url, fileName, outfileName);
}

int JsContext::PlayAudioOnLine(QString fileName, QString account, QString password)
{
    BRIDGE_LOG("JsContext") << fileName << account;
    return m_single->PlayAudioOnLine(fileName, account, password);
}

int JsContext::PlayRecordOnLine(QString url, QString fileName, QString folder)
{
    BRIDGE_LOG("JsContext") << url << fileName << folder;
    return m_single->PlayRecordOnLine(url, fileName, folder);
}

int JsContext::PlayRecordOnLineEx()
{
    BRIDGE_LOG("JsContext");
    return m_single->PlayRecordOnLineEx();
}

int JsContext::RecordTranscode(QString url, QString inputName, QString outputName)
{
    BRIDGE_LOG("JsContext") << url << inputName << outputName;
    return m_single->RecordTranscode(url, inputName, outputName);
}

qint64 JsContext::PcmtoWav(QString pcmPath, QString wavPath)
{
    BRIDGE_LOG("JsContext") << pcmPath << wavPath;
    return pcmToWav(pcmPath, wavPath);
}

int JsContext::SendpRecordAudio(QString url, QString json)
{
    BRIDGE_LOG("JsContext") << url << json;
    // The length kept when the recording stopped: a repeated upload sends the same.
    return m_upload->SendpRecordAudio(url, json, m_recording ? QString() : m_recordPath,
                                      m_recordLength);
}

QString JsContext::SelectFile(QString select)
{
    BRIDGE_LOG("JsContext") << select;
    return m_upload->SelectFile(select);
}

// Page calls of the reply handlers: the handlers act only for their reply.
void JsContext::onReadyRead()
{
    m_single->onReadyRead();
}
void JsContext::onDownFinished()
{
    m_single->onDownFinished();
}
void JsContext::onError(int code)
{
    m_single->onError(QNetworkReply::NetworkError(code));
}
void JsContext::onHeadFinished()
{
    m_single->onHeadFinished();
}
void JsContext::onPlayOnLineFinished()
{
    m_single->onPlayOnLineFinished();
}
void JsContext::onRTCHeadFinished()
{
    m_single->onRTCHeadFinished();
}
void JsContext::onFinished()
{
    m_single->onFinished();
}
void JsContext::onDownExReadyRead()
{
    m_bulk->onDownExReadyRead();
}
void JsContext::onDownExFinished()
{
    m_bulk->onDownExFinished();
}
void JsContext::onDownExError(int code)
{
    m_bulk->onDownExError(QNetworkReply::NetworkError(code));
}
void JsContext::onDownloadNext(QString url)
{
    m_bulk->onDownloadNext(url);
}
void JsContext::onUploadFinished()
{
    m_upload->onUploadFinished();
}
void JsContext::OnUploadError(int code)
{
    m_upload->OnUploadError(QNetworkReply::NetworkError(code));
}

int JsContext::SetCodectype(int type)
{
    BRIDGE_LOG("JsContext") << "SetCodectype " << type;
    // CreateLiveInstance hands out the one process-wide instance.
    IAvVistrel *live = CreateLiveInstance();
    if (live != nullptr)
        (void)live->SetCodecType(type);
    return 0;
}

int JsContext::GetcurrentCodecType()
{
    IAvVistrel *live = CreateLiveInstance();
    // No instance, no codec: -1.
    const int type = live != nullptr ? live->GetCurrentCodecType() : -1;
    BRIDGE_LOG("JsContext") << "GetcurrentCodecType " << type;
    return type;
}

int JsContext::startpullstream(int channelnum, QString jsonurl, int x, int y, int width, int heigh)
{
    video_commands::appendPullUrls(jsonurl, m_pullUrls);
    BRIDGE_LOG("JsContext") << "jsonurl" << jsonurl;
    for (const QString &url : qAsConst(m_pullUrls))
        BRIDGE_LOG("JsContext") << url;
    emit StartpullstreamSignal(channelnum, m_pullUrls, x, y, width, heigh);
    return 0;
}

int JsContext::parseStartPulljsonUrl(QString jsonurl)
{
    return video_commands::appendPullUrls(jsonurl, m_pullUrls) ? 0 : -1;
}

int JsContext::stoppullstream(QString jsonurl)
{
    if (!video_commands::appendPullUrls(jsonurl, m_stopUrls))
        return -1;
    emit StoppullstreamSignal(m_stopUrls);
    return 0;
}

int JsContext::startpullstreamindex(QString url, bool isStrongPull, QString username, QString size)
{
    BRIDGE_LOG("JsContext") << "startpullstreamindex" << url << isStrongPull << size;
    emit StartpullstreamIndexSignal(url, isStrongPull, username, size);
    return 0;
}

int JsContext::stoppullstreamindex(QString url)
{
    BRIDGE_LOG("JsContext") << "stoppullstreamindex" << url;
    emit StoppullstreamIndexSignal(url, true);
    return 0;
}

int JsContext::stoppullstreamindexNocb(QString url)
{
    BRIDGE_LOG("JsContext") << "stoppullstreamindexNocb" << url;
    emit StoppullstreamIndexSignal(url, false);
    return 0;
}

int JsContext::startvideosignel(QString pushurl, QString pullUrl, QString username, int x, int y,
                                int width, int heigh)
{
    BRIDGE_LOG("JsContext") << "startvideosignel";
    emit StartVideoSingelSignal(pushurl, pullUrl, username, x, y, width, heigh);
    return 0;
}

int JsContext::stopvideosignel(QString pushurl, QString pullUrl)
{
    BRIDGE_LOG("JsContext") << "stopvideosignel";
    QTimer::singleShot(2000, this,
                       [this, pushurl, pullUrl] { emit StopVideoSingelSignal(pushurl, pullUrl); });
    return 0;
}

int JsContext::startvideoinformation(QString pullUrl, QString titel, int red, int green, int blue,
                                     int trans)
{
    BRIDGE_LOG("JsContext") << "startvideoinformation";
    emit StartVideoInformationSignal(pullUrl, titel, red, green, blue, trans);
    return 0;
}

int JsContext::stopvideoinformation()
{
    BRIDGE_LOG("JsContext") << "stopvideoinformation";
    emit StopVideoInformationSignal();
    return 0;
}

int JsContext::startUpvideo(int, int, int, int)
{
    BRIDGE_LOG("JsContext") << "startUpvideo";
    emit startUpvideoSignal(0, 60, 1300, 900);
    return 0;
}

int JsContext::closevideocontainer()
{
    emit logoutsingal();
    return 0;
}

int JsContext::makevideoWindowTop()
{
    BRIDGE_LOG("JsContext") << "makevideoWindowTop";
    emit makevideoWindowTopSingel();
    return 0;
}

int JsContext::makewebWindowTop()
{
    BRIDGE_LOG("JsContext") << "makewebWindowTop";
    emit makewebWindowTopSingel();
    return 0;
}

void JsContext::SetShowScreen(int showtype)
{
    emit ShowScreenSignal(showtype);
}

int JsContext::setlanguage(QString language)
{
    emit setlanguagesingal(language);
    return 0;
}

int JsContext::showTips(QString text)
{
    emit showTipsSignal(text);
    return 0;
}

int JsContext::Settabeldata(QString qjson)
{
    video_commands::TableLabels l;
    if (!video_commands::parseTableLabels(qjson, &l))
        return -1;
    for (const QString &line : qAsConst(l.logged))
        BRIDGE_LOG("JsContext") << line;
    TableData *labels = TableData::instance();
    labels->high = l.high;
    labels->standard = l.standard;
    labels->fluent = l.fluency;
    emit SettabeldataSingel(l.back, l.history, l.mute, l.close, l.single, l.multi);
    return 0;
}
