#include "lirko_watch.h"

#include "cache.h"
#include "connection.h"
#include "hal_log.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_query.h"
#include "lirko_records.h"
#include "list.h"
#include "ptt_rr.pb-c.h"
#include "session.h"
#include "sessionset.h"

#include <stdlib.h>
#include <string.h>

static const char *TAG = "lirko";

// How long the answer to GetWatchGroup is waited for before the watcher
// gives up and logs it.
static const double WATCH_REPLY_TIMEOUT = 3.0;

int lirko_watch_group(lirko_t *engine, uint32_t gid)
{
    if (!engine)
        return -1;
    int is_old = cache_get_server_is_old(engine->cache);
    hal_log_output(engine->log, HAL_LOG_DEBUG, TAG, "%s is_old %d", "lirko_watch_group", is_old);
    cache_group *group = cache_get_group_by_gid(engine->cache, gid);
    win_group_t *dept_group = group ? NULL : cache_get_department_group_by_gid(engine->cache, gid);
    if (!group && !dept_group)
        return -1;
    if (!is_old) {
        const cache_user *me = cache_get_myself(engine->cache);
        uint32_t pt = lirko_voice_payload_type(engine);
        Ptt__Rr__WatchGroup w = PTT__RR__WATCH_GROUP__INIT;
        w.has_gid = w.has_uid = w.has_expect_pt = w.has_store = 1;
        w.gid = gid;
        w.uid = me ? me->uid : 0;
        w.expect_pt = pt;
        w.n_accept_pt = 1;
        w.accept_pt = &pt;
        w.store = 1;
        return connection_send_msg(engine->connection, &w.base);
    }
    if (group)
        return sessionset_start_watch_group(engine->sessionset, group);
    // A group only a department lists is watched through a record of its
    // address.
    cache_group from_department = {};
    from_department.type = dept_group->type;
    from_department.gid = dept_group->gid;
    from_department.name = dept_group->name;
    from_department.prior = dept_group->prior;
    from_department.ip = dept_group->ip;
    from_department.port = dept_group->port;
    from_department.sort_weight = dept_group->sort_weight;
    return sessionset_start_watch_group(engine->sessionset, &from_department);
}

int lirko_stop_watch_group(lirko_t *engine, uint32_t gid)
{
    if (!engine || !engine->sessionset || gid == 0)
        return -1;
    sessionset *set = engine->sessionset;
    list_node *node = list_begin(set->watched);
    for (; node; node = list_next(node)) {
        const session *s = (const session *)list_data_get(node);
        if (s && s->gid == gid)
            break;
    }
    if (!node)
        return -1;
    session *s = (session *)list_remove_at(set->watched, node);
    session_send_bye_group(s);
    if (s != set->current)
        session_destroy(&s);
    lirko_event_post(engine, "stop_watch_group", (int32_t)gid, 0);
    return 0;
}

int lirko_get_watch_group_count(lirko_t *engine)
{
    if (!engine || !engine->sessionset)
        return 0;
    return (int)list_count(engine->sessionset->watched);
}

int lirko_get_watch_groups(lirko_t *engine, cache_group **out)
{
    if (!engine || !out)
        return 0;
    if (*out) {
        hal_log_output(engine->log, HAL_LOG_DEBUG, TAG, "%s %p", "lirko_get_watch_groups",
                       (void *)*out);
        return 0;
    }
    int count = lirko_get_watch_group_count(engine);
    if (count == 0) {
        hal_log_output(engine->log, HAL_LOG_DEBUG, TAG, "%s watch_count(%u)",
                       "lirko_get_watch_groups", 0u);
        return 0;
    }
    uint32_t *gids = (uint32_t *)calloc((size_t)count, sizeof(*gids));
    cache_group *array = (cache_group *)calloc((size_t)count, sizeof(*array));
    int n = gids ? sessionset_get_watch_gids(engine->sessionset, gids, (uint32_t)count) : -1;
    if (!array || n < 0) {
        free(gids);
        free(array);
        return 0;
    }
    int filled = 0;
    for (int i = 0; i < n; i++) {
        const cache_group *g = cache_get_group_by_gid(engine->cache, gids[i]);
        if (!g)
            continue;
        cache_group *e = &array[filled++];
        e->type = g->type;
        e->gid = g->gid;
        e->name = g->name ? strdup(g->name) : NULL;
        e->prior = g->prior;
        e->ip = g->ip;
        e->port = g->port;
        hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko_get_watch_groups gid:%d,gname:%s",
                       (int)g->gid, g->name ? g->name : "");
    }
    free(gids);
    *out = array;
    return filled;
}

static void on_get_watch_group_timeout(connection_t *conn, const char *ack_name, void *arg)
{
    (void)conn;
    lirko_t *engine = (lirko_t *)arg;
    hal_log_output(engine->log, HAL_LOG_ERROR, TAG, "%s no %s", "lirko_get_watch_group", ack_name);
}

int lirko_get_watch_group(lirko_t *engine)
{
    if (!engine)
        return -1;
    Ptt__Rr__GetWatchGroup g = PTT__RR__GET_WATCH_GROUP__INIT;
    return connection_send_msg_with_expect(engine->connection, &g.base, "ptt.rr.GetWatchGroupAck",
                                           WATCH_REPLY_TIMEOUT, on_get_watch_group_timeout, engine);
}

int lirko_add_watch_group(lirko_t *engine, const uint32_t *gids, int count)
{
    if (!engine)
        return -1;
    Ptt__Rr__AddWatchGroup a = PTT__RR__ADD_WATCH_GROUP__INIT;
    if (count > 0 && gids) {
        a.n_gids = (size_t)count;
        a.gids = (uint32_t *)gids;
        for (int i = 0; i < count; i++)
            hal_log_output(engine->log, HAL_LOG_ERROR, "post_util", "%s gid_count %d gid %d",
                           "post_add_watch_group", count, (int)gids[i]);
    }
    return connection_send_msg(engine->connection, &a.base);
}

int lirko_remove_watch_group(lirko_t *engine, const uint32_t *gids, int count)
{
    if (!engine)
        return -1;
    Ptt__Rr__RemoveWatchGroup r = PTT__RR__REMOVE_WATCH_GROUP__INIT;
    if (count > 0 && gids) {
        r.n_gids = (size_t)count;
        r.gids = (uint32_t *)gids;
    }
    return connection_send_msg(engine->connection, &r.base);
}

int lirko_watch_groupex(void)
{
    return 0;
}
