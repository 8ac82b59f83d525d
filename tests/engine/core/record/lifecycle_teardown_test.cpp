// Tearing the engine down at every stage of a login: while addressing, while
// the TCP connection is being made, with a login request unanswered, while a
// logout waits for its answer. Nothing may leak, hang or call a listener
// once lirko_destroy has returned (run under ASan/LSan).
#include "core_fixture.h"

using namespace ptt::test;

namespace
{

class TeardownTest : public EngineFixture
{
  protected:
    // Destroys the engine and checks that the server saw its client go.
    void destroy_now()
    {
        lirko_destroy(&engine);
        EXPECT_EQ(engine, nullptr);
        EXPECT_TRUE(server.wait_clients(0));
        // What the teardown itself reported is allowed; once it has
        // returned, time may pass and nothing more arrives.
        std::vector<int> e = errors(), s = states();
        hal_clock_fake_advance(10'000);
        server.sync();
        EXPECT_EQ(errors(), e);
        EXPECT_EQ(states(), s);
    }
};

TEST_F(TeardownTest, WhileAddressing)
{
    server.set_silent(true);
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "pw", 0); }), 0);
    advance(5.0);
    ASSERT_TRUE(server.wait_count("ptt.rr.QueryServer", 1));
    destroy_now();
}

TEST_F(TeardownTest, WithTheLoginUnanswered)
{
    server.ignore("ptt.rr.Login");
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "pw", 0); }), 0);
    advance(5.0);
    ASSERT_TRUE(server.wait_count("ptt.rr.Login", 1));
    destroy_now();
}

TEST_F(TeardownTest, RightAfterTheLoginCall)
{
    EXPECT_EQ(on_looper([&] { return lirko_login(engine, "dispatcher", "pw", 0); }), 0);
    destroy_now();
}

TEST_F(TeardownTest, WhileALogoutWaitsForItsAnswer)
{
    login_online();
    server.ignore("ptt.rr.Logout");
    on_looper([&] { return lirko_logout(engine); });
    ASSERT_TRUE(server.wait_count("ptt.rr.Logout", 1));
    destroy_now();
}

TEST_F(TeardownTest, ManyRoundsOnlineThenDestroyed)
{
    for (int i = 0; i < 5; i++) {
        SCOPED_TRACE(i);
        if (!engine) {
            engine = lirko_new(cwd.path().c_str());
            ASSERT_NE(engine, nullptr);
        }
        login_online();
        destroy_now();
    }
}

TEST_F(TeardownTest, DestroyOnTheLooperIsRefused)
{
    // The looper cannot join itself: the engine and the caller's pointer
    // stay, and the engine still works.
    login_online();
    EXPECT_EQ(on_looper([&] {
                  lirko_t *self = engine;
                  lirko_destroy(&self);
                  return self == engine;
              }),
              1);
    EXPECT_EQ(state(), LIRKO_STATUS_ONLINE);
    destroy_now();
}

} // namespace
