#include "connection.h"

#include "addressing.h"
#include "dispatcher.h"
#include "etpacket.h"
#include "hal_ctx.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sock.h"
#include "hal_time.h"
#include "lirko.h"
#include "list.h"
#include "ptt_net.pb-c.h"

#include <stdlib.h>
#include <string.h>

static const char *TAG = "connection";

// Seconds of the keep-alive rules.
#define CONN_TIMER_PERIOD 0.5
#define CONN_HEARTBEAT_AFTER 60.0
#define CONN_PING_EVERY 5.0
#define CONN_PING_AFTER 60.0
#define CONN_SILENCE_LIMIT 150.0
#define CONN_CONNECT_TIMEOUT 3.0
// Expired reply watchers (since data last arrived) that count as a dead link.
#define CONN_MAX_EXPIRED_WATCHERS 3

static void connection_do_startup(hal_looper *looper, double now, void *arg);
static void connection_startup_timeout(hal_looper *looper, double now, void *arg);
static void connection_on_addressing_result(addressing_t *addressing, int result, void *arg);
static void connection_on_socket_connect_cb(hal_sock *sock, void *data, int err);
static void connection_on_socket_readable(hal_sock *sock, void *data, int status);
static void connection_on_socket_writable(hal_sock *sock, void *data, int status);
static void connection_close(connection_t *conn);
static void connection_on_recv_ping_message(const ProtobufCMessage *msg, void *arg,
                                            dispatcher_handler *handler);
static void connection_on_recv_pong_message(const ProtobufCMessage *msg, void *arg,
                                            dispatcher_handler *handler);
static void connection_on_recv_heartbeat_message(const ProtobufCMessage *msg, void *arg,
                                                 dispatcher_handler *handler);

static hal_log *conn_log(const connection_t *conn)
{
    return conn->engine ? conn->engine->log : NULL;
}

static hal_looper *conn_looper(const connection_t *conn)
{
    return conn->engine ? conn->engine->looper : NULL;
}

int connection_is_connected(const connection_t *conn)
{
    return conn && (conn->status == CONN_CONNECTED || conn->status == CONN_RESET);
}

dispatcher_t *connection_get_dispatcher(connection_t *conn)
{
    return conn ? conn->dispatcher : NULL;
}

connection_t *connection_new(lirko_t *engine)
{
    connection_t *conn = (connection_t *)calloc(1, sizeof(*conn));
    if (!conn) {
        return NULL;
    }
    conn->engine = engine;
    conn->recv_data = (uint8_t *)malloc(TCP_RECV_BUFFER_SIZE);
    conn->recv_capacity = TCP_RECV_BUFFER_SIZE;
    conn->send_data = (uint8_t *)malloc(TCP_SEND_BUFFER_SIZE);
    conn->send_capacity = TCP_SEND_BUFFER_SIZE;
    conn->watchers = list_new();
    conn->dispatcher = dispatcher_new(engine);
    conn->addressing = addressing_new(engine);
    if (!conn->recv_data || !conn->send_data || !conn->watchers || !conn->dispatcher ||
        !conn->addressing ||
        dispatcher_register(conn->dispatcher, "ptt.net.Ping", connection_on_recv_ping_message,
                            conn) != 0 ||
        dispatcher_register(conn->dispatcher, "ptt.net.Pong", connection_on_recv_pong_message,
                            conn) != 0 ||
        dispatcher_register(conn->dispatcher, "ptt.net.HeartBeat",
                            connection_on_recv_heartbeat_message, conn) != 0) {
        connection_destroy(&conn);
        return NULL;
    }
    return conn;
}

static void free_watchers(connection_t *conn, int only_flagged)
{
    if (!conn->watchers) {
        return;
    }
    list_node *node = list_begin(conn->watchers);
    while (node) {
        list_node *next = list_next(node);
        cmd_msg_watcher *w = (cmd_msg_watcher *)list_data_get(node);
        if (!only_flagged || w->del_flag) {
            if (only_flagged) {
                hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG,
                               "%s watcher_count:%d, msg %s watcher need to be deleted !",
                               "connection_check_cmd_msg_wather", (int)list_count(conn->watchers),
                               w->ack_name);
            }
            list_remove_at(conn->watchers, node);
            free((void *)w->ack_name);
            free(w);
        }
        node = next;
    }
}

