// The engine's callbacks as Qt signals. The engine calls plain functions
// without a user pointer on its own thread; each static callback here copies
// what it was handed (texts, arrays, records) into Qt values or compact JSON
// and emits a signal on the one instance in m_gPoc, so that queued
// connections carry everything into the GUI thread.
#pragma once

#include "bridgetypes.h"
#include "lirko_win.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>

class POc : public QObject
{
    Q_OBJECT

  public:
    explicit POc(QObject *parent = nullptr);
    // Clears m_gPoc when it points here: a callback that still arrives then
    // finds no instance and does nothing. The engine must be unloaded first
    // for that to be race-free.
    ~POc() override;

    // Registers every callback with the engine; once, after the engine loaded.
    static void InitCallbacks();
    // Plays the recorded broadcast back; its end arrives as a signal.
    int sendPlayRecordBroadcastAudio();

    // The instance the callbacks reach: the first one made.
    static std::atomic<POc *> m_gPoc;

    static void win_pfn_notify_online_status_cb(LIRKO_ONLINE_STATUS status);
    static void win_pfn_notify_error_cb(const char *msg, int error);
    static void win_pfn_notify_user_start_speak_cb(uid_t uid, const char *name, gid_t gid,
                                                   const char *group_name);
    static void win_pfn_notify_user_stop_speak_cb(uid_t uid, const char *name, gid_t gid,
                                                  const char *group_name);
    static void win_pfn_notify_start_playing_sound(uid_t uid, const char *name, gid_t gid,
                                                   const char *group_name);
    static void win_pfn_notify_stop_playing_sound(uid_t uid, const char *name, gid_t gid,
                                                  const char *group_name);
    static void win_pfn_notify_start_speak_cb(gid_t gid, const char *group_name);
    static void win_pfn_notify_stop_speak_cb(gid_t gid, const char *group_name);
    static void win_pfn_notify_current_group(gid_t gid, const char *group_name);
    static void win_pfn_notify_change_name(boolean success);
    static void win_pfn_notify_change_password(boolean success);
    static void win_pfn_notify_audio_enable(boolean success);
    static void win_pfn_notify_send_callback(boolean success);
    static void win_pfn_notify_takemic(boolean success, const uid_t *uids, size_t count);
    static void win_pfn_notify_memberlist(gid_t gid);
    static void win_pfn_notify_grouplist();
    static void win_pfn_notify_play_recordfile_end();
    static void win_pfn_broadcast_play_async_stop();
    static void win_pfn_notify_start_recordfile(gid_t gid, uid_t uid, const char *starttime,
                                                const char *filename);
    static void win_pfn_notify_end_recordfile(boolean success, gid_t gid, uid_t uid,
                                              const char *finishtime, const char *filename);
    static void win_pfn_notify_user_change(size_t count, const win_user_t *users);
    static void win_pfn_notify_members_changed(gid_t gid, const uid_t *updated, uint32_t n_updated,
                                               const uid_t *removed, uint32_t n_removed,
                                               const uid_t *joined, uint32_t n_joined,
                                               const uid_t *left, uint32_t n_left);
    static void win_pfn_notify_dispatcher(boolean success, boolean has_gid, gid_t gid,
                                          const uid_t *uids, size_t count);
    static void win_pfn_audio_enabled_callback(boolean success, boolean enable, const uid_t *uids,
                                               size_t count);
    static void win_pfn_switch_location(boolean success, boolean enable, const uid_t *uids,
                                        size_t count);
    static void win_pfn_notify_get_watch_group(const gid_t *gids, int count, const gid_t *unused,
                                               int n_unused, int result);
    static void win_pfn_notify_add_watch_group(const gid_t *added, int n_added, const gid_t *gids,
                                               int count, int result);
    static void win_pfn_notify_rm_watch_group(const gid_t *removed, int n_removed,
                                              const gid_t *gids, int count, int result);
    static void win_pfn_start_watch_group(gid_t gid);
    static void win_pfn_notify_message(const char *text);
    static void win_pfn_notify_watchgrouplist();
    static void win_pfn_multimedia_message(const char *text);
    static void win_pfn_external_message(const char *text);
    static void win_pfn_send_invite_ack(uint64_t invite_id, const uint32_t *invites, uint32_t count,
                                        int result);
    static void win_pfn_send_invite_timeout();
    static void win_pfn_send_response_invite_ack(int result);
    static void win_pfn_send_response_invite_timeout();
    static void win_pfn_send_push_invite(uint64_t invite_id, uint32_t inviter, uint32_t with_audio,
                                         uint32_t with_video, const char *msg,
                                         uint32_t is_full_duplex);
    static void win_pfn_send_push_response_invite(uint64_t invite_id, uint32_t invitee,
                                                  uint32_t accept, int reason);
    static void win_pfn_query_department();
    static void win_pfn_query_encryp_ack(int result);
    static void win_pfn_query_encryp_timeout();
    static void win_pfn_on_sos_alarm(const sos_alarm_t *alarm);
    static void win_pfn_on_process_sos(int result);
    static void win_pfn_on_close_sos(int result);

