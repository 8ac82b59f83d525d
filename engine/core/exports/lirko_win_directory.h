// The directory copies behind the list exports, for callers that hold the
// engine record already: the same copies into caller arrays of boundary
// records, without the looper hop. Looper thread only.
#ifndef LIRKO_WIN_DIRECTORY_H
#define LIRKO_WIN_DIRECTORY_H

#include "lirko_win.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

// Forced group list refreshes are at least this many engine-clock seconds
// apart.
#define LIRKO_GROUP_REFRESH_INTERVAL 6u

int lirko_query_grouplistsize(lirko_t *engine);
// The cached groups in order: the number written, -3 for no array or
// capacity 0, -2 for a capacity below the group count.
int lirko_get_win_group(lirko_t *engine, win_group_t *groups, size_t capacity);
// The same; with force it also asks the server for the list again, at most
// once per LIRKO_GROUP_REFRESH_INTERVAL.
int lirko_get_win_group_extern(lirko_t *engine, win_group_t *groups, size_t capacity,
                               lirko_boolean_t force);
int lirko_getMemberSize(lirko_t *engine, uint32_t gid);
// The members without the own user: the number written, -2 for a capacity
// below the member count.
int lirko_query_win_memberlist(lirko_t *engine, uint32_t gid, win_member_t *members,
                               size_t capacity);
int lirko_query_win_memberlist_refresh(lirko_t *engine, uint32_t gid, win_member_t *members,
                                       size_t capacity, uint8_t refresh);
int lirko_getSpeakingUsersSize(lirko_t *engine);
// One record per speaking group: the count, -2 for more than capacity.
int lirko_get_speaking_win_users(lirko_t *engine, win_user_t *users, size_t capacity);
// The watched groups the cache holds: the number written; 0 when the
// capacity is below the watched count.
int lirko_get_win_watch_groups(lirko_t *engine, win_group_t *groups, size_t capacity);
int lirko_getAllUserSize(lirko_t *engine);
// The uids held, in the user map's order: the number written, -2 for a
// capacity below the user count.
int lirko_getAllUserId(lirko_t *engine, uid_t *uids, size_t capacity);
void lirko_freeAllUserId(lirko_t *engine, uid_t *array);

#ifdef __cplusplus
}
#endif

#endif
