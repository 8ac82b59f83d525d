#include "video_wall.h"

#include "toast.h"
#include "video_container.h"
#include "video_information.h"
#include "video_main.h"
#include "video_widget.h"
#include "vistrel.h"
#include "wall_scale.h"
#include "widget_bottom.h"
#include "widget_top.h"

#include <QCloseEvent>
#include <QDebug>
#include <QPushButton>
#include <QTimer>

namespace
{

std::string utf8(const QString &s)
{
    return s.toUtf8().toStdString();
}

VistrelWindow handle(const QWidget *w)
{
    return static_cast<VistrelWindow>(w->winId());
}

} // namespace

VideoWall::VideoWall(QWidget *mainWindow, VideoContainer *container, WallPage *page,
                     IAvVistrel *instance, QObject *parent)
    : QObject(parent), m_mainWindow(mainWindow), m_videocontainer(container), m_page(page),
      m_pAvVistrel(instance)
{
    m_thread.setOwner(this);
}

VideoWall::~VideoWall()
{
    // The start thread reads this object: it must be done before it goes.
    m_thread.wait();
    // Closing hands the information window to a later deletion, which may
    // never come when this goes at the end of the program.
    QPointer<VideoInformation> info = m_videoinformation;
    closeVideoInformation();
    delete info.data();
    UnInitVideoWidget();
    delete m_singleCallWindow;
}

void VideoWall::waitCallThread()
{
    m_thread.wait();
}

void VideoWall::stopSingleCallStreams()
{
    endSingleCallStreams();
}

void VideoWall::setInstance(IAvVistrel *instance)
{
    m_thread.wait();
    m_pAvVistrel = instance;
}

void VideoWall::setSingleTitleReader(std::function<QString()> reader)
{
    m_singleTitle = std::move(reader);
}

const QVector<PullWidgetEntry *> &VideoWall::entries() const
{
    return m_PullWigetVector;
}

VideoMain *VideoWall::pullMainWidget() const
{
    return m_pullMainWidget;
}

videosignalmain *VideoWall::singleCallWindow() const
{
    return m_singleCallWindow;
}

bool VideoWall::singleCallActive() const
{
    return m_singleCallActive;
}

VideoInformation *VideoWall::videoInformation() const
{
    return m_videoinformation.data();
}

int VideoWall::activePullCount() const
{
    return m_activePullCount;
}

bool VideoWall::muteSaved() const
{
    return m_muteSaved;
}

void VideoWall::connectContainer()
{
    VideoContainer *c = m_videocontainer;
    connect(c, &VideoContainer::PlayVideoSignal, this, &VideoWall::onPlayVideo);
    connect(c, &VideoContainer::StopVideoSignal, this, &VideoWall::onStopVideo);
    connect(c, &VideoContainer::CloseVideoContainerSignal, this, &VideoWall::onCloseVideoContainer);
    connect(c, &VideoContainer::videoContainerMoveEvent, this, &VideoWall::placeBars);
    connect(c, &VideoContainer::videofullscreenEventSignal, this,
            &VideoWall::onVideoFullscreenEvent);
    connect(c, &VideoContainer::videocloseEventSignal, this,
            [this](const QString &url) { closewidgetindex(url); });
    connect(c, &VideoContainer::videovoiceEventSignal, this, &VideoWall::onVideoVoiceEvent);
    connect(c, &VideoContainer::videoSetallmuteSignal, this, &VideoWall::onVideoSetAllMute);
    connect(c, &VideoContainer::videorecordhistorySignal, this, [this] {
        m_page->getrecordhistory();
        if (m_mainWindow)
            m_mainWindow->activateWindow();
    });
    connect(c, &VideoContainer::videovoiceEventCustomSignal, this,
            &VideoWall::onVideoVoiceEventCustom);
    connect(
        c, &VideoContainer::videosizeeventSignal, this,
        [this](const QString &size, const QString &url) { m_page->videosizechange(size, url); });
}

void VideoWall::nudgeContainer()
{
    // Native tiles and tool-window bars settle after a move of the wall.
    const QPoint p = m_videocontainer->pos();
    m_videocontainer->move(p + QPoint(1, 0));
    m_videocontainer->move(p);
}

