// The dispatcher hands each decoded signalling message to the handlers
// registered for its full type name ("ptt.rr.LoginAck"), in registration
// order. Owned by the connection; looper thread only.
//
// Handlers may register and unregister (themselves or others) while their
// type is being delivered: removals are deferred until that delivery ends,
// so the walk stays valid; a removed handler is not called again, a handler
// added during the delivery is called in it.
#ifndef DISPATCHER_H
#define DISPATCHER_H

#include <protobuf-c/protobuf-c.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct dispatcher_t dispatcher_t;
typedef struct dispatcher_handler dispatcher_handler;

typedef void (*dispatcher_fn)(const ProtobufCMessage *message, void *arg,
                              dispatcher_handler *handler);

// NULL when the record cannot be allocated.
dispatcher_t *dispatcher_new(lirko_t *engine);
// 0, or -1 for a NULL pointer or record; clears *dispatcher.
int dispatcher_destroy(dispatcher_t **dispatcher);
// 0; -1 when (fn, arg) is registered for name already or memory runs out.
int dispatcher_register(dispatcher_t *dispatcher, const char *name, dispatcher_fn fn, void *arg);
// Removes the first handler with (fn, arg), or with arg NULL every handler
// with fn. 0 (also when nothing matched); -1 when name was never registered.
int dispatcher_unregister(dispatcher_t *dispatcher, const char *name, dispatcher_fn fn, void *arg);
// Calls every handler of the message's type. 0; -1 for a NULL message or a
// type nobody ever registered.
int dispatcher_deliver(dispatcher_t *dispatcher, const ProtobufCMessage *message);
// Number of live handlers for name (tests and diagnostics).
int dispatcher_count(dispatcher_t *dispatcher, const char *name);

#ifdef __cplusplus
}
#endif

#endif
