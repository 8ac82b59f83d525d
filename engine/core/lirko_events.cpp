#include "lirko_events.h"

#include "connection.h"
#include "hal_log.h"
#include "lirko.h"
#include "post_util.h"

#include <stdio.h>
#include <string.h>

static const char *TAG = "lirko";

static int full_name(char *buf, size_t size, const char *word)
{
    int n = snprintf(buf, size, "%s%s", LIRKO_EVENT_PREFIX, word ? word : "");
    return (word && n > 0 && (size_t)n < size) ? 0 : -1;
}

int lirko_event_subscribe(lirko_t *engine, const char *word, hal_looper_processor_fn fn, void *arg)
{
    char name[sizeof(LIRKO_EVENT_PREFIX) + LIRKO_EVENT_WORD_MAX];
    if (!engine || full_name(name, sizeof(name), word) != 0) {
        return -1;
    }
    hal_looper_processer_args args = {name, fn, arg};
    return hal_looper_exec(engine->looper, hal_looper_routine_add_processer, &args);
}

int lirko_event_unsubscribe(lirko_t *engine, const char *word, hal_looper_processor_fn fn,
                            void *arg)
{
    char name[sizeof(LIRKO_EVENT_PREFIX) + LIRKO_EVENT_WORD_MAX];
    if (!engine || full_name(name, sizeof(name), word) != 0) {
        return -1;
    }
    hal_looper_processer_args args = {name, fn, arg};
    return hal_looper_exec(engine->looper, hal_looper_routine_remove_processer, &args);
}

void lirko_event_post(lirko_t *engine, const char *word, int32_t code, int32_t value)
{
    char name[sizeof(LIRKO_EVENT_PREFIX) + LIRKO_EVENT_WORD_MAX];
    if (!engine || full_name(name, sizeof(name), word) != 0) {
        return;
    }
    hal_looper_event event = {};
    event.name = name;
    event.code = code;
    event.value = value;
    hal_looper_post_event(engine->looper, &event, NULL);
}

static void on_event_notify_error(hal_looper *looper, hal_looper_event *event, void *arg,
                                  hal_looper_processor *processor)
{
    (void)looper;
    (void)processor;
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s lpParam:%x",
                   "lirko_on_looper_event_notify_error", (unsigned)event->data);
    lirko_notify_error(engine, event->code);
}

static void on_event_online_status(hal_looper *looper, hal_looper_event *event, void *arg,
                                   hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)processor;
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "notify_online_status_changed login_state:%d",
                   (int)engine->login_state);
    if (engine->login_state == LIRKO_STATUS_ONLINE) {
        engine->has_been_online = 1;
    }
}

// Processor of the events whose reports belong to the directory, voice and
// broadcast side of the engine; they are subscribed here so the order of
// all 35 stays fixed.
static void on_event_pending(hal_looper *looper, hal_looper_event *event, void *arg,
                             hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)arg;
    (void)processor;
}

typedef struct lirko_event_row {
    const char *word;
    hal_looper_processor_fn fn;
} lirko_event_row;

static const lirko_event_row EVENTS[] = {
    {"notify_message", on_event_pending},
    {"notify_error", on_event_notify_error},
    {"online_status", on_event_online_status},
    {"audio_enable_changed", on_event_pending},
    {"start_watch_group", on_event_pending},
    {"have_broadcast", on_event_pending},
    {"broadcast_play_started", on_event_pending},
    {"broadcast_play_finished", on_event_pending},
    {"name_changed", on_event_pending},
    {"password_changed", on_event_pending},
    {"memberlist_changed", on_event_pending},
    {"members_changed", on_event_pending},
    {"requestcontact_update", on_event_pending},
    {"grouplist_changed", on_event_pending},
    {"contactlist_changed", on_event_pending},
    {"contactship_ask", on_event_pending},
    {"user_start_speak", on_event_pending},
    {"user_stop_speak", on_event_pending},
    {"start_speak", on_event_pending},
    {"stop_speak", on_event_pending},
    {"current_group_changed", on_event_pending},
    {"leave_group", on_event_pending},
    {"location_changed", on_event_pending},
    {"user_changed", on_event_pending},
    {"watch_group_update", on_event_pending},
    {"start_playing_sound", on_event_pending},
    {"stop_playing_sound", on_event_pending},
    {"start_record_voice", on_event_pending},
    {"stop_record_voice", on_event_pending},
    {"stop_play_recordfile", on_event_pending},
    {"send_play_data", on_event_pending},
    {"singlecall", on_event_pending},
    {"audio_status", on_event_pending},
    {"udp_overtime", on_event_pending},
    {"department_message", on_event_pending},
};

int lirko_event_count(void)
{
    return (int)(sizeof(EVENTS) / sizeof(EVENTS[0]));
}

int lirko_subscribe_events(lirko_t *engine)
{
    int n = lirko_event_count();
    for (int i = 0; i < n; i++) {
        if (lirko_event_subscribe(engine, EVENTS[i].word, EVENTS[i].fn, engine) != 0) {
            while (i-- > 0) {
                lirko_event_unsubscribe(engine, EVENTS[i].word, EVENTS[i].fn, engine);
            }
            return -1;
        }
    }
    return 0;
}

void lirko_unsubscribe_events(lirko_t *engine)
{
    int n = lirko_event_count();
    for (int i = 0; i < n; i++) {
        lirko_event_unsubscribe(engine, EVENTS[i].word, EVENTS[i].fn, engine);
    }
}

void query_membercallback(hal_looper *looper, double now, void *arg)
{
    (void)now;
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s gid:%d", "query_membercallback",
                   (int)engine->last_gid);
    if (engine->last_gid != 0) {
        uint32_t gid = engine->last_gid;
        post_util_querygroupmembers(engine, &gid, 1);
    }
    // Once per arming: 60 seconds after each change of the current group.
    hal_looper_cancel_timer(looper, query_membercallback, engine);
}

void lirko_cancel_member_query(lirko_t *engine)
{
    hal_looper_cancel_timer(engine->looper, query_membercallback, engine);
}
