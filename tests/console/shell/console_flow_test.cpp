// The dispatcher page's flows end to end: tarvex on its own X server with the
// real engine and web engine, the test push-to-talk server, and the test page
// pressing its own buttons (driven through its web server). Every call the
// console makes into the page is read back from the page's own record.
#include "console_run.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <gtest/gtest.h>

using webtest::ConsoleRun;
using webtest::PageCall;
using webtest::spin_until;

namespace
{

// A name and an address built to break a page statement put together by
// hand: both quotes, a backslash, a line break, a format marker and text that
// records a call named "injected" if it ever runs as script.
const char k_hostile_name[] = "O'Hara \"Q\" \\ %2 ');record('injected',[]);('\nx";
const char k_hostile_address[] =
    "Dock 7, \"Gate\" 'B' \\ %1\n\");record(\"injected\",[]);(\"</script>";

// The arguments of a call as the page got them.
QJsonArray args(const PageCall &call)
{
    return QJsonDocument::fromJson(call.args.toUtf8()).array();
}

QStringList names(const QList<PageCall> &calls)
{
    QStringList out;
    for (const PageCall &c : calls)
        out << c.name;
    return out;
}

class ConsoleFlow : public ::testing::Test
{
  protected:
    // Starts the console on the driven page and logs in through the page.
    void startAndLogIn()
    {
        run.setPageQuery(QStringLiteral("drive=1"));
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.waitLog(QStringLiteral("channel ready"), 60000)) << tail();
        run.press(QStringLiteral("login"));
        ASSERT_TRUE(waitStatus(QStringLiteral("3"))) << tail();
    }

    // Waits until the page was told status s (the last status it got).
    bool waitStatus(const QString &s, int ms = 30000)
    {
        return spin_until(
            [&] {
                const QList<PageCall> st = run.calls(QStringLiteral("onOnlineStatusChangedX"));
                return !st.isEmpty() && args(st.last()) == QJsonArray{s};
            },
            ms);
    }

    // Joins 2001 through the page. After login the engine joins the
    // account's default group by itself, so wait for 2001 by name.
    void join()
    {
        run.press(QStringLiteral("join"));
        ASSERT_TRUE(waitCallWith(QStringLiteral("onCurrentGroupX"),
                                 QStringLiteral("[\"2001\",\"Patrol\"]")))
            << tail();
    }

    // Waits for a call of name whose arguments (as JSON text) are exactly
    // args.
    bool waitCallWith(const QString &name, const QString &args, int ms = 30000)
    {
        return spin_until(
            [&] {
                for (const PageCall &c : run.calls(name))
                    if (c.args == args)
                        return true;
                return false;
            },
            ms);
    }

    std::string tail() const
    {
        return run.qtlog().right(4000).toStdString();
    }

    ConsoleRun run;
};

// Login reports connecting, then online, then the group list; joining names
// the group; holding the talk button starts the own talk, letting go ends it.
TEST_F(ConsoleFlow, LogInJoinAndTalk)
{
    startAndLogIn();
    ASSERT_EQ(run.waitCall(QStringLiteral("onGroupListX")), 1) << tail();
    QStringList status;
    for (const PageCall &c : run.calls(QStringLiteral("onOnlineStatusChangedX")))
        status << args(c).at(0).toString();
    EXPECT_EQ(status.join(QLatin1Char(' ')).toStdString(), "2 3");
    const QStringList order = names(run.calls());
    EXPECT_LT(order.lastIndexOf(QStringLiteral("onOnlineStatusChangedX")),
              order.indexOf(QStringLiteral("onGroupListX")));

    join();
    ASSERT_TRUE(run.server().wait_count("ptt.rr.JoinGroup", 1));

    run.press(QStringLiteral("talk"), QStringLiteral("down"));
    ASSERT_EQ(run.waitCall(QStringLiteral("onStartSpeakX")), 1) << tail();
    EXPECT_EQ(run.server().floor_holder(2001), 1000u);
    run.press(QStringLiteral("talk"), QStringLiteral("up"));
    ASSERT_EQ(run.waitCall(QStringLiteral("onStopSpeakX")), 1) << tail();
    EXPECT_TRUE(spin_until([&] { return run.server().floor_holder(2001) == 0; }, 10000));
    EXPECT_EQ(run.calls(QStringLiteral("onStartSpeakX")).first().args.toStdString(),
              "[\"2001\",\"Patrol\"]");
    EXPECT_EQ(run.calls(QStringLiteral("onStopSpeakX")).first().args.toStdString(),
              "[\"2001\",\"Patrol\"]");

    // For review: the window with the page after the flow.
    const QString dir = QString::fromStdString(ptt::test::run_path("../screenshots"));
    QDir().mkpath(dir);
    EXPECT_TRUE(run.x().screenshot(dir + QStringLiteral("/console-talked.png")));
}

