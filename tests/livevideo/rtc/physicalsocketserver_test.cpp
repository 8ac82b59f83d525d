// Sockets of the physical socket server on loopback: TCP and UDP through the
// server's events, the deferred close after an end of file, options, the MTU
// estimate and the asserts.
#include "rtc/osversion.h"
#include "rtc/physicalsocketserver.h"
#include "rtc/timeutils.h"
#include "rtc/winping.h"
#include "rtc_fixture.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using rtc_test::LogFolder;

namespace
{

// What a socket's signals reported, in order.
struct Events {
    std::vector<std::string> seen;
    int close_error = -1;
    void Watch(rtc::AsyncSocket *s)
    {
        s->SignalReadEvent.connect(this, [this](rtc::AsyncSocket *) { seen.push_back("read"); });
        s->SignalWriteEvent.connect(this, [this](rtc::AsyncSocket *) { seen.push_back("write"); });
        s->SignalConnectEvent.connect(this,
                                      [this](rtc::AsyncSocket *) { seen.push_back("connect"); });
        s->SignalCloseEvent.connect(this, [this](rtc::AsyncSocket *, int err) {
            seen.push_back("close");
            close_error = err;
        });
    }
    bool Saw(const std::string &what) const
    {
        return std::find(seen.begin(), seen.end(), what) != seen.end();
    }
    void Reset()
    {
        seen.clear();
    }
};

struct SocketTest : ::testing::Test {
    LogFolder log;
    rtc::PhysicalSocketServer ss;

    // Runs the server's wait with I/O until pred holds; bounded.
    bool PumpUntil(const std::function<bool()> &pred, int limit_ms = 10000)
    {
        int64_t stop = rtc::SystemTimeMillis() + limit_ms;
        while (!pred()) {
            if (rtc::SystemTimeMillis() >= stop)
                return false;
            if (!ss.Wait(20, true))
                return false;
        }
        return true;
    }

