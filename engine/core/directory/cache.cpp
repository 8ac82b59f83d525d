#include "cache.h"

#include "cache_internal.h"
#include "connection.h"
#include "hal_error.h"
#include "hal_log.h"
#include "hal_time.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_records.h"
#include "lirko_results.h"
#include "list.h"
#include "list_lgli.h"
#include "map.h"
#include "post_util.h"
#include "ptt.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "ptt_serv.pb-c.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The sorted lists read their records' leading fields; the cache's records
// begin with exactly those.
static_assert(offsetof(cache_user, uid) == offsetof(lgli_user_head, uid) &&
                  offsetof(cache_user, name) == offsetof(lgli_user_head, name),
              "cache_user starts as the sorted list reads it");
static_assert(offsetof(member_entry, uid) == offsetof(lgli_member_head, uid) &&
                  offsetof(member_entry, ingroup) == offsetof(lgli_member_head, ingroup) &&
                  offsetof(member_entry, user) == offsetof(lgli_member_head, user),
              "member_entry starts as the sorted list reads it");
static_assert(offsetof(cache_group, type) == offsetof(lgli_group_head, type) &&
                  offsetof(cache_group, gid) == offsetof(lgli_group_head, gid) &&
                  offsetof(cache_group, name) == offsetof(lgli_group_head, name),
              "cache_group starts as the sorted list reads it");
static_assert(CACHE_SEGMENT_MAX == LGLI_SEGMENT_MAX, "one segment limit");

#define LOG(c, prio, ...) hal_log_output((c)->log, (prio), CACHE_TAG, __VA_ARGS__)

#define HANDLER(name) void name(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
#define HANDLER_ARGS(type)                                                                         \
    (void)h;                                                                                       \
    cache *c = (cache *)arg;                                                                       \
    const type *msg = (const type *)message

static const pinyin_code *pinyin_of(const cache *c)
{
    return (const pinyin_code *)c->pinyin;
}

void cache_copy_fixed(char *dst, size_t size, const char *src)
{
    if (!dst || !size)
        return;
    size_t n = src ? strnlen(src, size - 1) : 0;
    memcpy(dst, src ? src : "", n);
    dst[n] = '\0';
}

int cache_send(cache *c, const ProtobufCMessage *msg)
{
    return connection_send_msg(c->owner->connection, msg);
}

int cache_query_members(cache *c, const uint32_t *gids, uint32_t count)
{
    return post_util_querygroupmembers(c->owner, gids, count);
}

// --- record release -------------------------------------------------------------

static void free_user(cache_user *u)
{
    if (!u)
        return;
    free(u->name);
    free(u);
}

static void free_group(cache_group *g)
{
    if (!g)
        return;
    free(g->name);
    free(g);
}

static void free_entry(member_entry *e)
{
    if (!e)
        return;
    free_user(e->user);
    free(e);
}

static void lgli_free_user(void *record, uint32_t, uint32_t, list_node **)
{
    free_user((cache_user *)record);
}

static void lgli_free_group(void *record, uint32_t, uint32_t, list_node **)
{
    free_group((cache_group *)record);
}

static void lgli_free_entry(void *record, uint32_t, uint32_t, list_node **)
{
    free_entry((member_entry *)record);
}

static void free_request(request_contact *r)
{
    if (!r)
        return;
    free(r->text);
    free(r->uname);
    free(r);
}

static void free_item_list(list *items)
{
    void *p;
    while ((p = list_pop_front(items)))
        free(p);
}

void cache_free_newsheet(newsheet *s)
{
    if (!s)
        return;
    free(s->text);
    free(s->phone);
    free(s->media_name);
    free(s->mediadata);
    free(s);
}

void cache_free_newsheets(list *newsheets)
{
    newsheet *s;
    while ((s = (newsheet *)list_pop_front(newsheets)))
        cache_free_newsheet(s);
}

void cache_free_sms_center(cache_config *config)
{
    for (size_t i = 0; config->sms_center && i < config->n_sms_center; i++)
        free(config->sms_center[i]);
    free(config->sms_center);
    config->sms_center = NULL;
    config->n_sms_center = 0;
}

// Stores a record in a sorted list; a record the list does not take (its
// segment is full, or the insertion failed) is freed, so nothing leaks.
static int store_sorted(cache *c, list_lgli *l, void *record, int segment, void (*release)(void *))
{
    int rc = lgli_insert(l, record, segment, pinyin_of(c));
    if (rc != 0) {
        if (rc == LGLI_NOT_STORED)
            LOG(c, HAL_LOG_WARN, "segment %d full, record not stored", segment);
        release(record);
    }
    return rc;
}

static void release_user(void *p)
{
    free_user((cache_user *)p);
}

static void release_group(void *p)
{
    free_group((cache_group *)p);
}

static void release_entry(void *p)
{
    free_entry((member_entry *)p);
}

// --- users ----------------------------------------------------------------------

cache_user *cache_find_user(cache *c, uint32_t uid)
{
    return c ? (cache_user *)map_access(c->users, uid) : NULL;
}

