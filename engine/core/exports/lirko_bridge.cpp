#include "hal_log.h"
#include "lirko.h"
#include "lirko_notify.h"
#include "lirko_records.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CB(engine) (&(engine)->callbacks)

// Names reach the application as zeroed 64-byte copies: at most 63 bytes and
// the terminator; a NULL name arrives empty.
static void copy_name(char dst[LIRKO_NAME_SIZE], const char *src)
{
    memset(dst, 0, LIRKO_NAME_SIZE);
    lirko_copy_text(dst, LIRKO_NAME_SIZE, src);
}

static void bridge_on_message(lirko_t *engine, void *, const char *text)
{
    if (!CB(engine)->message)
        return;
    char buf[LIRKO_NAME_SIZE];
    copy_name(buf, text);
    CB(engine)->message(buf);
}

static void bridge_on_error(lirko_t *engine, void *, const char *message, int code)
{
    if (!CB(engine)->error)
        return;
    char buf[LIRKO_NAME_SIZE];
    copy_name(buf, message);
    CB(engine)->error(buf, code);
}

static void bridge_on_online_status_changed(lirko_t *engine, void *, LIRKO_ONLINE_STATUS state)
{
    if (CB(engine)->online_status)
        CB(engine)->online_status(state);
}

static void bridge_on_audio_enabled(lirko_t *engine, void *, uint8_t enabled)
{
    lirko_bool_cb cb = CB(engine)->audio_enabled;
    if (!cb)
        return;
    const void *p;
    memcpy(&p, &cb, sizeof(p));
    hal_log_output(engine->log, HAL_LOG_ERROR, "notify", "notify_audio_enable  cb %p", p);
    cb(enabled);
}

static void bridge_on_name_changed(lirko_t *engine, void *, uint8_t success)
{
    if (CB(engine)->change_name)
        CB(engine)->change_name(success);
}

static void bridge_on_password_changed(lirko_t *engine, void *, uint8_t success)
{
    if (CB(engine)->change_password)
        CB(engine)->change_password(success);
}

static void bridge_on_memberlist_changed(lirko_t *engine, void *, gid_t gid)
{
    if (CB(engine)->memberlist)
        CB(engine)->memberlist(gid);
}

static void bridge_on_grouplist_changed(lirko_t *engine, void *)
{
    if (!CB(engine)->grouplist)
        return;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, "notify", "notify_grouplist");
    CB(engine)->grouplist();
}

static void call_speak_info(lirko_speak_info_cb cb, uid_t uid, const char *name, gid_t gid,
                            const char *group_name)
{
    if (!cb)
        return;
    char n[LIRKO_NAME_SIZE], g[LIRKO_NAME_SIZE];
    copy_name(n, name);
    copy_name(g, group_name);
    cb(uid, n, gid, g);
}

static void bridge_on_user_start_speak(lirko_t *engine, void *, uid_t uid, const char *name,
                                       gid_t gid, const char *group_name)
{
    call_speak_info(CB(engine)->user_start_speak, uid, name, gid, group_name);
}

static void bridge_on_user_stop_speak(lirko_t *engine, void *, uid_t uid, const char *name,
                                      gid_t gid, const char *group_name)
{
    call_speak_info(CB(engine)->user_stop_speak, uid, name, gid, group_name);
}

static void bridge_on_start_playing_sound(lirko_t *engine, void *, uid_t uid, const char *name,
                                          gid_t gid, const char *group_name)
{
    call_speak_info(CB(engine)->start_playing, uid, name, gid, group_name);
}

static void bridge_on_stop_playing_sound(lirko_t *engine, void *, uid_t uid, const char *name,
                                         gid_t gid, const char *group_name)
{
    call_speak_info(CB(engine)->stop_playing, uid, name, gid, group_name);
}

static void call_group_info(lirko_group_info_cb cb, gid_t gid, const char *group_name)
{
    if (!cb)
        return;
    char g[LIRKO_NAME_SIZE];
    copy_name(g, group_name);
    cb(gid, g);
}

