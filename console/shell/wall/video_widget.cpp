#include "video_widget.h"

#include "video_container.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>

VideoWidget::VideoWidget(QWidget *parent, bool singlePull)
    : QWidget(parent), isSingelPull(singlePull)
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    resize(200, 200);
    setAutoFillBackground(true);
    setUpdatesEnabled(true);
    hide();
    m_render = winId();
}

WId VideoWidget::renderWindow() const
{
    return m_render;
}

void VideoWidget::setTopBar(widgetTop *top)
{
    m_top = top;
}

widgetTop *VideoWidget::topBar() const
{
    return m_top;
}

void VideoWidget::setVideoSize(float width, float height)
{
    m_videoWidth = width;
    m_videoHeight = height;
}

bool VideoWidget::isFullScreenTile() const
{
    return m_fullScreen;
}

void VideoWidget::setUrl(const QString &url)
{
    m_url = url;
}

QString VideoWidget::url() const
{
    return m_url;
}

void VideoWidget::setWallTile(bool wall)
{
    m_wallTile = wall;
}

void VideoWidget::setSwap(bool swap)
{
    m_swap = swap;
}

void VideoWidget::fullScreenVideo(int channelnum)
{
    if (!m_fullScreen) {
        setUpdatesEnabled(true);
        double w = m_videoWidth;
        double h = m_videoHeight;
        if (channelnum == 4 || channelnum == 6) {
            w = 2 * m_videoWidth;
            h = 2 * m_videoHeight;
        } else if (channelnum == 8) {
            w = m_videoWidth * 2.1;
            h = 2 * m_videoHeight;
        } else if (channelnum == 9) {
            w = m_videoWidth * 2.5;
            h = 3 * m_videoHeight;
        }
        setMinimumSize(0, 0);
        setMaximumSize(int(w), int(h));
        setFixedSize(int(w), int(h));
        show();
        m_fullScreen = true;
        return;
    }
    setUpdatesEnabled(false);
    setFixedSize(int(m_videoWidth), int(m_videoHeight));
    show();
    if (isSingelPull) {
        qDebug() << "isSingelPull ";
        emit PullWidgetShownormal();
    }
    m_fullScreen = false;
}

void VideoWidget::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_swap && !m_wallTile)
        emit SwitchPushPull();
    if (m_wallTile) {
        qDebug() << "VideoWidget::mouseDoubleClickEvent" << event->button();
        if (event->button() == Qt::LeftButton)
            VideoContainer::instance()->videofullscreenEvent(m_url);
        QWidget::mouseDoubleClickEvent(event);
    }
}

void VideoWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}