// Finds or creates the user of a ptt.User and sets the fields its source
// carries. NULL when the record cannot be made or its name copied.
static cache_user *store_user(cache *c, const Ptt__User *pu, enum cache_user_source src,
                              uint32_t gid, const Ptt__Member *member)
{
    if (!pu)
        return NULL;
    cache_user *u = cache_find_user(c, pu->uid);
    char *name = NULL;
    // A user without a name would not sort: it is stored as "".
    if (pu->name || !u) {
        name = strdup(pu->name ? pu->name : "");
        if (!name)
            return NULL;
    }
    if (!u) {
        u = (cache_user *)calloc(1, sizeof(*u));
        if (!u || map_insert(c->users, pu->uid, u) != 0) {
            free(u);
            free(name);
            return NULL;
        }
        u->uid = pu->uid;
    }
    if (name) {
        free(u->name);
        u->name = name;
    }
    int resets_online = src == CACHE_FROM_QUERY_USERS || src == CACHE_FROM_USERS_CHANGED ||
                        src == CACHE_FROM_CONTACTS;
    if (resets_online)
        u->online = 0;
    if (src == CACHE_FROM_GROUP_MEMBERS || src == CACHE_FROM_MEMBER2) {
        if (pu->has_role) {
            u->has_role = 1;
            u->role = pu->role;
        }
    } else {
        u->role = pu->role;
    }
    if (pu->has_online)
        u->online = pu->online ? 3 : 1;
    if (pu->has_audio_enabled)
        u->audio_enabled = (uint8_t)pu->audio_enabled;
    if (pu->has_location_on)
        u->location_on = (uint8_t)pu->location_on;
    if (pu->has_location_period)
        u->location_period = pu->location_period;
    switch (src) {
    case CACHE_FROM_USERS_CHANGED:
        u->encrypt_on = pu->has_encrypt_enabled ? (uint8_t)pu->encrypt_enabled : 0;
        u->has_encrypt = pu->has_encrypt_enabled ? 1 : 0;
        if (pu->has_sort_weight)
            u->sort_weight = pu->sort_weight;
        break;
    case CACHE_FROM_GROUP_MEMBERS:
    case CACHE_FROM_MEMBER2:
        if (pu->has_encrypt_enabled) {
            u->encrypt_on = (uint8_t)pu->encrypt_enabled;
            u->has_encrypt = 1;
        }
        if (pu->has_sort_weight)
            u->sort_weight = pu->sort_weight;
        if (src == CACHE_FROM_GROUP_MEMBERS || (member && member->has_ingroup && member->ingroup)) {
            u->has_gid = 1;
            u->gid = gid;
        }
        if (member && member->has_prior)
            u->prior = member->prior;
        break;
    default:
        break;
    }
    return u;
}

cache_user *cache_get_myself(cache *c)
{
    if (!c)
        return NULL;
    LOG(c, HAL_LOG_VERBOSE, "%s encrypt_on %d has_encrypt %d", "cache_get_myself",
        c->myself->encrypt_on, c->myself->has_encrypt);
    return c->myself;
}

cache_user *cache_get_user_by_uid(cache *c, uint32_t uid)
{
    if (!c)
        return NULL;
    cache_user *u = cache_find_user(c, uid);
    if (u)
        return u;
    Ptt__Rr__QueryUsers q = PTT__RR__QUERY_USERS__INIT;
    q.n_uids = 1;
    q.uids = &uid;
    cache_send(c, &q.base);
    return NULL;
}

// --- groups ---------------------------------------------------------------------

static cache_group *make_group(cache *c, const Ptt__Group *pg)
{
    cache_group *g = (cache_group *)calloc(1, sizeof(*g));
    if (!g)
        return NULL;
    g->gid = pg->gid;
    // A group without a name would not sort: it is stored as "".
    g->name = strdup(pg->name ? pg->name : "");
    if (!g->name) {
        free(g);
        return NULL;
    }
    if (pg->has_type)
        g->type = (uint32_t)lirko_enum_value(&pg->type);
    if (pg->has_prior)
        g->prior = pg->prior;
    if (pg->has_ip)
        g->ip = pg->ip;
    if (pg->has_port)
        g->port = (uint16_t)pg->port;
    const Ptt__EncryptKey *k = pg->encrypt;
    if (k && k->has_key && k->key.len > 0 && k->key.data) {
        size_t n = k->key.len < CACHE_KEY_SIZE ? k->key.len : CACHE_KEY_SIZE;
        memcpy(g->key, k->key.data, n);
        g->has_key = 1;
        g->is_encrypt = 1;
    }
    if (k && k->method)
        cache_copy_fixed(g->key_method, sizeof(g->key_method), k->method);
    g->sort_weight = pg->has_sort_weight ? pg->sort_weight : 0;
    if (pg->has_full_duplex)
        g->full_duplex = (uint8_t)pg->full_duplex;
    LOG(c, HAL_LOG_VERBOSE, "gid %d has_full_duplex %d full_duplex %d", (int)g->gid,
        (int)pg->has_full_duplex, (int)g->full_duplex);
    return g;
}

void cache_add_groups(cache *c, Ptt__Group *const *groups, size_t count)
{
    if (!groups || !count)
        return;
    LOG(c, HAL_LOG_VERBOSE, "cache add group count name is %s,count:%d",
        groups[0] && groups[0]->name ? groups[0]->name : "", (int)count);
    for (size_t i = 0; i < count; i++) {
        const Ptt__Group *pg = groups[i];
        if (!pg)
            continue;
        if (c->groups->counts[0] > 0)
            lgli_remove_by_id(c->groups, pg->gid, 0, lgli_free_group);
        cache_group *g = make_group(c, pg);
        if (g)
            store_sorted(c, c->groups, g, 0, release_group);
    }
}

uint32_t cache_group_count(cache *c)
{
    return c && c->groups->list ? (uint32_t)list_count(c->groups->list) : 0;
}

cache_group *cache_group_at(cache *c, uint32_t index)
{
    return c && c->groups->list ? (cache_group *)list_access(c->groups->list, index) : NULL;
}

cache_group *cache_get_group_by_gid(cache *c, uint32_t gid)
{
    if (!c)
        return NULL;
    if (!c->groups->list) {
        LOG(c, HAL_LOG_VERBOSE, "cache_get_group_by_gid: grouplist is NULL");
        return NULL;
    }
    for (list_node *n = list_begin(c->groups->list); n; n = list_next(n)) {
        cache_group *g = (cache_group *)list_data_get(n);
        if (g && g->gid == gid) {
            LOG(c, HAL_LOG_VERBOSE, "cache_get_group_by_gid:%d success", (int)gid);
            return g;
        }
    }
    LOG(c, HAL_LOG_VERBOSE, "cache_get_group_by_gid:%d error", (int)gid);
    return NULL;
}

// --- members --------------------------------------------------------------------

static int entry_segment(const member_entry *e)
{
    int online = e->user && e->user->online == 3;
    if (online && e->ingroup == 1)
        return 2;
    return online ? 1 : 0;
}

static list *plain_list(cache *c, uint32_t gid, int create)
{
    list *l = (list *)map_access(c->member_lists, gid);
    if (!l && create) {
        l = list_new();
        if (l && map_insert(c->member_lists, gid, l) != 0) {
            list_del(l);
            l = NULL;
        }
    }
    return l;
}