void connection_destroy(connection_t **pconn)
{
    if (!pconn || !*pconn) {
        return;
    }
    connection_t *conn = *pconn;
    connection_shutdown(conn);
    free_watchers(conn, 0);
    free(conn->recv_data);
    free(conn->send_data);
    if (conn->dispatcher) {
        dispatcher_unregister(conn->dispatcher, "ptt.net.Ping", connection_on_recv_ping_message,
                              conn);
        dispatcher_unregister(conn->dispatcher, "ptt.net.Pong", connection_on_recv_pong_message,
                              conn);
        dispatcher_unregister(conn->dispatcher, "ptt.net.HeartBeat",
                              connection_on_recv_heartbeat_message, conn);
    }
    free(conn->account);
    free(conn->password);
    free(conn->context);
    if (conn->watchers) {
        list_del(conn->watchers);
    }
    dispatcher_destroy(&conn->dispatcher);
    addressing_destroy(&conn->addressing);
    free(conn);
    *pconn = NULL;
}

static void store_text(char **slot, const char *text)
{
    char *copy = strdup(text);
    if (copy) {
        free(*slot);
        *slot = copy;
    }
}

void connection_set_account(connection_t *conn, const char *account, const char *password,
                            uint32_t role, const char *context)
{
    if (!conn || !account || !password || !context) {
        return;
    }
    store_text(&conn->account, account);
    store_text(&conn->password, password);
    store_text(&conn->context, context);
    conn->role = role;
    // From our own copies: the given texts may be the ones just replaced.
    addressing_set_params(conn->addressing, conn->account, conn->context);
}

void connection_set_status_listener(connection_t *conn, connection_status_fn fn, void *arg)
{
    if (conn) {
        conn->status_cb = fn;
        conn->status_arg = arg;
    }
}

void connection_set_urgency(connection_t *conn, connection_urgent_fn fn, void *arg)
{
    if (conn) {
        conn->urgent_fn = fn;
        conn->urgent_arg = arg;
    }
}

static void connection_notify_caller(connection_t *conn, uint32_t status)
{
    hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG,
                   "connection_notify_caller self->status:%d,status:%d,retry_count:%d,"
                   "is_notified_exception:%d ,is_ever_connected:%d",
                   (int)conn->status, (int)status, (int)conn->retry_count,
                   (int)conn->is_notified_exception, (int)conn->is_ever_connected);
    if (status == CONN_CONNECTED || status == CONN_RESET) {
        if (status != conn->status) {
            conn->status = status;
            if (conn->status_cb) {
                conn->status_cb(conn, status, conn->status_arg);
            }
            conn->retry_count = 0;
            conn->is_notified_exception = 0;
        }
        return;
    }
    conn->status = status;
    if (status == CONN_ADDRESSING_CONTEXT_ERROR) {
        if (conn->status_cb) {
            conn->status_cb(conn, status, conn->status_arg);
        }
        return;
    }
    if (conn->retry_count >= 3 && !conn->is_notified_exception) {
        if (conn->status_cb) {
            conn->status_cb(conn, status, conn->status_arg);
        }
        if (conn->is_ever_connected) {
            conn->is_notified_exception = 1;
        }
        conn->retry_count = 0;
    }
}

// The network object's status callback; the connection reports through its
// own listener instead.
static void network_status_noop(hal_network *network, void *data)
{
    (void)network;
    (void)data;
}

double connection_retry_interval_for(int32_t *counter)
{
    *counter += 1;
    if (*counter <= 5) {
        return 5.0;
    }
    if (*counter <= 10) {
        return (double)*counter;
    }
    *counter = 1;
    return 5.0;
}

int connection_startup(connection_t *conn)
{
    if (!conn) {
        return -1;
    }
    if (connection_is_connected(conn)) {
        hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG,
                       "connection had been connected,status:%d", (int)conn->status);
        return -1;
    }
    hal_network *network = hal_ctx_get_network(conn->engine->ctx);
    hal_network_set_data(network, conn);
    hal_network_startup(network, 5, network_status_noop);
    conn->retry_interval = connection_retry_interval_for(&conn->retry_counter);
    if (conn->is_ever_connected) {
        hal_looper_set_timer(conn_looper(conn), connection_do_startup, conn->retry_interval, conn);
    } else {
        connection_do_startup(conn_looper(conn), hal_time_now(), conn);
    }
    return 0;
}

