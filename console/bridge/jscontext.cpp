#include "jscontext.h"

#include "bridgelog.h"
#include "customconfig.h"
#include "recorddevice.h"

#include <QDateTime>
#include <QDir>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QWebEnginePage>
#include <utility>

namespace
{

const char kVersion[] = "QT15_V3.1.4_20240516";

std::function<void(const QString &)> &Observer()
{
    static std::function<void(const QString &)> observer;
    return observer;
}

// The entry word each push method logs; a few have always logged another
// name or no ": ".
QString EntryText(PushId id)
{
    switch (id) {
    case PushId::sendPocStatus:
    case PushId::sendSpeakInfo:
    case PushId::sendStopInfo:
    case PushId::sendUserSpeakInfo:
    case PushId::sendUserStopInfo:
    case PushId::sendStartPlayingInfo:
    case PushId::sendStopPlayingInfo:
        return QStringLiteral("enter %1").arg(QLatin1String(PushTemplateOf(id).name));
    case PushId::sendGroupList:
        return QStringLiteral("enter onGroupListX: ");
    case PushId::sendEndRecordFile:
        return QStringLiteral("enter sendStopRecordFile: ");
    case PushId::sendprocessSOs:
        return QStringLiteral("enter sendprocesssOs: ");
    default:
        return QStringLiteral("enter %1: ").arg(QLatin1String(PushTemplateOf(id).name));
    }
}

} // namespace

JsContext::JsContext(QObject *parent) : QObject(parent)
{
    BRIDGE_LOG("JsContext") << "Enter JsContext Constructor";
    // The channel converts page arguments only to registered types; made sure
    // here too, before any channel can publish this object.
    RegisterBridgeMetaTypes();
    m_network = new QNetworkAccessManager(this);
    m_config = CustomConfig::getInstance();
    setUpTransfers();
    BRIDGE_LOG("JsContext") << "get Feltmark version: " << kVersion << " keepalive heat beat";
    m_readingFile.setFileName(QStringLiteral("./py.res"));
    bool opened = m_readingFile.open(QIODevice::ReadOnly | QIODevice::Text);
    BRIDGE_LOG("JsContext") << "open py.res ret" << opened;
    if (!opened || m_readingFile.atEnd())
        return;
    m_readings = ParseReadingTable(m_readingFile.readAll());
}

JsContext::~JsContext()
{
    tearDownTransfers();
}

void JsContext::setStatementObserver(std::function<void(const QString &)> observer)
{
    Observer() = std::move(observer);
}

void JsContext::push(QWebEnginePage *page, PushId id, const QVariantList &args)
{
    qDebug().noquote() << QStringLiteral("JsContext::%1:%2\t")
                              .arg(QLatin1String(PushTemplateOf(id).name))
                              .arg(__LINE__)
                       << EntryText(id);
    const QString statement = BuildStatement(id, args);
    if (page)
        page->runJavaScript(statement);
    if (Observer())
        Observer()(statement);
}

// Push methods.

void JsContext::CloseVideoSingel(QWebEnginePage *page)
{
    push(page, PushId::CloseVideoSingel);
}

void JsContext::GetUrllist(QWebEnginePage *page, int channelnum)
{
    push(page, PushId::GetUrllist, {channelnum});
}

void JsContext::SendPlayLocalFileStatus(QWebEnginePage *page, int status)
{
    push(page, PushId::SendPlayLocalFileStatus, {status});
}

void JsContext::StarSendInviteAck(QWebEnginePage *page, const QString &message)
{
    push(page, PushId::StarSendInviteAck, {message});
}

void JsContext::StarSendInviteTimeOut(QWebEnginePage *page)
{
    push(page, PushId::StarSendInviteTimeOut);
}

void JsContext::StarSendPushInvite(QWebEnginePage *page, uint64_t invite_id, uint32_t inviter,
                                   uint32_t with_audio, uint32_t with_video, const QString &msg,
                                   uint32_t is_full_duplex)
{
    push(page, PushId::StarSendPushInvite,
         {QVariant::fromValue<quint64>(invite_id), inviter, with_audio, with_video, msg,
          is_full_duplex});
}