static void bridge_on_start_speak(lirko_t *engine, void *, gid_t gid, const char *group_name)
{
    call_group_info(CB(engine)->start_speak, gid, group_name);
}

static void bridge_on_stop_speak(lirko_t *engine, void *, gid_t gid, const char *group_name)
{
    call_group_info(CB(engine)->stop_speak, gid, group_name);
}

static void bridge_on_current_group(lirko_t *engine, void *, gid_t gid, const char *group_name)
{
    call_group_info(CB(engine)->current_group, gid, group_name);
}

static void bridge_on_users_changed(lirko_t *engine, void *, size_t count, cache_user *const *users)
{
    lirko_users_changed_cb cb = CB(engine)->users_changed;
    if (!cb || !users)
        return;
    win_user_t *records = (win_user_t *)calloc(count ? count : 1, sizeof(*records));
    if (!records)
        return;
    size_t i = 0;
    for (; i < count; i++) {
        if (!users[i])
            break;
        lirko_fill_win_user(&records[i], users[i]);
        records[i].sort_weight = 0;
    }
    // A missing user means the list is not what the event announced: report
    // nothing rather than a record of zeros.
    if (i == count)
        cb(count, records);
    free(records);
}

static void bridge_on_watchgroup_changed(lirko_t *engine, void *)
{
    if (CB(engine)->watchgrouplist)
        CB(engine)->watchgrouplist();
}

static void bridge_on_members_changed(lirko_t *engine, void *, gid_t gid, const uid_t *updated,
                                      uint32_t n_updated, const uid_t *removed, uint32_t n_removed,
                                      const uid_t *joined, uint32_t n_joined, const uid_t *left,
                                      uint32_t n_left)
{
    lirko_members_changed_cb cb = CB(engine)->member_changed;
    if (!cb || (!n_updated && !n_removed && !n_joined && !n_left))
        return;
    cb(gid, n_updated ? updated : NULL, n_updated, n_removed ? removed : NULL, n_removed,
       n_joined ? joined : NULL, n_joined, n_left ? left : NULL, n_left);
}

static void bridge_on_roles_changed(lirko_t *engine, void *, gid_t gid)
{
    if (CB(engine)->roles_changed)
        CB(engine)->roles_changed(gid);
}

static void bridge_on_start_record_voice(lirko_t *engine, void *, gid_t gid, uid_t uid,
                                         const char *start_time, const char *file_name)
{
    if (CB(engine)->start_record)
        CB(engine)->start_record(gid, uid, start_time, file_name);
}

static void bridge_on_stop_record_voice(lirko_t *engine, void *, uint8_t success, gid_t gid,
                                        uid_t uid, const char *time, const char *file_name)
{
    if (CB(engine)->finish_record)
        CB(engine)->finish_record(success, gid, uid, time, file_name);
}

static void bridge_on_stop_play_recordfile(lirko_t *engine, void *)
{
    if (CB(engine)->play_recordfile_end)
        CB(engine)->play_recordfile_end();
}

static void bridge_on_audio_enabled_call(lirko_t *engine, void *, uint8_t success, uint8_t enabled,
                                         const uid_t *uids, size_t count)
{
    if (CB(engine)->audio_enabledcall)
        CB(engine)->audio_enabledcall(success, enabled, uids, count);
}

static void bridge_on_dispatcher(lirko_t *engine, void *, uint8_t success, uint8_t has_gid,
                                 gid_t gid, const uid_t *uids, size_t count)
{
    if (CB(engine)->dispatcher)
        CB(engine)->dispatcher(success, has_gid, gid, uids, count);
}

static void bridge_on_take_mic(lirko_t *engine, void *, uint8_t success, const uid_t *uids,
                               size_t count)
{
    if (CB(engine)->take_mic)
        CB(engine)->take_mic(success, uids, count);
}

static void bridge_on_switch_location(lirko_t *engine, void *, uint8_t success, uint8_t enabled,
                                      const uid_t *uids, size_t count)
{
    if (CB(engine)->switch_location)
        CB(engine)->switch_location(success, enabled, uids, count);
}

