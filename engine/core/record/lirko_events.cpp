#include "lirko_events.h"

#include "broadcast.h"
#include "cache.h"
#include "connection.h"
#include "focus_manager.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "lirko.h"
#include "lirko_notify.h"
#include "post_util.h"
#include "sessionset.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *TAG = "lirko";

static lirko_t *engine_of(void *arg)
{
    return (lirko_t *)arg;
}

static const char *user_name(lirko_t *engine, uint32_t uid)
{
    cache_user *u = cache_get_user_by_uid(engine->cache, uid);
    return u ? u->name : NULL;
}

static const char *group_name(lirko_t *engine, uint32_t gid)
{
    cache_group *g = cache_get_group_by_gid(engine->cache, gid);
    return g ? g->name : NULL;
}

static const char *or_empty(const char *s)
{
    return s ? s : "";
}

static int full_name(char *buf, size_t size, const char *word)
{
    int n = snprintf(buf, size, "%s%s", LIRKO_EVENT_PREFIX, word ? word : "");
    return (word && n > 0 && (size_t)n < size) ? 0 : -1;
}

int lirko_event_subscribe(lirko_t *engine, const char *word, hal_looper_processor_fn fn, void *arg)
{
    char name[sizeof(LIRKO_EVENT_PREFIX) + LIRKO_EVENT_WORD_MAX];
    if (!engine || full_name(name, sizeof(name), word) != 0)
        return -1;
    hal_looper_processer_args args = {name, fn, arg};
    return hal_looper_exec(engine->looper, hal_looper_routine_add_processer, &args);
}

int lirko_event_unsubscribe(lirko_t *engine, const char *word, hal_looper_processor_fn fn,
                            void *arg)
{
    char name[sizeof(LIRKO_EVENT_PREFIX) + LIRKO_EVENT_WORD_MAX];
    if (!engine || full_name(name, sizeof(name), word) != 0)
        return -1;
    hal_looper_processer_args args = {name, fn, arg};
    return hal_looper_exec(engine->looper, hal_looper_routine_remove_processer, &args);
}

void lirko_event_post_data(lirko_t *engine, const char *word, int32_t code, int32_t value,
                           intptr_t data, void *payload, void (*destroy)(hal_looper_event *event))
{
    char name[sizeof(LIRKO_EVENT_PREFIX) + LIRKO_EVENT_WORD_MAX];
    hal_looper_event event = {};
    event.name = name;
    event.code = code;
    event.value = value;
    event.data = data;
    event.payload = payload;
    if (!engine || full_name(name, sizeof(name), word) != 0) {
        if (destroy)
            destroy(&event);
        return;
    }
    hal_looper_post_event(engine->looper, &event, destroy);
}

void lirko_event_post(lirko_t *engine, const char *word, int32_t code, int32_t value)
{
    lirko_event_post_data(engine, word, code, value, 0, NULL, NULL);
}

// --- member-query timer ---------------------------------------------------

void query_membercallback(hal_looper *looper, double, void *arg)
{
    lirko_t *engine = engine_of(arg);
    uint32_t gid = engine->last_gid;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s gid:%d", "query_membercallback", (int)gid);
    if (gid)
        post_util_querygroupmembers(engine, &gid, 1);
    // Once per arming: the timer is set again on the next group change.
    hal_looper_cancel_timer(looper, query_membercallback, arg);
}

void lirko_cancel_member_query(lirko_t *engine)
{
    if (engine)
        hal_looper_cancel_timer(engine->looper, query_membercallback, engine);
}

// --- processors -------------------------------------------------------------

#define PROCESSOR(name)                                                                            \
    static void name(hal_looper *looper, hal_looper_event *ev, void *arg,                          \
                     hal_looper_processor *processor)
#define UNUSED_ARGS                                                                                \
    (void)looper;                                                                                  \
    (void)processor;                                                                               \
    lirko_t *engine = engine_of(arg);                                                              \
    (void)ev

PROCESSOR(on_notify_message)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_message, (const char *)ev->data);
}

PROCESSOR(on_notify_error)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s lpParam:%x",
                   "lirko_on_looper_event_notify_error", (unsigned)ev->data);
    engine->last_error = ev->code;
    LIRKO_NOTIFY(engine, on_error, NULL, ev->code);
}

PROCESSOR(on_online_status)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "notify_online_status_changed login_state:%d",
                   (int)engine->login_state);
    if (engine->login_state == LIRKO_STATUS_ONLINE)
        engine->has_been_online = 1;
}