static void connection_do_startup(hal_looper *looper, double now, void *arg)
{
    (void)now;
    connection_t *conn = (connection_t *)arg;
    hal_looper_set_timer(looper, connection_startup_timeout, conn->retry_interval - 1.0, conn);
    hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG,
                   "connection_do_startup begin retry_interval:%f", conn->retry_interval);
    addressing_start(conn->addressing, conn->retry_interval - 2.0, connection_on_addressing_result,
                     conn);
    conn->retry_count += 1;
}

// The failure paths that restart: report (while ever connected) and go on.
static void connection_restart(connection_t *conn)
{
    connection_notify_caller(conn, CONN_RECONNECTING);
    connection_startup(conn);
}

static void connection_startup_timeout(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    (void)now;
    connection_t *conn = (connection_t *)arg;
    connection_close(conn);
    hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG,
                   "connection_startup_timeout: self->is_ever_connected=%d",
                   (int)conn->is_ever_connected);
    conn->retry_count = 3;
    if (conn->is_ever_connected) {
        connection_restart(conn);
    } else {
        connection_notify_caller(conn, CONN_DISCONNECTED);
    }
}

static void connection_connect_failed(connection_t *conn, int ret)
{
    connection_close(conn);
    if (conn->is_ever_connected) {
        hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG, "hal_sock_connect_i ret:%d ", ret);
        connection_restart(conn);
    } else {
        conn->retry_count = 3;
        connection_notify_caller(conn, CONN_DISCONNECTED);
    }
}

static void connection_on_addressing_result(addressing_t *addressing, int result, void *arg)
{
    connection_t *conn = (connection_t *)arg;
    hal_log *log = conn_log(conn);
    switch (result) {
    case ADDRESSING_RESULT_CONTEXT_ERROR:
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "addressing context error");
        connection_notify_caller(conn, CONN_ADDRESSING_CONTEXT_ERROR);
        break;
    case ADDRESSING_RESULT_FOUND: {
        int found = addressing->status == ADDRESSING_FOUND;
        conn->server_ip = found ? addressing->server_ip : 0;
        conn->server_port = found ? addressing->server_port : 0;
        addressing_stop(addressing);
        if (conn->socket && hal_sock_is_connected(conn->socket)) {
            break;
        }
        if (!conn->socket) {
            conn->socket = hal_sock_new(hal_ctx_get_network(conn->engine->ctx), HAL_SOCK_TCP);
            if (conn->socket) {
                hal_sock_set_data(conn->socket, conn);
            }
        }
        int ret = -1;
        if (conn->socket && conn->server_ip && conn->server_port) {
            ret = hal_sock_connect_i(conn->socket, conn->server_ip, (uint16_t)conn->server_port,
                                     CONN_CONNECT_TIMEOUT, connection_on_socket_connect_cb);
        }
        if (ret == 0) {
            // Connected at once (possible on loopback): carry on as after a
            // completed connect rather than waiting for a completion that
            // never comes.
            connection_on_socket_connect_cb(conn->socket, conn, 0);
        } else if (ret != -2) {
            connection_connect_failed(conn, ret);
        }
        break;
    }
    case ADDRESSING_RESULT_TIMEOUT:
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "addressing time out");
        break;
    case ADDRESSING_RESULT_FAILED:
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "addressing failed");
        addressing_stop(addressing);
        conn->retry_count = 3;
        connection_notify_caller(conn, CONN_ADDRESSING_FAILED);
        break;
    default:
        break;
    }
}

static void connection_on_socket_connect_cb(hal_sock *sock, void *data, int err)
{
    (void)sock;
    connection_t *conn = (connection_t *)data;
    hal_log *log = conn_log(conn);
    hal_looper *looper = conn_looper(conn);
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_on_socket_connect_cb err:%d", err);
    if (err >= 0) {
        hal_looper_cancel_timer(looper, connection_do_startup, conn);
        hal_looper_cancel_timer(looper, connection_startup_timeout, conn);
        free_watchers(conn, 0);
        hal_looper_set_timer(looper, connection_on_timer, CONN_TIMER_PERIOD, conn);
        hal_sock_readable(conn->socket, connection_on_socket_readable);
        conn->retry_counter = 0;
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_on_socket_connect_cb status:%d",
                       (int)conn->status);
        if (conn->is_ever_connected) {
            connection_notify_caller(conn, CONN_RESET);
        } else {
            conn->is_ever_connected = 1;
            connection_notify_caller(conn, CONN_CONNECTED);
        }
        return;
    }
    connection_close(conn);
    if (err == -4) {
        conn->retry_count = 3;
    }
    hal_log_output(log, HAL_LOG_VERBOSE, TAG,
                   "on_sock_cb error:%d ,retry_count:%d is_ever_connected:%d", err,
                   (int)conn->retry_count, (int)conn->is_ever_connected);
    if (conn->is_ever_connected) {
        connection_restart(conn);
    } else {
        conn->retry_count = 3;
        connection_notify_caller(conn, CONN_DISCONNECTED);
    }
}

