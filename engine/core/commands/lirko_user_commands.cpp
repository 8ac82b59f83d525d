#include "lirko_user_commands.h"

#include "cache.h"
#include "connection.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "lirko.h"
#include "lirko_handlers.h"
#include "lirko_records.h"
#include "post_util.h"
#include "ptt.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "sessionset.h"
#include "sos.pb-c.h"

#include <string.h>

static const char *TAG = "lirko";

static int send(lirko_t *engine, const ProtobufCMessage *msg)
{
    return connection_send_msg(engine->connection, msg);
}

static int refused(lirko_t *engine, const uint32_t *uids, uint32_t count)
{
    return !engine || !uids || !count;
}

int lirko_temp_join_group(lirko_t *engine, uint32_t gid, const uint32_t *uids, uint32_t count)
{
    if (refused(engine, uids, count))
        return -1;
    return post_util_dispatch(engine, gid, uids, count);
}

int lirko_temp_leave_group(lirko_t *engine, uint32_t gid, const uint32_t *uids, uint32_t count)
{
    if (refused(engine, uids, count) || gid != 0)
        return -1;
    return post_util_dispatch(engine, 0, uids, count);
}

int lirko_schedule_audioenable(lirko_t *engine, const uint32_t *uids, uint32_t count,
                               uint8_t enable)
{
    if (refused(engine, uids, count))
        return -1;
    Ptt__Rr__ConfigureUser c = PTT__RR__CONFIGURE_USER__INIT;
    c.n_uids = count;
    c.uids = (uint32_t *)uids;
    c.has_audio_enabled = 1;
    c.audio_enabled = enable != 0;
    return send(engine, &c.base);
}

int lirko_shedule_takemic(lirko_t *engine, const uint32_t *uids, uint32_t count)
{
    if (refused(engine, uids, count))
        return -1;
    Ptt__Rr__TakeMic t = PTT__RR__TAKE_MIC__INIT;
    t.n_uids = count;
    t.uids = (uint32_t *)uids;
    return send(engine, &t.base);
}

int lirko_shedule_switch_location(lirko_t *engine, const uint32_t *uids, uint32_t count, uint8_t on,
                                  uint32_t period)
{
    if (refused(engine, uids, count))
        return -1;
    Ptt__Rr__ConfigureUser c = PTT__RR__CONFIGURE_USER__INIT;
    c.n_uids = count;
    c.uids = (uint32_t *)uids;
    c.has_switch_location = 1;
    c.switch_location = on != 0;
    c.has_location_report_period = 1;
    c.location_report_period = period;
    return send(engine, &c.base);
}

int lirko_schedule_configUser(lirko_t *engine, const uint32_t *uids, uint32_t count,
                              int account_enabled, int audio_enabled, int switch_location,
                              uint32_t period)
{
    if (refused(engine, uids, count))
        return -1;
    return post_util_configureuser(engine, uids, count, account_enabled, audio_enabled,
                                   switch_location, period, -1);
}

int lirko_send_query_department_tree(lirko_t *engine, uint32_t did)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s did %d",
                   "lirko_send_query_department_tree", (int)did);
    if (did == 0)
        return -1;
    Ptt__Rr__QueryDepartmentTree q = PTT__RR__QUERY_DEPARTMENT_TREE__INIT;
    q.did = did;
    return send(engine, &q.base);
}

// sos.Close and sos.Process share their fields and their log line.
template <typename Request>
static int sos_request(lirko_t *engine, Request request, const char *what, uint32_t uid,
                       uint64_t uuid)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, "post_util", "post_send_%s_sos uid %d uuid %llu",
                   what, (int)uid, (unsigned long long)uuid);
    request.has_uid = request.has_uuid = 1;
    request.uid = uid;
    request.uuid = uuid;
    return send(engine, &request.base);
}

int lirko_close_sos_alarm(lirko_t *engine, uint32_t uid, uint64_t uuid)
{
    return sos_request(engine, Sos__Close(SOS__CLOSE__INIT), "close", uid, uuid);
}

int lirko_process_sos_alarm(lirko_t *engine, uint32_t uid, uint64_t uuid)
{
    return sos_request(engine, Sos__Process(SOS__PROCESS__INIT), "process", uid, uuid);
}

// Arms a reply timer once its request went out; a request that never left
// waits for no answer.
static int arm_reply_timer(lirko_t *engine, int sent, hal_looper_timer_fn fn)
{
    if (sent != 0)
        return -1;
    // A second request restarts the wait instead of adding a second timer.
    hal_looper_cancel_timer(engine->looper, fn, engine);
    return hal_looper_set_timer(engine->looper, fn, LIRKO_REPLY_TIMEOUT, engine);
}