static list_lgli *member_lgli(cache *c, uint32_t gid, int create)
{
    list_lgli *l = (list_lgli *)map_access(c->member_large_lists, gid);
    if (!l && create) {
        l = lgli_new(LGLI_KIND_MEMBER, c->log);
        if (l && map_insert(c->member_large_lists, gid, l) != 0)
            lgli_destroy(&l, NULL);
    }
    return l;
}

// The uid indexes of one group's member lists: the plain list's items and
// the sorted list's entries. They point at records the lists own and are
// changed together with the lists, so a lookup by uid never walks them.
typedef struct member_index {
    map *items;   // uid -> member_item
    map *entries; // uid -> member_entry
} member_index;

static void free_index(member_index *idx)
{
    if (!idx)
        return;
    map_del(idx->items);
    map_del(idx->entries);
    free(idx);
}

static member_index *index_of(cache *c, uint32_t gid, int create)
{
    member_index *idx = (member_index *)map_access(c->member_indexes, gid);
    if (!idx && create) {
        idx = (member_index *)calloc(1, sizeof(*idx));
        if (idx) {
            idx->items = map_new();
            idx->entries = map_new();
        }
        if (!idx || !idx->items || !idx->entries || map_insert(c->member_indexes, gid, idx) != 0) {
            free_index(idx);
            idx = NULL;
        }
    }
    return idx;
}

// Drops every item of gid's plain list and their index.
static void clear_items(cache *c, uint32_t gid, list *items)
{
    free_item_list(items);
    member_index *idx = index_of(c, gid, 0);
    if (idx)
        map_erase(idx->items);
}

static member_item *find_item(cache *c, uint32_t gid, uint32_t uid)
{
    member_index *idx = index_of(c, gid, 0);
    return idx ? (member_item *)map_access(idx->items, uid) : NULL;
}

// Appends a new item for uid to gid's plain list; NULL when it cannot be
// stored (nothing is then left behind).
static member_item *add_item(cache *c, uint32_t gid, list *items, uint32_t uid)
{
    member_index *idx = index_of(c, gid, 1);
    member_item *it = idx ? (member_item *)calloc(1, sizeof(*it)) : NULL;
    if (!it)
        return NULL;
    it->uid = uid;
    if (list_push_back(items, it) != 0) {
        free(it);
        return NULL;
    }
    if (map_insert(idx->items, uid, it) != 0) {
        list_remove_at(items, list_end(items));
        free(it);
        return NULL;
    }
    return it;
}

static member_entry *find_entry(cache *c, uint32_t gid, uint32_t uid)
{
    member_index *idx = index_of(c, gid, 0);
    return idx ? (member_entry *)map_access(idx->entries, uid) : NULL;
}

member_item *cache_get_group_entry(cache *c, uint32_t gid, uint32_t uid)
{
    return c ? find_item(c, gid, uid) : NULL;
}

// Removes uid's entry from gid's sorted list; its ingroup, or -1 when there
// was none.
static int remove_entry(cache *c, uint32_t gid, list_lgli *l, uint32_t uid)
{
    member_entry *old = find_entry(c, gid, uid);
    if (!old)
        return -1;
    int ingroup = old->ingroup;
    map_remove(index_of(c, gid, 0)->entries, uid);
    lgli_remove_by_id(l, uid, entry_segment(old), lgli_free_entry);
    return ingroup;
}

// Puts a fresh entry {uid, ingroup, copy of user} into its segment of gid's
// sorted list.
static void insert_entry(cache *c, uint32_t gid, list_lgli *l, const cache_user *user,
                         uint8_t ingroup)
{
    member_index *idx = index_of(c, gid, 1);
    member_entry *e = idx ? (member_entry *)calloc(1, sizeof(*e)) : NULL;
    if (!e)
        return;
    e->uid = user->uid;
    e->ingroup = ingroup;
    e->user = lirko_copy_user(user);
    if (!e->user) {
        free(e);
        return;
    }
    // An entry the list does not hold is freed by store_sorted and must not
    // be indexed.
    if (map_insert(idx->entries, e->uid, e) != 0) {
        free_entry(e);
        return;
    }
    if (store_sorted(c, l, e, entry_segment(e), release_entry) != 0)
        map_remove(idx->entries, user->uid);
}

static void replace_entry(cache *c, uint32_t gid, list_lgli *l, const cache_user *user, int ingroup)
{
    int old = remove_entry(c, gid, l, user->uid);
    insert_entry(c, gid, l, user, (uint8_t)(ingroup >= 0 ? ingroup : (old > 0 ? old : 0)));
}

// Empties gid's sorted list and its index.
static void clear_entries(cache *c, uint32_t gid, list_lgli *l)
{
    lgli_clear(l, lgli_free_entry);
    member_index *idx = index_of(c, gid, 0);
    if (idx)
        map_erase(idx->entries);
}

// Stores the users of a version-1 member answer or of update_members: the
// plain list gains an item per new uid, the sorted list a fresh entry that
// keeps the old entry's ingroup.
static void add_users(cache *c, uint32_t gid, Ptt__User *const *users, size_t n, uint32_t *uids)
{
    list *items = plain_list(c, gid, 0);
    list_lgli *l = member_lgli(c, gid, 0);
    for (size_t i = 0; i < n; i++) {
        if (uids)
            uids[i] = users[i] ? users[i]->uid : 0;
        cache_user *u = store_user(c, users[i], CACHE_FROM_GROUP_MEMBERS, gid, NULL);
        if (!u)
            continue;
        if (items && !find_item(c, gid, u->uid))
            (void)add_item(c, gid, items, u->uid);
        if (l)
            replace_entry(c, gid, l, u, -1);
    }
}

