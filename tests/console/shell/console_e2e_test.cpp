// The console program end to end: its own X server, the real engine and web
// engine, the test server and the test page.
#include "console_run.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <gtest/gtest.h>

using webtest::ConsoleRun;
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
    QElapsedTimer t;
    ASSERT_TRUE(spin_until([&] { return run.x().closeWindow(QLatin1String(ConsoleRun::TITLE)); }));
    t.start();
    spin_until([&] { return run.process().state() == QProcess::NotRunning; }, 1800);
    EXPECT_EQ(run.process().state(), QProcess::Running) << "gone after " << t.elapsed() << " ms";
    EXPECT_TRUE(run.waitExit(3000 - 1800 + 2000)) << t.elapsed();
    EXPECT_LT(t.elapsed(), 4000);
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
}

} // namespace
