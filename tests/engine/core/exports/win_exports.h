// What the application hears through the callbacks of the command and
// directory exports, as one line per call, and a logged-in engine on the
// test server for the export tests (public header only).
#pragma once

#include "win_fixture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace ptt::test
{

struct Heard {
    std::mutex m;
    std::vector<std::string> lines;

    static Heard &get()
    {
        static Heard h;
        return h;
    }
    static void add(const char *format, ...) __attribute__((format(printf, 1, 2)))
    {
        char line[256];
        va_list ap;
        va_start(ap, format);
        vsnprintf(line, sizeof(line), format, ap);
        va_end(ap);
        std::lock_guard<std::mutex> lock(get().m);
        get().lines.push_back(line);
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        lines.clear();
    }
    bool has(const std::string &line)
    {
        std::lock_guard<std::mutex> lock(m);
        for (const std::string &l : lines) {
            if (l == line)
                return true;
        }
        return false;
    }
    std::string all()
    {
        std::lock_guard<std::mutex> lock(m);
        std::string s;
        for (const std::string &l : lines)
            s += "[" + l + "] ";
        return s;
    }
};

// Registers a recording callback for every answer the command and
// directory exports lead to.
inline void win_register_heard()
{
    lirko_win_set_change_name_cb([](lirko_boolean_t ok) { Heard::add("name %d", ok); });
    lirko_win_set_change_password_cb([](lirko_boolean_t ok) { Heard::add("password %d", ok); });
    lirko_win_set_dispatcher_cb(
        [](lirko_boolean_t ok, lirko_boolean_t has_gid, gid_t gid, const uid_t *, size_t n) {
            Heard::add("dispatch %d %d %u n%zu", ok, has_gid, gid, n);
        });
    lirko_win_set_take_mic_cb(
        [](lirko_boolean_t ok, const uid_t *, size_t n) { Heard::add("takemic %d n%zu", ok, n); });
    lirko_win_set_audio_enabledcall_cb([](lirko_boolean_t ok, lirko_boolean_t on, const uid_t *,
                                          size_t n) { Heard::add("audio %d %d n%zu", ok, on, n); });
    lirko_win_set_switch_location_cb(
        [](lirko_boolean_t ok, lirko_boolean_t on, const uid_t *, size_t n) {
            Heard::add("location %d %d n%zu", ok, on, n);
        });
    lirko_win_set_send_invite_ack_cb([](uint64_t id, const uint32_t *, uint32_t n, int result) {
        Heard::add("invite_ack %llu n%u %d", (unsigned long long)id, n, result);
    });
    lirko_win_set_send_response_invite_ack_cb(
        [](int result) { Heard::add("response_ack %d", result); });
    lirko_win_set_send_push_invite_cb([](uint64_t id, uint32_t inviter, uint32_t audio,
                                         uint32_t video, const char *msg, uint32_t duplex) {
        Heard::add("push_invite %llu %u a%u v%u %s d%u", (unsigned long long)id, inviter, audio,
                   video, msg ? msg : "(null)", duplex);
    });
    lirko_win_set_send_push_response_invite_cb(
        [](uint64_t id, uint32_t invitee, uint32_t accept, int) {
            Heard::add("push_response %llu %u %u", (unsigned long long)id, invitee, accept);
        });
    lirko_win_set_send_encryp_ack_cb([](int result) { Heard::add("encryp_ack %d", result); });
    lirko_win_set_process_sos_cb([](int result) { Heard::add("process_sos %d", result); });
    lirko_win_set_close_sos_cb([](int result) { Heard::add("close_sos %d", result); });
    lirko_win_get_watch_group_cb(
        [](const gid_t *, int n, const gid_t *, int, int) { Heard::add("get_watch n%d", n); });
    lirko_win_add_watch_group_cb([](const gid_t *, int changed, const gid_t *, int n, int r) {
        Heard::add("add_watch c%d n%d r%d", changed, n, r);
    });
    lirko_win_rm_watch_group_cb([](const gid_t *, int changed, const gid_t *, int n, int r) {
        Heard::add("rm_watch c%d n%d r%d", changed, n, r);
    });
    lirko_win_set_start_watch_group_cb([](gid_t gid) { Heard::add("start_watch %u", gid); });
    lirko_win_set_grouplist_cb([] { Heard::add("grouplist"); });
    lirko_win_set_memberlist_cb([](gid_t gid) { Heard::add("members %u", gid); });
    lirko_win_set_users_changed_cb([](size_t n, const win_user_t *users) {
        Heard::add("users n%zu %u", n, n ? users[0].uid : 0u);
    });
    lirko_win_set_query_department_cb([] { Heard::add("departments"); });
    lirko_win_set_current_group_cb([](gid_t gid, const char *) { Heard::add("current %u", gid); });
    lirko_win_set_start_playing_cb([](uid_t uid, const char *, gid_t gid, const char *) {
        Heard::add("playing %u %u", uid, gid);
    });
}

// The text of the index-th TCP message of a type the server received, or
// "(none)".
inline std::string win_text_of(PttServer &server, const std::string &type, size_t index = 0)
{
    size_t i = 0;
    for (const auto &r : server.received(type)) {
        if (r.udp)
            continue;
        if (i++ == index)
            return r.text;
    }
    return "(none)";
}

// The TCP requests the server received, keep-alive left out.
inline std::vector<std::string> win_requests(PttServer &server)
{
    std::vector<std::string> types;
    for (const auto &r : server.received()) {
        if (!r.udp && r.type != "ptt.net.Ping" && r.type != "ptt.net.HeartBeat")
            types.push_back(r.type);
    }
    return types;
}

} // namespace ptt::test
