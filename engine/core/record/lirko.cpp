#include "lirko.h"

#include "broadcast.h"
#include "cache.h"
#include "connection.h"
#include "etpacket.h"
#include "focus_manager.h"
#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "lirko_event_object.h"
#include "lirko_events.h"
#include "lirko_handlers.h"
#include "lirko_login.h"
#include "list.h"
#include "post_util.h"
#include "sessionset.h"

#include <atomic>
#include <stdlib.h>
#include <string.h>

static const char *TAG = "lirko";

// Test seam only (see lirko_test_fail_module_step); read on the looper while
// modules are made, set by a test before lirko_new.
static std::atomic<int> g_fail_module_step{0};

void lirko_test_fail_module_step(int step)
{
    g_fail_module_step.store(step);
}

static int step_fails(int step)
{
    return g_fail_module_step.load() == step;
}

static int ini_int(hal_ini *ini, const char *section, const char *key)
{
    const char *value = hal_ini_find(ini, section, key);
    return value ? atoi(value) : 0;
}

static int modules_new_on_looper(hal_looper *looper, void *arg)
{
    (void)looper;
    return lirko_modules_new((lirko_t *)arg);
}

static int modules_destroy_on_looper(hal_looper *looper, void *arg)
{
    (void)looper;
    lirko_modules_destroy((lirko_t *)arg);
    return 0;
}

static connection_t *port_connection(lirko_t *engine)
{
    return engine->connection;
}

static hal_ini *port_ini(lirko_t *engine)
{
    return engine->ini;
}

static const etpacket *port_codec(lirko_t *engine)
{
    return engine->codec;
}

uint32_t lirko_voice_payload_type(lirko_t *engine)
{
    return ini_int(engine->ini, "record", "codec") == 101 ? 101 : 103;
}

static uint32_t port_payload_type(lirko_t *engine)
{
    return lirko_voice_payload_type(engine);
}

// The request builders reach the engine through this port.
static const post_util_port ENGINE_PORT = {
    port_connection,      port_ini,
    port_codec,           port_payload_type,
    connection_send_msg,  connection_send_msg_with_expect,
    lirko_on_reset_event,
};

lirko_t *lirko_new(const char *dir)
{
    post_util_set_port(&ENGINE_PORT);
    hal_ctx *ctx = hal_ctx_new(dir);
    if (!ctx) {
        return NULL;
    }
    hal_log *log = hal_ctx_get_log(ctx);
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "lirko new start");
    lirko_t *engine = (lirko_t *)calloc(1, sizeof(*engine));
    if (!engine) {
        hal_ctx_destroy(&ctx);
        return NULL;
    }
    engine->ctx = ctx;
    engine->ini = hal_ctx_get_ini(ctx);
    engine->log = log;
    engine->looper = hal_ctx_get_looper(ctx);
    hal_log_output(log, HAL_LOG_ERROR, TAG, "get ini start");
    hal_ini_load(engine->ini, NULL, NULL);
    engine->audio_prompt = ini_int(engine->ini, "prompt", "audio") != 0;
    engine->event_handle = lirko_event_object_new();
    engine->broad = (uint8_t)ini_int(engine->ini, "network", "broad");
    // The modules are made on the looper, which owns them from then on.
    if (!engine->looper || !engine->event_handle ||
        hal_looper_exec(engine->looper, modules_new_on_looper, engine) != 0) {
        hal_log_output(log, HAL_LOG_ERROR, TAG, "lirko new failed");
        lirko_destroy(&engine);
        return NULL;
    }
    engine->join_default_group = 1;
    engine->login_state = LIRKO_STATUS_NONE;
    return engine;
}

