// The test server's voice: group records with the voice address, the
// signalling wrapped in payload type 100, the floor and its pushes, and the
// relay with its record, ignore list and fault hook.
#include "ptt_net.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "ptt_server.h"
#include "raw_client.h"
#include "test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

using namespace ptt::test;

namespace
{

const char *kDirectory = "user 1000 dispatcher EFE0EF527057A704259299FD98908DFA 9 Dispatcher\n"
                         "user 1001 alice 5F807E1813957BD22B735FDD1349A961 1 Alice\n"
                         "user 1002 bob 213D93900663F8ED32FF1474B29EA738 1 Bob\n"
                         "group 2001 1 10 Patrol\n"
                         "group 2002 1 20 Duplex\n"
                         "gkey 2001 aes256 0123456789abcdef0123456789abcdef\n"
                         "duplex 2002\n"
                         "member 2001 1000 in 5\n"
                         "member 2001 1001 in 1\n"
                         "member 2001 1002 in 9\n"
                         "member 2002 1000 in\n"
                         "member 2002 1001 in\n";

class ServerVoice : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(write_file(cwd.file("dir.txt"), kDirectory));
        PttServer::Options o;
        o.directory = cwd.file("dir.txt");
        server = std::make_unique<PttServer>(o);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
    }
    // Waits until the server has handled everything the clients sent.
    void sync()
    {
        server->sync();
    }
    TempCwd cwd;
    std::unique_ptr<PttServer> server;
};

} // namespace

TEST_F(ServerVoice, GroupRecordsAnnounceVoiceAddressKeyAndDuplex)
{
    RawMember d(*server, 0, 2001);
    Ptt__Rr__QueryGroup q = PTT__RR__QUERY_GROUP__INIT;
    d.tcp->send(q.base);
    Frame f = d.tcp->next();
    ASSERT_EQ(f.name, "ptt.rr.QueryGroupAck");
    const auto &ack = as<Ptt__Rr__QueryGroupAck>(f);
    ASSERT_EQ(ack.n_groups, 2u);
    for (size_t i = 0; i < ack.n_groups; i++) {
        const Ptt__Group *g = ack.groups[i];
        EXPECT_EQ(g->ip, 0x7F000001u) << "host order";
        EXPECT_EQ(g->port, server->voice_port(g->gid));
        EXPECT_NE(g->port, 0u);
        EXPECT_EQ(g->full_duplex, g->gid == 2002);
        EXPECT_EQ(g->encrypt != nullptr, g->gid == 2001);
    }
    // The join answers with the same record; the old form carries the
    // address in the ack itself.
    server->set_join_result(std::nullopt, true);
    Ptt__Rr__JoinGroup join = PTT__RR__JOIN_GROUP__INIT;
    join.gid = 2002;
    d.tcp->send(join.base);
    f = d.tcp->next();
    const auto &jack = as<Ptt__Rr__JoinGroupAck>(f);
    EXPECT_EQ(jack.result, 0);
    EXPECT_EQ(jack.group, nullptr);
    EXPECT_EQ(jack.ip, 0x7F000001u);
    EXPECT_EQ(jack.port, server->voice_port(2002));
    server->set_join_result(-7);
    join.gid = 2001;
    d.tcp->send(join.base);
    EXPECT_EQ(as<Ptt__Rr__JoinGroupAck>(d.tcp->next()).result, -7);
    join.gid = 4242;
    server->set_join_result(std::nullopt);
    d.tcp->send(join.base);
    EXPECT_NE(as<Ptt__Rr__JoinGroupAck>(d.tcp->next()).result, 0);
}