void JsContext::StarSendPushResponseInvite(QWebEnginePage *page, uint64_t invite_id,
                                           uint32_t invitee, uint32_t accept, uint32_t reason)
{
    push(page, PushId::StarSendPushResponseInvite,
         {QVariant::fromValue<quint64>(invite_id), invitee, accept, reason});
}

void JsContext::StarSendResponseInviteAck(QWebEnginePage *page, uint32_t result)
{
    push(page, PushId::StarSendResponseInviteAck, {result});
}

void JsContext::StarSendResponseInviteTimeOut(QWebEnginePage *page)
{
    push(page, PushId::StarSendResponseInviteTimeOut);
}

void JsContext::closeMainwindow(QWebEnginePage *page)
{
    push(page, PushId::closeMainwindow);
}

void JsContext::closeStrongPull(QWebEnginePage *page, const QString &url, int flag)
{
    push(page, PushId::closeStrongPull, {url, flag});
}

void JsContext::closevideocontainercb(QWebEnginePage *page)
{
    push(page, PushId::closevideocontainercb);
}

void JsContext::getrecordhistory(QWebEnginePage *page)
{
    push(page, PushId::getrecordhistory);
}

void JsContext::sendAddWatchGroup(QWebEnginePage *page, const QString &result)
{
    push(page, PushId::sendAddWatchGroup, {result});
}

void JsContext::sendAudioEnableChanged(QWebEnginePage *page, bool success)
{
    push(page, PushId::sendAudioEnableChanged, {success});
}

void JsContext::sendAudioEnabled(QWebEnginePage *page, const QString &state)
{
    push(page, PushId::sendAudioEnabled, {state});
}

void JsContext::sendBroadcastPlayAsyncStop(QWebEnginePage *page)
{
    push(page, PushId::sendBroadcastPlayAsyncStop);
}

void JsContext::sendChangeName(QWebEnginePage *page, bool success)
{
    push(page, PushId::sendChangeName, {success});
}

void JsContext::sendChangePassword(QWebEnginePage *page, bool success)
{
    push(page, PushId::sendChangePassword, {success});
}

void JsContext::sendCurrentGroupChanged(QWebEnginePage *page, int gid, const QString &group_name)
{
    push(page, PushId::sendCurrentGroupChanged, {gid, group_name});
}

void JsContext::sendDispatched(QWebEnginePage *page, const QString &dispatcher)
{
    push(page, PushId::sendDispatched, {dispatcher});
}

void JsContext::sendDownBulkMessage(QWebEnginePage *page, const QString &path)
{
    push(page, PushId::sendDownBulkMessage, {path});
}

void JsContext::sendEndRecordFile(QWebEnginePage *page, bool success, uint32_t gid, uint32_t uid,
                                  const QString &finishtime, const QString &filename)
{
    push(page, PushId::sendEndRecordFile, {success, gid, uid, finishtime, filename});
}

void JsContext::sendExternalMessagep(QWebEnginePage *page, const QString &message)
{
    push(page, PushId::sendExternalMessagep, {message});
}

void JsContext::sendGetWatchGroup(QWebEnginePage *page, const QString &groups)
{
    push(page, PushId::sendGetWatchGroup, {groups});
}

void JsContext::sendGroupList(QWebEnginePage *page)
{
    push(page, PushId::sendGroupList);
}

void JsContext::sendHttpDownload(QWebEnginePage *page, const QString &msg, int code)
{
    push(page, PushId::sendHttpDownload, {msg, code});
}

void JsContext::sendHttpDownloadStatus(QWebEnginePage *page, const QString &msg, int status)
{
    push(page, PushId::sendHttpDownloadStatus, {msg, status});
}

void JsContext::sendHttpUpload(QWebEnginePage *page, const QString &msg, int code)
{
    push(page, PushId::sendHttpUpload, {msg, code});
}

void JsContext::sendMemberChanged(QWebEnginePage *page, const QString &change)
{
    push(page, PushId::sendMemberChanged, {change});
}

void JsContext::sendMemberList(QWebEnginePage *page, uint32_t gid)
{
    push(page, PushId::sendMemberList, {gid});
}

void JsContext::sendPlayRecordFileEnd(QWebEnginePage *page)
{
    push(page, PushId::sendPlayRecordFileEnd);
}

void JsContext::sendPocError(QWebEnginePage *page, const QString &msg, int error)
{
    push(page, PushId::sendPocError, {msg, error});
}

