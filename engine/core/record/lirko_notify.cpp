#include "lirko_notify.h"

#include "hal_log.h"
#include "lirko.h"

#include <stddef.h>
#include <string.h>

// Both tables are plain arrays of function pointers in slot order: the slot
// numbers of the tables are the field positions, and they must never drift.
#define LIRKO_CHECK_LISTENER_SLOT(slot, name, params)                                              \
    static_assert(offsetof(lirko_notify_t, name) == (slot) * sizeof(void (*)(void)),               \
                  "listener slot " #slot " is " #name);
LIRKO_LISTENER_TABLE(LIRKO_CHECK_LISTENER_SLOT)
#undef LIRKO_CHECK_LISTENER_SLOT
static_assert(offsetof(lirko_notify_t, user_data) == LIRKO_LISTENER_COUNT * sizeof(void *),
              "the user data follows the 55 slots");

#define LIRKO_CHECK_CALLBACK_SLOT(slot, listener, field, type, win_setter, setter, getter)         \
    static_assert(offsetof(lirko_win_callbacks, field) == (slot) * sizeof(void (*)(void)),         \
                  "callback slot " #slot " is " #field);                                           \
    static_assert((listener) >= 0 && (listener) < LIRKO_LISTENER_COUNT, #field);
#define LIRKO_CHECK_CALLBACK_SLOT_INTERNAL(slot, listener, field, type, setter, getter)            \
    LIRKO_CHECK_CALLBACK_SLOT(slot, listener, field, type, -, setter, getter)
LIRKO_CALLBACK_TABLE(LIRKO_CHECK_CALLBACK_SLOT, LIRKO_CHECK_CALLBACK_SLOT_INTERNAL)
#undef LIRKO_CHECK_CALLBACK_SLOT
#undef LIRKO_CHECK_CALLBACK_SLOT_INTERNAL
static_assert(sizeof(lirko_win_callbacks) == LIRKO_CALLBACK_COUNT * sizeof(void *),
              "47 application callbacks");

lirko_notify_t *lirko_notify_table(lirko_t *engine)
{
    return engine ? &engine->notify : NULL;
}

lirko_win_callbacks *lirko_callbacks(lirko_t *engine)
{
    return engine ? &engine->callbacks : NULL;
}

void lirko_notify_error(lirko_t *engine, int code)
{
    if (!engine)
        return;
    engine->last_error = code;
    LIRKO_NOTIFY(engine, on_error, NULL, code);
}

void lirko_notify_online_status(lirko_t *engine, LIRKO_ONLINE_STATUS state)
{
    LIRKO_NOTIFY(engine, on_online_status_changed, state);
}

int lirko_register_notify(lirko_t *engine, const lirko_notify_t *table, void *user_data)
{
    if (!engine || !table)
        return -1;
    engine->notify = *table;
    engine->notify.user_data = user_data;
    return 0;
}

int lirko_unregister_notify(lirko_t *engine)
{
    if (!engine)
        return -1;
    memset(&engine->notify, 0, sizeof(engine->notify));
    return 0;
}

// Prints a function pointer with %p without converting between function and
// object pointer types.
static const void *fn_ptr(const void *slot_address)
{
    const void *p;
    memcpy(&p, slot_address, sizeof(p));
    return p;
}

int lirko_print_notify(lirko_t *engine, const lirko_notify_t *t)
{
    if (!engine || !t)
        return -1;
    hal_log *log = engine->log;
    const char *tag = "lirko";
#define P(field) fn_ptr(&t->field)
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_message:%p", P(on_message));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_error:%p", P(on_error));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_online_status_changed:%p",
                   P(on_online_status_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_audio_enabled:%p", P(on_audio_enabled));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_have_broadcast:%p", P(on_have_broadcast));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_broadcast_started:%p",
                   P(on_broadcast_started));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_broadcast_finished:%p",
                   P(on_broadcast_finished));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_name_changed:%p", P(on_name_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_password_changed:%p", P(on_password_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_memberlist_changed:%p",
                   P(on_memberlist_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_grouplist_changed:%p %p",
                   P(on_grouplist_changed), P(on_grouplist_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_contactlist_changed:%p",
                   P(on_contactlist_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_contactship_asked:%p",
                   P(on_contactship_asked));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_user_start_speak:%p %p",
                   P(on_user_start_speak), P(on_user_start_speak));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_user_stop_speak:%p", P(on_user_stop_speak));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_start_speak:%p", P(on_start_speak));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_stop_speak:%p", P(on_stop_speak));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_current_group:%p", P(on_current_group));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_requestcontactlist_changed:%p",
                   P(on_requestcontactlist_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_users_changed:%p", P(on_users_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_watchgroup_changed:%p",
                   P(on_watchgroup_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_start_playing_sound:%p",
                   P(on_start_playing_sound));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_stop_playing_sound:%p",
                   P(on_stop_playing_sound));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_members_changed:%p", P(on_members_changed));
    hal_log_output(log, HAL_LOG_ERROR, tag, "------on_roles_changed:%p", P(on_roles_changed));
#undef P
    return 0;
}

// Only these two setters refuse NULL; the others accept it and so clear the
// slot (internal callers only: the exported setters refuse NULL for all).
enum { LIRKO_SLOT_ERROR = 2, LIRKO_SLOT_GET_WATCH_GROUP = 29 };

static int lirko_store_callback(lirko_t *engine, int slot, void *field, const void *cb, size_t size)
{
    if (!engine)
        return -1;
    if (!cb && (slot == LIRKO_SLOT_ERROR || slot == LIRKO_SLOT_GET_WATCH_GROUP))
        return -1;
    memcpy(field, &cb, size);
    if (slot == LIRKO_SLOT_ERROR)
        hal_log_output(engine->log, HAL_LOG_INFO, "lirko", "lirko_set_error_cb ok");
    else if (slot == LIRKO_SLOT_GET_WATCH_GROUP)
        hal_log_output(engine->log, HAL_LOG_INFO, "lirko", "lirko_set_get_watch_group_cb %p", cb);
    return 0;
}

#define LIRKO_DEFINE_ACCESSORS(slot, listener, field, type, win_setter, setter, getter)            \
    int setter(lirko_t *engine, type cb)                                                           \
    {                                                                                              \
        static_assert(sizeof(type) == sizeof(void *), #type);                                      \
        const void *p;                                                                             \
        memcpy(&p, &cb, sizeof(p));                                                                \
        return lirko_store_callback(engine, slot, engine ? &engine->callbacks.field : NULL, p,     \
                                    sizeof(cb));                                                   \
    }                                                                                              \
    type getter(lirko_t *engine)                                                                   \
    {                                                                                              \
        return engine ? engine->callbacks.field : NULL;                                            \
    }
#define LIRKO_DEFINE_ACCESSORS_INTERNAL(slot, listener, field, type, setter, getter)               \
    LIRKO_DEFINE_ACCESSORS(slot, listener, field, type, -, setter, getter)
LIRKO_CALLBACK_TABLE(LIRKO_DEFINE_ACCESSORS, LIRKO_DEFINE_ACCESSORS_INTERNAL)
#undef LIRKO_DEFINE_ACCESSORS
#undef LIRKO_DEFINE_ACCESSORS_INTERNAL
