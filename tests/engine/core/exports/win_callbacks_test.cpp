// The application callbacks through the public header only (liblirko.so):
// every exported setter refuses NULL, and after a login against the test
// server the callbacks fire with the arguments the console relies on.

// Another header's int-sized boolean is compatible with the engine's.
typedef int boolean;
#include "lirko_win.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "sos.pb-c.h"
#include "win_fixture.h"

#include <cstring>

namespace ptt::test
{

// What the application heard, as text per callback.
struct Heard {
    std::mutex m;
    std::vector<std::string> calls;
    std::vector<win_user_t> users;
    sos_alarm_t alarm;
    std::vector<uint32_t> joined;

    static Heard &get()
    {
        static Heard h;
        return h;
    }
    void add(std::string s)
    {
        std::lock_guard<std::mutex> lock(m);
        calls.push_back(std::move(s));
    }
    bool has(const std::string &s)
    {
        std::lock_guard<std::mutex> lock(m);
        for (const std::string &c : calls)
            if (c == s)
                return true;
        return false;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        calls.clear();
        users.clear();
        joined.clear();
    }
};

static void on_grouplist()
{
    Heard::get().add("grouplist");
}
static void on_memberlist(gid_t gid)
{
    Heard::get().add("memberlist " + std::to_string(gid));
}
static void on_users_changed(size_t count, const win_user_t *users)
{
    std::lock_guard<std::mutex> lock(Heard::get().m);
    Heard::get().calls.push_back("users " + std::to_string(count));
    Heard::get().users.assign(users, users + count);
}
static void on_members_changed(gid_t gid, const uid_t *updated, uint32_t n_updated,
                               const uid_t *removed, uint32_t n_removed, const uid_t *joined,
                               uint32_t n_joined, const uid_t *left, uint32_t n_left)
{
    std::lock_guard<std::mutex> lock(Heard::get().m);
    char text[128];
    snprintf(text, sizeof(text), "members %u %s%u %s%u %s%u %s%u", gid, updated ? "+" : "-",
             n_updated, removed ? "+" : "-", n_removed, joined ? "+" : "-", n_joined,
             left ? "+" : "-", n_left);
    Heard::get().calls.push_back(text);
    Heard::get().joined.assign(joined, joined + n_joined);
}
static void on_sos(const sos_alarm_t *alarm)
{
    std::lock_guard<std::mutex> lock(Heard::get().m);
    Heard::get().calls.push_back("sos");
    Heard::get().alarm = *alarm;
}
static void on_audio(lirko_boolean_t enabled)
{
    Heard::get().add("audio " + std::to_string(enabled));
}

// One do-nothing callback per type, to try every setter.
template <typename F> struct Nop;
template <typename... A> struct Nop<void (*)(A...)> {
    static void fn(A...) {}
};

class PublicCallbacksTest : public WinServerTest
{
  protected:
    PublicCallbacksTest() : WinServerTest(20'000'000, false, false) {}
    void SetUp() override
    {
        WinServerTest::SetUp();
        Heard::get().clear();
    }

