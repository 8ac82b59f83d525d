#include "post_util.h"

#include "hal_error.h"
#include "hal_ini.h"
#include "hal_time.h"
#include "md5.h"
#include "ptt.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <string.h>

namespace
{

// The port to the engine record and the connection. Written by
// post_util_set_port when the engine starts (before the looper serves
// requests), read by the builders on the looper thread.
post_util_port g_post_util_port;

// The one shared Ping record; looper thread only.
Ptt__Net__Ping g_post_util_ping = PTT__NET__PING__INIT;

// Version number the server knows this console by.
const int32_t k_client_version = 3413;
const char k_device[] = "PC_CS_QRMVL";
const char k_login_ack[] = "ptt.rr.LoginAck";

// Sent login password: 32 digest digits, or an already hashed text of at
// most 39 bytes.
const size_t k_password_buffer = 40;

int send_plain(lirko_t *engine, const ProtobufCMessage *msg)
{
    const post_util_port &p = g_post_util_port;
    if (!engine || !p.send_msg || !p.connection)
        return HAL_ERR;
    return p.send_msg(p.connection(engine), msg);
}

// An optional on/off field: a negative value leaves the setting unchanged
// on the server (the field is not sent).
void set_flag(protobuf_c_boolean *has, protobuf_c_boolean *field, int value)
{
    if (value < 0)
        return;
    *has = 1;
    *field = value != 0;
}

bool list_ok(const uint32_t *items, uint32_t count)
{
    return items || count == 0;
}

} // namespace

void post_util_set_port(const post_util_port *port)
{
    if (port)
        g_post_util_port = *port;
    else
        g_post_util_port = post_util_port{};
}

int md5_hex_string(const char *text, char out[33])
{
    static const char digits[] = "0123456789ABCDEF";
    if (!text || !out)
        return HAL_ERR;
    uint8_t digest[MD5_DIGEST_LEN];
    md5_digest(text, (uint32_t)strlen(text), digest);
    for (int i = 0; i < MD5_DIGEST_LEN; i++) {
        out[2 * i] = digits[digest[i] >> 4];
        out[2 * i + 1] = digits[digest[i] & 15];
    }
    out[32] = '\0';
    return 0;
}

const char *util_get_os_name(void)
{
    // The server's table names Windows releases only; any other system is
    // reported by the table's own fallback name rather than left out.
    return "unknown system";
}

int post_util_login(lirko_t *engine, const char *account, const char *password, int password_hashed,
                    uint32_t roles, double timeout_seconds, void *unused, void *user_arg)
{
    (void)unused;
    const post_util_port &p = g_post_util_port;
    if (!engine || !account || !password)
        return HAL_ERR;
    char sent_password[k_password_buffer];
    if (password_hashed) {
        size_t len = strlen(password);
        // A longer text would not fit the sent form; refuse it rather than
        // send a cut one the server can only reject.
        if (len >= k_password_buffer)
            return HAL_ERR;
        memcpy(sent_password, password, len + 1);
    } else {
        (void)md5_hex_string(password, sent_password);
    }
    hal_ini *ini = p.ini ? p.ini(engine) : NULL;
    if (!ini || !p.send_msg_with_expect || !p.connection || !p.payload_type)
        return HAL_ERR;

    const char *os = util_get_os_name();
    Ptt__SystemInfo system = PTT__SYSTEM_INFO__INIT;
    system.os = (char *)(os ? os : "");
    system.context = (char *)hal_ini_find(ini, "account", "context");

    uint32_t payload = p.payload_type(engine);
    Ptt__Rr__Login login = PTT__RR__LOGIN__INIT;
    login.account = (char *)account;
    login.password = sent_password;
    login.has_roles = 1;
    login.roles = roles;
    login.has_version = 1;
    login.version = k_client_version;
    login.platform = (char *)os;
    login.device = (char *)k_device;
    login.has_expect_payload = 1;
    login.expect_payload = payload;
    login.n_accept_payloads = 1;
    login.accept_payloads = &payload;
    login.system = &system;
    login.has_support_inviting = 1;
    login.support_inviting = 1;
    return p.send_msg_with_expect(p.connection(engine), &login.base, k_login_ack, timeout_seconds,
                                  p.login_timeout, user_arg);
}

Ptt__Net__Ping *post_util_make_ping(lirko_t *engine, uint32_t gid, uint32_t uid, uint32_t seq)
{
    (void)engine;
    Ptt__Net__Ping &ping = g_post_util_ping;
    ping = PTT__NET__PING__INIT;
    ping.has_timestamp = 1;
    // Milliseconds of engine time; the peer only compares them, so the low
    // 32 bits are enough.
    ping.timestamp = (uint32_t)(uint64_t)(hal_time_now() * 1000.0);
    ping.has_gid = 1;
    ping.gid = gid;
    ping.has_uid = 1;
    ping.uid = uid;
    ping.has_seq = 1;
    ping.seq = seq;
    return &ping;
}