static void connection_link_failed(connection_t *conn)
{
    connection_close(conn);
    if (conn->urgent_fn && conn->urgent_fn(conn->urgent_arg)) {
        hal_log_output(conn_log(conn), HAL_LOG_ERROR, TAG,
                       "link lost while it cannot wait for the retries: reported now");
        conn->retry_count = 3;
    }
    connection_restart(conn);
}

// Grows the receive buffer by one step when it is full; -1 past the cap or
// without memory.
static int check_recv_buffer(connection_t *conn)
{
    if (conn->recv_buffer_size < conn->recv_capacity) {
        return 0;
    }
    // Doubling (in whole steps of 4096, capped at 16 MiB) rather than one
    // step at a time: a large frame would otherwise cost thousands of
    // reallocations, each copying everything read so far.
    size_t newsize = conn->recv_capacity + TCP_RECV_BUFFER_SIZE;
    if (conn->recv_capacity < TCP_MAX_RECV && conn->recv_capacity * 2 > newsize) {
        newsize = conn->recv_capacity * 2 < TCP_MAX_RECV ? conn->recv_capacity * 2 : TCP_MAX_RECV;
    }
    if (newsize > TCP_MAX_RECV) {
        hal_log_output(conn_log(conn), HAL_LOG_ERROR, TAG,
                       "connection_check_recv_buffer newsize:%d,TCP_MAX_RECV:%d,"
                       "self->recv_buffer_size:%d,",
                       (int)newsize, TCP_MAX_RECV, (int)conn->recv_buffer_size);
        return -1;
    }
    uint8_t *grown = (uint8_t *)realloc(conn->recv_data, newsize);
    if (!grown) {
        return -1;
    }
    conn->recv_data = grown;
    conn->recv_capacity = newsize;
    return 0;
}

void connection_buffer_capacity(const connection_t *conn, size_t *recv_capacity,
                                size_t *send_capacity)
{
    if (recv_capacity) {
        *recv_capacity = conn ? conn->recv_capacity : 0;
    }
    if (send_capacity) {
        *send_capacity = conn ? conn->send_capacity : 0;
    }
}

// Gives back the memory of a buffer grown by a burst once what it holds fits
// in the size kept between bursts (never below its starting size).
static void shrink_buffer(uint8_t **data, size_t *capacity, size_t used, size_t floor)
{
    if (*capacity <= CONNECTION_KEEP_BUFFER || used > CONNECTION_KEEP_BUFFER) {
        return;
    }
    size_t target = floor;
    while (target < used) {
        target *= 2;
    }
    if (target > CONNECTION_KEEP_BUFFER) {
        target = CONNECTION_KEEP_BUFFER;
    }
    uint8_t *smaller = (uint8_t *)realloc(*data, target);
    if (smaller) {
        *data = smaller;
        *capacity = target;
    }
}

// Drops the first n bytes of the receive buffer.
static void consume_recv(connection_t *conn, size_t n)
{
    if (n == 0) {
        return;
    }
    if (n >= conn->recv_buffer_size) {
        conn->recv_buffer_size = 0;
    } else {
        memmove(conn->recv_data, conn->recv_data + n, conn->recv_buffer_size - n);
        conn->recv_buffer_size -= n;
    }
    shrink_buffer(&conn->recv_data, &conn->recv_capacity, conn->recv_buffer_size,
                  TCP_RECV_BUFFER_SIZE);
}

