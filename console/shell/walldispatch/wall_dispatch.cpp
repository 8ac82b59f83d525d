#include "wall_dispatch.h"

#include "customconfig.h"
#include "jscontext.h"
#include "language_control.h"
#include "toast.h"
#include "video_container.h"

#include <QWebEnginePage>

JsWallPage::JsWallPage(JsContext *js, QWebEnginePage *page) : m_js(js), m_page(page) {}

void JsWallPage::closeStrongPull(const QString &url, bool notStrong)
{
    m_js->closeStrongPull(m_page, url, notStrong ? 1 : 0);
}

void JsWallPage::closevideocontainercb()
{
    m_js->closevideocontainercb(m_page);
}

void JsWallPage::CloseVideoSingel()
{
    m_js->CloseVideoSingel(m_page);
}

void JsWallPage::videoinformationstop(const QString &url)
{
    m_js->videoinformationstop(m_page, url);
}

void JsWallPage::GetUrllist(int channelnum)
{
    m_js->GetUrllist(m_page, channelnum);
}

void JsWallPage::getrecordhistory()
{
    m_js->getrecordhistory(m_page);
}

void JsWallPage::videosizechange(const QString &size, const QString &url)
{
    m_js->videosizechange(m_page, size, url);
}

void connect_wall_rows(QWidget *window, JsContext *js, VideoWall *wall, QWebEnginePage *page,
                       QTranslator *translator)
{
    VideoContainer *container = VideoContainer::instance();
    QObject::connect(js, &JsContext::startUpvideoSignal, window,
                     [wall](int x, int y, int w, int h) { wall->onStartUpVideo(x, y, w, h); });
    QObject::connect(js, &JsContext::logoutsingal, window, [container] { container->close(); });
    QObject::connect(js, &JsContext::StartpullstreamSignal, window,
                     [wall](int channelnum, QStringList &urllist, int, int, int, int) {
                         wall->onStartPullStream(channelnum, urllist);
                     });
    QObject::connect(js, &JsContext::StoppullstreamSignal, window,
                     [wall](QStringList &urllist) { wall->onStopPullStream(urllist); });
    QObject::connect(js, &JsContext::StartVideoSingelSignal, window,
                     [wall](QString push, QString pull, QString user, int x, int y, int w, int h) {
                         wall->onStartVideoSingel(push, pull, user, x, y, w, h);
                     });
    QObject::connect(js, &JsContext::StopVideoSingelSignal, window,
                     [wall](QString push, QString pull) { wall->onStopVideoSingel(push, pull); });
    QObject::connect(js, &JsContext::StartpullstreamIndexSignal, window,
                     [wall](QString url, bool strong, QString user, QString size) {
                         wall->openwidgetindex(url, strong, user, size);
                     });
    QObject::connect(js, &JsContext::StoppullstreamIndexSignal, window,
                     [wall](QString url, bool iscb) {
                         if (iscb)
                             wall->closewidgetindex(url);
                         else
                             wall->closewidgetindexnocb(url);
                     });
    QObject::connect(js, &JsContext::makevideoWindowTopSingel, window,
                     [container] { container->raiseWindow(); });
    QObject::connect(js, &JsContext::makewebWindowTopSingel, window,
                     [window] { window->activateWindow(); });
    QObject::connect(
        js, &JsContext::SettabeldataSingel, window,
        [wall](QString back, QString, QString, QString, QString single, QString multi) {
            if (CustomConfig *config = CustomConfig::getInstance())
                config->setValue(QStringLiteral("/videosingle/titel"), single);
            wall->onSettabeldata(back, multi);
        });
    QObject::connect(
        js, &JsContext::setlanguagesingal, window,
        [page, translator](QString language) { applyLanguage(language, page, translator); });
    QObject::connect(js, &JsContext::showTipsSignal, window,
                     [container](QString text) { container->m_toast->showText(text); });
    QObject::connect(js, &JsContext::StartVideoInformationSignal, window,
                     [wall](QString url, QString title, int r, int g, int b, int a) {
                         wall->onStartVideoInformation(url, title, r, g, b, a);
                     });
    QObject::connect(js, &JsContext::StopVideoInformationSignal, window,
                     [wall] { wall->closeVideoInformation(); });
    wall->setSingleTitleReader([] {
        CustomConfig *config = CustomConfig::getInstance();
        return config ? config->getValue(QStringLiteral("/videosingle/titel")) : QString();
    });
}
