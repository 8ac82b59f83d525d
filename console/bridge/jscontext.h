// The object the dispatcher page reaches as "context" on its web channel:
// slots the page calls (engine requests, directory getters, settings), signals
// the main window handles, and the push methods that run the page's event
// functions. Lives on the GUI thread.
#pragma once

#include "bridgetypes.h"
#include "lirko_win.h"
#include "namesort.h"
#include "pageargs.h"
#include "pushstatements.h"

#include <QFile>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <cstdint>
#include <functional>

class BulkDownload;
class CustomConfig;
class PathChooser;
class RoutedPathChooser;
class QNetworkAccessManager;
class QUrl;
class QWebEnginePage;
class SingleDownload;
class VoiceUpload;

class JsContext : public QObject
{
    Q_OBJECT

  public:
    explicit JsContext(QObject *parent = nullptr);
    ~JsContext() override;

    // The reading table loaded from "./py.res".
    const ReadingTable &readingTable() const
    {
        return m_readings;
    }

    // Where the transfers ask for paths (a modal file dialog unless replaced;
    // not owned).
    void setPathChooser(PathChooser *chooser);
    // The dispatcher page's address: the record service's host defaults to its host.
    void setPageAddress(const QUrl &address);

    // Every statement handed to a page also goes to this observer (tests).
    static void setStatementObserver(std::function<void(const QString &)> observer);

    // Push methods: each runs one fixed statement in page (see pushstatements).
    void CloseVideoSingel(QWebEnginePage *page);
    void GetUrllist(QWebEnginePage *page, int channelnum);
    void SendPlayLocalFileStatus(QWebEnginePage *page, int status);
    void StarSendInviteAck(QWebEnginePage *page, const QString &message);
    void StarSendInviteTimeOut(QWebEnginePage *page);
    void StarSendPushInvite(QWebEnginePage *page, uint64_t invite_id, uint32_t inviter,
                            uint32_t with_audio, uint32_t with_video, const QString &msg,
                            uint32_t is_full_duplex);
    void StarSendPushResponseInvite(QWebEnginePage *page, uint64_t invite_id, uint32_t invitee,
                                    uint32_t accept, uint32_t reason);
    void StarSendResponseInviteAck(QWebEnginePage *page, uint32_t result);
    void StarSendResponseInviteTimeOut(QWebEnginePage *page);
    void closeMainwindow(QWebEnginePage *page);
    void closeStrongPull(QWebEnginePage *page, const QString &url, int flag);
    void closevideocontainercb(QWebEnginePage *page);
    void getrecordhistory(QWebEnginePage *page);
    void sendAddWatchGroup(QWebEnginePage *page, const QString &result);
    void sendAudioEnableChanged(QWebEnginePage *page, bool success);
    void sendAudioEnabled(QWebEnginePage *page, const QString &state);
    void sendBroadcastPlayAsyncStop(QWebEnginePage *page);
    void sendChangeName(QWebEnginePage *page, bool success);
    void sendChangePassword(QWebEnginePage *page, bool success);
    void sendCurrentGroupChanged(QWebEnginePage *page, int gid, const QString &group_name);
    void sendDispatched(QWebEnginePage *page, const QString &dispatcher);
    void sendDownBulkMessage(QWebEnginePage *page, const QString &path);
    void sendEndRecordFile(QWebEnginePage *page, bool success, uint32_t gid, uint32_t uid,
                           const QString &finishtime, const QString &filename);
    void sendExternalMessagep(QWebEnginePage *page, const QString &message);
    void sendGetWatchGroup(QWebEnginePage *page, const QString &groups);
    void sendGroupList(QWebEnginePage *page);
    void sendHttpDownload(QWebEnginePage *page, const QString &msg, int code);
    void sendHttpDownloadStatus(QWebEnginePage *page, const QString &msg, int status);
    void sendHttpUpload(QWebEnginePage *page, const QString &msg, int code);
    void sendMemberChanged(QWebEnginePage *page, const QString &change);
    void sendMemberList(QWebEnginePage *page, uint32_t gid);
    void sendPlayRecordFileEnd(QWebEnginePage *page);
    void sendPocError(QWebEnginePage *page, const QString &msg, int error);
    void sendPocStatus(QWebEnginePage *page, int status);
    void sendQueryDepartmentack(QWebEnginePage *page);
    void sendQueryEncrypAck(QWebEnginePage *page, int result);
    void sendQueryEncrypTimeout(QWebEnginePage *page);
    void sendRmWatchGroup(QWebEnginePage *page, const QString &result);
    void sendSendCallback(QWebEnginePage *page, bool success);
    void sendSpeakInfo(QWebEnginePage *page, uint32_t gid, const QString &group_name);
    void sendStartPlayingInfo(QWebEnginePage *page, uint32_t uid, const QString &name, uint32_t gid,
                              const QString &group_name);
    void sendStartRecordFile(QWebEnginePage *page, uint32_t gid, uint32_t uid,
                             const QString &starttime, const QString &filename);
    void sendStartWatchGroup(QWebEnginePage *page, uint32_t gid);
    void sendStopInfo(QWebEnginePage *page, uint32_t gid, const QString &group_name);
    void sendStopPlayingInfo(QWebEnginePage *page, uint32_t uid, const QString &name, uint32_t gid,
                             const QString &group_name);
    void sendSwitchLocation(QWebEnginePage *page, const QString &location);
    void sendTakeMic(QWebEnginePage *page, bool success);
    void sendUserChanged(QWebEnginePage *page, int count, const QString &users);
    void sendUserSpeakInfo(QWebEnginePage *page, uint32_t uid, const QString &name, uint32_t gid,
                           const QString &group_name);
    void sendUserStopInfo(QWebEnginePage *page, uint32_t uid, const QString &name, uint32_t gid,
                          const QString &group_name);
    void sendcloseSOs(QWebEnginePage *page, int result);
    void sendprocessSOs(QWebEnginePage *page, int result);
    void sendsosAlarm(QWebEnginePage *page, const QString &alarm);
    void videoinformationstop(QWebEnginePage *page, const QString &url);
    void videosizechange(QWebEnginePage *page, const QString &size, const QString &url);

