// config.ini through CustomConfig: case-blind names, missing versus empty,
// Qt's INI quoting and GB2312 text on disk.
#include "customconfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

namespace
{
void WriteFile(const QByteArray &bytes)
{
    QFile f(QStringLiteral("config.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray ReadFile()
{
    QFile f(QStringLiteral("config.ini"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Drops the store so the next one reads the file afresh (and writes the old
// one's changes out).
void Reopen()
{
    delete CustomConfig::getInstance();
}
} // namespace

class ConfigTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_old;

  private slots:
    void init()
    {
        m_old = QDir::currentPath();
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir::setCurrent(m_dir.path()));
        QFile::remove(QStringLiteral("config.ini"));
    }

    void cleanup()
    {
        Reopen();
        QDir::setCurrent(m_old);
    }

    void lowerCaseSectionFoundByAnySpelling()
    {
        WriteFile("[qt]\nqtlog=1\nsingleapp=0\n");
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/Qt/qtlog/")),
                 QStringLiteral("1"));
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/QT/SINGLEAPP")),
                 QStringLiteral("0"));
    }

    void writeGoesIntoTheExistingSection()
    {
        WriteFile("[Qt]\nqtlog=1\n");
        CustomConfig::getInstance()->setValue(QStringLiteral("/QT/log"), QStringLiteral("8"));
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/qt/LOG")),
                 QStringLiteral("8"));
        Reopen();
        const QByteArray text = ReadFile();
        QVERIFY2(!text.contains("[QT]"), text.constData());
        QCOMPARE(text.count("[Qt]"), 1);
        QVERIFY2(text.contains("log=8"), text.constData());
        QVERIFY2(text.contains("qtlog=1"), text.constData());
    }

    void missingIsNullEmptyIsEmpty()
    {
        WriteFile("[QT]\ntitle=\n");
        CustomConfig *c = CustomConfig::getInstance();
        const QString empty = c->getValue(QStringLiteral("/QT/title"));
        QVERIFY(!empty.isNull());
        QVERIFY(empty.isEmpty());
        QVERIFY(c->getValue(QStringLiteral("/QT/icon")).isNull());
        QVERIFY(c->getValue(QStringLiteral("/nosection/key")).isNull());
        QVERIFY(c->getValue(QString()).isNull());
    }

    void quotedValueKeepsItsBlank()
    {
        WriteFile("[account]\nrole=\" 1\"\n");
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/account/role")),
                 QStringLiteral(" 1"));
        // And a written blank-led value reads back the same after a round trip.
        CustomConfig::getInstance()->setValue(QStringLiteral("/account/user"),
                                              QStringLiteral(" 2"));
        Reopen();
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/account/user")),
                 QStringLiteral(" 2"));
    }

    void unquotedCommaListReadsAsItsText()
    {
        WriteFile("[network]\ndns=1.2.3.4:5,6.7.8.9:10\n");
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/network/dns")),
                 QStringLiteral("1.2.3.4:5,6.7.8.9:10"));
    }

    void textIsStoredAsGb2312()
    {
        const QString title = QString::fromUtf8("视频单呼");
        CustomConfig::getInstance()->setValue(QStringLiteral("/videosingle/titel"), title);
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/videosingle/titel")),
                 title);
        Reopen();
        const QByteArray gb("\xca\xd3\xc6\xb5\xb5\xa5\xba\xf4");
        QVERIFY2(ReadFile().contains("titel=" + gb), ReadFile().toHex().constData());
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/videosingle/titel")),
                 title);
    }

    void gb2312FileIsDecoded()
    {
        WriteFile("[videosingle]\ntitel=\xca\xd3\xc6\xb5\xb5\xa5\xba\xf4\n");
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/videosingle/titel")),
                 QString::fromUtf8("视频单呼"));
    }

    void nullKeyOrValueWritesNothing()
    {
        WriteFile("[QT]\ntitle=Console\n");
        CustomConfig *c = CustomConfig::getInstance();
        c->setValue(QStringLiteral("/QT/title"), QString());
        c->setValue(QString(), QStringLiteral("x"));
        c->setValue(QStringLiteral("/QT/icon"), QLatin1String(""));
        QCOMPARE(c->getValue(QStringLiteral("/QT/title")), QStringLiteral("Console"));
        const QString icon = c->getValue(QStringLiteral("/QT/icon"));
        QVERIFY(!icon.isNull() && icon.isEmpty());
    }

    void deletedStoreIsNotHandedOut()
    {
        CustomConfig::getInstance()->setValue(QStringLiteral("/a/b"), QStringLiteral("c"));
        Reopen();
        // A fresh store, not the deleted one: it works and reads the file.
        QCOMPARE(CustomConfig::getInstance()->getValue(QStringLiteral("/a/b")),
                 QStringLiteral("c"));
    }

    // A password written makes the file its owner's alone, before the value
    // reaches the disk; other values leave the mode as it was.
    void passwordKeepsTheFileFromOtherUsers_data()
    {
        QTest::addColumn<int>("before"); // -1: no file yet
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("after");
        QTest::newRow("shared file") << 0644 << "/account/password"
                                     << "pw-1" << 0600;
        QTest::newRow("any spelling") << 0640 << "/Account/PassWord"
                                      << "pw-1" << 0600;
        QTest::newRow("new file") << -1 << "/account/password"
                                  << "pw-1" << 0600;
        QTest::newRow("empty password") << 0644 << "/account/password"
                                        << "" << 0644;
        QTest::newRow("no password") << 0644 << "/account/user"
                                     << "bob" << 0644;
        QTest::newRow("already private") << 0600 << "/account/password"
                                         << "pw-1" << 0600;
    }
    void passwordKeepsTheFileFromOtherUsers()
    {
        QFETCH(int, before);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(int, after);
        const mode_t mask = umask(022);
        if (before >= 0) {
            WriteFile("[account]\nuser=ann\n");
            QVERIFY(chmod("config.ini", static_cast<mode_t>(before)) == 0);
        }
        CustomConfig::getInstance()->setValue(key, value);
        Reopen();
        umask(mask);
        struct stat st;
        QVERIFY(stat("config.ini", &st) == 0);
        QCOMPARE(static_cast<int>(st.st_mode & 07777), after);
        QCOMPARE(CustomConfig::getInstance()->getValue(key), value);
    }

    void secretKeysAreThePasswords()
    {
        QVERIFY(CustomConfig::isSecretKey(QStringLiteral("/account/password")));
        QVERIFY(CustomConfig::isSecretKey(QStringLiteral("/x/NewPassword/")));
        QVERIFY(!CustomConfig::isSecretKey(QStringLiteral("/password/user")));
        QVERIFY(!CustomConfig::isSecretKey(QStringLiteral("/account/user")));
    }
};

QTEST_GUILESS_MAIN(ConfigTest)
#include "config_test.moc"
