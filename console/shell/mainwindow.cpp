#include "mainwindow.h"

#include "jscontext.h"
#include "lirko_win.h"
#include "poc.h"
#include "pocwiring.h"
#include "qtlog.h"
#include "shell_config.h"
#include "table_data.h"
#include "video_container.h"
#include "video_wall.h"
#include "vistrel.h"
#include "wall_dispatch.h"
#include "webview.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QMetaType>
#include <QProcess>
#include <QResizeEvent>
#include <QScreen>
#include <QSslSocket>
#include <QStatusBar>
#include <QTextCodec>
#include <QTimer>
#include <QToolBar>
#include <QWebChannel>
#include <QWebEngineDownloadItem>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

const char *const MAINWINDOW_DEFAULT_URL = "http://127.0.0.1:6262/Zorevuviri_ZI";

namespace
{

// Set by the constructor on the GUI thread; read by the video windows.
MainWindow *g_main_window = nullptr;
float g_desktop_scale = 1.0f;

} // namespace

int mainwindow_log_priority(const QString &value)
{
    if (value.isNull())
        return 8;
    const int n = value.toInt(); // no number: 0
    return n < 2 ? 2 : (n > 8 ? 8 : n);
}

QString mainwindow_title(const QString &value)
{
    return value.isNull() ? QStringLiteral("Tarvex Dispatch Console") : value;
}

QUrl mainwindow_page_url(const QString &value)
{
    return QUrl(value.isNull() ? QString::fromLatin1(MAINWINDOW_DEFAULT_URL) : value);
}

MainWindow *MainWindow::instance()
{
    return g_main_window;
}

float MainWindow::desktopScale()
{
    return g_desktop_scale;
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setupForm();
    // The second argument is the account's password: the log shows stars.
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 2)
        arguments[2] = QStringLiteral("***");
    SHELL_LOG() << "argrment " << arguments;
    g_main_window = this;
    m_videocontainer = VideoContainer::instance();
    // The quality labels, shared by the process and never freed.
    (void)TableData::instance();
    setFocusPolicy(Qt::StrongFocus);
    m_poc = new POc(this);

    m_pAvVistrel = CreateLiveInstance();
    if (m_pAvVistrel != nullptr) {
        SHELL_LOG() << "m_pAvVistrel GetCompileVersion: etner";
        const QString stamp = QString::fromStdString(m_pAvVistrel->GetCompileVersion());
        SHELL_LOG() << "m_pAvVistrel GetCompileVersion: out";
        SHELL_LOG() << "nembra build version: " << stamp;
        SHELL_LOG() << "nembra version: "
                    << QString::fromStdString(m_pAvVistrel->GetCompileVersion());
    }

    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect deskRect =
        screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    SHELL_LOG() << "deskRect.width()" << deskRect.width();
    g_desktop_scale = (float)(deskRect.width() / 1920.0);

    // Queued engine signals carry these types. "boolean" is the engine's
    // int-sized truth value, registered as what it really is.
    RegisterBridgeMetaTypes();

    const QString title = shell_config_value(QStringLiteral("/QT/title"));
    SHELL_LOG() << "title" << title;
    setWindowTitle(mainwindow_title(title));
    const QString icon = shell_config_value(QStringLiteral("/QT/icon"));
    setWindowIcon(QIcon(icon.isNull() ? QStringLiteral("icon/window_icon.ico") : icon));

    const QString dir = QDir::currentPath();
    SHELL_LOG() << "engine folder" << dir;
    const int loaded = lirko_win_on_load(dir.toUtf8().constData());
    if (loaded == -1) {
        SHELL_LOG() << "load lirko_win-on_load fail";
        return;
    }
    m_engineLoaded = true;
    if (loaded == 0) {
        SHELL_LOG() << "load lirko_win_on_load success";
        char version[1024] = {0};
        (void)lirko_win_get_version(version);
        SHELL_LOG() << "poc_version version: " << QString::fromUtf8(version);
        const int priority = mainwindow_log_priority(shell_config_value(QStringLiteral("/QT/log")));
        SHELL_LOG() << "log level " << priority;
        (void)lirko_win_set_log_priority(priority);
        POc::InitCallbacks();
    }

    setupWebEngine();
    connectWebEngine();

    const QString url = shell_config_value(QStringLiteral("/network/url"));
    SHELL_LOG() << "load url: " << url;
    const QUrl address = mainwindow_page_url(url);
    m_custom_webView->setTrustedOrigin(address);
    m_jsContext->setPageAddress(address);
    m_webView->load(address);
    m_webView->show();
    SHELL_LOG() << "ssl" << QSslSocket::supportsSsl() << QSslSocket::sslLibraryBuildVersionString()
                << QSslSocket::sslLibraryVersionString();

    connectEngineAndPage();
}