static HANDLER(cache_on_query_members_ack)
{
    HANDLER_ARGS(Ptt__Rr__QueryMembersAck);
    if (msg->result != 0)
        return;
    for (size_t i = 0; i < msg->n_members; i++) {
        const Ptt__GroupMembers *gm = msg->members[i];
        if (!gm)
            continue;
        list *items = plain_list(c, gm->gid, 1);
        if (!items || !member_lgli(c, gm->gid, 1))
            continue;
        clear_items(c, gm->gid, items);
        add_users(c, gm->gid, gm->members, gm->n_members, NULL);
        LOG(c, HAL_LOG_VERBOSE, "query_membersack members:%d,n_ingroups:%d", (int)gm->n_members,
            (int)gm->n_ingroups);
        for (size_t k = 0; k < gm->n_ingroups; k++) {
            member_item *it = find_item(c, gm->gid, gm->ingroups[k]);
            if (it)
                it->ingroup = 1;
        }
        for (size_t k = 0; k < gm->n_outgroups; k++) {
            member_item *it = find_item(c, gm->gid, gm->outgroups[k]);
            if (it)
                it->ingroup = 0;
        }
        lirko_event_post(c->owner, "memberlist_changed", (int32_t)gm->gid, 0);
    }
}

static HANDLER(ptt_rr_querymembersack2)
{
    HANDLER_ARGS(Ptt__Rr__QueryMembersAck2);
    if (msg->result != 0) {
        LOG(c, HAL_LOG_VERBOSE, "ptt_rr_querymembersack2 result is %d", msg->result);
        return;
    }
    for (size_t i = 0; i < msg->n_members; i++) {
        const Ptt__GroupMembers2 *gm = msg->members[i];
        if (!gm)
            continue;
        uint32_t gid = gm->gid;
        list *items = plain_list(c, gid, 1);
        list_lgli *l = member_lgli(c, gid, 1);
        if (!items || !l)
            continue;
        clear_items(c, gid, items);
        clear_entries(c, gid, l);
        LOG(c, HAL_LOG_VERBOSE, "n_members is %d", (int)gm->n_members);
        uint64_t start = hal_clock_ms();
        for (size_t k = 0; k < gm->n_members; k++) {
            const Ptt__Member *m = gm->members[k];
            cache_user *u = m ? store_user(c, m->user, CACHE_FROM_MEMBER2, gid, m) : NULL;
            if (!u)
                continue;
            uint8_t ingroup = m->has_ingroup ? (uint8_t)m->ingroup : 0;
            member_item *it = find_item(c, gid, u->uid);
            if (!it)
                it = add_item(c, gid, items, u->uid);
            if (it) {
                it->ingroup = ingroup;
                it->has_prior = (uint8_t)m->has_prior;
                it->prior = (uint32_t)m->prior;
            }
            replace_entry(c, gid, l, u, ingroup);
            LOG(c, HAL_LOG_VERBOSE,
                "lgli_list gid: %d uid:%d uname:%s nstatus=%d ingroup %d online %d", (int)gid,
                (int)u->uid, u->name, (int)u->online, ingroup, (int)u->online);
        }
        LOG(c, HAL_LOG_VERBOSE, "lgli_insert count:%d   --=-= use time %d", (int)gm->n_members,
            (int)(hal_clock_ms() - start));
        lirko_event_post(c->owner, "memberlist_changed", (int32_t)gid, 0);
    }
}

static void free_member_change(member_change *m)
{
    if (!m)
        return;
    free(m->updated);
    free(m->removed);
    free(m->joined);
    free(m->left);
    free(m);
}

static void destroy_member_change(hal_looper_event *ev)
{
    free_member_change((member_change *)ev->data);
    ev->data = 0;
}

static uint32_t *copy_uids(const uint32_t *src, size_t n, int *failed)
{
    if (!n)
        return NULL;
    uint32_t *a = (uint32_t *)malloc(n * sizeof(*a));
    if (!a)
        *failed = 1;
    else if (src)
        memcpy(a, src, n * sizeof(*a));
    return a;
}

// A member that joins or leaves keeps its user record; its sorted entry moves
// to the segment its new ingroup gives it.
static void move_members(cache *c, uint32_t gid, const uint32_t *uids, size_t n, uint8_t ingroup)
{
    list_lgli *l = member_lgli(c, gid, 0);
    if (!l)
        return;
    for (size_t i = 0; i < n; i++) {
        cache_user *u = cache_find_user(c, uids[i]);
        if (!u)
            continue;
        if (ingroup) {
            u->has_gid = 1;
            u->gid = gid;
            LOG(c, HAL_LOG_ERROR, "uid %d", (int)uids[i]);
        }
        remove_entry(c, gid, l, u->uid);
        insert_entry(c, gid, l, u, ingroup);
    }
}

static HANDLER(flush_member_cb)
{
    HANDLER_ARGS(Ptt__Push__MembersChanged);
    LOG(c, HAL_LOG_ERROR, "flush_member_cb");
    if (!msg->n_changes) {
        LOG(c, HAL_LOG_ERROR, "flush_member_cb msg->changes is null");
        return;
    }
    for (size_t i = 0; i < msg->n_changes; i++) {
        const Ptt__Push__MembersChanged__MemberChanged *ch = msg->changes[i];
        if (!ch)
            continue;
        uint32_t gid = ch->gid;
        member_change *mc = (member_change *)calloc(1, sizeof(*mc));
        if (!mc)
            continue;
        int failed = 0;
        mc->n_updated = (uint32_t)ch->n_update_members;
        mc->updated = copy_uids(NULL, ch->n_update_members, &failed);
        mc->n_removed = (uint32_t)ch->n_rm_members;
        mc->removed = copy_uids(ch->rm_members, ch->n_rm_members, &failed);
        mc->n_joined = (uint32_t)ch->n_joined_members;
        mc->joined = copy_uids(ch->joined_members, ch->n_joined_members, &failed);
        mc->n_left = (uint32_t)ch->n_left_members;
        mc->left = copy_uids(ch->left_members, ch->n_left_members, &failed);
        if (failed) {
            free_member_change(mc);
            continue;
        }
        LOG(c, HAL_LOG_VERBOSE, "cache_push_memberchanged gid:%d,update:%d,rm:%d,joined:%d,left:%d",
            (int)gid, (int)mc->n_updated, (int)mc->n_removed, (int)mc->n_joined, (int)mc->n_left);
        add_users(c, gid, ch->update_members, ch->n_update_members, mc->updated);
        list *items = plain_list(c, gid, 0);
        list_lgli *l = member_lgli(c, gid, 0);
        for (size_t k = 0; k < ch->n_rm_members; k++) {
            uint32_t uid = ch->rm_members[k];
            for (list_node *n = items ? list_begin(items) : NULL; n; n = list_next(n)) {
                member_item *it = (member_item *)list_data_get(n);
                if (it && it->uid == uid) {
                    list_remove_at(items, n);
                    if (member_index *idx = index_of(c, gid, 0))
                        map_remove(idx->items, uid);
                    free(it);
                    LOG(c, HAL_LOG_VERBOSE, "remove member:%d from group:%d", (int)uid, (int)gid);
                    break;
                }
            }
            if (l)
                remove_entry(c, gid, l, uid);
            LOG(c, HAL_LOG_ERROR, "rm uid %d, gid %d", (int)uid, (int)gid);
        }
        for (size_t k = 0; k < ch->n_joined_members; k++)
            LOG(c, HAL_LOG_ERROR, "join uid %d, gid %d", (int)ch->joined_members[k], (int)gid);
        move_members(c, gid, ch->joined_members, ch->n_joined_members, 1);
        for (size_t k = 0; k < ch->n_left_members; k++)
            LOG(c, HAL_LOG_ERROR, "left uid %d, gid %d", (int)ch->left_members[k], (int)gid);
        move_members(c, gid, ch->left_members, ch->n_left_members, 0);
        lirko_event_post_data(c->owner, "members_changed", (int32_t)gid, 0, (intptr_t)mc, NULL,
                              destroy_member_change);
        c->last_changed_gid = gid;
    }
}

