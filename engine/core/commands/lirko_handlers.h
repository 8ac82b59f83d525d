// The engine core's server-message handlers: 28 registrations on the
// dispatcher, most of which turn one reply or push into one listener call.
// The directory cache and the session set register their own handlers before
// these (the cache's LoginAck handler runs before the engine's). Looper
// thread only.
#ifndef LIRKO_HANDLERS_H
#define LIRKO_HANDLERS_H

#include "dispatcher.h"
#include "lirko_win.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct connection_t connection_t;
typedef struct hal_looper hal_looper;

// Registers the 28 handlers in their fixed order, each with the engine as
// argument. 0, or -1 after withdrawing the registrations it made.
int lirko_register_message_handlers(lirko_t *engine, connection_t *connection);
void lirko_unregister_message_handlers(lirko_t *engine, connection_t *connection);

// Number of registrations (28) and the type name of the i-th (NULL past the
// end).
int lirko_message_handler_count(void);
const char *lirko_message_handler_name(int index);

// Login, logout and kick-out (lirko_login.cpp).
void on_recv_login_ack_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void on_recv_logout_ack_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
void on_recv_kickout_message(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);

typedef struct Sos__AlarmNew Sos__AlarmNew;
// The alarm record of an sos.AlarmNew: every field zero unless the message
// carries it; address and devicesn cut to their fields and terminated.
void lirko_fill_sos_alarm(sos_alarm_t *alarm, const Sos__AlarmNew *msg);

// Keeps a heap copy of the new password of a change in flight (NULL clears
// it). The change-password answer stores it in custom.ini on success (as its
// MD5 digest when [account] encrypted is set) and clears it either way. 0, or
// -1 when the copy cannot be made.
int lirko_set_pending_password(lirko_t *engine, const char *password);

// Reply timers of invitations and encryption settings: armed by the commands
// that send those requests, cancelled by the acknowledgement handlers. When
// one fires it cancels itself and reports the time-out.
void lirko_send_invite_time_cb(hal_looper *looper, double now, void *engine);
void lirko_send_response_invite_time_cb(hal_looper *looper, double now, void *engine);
void lirko_send_set_encryp_time_cb(hal_looper *looper, double now, void *engine);
// Withdraws the three reply timers above: after a logout or during an unload
// no answer is awaited any more. (A broken link keeps them: their time-out is
// how the application learns the request was lost.)
void lirko_cancel_reply_timers(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