void MainWindow::setupForm()
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("MainWindow"));
    resize(1141, 686);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHorizontalStretch(0);
    policy.setVerticalStretch(0);
    setSizePolicy(policy);
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    central->setSizePolicy(policy);
    setCentralWidget(central);
    auto *menu = new QMenuBar(this);
    menu->setObjectName(QStringLiteral("menuBar"));
    menu->setGeometry(QRect(0, 0, 1141, 23));
    setMenuBar(menu);
    auto *tools = new QToolBar(this);
    tools->setObjectName(QStringLiteral("mainToolBar"));
    addToolBar(Qt::TopToolBarArea, tools);
    auto *status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("statusBar"));
    setStatusBar(status);
    setWindowTitle(QCoreApplication::translate("MainWindow", "MainWindow"));
    QMetaObject::connectSlotsByName(this);
}

void MainWindow::setupWebEngine()
{
    m_webView = new CustomWebView(this);
    // Remote debugging lets any local process drive the page and the native
    // object behind it: only when whoever starts the console asks for it
    // (the web engine reads the variable by itself).
    if (qEnvironmentVariableIsSet("QTWEBENGINE_REMOTE_DEBUGGING"))
        SHELL_LOG() << "warning: remote debugging is on at"
                    << qEnvironmentVariable("QTWEBENGINE_REMOTE_DEBUGGING")
                    << "(QTWEBENGINE_REMOTE_DEBUGGING): any local process can drive the page";
    SHELL_LOG() << "is_ignore_ssl_error " << m_ignoreSslError;
    m_custom_webView = new CustomWebEnginePage(QWebEngineProfile::defaultProfile(), nullptr);
    m_webView->setPage(m_custom_webView);

    // The default and the global settings are one object: the default profile's.
    QWebEngineSettings *defaults = QWebEngineProfile::defaultProfile()->settings();
    defaults->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    defaults->setAttribute(QWebEngineSettings::JavascriptCanPaste, true);
    defaults->setAttribute(QWebEngineSettings::AllowWindowActivationFromJavaScript, true);
    defaults->setAttribute(QWebEngineSettings::AllowGeolocationOnInsecureOrigins, true);
    defaults->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, true);
    QWebEngineProfile::defaultProfile()->settings()->setAttribute(
        QWebEngineSettings::PluginsEnabled, true);
    defaults->setAttribute(QWebEngineSettings::PluginsEnabled, true);
    m_webView->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    defaults->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);

    m_jsContext = new JsContext(this);
    m_webChannel = new QWebChannel(this);
    m_webChannel->registerObject(QStringLiteral("context"), m_jsContext);
    m_custom_webView->setBridge(m_webChannel);
    m_webView->settings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);
}

void MainWindow::connectWebEngine()
{
    // 1: the view is the timer's context, so a crash during teardown cannot
    // reload a view that is gone.
    connect(m_webView, &QWebEngineView::renderProcessTerminated, this, [this]() {
        QTimer::singleShot(0, m_webView, [view = m_webView]() { view->reload(); });
    });
    // 2
    connect(m_webView->page(), &QWebEnginePage::fullScreenRequested, this,
            [this](QWebEngineFullScreenRequest request) {
                request.accept();
                if (request.toggleOn())
                    showFullScreen();
                else
                    showMaximized();
            });
    // 3 and 4: answered twice, as ever; only the configured origin is granted.
    for (int i = 0; i < 2; i++)
        connect(m_webView->page(), &QWebEnginePage::featurePermissionRequested, this,
                [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                    SHELL_LOG() << "featurePermissionRequested" << origin << feature;
                    m_custom_webView->answerPermission(origin, feature);
                });
    // 5
    connect(m_webView->page()->profile(), &QWebEngineProfile::downloadRequested, this,
            &MainWindow::onDownloadRequested);
}

QWebEnginePage *MainWindow::page() const
{
    return m_webView != nullptr ? m_webView->page() : nullptr;
}