// Hands every complete frame in the buffer to the dispatcher. Stops when the
// link went down in a handler (the buffer is gone with it). Frames are taken
// at a moving offset and the rest moves down once at the end: a move per
// frame would cost the square of the buffer when many small frames arrive
// together.
static void on_recv_cmd_message(connection_t *conn)
{
    hal_log *log = conn_log(conn);
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "on_recv_cmd_message");
    if (conn->recv_buffer_size == 0) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "recv_buffer_size <= 0");
        return;
    }
    size_t done = 0;
    while (done < conn->recv_buffer_size) {
        size_t left = conn->recv_buffer_size - done;
        ProtobufCMessage *msg = NULL;
        uint32_t size = etpacket_unpack(conn->engine->codec, conn->recv_data + done, left, &msg);
        if (size == 0) {
            hal_log_output(log, HAL_LOG_VERBOSE, TAG, "on_recv_cmd_message packet_size:0");
            consume_recv(conn, done);
            return;
        }
        if (size == 0xFFFFFFFFu || size > left) {
            hal_log_output(log, HAL_LOG_VERBOSE, TAG, "on_recv_cmd_message packet_size:%d",
                           (int)size);
            if (msg) {
                protobuf_c_message_free_unpacked(msg, NULL);
            }
            connection_link_failed(conn);
            return;
        }
        if (!msg) {
            // Unknown type or undecodable body: drop this frame only; the
            // frames behind it are already here and must not wait.
            hal_log_output(log, HAL_LOG_VERBOSE, TAG,
                           "on_recv_cmd_message etpacket_unpack failed!");
        } else {
            conn->last_recv_msg_time = hal_time_now();
            const char *name = msg->descriptor->name;
            for (list_node *n = list_begin(conn->watchers); n; n = list_next(n)) {
                cmd_msg_watcher *w = (cmd_msg_watcher *)list_data_get(n);
                if (!w->del_flag && strcmp(w->ack_name, name) == 0) {
                    w->del_flag = 1;
                    hal_log_output(log, HAL_LOG_VERBOSE, TAG,
                                   "%s watcher_count:%d, msg %s no need watch set del_flag 1",
                                   "on_recv_cmd_message", (int)list_count(conn->watchers), name);
                    break;
                }
            }
            hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s recv message: %s", "on_recv_cmd_message",
                           name);
            dispatcher_deliver(conn->dispatcher, msg);
            if (!connection_is_connected(conn)) {
                hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s status:%d", "on_recv_cmd_message",
                               (int)conn->status);
                protobuf_c_message_free_unpacked(msg, NULL);
                return;
            }
            protobuf_c_message_free_unpacked(msg, NULL);
        }
        done += size;
    }
    consume_recv(conn, done);
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "recv_buffer_size <= 0");
}

static void connection_on_socket_readable(hal_sock *sock, void *data, int status)
{
    (void)status;
    connection_t *conn = (connection_t *)data;
    hal_log *log = conn_log(conn);
    if (!conn->socket || conn->socket != sock) {
        return;
    }
    int failed = 0;
    for (;;) {
        if (conn->recv_buffer_size == conn->recv_capacity &&
            conn->recv_capacity + TCP_RECV_BUFFER_SIZE > TCP_MAX_RECV) {
            // Full at the cap: hand on what is complete before judging.
            on_recv_cmd_message(conn);
            if (!connection_is_connected(conn) || conn->socket != sock) {
                return;
            }
        }
        if (check_recv_buffer(conn) < 0) {
            hal_log_output(log, HAL_LOG_FATAL, TAG,
                           "connection_on_socket_readable check_recv_buffer < 0,recv_buffer_size:"
                           "%d,capacity:%d,TCP_RECV_BUFFER_SIZE:%d",
                           (int)conn->recv_buffer_size, (int)conn->recv_capacity,
                           TCP_RECV_BUFFER_SIZE);
            failed = 1;
            break;
        }
        if (!hal_sock_is_connected(sock)) {
            failed = 1;
            break;
        }
        int n = hal_sock_read(sock, conn->recv_data + conn->recv_buffer_size,
                              (uint32_t)(conn->recv_capacity - conn->recv_buffer_size));
        if (n == -2) {
            break;
        }
        if (n <= 0) {
            failed = 1; // peer closed, or a read error
            break;
        }
        conn->recv_buffer_size += (size_t)n;
        conn->msg_count = 0;
    }
    // Frames that arrived together with the peer's close are still handed
    // on: a Kickout followed by a close must read as a kick-out, not as a
    // broken link that the engine answers by logging in again.
    if (conn->recv_buffer_size > 0) {
        on_recv_cmd_message(conn);
    }
    if (failed && connection_is_connected(conn) && conn->socket == sock) {
        connection_link_failed(conn);
    }
}

