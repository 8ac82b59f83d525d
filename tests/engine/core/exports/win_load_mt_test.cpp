// Loading and unloading the engine many times in one process while it is
// connected, with another thread calling exports all the while: nothing may
// leak, race or hang (run under ASan/LSan and ThreadSanitizer).
#include "win_fixture.h"

#include <atomic>
#include <thread>

using namespace ptt::test;

namespace
{

TEST(WinLoadMt, LoadLoginUnloadHundredTimes)
{
    TempCwd cwd;
    hal_clock_fake_enable(30'000'000);
    PttServer server;
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;

    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::thread other([&] {
        while (!stop.load()) {
            int s = (int)lirko_win_getOnlineStatus();
            EXPECT_TRUE(s >= LIRKO_STATUS_NONE && s <= LIRKO_STATUS_ONLINE);
            calls++;
        }
    });

    for (int i = 0; i < 100; i++) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(win_load_and_login(server, cwd.path()));
        ASSERT_TRUE(server.wait_clients(1));
        if (i % 2) {
            // Half the rounds log out first; the others unload while online.
            lirko_win_logout();
            ASSERT_TRUE(
                wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_OFFLINE; }));
        }
        lirko_win_on_unload();
        ASSERT_TRUE(server.wait_clients(0));
        EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_NONE);
    }
    stop = true;
    other.join();
    EXPECT_GT(calls.load(), 0);
    EXPECT_EQ(server.count("ptt.rr.Login"), 100u);
    server.stop();
    hal_clock_fake_disable();
}

} // namespace