int cache_get_memberlist(cache *c, uint32_t gid, int start, int count, list *out)
{
    if (!c || !out)
        return -1;
    list_lgli *l = member_lgli(c, gid, 0);
    LOG(c, HAL_LOG_VERBOSE, "run in cache_get_memberlist list_size=%d",
        l && l->list ? (int)list_count(l->list) : 0);
    if (!l) {
        int rst = cache_query_members(c, &gid, 1);
        if (rst != 0)
            LOG(c, HAL_LOG_VERBOSE, "post_util_querygroupmembers error! rst:%d", rst);
        return -1;
    }
    if (!l->list) {
        LOG(c, HAL_LOG_FATAL, "(list_lgli->list == NULL");
        return -1;
    }
    static const int order[] = {2, 1, 0};
    if (count == -1) {
        for (int seg : order)
            lgli_get_range(l, seg, 0, CACHE_SEGMENT_MAX, out);
        return 0;
    }
    if (start < 0 || count < 0)
        return -1;
    uint32_t s = (uint32_t)start;
    int left = count;
    for (int seg : order) {
        uint32_t size = l->counts[seg];
        if (size < s) {
            s -= size;
            continue;
        }
        if (size >= s + (uint32_t)left) {
            lgli_get_range(l, seg, s, left, out);
            return 0;
        }
        int got = lgli_get_range(l, seg, s, (int)(size - s), out);
        left -= got > 0 ? got : 0;
        s = 0;
        if (left <= 0)
            break;
    }
    return 0;
}

// --- user lookups and changes --------------------------------------------------

static void destroy_uid_payload(hal_looper_event *ev)
{
    free(ev->payload);
    ev->payload = NULL;
}

static void post_user_changed(cache *c, uint32_t *uids, size_t n)
{
    lirko_event_post_data(c->owner, "user_changed", (int32_t)n, 0, 0, uids, destroy_uid_payload);
}

static HANDLER(query_user_cb)
{
    HANDLER_ARGS(Ptt__Rr__QueryUsersAck);
    if (msg->result != 0 || !msg->n_users) {
        LOG(c, HAL_LOG_ERROR, "query_user_cb msg->result != 0 %d or msg->user == NULL %x",
            msg->result, (unsigned)msg->n_users);
        return;
    }
    LOG(c, HAL_LOG_VERBOSE, "query_user_cb result is %d, n_user:%d", msg->result,
        (int)msg->n_users);
    uint32_t *uids = (uint32_t *)malloc(msg->n_users * sizeof(*uids));
    if (!uids)
        return;
    for (size_t i = 0; i < msg->n_users; i++) {
        uids[i] = msg->users[i] ? msg->users[i]->uid : 0;
        store_user(c, msg->users[i], CACHE_FROM_QUERY_USERS, 0, NULL);
    }
    post_user_changed(c, uids, msg->n_users);
}

static void contact_from_user(cache_user *ct, const cache_user *u, int full)
{
    ct->uid = u->uid;
    ct->role = u->role;
    ct->online = u->online;
    ct->audio_enabled = u->audio_enabled;
    if (full) {
        ct->encrypt_on = u->encrypt_on;
        ct->has_encrypt = u->has_encrypt;
        ct->sort_weight = u->sort_weight;
    }
}

static int contact_segment(const cache_user *u)
{
    return u->online == 3 ? 2 : 0;
}

// Replaces the contact record of a user (full: also its encryption flags and
// sort weight).
static void put_contact(cache *c, const cache_user *u, int full)
{
    cache_user *old = (cache_user *)lgli_find_by_id(c->contacts, u->uid);
    if (old)
        lgli_remove_by_id(c->contacts, u->uid, contact_segment(old), lgli_free_user);
    cache_user *ct = (cache_user *)calloc(1, sizeof(*ct));
    if (!ct)
        return;
    ct->name = strdup(u->name ? u->name : "");
    if (!ct->name) {
        free(ct);
        return;
    }
    contact_from_user(ct, u, full);
    store_sorted(c, c->contacts, ct, contact_segment(ct), release_user);
}

struct refresh_arg {
    cache *c;
    const cache_user *user;
};

static int refresh_in_group(const char *, uint32_t gid, void *data, void *arg)
{
    refresh_arg *r = (refresh_arg *)arg;
    list_lgli *l = (list_lgli *)data;
    if (l && find_entry(r->c, gid, r->user->uid))
        replace_entry(r->c, gid, l, r->user, -1);
    return HAL_CONTINUE;
}

