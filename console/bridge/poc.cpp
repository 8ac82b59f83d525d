#include "poc.h"

#include "bridgelog.h"
#include "namesort.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

std::atomic<POc *> POc::m_gPoc{nullptr};

namespace
{

POc *Instance()
{
    return POc::m_gPoc.load(std::memory_order_acquire);
}

QString Utf8(const char *text)
{
    return QString::fromUtf8(text);
}

QString Local(const char *text)
{
    return QString::fromLocal8Bit(text);
}

// 32-bit values go through Qt's int, so 2^31 and above come out negative,
// as the page has always read them.
template <typename T> QJsonArray IntArray(const T *values, long long count)
{
    QJsonArray a;
    if (!values)
        return a;
    for (long long i = 0; i < count; i++)
        a.append(static_cast<int>(values[i]));
    return a;
}

QString Compact(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString UidListResult(const char *enable_key, boolean success, boolean enable, const uid_t *uids,
                      size_t count)
{
    QJsonObject o;
    o.insert(QStringLiteral("Success"), success != 0);
    o.insert(QLatin1String(enable_key), enable != 0);
    o.insert(QStringLiteral("Size"), static_cast<int>(count));
    o.insert(QStringLiteral("Uids"), IntArray(uids, static_cast<long long>(count)));
    return Compact(o);
}

} // namespace

#define POC_LOG BRIDGE_LOG("POc")

POc::POc(QObject *parent) : QObject(parent)
{
    // Every signal crosses threads queued, copying its arguments by type.
    RegisterBridgeMetaTypes();
    POc *expected = nullptr;
    if (m_gPoc.compare_exchange_strong(expected, this, std::memory_order_acq_rel))
        POC_LOG << "m_gPoc:" << static_cast<void *>(this);
}

POc::~POc()
{
    POc *self = this;
    m_gPoc.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

void POc::InitCallbacks()
{
    (void)lirko_win_set_online_status_cb(win_pfn_notify_online_status_cb);
    (void)lirko_win_set_user_start_speak_cb(win_pfn_notify_user_start_speak_cb);
    (void)lirko_win_set_user_stop_speak_cb(win_pfn_notify_user_stop_speak_cb);
    (void)lirko_win_set_start_playing_cb(win_pfn_notify_start_playing_sound);
    (void)lirko_win_set_stop_playing_cb(win_pfn_notify_stop_playing_sound);
    (void)lirko_win_set_start_speak_cb(win_pfn_notify_start_speak_cb);
    (void)lirko_win_set_stop_speak_cb(win_pfn_notify_stop_speak_cb);
    (void)lirko_win_set_error_cb(win_pfn_notify_error_cb);
    (void)lirko_win_set_change_name_cb(win_pfn_notify_change_name);
    (void)lirko_win_set_change_password_cb(win_pfn_notify_change_password);
    (void)lirko_win_set_audio_enabled_cb(win_pfn_notify_audio_enable);
    (void)lirko_win_set_users_changed_cb(win_pfn_notify_user_change);
    (void)lirko_win_set_current_group_cb(win_pfn_notify_current_group);
    (void)lirko_win_set_member_changed_cb(win_pfn_notify_members_changed);
    (void)lirko_win_set_memberlist_cb(win_pfn_notify_memberlist);
    (void)lirko_win_set_grouplist_cb(win_pfn_notify_grouplist);
    (void)lirko_win_set_start_record_cb(win_pfn_notify_start_recordfile);
    (void)lirko_win_set_finish_record_cb(win_pfn_notify_end_recordfile);
    (void)lirko_win_set_play_recordfile_end_cb(win_pfn_notify_play_recordfile_end);
    (void)lirko_win_set_dispatcher_cb(win_pfn_notify_dispatcher);
    (void)lirko_win_set_take_mic_cb(win_pfn_notify_takemic);
    (void)lirko_win_set_audio_enabledcall_cb(win_pfn_audio_enabled_callback);
    (void)lirko_win_set_switch_location_cb(win_pfn_switch_location);
    (void)lirko_win_set_send_cb(win_pfn_notify_send_callback);
    (void)lirko_win_set_message_cb(win_pfn_notify_message);
    // The roles-changed callback takes a group id alone and the engine never
    // raises it; the member-change function does not fit it, so nothing is
    // registered there.
    (void)lirko_win_set_watchgrouplist_cb(win_pfn_notify_watchgrouplist);
    (void)lirko_win_set_multimedia_message_cb(win_pfn_multimedia_message);
    (void)lirko_win_set_external_message_cb(win_pfn_external_message);
    (void)lirko_win_get_watch_group_cb(win_pfn_notify_get_watch_group);
    (void)lirko_win_rm_watch_group_cb(win_pfn_notify_rm_watch_group);
    (void)lirko_win_add_watch_group_cb(win_pfn_notify_add_watch_group);
    (void)lirko_win_set_start_watch_group_cb(win_pfn_start_watch_group);
    (void)lirko_win_set_send_invite_ack_cb(win_pfn_send_invite_ack);
    (void)lirko_win_set_send_response_invite_ack_cb(win_pfn_send_response_invite_ack);
    (void)lirko_win_set_send_invite_timeout_cb(win_pfn_send_invite_timeout);
    (void)lirko_win_set_send_response_invite_timeout_cb(win_pfn_send_response_invite_timeout);
    (void)lirko_win_set_send_push_invite_cb(win_pfn_send_push_invite);
    (void)lirko_win_set_send_push_response_invite_cb(win_pfn_send_push_response_invite);
    (void)lirko_win_set_query_department_cb(win_pfn_query_department);
    (void)lirko_win_set_send_encryp_timeout_cb(win_pfn_query_encryp_timeout);
    (void)lirko_win_set_send_encryp_ack_cb(win_pfn_query_encryp_ack);
    (void)lirko_win_set_sos_alarm_new_cb(win_pfn_on_sos_alarm);
    (void)lirko_win_set_process_sos_cb(win_pfn_on_process_sos);
    (void)lirko_win_set_close_sos_cb(win_pfn_on_close_sos);
}

int POc::sendPlayRecordBroadcastAudio()
{
    POC_LOG << "sendPlayRecordBroadcastAudio";
    return lirko_win_broadcast_play_recordaudio(win_pfn_broadcast_play_async_stop);
}

// Static callbacks (engine thread).

void POc::win_pfn_notify_online_status_cb(LIRKO_ONLINE_STATUS status)
{
    POC_LOG << "Poc: win_pfn_notify_online_status_cb status:" << static_cast<int>(status);
    if (POc *p = Instance())
        p->RecvPocStatus(status);
}

void POc::win_pfn_notify_error_cb(const char *msg, int error)
{
    POC_LOG << "Poc: win_pfn_notify_error_cb error:" << error << "message:" << msg;
    if (POc *p = Instance())
        p->RecvPocError(msg, error);
}

void POc::win_pfn_notify_user_start_speak_cb(uid_t uid, const char *name, gid_t gid,
                                             const char *group_name)
{
    POC_LOG << "Poc: win_pfn_notify_user_start_speak_cb:" << uid << "name:" << name << "gid" << gid
            << "group_name" << group_name;
    if (POc *p = Instance())
        p->RecvPocUserStartSpeak(uid, name, gid, group_name);
}

void POc::win_pfn_notify_user_stop_speak_cb(uid_t uid, const char *name, gid_t gid,
                                            const char *group_name)
{
    POC_LOG << "Poc: win_pfn_notify_user_stop_speak_cb user stop speak uid:" << uid
            << "name:" << name << "gid" << gid << "group_name" << group_name;
    if (POc *p = Instance())
        p->RecvPocUserStopSpeak(uid, name, gid, group_name);
}

void POc::win_pfn_notify_start_playing_sound(uid_t uid, const char *name, gid_t gid,
                                             const char *group_name)
{
    POC_LOG << "win_pfn_notify_start_playing_sound: " << uid << name << gid << group_name;
    if (POc *p = Instance())
        p->RecvTarvextPlaying(uid, name, gid, group_name);
}

void POc::win_pfn_notify_stop_playing_sound(uid_t uid, const char *name, gid_t gid,
                                            const char *group_name)
{
    POC_LOG << "win_pfn_notify_stop_playing_sound: " << uid << name << gid << group_name;
    if (POc *p = Instance())
        p->RecvPocStopPlaying(uid, name, gid, group_name);
}

void POc::win_pfn_notify_start_speak_cb(gid_t gid, const char *group_name)
{
    POC_LOG << "Poc: win_pfn_notify_start_speak_cb start speak";
    if (POc *p = Instance())
        p->RecvTarvextSpeak(gid, group_name);
}

void POc::win_pfn_notify_stop_speak_cb(gid_t gid, const char *group_name)
{
    POC_LOG << "Poc: win_pfn_notify_stop_speak_cb stop speak";
    if (POc *p = Instance())
        p->RecvPocStopSpeak(gid, group_name);
}

void POc::win_pfn_notify_current_group(gid_t gid, const char *group_name)
{
    if (gid == 0 || !group_name)
        return;
    POC_LOG << "win_pfn_notify_current_group gid: " << gid << "current group name: " << group_name;
    if (POc *p = Instance())
        p->RecvCurrentGroupChanged(gid, Utf8(group_name));
}

void POc::win_pfn_notify_change_name(boolean success)
{
    POC_LOG << "Poc: win_pfn_notify_change_name change name: " << success;
    if (POc *p = Instance())
        p->RecvPocChangeName(success);
}

void POc::win_pfn_notify_change_password(boolean success)
{
    POC_LOG << "Poc: win_pfn_notify_change_password change password: " << success;
    if (POc *p = Instance())
        p->RecvPocChangePassword(success);
}

void POc::win_pfn_notify_audio_enable(boolean success)
{
    POC_LOG << "Poc: win_pfn_notify_audio_enable audio enable: " << success;
    if (POc *p = Instance())
        p->RecvPocAudioEnabled(success);
}

void POc::win_pfn_notify_send_callback(boolean success)
{
    POC_LOG << "win_pfn_notify_send_callback: " << success;
    if (POc *p = Instance())
        p->RecvPocSendCallback(success != 0);
}

void POc::win_pfn_notify_takemic(boolean success, const uid_t *, size_t)
{
    POC_LOG << "win_pfn_notify_takemic: ";
    if (POc *p = Instance())
        p->RecvPocTakeMic(success != 0);
}

void POc::win_pfn_notify_memberlist(gid_t gid)
{
    POC_LOG << "win_pfn_notify_memberlist gid : " << gid;
    if (POc *p = Instance())
        p->RecvMemberList(gid);
}

void POc::win_pfn_notify_grouplist()
{
    POC_LOG << "win_pfn_notify_grouplist ";
    if (POc *p = Instance())
        p->RecvGroupList();
}

void POc::win_pfn_notify_play_recordfile_end()
{
    POC_LOG << "win_pfn_notify_play_recordfile_end: ";
    if (POc *p = Instance())
        p->RecvPocPlayRecordFileEnd();
}

void POc::win_pfn_broadcast_play_async_stop()
{
    POC_LOG << "win_pfn_broadcast_play_async_stop: ";
    if (POc *p = Instance())
        p->RecvPocBroadcastPlayAsyncStop();
}

void POc::win_pfn_notify_start_recordfile(gid_t gid, uid_t uid, const char *starttime,
                                          const char *filename)
{
    POC_LOG << "win_pfn_notify_start_recordfile: " << gid << uid << starttime << filename;
    if (POc *p = Instance())
        p->RecvStartRecordFile(gid, uid, Local(starttime), Local(filename));
}

void POc::win_pfn_notify_end_recordfile(boolean success, gid_t gid, uid_t uid,
                                        const char *finishtime, const char *filename)
{
    POC_LOG << "win_pfn_notify_end_recordfile: " << success << gid << finishtime << filename;
    if (POc *p = Instance())
        p->RecvEndRecordFile(success, gid, uid, Local(finishtime), Local(filename));
}

void POc::win_pfn_notify_user_change(size_t count, const win_user_t *users)
{
    POC_LOG << "win_pfn_notify_user_change  user change: " << count;
    if (!users)
        count = 0;
    // The engine's records are only lent for the call.
    std::vector<win_user_t> copy(count);
    for (size_t i = 0; i < count; i++)
        copy[i] = users[i];
    QJsonArray a;
    for (const win_user_t &u : copy) {
        QJsonObject o;
        o.insert(QStringLiteral("gid"), static_cast<int>(u.gid));
        o.insert(QStringLiteral("uid"), static_cast<int>(u.uid));
        o.insert(QStringLiteral("online"), static_cast<int>(u.online));
        o.insert(QStringLiteral("has_gid"), static_cast<int>(u.has_gid));
        o.insert(QStringLiteral("has_role"), static_cast<int>(u.has_role));
        o.insert(QStringLiteral("audio_enable"), static_cast<int>(u.audio_enabled));
        o.insert(QStringLiteral("name"), QString::fromLocal8Bit(FieldText(u.name, sizeof(u.name))));
        o.insert(QStringLiteral("encrypt_on"), static_cast<int>(u.encrypt_on));
        a.append(o);
    }
    QString json = QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Compact));
    if (POc *p = Instance())
        p->RecvPocUserChanged(count, json);
}

