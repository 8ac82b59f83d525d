// Start-up before the application object: the command line into config.ini,
// the switches that must be exactly "1", the log file and ComSpec.
#include "qtlog.h"
#include "shell_config.h"
#include "startup.h"
#include "test_support.h"

#include <QFile>
#include <QSettings>
#include <QTextCodec>
#include <gtest/gtest.h>
#include <vector>

using ptt::test::TempCwd;

namespace
{

// config.ini written and read by a store of its own, as another program would.
void write_config(const std::vector<std::pair<QString, QString>> &values)
{
    QSettings s(QStringLiteral("config.ini"), QSettings::IniFormat);
    s.setIniCodec(QTextCodec::codecForName("GB2312"));
    for (const auto &kv : values)
        s.setValue(kv.first, kv.second);
}

QVariant read_config(const QString &key)
{
    QSettings s(QStringLiteral("config.ini"), QSettings::IniFormat);
    s.setIniCodec(QTextCodec::codecForName("GB2312"));
    return s.value(key);
}

class Startup : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        qInstallMessageHandler(nullptr);
        qtlog_close();
        shell_config_release();
    }
    TempCwd cwd;
};

TEST_F(Startup, ArgumentTable)
{
    struct Case {
        std::vector<const char *> args;
        const char *user, *password, *role; // null: absent
    } cases[] = {
        {{"tarvex"}, nullptr, nullptr, "old"},
        {{"tarvex", "disp"}, nullptr, nullptr, "old"},
        {{"tarvex", "disp", "secret"}, "disp", "secret", "old"},
        {{"tarvex", "调度员", "pw", "3"}, "调度员", "pw", "3"},
        {{"tarvex", "a", "b", "2", "extra"}, "a", "b", "2"},
    };
    for (const Case &c : cases) {
        QFile::remove(QStringLiteral("config.ini"));
        write_config({{QStringLiteral("/account/role"), QStringLiteral("old")}});
        std::vector<char *> argv;
        for (const char *a : c.args)
            argv.push_back(const_cast<char *>(a));
        argv.push_back(nullptr);
        startup_store_arguments((int)c.args.size(), argv.data());
        shell_config_release();
        const auto expect = [](const char *want, const QVariant &got, size_t n) {
            if (want == nullptr)
                EXPECT_FALSE(got.isValid()) << n << " args: " << got.toString().toStdString();
            else
                EXPECT_EQ(got.toString(), QString::fromUtf8(want)) << n << " args";
        };
        expect(c.user, read_config(QStringLiteral("/account/user")), c.args.size());
        expect(c.password, read_config(QStringLiteral("/account/password")), c.args.size());
        expect(c.role, read_config(QStringLiteral("/account/role")), c.args.size());
    }
}

TEST_F(Startup, SwitchesAreOnOnlyForExactlyOne)
{
    struct Case {
        const char *value; // null: key missing
        bool on;
    } cases[] = {{"1", true},   {" 1", false}, {"1 ", false}, {"true", false},
                 {"01", false}, {"0", false},  {"", false},   {nullptr, false}};
    for (const Case &c : cases) {
        EXPECT_EQ(startup_flag_on(c.value ? QString::fromLatin1(c.value) : QString()), c.on)
            << (c.value ? c.value : "(missing)");
    }
}

// The whole path: config.ini on disk, the log file, the handler and ComSpec.
TEST_F(Startup, QtLogSwitchInConfig)
{
    struct Case {
        const char *value;
        bool logs;
    } cases[] = {{"1", true}, {" 1", false}, {"true", false}, {"01", false}, {nullptr, false}};
    for (const Case &c : cases) {
        QFile::remove(QStringLiteral("config.ini"));
        QFile::remove(QStringLiteral("qtlog.txt"));
        if (c.value != nullptr)
            write_config({{QStringLiteral("/Qt/qtlog/"), QString::fromLatin1(c.value)},
                          {QStringLiteral("/Qt/singleapp/"), QString::fromLatin1(c.value)}});
        char prog[] = "tarvex";
        char *argv[] = {prog, nullptr};
        qputenv("ComSpec", "cmd.exe");
        const StartupFlags flags = startup_prepare(1, argv);
        const char *name = c.value ? c.value : "(missing)";
        EXPECT_EQ(flags.qtlog, c.logs) << name;
        EXPECT_EQ(flags.singleApp, c.logs) << name;
        EXPECT_TRUE(QFile::exists(QStringLiteral("qtlog.txt"))) << name;
        EXPECT_EQ(qgetenv("ComSpec"), QByteArray("./qt_cmd.exe"));
        qtlog_claim(); // as the program does once no other instance runs
        qDebug().noquote() << "probe record\n";
        qInstallMessageHandler(nullptr);
        qtlog_close();
        shell_config_release();
        const bool written =
            ptt::test::read_file(cwd.file("qtlog.txt")).find("probe record") != std::string::npos;
        EXPECT_EQ(written, c.logs) << name;
    }
}

} // namespace