int lirko_send_invite(lirko_t *engine, const uint32_t *invitees, uint32_t count, uint8_t with_audio,
                      uint8_t with_video, const char *msg, uint8_t full_duplex)
{
    if (!engine)
        return -1;
    if (!invitees) {
        hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s error with_audio %d, with_video %d",
                       "lirko_send_invite", with_audio, with_video);
        return -1;
    }
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "%s with_audio %d, with_video %d is_full_duplex %d", "lirko_send_invite",
                   with_audio, with_video, full_duplex);
    Ptt__Rr__Invite inv = PTT__RR__INVITE__INIT;
    if (count > 0) {
        inv.n_invitees = count;
        inv.invitees = (uint32_t *)invitees;
    }
    inv.has_with_audio = inv.has_with_video = inv.has_full_duplex = inv.has_create_group = 1;
    inv.with_audio = with_audio != 0;
    inv.with_video = with_video != 0;
    inv.msg = (char *)msg;
    inv.full_duplex = full_duplex ? 1 : 0;
    inv.create_group = 0;
    return arm_reply_timer(engine, send(engine, &inv.base), lirko_send_invite_time_cb);
}

int lirko_send_response_invite(lirko_t *engine, uint64_t invite_id, uint32_t inviter,
                               uint8_t accept)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s invite_id %llu, inviter %d accept %d",
                   "lirko_send_response_invite", (unsigned long long)invite_id, (int)inviter,
                   accept);
    Ptt__Rr__ResponseInvite r = PTT__RR__RESPONSE_INVITE__INIT;
    r.has_invite_id = r.has_inviter = r.has_accept = 1;
    r.invite_id = invite_id;
    r.inviter = inviter;
    r.accept = accept != 0;
    return arm_reply_timer(engine, send(engine, &r.base), lirko_send_response_invite_time_cb);
}

int lirko_set_encryp(lirko_t *engine, int scope, const uint32_t *targets, uint32_t count,
                     const char *type, const char *key)
{
    if (!engine || !type)
        return -1;
    // The key itself never reaches the log.
    if (key)
        hal_log_output(engine->log, HAL_LOG_ERROR, TAG,
                       "%s encryp_scope %d,  encryp_targets size %d encryp_type %s key length %d",
                       "lirko_set_encryp", scope, (int)count, type, (int)strlen(key));
    else
        hal_log_output(engine->log, HAL_LOG_ERROR, TAG,
                       "%s encryp_scope %d,  encryp_targets size %d encryp_type %s",
                       "lirko_set_encryp", scope, (int)count, type);
    Ptt__EncryptKey k = PTT__ENCRYPT_KEY__INIT;
    Ptt__Rr__SetEncrypt set = PTT__RR__SET_ENCRYPT__INIT;
    set.has_scope = 1;
    set.scope = (Ptt__Rr__SetEncrypt__Scope)scope;
    if (count > 0 && targets) {
        set.n_targets = count;
        set.targets = (uint32_t *)targets;
    }
    if (key) {
        k.method = (char *)type;
        k.has_key = 1;
        k.key.len = strlen(key);
        k.key.data = (uint8_t *)key;
        set.encrypt = &k;
    }
    int sent = send(engine, &set.base);
    Ptt__Rr__ConfigureUser c = PTT__RR__CONFIGURE_USER__INIT;
    if (targets) {
        c.n_uids = count;
        c.uids = (uint32_t *)targets;
    }
    c.has_location_report_period = 1;
    c.location_report_period = 1;
    c.has_encrypt_enabled = 1;
    c.encrypt_enabled = key != NULL;
    (void)send(engine, &c.base);
    return arm_reply_timer(engine, sent, lirko_send_set_encryp_time_cb);
}

int lirko_get_my_self_is_encryp(lirko_t *engine, uint8_t *encrypt_on, uint8_t *has_encrypt)
{
    if (!engine)
        return -1;
    cache_user *me = cache_get_myself(engine->cache);
    if (encrypt_on)
        *encrypt_on = me ? me->encrypt_on : 0;
    if (has_encrypt)
        *has_encrypt = me ? me->has_encrypt : 0;
    return 0;
}

int lirko_get_my_self_encryp_key(lirko_t *engine, char *out)
{
    if (!engine || !out)
        return -1;
    cache_user *me = cache_get_myself(engine->cache);
    out[0] = '\0';
    if (me)
        lirko_copy_text(out, LIRKO_KEY_BUF_SIZE, me->encrypt_key);
    return 0;
}

static cache_group *current_group(lirko_t *engine)
{
    uint32_t gid = sessionset_current_gid(engine->sessionset);
    return gid ? cache_get_group_by_gid(engine->cache, gid) : NULL;
}

int lirko_get_current_group_is_encryp(lirko_t *engine, uint32_t *is_encryp, uint8_t *has_key)
{
    if (!engine)
        return -1;
    cache_group *g = current_group(engine);
    if (is_encryp)
        *is_encryp = g ? g->is_encrypt : 0;
    if (has_key)
        *has_key = g ? g->has_key : 0;
    return 0;
}

int lirko_get_current_group_encryp_key(lirko_t *engine, char *out)
{
    if (!engine || !out)
        return -1;
    cache_group *g = current_group(engine);
    out[0] = '\0';
    if (g)
        lirko_copy_text(out, LIRKO_KEY_BUF_SIZE, g->key);
    return 0;
}

uint32_t lirko_get_uid(lirko_t *engine)
{
    cache_user *me = engine ? cache_get_myself(engine->cache) : NULL;
    return me ? me->uid : 0;
}

int lirko_set_log_priority(lirko_t *engine, int priority)
{
    if (!engine || priority < 2 || priority > 8)
        return -1;
    return hal_log_set_priority(engine->log, priority) == 0 ? 0 : -1;
}
