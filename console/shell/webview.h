// The web host: the view that decides where the page's new windows go, the
// page that lets the configured dispatcher origin through certificate errors,
// and the pop-up window for pages the web page opens as dialogs.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>
#include <functional>

class QWebEngineDownloadItem;
class QWebEngineProfile;

// Scheme, host and port of both are the same (the default port of the scheme
// counts when none is given). An empty trusted address trusts nothing.
bool webhost_same_origin(const QUrl &trusted, const QUrl &url);

// Asks for the file a download is saved to; empty: cancel. The default is a
// modal save dialog; tests replace it (GUI thread only).
using SaveFileAsker =
    std::function<QString(QWidget *parent, const QString &caption, const QString &proposed)>;
void webhost_set_save_asker(SaveFileAsker asker);
QString webhost_ask_save_file(QWidget *parent, const QString &caption, const QString &proposed);

// The answer to one download request of one page: a handler takes only the
// downloads its own page started, asks once and accepts or leaves it.
// Returns true when the download was this page's.
bool webhost_take_download(QWebEngineDownloadItem *download, QWebEnginePage *own, QWidget *parent,
                           const QString &caption);

class CustomWebView : public QWebEngineView
{
    Q_OBJECT
  public:
    explicit CustomWebView(QWidget *parent = nullptr);

  protected:
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;
};

class CustomWebEnginePage : public QWebEnginePage
{
    Q_OBJECT
  public:
    CustomWebEnginePage(QWebEngineProfile *profile, QObject *parent = nullptr);
    explicit CustomWebEnginePage(QObject *parent = nullptr);

    // The dispatcher page's address: certificate errors and permission
    // requests of its origin are accepted, every other origin's refused.
    void setTrustedOrigin(const QUrl &url)
    {
        m_trusted = url;
    }
    QUrl trustedOrigin() const
    {
        return m_trusted;
    }
    // The configured origin, or one that a load of the configured address
    // itself was redirected to.
    bool isTrusted(const QUrl &origin) const;
    // The web channel only documents of a trusted origin may reach; set
    // once. It is attached now, taken off the page before a main-frame
    // document of any other origin loads and put back before a trusted one
    // does.
    void setBridge(QWebChannel *channel);
    QWebChannel *bridge() const
    {
        return m_bridge;
    }
    // Grants the feature to a trusted origin and denies it to others.
    void answerPermission(const QUrl &origin, QWebEnginePage::Feature feature);

    bool certificateError(const QWebEngineCertificateError &error) override;

  protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;

  private:
    QUrl m_trusted;
    // Origins the configured address's own load was redirected to.
    QList<QUrl> m_landed;
    // True while the main frame's navigation is a load of the configured
    // address (its redirects included).
    bool m_homeLoad = false;
    QPointer<QWebChannel> m_bridge;
};

class Webpopupwindow : public QWidget
{
    Q_OBJECT
  public:
    Webpopupwindow(QWebEngineProfile *profile, QWidget *parent = nullptr);
    ~Webpopupwindow() override;
    QWebEngineView *view() const;

    // Every pop-up open now; closing them all deletes them (GUI thread).
    static QList<Webpopupwindow *> openWindows();
    static void closeAll();

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    void onDownloadRequested(QWebEngineDownloadItem *download);

    CustomWebView *m_view;
};
