// The test server itself: its frames agree with the engine's codec, its
// directory fixture reads as written, and it answers a plain TCP and UDP
// client the way the engine tests rely on.
#include "etpacket.h"
#include "ptt_net.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "ptt_server.h"
#include "raw_client.h"
#include "sos.pb-c.h"
#include "test_support.h"

#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ptt::test;

namespace
{

TEST(PttWire, FramesMatchTheEngineCodec)
{
    for (uint8_t broad : {0, 1}) {
        etpacket *codec = etpacket_new(broad, nullptr);
        Ptt__Rr__Login login = PTT__RR__LOGIN__INIT;
        login.account = (char *)"dispatcher";
        login.password = (char *)"EFE0EF527057A704259299FD98908DFA";
        login.has_version = 1;
        login.version = 3413;
        for (const ProtobufCMessage *msg : {&login.base}) {
            uint8_t *frame = nullptr;
            int32_t n = etpacket_pack(codec, &frame, msg, 1);
            ASSERT_GT(n, 0);
            EXPECT_EQ(Bytes(frame, frame + n), pack_frame(*msg, broad, true));
            Bytes buf(frame, frame + n);
            Frame f;
            ASSERT_EQ(take_frame(buf, broad, f), 1);
            EXPECT_EQ(f.name, "ptt.rr.Login");
            EXPECT_EQ(message_text(f.msg.get()),
                      "account: \"dispatcher\" password: \"EFE0EF527057A704259299FD98908DFA\" "
                      "version: 3413");
            free(frame);
        }
        etpacket_destroy(codec);
        free(codec);
    }
    EXPECT_EQ(frame_checksum((const uint8_t *)"abc", 3), 0x024D0127u);
    const uint8_t ff = 0xFF, x80 = 0x80;
    EXPECT_EQ(frame_checksum(&ff, 1), 0u);
    EXPECT_EQ(frame_checksum(&x80, 1), 0x00620062u);
}

TEST(PttWire, TakeFrameWaitsForWholeFramesAndRejectsBrokenOnes)
{
    Ptt__Net__Ping ping = PTT__NET__PING__INIT;
    Bytes whole = pack_frame(ping.base, false, true);
    Bytes part(whole.begin(), whole.end() - 1);
    Frame f;
    EXPECT_EQ(take_frame(part, false, f), 0);
    Bytes broken = {0, 0, 0, 8, 0, 1, 'x', 0, 0, 0, 0, 0};
    EXPECT_EQ(take_frame(broken, false, f), -1);
    Bytes unknown = pack_raw_frame("ptt.Nothing", {1}, false, false);
    ASSERT_EQ(take_frame(unknown, false, f), 1);
    EXPECT_EQ(f.msg, nullptr);
}

TEST(PttDirectory, FixtureReadsAsWritten)
{
    Directory dir;
    std::string error;
    ASSERT_TRUE(dir.load(default_directory_path(), &error)) << error;
    ASSERT_NE(dir.user_by_account("carol"), nullptr);
    EXPECT_EQ(dir.user_by_account("carol")->name, "Carol 3");
    EXPECT_EQ(dir.user_by_account("nobody"), nullptr);
    EXPECT_EQ(dir.groups.at(2002).name, "Fire Brigade");
    EXPECT_EQ(dir.members_of(2003).size(), 5u);
    EXPECT_EQ(dir.departments.at(3002).super, 3001u);
    EXPECT_EQ(dir.departments.at(3002).gids, std::vector<uint32_t>{2002});
    EXPECT_EQ(dir.contacts.count(1000), 2u);

    Directory bad;
    EXPECT_FALSE(bad.parse("user 1 a tooshort 0 A\n", &error));
    EXPECT_EQ(error, "line 1: user 1 a tooshort 0 A");
    EXPECT_FALSE(bad.parse("member 1 2 maybe\n", &error));
    EXPECT_FALSE(bad.parse("dgroup 9 1\n", &error));
}

int32_t login_result(PttServer &server, const char *account, const char *password)
{
    RawClient c(server.tcp_port());
    EXPECT_TRUE(c.connected);
    Ptt__Rr__Login login = PTT__RR__LOGIN__INIT;
    login.account = (char *)account;
    login.password = (char *)password;
    c.send(login.base);
    Frame f = c.next();
    EXPECT_EQ(f.name, "ptt.rr.LoginAck");
    return f.msg ? reinterpret_cast<Ptt__Rr__LoginAck *>(f.msg.get())->result : 99;
}

TEST(PttServerTest, LoginIsJudgedByTheDirectoryUnlessForced)
{
    PttServer server;
    ASSERT_TRUE(server.start());
    EXPECT_EQ(login_result(server, "alice", "5f807e1813957bd22b735fdd1349a961"), 0);
    EXPECT_EQ(login_result(server, "alice", "00000000000000000000000000000000"), -2);
    EXPECT_EQ(login_result(server, "nobody", "x"), -4);
    server.set_login_result(-6);
    EXPECT_EQ(login_result(server, "alice", "5F807E1813957BD22B735FDD1349A961"), -6);
    ASSERT_TRUE(server.wait_count("ptt.rr.Login", 4));
    auto logins = server.received("ptt.rr.Login");
    EXPECT_EQ(logins[2].text, "account: \"nobody\" password: \"x\"");
}

TEST(PttServerTest, KickoutAndCloseArriveTogether)
{
    PttServer server;
    ASSERT_TRUE(server.start());
    RawClient c(server.tcp_port());
    ASSERT_TRUE(server.wait_clients(1));
    server.kickout(3, true);
    Frame f = c.next();
    ASSERT_EQ(f.name, "ptt.push.Kickout");
    auto *kick = reinterpret_cast<Ptt__Push__Kickout *>(f.msg.get());
    EXPECT_TRUE(kick->has_reason_code);
    EXPECT_EQ(kick->reason_code, 3);
    EXPECT_EQ(c.next().name, ""); // then the close
}

// The scripted pushes carry their texts byte for byte (quotes, backslash,
// line breaks, format markers) and go out in the order they were asked for.
TEST(PttServerTest, ScriptedPushesArriveExactAndInOrder)
{
    PttServer server;
    ASSERT_TRUE(server.start());
    RawClient c(server.tcp_port());
    ASSERT_TRUE(server.wait_clients(1));
    const std::string name = "Eve \"x\" 'y' \\ %2\nz";
    rename_user(server, 1001, name);
    SosAlarmPush alarm;
    alarm.uuid = 0x123456789ULL;
    alarm.reporter = 1001;
    alarm.gid = 2001;
    alarm.address = "Main St 1\nBack door \"B\"";
    push_sos_alarm(server, alarm);
    flood_member_changes(server, 2001, 1002, 5);

    Frame users = c.next();
    ASSERT_EQ(users.name, "ptt.push.UsersChanged");
    auto *u = reinterpret_cast<Ptt__Push__UsersChanged *>(users.msg.get());
    ASSERT_EQ(u->n_users, 1u);
    EXPECT_EQ(u->users[0]->uid, 1001u);
    EXPECT_EQ(std::string(u->users[0]->name), name);
    EXPECT_EQ(server.directory().users.at(1001).name, name);

    Frame sos = c.next();
    ASSERT_EQ(sos.name, "sos.AlarmNew");
    auto *a = reinterpret_cast<Sos__AlarmNew *>(sos.msg.get())->alarm;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->uuid, 0x123456789ULL);
    EXPECT_EQ(a->reporter, 1001u);
    EXPECT_EQ(a->gid, 2001u);
    ASSERT_NE(a->location, nullptr);
    EXPECT_EQ(std::string(a->location->address), alarm.address);

