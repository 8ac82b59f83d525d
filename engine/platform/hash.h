// Chained hash table with string keys. The table stores the caller's key
// pointer and data pointer and copies or frees neither: the caller keeps both
// alive while they are in the table. 4 buckets at creation; the table grows
// four-fold once it holds more than 7 entries per bucket. Iteration runs over
// the buckets in ascending order, newest entry first within a bucket. No
// locking: one thread at a time.
#pragma once

#include "foreach.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hash hash;
typedef struct hash_node hash_node;
typedef uint32_t (*hash_fn)(const char *key, size_t len);

// The default hash: h = (h << 4) + byte * 17, folding the top nibble back in.
uint32_t hash_string(const char *key, size_t len);

// fn NULL selects hash_string. NULL when memory runs out.
hash *hash_new(hash_fn fn);
// Frees nodes, buckets and the table (not keys or data); accepts NULL.
void hash_del(hash *h);
// Frees the nodes; the buckets stay, all empty. 0.
int hash_erase(hash *h);

// 0; -7 when the key is present (nothing changes); -4 out of memory.
int hash_insert(hash *h, const char *key, void *data);
// Present key: new data, the node keeps its first key pointer. Else insert.
int hash_replace(hash *h, const char *key, void *data);
// Unlinks the key's node and returns its data; NULL when absent.
void *hash_remove(hash *h, const char *key);
void *hash_access(hash *h, const char *key);
hash_node *hash_at(hash *h, const char *key);

hash_node *hash_begin(hash *h);
hash_node *hash_end(hash *h);
hash_node *hash_next(hash_node *node);
hash_node *hash_prev(hash_node *node);
uint64_t hash_count(hash *h);
uint64_t hash_size(hash *h);
const char *hash_key_get(hash_node *node);
void *hash_data_get(hash_node *node);
void *hash_data_set(hash_node *node, void *data);

// Calls fn(key, bucket index, data, arg) in iteration order while it returns
// -5; the callback may remove the entry it is given. -5 for an empty table.
int hash_foreach(hash *h, foreach_fn fn, void *arg);

#ifdef __cplusplus
}
#endif
