// The web host against the real web engine (offscreen): where new windows
// go, pop-ups and their wiring, downloads, certificates and permissions.
#include "crash_handler.h"
#include "web_support.h"
#include "webview.h"

#include <QFile>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadItem>
#include <QWebEngineProfile>
#include <gtest/gtest.h>
#include <memory>

using webtest::spin_for;
using webtest::spin_until;

namespace
{

const QByteArray k_page = "<html><head><title>t</title></head><body>page</body></html>";

class ExposedView : public CustomWebView
{
  public:
    using CustomWebView::createWindow;
};

class WebHost : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        server.serve(QStringLiteral("/"), k_page);
        server.serve(QStringLiteral("/popup"), k_page);
        server.serve(QStringLiteral("/other"), k_page);
        server.serve(QStringLiteral("/file.txt"), "the file's text", "text/plain",
                     "Content-Disposition: attachment; filename=\"file.txt\"\r\n");
        page = new CustomWebEnginePage(QWebEngineProfile::defaultProfile(), &view);
        page->setTrustedOrigin(server.url(QStringLiteral("/")));
        view.setPage(page);
        // As the main window does: its own page's downloads and permissions.
        QObject::connect(page->profile(), &QWebEngineProfile::downloadRequested, &view,
                         [this](QWebEngineDownloadItem *item) {
                             if (webhost_take_download(item, page, &view, QStringLiteral("save")))
                                 main_took++;
                         });
        QObject::connect(page, &QWebEnginePage::featurePermissionRequested, page,
                         [this](const QUrl &origin, QWebEnginePage::Feature feature) {
                             page->answerPermission(origin, feature);
                         });
        webhost_set_save_asker([this](QWidget *parent, const QString &, const QString &) {
            asked.append(parent);
            return webtest::work_dir() + QStringLiteral("/saved-%1.txt").arg(asked.size());
        });
        view.resize(800, 600);
        view.show();
    }
    void TearDown() override
    {
        Webpopupwindow::closeAll();
        webhost_set_save_asker(nullptr);
    }

    void load(QWebEngineView *v, const QUrl &url)
    {
        bool done = false;
        auto c = QObject::connect(v, &QWebEngineView::loadFinished, [&](bool) { done = true; });
        v->load(url);
        ASSERT_TRUE(spin_until([&] { return done; })) << url.toString().toStdString();
        QObject::disconnect(c);
    }

    QVariant js(QWebEnginePage *p, const QString &script)
    {
        // Shared: an answer that comes after the wait gave up lands safely.
        auto answer = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
        p->runJavaScript(script, [answer](const QVariant &r) {
            answer->second = r;
            answer->first = true;
        });
        EXPECT_TRUE(spin_until([&] { return answer->first; })) << script.toStdString();
        return answer->second;
    }

    // Polls a script until it gives a non-empty string.
    QString js_wait(QWebEnginePage *p, const QString &script)
    {
        QString out;
        spin_until([&] {
            out = js(p, script).toString();
            return !out.isEmpty();
        });
        return out;
    }

    Webpopupwindow *open_popup()
    {
        js(page, QStringLiteral("window.open('/popup', 'p', "
                                "'width=320,height=240,left=40,top=50'); true"));
        EXPECT_TRUE(spin_until([] {
            auto open = Webpopupwindow::openWindows();
            return open.size() == 1 && open[0]->isVisible();
        }));
        auto open = Webpopupwindow::openWindows();
        return open.isEmpty() ? nullptr : open[0];
    }

    // The pop-up's own document is in. Its address changes as soon as its
    // load starts, while scripts still run in the blank document it opened
    // with, which is "complete" already: what a script does there dies with it.
    bool popup_document_in(Webpopupwindow *popup)
    {
        return spin_until([&] {
            return js(popup->view()->page(),
                      QStringLiteral("location.pathname + ' ' + document.readyState"))
                       .toString() == QLatin1String("/popup complete");
        });
    }

    webtest::HttpServer server;
    CustomWebView view;
    CustomWebEnginePage *page = nullptr;
    QList<QWidget *> asked;
    int main_took = 0;
};

