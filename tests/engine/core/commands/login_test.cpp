// Login, logout and kick-out against the test server: what goes on the wire,
// what the listener slots hear, and when the engine logs in again by itself.
#include "core_fixture.h"
#include "lirko_error.h"
#include "lirko_settings.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <algorithm>
#include <cstring>

using namespace ptt::test;

namespace
{

const char *const DISPATCHER_MD5 = "EFE0EF527057A704259299FD98908DFA";

// The server was asked for an address exactly once, for this account.
void expect_one_query_for(PttServer &server, const char *account)
{
    auto queries = server.received("ptt.rr.QueryServer");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const Ptt__Rr__QueryServer *>(queries[0].msg.get())->account,
                 account);
}

class LoginTest : public EngineFixture
{
};

TEST_F(LoginTest, LoginFindsTheServerConnectsAndQueriesTheDirectory)
{
    login_online();
    EXPECT_EQ(states(), (std::vector<int>{LIRKO_STATUS_LOGGING_IN, LIRKO_STATUS_ONLINE}));
    EXPECT_TRUE(errors().empty());

    auto queries = server.received("ptt.rr.QueryServer");
    ASSERT_EQ(queries.size(), 1u);
    EXPECT_TRUE(queries[0].udp);
    auto *qs = reinterpret_cast<const Ptt__Rr__QueryServer *>(queries[0].msg.get());
    EXPECT_STREQ(qs->account, "dispatcher");
    ASSERT_NE(qs->system, nullptr);
    EXPECT_STREQ(qs->system->context, "std");
    // Addressing frames carry no checksum.
    const Bytes &raw = queries[0].raw;
    EXPECT_EQ(std::vector<uint8_t>(raw.end() - 4, raw.end()), (std::vector<uint8_t>{0, 0, 0, 0}));

    auto logins = server.received("ptt.rr.Login");
    ASSERT_EQ(logins.size(), 1u);
    auto *login = reinterpret_cast<const Ptt__Rr__Login *>(logins[0].msg.get());
    EXPECT_STREQ(login->account, "dispatcher");
    EXPECT_STREQ(login->password, DISPATCHER_MD5);
    EXPECT_TRUE(login->has_version);
    EXPECT_EQ(login->version, 3413);
    EXPECT_STREQ(login->device, "PC_CS_QRMVL");
    EXPECT_EQ(login->expect_payload, 103u);

    // The follow-up requests come after the login, in this order.
    std::vector<std::string> tcp;
    for (const auto &r : server.received()) {
        if (!r.udp) {
            tcp.push_back(r.type);
        }
    }
    // (The directory cache then asks for the members of the groups.)
    tcp.resize(std::min<size_t>(tcp.size(), 3));
    EXPECT_EQ(tcp, (std::vector<std::string>{"ptt.rr.Login", "ptt.rr.QueryGroup",
                                             "ptt.rr.QueryContacts"}));
}

TEST_F(LoginTest, RefusedLoginReportsTheMappedCodeAndStaysDown)
{
    const struct {
        int32_t result;
        int code;
    } cases[] = {{-2, -2}, {-3, -3}, {-4, -4}, {-6, -6}, {-1, -1}, {-5, -1}, {-7, -1}, {1, -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.result);
        server.set_login_result(c.result);
        clear_reports();
        size_t logins = server.count("ptt.rr.Login");
        ASSERT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "dispatcher-pw", 0); }),
                  0);
        advance(5.0);
        // The error comes before the final status: wait for both.
        ASSERT_TRUE(wait_until([&] { return !errors().empty() && states().size() >= 2; }));
        EXPECT_EQ(errors(), std::vector<int>{c.code});
        EXPECT_EQ(states(), (std::vector<int>{LIRKO_STATUS_LOGGING_IN, LIRKO_STATUS_NONE}));
        EXPECT_EQ(state(), LIRKO_STATUS_NONE);
        // A refused login is not retried.
        advance(12.0);
        EXPECT_EQ(server.count("ptt.rr.Login"), logins + 1);
        EXPECT_TRUE(server.wait_clients(0));
    }
}

TEST_F(LoginTest, NoLoginAckWithinThreeSecondsReportsMinus11AndLogsOut)
{
    server.ignore("ptt.rr.Login");
    ASSERT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "dispatcher-pw", 0); }), 0);
    advance(5.0);
    ASSERT_TRUE(server.wait_count("ptt.rr.Login", 1));
    step();
    advance(2.5);
    EXPECT_TRUE(errors().empty());
    advance(1.0);
    ASSERT_TRUE(wait_error(LIRKO_ERR_LOGGED_OUT));
    ASSERT_TRUE(wait_until([&] { return states().size() >= 3; }));
    EXPECT_EQ(errors(), (std::vector<int>{LIRKO_ERR_LOGIN_TIMEOUT, LIRKO_ERR_LOGGED_OUT}));
    EXPECT_EQ(states(), (std::vector<int>{2, 1, 1}));
    EXPECT_EQ(server.count("ptt.rr.Logout"), 1u);
    EXPECT_EQ(state(), LIRKO_STATUS_OFFLINE);
}

