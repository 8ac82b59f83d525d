// Command-line driver of the engine: loads it on a directory holding
// custom.ini, logs in (with the given account, or the saved one), prints each
// status change and error with its meaning, and on SIGINT, SIGTERM or after
// --seconds logs out and unloads. A refused login ends it at once.
//
//   lirko_cli [--dir DIR] [--account NAME --password TEXT] [--role N]
//             [--seconds N] [--help]
//
// Exit status: 0 after a session that was online and logged out, 1 when the
// login was refused or never got online, 2 for a wrong command line.
#include "lirko_error.h"
#include "lirko_win.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <thread>

static std::atomic<bool> g_stop{false};
static std::atomic<int> g_state{LIRKO_STATUS_NONE};
// Set on the main thread before the login starts; read by the callbacks,
// which run on the engine's looper thread.
static std::atomic<bool> g_login_started{false};
static std::atomic<bool> g_ever_online{false};
static std::atomic<bool> g_refused{false};
static std::atomic<bool> g_no_server_said{false};
static std::atomic<int> g_last_error{0};
// State 2 was reported: a login is under way whatever the call returned.
static std::atomic<bool> g_logging_in{false};

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

// The engine reports bare codes and has no texts of its own. The login
// results -2, -3, -4 and -6 are the server's; the texts give what the
// server means by them. -2 and -6 also name two kick-out reasons, told
// apart by whether the session was online. Every code of the engine's table
// has a text here: the switch names them all, so a new code fails the build
// until it has one.
static const char *error_text(int code, bool online)
{
    switch ((enum lirko_error)code) {
    case LIRKO_ERR_LOGIN_REFUSED:
        return "the server refused the login";
    case LIRKO_ERR_LOGIN_RESULT_2:
        return online ? "kicked out by the server (reason 1)"
                      : "the server refused the login: wrong password";
    case LIRKO_ERR_ADDRESSING_FAILED:
        return "the server address could not be found (or the server refused the login with "
               "result -3)";
    case LIRKO_ERR_LOGIN_RESULT_4:
        return "the server refused the login: unknown account";
    case LIRKO_ERR_NO_ACCOUNT:
        return "no account to log in with";
    case LIRKO_ERR_LOGIN_RESULT_6:
        return online ? "kicked out by the server (reason 2)"
                      : "the server refused the login with result -6";
    case LIRKO_ERR_KICKOUT_3:
        return "kicked out by the server (reason 3)";
    case LIRKO_ERR_KICKOUT:
        return "kicked out by the server";
    case LIRKO_ERR_LOGIN_TIMEOUT:
        return "no answer to the login within 3 s";
    case LIRKO_ERR_LOGGED_OUT:
        return "logged out";
    case LIRKO_ERR_DISCONNECTED:
        return "disconnected from the server";
    case LIRKO_ERR_RECONNECTING:
        return "the link to the server broke or could not be made; reconnecting";
    case LIRKO_ERR_CONTEXT:
        return "the server's address answer names another context";
    case LIRKO_ERR_CONNECTING:
        return "connecting to the server";
    case LIRKO_ERR_JOIN_REFUSED:
        return "joining the group was refused";
    case LIRKO_ERR_JOIN_TIMEOUT:
        return "no answer to joining the group";
    case LIRKO_ERR_MIC_REFUSED:
        return "the floor was refused";
    case LIRKO_ERR_MIC_TOO_SOON:
        return "the floor was asked for again within 1 s";
    case LIRKO_ERR_TALK_DISABLED:
        return "talking is not enabled for this user";
    case LIRKO_ERR_MIC_BAD_STATE:
        return "the floor was asked for while neither idle nor listening";
    case LIRKO_ERR_FOCUS_REFUSED:
        return "the audio focus was refused";
    case LIRKO_ERR_MIC_LOWER_PRIORITY:
        return "the current speaker's role or priority is higher";
    case LIRKO_ERR_MIC_TIMEOUT:
        return "no answer to the floor request within 2 s";
    case LIRKO_ERR_RECORDER_FAILED:
        return "the voice recorder failed to start";
    }
    return "unknown code";
}

// Codes that mean the server was not reached at all (before any login).
static bool no_server_code(int code)
{
    return code == LIRKO_ERR_ADDRESSING_FAILED || code == LIRKO_ERR_DISCONNECTED ||
           code == LIRKO_ERR_RECONNECTING;
}

static void on_status(LIRKO_ONLINE_STATUS state)
{
    g_state = state;
    if (state == LIRKO_STATUS_LOGGING_IN) {
        g_logging_in = true;
    }
    if (state == LIRKO_STATUS_ONLINE) {
        g_ever_online = true;
    }
    // The engine falls back to "none" only when the server refused the
    // login; it does not try again.
    if (state == LIRKO_STATUS_NONE && g_login_started) {
        g_refused = true;
    }
    printf("lirko_cli: status %d (%s)\n", (int)state, state_name(state));
    fflush(stdout);
}

static void on_error(const char *message, int code)
{
    const char *extra = message && *message ? message : nullptr;
    if (code == LIRKO_ERR_LOGGED_OUT) {
        // The normal end of every session, not a failure.
        printf("lirko_cli: logged out (code %d)\n", code);
    } else {
        g_last_error = code;
        // The status report follows the error, so the state seen here is
        // the one the error ended.
        bool online = g_state == LIRKO_STATUS_ONLINE;
        printf("lirko_cli: error %d: %s%s%s\n", code, error_text(code, online), extra ? ": " : "",
               extra ? extra : "");
    }
    // The engine keeps trying on its own; saying so on every attempt would
    // bury the rest.
    if (!g_ever_online && no_server_code(code) && !g_no_server_said.exchange(true)) {
        printf("lirko_cli: no server answers yet (see [network] dns in custom.ini); the engine "
               "keeps trying until the stop\n");
    }
    fflush(stdout);
}

