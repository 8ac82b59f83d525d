// An engine made with lirko_new in a private directory, pointed at a test
// push-to-talk server on loopback, on the manual engine clock. The listener
// slots on_error and on_online_status_changed record what they are told.
#pragma once

#include "connection.h"
#include "hal_ini.h"
#include "hal_looper.h"
#include "hal_time.h"
#include "lirko.h"
#include "lirko_login.h"
#include "looper_call.h"
#include "notify_recorder.h"
#include "ptt_server.h"
#include "sessionset.h"
#include "test_support.h"

#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ptt::test
{

class EngineFixture : public ::testing::Test
{
  protected:
    EngineFixture() = default;
    explicit EngineFixture(PttServer::Options options) : server(std::move(options)) {}

    void SetUp() override
    {
        hal_clock_fake_enable(10'000'000);
        server.set_clock([] { return hal_time_now(); });
        std::string error;
        ASSERT_TRUE(server.start(&error)) << error;
        write_file(cwd.file("custom.ini"), ini_text());
        engine = lirko_new(cwd.path().c_str());
        ASSERT_NE(engine, nullptr);
        lirko_notify_t listeners = {};
        listeners.on_error = on_error;
        listeners.on_online_status_changed = on_status;
        on_looper([&] { return lirko_register_notify(engine, &listeners, this); });
    }

    void TearDown() override
    {
        lirko_destroy(&engine);
        server.stop();
        hal_clock_fake_disable();
    }

    // custom.ini for the engine; a test may override it before SetUp runs.
    virtual std::string ini_text()
    {
        return "[network]\ndns = " + server.dns_entry() + "\n";
    }

    // Runs fn on the looper and returns its result.
    int on_looper(std::function<int()> fn)
    {
        return looper_call(engine->looper, std::move(fn));
    }

    // Returns once the looper has run every timer due at the current time.
    void settle()
    {
        looper_settle(engine->looper);
    }

    // Moves the engine clock in half-second steps (the connection's tick).
    // After each step the engine has run its due timers, the server has
    // handled what they sent (so its time stamps are exact) and the engine
    // has read the answers, all at the same engine time.
    void advance(double seconds)
    {
        for (double t = 0; t < seconds - 1e-9; t += 0.5) {
            hal_clock_fake_advance(500);
            step();
        }
    }
    void step()
    {
        settle();
        server.sync();
        settle();
    }

    // Logs in as dispatcher and waits until online: the first attempt starts
    // one retry interval (5 s) after the login.
    void login_online(const char *account = "dispatcher", const char *password = "dispatcher-pw")
    {
        EXPECT_EQ(on_looper([&] { return lirko_login(engine, account, password, 0); }), 0);
        advance(5.0);
        ASSERT_TRUE(wait_until([&] { return state() == LIRKO_STATUS_ONLINE; }));
        // The follow-up queries of a login are answered; let them arrive.
        ASSERT_TRUE(server.wait_count("ptt.rr.QueryContacts", 1));
        // The group answer makes the directory cache ask for the members,
        // and the session set join a group, whose members are asked for
        // once more when the join is answered.
        if (!server.directory().groups.empty()) {
            ASSERT_TRUE(server.wait_count("ptt.rr.QueryMembers", 1));
            ASSERT_TRUE(wait_until(
                [&] {
                    return on_looper(
                        [&] { return (int)sessionset_current_gid(engine->sessionset); });
                },
                std::chrono::seconds(30)));
            ASSERT_TRUE(server.wait_count("ptt.rr.QueryMembers", 2, std::chrono::seconds(30)));
        }
        step();
    }

    // Puts the recording listener table of notify_recorder.h in place of the
    // fixture's own (errors() and states() then stay as they are), forwarding
    // each call to target; app_callbacks also records every application
    // callback. The record starts empty.
    void record_notifications(const lirko_notify_t *target = nullptr, bool app_callbacks = false)
    {
        NotifyRecorder::get().target = target;
        on_looper([&] {
            lirko_notify_t t = recording_listeners();
            lirko_register_notify(engine, &t, this);
            if (app_callbacks)
                record_app_callbacks(engine);
            return 0;
        });
        NotifyRecorder::get().clear();
    }

    LIRKO_ONLINE_STATUS state()
    {
        return (LIRKO_ONLINE_STATUS)on_looper([&] { return (int)engine->login_state; });
    }
    std::vector<int> errors()
    {
        std::lock_guard<std::mutex> lock(m);
        return errors_;
    }
    std::vector<int> states()
    {
        std::lock_guard<std::mutex> lock(m);
        return states_;
    }
    void clear_reports()
    {
        std::lock_guard<std::mutex> lock(m);
        errors_.clear();
        states_.clear();
    }
    bool wait_error(int code)
    {
        return wait_until([&] {
            std::lock_guard<std::mutex> lock(m);
            for (int e : errors_) {
                if (e == code) {
                    return true;
                }
            }
            return false;
        });
    }

    TempCwd cwd;
    PttServer server;
    lirko_t *engine = nullptr;

  private:
    static void on_error(lirko_t *, void *user, const char *, int code)
    {
        auto *self = static_cast<EngineFixture *>(user);
        std::lock_guard<std::mutex> lock(self->m);
        self->errors_.push_back(code);
    }
    static void on_status(lirko_t *, void *user, LIRKO_ONLINE_STATUS s)
    {
        auto *self = static_cast<EngineFixture *>(user);
        std::lock_guard<std::mutex> lock(self->m);
        self->states_.push_back((int)s);
    }

    std::mutex m;
    std::vector<int> errors_;
    std::vector<int> states_;
};

} // namespace ptt::test
