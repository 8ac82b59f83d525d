// One engine process for the end-to-end talk tests, driven only through the
// public header. It loads the engine on its working directory (custom.ini
// there names the server; LIRKO_AUDIO picks the sound device), takes one
// command per line on standard input and prints what the engine reports,
// one event per line on standard output:
//
//   commands: login ACCOUNT PASSWORD | join GID | leave | press | release |
//             record DIR | off-record | speaking | listening | quit
//   events:   status N | error CODE | group GID | speak GID | stop GID |
//             member UID GID | member-end UID GID | playing UID GID |
//             played UID GID | record-start UID GID NAME |
//             record-stop OK UID GID NAME | result COMMAND VALUE
#include "lirko_win.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>

static std::mutex g_out;
// The events go to the original standard output; the engine's own log lines
// (which it also writes to standard output) go to a file, so a parent that
// reads the events only now and then never stalls the engine's logging.
static int g_events = -1;

static void emit(const std::string &line)
{
    std::lock_guard<std::mutex> lock(g_out);
    std::string l = line + "\n";
    if (write(g_events, l.data(), l.size()) != (ssize_t)l.size())
        _exit(3);
}

static std::string ids(unsigned a, unsigned b)
{
    return std::to_string(a) + " " + std::to_string(b);
}

static void install_callbacks()
{
    lirko_win_set_online_status_cb(
        [](LIRKO_ONLINE_STATUS s) { emit("status " + std::to_string((int)s)); });
    lirko_win_set_error_cb([](const char *, int code) { emit("error " + std::to_string(code)); });
    lirko_win_set_current_group_cb(
        [](gid_t gid, const char *) { emit("group " + std::to_string(gid)); });
    lirko_win_set_start_speak_cb(
        [](gid_t gid, const char *) { emit("speak " + std::to_string(gid)); });
    lirko_win_set_stop_speak_cb(
        [](gid_t gid, const char *) { emit("stop " + std::to_string(gid)); });
    lirko_win_set_user_start_speak_cb(
        [](uid_t uid, const char *, gid_t gid, const char *) { emit("member " + ids(uid, gid)); });
    lirko_win_set_user_stop_speak_cb([](uid_t uid, const char *, gid_t gid, const char *) {
        emit("member-end " + ids(uid, gid));
    });
    lirko_win_set_start_playing_cb(
        [](uid_t uid, const char *, gid_t gid, const char *) { emit("playing " + ids(uid, gid)); });
    lirko_win_set_stop_playing_cb(
        [](uid_t uid, const char *, gid_t gid, const char *) { emit("played " + ids(uid, gid)); });
    lirko_win_set_start_record_cb([](gid_t gid, uid_t uid, const char *, const char *name) {
        emit("record-start " + ids(uid, gid) + " " + (name ? name : ""));
    });
    lirko_win_set_finish_record_cb([](lirko_boolean_t ok, gid_t gid, uid_t uid, const char *,
                                      const char *name) {
        emit("record-stop " + std::to_string(ok) + " " + ids(uid, gid) + " " + (name ? name : ""));
    });
}

int main()
{
    g_events = dup(1);
    int log = open("stdout.log", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (g_events < 0 || log < 0 || dup2(log, 1) < 0)
        return 2;
    close(log);
    char cwd[4096];
    if (!getcwd(cwd, sizeof(cwd)) || lirko_win_on_load(cwd) != 0) {
        emit("result load -1");
        return 1;
    }
    install_callbacks();
    emit("result load 0");
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd;
        in >> cmd;
        int r = 0;
        if (cmd == "login") {
            std::string account, password;
            in >> account >> password;
            r = lirko_win_login(account.c_str(), password.c_str(), 0);
        } else if (cmd == "join") {
            unsigned gid = 0;
            in >> gid;
            r = lirko_win_joinGroup(gid);
        } else if (cmd == "leave") {
            r = lirko_win_leaveGroup();
        } else if (cmd == "press") {
            r = lirko_win_startSpeak();
        } else if (cmd == "release") {
            r = lirko_win_stopSpeak();
        } else if (cmd == "record") {
            std::string dir;
            in >> dir;
            r = lirko_win_record_set_enabled(1, dir.c_str());
        } else if (cmd == "off-record") {
            r = lirko_win_record_set_enabled(0, nullptr);
        } else if (cmd == "speaking") {
            r = lirko_win_isSpeaking();
        } else if (cmd == "listening") {
            r = lirko_win_isListening();
        } else if (cmd == "quit") {
            break;
        } else {
            r = -100;
        }
        emit("result " + cmd + " " + std::to_string(r));
    }
    lirko_win_on_unload();
    emit("result quit 0");
    return 0;
}