    for (int i = 0; i < 5; i++) {
        SCOPED_TRACE(i);
        Frame f = c.next();
        ASSERT_EQ(f.name, "ptt.push.MembersChanged");
        auto *m = reinterpret_cast<Ptt__Push__MembersChanged *>(f.msg.get());
        ASSERT_EQ(m->n_changes, 1u);
        EXPECT_EQ(m->changes[0]->gid, 2001u);
        EXPECT_EQ(m->changes[0]->n_left_members, i % 2 == 0 ? 1u : 0u);
        EXPECT_EQ(m->changes[0]->n_joined_members, i % 2 == 0 ? 0u : 1u);
    }
}

TEST(PttServerTest, AddressingNamesTheTcpPortInNetworkOrder)
{
    PttServer server;
    ASSERT_TRUE(server.start());
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server.udp_port());
    Ptt__Rr__QueryServer q = PTT__RR__QUERY_SERVER__INIT;
    q.version = (char *)"";
    Bytes f = pack_frame(q.base, false, false);
    ASSERT_EQ(sendto(fd, f.data(), f.size(), 0, (sockaddr *)&a, sizeof(a)), (ssize_t)f.size());
    pollfd p = {fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    uint8_t reply[512];
    ssize_t n = recv(fd, reply, sizeof(reply), 0);
    close(fd);
    Bytes buf(reply, reply + (n > 0 ? n : 0));
    Frame r;
    ASSERT_EQ(take_frame(buf, false, r), 1);
    auto *ack = reinterpret_cast<Ptt__Rr__QueryServerAck *>(r.msg.get());
    ASSERT_EQ(ack->n_servers, 1u);
    EXPECT_EQ(ack->servers[0]->ip, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ack->servers[0]->port, (uint32_t)htons(server.tcp_port()));
    // Recorded once its handler has run, which may be after the answer
    // arrived here.
    ASSERT_TRUE(server.wait_count("ptt.rr.QueryServer", 1));
    EXPECT_TRUE(server.received("ptt.rr.QueryServer")[0].udp);
}

// A server stopped with a client still connected leaves its side of that
// connection in TIME_WAIT; the next server on the same TCP port (the run
// script restarted, a fixed --tcp-port) must still get the port.
TEST(PttServerTest, RestartsOnTheSameTcpPortAfterClosingAClient)
{
    uint16_t port = 0;
    {
        PttServer first;
        ASSERT_TRUE(first.start());
        port = first.tcp_port();
        RawClient c(port);
        ASSERT_TRUE(c.connected);
        ASSERT_TRUE(first.wait_clients(1));
        first.stop();
        EXPECT_EQ(c.next().name, ""); // the server closed first
    }
    PttServer::Options options;
    options.tcp_port = port;
    PttServer second(options);
    std::string error;
    ASSERT_TRUE(second.start(&error)) << error;
    EXPECT_EQ(second.tcp_port(), port);
    RawClient c(port);
    EXPECT_TRUE(c.connected);
    EXPECT_TRUE(second.wait_clients(1));
}

// Tests run in parallel, each with its own server on a free port: no other
// socket may take over a server's UDP port, or the addressing queries meant
// for it go to whichever socket bound the port last.
TEST(PttServerTest, UdpPortCannotBeSharedByAnotherSocket)
{
    PttServer server;
    ASSERT_TRUE(server.start());
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    int one = 1;
    ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one)), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(server.udp_port());
    int rc = bind(fd, (sockaddr *)&a, sizeof(a));
    int err = errno;
    close(fd);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(err, EADDRINUSE);
}

} // namespace
