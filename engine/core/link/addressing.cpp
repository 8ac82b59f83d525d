#include "addressing.h"

#include "etpacket.h"
#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sock.h"
#include "lirko.h"
#include "post_util.h"
#include "ptt_rr.pb-c.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>

static const char *TAG = "addressing";

// Largest addressing reply read.
#define ADDRESSING_MAX_DATAGRAM 512

static void addressing_on_timeout(hal_looper *looper, double now, void *arg);
static void addressing_on_socket_readable(hal_sock *sock, void *data, int status);
static void addressing_post_server_query(hal_sock *sock, void *data, int status);

addressing_t *addressing_new(lirko_t *engine)
{
    addressing_t *self = (addressing_t *)calloc(1, sizeof(*self));
    if (self) {
        self->engine = engine;
    }
    return self;
}

void addressing_destroy(addressing_t **addressing)
{
    if (!addressing || !*addressing) {
        return;
    }
    addressing_t *self = *addressing;
    addressing_stop(self);
    free(self->account);
    free(self->context);
    free(self);
    *addressing = NULL;
}

static void replace_text(char **slot, const char *text)
{
    if (!text) {
        return;
    }
    char *copy = strdup(text);
    if (copy) {
        free(*slot);
        *slot = copy;
    }
}

void addressing_set_params(addressing_t *self, const char *account, const char *context)
{
    if (!self) {
        return;
    }
    replace_text(&self->account, account);
    replace_text(&self->context, context);
}

void addressing_stop(addressing_t *self)
{
    if (!self) {
        return;
    }
    hal_looper_cancel_timer(self->engine->looper, addressing_on_timeout, self);
    if (self->socket) {
        hal_sock_remove_readable(self->socket);
        hal_sock_remove_writable(self->socket);
        hal_sock_disconnect(self->socket);
        hal_sock_destroy(&self->socket);
    }
    self->status = ADDRESSING_IDLE;
    self->server_ip = 0;
    self->server_port = 0;
}

static void report(addressing_t *self, int result)
{
    if (self->result_cb) {
        self->result_cb(self, result, self->result_arg);
    }
}

void addressing_start(addressing_t *self, double timeout, addressing_result_fn fn, void *arg)
{
    if (!self) {
        return;
    }
    hal_log_output(self->engine->log, HAL_LOG_VERBOSE, TAG, "[%s:%d] self->status=%d",
                   "addressing_start", __LINE__, (int)self->status);
    if (self->status == ADDRESSING_RUNNING || self->status == ADDRESSING_FOUND) {
        return;
    }
    self->result_cb = fn;
    self->result_arg = arg;
    self->status = ADDRESSING_RUNNING;
    // A round that ended with a context error leaves its time-out armed; it
    // must not end this new round early.
    hal_looper_cancel_timer(self->engine->looper, addressing_on_timeout, self);
    self->timeout = timeout;
    if (timeout > 0) {
        hal_looper_set_timer(self->engine->looper, addressing_on_timeout, timeout, self);
    }
    if (!self->socket) {
        self->socket = hal_sock_new(hal_ctx_get_network(self->engine->ctx), HAL_SOCK_UDP);
        if (self->socket) {
            hal_sock_set_data(self->socket, self);
        }
    }
    if (self->socket) {
        hal_sock_readable(self->socket, addressing_on_socket_readable);
    }
    addressing_post_server_query(self->socket, self, 0);
}

// The configured list, or the built-in one written into the store.
static const char *dns_list(addressing_t *self)
{
    hal_ini *ini = self->engine->ini;
    const char *dns = hal_ini_find(ini, "network", "dns");
    if (!dns || !*dns) {
        hal_ini_replace(ini, "network", "dns", ADDRESSING_DEFAULT_DNS);
        dns = hal_ini_find(ini, "network", "dns");
    }
    return dns ? dns : ADDRESSING_DEFAULT_DNS;
}

static int pack_query(addressing_t *self, uint8_t **frame)
{
    Ptt__SystemInfo system = PTT__SYSTEM_INFO__INIT;
    system.os = (char *)"";
    system.esn = (char *)"0";
    system.meid = (char *)"0";
    system.context = self->context;
    Ptt__MobileCardInfo card = PTT__MOBILE_CARD_INFO__INIT;
    Ptt__Rr__QueryServer query = PTT__RR__QUERY_SERVER__INIT;
    query.version = (char *)"";
    query.account = self->account;
    query.system = &system;
    query.card = &card;
    return etpacket_pack(self->engine->codec, frame, &query.base, 0);
}

