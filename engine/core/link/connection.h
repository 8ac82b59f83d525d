// The engine's one TCP signalling link: finds the server through addressing,
// connects, frames outgoing messages, reassembles incoming frames and hands
// each message to the dispatcher, keeps the link alive (heartbeat, ping,
// silence limit), watches for the replies that requests expect, and restarts
// itself on failure with a retry schedule. Status changes go to one status
// listener (the engine's, set at login). Looper thread only.
#ifndef CONNECTION_H
#define CONNECTION_H

#include <protobuf-c/protobuf-c.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct hal_sock hal_sock;
typedef struct hal_looper hal_looper;
typedef struct dispatcher_t dispatcher_t;
typedef struct addressing_t addressing_t;
typedef struct list list;
typedef struct connection_t connection_t;

enum connection_status {
    CONN_DISCONNECTED = 0,
    CONN_CONNECTING = 1,
    CONN_CONNECTED = 2,
    CONN_RECONNECTING = 3,
    CONN_RESET = 4, // connected after an earlier connection
    CONN_ADDRESSING_FAILED = 5,
    CONN_ADDRESSING_CONTEXT_ERROR = 6,
};

#define TCP_RECV_BUFFER_SIZE 4096
#define TCP_MAX_RECV 0x1000000
#define TCP_SEND_BUFFER_SIZE 1024
// Largest frame connection_send_mms writes: the same cap as a received one.
#define CONNECTION_MAX_FRAME TCP_MAX_RECV
// Bytes the send queue may hold: two of the largest frames. A peer that
// stops reading long enough to fill it is treated as a broken link.
#define CONNECTION_MAX_SEND_QUEUE (2 * (size_t)CONNECTION_MAX_FRAME)
// Above this capacity a buffer is given back once it drains below it, so one
// burst does not keep its memory for the life of the link.
#define CONNECTION_KEEP_BUFFER 0x10000

typedef void (*connection_status_fn)(connection_t *conn, uint32_t status, void *arg);
typedef void (*connection_timeout_fn)(connection_t *conn, const char *ack_name, void *arg);
// Whether a broken link must be reported at once rather than after the
// retries (non-zero: at once).
typedef int (*connection_urgent_fn)(void *arg);

typedef struct cmd_msg_watcher {
    const char *ack_name; // the registry's constant full name
    double expect_time;   // absolute engine time
    connection_timeout_fn fn;
    void *arg;
    int del_flag;
} cmd_msg_watcher;

struct connection_t {
    uint32_t status;
    int32_t is_ever_connected;
    lirko_t *engine;
    dispatcher_t *dispatcher;
    addressing_t *addressing;
    list *watchers; // of cmd_msg_watcher*, sorted by expect_time
    hal_sock *socket;
    uint32_t server_ip;   // network order
    uint32_t server_port; // network order
    uint8_t *send_data;
    size_t send_capacity;
    size_t send_length;
    uint8_t *recv_data;
    size_t recv_capacity;
    size_t recv_buffer_size;
    int32_t retry_counter; // start-ups, for the retry interval
    double last_recv_msg_time;
    double last_send_msg_time;
    double last_ping_time;
    connection_status_fn status_cb;
    void *status_arg;
    uint32_t msg_count;   // watchers expired since data last arrived
    uint32_t retry_count; // start-ups since the last report
    uint32_t is_notified_exception;
    char *account;
    char *password;
    char *context;
    uint32_t role;
    double retry_interval;
    // A write is waiting for the socket to become writable.
    int write_pending;
    connection_urgent_fn urgent_fn;
    void *urgent_arg;
};

// NULL when the record cannot be made. Registers the liveness handlers
// (Ping, Pong, HeartBeat) on its own dispatcher.
connection_t *connection_new(lirko_t *engine);
// Shuts down, frees everything it owns and clears *conn; NULL is ignored.
void connection_destroy(connection_t **conn);

// Stores copies of the three texts (all required) and the role.
void connection_set_account(connection_t *conn, const char *account, const char *password,
                            uint32_t role, const char *context);
void connection_set_status_listener(connection_t *conn, connection_status_fn fn, void *arg);
// Asked when a connected link breaks: while fn(arg) says so, the break is
// reported (CONN_RECONNECTING) at once and counts as that outage's one
// report, instead of waiting for three failed start-ups.
void connection_set_urgency(connection_t *conn, connection_urgent_fn fn, void *arg);
// Starts (or schedules, once ever connected) a connection attempt; -1 when
// connected.
int connection_startup(connection_t *conn);
// Closes the link and forgets the failure history; the status becomes
// CONN_DISCONNECTED without a report. 0.
int connection_shutdown(connection_t *conn);
int connection_is_connected(const connection_t *conn);

// Frames (with checksum) and writes one message; 0, or -1 when not
// connected, packing or buffering failed, or the write failed.
int connection_send_msg(connection_t *conn, const ProtobufCMessage *message);
// Like connection_send_msg, after adding a reply watcher: fn runs when no
// ack_name arrives within timeout seconds.
int connection_send_msg_with_expect(connection_t *conn, const ProtobufCMessage *message,
                                    const char *ack_name, double timeout, connection_timeout_fn fn,
                                    void *arg);
// Withdraws the pending reply watchers of (ack_name, fn, arg): they neither
// fire nor count as expired, and a later reply of that name no longer
// settles them. The number withdrawn.
int connection_cancel_watcher(connection_t *conn, const char *ack_name, connection_timeout_fn fn,
                              void *arg);
// Writes payload as the body of a hand-made frame named type_name (checksum
// 0). -1 when not connected, for a NULL payload with a length, a name over
// 65534 bytes or a frame over 16 MiB.
int connection_send_mms(connection_t *conn, const uint8_t *payload, size_t payload_length,
                        const char *type_name);

dispatcher_t *connection_get_dispatcher(connection_t *conn);

// The allocated sizes of the receive buffer and the send queue, for tests
// that check the memory a burst leaves behind. Either pointer may be NULL.
void connection_buffer_capacity(const connection_t *conn, size_t *recv_capacity,
                                size_t *send_capacity);

// Looper callbacks, exposed for tests.
void connection_on_timer(hal_looper *looper, double now, void *conn);
void connection_check_cmd_msg_wather(connection_t *conn, double now);
// The retry interval connection_startup would use for the given counter
// value after its increment (1 to 5: 5 s; 6 to 10: the counter; then 5 s).
double connection_retry_interval_for(int32_t *counter);

#ifdef __cplusplus
}
#endif

#endif
