#include "dispatcher.h"

#include "hal_log.h"
#include "hash.h"
#include "lirko.h"

#include <stdlib.h>
#include <string.h>

struct dispatcher_handler {
    dispatcher_handler *next;
    dispatcher_fn fn;
    void *arg;
    // Unregistered while its type was being delivered; freed when the
    // delivery ends.
    int removed;
};

typedef struct dispatcher_entry {
    char *name;
    dispatcher_handler *head;
    // Nesting depth of deliveries of this type (a handler may deliver again).
    int delivering;
} dispatcher_entry;

struct dispatcher_t {
    hash *entries;
    hal_log *log;
};

static const char *TAG = "dispatcher";

dispatcher_t *dispatcher_new(lirko_t *engine)
{
    hal_log *log = engine ? engine->log : NULL;
    hal_log_output(log, HAL_LOG_VERBOSE, "dispatcher_new", "dispatcher_new begin");
    dispatcher_t *self = (dispatcher_t *)calloc(1, sizeof(*self));
    if (!self) {
        return NULL;
    }
    self->log = log;
    self->entries = hash_new(NULL);
    hal_log_output(log, HAL_LOG_VERBOSE, "dispatcher_new", "dispatcher_new done !!!");
    return self;
}

static void entry_free(dispatcher_entry *entry)
{
    dispatcher_handler *h = entry->head;
    while (h) {
        dispatcher_handler *next = h->next;
        free(h);
        h = next;
    }
    free(entry->name);
    free(entry);
}

int dispatcher_destroy(dispatcher_t **dispatcher)
{
    if (!dispatcher || !*dispatcher) {
        return -1;
    }
    dispatcher_t *self = *dispatcher;
    if (self->entries) {
        for (hash_node *n = hash_begin(self->entries); n; n = hash_next(n)) {
            entry_free((dispatcher_entry *)hash_data_get(n));
        }
        hash_del(self->entries);
    }
    free(self);
    *dispatcher = NULL;
    return 0;
}

static dispatcher_entry *find_entry(dispatcher_t *self, const char *name)
{
    if (!self || !self->entries || !name) {
        return NULL;
    }
    return (dispatcher_entry *)hash_access(self->entries, name);
}

int dispatcher_register(dispatcher_t *self, const char *name, dispatcher_fn fn, void *arg)
{
    if (!self || !self->entries || !name || !fn) {
        return -1;
    }
    dispatcher_entry *entry = find_entry(self, name);
    if (entry) {
        if (entry->delivering) {
            hal_log_output(self->log, HAL_LOG_ERROR, TAG, "register process in the deliver");
        }
        for (dispatcher_handler *h = entry->head; h; h = h->next) {
            if (!h->removed && h->fn == fn && h->arg == arg) {
                hal_log_output(self->log, HAL_LOG_VERBOSE, TAG, "cb already register");
                return -1;
            }
        }
    } else {
        entry = (dispatcher_entry *)calloc(1, sizeof(*entry));
        if (!entry) {
            return -1;
        }
        entry->name = strdup(name);
        if (!entry->name || hash_insert(self->entries, entry->name, entry) != 0) {
            free(entry->name);
            free(entry);
            return -1;
        }
    }
    dispatcher_handler *handler = (dispatcher_handler *)calloc(1, sizeof(*handler));
    if (!handler) {
        return -1;
    }
    handler->fn = fn;
    handler->arg = arg;
    dispatcher_handler **tail = &entry->head;
    while (*tail) {
        tail = &(*tail)->next;
    }
    *tail = handler;
    return 0;
}

// Frees the handlers flagged during a delivery, once no delivery of the
// type is running any more.
static void purge_removed(dispatcher_entry *entry)
{
    dispatcher_handler **link = &entry->head;
    while (*link) {
        dispatcher_handler *h = *link;
        if (h->removed) {
            *link = h->next;
            free(h);
        } else {
            link = &h->next;
        }
    }
}

int dispatcher_unregister(dispatcher_t *self, const char *name, dispatcher_fn fn, void *arg)
{
    dispatcher_entry *entry = find_entry(self, name);
    if (!entry) {
        hal_log_output(self ? self->log : NULL, HAL_LOG_VERBOSE, "dispather",
                       "cant find hash key:%s", name ? name : "");
        return -1;
    }
    if (entry->delivering) {
        hal_log_output(self->log, HAL_LOG_VERBOSE, TAG, "unregister process in the deliver");
    }
    for (dispatcher_handler *h = entry->head; h; h = h->next) {
        if (h->removed || h->fn != fn || (arg && h->arg != arg)) {
            continue;
        }
        h->removed = 1;
        if (arg) {
            break;
        }
    }
    if (!entry->delivering) {
        purge_removed(entry);
    }
    return 0;
}

int dispatcher_deliver(dispatcher_t *self, const ProtobufCMessage *message)
{
    if (!self || !message || !message->descriptor) {
        return -1;
    }
    const char *name = message->descriptor->name;
    hal_log_output(self->log, HAL_LOG_DEBUG, TAG, "message name %s begin to deliver", name);
    dispatcher_entry *entry = find_entry(self, name);
    if (!entry) {
        hal_log_output(self->log, HAL_LOG_VERBOSE, TAG, "message name is %s,cant deliver", name);
        return -1;
    }
    entry->delivering++;
    // The next handler is read after each call, so handlers appended by a
    // call are reached; flagged ones stay linked until the purge below.
    for (dispatcher_handler *h = entry->head; h; h = h->next) {
        if (!h->removed) {
            h->fn(message, h->arg, h);
        }
    }
    entry->delivering--;
    if (!entry->delivering) {
        purge_removed(entry);
    }
    return 0;
}

int dispatcher_count(dispatcher_t *self, const char *name)
{
    dispatcher_entry *entry = find_entry(self, name);
    int n = 0;
    for (dispatcher_handler *h = entry ? entry->head : NULL; h; h = h->next) {
        n += !h->removed;
    }
    return n;
}