TEST_F(WebHost, CreateWindowByType)
{
    ExposedView v;
    auto *p = new CustomWebEnginePage(QWebEngineProfile::defaultProfile(), &v);
    p->setTrustedOrigin(server.url(QStringLiteral("/")));
    v.setPage(p);
    EXPECT_EQ(v.createWindow(QWebEnginePage::WebBrowserWindow), &v);
    EXPECT_EQ(v.createWindow(QWebEnginePage::WebBrowserTab), &v);
    EXPECT_EQ(v.createWindow(QWebEnginePage::WebBrowserBackgroundTab), nullptr);
    EXPECT_TRUE(Webpopupwindow::openWindows().isEmpty());

    QWebEngineView *dialog = v.createWindow(QWebEnginePage::WebDialog);
    ASSERT_NE(dialog, nullptr);
    EXPECT_NE(dialog, &v);
    ASSERT_EQ(Webpopupwindow::openWindows().size(), 1);
    Webpopupwindow *popup = Webpopupwindow::openWindows()[0];
    EXPECT_EQ(popup->view(), dialog);
    EXPECT_EQ(popup->parentWidget(), nullptr);
    EXPECT_EQ(dialog->page()->profile(), p->profile());
    auto *inner = qobject_cast<CustomWebEnginePage *>(dialog->page());
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->trustedOrigin(), p->trustedOrigin());
    // Its page never asked for a geometry: it stays hidden.
    load(dialog, server.url(QStringLiteral("/popup")));
    spin_for(300);
    EXPECT_FALSE(popup->isVisible());
}

TEST_F(WebHost, WindowOpenWithGeometryShowsAPopupThereAndCloseDeletesIt)
{
    load(&view, server.url(QStringLiteral("/")));
    Webpopupwindow *popup = open_popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->geometry(), QRect(40, 50, 320, 240));
    EXPECT_EQ(popup->view()->size(), QSize(320, 240));
    EXPECT_EQ(popup->view()->page()->profile(), page->profile());
    ASSERT_TRUE(spin_until([&] { return server.requests(QStringLiteral("/popup")) == 1; }));

    QPointer<Webpopupwindow> alive(popup);
    ASSERT_TRUE(popup_document_in(popup));
    js(popup->view()->page(), QStringLiteral("window.close(); true"));
    EXPECT_TRUE(spin_until([&] { return alive.isNull(); }));
    EXPECT_TRUE(Webpopupwindow::openWindows().isEmpty());
}

TEST_F(WebHost, WindowOpenWithoutFeaturesLoadsIntoTheView)
{
    load(&view, server.url(QStringLiteral("/")));
    // The page's contents are replaced: no answer comes back from the script.
    page->runJavaScript(QStringLiteral("window.open('/other')"));
    EXPECT_TRUE(spin_until([&] { return server.requests(QStringLiteral("/other")) == 1; }));
    EXPECT_EQ(view.url().path(), QStringLiteral("/other"));
    EXPECT_TRUE(Webpopupwindow::openWindows().isEmpty());
}

TEST_F(WebHost, EachDownloadAsksOnceInItsOwnWindow)
{
    load(&view, server.url(QStringLiteral("/")));
    Webpopupwindow *popup = open_popup();
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(popup_document_in(popup));
    const QString click = QStringLiteral("var a = document.createElement('a'); a.href = "
                                         "'/file.txt'; document.body.appendChild(a); a.click(); "
                                         "true");
    js(page, click);
    ASSERT_TRUE(spin_until([&] { return QFile::exists(webtest::work_dir() + "/saved-1.txt"); }));
    ASSERT_TRUE(spin_until([&] {
        QFile f(webtest::work_dir() + "/saved-1.txt");
        return f.open(QIODevice::ReadOnly) && f.readAll() == "the file's text";
    }));
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked[0], &view);
    EXPECT_EQ(main_took, 1);

    js(popup->view()->page(), click);
    ASSERT_TRUE(spin_until([&] { return asked.size() == 2; }));
    spin_for(300);
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[1], popup);
    EXPECT_EQ(main_took, 1);
}