    void login()
    {
        ASSERT_TRUE(win_load_and_login(server, cwd.path()));
    }
    // The server has sent what it was asked to, and the engine has read it.
    void delivered()
    {
        server.sync();
        lirko_win_getOnlineStatus();
        server.sync();
        lirko_win_getOnlineStatus();
    }
};

TEST_F(PublicCallbacksTest, EverySetterRefusesNullAndNeedsAnEngine)
{
    int setters = 0;
#define TRY_SETTER(slot, listener, field, type, win_setter, setter, getter)                        \
    EXPECT_EQ(win_setter(&Nop<type>::fn), -1) << #win_setter " without an engine";                 \
    setters++;
#define NO_SETTER(slot, listener, field, type, setter, getter)
    LIRKO_CALLBACK_TABLE(TRY_SETTER, NO_SETTER)
    EXPECT_EQ(setters, 46); // slot 46 has no exported setter

    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
#undef TRY_SETTER
#define TRY_SETTER(slot, listener, field, type, win_setter, setter, getter)                        \
    EXPECT_EQ(win_setter(NULL), -1) << #win_setter;                                                \
    EXPECT_EQ(win_setter(&Nop<type>::fn), 0) << #win_setter;
    LIRKO_CALLBACK_TABLE(TRY_SETTER, NO_SETTER)
#undef TRY_SETTER
#undef NO_SETTER
}

TEST_F(PublicCallbacksTest, CallbacksFireAfterLogin)
{
    ASSERT_TRUE(
        write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() + "\n"));
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
    ASSERT_EQ(lirko_win_set_online_status_cb(WinReports::on_status), 0);
    ASSERT_EQ(lirko_win_set_error_cb(WinReports::on_error), 0);
    ASSERT_EQ(lirko_win_set_grouplist_cb(on_grouplist), 0);
    ASSERT_EQ(lirko_win_set_memberlist_cb(on_memberlist), 0);
    ASSERT_EQ(lirko_win_set_users_changed_cb(on_users_changed), 0);
    ASSERT_EQ(lirko_win_set_member_changed_cb(on_members_changed), 0);
    ASSERT_EQ(lirko_win_set_sos_alarm_new_cb(on_sos), 0);
    ASSERT_EQ(lirko_win_set_audio_enabled_cb(on_audio), 0);
    ASSERT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
    win_advance(server, 5.0);
    ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));
    EXPECT_EQ(WinReports::get().states_copy(), (std::vector<int>{2, 3}));
    // The directory's answers: three groups, then the members of each.
    ASSERT_TRUE(wait_until([] { return Heard::get().has("memberlist 2003"); }));
    EXPECT_TRUE(Heard::get().has("grouplist"));
    EXPECT_TRUE(Heard::get().has("memberlist 2001"));

    Heard::get().clear();
    push_users_changed(server, {1001, 1003});
    delivered();
    ASSERT_TRUE(wait_until([] { return Heard::get().has("users 2"); }));
    {
        std::lock_guard<std::mutex> lock(Heard::get().m);
        ASSERT_EQ(Heard::get().users.size(), 2u);
        EXPECT_EQ(Heard::get().users[0].uid, 1001u);
        EXPECT_STREQ(Heard::get().users[0].name, "Alice");
        EXPECT_EQ(Heard::get().users[1].uid, 1003u);
        EXPECT_STREQ(Heard::get().users[1].name, "Carol 3");
        EXPECT_EQ(Heard::get().users[1].online, 1u);
        EXPECT_EQ(Heard::get().users[1].sort_weight, 0);
    }

    push_members_changed(server, 2001, {{}, {}, {1004}, {}});
    delivered();
    ASSERT_TRUE(wait_until([] { return Heard::get().has("members 2001 -0 -0 +1 -0"); }));
    {
        std::lock_guard<std::mutex> lock(Heard::get().m);
        EXPECT_EQ(Heard::get().joined, std::vector<uint32_t>{1004});
    }

    // An SOS alarm with over-long texts arrives cut and terminated.
    std::string address(300, 'a'), devicesn(150, 'd');
    Ptt__Coordinate coord = PTT__COORDINATE__INIT;
    coord.longitude = 1.5;
    coord.latitude = 2.5;
    Ptt__Location loc = PTT__LOCATION__INIT;
    loc.coordinate = &coord;
    loc.address = const_cast<char *>(address.c_str());
    loc.devicesn = const_cast<char *>(devicesn.c_str());
    Sos__Alarm alarm = SOS__ALARM__INIT;
    alarm.has_uuid = 1;
    alarm.uuid = 99;
    alarm.has_gid = 1;
    alarm.gid = 2001;
    alarm.location = &loc;
    Sos__AlarmNew push = SOS__ALARM_NEW__INIT;
    push.alarm = &alarm;
    server.push(push.base);
    delivered();
    ASSERT_TRUE(wait_until([] { return Heard::get().has("sos"); }));
    {
        std::lock_guard<std::mutex> lock(Heard::get().m);
        const sos_alarm_t &a = Heard::get().alarm;
        EXPECT_EQ(a.uuid, 99u);
        EXPECT_EQ(a.gid, 2001u);
        EXPECT_EQ(a.longitude, 1.5);
        EXPECT_EQ(std::string(a.address), address.substr(0, 131));
        EXPECT_EQ(std::string(a.devicesn), devicesn.substr(0, 130));
    }
}

// A kick-out reaches the error callback with its code, then the offline
// state; the engine does not log in again by itself.
TEST_F(PublicCallbacksTest, KickoutReachesTheErrorCallback)
{
    struct {
        int32_t reason;
        int code;
    } const cases[] = {{1, -2}, {2, -6}, {3, -7}, {9, -10}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason);
        WinReports::get().clear();
        login();
        size_t states_before = WinReports::get().states_copy().size();
        server.kickout(c.reason, false);
        delivered();
        ASSERT_TRUE(wait_until([&] {
            auto e = WinReports::get().errors_copy();
            return !e.empty() && e.back() == c.code;
        }));
        // The status is reported just after the error, on the engine's
        // thread: wait for it rather than read the list between the two.
        ASSERT_TRUE(
            wait_until([&] { return WinReports::get().states_copy().size() > states_before; }));
        EXPECT_EQ(WinReports::get().states_copy().back(), 1);
        EXPECT_EQ(lirko_win_getOnlineStatus(), LIRKO_STATUS_OFFLINE);
        lirko_win_on_unload();
    }
}

// A department record handed out stays readable after the tree is replaced
// once; the lookup itself runs on the engine's thread.
TEST_F(PublicCallbacksTest, DepartmentRecordOutlivesTheNextTree)
{
    login();
    EXPECT_EQ(lirko_win_get_department_by_did(3000), nullptr);
    Ptt__Department root = PTT__DEPARTMENT__INIT;
    root.did = 3000;
    root.name = const_cast<char *>("Headquarters");
    Ptt__Rr__QueryDepartmentTreeAck ack = PTT__RR__QUERY_DEPARTMENT_TREE_ACK__INIT;
    ack.department = &root;
    server.push(ack.base);
    delivered();
    department_t *first = nullptr;
    ASSERT_TRUE(wait_until([&] { return (first = lirko_win_get_department_by_did(3000)); }));
    root.name = const_cast<char *>("HQ");
    server.push(ack.base);
    delivered();
    department_t *second = nullptr;
    ASSERT_TRUE(wait_until([&] {
        second = lirko_win_get_department_by_did(3000);
        return second && second != first;
    }));
    EXPECT_STREQ(first->name, "Headquarters");
    EXPECT_STREQ(second->name, "HQ");
    // A logout drops the tree from the directory but keeps it readable.
    lirko_win_logout();
    delivered();
    ASSERT_TRUE(wait_until([] { return lirko_win_get_department_by_did(3000) == nullptr; }));
    EXPECT_STREQ(second->name, "HQ");
}

} // namespace ptt::test
