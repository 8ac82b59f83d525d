// Callbacks under threads (also run under ThreadSanitizer): the server keeps
// pushing directory changes and alarms while another thread registers
// callbacks, and the engine is unloaded in the middle of it all.
#include "lirko_win.h"
#include "ptt_push.pb-c.h"
#include "sos.pb-c.h"
#include "win_fixture.h"

#include <atomic>
#include <thread>

namespace ptt::test
{

static std::atomic<int> g_users{0}, g_members{0}, g_alarms{0}, g_lists{0};

static void on_users(size_t count, const win_user_t *users)
{
    // Read every record: the array must be whole for the whole call.
    size_t named = 0;
    for (size_t i = 0; i < count; i++)
        named += users[i].name[0] != '\0';
    g_users += named > 0;
}
static void on_members(gid_t, const uid_t *, uint32_t, const uid_t *, uint32_t, const uid_t *joined,
                       uint32_t n_joined, const uid_t *, uint32_t)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n_joined; i++)
        sum += joined[i];
    g_members += sum > 0;
}
static void on_alarm(const sos_alarm_t *alarm)
{
    g_alarms += alarm->address[sizeof(alarm->address) - 1] == '\0';
}
static void on_memberlist(gid_t)
{
    g_lists++;
}

static void push_alarm(PttServer &server)
{
    std::string address(500, 'x');
    Ptt__Coordinate coord = PTT__COORDINATE__INIT;
    Ptt__Location loc = PTT__LOCATION__INIT;
    loc.coordinate = &coord;
    loc.address = const_cast<char *>(address.c_str());
    Sos__Alarm alarm = SOS__ALARM__INIT;
    alarm.location = &loc;
    Sos__AlarmNew push = SOS__ALARM_NEW__INIT;
    push.alarm = &alarm;
    server.push(push.base);
}

TEST(CallbacksThreads, UnloadWhileTheServerKeepsPushing)
{
    hal_clock_fake_enable(30'000'000);
    PttServer server;
    server.set_clock([] { return hal_time_now(); });
    ASSERT_TRUE(server.start());
    for (int round = 0; round < 4; round++) {
        SCOPED_TRACE(round);
        TempCwd cwd;
        g_users = g_members = g_alarms = g_lists = 0;
        ASSERT_TRUE(
            write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() + "\n"));
        ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
        lirko_win_set_users_changed_cb(on_users);
        lirko_win_set_member_changed_cb(on_members);
        lirko_win_set_sos_alarm_new_cb(on_alarm);
        ASSERT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
        win_advance(server, 5.0);
        ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));

        std::atomic<bool> stop{false};
        std::thread pusher([&] {
            for (int i = 0; i < 2000 && !stop; i++) {
                push_users_changed(server, {1001, 1002});
                push_members_changed(server, 2001, {{}, {}, {1004}, {}});
                push_alarm(server);
                if (i % 50 == 0)
                    std::this_thread::yield();
            }
        });
        std::thread registrar([&] {
            for (int i = 0; i < 200 && !stop; i++) {
                lirko_win_set_memberlist_cb(on_memberlist);
                lirko_win_set_users_changed_cb(on_users);
                lirko_win_getOnlineStatus();
            }
        });
        // Let some pushes through, then unload under the traffic. No
        // assertion may leave this scope while the threads run: a failure
        // must still unload and join them.
        bool flowing = wait_until([] { return g_users > 5 && g_members > 5 && g_alarms > 5; },
                                  std::chrono::seconds(20));
        EXPECT_TRUE(flowing) << "the pushes did not reach the callbacks";
        lirko_win_on_unload();
        int heard = g_users + g_members + g_alarms;
        stop = true;
        pusher.join();
        registrar.join();
        // After unload nothing reaches the application.
        server.sync();
        EXPECT_EQ(g_users + g_members + g_alarms, heard);
        EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_NONE);
        EXPECT_EQ(lirko_win_set_users_changed_cb(on_users), -1);
    }
    server.stop();
    hal_clock_fake_disable();
}

} // namespace ptt::test
