// Result arrays: deep copies of cache records that callers keep after the
// looper has moved on (nothing in them points into the cache), and their
// release. Looper thread only.
#ifndef LIRKO_RESULTS_H
#define LIRKO_RESULTS_H

#include "cache.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct list list;

// A new zeroed user holding uid, role, online, a copy of the name,
// audio_enabled, has_gid, gid, location_on, location_period, prior,
// encrypt_on and sort_weight (has_role, has_encrypt and the key stay zero).
// NULL for a NULL source or when memory runs out. Free with
// lirko_free_user_copy.
cache_user *lirko_copy_user(const cache_user *src);
void lirko_free_user_copy(cache_user **user);
// Writes uid, role, online, a copy of the name (NULL when the source has
// none), audio_enabled, has_gid, gid, location_on, location_period and prior
// into dst; other fields are untouched. The caller owns the name copy.
void lirko_fill_user(cache_user *dst, const cache_user *src);

// Copies of the member entries of a list, in list order, each with its own
// user copy. The count (0, and no array, for an empty or NULL list or when
// memory runs out). Free with lirko_free_member_array.
uint32_t lirko_make_member_array(list *entries, member_entry **out);
void lirko_free_member_array(member_entry **array, uint32_t count);
// Copies of the newsheets of a list, in list order: texts and media are the
// array's own. Free with lirko_free_newsheet_array.
uint32_t lirko_make_newsheet_array(list *newsheets, newsheet **out);
void lirko_free_newsheet_array(newsheet **array, uint32_t count);

// Frees an array of users: count 0 or no array: nothing; count < 0: only the
// array block; else each element's name, then the array. The holder is
// cleared whenever the array was freed.
void lirko_free_user_array(cache_user **holder, int count);

#ifdef __cplusplus
}
#endif

#endif
