// What a received body decodes to: declared defaults, required fields,
// unknown fields; and what fresh messages encode to.
#include "etpacket.h"
#include "protocol_fixture.h"
#include "ptt.pb-c.h"
#include "ptt_net.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "sos.pb-c.h"

#include <functional>
#include <gtest/gtest.h>
#include <string.h>

namespace
{

using namespace ptt::test;

// Unpacks one frame of the given type and body; the frame is always consumed.
Msg decode(const etpacket *codec, const std::string &name, const Bytes &body)
{
    Bytes f = frame_of(name, body, false);
    ProtobufCMessage *m = NULL;
    EXPECT_EQ(etpacket_unpack(codec, f.data(), f.size(), &m), f.size()) << name;
    return Msg(m);
}

Bytes double_le(double v)
{
    Bytes b(8);
    memcpy(b.data(), &v, 8);
    return b;
}

struct Case {
    const char *what;
    const char *type;
    Bytes body;
    // Null: the body must not decode.
    std::function<void(const ProtobufCMessage *)> check;
};

TEST(Decode, DefaultsRequiredAndUnknownFields)
{
    Bytes coord = {0x0A, 18, 0x09};
    Bytes lon = double_le(12.5), lat = double_le(41.0);
    coord.insert(coord.end(), lon.begin(), lon.end());
    coord.push_back(0x11);
    coord.insert(coord.end(), lat.begin(), lat.end());

    const Case cases[] = {
        {"User with uid only reads its declared defaults",
         "ptt.User",
         {0x08, 0x05},
         [](const ProtobufCMessage *m) {
             auto *u = (const Ptt__User *)m;
             EXPECT_EQ(u->uid, 5u);
             EXPECT_FALSE(u->has_audio_enabled);
             EXPECT_TRUE(u->audio_enabled);
             EXPECT_FALSE(u->online);
             EXPECT_FALSE(u->sleep);
             EXPECT_FALSE(u->dnd);
             EXPECT_EQ(u->role, 0);
             EXPECT_EQ(u->department, 0u);
             EXPECT_EQ(u->name, nullptr);
         }},
        {"User without uid", "ptt.User", {0x1A, 0x01, 'a'}, nullptr},
        {"a reply holding a User without uid",
         "ptt.rr.QueryUsersAck",
         {0x08, 0x00, 0x22, 0x03, 0x1A, 0x01, 'a'},
         nullptr},
        {"Group type reads BUILTIN",
         "ptt.Group",
         {0x08, 0x01},
         [](const ProtobufCMessage *m) {
             EXPECT_EQ(((const Ptt__Group *)m)->type, PTT__GROUP__GROUP_TYPE__BUILTIN);
         }},
        {"Location type reads WGS84", "ptt.Location", coord,
         [](const ProtobufCMessage *m) {
             auto *l = (const Ptt__Location *)m;
             EXPECT_EQ(l->type, PTT__LOCATION__TYPE__WGS84);
             ASSERT_NE(l->coordinate, nullptr);
             EXPECT_EQ(l->coordinate->longitude, 12.5);
             EXPECT_EQ(l->coordinate->latitude, 41.0);
         }},
        {"Location without its required coordinate", "ptt.Location", {0x10, 0x02}, nullptr},
        {"empty Ping reads timestamp 0",
         "ptt.net.Ping",
         {},
         [](const ProtobufCMessage *m) {
             auto *p = (const Ptt__Net__Ping *)m;
             EXPECT_FALSE(p->has_timestamp);
             EXPECT_EQ(p->timestamp, 0u);
         }},
        {"empty QueryGroup reads GROUP_INFO and all includes",
         "ptt.rr.QueryGroup",
         {},
         [](const ProtobufCMessage *m) {
             auto *q = (const Ptt__Rr__QueryGroup *)m;
             EXPECT_EQ(q->detail, PTT__RR__QUERY_GROUP__DETAIL_LEVEL__GROUP_INFO);
             EXPECT_TRUE(q->include_builtin && q->include_static && q->include_temp &&
                         q->include_created);
         }},
        {"empty WatchGroupEx expects payload 103",
         "ptt.rr.WatchGroupEx",
         {},
         [](const ProtobufCMessage *m) {
             EXPECT_EQ(((const Ptt__Rr__WatchGroupEx *)m)->expect_pt, 103u);
         }},
        {"Login with empty account and password expects payload 101",
         "ptt.rr.Login",
         {0x0A, 0x00, 0x12, 0x00},
         [](const ProtobufCMessage *m) {
             auto *l = (const Ptt__Rr__Login *)m;
             EXPECT_STREQ(l->account, "");
             EXPECT_EQ(l->expect_payload, 101u);
             EXPECT_EQ(l->roles, 0u);
             EXPECT_FALSE(l->support_inviting);
         }},
        {"empty Login lacks account", "ptt.rr.Login", {}, nullptr},
        {"empty JoinGroupAck lacks result", "ptt.rr.JoinGroupAck", {}, nullptr},
        {"JoinGroupAck with result",
         "ptt.rr.JoinGroupAck",
         {0x08, 0x00},
         [](const ProtobufCMessage *m) {
             auto *a = (const Ptt__Rr__JoinGroupAck *)m;
             EXPECT_EQ(a->result, 0);
             EXPECT_EQ(a->gid, 0u);
         }},
        {"empty MemberGetMic", "ptt.push.MemberGetMic", {}, nullptr},
        {"MemberGetMic without uid", "ptt.push.MemberGetMic", {0x08, 0x01}, nullptr},
        {"MemberGetMic with gid and uid",
         "ptt.push.MemberGetMic",
         {0x08, 0x01, 0x10, 0x02},
         [](const ProtobufCMessage *m) {
             auto *g = (const Ptt__Push__MemberGetMic *)m;
             EXPECT_EQ(g->gid, 1u);
             EXPECT_EQ(g->uid, 2u);
         }},
        {"empty ChangeRoles reads its required default",
         "ptt.push.ChangeRoles",
         {},
         [](const ProtobufCMessage *m) {
             EXPECT_EQ(((const Ptt__Push__ChangeRoles *)m)->roles, 0u);
         }},
        {"empty SingleCall reads its required default",
         "ptt.rr.SingleCall",
         {},
         [](const ProtobufCMessage *m) { EXPECT_EQ(((const Ptt__Rr__SingleCall *)m)->uid, 0u); }},
        {"CurrentGroup without gid", "ptt.push.CurrentGroup", {0x12, 0x01, 'x'}, nullptr},
        {"CustomBroadcast without msg_name", "ptt.rr.CustomBroadcast", {0x08, 0x01}, nullptr},
        {"Group keeps an unknown field 9",
         "ptt.Group",
         {0x08, 0x01, 0x48, 0x05},
         [](const ProtobufCMessage *m) {
             ASSERT_EQ(m->n_unknown_fields, 1u);
             EXPECT_EQ(m->unknown_fields[0].tag, 9u);
             EXPECT_EQ(m->unknown_fields[0].wire_type, PROTOBUF_C_WIRE_TYPE_VARINT);
             // Packed again, the unknown field travels on unchanged.
             Bytes out(protobuf_c_message_get_packed_size(m));
             protobuf_c_message_pack(m, out.data());
             EXPECT_EQ(out, (Bytes{0x08, 0x01, 0x48, 0x05}));
         }},
        // Enum fields with no declared default and no zero value read as
        // their first value.
        {"SocketAddress type reads IPV4",
         "ptt.SocketAddress",
         {},
         [](const ProtobufCMessage *m) {
             EXPECT_EQ(((const Ptt__SocketAddress *)m)->type, PTT__SOCKET_ADDRESS__TYPE__IPV4);
         }},
        {"Alarm status reads UNPROCESS",
         "sos.Alarm",
         {},
         [](const ProtobufCMessage *m) {
             EXPECT_EQ(((const Sos__Alarm *)m)->status, SOS__ALARM__STATUS__UNPROCESS);
         }},
        {"a truncated varint", "ptt.rr.JoinGroupAck", {0x08, 0xFF}, nullptr},
        {"a length running past the body", "ptt.Group", {0x08, 0x01, 0x1A, 0x05, 'a'}, nullptr},
    };
    Codec codec = make_codec(0);
    ASSERT_TRUE(codec);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Msg m = decode(codec.get(), c.type, c.body);
        if (!c.check) {
            EXPECT_EQ(m, nullptr);
            continue;
        }
        ASSERT_NE(m, nullptr);
        EXPECT_STREQ(m->descriptor->name, c.type);
        c.check(m.get());
    }
}

