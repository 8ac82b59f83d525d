// Loopback sockets through the context's looper, with the engine clock under
// test control so connect time-outs fire on demand.
#include "hal_ctx.h"
#include "hal_looper.h"
#include "hal_sock.h"
#include "looper_fixture.h"
#include "test_support.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using ptt::test::run_on;
using ptt::test::settle;
using ptt::test::wait_until;

namespace
{

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// Plain POSIX listener on 127.0.0.1; port in network order.
struct Listener {
    int fd = -1;
    uint16_t port = 0;
    explicit Listener(int backlog)
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = kLoopback;
        EXPECT_EQ(0, bind(fd, (sockaddr *)&a, sizeof a));
        EXPECT_EQ(0, listen(fd, backlog));
        socklen_t len = sizeof a;
        getsockname(fd, (sockaddr *)&a, &len);
        port = a.sin_port;
    }
    ~Listener()
    {
        close(fd);
    }
    int accept_one()
    {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1)
            return -1;
        return accept(fd, nullptr, nullptr);
    }
};

// A port on which nothing listens.
uint16_t closed_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = kLoopback;
    bind(fd, (sockaddr *)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, (sockaddr *)&a, &len);
    close(fd);
    return a.sin_port;
}

// Connects plain sockets to the listener until one no longer completes: its
// accept queue is then full and further SYNs are dropped, so a connect to it
// stays in progress. Linux completes connects while the backlog has room
// even when nobody accepts.
std::vector<int> fill_backlog(const Listener &l)
{
    std::vector<int> fillers;
    for (int i = 0; i < 64; i++) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = kLoopback;
        a.sin_port = l.port;
        int rc = connect(fd, (sockaddr *)&a, sizeof a);
        fillers.push_back(fd);
        if (rc == 0)
            continue;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 300) == 0)
            break; // this one hangs: the queue is full
    }
    return fillers;
}

struct Calls {
    std::vector<int> statuses;
    int reads = 0;
};

void on_done(hal_sock *, void *data, int status)
{
    static_cast<Calls *>(data)->statuses.push_back(status);
}

void on_read(hal_sock *, void *data, int)
{
    static_cast<Calls *>(data)->reads++;
}

void on_read_other(hal_sock *, void *data, int)
{
    static_cast<Calls *>(data)->reads += 100;
}

struct SockTest : ::testing::Test {
    ptt::test::TempCwd cwd;
    hal_ctx *ctx = nullptr;
    hal_looper *lp = nullptr;
    hal_network *net = nullptr;
    Calls calls;
    void SetUp() override
    {
        hal_clock_fake_enable(5000000);
        ctx = hal_ctx_new(cwd.path().c_str());
        ASSERT_NE(nullptr, ctx);
        lp = hal_ctx_get_looper(ctx);
        net = hal_ctx_get_network(ctx);
    }
    void TearDown() override
    {
        hal_ctx_destroy(&ctx);
        hal_clock_fake_disable();
    }
    hal_sock *make(uint32_t type)
    {
        hal_sock *s = hal_sock_new(net, type);
        EXPECT_NE(nullptr, s);
        hal_sock_set_data(s, &calls);
        return s;
    }
    // Socket calls belong on the looper thread, as in the engine.
    template <typename F> int on_looper(F f)
    {
        return run_on(lp, f);
    }
    size_t done_count()
    {
        return (size_t)on_looper([&] { return (int)calls.statuses.size(); });
    }
    void advance(uint64_t ms)
    {
        hal_clock_fake_advance(ms);
        settle(lp);
    }
};

