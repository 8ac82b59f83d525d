// Request builders, observed through a port that captures what would go to
// the connection.
#include "etpacket.h"
#include "hal_ini.h"
#include "hal_time.h"
#include "post_util.h"
#include "protocol_fixture.h"
#include "ptt.pb-c.h"
#include "ptt_net.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

namespace
{

using namespace ptt::test;

// What the engine record offers the builders.
struct FakeEngine {
    hal_ini *ini = NULL;
    etpacket *codec = NULL;
    uint32_t payload_type = 103;
    int conn_marker = 0;
};

struct Sent {
    std::string type;
    Bytes body;
    bool expect = false;
    std::string ack_name;
    double timeout = 0;
    connection_timeout_fn timeout_fn = NULL;
    void *arg = NULL;
};

// Test-only capture; each test binary runs one test at a time.
std::vector<Sent> *g_sent = NULL;
int g_send_result = 0;

FakeEngine *fake(lirko_t *engine)
{
    return reinterpret_cast<FakeEngine *>(engine);
}

void record(connection_t *conn, const ProtobufCMessage *msg, Sent s)
{
    EXPECT_NE(conn, nullptr);
    s.type = msg->descriptor->name;
    s.body.resize(protobuf_c_message_get_packed_size(msg));
    protobuf_c_message_pack(msg, s.body.data());
    g_sent->push_back(s);
}

int capture_send(connection_t *conn, const ProtobufCMessage *msg)
{
    record(conn, msg, Sent{});
    return g_send_result;
}

int capture_send_expect(connection_t *conn, const ProtobufCMessage *msg, const char *ack_name,
                        double timeout, connection_timeout_fn fn, void *arg)
{
    Sent s;
    s.expect = true;
    s.ack_name = ack_name ? ack_name : "";
    s.timeout = timeout;
    s.timeout_fn = fn;
    s.arg = arg;
    record(conn, msg, s);
    return g_send_result;
}

void login_timeout(connection_t *, const char *, void *) {}

class PostUtil : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        g_sent = &sent_;
        g_send_result = 0;
        eng_.codec = etpacket_new(0, NULL);
        ASSERT_NE(eng_.codec, nullptr);
        eng_.ini = hal_ini_new(NULL, NULL, cwd_.path().c_str());
        ASSERT_NE(eng_.ini, nullptr);
        post_util_port &port = port_;
        port.connection = [](lirko_t *e) { return (connection_t *)&fake(e)->conn_marker; };
        port.ini = [](lirko_t *e) { return fake(e)->ini; };
        port.codec = [](lirko_t *e) { return (const etpacket *)fake(e)->codec; };
        port.payload_type = [](lirko_t *e) { return fake(e)->payload_type; };
        port.send_msg = capture_send;
        port.send_msg_with_expect = capture_send_expect;
        port.login_timeout = login_timeout;
        post_util_set_port(&port);
    }
    void TearDown() override
    {
        post_util_set_port(NULL);
        hal_ini_destroy(&eng_.ini);
        etpacket_destroy(eng_.codec);
        free(eng_.codec);
        g_sent = NULL;
    }
    lirko_t *engine()
    {
        return reinterpret_cast<lirko_t *>(&eng_);
    }
    // The one message sent, decoded as type.
    template <typename T> Msg only_sent(const ProtobufCMessageDescriptor &type)
    {
        EXPECT_EQ(sent_.size(), 1u);
        if (sent_.size() != 1)
            return Msg();
        EXPECT_EQ(sent_[0].type, type.name);
        return Msg(
            protobuf_c_message_unpack(&type, NULL, sent_[0].body.size(), sent_[0].body.data()));
    }

    TempCwd cwd_;
    FakeEngine eng_;
    post_util_port port_ = {};
    std::vector<Sent> sent_;
};

TEST(Md5Hex, UpperCaseRfc1321Digests)
{
    struct Case {
        const char *in;
        const char *want;
    } cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const Case &c : cases) {
        char out[33];
        memset(out, 'x', sizeof(out));
        ASSERT_EQ(md5_hex_string(c.in, out), 0);
        EXPECT_STREQ(out, c.want);
    }
    char out[33];
    EXPECT_EQ(md5_hex_string(NULL, out), -1);
    EXPECT_EQ(md5_hex_string("abc", NULL), -1);
}