void JsContext::sendPocStatus(QWebEnginePage *page, int status)
{
    push(page, PushId::sendPocStatus, {status});
}

void JsContext::sendQueryDepartmentack(QWebEnginePage *page)
{
    push(page, PushId::sendQueryDepartmentack);
}

void JsContext::sendQueryEncrypAck(QWebEnginePage *page, int result)
{
    push(page, PushId::sendQueryEncrypAck, {result});
}

void JsContext::sendQueryEncrypTimeout(QWebEnginePage *page)
{
    push(page, PushId::sendQueryEncrypTimeout);
}

void JsContext::sendRmWatchGroup(QWebEnginePage *page, const QString &result)
{
    push(page, PushId::sendRmWatchGroup, {result});
}

void JsContext::sendSendCallback(QWebEnginePage *page, bool success)
{
    push(page, PushId::sendSendCallback, {success});
}

void JsContext::sendSpeakInfo(QWebEnginePage *page, uint32_t gid, const QString &group_name)
{
    push(page, PushId::sendSpeakInfo, {gid, group_name});
}

void JsContext::sendStartPlayingInfo(QWebEnginePage *page, uint32_t uid, const QString &name,
                                     uint32_t gid, const QString &group_name)
{
    push(page, PushId::sendStartPlayingInfo, {uid, name, gid, group_name});
}

void JsContext::sendStartRecordFile(QWebEnginePage *page, uint32_t gid, uint32_t uid,
                                    const QString &starttime, const QString &filename)
{
    push(page, PushId::sendStartRecordFile, {gid, uid, starttime, filename});
}

void JsContext::sendStartWatchGroup(QWebEnginePage *page, uint32_t gid)
{
    push(page, PushId::sendStartWatchGroup, {gid});
}

void JsContext::sendStopInfo(QWebEnginePage *page, uint32_t gid, const QString &group_name)
{
    push(page, PushId::sendStopInfo, {gid, group_name});
}

void JsContext::sendStopPlayingInfo(QWebEnginePage *page, uint32_t uid, const QString &name,
                                    uint32_t gid, const QString &group_name)
{
    push(page, PushId::sendStopPlayingInfo, {uid, name, gid, group_name});
}

void JsContext::sendSwitchLocation(QWebEnginePage *page, const QString &location)
{
    push(page, PushId::sendSwitchLocation, {location});
}

void JsContext::sendTakeMic(QWebEnginePage *page, bool success)
{
    push(page, PushId::sendTakeMic, {success});
}

void JsContext::sendUserChanged(QWebEnginePage *page, int count, const QString &users)
{
    push(page, PushId::sendUserChanged, {count, users});
}

void JsContext::sendUserSpeakInfo(QWebEnginePage *page, uint32_t uid, const QString &name,
                                  uint32_t gid, const QString &group_name)
{
    push(page, PushId::sendUserSpeakInfo, {uid, name, gid, group_name});
}

void JsContext::sendUserStopInfo(QWebEnginePage *page, uint32_t uid, const QString &name,
                                 uint32_t gid, const QString &group_name)
{
    push(page, PushId::sendUserStopInfo, {uid, name, gid, group_name});
}

void JsContext::sendcloseSOs(QWebEnginePage *page, int result)
{
    push(page, PushId::sendcloseSOs, {result});
}

void JsContext::sendprocessSOs(QWebEnginePage *page, int result)
{
    push(page, PushId::sendprocessSOs, {result});
}

void JsContext::sendsosAlarm(QWebEnginePage *page, const QString &alarm)
{
    push(page, PushId::sendsosAlarm, {alarm});
}

void JsContext::videoinformationstop(QWebEnginePage *page, const QString &url)
{
    push(page, PushId::videoinformationstop, {url});
}

void JsContext::videosizechange(QWebEnginePage *page, const QString &size, const QString &url)
{
    push(page, PushId::videosizechange, {size, url});
}

// Plain engine-call slots.

int JsContext::Init_Config(QString context, QString dns, QString Qcodec)
{
    BRIDGE_LOG("JsContext") << "Init_Config";
    const QByteArray c = context.toUtf8(), d = dns.toUtf8(), k = Qcodec.toUtf8();
    (void)lirko_win_save_context(c.constData());
    (void)lirko_win_save_dns(d.constData());
    return lirko_win_save_record_code(k.constData());
}

