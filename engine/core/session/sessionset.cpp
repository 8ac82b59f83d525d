#include "sessionset.h"

#include "cache.h"
#include "connection.h"
#include "dispatcher.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "kvmos.h"
#include "lirko.h"
#include "lirko_events.h"
#include "list.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "session.h"

#include <arpa/inet.h>
#include <stdlib.h>

static const char *TAG = "sessionset";
static const double JOIN_TIMEOUT = 3.0;
static const double JOIN_RETRY = 1.0;

#define SS_LOG(set, prio, ...) hal_log_output((set)->engine->log, (prio), TAG, __VA_ARGS__)

static void ss_on_join_group(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
static void ss_on_current_group(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
static void ss_on_watch_group_update(hal_looper *looper, hal_looper_event *event, void *arg,
                                     hal_looper_processor *processor);
static void ss_on_grouplist_changed(hal_looper *looper, hal_looper_event *event, void *arg,
                                    hal_looper_processor *processor);
static void ss_on_timer_joingrp(hal_looper *looper, double now, void *arg);
static void clear_sessions(sessionset *set, int post_stops);

static dispatcher_t *tcp_dispatcher(sessionset *set)
{
    return connection_get_dispatcher(set->engine->connection);
}

static cache *cache_of(sessionset *set)
{
    return set->engine->cache;
}

static uint32_t own_uid(sessionset *set)
{
    cache_user *me = cache_get_myself(cache_of(set));
    return me ? me->uid : 0;
}

sessionset *sessionset_new(lirko_t *engine)
{
    sessionset *set = (sessionset *)calloc(1, sizeof(*set));
    if (!set)
        return NULL;
    set->engine = engine;
    set->power_mode = 1;
    set->watched = list_new();
    set->mos = kvmos_new(engine);
    int ok = set->watched && set->mos;
    ok = ok && dispatcher_register(tcp_dispatcher(set), "ptt.rr.JoinGroupAck", ss_on_join_group,
                                   set) == 0;
    ok = ok && dispatcher_register(tcp_dispatcher(set), "ptt.push.CurrentGroup",
                                   ss_on_current_group, set) == 0;
    ok = ok &&
         lirko_event_subscribe(engine, "watch_group_update", ss_on_watch_group_update, set) == 0;
    ok =
        ok && lirko_event_subscribe(engine, "grouplist_changed", ss_on_grouplist_changed, set) == 0;
    if (!ok)
        sessionset_destroy(&set);
    return set;
}

void sessionset_destroy(sessionset **pset)
{
    if (!pset || !*pset)
        return;
    sessionset *set = *pset;
    dispatcher_unregister(tcp_dispatcher(set), "ptt.rr.JoinGroupAck", ss_on_join_group, set);
    dispatcher_unregister(tcp_dispatcher(set), "ptt.push.CurrentGroup", ss_on_current_group, set);
    lirko_event_unsubscribe(set->engine, "watch_group_update", ss_on_watch_group_update, set);
    lirko_event_unsubscribe(set->engine, "grouplist_changed", ss_on_grouplist_changed, set);
    if (set->watched) {
        // An unload tells the application nothing more.
        clear_sessions(set, 0);
        list_del(set->watched);
    }
    kvmos_destroy(&set->mos);
    free(set);
    *pset = NULL;
}

static int is_watched(sessionset *set, const session *s)
{
    for (list_node *n = list_begin(set->watched); n; n = list_next(n)) {
        if (list_data_get(n) == s)
            return 1;
    }
    return 0;
}

static session *find_watched(sessionset *set, uint32_t gid)
{
    for (list_node *n = list_begin(set->watched); n; n = list_next(n)) {
        session *s = (session *)list_data_get(n);
        if (s->gid == gid)
            return s;
    }
    return NULL;
}

static void clear_sessions(sessionset *set, int post_stops)
{
    hal_looper_cancel_timer(set->engine->looper, ss_on_timer_joingrp, set);
    session *current = set->current;
    set->current = NULL;
    if (current && !is_watched(set, current)) {
        if (post_stops)
            session_post_reset_stops(current);
        session_destroy(&current);
    }
    session *s;
    while ((s = (session *)list_pop_front(set->watched)) != NULL) {
        if (post_stops)
            session_post_reset_stops(s);
        session_destroy(&s);
    }
    set->progress = 0;
    set->in_join_gid = 0;
}

void sessionset_clear(sessionset *set)
{
    if (!set)
        return;
    clear_sessions(set, 1);
}

void sessionset_set_last_gid(sessionset *set, uint32_t gid)
{
    if (set)
        set->last_gid = gid;
}

uint32_t sessionset_current_gid(const sessionset *set)
{
    return set && set->current ? set->current->gid : 0;
}

session *sessionset_current(const sessionset *set)
{
    return set ? set->current : NULL;
}

static void ss_on_joingroup_timeout(connection_t *conn, const char *ack_name, void *arg)
{
    (void)conn;
    (void)ack_name;
    sessionset *set = (sessionset *)arg;
    SS_LOG(set, HAL_LOG_ERROR, "%s in_join_gid=%u", "ss_on_joingroup_timeout", set->in_join_gid);
    if (set->in_join_gid && !set->current)
        lirko_event_post(set->engine, "notify_error", -31, (int32_t)set->in_join_gid);
    // Left set, the join in flight would refuse every later one.
    set->in_join_gid = 0;
}

int sessionset_join_group(sessionset *set, uint32_t gid)
{
    if (!set)
        return -1;
    SS_LOG(set, HAL_LOG_VERBOSE, "%s gid=%u", "sessionset_join_group", gid);
    if (gid == 0 || set->in_join_gid) {
        SS_LOG(set, HAL_LOG_ERROR, "%s gid=%u,in_join_gid=%u", "sessionset_join_group", gid,
               set->in_join_gid);
        return -1;
    }
    if (set->current && set->current->gid == gid) {
        SS_LOG(set, HAL_LOG_ERROR, "%s 1 gid=%u", "sessionset_join_group", gid);
        return 0;
    }
    if (set->current)
        sessionset_leave_group(set, 1);
    Ptt__Rr__JoinGroup join = PTT__RR__JOIN_GROUP__INIT;
    join.gid = gid;
    join.has_uid = 1;
    join.uid = own_uid(set);
    if (connection_send_msg_with_expect(set->engine->connection, &join.base, "ptt.rr.JoinGroupAck",
                                        JOIN_TIMEOUT, ss_on_joingroup_timeout, set) != 0) {
        SS_LOG(set, HAL_LOG_ERROR, "%s 2 gid=%u", "sessionset_join_group", gid);
        return -1;
    }
    set->in_join_gid = gid;
    return 0;
}

static void send_leave(sessionset *set, uint32_t gid)
{
    Ptt__Rr__LeaveGroup leave = PTT__RR__LEAVE_GROUP__INIT;
    leave.has_gid = 1;
    leave.gid = gid;
    connection_send_msg(set->engine->connection, &leave.base);
}

int sessionset_leave_group(sessionset *set, int send)
{
    if (!set)
        return -1;
    if (!set->current) {
        set->in_join_gid = 0;
        return -1;
    }
    session *s = set->current;
    uint32_t gid = s->gid;
    SS_LOG(set, HAL_LOG_VERBOSE, "Leave group %u", gid);
    session_full_duplex_stop_active(s);
    set->current = NULL;
    if (!is_watched(set, s))
        session_destroy(&s);
    if (send)
        send_leave(set, gid);
    lirko_event_post(set->engine, "current_group_changed", 0, 0);
    return 0;
}

// Makes the current session of a join; -1 (and the server told) when it
// cannot open.
static int open_join_session(sessionset *set, uint32_t gid, uint32_t ip, uint16_t port,
                             int32_t prior)
{
    session *s = session_new(set->engine, own_uid(set), gid, ip, port, prior, set->mos);
    if (s) {
        s->is_member = 1;
        if (session_signal(s, SESSION_SIG_OPEN) == 0) {
            set->current = s;
            lirko_event_post(set->engine, "current_group_changed", (int32_t)gid, 0);
            return 0;
        }
        session_destroy(&s);
    }
    send_leave(set, gid);
    return -1;
}

// A join or CurrentGroup for a group already watched: its session becomes
// the current one.
static void join_watched(sessionset *set, session *s)
{
    SS_LOG(set, HAL_LOG_VERBOSE, "%s join watched group %u", "sessionset", s->gid);
    s->is_member = 1;
    session_signal(s, SESSION_SIG_OPEN);
    set->current = s;
    lirko_event_post(set->engine, "current_group_changed", (int32_t)s->gid, 0);
}

static int old_form(const Ptt__Group *g)
{
    return !g || !g->has_ip || !g->has_port || !g->ip || !g->port;
}

static void ss_on_join_group(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
{
    (void)h;
    sessionset *set = (sessionset *)arg;
    const Ptt__Rr__JoinGroupAck *m = (const Ptt__Rr__JoinGroupAck *)message;
    SS_LOG(set, HAL_LOG_VERBOSE, "%s in_join_gid=%u,is_first_join_group(%d),last_gid(%d),",
           "ss_on_join_group", set->in_join_gid, (int)set->first_join, (int)set->last_gid);
    uint32_t asked = set->in_join_gid;
    set->in_join_gid = 0;
    uint32_t ack_gid = m->has_gid ? m->gid : (m->group ? m->group->gid : 0);
    if (set->current) {
        if (m->result != 0) {
            SS_LOG(set, HAL_LOG_ERROR, "we are already in group(%u),but recv JoinGroupAck fail",
                   set->current->gid);
            sessionset_leave_group(set, 1);
            return;
        }
        if (ack_gid == set->current->gid) {
            SS_LOG(set, HAL_LOG_VERBOSE, "recv JoinGroupAck to group(%u) but already in it",
                   ack_gid);
            return;
        }
        SS_LOG(set, HAL_LOG_ERROR, "we are already in group(%u),but recv JoinGroupAck to group(%u)",
               set->current->gid, ack_gid);
        sessionset_leave_group(set, 1);
    } else if (m->result != 0) {
        cache *c = cache_of(set);
        uint32_t def = c->config.default_group;
        if (set->first_join == 1 && (def || cache_group_count(c) > 0)) {
            if (def) {
                SS_LOG(set, HAL_LOG_VERBOSE,
                       "%s 1 join group(%u) failed, try join the default group(%d)",
                       "ss_on_join_group", asked, (int)def);
                SS_LOG(set, HAL_LOG_VERBOSE,
                       "%s 2 join group(%u) failed, try join the default group(%d)",
                       "ss_on_join_group", asked, (int)def);
            }
            set->failed_gid = asked;
            hal_looper_set_timer(set->engine->looper, ss_on_timer_joingrp, JOIN_RETRY, set);
            return;
        }
        SS_LOG(set, HAL_LOG_ERROR, "%s result=%d failed! in_join_gid=%u,", "ss_on_join_group",
               m->result, asked);
        lirko_event_post(set->engine, "notify_error", -30, (int32_t)asked);
        lirko_event_post(set->engine, "current_group_changed", 0, 0);
        return;
    }
    if (old_form(m->group)) {
        if (m->has_gid) {
            if (open_join_session(set, m->gid, htonl(m->ip), htons((uint16_t)m->port), 0) != 0)
                SS_LOG(set, HAL_LOG_ERROR, "Can not join session for the old server");
            else
                SS_LOG(set, HAL_LOG_VERBOSE, "%s join new group %u of old server",
                       "ss_on_join_group", m->gid);
        } else {
            send_leave(set, 0);
            SS_LOG(set, HAL_LOG_ERROR, "old server--Join group ack has no group id");
        }
        return;
    }
    const Ptt__Group *g = m->group;
    if (session *w = find_watched(set, g->gid)) {
        join_watched(set, w);
        return;
    }
    if (open_join_session(set, g->gid, htonl(g->ip), htons((uint16_t)g->port), g->prior) != 0)
        SS_LOG(set, HAL_LOG_ERROR, "Can not join session");
    else
        SS_LOG(set, HAL_LOG_VERBOSE, "%s join new group %u", "ss_on_join_group", g->gid);
}

static void ss_on_current_group(const ProtobufCMessage *message, void *arg, dispatcher_handler *h)
{
    (void)h;
    sessionset *set = (sessionset *)arg;
    const Ptt__Push__CurrentGroup *m = (const Ptt__Push__CurrentGroup *)message;
    set->in_join_gid = 0;
    SS_LOG(set, HAL_LOG_VERBOSE, "%s gid=%u", "ss_on_current_group", m->gid);
    if (set->current) {
        if (set->current->gid == m->gid) {
            SS_LOG(set, HAL_LOG_VERBOSE, "CurrentGroup msg but alread in it");
            return;
        }
        sessionset_leave_group(set, 0);
    }
    if (m->gid == 0)
        return;
    const Ptt__Group *g = m->group;
    int r;
    if (old_form(g)) {
        SS_LOG(set, HAL_LOG_VERBOSE, "Try join group for old server: gid=%u,ip=%u,port=%u,prior=0",
               m->gid, m->ip, m->port);
        r = open_join_session(set, m->gid, htonl(m->ip), htons((uint16_t)m->port), 0);
    } else if (session *w = find_watched(set, g->gid)) {
        join_watched(set, w);
        return;
    } else {
        SS_LOG(set, HAL_LOG_VERBOSE, "Try join group: gid=%u,ip=%u,port=%u,prior=%d", g->gid, g->ip,
               g->port, g->prior);
        r = open_join_session(set, g->gid, htonl(g->ip), htons((uint16_t)g->port), g->prior);
    }
    if (r != 0)
        SS_LOG(set, HAL_LOG_ERROR, "Can not create session for current group notify");
}

int sessionset_start_watch_group(sessionset *set, const cache_group *group)
{
    if (!set || !group || !group->gid || !group->ip || !group->port)
        return -1;
    session *cur = set->current;
    if (cur && cur->gid == group->gid) {
        cur->is_watcher = 1;
        session_signal(cur, SESSION_SIG_OPEN);
        if (!is_watched(set, cur))
            list_push_back(set->watched, cur);
        return 0;
    }
    if (find_watched(set, group->gid))
        return -1;
    session *s = session_new(set->engine, own_uid(set), group->gid, htonl(group->ip),
                             htons(group->port), group->prior, set->mos);
    if (!s)
        return -1;
    s->is_watcher = 1;
    // A session that cannot open is torn down like a join's, not left
    // behind.
    if (session_signal(s, SESSION_SIG_OPEN) != 0 || list_push_back(set->watched, s) != 0) {
        session_destroy(&s);
        return -1;
    }
    lirko_event_post(set->engine, "start_watch_group", (int32_t)group->gid, 0);
    return 0;
}

int sessionset_get_watch_gids(sessionset *set, uint32_t *out, uint32_t capacity)
{
    if (!set || (!out && capacity))
        return -1;
    if (list_count(set->watched) > capacity)
        return -1;
    int n = 0;
    for (list_node *node = list_begin(set->watched); node; node = list_next(node))
        out[n++] = ((session *)list_data_get(node))->gid;
    return n;
}

int sessionset_get_speakers(sessionset *set, sessionset_speaker *out, uint32_t capacity)
{
    if (!set || !out)
        return 0;
    uint32_t n = 0;
    for (list_node *node = list_begin(set->watched); node && n < capacity; node = list_next(node)) {
        session *s = (session *)list_data_get(node);
        if (s->speaker)
            out[n++] = {s->gid, s->speaker};
    }
    session *cur = set->current;
    if (n < capacity && cur && !cur->is_watcher && cur->speaker)
        out[n++] = {cur->gid, cur->speaker};
    return (int)n;
}

static void ss_on_timer_joingrp(hal_looper *looper, double now, void *arg)
{
    (void)now;
    sessionset *set = (sessionset *)arg;
    hal_looper_cancel_timer(looper, ss_on_timer_joingrp, arg);
    cache *c = cache_of(set);
    uint32_t def = c->config.default_group;
    cache_group *first = cache_group_count(c) ? cache_group_at(c, 0) : NULL;
    if (def == 0 || def == set->failed_gid) {
        if (first) {
            SS_LOG(set, HAL_LOG_VERBOSE, "ss_on_timer_joingrp try join the first group(%d)",
                   (int)first->gid);
            sessionset_join_group(set, first->gid);
        }
    } else {
        SS_LOG(set, HAL_LOG_VERBOSE, "ss_on_timer_joingrp try join the default group(%d)",
               (int)def);
        sessionset_join_group(set, def);
    }
    set->first_join = 0;
}

int sessionset_join_default(sessionset *set)
{
    if (!set)
        return -1;
    cache *c = cache_of(set);
    if (set->current || set->in_join_gid || set->progress != SESSIONSET_PROGRESS_NONE) {
        SS_LOG(set, HAL_LOG_VERBOSE, "%s progress:%d last_gid:%d default_group:%d",
               "sessionset_join_default", (int)set->progress, (int)set->last_gid,
               (int)c->config.default_group);
        return -1;
    }
    if (cache_group_count(c) == 0) {
        SS_LOG(set, HAL_LOG_VERBOSE, "%s group_list is empty", "sessionset_join_default");
        return -1;
    }
    SS_LOG(set, HAL_LOG_VERBOSE, "%s last_gid:%d default_group:%d", "sessionset_join_default",
           (int)set->last_gid, (int)c->config.default_group);
    const char *saved = hal_ini_find(set->engine->ini, "account", "last_group");
    uint32_t last = saved ? (uint32_t)atoi(saved) : 0;
    if (last) {
        if (cache_get_group_by_gid(c, last)) {
            set->last_gid = last;
            set->progress = SESSIONSET_PROGRESS_LAST;
            SS_LOG(set, HAL_LOG_VERBOSE, "%s use last group id:%d!", "sessionset_join_default",
                   (int)last);
            sessionset_join_group(set, last);
            return 0;
        }
        SS_LOG(set, HAL_LOG_ERROR, "%s group id:%d is invalid!", "sessionset_join_default",
               (int)last);
    }
    if (c->config.default_group) {
        set->progress = SESSIONSET_PROGRESS_DEFAULT;
        sessionset_join_group(set, c->config.default_group);
        return 0;
    }
    set->progress = SESSIONSET_PROGRESS_FIRST;
    cache_group *first = cache_group_at(c, 0);
    SS_LOG(set, HAL_LOG_VERBOSE, "%s join first group:%d", "sessionset_join_default",
           first ? (int)first->gid : 0);
    if (first)
        sessionset_join_group(set, first->gid);
    return 0;
}

static void ss_on_grouplist_changed(hal_looper *looper, hal_looper_event *event, void *arg,
                                    hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)processor;
    sessionset_join_default((sessionset *)arg);
}

static void ss_on_watch_group_update(hal_looper *looper, hal_looper_event *event, void *arg,
                                     hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)processor;
    sessionset *set = (sessionset *)arg;
    cache *c = cache_of(set);
    for (list_node *n = list_begin(c->watch_group_ids); n; n = list_next(n)) {
        uint32_t gid = *(uint32_t *)list_data_get(n);
        if (cache_group_count(c) == 0) {
            SS_LOG(set, HAL_LOG_VERBOSE, "cache_get_group_by_gid: grouplist is NULL");
            continue;
        }
        cache_group *g = cache_get_group_by_gid(c, gid);
        SS_LOG(set, HAL_LOG_VERBOSE,
               g ? "cache_get_group_by_gid:%d success" : "cache_get_group_by_gid:%d error",
               (int)gid);
        if (g && !find_watched(set, gid))
            sessionset_start_watch_group(set, g);
    }
}

int lirko_get_mos(lirko_t *engine)
{
    if (!engine || !engine->sessionset || !engine->sessionset->mos)
        return 0;
    return kvmos_get_mos_value(engine->sessionset->mos);
}