static void usage(FILE *out)
{
    fprintf(out, "usage: lirko_cli [--dir DIR] [--account NAME --password TEXT] [--role N] "
                 "[--seconds N] [--help]\n");
}

static void help()
{
    usage(stdout);
    printf("Loads the engine, logs in and prints every status change and error until Ctrl-C.\n"
           "  --dir DIR        folder with custom.ini, where the engine keeps its files (.)\n"
           "  --account NAME   account to log in with (default: the saved account)\n"
           "  --password TEXT  password of --account\n"
           "  --role N         role number sent with the login (0)\n"
           "  --seconds N      log out and end after N seconds\n"
           "  --help           print this help\n"
           "Exit status: 0 after an online session and logout, 1 when the login was\n"
           "refused or never got online, 2 for a wrong command line.\n");
}

// A wrong command line: the reason, then the usage line.
static int bad_args(const std::string &reason)
{
    fprintf(stderr, "lirko_cli: %s\n", reason.c_str());
    usage(stderr);
    return 2;
}

static bool parse_seconds(const char *text, double *seconds)
{
    char *end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v < 0) {
        return false;
    }
    *seconds = v;
    return true;
}

static bool parse_role(const char *text, int *role)
{
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 0 || v > 0x7fffffff) {
        return false;
    }
    *role = (int)v;
    return true;
}

struct Options {
    std::string dir = ".";
    std::string account;
    std::string password;
    int role = 0;
    double seconds = -1;
};

// 0 to run, 1 after --help, or the exit status 2 with the reason printed.
static int parse_options(int argc, char **argv, Options *o)
{
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help();
            return 1;
        }
        if (arg != "--dir" && arg != "--account" && arg != "--password" && arg != "--role" &&
            arg != "--seconds") {
            return bad_args("unknown option " + arg);
        }
        if (i + 1 >= argc) {
            return bad_args(arg + " needs a value");
        }
        const char *value = argv[++i];
        if (arg == "--dir") {
            o->dir = value;
        } else if (arg == "--account") {
            o->account = value;
        } else if (arg == "--password") {
            o->password = value;
        } else if (arg == "--role" && !parse_role(value, &o->role)) {
            return bad_args("--role " + std::string(value) + ": not a role number");
        } else if (arg == "--seconds" && !parse_seconds(value, &o->seconds)) {
            return bad_args("--seconds " + std::string(value) + ": not a number of seconds");
        }
    }
    struct stat st;
    if (stat(o->dir.c_str(), &st) != 0) {
        return bad_args("--dir " + o->dir + ": no such folder");
    }
    if (!S_ISDIR(st.st_mode)) {
        return bad_args("--dir " + o->dir + ": not a folder");
    }
    return 0;
}

// Waits for Ctrl-C, a refused login or the end of --seconds.
static void run_session(double seconds)
{
    auto start = std::chrono::steady_clock::now();
    while (!g_stop && !g_refused) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (seconds >= 0 && elapsed >= seconds) {
            break;
        }
    }
}

int main(int argc, char **argv)
{
    Options o;
    int parsed = parse_options(argc, argv, &o);
    if (parsed != 0) {
        return parsed == 1 ? 0 : parsed;
    }
    if (lirko_win_on_load(o.dir.c_str()) != 0) {
        fprintf(stderr, "lirko_cli: the engine could not be loaded on %s\n", o.dir.c_str());
        return 1;
    }
    lirko_win_set_online_status_cb(on_status);
    lirko_win_set_error_cb(on_error);
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    // Output may go to a pipe that closes first; the logout must still run.
    signal(SIGPIPE, SIG_IGN);
    g_login_started = true;
    int ret = o.account.empty() ? lirko_win_loginWithSaved()
                                : lirko_win_login(o.account.c_str(), o.password.c_str(), o.role);
    // A saved-account login that starts returns -1 too: what tells is the
    // status callback, whose state 2 comes before the call returns (or state
    // 3 when the engine was online already).
    if (ret != 0 && (g_logging_in || g_state == LIRKO_STATUS_ONLINE)) {
        ret = 0;
    }
    if (ret != 0) {
        fprintf(stderr, "lirko_cli: the login could not start (%d)%s\n", ret,
                o.account.empty() ? ": no saved account; give --account and --password" : "");
        lirko_win_on_unload();
        return 1;
    }
    run_session(o.seconds);
    if (g_refused) {
        printf("lirko_cli: login refused (error %d); ending\n", (int)g_last_error);
        fflush(stdout);
        lirko_win_on_unload();
        return 1;
    }
    lirko_win_logout();
    // Give the logout's answer a moment (it is waited for at most 1 s).
    for (int i = 0; i < 40 && g_state != LIRKO_STATUS_OFFLINE; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    lirko_win_on_unload();
    if (!g_ever_online) {
        printf("lirko_cli: never online%s\n",
               o.seconds >= 0 ? " within --seconds" : " before the stop");
        fflush(stdout);
        return 1;
    }
    return g_state == LIRKO_STATUS_OFFLINE ? 0 : 1;
}