void VideoWall::onStartUpVideo(int x, int y, int width, int heigh)
{
    const float s = wallScale();
    if (!m_pullMainWidget) {
        m_pullMainWidget = new VideoMain(m_videocontainer);
        m_pullMainWidget->move(int(x * s), int(y * s));
    }
    m_pullMainWidget->setFixedSize(int(width * s), int(heigh * s));
    m_videocontainer->show();
    m_videocontainer->showAll();
    m_pullMainWidget->show();
    m_videocontainer->OnOneChannelClickEvent();
}

void VideoWall::onStartPullStream(int channelnum, QStringList &urllist)
{
    const QStringList urls = urllist;
    urllist.clear();
    InitVideoWidget(channelnum, urls);
    openvideowidget();
}

void VideoWall::onStopPullStream(QStringList &urllist)
{
    const QStringList urls = urllist;
    urllist.clear();
    closevideowidget(urls);
    UnInitVideoWidget();
}

void VideoWall::onPlayVideo(int channelnum, const QStringList &urllist)
{
    m_page->GetUrllist(channelnum);
    InitVideoWidget(channelnum, urllist);
    openvideowidget();
    m_activePullCount = 0;
}

void VideoWall::onStopVideo(const QStringList &urllist)
{
    closevideowidget(urllist);
    UnInitVideoWidget();
}

void VideoWall::InitVideoWidget(int channelnum, const QStringList &urllist)
{
    if (!m_pullMainWidget) {
        // Tiles without the wall's grid would become windows of their own.
        qDebug() << "VideoWall::InitVideoWidget: the wall is not started";
        return;
    }
    for (int i = 0; i < channelnum; ++i) {
        auto *e = new PullWidgetEntry;
        e->tile = new VideoWidget(m_pullMainWidget, false);
        e->top = new widgetTop(m_pullMainWidget);
        e->bottom = new widgetBottom(m_pullMainWidget);
        e->tile->setTopBar(e->top);
        // The grid settles its tiles later than they open: bars follow them.
        e->tile->installEventFilter(this);
        e->muted = true;
        // Made while a speaker holds the wall quiet: the speaker's end leaves
        // it as it is now, not as a window the dispatcher turned up.
        e->savedMuted = e->muted;
        e->index = i;
        e->url = urllist.value(i); // fewer URLs than channels: empty URLs
        e->tile->setUrl(e->url);
        e->top->setUrl(e->url);
        e->bottom->setUrl(e->url);
        m_PullWigetVector.append(e);
    }
    QVector<VideoWidget *> tiles;
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector))
        tiles << e->tile;
    m_pullMainWidget->FillVideoMian(tiles);
}

void VideoWall::UnInitVideoWidget()
{
    qDebug() << "VideoWall::UnInitVideoWidget:" << m_PullWigetVector.size();
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        delete e->tile;
        delete e->top;
        delete e->bottom;
        delete e;
    }
    m_PullWigetVector.clear();
}

bool VideoWall::inGrid(const PullWidgetEntry *e) const
{
    return m_pullMainWidget && m_pullMainWidget->placed(e->tile);
}

int VideoWall::openvideowidget()
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->url.isEmpty())
            continue;
        if (!inGrid(e)) {
            // Shown, it would sit outside the grid over the other tiles.
            qWarning() << "VideoWall::openvideowidget: no cell for" << e->url;
            continue;
        }
        e->tile->show();
        // The bar goes over its tile at once, not only after the wall moves.
        e->top->resize(e->tile->width(), e->top->barHeight());
        e->top->setName(e->userName, e->tile->width());
        e->top->move(e->tile->mapToGlobal(QPoint(0, 0)));
        e->top->show();
        e->pulling = true;
        if (m_pAvVistrel) {
            m_pAvVistrel->StartPullRtmpStream(handle(e->tile), utf8(e->url));
            // A speaker holds the wall quiet: a window opened meanwhile too.
            if (m_muteSaved)
                m_pAvVistrel->SetPullStreamMute(utf8(e->url), true);
        }
        e->tile->show();
    }
    return 0;
}

