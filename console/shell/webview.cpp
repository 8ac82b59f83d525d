#include "webview.h"

#include "qtlog.h"

#include <QFileDialog>
#include <QMetaEnum>
#include <QResizeEvent>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadItem>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>

namespace
{

// GUI thread only: the save-dialog seam and the open pop-ups.
SaveFileAsker g_save_asker;
QList<QPointer<Webpopupwindow>> g_popups;

template <typename E> QString enum_name(E value)
{
    const char *name = QMetaEnum::fromType<E>().valueToKey(value);
    return name != nullptr ? QString::fromLatin1(name) : QString::number(value);
}

} // namespace

bool webhost_same_origin(const QUrl &trusted, const QUrl &url)
{
    if (!trusted.isValid() || trusted.host().isEmpty() || !url.isValid())
        return false;
    const QString scheme = trusted.scheme().toLower();
    if (scheme != url.scheme().toLower())
        return false;
    if (trusted.host().compare(url.host(), Qt::CaseInsensitive) != 0)
        return false;
    const int fallback = scheme == QLatin1String("https") ? 443 : 80;
    return trusted.port(fallback) == url.port(fallback);
}

void webhost_set_save_asker(SaveFileAsker asker)
{
    g_save_asker = std::move(asker);
}

QString webhost_ask_save_file(QWidget *parent, const QString &caption, const QString &proposed)
{
    if (g_save_asker)
        return g_save_asker(parent, caption, proposed);
    return QFileDialog::getSaveFileName(parent, caption, proposed);
}

bool webhost_take_download(QWebEngineDownloadItem *download, QWebEnginePage *own, QWidget *parent,
                           const QString &caption)
{
    // The profile is shared by the main page and every pop-up: each of their
    // handlers sees every download and answers its own page's alone.
    if (download == nullptr || own == nullptr || download->page() != own)
        return false;
    if (download->state() != QWebEngineDownloadItem::DownloadRequested)
        return true;
    const QString name = webhost_ask_save_file(parent, caption,
                                               download->downloadDirectory() + QLatin1Char('/') +
                                                   download->downloadFileName());
    if (!name.isEmpty()) {
        const QFileInfo info(name);
        download->setDownloadDirectory(info.absolutePath());
        download->setDownloadFileName(info.fileName());
        download->accept();
    }
    return true;
}

CustomWebView::CustomWebView(QWidget *parent) : QWebEngineView(parent) {}

QWebEngineView *CustomWebView::createWindow(QWebEnginePage::WebWindowType type)
{
    SHELL_LOG() << "createWindow enter type" << enum_name(type);
    switch (type) {
    case QWebEnginePage::WebBrowserWindow:
    case QWebEnginePage::WebBrowserTab: {
        // The new document replaces the page in this view, and its first
        // load may never be offered to acceptNavigationRequest: it starts
        // without the channel, which a trusted navigation puts back.
        auto *own = qobject_cast<CustomWebEnginePage *>(page());
        if (own != nullptr && own->bridge() != nullptr && own->webChannel() != nullptr) {
            SHELL_LOG() << "new window in the main view: channel detached";
            own->setWebChannel(nullptr);
        }
        return this;
    }
    case QWebEnginePage::WebDialog: {
        auto *popup = new Webpopupwindow(page()->profile(), nullptr);
        auto *opener = qobject_cast<CustomWebEnginePage *>(page());
        auto *inner = qobject_cast<CustomWebEnginePage *>(popup->view()->page());
        if (opener != nullptr && inner != nullptr)
            inner->setTrustedOrigin(opener->trustedOrigin());
        return popup->view();
    }
    default:
        return nullptr;
    }
}

CustomWebEnginePage::CustomWebEnginePage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
{
}

CustomWebEnginePage::CustomWebEnginePage(QObject *parent) : QWebEnginePage(parent) {}

bool CustomWebEnginePage::isTrusted(const QUrl &origin) const
{
    if (webhost_same_origin(m_trusted, origin))
        return true;
    for (const QUrl &landed : m_landed)
        if (webhost_same_origin(landed, origin))
            return true;
    return false;
}

void CustomWebEnginePage::setBridge(QWebChannel *channel)
{
    m_bridge = channel;
    setWebChannel(channel);
    connect(this, &QWebEnginePage::loadFinished, this, [this]() { m_homeLoad = false; });
}

