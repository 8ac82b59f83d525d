#include "lirko_query.h"

#include "hal_log.h"
#include "lirko.h"
#include "lirko_results.h"
#include "list.h"
#include "list_lgli.h"
#include "map.h"
#include "post_util.h"
#include "session.h"
#include "sessionset.h"

#include <stdlib.h>
#include <string.h>

static const char *TAG = "lirko";

#define QLOG(engine, priority, ...) hal_log_output((engine)->log, priority, TAG, __VA_ARGS__)

static cache *cache_of(lirko_t *engine)
{
    return engine ? engine->cache : NULL;
}

static char *dup_or_null(const char *s)
{
    return s ? strdup(s) : NULL;
}

cache_user *lirko_get_user(lirko_t *engine, uint32_t uid)
{
    return cache_get_user_by_uid(cache_of(engine), uid);
}

cache_user *lirko_get_current_user(lirko_t *engine)
{
    cache_user *me = cache_get_myself(cache_of(engine));
    if (me)
        hal_log_output(engine->log, HAL_LOG_VERBOSE, "cache", "%s encrypt_on %d has_encrypt %d",
                       "cache_get_myself", me->encrypt_on, me->has_encrypt);
    return me;
}

uint32_t lirko_get_current_did(lirko_t *engine)
{
    cache *c = cache_of(engine);
    return c ? c->current_did : 0;
}

cache_group *lirko_get_group_by_gid(lirko_t *engine, uint32_t gid)
{
    return cache_get_group_by_gid(cache_of(engine), gid);
}

cache_group *lirko_get_group_by_index(lirko_t *engine, int index)
{
    cache *c = cache_of(engine);
    if (!c || index < 0 || (uint32_t)index >= cache_group_count(c))
        return NULL;
    return cache_group_at(c, (uint32_t)index);
}

int lirko_get_group_index_by_gid(lirko_t *engine, uint32_t gid)
{
    cache *c = cache_of(engine);
    if (!c)
        return -1;
    if (!c->groups || !c->groups->list) {
        hal_log_output(engine->log, HAL_LOG_VERBOSE, "cache",
                       "cache_get_group_by_gid: grouplist is NULL");
        return -1;
    }
    int index = 0;
    for (list_node *n = list_begin(c->groups->list); n; n = list_next(n), index++) {
        hal_log_output(engine->log, HAL_LOG_VERBOSE, "cache",
                       "cache_get_group_index_by_gid:index=%d", index);
        const cache_group *g = (const cache_group *)list_data_get(n);
        if (!g) {
            hal_log_output(engine->log, HAL_LOG_ERROR, "cache",
                           "cache_get_group_index_by_gid: group is NULL");
            return -1;
        }
        if (g->gid == gid) {
            hal_log_output(engine->log, HAL_LOG_VERBOSE, "cache",
                           "cache_get_group_index_by_gid:gid=%u, index=%d", gid, index);
            return index;
        }
    }
    hal_log_output(engine->log, HAL_LOG_VERBOSE, "cache",
                   "ERR, cache_get_group_index_by_gid:gid=%u error", gid);
    return -1;
}

cache_group *lirko_get_current_group(lirko_t *engine)
{
    if (!engine)
        return NULL;
    return cache_get_group_by_gid(engine->cache, sessionset_current_gid(engine->sessionset));
}

LIRKO_ONLINE_STATUS lirko_get_online_status(lirko_t *engine)
{
    return engine ? engine->login_state : LIRKO_STATUS_NONE;
}

int lirko_get_userstatus(lirko_t *engine)
{
    switch (lirko_get_online_status(engine)) {
    case LIRKO_STATUS_OFFLINE:
        return 0;
    case LIRKO_STATUS_ONLINE:
        return 2;
    default:
        return 3;
    }
}

int lirko_query_grouplist(lirko_t *engine, cache_group **out)
{
    cache *c = cache_of(engine);
    uint32_t count = cache_group_count(c);
    if (!out || count == 0)
        return 0;
    QLOG(engine, HAL_LOG_VERBOSE, "query_group_list done");
    cache_group *array = (cache_group *)calloc(count, sizeof(*array));
    if (!array)
        return 0;
    uint32_t i = 0;
    for (list_node *n = list_begin(c->groups->list); n && i < count; n = list_next(n), i++) {
        const cache_group *g = (const cache_group *)list_data_get(n);
        if (!g)
            continue;
        array[i].type = g->type;
        array[i].gid = g->gid;
        array[i].name = dup_or_null(g->name);
    }
    *out = array;
    return (int)count;
}

void lirko_free_groups_array(cache_group **array, int count)
{
    if (!array || !*array || count == 0)
        return;
    for (int i = 0; i < count; i++)
        free((*array)[i].name);
    free(*array);
    *array = NULL;
}

