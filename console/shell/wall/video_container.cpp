#include "video_container.h"

#include "language_control.h"
#include "toast.h"
#include "wall_resources.h"
#include "wall_scale.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace
{

VideoContainer *s_container = nullptr;

const char *const kMuteStyle = "QPushButton#Slience        {            "
                               "border-image:url(:/rec/resouce/mute.png);        }";
const char *const kSoundStyle = "QPushButton#Slience        {            "
                                "border-image:url(:/rec/resouce/Silence.png);        }";

QString layoutStyle(const QString &name, int n)
{
    return QStringLiteral("QPushButton#%1\n{\n\tborder-image:url(:/rec/resouce/%2_normal.png);\n}"
                          "\nQPushButton#%1:checked\n{\n\tborder-image:url(:/rec/resouce/"
                          "%2_checked.png);\n}")
        .arg(name)
        .arg(n);
}

} // namespace

VideoContainer::VideoContainer(QWidget *parent) : QWidget(parent)
{
    wallInitResources();
    m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
    setObjectName(QStringLiteral("VideoContainer"));
    resize(1000, 600);
    setWindowTitle(QStringLiteral("Form"));

    auto button = [this](const char *name, int x, int y, const QString &style, bool checkable) {
        auto *b = new QPushButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, 48, 48);
        b->setStyleSheet(style);
        b->setCheckable(checkable);
        b->setAutoExclusive(checkable);
        return b;
    };
    ui.Slience = button("Slience", 370, 5,
                        QStringLiteral("QPushButton#Slience\n{\n\tborder-image:url(:/rec/resouce/"
                                       "mute.png);\n\tcolor:white; \n\tbackground-color:"
                                       "transparent;\n}"),
                        false);
    ui.oneChannel = button("oneChannel", 60, 5, layoutStyle("oneChannel", 1), true);
    ui.fourChannel = button("fourChannel", 122, 5, layoutStyle("fourChannel", 4), true);
    ui.recordhistory = button("recordhistory", 432, 5,
                              QStringLiteral("QPushButton#recordhistory\n{\n\tborder-image:url(:/"
                                             "rec/resouce/recordhistory.png);\n}"),
                              false);
    ui.navlable = new QLabel(this);
    ui.navlable->setObjectName(QStringLiteral("navlable"));
    ui.navlable->setGeometry(5, 0, 60, 60);
    QFont font = ui.navlable->font();
    font.setPointSize(10);
    ui.navlable->setFont(font);
    ui.navlable->setLayoutDirection(Qt::LeftToRight);
    ui.navlable->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    ui.navlable->setAlignment(Qt::AlignCenter);
    ui.navlable->setWordWrap(true);
    ui.navlable->setText(QString::fromUtf8("\u5206\u5c4f"));
    ui.sixChannel = button("sixChannel", 184, 5, layoutStyle("sixChannel", 6), true);
    ui.eightChannel = button("eightChannel", 246, 5, layoutStyle("eightChannel", 8), true);
    ui.nineChannel = button("nineChannel", 308, 5, layoutStyle("nineChannel", 9), true);

    setWindowFlags(Qt::Window | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8("\u89c6\u9891\u56de\u4f20"));
    m_toast = new Toast(this);
    m_scale = wallScale();
    setFixedSize(int(1300 * m_scale), int(960 * m_scale));

    const int side = int(48 * m_scale);
    for (QWidget *w :
         {static_cast<QWidget *>(ui.recordhistory), static_cast<QWidget *>(ui.navlable),
          static_cast<QWidget *>(ui.Slience), static_cast<QWidget *>(ui.oneChannel),
          static_cast<QWidget *>(ui.fourChannel), static_cast<QWidget *>(ui.sixChannel),
          static_cast<QWidget *>(ui.eightChannel), static_cast<QWidget *>(ui.nineChannel)}) {
        const QPoint design = w->pos();
        if (auto *b = qobject_cast<QPushButton *>(w)) {
            b->resize(side, side);
            b->setFlat(true);
        } else {
            w->resize(int(w->width() * m_scale), int(w->height() * m_scale));
        }
        w->move(qRound(design.x() * m_scale), qRound(design.y() * m_scale));
    }
    ui.oneChannel->setChecked(true);
    ui.oneChannel->setFocus(Qt::OtherFocusReason);

    connect(ui.recordhistory, &QPushButton::clicked, this,
            [this] { emit videorecordhistorySignal(); });
    connect(ui.Slience, &QPushButton::clicked, this, &VideoContainer::OnvideoSetswitchmute);
    connect(ui.oneChannel, &QPushButton::clicked, this, &VideoContainer::OnOneChannelClickEvent);
    connect(ui.fourChannel, &QPushButton::clicked, this, &VideoContainer::OnFourChannelClickEvent);
    connect(ui.sixChannel, &QPushButton::clicked, this, &VideoContainer::OnSixChannelClickEvent);
    connect(ui.eightChannel, &QPushButton::clicked, this,
            &VideoContainer::OnEightChannelClickEvent);
    connect(ui.nineChannel, &QPushButton::clicked, this, &VideoContainer::OnNineChannelClickEvent);
}

VideoContainer::~VideoContainer()
{
    if (s_container == this)
        s_container = nullptr;
}

VideoContainer *VideoContainer::instance()
{
    if (!s_container)
        s_container = new VideoContainer;
    return s_container;
}

void VideoContainer::setClock(std::function<qint64()> clock)
{
    m_clock = std::move(clock);
}

const VideoContainer::Ui &VideoContainer::form() const
{
    return ui;
}