void MainWindow::connectEngineAndPage()
{
    // The wall and its windows; they hear of the page through the page object.
    m_wallPage = std::make_unique<JsWallPage>(m_jsContext, page());
    m_videoWall = new VideoWall(this, m_videocontainer, m_wallPage.get(), m_pAvVistrel, this);

    // 6 to 46 and 51: engine events to the page. A speaker's start saves the
    // wall's mute states and silences it (only when nothing is saved yet, so
    // nested speakers keep the first states); its stop gives them back.
    PocWiringHooks hooks;
    VideoWall *wall = m_videoWall;
    hooks.speakerStarted = [wall]() { wall->speakerStarted(); };
    hooks.speakerStopped = [wall]() { wall->speakerStopped(); };
    ConnectPocToPage(
        m_poc, m_jsContext, this, [this]() { return page(); }, hooks);

    // 47 to 50, 52 to 55 and 82: page requests the window carries out.
    JsContext *js = m_jsContext;
    connect(js, &JsContext::PlayRecordBroadcastAudioSignal, this,
            [this]() { (void)m_poc->sendPlayRecordBroadcastAudio(); });
    connect(js, &JsContext::SendHttpUploadSignal, this,
            [this, js](QString msg, int error) { js->sendHttpUpload(page(), msg, error); });
    connect(js, &JsContext::SendHttpDownloadSignal, this,
            [this, js](QString msg, int error) { js->sendHttpDownload(page(), msg, error); });
    connect(js, &JsContext::SendHttpDownStautsSignal, this, [this, js](QString msg, int status) {
        js->sendHttpDownloadStatus(page(), msg, status);
    });
    connect(js, &JsContext::DownloadBulkEnd, this,
            [this, js](QString meg) { js->sendDownBulkMessage(page(), meg); });
    connect(js, &JsContext::CleanCacheSignal, this, [this]() { clean(); });
    connect(js, &JsContext::ShowScreenSignal, this, [this](int type) { SetShowScreen(type); });
    connect(js, &JsContext::QtUpdateSignal, this, [this](QString data) { onQtUpdate(data); });
    connect(js, &JsContext::PlayLocalFileStatus, this,
            [this, js](int status) { js->SendPlayLocalFileStatus(page(), status); });

    // 56, 60 to 67, 74 to 77, 80 and 81: the page's video, window, language
    // and label requests; 57 to 59, 68 to 73, 78 and 79: the wall's own.
    connect_wall_rows(this, m_jsContext, m_videoWall, page(), &m_translator);
    m_videoWall->connectContainer();
}

void MainWindow::onDownloadRequested(QWebEngineDownloadItem *download)
{
    if (m_webView == nullptr || download == nullptr || download->page() != m_webView->page())
        return;
    SHELL_LOG() << "downloadRequested sender: " << sender();
    const QString caption =
        QTextCodec::codecForName("GB2312")->toUnicode("\xc1\xed\xb4\xe6\xce\xaa");
    (void)webhost_take_download(download, m_webView->page(), this, caption);
}