static void bridge_on_send(lirko_t *engine, void *, uint8_t success)
{
    if (CB(engine)->send)
        CB(engine)->send(success);
}

static void bridge_on_send_play_data(lirko_t *engine, void *, const uint8_t *data, int length)
{
    lirko_data_cb cb = CB(engine)->user_voice_data;
    if (!cb)
        return;
    // 16 bytes per line as "%02X ": 48 characters and the terminator.
    char line[LIRKO_NAME_SIZE];
    size_t used = 0;
    line[0] = '\0';
    for (int i = 0; data && i < length; i++) {
        snprintf(line + used, sizeof(line) - used, "%02X ", data[i]);
        used += 3;
        if (used == 48) {
            hal_log_output(engine->log, HAL_LOG_ERROR, "notify", "--%s", line);
            used = 0;
            line[0] = '\0';
        }
    }
    hal_log_output(engine->log, HAL_LOG_ERROR, "notify", "--%s", line);
    cb(data, length);
}

static void bridge_on_leave_group(lirko_t *engine, void *, gid_t, const char *)
{
    hal_log_output(engine->log, HAL_LOG_VERBOSE, "notify", "notify_leave_group");
}

static void bridge_on_multimedia_message(lirko_t *engine, void *, const char *text)
{
    if (CB(engine)->multimedia_message)
        CB(engine)->multimedia_message(text);
}

static void bridge_on_external_message(lirko_t *engine, void *, const char *text)
{
    if (CB(engine)->external_message)
        CB(engine)->external_message(text);
}

static void bridge_on_get_watch_group(lirko_t *engine, void *, const gid_t *gids, int count)
{
    lirko_watch_group_list_cb cb = CB(engine)->get_watch_group;
    if (!cb)
        return;
    const void *p;
    memcpy(&p, &cb, sizeof(p));
    hal_log_output(engine->log, HAL_LOG_ERROR, "notify", "notify_get_watch_group count %d cb %p",
                   count, p);
    cb(gids, count, NULL, 0, 0);
}

static void bridge_on_rm_watch_group(lirko_t *engine, void *, const gid_t *changed, int n_changed,
                                     const gid_t *gids, int count, int result)
{
    if (CB(engine)->rm_watch_group)
        CB(engine)->rm_watch_group(changed, n_changed, gids, count, result);
}

static void bridge_on_add_watch_group(lirko_t *engine, void *, const gid_t *changed, int n_changed,
                                      const gid_t *gids, int count, int result)
{
    if (CB(engine)->add_watch_group)
        CB(engine)->add_watch_group(changed, n_changed, gids, count, result);
}

static void bridge_on_start_watch_group(lirko_t *engine, void *, gid_t gid)
{
    if (CB(engine)->start_watch_group)
        CB(engine)->start_watch_group(gid);
}

static void bridge_on_send_invite_timeout(lirko_t *engine)
{
    if (CB(engine)->send_invite_timeout)
        CB(engine)->send_invite_timeout();
}

static void bridge_on_send_response_invite_timeout(lirko_t *engine)
{
    if (CB(engine)->send_response_invite_timeout)
        CB(engine)->send_response_invite_timeout();
}

static void bridge_on_send_invite_ack(lirko_t *engine, uint64_t invite_id, const uint32_t *invitees,
                                      uint32_t count, int result)
{
    if (CB(engine)->send_invite_ack)
        CB(engine)->send_invite_ack(invite_id, invitees, count, result);
}

static void bridge_on_send_response_invite_ack(lirko_t *engine, int result)
{
    if (CB(engine)->send_response_invite_ack)
        CB(engine)->send_response_invite_ack(result);
}

static void bridge_on_push_invite(lirko_t *engine, uint64_t invite_id, uint32_t inviter,
                                  uint32_t with_audio, uint32_t with_video, const char *msg,
                                  uint32_t is_full_duplex)
{
    if (CB(engine)->send_push_invite)
        CB(engine)->send_push_invite(invite_id, inviter, with_audio, with_video, msg,
                                     is_full_duplex);
}

