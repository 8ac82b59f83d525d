// The console's one top-level window: it loads the engine, hosts the
// dispatcher page with the native "context" object, dispatches engine events
// and page requests, and takes everything down again in a fixed order.
// Owner: main; it owns its widgets, the web objects and the engine's load.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QTranslator>
#include <QUrl>
#include <memory>

class CustomWebView;
class IAvVistrel;
class JsContext;
class JsWallPage;
class POc;
class VideoContainer;
class VideoWall;

class CustomWebEnginePage;
class QWebChannel;
class QWebEngineDownloadItem;
class QWebEnginePage;

// The engine's log priority from "/QT/log": missing gives 8; anything else is
// read as a decimal integer (no number counts 0) and kept within 2..8.
int mainwindow_log_priority(const QString &value);
// Null gives the built-in title; any other value, empty too, is kept.
QString mainwindow_title(const QString &value);
// Null gives the built-in dispatcher address; any other value is kept.
QUrl mainwindow_page_url(const QString &value);
// Whether the web cache clean may remove the folder at path (the profile's
// cache path): it must be absolute and not the root, the home folder, the
// working folder, the program's folder or a folder holding either of the
// last two. An off-the-record profile reports an empty path.
bool mainwindow_cache_folder_removable(const QString &path);
// Removes the folder when it may go; logs and keeps it otherwise. True when
// it was removed.
bool mainwindow_remove_cache_folder(const QString &path);
// The built-in dispatcher page address (a deployment setting).
extern const char *const MAINWINDOW_DEFAULT_URL;

class MainWindow : public QMainWindow
{
    Q_OBJECT
  public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The process-wide main window (null before the constructor ran).
    static MainWindow *instance();
    // The primary screen's available width over 1920: page coordinates and
    // the video windows' base sizes are multiplied by it.
    static float desktopScale();

    // False when the engine did not load: the window then has no view.
    bool engineLoaded() const
    {
        return m_engineLoaded;
    }
    CustomWebView *webView() const
    {
        return m_webView;
    }
    // True between a close request and the quit two seconds later.
    bool closing() const
    {
        return m_closing;
    }
    // Null when the engine did not load.
    JsContext *jsContext() const
    {
        return m_jsContext;
    }
    POc *poc() const
    {
        return m_poc;
    }
    VideoContainer *videoContainer() const
    {
        return m_videocontainer;
    }
    // The wall's windows and their table; null when the engine did not load.
    VideoWall *videoWall() const
    {
        return m_videoWall;
    }

  public slots:
    void onQtUpdate(const QString &data);
    void SetShowScreen(int type);

  private slots:
    void clean();

  protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    void setupForm();
    void setupWebEngine();
    void connectWebEngine();
    void connectEngineAndPage();
    QWebEnginePage *page() const;

    void onDownloadRequested(QWebEngineDownloadItem *download);

    // Every pointer starts null: the destructor tests each, so it is safe
    // after the constructor returned early.
    CustomWebView *m_webView = nullptr;
    CustomWebEnginePage *m_custom_webView = nullptr;
    IAvVistrel *m_pAvVistrel = nullptr;
    // The video wall window (one per process), owned here.
    VideoContainer *m_videocontainer = nullptr;
    int m_ignoreSslError = 1;
    JsContext *m_jsContext = nullptr;
    QWebChannel *m_webChannel = nullptr;
    POc *m_poc = nullptr;
    // The pull windows' table (m_PullWigetVector), the wall's grid, the
    // single call with its start thread and the information window, driven
    // through m_pAvVistrel; the page hears of them through m_wallPage.
    VideoWall *m_videoWall = nullptr;
    std::unique_ptr<JsWallPage> m_wallPage;
    // The translator the page's language choice installs.
    QTranslator m_translator;

    bool m_engineLoaded = false;
    bool m_closing = false;
};
