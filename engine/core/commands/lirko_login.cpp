#include "lirko_login.h"

#include "broadcast.h"
#include "cache.h"
#include "connection.h"
#include "focus_manager.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "lirko.h"
#include "lirko_error.h"
#include "lirko_events.h"
#include "lirko_handlers.h"
#include "post_util.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "session.h"
#include "sessionset.h"

#include <stdlib.h>
#include <string.h>

static const char *TAG = "lirko";

// Seconds the login and logout requests wait for their answers.
#define LOGIN_ACK_TIMEOUT 3.0
#define LOGOUT_ACK_TIMEOUT 1.0

// A talk cannot wait out the reconnect retries: the user holds the talk key
// while voice goes nowhere.
static int engine_is_talking(void *arg)
{
    lirko_t *engine = (lirko_t *)arg;
    return session_is_talking(sessionset_current(engine->sessionset));
}

// started: what a call that starts a connection attempt returns.
static int login_common(lirko_t *engine, const char *account, const char *password, uint32_t role,
                        int started)
{
    if (!engine || !account || !password) {
        return -1;
    }
    hal_log *log = engine->log;
    if (!*account) {
        hal_log_output(log, HAL_LOG_ERROR, TAG, "No account");
        if (engine->audio_prompt) {
            lirko_notify_error(engine, LIRKO_ERR_NO_ACCOUNT);
        }
        return -1;
    }
    connection_t *conn = engine->connection;
    if (!conn) {
        return -1;
    }
    // The password itself never goes to the log, only its length.
    hal_log_output(log, HAL_LOG_VERBOSE, TAG,
                   "Login: account=%s,password length=%u,role=%u,conn_status:%d", account,
                   (unsigned)strlen(password), role, (int)conn->status);
    if (connection_is_connected(conn)) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "conn_status:%d", (int)conn->status);
        if (engine->login_state == LIRKO_STATUS_ONLINE) {
            lirko_notify_online_status(engine, LIRKO_STATUS_ONLINE);
            return 0;
        }
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "post_util_login begin");
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "post_util_login account:%s password length:%u",
                       account, (unsigned)strlen(password));
        return post_util_login(engine, account, password, engine->password_encrypted, role,
                               LOGIN_ACK_TIMEOUT, NULL, engine);
    }
    if (engine->login_state == LIRKO_STATUS_LOGGING_IN) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "lirko_login conn_status:%d login_state:%d",
                       (int)conn->status, (int)engine->login_state);
        return -1;
    }
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "conn_status:%d", (int)conn->status);
    const char *context = hal_ini_find(engine->ini, "account", "context");
    if (!context || !*context) {
        context = "std";
    }
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_startup :%s", context);
    engine->login_state = LIRKO_STATUS_LOGGING_IN;
    // Copied before the report: the texts may live in the INI store (a saved
    // login), which a callback may rewrite in place. They may also be the
    // connection's own copies (a re-login after a reconnect);
    // connection_set_account copies before it frees. The shutdown below
    // keeps them.
    connection_set_account(conn, account, password, role, context);
    lirko_notify_online_status(engine, LIRKO_STATUS_LOGGING_IN);
    connection_shutdown(conn);
    connection_set_status_listener(conn, lirko_on_connection_status, engine);
    connection_set_urgency(conn, engine_is_talking, engine);
    connection_startup(conn);
    // A login was started; its outcome arrives through the listener slots.
    return started;
}

int lirko_login(lirko_t *engine, const char *account, const char *password, uint32_t role)
{
    return login_common(engine, account, password, role, 0);
}

