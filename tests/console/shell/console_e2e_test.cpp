// The console program end to end: its own X server, the real engine and web
// engine, the test server and the test page.
#include "console_run.h"
#include "single_application.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>
#include <unistd.h>

using webtest::ConsoleRun;
using webtest::k_time_scale;
using webtest::spin_for;
using webtest::spin_until;

namespace
{

TEST(ConsoleE2e, ScreenshotOfTheWindowWithThePage)
{
    ConsoleRun run;
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitLog(QStringLiteral("channel "))) << run.qtlog().toStdString();
    spin_for(1000); // the page paints
    // Kept beside the build for review.
    const QString dir = QString::fromStdString(ptt::test::run_path("../screenshots"));
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/console.png");
    ASSERT_TRUE(run.x().screenshot(path));
    QImage shot(path);
    ASSERT_EQ(shot.size(), QSize(1920, 1080));
    // The window (1141 x 686 at the top left) shows the page: mostly white.
    int white = 0;
    int all = 0;
    for (int y = 0; y < 600; y += 4)
        for (int x = 0; x < 1000; x += 4, all++)
            if (shot.pixelColor(x, y).lightness() > 240)
                white++;
    EXPECT_GT(white, all / 2) << white << " of " << all;
}

// The page is told, the window stays up for two seconds, then the program
// ends normally.
TEST(ConsoleE2e, CloseKeepsTheWindowUpThenExits)
{
    ConsoleRun run;
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitLog(QStringLiteral("channel ")));
    // The web view may still swap the window's native window for one of its
    // own kind; a request that reached the old one is asked again.
    bool asked = false;
    for (int i = 0; i < 20 && !asked; i++) {
        run.x().closeWindow(QLatin1String(ConsoleRun::TITLE));
        asked = run.waitLog(QStringLiteral("closeEvent"), 500);
    }
    ASSERT_TRUE(asked);
    QElapsedTimer t;
    t.start();
    spin_until([&] { return run.process().state() == QProcess::NotRunning; }, 1800);
    EXPECT_EQ(run.process().state(), QProcess::Running) << "gone after " << t.elapsed() << " ms";
    EXPECT_TRUE(run.waitExit((3000 - 1800 + 2000) * k_time_scale)) << t.elapsed();
    EXPECT_LT(t.elapsed(), 4000 * k_time_scale);
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
}

// A second start of the program (a copy under a name of its own, so other
// runs never meet its guard) ends at once and names itself.
TEST(ConsoleE2e, SecondInstanceEndsAtOnce)
{
    ConsoleRun run;
    const QString name = QStringLiteral("tarvex-e2e-") + QString::number(getpid());
    const QString program = run.folder() + QLatin1Char('/') + name;
    ASSERT_TRUE(QFile::copy(QString::fromStdString(ptt::test::run_path("tarvex")), program));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    run.setProgram(program);
    run.setExtraConfig(QStringLiteral("singleapp=1\n"));
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitLog(QStringLiteral("channel ")));
    QByteArray err;
    int code = -2;
    qint64 ms = 0;
    ASSERT_TRUE(run.runAgain({}, &err, &code, &ms));
    EXPECT_EQ(code, 0);
    // From exec: starting a second web-engine program takes seconds on a
    // loaded two-core machine, so this only bounds it well short of a
    // second console that never ends; the guard's probe itself is quick (the
    // light program's test holds it under one second).
    EXPECT_LT(ms, 15000 * k_time_scale);
    EXPECT_TRUE(err.endsWith(name.toUtf8() + " already running.\n")) << err.toStdString();
    EXPECT_EQ(run.process().state(), QProcess::Running);
    EXPECT_TRUE(run.qtlog().contains(QStringLiteral("channel ")));
    QFile::remove(QDir::tempPath() + QLatin1Char('/') +
                  single_application_server_name(name, getuid()));
}

} // namespace