void POc::win_pfn_notify_members_changed(gid_t gid, const uid_t *updated, uint32_t n_updated,
                                         const uid_t *removed, uint32_t n_removed,
                                         const uid_t *joined, uint32_t n_joined, const uid_t *left,
                                         uint32_t n_left)
{
    POC_LOG << "gid: " << gid << "current group id: " << gid;
    struct List {
        const char *tag;
        const uid_t *uids;
        uint32_t n;
    };
    const List lists[] = {{"win_pfn_notify_members_changed Qus: ", updated, n_updated},
                          {"win_pfn_notify_members_changed Qrs: ", removed, n_removed},
                          {"win_pfn_notify_members_changed Qjs: ", joined, n_joined},
                          {"win_pfn_notify_members_changed Qls: ", left, n_left}};
    for (const List &l : lists) {
        for (uint32_t i = 0; l.uids && i < l.n; i++)
            POC_LOG << l.tag << l.uids[i];
    }
    QJsonObject o;
    o.insert(QStringLiteral("Gid"), static_cast<int>(gid));
    o.insert(QStringLiteral("Us"), IntArray(updated, n_updated));
    o.insert(QStringLiteral("Uc"), static_cast<int>(n_updated));
    o.insert(QStringLiteral("Rs"), IntArray(removed, n_removed));
    o.insert(QStringLiteral("Rc"), static_cast<int>(n_removed));
    o.insert(QStringLiteral("Js"), IntArray(joined, n_joined));
    o.insert(QStringLiteral("Jc"), static_cast<int>(n_joined));
    o.insert(QStringLiteral("Ls"), IntArray(left, n_left));
    o.insert(QStringLiteral("Lc"), static_cast<int>(n_left));
    QString json = Compact(o);
    POC_LOG << "win_pfn_notify_members_changed json_members_changed: " << json;
    if (POc *p = Instance())
        p->RecvMemberChanged(json);
}