int lirko_login_by_saved(lirko_t *engine)
{
    if (!engine) {
        return -1;
    }
    hal_log *log = engine->log;
    hal_log_output(log, HAL_LOG_DEBUG, TAG, "lirko_login_by_saved begin");
    const char *user = hal_ini_find(engine->ini, "account", "user");
    if (!user) {
        hal_log_output(log, HAL_LOG_ERROR, TAG, "No account saved");
        if (engine->audio_prompt) {
            lirko_notify_error(engine, LIRKO_ERR_NO_ACCOUNT);
        }
        return -1;
    }
    const char *password = hal_ini_find(engine->ini, "account", "password");
    if (!password) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "No password saved");
        return -1;
    }
    const char *role = hal_ini_find(engine->ini, "account", "role");
    const char *encrypted = hal_ini_find(engine->ini, "account", "encrypted");
    engine->password_encrypted = (uint8_t)(encrypted ? atoi(encrypted) : 0);
    hal_log_output(log, HAL_LOG_ERROR, TAG, "%s password is encrypt:%d", "lirko_login_by_saved",
                   (int)engine->password_encrypted);
    // A started login gives -1 here, as the saved-account export has always
    // been documented to: its caller judges the outcome by the status
    // callback (state 2 arrives at once).
    return login_common(engine, user, password, (uint32_t)(role ? atoi(role) : 0), -1);
}

// Re-login with the credentials the connection keeps (after a connect).
static void login_with_stored(lirko_t *engine)
{
    connection_t *conn = engine->connection;
    if (conn->account && conn->password) {
        lirko_login(engine, conn->account, conn->password, conn->role);
    }
}

void lirko_on_connection_status(connection_t *connection, uint32_t status, void *arg)
{
    (void)connection;
    lirko_t *engine = (lirko_t *)arg;
    hal_log *log = engine->log;
    switch (status) {
    case CONN_DISCONNECTED:
        engine->login_state = LIRKO_STATUS_OFFLINE;
        lirko_reset_modules(engine);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection CONN_DISCONNECTED,login_state:%d",
                       (int)engine->login_state);
        lirko_notify_error(engine, LIRKO_ERR_DISCONNECTED);
        lirko_notify_online_status(engine, engine->login_state);
        break;
    case CONN_CONNECTING:
        lirko_notify_error(engine, LIRKO_ERR_CONNECTING);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection CONN_CONNECTING,login_state:%d",
                       (int)engine->login_state);
        break;
    case CONN_CONNECTED:
        lirko_reset_modules(engine);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection CONN_CONNECTED,login_state:%d",
                       (int)engine->login_state);
        login_with_stored(engine);
        break;
    case CONN_RECONNECTING:
        lirko_cancel_member_query(engine);
        connection_shutdown(engine->connection);
        lirko_clear_login_scratch(engine);
        engine->login_state = LIRKO_STATUS_OFFLINE;
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection CONN_RECONNECTING,login_state:%d",
                       (int)engine->login_state);
        lirko_reset_modules(engine);
        lirko_notify_error(engine, LIRKO_ERR_RECONNECTING);
        lirko_notify_online_status(engine, engine->login_state);
        break;
    case CONN_RESET:
        lirko_reset_modules(engine);
        engine->login_state = LIRKO_STATUS_OFFLINE;
        hal_log_output(log, HAL_LOG_DEBUG, TAG, "connection CONN_RESET,login_state:%d",
                       (int)engine->login_state);
        login_with_stored(engine);
        break;
    case CONN_ADDRESSING_FAILED:
    case CONN_ADDRESSING_CONTEXT_ERROR:
        engine->login_state = LIRKO_STATUS_OFFLINE;
        lirko_reset_modules(engine);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection CONN_DISCONNECTED,login_state:%d",
                       (int)engine->login_state);
        lirko_notify_error(engine, status == CONN_ADDRESSING_FAILED ? LIRKO_ERR_ADDRESSING_FAILED
                                                                    : LIRKO_ERR_CONTEXT);
        lirko_notify_online_status(engine, engine->login_state);
        connection_shutdown(engine->connection);
        break;
    default:
        break;
    }
}