// A member's name and an alarm's address reach the page exactly, whatever
// they hold, and nothing in them runs as script.
TEST_F(ConsoleFlow, HostileNameAndSosAlarmArriveExactly)
{
    startAndLogIn();
    join();
    ptt::test::rename_user(run.server(), 1001, k_hostile_name);
    ASSERT_EQ(run.waitCall(QStringLiteral("onUserChangedX")), 1) << tail();
    const QJsonArray changed = args(run.calls(QStringLiteral("onUserChangedX")).first());
    ASSERT_EQ(changed.size(), 2);
    EXPECT_EQ(changed.at(0).toString(), QStringLiteral("1"));
    const QJsonArray users = QJsonDocument::fromJson(changed.at(1).toString().toUtf8()).array();
    ASSERT_EQ(users.size(), 1) << changed.at(1).toString().toStdString();
    EXPECT_EQ(users.at(0).toObject().value(QStringLiteral("uid")).toInt(), 1001);
    EXPECT_EQ(users.at(0).toObject().value(QStringLiteral("name")).toString(),
              QString::fromUtf8(k_hostile_name));

    ptt::test::SosAlarmPush alarm;
    alarm.uuid = 77001;
    alarm.reporter = 1001;
    alarm.gid = 2001;
    alarm.address = k_hostile_address;
    ptt::test::push_sos_alarm(run.server(), alarm);
    ASSERT_EQ(run.waitCall(QStringLiteral("sendsosAlarmX")), 1) << tail();
    const QJsonArray sos = args(run.calls(QStringLiteral("sendsosAlarmX")).first());
    ASSERT_EQ(sos.size(), 1);
    const QJsonObject a = QJsonDocument::fromJson(sos.at(0).toString().toUtf8()).object();
    EXPECT_EQ(a.value(QStringLiteral("uuid")).toString(), QStringLiteral("77001"));
    EXPECT_EQ(a.value(QStringLiteral("reporter")).toInt(), 1001);
    EXPECT_EQ(a.value(QStringLiteral("address")).toString(), QString::fromUtf8(k_hostile_address));

    // The page also reads the name back through its own call.
    run.press(QStringLiteral("members"));
    ASSERT_EQ(run.waitCall(QStringLiteral("GetMemberList->")), 1) << tail();
    const QString list =
        args(run.calls(QStringLiteral("GetMemberList->")).first()).at(0).toString();
    bool found = false;
    for (const QJsonValue &m : QJsonDocument::fromJson(list.toUtf8()).array())
        found = found || m.toObject().value(QStringLiteral("name")).toString() ==
                             QString::fromUtf8(k_hostile_name);
    EXPECT_TRUE(found) << list.toStdString();
    EXPECT_TRUE(run.calls(QStringLiteral("injected")).isEmpty());
    EXPECT_TRUE(run.calls(QStringLiteral("noChannel")).isEmpty());
}

// A kick-out tells the page the error, then that it is offline.
TEST_F(ConsoleFlow, KickOutReportsTheErrorThenOffline)
{
    startAndLogIn();
    run.server().kickout(1, false);
    ASSERT_EQ(run.waitCall(QStringLiteral("onErrorX")), 1) << tail();
    ASSERT_TRUE(waitStatus(QStringLiteral("1"))) << tail();
    const QStringList order = names(run.calls());
    EXPECT_LT(order.indexOf(QStringLiteral("onErrorX")),
              order.lastIndexOf(QStringLiteral("onOnlineStatusChangedX")));
    const QJsonArray error = args(run.calls(QStringLiteral("onErrorX")).first());
    ASSERT_EQ(error.size(), 2);
    EXPECT_EQ(error.at(1).toString(), QStringLiteral("-2"));
}

// Closing while the server floods member changes: the page is told, the
// window stays up for its two seconds, the program ends by itself and no
// sanitizer reports anything.
TEST_F(ConsoleFlow, CloseDuringAMemberFlood)
{
    run.setLeakCheck(QStringLiteral(PTT_LSAN_SUPPRESSIONS));
    startAndLogIn();
    join();
    // About 500 changes a second, each its own message and page call.
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout,
                     [&] { ptt::test::flood_member_changes(run.server(), 2001, 1002, 10); });
    flood.start(20);
    ASSERT_GT(run.waitCall(QStringLiteral("onMemberChangedX"), 20), 0) << tail();
    // Every wait below is for an event, never for a time, so that a loaded
    // machine only makes the test slower. The two seconds the window stays
    // up are counted from the first close request: the window cannot close
    // sooner than two seconds after it.
    QElapsedTimer sent;
    sent.start();
    bool asked = false;
    for (int i = 0; i < 120 && !asked; i++) {
        run.x().closeWindow(QLatin1String(ConsoleRun::TITLE));
        asked = run.waitLog(QStringLiteral("closeEvent"), 500);
    }
    ASSERT_TRUE(asked) << tail();
    // The page is told: the console pushes its close call once.
    ASSERT_TRUE(run.waitLog(QStringLiteral("JsContext::closeMainwindow"), 60000)) << tail();
    // Then the program ends by itself, however slowly the machine runs.
    ASSERT_TRUE(run.waitExit(120000)) << tail();
    flood.stop();
    EXPECT_GE(sent.elapsed(), 2000) << "the window did not stay up for its two seconds";
    EXPECT_EQ(run.qtlog().count(QStringLiteral("JsContext::closeMainwindow")), 1) << tail();
    // A flooded page may still be working through its queue of member calls
    // when the two seconds are up; the close call then reaches it but never
    // runs. It must never run twice.
    EXPECT_LE(run.calls(QStringLiteral("closeMainwindowX")).size(), 1) << tail();
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
    QFile err(run.folder() + QStringLiteral("/tarvex.err"));
    ASSERT_TRUE(err.open(QIODevice::ReadOnly));
    const QByteArray text = err.readAll();
    EXPECT_FALSE(text.contains("ERROR: AddressSanitizer")) << text.right(6000).toStdString();
    EXPECT_FALSE(text.contains("runtime error:")) << text.right(6000).toStdString();
    EXPECT_EQ(run.ownLeaks().join(QStringLiteral("\n\n")).toStdString(), "");
}

} // namespace
