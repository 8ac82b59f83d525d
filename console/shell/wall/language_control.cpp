#include "language_control.h"

#include <QAction>
#include <QCoreApplication>
#include <QTranslator>

LanguageControl *LanguageControl::instance()
{
    // GUI thread only; lives for the process.
    static LanguageControl *s_instance = new LanguageControl;
    return s_instance;
}

int LanguageControl::language() const
{
    return m_language;
}

void LanguageControl::setLanguage(int index)
{
    m_language = index;
}

const QVector<WebActionText> &webActionTexts()
{
    using P = QWebEnginePage;
    static const QVector<WebActionText> table = {
        {P::Back, "Back", "\u540e\u9000"},
        {P::Forward, "Forward", "\u524d\u8fdb"},
        {P::Reload, "reload", "\u5237\u65b0"},
        {P::InspectElement, "Ispect", "\u68c0\u67e5"},
        {P::ViewSource, "View Page Source", "\u67e5\u770b\u7f51\u9875\u6e90\u7801"},
        {P::SavePage, "Save Page", "\u4fdd\u5b58\u7f51\u9875"},
        {P::CopyImageToClipboard, "Copy Image", "\u590d\u5236\u56fe\u7247"},
        {P::CopyImageUrlToClipboard, "Copy Image Url", "\u590d\u5236\u56fe\u7247\u5730\u5740"},
        {P::DownloadImageToDisk, "Save Image As", "\u56fe\u7247\u53e6\u5b58\u4e3a"},
        {P::ToggleMediaControls, "Toggle Media Controls", "\u5207\u6362\u63a7\u4ef6"},
        {P::ToggleMediaLoop, "Toggle Media Loop", "\u5faa\u73af"},
        {P::DownloadMediaToDisk, "Download Media As", "\u89c6\u9891\u53e6\u5b58\u4e3a"},
        {P::CopyMediaUrlToClipboard, "Copy MediaUrl To Clipboard",
         "\u590d\u5236\u89c6\u9891\u5730\u5740"},
        {P::OpenLinkInThisWindow, "Open Link In ThisWindow",
         "\u5728\u6b64\u7a97\u53e3\u6253\u5f00\u94fe\u63a5"},
        {P::OpenLinkInNewWindow, "Open Link In NewWindow",
         "\u5728\u65b0\u7a97\u53e3\u6253\u5f00\u94fe\u63a5"},
        {P::OpenLinkInNewTab, "Open Link InNewTab",
         "\u5728\u65b0\u6807\u7b7e\u6253\u5f00\u94fe\u63a5"},
        {P::CopyLinkToClipboard, "Copy Link ToClipboard", "\u590d\u5236\u94fe\u63a5"},
        {P::Cut, "Cut", "\u526a\u5207"},
        {P::Copy, "Copy", "\u590d\u5236"},
        {P::Paste, "Paste", "\u7c98\u8d34"},
        {P::Undo, "Undo", "\u64a4\u9500"},
        {P::Redo, "Redo", "\u6062\u590d"},
        {P::SelectAll, "SelectAll", "\u5168\u9009"},
        {P::PasteAndMatchStyle, "PasteAndMatchStyle", "\u7c98\u8d34\u548c\u5339\u914d\u6837\u5f0f"},
        {P::DownloadLinkToDisk, "Save Link", "\u4fdd\u5b58\u94fe\u63a5"},
    };
    return table;
}

int applyLanguage(const QString &language, QWebEnginePage *page, QTranslator *translator)
{
    const bool chinese = language == QLatin1String("cn");
    LanguageControl::instance()->setLanguage(chinese ? 0 : 1);
    if (translator) {
        if (chinese) {
            // A missing translation file still leaves the Chinese action texts.
            if (translator->load(QStringLiteral("./qtwebengine_zh")))
                QCoreApplication::installTranslator(translator);
        } else {
            QCoreApplication::removeTranslator(translator);
        }
    }
    if (page) {
        for (const WebActionText &t : webActionTexts()) {
            if (QAction *a = page->action(t.action))
                a->setText(chinese ? QString::fromUtf8(t.chinese) : QString::fromLatin1(t.english));
        }
    }
    return chinese ? 0 : 1;
}