void POc::win_pfn_notify_dispatcher(boolean success, boolean has_gid, gid_t gid, const uid_t *uids,
                                    size_t count)
{
    POC_LOG << "win_pfn_notify_dispatcher: " << success << count;
    QJsonObject o;
    o.insert(QStringLiteral("Success"), success != 0);
    o.insert(QStringLiteral("HasGid"), has_gid != 0);
    o.insert(QStringLiteral("Gid"), static_cast<int>(gid));
    o.insert(QStringLiteral("UidSize"), static_cast<int>(count));
    o.insert(QStringLiteral("Uids"), IntArray(uids, static_cast<long long>(count)));
    QString json = Compact(o);
    POC_LOG << json;
    if (POc *p = Instance())
        p->RecvPocdispatcher(json);
}

void POc::win_pfn_audio_enabled_callback(boolean success, boolean enable, const uid_t *uids,
                                         size_t count)
{
    POC_LOG << "win_pfn_audio_enabled_callback: " << success << count;
    QString json = UidListResult("AudioEnable", success, enable, uids, count);
    POC_LOG << json;
    if (POc *p = Instance())
        p->RecvPocAudioEnabled(json);
}

void POc::win_pfn_switch_location(boolean success, boolean enable, const uid_t *uids, size_t count)
{
    POC_LOG << success << count;
    QString json = UidListResult("LocationEnabled", success, enable, uids, count);
    POC_LOG << json;
    if (POc *p = Instance())
        p->RecvPocSwitchLocation(json);
}

