// The engine's own server-message handlers: 28 registrations on the
// connection's dispatcher, each with the engine as argument, made last in
// lirko_modules_new (after the cache and the session set registered theirs)
// and withdrawn first in lirko_modules_destroy.
#ifndef LIRKO_HANDLERS_H
#define LIRKO_HANDLERS_H

#include "dispatcher.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct connection_t connection_t;

// 0, or -1 after withdrawing the registrations it made.
int lirko_register_message_handlers(lirko_t *engine, connection_t *connection);
void lirko_unregister_message_handlers(lirko_t *engine, connection_t *connection);
// Number of registrations (28).
int lirko_message_handler_count(void);

// Login, logout and kick-out (lirko_login.cpp).
void on_recv_login_ack_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void on_recv_logout_ack_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void on_recv_kickout_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);

#ifdef __cplusplus
}
#endif

#endif
