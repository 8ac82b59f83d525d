#include "lirko_handlers.h"

#include "connection.h"
#include "lirko.h"

// Handler of the messages whose answers belong to the directory, watch,
// invite, SOS and dispatch side of the engine; registered here so the order
// of all 28 stays fixed.
static void on_recv_pending(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    (void)msg;
    (void)arg;
    (void)h;
}

typedef struct lirko_handler_row {
    const char *name;
    dispatcher_fn fn;
} lirko_handler_row;

static const lirko_handler_row HANDLERS[] = {
    {"ptt.rr.LoginAck", on_recv_login_ack_message},
    {"ptt.rr.LogoutAck", on_recv_logout_ack_message},
    {"ptt.push.Kickout", on_recv_kickout_message},
    {"ptt.rr.LeaveGroupAck", on_recv_pending},
    {"ptt.rr.ChangePasswordAck", on_recv_pending},
    {"ptt.rr.MakeContactsAck", on_recv_pending},
    {"ptt.rr.RemoveContactsAck", on_recv_pending},
    {"ptt.rr.MakeContactsResponseAck", on_recv_pending},
    {"ptt.push.ContactshipAsked", on_recv_pending},
    {"ptt.serv.MultimediaMessage", on_recv_pending},
    {"ptt.serv.ExternalServMsg", on_recv_pending},
    {"ptt.rr.WatchGroupAck", on_recv_pending},
    {"ptt.rr.GetWatchGroupAck", on_recv_pending},
    {"ptt.rr.AddWatchGroupAck", on_recv_pending},
    {"ptt.rr.RemoveWatchGroupAck", on_recv_pending},
    {"ptt.rr.InviteAck", on_recv_pending},
    {"ptt.rr.ResponseInviteAck", on_recv_pending},
    {"ptt.push.Invite", on_recv_pending},
    {"ptt.push.ResponseInvite", on_recv_pending},
    {"ptt.rr.SetEncryptAck", on_recv_pending},
    {"sos.AlarmNew", on_recv_pending},
    {"sos.CloseAck", on_recv_pending},
    {"sos.ProcessAck", on_recv_pending},
    {"ptt.rr.SingleCallAck", on_recv_pending},
    {"ptt.rr.ConfigureUserAck", on_recv_pending},
    {"ptt.rr.DispatchAck", on_recv_pending},
    {"ptt.rr.TakeMicAck", on_recv_pending},
    {"ptt.rr.PostWorksheetAck", on_recv_pending},
};

int lirko_message_handler_count(void)
{
    return (int)(sizeof(HANDLERS) / sizeof(HANDLERS[0]));
}

int lirko_register_message_handlers(lirko_t *engine, connection_t *connection)
{
    dispatcher_t *d = connection_get_dispatcher(connection);
    int n = lirko_message_handler_count();
    for (int i = 0; i < n; i++) {
        if (dispatcher_register(d, HANDLERS[i].name, HANDLERS[i].fn, engine) != 0) {
            while (i-- > 0) {
                dispatcher_unregister(d, HANDLERS[i].name, HANDLERS[i].fn, engine);
            }
            return -1;
        }
    }
    return 0;
}

void lirko_unregister_message_handlers(lirko_t *engine, connection_t *connection)
{
    dispatcher_t *d = connection_get_dispatcher(connection);
    int n = lirko_message_handler_count();
    for (int i = 0; i < n; i++) {
        dispatcher_unregister(d, HANDLERS[i].name, HANDLERS[i].fn, engine);
    }
}