void cache_refresh_user_views(cache *c, const cache_user *u)
{
    if (lgli_find_by_id(c->contacts, u->uid))
        put_contact(c, u, 1);
    refresh_arg r = {c, u};
    map_foreach(c->member_large_lists, refresh_in_group, &r);
}

static HANDLER(user_changed_cb)
{
    HANDLER_ARGS(Ptt__Push__UsersChanged);
    if (!msg->n_users)
        return;
    uint32_t *uids = (uint32_t *)malloc(msg->n_users * sizeof(*uids));
    if (!uids)
        return;
    for (size_t i = 0; i < msg->n_users; i++) {
        const Ptt__User *pu = msg->users[i];
        uids[i] = pu ? pu->uid : 0;
        cache_user *u = store_user(c, pu, CACHE_FROM_USERS_CHANGED, 0, NULL);
        if (!u)
            continue;
        cache_user *me = c->myself;
        if (me->uid == u->uid) {
            me->audio_enabled = u->audio_enabled;
            me->location_on = u->location_on;
            me->encrypt_on = u->encrypt_on;
            me->has_encrypt = u->has_encrypt;
            if (pu->has_department)
                c->current_did = pu->department;
        }
        LOG(c, HAL_LOG_VERBOSE, "user_changed_cb  online :%d, uid %d encrypt_on %d has_encrypt %d",
            (int)u->online, (int)u->uid, u->encrypt_on, u->has_encrypt);
        cache_refresh_user_views(c, u);
    }
    post_user_changed(c, uids, msg->n_users);
}

// --- contacts ---------------------------------------------------------------------

static void add_contacts(cache *c, Ptt__User *const *users, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        cache_user *u = store_user(c, users[i], CACHE_FROM_CONTACTS, 0, NULL);
        if (u)
            put_contact(c, u, 0);
    }
}

static HANDLER(cache_on_query_contacts_ack)
{
    HANDLER_ARGS(Ptt__Rr__QueryContactsAck);
    if (msg->result != 0)
        return;
    lgli_clear(c->contacts, lgli_free_user);
    add_contacts(c, msg->users, msg->n_users);
    lirko_event_post(c->owner, "contactlist_changed", 0, 0);
}

static HANDLER(cache_on_contacts_changed)
{
    HANDLER_ARGS(Ptt__Push__ContactsChanged);
    LOG(c, HAL_LOG_DEBUG, "contactchanged n_rm_contact:%d", (int)msg->n_rm_contacts);
    for (size_t i = 0; i < msg->n_rm_contacts; i++)
        lgli_remove_by_id(c->contacts, msg->rm_contacts[i], -1, lgli_free_user);
    LOG(c, HAL_LOG_VERBOSE, "contactchanged n_update_contact:%d", (int)msg->n_update_contacts);
    add_contacts(c, msg->update_contacts, msg->n_update_contacts);
    lirko_event_post(c->owner, "contactlist_changed", 0, 0);
}

// --- contact requests ------------------------------------------------------------

static list_node *find_request(cache *c, uint32_t uid)
{
    for (list_node *n = list_begin(c->request_contacts); n; n = list_next(n)) {
        request_contact *r = (request_contact *)list_data_get(n);
        if (r && r->uid == uid)
            return n;
    }
    return NULL;
}

static void replace_text(char **field, const char *text)
{
    if (!text)
        return;
    char *copy = strdup(text);
    if (!copy)
        return;
    free(*field);
    *field = copy;
}

static HANDLER(cache_on_contactship_asked)
{
    HANDLER_ARGS(Ptt__Push__ContactshipAsked);
    for (size_t i = 0; i < msg->n_requests; i++) {
        const Ptt__Push__ContactshipAsked__Request *rq = msg->requests[i];
        if (!rq)
            continue;
        list_node *n = find_request(c, rq->uid);
        LOG(c, HAL_LOG_VERBOSE,
            n ? "cache_get_requestcontact_from_uid:%d success"
              : "cache_get_requestcontact_from_uid:%d error",
            (int)rq->uid);
        request_contact *r = n ? (request_contact *)list_data_get(n) : NULL;
        if (!r) {
            r = (request_contact *)calloc(1, sizeof(*r));
            if (!r)
                continue;
            r->uid = rq->uid;
            if (list_push_back(c->request_contacts, r) != 0) {
                free(r);
                continue;
            }
            LOG(c, HAL_LOG_VERBOSE, "cache add requestcontact id:%d,name is:%s", (int)rq->uid,
                rq->uname ? rq->uname : "");
        }
        replace_text(&r->text, rq->text);
        replace_text(&r->uname, rq->uname);
    }
    lirko_event_post(c->owner, "requestcontact_update", 0, 0);
}

static HANDLER(cache_on_make_contacts_response_ack)
{
    HANDLER_ARGS(Ptt__Rr__MakeContactsResponseAck);
    if (msg->result != 0 || !msg->n_new_contacts_uids)
        return;
    for (size_t i = 0; i < msg->n_new_contacts_uids; i++) {
        list_node *n = find_request(c, msg->new_contacts_uids[i]);
        if (n)
            free_request((request_contact *)list_remove_at(c->request_contacts, n));
    }
    lirko_event_post(c->owner, "requestcontact_update", 0, 0);
}

// --- group lists, joining and the current group -------------------------------------

static HANDLER(cache_on_query_group_ack)
{
    HANDLER_ARGS(Ptt__Rr__QueryGroupAck);
    if (msg->result != 0 || !msg->n_groups)
        return;
    uint32_t *gids = (uint32_t *)calloc(msg->n_groups, sizeof(*gids));
    if (gids) {
        uint32_t n = 0;
        for (size_t i = 0; i < msg->n_groups; i++)
            if (msg->groups[i])
                gids[n++] = msg->groups[i]->gid;
        if (n)
            cache_query_members(c, gids, n);
        free(gids);
    }
    lgli_clear(c->groups, lgli_free_group);
    cache_add_groups(c, msg->groups, msg->n_groups);
    lirko_event_post(c->owner, "grouplist_changed", 0, 0);
}