void lirko_destroy(lirko_t **pengine)
{
    if (!pengine || !*pengine) {
        return;
    }
    lirko_t *engine = *pengine;
    if (engine->looper && hal_looper_is_current(engine->looper)) {
        // The looper cannot stop and join itself.
        hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "lirko_destroy on the looper refused");
        return;
    }
    // Timers, sockets and processors of the modules run on the looper: free
    // the modules there, then stop and join it with the context.
    if (engine->looper) {
        hal_looper_exec(engine->looper, modules_destroy_on_looper, engine);
    }
    hal_ctx_destroy(&engine->ctx);
    lirko_event_object_destroy(&engine->event_handle);
    if (engine->list) {
        list_del(engine->list);
    }
    free(engine->pending_password);
    free(engine);
    *pengine = NULL;
}

int lirko_reset(lirko_t *engine)
{
    if (!engine) {
        return -1;
    }
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s", "lirko_reset");
    return lirko_logout(engine);
}

lirko_event_object *lirko_get_event_handle(lirko_t *engine)
{
    return engine ? engine->event_handle : NULL;
}

int lirko_modules_new(lirko_t *engine)
{
    hal_log *log = engine->log;
    if (!engine->codec && !step_fails(1)) {
        engine->codec = etpacket_new(engine->broad, engine->log);
    }
    if (!engine->codec) {
        goto out;
    }
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "etpacket new done !!!");
    if (!engine->connection && !step_fails(2)) {
        engine->connection = connection_new(engine);
    }
    if (!engine->connection) {
        goto out;
    }
    if (!engine->cache && !step_fails(3)) {
        engine->cache = cache_new(engine);
    }
    if (!engine->cache) {
        goto out;
    }
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "cache new done !!!");
    if (!engine->focus && !step_fails(4)) {
        engine->focus = focus_manager_new();
    }
    if (!engine->focus) {
        goto out;
    }
    if (!engine->broadcast && !step_fails(5)) {
        engine->broadcast = broadcast_new(engine);
    }
    if (!engine->broadcast) {
        goto out;
    }
    if (!engine->sessionset && !step_fails(6)) {
        engine->sessionset = sessionset_new(engine);
    }
    if (!engine->sessionset) {
        goto out;
    }
    if (!engine->events_subscribed) {
        if (step_fails(7) || lirko_subscribe_events(engine) != 0) {
            goto out;
        }
        engine->events_subscribed = 1;
    }
    if (!engine->handlers_registered) {
        if (step_fails(8) || lirko_register_message_handlers(engine, engine->connection) != 0) {
            goto out;
        }
        engine->handlers_registered = 1;
    }
    return 0;
out:
    // A failed start unwinds: later operations never meet a half-made engine.
    hal_log_output(log, HAL_LOG_ERROR, TAG, "lirko_modules_new failed");
    lirko_modules_destroy(engine);
    return -1;
}

void lirko_modules_destroy(lirko_t *engine)
{
    if (engine->handlers_registered) {
        lirko_unregister_message_handlers(engine, engine->connection);
        engine->handlers_registered = 0;
    }
    if (engine->events_subscribed) {
        lirko_unsubscribe_events(engine);
        engine->events_subscribed = 0;
    }
    lirko_cancel_member_query(engine);
    lirko_cancel_reply_timers(engine);
    broadcast_destroy(&engine->broadcast);
    sessionset_destroy(&engine->sessionset);
    focus_manager_clear(engine->focus);
    focus_manager_destroy(&engine->focus);
    cache_destroy(&engine->cache);
    connection_destroy(&engine->connection);
    if (engine->codec) {
        etpacket_destroy(engine->codec);
        free(engine->codec);
        engine->codec = NULL;
    }
}

void lirko_clear_login_scratch(lirko_t *engine)
{
    memset(engine->login_scratch, 0, sizeof(engine->login_scratch));
    free(engine->pending_password);
    engine->pending_password = NULL;
}

void lirko_reset_modules(lirko_t *engine)
{
    cache_clear(engine->cache);
    sessionset_clear(engine->sessionset);
    focus_manager_clear(engine->focus);
}
