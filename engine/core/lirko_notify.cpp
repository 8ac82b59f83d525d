#include "lirko_notify.h"

#include "hal_log.h"
#include "lirko.h"

#include <string.h>

static const char *TAG = "lirko";

// Size of the name and message buffers the bridge hands to callbacks.
#define NOTIFY_TEXT_SIZE 64

int lirko_register_notify(lirko_t *engine, const lirko_notify_t *table, void *user_data)
{
    if (!engine || !table) {
        return -1;
    }
    engine->notify = *table;
    engine->notify.user_data = user_data;
    return 0;
}

int lirko_unregister_notify(lirko_t *engine)
{
    if (!engine) {
        return -1;
    }
    memset(&engine->notify, 0, sizeof(engine->notify));
    return 0;
}

void lirko_notify_error(lirko_t *engine, int code)
{
    engine->last_error = code;
    if (engine->notify.on_error) {
        engine->notify.on_error(engine, engine->notify.user_data, NULL, code);
    }
}

void lirko_notify_online_status(lirko_t *engine, LIRKO_ONLINE_STATUS state)
{
    if (engine->notify.on_online_status_changed) {
        engine->notify.on_online_status_changed(engine, engine->notify.user_data, state);
    }
}

// Copies text into a zeroed buffer: at most size - 1 bytes, always
// terminated; NULL leaves it empty.
static void copy_text(char *buf, size_t size, const char *text)
{
    memset(buf, 0, size);
    if (text) {
        strncpy(buf, text, size - 1);
    }
}

static void bridge_message(lirko_t *engine, void *user_data, const char *text)
{
    (void)user_data;
    lirko_message_cb cb = engine->callbacks.message;
    if (!cb) {
        return;
    }
    char buf[NOTIFY_TEXT_SIZE];
    copy_text(buf, sizeof(buf), text);
    cb(buf);
}

static void bridge_error(lirko_t *engine, void *user_data, const char *message, int code)
{
    (void)user_data;
    lirko_error_cb cb = engine->callbacks.error;
    if (!cb) {
        return;
    }
    char buf[NOTIFY_TEXT_SIZE];
    copy_text(buf, sizeof(buf), message);
    cb(buf, code);
}

static void bridge_online_status(lirko_t *engine, void *user_data, LIRKO_ONLINE_STATUS state)
{
    (void)user_data;
    lirko_online_status_cb cb = engine->callbacks.online_status;
    if (cb) {
        cb(state);
    }
}

const lirko_notify_t *lirko_notify_bridge_table(void)
{
    static const lirko_notify_t table = {
        bridge_message,
        bridge_error,
        bridge_online_status,
        NULL,
    };
    return &table;
}

int lirko_set_online_statuscb(lirko_t *engine, lirko_online_status_cb cb)
{
    engine->callbacks.online_status = cb;
    return 0;
}

int lirko_set_message_cb(lirko_t *engine, lirko_message_cb cb)
{
    engine->callbacks.message = cb;
    return 0;
}

int lirko_set_error_cb(lirko_t *engine, lirko_error_cb cb)
{
    if (!cb) {
        return -1;
    }
    engine->callbacks.error = cb;
    hal_log_output(engine->log, HAL_LOG_INFO, TAG, "lirko_set_error_cb ok");
    return 0;
}

lirko_online_status_cb lirko_get_online_statuscb(lirko_t *engine)
{
    return engine->callbacks.online_status;
}

lirko_message_cb lirko_get_message_cb(lirko_t *engine)
{
    return engine->callbacks.message;
}

lirko_error_cb lirko_get_error_cb(lirko_t *engine)
{
    return engine->callbacks.error;
}
