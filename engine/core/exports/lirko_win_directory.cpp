// The directory exports: sizes, then copies into arrays the caller
// allocates (group, member, user, speaker, watch and department lists),
// the watch commands and the frees of the internal query arrays.
#include "lirko_win_directory.h"

#include "cache.h"
#include "hal_log.h"
#include "hal_time.h"
#include "lirko.h"
#include "lirko_query.h"
#include "lirko_records.h"
#include "lirko_results.h"
#include "lirko_user_commands.h"
#include "lirko_watch.h"
#include "lirko_win_frame.h"
#include "list.h"
#include "list_lgli.h"
#include "map.h"
#include "post_util.h"
#include "sessionset.h"

#include <stdlib.h>
#include <string.h>

// Results of the list exports for the caller's array.
enum { NO_ARRAY = -3, ARRAY_TOO_SMALL = -2 };

int lirko_query_grouplistsize(lirko_t *engine)
{
    return engine ? (int)cache_group_count(engine->cache) : 0;
}

static int copy_groups(lirko_t *engine, win_group_t *groups, size_t capacity)
{
    cache *c = engine->cache;
    uint32_t count = cache_group_count(c);
    if (!groups || capacity == 0)
        return NO_ARRAY;
    if (capacity < count)
        return ARRAY_TOO_SMALL;
    if (count == 0)
        return 0;
    size_t i = 0;
    for (list_node *n = list_begin(c->groups->list); n && i < count; n = list_next(n)) {
        const cache_group *g = (const cache_group *)list_data_get(n);
        if (g)
            lirko_fill_win_group(&groups[i++], g);
    }
    return (int)i;
}

int lirko_get_win_group(lirko_t *engine, win_group_t *groups, size_t capacity)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "getGroupList begin");
    return copy_groups(engine, groups, capacity);
}

int lirko_get_win_group_extern(lirko_t *engine, win_group_t *groups, size_t capacity,
                               lirko_boolean_t force)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "getGroupList Extern begin");
    if (force) {
        const char *fn = "cache_get_grouplist_extern";
        uint32_t now = (uint32_t)hal_time_now();
        uint32_t last = engine->last_group_refresh;
        hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG, "%s now %d last %d, result %d",
                       fn, (int)now, (int)last, (int)(now - last));
        if (last == 0 || now - last >= LIRKO_GROUP_REFRESH_INTERVAL) {
            int ret = post_util_querygroup(engine);
            engine->last_group_refresh = now;
            hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG,
                           "%s forceRefresh ret:%d, tv %d", fn, ret, (int)now);
        } else {
            hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG,
                           "%s ignore froceRefresh query grouplist: %d time %d last %d", fn,
                           (int)(now - last), (int)now, (int)last);
        }
    }
    return copy_groups(engine, groups, capacity);
}

int lirko_getMemberSize(lirko_t *engine, uint32_t gid)
{
    return lirko_query_memberlist_size(engine, gid);
}

int lirko_query_win_memberlist_refresh(lirko_t *engine, uint32_t gid, win_member_t *members,
                                       size_t capacity, uint8_t refresh)
{
    if (!engine)
        return -1;
    if (!members || gid == 0)
        return NO_ARRAY;
    if (capacity < (size_t)lirko_query_memberlist_size(engine, gid))
        return ARRAY_TOO_SMALL;
    member_entry *entries = NULL;
    int n = lirko_query_memberlist_refresh(engine, gid, 0, -1, &entries, refresh);
    for (int i = 0; i < n && (size_t)i < capacity; i++)
        lirko_fill_win_member(&members[i], gid, &entries[i]);
    lirko_free_members_array(&entries, n);
    return n < 0 ? 0 : ((size_t)n > capacity ? (int)capacity : n);
}

int lirko_query_win_memberlist(lirko_t *engine, uint32_t gid, win_member_t *members,
                               size_t capacity)
{
    return lirko_query_win_memberlist_refresh(engine, gid, members, capacity, 0);
}

// The (gid, speaker) pairs of the session set in a new array: the count, -1
// when memory runs out.
static int speaker_pairs(lirko_t *engine, sessionset_speaker **out)
{
    *out = NULL;
    if (!engine->sessionset)
        return 0;
    uint32_t capacity = (uint32_t)list_count(engine->sessionset->watched) + 1;
    sessionset_speaker *pairs = (sessionset_speaker *)calloc(capacity, sizeof(*pairs));
    if (!pairs)
        return -1;
    *out = pairs;
    return sessionset_get_speakers(engine->sessionset, pairs, capacity);
}

int lirko_getSpeakingUsersSize(lirko_t *engine)
{
    if (!engine)
        return 0;
    sessionset_speaker *pairs;
    int n = speaker_pairs(engine, &pairs);
    free(pairs);
    return n < 0 ? 0 : n;
}