TEST_F(SockTest, TcpConnectInProgressThenCompletedThenData)
{
    Listener l(5);
    hal_sock *s = make(HAL_SOCK_TCP);
    EXPECT_EQ(-3, on_looper([&] { return hal_sock_readable(s, on_read); })); // idle
    uint32_t state = 0;
    int rc = on_looper([&] {
        int r = hal_sock_connect(s, "127.0.0.1", l.port, 3.0, on_done);
        state = hal_sock_get_state(s);
        return r;
    });
    ASSERT_EQ(-2, rc);
    EXPECT_EQ((uint32_t)HAL_SOCK_CONNECTING, state);
    EXPECT_EQ(-1,
              on_looper([&] { return hal_sock_connect(s, "127.0.0.1", l.port, 3.0, on_done); }));
    ASSERT_TRUE(wait_until([&] { return done_count() == 1; }));
    EXPECT_EQ(std::vector<int>{0}, calls.statuses);
    EXPECT_TRUE(hal_sock_is_connected(s));
    EXPECT_EQ(-1,
              on_looper([&] { return hal_sock_connect(s, "127.0.0.1", l.port, 3.0, on_done); }));
    // The time-out no longer fires after the completion.
    advance(10000);
    EXPECT_EQ(1u, done_count());

    int peer = l.accept_one();
    ASSERT_GE(peer, 0);
    ASSERT_EQ(0, on_looper([&] { return hal_sock_readable(s, on_read); }));
    // A second callback replaces the first; the registration stays one.
    ASSERT_EQ(0, on_looper([&] { return hal_sock_readable(s, on_read_other); }));
    ASSERT_EQ(5, write(peer, "hello", 5));
    ASSERT_TRUE(wait_until([&] { return on_looper([&] { return calls.reads; }) >= 100; }));
    EXPECT_EQ(0, on_looper([&] { return calls.reads % 100; }));
    char buf[16] = {};
    EXPECT_EQ(5, on_looper([&] { return hal_sock_read(s, buf, sizeof buf); }));
    EXPECT_EQ("hello", std::string(buf, 5));
    EXPECT_EQ(-2, on_looper([&] { return hal_sock_read(s, buf, sizeof buf); }));
    EXPECT_EQ(3, on_looper([&] { return hal_sock_write(s, "abc", 3); }));
    char got[4] = {};
    ASSERT_EQ(3, read(peer, got, 3));
    EXPECT_EQ("abc", std::string(got, 3));
    EXPECT_EQ(1, on_looper([&] { return hal_sock_remove_readable(s); }));
    EXPECT_EQ(0, on_looper([&] { return hal_sock_remove_readable(s); }));
    close(peer);
    ASSERT_TRUE(wait_until(
        [&] { return on_looper([&] { return hal_sock_read(s, buf, sizeof buf); }) == 0; }));
    EXPECT_EQ(0, on_looper([&] { return hal_sock_disconnect(s); }));
    EXPECT_FALSE(hal_sock_is_connected(s));
    EXPECT_EQ(-3, on_looper([&] { return hal_sock_read(s, buf, sizeof buf); }));
    EXPECT_EQ(-3, on_looper([&] { return hal_sock_write(s, "x", 1); }));
    on_looper([&] {
        hal_sock_destroy(&s);
        return 0;
    });
    EXPECT_EQ(nullptr, s);
}

TEST_F(SockTest, TcpConnectRefused)
{
    hal_sock *s = make(HAL_SOCK_TCP);
    uint16_t port = closed_port();
    int rc = on_looper([&] { return hal_sock_connect_i(s, kLoopback, port, 3.0, on_done); });
    if (rc == -2) {
        ASSERT_TRUE(wait_until([&] { return done_count() == 1; }));
        EXPECT_EQ(std::vector<int>{-1}, calls.statuses);
    } else {
        EXPECT_EQ(-1, rc); // refused at once: no callback
        EXPECT_TRUE(calls.statuses.empty());
    }
    EXPECT_EQ(HAL_SOCK_IDLE, on_looper([&] { return (int)hal_sock_get_state(s); }));
    advance(5000);
    EXPECT_LE(done_count(), 1u);
    on_looper([&] {
        hal_sock_destroy(&s);
        return 0;
    });
}

TEST_F(SockTest, TcpConnectTimesOutAndLateCompletionIsNotReported)
{
    Listener l(0);
    std::vector<int> fillers = fill_backlog(l);
    hal_sock *s = make(HAL_SOCK_TCP);
    ASSERT_EQ(-2,
              on_looper([&] { return hal_sock_connect_i(s, kLoopback, l.port, 3.0, on_done); }));
    advance(2999);
    EXPECT_EQ(0u, done_count());
    advance(1);
    ASSERT_EQ(1u, done_count());
    EXPECT_EQ(std::vector<int>{-4}, calls.statuses);
    EXPECT_EQ(HAL_SOCK_IDLE, on_looper([&] { return (int)hal_sock_get_state(s); }));
    // Free the queue so the dropped SYN may still complete: nobody is told.
    for (int fd : fillers)
        close(fd);
    ASSERT_EQ(0, fcntl(l.fd, F_SETFL, O_NONBLOCK));
    for (int i = 0; i < 8; i++) {
        int a = accept(l.fd, nullptr, nullptr);
        if (a >= 0)
            close(a);
    }
    advance(10000);
    EXPECT_EQ(1u, done_count());
    on_looper([&] {
        hal_sock_destroy(&s);
        return 0;
    });
}

