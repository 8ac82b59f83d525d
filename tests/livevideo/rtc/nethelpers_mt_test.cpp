// Host-name lookup on a signal thread, a connect by host name, and the signal
// thread's lifetime rules.
#include "rtc/event.h"
#include "rtc/nethelpers.h"
#include "rtc/physicalsocketserver.h"
#include "rtc/signalthread.h"
#include "rtc/thread.h"
#include "rtc_fixture.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <netdb.h>

using rtc_test::LogFolder;

namespace
{

TEST(ResolveTest, LocalhostGivesLoopback)
{
    std::vector<rtc::IPAddress> addresses;
    ASSERT_EQ(0, rtc::ResolveHostname("localhost", AF_INET, &addresses));
    ASSERT_FALSE(addresses.empty());
    for (const rtc::IPAddress &ip : addresses)
        EXPECT_EQ(AF_INET, ip.family());
    EXPECT_EQ("127.0.0.1", addresses[0].ToString());
}

TEST(ResolveTest, LookupErrorComesBackAsItIs)
{
    std::vector<rtc::IPAddress> addresses;
    // An IPv4 literal asked for as IPv6: refused at once, without any lookup.
    int err = rtc::ResolveHostname("127.0.0.1", AF_INET6, &addresses);
    EXPECT_TRUE(err == EAI_ADDRFAMILY || err == EAI_NONAME || err == EAI_FAMILY) << err;
    EXPECT_TRUE(addresses.empty());
}

struct OwnerTest : ::testing::Test {
    LogFolder log;
    rtc::Thread owner;
    void SetUp() override
    {
        ASSERT_TRUE(owner.Start());
    }
    void TearDown() override
    {
        owner.Stop();
    }
};

TEST_F(OwnerTest, AsyncResolverReportsOnTheThreadThatStartedIt)
{
    rtc::Event done(true, false);
    rtc::AsyncResolver *resolver = nullptr;
    std::atomic<bool> on_owner{false};
    owner.Invoke<void>(RTC_FROM_HERE, [&] {
        resolver = new rtc::AsyncResolver();
        resolver->SignalDone.connect(nullptr, [&](rtc::AsyncResolver *) {
            on_owner = owner.IsCurrent();
            done.Set();
        });
        rtc::SocketAddress result;
        resolver->Start(rtc::SocketAddress("localhost", 1935));
        // Not yet: the answer comes with SignalDone.
        EXPECT_FALSE(resolver->GetResolvedAddress(AF_INET, &result));
    });
    ASSERT_TRUE(done.Wait(20000));
    EXPECT_TRUE(on_owner.load());
    owner.Invoke<void>(RTC_FROM_HERE, [&] {
        EXPECT_EQ(0, resolver->GetError());
        rtc::SocketAddress result;
        ASSERT_TRUE(resolver->GetResolvedAddress(AF_INET, &result));
        EXPECT_EQ("127.0.0.1", result.ipaddr().ToString());
        EXPECT_EQ(1935, result.port());
        EXPECT_EQ("localhost:1935", result.ToString());
        resolver->Destroy(false);
    });
}

TEST_F(OwnerTest, ConnectByHostNameResolvesFirst)
{
    rtc::Event accepted(true, false), connected(true, false);
    std::unique_ptr<rtc::AsyncSocket> listener, client, server_side;
    owner.Invoke<void>(RTC_FROM_HERE, [&] {
        auto *ss = static_cast<rtc::PhysicalSocketServer *>(owner.socketserver());
        listener.reset(ss->CreateAsyncSocket(AF_INET, SOCK_STREAM));
        ASSERT_EQ(0, listener->Bind(rtc::SocketAddress("127.0.0.1", 0)));
        ASSERT_EQ(0, listener->Listen(1));
        listener->SignalReadEvent.connect(nullptr, [&](rtc::AsyncSocket *s) {
            server_side.reset(s->Accept(nullptr));
            if (server_side)
                accepted.Set();
        });
        client.reset(ss->CreateAsyncSocket(AF_INET, SOCK_STREAM));
        client->SignalConnectEvent.connect(nullptr, [&](rtc::AsyncSocket *) { connected.Set(); });
        ASSERT_EQ(0, client->Connect(
                         rtc::SocketAddress("localhost", listener->GetLocalAddress().port())));
        EXPECT_EQ(rtc::Socket::CS_CONNECTING, client->GetState());
    });
    ASSERT_TRUE(accepted.Wait(20000));
    ASSERT_TRUE(connected.Wait(20000));
    owner.Invoke<void>(RTC_FROM_HERE, [&] {
        EXPECT_EQ(rtc::Socket::CS_CONNECTED, client->GetState());
        EXPECT_EQ("127.0.0.1", client->GetRemoteAddress().ipaddr().ToString());
        client.reset();
        server_side.reset();
        listener.reset();
    });
    EXPECT_NE(std::string::npos, log.contents().find("Resolving addr in PhysicalSocket::Connect"));
}

// Work that runs until released or told to stop, and notes its own end.
class TestWork : public rtc::SignalThread
{
  public:
    TestWork(rtc::Event *deleted, rtc::Event *release) : deleted_(deleted), release_(release) {}
    std::atomic<int> done_signals{0};
    std::atomic<bool> stopped_early{false};

  protected:
    ~TestWork() override
    {
        deleted_->Set();
    }
    void DoWork() override
    {
        while (ContinueWork()) {
            if (release_->Wait(5))
                return;
        }
        stopped_early = true;
    }

  private:
    rtc::Event *deleted_;
    rtc::Event *release_;
};

TEST_F(OwnerTest, ReleasedSignalThreadDeletesItselfWhenDone)
{
    rtc::Event deleted(true, false), release(true, false), signalled(true, false);
    owner.Invoke<void>(RTC_FROM_HERE, [&] {
        auto *work = new TestWork(&deleted, &release);
        work->SignalWorkDone.connect(nullptr, [&](rtc::SignalThread *) { signalled.Set(); });
        work->Start();
        work->Release();
    });
    EXPECT_FALSE(deleted.Wait(50));
    release.Set();
    ASSERT_TRUE(signalled.Wait(20000));
    ASSERT_TRUE(deleted.Wait(20000));
}

TEST_F(OwnerTest, DestroyWithWaitStopsTheWorkWithoutSignalling)
{
    rtc::Event deleted(true, false), release(true, false);
    std::atomic<bool> signalled{false};
    owner.Invoke<void>(RTC_FROM_HERE, [&] {
        auto *work = new TestWork(&deleted, &release);
        work->SignalWorkDone.connect(nullptr, [&](rtc::SignalThread *) { signalled = true; });
        work->Start();
        work->Destroy(true);
        // Gone by the time Destroy returns.
        EXPECT_TRUE(deleted.Wait(0));
    });
    // Let any message it might have posted come through.
    owner.Invoke<void>(RTC_FROM_HERE, [] {});
    EXPECT_FALSE(signalled.load());
}

TEST_F(OwnerTest, DestroyWithoutWaitGoesOnceTheWorkerIsDone)
{
    rtc::Event deleted(true, false), release(true, false);
    std::atomic<bool> signalled{false};
    owner.Invoke<void>(RTC_FROM_HERE, [&] {
        auto *work = new TestWork(&deleted, &release);
        work->SignalWorkDone.connect(nullptr, [&](rtc::SignalThread *) { signalled = true; });
        work->Start();
        work->Destroy(false);
    });
    ASSERT_TRUE(deleted.Wait(20000));
    EXPECT_FALSE(signalled.load());
}

} // namespace