PROCESSOR(on_audio_enable_changed)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_audio_enabled, (uint8_t)ev->code);
}

PROCESSOR(on_start_watch_group)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_start_watch_group, (gid_t)ev->code);
}

PROCESSOR(on_have_broadcast)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_have_broadcast, (void *)ev->data);
}

PROCESSOR(on_broadcast_play_started)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_broadcast_started, (uint32_t)ev->code);
}

PROCESSOR(on_broadcast_play_finished)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_broadcast_finished, (uint32_t)ev->code);
}

PROCESSOR(on_name_changed)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_name_changed, (uint8_t)ev->code);
}

PROCESSOR(on_password_changed)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_password_changed, (uint8_t)ev->code);
}

PROCESSOR(on_memberlist_changed)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_memberlist_changed gid:%d,current_gid:%d",
                   ev->code, (int)engine->last_gid);
    LIRKO_NOTIFY(engine, on_memberlist_changed, (gid_t)ev->code);
}

PROCESSOR(on_members_changed)
{
    UNUSED_ARGS;
    const member_change *c = (const member_change *)ev->data;
    if (!c)
        return;
    LIRKO_NOTIFY(engine, on_members_changed, (gid_t)ev->code, c->updated, c->n_updated, c->removed,
                 c->n_removed, c->joined, c->n_joined, c->left, c->n_left);
}

PROCESSOR(on_requestcontact_update)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_requestcontactlist_changed);
}

PROCESSOR(on_grouplist_changed)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_grouplist_changed);
}

PROCESSOR(on_contactlist_changed)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_contactlist_changed);
}

PROCESSOR(on_contactship_ask)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_contactship_asked, (uint32_t)ev->code, (void *)ev->data);
}

// The four speaker reports share one shape: code = gid, value = uid.
enum speaker_report { USER_START_SPEAK, USER_STOP_SPEAK, START_PLAYING, STOP_PLAYING };

static void report_speaker(lirko_t *engine, const hal_looper_event *ev, enum speaker_report kind)
{
    static const char *const formats[] = {
        "notify_user_start_speak uid:%d,name:%s,gid:%d,gname:%s",
        "notify_user_stop_speak uid:%d,name:%s,gid:%d,gname:%s",
        "notify_start_playing_sound uid:%d,name:%s,gid:%d,gname:%s",
        "notify_stop_playing_sound uid:%d,name:%s,gid:%d,gname:%s",
    };
    uint32_t gid = (uint32_t)ev->code, uid = (uint32_t)ev->value;
    const char *uname = user_name(engine, uid);
    const char *gname = group_name(engine, gid);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, formats[kind], (int)uid, or_empty(uname),
                   (int)gid, or_empty(gname));
    switch (kind) {
    case USER_START_SPEAK:
        LIRKO_NOTIFY(engine, on_user_start_speak, uid, uname, gid, gname);
        break;
    case USER_STOP_SPEAK:
        LIRKO_NOTIFY(engine, on_user_stop_speak, uid, uname, gid, gname);
        break;
    case START_PLAYING:
        LIRKO_NOTIFY(engine, on_start_playing_sound, uid, uname, gid, gname);
        break;
    case STOP_PLAYING:
        LIRKO_NOTIFY(engine, on_stop_playing_sound, uid, uname, gid, gname);
        break;
    }
}

PROCESSOR(on_user_start_speak)
{
    UNUSED_ARGS;
    report_speaker(engine, ev, USER_START_SPEAK);
}

PROCESSOR(on_user_stop_speak)
{
    UNUSED_ARGS;
    report_speaker(engine, ev, USER_STOP_SPEAK);
}

PROCESSOR(on_start_playing_sound)
{
    UNUSED_ARGS;
    report_speaker(engine, ev, START_PLAYING);
}

PROCESSOR(on_stop_playing_sound)
{
    UNUSED_ARGS;
    report_speaker(engine, ev, STOP_PLAYING);
}

PROCESSOR(on_start_speak)
{
    UNUSED_ARGS;
    uint32_t gid = sessionset_current_gid(engine->sessionset);
    const char *gname = group_name(engine, gid);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "notify_start_speak gid:%d,gname:%s",
                   (int)gid, or_empty(gname));
    LIRKO_NOTIFY(engine, on_start_speak, gid, gname);
}

