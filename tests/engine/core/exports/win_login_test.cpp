// The exported interface: load, login, logout and the callbacks, through the
// public header against the test server.
#include "ptt_rr.pb-c.h"
#include "win_fixture.h"

#include <atomic>
#include <thread>

using namespace ptt::test;

namespace
{

const char *const DISPATCHER_MD5 = "EFE0EF527057A704259299FD98908DFA";

class WinLoginTest : public WinServerTest
{
  protected:
    WinLoginTest() : WinServerTest(20'000'000, false, false) {}
    std::string login_password(size_t i)
    {
        auto logins = server.received("ptt.rr.Login");
        if (i >= logins.size()) {
            return "";
        }
        auto *login = reinterpret_cast<const Ptt__Rr__Login *>(logins[i].msg.get());
        return login->password;
    }
};

TEST_F(WinLoginTest, LoginReportsTwoThenThreeAndLogoutEndsIt)
{
    ASSERT_TRUE(win_load_and_login(server, cwd.path()));
    EXPECT_EQ(WinReports::get().states_copy(),
              (std::vector<int>{LIRKO_STATUS_LOGGING_IN, LIRKO_STATUS_ONLINE}));
    EXPECT_EQ(login_password(0), DISPATCHER_MD5);
    ASSERT_TRUE(server.wait_count("ptt.rr.QueryGroup", 1));
    ASSERT_TRUE(server.wait_count("ptt.rr.QueryContacts", 1));

    EXPECT_EQ(lirko_win_logout(), 0);
    ASSERT_TRUE(wait_until([] { return !WinReports::get().errors_copy().empty(); }));
    EXPECT_EQ(WinReports::get().errors_copy(), std::vector<int>{-12});
    EXPECT_EQ(WinReports::get().messages[0], "");
    // The offline status follows the error report on the engine's thread.
    ASSERT_TRUE(wait_until([] { return WinReports::get().states_copy().size() >= 3; }));
    EXPECT_EQ(WinReports::get().states_copy().back(), LIRKO_STATUS_OFFLINE);
    EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_OFFLINE);
    const Bytes golden = {0x00, 0x00, 0x00, 0x14, 0x00, 0x0E, 'p', 't',  't',  '.',  'r',  'r',
                          '.',  'L',  'o',  'g',  'o',  'u',  't', 0x00, 0x2A, 0x42, 0x05, 0x35};
    ASSERT_EQ(server.received("ptt.rr.Logout").size(), 1u);
    EXPECT_EQ(server.received("ptt.rr.Logout")[0].raw, golden);
}

TEST_F(WinLoginTest, RefusedLoginStillReturnsZero)
{
    server.set_login_result(-6);
    write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() + "\n");
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
    lirko_win_set_online_status_cb(WinReports::on_status);
    lirko_win_set_error_cb(WinReports::on_error);
    EXPECT_EQ(lirko_win_login("dispatcher", "wrong", 0), 0);
    win_advance(server, 5.0);
    ASSERT_TRUE(wait_until([] { return !WinReports::get().errors_copy().empty(); }));
    EXPECT_EQ(WinReports::get().errors_copy(), std::vector<int>{-6});
    EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_NONE);
}

TEST_F(WinLoginTest, ExportsWithoutAnEngineRefuseSafely)
{
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(lirko_win_login("a", "b", 0), -1);
        EXPECT_EQ(lirko_win_loginWithSaved(), -1);
        EXPECT_EQ(lirko_win_logout(), -1);
        EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_NONE);
        EXPECT_EQ(lirko_win_set_online_status_cb(WinReports::on_status), -1);
        EXPECT_EQ(lirko_win_set_error_cb(WinReports::on_error), -1);
        lirko_win_on_unload();
        // Second round: after a load and an unload.
        ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
        lirko_win_on_unload();
    }
}

TEST_F(WinLoginTest, SecondLoadIsRefusedAndArgumentsAreChecked)
{
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
    EXPECT_EQ(lirko_win_on_load(cwd.path().c_str()), -1);
    EXPECT_EQ(lirko_win_set_online_status_cb(nullptr), -1);
    EXPECT_EQ(lirko_win_set_error_cb(nullptr), -1);
    EXPECT_EQ(lirko_win_login(nullptr, "x", 0), -1);
    EXPECT_EQ(lirko_win_login("x", nullptr, 0), -1);
    EXPECT_EQ(lirko_win_login("x", "y", -1), -1);
    EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_NONE);
    // No account saved.
    EXPECT_EQ(lirko_win_loginWithSaved(), -1);
}