TEST_F(ServerVoice, PingOnTheVoiceSocketEchoesTimestampAndSeq)
{
    RawMember d(*server, 0, 2001);
    Ptt__Net__Ping ping = PTT__NET__PING__INIT;
    ping.has_timestamp = ping.has_seq = 1;
    ping.timestamp = 123456;
    ping.seq = 401;
    d.udp->send(ping.base);
    Bytes raw = d.udp->next_raw();
    ASSERT_GE(raw.size(), 12u);
    EXPECT_EQ(Bytes(raw.begin(), raw.begin() + 8), Bytes({0x80, 100, 0, 0, 0, 0, 0, 0}));
    Bytes body(raw.begin() + 12, raw.end());
    Frame f;
    ASSERT_EQ(take_frame(body, false, f), 1);
    ASSERT_EQ(f.name, "ptt.net.Pong");
    EXPECT_EQ(as<Ptt__Net__Pong>(f).timestamp, 123456u);
    EXPECT_EQ(as<Ptt__Net__Pong>(f).seq, 401u);
    auto pings = server->received("ptt.net.Ping");
    ASSERT_EQ(pings.size(), 1u);
    EXPECT_EQ(pings[0].gid, 2001u);
    EXPECT_EQ(pings[0].ssrc, 1000u);

    Ptt__Rr__WatchGroup watch = PTT__RR__WATCH_GROUP__INIT;
    watch.has_gid = 1;
    watch.gid = 2001;
    d.udp->send(watch.base);
    f = d.udp->next();
    ASSERT_EQ(f.name, "ptt.rr.WatchGroupAck");
    EXPECT_EQ(as<Ptt__Rr__WatchGroupAck>(f).result, 0);
    EXPECT_EQ(as<Ptt__Rr__WatchGroupAck>(f).gid, 2001u);
}

TEST_F(ServerVoice, FloorGrantRelayAndRelease)
{
    RawMember d(*server, 0, 2001), a(*server, 1, 2001);
    sync();
    d.request(2001);
    Frame f = d.tcp->next();
    ASSERT_EQ(f.name, "ptt.rr.RequestMicAck");
    EXPECT_EQ(as<Ptt__Rr__RequestMicAck>(f).result, 0);
    EXPECT_EQ(server->floor_holder(2001), 1000u);
    f = a.udp->next();
    ASSERT_EQ(f.name, "ptt.push.MemberGetMic");
    EXPECT_EQ(as<Ptt__Push__MemberGetMic>(f).uid, 1000u);

    // The holder's voice reaches the others unchanged; the others' not.
    Bytes sent = d.voice(7);
    EXPECT_EQ(a.udp->next_raw(), sent);
    a.voice(9);
    sync();
    EXPECT_TRUE(d.udp->next_raw(100).empty());
    auto relayed = server->relayed();
    ASSERT_EQ(relayed.size(), 1u);
    EXPECT_EQ(relayed[0].from, 1000u);
    EXPECT_EQ(relayed[0].to, 1001u);
    EXPECT_EQ(relayed[0].gid, 2001u);
    EXPECT_EQ(relayed[0].datagram, sent);

    // A member that asked to ignore the talk gets nothing more of it.
    Ptt__Rr__IgnoreTalk ignore = PTT__RR__IGNORE_TALK__INIT;
    ignore.has_gid = ignore.has_uid = 1;
    ignore.gid = 2001;
    ignore.uid = 1001;
    a.udp->send(ignore.base);
    sync();
    d.voice(8);
    sync();
    EXPECT_TRUE(a.udp->next_raw(100).empty());
    EXPECT_EQ(server->relayed().size(), 1u);

    // Another member of equal or lower priority is refused.
    a.request(2001);
    f = a.tcp->next();
    EXPECT_NE(as<Ptt__Rr__RequestMicAck>(f).result, 0);
    EXPECT_EQ(server->floor_holder(2001), 1000u);

    d.request(2001, "ptt.rr.ReleaseMic");
    EXPECT_EQ(d.tcp->next().name, "ptt.rr.ReleaseMicAck");
    f = a.udp->next();
    ASSERT_EQ(f.name, "ptt.push.MemberLostMic");
    EXPECT_EQ(as<Ptt__Push__MemberLostMic>(f).uid, 1000u);
    EXPECT_EQ(server->floor_holder(2001), 0u);
}