PROCESSOR(on_stop_speak)
{
    UNUSED_ARGS;
    // The group the talk was in when that is known: a talk ended by a reset
    // has no current session left by the time this runs.
    uint32_t gid = ev->code > 0 ? (uint32_t)ev->code : sessionset_current_gid(engine->sessionset);
    const char *gname = group_name(engine, gid);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "notify_stop_speak gid:%d,gname:%s", (int)gid,
                   or_empty(gname));
    LIRKO_NOTIFY(engine, on_stop_speak, gid, gname);
}

// Steps shared by current_group_changed and leave_group: store the group as
// the current one and re-arm the member query.
static const char *enter_group(lirko_t *engine, uint32_t gid, const char *log_format)
{
    const char *gname = group_name(engine, gid);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, log_format, (int)gid, or_empty(gname));
    engine->last_gid = gid;
    sessionset_set_last_gid(engine->sessionset, gid);
    lirko_cancel_member_query(engine);
    if (gid)
        hal_looper_set_timer(engine->looper, query_membercallback, 60.0, engine);
    return gname;
}

PROCESSOR(on_current_group_changed)
{
    UNUSED_ARGS;
    if (engine->audio_prompt && engine->invite_failed == 0xFFFFFFFFu)
        return;
    uint32_t gid = (uint32_t)ev->code;
    const char *gname = enter_group(
        engine, gid, "lirko_on_looper_event_notify_current_group current_group gid:%d,gname:%s");
    LIRKO_NOTIFY(engine, on_current_group, gid, gname);
}

PROCESSOR(on_leave_group)
{
    UNUSED_ARGS;
    uint32_t gid = (uint32_t)ev->code;
    const char *gname = enter_group(
        engine, gid, "lirko_on_looper_event_notify_leave_group current_group gid:%d,gname:%s");
    LIRKO_NOTIFY(engine, on_leave_group, gid, gname);
}

PROCESSOR(on_location_changed)
{
    (void)looper;
    (void)ev;
    (void)arg;
    (void)processor;
}

PROCESSOR(on_user_changed)
{
    UNUSED_ARGS;
    size_t count = ev->code > 0 ? (size_t)ev->code : 0;
    const uint32_t *uids = (const uint32_t *)ev->payload;
    cache_user **users = (cache_user **)calloc(count ? count : 1, sizeof(*users));
    if (!users)
        return;
    for (size_t i = 0; uids && i < count; i++)
        users[i] = cache_find_user(engine->cache, uids[i]);
    LIRKO_NOTIFY(engine, on_users_changed, count, users);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_user_changed done");
    free(users);
}

PROCESSOR(on_watch_group_update)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_watchgroup_changed");
    LIRKO_NOTIFY(engine, on_watchgroup_changed);
}

// Payload of the record events: file name in bytes 0-99, time text in bytes
// 100-199, the success flag in byte 200. Both texts are cut at their field.
struct record_texts {
    char file[101];
    char time[101];
    uint8_t flag;
};

static record_texts read_record_payload(const hal_looper_event *ev)
{
    record_texts t = {};
    const uint8_t *p = (const uint8_t *)ev->payload;
    if (p) {
        memcpy(t.file, p, 100);
        memcpy(t.time, p + 100, 100);
        t.flag = p[200];
    }
    return t;
}

PROCESSOR(on_start_record_voice)
{
    UNUSED_ARGS;
    record_texts t = read_record_payload(ev);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_start_record_voice gid:%d,uid:%d,starttime:%s,"
                   "filename:%s",
                   ev->code, ev->value, t.time, t.file);
    LIRKO_NOTIFY(engine, on_start_record_voice, (gid_t)ev->code, (uid_t)ev->value, t.time, t.file);
}

PROCESSOR(on_stop_record_voice)
{
    UNUSED_ARGS;
    record_texts t = read_record_payload(ev);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_stop_record_voice gid:%d,uid:%d,starttime:%s,"
                   "filename:%s",
                   ev->code, ev->value, t.time, t.file);
    // The flag says whether anything was written: a file that stayed empty is
    // not reported as a successful recording.
    LIRKO_NOTIFY(engine, on_stop_record_voice, t.flag, (gid_t)ev->code, (uid_t)ev->value, t.time,
                 t.file);
}

PROCESSOR(on_stop_play_recordfile)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_stop_play_recordfile);
}

PROCESSOR(on_send_play_data)
{
    UNUSED_ARGS;
    LIRKO_NOTIFY(engine, on_send_play_data, (const uint8_t *)ev->payload, ev->code);
}

