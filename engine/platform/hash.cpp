#include "hash.h"

#include "hal_error.h"

#include <stdlib.h>
#include <string.h>

namespace
{
constexpr uint64_t kInitialBuckets = 4;
constexpr uint64_t kMaxChain = 7;
} // namespace

struct hash_node {
    hash_node *prev;
    hash_node *next;
    hash *owner;
    uint32_t bucket;
    const char *key;
    void *data;
};

struct hash {
    hash_node **buckets;
    hash_fn fn;
    uint64_t count;
    uint64_t size;
    uint64_t mask;
};

uint32_t hash_string(const char *key, size_t len)
{
    uint32_t h = 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(key);
    for (size_t i = 0; i < len; i++) {
        h = (h << 4) + p[i] * 17u;
        uint32_t g = h & 0xF0000000u;
        if (g)
            h = h ^ g ^ (g >> 24);
    }
    return h;
}

hash *hash_new(hash_fn fn)
{
    hash *h = static_cast<hash *>(calloc(1, sizeof(hash)));
    if (!h)
        return NULL;
    h->buckets = static_cast<hash_node **>(calloc(kInitialBuckets, sizeof(hash_node *)));
    if (!h->buckets) {
        free(h);
        return NULL;
    }
    h->fn = fn ? fn : hash_string;
    h->size = kInitialBuckets;
    h->mask = kInitialBuckets - 1;
    return h;
}

int hash_erase(hash *h)
{
    if (!h)
        return HAL_ERR;
    for (uint64_t b = 0; b < h->size; b++) {
        hash_node *n = h->buckets[b];
        while (n) {
            hash_node *next = n->next;
            free(n);
            n = next;
        }
        h->buckets[b] = NULL;
    }
    h->count = 0;
    return HAL_OK;
}

void hash_del(hash *h)
{
    if (!h)
        return;
    hash_erase(h);
    free(h->buckets);
    free(h);
}

static uint32_t bucket_of(const hash *h, const char *key)
{
    return static_cast<uint32_t>(h->fn(key, strlen(key)) & h->mask);
}

static void push_head(hash *h, hash_node *n)
{
    hash_node **head = &h->buckets[n->bucket];
    n->prev = NULL;
    n->next = *head;
    if (*head)
        (*head)->prev = n;
    *head = n;
}

static void grow(hash *h)
{
    uint64_t size = h->size * 4;
    hash_node **buckets = static_cast<hash_node **>(calloc(size, sizeof(hash_node *)));
    if (!buckets)
        return; // keep working with longer chains
    hash_node **old = h->buckets;
    uint64_t old_size = h->size;
    h->buckets = buckets;
    h->size = size;
    h->mask = size - 1;
    for (uint64_t b = old_size; b-- > 0;) {
        hash_node *n = old[b];
        while (n) {
            hash_node *next = n->next;
            n->bucket = bucket_of(h, n->key);
            push_head(h, n);
            n = next;
        }
    }
    free(old);
}

hash_node *hash_at(hash *h, const char *key)
{
    if (!h || !key)
        return NULL;
    for (hash_node *n = h->buckets[bucket_of(h, key)]; n; n = n->next) {
        if (strcmp(n->key, key) == 0)
            return n;
    }
    return NULL;
}

void *hash_access(hash *h, const char *key)
{
    hash_node *n = hash_at(h, key);
    return n ? n->data : NULL;
}

static int add_node(hash *h, const char *key, void *data)
{
    hash_node *n = static_cast<hash_node *>(calloc(1, sizeof(hash_node)));
    if (!n)
        return HAL_ENOMEM;
    n->owner = h;
    n->key = key;
    n->data = data;
    n->bucket = bucket_of(h, key);
    push_head(h, n);
    h->count++;
    if (h->count > kMaxChain * h->size)
        grow(h);
    return HAL_OK;
}

int hash_insert(hash *h, const char *key, void *data)
{
    if (!h || !key)
        return HAL_ERR;
    if (hash_at(h, key))
        return HAL_EEXIST;
    return add_node(h, key, data);
}

int hash_replace(hash *h, const char *key, void *data)
{
    if (!h || !key)
        return HAL_ERR;
    hash_node *n = hash_at(h, key);
    if (n) {
        n->data = data;
        return HAL_OK;
    }
    return add_node(h, key, data);
}

void *hash_remove(hash *h, const char *key)
{
    hash_node *n = hash_at(h, key);
    if (!n)
        return NULL;
    if (n->prev)
        n->prev->next = n->next;
    else
        h->buckets[n->bucket] = n->next;
    if (n->next)
        n->next->prev = n->prev;
    h->count--;
    void *data = n->data;
    free(n);
    return data;
}

static hash_node *first_from(hash *h, uint64_t bucket)
{
    for (uint64_t b = bucket; b < h->size; b++) {
        if (h->buckets[b])
            return h->buckets[b];
    }
    return NULL;
}

static hash_node *tail_of(hash_node *n)
{
    while (n->next)
        n = n->next;
    return n;
}

static hash_node *last_before(hash *h, uint64_t bucket)
{
    for (uint64_t b = bucket; b-- > 0;) {
        if (h->buckets[b])
            return tail_of(h->buckets[b]);
    }
    return NULL;
}

hash_node *hash_begin(hash *h)
{
    return h ? first_from(h, 0) : NULL;
}

hash_node *hash_end(hash *h)
{
    return h ? last_before(h, h->size) : NULL;
}

hash_node *hash_next(hash_node *node)
{
    if (!node)
        return NULL;
    return node->next ? node->next : first_from(node->owner, uint64_t{node->bucket} + 1);
}

hash_node *hash_prev(hash_node *node)
{
    if (!node)
        return NULL;
    return node->prev ? node->prev : last_before(node->owner, node->bucket);
}

uint64_t hash_count(hash *h)
{
    return h ? h->count : 0;
}

uint64_t hash_size(hash *h)
{
    return h ? h->size : 0;
}

const char *hash_key_get(hash_node *node)
{
    return node ? node->key : NULL;
}

void *hash_data_get(hash_node *node)
{
    return node ? node->data : NULL;
}

void *hash_data_set(hash_node *node, void *data)
{
    if (!node)
        return NULL;
    node->data = data;
    return data;
}

int hash_foreach(hash *h, foreach_fn fn, void *arg)
{
    if (!h || !fn)
        return HAL_ERR;
    int rc = HAL_CONTINUE;
    for (hash_node *n = hash_begin(h); n;) {
        hash_node *next = hash_next(n);
        rc = fn(n->key, n->bucket, n->data, arg);
        if (rc != HAL_CONTINUE)
            break;
        n = next;
    }
    return rc;
}
