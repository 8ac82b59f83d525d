// The Qt message log: record format per type, truncation at open and at the
// wrap, the wrap itself and whole records from several threads.
#include "qtlog.h"
#include "test_support.h"

#include <QRegularExpression>
#include <QString>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

using ptt::test::TempCwd;

namespace
{

QString log_text(const TempCwd &cwd)
{
    return QString::fromStdString(ptt::test::read_file(cwd.file("qtlog.txt")));
}

void log(QtMsgType type, const QString &text)
{
    QMessageLogContext context;
    messageHandler(type, context, text);
}

const char *k_time = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";

TEST(QtLog, RecordFormatByType)
{
    struct Case {
        QtMsgType type;
        const char *prefix; // as a regular expression
    } cases[] = {{QtDebugMsg, R"(\[Debug\] )"},
                 {QtWarningMsg, R"(\[Warning\] )"},
                 {QtCriticalMsg, R"(\[Critical\] )"},
                 {QtInfoMsg, ""}};
    for (const Case &c : cases) {
        TempCwd cwd;
        ASSERT_TRUE(qtlog_open());
        log(c.type, QStringLiteral("JsContext::JoinGroup:12\t 2001\n"));
        qtlog_close();
        const QRegularExpression re(
            QStringLiteral("^%1 %2\\t JsContext::JoinGroup:12\\t 2001\\n\\t$")
                .arg(QLatin1String(c.prefix), QLatin1String(k_time)));
        EXPECT_TRUE(re.match(log_text(cwd)).hasMatch())
            << c.prefix << " / " << log_text(cwd).toStdString();
    }
}

TEST(QtLog, InfoRecordBeginsWithOneBlank)
{
    TempCwd cwd;
    ASSERT_TRUE(qtlog_open());
    log(QtInfoMsg, QStringLiteral("x\n"));
    qtlog_close();
    const QString text = log_text(cwd);
    ASSERT_GE(text.size(), 2);
    EXPECT_EQ(text[0], QLatin1Char(' '));
    EXPECT_TRUE(text[1].isDigit());
}

// Qt's and the page's messages have no line break of their own; each record
// still ends its line.
TEST(QtLog, MessageWithoutLineBreakGetsOne)
{
    TempCwd cwd;
    ASSERT_TRUE(qtlog_open());
    log(QtWarningMsg, QStringLiteral("js: onGroupListX"));
    log(QtWarningMsg, QStringLiteral("js: second"));
    qtlog_close();
    const QStringList lines = log_text(cwd).split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith(QLatin1String("js: onGroupListX")));
    EXPECT_TRUE(lines[1].startsWith(QLatin1String("\t[Warning] ")));
    EXPECT_EQ(lines[2], QLatin1String("\t"));
}

TEST(QtLog, OpenTruncatesAnOlderLog)
{
    TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file(cwd.file("qtlog.txt"), std::string(10000, 'o')));
    ASSERT_TRUE(qtlog_open());
    log(QtDebugMsg, QStringLiteral("new\n"));
    qtlog_close();
    const QString text = log_text(cwd);
    EXPECT_FALSE(text.contains(QLatin1Char('o'))) << text.size();
    EXPECT_TRUE(text.endsWith(QLatin1String("new\n\t")));
}

// A start that never claims the log (a second instance that ends at once)
// leaves the running instance's log alone, whatever it logged; a claim
// empties the file and writes what waited.
TEST(QtLog, UnclaimedLogKeepsTheFileUntilClaimed)
{
    TempCwd cwd;
    ASSERT_TRUE(ptt::test::write_file(cwd.file("qtlog.txt"), "running instance's records"));
    ASSERT_TRUE(qtlog_open(QStringLiteral("qtlog.txt"), false));
    log(QtWarningMsg, QStringLiteral("early\n"));
    qtlog_close();
    EXPECT_EQ(ptt::test::read_file(cwd.file("qtlog.txt")), "running instance's records");

    ASSERT_TRUE(qtlog_open(QStringLiteral("qtlog.txt"), false));
    log(QtWarningMsg, QStringLiteral("early\n"));
    qtlog_claim();
    log(QtDebugMsg, QStringLiteral("late\n"));
    qtlog_close();
    const QRegularExpression re(
        QStringLiteral("^\\[Warning\\]  %1\\t early\\n\\t\\[Debug\\]  %1\\t late\\n\\t$")
            .arg(QLatin1String(k_time)));
    EXPECT_TRUE(re.match(log_text(cwd)).hasMatch()) << log_text(cwd).toStdString();
}