PROCESSOR(on_singlecall)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_single_call: %d", ev->code);
    LIRKO_NOTIFY(engine, on_single_call, (uint32_t)ev->code);
}

PROCESSOR(on_audio_status)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_audio_status type:%d status:%d", ev->code,
                   ev->value & 0xFF);
    LIRKO_NOTIFY(engine, on_audio_status, (uint32_t)ev->code, (uint8_t)ev->value);
}

PROCESSOR(on_udp_overtime)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_udp_overtime status:%d CONN_RECONNECTING:%d",
                   ev->code, 3);
    lirko_cancel_member_query(engine);
    connection_shutdown(engine->connection);
    lirko_clear_login_scratch(engine);
    engine->login_state = LIRKO_STATUS_OFFLINE;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "connection CONN_RECONNECTING,login_state:%d",
                   (int)engine->login_state);
    lirko_reset_modules(engine);
    engine->last_error = -21;
    LIRKO_NOTIFY(engine, on_error, NULL, -21);
    LIRKO_NOTIFY(engine, on_online_status_changed, (LIRKO_ONLINE_STATUS)engine->login_state);
}

PROCESSOR(on_department_message)
{
    UNUSED_ARGS;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                   "lirko_on_looper_event_notify_department_msg");
    LIRKO_NOTIFY_NO_DATA(engine, on_query_department);
}

// --- subscription table -----------------------------------------------------

struct lirko_event_row {
    const char *word;
    hal_looper_processor_fn fn;
};

static const lirko_event_row EVENTS[] = {
    {"notify_message", on_notify_message},
    {"notify_error", on_notify_error},
    {"online_status", on_online_status},
    {"audio_enable_changed", on_audio_enable_changed},
    {"start_watch_group", on_start_watch_group},
    {"have_broadcast", on_have_broadcast},
    {"broadcast_play_started", on_broadcast_play_started},
    {"broadcast_play_finished", on_broadcast_play_finished},
    {"name_changed", on_name_changed},
    {"password_changed", on_password_changed},
    {"memberlist_changed", on_memberlist_changed},
    {"members_changed", on_members_changed},
    {"requestcontact_update", on_requestcontact_update},
    {"grouplist_changed", on_grouplist_changed},
    {"contactlist_changed", on_contactlist_changed},
    {"contactship_ask", on_contactship_ask},
    {"user_start_speak", on_user_start_speak},
    {"user_stop_speak", on_user_stop_speak},
    {"start_speak", on_start_speak},
    {"stop_speak", on_stop_speak},
    {"current_group_changed", on_current_group_changed},
    {"leave_group", on_leave_group},
    {"location_changed", on_location_changed},
    {"user_changed", on_user_changed},
    {"watch_group_update", on_watch_group_update},
    {"start_playing_sound", on_start_playing_sound},
    {"stop_playing_sound", on_stop_playing_sound},
    {"start_record_voice", on_start_record_voice},
    {"stop_record_voice", on_stop_record_voice},
    {"stop_play_recordfile", on_stop_play_recordfile},
    {"send_play_data", on_send_play_data},
    {"singlecall", on_singlecall},
    {"audio_status", on_audio_status},
    {"udp_overtime", on_udp_overtime},
    {"department_message", on_department_message},
};
static_assert(sizeof(EVENTS) / sizeof(EVENTS[0]) == 35, "35 event subscriptions");

int lirko_event_count(void)
{
    return (int)(sizeof(EVENTS) / sizeof(EVENTS[0]));
}

const char *lirko_event_word(int index)
{
    return index >= 0 && index < lirko_event_count() ? EVENTS[index].word : NULL;
}

int lirko_subscribe_events(lirko_t *engine)
{
    int n = lirko_event_count();
    for (int i = 0; i < n; i++) {
        if (lirko_event_subscribe(engine, EVENTS[i].word, EVENTS[i].fn, engine) != 0) {
            while (i-- > 0)
                lirko_event_unsubscribe(engine, EVENTS[i].word, EVENTS[i].fn, engine);
            return -1;
        }
    }
    return 0;
}

void lirko_unsubscribe_events(lirko_t *engine)
{
    int n = lirko_event_count();
    for (int i = 0; i < n; i++)
        lirko_event_unsubscribe(engine, EVENTS[i].word, EVENTS[i].fn, engine);
}