// Writes as much of the send queue as the socket takes. -1 when the write
// failed (the link is then closed and restarted).
static int connection_flush(connection_t *conn)
{
    if (conn->send_length == 0) {
        return 0;
    }
    int n = hal_sock_write(conn->socket, conn->send_data, (uint32_t)conn->send_length);
    if (n == -2) {
        n = 0;
    } else if (n < 0) {
        hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG, "hal_sock_write ret:%d ", n);
        connection_link_failed(conn);
        return -1;
    }
    if ((size_t)n < conn->send_length) {
        memmove(conn->send_data, conn->send_data + n, conn->send_length - (size_t)n);
        conn->send_length -= (size_t)n;
        // The tail goes out as soon as the socket drains, not at the next
        // send, which may be a minute away.
        if (!conn->write_pending) {
            conn->write_pending = 1;
            hal_sock_writable(conn->socket, connection_on_socket_writable);
        }
        return 0;
    }
    conn->send_length = 0;
    shrink_buffer(&conn->send_data, &conn->send_capacity, 0, TCP_SEND_BUFFER_SIZE);
    if (conn->write_pending) {
        conn->write_pending = 0;
        hal_sock_remove_writable(conn->socket);
    }
    return 0;
}

static void connection_on_socket_writable(hal_sock *sock, void *data, int status)
{
    (void)sock;
    (void)status;
    connection_t *conn = (connection_t *)data;
    if (!connection_is_connected(conn) || !conn->socket) {
        return;
    }
    connection_flush(conn);
}

// Appends one frame to the send queue and writes the queue.
static int connection_queue_frame(connection_t *conn, const uint8_t *frame, size_t size,
                                  const char *buffer_error)
{
    if (conn->send_length + size > CONNECTION_MAX_SEND_QUEUE) {
        // The peer has stopped reading: queueing on would only grow memory
        // until the silence limit noticed, minutes later.
        hal_log_output(conn_log(conn), HAL_LOG_ERROR, TAG,
                       "send queue full (%u bytes queued, %u more): link broken, reconnecting",
                       (unsigned)conn->send_length, (unsigned)size);
        connection_link_failed(conn);
        return -1;
    }
    if (conn->send_length + size > conn->send_capacity) {
        size_t need = conn->send_length + size;
        uint8_t *grown = (uint8_t *)realloc(conn->send_data, need);
        if (!grown) {
            hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG, "%s", buffer_error);
            return -1;
        }
        conn->send_data = grown;
        conn->send_capacity = need;
    }
    memcpy(conn->send_data + conn->send_length, frame, size);
    conn->send_length += size;
    if (connection_flush(conn) < 0) {
        return -1;
    }
    conn->last_send_msg_time = hal_time_now();
    return 0;
}

int connection_send_msg(connection_t *conn, const ProtobufCMessage *message)
{
    if (!conn || !message) {
        return -1;
    }
    hal_log *log = conn_log(conn);
    if (!connection_is_connected(conn)) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_send_msg status:%d!",
                       (int)conn->status);
        return -1;
    }
    uint8_t *frame = NULL;
    int size = etpacket_pack(conn->engine->codec, &frame, message, 1);
    if (size <= 0 || !frame) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_send_msg etpacket_pack failed !");
        free(frame);
        return -1;
    }
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "send msg  %s ", message->descriptor->name);
    int ret = connection_queue_frame(conn, frame, (size_t)size,
                                     "connection_send_msg check_send_buffer failed!");
    free(frame);
    return ret;
}

int connection_send_msg_with_expect(connection_t *conn, const ProtobufCMessage *message,
                                    const char *ack_name, double timeout, connection_timeout_fn fn,
                                    void *arg)
{
    if (!conn || !ack_name) {
        return -1;
    }
    hal_log *log = conn_log(conn);
    if (!connection_is_connected(conn)) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s status:%d", "connection_send_msg_with_expect",
                       (int)conn->status);
        return -1;
    }
    cmd_msg_watcher *w = (cmd_msg_watcher *)calloc(1, sizeof(*w));
    char *name = strdup(ack_name);
    if (!w || !name) {
        free(w);
        free(name);
        return -1;
    }
    w->ack_name = name;
    w->expect_time = hal_time_now() + timeout;
    w->fn = fn;
    w->arg = arg;
    int which = 3;
    if (list_count(conn->watchers) == 0) {
        which = 1;
        list_push_back(conn->watchers, w);
    } else {
        list_node *n = list_begin(conn->watchers);
        while (n && ((cmd_msg_watcher *)list_data_get(n))->expect_time <= w->expect_time) {
            n = list_next(n);
        }
        if (n) {
            which = 2;
            list_insert_before(conn->watchers, n, w);
        } else {
            list_push_back(conn->watchers, w);
        }
    }
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s %d watcher_count:%d",
                   "connection_send_msg_with_expect", which, (int)list_count(conn->watchers));
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_send_msg_with_expect msg.ackname:%s",
                   ack_name);
    return connection_send_msg(conn, message);
}