int lirko_get_speaking_win_users(lirko_t *engine, win_user_t *users, size_t capacity)
{
    if (!engine)
        return -1;
    if (!users || capacity == 0)
        return NO_ARRAY;
    sessionset_speaker *pairs;
    int n = speaker_pairs(engine, &pairs);
    if (n < 0)
        return -1;
    if ((size_t)n > capacity) {
        free(pairs);
        return ARRAY_TOO_SMALL;
    }
    for (int i = 0; i < n; i++) {
        const cache_user *u = cache_get_user_by_uid(engine->cache, pairs[i].uid);
        if (u)
            lirko_fill_win_user(&users[i], u);
        else
            users[i].uid = pairs[i].uid;
        users[i].gid = pairs[i].gid;
        users[i].has_gid = 1;
    }
    free(pairs);
    return n;
}

int lirko_get_win_watch_groups(lirko_t *engine, win_group_t *groups, size_t capacity)
{
    if (!engine)
        return -1;
    if (!groups || capacity == 0)
        return NO_ARRAY;
    int count = lirko_get_watch_group_count(engine);
    if (count == 0 || (size_t)count > capacity) {
        hal_log_output(engine->log, HAL_LOG_DEBUG, LIRKO_WIN_TAG, "%s watch_count(%u)",
                       "lirko_get_win_watch_groups", (unsigned)count);
        return 0;
    }
    uint32_t *gids = (uint32_t *)calloc((size_t)count, sizeof(*gids));
    int n = gids ? sessionset_get_watch_gids(engine->sessionset, gids, (uint32_t)count) : -1;
    int written = 0;
    for (int i = 0; i < n; i++) {
        const cache_group *g = cache_get_group_by_gid(engine->cache, gids[i]);
        if (g)
            lirko_fill_win_group(&groups[written++], g);
    }
    free(gids);
    return written;
}

int lirko_getAllUserSize(lirko_t *engine)
{
    return engine ? (int)map_count(engine->cache->users) : 0;
}

int lirko_getAllUserId(lirko_t *engine, uid_t *uids, size_t capacity)
{
    if (!engine || !uids)
        return -1;
    if (capacity == 0 || capacity < (size_t)lirko_getAllUserSize(engine))
        return ARRAY_TOO_SMALL;
    size_t i = 0;
    for (map_node *n = map_begin(engine->cache->users); n && i < capacity; n = map_next(n))
        uids[i++] = map_key_get(n);
    return (int)i;
}

void lirko_freeAllUserId(lirko_t *engine, uid_t *array)
{
    (void)engine;
    free(array);
}

// --- the exports -------------------------------------------------------------------

int lirko_win_getGroupSize(void)
{
    return lirko_win_run([](lirko_t *e, void *) { return lirko_query_grouplistsize(e); }, NULL, 0);
}

int lirko_win_getMemberSize(gid_t gid)
{
    return lirko_win_run(
        [](lirko_t *e, void *arg) { return lirko_getMemberSize(e, *(gid_t *)arg); }, &gid, 0);
}

int lirko_win_getAllUserSize(void)
{
    return lirko_win_run([](lirko_t *e, void *) { return lirko_getAllUserSize(e); }, NULL, 0);
}

int lirko_win_getSpeakingUsersSize(void)
{
    return lirko_win_run([](lirko_t *e, void *) { return lirko_getSpeakingUsersSize(e); }, NULL, 0);
}

int lirko_win_getWatchedGroupCount(void)
{
    return lirko_win_run([](lirko_t *e, void *) { return lirko_get_watch_group_count(e); }, NULL,
                         0);
}

int lirko_win_query_department_group_size(void)
{
    return lirko_win_run(
        [](lirko_t *e, void *) {
            hal_log_output(e->log, HAL_LOG_DEBUG, "cache", "cache_get_all_department_group_size");
            size_t total = 0;
            for (map_node *n = map_begin(e->cache->departments); n; n = map_next(n)) {
                const department_t *d = (const department_t *)map_data_get(n);
                total += d ? d->n_groups : 0;
            }
            return (int)total;
        },
        NULL, 0);
}

uint32_t lirko_win_get_current_did(void)
{
    return (uint32_t)lirko_win_run([](lirko_t *e, void *) { return (int)lirko_get_current_did(e); },
                                   NULL, 0);
}

uid_t lirko_win_getUid(void)
{
    return (uid_t)lirko_win_run(
        [](lirko_t *e, void *) {
            const cache_user *me = lirko_get_current_user(e);
            return me ? (int)me->uid : 0;
        },
        NULL, 0);
}

typedef struct list_args {
    void *array;
    size_t capacity;
    uint32_t id; // gid or uid
    int flag;
} list_args;