// A department tree nested `levels` deep below the outer department.
Bytes nested_departments(int levels)
{
    Bytes body = {0x08, 0x01};
    for (int i = 0; i < levels; i++) {
        Bytes outer = {0x08, 0x01, 0x22};
        for (size_t n = body.size();; n >>= 7) {
            outer.push_back((uint8_t)(n < 0x80 ? n : (n & 0x7F) | 0x80));
            if (n < 0x80)
                break;
        }
        outer.insert(outer.end(), body.begin(), body.end());
        body.swap(outer);
    }
    return body;
}

int depth_of(const Ptt__Department *d)
{
    int depth = 0;
    while (d->n_sub_departments == 1) {
        d = d->sub_departments[0];
        depth++;
    }
    return depth;
}

TEST(Decode, NestingIsBounded)
{
    Codec codec = make_codec(0);
    ASSERT_TRUE(codec);
    Msg ok = decode(codec.get(), "ptt.Department", nested_departments(100));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(depth_of((const Ptt__Department *)ok.get()), 100);
    EXPECT_EQ(decode(codec.get(), "ptt.Department", nested_departments(101)), nullptr);
    // Deep enough to overflow the stack inside protobuf-c if it were let in:
    // the frame is consumed and no message comes out.
    EXPECT_EQ(decode(codec.get(), "ptt.Department", nested_departments(20000)), nullptr);
    // The same bound through a reply that carries the tree.
    Bytes tree = {0x08, 0x00, 0x12};
    Bytes deep = nested_departments(100);
    for (size_t n = deep.size();; n >>= 7) {
        tree.push_back((uint8_t)(n < 0x80 ? n : (n & 0x7F) | 0x80));
        if (n < 0x80)
            break;
    }
    tree.insert(tree.end(), deep.begin(), deep.end());
    EXPECT_EQ(decode(codec.get(), "ptt.rr.QueryDepartmentTreeAck", tree), nullptr);
}