TEST_F(LoginTest, KickoutReasonsMapToCodesAndNeverLogInAgain)
{
    const struct {
        std::optional<int32_t> reason;
        bool close_after;
        int code;
    } cases[] = {
        {1, true, -2},  {2, true, -6},   {3, false, -7},
        {0, true, -10}, {4, false, -10}, {std::nullopt, true, -10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason ? *c.reason : -999);
        login_online();
        clear_reports();
        size_t logins = server.count("ptt.rr.Login");
        // With close_after the push and the close arrive in one read: the
        // push must still be handled as a kick-out, not as a broken link.
        server.kickout(c.reason, c.close_after);
        ASSERT_TRUE(wait_until([&] { return !errors().empty() && !states().empty(); }));
        EXPECT_EQ(errors(), std::vector<int>{c.code});
        EXPECT_EQ(states(), std::vector<int>{LIRKO_STATUS_OFFLINE});
        advance(20.0);
        EXPECT_EQ(server.count("ptt.rr.Login"), logins);
        EXPECT_EQ(errors(), std::vector<int>{c.code});
        EXPECT_TRUE(server.wait_clients(0));
    }
}

TEST_F(LoginTest, LogoutPutsTheExactFrameOnTheWire)
{
    login_online();
    clear_reports();
    EXPECT_EQ(on_looper([&] { return lirko_logout(engine); }), 0);
    ASSERT_TRUE(wait_error(LIRKO_ERR_LOGGED_OUT));
    auto logouts = server.received("ptt.rr.Logout");
    ASSERT_EQ(logouts.size(), 1u);
    const Bytes golden = {0x00, 0x00, 0x00, 0x14, 0x00, 0x0E, 'p', 't',  't',  '.',  'r',  'r',
                          '.',  'L',  'o',  'g',  'o',  'u',  't', 0x00, 0x2A, 0x42, 0x05, 0x35};
    EXPECT_EQ(logouts[0].raw, golden);
    // The status follows the error report.
    ASSERT_TRUE(wait_until([&] { return !states().empty(); }));
    EXPECT_EQ(states(), std::vector<int>{LIRKO_STATUS_OFFLINE});
    EXPECT_EQ(state(), LIRKO_STATUS_OFFLINE);
    EXPECT_TRUE(server.wait_clients(0));
}

TEST_F(LoginTest, LogoutWithoutAnswerEndsAfterOneSecond)
{
    login_online();
    server.ignore("ptt.rr.Logout");
    clear_reports();
    on_looper([&] { return lirko_logout(engine); });
    step();
    EXPECT_TRUE(errors().empty());
    advance(1.0);
    ASSERT_TRUE(wait_error(LIRKO_ERR_LOGGED_OUT));
    ASSERT_TRUE(wait_until([&] { return !states().empty(); }));
    EXPECT_EQ(states(), std::vector<int>{LIRKO_STATUS_OFFLINE});
}

TEST_F(LoginTest, LogoutWhileDisconnectedReportsAtOnce)
{
    EXPECT_EQ(on_looper([&] { return lirko_logout(engine); }), 0);
    EXPECT_EQ(errors(), std::vector<int>{LIRKO_ERR_LOGGED_OUT});
    EXPECT_EQ(states(), std::vector<int>{LIRKO_STATUS_OFFLINE});
}

TEST_F(LoginTest, LoginRulesBeforeAndWhileConnected)
{
    // No account: refused without a report ([prompt] audio is off).
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "", "x", 0); }), -1);
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, nullptr, "x", 0); }), -1);
    EXPECT_TRUE(errors().empty());
    EXPECT_TRUE(states().empty());
    // Started: 0, state 2 at once; a second login while it runs is refused.
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "dispatcher-pw", 0); }), 0);
    EXPECT_EQ(states(), std::vector<int>{LIRKO_STATUS_LOGGING_IN});
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "dispatcher-pw", 0); }), -1);
    // Nothing is sent before one retry interval has passed.
    advance(4.5);
    EXPECT_EQ(server.count("ptt.rr.QueryServer"), 0u);
    advance(0.5);
    ASSERT_TRUE(wait_until([&] { return state() == LIRKO_STATUS_ONLINE; }));
    // Online: a login only repeats the state and sends nothing.
    clear_reports();
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "dispatcher-pw", 0); }), 0);
    EXPECT_EQ(states(), std::vector<int>{LIRKO_STATUS_ONLINE});
    step();
    EXPECT_EQ(server.count("ptt.rr.Login"), 1u);
}

TEST_F(LoginTest, LoginWithTheConnectionsOwnCopiesKeepsTheAccount)
{
    // A re-login hands the connection the texts it already keeps.
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "dispatcher-pw", 0); }), 0);
    EXPECT_EQ(on_looper([&] { return lirko_logout(engine); }), 0);
    EXPECT_EQ(state(), LIRKO_STATUS_OFFLINE);
    EXPECT_EQ(on_looper([&] {
                  connection_t *c = engine->connection;
                  return lirko_login(engine, c->account, c->password, c->role);
              }),
              0);
    advance(5.0);
    ASSERT_TRUE(wait_until([&] { return state() == LIRKO_STATUS_ONLINE; }));
    expect_one_query_for(server, "dispatcher");
}