TEST_F(PostUtil, LoginCarriesTheEngineValues)
{
    ASSERT_EQ(hal_ini_replace(eng_.ini, "account", "context", "fleet7"), 0);
    int user_arg = 0;
    ASSERT_EQ(post_util_login(engine(), "alice", "abc", 0, 2, 3.0, NULL, &user_arg), 0);
    Msg m = only_sent<Ptt__Rr__Login>(ptt__rr__login__descriptor);
    ASSERT_NE(m, nullptr);
    auto *l = (const Ptt__Rr__Login *)m.get();
    EXPECT_STREQ(l->account, "alice");
    EXPECT_STREQ(l->password, "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_TRUE(l->has_roles);
    EXPECT_EQ(l->roles, 2u);
    EXPECT_TRUE(l->has_version);
    EXPECT_EQ(l->version, 3413);
    EXPECT_STREQ(l->platform, "unknown system"); // not a system the server's table names
    EXPECT_STREQ(l->device, "PC_CS_QRMVL");
    EXPECT_TRUE(l->has_expect_payload);
    EXPECT_EQ(l->expect_payload, 103u);
    ASSERT_EQ(l->n_accept_payloads, 1u);
    EXPECT_EQ(l->accept_payloads[0], 103u);
    ASSERT_NE(l->system, nullptr);
    EXPECT_STREQ(l->system->os, "unknown system");
    EXPECT_STREQ(l->system->context, "fleet7");
    EXPECT_EQ(l->system->esn, nullptr);
    EXPECT_TRUE(l->has_support_inviting && l->support_inviting);
    EXPECT_EQ(l->card, nullptr);
    EXPECT_EQ(l->product_id, nullptr);
    EXPECT_EQ(l->version2, nullptr);
    EXPECT_EQ(l->bottomversion, nullptr);
    EXPECT_FALSE(l->has_auth_method || l->has_auth_data1 || l->has_auth_data2);

    const Sent &s = sent_[0];
    EXPECT_TRUE(s.expect);
    EXPECT_EQ(s.ack_name, "ptt.rr.LoginAck");
    EXPECT_EQ(s.timeout, 3.0);
    EXPECT_EQ(s.timeout_fn, &login_timeout);
    EXPECT_EQ(s.arg, &user_arg);
}

TEST_F(PostUtil, LoginWithoutSavedContextSendsNone)
{
    eng_.payload_type = 101;
    ASSERT_EQ(post_util_login(engine(), "bob", "pw", 0, 0, 5.0, NULL, NULL), 0);
    Msg m = only_sent<Ptt__Rr__Login>(ptt__rr__login__descriptor);
    ASSERT_NE(m, nullptr);
    auto *l = (const Ptt__Rr__Login *)m.get();
    ASSERT_NE(l->system, nullptr);
    EXPECT_EQ(l->system->context, nullptr);
    EXPECT_EQ(l->expect_payload, 101u);
    EXPECT_TRUE(l->has_roles);
    EXPECT_EQ(l->roles, 0u);
}

TEST_F(PostUtil, LoginHashedPasswordIsSentAsGivenUpTo39Bytes)
{
    struct Case {
        std::string password;
        bool sent;
    } cases[] = {
        {"900150983cd24fb0d6963f7d28e17f72", true}, // lower case stays lower case
        {std::string(39, 'A'), true},
        {std::string(40, 'A'), false},
        {std::string(400, 'A'), false},
    };
    for (const Case &c : cases) {
        sent_.clear();
        int rc = post_util_login(engine(), "alice", c.password.c_str(), 1, 0, 3.0, NULL, NULL);
        if (!c.sent) {
            EXPECT_EQ(rc, -1) << c.password.size();
            EXPECT_TRUE(sent_.empty()) << c.password.size();
            continue;
        }
        EXPECT_EQ(rc, 0);
        Msg m = only_sent<Ptt__Rr__Login>(ptt__rr__login__descriptor);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(((const Ptt__Rr__Login *)m.get())->password, c.password);
    }
}

TEST_F(PostUtil, LoginFailuresSendNothingOrPassTheSendResultOn)
{
    hal_ini *ini = eng_.ini;
    eng_.ini = NULL;
    EXPECT_EQ(post_util_login(engine(), "alice", "abc", 0, 0, 3.0, NULL, NULL), -1);
    EXPECT_TRUE(sent_.empty());
    eng_.ini = ini;
    EXPECT_EQ(post_util_login(engine(), NULL, "abc", 0, 0, 3.0, NULL, NULL), -1);
    EXPECT_EQ(post_util_login(engine(), "alice", NULL, 0, 0, 3.0, NULL, NULL), -1);
    EXPECT_TRUE(sent_.empty());
    g_send_result = -1;
    EXPECT_EQ(post_util_login(engine(), "alice", "abc", 0, 0, 3.0, NULL, NULL), -1);
    EXPECT_EQ(sent_.size(), 1u);
}

TEST_F(PostUtil, PingIsOneSharedRecordStampedWithEngineTime)
{
    hal_clock_fake_enable(2000); // engine time 502.0 s
    Ptt__Net__Ping *a = post_util_make_ping(engine(), 1, 2, 3);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->has_timestamp && a->has_gid && a->has_uid && a->has_seq);
    EXPECT_EQ(a->timestamp, 502000u);
    EXPECT_EQ(a->gid, 1u);
    EXPECT_EQ(a->uid, 2u);
    EXPECT_EQ(a->seq, 3u);
    // Far on, the milliseconds keep their low 32 bits.
    hal_clock_fake_advance(5000000000ull - 2000); // engine time 5000500.0 s
    Ptt__Net__Ping *b = post_util_make_ping(engine(), 4, 5, 6);
    EXPECT_EQ(b, a);
    EXPECT_EQ(a->timestamp, (uint32_t)(5000500000ull & 0xFFFFFFFFu));
    EXPECT_EQ(a->gid, 4u);
    EXPECT_EQ(a->seq, 6u);
    hal_clock_fake_disable();
    EXPECT_TRUE(sent_.empty());
}

