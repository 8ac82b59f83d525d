// The engine record: one per loaded engine. It owns the platform context and
// every module of the engine core; every internal engine operation takes it
// first. All fields are read and written on the looper thread only, except
// during lirko_new and lirko_destroy (see there).
#ifndef LIRKO_H
#define LIRKO_H

#include "lirko_notify.h"
#include "lirko_win.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_ini hal_ini;
typedef struct hal_log hal_log;
typedef struct hal_looper hal_looper;
typedef struct etpacket etpacket;
typedef struct list list;
typedef struct cache cache;
typedef struct connection_t connection_t;
typedef struct focus_manager_t focus_manager_t;
typedef struct sessionset sessionset;
typedef struct broadcast_t broadcast_t;
typedef struct lirko_event_object lirko_event_object;

#define LIRKO_LOGIN_SCRATCH_SIZE 64

struct lirko_t {
    hal_ctx *ctx;       // owned
    hal_ini *ini;       // the context's
    hal_log *log;       // the context's
    hal_looper *looper; // the context's
    etpacket *codec;    // owned: framing and schema registry
    struct cache *cache;
    connection_t *connection;
    focus_manager_t *focus;
    struct sessionset *sessionset;
    broadcast_t *broadcast;
    LIRKO_ONLINE_STATUS login_state;
    int32_t last_error;
    // Per-login state, zeroed at logout and on reconnection; see
    // lirko_clear_login_scratch.
    char login_scratch[LIRKO_LOGIN_SCRATCH_SIZE];
    // The new password of a password change in flight (heap copy, or NULL);
    // per-login state like the scratch, cleared with it.
    char *pending_password;
    // The saved password is already the digest the login sends. Set only by
    // the saved login; a manual login clears it.
    uint8_t password_encrypted;
    lirko_notify_t notify;
    uint32_t last_gid;
    uint8_t audio_prompt;
    uint32_t locale_language;
    uint32_t invite_failed;
    uint8_t join_default_group;
    uint8_t has_been_online;
    uint8_t broad;
    lirko_win_callbacks callbacks;
    // Voice recording of the talk sessions (lirko_record.h).
    uint8_t record_enabled;
    char record_path[128 + 1];
    lirko_event_object *event_handle; // made by lirko_new
    struct list *list;                // made on demand by other operations
    // Which subscriptions and registrations lirko_modules_new completed, so a
    // failed start unwinds exactly what was done.
    uint8_t events_subscribed;
    uint8_t handlers_registered;
    // Engine-clock second of the last group list the application forced a
    // refresh of (0: never); such refreshes are at least 6 s apart.
    uint32_t last_group_refresh;
};

// Makes the engine on dir (NULL: the library's directory): platform context
// (looper thread, INI store over dir/custom.ini), settings, modules, event
// processors and message handlers. NULL when any part cannot be made; what
// was made is torn down again (the looper thread included).
lirko_t *lirko_new(const char *dir);
// Tears the engine down and clears *engine; NULL or *engine NULL does
// nothing. The modules are freed on the looper (their timers and callbacks
// run there), then the looper is stopped and joined. Must not run on the
// looper thread.
void lirko_destroy(lirko_t **engine);
// A logout (logs "lirko_reset"); -1 for NULL.
int lirko_reset(lirko_t *engine);

// Inner make and unmake of the modules, on the looper. modules_new returns 0,
// or -1 after undoing whatever it made.
int lirko_modules_new(lirko_t *engine);
void lirko_modules_destroy(lirko_t *engine);

// The engine's event object (auto-reset); waited on by the recorder-stop
// exports.
lirko_event_object *lirko_get_event_handle(lirko_t *engine);

// Test seam: makes step n (1 to 8, in the order of lirko_modules_new) fail
// as if its module could not be made; 0 turns it off. Process-wide.
void lirko_test_fail_module_step(int step);

// The voice payload type of [record] codec: 101 (AMR-NB), else 103 (EVRC).
uint32_t lirko_voice_payload_type(lirko_t *engine);

// Zeroes the per-login scratch (pending password change and the like).
void lirko_clear_login_scratch(lirko_t *engine);
// Resets cache, session set and audio focus, in that order.
void lirko_reset_modules(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
