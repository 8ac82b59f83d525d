// Doubly linked list of data pointers. The list owns its nodes, never the
// data. No locking: one thread at a time.
#pragma once

#include "foreach.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct list list;
typedef struct list_node list_node;

list *list_new(void);
// Frees the nodes and the list (not the data); accepts NULL.
void list_del(list *l);
// Frees the nodes; the list stays, empty. 0.
int list_erase(list *l);

// 0, -4 out of memory, -1 for a null list.
int list_push_front(list *l, void *data);
int list_push_back(list *l, void *data);
// The data takes position index (0: front, count: back); -5 when index > count.
int list_insert(list *l, uint64_t index, void *data);
// New node just before (after) the given node, which must be in l.
int list_insert_before(list *l, list_node *node, void *data);
int list_insert_after(list *l, list_node *node, void *data);

// Unlink and return the data; NULL for an empty list or an index >= count.
void *list_pop_front(list *l);
void *list_pop_back(list *l);
void *list_remove(list *l, uint64_t index);
void *list_remove_at(list *l, list_node *node);

void *list_front(list *l);
void *list_back(list *l);
void *list_access(list *l, uint64_t index);
list_node *list_at(list *l, uint64_t index);
list_node *list_begin(list *l);
list_node *list_end(list *l);
list_node *list_next(list_node *node);
list_node *list_prev(list_node *node);
uint64_t list_count(list *l);
void *list_data_get(list_node *node);
void *list_data_set(list_node *node, void *data);

// Calls fn(NULL, index, data, arg) from the head while it returns -5; the
// callback may remove the node it is given. -5 for an empty list.
int list_foreach(list *l, foreach_fn fn, void *arg);
// Moves every node of other to the end of l; other is left empty.
void list_join(list *l, list *other);
// Moves every node of other in at position index (>= count: at the end).
void list_splice(list *l, uint64_t index, list *other);
void list_reverse(list *l);

#ifdef __cplusplus
}
#endif