int JsContext::login(QString account, QString password, int role)
{
    const QByteArray a = account.toUtf8(), p = password.toUtf8();
    return lirko_win_login(a.constData(), p.constData(), role);
}

int JsContext::Logout()
{
    // The main window closes the video wall before the engine goes offline.
    emit logoutsingal();
    return lirko_win_logout();
}

bool JsContext::HasAudioEnabled()
{
    bool enabled = lirko_win_hasAudioEnabled() == 1;
    BRIDGE_LOG("JsContext") << "HasAudioEnabled: " << enabled;
    return enabled;
}

int JsContext::ChangeName(QString name)
{
    const QByteArray n = name.toUtf8();
    int r = lirko_win_changeName(n.constData());
    BRIDGE_LOG("JsContext") << "mame :" << name;
    return r;
}

int JsContext::ChangePassword(QString oldpassword, QString newpassword)
{
    const QByteArray o = oldpassword.toUtf8(), n = newpassword.toUtf8();
    int r = lirko_win_changePassword(o.constData(), n.constData());
    // Only the lengths: the log is no place for a password.
    BRIDGE_LOG("JsContext") << "oldpassword length:" << oldpassword.size()
                            << "newpassword length:" << newpassword.size();
    return r;
}

int JsContext::ClearAccount()
{
    return lirko_win_clearAccount();
}

bool JsContext::HasAccount()
{
    int has = lirko_win_hasAccount();
    BRIDGE_LOG("JsContext") << "HasAccount" << has;
    return has != 0;
}

int JsContext::LoginWithSaved()
{
    return lirko_win_loginWithSaved();
}

int JsContext::JoinGroup(int gid)
{
    BRIDGE_LOG("JsContext") << "JoinGroup" << gid;
    return lirko_win_joinGroup(static_cast<gid_t>(gid));
}

int JsContext::LeaveGroup()
{
    BRIDGE_LOG("JsContext") << "LeaveGroup";
    return lirko_win_leaveGroup();
}

int JsContext::GetCurrentGroup()
{
    return static_cast<int>(lirko_win_getCurrentGroup());
}

namespace
{
QVector<uint32_t> LoggedIds(const QJsonArray &array, const char *tag)
{
    QVector<uint32_t> ids = PageIds(array);
    for (uint32_t id : ids)
        qDebug().noquote() << tag << id;
    return ids;
}

// The engine reads at most count ids: never more than the page gave.
int WatchCount(int gid_count, int length)
{
    return qBound(0, gid_count, length);
}
} // namespace

int JsContext::Call(QJsonArray Quids)
{
    QVector<uint32_t> ids = LoggedIds(Quids, "Call");
    return lirko_win_Call(ids.constData(), static_cast<size_t>(ids.size()));
}

int JsContext::CallByFullDuplex(uid_t uid)
{
    if (uid == 0)
        return -1;
    BRIDGE_LOG("JsContext") << "CallByFullDuplex uid " << uid;
    return lirko_win_single_call_full_duplex(uid);
}

int JsContext::StartWatchGroup(gid_t gid)
{
    return lirko_win_startWatchGroup(gid);
}

int JsContext::StopWatchGroup(gid_t gid)
{
    return lirko_win_stopWatchGroup(gid);
}

int JsContext::GetWatchGroupCount()
{
    return lirko_win_getWatchedGroupCount();
}

int JsContext::GetwatchGroup()
{
    return lirko_win_GetWatchGroup();
}

int JsContext::AddWatchGroup(QJsonArray add_gid, int gid_count)
{
    QVector<uint32_t> ids = LoggedIds(add_gid, "AddWatchGroup");
    return lirko_win_AddWatchGroup(ids.constData(), WatchCount(gid_count, ids.size()));
}

int JsContext::RmWatchGroup(QJsonArray rm_gid, int gid_count)
{
    QVector<uint32_t> ids = LoggedIds(rm_gid, "v");
    return lirko_win_RmWatchGroup(ids.constData(), WatchCount(gid_count, ids.size()));
}

int JsContext::StartSpeak()
{
    return lirko_win_startSpeak();
}

int JsContext::StopSpeak()
{
    return lirko_win_stopSpeak();
}

