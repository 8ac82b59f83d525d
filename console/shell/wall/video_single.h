#pragma once

#include <QThread>
#include <QWidget>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;
class VideoCallHost;
class VideoWidget;

// The translucent overlay with the far party's name over the pull tile.
class videosingelTopwidget : public QWidget
{
  public:
    explicit videosingelTopwidget(QWidget *parent = nullptr);
    ~videosingelTopwidget() override;
    void setUserName(const QString &name);
    QString userName() const;
    void setusernamesize(int width);

  private:
    QLabel *m_username;
    float m_scale;
};

// The single video call window: the pulled stream fills it, the own pushed
// stream sits small in its top right corner, mute and end buttons below.
class videosignalmain : public QWidget
{
    Q_OBJECT
  public:
    // owner runs the call and is also the parent; configuredTitle is the
    // "/videosingle/titel" setting (null when missing).
    videosignalmain(QWidget *parent, VideoCallHost *owner, const QString &configuredTitle);
    ~videosignalmain() override;

    void buildLayout();

    QPushButton *endButton;
    QPushButton *muteButton;
    VideoWidget *pushTile;
    VideoWidget *pullTile;
    videosingelTopwidget *nameOverlay;
    QString pushUrl;
    QString pullUrl;
    bool muted = false;
    bool swapped = false; // the push stream renders in the pull tile

  signals:
    void ExitVideoSignelSignal();
    void videosignalMoveEvent(int x, int y);

  protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    QGridLayout *m_grid = nullptr;
    QVBoxLayout *m_vertical = nullptr;
    QHBoxLayout *m_horizontal = nullptr;
    float m_scale;
    VideoCallHost *m_owner;
};

// Starts the single call's streams off the GUI thread.
class Mythread : public QThread
{
  public:
    void setOwner(VideoCallHost *owner);

  protected:
    void run() override;

  private:
    VideoCallHost *m_owner = nullptr;
};
