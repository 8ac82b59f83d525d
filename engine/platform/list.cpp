#include "list.h"

#include "hal_error.h"

#include <stdlib.h>

struct list_node {
    list_node *next;
    list_node *prev;
    void *data;
};

struct list {
    list_node *head;
    list_node *tail;
    uint64_t count;
};

list *list_new(void)
{
    return static_cast<list *>(calloc(1, sizeof(list)));
}

int list_erase(list *l)
{
    if (!l)
        return HAL_ERR;
    list_node *n = l->head;
    while (n) {
        list_node *next = n->next;
        free(n);
        n = next;
    }
    l->head = l->tail = NULL;
    l->count = 0;
    return HAL_OK;
}

void list_del(list *l)
{
    if (!l)
        return;
    list_erase(l);
    free(l);
}

static list_node *node_new(void *data)
{
    list_node *n = static_cast<list_node *>(calloc(1, sizeof(list_node)));
    if (n)
        n->data = data;
    return n;
}

// Links n before pos (pos NULL: at the back).
static void link_before(list *l, list_node *pos, list_node *n)
{
    if (!pos) {
        n->prev = l->tail;
        n->next = NULL;
        if (l->tail)
            l->tail->next = n;
        else
            l->head = n;
        l->tail = n;
    } else {
        n->next = pos;
        n->prev = pos->prev;
        if (pos->prev)
            pos->prev->next = n;
        else
            l->head = n;
        pos->prev = n;
    }
    l->count++;
}

static void unlink_node(list *l, list_node *n)
{
    if (n->prev)
        n->prev->next = n->next;
    else
        l->head = n->next;
    if (n->next)
        n->next->prev = n->prev;
    else
        l->tail = n->prev;
    n->next = n->prev = NULL;
    l->count--;
}

static int insert_before_node(list *l, list_node *pos, void *data)
{
    if (!l)
        return HAL_ERR;
    list_node *n = node_new(data);
    if (!n)
        return HAL_ENOMEM;
    link_before(l, pos, n);
    return HAL_OK;
}

int list_push_front(list *l, void *data)
{
    return insert_before_node(l, l ? l->head : NULL, data);
}

int list_push_back(list *l, void *data)
{
    return insert_before_node(l, NULL, data);
}

int list_insert(list *l, uint64_t index, void *data)
{
    if (!l)
        return HAL_ERR;
    if (index > l->count)
        return HAL_ERANGE;
    return insert_before_node(l, index == l->count ? NULL : list_at(l, index), data);
}

int list_insert_before(list *l, list_node *node, void *data)
{
    if (!l || !node)
        return HAL_ERR;
    return insert_before_node(l, node, data);
}

int list_insert_after(list *l, list_node *node, void *data)
{
    if (!l || !node)
        return HAL_ERR;
    return insert_before_node(l, node->next, data);
}

void *list_remove_at(list *l, list_node *node)
{
    if (!l || !node || l->count == 0)
        return NULL;
    void *data = node->data;
    unlink_node(l, node);
    free(node);
    return data;
}

void *list_pop_front(list *l)
{
    return l ? list_remove_at(l, l->head) : NULL;
}

void *list_pop_back(list *l)
{
    return l ? list_remove_at(l, l->tail) : NULL;
}

void *list_remove(list *l, uint64_t index)
{
    return list_remove_at(l, list_at(l, index));
}

void *list_front(list *l)
{
    return l && l->head ? l->head->data : NULL;
}

void *list_back(list *l)
{
    return l && l->tail ? l->tail->data : NULL;
}

list_node *list_at(list *l, uint64_t index)
{
    if (!l || index >= l->count)
        return NULL;
    list_node *n = l->head;
    while (index--)
        n = n->next;
    return n;
}

void *list_access(list *l, uint64_t index)
{
    list_node *n = list_at(l, index);
    return n ? n->data : NULL;
}

list_node *list_begin(list *l)
{
    return l ? l->head : NULL;
}

list_node *list_end(list *l)
{
    return l ? l->tail : NULL;
}

list_node *list_next(list_node *node)
{
    return node ? node->next : NULL;
}

list_node *list_prev(list_node *node)
{
    return node ? node->prev : NULL;
}

uint64_t list_count(list *l)
{
    return l ? l->count : 0;
}

void *list_data_get(list_node *node)
{
    return node ? node->data : NULL;
}

void *list_data_set(list_node *node, void *data)
{
    if (!node)
        return NULL;
    node->data = data;
    return data;
}

int list_foreach(list *l, foreach_fn fn, void *arg)
{
    if (!l || !fn)
        return HAL_ERR;
    int rc = HAL_CONTINUE;
    uint32_t index = 0;
    for (list_node *n = l->head; n;) {
        // Taken first so the callback may remove the node it was given.
        list_node *next = n->next;
        rc = fn(NULL, index++, n->data, arg);
        if (rc != HAL_CONTINUE)
            break;
        n = next;
    }
    return rc;
}

void list_splice(list *l, uint64_t index, list *other)
{
    if (!l || !other || l == other || !other->head)
        return;
    list_node *pos = index >= l->count ? NULL : list_at(l, index);
    list_node *first = other->head;
    list_node *last = other->tail;
    if (!pos) {
        first->prev = l->tail;
        if (l->tail)
            l->tail->next = first;
        else
            l->head = first;
        l->tail = last;
    } else {
        first->prev = pos->prev;
        if (pos->prev)
            pos->prev->next = first;
        else
            l->head = first;
        last->next = pos;
        pos->prev = last;
    }
    l->count += other->count;
    other->head = other->tail = NULL;
    other->count = 0;
}

void list_join(list *l, list *other)
{
    list_splice(l, UINT64_MAX, other);
}

void list_reverse(list *l)
{
    if (!l)
        return;
    list_node *n = l->head;
    while (n) {
        list_node *next = n->next;
        n->next = n->prev;
        n->prev = next;
        n = next;
    }
    list_node *h = l->head;
    l->head = l->tail;
    l->tail = h;
}