bool JsContext::IsSpeaking()
{
    return lirko_win_isSpeaking() != 0;
}

bool JsContext::IsListening()
{
    return lirko_win_isListening() != 0;
}

int JsContext::EnableLocalRecord(bool enable, QString path)
{
    const QByteArray p = path.toLocal8Bit();
    return lirko_win_record_set_enabled(enable ? 1 : 0, p.constData());
}

int JsContext::PlayLocalRecord(QString Qpath)
{
    const QByteArray p = Qpath.toLocal8Bit();
    int r = lirko_win_record_play_audio(p.constData());
    BRIDGE_LOG("JsContext") << "PlayLocalRecord" << r << Qpath;
    return r;
}

int JsContext::StopPlayRecordOnLine()
{
    return lirko_win_record_stop_play_audio();
}

int JsContext::TempJoinGroup(int gid, QJsonArray uids)
{
    BRIDGE_LOG("JsContext") << "TempJoinGroup" << gid;
    QVector<uint32_t> ids = LoggedIds(uids, "TempJoinGroup");
    return lirko_win_schedule_temp_join_group(static_cast<gid_t>(gid), ids.constData(),
                                              static_cast<size_t>(ids.size()));
}

int JsContext::TempLeaveGroup(int gid, QJsonArray uids)
{
    BRIDGE_LOG("JsContext") << "TempLeaveGroup" << gid;
    QVector<uint32_t> ids = LoggedIds(uids, "TempLeaveGroup");
    return lirko_win_schedule_temp_leave_group(static_cast<gid_t>(gid), ids.constData(),
                                               static_cast<size_t>(ids.size()));
}

int JsContext::Audioenable(QJsonArray Quids, bool enable)
{
    BRIDGE_LOG("JsContext") << "Audioenable" << enable;
    QVector<uint32_t> ids = LoggedIds(Quids, "Audioenable");
    BRIDGE_LOG("JsContext") << "Audioenable" << ids.size();
    return lirko_win_schedule_audioenable(ids.constData(), static_cast<size_t>(ids.size()),
                                          enable ? 1 : 0);
}

int JsContext::ForceDispatch(QJsonArray Quids)
{
    QVector<uint32_t> ids = LoggedIds(Quids, "ForceDispatch");
    return lirko_win_schedule_force_dispatch(ids.constData(), static_cast<size_t>(ids.size()));
}

int JsContext::Takemic(QJsonArray Quids)
{
    QVector<uint32_t> ids = LoggedIds(Quids, "Takemic");
    return lirko_win_schedule_takemic(ids.constData(), static_cast<size_t>(ids.size()));
}

int JsContext::SwitchLocation(QJsonArray Quids, bool enable, int period)
{
    QVector<uint32_t> ids = LoggedIds(Quids, "SwitchLocation");
    BRIDGE_LOG("JsContext") << "SwitchLocation" << ids.size() << enable << period;
    return lirko_win_schedule_switch_location(ids.constData(), static_cast<size_t>(ids.size()),
                                              enable ? 1 : 0, static_cast<uint32_t>(period));
}

QString JsContext::GetRecordAudioFilePath()
{
    if (m_recording)
        return QString();
    BRIDGE_LOG("JsContext") << "GetRecordAudioFilePath " << m_recordPath;
    return m_recordPath;
}

int JsContext::PlayRecordBroadcastAudio()
{
    BRIDGE_LOG("JsContext") << "PlayRecordBroadcastAudioSignal";
    emit PlayRecordBroadcastAudioSignal();
    return 0;
}

void JsContext::CleanCache()
{
    emit CleanCacheSignal();
}

QString JsContext::GetVersion()
{
    BRIDGE_LOG("JsContext") << "get Feltmark version: " << kVersion << " keepalive heat beat";
    return QString::fromLatin1(kVersion);
}

int JsContext::GetMos()
{
    int mos = lirko_win_get_mos();
    BRIDGE_LOG("JsContext") << "GetMos " << mos;
    return mos;
}

namespace
{
// What the log shows of a settings value: a password only by its length.
QString LoggedValue(const QString &key, const QString &value)
{
    if (!CustomConfig::isSecretKey(key))
        return value;
    return QStringLiteral("(%1 characters)").arg(value.size());
}
} // namespace

