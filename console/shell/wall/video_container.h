#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class Toast;

// The video wall window: a band of controls (navigation label, layout
// buttons for 1, 4, 6, 8 and 9 tiles, all-mute, record history) above the
// grid of tiles the main window places inside it. It owns no stream: every
// action becomes a signal, and the tiles' buttons reach the main window
// through its forwarders. One per process.
class VideoContainer : public QWidget
{
    Q_OBJECT
  public:
    // The controls, by their object names.
    struct Ui {
        QPushButton *Slience;
        QPushButton *oneChannel;
        QPushButton *fourChannel;
        QPushButton *recordhistory;
        QLabel *navlable;
        QPushButton *sixChannel;
        QPushButton *eightChannel;
        QPushButton *nineChannel;
    };

    explicit VideoContainer(QWidget *parent = nullptr);
    ~VideoContainer() override;

    // The one container, made on first use without a parent; deleting it
    // clears the instance.
    static VideoContainer *instance();

    // Milliseconds since the epoch; replaceable so the busy guard is testable.
    void setClock(std::function<qint64()> clock);

    bool IsOperationBusy();
    void raiseWindow();
    void setTitle(const QString &text);
    void setMuteButton(bool mute);
    void showAll();

    void videocloseEvent(QString url);
    void videofullscreenEvent(QString url);
    void videovoiceEvent(QString url);
    void videosizeevent(QString size, QString url);
    void videovoiceEventCustom(QString url, bool mute);

    const Ui &form() const;

    bool m_allMute = true;
    bool m_fourPlaying = false;
    bool m_onePlaying = false;
    bool m_sixPlaying = false;
    bool m_eightPlaying = false;
    bool m_ninePlaying = false;
    float m_scale;
    qint64 m_lastSwitchTime = 0;
    Toast *m_toast;
    int m_currentChannel = 1;
    int m_oldChannel = 1;

  signals:
    void PlayVideoSignal(int channelnum, QStringList urllist);
    void StopVideoSignal(QStringList urllist);
    void CloseVideoContainerSignal();
    void videoContainerMoveEvent();
    void videocloseEventSignal(QString url);
    void videofullscreenEventSignal(QString url);
    void videovoiceEventSignal(QString url);
    void videosizeeventSignal(QString size, QString url);
    void videovoiceEventCustomSignal(QString url, bool mute);
    void videoSetallmuteSignal(bool ismute);
    void videorecordhistorySignal();

  public slots:
    void OnOneChannelClickEvent();
    void OnFourChannelClickEvent();
    void OnSixChannelClickEvent();
    void OnEightChannelClickEvent();
    void OnNineChannelClickEvent();
    void OnvideoSetswitchmute();
    void VideoSetAllMute();

  protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    void switchLayout(int n);
    bool &playingFlag(int n);
    QPushButton *layoutButton(int n) const;

    Ui ui;
    std::function<qint64()> m_clock;
};
