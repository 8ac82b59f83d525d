#pragma once

#include <QWidget>

class widgetTop;

// One video tile: a frameless native child window whose X11 window id is the
// render target of a stream. A wall tile asks for full screen on a left
// double click; the single call's push tile asks for a push/pull swap.
class VideoWidget : public QWidget
{
    Q_OBJECT
  public:
    VideoWidget(QWidget *parent, bool singlePull);

    WId renderWindow() const;
    void setTopBar(widgetTop *top);
    widgetTop *topBar() const;
    void setVideoSize(float width, float height);
    void fullScreenVideo(int channelnum);
    bool isFullScreenTile() const;

    // The stream URL a left double click reports (" " until set).
    void setUrl(const QString &url);
    QString url() const;
    void setWallTile(bool wall);
    void setSwap(bool swap);

    bool isSingelPull;

  signals:
    void PullWidgetShownormal();
    void SwitchPushPull();

  protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    bool m_fullScreen = false;
    widgetTop *m_top = nullptr;
    bool m_wallTile = true;
    bool m_swap = false;
    QString m_url = QStringLiteral(" ");
    float m_videoWidth = 0;
    float m_videoHeight = 0;
    WId m_render;
};