static HANDLER(cache_on_grouplist_changed)
{
    HANDLER_ARGS(Ptt__Push__GroupListChanged);
    LOG(c, HAL_LOG_VERBOSE, "Ptt__Push__GroupListChanged n_rm_groups:%d n_update_groups:%d",
        (int)msg->n_rm_groups, (int)msg->n_update_groups);
    for (size_t i = 0; i < msg->n_rm_groups; i++)
        lgli_remove_by_id(c->groups, msg->rm_groups[i], 0, lgli_free_group);
    cache_add_groups(c, msg->update_groups, msg->n_update_groups);
    lirko_event_post(c->owner, "grouplist_changed", 0, 0);
}

static HANDLER(on_serv_watch_group_ex_ack)
{
    HANDLER_ARGS(Ptt__Rr__WatchGroupExAck);
    LOG(c, HAL_LOG_VERBOSE, "on_serv_watch_group_ex_ack");
    LOG(c, HAL_LOG_VERBOSE, "on_serv_watch_group_ex_ack: result %d, watch group count %d",
        msg->result, (int)msg->n_groups);
    if (msg->result != 0 || !msg->n_groups)
        return;
    cache_add_groups(c, msg->groups, msg->n_groups);
    for (size_t i = 0; i < msg->n_groups; i++) {
        if (!msg->groups[i])
            continue;
        uint32_t *id = (uint32_t *)malloc(sizeof(*id));
        if (!id)
            continue;
        *id = msg->groups[i]->gid;
        if (list_push_back(c->watch_group_ids, id) != 0) {
            free(id);
            continue;
        }
        LOG(c, HAL_LOG_VERBOSE, "cache add watchgroupid id %d", (int)*id);
    }
    lirko_event_post(c->owner, "watch_group_update", 0, 0);
}

static void query_one_group(cache *c, uint32_t gid)
{
    int rst = cache_query_members(c, &gid, 1);
    if (rst != 0)
        LOG(c, HAL_LOG_VERBOSE, "cache post_util_querygroupmembers error rst:%d", rst);
}

static HANDLER(join_group_cb)
{
    HANDLER_ARGS(Ptt__Rr__JoinGroupAck);
    if (msg->result != 0) {
        cache_save_current_gid(c, 0);
        return;
    }
    if (msg->group) {
        Ptt__Group *g = msg->group;
        cache_add_groups(c, &g, 1);
        if (!(g->has_type && lirko_enum_value(&g->type) == PTT__GROUP__GROUP_TYPE__TEMP))
            cache_save_current_gid(c, g->gid);
        query_one_group(c, g->gid);
        return;
    }
    cache_save_current_gid(c, 0);
    if (msg->has_gid)
        LOG(c, HAL_LOG_VERBOSE, "older version cache join_group_cb");
}

static HANDLER(cache_on_current_group)
{
    HANDLER_ARGS(Ptt__Push__CurrentGroup);
    if (msg->group) {
        Ptt__Group *g = msg->group;
        if (g->name)
            LOG(c, HAL_LOG_VERBOSE,
                "cache Push__current_group msg->group->name not null strlen is %d",
                (int)strlen(g->name));
        cache_add_groups(c, &g, 1);
        lirko_event_post(c->owner, "grouplist_changed", 0, 0);
        if (!(g->has_type && lirko_enum_value(&g->type) == PTT__GROUP__GROUP_TYPE__TEMP))
            cache_save_current_gid(c, g->gid);
        query_one_group(c, g->gid);
        return;
    }
    cache_save_current_gid(c, 0);
    if (!msg->gid)
        return;
    LOG(c, HAL_LOG_VERBOSE, "older version cache join_group_cb");
    Ptt__Group g = PTT__GROUP__INIT;
    g.gid = msg->gid;
    g.has_ip = msg->has_ip;
    g.ip = msg->ip;
    g.has_port = msg->has_port;
    g.port = msg->port;
    g.name = msg->gname;
    Ptt__Group *gp = &g;
    cache_add_groups(c, &gp, 1);
    cache_save_current_gid(c, msg->gid);
    lirko_event_post(c->owner, "grouplist_changed", 0, 0);
}

// --- log-only handlers -------------------------------------------------------------

static HANDLER(cache_on_callack)
{
    HANDLER_ARGS(Ptt__Rr__CallAck);
    LOG(c, HAL_LOG_VERBOSE, "callack result is %d", msg->result);
}

static HANDLER(cache_on_friendack)
{
    HANDLER_ARGS(Ptt__Rr__MakeContactsAck);
    LOG(c, HAL_LOG_VERBOSE, "friendack result is %d", msg->result);
}