int lirko_query_requestcontactlist(lirko_t *engine, request_contact **out)
{
    cache *c = cache_of(engine);
    uint32_t count = c ? (uint32_t)list_count(c->request_contacts) : 0;
    if (!out || count == 0)
        return 0;
    request_contact *array = (request_contact *)calloc(count, sizeof(*array));
    if (!array)
        return 0;
    uint32_t i = 0;
    for (list_node *n = list_begin(c->request_contacts); n && i < count; n = list_next(n), i++) {
        const request_contact *r = (const request_contact *)list_data_get(n);
        if (!r)
            continue;
        array[i].uid = r->uid;
        array[i].text = dup_or_null(r->text);
        array[i].uname = dup_or_null(r->uname);
    }
    *out = array;
    return (int)count;
}

void lirko_free_requestcontactlist_array(request_contact **array, int count)
{
    if (!array || !*array || count == 0)
        return;
    for (int i = 0; i < count; i++) {
        free((*array)[i].uname);
        free((*array)[i].text);
    }
    free(*array);
    *array = NULL;
}

// Drops the own user's entry from a list of member entries: 1 when it was
// there.
static int drop_myself(lirko_t *engine, list *entries, uint32_t *uid)
{
    const cache_user *me = cache_get_myself(engine->cache);
    if (!me || !me->uid)
        return 0;
    for (list_node *n = list_begin(entries); n; n = list_next(n)) {
        const member_entry *e = (const member_entry *)list_data_get(n);
        if (e && e->uid == me->uid) {
            list_remove_at(entries, n);
            *uid = me->uid;
            return 1;
        }
    }
    return 0;
}

int lirko_query_memberlist_size(lirko_t *engine, uint32_t gid)
{
    if (!engine)
        return 0;
    list *entries = list_new();
    if (!entries)
        return 0;
    int size = 0;
    if (cache_get_memberlist(engine->cache, gid, 0, -1, entries) == 0) {
        size = (int)list_count(entries);
        QLOG(engine, HAL_LOG_VERBOSE, "lirko_query_memberlist_size,gid:%d, size:%d", (int)gid,
             size);
        uint32_t me = 0;
        if (drop_myself(engine, entries, &me)) {
            QLOG(engine, HAL_LOG_VERBOSE,
                 "lirko_query_memberlist_size,gid:%d, remove curuser uid=%d", (int)gid, (int)me);
            size--;
        }
    }
    list_del(entries);
    return size;
}

// The member page of both queries; first_line names the caller in the log.
static int query_members(lirko_t *engine, uint32_t gid, int start, int count, member_entry **out,
                         uint8_t refresh, const char *first_line)
{
    if (out)
        *out = NULL;
    if (!engine)
        return 0;
    if (count < -1) {
        QLOG(engine, HAL_LOG_ERROR, "query_member_list param invalid : count:%d", count);
        return 0;
    }
    QLOG(engine, HAL_LOG_VERBOSE, first_line, (int)gid, start, count);
    // A page before the first member holds nobody.
    if (start < 0 || !out)
        return 0;
    list *entries = list_new();
    if (!entries)
        return 0;
    int n = 0;
    if (cache_get_memberlist(engine->cache, gid, start, count, entries) == 0) {
        QLOG(engine, HAL_LOG_VERBOSE, "query_member_list,gid:%d, size:%d", (int)gid,
             (int)list_count(entries));
        if (refresh) {
            int rst = post_util_querygroupmembers(engine, &gid, 1);
            if (rst != 0) {
                hal_log_output(engine->log, HAL_LOG_VERBOSE, "cache",
                               "post_util_querygroupmembers error! rst:%d", rst);
                list_del(entries);
                return 0;
            }
        }
        uint32_t me = 0;
        if (drop_myself(engine, entries, &me))
            QLOG(engine, HAL_LOG_VERBOSE, "query_member_list,gid:%d, remove curuser uid=%d",
                 (int)gid, (int)me);
        n = (int)lirko_make_member_array(entries, out);
    }
    list_del(entries);
    return n;
}

int lirko_query_memberlist(lirko_t *engine, uint32_t gid, int start, int count, member_entry **out)
{
    return query_members(engine, gid, start, count, out, 0,
                         "query_member_list,gid:%d, index_begin:%d,count=%d");
}

int lirko_query_memberlist_refresh(lirko_t *engine, uint32_t gid, int start, int count,
                                   member_entry **out, uint8_t refresh)
{
    return query_members(engine, gid, start, count, out, refresh,
                         "lirko_query_memberlist_refresh,gid:%d, index_begin:%d,count=%d");
}