TEST_F(PostUtil, QueriesAndDispatch)
{
    uint32_t ids[] = {5, 300};
    ASSERT_EQ(post_util_querygroupmembers(engine(), ids, 2), 0);
    ASSERT_EQ(post_util_querygroup(engine()), 0);
    ASSERT_EQ(post_util_dispatch(engine(), 9, ids, 2), 0);
    ASSERT_EQ(sent_.size(), 3u);
    EXPECT_EQ(sent_[0].type, "ptt.rr.QueryMembers");
    // gids as one packed run, then version2 = true; detail and allow_page absent.
    EXPECT_EQ(sent_[0].body, (Bytes{0x0A, 0x03, 0x05, 0xAC, 0x02, 0x18, 0x01}));
    EXPECT_EQ(sent_[1].type, "ptt.rr.QueryGroup");
    EXPECT_TRUE(sent_[1].body.empty());
    EXPECT_EQ(sent_[2].type, "ptt.rr.Dispatch");
    EXPECT_EQ(sent_[2].body, (Bytes{0x08, 0x09, 0x10, 0x05, 0x10, 0xAC, 0x02}));
    for (const Sent &s : sent_)
        EXPECT_FALSE(s.expect);
    EXPECT_EQ(post_util_querygroupmembers(engine(), NULL, 2), -1);
    EXPECT_EQ(post_util_dispatch(engine(), 9, NULL, 1), -1);
    EXPECT_EQ(sent_.size(), 3u);
}

TEST_F(PostUtil, ConfigureUserMarksOnlyWhatChanges)
{
    struct Case {
        int account, audio, location;
        uint32_t period;
        int encrypt;
        Bytes after_uids;
    } cases[] = {
        // All flags negative: only the period flag (1 for any nonzero period).
        {-1, -1, -1, 30, -1, {0x28, 0x01}},
        {-1, -1, -1, 0, -1, {0x28, 0x00}},
        {1, 0, 7, 1, -1, {0x10, 0x01, 0x18, 0x00, 0x20, 0x01, 0x28, 0x01}},
        {-1, -1, -1, 0, 5, {0x28, 0x00, 0x30, 0x01}},
    };
    uint32_t uids[] = {77};
    for (const Case &c : cases) {
        sent_.clear();
        ASSERT_EQ(post_util_configureuser(engine(), uids, 1, c.account, c.audio, c.location,
                                          c.period, c.encrypt),
                  0);
        ASSERT_EQ(sent_.size(), 1u);
        EXPECT_EQ(sent_[0].type, "ptt.rr.ConfigureUser");
        Bytes want = {0x08, 77};
        want.insert(want.end(), c.after_uids.begin(), c.after_uids.end());
        EXPECT_EQ(sent_[0].body, want);
    }
}

TEST_F(PostUtil, WorksheetCarriesMediaOnlyWithBytes)
{
    const uint8_t media[] = {1, 2, 3};
    uint32_t uids[] = {8, 9};
    struct Case {
        const uint8_t *media;
        uint32_t len;
        bool with_file;
    } cases[] = {{media, 3, true}, {media, 0, false}, {NULL, 3, false}};
    for (const Case &c : cases) {
        sent_.clear();
        ASSERT_EQ(post_util_postworksheet(engine(), NULL, "Dock 4", c.media, c.len, uids, 2), 0);
        Msg m = only_sent<Ptt__Rr__PostWorksheet>(ptt__rr__post_worksheet__descriptor);
        ASSERT_NE(m, nullptr);
        auto *p = (const Ptt__Rr__PostWorksheet *)m.get();
        ASSERT_EQ(p->n_worksheets, 1u);
        EXPECT_STREQ(p->worksheets[0]->current_address, "Dock 4");
        EXPECT_EQ(p->worksheets[0]->phone, nullptr);
        ASSERT_EQ(p->n_uids, 2u);
        EXPECT_EQ(p->uids[1], 9u);
        if (!c.with_file) {
            EXPECT_EQ(p->worksheets[0]->media_file, nullptr);
            continue;
        }
        const Ptt__MediaFile *f = p->worksheets[0]->media_file;
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->mime, 103u);
        EXPECT_EQ(f->name, nullptr);
        ASSERT_TRUE(f->has_data);
        EXPECT_EQ(Bytes(f->data.data, f->data.data + f->data.len), (Bytes{1, 2, 3}));
    }
}