TEST_F(SockTest, ConnectWithoutTimeoutWaitsUntilDisconnect)
{
    Listener l(0);
    std::vector<int> fillers = fill_backlog(l);
    hal_sock *s = make(HAL_SOCK_TCP);
    ASSERT_EQ(-2, on_looper([&] { return hal_sock_connect_i(s, kLoopback, l.port, 0, on_done); }));
    advance(3600 * 1000);
    EXPECT_EQ(HAL_SOCK_CONNECTING, on_looper([&] { return (int)hal_sock_get_state(s); }));
    EXPECT_EQ(0, on_looper([&] { return hal_sock_disconnect(s); }));
    EXPECT_EQ(HAL_SOCK_IDLE, on_looper([&] { return (int)hal_sock_get_state(s); }));
    EXPECT_EQ(0u, done_count());
    on_looper([&] {
        hal_sock_destroy(&s);
        return 0;
    });
    for (int fd : fillers)
        close(fd);
}

// The connect's time-out timer and writer registration refer to the socket:
// destroying it mid-connect must take both away (ASan reports any later use).
TEST_F(SockTest, DestroyWhileConnectingLeavesNothingBehind)
{
    Listener l(0);
    std::vector<int> fillers = fill_backlog(l);
    hal_sock *s = make(HAL_SOCK_TCP);
    ASSERT_EQ(-2,
              on_looper([&] { return hal_sock_connect_i(s, kLoopback, l.port, 3.0, on_done); }));
    // From another thread than the looper, as a shutting-down engine might.
    hal_sock_destroy(&s);
    EXPECT_EQ(nullptr, s);
    for (int fd : fillers)
        close(fd);
    advance(10000);
    EXPECT_EQ(0u, done_count());
    EXPECT_EQ(-1, hal_looper_exec(
                      lp, [](hal_looper *, void *) { return -1; }, nullptr));
}

TEST_F(SockTest, UdpExchangeCarriesTheSendersAddress)
{
    hal_sock *a = make(HAL_SOCK_UDP);
    hal_sock *b = make(HAL_SOCK_UDP);
    ASSERT_EQ(0, hal_sock_bind(a, kLoopback, 0));
    ASSERT_EQ(0, hal_sock_bind(b, kLoopback, 0));
    auto port_of = [](hal_sock *s) {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        getsockname(hal_sock_get_handle(s), (sockaddr *)&addr, &len);
        return addr.sin_port;
    };
    ASSERT_EQ(0, on_looper([&] { return hal_sock_readable(b, on_read); })); // UDP: any state
    ASSERT_EQ(4, on_looper([&] { return hal_sock_write_to(a, "ping", 4, kLoopback, port_of(b)); }));
    ASSERT_TRUE(wait_until([&] { return on_looper([&] { return calls.reads; }) >= 1; }));
    char buf[32] = {};
    uint32_t from = 0;
    uint16_t from_port = 0;
    ASSERT_EQ(4,
              on_looper([&] { return hal_sock_read_from(b, buf, sizeof buf, &from, &from_port); }));
    EXPECT_EQ("ping", std::string(buf, 4));
    EXPECT_EQ(kLoopback, from);
    EXPECT_EQ(port_of(a), from_port);
    ASSERT_EQ(4, on_looper([&] { return hal_sock_write_to(b, "pong", 4, from, from_port); }));
    pollfd p{hal_sock_get_handle(a), POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 5000));
    EXPECT_EQ(4,
              on_looper([&] { return hal_sock_read_from(a, buf, sizeof buf, nullptr, nullptr); }));
    EXPECT_EQ("pong", std::string(buf, 4));
    EXPECT_EQ(-2,
              on_looper([&] { return hal_sock_read_from(a, buf, sizeof buf, &from, &from_port); }));
    on_looper([&] {
        hal_sock_destroy(&a);
        hal_sock_destroy(&b);
        return 0;
    });
}

TEST_F(SockTest, UdpIgnoresPortUnreachableReports)
{
    hal_sock *s = make(HAL_SOCK_UDP);
    uint16_t port = closed_port();
    // A UDP connect completes at once and calls nobody.
    ASSERT_EQ(0, on_looper([&] { return hal_sock_connect_i(s, kLoopback, port, 0, on_done); }));
    EXPECT_TRUE(hal_sock_is_connected(s));
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(1, on_looper([&] { return hal_sock_write(s, "x", 1); })) << i;
    char buf[4];
    EXPECT_EQ(-2, on_looper([&] { return hal_sock_read(s, buf, sizeof buf); }));
    EXPECT_TRUE(calls.statuses.empty());
    on_looper([&] {
        hal_sock_destroy(&s);
        return 0;
    });
}

