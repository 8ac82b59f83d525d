// The call, invitation, encryption, SOS and dispatching exports. Requests
// sent to the server give the result of queuing them; the answers arrive
// through the callbacks.
#include "cache.h"
#include "connection.h"
#include "hal_log.h"
#include "lirko.h"
#include "lirko_commands.h"
#include "lirko_user_commands.h"
#include "lirko_win.h"
#include "lirko_win_frame.h"
#include "sessionset.h"

// Location reports: once a second at most, once in five minutes at least.
#define LOCATION_PERIOD_MIN 1u
#define LOCATION_PERIOD_MAX 300u

typedef struct uids_args {
    uint32_t gid;
    const uid_t *uids;
    size_t count;
    int flag;
    uint32_t period;
} uids_args;

int lirko_win_Call(const uid_t *uids, size_t count)
{
    uids_args args = {0, uids, count, 0, 0};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const uids_args *a = (const uids_args *)arg;
            return lirko_call(engine, a->uids, (uint32_t)a->count);
        },
        &args, -1);
}

int lirko_win_single_call_full_duplex(uid_t uid)
{
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            return lirko_singlecall_full_duplex(engine, *(uid_t *)arg);
        },
        &uid, -1);
}

// The current session's group when the directory holds it, else 0.
static uint32_t current_cached_gid(lirko_t *engine)
{
    uint32_t gid = sessionset_current_gid(engine->sessionset);
    return gid && cache_get_group_by_gid(engine->cache, gid) ? gid : 0;
}

gid_t lirko_win_getCurrentGroup(void)
{
    return (gid_t)lirko_win_run(
        [](lirko_t *engine, void *) { return (int)current_cached_gid(engine); }, NULL, 0);
}

typedef struct invite_args {
    const uid_t *invitees;
    size_t count;
    lirko_boolean_t with_audio;
    lirko_boolean_t with_video;
    const char *msg;
    lirko_boolean_t full_duplex;
} invite_args;

int lirko_win_send_invite(const uid_t *invitees, size_t count, lirko_boolean_t with_audio,
                          lirko_boolean_t with_video, const char *msg,
                          lirko_boolean_t is_full_duplex)
{
    invite_args args = {invitees, count, with_audio, with_video, msg, is_full_duplex};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const invite_args *a = (const invite_args *)arg;
            return lirko_send_invite(engine, a->invitees, (uint32_t)a->count, a->with_audio != 0,
                                     a->with_video != 0, a->msg, a->full_duplex != 0);
        },
        &args, -1);
}

typedef struct response_args {
    uint64_t invite_id;
    uid_t inviter;
    lirko_boolean_t accept;
} response_args;

int lirko_win_send_response_invite(uint64_t invite_id, uid_t inviter, lirko_boolean_t accept)
{
    response_args args = {invite_id, inviter, accept};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const response_args *a = (const response_args *)arg;
            return lirko_send_response_invite(engine, a->invite_id, a->inviter, a->accept != 0);
        },
        &args, -1);
}

typedef struct encryp_args {
    int scope;
    const uint32_t *targets;
    size_t count;
    const char *type;
    const char *key;
} encryp_args;

int lirko_win_set_AudioEncryp(int scope, const uint32_t *targets, size_t count, const char *type,
                              const char *key)
{
    encryp_args args = {scope, targets, count, type, key};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const encryp_args *a = (const encryp_args *)arg;
            return lirko_set_encryp(engine, a->scope, a->targets, (uint32_t)a->count, a->type,
                                    a->key);
        },
        &args, -1);
}

typedef struct sos_args {
    uid_t uid;
    uint64_t uuid;
} sos_args;

int lirko_win_process_sos_alarm(uid_t uid, uint64_t uuid)
{
    sos_args args = {uid, uuid};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const sos_args *a = (const sos_args *)arg;
            return lirko_process_sos_alarm(engine, a->uid, a->uuid);
        },
        &args, -1);
}

