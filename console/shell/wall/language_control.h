#pragma once

#include <QObject>
#include <QVector>
#include <QWebEnginePage>

class QTranslator;

// The console's language for native texts: 0 Chinese (until the page says
// otherwise), 1 English. Made on first use, never freed.
class LanguageControl : public QObject
{
    Q_OBJECT
  public:
    static LanguageControl *instance();
    int language() const;
    void setLanguage(int index);

  private:
    LanguageControl() = default;
    int m_language = 0;
};

// Texts of the web view's context-menu actions, English and Chinese.
struct WebActionText {
    QWebEnginePage::WebAction action;
    const char *english;
    const char *chinese; // UTF-8
};
const QVector<WebActionText> &webActionTexts();

// The page's language choice: exactly "cn" selects Chinese (index 0, the
// translator loaded from "./qtwebengine_zh" and installed, Chinese action
// texts); anything else English (index 1, English texts, translator
// removed). The page may be null. Returns the new index.
int applyLanguage(const QString &language, QWebEnginePage *page, QTranslator *translator);
