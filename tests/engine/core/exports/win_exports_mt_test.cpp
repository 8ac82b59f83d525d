// The command and directory exports called from three threads at once,
// while the server answers and pushes: every call returns what it returns
// alone, and nothing races (this test also runs under ThreadSanitizer).
#include "win_exports.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace ptt::test;

namespace
{

class WinExportsMt : public WinServerTest
{
  protected:
    WinExportsMt() : WinServerTest(60'000'000) {}
    void SetUp() override
    {
        WinServerTest::SetUp();
        Heard::get().clear();
    }
};

} // namespace

TEST_F(WinExportsMt, ThreeThreadsCallAtOnce)
{
    ASSERT_TRUE(win_load_and_login(server, cwd.path()));
    win_register_heard();
    ASSERT_TRUE(wait_until([] { return lirko_win_getMemberSize(2001) == 2; }));
    constexpr int kRounds = 40;
    std::atomic<int> wrong{0};
    auto check = [&](bool ok) {
        if (!ok)
            wrong++;
    };
    // Directory readers.
    std::thread readers([&] {
        for (int i = 0; i < kRounds; i++) {
            win_group_t groups[3];
            win_member_t members[2];
            win_user_t user = {};
            char name[LIRKO_NAME_BUF_SIZE];
            check(lirko_win_getGroupList(groups, 3) == 3);
            check(lirko_win_getGroupList(groups, 2) == -2);
            check(lirko_win_getMemberList(members, 2, 2001) == 2);
            check(lirko_win_getUser(&user, 1001) == 1 && strcmp(user.name, "Alice") == 0);
            check(lirko_win_getName(name) == 0 && strcmp(name, "Dispatcher") == 0);
            check(lirko_win_getUid() == 1000);
        }
    });
    // Commands that the server answers.
    std::thread commanders([&] {
        const uid_t uids[] = {1001};
        for (int i = 0; i < kRounds; i++) {
            check(lirko_win_schedule_takemic(uids, 1) == 0);
            check(lirko_win_schedule_switch_location(uids, 1, 1, 0) == 0);
            check(lirko_win_process_sos_alarm(1001, 1 + i) == 0);
            check(lirko_win_schedule_temp_leave_group(2001, uids, 1) == -1);
        }
    });
    // Settings and the stored watch list.
    std::thread settings([&] {
        char version[32];
        const gid_t gids[] = {2002};
        for (int i = 0; i < kRounds; i++) {
            check(lirko_win_get_version(version) == 0 &&
                  strcmp(version, "WIN-20231212-release") == 0);
            check(lirko_win_save_context(("ctx-" + std::to_string(i)).c_str()) == 0);
            check(lirko_win_AddWatchGroup(gids, 1) == 0);
            check(lirko_win_RmWatchGroup(gids, 1) == 0);
            check(lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE);
        }
    });
    readers.join();
    commanders.join();
    settings.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(server.wait_count("ptt.rr.TakeMic", kRounds));
    EXPECT_TRUE(server.wait_count("ptt.rr.RemoveWatchGroup", kRounds));
    EXPECT_TRUE(wait_until([] { return Heard::get().has("takemic 1 n1"); }));
}