int VideoWall::openwidgetindex(const QString &url, bool isStrongPull, const QString &username,
                               const QString &size)
{
    for (const PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->url == url) {
            qDebug() << "openwidgetindex has same url, don`t pull same url, same url: " << url;
            return -1;
        }
    }
    PullWidgetEntry *e = nullptr;
    for (PullWidgetEntry *c : qAsConst(m_PullWigetVector)) {
        if (!c->pulling && inGrid(c)) {
            e = c;
            break;
        }
    }
    if (url.isEmpty() || !e)
        return 0;
    e->url = url;
    e->tile->setUrl(url);
    e->tile->show();
    e->tile->setUpdatesEnabled(false);
    const int w = e->tile->width();
    const int h = e->tile->height();
    const QPoint p = e->tile->mapToGlobal(QPoint(0, 0));

    e->top->resize(w, e->top->barHeight());
    e->top->setName(username, w);
    e->userName = username;
    e->size = size;
    e->top->move(p);
    e->top->setUrl(url);
    e->top->setIcon(QStringLiteral(":/rec/resouce/videomute.png"));

    e->bottom->resize(84, 115);
    e->bottom->move(p.x() + w - e->bottom->width(), p.y() + h - e->bottom->height());
    e->bottom->setUrl(url);
    e->bottom->picker()->fillItems(size);

    e->muted = true;
    if (m_muteSaved)
        e->savedMuted = true; // opened muted while a speaker is on
    // Each timer shows its own entry's bar, and dies with the bar; an entry
    // closed meanwhile keeps its bar hidden.
    widgetTop *top = e->top;
    QTimer::singleShot(200, top, [e, top, url] {
        if (e->pulling && e->url == url)
            top->show();
    });
    e->pulling = true;
    e->strongPull = isStrongPull;
    if (m_pAvVistrel) {
        m_pAvVistrel->StartPullRtmpStream(handle(e->tile), utf8(url));
        m_pAvVistrel->SetPullStreamMute(utf8(url), true);
    }
    nudgeContainer();
    ++m_activePullCount;
    e->bottom->show();
    return 0;
}

void VideoWall::closeEntry(PullWidgetEntry *e, bool tellPage)
{
    if (tellPage)
        m_page->closeStrongPull(e->url, !e->strongPull);
    if (m_pAvVistrel)
        m_pAvVistrel->StopPullRtmpStream(utf8(e->url));
    e->top->setName(QStringLiteral(" "), 150);
    e->top->hide();
    e->bottom->picker()->hideList();
    e->bottom->hide();
    e->tile->hide();
    e->url.clear();
    e->tile->setUrl(QStringLiteral(" "));
    e->pulling = false;
    e->strongPull = false;
    --m_activePullCount;
    QTimer::singleShot(200, this, [this] { nudgeContainer(); });
}

int VideoWall::closewidgetindex(const QString &url)
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->pulling && e->url == url) {
            closeEntry(e, true);
            break;
        }
    }
    return 0;
}

int VideoWall::closewidgetindexnocb(const QString &url)
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->pulling && e->url == url) {
            closeEntry(e, false);
            break;
        }
    }
    return 0;
}

int VideoWall::closevideowidget(const QStringList &)
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (m_pAvVistrel)
            m_pAvVistrel->StopPullRtmpStream(utf8(e->url));
        else
            qDebug() << "StopPullRtmpStream faild m_pAvVistrel is null";
        e->tile->hide();
    }
    return 0;
}

void VideoWall::onCloseVideoContainer()
{
    m_page->closevideocontainercb();
    m_videocontainer->m_toast->stopAnimation();
    closevideowidget(QStringList());
    UnInitVideoWidget();
    m_videocontainer->m_onePlaying = false;
    m_videocontainer->m_fourPlaying = false;
    // The other layouts are cleared too: the next start-up's one-tile switch
    // must stop whatever the flags say is playing.
    m_videocontainer->m_sixPlaying = false;
    m_videocontainer->m_eightPlaying = false;
    m_videocontainer->m_ninePlaying = false;
    delete m_pullMainWidget;
    m_pullMainWidget = nullptr;
    m_activePullCount = 0;
}