int connection_cancel_watcher(connection_t *conn, const char *ack_name, connection_timeout_fn fn,
                              void *arg)
{
    if (!conn || !ack_name || !conn->watchers) {
        return 0;
    }
    int n = 0;
    for (list_node *node = list_begin(conn->watchers); node; node = list_next(node)) {
        cmd_msg_watcher *w = (cmd_msg_watcher *)list_data_get(node);
        if (!w->del_flag && w->fn == fn && w->arg == arg && strcmp(w->ack_name, ack_name) == 0) {
            w->del_flag = 1;
            n++;
        }
    }
    if (n) {
        hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG, "%s %s cancelled %d",
                       "connection_cancel_watcher", ack_name, n);
    }
    return n;
}

static void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

int connection_send_mms(connection_t *conn, const uint8_t *payload, size_t payload_length,
                        const char *type_name)
{
    if (!conn || !type_name) {
        return -1;
    }
    hal_log *log = conn_log(conn);
    if (!connection_is_connected(conn)) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_send_mms status:%d!",
                       (int)conn->status);
        return -1;
    }
    size_t name_len = strlen(type_name);
    // The name length field is 16 bits and counts the NUL; the frame obeys
    // the same cap as a received one.
    if ((!payload && payload_length > 0) || name_len > 65534 ||
        payload_length > CONNECTION_MAX_FRAME ||
        payload_length + name_len + 11 > CONNECTION_MAX_FRAME) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_send_mms etpacket_pack failed !");
        return -1;
    }
    size_t size = payload_length + name_len + 11;
    uint8_t *frame = (uint8_t *)malloc(size);
    if (!frame) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "connection_send_mms etpacket_pack failed !");
        return -1;
    }
    put_be32(frame, conn->engine->broad ? (uint32_t)size : (uint32_t)(size - 4));
    frame[4] = (uint8_t)((name_len + 1) >> 8);
    frame[5] = (uint8_t)(name_len + 1);
    memcpy(frame + 6, type_name, name_len + 1);
    if (payload_length) {
        memcpy(frame + 7 + name_len, payload, payload_length);
    }
    put_be32(frame + size - 4, 0);
    int ret =
        connection_queue_frame(conn, frame, size, "connection_send_mms check_send_buffer failed!");
    free(frame);
    return ret;
}

void connection_check_cmd_msg_wather(connection_t *conn, double now)
{
    hal_log *log = conn_log(conn);
    // Nodes are never freed during this walk (a timeout function may log
    // out, which only flags watchers, or add a watcher); the next node is
    // read after each call.
    for (list_node *n = list_begin(conn->watchers); n; n = list_next(n)) {
        cmd_msg_watcher *w = (cmd_msg_watcher *)list_data_get(n);
        if (w->expect_time > now || w->del_flag) {
            break;
        }
        hal_log_output(
            log, HAL_LOG_VERBOSE, TAG, "%s watcher_count:%d, msg %s timeout set del_flag 1",
            "connection_check_cmd_msg_wather", (int)list_count(conn->watchers), w->ack_name);
        w->del_flag = 1;
        if (w->fn) {
            w->fn(conn, w->ack_name, w->arg);
        }
        if (strcmp(w->ack_name, "ptt.rr.LogoutAck") == 0) {
            hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s u had logouted!!!",
                           "connection_check_cmd_msg_wather");
            break;
        }
        conn->msg_count += 1;
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "msg_count:%d", (int)conn->msg_count);
    }
    free_watchers(conn, 1);
    if (conn->msg_count >= CONN_MAX_EXPIRED_WATCHERS && connection_is_connected(conn)) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "check_cmd_msg_wather timeout >=3 ");
        connection_close(conn);
        conn->retry_count = 3;
        connection_restart(conn);
    }
}

