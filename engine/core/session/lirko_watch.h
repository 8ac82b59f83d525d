// Watched groups: besides its current group the account can monitor further
// groups, each through a watch session of the session set. A server at
// version 1.08.07 or older is not asked: the session opens at once. A newer
// server is sent ptt.rr.WatchGroup and the session opens when its
// WatchGroupAck arrives (lirko_handlers). Looper thread only.
#ifndef LIRKO_WATCH_H
#define LIRKO_WATCH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct cache_group cache_group;

// -1 for a group neither cached nor listed by a department; else the send
// result (new server) or the session set's result (old server).
int lirko_watch_group(lirko_t *engine, uint32_t gid);
// Unlinks the watch session of gid, says ByeGroup over its voice socket and
// frees it unless it is also the current group's session; posts
// stop_watch_group. -1 for gid 0 or a group not watched.
int lirko_stop_watch_group(lirko_t *engine, uint32_t gid);
int lirko_get_watch_group_count(lirko_t *engine);
// The watched groups the cache holds (type, gid, name, prior, ip, port):
// the number filled. *out must be NULL on entry (0 otherwise). Free with
// lirko_free_groups_array.
int lirko_get_watch_groups(lirko_t *engine, cache_group **out);
// Requests about the account's stored watch list; the send result. The
// answers reach the application through the watch-group callbacks.
int lirko_get_watch_group(lirko_t *engine);
int lirko_add_watch_group(lirko_t *engine, const uint32_t *gids, int count);
int lirko_remove_watch_group(lirko_t *engine, const uint32_t *gids, int count);
// Kept for callers of the older interface: does nothing; 0.
int lirko_watch_groupex(void);

#ifdef __cplusplus
}
#endif

#endif