void VideoWall::onVideoVoiceEvent(const QString &url)
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->url == url) {
            onVideoVoiceEventCustom(url, !e->muted);
            return;
        }
    }
    onVideoVoiceEventCustom(url, false);
}

void VideoWall::onVideoVoiceEventCustom(const QString &url, bool mute)
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->url != url)
            continue;
        if (mute) {
            e->top->setIcon(QStringLiteral(":/rec/resouce/videomute.png"));
            e->muted = true;
            if (m_pAvVistrel)
                m_pAvVistrel->SetPullStreamMute(utf8(url), true);
        } else {
            e->top->setIcon(QStringLiteral(":/rec/resouce/videovoice.png"));
            e->muted = false;
            m_videocontainer->setMuteButton(false);
            if (m_pAvVistrel)
                m_pAvVistrel->SetPullStreamMute(utf8(url), false);
        }
        break;
    }
    bool anySound = false;
    for (const PullWidgetEntry *e : qAsConst(m_PullWigetVector))
        anySound = anySound || (!e->muted && e->pulling);
    if (!anySound)
        m_videocontainer->setMuteButton(true);
}

void VideoWall::onVideoSetAllMute(bool ismute)
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        e->top->setIcon(ismute ? QStringLiteral(":/rec/resouce/videomute.png")
                               : QStringLiteral(":/rec/resouce/videovoice.png"));
        e->muted = ismute;
        if (m_pAvVistrel)
            m_pAvVistrel->SetPullStreamMute(utf8(e->url), ismute);
    }
}

void VideoWall::onVideoFullscreenEvent(const QString &url)
{
    if (m_PullWigetVector.size() == 1)
        return;
    PullWidgetEntry *target = nullptr;
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->url == url) {
            target = e;
            break;
        }
    }
    if (!target)
        return;
    // The grid's layout, which differs from the table's size when the page
    // added tiles to a layout.
    target->tile->fullScreenVideo(m_pullMainWidget ? m_pullMainWidget->gridCount()
                                                   : m_PullWigetVector.size());
    const bool full = target->tile->isFullScreenTile();
    if (m_pullMainWidget)
        m_pullMainWidget->setFullScreenTile(full);
    widgetTop *top = target->top;
    VideoWidget *tile = target->tile;
    QTimer::singleShot(200, top, [this, top, tile, full] {
        top->resize(tile->width(), top->barHeight() + (full ? 10 : -10));
        top->setMuteIcon(full);
        nudgeContainer();
    });
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e == target)
            continue;
        if (full) {
            e->tile->hide();
            e->top->hide();
            e->bottom->hide();
        } else {
            e->tile->show();
            if (e->pulling) {
                e->top->show();
                e->bottom->show();
            }
        }
    }
}

void VideoWall::placeBars()
{
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector))
        placeEntryBars(e);
}

void VideoWall::speakerStarted()
{
    // Nested speakers keep the states saved by the first one.
    if (m_muteSaved)
        return;
    for (const PullWidgetEntry *e : qAsConst(m_PullWigetVector))
        m_muteSaved = m_muteSaved || e->pulling;
    if (!m_muteSaved)
        return;
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector))
        e->savedMuted = e->muted;
    m_videocontainer->VideoSetAllMute();
}

void VideoWall::speakerStopped()
{
    if (!m_muteSaved)
        return;
    m_muteSaved = false;
    const QVector<PullWidgetEntry *> entries = m_PullWigetVector;
    for (const PullWidgetEntry *e : entries)
        m_videocontainer->videovoiceEventCustom(e->url, e->savedMuted);
}

void VideoWall::onSettabeldata(const QString &videoback, const QString &videomuitscreen)
{
    m_videocontainer->setWindowTitle(videoback);
    m_videocontainer->setTitle(videomuitscreen);
    for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
        if (e->bottom && e->bottom->picker())
            e->bottom->picker()->ChangeComBoxTableData();
    }
}

void VideoWall::endSingleCallStreams()
{
    // The start thread may still be starting them: let it finish first.
    m_thread.wait();
    if (!m_callStreamsRunning)
        return;
    m_callStreamsRunning = false;
    if (m_pAvVistrel) {
        m_pAvVistrel->StopPullRtmpStream(m_callPullUrl.toStdString());
        m_pAvVistrel->StopPushRtmpStream();
    } else {
        qDebug() << "StopVideoSignel faild m_pAvVistrel is null";
    }
}

