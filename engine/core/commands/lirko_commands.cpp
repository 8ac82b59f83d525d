#include "lirko_commands.h"

#include "broadcast.h"
#include "cache.h"
#include "connection.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_handlers.h"
#include "lirko_results.h"
#include "lirko_talk.h"
#include "list.h"
#include "post_util.h"
#include "ptt_rr.pb-c.h"
#include "sessionset.h"

#include <stdlib.h>
#include <string.h>

static const char *TAG = "lirko";

static int send(lirko_t *engine, const ProtobufCMessage *msg)
{
    return connection_send_msg(engine->connection, msg);
}

int lirko_call(lirko_t *engine, const uint32_t *uids, uint32_t count)
{
    if (!engine || lirko_offline_gate(engine) != 0 || !uids)
        return -1;
    for (uint32_t i = 0; i < count; i++)
        hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko_call uids[%d]:%d", (int)i,
                       (int)uids[i]);
    Ptt__Rr__Call c = PTT__RR__CALL__INIT;
    c.n_uids = count;
    c.uids = (uint32_t *)uids;
    return send(engine, &c.base);
}

static int single_call(lirko_t *engine, uint32_t uid, int full_duplex)
{
    if (!engine || lirko_offline_gate(engine) != 0)
        return -1;
    Ptt__Rr__SingleCall c = PTT__RR__SINGLE_CALL__INIT;
    c.uid = uid;
    if (full_duplex) {
        c.has_full_duplex = 1;
        c.full_duplex = 1;
    }
    return send(engine, &c.base);
}

int lirko_singlecall(lirko_t *engine, uint32_t uid)
{
    return single_call(engine, uid, 0);
}

int lirko_singlecall_full_duplex(lirko_t *engine, uint32_t uid)
{
    return single_call(engine, uid, 1);
}

int lirko_make_contacts_by_uid(lirko_t *engine, uint32_t count, const uint32_t *uids,
                               const char *text)
{
    if (!engine || !uids)
        return -1;
    for (uint32_t i = 0; i < count; i++)
        hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                       "lirko_make_contacts_uid uid:%d,message:%s", (int)uids[i], text ? text : "");
    Ptt__Rr__MakeContacts m = PTT__RR__MAKE_CONTACTS__INIT;
    m.text = (char *)text;
    m.n_uids = count;
    m.uids = (uint32_t *)uids;
    return send(engine, &m.base);
}

int lirko_make_contacts_by_account(lirko_t *engine, uint32_t count, const char *const *accounts,
                                   const char *text)
{
    if (!engine || !accounts)
        return -1;
    for (uint32_t i = 0; i < count; i++) {
        if (!accounts[i])
            return -1; // a message cannot carry a missing string
        hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG,
                       "lirko_make_contacts_account account:%s,message:%s", accounts[i],
                       text ? text : "");
    }
    Ptt__Rr__MakeContacts m = PTT__RR__MAKE_CONTACTS__INIT;
    m.text = (char *)text;
    m.n_accounts = count;
    m.accounts = (char **)accounts;
    return send(engine, &m.base);
}

int lirko_remove_contacts(lirko_t *engine, uint32_t count, const uint32_t *uids)
{
    if (!engine || !uids)
        return -1;
    if (count > 0)
        hal_log_output(engine->log, HAL_LOG_DEBUG, TAG, "lirko_remove_contacts, uid:%d",
                       (int)uids[0]);
    Ptt__Rr__RemoveContacts r = PTT__RR__REMOVE_CONTACTS__INIT;
    r.n_uids = count;
    r.uids = (uint32_t *)uids;
    return send(engine, &r.base);
}

// Drops uid's pending contact request: 1 when there was one.
static int drop_request(cache *c, uint32_t uid)
{
    for (list_node *n = list_begin(c->request_contacts); n; n = list_next(n)) {
        request_contact *r = (request_contact *)list_data_get(n);
        if (r && r->uid == uid) {
            list_remove_at(c->request_contacts, n);
            free(r->text);
            free(r->uname);
            free(r);
            return 1;
        }
    }
    return 0;
}

int lirko_response_contacts(lirko_t *engine, uint32_t n_accept, const uint32_t *accept,
                            uint32_t n_refuse, const uint32_t *refuse)
{
    if (!engine)
        return -1;
    if (n_refuse && refuse) {
        for (uint32_t i = 0; i < n_refuse; i++)
            drop_request(engine->cache, refuse[i]);
        lirko_event_post(engine, "requestcontact_update", 0, 0);
    }
    Ptt__Rr__MakeContactsResponse r = PTT__RR__MAKE_CONTACTS_RESPONSE__INIT;
    if (accept) {
        r.n_accept_uids = n_accept;
        r.accept_uids = (uint32_t *)accept;
    }
    if (refuse) {
        r.n_refused_uids = n_refuse;
        r.refused_uids = (uint32_t *)refuse;
    }
    return send(engine, &r.base);
}

int lirko_change_name(lirko_t *engine, const char *name)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "change_name");
    if (!name || !name[0])
        return -1;
    Ptt__Rr__ChangeName c = PTT__RR__CHANGE_NAME__INIT;
    c.name = (char *)name;
    return send(engine, &c.base);
}