bool CustomWebEnginePage::acceptNavigationRequest(const QUrl &url, NavigationType type,
                                                  bool isMainFrame)
{
    // The transport is only ever given to the main frame's document: a frame
    // of any origin finds none, so frames are the page's own business.
    if (!isMainFrame)
        return true;
    if (type != NavigationTypeRedirect) {
        // Only the console's own load of the configured address is typed: a
        // page cannot start one.
        m_homeLoad = type == NavigationTypeTyped &&
                     url.adjusted(QUrl::RemoveFragment) == m_trusted.adjusted(QUrl::RemoveFragment);
    } else if (m_homeLoad && !isTrusted(url)) {
        // The configured server sends its page elsewhere (http to https, a
        // new host): where its own load lands is the dispatcher's origin too.
        // A script's or a refresh's move counts as a redirect as well, so the
        // load's end closes that window: a document shown since may not.
        SHELL_LOG() << "the dispatcher page is redirected to" << url.toString();
        QUrl origin;
        origin.setScheme(url.scheme());
        origin.setHost(url.host());
        origin.setPort(url.port());
        m_landed.append(origin);
    }
    if (m_bridge == nullptr)
        return true;
    if (isTrusted(url)) {
        if (webChannel() == nullptr) {
            SHELL_LOG() << "navigation to the dispatcher origin, channel attached:"
                        << url.toString();
            setWebChannel(m_bridge);
        }
    } else {
        SHELL_LOG() << "navigation to another origin, no channel:" << url.toString();
        if (webChannel() != nullptr)
            setWebChannel(nullptr);
    }
    return true;
}

void CustomWebEnginePage::answerPermission(const QUrl &origin, QWebEnginePage::Feature feature)
{
    const bool grant = isTrusted(origin);
    SHELL_LOG() << "permission" << origin.toString() << enum_name(feature)
                << (grant ? "granted" : "denied");
    setFeaturePermission(origin, feature,
                         grant ? QWebEnginePage::PermissionGrantedByUser
                               : QWebEnginePage::PermissionDeniedByUser);
}

bool CustomWebEnginePage::certificateError(const QWebEngineCertificateError &error)
{
    // Self-signed dispatcher servers keep working; no other site of this page,
    // which holds the native "context" object, is let through.
    const bool accept = isTrusted(error.url());
    SHELL_LOG() << "certificateError enter" << error.url().toString() << error.errorDescription()
                << (accept ? "accepted" : "refused");
    return accept;
}

Webpopupwindow::Webpopupwindow(QWebEngineProfile *profile, QWidget *parent)
    : QWidget(parent), m_view(new CustomWebView(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    auto *page = new CustomWebEnginePage(profile, m_view);
    m_view->setPage(page);
    g_popups.append(QPointer<Webpopupwindow>(this));

    connect(page, &QWebEnginePage::geometryChangeRequested, this, [this](const QRect &geometry) {
        SHELL_LOG() << "Webpopupwindow geometryChangeRequested enter " << geometry;
        setGeometry(geometry);
        show();
        m_view->setFocus();
    });
    connect(page, &QWebEnginePage::windowCloseRequested, this, &QWidget::close);
    connect(m_view, &QWebEngineView::renderProcessTerminated, this, [this]() {
        // The view is the timer's context: a view gone by then is not touched.
        QTimer::singleShot(0, m_view, [view = m_view]() { view->reload(); });
    });
    connect(page, &QWebEnginePage::fullScreenRequested, this,
            [this](QWebEngineFullScreenRequest request) {
                request.accept();
                if (request.toggleOn())
                    showFullScreen();
                else
                    showMaximized();
                SHELL_LOG() << "Webpopupwindow fullScreenRequested: " << request.toggleOn();
            });
    connect(page, &QWebEnginePage::featurePermissionRequested, this,
            [page](const QUrl &origin, QWebEnginePage::Feature feature) {
                SHELL_LOG() << "Webpopupwindow featurePermissionRequested: " << origin
                            << enum_name(feature);
                page->answerPermission(origin, feature);
            });
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            &Webpopupwindow::onDownloadRequested);
}

Webpopupwindow::~Webpopupwindow()
{
    g_popups.removeAll(QPointer<Webpopupwindow>(this));
    g_popups.removeAll(QPointer<Webpopupwindow>());
}

QWebEngineView *Webpopupwindow::view() const
{
    return m_view;
}

QList<Webpopupwindow *> Webpopupwindow::openWindows()
{
    QList<Webpopupwindow *> open;
    for (const auto &p : g_popups)
        if (p)
            open.append(p.data());
    return open;
}

void Webpopupwindow::closeAll()
{
    for (Webpopupwindow *w : openWindows()) {
        // close() deletes it later; the page must go now, before what it
        // talks to does.
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->close();
        delete w;
    }
}

void Webpopupwindow::resizeEvent(QResizeEvent *event)
{
    m_view->resize(event->size());
    QWidget::resizeEvent(event);
}

void Webpopupwindow::onDownloadRequested(QWebEngineDownloadItem *download)
{
    if (download == nullptr || download->page() != m_view->page())
        return;
    SHELL_LOG() << "Webpopupwindow QWebEngineProfile:downloadRequested "
                << "sender: " << sender();
    (void)webhost_take_download(download, m_view->page(), this, QStringLiteral("save"));
}