void POc::win_pfn_notify_get_watch_group(const gid_t *gids, int count, const gid_t *, int, int)
{
    POC_LOG << "win_pfn_notify_get_watch_group: " << count;
    QJsonObject o;
    o.insert(QStringLiteral("gid_count"), count);
    o.insert(QStringLiteral("Gids"), IntArray(gids, count));
    QString json = Compact(o);
    POC_LOG << json;
    if (POc *p = Instance())
        p->RecvPocGetWatchGroup(json);
}

void POc::win_pfn_notify_add_watch_group(const gid_t *added, int n_added, const gid_t *gids,
                                         int count, int)
{
    POC_LOG << "win_pfn_notify_add_watch_group: gid_count: add_gid_count: " << count << n_added;
    QJsonObject o;
    o.insert(QStringLiteral("add_gid_count"), n_added);
    o.insert(QStringLiteral("gid_count"), count);
    o.insert(QStringLiteral("AddGids"), IntArray(added, n_added));
    o.insert(QStringLiteral("Gids"), IntArray(gids, count));
    QString json = Compact(o);
    POC_LOG << json;
    if (POc *p = Instance())
        p->RecvPocAddWatchGroup(json);
}

void POc::win_pfn_notify_rm_watch_group(const gid_t *removed, int n_removed, const gid_t *gids,
                                        int count, int)
{
    POC_LOG << "win_pfn_notify_rm_watch_group: gid_count: rm_gid_count: " << count << n_removed;
    QJsonObject o;
    o.insert(QStringLiteral("rm_gid_count"), n_removed);
    o.insert(QStringLiteral("gid_count"), count);
    o.insert(QStringLiteral("RmGids"), IntArray(removed, n_removed));
    o.insert(QStringLiteral("Gids"), IntArray(gids, count));
    QString json = Compact(o);
    POC_LOG << json;
    if (POc *p = Instance())
        p->RecvPocRmWatchGroup(json);
}