TEST_F(SockTest, ArgumentRefusals)
{
    hal_sock *tcp = make(HAL_SOCK_TCP);
    hal_sock *udp = make(HAL_SOCK_UDP);
    char buf[8];
    struct Case {
        const char *what;
        int got;
        int want;
    } cases[] = {
        {"bind tcp", hal_sock_bind(tcp, kLoopback, 0), -1},
        {"read_from tcp", hal_sock_read_from(tcp, buf, 8, nullptr, nullptr), -1},
        {"write_to tcp", hal_sock_write_to(tcp, "x", 1, kLoopback, 9), -1},
        {"write_to addr 0", hal_sock_write_to(udp, "x", 1, 0, 9), -1},
        {"write_to port 0", hal_sock_write_to(udp, "x", 1, kLoopback, 0), -1},
        {"read len 0", hal_sock_read(udp, buf, 0), -1},
        {"read null buf", hal_sock_read(udp, nullptr, 8), -1},
        {"write null sock", hal_sock_write(nullptr, "x", 1), -1},
        {"connect bad text", hal_sock_connect(tcp, "127.0.0.256", 9, 0, on_done), -1},
        {"connect null text", hal_sock_connect(tcp, nullptr, 9, 0, on_done), -1},
        {"connect port 0", hal_sock_connect(tcp, "127.0.0.1", 0, 0, on_done), -1},
        {"connect_i addr 0", hal_sock_connect_i(tcp, 0, 9, 0, on_done), -1},
        {"connect negative timeout", hal_sock_connect_i(tcp, kLoopback, 9, -1.0, on_done), -1},
        {"writable tcp idle", hal_sock_writable(tcp, on_done), -3},
        {"readable null cb", hal_sock_readable(udp, nullptr), -1},
        {"disconnect null", hal_sock_disconnect(nullptr), -1},
        {"disconnect idle", hal_sock_disconnect(tcp), 0},
        {"remove_writable none", hal_sock_remove_writable(udp), 0},
        {"remove_readable null", hal_sock_remove_readable(nullptr), -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.want, c.got) << c.what;
    EXPECT_EQ(nullptr, hal_sock_new(net, 3));
    EXPECT_EQ(nullptr, hal_sock_new(nullptr, HAL_SOCK_TCP));
    EXPECT_EQ((uint32_t)HAL_SOCK_TCP, hal_sock_get_type(tcp));
    EXPECT_EQ(ctx, hal_sock_context(tcp));
    EXPECT_EQ(0u, hal_sock_get_type(nullptr));
    EXPECT_EQ(nullptr, hal_sock_get_data(nullptr));
    hal_sock_destroy(&tcp);
    hal_sock_destroy(&udp);
    hal_sock_destroy(&udp);
    hal_sock_destroy(nullptr);
}

int g_startup_calls = 0;
void count_startup(hal_network *, void *data)
{
    EXPECT_EQ(&g_startup_calls, data);
    g_startup_calls++;
}

TEST_F(SockTest, NetworkObjectAndAddressText)
{
    EXPECT_EQ(nullptr, hal_network_new(nullptr));
    EXPECT_EQ(ctx, hal_network_context(net));
    hal_network_set_data(net, &g_startup_calls);
    EXPECT_EQ(&g_startup_calls, hal_network_get_data(net));
    EXPECT_EQ(-1, hal_network_startup(net, 5, nullptr));
    EXPECT_EQ(5, hal_network_status(net)); // stored even without a callback
    EXPECT_EQ(0, hal_network_startup(net, 7, count_startup));
    EXPECT_EQ(1, g_startup_calls);
    EXPECT_EQ(7, hal_network_status(net));
    EXPECT_EQ(0, hal_network_status(nullptr));
    EXPECT_EQ(-1, hal_network_startup(nullptr, 1, count_startup));
    EXPECT_EQ(0, hal_network_shutdown(net));
    EXPECT_EQ(kLoopback, hal_network_aton("127.0.0.1"));
    EXPECT_EQ(0xffffffffu, hal_network_aton("not an address"));
    EXPECT_EQ(0xffffffffu, hal_network_aton(nullptr));
    EXPECT_STREQ("127.0.0.1", hal_network_ntoa(kLoopback));
    EXPECT_STREQ("10.1.2.3", hal_network_ntoa(hal_network_aton("10.1.2.3")));
}

} // namespace
