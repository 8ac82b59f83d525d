// Sockets without a network (see stage.h): a UDP connect succeeds at once, a
// TCP connect is refused, writes are counted and dropped, and a read returns
// only what the target delivers.
#include "hal_ctx.h"
#include "hal_sock.h"
#include "stage.h"

#include <algorithm>
#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

struct hal_network {
    hal_ctx *ctx;
    void *data;
    int32_t status;
};

struct hal_sock {
    hal_network *network;
    uint32_t type;
    uint32_t state;
    void *data;
    hal_sock_fn read_fn;
    const uint8_t *pending; // the datagram being delivered, read once
    uint32_t pending_len;
};

namespace
{

std::vector<hal_sock *> g_socks; // every live socket, oldest first

} // namespace

hal_sock *stage_udp_reader(void)
{
    for (auto it = g_socks.rbegin(); it != g_socks.rend(); ++it) {
        if ((*it)->type == HAL_SOCK_UDP && (*it)->read_fn)
            return *it;
    }
    return nullptr;
}

int stage_deliver(hal_sock *sock, const uint8_t *data, uint32_t len)
{
    if (!sock || !sock->read_fn)
        return -1;
    sock->pending = data;
    sock->pending_len = len;
    sock->read_fn(sock, sock->data, 0);
    // The reader may have closed and freed the socket.
    if (std::find(g_socks.begin(), g_socks.end(), sock) != g_socks.end())
        sock->pending = nullptr;
    return 0;
}

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
    static char buf[INET_ADDRSTRLEN];
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
    s->type = type;
    g_socks.push_back(s);
    return s;
}

void hal_sock_destroy(hal_sock **psock)
{
    if (!psock || !*psock)
        return;
    g_socks.erase(std::remove(g_socks.begin(), g_socks.end(), *psock), g_socks.end());
    free(*psock);
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

int hal_sock_connect_i(hal_sock *sock, uint32_t address, uint16_t port, double timeout, hal_sock_fn)
{
    if (!sock || address == 0 || port == 0 || !(timeout >= 0) || sock->state != HAL_SOCK_IDLE)
        return -1;
    if (sock->type == HAL_SOCK_TCP)
        return -1;
    sock->state = HAL_SOCK_CONNECTED;
    return 0;
}

int hal_sock_disconnect(hal_sock *sock)
{
    if (!sock)
        return -1;
    sock->read_fn = nullptr;
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
    sock->read_fn = fn;
    return 0;
}

int hal_sock_writable(hal_sock *sock, hal_sock_fn fn)
{
    return sock && fn ? 0 : -1;
}

int hal_sock_remove_readable(hal_sock *sock)
{
    if (!sock)
        return -1;
    sock->read_fn = nullptr;
    return 0;
}

int hal_sock_remove_writable(hal_sock *sock)
{
    return sock ? 0 : -1;
}

int hal_sock_read(hal_sock *sock, void *buf, uint32_t len)
{
    if (!sock || !buf)
        return -1;
    if (!sock->pending)
        return -2;
    // A datagram longer than the buffer arrives cut, as recv would leave it.
    uint32_t n = std::min(len, sock->pending_len);
    memcpy(buf, sock->pending, n);
    sock->pending = nullptr;
    return (int)n;
}

int hal_sock_write(hal_sock *sock, const void *buf, uint32_t len)
{
    if (!sock || !buf || sock->state != HAL_SOCK_CONNECTED)
        return -1;
    return (int)len;
}

int hal_sock_read_from(hal_sock *sock, void *buf, uint32_t len, uint32_t *address, uint16_t *port)
{
    int n = hal_sock_read(sock, buf, len);
    if (n >= 0) {
        if (address)
            *address = 0;
        if (port)
            *port = 0;
    }
    return n;
}

int hal_sock_write_to(hal_sock *sock, const void *buf, uint32_t len, uint32_t, uint16_t)
{
    if (!sock || !buf)
        return -1;
    return (int)len;
}

int hal_sock_bind(hal_sock *sock, uint32_t, uint16_t)
{
    return sock ? 0 : -1;
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
    (void)sock;
    return -1;
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
    return sock && sock->network ? sock->network->ctx : nullptr;
}