void POc::win_pfn_start_watch_group(gid_t gid)
{
    POC_LOG << "win_pfn_start_watch_group: " << gid;
    if (POc *p = Instance())
        p->RecvTarvextWatchGroup(gid);
}

void POc::win_pfn_notify_message(const char *text)
{
    POC_LOG << "win_pfn_notify_message: " << Local(text);
}

void POc::win_pfn_notify_watchgrouplist()
{
    POC_LOG << "win_pfn_notify_watchgrouplist: ";
}

void POc::win_pfn_multimedia_message(const char *text)
{
    POC_LOG << "win_pfn_multimedia_message: " << Utf8(text);
}

void POc::win_pfn_external_message(const char *text)
{
    POC_LOG << "win_pfn_external_message: " << Utf8(text);
    if (POc *p = Instance())
        p->RecvPocExternalMessage(Utf8(text));
}

void POc::win_pfn_send_invite_ack(uint64_t invite_id, const uint32_t *invites, uint32_t count,
                                  int result)
{
    POC_LOG << "win_pfn_send_invite_ack: ";
    if (POc *p = Instance())
        p->RecvTarvexSendInviteAck(invite_id, const_cast<uint32_t *>(invites), count,
                                   static_cast<uint32_t>(result));
}

void POc::win_pfn_send_invite_timeout()
{
    POC_LOG << "win_pfn_send_invite_timeout: ";
    if (POc *p = Instance())
        p->RecvTarvexSendInviteTimeOut();
}

