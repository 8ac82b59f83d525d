// Crash dumps: each crash ends the process by its own signal and leaves
// exactly one "<uuid>.dmp" in the dump folder naming the signal, with frames.
#include "crash_handler.h"
#include "test_support.h"

#include <QDir>
#include <QRegularExpression>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

using ptt::test::TempCwd;

namespace
{

void null_write()
{
    volatile int *volatile p = nullptr;
    *p = 42;
}

void divide_by_zero()
{
    volatile int zero = 0;
    volatile int big = 1000;
    volatile int r = big / zero;
    (void)r;
}

void fault_on_other_thread()
{
    std::thread t(null_write);
    t.join();
}

QStringList dumps(const QString &dir)
{
    return QDir(dir).entryList({QStringLiteral("*.dmp")}, QDir::Files);
}

class Crash : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Forks without exec: the child sees this test's folder.
        GTEST_FLAG_SET(death_test_style, "fast");
    }
};

TEST_F(Crash, EachCrashEndsByItsSignalWithOneDump)
{
    struct Case {
        const char *name;
        void (*crash)();
        int sig;
        const char *word;
    } cases[] = {{"null write", null_write, SIGSEGV, "SIGSEGV"},
                 {"abort", [] { abort(); }, SIGABRT, "SIGABRT"},
                 {"fault on another thread", fault_on_other_thread, SIGSEGV, "SIGSEGV"},
                 {"division by zero", divide_by_zero, SIGFPE, "SIGFPE"}};
    for (const Case &c : cases) {
        TempCwd cwd;
        const QString dir = QString::fromStdString(cwd.path());
        EXPECT_EXIT(
            {
                CrashHandler::instance()->init(dir);
                c.crash();
            },
            ::testing::KilledBySignal(c.sig), "BreakpadQt crash")
            << c.name;
        const QStringList found = dumps(dir);
        ASSERT_EQ(found.size(), 1) << c.name;
        EXPECT_TRUE(QRegularExpression(
                        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                                       "[0-9a-f]{12}\\.dmp$"))
                        .match(found[0])
                        .hasMatch())
            << found[0].toStdString();
        const std::string text = ptt::test::read_file(cwd.file(found[0].toStdString()));
        const std::string signal_line =
            "\nsignal " + std::to_string(c.sig) + " " + std::string(c.word) + "\n";
        EXPECT_NE(text.find(signal_line), std::string::npos) << c.name;
        EXPECT_NE(text.find("\nframe 0 0x"), std::string::npos) << c.name;
        EXPECT_NE(text.find("\nrip 0x"), std::string::npos) << c.name;
        // The memory map names our own program, so the frames can be resolved.
        EXPECT_NE(text.find("\nmaps\n"), std::string::npos) << c.name;
        EXPECT_NE(text.find("shell_crash_test"), std::string::npos) << c.name;
    }
}

TEST_F(Crash, NullWriteNamesTheFaultAddress)
{
    TempCwd cwd;
    const QString dir = QString::fromStdString(cwd.path());
    EXPECT_EXIT(
        {
            CrashHandler::instance()->init(dir);
            null_write();
        },
        ::testing::KilledBySignal(SIGSEGV), "BreakpadQt crash");
    const QStringList found = dumps(dir);
    ASSERT_EQ(found.size(), 1);
    const std::string text = ptt::test::read_file(cwd.file(found[0].toStdString()));
    EXPECT_NE(text.find("\naddress 0x0000000000000000\n"), std::string::npos);
    EXPECT_NE(text.find("\ncode 1\n"), std::string::npos); // SEGV_MAPERR
}

// The folder is opened once: a second init changes nothing.
TEST_F(Crash, SecondInitKeepsTheFirstFolder)
{
    TempCwd first;
    TempCwd second;
    const QString a = QString::fromStdString(first.path());
    const QString b = QString::fromStdString(second.path());
    EXPECT_EXIT(
        {
            CrashHandler::instance()->init(a);
            CrashHandler::instance()->init(b);
            abort();
        },
        ::testing::KilledBySignal(SIGABRT), "BreakpadQt crash");
    EXPECT_EQ(dumps(a).size(), 1);
    EXPECT_EQ(dumps(b).size(), 0);
}

// Without a usable folder the process still ends by its signal.
TEST_F(Crash, MissingFolderStillEndsBySignal)
{
    TempCwd cwd;
    const QString dir = QString::fromStdString(cwd.file("no-such-folder"));
    EXPECT_EXIT(
        {
            CrashHandler::instance()->init(dir);
            null_write();
        },
        ::testing::KilledBySignal(SIGSEGV), "BreakpadQt crash");
}

TEST(CrashInstall, InitInstallsForEverySignal)
{
    TempCwd cwd;
    EXPECT_FALSE(CrashHandler::installed());
    EXPECT_TRUE(CrashHandler::instance()->init(QString::fromStdString(cwd.path())));
    EXPECT_TRUE(CrashHandler::installed());
    stack_t ss;
    ASSERT_EQ(sigaltstack(nullptr, &ss), 0);
    EXPECT_EQ(ss.ss_flags & SS_DISABLE, 0);
    EXPECT_GE(ss.ss_size, 64u * 1024);
}

} // namespace