void VideoWall::onStartVideoSingel(const QString &pushurl, const QString &pullUrl,
                                   const QString &username, int x, int y, int width, int)
{
    if (m_singleCallWindow) {
        // The old call's streams render into the old window: stop them first.
        endSingleCallStreams();
        delete m_singleCallWindow;
        m_singleCallWindow = nullptr;
    }
    auto *w = new videosignalmain(m_mainWindow, this, m_singleTitle ? m_singleTitle() : QString());
    w->buildLayout();
    m_singleCallWindow = w;
    w->pushUrl = pushurl;
    w->pullUrl = pullUrl;
    w->move((width - w->width()) / 2 + x, y);
    w->endButton->hide();
    w->muteButton->hide();
    w->show();

    const QPoint p = w->pullTile->mapToGlobal(QPoint(0, 0));
    w->nameOverlay->move(p);
    w->nameOverlay->setUserName(username);
    w->nameOverlay->setusernamesize(w->pullTile->width() - w->pushTile->width());
    w->nameOverlay->show();

    w->pushTile->show();
    w->pullTile->show();
    w->endButton->show();
    w->muteButton->show();
    w->pushTile->setUpdatesEnabled(false);
    w->pullTile->setUpdatesEnabled(false);
    m_singleCallActive = true;

    connect(w->endButton, &QPushButton::clicked, this, &VideoWall::onSingelCloseClicked);
    connect(w->muteButton, &QPushButton::clicked, this, &VideoWall::onSingelMuteClicked);
    connect(w->pullTile, &VideoWidget::PullWidgetShownormal, w, [w] {
        w->pullTile->raise();
        w->pushTile->raise();
    });
    connect(w->pushTile, &VideoWidget::SwitchPushPull, this, &VideoWall::onSwitchPushPull);
    connect(w, &videosignalmain::videosignalMoveEvent, w,
            [w](int mx, int my) { w->nameOverlay->move(mx, my); });

    // The start thread never touches a widget: it gets handles and URLs now.
    m_callPushHandle = handle(w->pushTile);
    m_callPullHandle = handle(w->pullTile);
    m_callPushUrl = pushurl.toUtf8();
    m_callPullUrl = pullUrl.toUtf8();
    m_callStreamsRunning = true;
    m_thread.start(QThread::InheritPriority);
}

int VideoWall::threadWork()
{
    if (m_pAvVistrel) {
        m_pAvVistrel->StartPushRtmpStream(m_callPushHandle, m_callPushUrl.toStdString());
        m_pAvVistrel->StartPullRtmpStream(m_callPullHandle, m_callPullUrl.toStdString());
    }
    return 0;
}

void VideoWall::onSingelMuteClicked()
{
    videosignalmain *w = m_singleCallWindow;
    if (!w)
        return;
    const std::string url = utf8(w->pullUrl);
    if (w->muted) {
        w->muteButton->setIcon(QIcon(QStringLiteral(":/rec/resouce/Silence.png")));
        if (m_pAvVistrel)
            m_pAvVistrel->SetPullStreamMute(url, false);
        w->muted = false;
    } else {
        w->muteButton->setIcon(QIcon(QStringLiteral(":/rec/resouce/mute.png")));
        if (m_pAvVistrel)
            m_pAvVistrel->SetPullStreamMute(url, true);
        w->muted = true;
    }
}

void VideoWall::onSwitchPushPull()
{
    videosignalmain *w = m_singleCallWindow;
    if (!w)
        return;
    m_thread.wait();
    const std::string url = utf8(w->pullUrl);
    VideoWidget *pushInto = w->swapped ? w->pushTile : w->pullTile;
    VideoWidget *pullInto = w->swapped ? w->pullTile : w->pushTile;
    if (m_pAvVistrel) {
        m_pAvVistrel->UpdatePushVideoRender(handle(pushInto), 0, 0);
        m_pAvVistrel->UpdatePullVideoRender(handle(pullInto), url);
    }
    w->swapped = !w->swapped;
}

