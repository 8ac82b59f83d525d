// Engine commands that send one request (calls, contacts, name and password)
// and the small settings kept in the engine record, plus the received
// broadcast list the cache keeps. Requests go out without waiting; their
// answers arrive through the handlers. Results: the send result (0 when
// queued) or -1 for a refused precondition. Looper thread only.
#ifndef LIRKO_COMMANDS_H
#define LIRKO_COMMANDS_H

#include "lirko_win.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct newsheet newsheet;

// The version text lirko_get_version writes (with its NUL: 21 bytes).
#define LIRKO_VERSION_TEXT "WIN-20231212-release"

// Calls pass the offline gate (lirko_offline_gate) first.
int lirko_call(lirko_t *engine, const uint32_t *uids, uint32_t count);
int lirko_singlecall(lirko_t *engine, uint32_t uid);
int lirko_singlecall_full_duplex(lirko_t *engine, uint32_t uid);
int lirko_make_contacts_by_uid(lirko_t *engine, uint32_t count, const uint32_t *uids,
                               const char *text);
int lirko_make_contacts_by_account(lirko_t *engine, uint32_t count, const char *const *accounts,
                                   const char *text);
int lirko_remove_contacts(lirko_t *engine, uint32_t count, const uint32_t *uids);
// Refused requests leave the request list at once (requestcontact_update
// is posted); accepted ones when the answer names them.
int lirko_response_contacts(lirko_t *engine, uint32_t n_accept, const uint32_t *accept,
                            uint32_t n_refuse, const uint32_t *refuse);
// -1 for NULL or an empty name.
int lirko_change_name(lirko_t *engine, const char *name);
// -1 when either is NULL or empty; the new password is kept until the
// answer stores it.
int lirko_change_password(lirko_t *engine, const char *old_password, const char *new_password);

void lirko_set_join_default_group(lirko_t *engine, uint8_t on);
uint8_t lirko_is_join_default_group(lirko_t *engine);
// Writes LIRKO_VERSION_TEXT and its NUL: 0, or -1 for NULL.
int lirko_get_version(lirko_t *engine, char *buf);
uint8_t lirko_get_audio_prompt(lirko_t *engine);
void lirko_set_audio_prompt(lirko_t *engine, uint8_t on);
void lirko_cancel_invite_failed(lirko_t *engine);
uint32_t lirko_get_locale_language(lirko_t *engine);
void lirko_set_locale_language(lirko_t *engine, uint32_t language);
uint32_t lirko_get_power_mode(lirko_t *engine);
lirko_boolean_t lirko_set_mute(void);
int lirko_set_btdsp_data(lirko_t *engine, const void *data, int length);
int lirko_finished_btdsp_data(lirko_t *engine);

// Received broadcasts (newsheets) the cache keeps: [cache] newsheet, 3 when
// missing or 0.
int lirko_get_broadcast_max_saved_count(lirko_t *engine);
// Copies in list order, oldest first; free with lirko_free_newsheet_array.
int lirko_get_broadcastlist(lirko_t *engine, newsheet **out);
void lirko_clear_broadcastlist(lirko_t *engine);
newsheet *lirko_get_broadcast(lirko_t *engine, uint32_t id);
void lirko_remove_boadcasts(lirko_t *engine, const uint32_t *ids, int count);
// Plays the stored newsheet with that id now; -1 without an engine or when it
// cannot be played.
int lirko_start_broadcast(lirko_t *engine, uint32_t id);
// Stops the player whole (timers, sound, focus), so nothing it had queued
// starts behind the caller's back.
void lirko_stop_broadcast(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
