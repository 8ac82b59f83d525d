// Drives the engine through its public header only (liblirko.so), against
// the test server on loopback and the manual engine clock. The application
// callbacks carry no user data, so what they hear goes to one recorder.
#pragma once

#include "hal_time.h"
#include "lirko_win.h"
#include "ptt_server.h"
#include "test_support.h"

#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace ptt::test
{

struct WinReports {
    std::mutex m;
    std::vector<int> states;
    std::vector<int> errors;
    std::vector<std::string> messages;

    static WinReports &get()
    {
        static WinReports r;
        return r;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        states.clear();
        errors.clear();
        messages.clear();
    }
    std::vector<int> states_copy()
    {
        std::lock_guard<std::mutex> lock(m);
        return states;
    }
    std::vector<int> errors_copy()
    {
        std::lock_guard<std::mutex> lock(m);
        return errors;
    }
    static void on_status(LIRKO_ONLINE_STATUS s)
    {
        std::lock_guard<std::mutex> lock(get().m);
        get().states.push_back((int)s);
    }
    static void on_error(const char *message, int code)
    {
        std::lock_guard<std::mutex> lock(get().m);
        get().errors.push_back(code);
        get().messages.push_back(message ? message : "(null)");
    }
};

// Moves the engine clock in half-second steps; after each the engine has run
// its timers (an export is a round trip through the looper) and the server
// has handled what they sent.
inline void win_advance(PttServer &server, double seconds)
{
    for (double t = 0; t < seconds - 1e-9; t += 0.5) {
        hal_clock_fake_advance(500);
        lirko_win_getOnlineStatus();
        lirko_win_getOnlineStatus();
        server.sync();
        lirko_win_getOnlineStatus();
        lirko_win_getOnlineStatus();
    }
}

// Loads the engine on a directory whose custom.ini names the server, sets
// both callbacks, logs in and waits until online.
inline bool win_load_and_login(PttServer &server, const std::string &dir)
{
    if (!write_file(dir + "/custom.ini", "[network]\ndns = " + server.dns_entry() + "\n") ||
        lirko_win_on_load(dir.c_str()) != 0) {
        return false;
    }
    lirko_win_set_online_status_cb(WinReports::on_status);
    lirko_win_set_error_cb(WinReports::on_error);
    if (lirko_win_login("dispatcher", "dispatcher-pw", 0) != 0) {
        return false;
    }
    win_advance(server, 5.0);
    return wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; });
}

// The frame every export test shares: the manual engine clock from start_ms,
// the test server on that clock, and after each test the engine unloaded, the
// server stopped and the real clock back. file_sound: the file sound device,
// writing into the test's folder. default_group: the account's configuration
// enables audio and names group 2001 as its default.
class WinServerTest : public ::testing::Test
{
  protected:
    explicit WinServerTest(uint64_t start_ms = 20'000'000, bool file_sound = true,
                           bool default_group = true)
        : start_ms_(start_ms), file_sound_(file_sound), default_group_(default_group)
    {
    }
    void SetUp() override
    {
        if (file_sound_)
            setenv("LIRKO_AUDIO", ("file:," + cwd.file("out.wav")).c_str(), 1);
        hal_clock_fake_enable(start_ms_);
        server.set_clock([] { return hal_time_now(); });
        std::string error;
        ASSERT_TRUE(server.start(&error)) << error;
        if (default_group_) {
            server.edit_directory([](Directory &d) {
                d.config.present = true;
                d.config.audio_enabled = true;
                d.config.default_group = 2001;
            });
            server.sync();
        }
        WinReports::get().clear();
    }
    void TearDown() override
    {
        lirko_win_on_unload();
        server.stop();
        hal_clock_fake_disable();
    }

    TempCwd cwd;
    PttServer server;

  private:
    uint64_t start_ms_;
    bool file_sound_;
    bool default_group_;
};

} // namespace ptt::test
