// Engines on the manual clock with the file sound device, talking through
// the test server (talk_engine.h).
#pragma once

#include "hal_time.h"
#include "talk_engine.h"
#include "wave.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace ptt::test
{

// A test server whose group 2001 is everyone's default, with talk allowed
// and member priorities (dispatcher 5, alice and bob 1), and engines on the
// manual clock with the file sound device (silence in, out.wav out).
class TalkFixture : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        hal_clock_fake_enable(10'000'000);
        server.set_clock([] { return hal_time_now(); });
        wave_file_opts o = {};
        snprintf(o.out_path, sizeof(o.out_path), "%s", cwd.file("out.wav").c_str());
        o.fail_write_after = -1;
        ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
        std::string error;
        ASSERT_TRUE(server.start(&error)) << error;
        server.edit_directory([this](Directory &d) { edit(d); });
        server.sync();
    }
    void TearDown() override
    {
        engines.clear();
        server.stop();
        hal_clock_fake_disable();
    }
    // The directory changes of a test; the default one is described above.
    virtual void edit(Directory &d)
    {
        d.config.present = true;
        d.config.audio_enabled = true;
        d.config.default_group = 2001;
        for (DirMember &m : d.members) {
            if (m.gid == 2001)
                m.prior = m.uid == 1000 ? 5 : 1;
        }
    }
    // [record] codec 101 and no capture probation, plus a test's own lines.
    TalkEngine &add_engine(const std::string &extra_ini = "")
    {
        std::string dir = cwd.file("engine" + std::to_string(engines.size()));
        mkdir(dir.c_str(), 0777);
        engines.push_back(std::make_unique<TalkEngine>(
            server, dir, "[record]\ncodec = 101\nprobation = 0\n" + extra_ini));
        EXPECT_NE(engines.back()->engine, nullptr);
        return *engines.back();
    }
    // Moves the clock in steps; after each step every engine has run its
    // due timers and the server has handled what they sent.
    void advance(double seconds, double step = 0.5)
    {
        for (double t = 0; t < seconds - 1e-9; t += step) {
            hal_clock_fake_advance((uint64_t)llround(step * 1000));
            sync();
        }
    }
    void sync()
    {
        for (auto &e : engines)
            e->settle();
        server.sync();
        for (auto &e : engines)
            e->settle();
    }
    // Logs in and waits until the default group's session is IDLE.
    void join(TalkEngine &e, const char *account, const char *password)
    {
        ASSERT_EQ(e.login(account, password), 0);
        advance(5.0);
        ASSERT_TRUE(wait_until([&] { return e.online(); }));
        ASSERT_TRUE(wait_until([&] {
            sync();
            return e.status() == SESSION_STATUS_IDLE;
        }));
        sync();
        e.clear();
    }
    std::vector<int> tones()
    {
        return tones_in(read_wav_samples(cwd.file("out.wav")));
    }
    size_t count_to(const std::string &type, uint32_t gid)
    {
        size_t n = 0;
        for (const auto &r : server.received(type))
            n += r.gid == gid;
        return n;
    }

    TempCwd cwd;
    PttServer server;
    std::vector<std::unique_ptr<TalkEngine>> engines;
};

} // namespace ptt::test
