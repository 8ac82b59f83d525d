// Command-line driver of the engine: loads it on a directory holding
// custom.ini, logs in (with the given account, or the saved one), prints each
// status change and error, and on SIGINT, SIGTERM or after --seconds logs out
// and unloads.
//
//   lirko_cli [--dir DIR] [--account NAME --password TEXT] [--role N]
//             [--seconds N]
#include "lirko_win.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

static std::atomic<bool> g_stop{false};
static std::atomic<int> g_state{LIRKO_STATUS_NONE};

static void on_signal(int)
{
    g_stop = true;
}

static const char *state_name(int state)
{
    switch (state) {
    case LIRKO_STATUS_NONE:
        return "none";
    case LIRKO_STATUS_OFFLINE:
        return "offline";
    case LIRKO_STATUS_LOGGING_IN:
        return "logging in";
    case LIRKO_STATUS_ONLINE:
        return "online";
    default:
        return "?";
    }
}

static void on_status(LIRKO_ONLINE_STATUS state)
{
    g_state = state;
    printf("lirko_cli: status %d (%s)\n", (int)state, state_name(state));
    fflush(stdout);
}

static void on_error(const char *message, int code)
{
    printf("lirko_cli: error %d%s%s\n", code, message && *message ? " " : "",
           message ? message : "");
    fflush(stdout);
}

static void usage()
{
    fprintf(stderr, "usage: lirko_cli [--dir DIR] [--account NAME --password TEXT] [--role N] "
                    "[--seconds N]\n");
}

int main(int argc, char **argv)
{
    std::string dir = ".";
    std::string account;
    std::string password;
    int role = 0;
    double seconds = -1;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--dir" && has_value) {
            dir = argv[++i];
        } else if (arg == "--account" && has_value) {
            account = argv[++i];
        } else if (arg == "--password" && has_value) {
            password = argv[++i];
        } else if (arg == "--role" && has_value) {
            role = atoi(argv[++i]);
        } else if (arg == "--seconds" && has_value) {
            seconds = atof(argv[++i]);
        } else {
            usage();
            return 2;
        }
    }
    if (lirko_win_on_load(dir.c_str()) != 0) {
        fprintf(stderr, "lirko_cli: the engine could not be loaded on %s\n", dir.c_str());
        return 1;
    }
    lirko_win_set_online_status_cb(on_status);
    lirko_win_set_error_cb(on_error);
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    // Output may go to a pipe that closes first; the logout must still run.
    signal(SIGPIPE, SIG_IGN);
    int ret = account.empty() ? lirko_win_loginWithSaved()
                              : lirko_win_login(account.c_str(), password.c_str(), role);
    if (ret != 0) {
        fprintf(stderr, "lirko_cli: login refused (%d)\n", ret);
        lirko_win_on_unload();
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds >= 0 && elapsed >= seconds) {
            break;
        }
    }
    lirko_win_logout();
    // Give the logout's answer a moment (it is waited for at most 1 s).
    for (int i = 0; i < 20 && g_state != LIRKO_STATUS_OFFLINE; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    lirko_win_on_unload();
    return g_state == LIRKO_STATUS_OFFLINE ? 0 : 1;
}