void POc::win_pfn_send_response_invite_ack(int result)
{
    POC_LOG << "win_pfn_send_response_invite_ack: ";
    if (POc *p = Instance())
        p->RecvTarvexSendResponseInviteAck(static_cast<uint32_t>(result));
}

void POc::win_pfn_send_response_invite_timeout()
{
    POC_LOG << "win_pfn_send_response_invite_timeout: ";
    if (POc *p = Instance())
        p->RecvTarvexSendResponseInviteTimeOut();
}

void POc::win_pfn_send_push_invite(uint64_t invite_id, uint32_t inviter, uint32_t with_audio,
                                   uint32_t with_video, const char *msg, uint32_t is_full_duplex)
{
    POC_LOG << "win_pfn_send_push_invite: ";
    if (POc *p = Instance())
        p->RecvTarvexSendPushInvite(invite_id, inviter, with_audio, with_video, Utf8(msg),
                                    is_full_duplex);
}

void POc::win_pfn_send_push_response_invite(uint64_t invite_id, uint32_t invitee, uint32_t accept,
                                            int reason)
{
    POC_LOG << "win_pfn_send_push_response_invite: ";
    if (POc *p = Instance())
        p->RecvTarvexSendResponsePushInvite(invite_id, invitee, accept,
                                            static_cast<uint32_t>(reason));
}

void POc::win_pfn_query_department()
{
    if (POc *p = Instance())
        p->RecvTarvexQueryDepartmentAck();
}

void POc::win_pfn_query_encryp_ack(int result)
{
    if (POc *p = Instance())
        p->RecvTarvexQueryEncrypAck(result);
    POC_LOG << "win_pfn_query_encryp_ack: result:" << result;
}

void POc::win_pfn_query_encryp_timeout()
{
    if (POc *p = Instance())
        p->RecvTarvexQueryEncrypTimeout();
    POC_LOG << "win_pfn_query_encryp_timeout: ";
}

void POc::win_pfn_on_sos_alarm(const sos_alarm_t *alarm)
{
    POC_LOG << "win_pfn_on_sos_alarm";
    if (!alarm)
        return;
    const sos_alarm_t &a = *alarm;
    POC_LOG << "uuid" << a.uuid << "status" << a.status << "gid" << a.gid;
    POC_LOG << "reporter" << a.reporter << "processer" << a.processer;
    POC_LOG << "start_time" << a.start_time << "process_time" << a.process_time << "close_time"
            << a.close_time;
    QJsonObject o;
    o.insert(QStringLiteral("uuid"), QString::number(a.uuid));
    o.insert(QStringLiteral("status"), a.status);
    o.insert(QStringLiteral("gid"), QString::number(a.gid));
    o.insert(QStringLiteral("reporter"), static_cast<int>(a.reporter));
    o.insert(QStringLiteral("processer"), static_cast<int>(a.processer));
    o.insert(QStringLiteral("start_time"), static_cast<int>(a.start_time));
    o.insert(QStringLiteral("process_time"), static_cast<int>(a.process_time));
    o.insert(QStringLiteral("close_time"), static_cast<int>(a.close_time));
    o.insert(QStringLiteral("longitude"), a.longitude);
    o.insert(QStringLiteral("latitude"), a.latitude);
    o.insert(QStringLiteral("altitude"), a.altitude);
    o.insert(QStringLiteral("location_type"), a.location_type);
    o.insert(QStringLiteral("speed"), a.speed);
    o.insert(QStringLiteral("dirang"), a.dirang);
    o.insert(QStringLiteral("satellites"), a.satellites);
    o.insert(QStringLiteral("resend"), static_cast<int>(a.resend));
    o.insert(QStringLiteral("source"), a.source);
    o.insert(QStringLiteral("accuracy"), a.accuracy);
    o.insert(QStringLiteral("address"), QString::fromUtf8(FieldText(a.address, sizeof(a.address))));
    o.insert(QStringLiteral("devicesn"),
             QString::fromUtf8(FieldText(a.devicesn, sizeof(a.devicesn))));
    o.insert(QStringLiteral("year"), static_cast<int>(a.year));
    o.insert(QStringLiteral("month"), static_cast<int>(a.month));
    o.insert(QStringLiteral("day"), static_cast<int>(a.day));
    o.insert(QStringLiteral("hour"), static_cast<int>(a.hour));
    o.insert(QStringLiteral("minute"), static_cast<int>(a.minute));
    o.insert(QStringLiteral("second"), static_cast<int>(a.second));
    o.insert(QStringLiteral("millisecond"), static_cast<int>(a.millisecond));
    QString json = Compact(o);
    POC_LOG << json;
    if (POc *p = Instance())
        p->RecvPocSOSALARM(json);
}