  signals:
    void PlayRecordBroadcastAudioSignal();
    void SendHttpDownloadSignal(QString msg, int error);
    void SendHttpDownStautsSignal(QString msg, int status);
    void SendHttpUploadSignal(QString msg, int error);
    void CleanCacheSignal();
    void ShowScreenSignal(int showtype);
    void DownloadNextSignal(QString url);
    void DownloadBulkEnd(QString meg);
    void QtUpdateSignal(QString data);
    void StartpullstreamSignal(int channelnum, QStringList &urllist, int x, int y, int width,
                               int heigh);
    void StoppullstreamSignal(QStringList &urllist);
    void StartVideoSingelSignal(QString pushurl, QString pullUrl, QString username, int x, int y,
                                int width, int heigh);
    void StopVideoSingelSignal(QString pushurl, QString pullUrl);
    void StartVideoInformationSignal(QString pullUrl, QString titel, int red, int green, int blue,
                                     int trans);
    void StopVideoInformationSignal();
    void StartpullstreamIndexSignal(QString url, bool isStrongPull, QString username, QString size);
    void StoppullstreamIndexSignal(QString url, bool iscb);
    void startUpvideoSignal(int x, int y, int width, int heigh);
    void makevideoWindowTopSingel();
    void makewebWindowTopSingel();
    void SettabeldataSingel(QString videoback, QString videohistory, QString videomute,
                            QString videoclose, QString videosingle, QString videomuitscreen);
    void setlanguagesingal(QString language);
    void logoutsingal();
    void showTipsSignal(QString text);
    void PlayLocalFileStatus(int status);