int lirko_win_close_sos_alarm(uid_t uid, uint64_t uuid)
{
    sos_args args = {uid, uuid};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const sos_args *a = (const sos_args *)arg;
            return lirko_close_sos_alarm(engine, a->uid, a->uuid);
        },
        &args, -1);
}

typedef struct mms_args {
    const void *payload;
    uint32_t length;
    const char *type_name;
} mms_args;

int lirko_win_send_mms(const void *payload, uint32_t length, const char *type_name)
{
    if (!type_name)
        return -1;
    mms_args args = {payload, length, type_name};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const mms_args *a = (const mms_args *)arg;
            return connection_send_mms(engine->connection, (const uint8_t *)a->payload, a->length,
                                       a->type_name);
        },
        &args, -1);
}

int lirko_win_set_btdsp_data(const void *data, int length, int reserved1, int reserved2)
{
    (void)data;
    (void)length;
    (void)reserved1;
    (void)reserved2;
    return 0;
}

int lirko_win_finished_btdsp_data(void)
{
    return lirko_win_run([](lirko_t *engine, void *) { return lirko_finished_btdsp_data(engine); },
                         NULL, 0);
}

static int has_uids(const uid_t *uids, size_t count)
{
    return uids && count > 0;
}

int lirko_win_schedule_temp_join_group(gid_t gid, const uid_t *uids, size_t count)
{
    if (gid == 0 || !has_uids(uids, count))
        return -1;
    uids_args args = {gid, uids, count, 0, 0};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const uids_args *a = (const uids_args *)arg;
            return lirko_temp_join_group(engine, a->gid, a->uids, (uint32_t)a->count);
        },
        &args, -1);
}

int lirko_win_schedule_temp_leave_group(gid_t gid, const uid_t *uids, size_t count)
{
    if (gid != 0 || !has_uids(uids, count))
        return -1;
    uids_args args = {0, uids, count, 0, 0};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const uids_args *a = (const uids_args *)arg;
            return lirko_temp_leave_group(engine, 0, a->uids, (uint32_t)a->count);
        },
        &args, -1);
}

int lirko_win_schedule_force_dispatch(const uid_t *uids, size_t count)
{
    if (!has_uids(uids, count))
        return -1;
    uids_args args = {0, uids, count, 0, 0};
    // The current group is read and used in one visit to the looper, so it
    // cannot change in between.
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const uids_args *a = (const uids_args *)arg;
            uint32_t gid = current_cached_gid(engine);
            if (!gid)
                return -1;
            return lirko_temp_join_group(engine, gid, a->uids, (uint32_t)a->count);
        },
        &args, -1);
}

int lirko_win_schedule_audioenable(const uid_t *uids, size_t count, lirko_boolean_t enable)
{
    if (!has_uids(uids, count))
        return -1;
    uids_args args = {0, uids, count, enable, 0};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const uids_args *a = (const uids_args *)arg;
            return lirko_schedule_audioenable(engine, a->uids, (uint32_t)a->count, a->flag != 0);
        },
        &args, -1);
}

int lirko_win_schedule_takemic(const uid_t *uids, size_t count)
{
    if (!has_uids(uids, count))
        return -1;
    uids_args args = {0, uids, count, 0, 0};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const uids_args *a = (const uids_args *)arg;
            return lirko_shedule_takemic(engine, a->uids, (uint32_t)a->count);
        },
        &args, -1);
}

int lirko_win_schedule_switch_location(const uid_t *uids, size_t count, lirko_boolean_t enable,
                                       uint32_t period)
{
    if (!has_uids(uids, count))
        return -1;
    if (period < LOCATION_PERIOD_MIN)
        period = LOCATION_PERIOD_MIN;
    if (period > LOCATION_PERIOD_MAX)
        period = LOCATION_PERIOD_MAX;
    uids_args args = {0, uids, count, enable, period};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const uids_args *a = (const uids_args *)arg;
            return lirko_shedule_switch_location(engine, a->uids, (uint32_t)a->count, a->flag != 0,
                                                 a->period);
        },
        &args, -1);
}