QString JsContext::QtReadIni(QString key)
{
    if (!m_config)
        return QString();
    QString value = m_config->getValue(key);
    BRIDGE_LOG("JsContext") << "read int key: " << key << "value: " << LoggedValue(key, value);
    return value;
}

void JsContext::QtWriteIni(QString key, QString value)
{
    if (!m_config)
        return;
    BRIDGE_LOG("JsContext") << "write int key: " << key << "value: " << LoggedValue(key, value);
    m_config->setValue(key, value);
}

bool JsContext::NotifyQtUpdate(QString urllist)
{
    BRIDGE_LOG("JsContext") << "NotifyQtUpdate: " << urllist;
    emit QtUpdateSignal(urllist);
    return true;
}

bool JsContext::CheckRecordDevice()
{
    int count = CountRecordDevices();
    BRIDGE_LOG("JsContext") << "record device list: count: " << count;
    return count != 0;
}

// Sorting slots.

void JsContext::SortGroupList(QList<GroupSort *> &list)
{
    SortGroupListByName(list);
}

void JsContext::SortMemberList(QList<MemberSort *> &list)
{
    SortMemberListByName(list);
}

void JsContext::SortGroupListbysortid(QList<GroupSort *> &Grouplist)
{
    SortGroupListByWeight(Grouplist, m_readings);
}

void JsContext::SortMemberListbysortid(QList<MemberSort *> &Memberlist)
{
    SortMemberListByWeight(Memberlist, m_readings);
}

// Invitations, alarms, broadcasts, recording and encryption.

int JsContext::SendInvite(QString json)
{
    InviteArgs a;
    if (!ParseInviteArgs(json, &a, "SendInvite", __LINE__))
        return -1;
    for (uint32_t id : a.ids)
        BRIDGE_LOG("JsContext") << "invites: " << id;
    // Receivers decode the message as UTF-8.
    const QByteArray m = a.msg.toUtf8();
    (void)lirko_win_send_invite(a.ids.isEmpty() ? nullptr : a.ids.constData(),
                                static_cast<size_t>(a.ids.size()), a.withAudio, a.withVideo,
                                m.constData(), a.fullDuplex);
    BRIDGE_LOG("JsContext") << "with_audio: " << a.withAudio << "with_video: " << a.withVideo
                            << "msg: " << a.msg << "is_full_duplex: " << a.fullDuplex;
    return 0;
}

int JsContext::SendResponseInvite(QString inviteId, int inviter, int accept)
{
    if (inviteId.isEmpty()) {
        BRIDGE_LOG("JsContext") << "inviteId is null";
        return -1;
    }
    const uint64_t id = inviteId.toULongLong();
    BRIDGE_LOG("JsContext") << "inviteId: " << id << "inviter: " << inviter << "accept: " << accept;
    (void)lirko_win_send_response_invite(id, static_cast<uid_t>(inviter),
                                         static_cast<uint8_t>(accept));
    return 0;
}

int JsContext::ProcessSos(int uid, QString uuid)
{
    BRIDGE_LOG("JsContext") << "ProcessSos uuid " << uuid << "uid" << uid;
    if (uuid.isEmpty()) {
        BRIDGE_LOG("JsContext") << "uuid is null";
        return -1;
    }
    return lirko_win_process_sos_alarm(static_cast<uid_t>(uid), uuid.toULongLong());
}

int JsContext::CloseSos(int uid, QString uuid)
{
    BRIDGE_LOG("JsContext") << "CloseSos uuid " << uuid << "uid" << uid;
    if (uuid.isEmpty()) {
        BRIDGE_LOG("JsContext") << "uuid is null";
        return -1;
    }
    return lirko_win_close_sos_alarm(static_cast<uid_t>(uid), uuid.toULongLong());
}

int JsContext::SendTextBroadcast(QString Qdata, QJsonArray Quids)
{
    QVector<uint32_t> ids = PageIds(Quids);
    for (const QJsonValue &v : Quids)
        BRIDGE_LOG("JsContext") << "SendTextBroadcast" << v.toDouble() << ids.size();
    const QByteArray text = Qdata.toLocal8Bit();
    return lirko_win_broadcast_send_text(text.constData(), ids.constData(),
                                         static_cast<size_t>(ids.size()));
}