  signals:
    void SendPocStaSignal(LIRKO_ONLINE_STATUS status);
    void SendPocErrorSignal(QString msg, int error);
    void SendUserStartSpeakInfoSignal(uid_t uid, QString name, gid_t gid, QString group_name);
    void SendUserStopSpeakInfoSignal(uid_t uid, QString name, gid_t giStopd, QString group_name);
    void SendStartPlayingInfoSignal(uid_t uid, QString name, gid_t gid, QString group_name);
    void SendStopPlayingInfoSignal(uid_t uid, QString name, gid_t giStopd, QString group_name);
    void SendStartSpeakInfoSignal(gid_t gid, QString group_name);
    void SendStopSpeakInfoSignal(gid_t gid, QString group_name);
    void SendChangeNameSignal(boolean success);
    void SendChangePasswordSignal(boolean success);
    void SendAudioEnableSignal(boolean success);
    void SendUserChangedSignal(size_t count, QString users);
    void SendCurrentGroupChangedSignal(gid_t gid, QString group_name);
    void SendMemberChangedSignal(QString memberchange);
    void SendMemberListSignal(gid_t gid);
    void SendGroupListSignal();
    void SendStartRecordFileSignal(gid_t gid, uid_t uid, QString starttime, QString filename);
    void SendEndRecordSignal(boolean success, gid_t gid, uid_t uid, QString finishtime,
                             QString filename);
    void SendPlayRecordFileEndSignal();
    void SendDispatcherSignal(QString dispatcher);
    void SendTakeMicSignal(bool success);
    void SendAudioEnabledSignal(QString audioenable);
    void SendSwitchLocationSignal(QString switchlocal);
    void SendGetWatchGroupSignal(QString getwatchgroup);
    void SendRmWatchGroupSignal(QString rmwatchgroup);
    void SendAddWatchGroupSignal(QString addwatchgroup);
    void SendStartWatchGroupSignal(gid_t gid);
    void SendStarSendInviteTimeOut();
    void SendStarSendResponseInviteTimeOut();
    void SendStarSendInviteAck(QString message);
    void SendStarSendResponseInviteAck(uint32_t result);
    void SendStarSendPushInvite(uint64_t invite_id, uint32_t inviter, uint32_t with_audio,
                                uint32_t with_video, QString msg, uint32_t is_full_duplex);
    void SendStarSendPushResponseInvite(uint64_t invite_id, uint32_t invitee, uint32_t accept,
                                        uint32_t reason);
    void sendQueryDepartmentack();
    void sendQueryEncrypAck(int result);
    void sendQueryEncrypTimeout();
    void sendSOSALARM(QString message);
    void sendProcessSOs(int result);
    void sendCloseSOs(int result);
    void SendSendCallbackSignal(bool success);
    void SendBroadcastPlayAsyncStopSignal();
    void SendExternalMessageSignal(QString message);

  public slots:
    void RecvPocStatus(LIRKO_ONLINE_STATUS status);
    void RecvPocError(const char *msg, int error);
    void RecvPocUserStartSpeak(uid_t uid, const char *name, gid_t gid, const char *group_name);
    void RecvPocUserStopSpeak(uid_t uid, const char *name, gid_t gid, const char *group_name);
    void RecvTarvextPlaying(uid_t uid, const char *name, gid_t gid, const char *group_name);
    void RecvPocStopPlaying(uid_t uid, const char *name, gid_t gid, const char *group_name);
    void RecvTarvextSpeak(gid_t gid, const char *group_name);
    void RecvPocStopSpeak(gid_t gid, const char *group_name);
    void RecvPocChangeName(boolean success);
    void RecvPocChangePassword(boolean success);
    void RecvPocAudioEnabled(boolean audioenable);
    void RecvPocUserChanged(size_t count, QString users);
    void RecvCurrentGroupChanged(gid_t gid, QString group_name);
    void RecvMemberChanged(QString memberchange);
    void RecvMemberList(gid_t gid);
    void RecvGroupList();
    void RecvStartRecordFile(gid_t gid, uid_t uid, QString starttime, QString filename);
    void RecvEndRecordFile(boolean success, gid_t gid, uid_t uid, QString finishtime,
                           QString filename);
    void RecvPocPlayRecordFileEnd();
    void RecvPocdispatcher(QString dispatcher);
    void RecvPocTakeMic(bool success);
    void RecvPocAudioEnabled(QString audioenable);
    void RecvPocSwitchLocation(QString switchlocal);
    void RecvPocGetWatchGroup(QString getwatchgroup);
    void RecvPocRmWatchGroup(QString rmwatchgroup);
    void RecvPocAddWatchGroup(QString addwatchgroup);
    void RecvTarvextWatchGroup(gid_t gid);
    void RecvTarvexSendInviteTimeOut();
    void RecvTarvexSendResponseInviteTimeOut();
    void RecvTarvexSendInviteAck(uint64_t invite_id, uint32_t *invites, uint32_t invites_count,
                                 uint32_t result);
    void RecvTarvexSendResponseInviteAck(uint32_t result);
    void RecvTarvexSendPushInvite(uint64_t invite_id, uint32_t inviter, uint32_t with_audio,
                                  uint32_t with_video, QString msg, uint32_t is_full_duplex);
    void RecvTarvexSendResponsePushInvite(uint64_t invite_id, uint32_t invitee, uint32_t accept,
                                          uint32_t reason);
    void RecvTarvexQueryDepartmentAck();
    void RecvTarvexQueryEncrypAck(int result);
    void RecvTarvexQueryEncrypTimeout();
    void RecvPocSOSALARM(QString Qmessage);
    void RecvPocProcessSos(int result);
    void RecvPocClosesSos(int result);
    void RecvPocSendCallback(bool success);
    void RecvPocBroadcastPlayAsyncStop();
    void RecvPocExternalMessage(QString message);
};