int lirko_change_password(lirko_t *engine, const char *old_password, const char *new_password)
{
    if (!engine || !old_password || !old_password[0] || !new_password || !new_password[0])
        return -1;
    char old_md5[33];
    char new_md5[33];
    if (md5_hex_string(old_password, old_md5) != 0 || md5_hex_string(new_password, new_md5) != 0)
        return -1;
    if (lirko_set_pending_password(engine, new_password) != 0)
        return -1;
    Ptt__Rr__ChangePassword c = PTT__RR__CHANGE_PASSWORD__INIT;
    c.old_pwd_md5 = old_md5;
    c.new_pwd_md5 = new_md5;
    int rc = send(engine, &c.base);
    // A request that never left is never answered: nothing stays pending.
    if (rc != 0)
        lirko_set_pending_password(engine, NULL);
    return rc;
}

void lirko_set_join_default_group(lirko_t *engine, uint8_t on)
{
    if (engine)
        engine->join_default_group = on ? 1 : 0;
}

uint8_t lirko_is_join_default_group(lirko_t *engine)
{
    return engine ? engine->join_default_group : 0;
}

int lirko_get_version(lirko_t *engine, char *buf)
{
    if (!engine || !buf)
        return -1;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s version %s", "lirko_get_version",
                   LIRKO_VERSION_TEXT);
    memcpy(buf, LIRKO_VERSION_TEXT, sizeof(LIRKO_VERSION_TEXT));
    return 0;
}

uint8_t lirko_get_audio_prompt(lirko_t *engine)
{
    return engine ? engine->audio_prompt : 0;
}

void lirko_set_audio_prompt(lirko_t *engine, uint8_t on)
{
    if (engine)
        engine->audio_prompt = on;
}

void lirko_cancel_invite_failed(lirko_t *engine)
{
    if (engine && engine->audio_prompt)
        engine->invite_failed = 0;
}

uint32_t lirko_get_locale_language(lirko_t *engine)
{
    return engine ? engine->locale_language : 0;
}

void lirko_set_locale_language(lirko_t *engine, uint32_t language)
{
    if (engine)
        engine->locale_language = language;
}

uint32_t lirko_get_power_mode(lirko_t *engine)
{
    return engine && engine->sessionset ? engine->sessionset->power_mode : 0;
}

lirko_boolean_t lirko_set_mute(void)
{
    return 0;
}

int lirko_set_btdsp_data(lirko_t *engine, const void *data, int length)
{
    (void)engine;
    (void)data;
    (void)length;
    // External headset audio is not supported; the call is accepted.
    return 0;
}

int lirko_finished_btdsp_data(lirko_t *engine)
{
    if (engine)
        hal_log_output(engine->log, HAL_LOG_DEBUG, "sound", "%s", "hal_sound_finished_btdsp_data");
    return 0;
}

int lirko_get_broadcast_max_saved_count(lirko_t *engine)
{
    const char *v = engine ? hal_ini_find(engine->ini, "cache", "newsheet") : NULL;
    int max = v ? atoi(v) : 0;
    return max ? max : 3;
}

int lirko_get_broadcastlist(lirko_t *engine, newsheet **out)
{
    if (!engine || !out)
        return 0;
    return (int)lirko_make_newsheet_array(engine->cache->newsheets, out);
}

void lirko_clear_broadcastlist(lirko_t *engine)
{
    if (engine)
        cache_clear_worksheets(engine->cache);
}

newsheet *lirko_get_broadcast(lirko_t *engine, uint32_t id)
{
    for (list_node *n = engine ? list_begin(engine->cache->newsheets) : NULL; n; n = list_next(n)) {
        newsheet *s = (newsheet *)list_data_get(n);
        if (s && s->id == id)
            return s;
    }
    return NULL;
}

void lirko_remove_boadcasts(lirko_t *engine, const uint32_t *ids, int count)
{
    if (!engine || !ids || count < 1)
        return;
    for (int i = 0; i < count; i++) {
        for (list_node *n = list_begin(engine->cache->newsheets); n; n = list_next(n)) {
            newsheet *s = (newsheet *)list_data_get(n);
            if (s && s->id == ids[i]) {
                list_remove_at(engine->cache->newsheets, n);
                free(s->text);
                free(s->phone);
                free(s->media_name);
                free(s->mediadata);
                free(s);
                break;
            }
        }
    }
}

int lirko_start_broadcast(lirko_t *engine, uint32_t id)
{
    if (!engine || !engine->broadcast)
        return -1;
    return broadcast_start_play(engine->broadcast, id);
}

void lirko_stop_broadcast(lirko_t *engine)
{
    if (engine && engine->broadcast)
        broadcast_stop(engine->broadcast);
}

int lirko_send_mms(lirko_t *engine, const uint8_t *data, uint32_t length, const char *type_name)
{
    if (!engine || !engine->connection)
        return -1;
    return connection_send_mms(engine->connection, data, length, type_name);
}
