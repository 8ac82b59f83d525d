// The engine library's exported interface: plain C functions named lirko_win_*
// that the console calls from any thread. Every call runs its body on the
// engine's own thread (the looper) and waits for it; a call made from inside
// one of the callbacks below (which run on that thread) runs in place.
// Results: 0 or a count for success, small negative codes for failure.
// Errors that happen later reach the application through the error callback.
#ifndef LIRKO_WIN_H
#define LIRKO_WIN_H

#ifdef __cplusplus
extern "C" {
#endif

// The login state.
typedef enum LIRKO_ONLINE_STATUS {
    LIRKO_STATUS_NONE = 0,       // never logged in, or the server refused the login
    LIRKO_STATUS_OFFLINE = 1,    // logged out, kicked out, connection lost
    LIRKO_STATUS_LOGGING_IN = 2, // a connection attempt is under way
    LIRKO_STATUS_ONLINE = 3,
} LIRKO_ONLINE_STATUS;

// Application callbacks. They run on the engine's thread; they may call any
// lirko_win_ export, which then runs in place.
typedef void (*lirko_online_status_cb)(LIRKO_ONLINE_STATUS state);
// message is an engine-owned text (empty when the engine has none), valid
// during the call only.
typedef void (*lirko_error_cb)(const char *message, int code);

// Makes the engine on the directory holding custom.ini (NULL: the library's
// own directory). 0 when made; -1 when it could not be made or an engine is
// loaded already. Does not log in.
int lirko_win_on_load(const char *dir);
// Destroys the engine; nothing is reported to the application during the
// teardown. Safe without a loaded engine. Must not be called from a callback.
void lirko_win_on_unload(void);

// Starts a login: 0 once the arguments pass (account and password not NULL,
// role >= 0), -1 otherwise or without an engine. The outcome arrives through
// the online-status and error callbacks. The password is the plain text.
int lirko_win_login(const char *account, const char *password, int role);
// Logs in with the account saved in custom.ini ([account] user, password,
// role, encrypted): 0 when a login was started, -1 when none is saved.
int lirko_win_loginWithSaved(void);
// Logs out; the logged-out state and error -12 arrive through the callbacks.
int lirko_win_logout(void);
// The login state; LIRKO_STATUS_NONE without an engine.
LIRKO_ONLINE_STATUS lirko_win_getOnlineStatus(void);

// Callback setters: -1 for NULL (the previous callback stays), else 0.
int lirko_win_set_online_status_cb(lirko_online_status_cb cb);
int lirko_win_set_error_cb(lirko_error_cb cb);

#ifdef __cplusplus
}
#endif

#endif
