// Read operations over the directory cache and the session set's talk state:
// lookups that hand out pointers into the cache, list queries that copy into
// arrays the engine allocates (each freed with its own free operation) and a
// few talk-state tests. None changes the directory; a user or member lookup
// the cache cannot answer sends a query, and its answer arrives later as
// user_changed or memberlist_changed. Looper thread only.
#ifndef LIRKO_QUERY_H
#define LIRKO_QUERY_H

#include "cache.h"
#include "lirko_win.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

// Lookups (pointers into the cache, valid until that record next changes).
cache_user *lirko_get_user(lirko_t *engine, uint32_t uid);
cache_user *lirko_get_current_user(lirko_t *engine);
uint32_t lirko_get_current_did(lirko_t *engine);
cache_group *lirko_get_group_by_gid(lirko_t *engine, uint32_t gid);
// The index-th group in arrival order; NULL out of range.
cache_group *lirko_get_group_by_index(lirko_t *engine, int index);
// Position of gid in arrival order, or -1.
int lirko_get_group_index_by_gid(lirko_t *engine, uint32_t gid);
// The group of the current session (gid 0 without one).
cache_group *lirko_get_current_group(lirko_t *engine);
LIRKO_ONLINE_STATUS lirko_get_online_status(lirko_t *engine);
// Login state as the application's user status: offline 0, online 2,
// none and logging in 3.
int lirko_get_userstatus(lirko_t *engine);

// Group list: type, gid and a name copy per group, the rest zero.
int lirko_query_grouplist(lirko_t *engine, cache_group **out);
void lirko_free_groups_array(cache_group **array, int count);
int lirko_query_requestcontactlist(lirko_t *engine, request_contact **out);
void lirko_free_requestcontactlist_array(request_contact **array, int count);

// Members of gid in display order without the own user; 0 while the cache
// does not hold the group (a member query is then sent).
int lirko_query_memberlist_size(lirko_t *engine, uint32_t gid);
// The page [start, start + count) of the display order (count -1: to the
// end), with the own user dropped after the page is cut: a page holding it
// has one element fewer. A negative start or a count below -1 gives 0.
int lirko_query_memberlist(lirko_t *engine, uint32_t gid, int start, int count, member_entry **out);
// The same; with refresh set it also asks the server for the members again.
int lirko_query_memberlist_refresh(lirko_t *engine, uint32_t gid, int start, int count,
                                   member_entry **out, uint8_t refresh);
void lirko_free_members_array(member_entry **array, int count);
int lirko_query_contactlist(lirko_t *engine, cache_user **out);
void lirko_free_contacts_array(lirko_t *engine, cache_user **array, int count);

// One user per group where someone speaks (gid = that group): the count, or
// -1 when memory runs out. The array holds at least count elements; free it
// with lirko_free_users and the count returned.
int lirko_get_speaking_users(lirko_t *engine, cache_user **out);
void lirko_free_users(lirko_t *engine, cache_user **array, int count);

// Fills record (name copied: the caller frees it) with the speaker being
// played: 1, or 0 when nobody is.
int lirko_get_playing_sound_user(lirko_t *engine, cache_user *record);
int lirko_is_listening(lirko_t *engine);
int lirko_is_speaking(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