// Callbacks that call exports: they run on the engine's thread, so the
// exports must run in place.
struct InPlace {
    static inline std::mutex m;
    static inline std::vector<int> seen;
    static inline int logout_ret = 99;
    static void on_status(LIRKO_ONLINE_STATUS s)
    {
        int now = (int)lirko_win_getOnlineStatus();
        int ret = s == LIRKO_STATUS_ONLINE ? lirko_win_logout() : 99;
        std::lock_guard<std::mutex> lock(m);
        seen.push_back(now);
        if (s == LIRKO_STATUS_ONLINE) {
            logout_ret = ret;
        }
    }
    static std::vector<int> copy()
    {
        std::lock_guard<std::mutex> lock(m);
        return seen;
    }
};

TEST_F(WinLoginTest, ExportFromACallbackRunsInPlace)
{
    write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() + "\n");
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
    ASSERT_EQ(lirko_win_set_online_status_cb(InPlace::on_status), 0);
    ASSERT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
    win_advance(server, 5.0);
    ASSERT_TRUE(server.wait_count("ptt.rr.Logout", 1));
    ASSERT_TRUE(wait_until([] { return InPlace::copy().size() >= 3; }));
    // Each callback saw the state it was told about; the logout made inside
    // the online report ran there and then.
    std::vector<int> seen = InPlace::copy();
    EXPECT_EQ(seen[0], LIRKO_STATUS_LOGGING_IN);
    EXPECT_EQ(seen[1], LIRKO_STATUS_ONLINE);
    EXPECT_EQ(seen[2], LIRKO_STATUS_OFFLINE);
    {
        std::lock_guard<std::mutex> lock(InPlace::m);
        EXPECT_EQ(InPlace::logout_ret, 0);
    }
    EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_OFFLINE);
    // From another thread the export waits for the body and returns its
    // result.
    LIRKO_ONLINE_STATUS other = LIRKO_STATUS_NONE;
    std::thread([&] { other = lirko_win_getOnlineStatus(); }).join();
    EXPECT_EQ(other, LIRKO_STATUS_OFFLINE);
}

// A callback cannot unload the engine whose thread it runs on, nor load a
// second one: both are refused and the engine carries on.
struct Reentry {
    static inline std::atomic<int> load_ret{99};
    static inline std::atomic<int> calls{0};
    static void on_error(const char *, int)
    {
        load_ret = lirko_win_on_load(".");
        lirko_win_on_unload();
        calls++;
    }
};

TEST_F(WinLoginTest, CallbacksCannotLoadOrUnload)
{
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
    ASSERT_EQ(lirko_win_set_error_cb(Reentry::on_error), 0);
    EXPECT_EQ(lirko_win_logout(), 0); // not connected: reports -12 at once
    EXPECT_EQ(Reentry::calls.load(), 1);
    EXPECT_EQ(Reentry::load_ret.load(), -1);
    EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_OFFLINE);
    EXPECT_EQ(lirko_win_logout(), 0);
    EXPECT_EQ(Reentry::calls.load(), 2);
}

TEST_F(WinLoginTest, ManualLoginAfterSavedDigestSendsTheDigestOfTheTypedPassword)
{
    write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() +
                                           "\n[account]\nuser = dispatcher\npassword = " +
                                           DISPATCHER_MD5 + "\nencrypted = 1\n");
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
    lirko_win_set_online_status_cb(WinReports::on_status);
    lirko_win_set_error_cb(WinReports::on_error);
    // A started login: -1, with state 2 reported at once.
    EXPECT_EQ(lirko_win_loginWithSaved(), -1);
    EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_LOGGING_IN);
    win_advance(server, 5.0);
    ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));
    EXPECT_EQ(login_password(0), DISPATCHER_MD5);
    lirko_win_logout();
    ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_OFFLINE; }));

    EXPECT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
    win_advance(server, 5.0);
    ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));
    EXPECT_EQ(login_password(1), DISPATCHER_MD5);
    // Neither the password nor its digest is written to the log.
    std::string log = read_file(cwd.file("kvptt.log"));
    EXPECT_EQ(log.find("dispatcher-pw"), std::string::npos);
    EXPECT_EQ(log.find(DISPATCHER_MD5), std::string::npos);
}

} // namespace
