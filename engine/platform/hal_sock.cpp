#include "hal_sock.h"

#include "hal_ctx.h"
#include "hal_looper.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

struct hal_network {
    hal_ctx *ctx;
    void *data;
    int32_t status;
    hal_network_fn fn;
};

struct hal_sock {
    hal_network *network;
    hal_looper *looper;
    uint32_t type;
    uint32_t state;
    int fd;
    void *data;
    hal_sock_fn read_fn;
    // While connecting: the connect completion callback.
    hal_sock_fn write_fn;
};

namespace
{

void *fd_arg(int fd)
{
    return (void *)(intptr_t)fd;
}

void on_connect_timeout(hal_looper *looper, double now, void *arg);

void drop_registrations(hal_sock *s)
{
    (void)hal_looper_exec(s->looper, hal_looper_routine_remove_fd, fd_arg(s->fd));
}

void cancel_connect_timer(hal_sock *s)
{
    (void)hal_looper_cancel_timer(s->looper, on_connect_timeout, s);
}

void finish_connect(hal_sock *s, int status)
{
    cancel_connect_timer(s);
    drop_registrations(s);
    s->read_fn = nullptr;
    hal_sock_fn fn = s->write_fn;
    s->write_fn = nullptr;
    if (status == 0) {
        s->state = HAL_SOCK_CONNECTED;
    } else {
        s->state = HAL_SOCK_IDLE;
    }
    if (fn)
        fn(s, s->data, status);
}

void on_connect_timeout(hal_looper *, double, void *arg)
{
    hal_sock *s = static_cast<hal_sock *>(arg);
    if (s->state == HAL_SOCK_CONNECTING)
        finish_connect(s, -4);
    else
        cancel_connect_timer(s);
}

void on_readable(hal_looper *, int, void *arg)
{
    hal_sock *s = static_cast<hal_sock *>(arg);
    if (s->read_fn)
        s->read_fn(s, s->data, 0);
}

void on_writable(hal_looper *, int fd, void *arg)
{
    hal_sock *s = static_cast<hal_sock *>(arg);
    if (s->state == HAL_SOCK_CONNECTING) {
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        finish_connect(s, err == 0 ? 0 : -1);
        return;
    }
    if (s->write_fn)
        s->write_fn(s, s->data, 0);
}

int register_handler(hal_sock *s, hal_looper_exec_fn routine, hal_looper_fd_fn fn)
{
    auto *h = static_cast<hal_looper_fd_handler *>(malloc(sizeof(hal_looper_fd_handler)));
    if (!h)
        return -4;
    *h = hal_looper_fd_handler{s->fd, fn, s};
    if (hal_looper_exec(s->looper, routine, h) != 0) {
        // Not taken (the loop has ended): the record is still ours.
        free(h);
        return -1;
    }
    return 0;
}

int io_result()
{
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? -2 : -1;
}

int clamp_len(uint32_t len)
{
    return len > 0x7fffffffu ? 0x7fffffff : (int)len;
}

sockaddr_in make_addr(uint32_t address, uint16_t port)
{
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = port;
    return a;
}

// A UDP socket reports an earlier datagram's ICMP port-unreachable as
// ECONNREFUSED on a later call. The engine treats UDP as fire and forget, so
// that stale report is dropped (the failed call cleared it) and the call made
// once more.
bool stale_udp_refusal(const hal_sock *s)
{
    return s->type == HAL_SOCK_UDP && errno == ECONNREFUSED;
}

} // namespace

hal_network *hal_network_new(hal_ctx *ctx)
{
    if (!ctx)
        return nullptr;
    hal_network *n = static_cast<hal_network *>(calloc(1, sizeof(hal_network)));
    if (n)
        n->ctx = ctx;
    return n;
}

void hal_network_destroy(hal_network **network)
{
    if (!network || !*network)
        return;
    free(*network);
    *network = nullptr;
}

hal_ctx *hal_network_context(hal_network *network)
{
    return network ? network->ctx : nullptr;
}

void hal_network_set_data(hal_network *network, void *data)
{
    if (network)
        network->data = data;
}

void *hal_network_get_data(hal_network *network)
{
    return network ? network->data : nullptr;
}

int hal_network_startup(hal_network *network, int32_t status, hal_network_fn fn)
{
    if (!network)
        return -1;
    network->status = status;
    network->fn = fn;
    if (!fn)
        return -1;
    fn(network, network->data);
    return 0;
}

int32_t hal_network_status(hal_network *network)
{
    return network ? network->status : 0;
}

int hal_network_shutdown(hal_network *)
{
    return 0;
}

uint32_t hal_network_aton(const char *text)
{
    in_addr a;
    if (!text || inet_pton(AF_INET, text, &a) != 1)
        return 0xffffffffu;
    return a.s_addr;
}

