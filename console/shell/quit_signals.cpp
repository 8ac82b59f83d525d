#include "quit_signals.h"

#include "qtlog.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace
{

// The pipe from the signal handler to the GUI thread. Written by the
// handler on whichever thread the signal lands; read on the GUI thread. It
// is made once and never closed: a handler that runs while another thread
// removes it must still find a pipe (a closed read end would raise SIGPIPE,
// a closed descriptor could be reused by then).
int g_quit_pipe[2] = {-1, -1};

// The signals taken, the notifier on the pipe and what it runs:
// GUI thread only.
struct Taken {
    int signal;
    bool installed = false;
    struct sigaction before {
    };
};
Taken g_taken[] = {{SIGINT}, {SIGTERM}};
QSocketNotifier *g_notifier = nullptr;
std::function<void()> g_close;

void on_quit_signal(int signal)
{
    const int saved = errno;
    const char byte = (char)signal;
    // Non-blocking: with the pipe full a close is already on its way.
    ssize_t n = write(g_quit_pipe[1], &byte, 1);
    (void)n;
    errno = saved;
}

int make_pipe()
{
    if (g_quit_pipe[0] >= 0)
        return 0;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    g_quit_pipe[0] = fds[0];
    g_quit_pipe[1] = fds[1];
    return 0;
}

void on_readable()
{
    char bytes[16];
    int last = 0;
    ssize_t n;
    while ((n = read(g_quit_pipe[0], bytes, sizeof(bytes))) > 0)
        last = bytes[n - 1];
    if (last == 0)
        return;
    SHELL_LOG() << "signal" << last << "closes the window";
    if (g_close)
        g_close();
}

} // namespace

int quit_signals_install(std::function<void()> close)
{
    quit_signals_remove();
    if (make_pipe() != 0)
        return -1;
    g_close = std::move(close);
    // A byte left from an earlier install is no request to this window.
    char stale[16];
    while (read(g_quit_pipe[0], stale, sizeof(stale)) > 0) {
    }
    g_notifier = new QSocketNotifier(g_quit_pipe[0], QSocketNotifier::Read);
    QObject::connect(g_notifier, &QSocketNotifier::activated, &on_readable);
    int rc = 0;
    for (Taken &t : g_taken) {
        struct sigaction before {
        };
        if (sigaction(t.signal, nullptr, &before) != 0) {
            rc = -1;
            continue;
        }
        if (t.signal == SIGINT && before.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {
        };
        sa.sa_handler = on_quit_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        if (sigaction(t.signal, &sa, &t.before) != 0) {
            rc = -1;
            continue;
        }
        t.installed = true;
    }
    return rc;
}

void quit_signals_remove()
{
    for (Taken &t : g_taken) {
        if (t.installed)
            sigaction(t.signal, &t.before, nullptr);
        t.installed = false;
    }
    delete g_notifier;
    g_notifier = nullptr;
    g_close = nullptr;
}