// Counter at the limit: that record is written; the next one starts an empty
// file and is itself written; the one after it follows it.
TEST(QtLog, WrapStartsAnEmptyFileAndKeepsTheWrappingRecord)
{
    TempCwd cwd;
    ASSERT_TRUE(qtlog_open());
    log(QtDebugMsg, QStringLiteral("first, long enough to outlast the wrap\n"));
    qtlog_set_record_count(QTLOG_WRAP_RECORDS);
    log(QtDebugMsg, QStringLiteral("at limit\n"));
    EXPECT_EQ(qtlog_record_count(), QTLOG_WRAP_RECORDS + 1);
    log(QtDebugMsg, QStringLiteral("B\n"));
    EXPECT_EQ(qtlog_record_count(), 1u);
    log(QtDebugMsg, QStringLiteral("C\n"));
    EXPECT_EQ(qtlog_record_count(), 2u);
    qtlog_close();
    const QRegularExpression re(
        QStringLiteral("^\\[Debug\\]  %1\\t B\\n\\t\\[Debug\\]  %1\\t C\\n\\t$")
            .arg(QLatin1String(k_time)));
    EXPECT_TRUE(re.match(log_text(cwd)).hasMatch()) << log_text(cwd).toStdString();
}

TEST(QtLog, ClosedLogDropsRecords)
{
    TempCwd cwd;
    ASSERT_TRUE(qtlog_open());
    log(QtDebugMsg, QStringLiteral("kept\n"));
    qtlog_close();
    log(QtDebugMsg, QStringLiteral("dropped\n"));
    EXPECT_FALSE(log_text(cwd).contains(QLatin1String("dropped")));
}

TEST(QtLog, FourThreadsWriteWholeRecords)
{
    TempCwd cwd;
    ASSERT_TRUE(qtlog_open());
    qtlog_install();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t] {
            for (int i = 0; i < 1000; i++)
                qDebug().noquote() << QStringLiteral("thread %1 line %2 end\n").arg(t).arg(i);
        });
    for (auto &th : threads)
        th.join();
    qInstallMessageHandler(nullptr);
    qtlog_close();
    const QString text = log_text(cwd);
    const QRegularExpression re(
        QStringLiteral("\\[Debug\\]  %1\\t thread (\\d) line (\\d+) end\\n\\t")
            .arg(QLatin1String(k_time)));
    std::set<std::pair<int, int>> seen;
    int pos = 0;
    for (;;) {
        auto m = re.match(text, pos, QRegularExpression::NormalMatch,
                          QRegularExpression::AnchoredMatchOption);
        if (!m.hasMatch())
            break;
        seen.insert({m.captured(1).toInt(), m.captured(2).toInt()});
        pos = m.capturedEnd();
    }
    EXPECT_EQ(pos, text.size()) << "a record is cut or mixed at offset " << pos;
    EXPECT_EQ(seen.size(), 4000u);
}

TEST(QtLog, WhereNamesTheQualifiedFunction)
{
    EXPECT_EQ(qtlog_where("MainWindow::MainWindow(QWidget*)", 12),
              QStringLiteral("MainWindow::MainWindow:12\t"));
    EXPECT_EQ(qtlog_where("void JsContext::JoinGroup(int)", 3),
              QStringLiteral("JsContext::JoinGroup:3\t"));
    EXPECT_EQ(qtlog_where("static CrashHandler* CrashHandler::instance()", 7),
              QStringLiteral("CrashHandler::instance:7\t"));
}

} // namespace
