#include "lirko_handlers.h"

#include "broadcast.h"
#include "cache.h"
#include "connection.h"
#include "dispatcher.h"
#include "focus_manager.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_notify.h"
#include "lirko_records.h"
#include "post_util.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "ptt_serv.pb-c.h"
#include "sessionset.h"
#include "sos.pb-c.h"

#include <stdlib.h>
#include <string.h>

static const char *TAG = "lirko";

#define HANDLER(name)                                                                              \
    static void name(const ProtobufCMessage *message, void *arg, dispatcher_handler *handler)
#define HANDLER_ARGS(type)                                                                         \
    (void)handler;                                                                                 \
    lirko_t *engine = (lirko_t *)arg;                                                              \
    const type *msg = (const type *)message

static const char *or_empty(const char *s)
{
    return s ? s : "";
}

// --- reply timers -------------------------------------------------------------

void lirko_send_invite_time_cb(hal_looper *looper, double, void *arg)
{
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s", "lirko_send_invite_time_cb");
    hal_looper_cancel_timer(looper, lirko_send_invite_time_cb, arg);
    LIRKO_NOTIFY_NO_DATA(engine, on_send_invite_timeout);
}

void lirko_send_response_invite_time_cb(hal_looper *looper, double, void *arg)
{
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s", "lirko_send_response_invite_time_cb");
    hal_looper_cancel_timer(looper, lirko_send_response_invite_time_cb, arg);
    LIRKO_NOTIFY_NO_DATA(engine, on_send_response_invite_timeout);
}

void lirko_send_set_encryp_time_cb(hal_looper *looper, double, void *arg)
{
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s", "lirko_send_set_encryp_time_cb");
    hal_looper_cancel_timer(looper, lirko_send_set_encryp_time_cb, arg);
    LIRKO_NOTIFY_NO_DATA(engine, on_send_encryp_timeout);
}

void lirko_cancel_reply_timers(lirko_t *engine)
{
    if (!engine || !engine->looper)
        return;
    hal_looper_cancel_timer(engine->looper, lirko_send_invite_time_cb, engine);
    hal_looper_cancel_timer(engine->looper, lirko_send_response_invite_time_cb, engine);
    hal_looper_cancel_timer(engine->looper, lirko_send_set_encryp_time_cb, engine);
}

// --- handlers -------------------------------------------------------------------

HANDLER(on_recv_leave_group_ack)
{
    HANDLER_ARGS(Ptt__Rr__LeaveGroupAck);
    (void)msg;
    engine->last_gid = 0;
    sessionset_set_last_gid(engine->sessionset, 0);
    lirko_cancel_member_query(engine);
}

int lirko_set_pending_password(lirko_t *engine, const char *password)
{
    if (!engine)
        return -1;
    char *copy = NULL;
    if (password && !(copy = strdup(password)))
        return -1;
    free(engine->pending_password);
    engine->pending_password = copy;
    return 0;
}

HANDLER(on_recv_changepassword_ack_message)
{
    HANDLER_ARGS(Ptt__Rr__ChangePasswordAck);
    const char *pending = engine->pending_password;
    if (msg->result == 0 && !pending) {
        hal_log_output(engine->log, HAL_LOG_ERROR, TAG,
                       "lirko on_recv_changepassword_ack_message, no password change pending");
    } else if (msg->result == 0 && engine->ini) {
        hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                       "lirko on_recv_changepassword_ack_message, password length:%zu",
                       strlen(pending));
        // A saved password marked as encrypted is sent as it is stored, so it
        // must be stored as the digest the login would have sent.
        const char *encrypted = hal_ini_find(engine->ini, "account", "encrypted");
        char digest[33];
        const char *stored = pending;
        if (encrypted && atoi(encrypted) != 0 && md5_hex_string(pending, digest) == 0)
            stored = digest;
        hal_ini_replace(engine->ini, "account", "password", stored);
        hal_ini_save(engine->ini);
    }
    lirko_set_pending_password(engine, NULL);
    lirko_event_post(engine, "password_changed", msg->result == 0, 0);
}