bool &VideoContainer::playingFlag(int n)
{
    switch (n) {
    case 4:
        return m_fourPlaying;
    case 6:
        return m_sixPlaying;
    case 8:
        return m_eightPlaying;
    case 9:
        return m_ninePlaying;
    default:
        return m_onePlaying;
    }
}

QPushButton *VideoContainer::layoutButton(int n) const
{
    switch (n) {
    case 1:
        return ui.oneChannel;
    case 4:
        return ui.fourChannel;
    case 6:
        return ui.sixChannel;
    case 8:
        return ui.eightChannel;
    case 9:
        return ui.nineChannel;
    default:
        return nullptr;
    }
}

bool VideoContainer::IsOperationBusy()
{
    const qint64 now = m_clock();
    if (now - m_lastSwitchTime >= 3000) {
        m_lastSwitchTime = now;
        return false;
    }
    qDebug() << "IsOperationBusy Channel switch enter old_channel current_channel" << m_oldChannel
             << m_currentChannel;
    if (QPushButton *b = layoutButton(m_oldChannel))
        b->setChecked(true);
    m_toast->showText(LanguageControl::instance()->language() == 1
                          ? QStringLiteral("Frequent operation!")
                          : QString::fromUtf8("\u64cd\u4f5c\u9891\u7e41!"));
    return true;
}

void VideoContainer::switchLayout(int n)
{
    m_currentChannel = n;
    if (IsOperationBusy())
        return;
    qDebug() << "VideoContainer::switchLayout: channels" << n;
    m_oldChannel = m_currentChannel;
    layoutButton(n)->setChecked(true);
    bool &mine = playingFlag(n);
    bool otherPlaying = false;
    for (int other : {1, 4, 6, 8, 9}) {
        if (other != n && playingFlag(other))
            otherPlaying = true;
    }
    if (otherPlaying && !mine) {
        for (int other : {1, 4, 6, 8, 9}) {
            if (other != n)
                playingFlag(other) = false;
        }
        emit StopVideoSignal(QStringList());
    }
    if (!mine) {
        QStringList list;
        for (int i = 0; i < n; ++i)
            list << QString();
        mine = true;
        emit PlayVideoSignal(n, list);
    }
}

void VideoContainer::OnOneChannelClickEvent()
{
    switchLayout(1);
}

void VideoContainer::OnFourChannelClickEvent()
{
    switchLayout(4);
}

void VideoContainer::OnSixChannelClickEvent()
{
    switchLayout(6);
}

void VideoContainer::OnEightChannelClickEvent()
{
    switchLayout(8);
}

void VideoContainer::OnNineChannelClickEvent()
{
    switchLayout(9);
}

void VideoContainer::OnvideoSetswitchmute()
{
    if (m_allMute) {
        ui.Slience->setStyleSheet(QString::fromLatin1(kSoundStyle));
        m_allMute = false;
        emit videoSetallmuteSignal(false);
        return;
    }
    VideoSetAllMute();
}

void VideoContainer::VideoSetAllMute()
{
    m_toast->showText(LanguageControl::instance()->language() == 1
                          ? QStringLiteral("Mute successfully, all videos will be muted")
                          : QString::fromUtf8("\u9759\u97f3\u6210\u529f\uff0c\u6240\u6709\u89c6"
                                              "\u9891\u5c06\u9759\u97f3"));
    ui.Slience->setStyleSheet(QStringLiteral(
        "QPushButton#Slience    {        border-image:url(:/rec/resouce/mute.png);    }"));
    m_allMute = true;
    emit videoSetallmuteSignal(true);
}

void VideoContainer::setMuteButton(bool mute)
{
    ui.Slience->setStyleSheet(QString::fromLatin1(mute ? kMuteStyle : kSoundStyle));
    m_allMute = mute;
}

void VideoContainer::raiseWindow()
{
    activateWindow();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
}

void VideoContainer::setTitle(const QString &text)
{
    ui.navlable->setText(text);
}

void VideoContainer::showAll()
{
    ui.recordhistory->show();
    ui.navlable->show();
    ui.Slience->show();
    ui.oneChannel->show();
    ui.fourChannel->show();
    ui.sixChannel->show();
    ui.eightChannel->show();
    ui.nineChannel->show();
}

void VideoContainer::videocloseEvent(QString url)
{
    qDebug() << "VideoContainer::videocloseEvent" << url;
    emit videocloseEventSignal(url);
}

void VideoContainer::videofullscreenEvent(QString url)
{
    qDebug() << "VideoContainer::videofullscreenEvent" << url;
    emit videofullscreenEventSignal(url);
}

void VideoContainer::videovoiceEvent(QString url)
{
    qDebug() << "VideoContainer::videovoiceEvent" << url;
    emit videovoiceEventSignal(url);
}

void VideoContainer::videosizeevent(QString size, QString url)
{
    qDebug() << "VideoContainer::videosizeevent" << size << url;
    emit videosizeeventSignal(size, url);
}

void VideoContainer::videovoiceEventCustom(QString url, bool mute)
{
    qDebug() << "VideoContainer::videovoiceEventCustom" << url << mute;
    emit videovoiceEventCustomSignal(url, mute);
}

void VideoContainer::closeEvent(QCloseEvent *event)
{
    emit CloseVideoContainerSignal();
    m_lastSwitchTime = 0;
    m_currentChannel = 1;
    m_oldChannel = 1;
    event->accept();
}

void VideoContainer::moveEvent(QMoveEvent *)
{
    emit videoContainerMoveEvent();
}

void VideoContainer::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(QRect(0, 0, width(), int(60 * wallScale())), QColor(32, 31, 31));
}