    std::unique_ptr<rtc::AsyncSocket> Listener()
    {
        std::unique_ptr<rtc::AsyncSocket> s(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
        EXPECT_NE(nullptr, s);
        EXPECT_EQ(0, s->Bind(rtc::SocketAddress("127.0.0.1", 0)));
        EXPECT_EQ(0, s->Listen(5));
        return s;
    }
};

TEST_F(SocketTest, TcpConnectAcceptSendAndReceive)
{
    auto listener = Listener();
    rtc::SocketAddress server_addr = listener->GetLocalAddress();
    ASSERT_NE(0, server_addr.port());
    EXPECT_EQ("127.0.0.1", server_addr.ipaddr().ToString());
    Events server_events, client_events;
    server_events.Watch(listener.get());

    std::unique_ptr<rtc::AsyncSocket> client(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
    client_events.Watch(client.get());
    ASSERT_EQ(0, client->Connect(server_addr));
    EXPECT_NE(rtc::Socket::CS_CLOSED, client->GetState());
    // The listener reports the pending connection as readable.
    ASSERT_TRUE(PumpUntil([&] { return server_events.Saw("read"); }));
    rtc::SocketAddress peer;
    std::unique_ptr<rtc::AsyncSocket> accepted(listener->Accept(&peer));
    ASSERT_NE(nullptr, accepted);
    ASSERT_TRUE(PumpUntil([&] { return client_events.Saw("connect"); }));
    EXPECT_EQ(rtc::Socket::CS_CONNECTED, client->GetState());
    EXPECT_EQ(rtc::Socket::CS_CONNECTED, accepted->GetState());
    EXPECT_EQ(client->GetLocalAddress(), peer);
    EXPECT_EQ(server_addr, client->GetRemoteAddress());

    Events accepted_events;
    accepted_events.Watch(accepted.get());
    const std::string hello = "hello over loopback";
    ASSERT_EQ(static_cast<int>(hello.size()), client->Send(hello.data(), hello.size()));
    ASSERT_TRUE(PumpUntil([&] { return accepted_events.Saw("read"); }));
    char buf[64] = {};
    int64_t ts = 0;
    ASSERT_EQ(static_cast<int>(hello.size()), accepted->Recv(buf, sizeof(buf), &ts));
    EXPECT_EQ(hello, std::string(buf, hello.size()));
    EXPECT_EQ(-1, ts);
    // Nothing more: the read would block.
    EXPECT_EQ(-1, accepted->Recv(buf, sizeof(buf), nullptr));
    EXPECT_TRUE(accepted->IsBlocking());

    // And back.
    client_events.Reset();
    ASSERT_EQ(3, accepted->Send("abc", 3));
    ASSERT_TRUE(PumpUntil([&] { return client_events.Saw("read"); }));
    ASSERT_EQ(3, client->Recv(buf, sizeof(buf), nullptr));
    EXPECT_EQ("abc", std::string(buf, 3));
}

TEST_F(SocketTest, PeerCloseIsReportedAfterTheEndOfFile)
{
    auto listener = Listener();
    Events server_events;
    server_events.Watch(listener.get());
    std::unique_ptr<rtc::AsyncSocket> client(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
    ASSERT_EQ(0, client->Connect(listener->GetLocalAddress()));
    ASSERT_TRUE(PumpUntil([&] { return server_events.Saw("read"); }));
    std::unique_ptr<rtc::AsyncSocket> accepted(listener->Accept(nullptr));
    ASSERT_NE(nullptr, accepted);
    Events events;
    events.Watch(accepted.get());

    ASSERT_EQ(4, client->Send("last", 4));
    ASSERT_EQ(0, client->Close());
    EXPECT_EQ(rtc::Socket::CS_CLOSED, client->GetState());

    ASSERT_TRUE(PumpUntil([&] { return events.Saw("read"); }));
    char buf[16];
    ASSERT_EQ(4, accepted->Recv(buf, sizeof(buf), nullptr));
    // The end of the stream reads as "would block" and is logged ...
    EXPECT_EQ(-1, accepted->Recv(buf, sizeof(buf), nullptr));
    EXPECT_TRUE(accepted->IsBlocking());
    EXPECT_FALSE(events.Saw("close"));
    EXPECT_NE(std::string::npos, log.contents().find("EOF from socket; deferring close event"));
    // ... and the close comes with the next wait, with no error.
    ASSERT_TRUE(PumpUntil([&] { return events.Saw("close"); }));
    EXPECT_EQ(0, events.close_error);
    EXPECT_EQ("close", events.seen.back());
}

TEST_F(SocketTest, SocketsDeletedByTheirOwnSignalsAreNotCalledAgain)
{
    // Two sockets readable in one round; the first one's read slot deletes
    // both, and a third one takes the address and descriptor of one of them.
    std::unique_ptr<rtc::AsyncSocket> a(ss.CreateAsyncSocket(AF_INET, SOCK_DGRAM));
    std::unique_ptr<rtc::AsyncSocket> b(ss.CreateAsyncSocket(AF_INET, SOCK_DGRAM));
    ASSERT_EQ(0, a->Bind(rtc::SocketAddress("127.0.0.1", 0)));
    ASSERT_EQ(0, b->Bind(rtc::SocketAddress("127.0.0.1", 0)));
    std::unique_ptr<rtc::AsyncSocket> sender(ss.CreateAsyncSocket(AF_INET, SOCK_DGRAM));
    ASSERT_EQ(1, sender->SendTo("x", 1, a->GetLocalAddress()));
    ASSERT_EQ(1, sender->SendTo("y", 1, b->GetLocalAddress()));

    int reads = 0;
    std::unique_ptr<rtc::AsyncSocket> newcomer;
    Events newcomer_events;
    auto slot = [&](rtc::AsyncSocket *) {
        ++reads;
        a.reset();
        b.reset();
        newcomer.reset(ss.CreateAsyncSocket(AF_INET, SOCK_DGRAM));
        newcomer_events.Watch(newcomer.get());
    };
    a->SignalReadEvent.connect(nullptr, slot);
    b->SignalReadEvent.connect(nullptr, slot);
    ASSERT_TRUE(PumpUntil([&] { return reads > 0; }));
    // Let any stale event of that round come through if it could.
    ss.Wait(50, true);
    EXPECT_EQ(1, reads);
    EXPECT_FALSE(newcomer_events.Saw("read"));
}

TEST_F(SocketTest, RefusedConnectReportsACloseWithTheError)
{
    // A port that was just free: bind, learn it, close.
    std::unique_ptr<rtc::AsyncSocket> probe(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
    ASSERT_EQ(0, probe->Bind(rtc::SocketAddress("127.0.0.1", 0)));
    rtc::SocketAddress dead = probe->GetLocalAddress();
    probe->Close();

    std::unique_ptr<rtc::AsyncSocket> client(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
    Events events;
    events.Watch(client.get());
    int rc = client->Connect(dead);
    if (rc != 0) {
        EXPECT_EQ(ECONNREFUSED, client->GetError());
        return;
    }
    ASSERT_TRUE(PumpUntil([&] { return events.Saw("close"); }));
    EXPECT_EQ(ECONNREFUSED, events.close_error);
    EXPECT_FALSE(events.Saw("connect"));
    EXPECT_EQ(rtc::Socket::CS_CLOSED, client->GetState());
}

TEST_F(SocketTest, UdpSendToAndReceiveFrom)
{
    for (const char *loopback : {"127.0.0.1", "::1"}) {
        rtc::SocketAddress any(loopback, 0);
        std::unique_ptr<rtc::AsyncSocket> a(ss.CreateAsyncSocket(any.family(), SOCK_DGRAM));
        std::unique_ptr<rtc::AsyncSocket> b(ss.CreateAsyncSocket(any.family(), SOCK_DGRAM));
        ASSERT_NE(nullptr, a) << loopback;
        if (a->Bind(any) != 0 && any.family() == AF_INET6) {
            std::cout << "no IPv6 loopback here: " << a->GetError() << "\n";
            continue;
        }
        ASSERT_EQ(0, b->Bind(any)) << loopback;
        Events b_events;
        b_events.Watch(b.get());
        // A fresh UDP socket may write at once.
        ASSERT_TRUE(PumpUntil([&] { return b_events.Saw("write"); }));

        for (int round = 0; round < 3; round++) {
            b_events.Reset();
            std::string datagram = "datagram " + std::to_string(round);
            ASSERT_EQ(static_cast<int>(datagram.size()),
                      a->SendTo(datagram.data(), datagram.size(), b->GetLocalAddress()));
            ASSERT_TRUE(PumpUntil([&] { return b_events.Saw("read"); }));
            char buf[64];
            rtc::SocketAddress from;
            int n = b->RecvFrom(buf, sizeof(buf), &from, nullptr);
            ASSERT_EQ(static_cast<int>(datagram.size()), n);
            EXPECT_EQ(datagram, std::string(buf, n));
            EXPECT_EQ(a->GetLocalAddress(), from) << loopback;
            EXPECT_EQ(loopback, from.ipaddr().ToString());
        }
    }
}

TEST_F(SocketTest, WrapTakesOverADescriptor)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    std::unique_ptr<rtc::AsyncSocket> wrapped(ss.WrapSocket(fd));
    ASSERT_NE(nullptr, wrapped);
    ASSERT_EQ(0, wrapped->Bind(rtc::SocketAddress("127.0.0.1", 0)));
    char buf[4];
    EXPECT_EQ(-1, wrapped->RecvFrom(buf, sizeof(buf), nullptr, nullptr));
    EXPECT_TRUE(wrapped->IsBlocking()); // made non-blocking
}

TEST_F(SocketTest, OptionsTranslateOrAreRefused)
{
    std::unique_ptr<rtc::AsyncSocket> s(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
    ASSERT_EQ(0, s->SetOption(rtc::Socket::OPT_NODELAY, 1));
    int value = 0;
    ASSERT_EQ(0, s->GetOption(rtc::Socket::OPT_NODELAY, &value));
    EXPECT_NE(0, value);
    ASSERT_EQ(0, s->SetOption(rtc::Socket::OPT_DONTFRAGMENT, 1));
    ASSERT_EQ(0, s->GetOption(rtc::Socket::OPT_DONTFRAGMENT, &value));
    EXPECT_EQ(1, value);
    ASSERT_EQ(0, s->SetOption(rtc::Socket::OPT_DONTFRAGMENT, 0));
    ASSERT_EQ(0, s->GetOption(rtc::Socket::OPT_DONTFRAGMENT, &value));
    EXPECT_EQ(0, value);
    ASSERT_EQ(0, s->SetOption(rtc::Socket::OPT_RCVBUF, 65536));
    ASSERT_EQ(0, s->GetOption(rtc::Socket::OPT_RCVBUF, &value));
    EXPECT_GE(value, 65536);
    EXPECT_EQ(-1, s->SetOption(rtc::Socket::OPT_DSCP, 46));
    EXPECT_NE(std::string::npos, log.contents().find("Socket::OPT_DSCP not supported.\n"));
}

TEST_F(SocketTest, AddressesOfAnUnconnectedSocketAreLoggedAndNil)
{
    std::unique_ptr<rtc::AsyncSocket> s(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
    EXPECT_TRUE(s->GetRemoteAddress().IsNil());
    EXPECT_NE(std::string::npos,
              log.contents().find("GetRemoteAddress: unable to get remote addr, socket="));
    uint16_t mtu = 0;
    EXPECT_EQ(-1, s->EstimateMTU(&mtu));
    EXPECT_EQ(ENOTCONN, s->GetError());
}

TEST_F(SocketTest, EstimateMtuToLoopback)
{
    auto listener = Listener();
    std::unique_ptr<rtc::AsyncSocket> client(ss.CreateAsyncSocket(AF_INET, SOCK_STREAM));
    ASSERT_EQ(0, client->Connect(listener->GetLocalAddress()));
    Events events;
    events.Watch(client.get());
    ASSERT_TRUE(PumpUntil([&] { return events.Saw("connect"); }));

    uint16_t mtu = 0;
    int rc = client->EstimateMTU(&mtu);
    if (!rtc::WinPing().IsValid()) {
        // Neither raw nor datagram ICMP sockets may be opened here.
        EXPECT_EQ(-1, rc);
        EXPECT_EQ(EINVAL, client->GetError());
        GTEST_SKIP() << "no ICMP socket can be opened by this process";
    }
    ASSERT_EQ(0, rc) << client->GetError();
    // Loopback's MTU is 65536: the largest probe goes through whole.
    EXPECT_EQ(65535, mtu);
}

TEST_F(SocketTest, EstimateMtuToIPv6Loopback)
{
    std::unique_ptr<rtc::AsyncSocket> udp(ss.CreateAsyncSocket(AF_INET6, SOCK_DGRAM));
    if (!udp || udp->Bind(rtc::SocketAddress("::1", 0)) != 0)
        GTEST_SKIP() << "no IPv6 loopback here";
    // A connected UDP socket has a remote address without any handshake.
    ASSERT_EQ(0, udp->Connect(rtc::SocketAddress("::1", 9)));
    uint16_t mtu = 0;
    int rc = udp->EstimateMTU(&mtu);
    if (rc != 0 && udp->GetError() == EINVAL)
        GTEST_SKIP() << "no ICMP socket can be opened by this process";
    ASSERT_EQ(0, rc) << udp->GetError();
    EXPECT_EQ(65535, mtu);
}

TEST(PingTest, RefusesZeroParametersAndReportsTooLarge)
{
    LogFolder log;
    rtc::WinPing ping;
    if (!ping.IsValid())
        GTEST_SKIP() << "no ICMP socket can be opened by this process";
    rtc::IPAddress loop(0x7F000001u);
    EXPECT_EQ(rtc::WinPing::PING_INVALID_PARAMS, ping.Ping(loop, 0, 1000, 1, false));
    EXPECT_EQ(rtc::WinPing::PING_INVALID_PARAMS, ping.Ping(loop, 10, 0, 1, false));
    EXPECT_EQ(rtc::WinPing::PING_INVALID_PARAMS, ping.Ping(loop, 10, 1000, 0, false));
    EXPECT_NE(std::string::npos,
              log.contents().find("IcmpSendEcho: data_size/timeout/ttl is 0.\n"));
    EXPECT_EQ(rtc::WinPing::PING_SUCCESS, ping.Ping(loop, 56, 5000, 64, true));
    // Larger than any IP datagram.
    EXPECT_EQ(rtc::WinPing::PING_TOO_LARGE, ping.Ping(loop, 70000, 1000, 1, false));
}

TEST(OsVersionTest, KernelNumbers)
{
    int major = -1, minor = -1, build = -1;
    ASSERT_TRUE(rtc::GetOsVersion(&major, &minor, &build));
    EXPECT_GE(major, 3);
    EXPECT_GE(minor, 0);
    EXPECT_GE(build, 0);
}

TEST(SocketServerDeathTest, DestroyingWithDispatchersStillAddedAsserts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    rtc_test::LogFolder log; // the dying child logs here, not beside the binary
    EXPECT_DEATH(
        {
            auto *ss = new rtc::PhysicalSocketServer;
            ss->CreateAsyncSocket(AF_INET, SOCK_DGRAM); // never closed
            delete ss;
        },
        R"(ASSERT FAILED: dispatchers_\.empty\(\))");
}

TEST_F(SocketTest, RemovingAnUnknownDispatcherIsLogged)
{
    std::unique_ptr<rtc::AsyncSocket> s(ss.CreateAsyncSocket(AF_INET, SOCK_DGRAM));
    auto *d = dynamic_cast<rtc::SocketDispatcher *>(s.get());
    ASSERT_NE(nullptr, d);
    ss.Remove(d);
    ss.Remove(d);
    EXPECT_NE(std::string::npos,
              log.contents().find("PhysicalSocketServer asked to remove a unknown dispatcher, "
                                  "potentially from a duplicate call to Add.\n"));
    ss.Add(d); // Close removes it again
}

} // namespace