TEST_F(WebHost, SameOriginTable)
{
    struct Case {
        const char *trusted, *url;
        bool same;
    } cases[] = {
        {"http://10.0.0.5:6262/Zorevuviri_ZI", "http://10.0.0.5:6262/other?x", true},
        {"https://disp.example:8443/a", "https://DISP.example:8443/", true},
        {"https://disp.example/a", "https://disp.example:443/b", true},
        {"http://10.0.0.5:6262/a", "http://10.0.0.5:6263/a", false},
        {"http://10.0.0.5:6262/a", "https://10.0.0.5:6262/a", false},
        {"http://10.0.0.5:6262/a", "http://10.0.0.6:6262/a", false},
        {"https://disp.example/a", "https://evil.example/a", false},
        {"", "http://10.0.0.5/", false},
        {"http://10.0.0.5:6262/a", "", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(webhost_same_origin(QUrl(QString::fromLatin1(c.trusted)),
                                      QUrl(QString::fromLatin1(c.url))),
                  c.same)
            << c.trusted << " / " << c.url;
}

TEST_F(WebHost, CertificateErrorsOnlyForTheConfiguredOrigin)
{
    CustomWebEnginePage p(QWebEngineProfile::defaultProfile());
    struct Case {
        const char *url;
        bool accepted;
    } cases[] = {{"https://10.0.0.5:6262/Zorevuviri_ZI", true},
                 {"https://10.0.0.5:6262/api/x", true},
                 {"https://10.0.0.5:443/", false},
                 {"https://cdn.example/lib.js", false}};
    p.setTrustedOrigin(QUrl(QStringLiteral("https://10.0.0.5:6262/Zorevuviri_ZI")));
    for (const Case &c : cases) {
        QWebEngineCertificateError e(QWebEngineCertificateError::CertificateAuthorityInvalid,
                                     QUrl(QString::fromLatin1(c.url)), true,
                                     QStringLiteral("self-signed"));
        EXPECT_EQ(p.certificateError(e), c.accepted) << c.url;
    }
    p.setTrustedOrigin(QUrl());
    QWebEngineCertificateError e(QWebEngineCertificateError::CertificateAuthorityInvalid,
                                 QUrl(QStringLiteral("https://10.0.0.5:6262/")), true, QString());
    EXPECT_FALSE(p.certificateError(e));
}

TEST_F(WebHost, PermissionsOnlyForTheConfiguredOrigin)
{
    const QString ask = QStringLiteral("window.__perm = ''; Notification.requestPermission()"
                                       ".then(function (p) { window.__perm = p; }); true");
    load(&view, server.url(QStringLiteral("/")));
    js(page, ask);
    EXPECT_EQ(js_wait(page, QStringLiteral("window.__perm")), QStringLiteral("granted"));

    load(&view, server.url(QStringLiteral("/other"), QStringLiteral("localhost")));
    js(page, ask);
    EXPECT_EQ(js_wait(page, QStringLiteral("window.__perm")), QStringLiteral("denied"));

    // A pop-up answers by the same rule on its own connection.
    load(&view, server.url(QStringLiteral("/")));
    Webpopupwindow *popup = open_popup();
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(popup_document_in(popup));
    js(popup->view()->page(), ask);
    EXPECT_EQ(js_wait(popup->view()->page(), QStringLiteral("window.__perm")),
              QStringLiteral("granted"));
}

// A renderer crash reloads the pop-up on the next turn of the loop; when the
// pop-up is gone by then, nothing is reloaded.
TEST_F(WebHost, PopupReloadsAfterARendererCrashUnlessGone)
{
    load(&view, server.url(QStringLiteral("/")));
    Webpopupwindow *popup = open_popup();
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(spin_until([&] { return server.requests(QStringLiteral("/popup")) == 1; }));
    // A reload before the pop-up's document is in reloads the blank one.
    ASSERT_TRUE(popup_document_in(popup));
    emit popup->view()->renderProcessTerminated(QWebEnginePage::CrashedTerminationStatus, 1);
    EXPECT_TRUE(spin_until([&] { return server.requests(QStringLiteral("/popup")) == 2; }));

    emit popup->view()->renderProcessTerminated(QWebEnginePage::CrashedTerminationStatus, 1);
    delete popup;
    spin_for(500);
    EXPECT_EQ(server.requests(QStringLiteral("/popup")), 2);
}

TEST_F(WebHost, CrashHandlersSurviveTheWebEngine)
{
    load(&view, server.url(QStringLiteral("/")));
    EXPECT_EQ(js(page, QStringLiteral("document.title")).toString(), QStringLiteral("t"));
    EXPECT_TRUE(CrashHandler::installed());
}

} // namespace