TEST_F(PostUtil, BuildersFailWithoutAPort)
{
    post_util_set_port(NULL);
    uint32_t ids[] = {1};
    EXPECT_EQ(post_util_querygroup(engine()), -1);
    EXPECT_EQ(post_util_querygroupmembers(engine(), ids, 1), -1);
    EXPECT_EQ(post_util_dispatch(engine(), 1, ids, 1), -1);
    EXPECT_EQ(post_util_configureuser(engine(), ids, 1, -1, -1, -1, 0, -1), -1);
    EXPECT_EQ(post_util_postworksheet(engine(), NULL, "x", NULL, 0, ids, 1), -1);
    EXPECT_EQ(post_util_login(engine(), "a", "b", 0, 0, 3.0, NULL, NULL), -1);
    EXPECT_TRUE(sent_.empty());
    // A NULL engine is refused even with a port.
    post_util_set_port(&port_);
    EXPECT_EQ(post_util_querygroup(NULL), -1);
}

Bytes query_server_ack_frame(const etpacket *codec, int32_t result, size_t n_servers)
{
    Ptt__Server servers[2] = {PTT__SERVER__INIT, PTT__SERVER__INIT};
    servers[0].ip = 0x0100007Fu;
    servers[0].port = 0x5C1Fu;
    servers[1].ip = 0x0200007Fu;
    servers[1].port = 1;
    Ptt__Server *list[2] = {&servers[0], &servers[1]};
    Ptt__Rr__QueryServerAck ack = PTT__RR__QUERY_SERVER_ACK__INIT;
    ack.result = result;
    ack.n_servers = n_servers;
    ack.servers = list;
    return pack_frame(codec, &ack.base, 0);
}

TEST_F(PostUtil, QueryServerAckGivesFirstServer)
{
    Bytes f = query_server_ack_frame(eng_.codec, 0, 2);
    uint32_t ip = 1, port = 1;
    int32_t result = 1;
    ASSERT_EQ(post_util_parse_query_server_ack(engine(), f.data(), (uint32_t)f.size(), &ip, &port,
                                               &result),
              0u);
    EXPECT_EQ(ip, 0x0100007Fu);
    EXPECT_EQ(port, 0x5C1Fu);
    EXPECT_EQ(result, 0);

    // No server listed: 0, with ip and port 0 and the reply's result.
    f = query_server_ack_frame(eng_.codec, -3, 0);
    ip = port = 9;
    ASSERT_EQ(post_util_parse_query_server_ack(engine(), f.data(), (uint32_t)f.size(), &ip, &port,
                                               &result),
              0u);
    EXPECT_EQ(ip, 0u);
    EXPECT_EQ(port, 0u);
    EXPECT_EQ(result, -3);
}

TEST_F(PostUtil, QueryServerAckRefusesEverythingElse)
{
    // A decodable message of another type (freed: the leak check would see it).
    Ptt__Rr__JoinGroupAck other = PTT__RR__JOIN_GROUP_ACK__INIT;
    Bytes wrong_type = pack_frame(eng_.codec, &other.base, 0);
    Bytes whole = query_server_ack_frame(eng_.codec, 0, 1);
    Bytes partial(whole.begin(), whole.end() - 1);
    Bytes undecodable = frame_of("ptt.rr.QueryServerAck", {0x10, 0x01}, false); // no result
    Bytes malformed = {0, 0, 0, 8, 0, 0, 'a', 0, 0, 0, 0, 0};
    for (const Bytes *b : {&wrong_type, &partial, &undecodable, &malformed}) {
        uint32_t ip = 11, port = 12;
        int32_t result = 13;
        EXPECT_EQ(post_util_parse_query_server_ack(engine(), b->data(), (uint32_t)b->size(), &ip,
                                                   &port, &result),
                  0xFFFFFFFFu);
        EXPECT_EQ(ip, 11u);
        EXPECT_EQ(port, 12u);
        EXPECT_EQ(result, 13);
    }
    uint32_t ip, port;
    int32_t result;
    EXPECT_EQ(post_util_parse_query_server_ack(engine(), NULL, 5, &ip, &port, &result),
              0xFFFFFFFFu);
    EXPECT_EQ(post_util_parse_query_server_ack(engine(), whole.data(), (uint32_t)whole.size(), NULL,
                                               &port, &result),
              0xFFFFFFFFu);
    EXPECT_EQ(post_util_parse_query_server_ack(engine(), whole.data(), (uint32_t)whole.size(), &ip,
                                               &port, NULL),
              0xFFFFFFFFu);
}

} // namespace
