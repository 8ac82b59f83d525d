#pragma once

#include <QPoint>
#include <QWidget>

class QLabel;
class QPushButton;
class VideoInformation;

// The surface the information window's stream renders into (native window).
class VideoInformationVideowidget : public QWidget
{
  public:
    explicit VideoInformationVideowidget(QWidget *parent = nullptr);
    WId renderWindow() const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    WId m_render;
};

// The information window's translucent tool bar: mute and full screen.
class VideoInforTopWidget : public QWidget
{
  public:
    explicit VideoInforTopWidget(VideoInformation *owner);
    ~VideoInforTopWidget() override;

    QPushButton *videoSlice;
    QPushButton *videofullscreen;
    bool fullScreen = false;
    bool muted = true;

  private:
    void onMute();
    void onFullScreen();

    VideoInformation *m_owner;
};

// A movable, frameless, modal window playing one stream under a coloured
// title band; deletes itself when closed.
class VideoInformation : public QWidget
{
    Q_OBJECT
  public:
    // mainWindow is the window full screen follows (may be null: the screen).
    explicit VideoInformation(QWidget *parent = nullptr, QWidget *mainWindow = nullptr);
    ~VideoInformation() override;

    void setUrl(const QString &url);
    QString url() const;
    void setBackground(int red, int green, int blue, int trans);
    void setTitle(const QString &title);
    void layoutSurface();
    QRect mainWindowGeometry() const;

    VideoInforTopWidget *topBar() const;
    VideoInformationVideowidget *surface() const;
    QPushButton *closeButton() const;
    QLabel *titleLabel() const;

  signals:
    void videoInformationMoveEvent();
    void videoInformationCloseEvent();
    void videoInformationmuteEvent(bool ismute);

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    void placeTopBar();

    VideoInforTopWidget *m_top;
    VideoInformationVideowidget *m_surface = nullptr;
    QString m_url;
    QLabel *m_label;
    QPushButton *m_close;
    QPoint m_drag;
    int m_red = 76;
    int m_green = 166;
    int m_blue = 74;
    int m_alpha = 255;
    QWidget *m_mainWindow;
};