TEST(Encode, FreshMessagesAndEmptyBodies)
{
    Codec codec = make_codec(0);
    ASSERT_TRUE(codec);
    Ptt__Rr__Logout logout = PTT__RR__LOGOUT__INIT;
    Ptt__Rr__SynchDatabase synch = PTT__RR__SYNCH_DATABASE__INIT;
    Ptt__Rr__GetWatchGroup watch = PTT__RR__GET_WATCH_GROUP__INIT;
    Ptt__Net__Ping ping = PTT__NET__PING__INIT;
    Ptt__Rr__QueryGroup query = PTT__RR__QUERY_GROUP__INIT;
    for (const ProtobufCMessage *m :
         {&logout.base, &synch.base, &watch.base, &ping.base, &query.base}) {
        EXPECT_TRUE(body_of(pack_frame(codec.get(), m, 1)).empty()) << m->descriptor->name;
    }
    // protobuf-c always writes required fields, unset strings as empty ones.
    Ptt__Rr__Login login = PTT__RR__LOGIN__INIT;
    EXPECT_EQ(login.expect_payload, 101u);
    EXPECT_EQ(login.roles, 0u);
    EXPECT_EQ(body_of(pack_frame(codec.get(), &login.base, 1)), (Bytes{0x0A, 0x00, 0x12, 0x00}));
}

TEST(Encode, PackedListsTravelAsOneRun)
{
    Codec codec = make_codec(0);
    ASSERT_TRUE(codec);
    uint32_t gids[] = {1, 300};
    Ptt__Rr__QueryMembers q = PTT__RR__QUERY_MEMBERS__INIT;
    q.n_gids = 2;
    q.gids = gids;
    EXPECT_EQ(body_of(pack_frame(codec.get(), &q.base, 1)), (Bytes{0x0A, 0x03, 0x01, 0xAC, 0x02}));
    // Unpacked lists (not declared packed) travel one tag per entry.
    Ptt__Rr__RemoveContacts r = PTT__RR__REMOVE_CONTACTS__INIT;
    r.n_uids = 2;
    r.uids = gids;
    EXPECT_EQ(body_of(pack_frame(codec.get(), &r.base, 1)), (Bytes{0x08, 0x01, 0x08, 0xAC, 0x02}));
}

} // namespace