HANDLER(on_recv_makecontacts_ack_message)
{
    HANDLER_ARGS(Ptt__Rr__MakeContactsAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko on_recv_makecontacts_ack_message");
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "result:%d", msg->result);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s",
                   msg->result < 0 ? "make contact failed" : "make contact success");
}

HANDLER(on_recv_removecontacts_ack_message)
{
    HANDLER_ARGS(Ptt__Rr__RemoveContactsAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko on_recv_removecontacts_ack_message");
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "result:%d", msg->result);
}

HANDLER(on_recv_contactsresponse_ack_message)
{
    HANDLER_ARGS(Ptt__Rr__MakeContactsResponseAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko on_recv_contactsresponse_ack_message");
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "result:%d", msg->result);
}

HANDLER(on_recv_contactship_asked)
{
    (void)message;
    (void)arg;
    (void)handler;
}

HANDLER(on_recv_multimedia_message)
{
    HANDLER_ARGS(Ptt__Serv__MultimediaMessage);
    if (msg->msg)
        LIRKO_NOTIFY(engine, on_multimedia_message, msg->msg);
}

HANDLER(on_recv_external_serv_msg)
{
    HANDLER_ARGS(Ptt__Serv__ExternalServMsg);
    if (msg->msg)
        LIRKO_NOTIFY(engine, on_external_message, msg->msg);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s msg:%s", "on_recv_external_serv_msg",
                   or_empty(msg->msg));
}

HANDLER(on_recv_watch_groupack)
{
    HANDLER_ARGS(Ptt__Rr__WatchGroupAck);
    const char *name = "on_recv_watch_groupack";
    uint32_t gid = msg->gid;
    hal_log_output(engine->log, HAL_LOG_DEBUG, TAG, "%s gid %d, result %d", name, (int)gid,
                   msg->result);
    cache_group *group = cache_get_group_by_gid(engine->cache, gid);
    win_group_t *dept_group = group ? NULL : cache_get_department_group_by_gid(engine->cache, gid);
    if (!group && !dept_group)
        return;
    hal_log_output(engine->log, HAL_LOG_DEBUG, TAG, "%s gid %d", name, (int)gid);
    if (msg->group) {
        if (msg->group->has_ip) {
            if (group)
                group->ip = msg->group->ip;
            else
                dept_group->ip = msg->group->ip;
        }
        if (msg->group->has_port) {
            if (group)
                group->port = (uint16_t)msg->group->port;
            else
                dept_group->port = (uint16_t)msg->group->port;
        }
    }
    // A group known only from the department tree is watched through a
    // temporary record of its address.
    cache_group from_department = {};
    if (!group) {
        from_department.type = dept_group->type;
        from_department.gid = dept_group->gid;
        from_department.name = dept_group->name;
        from_department.prior = dept_group->prior;
        from_department.ip = dept_group->ip;
        from_department.port = dept_group->port;
        from_department.sort_weight = dept_group->sort_weight;
        group = &from_department;
    }
    sessionset_start_watch_group(engine->sessionset, group);
}

HANDLER(on_recv_get_watch_groupack)
{
    HANDLER_ARGS(Ptt__Rr__GetWatchGroupAck);
    for (size_t i = 0; i < msg->n_gids; i++)
        hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                       "on_recv_get_watch_groupack, n_gids %d, result %d, gid %d", (int)msg->n_gids,
                       msg->result, (int)msg->gids[i]);
    LIRKO_NOTIFY(engine, on_get_watch_group, msg->gids, (int)msg->n_gids);
}