int lirko_win_getGroupList(win_group_t *groups, size_t capacity)
{
    if (!groups || capacity == 0)
        return NO_ARRAY;
    // The size check is made on the looper, where the group count cannot
    // change under it.
    list_args args = {groups, capacity, 0, 0};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            return lirko_get_win_group(e, (win_group_t *)a->array, a->capacity);
        },
        &args, -1);
}

int lirko_win_getGroupList_extern(win_group_t *groups, size_t capacity, lirko_boolean_t force)
{
    if (!groups || capacity == 0)
        return NO_ARRAY;
    list_args args = {groups, capacity, 0, force};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            return lirko_get_win_group_extern(e, (win_group_t *)a->array, a->capacity, a->flag);
        },
        &args, -1);
}

int lirko_win_getGroupByGid(win_group_t *group, gid_t gid)
{
    if (!group || gid == 0)
        return -1;
    list_args args = {group, 1, gid, 0};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            const cache_group *g = cache_get_group_by_gid(e->cache, a->id);
            if (!g)
                return -1;
            lirko_fill_win_group((win_group_t *)a->array, g);
            return 0;
        },
        &args, -1);
}

static int member_list(win_member_t *members, size_t capacity, gid_t gid, int refresh)
{
    if (!members || gid == 0)
        return NO_ARRAY;
    list_args args = {members, capacity, gid, refresh};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            return lirko_query_win_memberlist_refresh(e, a->id, (win_member_t *)a->array,
                                                      a->capacity, (uint8_t)a->flag);
        },
        &args, -1);
}

int lirko_win_getMemberList(win_member_t *members, size_t capacity, gid_t gid)
{
    return member_list(members, capacity, gid, 0);
}

int lirko_win_getMemberList_refresh(win_member_t *members, size_t capacity, gid_t gid)
{
    return member_list(members, capacity, gid, 1);
}

int lirko_win_getUser(win_user_t *user, uid_t uid)
{
    if (!user || uid == 0)
        return -1;
    list_args args = {user, 1, uid, 0};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            const cache_user *u = lirko_get_user(e, a->id);
            if (!u)
                return -1;
            lirko_fill_win_user((win_user_t *)a->array, u);
            return 1;
        },
        &args, -1);
}

typedef struct users_args {
    win_user_t *users;
    const uid_t *uids;
    size_t count;
} users_args;

int lirko_win_getUsers(win_user_t *users, const uid_t *uids, size_t count)
{
    if (!uids || count == 0)
        return -1;
    if (!users)
        return -2;
    users_args args = {users, uids, count};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const users_args *a = (const users_args *)arg;
            for (size_t i = 0; i < a->count; i++) {
                const cache_user *u = lirko_get_user(e, a->uids[i]);
                if (!u)
                    return -1;
                lirko_fill_win_user(&a->users[i], u);
            }
            return (int)a->count;
        },
        &args, -1);
}

int lirko_win_getAllUsersId(uid_t *uids, size_t capacity)
{
    if (!uids || capacity == 0)
        return -1;
    list_args args = {uids, capacity, 0, 0};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            return lirko_getAllUserId(e, (uid_t *)a->array, a->capacity);
        },
        &args, -1);
}

int lirko_win_getCurrentUser(win_user_t *user)
{
    if (!user)
        return -1;
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const cache_user *me = lirko_get_current_user(e);
            if (!me)
                return -1;
            win_user_t *out = (win_user_t *)arg;
            // The own location settings are the application's to keep.
            uint32_t location_on = out->location_on;
            uint32_t location_period = out->location_period;
            lirko_fill_win_user(out, me);
            out->location_on = location_on;
            out->location_period = location_period;
            return 0;
        },
        user, -1);
}

int lirko_win_getName(char *name)
{
    if (!name)
        return -1;
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const cache_user *me = cache_get_myself(e->cache);
            if (!me || !me->name)
                return -1;
            lirko_copy_text((char *)arg, LIRKO_NAME_BUF_SIZE, me->name);
            return 0;
        },
        name, -1);
}

int lirko_win_getSpeakingUsers(win_user_t *users, size_t capacity)
{
    if (!users || capacity == 0)
        return NO_ARRAY;
    list_args args = {users, capacity, 0, 0};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            return lirko_get_speaking_win_users(e, (win_user_t *)a->array, a->capacity);
        },
        &args, -1);
}

int lirko_win_getPlayingSoundUser(win_user_t *user)
{
    if (!user)
        return -1;
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            cache_user speaker = {};
            if (!lirko_get_playing_sound_user(e, &speaker))
                return -1;
            win_user_t *out = (win_user_t *)arg;
            lirko_fill_win_user(out, &speaker);
            free(speaker.name);
            return 0;
        },
        user, -1);
}

