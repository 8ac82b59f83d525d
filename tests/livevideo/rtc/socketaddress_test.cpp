// IP and socket addresses: text both ways, comparisons and the port assert.
#include "rtc/ipaddress.h"
#include "rtc/socketaddress.h"
#include "rtc_fixture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <string>

namespace
{

TEST(IPAddressTest, TextRoundTrips)
{
    struct Case {
        const char *text;
        int family;
        const char *printed;
    } cases[] = {
        {"127.0.0.1", AF_INET, "127.0.0.1"},
        {"255.255.255.255", AF_INET, "255.255.255.255"},
        {"0.0.0.0", AF_INET, "0.0.0.0"},
        {"::1", AF_INET6, "::1"},
        {"2001:0db8:0000:0000:0000:ff00:0042:8329", AF_INET6, "2001:db8::ff00:42:8329"},
        {"fe80::1", AF_INET6, "fe80::1"},
        {"::ffff:192.0.2.1", AF_INET6, "::ffff:192.0.2.1"},
    };
    for (const Case &c : cases) {
        rtc::IPAddress ip;
        ASSERT_TRUE(rtc::IPFromString(c.text, &ip)) << c.text;
        EXPECT_EQ(c.family, ip.family()) << c.text;
        EXPECT_EQ(c.printed, ip.ToString()) << c.text;
        EXPECT_EQ(c.family == AF_INET ? 4u : 16u, ip.Size());
        rtc::IPAddress again;
        ASSERT_TRUE(rtc::IPFromString(ip.ToString(), &again));
        EXPECT_EQ(ip, again);
    }
    for (const char *bad :
         {"", "localhost", "1.2.3", "1.2.3.256", "::g", "1.2.3.4:80", " 1.2.3.4"}) {
        rtc::IPAddress ip(0x01020304u);
        EXPECT_FALSE(rtc::IPFromString(bad, &ip)) << bad;
        EXPECT_TRUE(ip.IsNil()) << bad;
        EXPECT_EQ("", ip.ToString());
    }
}

TEST(IPAddressTest, PrintingNeedsRoomAndAKnownFamily)
{
    in_addr v4;
    inet_pton(AF_INET, "255.255.255.255", &v4);
    in6_addr v6;
    inet_pton(AF_INET6, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", &v6);
    char buf[80];
    EXPECT_EQ(nullptr, rtc::inet_ntop(AF_INET, &v4, buf, 21));
    ASSERT_NE(nullptr, rtc::inet_ntop(AF_INET, &v4, buf, 22));
    EXPECT_STREQ("255.255.255.255", buf);
    EXPECT_EQ(nullptr, rtc::inet_ntop(AF_INET6, &v6, buf, 64));
    ASSERT_NE(nullptr, rtc::inet_ntop(AF_INET6, &v6, buf, 65));
    EXPECT_STREQ("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", buf);
    EXPECT_EQ(nullptr, rtc::inet_ntop(AF_UNIX, &v4, buf, sizeof(buf)));
    EXPECT_EQ(-1, rtc::inet_pton(AF_UNIX, "1.2.3.4", buf));
}

TEST(IPAddressTest, ClassesAndOrder)
{
    rtc::IPAddress any4(0u), loop4(0x7F000001u), loop6(in6addr_loopback), any6(in6addr_any);
    EXPECT_TRUE(rtc::IPIsAny(any4));
    EXPECT_TRUE(rtc::IPIsAny(any6));
    EXPECT_TRUE(rtc::IPIsLoopback(loop4));
    EXPECT_TRUE(rtc::IPIsLoopback(rtc::IPAddress(0x7F123456u)));
    EXPECT_TRUE(rtc::IPIsLoopback(loop6));
    EXPECT_FALSE(rtc::IPIsLoopback(any6));
    EXPECT_TRUE(rtc::IPIsUnspec(rtc::IPAddress()));
    EXPECT_LT(rtc::IPAddress(), any4);
    EXPECT_LT(loop4, loop6);
    EXPECT_LT(any4, loop4);
    EXPECT_EQ(0x7F000001u, loop4.v4AddressAsHostOrderInteger());
}

TEST(SocketAddressTest, TextForms)
{
    struct Case {
        const char *text;
        bool ok;
        const char *printed;
        bool unresolved;
        int port;
    } cases[] = {
        {"127.0.0.1:8080", true, "127.0.0.1:8080", false, 8080},
        {"[::1]:443", true, "[::1]:443", false, 443},
        {"[::1]", true, "[::1]:0", false, 0},
        {"::1", true, "[::1]:0", false, 0},
        {"localhost:1935", true, "localhost:1935", true, 1935},
        {"example.invalid", true, "example.invalid:0", true, 0},
        {"host:65535", true, "host:65535", true, 65535},
        {"host:65536", false, "", false, 0},
        {"host:", false, "", false, 0},
        {"host:12x", false, "", false, 0},
        {"[::1]x80", false, "", false, 0},
        {"[1.2.3.4]:80", false, "", false, 0},
        {"[::1:80", false, "", false, 0},
    };
    for (const Case &c : cases) {
        rtc::SocketAddress addr;
        EXPECT_EQ(c.ok, addr.FromString(c.text)) << c.text;
        if (!c.ok)
            continue;
        EXPECT_EQ(c.printed, addr.ToString()) << c.text;
        EXPECT_EQ(c.unresolved, addr.IsUnresolvedIP()) << c.text;
        EXPECT_EQ(c.port, addr.port()) << c.text;
    }
}

TEST(SocketAddressTest, ResolvedNamesKeepTheirNameAndCompareByIP)
{
    rtc::SocketAddress named("localhost", 80);
    EXPECT_TRUE(named.IsUnresolvedIP());
    EXPECT_TRUE(named.IsComplete());
    named.SetResolvedIP(rtc::IPAddress(0x7F000001u));
    EXPECT_FALSE(named.IsUnresolvedIP());
    EXPECT_EQ("localhost:80", named.ToString());
    EXPECT_EQ(rtc::SocketAddress("127.0.0.1", 80), named);
    EXPECT_NE(rtc::SocketAddress("127.0.0.1", 81), named);
    EXPECT_TRUE(named.IsLoopbackIP());

    rtc::SocketAddress nil;
    EXPECT_TRUE(nil.IsNil());
    EXPECT_FALSE(nil.IsComplete());
    EXPECT_FALSE(rtc::SocketAddress("10.0.0.1", 0).IsComplete());

    sockaddr_storage storage;
    rtc::SocketAddress v6("::1", 5000);
    v6.SetScopeID(3);
    ASSERT_EQ(sizeof(sockaddr_in6), v6.ToSockAddrStorage(&storage));
    rtc::SocketAddress back;
    ASSERT_TRUE(rtc::SocketAddressFromSockAddrStorage(storage, &back));
    EXPECT_EQ(v6, back);
    EXPECT_EQ(3, back.scope_id());
    EXPECT_EQ(0u, rtc::SocketAddress("unresolved", 1).ToSockAddrStorage(&storage));
}

TEST(SocketAddressDeathTest, PortOutOfRangeAsserts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    rtc_test::LogFolder log; // the dying child logs here, not beside the binary
    rtc::SocketAddress addr;
    addr.SetPort(0);
    addr.SetPort(65535);
    EXPECT_DEATH(addr.SetPort(65536),
                 R"(ASSERT FAILED: \(0 <= port\) && \(port < 65536\) @ SetPort)");
    EXPECT_DEATH(addr.SetPort(-1), R"(ASSERT FAILED: \(0 <= port\) && \(port < 65536\))");
}

} // namespace
