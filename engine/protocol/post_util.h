// Request builders: fill the common "ptt" requests with the values the engine
// always uses and hand them to the connection at once. Messages live on the
// builder's stack; only the shared Ping record outlives a call. Looper thread
// only.
//
// The builders reach the engine record (connection, INI store, codec, voice
// payload type) and the connection's send operations through one port that
// the engine installs when it starts (post_util_set_port). Tests install a
// port that captures what would be sent.
#ifndef POST_UTIL_H
#define POST_UTIL_H

#include "etpacket.h"
#include "ptt_net.pb-c.h"

#include <protobuf-c/protobuf-c.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct connection_t connection_t;
typedef struct hal_ini hal_ini;

// Called when an awaited reply has not come in time.
typedef void (*connection_timeout_fn)(connection_t *conn, const char *ack_name, void *arg);
// The connection's send operations, as connection_send_msg and
// connection_send_msg_with_expect are declared: 0 when the frame was queued,
// -1 otherwise; the caller keeps the message.
typedef int (*connection_send_msg_fn)(connection_t *conn, const ProtobufCMessage *msg);
typedef int (*connection_send_msg_with_expect_fn)(connection_t *conn, const ProtobufCMessage *msg,
                                                  const char *ack_name, double timeout_seconds,
                                                  connection_timeout_fn timeout_fn, void *arg);

typedef struct post_util_port {
    connection_t *(*connection)(lirko_t *engine);
    hal_ini *(*ini)(lirko_t *engine);
    const etpacket *(*codec)(lirko_t *engine);
    // The voice payload type the sound layer is set to (101 or 103).
    uint32_t (*payload_type)(lirko_t *engine);
    connection_send_msg_fn send_msg;
    connection_send_msg_with_expect_fn send_msg_with_expect;
    // Timeout function of the login's reply watcher.
    connection_timeout_fn login_timeout;
} post_util_port;

// Installs a copy of port (NULL uninstalls). Every builder fails with -1
// while a member it needs is missing. Call before the looper serves requests.
void post_util_set_port(const post_util_port *port);

// MD5 of text (without its NUL) as 32 upper-case hex digits and a NUL.
// 0, or -1 for a NULL argument.
int md5_hex_string(const char *text, char out[33]);
// Name of the operating system for the login: none (NULL) on this platform,
// so the server sees no platform and an empty os.
const char *util_get_os_name(void);

// ptt.rr.Login, awaiting "ptt.rr.LoginAck" within timeout_seconds; user_arg
// goes to the timeout function. password_hashed: the password is already the
// sent text (at most 39 bytes, else -1 and nothing is sent). -1 without an
// INI store or a port; otherwise the send's result.
int post_util_login(lirko_t *engine, const char *account, const char *password, int password_hashed,
                    uint32_t roles, double timeout_seconds, void *unused, void *user_arg);
// Refills and returns the one shared ptt.net.Ping (all four fields present,
// timestamp = engine time in ms, low 32 bits); send it before the next call.
Ptt__Net__Ping *post_util_make_ping(lirko_t *engine, uint32_t gid, uint32_t uid, uint32_t seq);
// ptt.rr.QueryMembers {gids, version2 = true}.
int post_util_querygroupmembers(lirko_t *engine, const uint32_t *gids, uint32_t count);
// ptt.rr.QueryGroup with no field present (empty body).
int post_util_querygroup(lirko_t *engine);
// ptt.rr.ConfigureUser {uids; each int flag: negative = absent, else present
// as flag != 0; location_report_period always present, 1 when period != 0}.
int post_util_configureuser(lirko_t *engine, const uint32_t *uids, uint32_t count,
                            int account_enabled, int audio_enabled, int switch_location,
                            uint32_t location_report_period, int encrypt_enabled);
// ptt.rr.PostWorksheet with one worksheet {current_address = text; media_file
// {mime = payload type, data} when media is given with a nonzero length}.
int post_util_postworksheet(lirko_t *engine, void *unused, const char *text, const uint8_t *media,
                            uint32_t media_length, const uint32_t *uids, uint32_t count);
// ptt.rr.Dispatch {gid present, uids}.
int post_util_dispatch(lirko_t *engine, uint32_t gid, const uint32_t *uids, uint32_t count);
// Reads an addressing reply datagram holding one frame: 0 with result, and
// ip and port of the first listed server (0 and 0 when none); 0xFFFFFFFF,
// outputs untouched, when it holds no decodable ptt.rr.QueryServerAck.
uint32_t post_util_parse_query_server_ack(lirko_t *engine, const uint8_t *datagram, uint32_t length,
                                          uint32_t *ip, uint32_t *port, int32_t *result);

#ifdef __cplusplus
}
#endif

#endif