#define LOG_ONLY_HANDLER(name)                                                                     \
    static HANDLER(name)                                                                           \
    {                                                                                              \
        (void)message;                                                                             \
        (void)h;                                                                                   \
        LOG((cache *)arg, HAL_LOG_VERBOSE, "%s", #name);                                           \
    }
LOG_ONLY_HANDLER(on_recv_txt_broadcast)
LOG_ONLY_HANDLER(on_recv_mobile_standard)
LOG_ONLY_HANDLER(on_recv_dispatch_reconnection)
LOG_ONLY_HANDLER(on_recv_configuration)

// --- life ---------------------------------------------------------------------------

struct cache_handler_row {
    const char *name;
    dispatcher_fn fn;
};

static const cache_handler_row HANDLERS[] = {
    {"ptt.rr.ChangeNameAck", cache_on_selfname},
    {"ptt.rr.LoginAck", cache_on_loginack},
    {"ptt.push.Reconfigured", get_reconfigure_cb},
    {"ptt.push.ContactsChanged", cache_on_contacts_changed},
    {"ptt.push.MembersChanged", flush_member_cb},
    {"ptt.push.GroupListChanged", cache_on_grouplist_changed},
    {"ptt.rr.QueryContactsAck", cache_on_query_contacts_ack},
    {"ptt.rr.QueryMembersAck", cache_on_query_members_ack},
    {"ptt.rr.QueryMembersAck2", ptt_rr_querymembersack2},
    {"ptt.rr.QueryGroupAck", cache_on_query_group_ack},
    {"ptt.push.UsersChanged", user_changed_cb},
    {"ptt.push.CurrentGroup", cache_on_current_group},
    {"ptt.rr.JoinGroupAck", join_group_cb},
    {"ptt.rr.RequestConfigureAck", request_configure_cb},
    {"ptt.rr.QueryUsersAck", query_user_cb},
    {"ptt.rr.WatchGroupExAck", on_serv_watch_group_ex_ack},
    {"ptt.rr.CallAck", cache_on_callack},
    {"ptt.rr.MakeContactsAck", cache_on_friendack},
    {"ptt.push.NewWorksheet", newwork_sheet_cb},
    {"ptt.serv.TxtBroadcast", on_recv_txt_broadcast},
    {"ptt.rr.MakeContactsResponseAck", cache_on_make_contacts_response_ack},
    {"ptt.push.ContactshipAsked", cache_on_contactship_asked},
    {"ptt.serv.MobileStandard", on_recv_mobile_standard},
    {"ptt.serv.DispatchReconnection", on_recv_dispatch_reconnection},
    {"ptt.serv.Configuration", on_recv_configuration},
    {"ptt.rr.QueryDepartmentTreeAck", on_recv_querydepartmenttree_ack_message},
};
static_assert(sizeof(HANDLERS) / sizeof(HANDLERS[0]) == 26, "26 cache handlers");

static dispatcher_t *dispatcher_of(cache *c)
{
    return c->owner ? connection_get_dispatcher(c->owner->connection) : NULL;
}

static void unregister_handlers(cache *c, size_t n)
{
    dispatcher_t *d = dispatcher_of(c);
    for (size_t i = 0; d && i < n; i++)
        dispatcher_unregister(d, HANDLERS[i].name, HANDLERS[i].fn, c);
}

static void free_containers(cache *c)
{
    lgli_destroy(&c->groups, lgli_free_group);
    lgli_destroy(&c->contacts, lgli_free_user);
    map_del(c->member_lists);
    map_del(c->member_large_lists);
    map_del(c->member_indexes);
    map_del(c->users);
    map_del(c->departments);
    list_del(c->newsheets);
    list_del(c->request_contacts);
    list_del(c->watch_group_ids);
    list_del(c->retired_departments);
    if (c->myself)
        free(c->myself->name);
    free(c->myself);
    cache_free_sms_center(&c->config);
    pinyin_code *py = (pinyin_code *)c->pinyin;
    pinyin_destroy(&py);
    c->pinyin = NULL;
}

cache *cache_new(lirko_t *engine)
{
    if (!engine)
        return NULL;
    cache *c = (cache *)calloc(1, sizeof(*c));
    if (!c)
        return NULL;
    c->owner = engine;
    c->log = engine->log;
    c->looper = engine->looper;
    c->watch_group_ids = list_new();
    c->member_lists = map_new();
    c->newsheets = list_new();
    c->request_contacts = list_new();
    c->users = map_new();
    c->departments = map_new();
    c->retired_departments = list_new();
    c->myself = (cache_user *)calloc(1, sizeof(*c->myself));
    c->member_large_lists = map_new();
    c->member_indexes = map_new();
    c->contacts = lgli_new(LGLI_KIND_CONTACT, c->log);
    c->groups = lgli_new(LGLI_KIND_GROUP, c->log);
    if (!c->watch_group_ids || !c->member_lists || !c->newsheets || !c->request_contacts ||
        !c->users || !c->departments || !c->retired_departments || !c->myself ||
        !c->member_large_lists || !c->member_indexes || !c->contacts || !c->groups) {
        free_containers(c);
        free(c);
        return NULL;
    }
    dispatcher_t *d = dispatcher_of(c);
    size_t n = sizeof(HANDLERS) / sizeof(HANDLERS[0]);
    for (size_t i = 0; i < n; i++) {
        if (!d || dispatcher_register(d, HANDLERS[i].name, HANDLERS[i].fn, c) != 0) {
            unregister_handlers(c, i);
            free_containers(c);
            free(c);
            return NULL;
        }
    }
    // Without the table, names starting with an ideograph sort by their bytes.
    c->pinyin = pinyin_load(c->log);
    return c;
}

static int free_item_list_cb(const char *, uint32_t, void *data, void *)
{
    list *items = (list *)data;
    free_item_list(items);
    list_del(items);
    return HAL_CONTINUE;
}

static int free_member_lgli_cb(const char *, uint32_t, void *data, void *)
{
    list_lgli *l = (list_lgli *)data;
    lgli_destroy(&l, lgli_free_entry);
    return HAL_CONTINUE;
}

static int free_index_cb(const char *, uint32_t, void *data, void *)
{
    free_index((member_index *)data);
    return HAL_CONTINUE;
}

static int free_user_cb(const char *, uint32_t, void *data, void *)
{
    free_user((cache_user *)data);
    return HAL_CONTINUE;
}

void cache_clear(cache *c)
{
    if (!c)
        return;
    lgli_clear(c->groups, lgli_free_group);
    lgli_clear(c->contacts, lgli_free_user);
    map_foreach(c->member_lists, free_item_list_cb, NULL);
    map_erase(c->member_lists);
    map_foreach(c->member_large_lists, free_member_lgli_cb, NULL);
    map_erase(c->member_large_lists);
    map_foreach(c->member_indexes, free_index_cb, NULL);
    map_erase(c->member_indexes);
    map_foreach(c->users, free_user_cb, NULL);
    map_erase(c->users);
    cache_retire_departments(c);
    cache_free_newsheets(c->newsheets);
    request_contact *r;
    while ((r = (request_contact *)list_pop_front(c->request_contacts)))
        free_request(r);
    free_item_list(c->watch_group_ids);
    free(c->myself->name);
    memset(c->myself, 0, sizeof(*c->myself));
    cache_free_sms_center(&c->config);
    memset(&c->config, 0, sizeof(c->config));
}

void cache_destroy(cache **pc)
{
    if (!pc || !*pc)
        return;
    cache *c = *pc;
    unregister_handlers(c, sizeof(HANDLERS) / sizeof(HANDLERS[0]));
    cache_clear(c);
    cache_free_departments(c);
    free_containers(c);
    free(c);
    *pc = NULL;
}

void cache_clear_worksheets(cache *c)
{
    if (c)
        cache_free_newsheets(c->newsheets);
}