void POc::win_pfn_on_process_sos(int result)
{
    POC_LOG << "win_pfn_on_process_sos ret" << result;
    if (POc *p = Instance())
        p->RecvPocProcessSos(result);
}

void POc::win_pfn_on_close_sos(int result)
{
    POC_LOG << "win_pfn_on_close_sos ret" << result;
    if (POc *p = Instance())
        p->RecvPocClosesSos(result);
}

// Slots: each emits its signal.

void POc::RecvPocStatus(LIRKO_ONLINE_STATUS status)
{
    POC_LOG << "Poc: enter RecvPocStatus";
    emit SendPocStaSignal(status);
}

void POc::RecvPocError(const char *msg, int error)
{
    QString text = Utf8(msg);
    POC_LOG << "Poc: enter RecvPocerror" << text << error;
    emit SendPocErrorSignal(text, error);
}

void POc::RecvPocUserStartSpeak(uid_t uid, const char *name, gid_t gid, const char *group_name)
{
    emit SendUserStartSpeakInfoSignal(uid, Utf8(name), gid, Utf8(group_name));
}

void POc::RecvPocUserStopSpeak(uid_t uid, const char *name, gid_t gid, const char *group_name)
{
    emit SendUserStopSpeakInfoSignal(uid, Utf8(name), gid, Utf8(group_name));
}

void POc::RecvTarvextPlaying(uid_t uid, const char *name, gid_t gid, const char *group_name)
{
    emit SendStartPlayingInfoSignal(uid, Utf8(name), gid, Utf8(group_name));
}

void POc::RecvPocStopPlaying(uid_t uid, const char *name, gid_t gid, const char *group_name)
{
    emit SendStopPlayingInfoSignal(uid, Utf8(name), gid, Utf8(group_name));
}

void POc::RecvTarvextSpeak(gid_t gid, const char *group_name)
{
    emit SendStartSpeakInfoSignal(gid, Utf8(group_name));
}

void POc::RecvPocStopSpeak(gid_t gid, const char *group_name)
{
    emit SendStopSpeakInfoSignal(gid, Utf8(group_name));
}

void POc::RecvPocChangeName(boolean success)
{
    emit SendChangeNameSignal(success);
}

void POc::RecvPocChangePassword(boolean success)
{
    emit SendChangePasswordSignal(success);
}

void POc::RecvPocAudioEnabled(boolean audioenable)
{
    emit SendAudioEnableSignal(audioenable);
}

void POc::RecvPocUserChanged(size_t count, QString users)
{
    emit SendUserChangedSignal(count, users);
}

void POc::RecvCurrentGroupChanged(gid_t gid, QString group_name)
{
    emit SendCurrentGroupChangedSignal(gid, group_name);
}

void POc::RecvMemberChanged(QString memberchange)
{
    emit SendMemberChangedSignal(memberchange);
}

void POc::RecvMemberList(gid_t gid)
{
    emit SendMemberListSignal(gid);
}

void POc::RecvGroupList()
{
    emit SendGroupListSignal();
}

void POc::RecvStartRecordFile(gid_t gid, uid_t uid, QString starttime, QString filename)
{
    emit SendStartRecordFileSignal(gid, uid, starttime, filename);
}

