// Server addressing: before each TCP connection attempt the engine asks its
// addressing servers over UDP (one ptt.rr.QueryServer datagram to every
// [network] dns entry) which signalling server to use; the first usable
// ptt.rr.QueryServerAck wins. Owned by the connection, which starts it,
// receives its one result through a callback and stops it. Looper only.
#ifndef ADDRESSING_H
#define ADDRESSING_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct hal_sock hal_sock;
typedef struct addressing_t addressing_t;

enum addressing_status {
    ADDRESSING_IDLE = 0,
    ADDRESSING_RUNNING = 1,
    ADDRESSING_FOUND = 2,
    ADDRESSING_FAILED = 4,
};

// Results handed to the result callback.
enum addressing_result {
    ADDRESSING_RESULT_CONTEXT_ERROR = 0,
    ADDRESSING_RESULT_FOUND = 2,
    ADDRESSING_RESULT_TIMEOUT = 3,
    ADDRESSING_RESULT_FAILED = 4,
};

typedef void (*addressing_result_fn)(addressing_t *addressing, int result, void *arg);

// The list used when [network] dns is missing or empty: loopback servers.
#define ADDRESSING_DEFAULT_DNS                                                                     \
    "127.0.0.1:10200,127.0.0.1:10009,127.0.0.1:10009,127.0.0.1:10009,127.0.0.1:10009"

struct addressing_t {
    lirko_t *engine;
    uint32_t status;
    hal_sock *socket;
    addressing_result_fn result_cb;
    void *result_arg;
    uint32_t server_ip;   // network order; 0 when none
    uint32_t server_port; // network order; 0 when none
    char *account;
    char *context;
    // Seconds until the attempt times out, set by the connection before
    // each start (its retry interval - 2.0).
    double timeout;
};

addressing_t *addressing_new(lirko_t *engine);
// Stops and frees; clears *addressing. NULL is ignored.
void addressing_destroy(addressing_t **addressing);
// Stores copies of both texts; NULL keeps the old copy.
void addressing_set_params(addressing_t *addressing, const char *account, const char *context);
// Starts a query round unless one runs or a server was found. The result
// arrives through fn.
void addressing_start(addressing_t *addressing, double timeout, addressing_result_fn fn, void *arg);
// Cancels the time-out, closes the socket; status, server_ip and
// server_port become 0.
void addressing_stop(addressing_t *addressing);

#ifdef __cplusplus
}
#endif

#endif