  public slots:
    int Init_Config(QString context, QString dns, QString Qcodec);
    int login(QString account, QString password, int role);
    int Logout();
    QString GetCurrentUser();
    QString GetOnlineStatus();
    QString GetUid();
    QString GetName();
    bool HasAudioEnabled();
    int ChangeName(QString name);
    int ChangePassword(QString oldpassword, QString newpassword);
    int SaveAccount(QString account);
    int ClearAccount();
    bool HasAccount();
    QString GetSavedAccount();
    int LoginWithSaved();
    int JoinGroup(int gid);
    int LeaveGroup();
    QString GetGroupByGid(int gid);
    QString GetMemberList(gid_t gid);
    QString GetMemberListRefresh(gid_t gid);
    QString GetGroupList();
    QString GetGroupListExtern(bool force);
    QString GetGroupListExtern();
    void SortGroupList(QList<GroupSort *> &list);
    void SortMemberList(QList<MemberSort *> &list);
    void SortGroupListbysortid(QList<GroupSort *> &Grouplist);
    void SortMemberListbysortid(QList<MemberSort *> &Memberlist);
    int GetCurrentGroup();
    int Call(QJsonArray Quids);
    int CallByFullDuplex(uid_t uid);
    int StartWatchGroup(gid_t gid);
    int StopWatchGroup(gid_t gid);
    int GetWatchGroupCount();
    QString GetWatchGroups();
    int GetwatchGroup();
    int AddWatchGroup(QJsonArray add_gid, int gid_count);
    int RmWatchGroup(QJsonArray rm_gid, int gid_count);
    int StartSpeak();
    int StopSpeak();
    QString GetPlayingSoundUserMsg();
    QString GetSpeakingUsers();
    bool IsSpeaking();
    bool IsListening();
    int AudioEncryp(QString json);
    int CloseAudioEncryp(QString json);
    int EnableLocalRecord(bool enable, QString path);
    int PlayLocalRecord(QString Qpath);
    int StopPlayRecordOnLine();
    int TempJoinGroup(int gid, QJsonArray uids);
    int TempLeaveGroup(int gid, QJsonArray uids);
    int Audioenable(QJsonArray Quids, bool enable);
    int ForceDispatch(QJsonArray Quids);
    int Takemic(QJsonArray Quids);
    QString GetUser(uid_t uid);
    QString GetUsers(QJsonArray Quids);
    int SwitchLocation(QJsonArray Quids, bool enable, int period);
    int SendTextBroadcast(QString Qdata, QJsonArray Quids);
    int StartRecordBroadcastAudio();
    int StartRecordAudio();
    QString GetRecordAudioFilePath();
    int StopRecordAudio();
    int StopRecordBroadcastAudio();
    int SendAudioBroadcast(QJsonArray Quids);
    int PlayRecordBroadcastAudio();
    void CleanCache();
    QString GetVersion();
    void SendMms(QString data, int DataLen, QString name);
    int GetMos();
    QString QtReadIni(QString key);
    void QtWriteIni(QString key, QString value);
    bool NotifyQtUpdate(QString urllist);
    int SendInvite(QString json);
    int SendResponseInvite(QString inviteId, int inviter, int accept);
    int getallgroups();
    QString getallgroupsdata();
    bool IsMyParTakeGroup(gid_t gid, department_t *department);
    void GetRepetitiveData(QList<GroupSort *> &Grouplist, int did,
                           QList<RepeatGid *> &repeatinfolist);
    int ProcessSos(int uid, QString uuid);
    int CloseSos(int uid, QString uuid);
    bool CheckRecordDevice();
    // The live-video codec, on the process's one live-video instance.
    int SetCodectype(int type);
    int GetcurrentCodecType();

    // Recorded-voice transfers (jscontext_media.cpp).
    int DownLoad(QString url, QString suffix);
    int DownLoadBulk(QString json);
    int parsejsonUrl(QString json);
    int DownloadEx(QString url, QString fileName, QString outfileName);
    int PlayAudioOnLine(QString fileName, QString account, QString password);
    int PlayRecordOnLine(QString url, QString fileName, QString folder);
    int PlayRecordOnLineEx();
    int RecordTranscode(QString url, QString inputName, QString outputName);
    qint64 PcmtoWav(QString pcmPath, QString wavPath);
    int SendpRecordAudio(QString url, QString json);
    QString SelectFile(QString select);
    // Reply handlers: they act only for their own reply, never for the page.
    void onReadyRead();
    void onDownFinished();
    void onError(int code);
    void onHeadFinished();
    void onPlayOnLineFinished();
    void onRTCHeadFinished();
    void onFinished();
    void onDownExReadyRead();
    void onDownExFinished();
    void onDownExError(int code);
    void onDownloadNext(QString url);
    void onUploadFinished();
    void OnUploadError(int code);

    // Video and window commands (jscontext_media.cpp).
    int startpullstream(int channelnum, QString jsonurl, int x, int y, int width, int heigh);
    int parseStartPulljsonUrl(QString jsonurl);
    int stoppullstream(QString jsonurl);
    int startpullstreamindex(QString url, bool isStrongPull, QString username, QString size);
    int stoppullstreamindex(QString url);
    int stoppullstreamindexNocb(QString url);
    int startvideosignel(QString pushurl, QString pullUrl, QString username, int x, int y,
                         int width, int heigh);
    int stopvideosignel(QString pushurl, QString pullUrl);
    int startvideoinformation(QString pullUrl, QString titel, int red, int green, int blue,
                              int trans);
    int stopvideoinformation();
    int startUpvideo(int x, int y, int width, int heigh);
    int closevideocontainer();
    int makevideoWindowTop();
    int makewebWindowTop();
    void SetShowScreen(int showtype);
    int setlanguage(QString language);
    int showTips(QString text);
    int Settabeldata(QString qjson);

  private:
    void push(QWebEnginePage *page, PushId id, const QVariantList &args = {});

    QFile m_readingFile;
    ReadingTable m_readings;
    QNetworkAccessManager *m_network = nullptr;
    CustomConfig *m_config = nullptr;
    QString m_recordPath;
    bool m_recording = false;
    uint32_t m_recordStart = 0;
    // The last recording's length in milliseconds, kept when it stopped.
    qint64 m_recordLength = -1;

    void setUpTransfers();
    void tearDownTransfers();
    RoutedPathChooser *m_chooser = nullptr;
    SingleDownload *m_single = nullptr;
    BulkDownload *m_bulk = nullptr;
    VoiceUpload *m_upload = nullptr;
    QStringList m_pullUrls;
    QStringList m_stopUrls;
};