HANDLER(on_recv_add_watch_groupack)
{
    HANDLER_ARGS(Ptt__Rr__AddWatchGroupAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_add_watch_groupack");
    LIRKO_NOTIFY(engine, on_add_watch_group, msg->add_gids, (int)msg->n_add_gids, msg->gids,
                 (int)msg->n_gids, msg->result);
}

HANDLER(on_recv_rm_watch_groupack)
{
    HANDLER_ARGS(Ptt__Rr__RemoveWatchGroupAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_rm_watch_groupack");
    LIRKO_NOTIFY(engine, on_rm_watch_group, msg->rm_gids, (int)msg->n_rm_gids, msg->gids,
                 (int)msg->n_gids, msg->result);
}

HANDLER(on_recv_InviteAck)
{
    HANDLER_ARGS(Ptt__Rr__InviteAck);
    hal_looper_cancel_timer(engine->looper, lirko_send_invite_time_cb, engine);
    uint64_t invite_id = msg->has_invite_id ? msg->invite_id : 0;
    int result = msg->has_result ? msg->result : 0;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "on_recv_InviteAck invite_id %llu, invites_count %d result %d",
                   (unsigned long long)invite_id, (int)msg->n_invited, result);
    LIRKO_NOTIFY_NO_DATA(engine, on_send_invite_ack, invite_id, msg->invited,
                         (uint32_t)msg->n_invited, result);
}

HANDLER(on_recv_response_inviteAck)
{
    HANDLER_ARGS(Ptt__Rr__ResponseInviteAck);
    hal_looper_cancel_timer(engine->looper, lirko_send_response_invite_time_cb, engine);
    int result = msg->has_result ? msg->result : 0;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_response_inviteAck result %d",
                   result);
    LIRKO_NOTIFY_NO_DATA(engine, on_send_response_invite_ack, result);
}

HANDLER(on_recv_invite_push_message)
{
    HANDLER_ARGS(Ptt__Push__Invite);
    uint64_t invite_id = msg->has_invite_id ? msg->invite_id : 0;
    uint32_t inviter = msg->has_inviter ? msg->inviter : 0;
    uint32_t with_audio = msg->has_with_audio ? msg->with_audio : 0;
    uint32_t with_video = msg->has_with_video ? msg->with_video : 0;
    uint32_t full_duplex = msg->has_full_duplex ? msg->full_duplex : 0;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "%s invite_id %llu, inviter %d, with_audio %d, with_video %d full_duplex %d",
                   "on_recv_invite_push_message", (unsigned long long)invite_id, (int)inviter,
                   (int)with_audio, (int)with_video, (int)full_duplex);
    LIRKO_NOTIFY_NO_DATA(engine, on_push_invite, invite_id, inviter, with_audio, with_video,
                         msg->msg, full_duplex);
}

HANDLER(on_recv_response_invite_push_message)
{
    HANDLER_ARGS(Ptt__Push__ResponseInvite);
    uint64_t invite_id = msg->has_invite_id ? msg->invite_id : 0;
    uint32_t invitee = msg->has_invitee ? msg->invitee : 0;
    uint32_t accept = msg->has_accept ? msg->accept : 0;
    int reason = msg->has_reason ? msg->reason : 10000;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "%s invite_id %llu, invitee %d, accept %d reason %d",
                   "on_recv_response_invite_push_message", (unsigned long long)invite_id,
                   (int)invitee, (int)accept, reason);
    LIRKO_NOTIFY_NO_DATA(engine, on_push_response_invite, invite_id, invitee, accept, reason);
}

HANDLER(on_recv_EncrypAck)
{
    HANDLER_ARGS(Ptt__Rr__SetEncryptAck);
    hal_looper_cancel_timer(engine->looper, lirko_send_set_encryp_time_cb, engine);
    int result = msg->has_result ? msg->result : 0;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_EncrypAck result %d", result);
    LIRKO_NOTIFY_NO_DATA(engine, on_send_encryp_ack, result);
}

