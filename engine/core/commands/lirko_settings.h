// Saved settings in custom.ini: the account the user logged in with, the
// server context, the addressing server list and the record codec, and
// reading or writing any key for the application. Every writer saves the
// whole file at once. Looper thread only. Texts returned by the getters
// belong to the INI store and are valid until its next change.
#ifndef LIRKO_SETTINGS_H
#define LIRKO_SETTINGS_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

// A NULL text leaves its key unchanged (the file is still saved); a role
// below 0 keeps the stored role. The save result; -1 without storing or
// saving anything when a value is refused (hal_ini_replace).
int lirko_save_account(lirko_t *engine, const char *account, const char *password, int role);
int lirko_clear_saved_account(lirko_t *engine);
int lirko_has_saved_account(lirko_t *engine);
const char *lirko_get_saved_account(lirko_t *engine);
const char *lirko_get_saved_password(lirko_t *engine);
int lirko_get_saved_role(lirko_t *engine);

int lirko_save_context(lirko_t *engine, const char *context);
int lirko_has_saved_context(lirko_t *engine);
const char *lirko_get_saved_context(lirko_t *engine);
int lirko_clear_saved_context(lirko_t *engine);

int lirko_save_dns(lirko_t *engine, const char *dns);
int lirko_save_record_code(lirko_t *engine, const char *codec);
int lirko_get_saved_record_code(lirko_t *engine);

int lirko_is_located(lirko_t *engine);

// Reloads custom.ini from disk first, so values another program wrote are
// seen (and values held only in memory are lost).
const char *lirko_read_ini(lirko_t *engine, const char *section, const char *key);
// Reloads, replaces the key, saves, then posts "hal.ini.changed". The replace
// result; a refused value is neither saved nor announced.
int lirko_write_ini(lirko_t *engine, const char *section, const char *key, const char *value);

#ifdef __cplusplus
}
#endif

#endif
