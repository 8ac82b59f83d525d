// The account and settings exports: the saved account, name and password
// changes, the saved settings the application writes, the log threshold,
// the version and the voice-quality class.
#include "cache.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_string.h"
#include "lirko.h"
#include "lirko_commands.h"
#include "lirko_records.h"
#include "lirko_settings.h"
#include "lirko_user_commands.h"
#include "lirko_win.h"
#include "lirko_win_frame.h"
#include "sessionset.h"

#include <stdlib.h>
#include <string.h>

// The INI store reads a line back in one piece only up to this many bytes,
// its newline included; a longer setting would come back cut.
#define INI_LINE_MAX 255

typedef struct account_args {
    const char *account;
    const char *password;
    int role;
} account_args;

int lirko_win_saveAccount(const char *account, const char *password, int role)
{
    if (!account || !password)
        return -1;
    account_args args = {account, password, role};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const account_args *a = (const account_args *)arg;
            hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "account:%s", a->account);
            return lirko_save_account(engine, a->account, a->password, a->role) == 0 ? 0 : -1;
        },
        &args, -1);
}

int lirko_win_clearAccount(void)
{
    return lirko_win_run(
        [](lirko_t *engine, void *) { return lirko_clear_saved_account(engine) == 0 ? 0 : -1; },
        NULL, -1);
}

lirko_boolean_t lirko_win_hasAccount(void)
{
    return lirko_win_run(
        [](lirko_t *engine, void *) {
            int has = lirko_has_saved_account(engine) ? 1 : 0;
            hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "has_account:%d", has);
            return has;
        },
        NULL, 0);
}

typedef struct saved_account_args {
    char *account;
    char *password;
    int *role;
} saved_account_args;

int lirko_win_getSavedAccount(char *account, char *password, int *role)
{
    saved_account_args args = {account, password, role};
    // The texts belong to the INI store, which the looper may reload at any
    // time: they are copied while the looper holds still.
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const saved_account_args *a = (const saved_account_args *)arg;
            const char *user = lirko_get_saved_account(engine);
            const char *pass = lirko_get_saved_password(engine);
            if (!user || !pass)
                return -1;
            if (a->account)
                lirko_copy_text(a->account, LIRKO_ACCOUNT_BUF_SIZE, user);
            if (a->password)
                lirko_copy_text(a->password, LIRKO_PASSWORD_BUF_SIZE, pass);
            if (a->role)
                *a->role = lirko_get_saved_role(engine);
            return 0;
        },
        &args, -1);
}

int lirko_win_changeName(const char *name)
{
    return lirko_win_run(
        [](lirko_t *engine, void *arg) { return lirko_change_name(engine, (const char *)arg); },
        (void *)name, -1);
}

typedef struct password_args {
    const char *old_password;
    const char *new_password;
} password_args;

int lirko_win_changePassword(const char *old_password, const char *new_password)
{
    if (!old_password || !new_password)
        return -1;
    password_args args = {old_password, new_password};
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            const password_args *a = (const password_args *)arg;
            return lirko_change_password(engine, a->old_password, a->new_password);
        },
        &args, -1);
}

lirko_boolean_t lirko_win_hasAudioEnabled(void)
{
    return lirko_win_run(
        [](lirko_t *engine, void *) {
            // The account's configuration carries the talk right; it is what
            // the sessions obey and what the audio-enabled callback reports.
            return engine->cache->config.audio_enabled ? 1 : 0;
        },
        NULL, 0);
}

int lirko_win_set_join_default_group(lirko_boolean_t on)
{
    return lirko_win_run(
        [](lirko_t *engine, void *arg) {
            lirko_set_join_default_group(engine, *(lirko_boolean_t *)arg != 0);
            return 0;
        },
        &on, -1);
}

lirko_boolean_t lirko_win_is_join_default_group(void)
{
    return lirko_win_run(
        [](lirko_t *engine, void *) { return (int)lirko_is_join_default_group(engine); }, NULL, 0);
}

typedef struct setting_args {
    const char *section;
    const char *key;
    const char *text; // system code page
} setting_args;

// Stores one setting converted to UTF-8 and saves the file: the save's
// result, -1 for text that does not convert or would not be read back
// whole.
static int save_setting_body(lirko_t *engine, void *arg)
{
    const setting_args *a = (const setting_args *)arg;
    int size = GBKToUTF8(a->text, NULL, 0);
    if (size <= 0)
        return -1;
    char *utf8 = (char *)malloc((size_t)size);
    if (!utf8)
        return -1;
    int rc = -1;
    // "key = value" and its newline make the line the store writes.
    size_t line = strlen(a->key) + 3 + strlen(a->text) + 1;
    if (GBKToUTF8(a->text, utf8, size) > 0 && line <= INI_LINE_MAX &&
        hal_ini_replace(engine->ini, a->section, a->key, utf8) == 0)
        rc = hal_ini_save(engine->ini);
    else
        hal_log_output(engine->log, HAL_LOG_ERROR, LIRKO_WIN_TAG, "[%s] %s not saved", a->section,
                       a->key);
    free(utf8);
    return rc;
}

static int save_setting(const char *section, const char *key, const char *text)
{
    if (!text)
        return -1;
    setting_args args = {section, key, text};
    return lirko_win_run(save_setting_body, &args, -1);
}

int lirko_win_save_context(const char *context)
{
    return save_setting("account", "context", context);
}

int lirko_win_save_dns(const char *dns)
{
    return save_setting("network", "dns", dns);
}

int lirko_win_save_record_code(const char *codec)
{
    return save_setting("record", "codec", codec);
}

int lirko_win_set_log_priority(int priority)
{
    return lirko_win_run(
        [](lirko_t *engine, void *arg) { return lirko_set_log_priority(engine, *(int *)arg); },
        &priority, -1);
}

int lirko_win_get_version(char *buf)
{
    if (!buf)
        return -1;
    return lirko_win_run(
        [](lirko_t *engine, void *arg) { return lirko_get_version(engine, (char *)arg); }, buf, -1);
}

int lirko_win_get_mos(void)
{
    return lirko_win_run([](lirko_t *engine, void *) { return lirko_get_mos(engine); }, NULL, 0);
}
