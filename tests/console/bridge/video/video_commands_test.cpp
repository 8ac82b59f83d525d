#include "video_commands.h"

#include <QtTest>

using namespace video_commands;

class VideoCommandsTest : public QObject
{
    Q_OBJECT
  private slots:
    void pullUrls_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("two") << "[{\"url\":\"rtmp://a\"},{\"url\":\"rtmp://b\"}]" << true
                             << QStringList{"rtmp://a", "rtmp://b"};
        QTest::newRow("empty object") << "[{}]" << true << QStringList{""};
        QTest::newRow("not an object, number url")
            << "[3,{\"url\":5}]" << true << QStringList{"", ""};
        QTest::newRow("object document") << "{\"url\":\"x\"}" << true << QStringList();
        QTest::newRow("empty array") << "[]" << true << QStringList();
        QTest::newRow("not json") << "[{" << false << QStringList();
        QTest::newRow("empty text") << "" << false << QStringList();
    }
    void pullUrls()
    {
        QFETCH(QString, json);
        QFETCH(bool, ok);
        QFETCH(QStringList, urls);
        QStringList list{"earlier"};
        QCOMPARE(appendPullUrls(json, list), ok);
        QCOMPARE(list, QStringList{"earlier"} + urls);
    }

    void tableLabels()
    {
        TableLabels l;
        QVERIFY(!parseTableLabels("nope", &l));
        QVERIFY(parseTableLabels("{\"video_back\":\"Back\",\"video_fluency\":3,"
                                 "\"video_MultiScreen\":\"Multi\",\"video_highDefinition\":\"HD\"}",
                                 &l));
        QCOMPARE(l.back, QStringLiteral("Back"));
        QCOMPARE(l.multi, QStringLiteral("Multi"));
        QCOMPARE(l.high, QStringLiteral("HD"));
        QVERIFY(l.fluency.isEmpty() && l.single.isEmpty() && l.standard.isEmpty());
        QCOMPARE(l.logged,
                 (QStringList{"videoback : Back", "videomuitscreen : Multi", "videohigh : HD"}));
        QVERIFY(parseTableLabels("[]", &l));
        QVERIFY(l.back.isEmpty() && l.high.isEmpty() && l.logged.isEmpty());
    }
};

QTEST_GUILESS_MAIN(VideoCommandsTest)
#include "video_commands_test.moc"