TEST_F(LoginTest, PasswordsNeverReachTheLog)
{
    login_online();
    on_looper([&] { return lirko_logout(engine); });
    ASSERT_TRUE(wait_error(LIRKO_ERR_LOGGED_OUT));
    std::string log = read_file(cwd.file("kvptt.log"));
    EXPECT_NE(log.find("dispatcher"), std::string::npos);
    EXPECT_EQ(log.find("dispatcher-pw"), std::string::npos);
    EXPECT_EQ(log.find(DISPATCHER_MD5), std::string::npos);
}

class PromptLoginTest : public EngineFixture
{
    std::string ini_text() override
    {
        return EngineFixture::ini_text() + "[prompt]\naudio = 1\n";
    }
};

TEST_F(PromptLoginTest, MissingAccountIsReportedWithPromptsOn)
{
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "", "x", 0); }), -1);
    EXPECT_EQ(errors(), std::vector<int>{LIRKO_ERR_NO_ACCOUNT});
    EXPECT_EQ(on_looper([&] { return lirko_login_by_saved(engine); }), -1);
    EXPECT_EQ(errors(), (std::vector<int>{LIRKO_ERR_NO_ACCOUNT, LIRKO_ERR_NO_ACCOUNT}));
}

class SavedLoginTest : public EngineFixture
{
    std::string ini_text() override
    {
        return EngineFixture::ini_text() +
               "[account]\nuser = dispatcher\npassword = " + DISPATCHER_MD5 +
               "\nrole = 2\nencrypted = 1\n";
    }
};

TEST_F(SavedLoginTest, SavedDigestIsSentUnchanged)
{
    // A started saved login returns -1; state 2 says it started and its
    // outcome arrives later.
    EXPECT_EQ(on_looper([&] { return lirko_login_by_saved(engine); }), -1);
    EXPECT_EQ(states().front(), LIRKO_STATUS_LOGGING_IN);
    advance(5.0);
    ASSERT_TRUE(wait_until([&] { return state() == LIRKO_STATUS_ONLINE; }));
    auto logins = server.received("ptt.rr.Login");
    ASSERT_EQ(logins.size(), 1u);
    auto *login = reinterpret_cast<const Ptt__Rr__Login *>(logins[0].msg.get());
    EXPECT_STREQ(login->password, DISPATCHER_MD5);
    EXPECT_EQ(login->roles, 2u);
}

TEST_F(SavedLoginTest, SavedAccountReplacedWhileLoggingInKeepsTheStartedLogin)
{
    // The application saves other credentials when it hears of the login
    // (a callback may call the engine in place).
    lirko_notify_t listeners = {};
    listeners.on_online_status_changed = [](lirko_t *e, void *, LIRKO_ONLINE_STATUS s) {
        if (s == LIRKO_STATUS_LOGGING_IN) {
            lirko_save_account(e, "someone-else", "other-password-text", 0);
        }
    };
    on_looper([&] { return lirko_register_notify(engine, &listeners, nullptr); });
    EXPECT_EQ(on_looper([&] { return lirko_login_by_saved(engine); }), -1);
    advance(5.0);
    ASSERT_TRUE(wait_until([&] { return state() == LIRKO_STATUS_ONLINE; }));
    expect_one_query_for(server, "dispatcher");
    auto logins = server.received("ptt.rr.Login");
    ASSERT_EQ(logins.size(), 1u);
    auto *login = reinterpret_cast<const Ptt__Rr__Login *>(logins[0].msg.get());
    EXPECT_STREQ(login->account, "dispatcher");
    EXPECT_STREQ(login->password, DISPATCHER_MD5);
}

PttServer::Options broad_options()
{
    PttServer::Options o;
    o.broad = true;
    return o;
}

// Both ends count the whole frame in the length field.
class BroadLoginTest : public EngineFixture
{
  protected:
    BroadLoginTest() : EngineFixture(broad_options()) {}
    std::string ini_text() override
    {
        return EngineFixture::ini_text() + "broad = 1\n";
    }
};

TEST_F(BroadLoginTest, LogoutFrameCountsTheWholeFrame)
{
    login_online();
    on_looper([&] { return lirko_logout(engine); });
    ASSERT_TRUE(wait_error(LIRKO_ERR_LOGGED_OUT));
    auto logouts = server.received("ptt.rr.Logout");
    ASSERT_EQ(logouts.size(), 1u);
    const Bytes golden = {0x00, 0x00, 0x00, 0x18, 0x00, 0x0E, 'p', 't',  't',  '.',  'r',  'r',
                          '.',  'L',  'o',  'g',  'o',  'u',  't', 0x00, 0x2A, 0x86, 0x05, 0x39};
    EXPECT_EQ(logouts[0].raw, golden);
}

} // namespace