MainWindow::~MainWindow()
{
    // Nothing may outlive what it talks to. The single call's start thread
    // is done before its streams are stopped; the video goes while the
    // windows it draws into exist; pop-ups go with the page they came from;
    // the engine stops calling before its adapter goes, and its events still
    // queued for this window are dropped before the page object goes.
    if (m_videoWall != nullptr) {
        SHELL_LOG() << "wait for the single call";
        m_videoWall->waitCallThread();
        SHELL_LOG() << "stop the single call";
        m_videoWall->stopSingleCallStreams();
    }
    if (m_pAvVistrel != nullptr) {
        SHELL_LOG() << "delete m_pAvVistrel";
        ReleaseLiveInstance(&m_pAvVistrel);
        if (m_videoWall != nullptr)
            m_videoWall->setInstance(nullptr);
    }
    if (m_videoWall != nullptr) {
        SHELL_LOG() << "delete the video windows";
        delete m_videoWall;
        m_videoWall = nullptr;
    }
    if (m_videocontainer != nullptr) {
        SHELL_LOG() << "delete m_videocontainer";
        delete m_videocontainer;
        m_videocontainer = nullptr;
    }
    SHELL_LOG() << "close the pop-ups";
    Webpopupwindow::closeAll();
    SHELL_LOG() << "MainWindow exit";
    if (m_engineLoaded)
        lirko_win_on_unload();
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    if (m_poc != nullptr) {
        SHELL_LOG() << "delete m_poc";
        delete m_poc;
        m_poc = nullptr;
    }
    if (m_custom_webView != nullptr) {
        SHELL_LOG() << "delete m_custom_webView";
        // The view must not hold a page that is gone.
        if (m_webView != nullptr)
            m_webView->setPage(nullptr);
        delete m_custom_webView;
        m_custom_webView = nullptr;
    }
    if (m_webView != nullptr) {
        SHELL_LOG() << "delete m_webView";
        delete m_webView;
        m_webView = nullptr;
    }
    if (m_webChannel != nullptr) {
        SHELL_LOG() << "delete m_webChannel";
        delete m_webChannel;
        m_webChannel = nullptr;
    }
    m_wallPage.reset();
    if (m_jsContext != nullptr) {
        SHELL_LOG() << "delete m_jsContext";
        delete m_jsContext;
        m_jsContext = nullptr;
    }
    SHELL_LOG() << "delete m_ini";
    shell_config_release();
    if (g_main_window == this)
        g_main_window = nullptr;
    qtlog_close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    SHELL_LOG() << "closeEvent" << (m_webView != nullptr) << m_closing;
    if (m_webView == nullptr) {
        // No page to ask (the engine did not load): nothing to wait for.
        event->accept();
        QCoreApplication::quit();
        return;
    }
    event->ignore();
    if (m_closing)
        return;
    m_closing = true;
    // The page has two seconds for its own shutdown.
    m_jsContext->closeMainwindow(page());
    QTimer::singleShot(2000, this, []() { QCoreApplication::quit(); });
}

void MainWindow::onQtUpdate(const QString &data)
{
    SHELL_LOG() << "UI: QtUpdateSignal: " << data;
    // From the working directory, never a program found along PATH.
    const QString updater = QDir::current().absoluteFilePath(QStringLiteral("DevizaDuvuvi.exe"));
    if (QProcess::startDetached(updater, {data}))
        QTimer::singleShot(500, qApp, &QCoreApplication::quit);
}

void MainWindow::clean()
{
    SHELL_LOG() << "clean cache cookie";
    if (m_webView == nullptr)
        return;
    QWebEngineProfile *profile = m_webView->page()->profile();
    profile->clearHttpCache();
    (void)mainwindow_remove_cache_folder(profile->cachePath());
}

bool mainwindow_cache_folder_removable(const QString &path)
{
    if (path.isEmpty() || QDir::isRelativePath(path))
        return false;
    // Each path both as written and with its links resolved.
    const auto forms = [](const QString &p) {
        QStringList out{QDir::cleanPath(p)};
        const QString real = QFileInfo(p).canonicalFilePath();
        if (!real.isEmpty() && real != out.first())
            out << real;
        return out;
    };
    const QStringList targets = forms(path);
    const QStringList home = forms(QDir::homePath());
    QStringList kept = forms(QDir::currentPath());
    kept << forms(QCoreApplication::applicationDirPath());
    for (const QString &t : targets) {
        if (t == QLatin1String("/") || home.contains(t))
            return false;
        for (const QString &k : kept)
            if (k == t || k.startsWith(t + QLatin1Char('/')))
                return false;
    }
    return true;
}

bool mainwindow_remove_cache_folder(const QString &path)
{
    if (!mainwindow_cache_folder_removable(path)) {
        SHELL_LOG() << "cache folder not removed, not one of its own:" << path;
        return false;
    }
    QDir dir(path);
    if (!dir.exists())
        return false;
    SHELL_LOG() << path;
    const bool removed = dir.removeRecursively();
    SHELL_LOG() << "removed" << removed;
    if (!removed)
        SHELL_LOG() << QString::fromUtf8("删除缓存目录失败！");
    return removed;
}

void MainWindow::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.addAction(QString::fromUtf8("最小化"));
    menu.addAction(QString::fromUtf8("最大化"));
    menu.addAction(QString::fromUtf8("关闭"));
    menu.exec(event->globalPos());
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    if (m_webView != nullptr)
        m_webView->resize(event->size());
    QMainWindow::resizeEvent(event);
}

void MainWindow::SetShowScreen(int type)
{
    SHELL_LOG() << "UI: ShowMaxSignal: "
                << "set show type " << type;
    switch (type) {
    case 1:
        if (!isMaximized())
            showMaximized();
        break;
    case 2:
        if (!isMinimized())
            showMinimized();
        break;
    default:
        showNormal();
        break;
    }
}