void POc::RecvEndRecordFile(boolean success, gid_t gid, uid_t uid, QString finishtime,
                            QString filename)
{
    emit SendEndRecordSignal(success, gid, uid, finishtime, filename);
}

void POc::RecvPocPlayRecordFileEnd()
{
    emit SendPlayRecordFileEndSignal();
}

void POc::RecvPocdispatcher(QString dispatcher)
{
    emit SendDispatcherSignal(dispatcher);
}

void POc::RecvPocTakeMic(bool success)
{
    emit SendTakeMicSignal(success);
}

void POc::RecvPocAudioEnabled(QString audioenable)
{
    emit SendAudioEnabledSignal(audioenable);
}

void POc::RecvPocSwitchLocation(QString switchlocal)
{
    emit SendSwitchLocationSignal(switchlocal);
}

void POc::RecvPocGetWatchGroup(QString getwatchgroup)
{
    emit SendGetWatchGroupSignal(getwatchgroup);
}

void POc::RecvPocRmWatchGroup(QString rmwatchgroup)
{
    emit SendRmWatchGroupSignal(rmwatchgroup);
}

void POc::RecvPocAddWatchGroup(QString addwatchgroup)
{
    emit SendAddWatchGroupSignal(addwatchgroup);
}

void POc::RecvTarvextWatchGroup(gid_t gid)
{
    emit SendStartWatchGroupSignal(gid);
}

void POc::RecvTarvexSendInviteTimeOut()
{
    emit SendStarSendInviteTimeOut();
}

void POc::RecvTarvexSendResponseInviteTimeOut()
{
    emit SendStarSendResponseInviteTimeOut();
}

void POc::RecvTarvexSendInviteAck(uint64_t invite_id, uint32_t *invites, uint32_t invites_count,
                                  uint32_t result)
{
    POC_LOG << "RecvTarvexSendInviteAck-invites_count: " << invites_count;
    QJsonObject o;
    o.insert(QStringLiteral("invite_id"), QString::number(invite_id));
    o.insert(QStringLiteral("invites_count"), static_cast<int>(invites_count));
    o.insert(QStringLiteral("invites"), IntArray(invites, invites_count));
    o.insert(QStringLiteral("result"), static_cast<int>(result));
    QString json = Compact(o);
    POC_LOG << json;
    emit SendStarSendInviteAck(json);
}

void POc::RecvTarvexSendResponseInviteAck(uint32_t result)
{
    emit SendStarSendResponseInviteAck(result);
}

void POc::RecvTarvexSendPushInvite(uint64_t invite_id, uint32_t inviter, uint32_t with_audio,
                                   uint32_t with_video, QString msg, uint32_t is_full_duplex)
{
    emit SendStarSendPushInvite(invite_id, inviter, with_audio, with_video, msg, is_full_duplex);
}

void POc::RecvTarvexSendResponsePushInvite(uint64_t invite_id, uint32_t invitee, uint32_t accept,
                                           uint32_t reason)
{
    emit SendStarSendPushResponseInvite(invite_id, invitee, accept, reason);
}

void POc::RecvTarvexQueryDepartmentAck()
{
    emit sendQueryDepartmentack();
}

void POc::RecvTarvexQueryEncrypAck(int result)
{
    emit sendQueryEncrypAck(result);
}

void POc::RecvTarvexQueryEncrypTimeout()
{
    emit sendQueryEncrypTimeout();
}

void POc::RecvPocSOSALARM(QString Qmessage)
{
    emit sendSOSALARM(Qmessage);
}

void POc::RecvPocProcessSos(int result)
{
    emit sendProcessSOs(result);
}

void POc::RecvPocClosesSos(int result)
{
    emit sendCloseSOs(result);
}

void POc::RecvPocSendCallback(bool success)
{
    emit SendSendCallbackSignal(success);
}

void POc::RecvPocBroadcastPlayAsyncStop()
{
    emit SendBroadcastPlayAsyncStopSignal();
}

void POc::RecvPocExternalMessage(QString message)
{
    emit SendExternalMessageSignal(message);
}