int JsContext::SendAudioBroadcast(QJsonArray Quids)
{
    QVector<uint32_t> ids = PageIds(Quids);
    for (const QJsonValue &v : Quids)
        BRIDGE_LOG("JsContext") << "SendAudioBroadcast" << v.toDouble();
    return lirko_win_broadcast_send_recordaudio(ids.constData(), static_cast<size_t>(ids.size()));
}

int JsContext::StartRecordBroadcastAudio()
{
    BRIDGE_LOG("JsContext") << "StartRecordBroadcastAudio";
    return lirko_win_broadcast_start_record();
}

int JsContext::StopRecordBroadcastAudio()
{
    BRIDGE_LOG("JsContext") << "StopRecordBroadcastAudio";
    return lirko_win_broadcast_stop_record();
}

int JsContext::StartRecordAudio()
{
    if (m_recording)
        return -1;
    BRIDGE_LOG("JsContext") << "StartRecordAudio";
    const QString folder = QDir::homePath() + QStringLiteral("/Documents");
    BRIDGE_LOG("JsContext") << folder;
    // The engine records into the folder; a fresh account has none yet.
    QDir().mkpath(folder);
    char name[256] = {};
    const QByteArray dir = folder.toUtf8();
    if (lirko_win_start_record(dir.constData(), name) != 0) {
        BRIDGE_LOG("JsContext") << "record file fail";
        // A failed start can leave the engine capturing, and the page has no
        // way to stop it once this slot said no.
        (void)lirko_win_stop_record();
        return -1;
    }
    m_recordStart = static_cast<uint32_t>(QDateTime::currentMSecsSinceEpoch());
    m_recordPath = QString::fromLocal8Bit(FieldText(name, sizeof(name)));
    m_recording = true;
    BRIDGE_LOG("JsContext") << "record file " << m_recordPath << "record time " << m_recordStart;
    return 0;
}

int JsContext::StopRecordAudio()
{
    BRIDGE_LOG("JsContext") << "StopRecordAudio";
    BRIDGE_LOG("JsContext") << "is_recording " << m_recording;
    if (!m_recording)
        return -1;
    m_recording = false;
    m_recordLength = static_cast<uint32_t>(QDateTime::currentMSecsSinceEpoch()) - m_recordStart;
    int r = lirko_win_stop_record();
    BRIDGE_LOG("JsContext") << "StopRecordAudio result " << r;
    return r;
}

void JsContext::SendMms(QString data, int DataLen, QString name)
{
    if (name.isNull() || data.isNull() || DataLen <= 0) {
        BRIDGE_LOG("JsContext") << "error";
        return;
    }
    BRIDGE_LOG("JsContext") << "send mms name " << name << "data size " << DataLen << data;
    const QByteArray bytes = data.toLocal8Bit();
    const QByteArray type = name.toLocal8Bit();
    // Never more than the text holds, whatever length the page claims.
    const int length = qMin(DataLen, bytes.size());
    if (length <= 0) {
        BRIDGE_LOG("JsContext") << "error";
        return;
    }
    (void)lirko_win_send_mms(bytes.constData(), static_cast<uint32_t>(length), type.constData());
}

namespace
{
int SetEncryption(const QString &json, bool with_key, const char *slot, int line)
{
    EncryptionArgs a;
    if (!ParseEncryptionArgs(json, &a, slot, line))
        return -1;
    for (uint32_t t : a.targets)
        qDebug().noquote() << "encryp_targets: " << t;
    if (with_key)
        qDebug().noquote() << "encryp_scope: " << a.scope << "encryp_type: " << a.type
                           << "encryp_key: " << a.key;
    const QByteArray t = a.type.toUtf8();
    // An empty key is a key; only the absent one switches encryption off.
    const QByteArray k = a.key.toUtf8();
    (void)lirko_win_set_AudioEncryp(a.scope, a.targets.isEmpty() ? nullptr : a.targets.constData(),
                                    static_cast<size_t>(a.targets.size()), t.constData(),
                                    with_key ? k.constData() : nullptr);
    return 0;
}
} // namespace

int JsContext::AudioEncryp(QString json)
{
    return SetEncryption(json, true, "AudioEncryp", __LINE__);
}

int JsContext::CloseAudioEncryp(QString json)
{
    return SetEncryption(json, false, "CloseAudioEncryp", __LINE__);
}
