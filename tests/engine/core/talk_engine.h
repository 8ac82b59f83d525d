// Engines made with lirko_new that talk through the test server on
// loopback. Each engine has its own directory and records its talk reports
// (error, own talk, member talk, playing, current group, voice files) as
// "slot:args". The prompt tones are read back from the sound output, where
// the system beep of the file device writes them.
#pragma once

#include "hal_looper.h"
#include "lirko.h"
#include "lirko_login.h"
#include "lirko_notify.h"
#include "looper_call.h"
#include "ptt_server.h"
#include "session.h"
#include "sessionset.h"
#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ptt::test
{

// Listener slots the talk reports arrive at.
enum TalkSlot {
    SLOT_ERROR = 1,
    SLOT_USER_START_SPEAK = 13,
    SLOT_USER_STOP_SPEAK = 14,
    SLOT_START_SPEAK = 15,
    SLOT_STOP_SPEAK = 16,
    SLOT_CURRENT_GROUP = 17,
    SLOT_START_PLAYING = 21,
    SLOT_STOP_PLAYING = 22,
    SLOT_START_RECORD = 25,
    SLOT_STOP_RECORD = 26,
    SLOT_INVITE_TIMEOUT = 42,
    SLOT_RESPONSE_INVITE_TIMEOUT = 43,
    SLOT_ENCRYP_TIMEOUT = 49,
};

class TalkEngine
{
  public:
    TalkEngine(PttServer &server, const std::string &dir, const std::string &extra_ini)
    {
        write_file(dir + "/custom.ini",
                   "[network]\ndns = " + server.dns_entry() + "\n" + extra_ini);
        engine = lirko_new(dir.c_str());
        if (!engine)
            return;
        on_looper([&] {
            lirko_notify_t t = {};
            t.on_error = [](lirko_t *, void *u, const char *, int code) {
                self(u)->add(SLOT_ERROR, std::to_string(code));
            };
            t.on_user_start_speak = [](lirko_t *, void *u, uid_t uid, const char *, gid_t gid,
                                       const char *) {
                self(u)->add(SLOT_USER_START_SPEAK, ids(gid, uid));
            };
            t.on_user_stop_speak = [](lirko_t *, void *u, uid_t uid, const char *, gid_t gid,
                                      const char *) {
                self(u)->add(SLOT_USER_STOP_SPEAK, ids(gid, uid));
            };
            t.on_start_speak = [](lirko_t *, void *u, gid_t gid, const char *) {
                self(u)->add(SLOT_START_SPEAK, std::to_string(gid));
            };
            t.on_stop_speak = [](lirko_t *, void *u, gid_t gid, const char *) {
                self(u)->add(SLOT_STOP_SPEAK, std::to_string(gid));
            };
            t.on_current_group = [](lirko_t *, void *u, gid_t gid, const char *) {
                self(u)->add(SLOT_CURRENT_GROUP, std::to_string(gid));
            };
            t.on_start_playing_sound = [](lirko_t *, void *u, uid_t uid, const char *, gid_t gid,
                                          const char *) {
                self(u)->add(SLOT_START_PLAYING, ids(gid, uid));
            };
            t.on_stop_playing_sound = [](lirko_t *, void *u, uid_t uid, const char *, gid_t gid,
                                         const char *) {
                self(u)->add(SLOT_STOP_PLAYING, ids(gid, uid));
            };
            t.on_start_record_voice = [](lirko_t *, void *u, gid_t gid, uid_t uid, const char *,
                                         const char *file) {
                self(u)->add(SLOT_START_RECORD, ids(gid, uid) + "," + file);
            };
            t.on_stop_record_voice = [](lirko_t *, void *u, uint8_t ok, gid_t gid, uid_t uid,
                                        const char *, const char *file) {
                self(u)->add(SLOT_STOP_RECORD,
                             std::to_string(ok) + "," + ids(gid, uid) + "," + file);
            };
            // These slots take no user data: the engine finds its recorder.
            t.on_send_invite_timeout = [](lirko_t *en) { of(en)->add(SLOT_INVITE_TIMEOUT, ""); };
            t.on_send_response_invite_timeout = [](lirko_t *en) {
                of(en)->add(SLOT_RESPONSE_INVITE_TIMEOUT, "");
            };
            t.on_send_encryp_timeout = [](lirko_t *en) { of(en)->add(SLOT_ENCRYP_TIMEOUT, ""); };
            return lirko_register_notify(engine, &t, this);
        });
        std::lock_guard<std::mutex> lock(registry_mutex());
        registry().push_back(this);
    }
    ~TalkEngine()
    {
        lirko_destroy(&engine);
        std::lock_guard<std::mutex> lock(registry_mutex());
        registry().erase(std::find(registry().begin(), registry().end(), this));
    }

    int on_looper(std::function<int()> fn)
    {
        return looper_call(engine->looper, std::move(fn));
    }
    void settle()
    {
        looper_settle(engine->looper);
    }
    int status()
    {
        return on_looper([&] {
            session *s = sessionset_current(engine->sessionset);
            return s ? s->status : -1;
        });
    }
    int login(const char *account, const char *password)
    {
        return on_looper([&] { return lirko_login(engine, account, password, 0); });
    }
    int online()
    {
        return on_looper([&] { return engine->login_state == LIRKO_STATUS_ONLINE; });
    }

    // Reports since the last clear, as "slot:args".
    std::vector<std::string> calls()
    {
        std::lock_guard<std::mutex> lock(m_);
        return calls_;
    }
    std::vector<std::string> calls(int slot)
    {
        std::vector<std::string> out;
        std::string prefix = std::to_string(slot) + ":";
        for (const std::string &c : calls()) {
            if (c.rfind(prefix, 0) == 0)
                out.push_back(c.substr(prefix.size()));
        }
        return out;
    }
    bool has(int slot, const std::string &args)
    {
        for (const std::string &c : calls(slot)) {
            if (c == args)
                return true;
        }
        return false;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_);
        calls_.clear();
    }

    lirko_t *engine = nullptr;

  private:
    static TalkEngine *self(void *u)
    {
        return static_cast<TalkEngine *>(u);
    }
    static std::vector<TalkEngine *> &registry()
    {
        static std::vector<TalkEngine *> r;
        return r;
    }
    static std::mutex &registry_mutex()
    {
        static std::mutex m;
        return m;
    }
    static TalkEngine *of(lirko_t *en)
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        for (TalkEngine *e : registry()) {
            if (e->engine == en)
                return e;
        }
        return nullptr;
    }
    static std::string ids(gid_t gid, uid_t uid)
    {
        return std::to_string(gid) + "," + std::to_string(uid);
    }
    void add(int slot, const std::string &args)
    {
        std::lock_guard<std::mutex> lock(m_);
        calls_.push_back(std::to_string(slot) + ":" + args);
    }
    std::mutex m_;
    std::vector<std::string> calls_;
};