void on_recv_login_ack_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    (void)h;
    lirko_t *engine = (lirko_t *)arg;
    hal_log *log = engine->log;
    const Ptt__Rr__LoginAck *ack = (const Ptt__Rr__LoginAck *)msg;
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "on_recv_login_ack_message ack->result:%d",
                   (int)ack->result);
    if (ack->result != 0) {
        connection_shutdown(engine->connection);
        engine->login_state = LIRKO_STATUS_NONE;
        int code = lirko_error_from_login_result(ack->result);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "on_recv_login_ack_message last_error_no %d",
                       code);
        lirko_notify_error(engine, code);
    } else {
        engine->login_state = LIRKO_STATUS_ONLINE;
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "on_recv_login_ack_message--login_state:%d",
                       (int)engine->login_state);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "on_recv_login_ack_message--login_state:%d",
                       (int)engine->login_state);
        post_util_querygroup(engine);
        Ptt__Rr__QueryContacts contacts = PTT__RR__QUERY_CONTACTS__INIT;
        connection_send_msg(engine->connection, &contacts.base);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG,
                       "on_recv_login_ack_message-- cache_init successfully!!");
    }
    lirko_notify_online_status(engine, engine->login_state);
    lirko_event_post(engine, "online_status", (int32_t)engine->login_state, 0);
}

void lirko_on_reset_event(connection_t *connection, const char *ack_name, void *arg)
{
    (void)connection;
    (void)ack_name;
    lirko_t *engine = (lirko_t *)arg;
    engine->login_state = LIRKO_STATUS_OFFLINE;
    lirko_notify_error(engine, LIRKO_ERR_LOGIN_TIMEOUT);
    lirko_notify_online_status(engine, LIRKO_STATUS_OFFLINE);
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s", "lirko_reset");
    lirko_logout(engine);
}

int lirko_logout(lirko_t *engine)
{
    if (!engine) {
        return -1;
    }
    connection_t *conn = engine->connection;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s,s:%d", "lirko_logout",
                   conn ? (int)conn->status : -1);
    // The user is leaving: a reply still awaited must not time out into the
    // next login.
    lirko_cancel_reply_timers(engine);
    if (connection_is_connected(conn)) {
        Ptt__Rr__Logout logout = PTT__RR__LOGOUT__INIT;
        connection_send_msg_with_expect(conn, &logout.base, "ptt.rr.LogoutAck", LOGOUT_ACK_TIMEOUT,
                                        lirko_on_recv_logoutack_timeout, engine);
    } else {
        on_recv_logout_ack_message(NULL, engine, NULL);
    }
    engine->has_been_online = 0;
    return 0;
}

static void end_session(lirko_t *engine)
{
    lirko_cancel_reply_timers(engine);
    engine->last_gid = 0;
    sessionset_set_last_gid(engine->sessionset, 0);
    lirko_cancel_member_query(engine);
    connection_shutdown(engine->connection);
    sessionset_clear(engine->sessionset);
    cache_clear(engine->cache);
    focus_manager_clear(engine->focus);
    lirko_clear_login_scratch(engine);
    engine->login_state = LIRKO_STATUS_OFFLINE;
    lirko_notify_error(engine, LIRKO_ERR_LOGGED_OUT);
    lirko_notify_online_status(engine, LIRKO_STATUS_OFFLINE);
}

void on_recv_logout_ack_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    (void)msg;
    (void)h;
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s", "on_recv_logout_ack_message");
    end_session(engine);
}

void lirko_on_recv_logoutack_timeout(connection_t *connection, const char *ack_name, void *arg)
{
    (void)connection;
    (void)ack_name;
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s", "lirko_on_recv_logoutack_timeout");
    end_session(engine);
}

void on_recv_kickout_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    (void)h;
    lirko_t *engine = (lirko_t *)arg;
    const Ptt__Push__Kickout *kick = (const Ptt__Push__Kickout *)msg;
    engine->login_state = LIRKO_STATUS_OFFLINE;
    int code = lirko_error_from_kickout(kick->has_reason_code, kick->reason_code);
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s reason %d", "on_recv_kickout_message",
                   kick->has_reason_code ? (int)kick->reason_code : 0);
    lirko_notify_error(engine, code);
    lirko_notify_online_status(engine, LIRKO_STATUS_OFFLINE);
    engine->last_gid = 0;
    sessionset_set_last_gid(engine->sessionset, 0);
    lirko_cancel_member_query(engine);
    sessionset_clear(engine->sessionset);
    connection_shutdown(engine->connection);
    cache_clear(engine->cache);
    focus_manager_clear(engine->focus);
}