int post_util_querygroupmembers(lirko_t *engine, const uint32_t *gids, uint32_t count)
{
    if (!list_ok(gids, count))
        return HAL_ERR;
    Ptt__Rr__QueryMembers q = PTT__RR__QUERY_MEMBERS__INIT;
    q.n_gids = count;
    q.gids = (uint32_t *)gids;
    q.has_version2 = 1;
    q.version2 = 1;
    return send_plain(engine, &q.base);
}

int post_util_querygroup(lirko_t *engine)
{
    Ptt__Rr__QueryGroup q = PTT__RR__QUERY_GROUP__INIT;
    return send_plain(engine, &q.base);
}

int post_util_configureuser(lirko_t *engine, const uint32_t *uids, uint32_t count,
                            int account_enabled, int audio_enabled, int switch_location,
                            uint32_t location_report_period, int encrypt_enabled)
{
    if (!list_ok(uids, count))
        return HAL_ERR;
    Ptt__Rr__ConfigureUser c = PTT__RR__CONFIGURE_USER__INIT;
    c.n_uids = count;
    c.uids = (uint32_t *)uids;
    set_flag(&c.has_account_enabled, &c.account_enabled, account_enabled);
    set_flag(&c.has_audio_enabled, &c.audio_enabled, audio_enabled);
    set_flag(&c.has_switch_location, &c.switch_location, switch_location);
    set_flag(&c.has_encrypt_enabled, &c.encrypt_enabled, encrypt_enabled);
    // The server reads this field as an on/off flag, not as the period.
    c.has_location_report_period = 1;
    c.location_report_period = location_report_period != 0 ? 1 : 0;
    return send_plain(engine, &c.base);
}

int post_util_postworksheet(lirko_t *engine, void *unused, const char *text, const uint8_t *media,
                            uint32_t media_length, const uint32_t *uids, uint32_t count)
{
    (void)unused;
    const post_util_port &p = g_post_util_port;
    if (!list_ok(uids, count))
        return HAL_ERR;
    Ptt__MediaFile file = PTT__MEDIA_FILE__INIT;
    Ptt__Worksheet sheet = PTT__WORKSHEET__INIT;
    sheet.current_address = (char *)text;
    if (media && media_length > 0) {
        if (!engine || !p.payload_type)
            return HAL_ERR;
        file.mime = p.payload_type(engine);
        file.has_data = 1;
        file.data.data = (uint8_t *)media;
        file.data.len = media_length;
        sheet.media_file = &file;
    }
    Ptt__Worksheet *sheets[] = {&sheet};
    Ptt__Rr__PostWorksheet post = PTT__RR__POST_WORKSHEET__INIT;
    post.n_worksheets = 1;
    post.worksheets = sheets;
    post.n_uids = count;
    post.uids = (uint32_t *)uids;
    return send_plain(engine, &post.base);
}

int post_util_dispatch(lirko_t *engine, uint32_t gid, const uint32_t *uids, uint32_t count)
{
    if (!list_ok(uids, count))
        return HAL_ERR;
    Ptt__Rr__Dispatch d = PTT__RR__DISPATCH__INIT;
    d.has_gid = 1;
    d.gid = gid;
    d.n_uids = count;
    d.uids = (uint32_t *)uids;
    return send_plain(engine, &d.base);
}

uint32_t post_util_parse_query_server_ack(lirko_t *engine, const uint8_t *datagram, uint32_t length,
                                          uint32_t *ip, uint32_t *port, int32_t *result)
{
    const post_util_port &p = g_post_util_port;
    if (!engine || !datagram || !ip || !port || !result || !p.codec)
        return ETPACKET_MALFORMED;
    const etpacket *codec = p.codec(engine);
    if (!codec)
        return ETPACKET_MALFORMED;
    ProtobufCMessage *m = NULL;
    uint32_t n = etpacket_unpack(codec, datagram, length, &m);
    if (n == 0 || n == ETPACKET_MALFORMED || !m)
        return ETPACKET_MALFORMED;
    if (m->descriptor != &ptt__rr__query_server_ack__descriptor) {
        // A decoded message of another type is ours to free too.
        protobuf_c_message_free_unpacked(m, NULL);
        return ETPACKET_MALFORMED;
    }
    const Ptt__Rr__QueryServerAck *ack = (const Ptt__Rr__QueryServerAck *)m;
    *ip = 0;
    *port = 0;
    *result = ack->result;
    if (ack->n_servers > 0 && ack->servers[0]) {
        *ip = ack->servers[0]->ip;
        *port = ack->servers[0]->port;
    }
    protobuf_c_message_free_unpacked(m, NULL);
    return 0;
}
