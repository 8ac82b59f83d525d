// The engine's side of the session with the server: login (connecting first
// when needed), the connection's status reports, logout, the login answer
// and the kick-out push. Keeps the engine's login state and reports through
// listener slots on_error and on_online_status_changed. Looper thread only.
#ifndef LIRKO_LOGIN_H
#define LIRKO_LOGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct connection_t connection_t;

// Logs in: sends the login at once when connected, else starts a connection
// attempt (state 2 is reported) whose outcome arrives through the listener
// slots. 0 when a login was sent or started, or when already online; -1 for
// a NULL or empty account, a login already under way, or a failed send.
int lirko_login(lirko_t *engine, const char *account, const char *password, uint32_t role);
// Logs in with [account] user, password, role and encrypted; -1 when no
// account or password is saved, and also when a connection attempt was
// started (state 2 has then been reported): the status callback tells.
int lirko_login_by_saved(lirko_t *engine);
// Sends Logout (when connected) and ends the session when its answer, or
// its time-out, arrives; at once when not connected. 0.
int lirko_logout(lirko_t *engine);

// The connection's status listener.
void lirko_on_connection_status(connection_t *connection, uint32_t status, void *engine);
// Time-out of the login request's reply watcher.
void lirko_on_reset_event(connection_t *connection, const char *ack_name, void *engine);
void lirko_on_recv_logoutack_timeout(connection_t *connection, const char *ack_name, void *engine);

#ifdef __cplusplus
}
#endif

#endif