// The prompt tones, as the file device's beep writes them: a half-scale
// sine with 4 ms ramps. Returns {position, frequency} of each tone found in
// pcm, in order.
inline std::vector<std::pair<size_t, int>> tone_positions(const std::vector<int16_t> &pcm)
{
    struct tone {
        int freq;
        std::vector<int16_t> samples;
    };
    static const std::vector<tone> tones = [] {
        std::vector<tone> out;
        for (auto [freq, ms] : std::vector<std::pair<int, int>>{
                 {1568, 60}, {3700, 60}, {2600, 100}, {1318, 60}, {1175, 100}}) {
            uint32_t n = 8000 * ms / 1000, ramp = 32;
            tone t{freq, std::vector<int16_t>(n)};
            for (uint32_t i = 0; i < n; i++) {
                double g = i < ramp ? (double)i / ramp
                                    : (n - 1 - i < ramp ? (double)(n - 1 - i) / ramp : 1.0);
                t.samples[i] = (int16_t)lrint(16384.0 * g * sin(2.0 * M_PI * freq * i / 8000));
            }
            out.push_back(std::move(t));
        }
        return out;
    }();
    std::vector<std::pair<size_t, int>> found;
    size_t i = 0;
    while (i < pcm.size()) {
        bool matched = false;
        for (const tone &t : tones) {
            if (i + t.samples.size() <= pcm.size() &&
                std::equal(t.samples.begin(), t.samples.end(), pcm.begin() + (ptrdiff_t)i)) {
                found.push_back({i, t.freq});
                i += t.samples.size();
                matched = true;
                break;
            }
        }
        if (!matched)
            i++;
    }
    return found;
}

// The frequencies of the tones in pcm, in order.
inline std::vector<int> tones_in(const std::vector<int16_t> &pcm)
{
    std::vector<int> out;
    for (auto [pos, freq] : tone_positions(pcm))
        out.push_back(freq);
    return out;
}

inline std::vector<int16_t> read_wav_samples(const std::string &path)
{
    std::string b = read_file(path);
    if (b.size() < 44)
        return {};
    std::vector<int16_t> pcm((b.size() - 44) / 2);
    std::memcpy(pcm.data(), b.data() + 44, pcm.size() * 2);
    return pcm;
}

} // namespace ptt::test
