#pragma once

#include "video_call_host.h"
#include "video_single.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVector>
#include <functional>

class IAvVistrel;
class VideoContainer;
class VideoInformation;
class VideoMain;
class VideoWidget;
class widgetBottom;
class widgetTop;

// The page statements the wall sends (the page object's push methods).
class WallPage
{
  public:
    virtual ~WallPage() = default;
    virtual void closeStrongPull(const QString &url, bool notStrong) = 0;
    virtual void closevideocontainercb() = 0;
    virtual void CloseVideoSingel() = 0;
    virtual void videoinformationstop(const QString &url) = 0;
    virtual void GetUrllist(int channelnum) = 0;
    virtual void getrecordhistory() = 0;
    virtual void videosizechange(const QString &size, const QString &url) = 0;
};

// One pull window of the wall.
struct PullWidgetEntry {
    VideoWidget *tile = nullptr;
    widgetTop *top = nullptr;
    widgetBottom *bottom = nullptr;
    bool muted = true;
    bool savedMuted = false;
    bool strongPull = false;
    int index = 0;
    bool pulling = false;
    QString url;
    QString userName;
    QString size;
};

// Drives every video window through the live-video instance: the wall's
// pull windows, the single video call and the video-information window.
// Lives on the GUI thread; the instance may be null, and then every call to
// it is skipped.
class VideoWall : public QObject, public VideoCallHost
{
    Q_OBJECT
  public:
    // mainWindow parents the single-call window and sizes the information
    // window's full screen; the container, page and instance are not owned.
    VideoWall(QWidget *mainWindow, VideoContainer *container, WallPage *page, IAvVistrel *instance,
              QObject *parent = nullptr);
    ~VideoWall() override;

    void setInstance(IAvVistrel *instance);
    // For the main window's teardown: waits until the single call's start
    // thread is done, and stops the call's push and pull if they run.
    void waitCallThread();
    void stopSingleCallStreams();
    // The "/videosingle/titel" setting, read when a call window is made.
    void setSingleTitleReader(std::function<QString()> reader);
    // Wires the container's signals to the handlers below.
    void connectContainer();

    // Page requests.
    void onStartUpVideo(int x, int y, int width, int heigh);
    // The page object's URL lists: taken (copied, then emptied) by the handler.
    void onStartPullStream(int channelnum, QStringList &urllist);
    void onStopPullStream(QStringList &urllist);
    void onStartVideoSingel(const QString &pushurl, const QString &pullUrl, const QString &username,
                            int x, int y, int width, int heigh);
    void onStopVideoSingel(const QString &pushurl, const QString &pullUrl);
    void onStartVideoInformation(const QString &pullUrl, const QString &titel, int red, int green,
                                 int blue, int trans);
    void closeVideoInformation();
    void onSettabeldata(const QString &videoback, const QString &videomuitscreen);

    // Engine events: a speaker started or stopped.
    void speakerStarted();
    void speakerStopped();

    // Wall operations.
    void InitVideoWidget(int channelnum, const QStringList &urllist);
    void UnInitVideoWidget();
    int openvideowidget();
    int openwidgetindex(const QString &url, bool isStrongPull, const QString &username,
                        const QString &size);
    int closevideowidget(const QStringList &urllist);
    int closewidgetindex(const QString &url);
    int closewidgetindexnocb(const QString &url);
    void onCloseVideoContainer();
    void onPlayVideo(int channelnum, const QStringList &urllist);
    void onStopVideo(const QStringList &urllist);
    void onVideoVoiceEvent(const QString &url);
    void onVideoVoiceEventCustom(const QString &url, bool mute);
    void onVideoSetAllMute(bool ismute);
    void onVideoFullscreenEvent(const QString &url);
    void placeBars();

    // The single call.
    void onSingelMuteClicked();
    void onSwitchPushPull();
    void onSingelCloseClicked();
    int StopVideoSignel() override;
    int threadWork() override;

    const QVector<PullWidgetEntry *> &entries() const;
    VideoMain *pullMainWidget() const;
    videosignalmain *singleCallWindow() const;
    bool singleCallActive() const;
    VideoInformation *videoInformation() const;
    int activePullCount() const;
    bool muteSaved() const;

  private:
    void nudgeContainer();
    // The entry's tile has a cell of the grid.
    bool inGrid(const PullWidgetEntry *e) const;
    void placeEntryBars(PullWidgetEntry *e);
    void closeEntry(PullWidgetEntry *e, bool tellPage);
    void endSingleCallStreams();
    bool eventFilter(QObject *watched, QEvent *event) override;

    QWidget *m_mainWindow;
    VideoContainer *m_videocontainer;
    WallPage *m_page;
    IAvVistrel *m_pAvVistrel;
    std::function<QString()> m_singleTitle;
    VideoMain *m_pullMainWidget = nullptr;
    QVector<PullWidgetEntry *> m_PullWigetVector;
    int m_activePullCount = 0;
    bool m_muteSaved = false;

    videosignalmain *m_singleCallWindow = nullptr;
    bool m_singleCallActive = false;
    bool m_callStreamsRunning = false;
    // What the start thread uses, taken by value before it starts.
    quintptr m_callPushHandle = 0;
    quintptr m_callPullHandle = 0;
    QByteArray m_callPushUrl;
    QByteArray m_callPullUrl;
    Mythread m_thread;

    QPointer<VideoInformation> m_videoinformation;
};