const char *hal_network_ntoa(uint32_t address)
{
    static thread_local char buf[INET_ADDRSTRLEN];
    in_addr a;
    a.s_addr = address;
    if (!inet_ntop(AF_INET, &a, buf, sizeof buf))
        buf[0] = '\0';
    return buf;
}

hal_sock *hal_sock_new(hal_network *network, uint32_t type)
{
    if (!network || (type != HAL_SOCK_TCP && type != HAL_SOCK_UDP))
        return nullptr;
    hal_sock *s = static_cast<hal_sock *>(calloc(1, sizeof(hal_sock)));
    if (!s)
        return nullptr;
    s->network = network;
    s->looper = hal_ctx_get_looper(network->ctx);
    s->type = type;
    s->state = HAL_SOCK_IDLE;
    s->fd = socket(AF_INET, (type == HAL_SOCK_TCP ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (s->fd < 0 || hal_set_nonblock(s->fd) != 0)
        goto fail;
    if (type == HAL_SOCK_TCP) {
        int one = 1;
        if (setsockopt(s->fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
            goto fail;
    }
    return s;
fail:
    if (s->fd >= 0)
        close(s->fd);
    free(s);
    return nullptr;
}

void hal_sock_destroy(hal_sock **psock)
{
    if (!psock || !*psock)
        return;
    hal_sock *s = *psock;
    // Whatever the state: nothing on the looper may refer to s once it is
    // freed (a pending time-out or a writer left by a connect in progress).
    cancel_connect_timer(s);
    drop_registrations(s);
    if (s->state == HAL_SOCK_CONNECTED && s->type == HAL_SOCK_TCP)
        shutdown(s->fd, SHUT_RDWR);
    close(s->fd);
    free(s);
    *psock = nullptr;
}

int hal_sock_connect(hal_sock *sock, const char *address, uint16_t port, double timeout,
                     hal_sock_fn fn)
{
    if (!sock || !address || port == 0)
        return -1;
    in_addr a;
    if (inet_pton(AF_INET, address, &a) != 1)
        return -1;
    return hal_sock_connect_i(sock, a.s_addr, port, timeout, fn);
}

int hal_sock_connect_i(hal_sock *sock, uint32_t address, uint16_t port, double timeout,
                       hal_sock_fn fn)
{
    if (!sock || address == 0 || port == 0 || !(timeout >= 0))
        return -1;
    if (sock->state != HAL_SOCK_IDLE)
        return -1;
    sockaddr_in a = make_addr(address, port);
    int rc;
    do {
        rc = connect(sock->fd, (const sockaddr *)&a, sizeof a);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        sock->state = HAL_SOCK_CONNECTED;
        return 0;
    }
    if (errno != EINPROGRESS && errno != EAGAIN && errno != EWOULDBLOCK)
        return -1;
    sock->state = HAL_SOCK_CONNECTING;
    sock->write_fn = fn;
    if (timeout > 0 && hal_looper_set_timer(sock->looper, on_connect_timeout, timeout, sock) != 0)
        goto fail;
    if (register_handler(sock, hal_looper_routine_add_writer, on_writable) != 0)
        goto fail;
    return -2;
fail:
    cancel_connect_timer(sock);
    sock->write_fn = nullptr;
    sock->state = HAL_SOCK_IDLE;
    return -1;
}

int hal_sock_disconnect(hal_sock *sock)
{
    if (!sock)
        return -1;
    if (sock->state == HAL_SOCK_IDLE)
        return 0;
    sock->read_fn = nullptr;
    sock->write_fn = nullptr;
    drop_registrations(sock);
    if (sock->state == HAL_SOCK_CONNECTED)
        shutdown(sock->fd, SHUT_RDWR);
    else
        cancel_connect_timer(sock);
    sock->state = HAL_SOCK_IDLE;
    return 0;
}

int hal_sock_is_connected(hal_sock *sock)
{
    return sock && sock->state == HAL_SOCK_CONNECTED;
}

int hal_sock_readable(hal_sock *sock, hal_sock_fn fn)
{
    if (!sock || !fn)
        return -1;
    if (sock->type == HAL_SOCK_TCP && sock->state != HAL_SOCK_CONNECTED)
        return -3;
    if (!sock->read_fn) {
        int rc = register_handler(sock, hal_looper_routine_add_reader, on_readable);
        if (rc != 0)
            return rc;
    }
    sock->read_fn = fn;
    return 0;
}

int hal_sock_writable(hal_sock *sock, hal_sock_fn fn)
{
    if (!sock || !fn)
        return -1;
    if (sock->type == HAL_SOCK_TCP && sock->state != HAL_SOCK_CONNECTED)
        return -3;
    if (!sock->write_fn) {
        int rc = register_handler(sock, hal_looper_routine_add_writer, on_writable);
        if (rc != 0)
            return rc;
    }
    sock->write_fn = fn;
    return 0;
}

int hal_sock_remove_readable(hal_sock *sock)
{
    if (!sock)
        return -1;
    if (!sock->read_fn)
        return 0;
    sock->read_fn = nullptr;
    return hal_looper_exec(sock->looper, hal_looper_routine_remove_reader, fd_arg(sock->fd));
}

int hal_sock_remove_writable(hal_sock *sock)
{
    if (!sock)
        return -1;
    // While connecting the field holds the completion callback: only a
    // disconnect or the outcome ends that.
    if (!sock->write_fn || sock->state == HAL_SOCK_CONNECTING)
        return 0;
    sock->write_fn = nullptr;
    return hal_looper_exec(sock->looper, hal_looper_routine_remove_writer, fd_arg(sock->fd));
}

int hal_sock_read(hal_sock *sock, void *buf, uint32_t len)
{
    if (!sock || !buf || len == 0)
        return -1;
    if (sock->type == HAL_SOCK_TCP && sock->state != HAL_SOCK_CONNECTED)
        return -3;
    for (int tries = 0;; tries++) {
        ssize_t n = recv(sock->fd, buf, (size_t)clamp_len(len), 0);
        if (n >= 0)
            return (int)n;
        if (errno == EINTR || (tries == 0 && stale_udp_refusal(sock)))
            continue;
        return io_result();
    }
}

int hal_sock_write(hal_sock *sock, const void *buf, uint32_t len)
{
    if (!sock || !buf || len == 0)
        return -1;
    if (sock->type == HAL_SOCK_TCP && sock->state != HAL_SOCK_CONNECTED)
        return -3;
    for (int tries = 0;; tries++) {
        ssize_t n = send(sock->fd, buf, (size_t)clamp_len(len), MSG_NOSIGNAL);
        if (n >= 0)
            return (int)n;
        if (errno == EINTR || (tries == 0 && stale_udp_refusal(sock)))
            continue;
        return io_result();
    }
}

int hal_sock_read_from(hal_sock *sock, void *buf, uint32_t len, uint32_t *address, uint16_t *port)
{
    if (!sock || !buf || len == 0 || sock->type != HAL_SOCK_UDP)
        return -1;
    for (int tries = 0;; tries++) {
        sockaddr_in from;
        socklen_t flen = sizeof from;
        memset(&from, 0, sizeof from);
        ssize_t n = recvfrom(sock->fd, buf, (size_t)clamp_len(len), 0, (sockaddr *)&from, &flen);
        if (n >= 0) {
            if (address && port) {
                *address = from.sin_addr.s_addr;
                *port = from.sin_port;
            }
            return (int)n;
        }
        if (errno == EINTR || (tries == 0 && stale_udp_refusal(sock)))
            continue;
        return io_result();
    }
}

int hal_sock_write_to(hal_sock *sock, const void *buf, uint32_t len, uint32_t address,
                      uint16_t port)
{
    if (!sock || !buf || len == 0 || sock->type != HAL_SOCK_UDP || address == 0 || port == 0)
        return -1;
    sockaddr_in to = make_addr(address, port);
    for (int tries = 0;; tries++) {
        ssize_t n = sendto(sock->fd, buf, (size_t)clamp_len(len), MSG_NOSIGNAL,
                           (const sockaddr *)&to, sizeof to);
        if (n >= 0)
            return (int)n;
        if (errno == EINTR || (tries == 0 && stale_udp_refusal(sock)))
            continue;
        return io_result();
    }
}

int hal_sock_bind(hal_sock *sock, uint32_t address, uint16_t port)
{
    if (!sock || sock->type != HAL_SOCK_UDP)
        return -1;
    sockaddr_in a = make_addr(address, port);
    if (bind(sock->fd, (const sockaddr *)&a, sizeof a) != 0)
        return io_result();
    return 0;
}

uint32_t hal_sock_get_type(hal_sock *sock)
{
    return sock ? sock->type : 0;
}

uint32_t hal_sock_get_state(hal_sock *sock)
{
    return sock ? sock->state : 0;
}

int hal_sock_get_handle(hal_sock *sock)
{
    return sock ? sock->fd : -1;
}

void *hal_sock_get_data(hal_sock *sock)
{
    return sock ? sock->data : nullptr;
}

void hal_sock_set_data(hal_sock *sock, void *data)
{
    if (sock)
        sock->data = data;
}

hal_ctx *hal_sock_context(hal_sock *sock)
{
    return sock ? hal_network_context(sock->network) : nullptr;
}