static void bridge_on_push_response_invite(lirko_t *engine, uint64_t invite_id, uint32_t invitee,
                                           uint32_t accept, int reason)
{
    if (CB(engine)->send_push_response_invite)
        CB(engine)->send_push_response_invite(invite_id, invitee, accept, reason);
}

static void bridge_on_query_department(lirko_t *engine)
{
    if (CB(engine)->query_department_tree)
        CB(engine)->query_department_tree();
}

static void bridge_on_send_encryp_timeout(lirko_t *engine)
{
    if (CB(engine)->send_encryp_timeout)
        CB(engine)->send_encryp_timeout();
}

static void bridge_on_send_encryp_ack(lirko_t *engine, int result)
{
    if (CB(engine)->send_encryp_ack)
        CB(engine)->send_encryp_ack(result);
}

static void bridge_on_sos_alarm(lirko_t *engine, const sos_alarm_t *alarm)
{
    if (CB(engine)->sos_alarm)
        CB(engine)->sos_alarm(alarm);
}

static void bridge_on_process_sos(lirko_t *engine, int result)
{
    if (CB(engine)->process_sos)
        CB(engine)->process_sos(result);
}

static void bridge_on_close_sos(lirko_t *engine, int result)
{
    if (CB(engine)->close_sos)
        CB(engine)->close_sos(result);
}

static void bridge_on_single_call(lirko_t *engine, void *, uint32_t result)
{
    if (CB(engine)->single_call)
        CB(engine)->single_call((int)result);
}

// The reports that reach no application callback. One empty function per
// slot type, so no slot is ever called through a pointer of another type.
static void bridge_ignore_data(lirko_t *, void *, void *) {}
static void bridge_ignore_code(lirko_t *, void *, uint32_t) {}
static void bridge_ignore(lirko_t *, void *) {}
static void bridge_ignore_code_data(lirko_t *, void *, uint32_t, void *) {}
static void bridge_ignore_status(lirko_t *, void *, uint32_t, uint8_t) {}

static const lirko_notify_t g_bridge_table = {
    bridge_on_message,
    bridge_on_error,
    bridge_on_online_status_changed,
    bridge_on_audio_enabled,
    bridge_ignore_data,
    bridge_ignore_code,
    bridge_ignore_code,
    bridge_on_name_changed,
    bridge_on_password_changed,
    bridge_on_memberlist_changed,
    bridge_on_grouplist_changed,
    bridge_ignore,
    bridge_ignore_code_data,
    bridge_on_user_start_speak,
    bridge_on_user_stop_speak,
    bridge_on_start_speak,
    bridge_on_stop_speak,
    bridge_on_current_group,
    bridge_ignore,
    bridge_on_users_changed,
    bridge_on_watchgroup_changed,
    bridge_on_start_playing_sound,
    bridge_on_stop_playing_sound,
    bridge_on_members_changed,
    bridge_on_roles_changed,
    bridge_on_start_record_voice,
    bridge_on_stop_record_voice,
    bridge_on_stop_play_recordfile,
    bridge_on_audio_enabled_call,
    bridge_on_dispatcher,
    bridge_on_take_mic,
    bridge_on_switch_location,
    bridge_on_send,
    bridge_on_send_play_data,
    bridge_ignore_status,
    bridge_on_leave_group,
    bridge_on_multimedia_message,
    bridge_on_external_message,
    bridge_on_get_watch_group,
    bridge_on_rm_watch_group,
    bridge_on_add_watch_group,
    bridge_on_start_watch_group,
    bridge_on_send_invite_timeout,
    bridge_on_send_response_invite_timeout,
    bridge_on_send_invite_ack,
    bridge_on_send_response_invite_ack,
    bridge_on_push_invite,
    bridge_on_push_response_invite,
    bridge_on_query_department,
    bridge_on_send_encryp_timeout,
    bridge_on_send_encryp_ack,
    bridge_on_sos_alarm,
    bridge_on_process_sos,
    bridge_on_close_sos,
    bridge_on_single_call,
    NULL,
};

const lirko_notify_t *lirko_notify_bridge_table(void)
{
    return &g_bridge_table;
}
