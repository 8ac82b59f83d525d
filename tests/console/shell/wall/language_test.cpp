// The page's language choice renames the web view's context-menu actions.
#include "language_control.h"

#include <QAction>
#include <QApplication>
#include <QTranslator>
#include <QWebEnginePage>
#include <QtTest>
#include <iterator>

namespace
{

// The context menu's texts as the page's users know them, written out here
// so that a slip in the console's own table shows.
struct Texts {
    QWebEnginePage::WebAction action;
    const char *english;
    const char *chinese;
};
const Texts k_texts[] = {
    {QWebEnginePage::Back, "Back", "后退"},
    {QWebEnginePage::Forward, "Forward", "前进"},
    {QWebEnginePage::Reload, "reload", "刷新"},
    {QWebEnginePage::InspectElement, "Ispect", "检查"},
    {QWebEnginePage::ViewSource, "View Page Source", "查看网页源码"},
    {QWebEnginePage::SavePage, "Save Page", "保存网页"},
    {QWebEnginePage::CopyImageToClipboard, "Copy Image", "复制图片"},
    {QWebEnginePage::CopyImageUrlToClipboard, "Copy Image Url", "复制图片地址"},
    {QWebEnginePage::DownloadImageToDisk, "Save Image As", "图片另存为"},
    {QWebEnginePage::ToggleMediaControls, "Toggle Media Controls", "切换控件"},
    {QWebEnginePage::ToggleMediaLoop, "Toggle Media Loop", "循环"},
    {QWebEnginePage::DownloadMediaToDisk, "Download Media As", "视频另存为"},
    {QWebEnginePage::CopyMediaUrlToClipboard, "Copy MediaUrl To Clipboard", "复制视频地址"},
    {QWebEnginePage::OpenLinkInThisWindow, "Open Link In ThisWindow", "在此窗口打开链接"},
    {QWebEnginePage::OpenLinkInNewWindow, "Open Link In NewWindow", "在新窗口打开链接"},
    {QWebEnginePage::OpenLinkInNewTab, "Open Link InNewTab", "在新标签打开链接"},
    {QWebEnginePage::CopyLinkToClipboard, "Copy Link ToClipboard", "复制链接"},
    {QWebEnginePage::Cut, "Cut", "剪切"},
    {QWebEnginePage::Copy, "Copy", "复制"},
    {QWebEnginePage::Paste, "Paste", "粘贴"},
    {QWebEnginePage::Undo, "Undo", "撤销"},
    {QWebEnginePage::Redo, "Redo", "恢复"},
    {QWebEnginePage::SelectAll, "SelectAll", "全选"},
    {QWebEnginePage::PasteAndMatchStyle, "PasteAndMatchStyle", "粘贴和匹配样式"},
    {QWebEnginePage::DownloadLinkToDisk, "Save Link", "保存链接"},
};

} // namespace

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
        for (const Texts &t : k_texts) {
            const QString want =
                index == 0 ? QString::fromUtf8(t.chinese) : QString::fromLatin1(t.english);
            QCOMPARE(page.action(t.action)->text(), want);
        }
        // The console's table names these actions and no others.
        QCOMPARE(webActionTexts().size(), int(std::size(k_texts)));
        for (const Texts &t : k_texts) {
            int found = 0;
            for (const WebActionText &w : webActionTexts())
                found += w.action == t.action ? 1 : 0;
            QCOMPARE(found, 1);
        }
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
