// The exported interface frame: load, unload and the run-on-looper pattern,
// plus the early exports (login, logout, login state).
#include "lirko_win.h"

#include "hal_ctx.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "lirko.h"
#include "lirko_login.h"
#include "lirko_notify.h"
#include "lirko_win_frame.h"

#include <mutex>
#include <shared_mutex>

// The library's one engine. g_frame_lock is held exclusively by load and
// unload while they change the instance, and shared by an export from
// another thread for the whole of its looper hop, so unload cannot free an
// engine an export is using. The looper thread itself never takes the lock:
// it finds its engine through t_looper_engine, set on that thread while the
// engine's modules exist (unload waits for the looper, so a callback that
// calls an export can never deadlock against it).
static std::shared_mutex g_frame_lock;
static lirko_t *g_engine;
static hal_ctx *g_ctx;
static thread_local lirko_t *t_looper_engine;

typedef struct win_call {
    lirko_win_body body;
    lirko_t *engine;
    void *arg;
} win_call;

static int win_trampoline(hal_looper *looper, void *arg)
{
    (void)looper;
    win_call *call = (win_call *)arg;
    return call->body(call->engine, call->arg);
}

int lirko_win_run(lirko_win_body body, void *arg, int no_engine_result)
{
    if (t_looper_engine) {
        return body(t_looper_engine, arg);
    }
    std::shared_lock<std::shared_mutex> lock(g_frame_lock);
    if (!g_engine) {
        return no_engine_result;
    }
    win_call call = {body, g_engine, arg};
    return hal_looper_exec(g_engine->looper, win_trampoline, &call);
}

static int install_on_looper(hal_looper *looper, void *arg)
{
    (void)looper;
    lirko_t *engine = (lirko_t *)arg;
    lirko_register_notify(engine, lirko_notify_bridge_table(), NULL);
    t_looper_engine = engine;
    return 0;
}

static int uninstall_on_looper(hal_looper *looper, void *arg)
{
    (void)looper;
    // Nothing raised during the teardown reaches the application.
    lirko_unregister_notify((lirko_t *)arg);
    t_looper_engine = NULL;
    return 0;
}

int lirko_win_on_load(const char *dir)
{
    if (t_looper_engine) {
        return -1; // from a callback: an engine is loaded
    }
    std::unique_lock<std::shared_mutex> lock(g_frame_lock);
    if (g_engine) {
        return -1;
    }
    lirko_t *engine = lirko_new(dir);
    if (!engine) {
        return -1;
    }
    hal_looper_exec(engine->looper, install_on_looper, engine);
    g_engine = engine;
    g_ctx = engine->ctx;
    return 0;
}

void lirko_win_on_unload(void)
{
    if (t_looper_engine) {
        // A callback cannot tear down the thread it runs on.
        hal_log_output(t_looper_engine->log, HAL_LOG_ERROR, "main",
                       "lirko_win_on_unload from a callback refused");
        return;
    }
    lirko_t *engine;
    hal_ctx *ctx;
    {
        std::unique_lock<std::shared_mutex> lock(g_frame_lock);
        engine = g_engine;
        ctx = g_ctx;
        g_engine = NULL;
        g_ctx = NULL;
    }
    if (engine) {
        hal_log_output(engine->log, HAL_LOG_DEBUG, "main", "lirko_destroy");
        hal_looper_exec(engine->looper, uninstall_on_looper, engine);
        lirko_destroy(&engine);
    } else if (ctx) {
        hal_log_output(hal_ctx_get_log(ctx), HAL_LOG_DEBUG, "main", "hal_ctx_destroy");
        hal_ctx_destroy(&ctx);
    }
}

typedef struct login_args {
    const char *account;
    const char *password;
    int role;
} login_args;

static int login_body(lirko_t *engine, void *arg)
{
    login_args *a = (login_args *)arg;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "login begin");
    // A password typed by the user is never the saved digest, whatever the
    // last saved login said.
    engine->password_encrypted = 0;
    int ret = lirko_login(engine, a->account, a->password, (uint32_t)a->role);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "login done ret:%d", ret);
    // Once the engine took the request, the outcome arrives through the
    // callbacks.
    return 0;
}

int lirko_win_login(const char *account, const char *password, int role)
{
    if (!account || !password || role < 0) {
        return -1;
    }
    login_args args = {account, password, role};
    return lirko_win_run(login_body, &args, -1);
}

static int login_saved_body(lirko_t *engine, void *arg)
{
    (void)arg;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "login_with_saved begin");
    int ret = lirko_login_by_saved(engine);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "login_with_saved done ret:%d",
                   ret);
    return ret;
}

int lirko_win_loginWithSaved(void)
{
    return lirko_win_run(login_saved_body, NULL, -1);
}

static int logout_body(lirko_t *engine, void *arg)
{
    (void)arg;
    return lirko_logout(engine);
}

int lirko_win_logout(void)
{
    return lirko_win_run(logout_body, NULL, -1);
}

static int online_status_body(lirko_t *engine, void *arg)
{
    (void)arg;
    return (int)engine->login_state;
}

LIRKO_ONLINE_STATUS lirko_win_getOnlineStatus(void)
{
    return (LIRKO_ONLINE_STATUS)lirko_win_run(online_status_body, NULL, LIRKO_STATUS_NONE);
}

// The callback setters are made from the callback table in
// lirko_win_callbacks.cpp.