void VideoWall::onSingelCloseClicked()
{
    if (!m_singleCallActive) {
        qWarning() << "VideoWall::onSingelCloseClicked: stop ignored, no call active"
                   << m_singleCallActive;
        return;
    }
    m_singleCallActive = false;
    StopVideoSignel();
    if (m_singleCallWindow) {
        m_singleCallWindow->nameOverlay->setUserName(QStringLiteral(" "));
        m_singleCallWindow->nameOverlay->hide();
        m_singleCallWindow->deleteLater();
        m_singleCallWindow = nullptr;
    }
}

void VideoWall::onStopVideoSingel(const QString &pushurl, const QString &pullUrl)
{
    // The page stops a call 2000 ms after asking: by then a newer call may
    // be running, which a stop naming the old call's URLs must leave alone.
    // A stop that names no URLs ends whatever call runs.
    if (m_singleCallWindow && !pushurl.isEmpty() && !pullUrl.isEmpty() &&
        (m_singleCallWindow->pushUrl != pushurl || m_singleCallWindow->pullUrl != pullUrl)) {
        qWarning() << "VideoWall::onStopVideoSingel: stop ignored, the running call is"
                   << m_singleCallWindow->pushUrl << m_singleCallWindow->pullUrl << "not" << pushurl
                   << pullUrl;
        return;
    }
    onSingelCloseClicked();
}

int VideoWall::StopVideoSignel()
{
    if (m_singleCallWindow)
        endSingleCallStreams();
    m_page->CloseVideoSingel();
    return 0;
}

void VideoWall::onStartVideoInformation(const QString &pullUrl, const QString &titel, int red,
                                        int green, int blue, int trans)
{
    // An earlier window ends the one way every window ends.
    closeVideoInformation();
    auto *info = new VideoInformation(nullptr, m_mainWindow);
    m_videoinformation = info;
    info->setTitle(titel);
    info->setBackground(red, green, blue, trans);
    info->show();
    info->topBar()->resize(info->width(), 40);
    const QPoint g = info->mapToGlobal(QPoint(0, 0));
    info->topBar()->move(g.x(), g.y() + 30);
    info->topBar()->show();
    info->setUrl(pullUrl);
    if (m_pAvVistrel) {
        m_pAvVistrel->StartPullRtmpStream(handle(info->surface()), utf8(pullUrl));
        m_pAvVistrel->SetPullStreamMute(utf8(pullUrl), true);
    }
    info->installEventFilter(this);
    connect(info, &VideoInformation::videoInformationCloseEvent, this,
            &VideoWall::closeVideoInformation);
    connect(info, &VideoInformation::videoInformationmuteEvent, this, [this, info](bool ismute) {
        if (m_pAvVistrel)
            m_pAvVistrel->SetPullStreamMute(utf8(info->url()), ismute);
    });
}

void VideoWall::closeVideoInformation()
{
    VideoInformation *info = m_videoinformation.data();
    if (!info)
        return;
    m_videoinformation = nullptr;
    info->removeEventFilter(this);
    m_page->videoinformationstop(info->url());
    if (m_pAvVistrel)
        m_pAvVistrel->StopPullRtmpStream(utf8(info->url()));
    info->close();
}

void VideoWall::placeEntryBars(PullWidgetEntry *e)
{
    const QPoint p = e->tile->mapToGlobal(QPoint(0, 0));
    e->top->move(p);
    e->bottom->move(p.x() + e->tile->width() - e->bottom->width(),
                    p.y() + e->tile->height() - e->bottom->height());
}

bool VideoWall::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize) {
        for (PullWidgetEntry *e : qAsConst(m_PullWigetVector)) {
            if (e->tile == watched) {
                placeEntryBars(e);
                break;
            }
        }
    }
    // A close from the window manager takes the same path as the close button.
    if (event->type() == QEvent::Close && watched == m_videoinformation.data()) {
        VideoInformation *info = m_videoinformation.data();
        m_videoinformation = nullptr;
        info->removeEventFilter(this);
        m_page->videoinformationstop(info->url());
        if (m_pAvVistrel)
            m_pAvVistrel->StopPullRtmpStream(utf8(info->url()));
    }
    return QObject::eventFilter(watched, event);
}
