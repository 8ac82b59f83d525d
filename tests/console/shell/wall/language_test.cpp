// The page's language choice renames the web view's context-menu actions.
#include "language_control.h"

#include <QAction>
#include <QApplication>
#include <QTranslator>
#include <QWebEnginePage>
#include <QtTest>

class LanguageTest : public QObject
{
    Q_OBJECT
  private slots:
    void actionsFollowTheLanguage_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("index");
        QTest::newRow("cn") << "cn" << 0;
        QTest::newRow("CN") << "CN" << 1;
        QTest::newRow("zh") << "zh" << 1;
        QTest::newRow("en") << "en" << 1;
    }
    void actionsFollowTheLanguage()
    {
        QFETCH(QString, language);
        QFETCH(int, index);
        QWebEnginePage page;
        QTranslator translator; // no "./qtwebengine_zh" here: Chinese texts all the same
        QCOMPARE(applyLanguage(language, &page, &translator), index);
        QCOMPARE(LanguageControl::instance()->language(), index);
        QCOMPARE(webActionTexts().size(), 25);
        for (const WebActionText &t : webActionTexts()) {
            const QString want =
                index == 0 ? QString::fromUtf8(t.chinese) : QString::fromLatin1(t.english);
            QCOMPARE(page.action(t.action)->text(), want);
        }
        QCOMPARE(page.action(QWebEnginePage::Back)->text(),
                 index == 0 ? QString::fromUtf8("\u540e\u9000") : QStringLiteral("Back"));
        QCOMPARE(page.action(QWebEnginePage::InspectElement)->text(),
                 index == 0 ? QString::fromUtf8("\u68c0\u67e5") : QStringLiteral("Ispect"));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    LanguageTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "language_test.moc"