TEST_F(ServerVoice, PreemptionByPriorityAndByScript)
{
    RawMember d(*server, 0, 2001), a(*server, 1, 2001), b(*server, 2, 2001);
    sync();
    d.request(2001);
    ASSERT_EQ(as<Ptt__Rr__RequestMicAck>(d.tcp->next()).result, 0);
    // Bob's priority 9 beats the dispatcher's 5.
    b.request(2001);
    Frame f = d.tcp->next();
    ASSERT_EQ(f.name, "ptt.push.LostMic");
    EXPECT_EQ(as<Ptt__Push__LostMic>(f).gid, 2001u);
    EXPECT_EQ(as<Ptt__Rr__RequestMicAck>(b.tcp->next()).result, 0);
    EXPECT_EQ(server->floor_holder(2001), 1002u);
    EXPECT_EQ(a.udp->next().name, "ptt.push.MemberGetMic");
    f = a.udp->next();
    EXPECT_EQ(f.name, "ptt.push.MemberLostMic");

    server->preempt(2001);
    f = b.tcp->next();
    EXPECT_EQ(f.name, "ptt.push.LostMic");
    EXPECT_EQ(server->floor_holder(2001), 0u);

    server->set_mic_result(-3);
    a.request(2001);
    EXPECT_EQ(as<Ptt__Rr__RequestMicAck>(a.tcp->next()).result, -3);
    EXPECT_EQ(server->floor_holder(2001), 0u);
}

TEST_F(ServerVoice, FullDuplexRelaysEveryoneAndTheHookDropsAndDelays)
{
    RawMember d(*server, 0, 2002), a(*server, 1, 2002);
    sync();
    server->set_relay_fault(1001, PttServer::seeded_fault(7, 3, 30));
    for (uint16_t seq = 1; seq <= 9; seq++) {
        d.voice(seq);
    }
    a.voice(100);
    EXPECT_EQ(d.udp->next_raw()[3], 100) << "everyone talks in full duplex";
    std::vector<uint16_t> got;
    for (int i = 0; i < 6; i++) {
        Bytes r = a.udp->next_raw();
        ASSERT_FALSE(r.empty());
        got.push_back(r[3]);
    }
    EXPECT_TRUE(a.udp->next_raw(200).empty());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, std::vector<uint16_t>({1, 2, 4, 5, 7, 8}));
    auto to_a = server->relayed_to(1001);
    ASSERT_EQ(to_a.size(), 9u);
    for (size_t i = 0; i < to_a.size(); i++) {
        EXPECT_EQ(to_a[i].dropped, (i + 1) % 3 == 0) << i;
        EXPECT_LE(to_a[i].delay_ms, 30u);
    }
    // The same seed gives the same faults.
    auto again = PttServer::seeded_fault(7, 3, 30);
    for (size_t i = 0; i < to_a.size(); i++) {
        EXPECT_EQ(again(i).delay_ms, to_a[i].delay_ms) << i;
    }
}

TEST(PttDirectoryVoice, KeysDuplexAndPrioritiesReadAsWritten)
{
    Directory dir;
    std::string error;
    ASSERT_TRUE(dir.parse(kDirectory, &error)) << error;
    EXPECT_EQ(dir.groups.at(2001).key, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(dir.groups.at(2001).key_method, "aes256");
    EXPECT_TRUE(dir.groups.at(2002).full_duplex);
    EXPECT_FALSE(dir.groups.at(2001).full_duplex);
    EXPECT_EQ(dir.member_prior(2001, 1002), 9);
    EXPECT_EQ(dir.member_prior(2002, 1000), 0) << "no priority given";
    EXPECT_FALSE(dir.members_of(2002)[0].prior.has_value());
    Directory bad;
    EXPECT_FALSE(bad.parse("gkey 9 aes k\n", &error)) << "unknown group";
    EXPECT_FALSE(bad.parse("duplex 9\n", &error));
}
