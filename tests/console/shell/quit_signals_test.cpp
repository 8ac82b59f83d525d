// SIGINT and SIGTERM reach the window as a close request through the event
// loop; an ignored SIGINT stays ignored; removal gives the old actions back.
#include "quit_signals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>

namespace
{

// Stands for the main window: counts the close requests.
struct CountingWindow {
    int closes = 0;
    std::function<void()> close()
    {
        return [this] { closes++; };
    }
};

QCoreApplication &app()
{
    static int argc = 1;
    static char name[] = "quit_signals_test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

bool spin_until(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

void handler_before(int) {}

struct sigaction action_of(int signal)
{
    struct sigaction sa {
    };
    sigaction(signal, nullptr, &sa);
    return sa;
}

void set_handler(int signal, void (*handler)(int))
{
    struct sigaction sa {
    };
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(signal, &sa, nullptr);
}

class QuitSignals : public ::testing::TestWithParam<int>
{
  protected:
    void SetUp() override
    {
        app();
        set_handler(SIGINT, handler_before);
        set_handler(SIGTERM, handler_before);
    }
    void TearDown() override
    {
        quit_signals_remove();
        set_handler(SIGINT, SIG_DFL);
        set_handler(SIGTERM, SIG_DFL);
    }
};

// The request arrives from the event loop, not inside the handler, and one
// signal is one request.
TEST_P(QuitSignals, ASignalIsOneCloseRequestFromTheEventLoop)
{
    CountingWindow window;
    ASSERT_EQ(quit_signals_install(window.close()), 0);
    ASSERT_EQ(raise(GetParam()), 0);
    EXPECT_EQ(window.closes, 0);
    EXPECT_TRUE(spin_until([&] { return window.closes == 1; }, 10000));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(window.closes, 1);
    // The next one asks again (the window decides what a second ask means).
    ASSERT_EQ(raise(GetParam()), 0);
    EXPECT_TRUE(spin_until([&] { return window.closes == 2; }, 10000));
}

// Removed: the actions from before are back and the window hears nothing.
TEST_P(QuitSignals, RemoveGivesTheOldActionBack)
{
    CountingWindow window;
    ASSERT_EQ(quit_signals_install(window.close()), 0);
    EXPECT_NE(action_of(GetParam()).sa_handler, handler_before);
    quit_signals_remove();
    EXPECT_EQ(action_of(GetParam()).sa_handler, handler_before);
    ASSERT_EQ(raise(GetParam()), 0);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(window.closes, 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignals, ::testing::Values(SIGINT, SIGTERM));

// Started with SIGINT ignored (a script hands Ctrl-C to someone else): it
// stays ignored; SIGTERM is still taken.
TEST(QuitSignalsIgnored, AnIgnoredSigintStaysIgnored)
{
    app();
    set_handler(SIGINT, SIG_IGN);
    CountingWindow window;
    ASSERT_EQ(quit_signals_install(window.close()), 0);
    EXPECT_EQ(action_of(SIGINT).sa_handler, SIG_IGN);
    ASSERT_EQ(raise(SIGINT), 0);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_EQ(window.closes, 0);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(spin_until([&] { return window.closes == 1; }, 10000));
    quit_signals_remove();
    EXPECT_EQ(action_of(SIGINT).sa_handler, SIG_IGN);
    set_handler(SIGINT, SIG_DFL);
    set_handler(SIGTERM, SIG_DFL);
}

} // namespace
