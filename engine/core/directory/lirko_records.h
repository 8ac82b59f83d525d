// Filling the fixed-layout boundary records from the directory cache. Every
// text copy is bounded by its field (63 bytes of a 64-byte name) and always
// terminated; a missing source text leaves the field as it was.
#ifndef LIRKO_RECORDS_H
#define LIRKO_RECORDS_H

#include "lirko_win.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct cache_user cache_user;
typedef struct cache_group cache_group;
typedef struct member_entry member_entry;

// Copies at most size - 1 bytes of src into dst and terminates it; NULL src
// leaves dst unchanged. 1 when src was cut, else 0.
int lirko_copy_text(char *dst, size_t size, const char *src);

// The number in an enum field of a received message. protobuf-c stores the
// number that arrived, also one the schema does not name (a negative one
// too), and C++ may not read such a number through the enum type; it is read
// as the 32-bit integer it is stored as.
int32_t lirko_enum_value(const void *field);

// Group record from a cached group; did is left as the caller set it.
void lirko_fill_win_group(win_group_t *out, const cache_group *group);
// Member record of group gid from a member entry.
void lirko_fill_win_member(win_member_t *out, gid_t gid, const member_entry *entry);
// User record: every field from the cache user of the same name.
void lirko_fill_win_user(win_user_t *out, const cache_user *user);

#ifdef __cplusplus
}
#endif

#endif