void lirko_free_members_array(member_entry **array, int count)
{
    if (!array || !*array || count == 0)
        return;
    lirko_free_member_array(array, count > 0 ? (uint32_t)count : 0);
}

int lirko_query_contactlist(lirko_t *engine, cache_user **out)
{
    cache *c = cache_of(engine);
    uint32_t count =
        c && c->contacts && c->contacts->list ? (uint32_t)list_count(c->contacts->list) : 0;
    if (!out || count == 0)
        return 0;
    cache_user *array = (cache_user *)calloc(count, sizeof(*array));
    if (!array)
        return 0;
    uint32_t i = 0;
    for (list_node *n = list_begin(c->contacts->list); n && i < count; n = list_next(n), i++) {
        const cache_user *contact = (const cache_user *)list_data_get(n);
        const cache_user *u = contact ? cache_find_user(c, contact->uid) : NULL;
        if (!u)
            u = contact;
        if (!u)
            continue;
        array[i].uid = u->uid;
        array[i].role = u->role;
        array[i].online = u->online;
        array[i].name = dup_or_null(u->name);
        array[i].audio_enabled = u->audio_enabled;
        array[i].has_gid = u->has_gid;
        array[i].gid = u->gid;
        hal_log_output(engine->log, HAL_LOG_FATAL, "cache", "cache_get_contact_array name=%s!",
                       u->name ? u->name : "");
    }
    *out = array;
    return (int)count;
}

void lirko_free_contacts_array(lirko_t *engine, cache_user **array, int count)
{
    if (engine)
        QLOG(engine, HAL_LOG_VERBOSE,
             "lirko_free_contacts_array done successfully!!!,array_size:%d", count);
    lirko_free_user_array(array, count);
}

// The speaker uid of gid as a user record: the cached user's fields, or only
// the uid (a user query then goes out); gid and has_gid from the session.
static void fill_speaker(lirko_t *engine, cache_user *dst, uint32_t gid, uint32_t uid)
{
    const cache_user *u = cache_get_user_by_uid(engine->cache, uid);
    if (u)
        lirko_fill_user(dst, u);
    else
        dst->uid = uid;
    dst->has_gid = 1;
    dst->gid = gid;
}

int lirko_get_speaking_users(lirko_t *engine, cache_user **out)
{
    if (out)
        *out = NULL;
    if (!engine || !out || !engine->sessionset)
        return -1;
    uint32_t capacity = (uint32_t)list_count(engine->sessionset->watched) + 1;
    sessionset_speaker *pairs = (sessionset_speaker *)calloc(capacity, sizeof(*pairs));
    if (!pairs)
        return -1;
    int m = sessionset_get_speakers(engine->sessionset, pairs, capacity);
    QLOG(engine, HAL_LOG_VERBOSE, "sessionset_get_speakers ret:%d", m);
    cache_user *users = (cache_user *)calloc(capacity, sizeof(*users));
    if (!users) {
        free(pairs);
        return -1;
    }
    for (int i = 0; i < m; i++)
        fill_speaker(engine, &users[i], pairs[i].gid, pairs[i].uid);
    free(pairs);
    *out = users;
    return m;
}

void lirko_free_users(lirko_t *engine, cache_user **array, int count)
{
    (void)engine;
    if (!array || !*array)
        return;
    // The array of a query that found nobody still has to go.
    lirko_free_user_array(array, count > 0 ? count : -1);
}

// The session whose speaker is being played: the current one when it
// listens, else the first listening watched session.
static session *playing_session(lirko_t *engine)
{
    sessionset *set = engine->sessionset;
    session *s = sessionset_current(set);
    if (s && s->status == SESSION_STATUS_LISTENING)
        return s;
    for (list_node *n = set ? list_begin(set->watched) : NULL; n; n = list_next(n)) {
        session *w = (session *)list_data_get(n);
        if (w && w->status == SESSION_STATUS_LISTENING)
            return w;
    }
    return NULL;
}

int lirko_get_playing_sound_user(lirko_t *engine, cache_user *record)
{
    if (!engine || !record)
        return 0;
    session *s = playing_session(engine);
    if (!s)
        return 0;
    fill_speaker(engine, record, s->gid, s->speaker);
    return 1;
}

int lirko_is_listening(lirko_t *engine)
{
    return engine && playing_session(engine) != NULL;
}

int lirko_is_speaking(lirko_t *engine)
{
    session *s = engine ? sessionset_current(engine->sessionset) : NULL;
    return s && (s->status == SESSION_STATUS_WAIT_MIC || s->status == SESSION_STATUS_SPEAKING ||
                 s->status == SESSION_STATUS_STOPPING);
}
