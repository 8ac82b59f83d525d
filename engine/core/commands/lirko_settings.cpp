#include "lirko_settings.h"

#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "lirko.h"

#include <stdio.h>
#include <stdlib.h>

static const char *TAG = "lirko";

static hal_ini *ini_of(lirko_t *engine)
{
    return engine ? engine->ini : NULL;
}

static int has_value(const char *v)
{
    return v && v[0];
}

static int save(hal_ini *ini)
{
    return ini ? hal_ini_save(ini) : -1;
}

// Sets [section] key to value (NULL leaves it as it is) and saves the file;
// fn names the caller in the log.
static int save_setting(lirko_t *engine, const char *fn, const char *section, const char *key,
                        const char *value)
{
    hal_ini *ini = ini_of(engine);
    if (!ini)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s begin", fn);
    if (value && hal_ini_replace(ini, section, key, value) != 0)
        return -1;
    return save(ini);
}

// A saved number; 0 when it is missing.
static int saved_int(lirko_t *engine, const char *section, const char *key)
{
    const char *v = hal_ini_find(ini_of(engine), section, key);
    return v ? atoi(v) : 0;
}

int lirko_save_account(lirko_t *engine, const char *account, const char *password, int role)
{
    hal_ini *ini = ini_of(engine);
    if (!ini)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko_save_account begin");
    char text[16];
    snprintf(text, sizeof(text), "%d", role);
    // All or nothing: a refused value leaves the store and the file as they
    // were.
    if ((account && hal_ini_check(ini, "account", "user", account) != 0) ||
        (password && hal_ini_check(ini, "account", "password", password) != 0))
        return -1;
    if ((account && hal_ini_replace(ini, "account", "user", account) != 0) ||
        (password && hal_ini_replace(ini, "account", "password", password) != 0) ||
        (role >= 0 && hal_ini_replace(ini, "account", "role", text) != 0))
        return -1;
    return save(ini);
}

int lirko_clear_saved_account(lirko_t *engine)
{
    hal_ini *ini = ini_of(engine);
    if (!ini)
        return -1;
    // Removing the last key of a section removes the section with it.
    hal_ini_remove(ini, "account", "user");
    hal_ini_remove(ini, "account", "password");
    hal_ini_remove(ini, "account", "role");
    return save(ini);
}

int lirko_has_saved_account(lirko_t *engine)
{
    hal_ini *ini = ini_of(engine);
    return ini && has_value(hal_ini_find(ini, "account", "user")) &&
           has_value(hal_ini_find(ini, "account", "password")) &&
           has_value(hal_ini_find(ini, "account", "role"));
}

const char *lirko_get_saved_account(lirko_t *engine)
{
    return hal_ini_find(ini_of(engine), "account", "user");
}

const char *lirko_get_saved_password(lirko_t *engine)
{
    return hal_ini_find(ini_of(engine), "account", "password");
}

int lirko_get_saved_role(lirko_t *engine)
{
    return saved_int(engine, "account", "role");
}

int lirko_save_context(lirko_t *engine, const char *context)
{
    return save_setting(engine, "lirko_save_context", "account", "context", context);
}

int lirko_has_saved_context(lirko_t *engine)
{
    return has_value(hal_ini_find(ini_of(engine), "account", "context"));
}

const char *lirko_get_saved_context(lirko_t *engine)
{
    return hal_ini_find(ini_of(engine), "account", "context");
}

int lirko_clear_saved_context(lirko_t *engine)
{
    hal_ini *ini = ini_of(engine);
    if (!ini)
        return -1;
    hal_ini_remove(ini, "account", "context");
    return save(ini);
}

int lirko_save_dns(lirko_t *engine, const char *dns)
{
    return save_setting(engine, "lirko_save_dns", "network", "dns", dns);
}

int lirko_save_record_code(lirko_t *engine, const char *codec)
{
    return save_setting(engine, "lirko_save_record_code", "record", "codec", codec);
}

int lirko_get_saved_record_code(lirko_t *engine)
{
    return saved_int(engine, "record", "codec");
}

int lirko_is_located(lirko_t *engine)
{
    if (engine)
        hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko_is_located");
    return 0;
}

const char *lirko_read_ini(lirko_t *engine, const char *section, const char *key)
{
    hal_ini *ini = ini_of(engine);
    if (!ini)
        return NULL;
    hal_ini_load(ini, NULL, NULL);
    if (!section || !key)
        return NULL;
    return hal_ini_find(ini, section, key);
}

int lirko_write_ini(lirko_t *engine, const char *section, const char *key, const char *value)
{
    hal_ini *ini = ini_of(engine);
    if (!ini)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "%s ", "lirko_write_ini");
    hal_ini_load(ini, NULL, NULL);
    int rc = hal_ini_replace(ini, section, key, value);
    // A refused value changes nothing: the file stays as it was.
    if (rc != 0)
        return rc;
    hal_ini_save(ini);
    hal_looper_event ev = {};
    ev.name = (char *)"hal.ini.changed";
    hal_looper_post_event(engine->looper, &ev, NULL);
    return rc;
}