int lirko_win_getWatchGroups(win_group_t *groups, size_t capacity)
{
    if (!groups || capacity == 0)
        return -1;
    list_args args = {groups, capacity, 0, 0};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            return lirko_get_win_watch_groups(e, (win_group_t *)a->array, a->capacity);
        },
        &args, -1);
}

int lirko_win_query_department_group(win_group_t **groups, size_t capacity)
{
    if (!groups || !*groups)
        return -1;
    list_args args = {*groups, capacity, 0, 0};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const list_args *a = (const list_args *)arg;
            win_group_t *out = (win_group_t *)a->array;
            size_t written = 0;
            for (map_node *n = map_begin(e->cache->departments); n; n = map_next(n)) {
                const department_t *d = (const department_t *)map_data_get(n);
                for (size_t k = 0; d && k < d->n_groups && written < a->capacity; k++) {
                    out[written] = d->groups[k];
                    out[written].did = d->did;
                    out[written].has_key = 0;
                    out[written].is_encryp = 0;
                    written++;
                }
            }
            return 0;
        },
        &args, -1);
}

// --- watched groups and departments -----------------------------------------------

int lirko_win_startWatchGroup(gid_t gid)
{
    return lirko_win_run([](lirko_t *e, void *arg) { return lirko_watch_group(e, *(gid_t *)arg); },
                         &gid, -1);
}

int lirko_win_stopWatchGroup(gid_t gid)
{
    return lirko_win_run(
        [](lirko_t *e, void *arg) { return lirko_stop_watch_group(e, *(gid_t *)arg); }, &gid, -1);
}

int lirko_win_GetWatchGroup(void)
{
    return lirko_win_run([](lirko_t *e, void *) { return lirko_get_watch_group(e); }, NULL, -1);
}

typedef struct gids_args {
    const gid_t *gids;
    int count;
} gids_args;

int lirko_win_AddWatchGroup(const gid_t *gids, int count)
{
    gids_args args = {gids, count};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const gids_args *a = (const gids_args *)arg;
            return lirko_add_watch_group(e, a->gids, a->count);
        },
        &args, -1);
}

int lirko_win_RmWatchGroup(const gid_t *gids, int count)
{
    gids_args args = {gids, count};
    return lirko_win_run(
        [](lirko_t *e, void *arg) {
            const gids_args *a = (const gids_args *)arg;
            return lirko_remove_watch_group(e, a->gids, a->count);
        },
        &args, -1);
}

int lirko_win_query_department_tree(uint32_t did)
{
    return lirko_win_run(
        [](lirko_t *e, void *arg) { return lirko_send_query_department_tree(e, *(uint32_t *)arg); },
        &did, -1);
}

// --- frees of the internal query arrays --------------------------------------------

typedef struct free_args {
    void *array;
    int count;
} free_args;

static int free_array(void *array, int count, lirko_win_body body)
{
    if (!array || count == 0)
        return -1;
    free_args args = {array, count};
    return lirko_win_run(body, &args, -1);
}

static int free_groups_body(lirko_t *, void *arg)
{
    free_args *a = (free_args *)arg;
    cache_group *groups = (cache_group *)a->array;
    lirko_free_groups_array(&groups, a->count);
    return 0;
}

int lirko_win_freeGroupList(struct cache_group *groups, int count)
{
    return free_array(groups, count, free_groups_body);
}

int lirko_win_freeWatchGroups(struct cache_group *groups, int count)
{
    return free_array(groups, count, free_groups_body);
}

int lirko_win_freeMemberList(struct member_entry *members, int count)
{
    return free_array(members, count, [](lirko_t *, void *arg) {
        free_args *a = (free_args *)arg;
        member_entry *entries = (member_entry *)a->array;
        lirko_free_members_array(&entries, a->count);
        return 0;
    });
}

static int free_users_body(lirko_t *e, void *arg)
{
    free_args *a = (free_args *)arg;
    cache_user *users = (cache_user *)a->array;
    // Exactly the count the caller was given: the session set may have
    // changed since the query.
    lirko_free_users(e, &users, a->count);
    return 0;
}

int lirko_win_freeUsers(struct cache_user *users, int count)
{
    return free_array(users, count, free_users_body);
}

int lirko_win_freeSpeakingUsers(struct cache_user *users, int count)
{
    return free_array(users, count, free_users_body);
}

int lirko_win_freeAllUsersId(uid_t *uids)
{
    return free_array(uids, 1, [](lirko_t *e, void *arg) {
        lirko_freeAllUserId(e, (uid_t *)((free_args *)arg)->array);
        return 0;
    });
}

int lirko_win_freePlayingSoundUser(struct cache_user *user)
{
    return free_array(user, 1, [](lirko_t *, void *arg) {
        cache_user *u = (cache_user *)((free_args *)arg)->array;
        lirko_free_user_copy(&u);
        return 0;
    });
}
