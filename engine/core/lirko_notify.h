// The engine's two reporting tables, both held in the engine record and
// used on the looper thread only:
// - the listener table (lirko_notify_t): the engine's internal reporting
//   interface, called as slot(engine, user_data, arguments); a NULL slot is
//   skipped;
// - the application callback table (lirko_win_callbacks): the application's
//   plain function pointers, registered through the lirko_win_set_* exports.
// lirko_win_on_load fills the listener table with the notify bridge, which
// turns each listener call into a call of one application callback.
//
// Slots are listed in their fixed order; the tables grow by appending the
// later slots in that order.
#ifndef LIRKO_NOTIFY_H
#define LIRKO_NOTIFY_H

#include "lirko_win.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

typedef struct lirko_notify_t {
    // 0
    void (*on_message)(lirko_t *engine, void *user_data, const char *text);
    // 1: message is NULL for every code the engine raises today.
    void (*on_error)(lirko_t *engine, void *user_data, const char *message, int code);
    // 2
    void (*on_online_status_changed)(lirko_t *engine, void *user_data, LIRKO_ONLINE_STATUS state);
    void *user_data;
} lirko_notify_t;

typedef void (*lirko_message_cb)(const char *text);

typedef struct lirko_win_callbacks {
    lirko_online_status_cb online_status; // 0
    lirko_message_cb message;             // 1
    lirko_error_cb error;                 // 2
} lirko_win_callbacks;

// Copies the whole listener table and stores the user data; 0.
int lirko_register_notify(lirko_t *engine, const lirko_notify_t *table, void *user_data);
// Clears every slot and the user data; 0.
int lirko_unregister_notify(lirko_t *engine);
// The listener table of the notify bridge, as lirko_win_on_load installs it.
const lirko_notify_t *lirko_notify_bridge_table(void);

// Stores code as the engine's last error and calls slot on_error with a NULL
// message.
void lirko_notify_error(lirko_t *engine, int code);
// Calls slot on_online_status_changed with the given state.
void lirko_notify_online_status(lirko_t *engine, LIRKO_ONLINE_STATUS state);

// Application callback setters (internal side). The error setter refuses
// NULL with -1; the others store what they are given.
int lirko_set_online_statuscb(lirko_t *engine, lirko_online_status_cb cb);
int lirko_set_message_cb(lirko_t *engine, lirko_message_cb cb);
int lirko_set_error_cb(lirko_t *engine, lirko_error_cb cb);
lirko_online_status_cb lirko_get_online_statuscb(lirko_t *engine);
lirko_message_cb lirko_get_message_cb(lirko_t *engine);
lirko_error_cb lirko_get_error_cb(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
