#include "map.h"

#include "hal_error.h"

#include <stdlib.h>

namespace
{
constexpr uint64_t kInitialBuckets = 4;
constexpr uint64_t kInitialShift = 30;
constexpr uint64_t kMaxChain = 7;
constexpr uint32_t kMultiplier = 1103515245u;
} // namespace

struct map_node {
    map_node *prev;
    map_node *next;
    map *owner;
    uint32_t bucket;
    uint32_t key;
    void *value;
};

struct map {
    map_node **buckets;
    uint64_t count;
    uint64_t size;
    uint64_t shift;
};

map *map_new(void)
{
    map *m = static_cast<map *>(calloc(1, sizeof(map)));
    if (!m)
        return NULL;
    m->buckets = static_cast<map_node **>(calloc(kInitialBuckets, sizeof(map_node *)));
    if (!m->buckets) {
        free(m);
        return NULL;
    }
    m->size = kInitialBuckets;
    m->shift = kInitialShift;
    return m;
}

int map_erase(map *m)
{
    if (!m)
        return HAL_ERR;
    for (uint64_t b = 0; b < m->size; b++) {
        map_node *n = m->buckets[b];
        while (n) {
            map_node *next = n->next;
            free(n);
            n = next;
        }
        m->buckets[b] = NULL;
    }
    m->count = 0;
    return HAL_OK;
}

void map_del(map *m)
{
    if (!m)
        return;
    map_erase(m);
    free(m->buckets);
    free(m);
}

static uint32_t bucket_of(uint32_t key, uint64_t shift)
{
    return static_cast<uint32_t>((key * kMultiplier) >> shift);
}

static void push_head(map *m, map_node *n)
{
    map_node **head = &m->buckets[n->bucket];
    n->prev = NULL;
    n->next = *head;
    if (*head)
        (*head)->prev = n;
    *head = n;
}

static void grow(map *m)
{
    // The bucket is taken from the top bits of the product; once every bit is
    // in use the map cannot spread further.
    if (m->shift < 2)
        return;
    uint64_t size = m->size * 4;
    map_node **buckets = static_cast<map_node **>(calloc(size, sizeof(map_node *)));
    if (!buckets)
        return;
    map_node **old = m->buckets;
    uint64_t old_size = m->size;
    m->buckets = buckets;
    m->size = size;
    m->shift -= 2;
    for (uint64_t b = old_size; b-- > 0;) {
        map_node *n = old[b];
        while (n) {
            map_node *next = n->next;
            n->bucket = bucket_of(n->key, m->shift);
            push_head(m, n);
            n = next;
        }
    }
    free(old);
}

map_node *map_at(map *m, uint32_t key)
{
    if (!m)
        return NULL;
    for (map_node *n = m->buckets[bucket_of(key, m->shift)]; n; n = n->next) {
        if (n->key == key)
            return n;
    }
    return NULL;
}

void *map_access(map *m, uint32_t key)
{
    map_node *n = map_at(m, key);
    return n ? n->value : NULL;
}

static int add_node(map *m, uint32_t key, void *value)
{
    map_node *n = static_cast<map_node *>(calloc(1, sizeof(map_node)));
    if (!n)
        return HAL_ENOMEM;
    n->owner = m;
    n->key = key;
    n->value = value;
    n->bucket = bucket_of(key, m->shift);
    push_head(m, n);
    m->count++;
    if (m->count > kMaxChain * m->size)
        grow(m);
    return HAL_OK;
}

int map_insert(map *m, uint32_t key, void *value)
{
    if (!m)
        return HAL_ERR;
    if (map_at(m, key))
        return HAL_EEXIST;
    return add_node(m, key, value);
}

int map_replace(map *m, uint32_t key, void *value)
{
    if (!m)
        return HAL_ERR;
    map_node *n = map_at(m, key);
    if (n) {
        n->value = value;
        return HAL_OK;
    }
    return add_node(m, key, value);
}

void *map_remove(map *m, uint32_t key)
{
    map_node *n = map_at(m, key);
    if (!n)
        return NULL;
    if (n->prev)
        n->prev->next = n->next;
    else
        m->buckets[n->bucket] = n->next;
    if (n->next)
        n->next->prev = n->prev;
    m->count--;
    void *value = n->value;
    free(n);
    return value;
}

static map_node *first_from(map *m, uint64_t bucket)
{
    for (uint64_t b = bucket; b < m->size; b++) {
        if (m->buckets[b])
            return m->buckets[b];
    }
    return NULL;
}

static map_node *last_before(map *m, uint64_t bucket)
{
    for (uint64_t b = bucket; b-- > 0;) {
        map_node *n = m->buckets[b];
        if (n) {
            while (n->next)
                n = n->next;
            return n;
        }
    }
    return NULL;
}

map_node *map_begin(map *m)
{
    return m ? first_from(m, 0) : NULL;
}

map_node *map_end(map *m)
{
    return m ? last_before(m, m->size) : NULL;
}

map_node *map_next(map_node *node)
{
    if (!node)
        return NULL;
    return node->next ? node->next : first_from(node->owner, uint64_t{node->bucket} + 1);
}

map_node *map_prev(map_node *node)
{
    if (!node)
        return NULL;
    return node->prev ? node->prev : last_before(node->owner, node->bucket);
}

uint64_t map_count(map *m)
{
    return m ? m->count : 0;
}

uint64_t map_size(map *m)
{
    return m ? m->size : 0;
}

uint32_t map_key_get(map_node *node)
{
    return node ? node->key : 0;
}

void *map_data_get(map_node *node)
{
    return node ? node->value : NULL;
}

void *map_data_set(map_node *node, void *value)
{
    if (!node)
        return NULL;
    node->value = value;
    return value;
}

int map_foreach(map *m, foreach_fn fn, void *arg)
{
    if (!m || !fn)
        return HAL_ERR;
    int rc = HAL_CONTINUE;
    for (map_node *n = map_begin(m); n;) {
        map_node *next = map_next(n);
        rc = fn(NULL, n->key, n->value, arg);
        if (rc != HAL_CONTINUE)
            break;
        n = next;
    }
    return rc;
}
