#include "lirko_standins.h"

#include "connection.h"
#include "dispatcher.h"
#include "lirko.h"
#include "lirko_events.h"

#include <stdlib.h>

#if LIRKO_STANDIN_BROADCAST
struct broadcast_t {
    lirko_t *engine;
};

static void broadcast_on_event(hal_looper *looper, hal_looper_event *event, void *arg,
                               hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)arg;
    (void)processor;
}

broadcast_t *broadcast_new(lirko_t *engine)
{
    broadcast_t *self = (broadcast_t *)calloc(1, sizeof(*self));
    if (!self) {
        return NULL;
    }
    self->engine = engine;
    if (lirko_event_subscribe(engine, "broadcast_update", broadcast_on_event, self) != 0) {
        free(self);
        return NULL;
    }
    if (lirko_event_subscribe(engine, "broadcast_startplay", broadcast_on_event, self) != 0) {
        lirko_event_unsubscribe(engine, "broadcast_update", broadcast_on_event, self);
        free(self);
        return NULL;
    }
    return self;
}

void broadcast_destroy(broadcast_t **pbroadcast)
{
    if (!pbroadcast || !*pbroadcast) {
        return;
    }
    broadcast_t *self = *pbroadcast;
    lirko_event_unsubscribe(self->engine, "broadcast_startplay", broadcast_on_event, self);
    lirko_event_unsubscribe(self->engine, "broadcast_update", broadcast_on_event, self);
    free(self);
    *pbroadcast = NULL;
}

uint32_t broadcast_pending_count(const broadcast_t *broadcast)
{
    (void)broadcast;
    return 0;
}
#endif

#if LIRKO_STANDIN_SESSIONSET
struct sessionset {
    lirko_t *engine;
    uint32_t last_gid;
};

static void sessionset_on_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    (void)msg;
    (void)arg;
    (void)h;
}

static void sessionset_on_event(hal_looper *looper, hal_looper_event *event, void *arg,
                                hal_looper_processor *processor)
{
    (void)looper;
    (void)event;
    (void)arg;
    (void)processor;
}

static const char *const SESSIONSET_MESSAGES[] = {"ptt.rr.JoinGroupAck", "ptt.push.CurrentGroup"};
static const char *const SESSIONSET_EVENTS[] = {"watch_group_update", "grouplist_changed"};

sessionset *sessionset_new(lirko_t *engine)
{
    sessionset *self = (sessionset *)calloc(1, sizeof(*self));
    if (!self) {
        return NULL;
    }
    self->engine = engine;
    dispatcher_t *d = connection_get_dispatcher(engine->connection);
    int ok = 1;
    for (const char *name : SESSIONSET_MESSAGES) {
        ok = ok && dispatcher_register(d, name, sessionset_on_message, self) == 0;
    }
    for (const char *word : SESSIONSET_EVENTS) {
        ok = ok && lirko_event_subscribe(engine, word, sessionset_on_event, self) == 0;
    }
    if (!ok) {
        sessionset_destroy(&self);
    }
    return self;
}

void sessionset_destroy(sessionset **pset)
{
    if (!pset || !*pset) {
        return;
    }
    sessionset *self = *pset;
    dispatcher_t *d = connection_get_dispatcher(self->engine->connection);
    for (const char *name : SESSIONSET_MESSAGES) {
        dispatcher_unregister(d, name, sessionset_on_message, self);
    }
    for (const char *word : SESSIONSET_EVENTS) {
        lirko_event_unsubscribe(self->engine, word, sessionset_on_event, self);
    }
    free(self);
    *pset = NULL;
}

void sessionset_clear(sessionset *set)
{
    (void)set;
}

void sessionset_set_last_gid(sessionset *set, uint32_t gid)
{
    if (set) {
        set->last_gid = gid;
    }
}

uint32_t sessionset_current_gid(const sessionset *set)
{
    (void)set;
    return 0;
}

int sessionset_start_watch_group(sessionset *set, const cache_group *group)
{
    (void)set;
    (void)group;
    return -1;
}
#endif