void connection_on_timer(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    connection_t *conn = (connection_t *)arg;
    hal_log *log = conn_log(conn);
    connection_check_cmd_msg_wather(conn, now);
    if (!connection_is_connected(conn)) {
        return;
    }
    if (conn->last_send_msg_time != 0 && now - conn->last_send_msg_time >= CONN_HEARTBEAT_AFTER) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG,
                       "do send heartbeat now:%f,last_send_msg_time:%f,intval:%f", now,
                       conn->last_send_msg_time, now - conn->last_send_msg_time);
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "do send heartbeat msg");
        Ptt__Net__HeartBeat beat = PTT__NET__HEART_BEAT__INIT;
        connection_send_msg(conn, &beat.base);
        if (!connection_is_connected(conn)) {
            return;
        }
    }
    if (conn->last_recv_msg_time == 0) {
        return;
    }
    if (now - conn->last_ping_time >= CONN_PING_EVERY &&
        now - conn->last_recv_msg_time >= CONN_PING_AFTER) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "do send ping per 5 seconds");
        conn->last_ping_time = now;
        Ptt__Net__Ping ping = PTT__NET__PING__INIT;
        connection_send_msg(conn, &ping.base);
        if (!connection_is_connected(conn)) {
            return;
        }
    }
    if (now - conn->last_recv_msg_time > CONN_SILENCE_LIMIT) {
        hal_log_output(log, HAL_LOG_VERBOSE, TAG, "recvive no msg in 90s,restart");
        connection_close(conn);
        conn->retry_count = 3;
        connection_restart(conn);
    }
}

static void connection_close(connection_t *conn)
{
    hal_looper *looper = conn_looper(conn);
    hal_looper_cancel_timer(looper, connection_on_timer, conn);
    for (list_node *n = conn->watchers ? list_begin(conn->watchers) : NULL; n; n = list_next(n)) {
        ((cmd_msg_watcher *)list_data_get(n))->del_flag = 1;
    }
    conn->recv_buffer_size = 0;
    conn->send_length = 0;
    conn->write_pending = 0;
    shrink_buffer(&conn->recv_data, &conn->recv_capacity, 0, TCP_RECV_BUFFER_SIZE);
    shrink_buffer(&conn->send_data, &conn->send_capacity, 0, TCP_SEND_BUFFER_SIZE);
    if (conn->socket) {
        hal_sock_remove_readable(conn->socket);
        hal_sock_remove_writable(conn->socket);
        hal_sock_disconnect(conn->socket);
        hal_sock_destroy(&conn->socket);
    }
    hal_looper_cancel_timer(looper, connection_do_startup, conn);
    hal_looper_cancel_timer(looper, connection_startup_timeout, conn);
    // A query round still running belongs to the attempt being closed; its
    // late answer or time-out must not reach the next attempt.
    addressing_stop(conn->addressing);
    conn->last_recv_msg_time = 0;
    conn->last_send_msg_time = 0;
    conn->last_ping_time = 0;
}

int connection_shutdown(connection_t *conn)
{
    if (!conn) {
        return -1;
    }
    connection_close(conn);
    hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG, "connection_shutdown !!!");
    conn->is_ever_connected = 1;
    conn->status = CONN_DISCONNECTED;
    conn->retry_count = 0;
    conn->is_notified_exception = 0;
    conn->retry_interval = 0;
    conn->retry_counter = 0;
    conn->msg_count = 0;
    return 0;
}

static void connection_on_recv_ping_message(const ProtobufCMessage *msg, void *arg,
                                            dispatcher_handler *handler)
{
    (void)msg;
    (void)handler;
    connection_t *conn = (connection_t *)arg;
    hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG,
                   "connection_on_recv_ping_message will send pong");
    Ptt__Net__Pong pong = PTT__NET__PONG__INIT;
    connection_send_msg(conn, &pong.base);
}

static void connection_on_recv_pong_message(const ProtobufCMessage *msg, void *arg,
                                            dispatcher_handler *handler)
{
    (void)msg;
    (void)handler;
    connection_t *conn = (connection_t *)arg;
    hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG, "connection_on_recv_pong_message");
    conn->last_recv_msg_time = hal_time_now();
}

static void connection_on_recv_heartbeat_message(const ProtobufCMessage *msg, void *arg,
                                                 dispatcher_handler *handler)
{
    (void)msg;
    (void)arg;
    (void)handler;
    connection_t *conn = (connection_t *)arg;
    hal_log_output(conn_log(conn), HAL_LOG_VERBOSE, TAG, "connection_on_recv_heartbeat_message");
}
