// Minimal stand-ins for the engine modules that lirko_modules_new makes but
// that are not written yet: the broadcast player and the session set. Each
// keeps the module's place in the creation order and registers what the
// module registers at creation, so the handler order on the dispatcher and
// the event subscriptions already hold.
//
// Each stand-in steps aside by itself once its module's own header exists in
// this folder (broadcast.h, sessionset.h); this header then includes it.
#ifndef LIRKO_STANDINS_H
#define LIRKO_STANDINS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

#include "cache.h"
#include "focus_manager.h"

#if __has_include("broadcast.h")
#include "broadcast.h"
#else
#define LIRKO_STANDIN_BROADCAST 1
typedef struct broadcast_t broadcast_t;
// Subscribes broadcast_update then broadcast_startplay; NULL when either
// subscription fails (the first is withdrawn again).
broadcast_t *broadcast_new(lirko_t *engine);
void broadcast_destroy(broadcast_t **broadcast);
// Number of received broadcasts still waiting to be played: none until the
// player exists.
uint32_t broadcast_pending_count(const broadcast_t *broadcast);
#endif

#if __has_include("sessionset.h")
#include "sessionset.h"
#else
#define LIRKO_STANDIN_SESSIONSET 1
typedef struct sessionset sessionset;
// Registers the JoinGroupAck and CurrentGroup handlers and subscribes
// watch_group_update and grouplist_changed.
sessionset *sessionset_new(lirko_t *engine);
void sessionset_destroy(sessionset **set);
void sessionset_clear(sessionset *set);
void sessionset_set_last_gid(sessionset *set, uint32_t gid);
// The group of the current session; 0 while no voice session exists.
uint32_t sessionset_current_gid(const sessionset *set);
// Starts watching a group: -1 while no voice session can be made.
typedef struct cache_group cache_group;
int sessionset_start_watch_group(sessionset *set, const cache_group *group);
#endif

#ifdef __cplusplus
}
#endif

#endif