// Builds the alarm record from sos.AlarmNew: every field stays zero unless
// the message carries it; the two texts are cut to their fields.
void lirko_fill_sos_alarm(sos_alarm_t *a, const Sos__AlarmNew *msg)
{
    memset(a, 0, sizeof(*a));
    const Sos__Alarm *al = msg ? msg->alarm : NULL;
    if (!al)
        return;
    if (al->has_uuid)
        a->uuid = al->uuid;
    if (al->has_status)
        a->status = lirko_enum_value(&al->status);
    if (al->has_reporter)
        a->reporter = al->reporter;
    if (al->has_gid)
        a->gid = al->gid;
    if (al->has_processer)
        a->processer = al->processer;
    if (al->has_start_time)
        a->start_time = al->start_time;
    if (al->has_process_time)
        a->process_time = al->process_time;
    if (al->has_close_time)
        a->close_time = al->close_time;
    const Ptt__Location *loc = al->location;
    if (!loc)
        return;
    if (loc->coordinate) {
        a->longitude = loc->coordinate->longitude;
        a->latitude = loc->coordinate->latitude;
        if (loc->coordinate->has_altitude)
            a->altitude = loc->coordinate->altitude;
    }
    if (loc->datetime) {
        a->year = loc->datetime->year;
        a->month = loc->datetime->month;
        a->day = loc->datetime->day;
        a->hour = loc->datetime->hour;
        a->minute = loc->datetime->minute;
        a->second = loc->datetime->second;
        if (loc->datetime->has_millisecond)
            a->millisecond = loc->datetime->millisecond;
    }
    if (loc->has_type)
        a->location_type = lirko_enum_value(&loc->type);
    if (loc->has_speed)
        a->speed = loc->speed;
    if (loc->has_dirang)
        a->dirang = loc->dirang;
    if (loc->has_satellites)
        a->satellites = loc->satellites;
    if (loc->has_resend)
        a->resend = (uint8_t)loc->resend;
    if (loc->has_source)
        a->source = loc->source;
    if (loc->has_accuracy)
        a->accuracy = loc->accuracy;
    lirko_copy_text(a->address, sizeof(a->address), loc->address);
    lirko_copy_text(a->devicesn, sizeof(a->devicesn), loc->devicesn);
}

HANDLER(on_recv_sos_alarm_new)
{
    HANDLER_ARGS(Sos__AlarmNew);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_sos_alarm_new");
    sos_alarm_t alarm;
    lirko_fill_sos_alarm(&alarm, msg);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "uuid %llu sos_alarm_status %d reporter %d gid %d processer %d start_time %d "
                   "process_time %d close_time %d",
                   (unsigned long long)alarm.uuid, alarm.status, (int)alarm.reporter,
                   (int)alarm.gid, (int)alarm.processer, (int)alarm.start_time,
                   (int)alarm.process_time, (int)alarm.close_time);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "longitude %f latitude %f altitude %f",
                   alarm.longitude, alarm.latitude, alarm.altitude);
    LIRKO_NOTIFY_NO_DATA(engine, on_sos_alarm, &alarm);
}

HANDLER(on_recv_close_sos)
{
    HANDLER_ARGS(Sos__CloseAck);
    int result = msg->has_result ? msg->result : 0;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_close_sos ret %d", result);
    LIRKO_NOTIFY_NO_DATA(engine, on_close_sos, result);
}

HANDLER(on_recv_process_sos)
{
    HANDLER_ARGS(Sos__ProcessAck);
    int result = msg->has_result ? msg->result : 0;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_process_sos ret %d", result);
    LIRKO_NOTIFY_NO_DATA(engine, on_process_sos, result);
}

HANDLER(on_recv_singlecallack)
{
    HANDLER_ARGS(Ptt__Rr__SingleCallAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "on_recv_singlecallack result is %d",
                   msg->result);
    lirko_event_post(engine, "singlecall", msg->result != -1, 0);
}

