// The single-instance guard between real processes: a copy of a program on
// the guard under a name of its own, so parallel runs never meet.
#include "single_application.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QUuid>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using ptt::test::TempCwd;

namespace
{

class SingleApp : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        name = QStringLiteral("tarvex-probe-") + QUuid::createUuid().toString(QUuid::Id128);
        program = QString::fromStdString(cwd.file(name.toStdString()));
        QFile::setPermissions(QString::fromStdString(cwd.path()),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(QFile::copy(QStringLiteral(SINGLEAPP_PROBE), program));
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void TearDown() override
    {
        for (auto &p : running) {
            p->kill();
            p->waitForFinished(5000);
        }
        for (uint uid : {static_cast<uint>(getuid()), k_other_uid})
            QFile::remove(socket(uid));
        if (!shared.isEmpty())
            QDir(shared).removeRecursively();
    }

    // Where the guard of a user listens.
    QString socket(uint uid) const
    {
        return QDir::tempPath() + QLatin1Char('/') + single_application_server_name(name, uid);
    }

    // prefix: a command the program runs under (another user's, say).
    std::unique_ptr<QProcess> start(const QString &path, const QStringList &prefix = {},
                                    bool runtimeDir = true)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Qt warns on standard error without one; the test reads that stream.
        if (runtimeDir)
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(cwd.path()));
        else
            env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        p->setProcessEnvironment(env);
        if (prefix.isEmpty())
            p->start(path, QStringList());
        else
            p->start(prefix.first(), prefix.mid(1) + QStringList{path});
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }

    // Reads the program's output until it holds word or the time runs out.
    static bool wait_output(QProcess *p, QByteArray *seen, const char *word, int ms = 15000)
    {
        QElapsedTimer t;
        t.start();
        while (!seen->contains(word) && t.elapsed() < ms) {
            p->waitForReadyRead(100);
            *seen += p->readAllStandardOutput();
        }
        return seen->contains(word);
    }

    QProcess *first_instance()
    {
        running.push_back(start(program));
        QProcess *p = running.back().get();
        EXPECT_TRUE(wait_output(p, &first_out, "listening"));
        return p;
    }

    // A second start: ends by itself, says so, and returns 0. Left running it
    // would live the probe's full minute; how soon it ends below that is the
    // machine's pace (a Qt program takes seconds to start on a loaded 2-core
    // machine, more under a sanitizer), so the wait is generous.
    void expect_refused(const QString &path)
    {
        auto second = start(path);
        const bool ended = second->waitForFinished(30000);
        if (!ended) {
            second->kill();
            second->waitForFinished(5000);
        }
        // What it said tells a slow start from a second guard.
        ASSERT_TRUE(ended) << "still running; it wrote \""
                           << second->readAllStandardError().toStdString() << "\" and \""
                           << second->readAllStandardOutput().toStdString() << "\"";
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_EQ(QString::fromLocal8Bit(second->readAllStandardError()),
                  name + QStringLiteral(" already running.\n"));
        EXPECT_FALSE(second->readAllStandardOutput().contains("listening"));
    }

    static constexpr uint k_other_uid = 65534; // nobody
    TempCwd cwd;
    QString shared; // a folder every user may read, when a test needs one
    QString name;
    QString program;
    QByteArray first_out;
    std::vector<std::unique_ptr<QProcess>> running;
};

TEST_F(SingleApp, SecondInstanceEndsAndTheFirstIsShown)
{
    QProcess *first = first_instance();
    EXPECT_FALSE(first_out.contains("shown"));
    expect_refused(program);
    EXPECT_TRUE(wait_output(first, &first_out, "shown"));
    EXPECT_EQ(first->state(), QProcess::Running);
}

// The guard is named after the file the program really is.
TEST_F(SingleApp, SymlinkResolvesToTheProgramsName)
{
    first_instance();
    const QString link = QString::fromStdString(cwd.file("another-name"));
    ASSERT_TRUE(QFile::link(program, link));
    expect_refused(link);
}

TEST_F(SingleApp, StaleSocketOfAKilledInstanceDoesNotBlock)
{
    QProcess *first = first_instance();
    first->kill(); // SIGKILL: the socket file stays behind
    ASSERT_TRUE(first->waitForFinished(5000));
    ASSERT_TRUE(QFile::exists(socket(getuid())));
    first_out.clear();
    first_instance();
    expect_refused(program);
}

TEST(SingleAppName, EachUserHasAGuardOfTheirOwn)
{
    const QString a = single_application_server_name(QStringLiteral("tarvex"), 0);
    const QString b = single_application_server_name(QStringLiteral("tarvex"), 1000);
    EXPECT_NE(a, b);
    EXPECT_EQ(a, single_application_server_name(QStringLiteral("tarvex"), 0));
    EXPECT_NE(a, single_application_server_name(QStringLiteral("tarvex2"), 0));
    EXPECT_TRUE(b.startsWith(QLatin1String("tarvex")));
}

// Two users of one machine each run their instance, with no runtime folder
// in the environment (as root and CI have none).
TEST_F(SingleApp, TwoUsersBothStart)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to run the program as another user";
    char dir[] = "/tmp/singleapp-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    shared = QString::fromLatin1(dir);
    ASSERT_EQ(chmod(dir, 0755), 0);
    const QString path = shared + QLatin1Char('/') + name;
    ASSERT_TRUE(QFile::copy(program, path));
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0755), 0);

    running.push_back(start(path, {}, false));
    QProcess *mine = running.back().get();
    ASSERT_TRUE(wait_output(mine, &first_out, "listening")) << first_out.toStdString();
    const QString uid = QString::number(k_other_uid);
    running.push_back(start(path,
                            {QStringLiteral("setpriv"), QStringLiteral("--reuid=") + uid,
                             QStringLiteral("--regid=") + uid, QStringLiteral("--clear-groups")},
                            false));
    QProcess *theirs = running.back().get();
    QByteArray their_out;
    EXPECT_TRUE(wait_output(theirs, &their_out, "listening"))
        << their_out.toStdString() << theirs->readAllStandardError().toStdString();
    EXPECT_EQ(mine->state(), QProcess::Running);
    EXPECT_TRUE(QFile::exists(socket(k_other_uid)));
}

} // namespace
