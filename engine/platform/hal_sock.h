// The engine's IPv4 sockets. A hal_sock wraps one non-blocking TCP or UDP
// socket and ties it to the context's looper: a connect completes
// asynchronously (optionally with a time-out), readiness arrives as callbacks
// on the looper thread. hal_network is the context's socket owner.
//
// Addresses and ports are passed as they stand in a socket address: the
// 32-bit IPv4 address and the 16-bit port in network byte order.
// Results: 0 or a byte count; -1 bad argument or error; -2 would block or
// connect in progress; -3 TCP socket not connected; -4 (to the completion
// callback) the connect timed out.
#ifndef HAL_SOCK_H
#define HAL_SOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_network hal_network;
typedef struct hal_sock hal_sock;

enum { HAL_SOCK_TCP = 1, HAL_SOCK_UDP = 2 };
enum { HAL_SOCK_IDLE = 0, HAL_SOCK_CONNECTING = 1, HAL_SOCK_CONNECTED = 2 };

typedef void (*hal_network_fn)(hal_network *network, void *data);
// Readiness (status 0) and connect completion (0, -1 failed, -4 timed out).
typedef void (*hal_sock_fn)(hal_sock *sock, void *data, int status);

// NULL for a NULL context.
hal_network *hal_network_new(hal_ctx *ctx);
void hal_network_destroy(hal_network **network);
hal_ctx *hal_network_context(hal_network *network);
void hal_network_set_data(hal_network *network, void *data);
void *hal_network_get_data(hal_network *network);
// Stores status and callback and calls the callback at once; -1 for a NULL
// network or callback (the status is stored even then).
int hal_network_startup(hal_network *network, int32_t status, hal_network_fn fn);
int32_t hal_network_status(hal_network *network);
int hal_network_shutdown(hal_network *network);
// Dotted text to a network-order address; all ones when invalid.
uint32_t hal_network_aton(const char *text);
// Dotted text in a per-thread buffer that the thread's next call reuses.
const char *hal_network_ntoa(uint32_t address);

// A non-blocking TCP (TCP_NODELAY) or UDP socket; NULL on failure.
hal_sock *hal_sock_new(hal_network *network, uint32_t type);
// Cancels the connect time-out and the looper registrations first, then
// closes the socket and frees it; the handle becomes NULL.
void hal_sock_destroy(hal_sock **sock);
// 0 connected at once (the callback is not called); -2 in progress (the
// callback reports the outcome on the looper); -1 refused or failed. A
// timeout of 0 waits without limit.
int hal_sock_connect(hal_sock *sock, const char *address, uint16_t port, double timeout,
                     hal_sock_fn fn);
int hal_sock_connect_i(hal_sock *sock, uint32_t address, uint16_t port, double timeout,
                       hal_sock_fn fn);
int hal_sock_disconnect(hal_sock *sock);
int hal_sock_is_connected(hal_sock *sock);
int hal_sock_readable(hal_sock *sock, hal_sock_fn fn);
int hal_sock_writable(hal_sock *sock, hal_sock_fn fn);
int hal_sock_remove_readable(hal_sock *sock);
int hal_sock_remove_writable(hal_sock *sock);
// Bytes received (0: TCP peer closed) or sent; -1, -2, -3.
int hal_sock_read(hal_sock *sock, void *buf, uint32_t len);
int hal_sock_write(hal_sock *sock, const void *buf, uint32_t len);
// UDP only. The sender is written when both outputs are given.
int hal_sock_read_from(hal_sock *sock, void *buf, uint32_t len, uint32_t *address, uint16_t *port);
int hal_sock_write_to(hal_sock *sock, const void *buf, uint32_t len, uint32_t address,
                      uint16_t port);
int hal_sock_bind(hal_sock *sock, uint32_t address, uint16_t port);
uint32_t hal_sock_get_type(hal_sock *sock);
uint32_t hal_sock_get_state(hal_sock *sock);
int hal_sock_get_handle(hal_sock *sock);
void *hal_sock_get_data(hal_sock *sock);
void hal_sock_set_data(hal_sock *sock, void *data);
hal_ctx *hal_sock_context(hal_sock *sock);

#ifdef __cplusplus
}
#endif

#endif
