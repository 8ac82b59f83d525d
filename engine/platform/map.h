// Chained hash map with unsigned 32-bit keys; the twin of hash.h. The bucket
// is the top bits of key * 1103515245 (32-bit product). 4 buckets at creation,
// growing four-fold above 7 entries per bucket. Values are the caller's; the
// map never frees them. No locking: one thread at a time.
#pragma once

#include "foreach.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct map map;
typedef struct map_node map_node;

map *map_new(void);
void map_del(map *m);
int map_erase(map *m);

// 0; -7 when the key is present (nothing changes); -4 out of memory.
int map_insert(map *m, uint32_t key, void *value);
int map_replace(map *m, uint32_t key, void *value);
// NULL when the key is missing.
void *map_remove(map *m, uint32_t key);
void *map_access(map *m, uint32_t key);
map_node *map_at(map *m, uint32_t key);

map_node *map_begin(map *m);
map_node *map_end(map *m);
map_node *map_next(map_node *node);
map_node *map_prev(map_node *node);
uint64_t map_count(map *m);
uint64_t map_size(map *m);
uint32_t map_key_get(map_node *node);
void *map_data_get(map_node *node);
void *map_data_set(map_node *node, void *value);

// Calls fn(NULL, key, value, arg) in iteration order while it returns -5; the
// callback may remove the entry it is given. -5 for an empty map.
int map_foreach(map *m, foreach_fn fn, void *arg);

#ifdef __cplusplus
}
#endif