static void addressing_post_server_query(hal_sock *sock, void *data, int status)
{
    (void)sock;
    (void)status;
    addressing_t *self = (addressing_t *)data;
    hal_log *log = self->engine->log;
    uint8_t *frame = NULL;
    int size = pack_query(self, &frame);
    if (size < 4) {
        hal_log_output(log, HAL_LOG_ERROR, TAG, "%s pack error, pkgsize:%d",
                       "addressing_post_server_query", size);
        free(frame);
        return;
    }
    if (self->socket) {
        // Called again when the socket becomes writable after a would-block.
        hal_sock_remove_writable(self->socket);
    }
    const char *dns = dns_list(self);
    hal_log_output(log, HAL_LOG_VERBOSE, TAG, "dns:%s", dns);
    const char *entry = dns;
    while (entry && *entry) {
        const char *comma = strchr(entry, ',');
        size_t len = comma ? (size_t)(comma - entry) : strlen(entry);
        const char *next = comma ? comma + 1 : NULL;
        char item[128];
        if (len >= sizeof(item)) {
            entry = next;
            continue;
        }
        memcpy(item, entry, len);
        item[len] = '\0';
        entry = next;
        char *colon = strchr(item, ':');
        if (!colon) {
            continue;
        }
        *colon = '\0';
        struct in_addr parsed;
        // An entry whose address does not parse is skipped, not sent to
        // whatever the conversion's error value happens to name.
        if (inet_pton(AF_INET, item, &parsed) != 1) {
            continue;
        }
        uint32_t address = parsed.s_addr;
        uint32_t port = htons((uint16_t)atoi(colon + 1));
        if (address == 0 || port == 0) {
            continue;
        }
        int ret = hal_sock_write_to(self->socket, frame, (uint32_t)size, address, (uint16_t)port);
        if (ret == -2) {
            hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s 2 hal_sock_write_to ret:%d",
                           "addressing_post_server_query", ret);
            hal_sock_writable(self->socket, addressing_post_server_query);
            break;
        }
        if (ret < 0) {
            hal_log_output(log, HAL_LOG_VERBOSE, TAG, "%s 3 hal_sock_write_to ret:%d",
                           "addressing_post_server_query", ret);
        }
    }
    free(frame);
}

static void addressing_on_socket_readable(hal_sock *sock, void *data, int status)
{
    (void)sock;
    (void)status;
    addressing_t *self = (addressing_t *)data;
    if (!self->socket) {
        addressing_stop(self);
        report(self, ADDRESSING_RESULT_FAILED);
        return;
    }
    hal_sock_remove_writable(self->socket);
    uint8_t buf[ADDRESSING_MAX_DATAGRAM];
    uint32_t from_ip = 0;
    uint16_t from_port = 0;
    int n = hal_sock_read_from(self->socket, buf, sizeof(buf), &from_ip, &from_port);
    if (n == -2) {
        return;
    }
    if (n <= 0) {
        addressing_stop(self);
        report(self, ADDRESSING_RESULT_FAILED);
        return;
    }
    uint32_t ip = 0;
    uint32_t port = 0;
    int32_t result = 0;
    if (post_util_parse_query_server_ack(self->engine, buf, (uint32_t)n, &ip, &port, &result) !=
        0) {
        return; // not a whole, decodable reply: keep waiting
    }
    switch (result) {
    case -2:
        self->status = ADDRESSING_FAILED;
        report(self, ADDRESSING_RESULT_FAILED);
        break;
    case 0:
        if (self->status == ADDRESSING_FOUND) {
            break;
        }
        // Used as carried: the server sends both already in network order.
        self->server_ip = ip;
        self->server_port = port;
        self->status = ADDRESSING_FOUND;
        report(self, ADDRESSING_RESULT_FOUND);
        break;
    case -1:
        self->status = ADDRESSING_IDLE;
        report(self, ADDRESSING_RESULT_CONTEXT_ERROR);
        break;
    default:
        break;
    }
}

static void addressing_on_timeout(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    (void)now;
    addressing_t *self = (addressing_t *)arg;
    addressing_stop(self);
    report(self, ADDRESSING_RESULT_TIMEOUT);
}