HANDLER(on_recv_configureuser_ack_message)
{
    HANDLER_ARGS(Ptt__Rr__ConfigureUserAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko on_recv_configureuser_ack_message");
    uint8_t success = msg->result == 0;
    if (msg->has_audio_enabled)
        LIRKO_NOTIFY(engine, on_audio_enabled_call, success, (uint8_t)msg->audio_enabled, msg->uids,
                     msg->n_uids);
    else if (!msg->has_account_enabled && msg->has_switch_location)
        LIRKO_NOTIFY(engine, on_switch_location, success, 1, msg->uids, msg->n_uids);
}

HANDLER(on_recv_dispatch_ack_message)
{
    HANDLER_ARGS(Ptt__Rr__DispatchAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko on_recv_dispatch_ack_message");
    LIRKO_NOTIFY(engine, on_dispatcher, msg->result == 0, (uint8_t)msg->has_gid, msg->gid,
                 msg->dispatched_uids, msg->n_dispatched_uids);
}

HANDLER(on_recv_takemic_ack_message)
{
    HANDLER_ARGS(Ptt__Rr__TakeMicAck);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko on_recv_takemic_ack_message");
    LIRKO_NOTIFY(engine, on_take_mic, msg->result == 0, msg->uids, msg->n_uids);
}

HANDLER(on_recv_postworksheet_ack)
{
    HANDLER_ARGS(Ptt__Rr__PostWorksheetAck);
    LIRKO_NOTIFY(engine, on_send, msg->result == 0);
}

// --- registration ---------------------------------------------------------------

struct handler_row {
    const char *name;
    dispatcher_fn fn;
};

static const handler_row g_handlers[] = {
    {"ptt.rr.LoginAck", on_recv_login_ack_message},
    {"ptt.rr.LogoutAck", on_recv_logout_ack_message},
    {"ptt.push.Kickout", on_recv_kickout_message},
    {"ptt.rr.LeaveGroupAck", on_recv_leave_group_ack},
    {"ptt.rr.ChangePasswordAck", on_recv_changepassword_ack_message},
    {"ptt.rr.MakeContactsAck", on_recv_makecontacts_ack_message},
    {"ptt.rr.RemoveContactsAck", on_recv_removecontacts_ack_message},
    {"ptt.rr.MakeContactsResponseAck", on_recv_contactsresponse_ack_message},
    {"ptt.push.ContactshipAsked", on_recv_contactship_asked},
    {"ptt.serv.MultimediaMessage", on_recv_multimedia_message},
    {"ptt.serv.ExternalServMsg", on_recv_external_serv_msg},
    {"ptt.rr.WatchGroupAck", on_recv_watch_groupack},
    {"ptt.rr.GetWatchGroupAck", on_recv_get_watch_groupack},
    {"ptt.rr.AddWatchGroupAck", on_recv_add_watch_groupack},
    {"ptt.rr.RemoveWatchGroupAck", on_recv_rm_watch_groupack},
    {"ptt.rr.InviteAck", on_recv_InviteAck},
    {"ptt.rr.ResponseInviteAck", on_recv_response_inviteAck},
    {"ptt.push.Invite", on_recv_invite_push_message},
    {"ptt.push.ResponseInvite", on_recv_response_invite_push_message},
    {"ptt.rr.SetEncryptAck", on_recv_EncrypAck},
    {"sos.AlarmNew", on_recv_sos_alarm_new},
    {"sos.CloseAck", on_recv_close_sos},
    {"sos.ProcessAck", on_recv_process_sos},
    {"ptt.rr.SingleCallAck", on_recv_singlecallack},
    {"ptt.rr.ConfigureUserAck", on_recv_configureuser_ack_message},
    {"ptt.rr.DispatchAck", on_recv_dispatch_ack_message},
    {"ptt.rr.TakeMicAck", on_recv_takemic_ack_message},
    {"ptt.rr.PostWorksheetAck", on_recv_postworksheet_ack},
};
static_assert(sizeof(g_handlers) / sizeof(g_handlers[0]) == 28, "28 message handlers");

int lirko_message_handler_count(void)
{
    return (int)(sizeof(g_handlers) / sizeof(g_handlers[0]));
}

const char *lirko_message_handler_name(int index)
{
    return index >= 0 && index < lirko_message_handler_count() ? g_handlers[index].name : NULL;
}

int lirko_register_message_handlers(lirko_t *engine, connection_t *connection)
{
    dispatcher_t *d = connection_get_dispatcher(connection);
    int n = lirko_message_handler_count();
    if (!engine || !d)
        return -1;
    for (int i = 0; i < n; i++) {
        if (dispatcher_register(d, g_handlers[i].name, g_handlers[i].fn, engine) != 0) {
            while (i-- > 0)
                dispatcher_unregister(d, g_handlers[i].name, g_handlers[i].fn, engine);
            return -1;
        }
    }
    return 0;
}

void lirko_unregister_message_handlers(lirko_t *engine, connection_t *connection)
{
    dispatcher_t *d = connection_get_dispatcher(connection);
    if (!engine || !d)
        return;
    for (int i = 0; i < lirko_message_handler_count(); i++)
        dispatcher_unregister(d, g_handlers[i].name, g_handlers[i].fn, engine);
}
