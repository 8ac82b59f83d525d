#include "video_information.h"

#include "wall_resources.h"

#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QVBoxLayout>

VideoInformationVideowidget::VideoInformationVideowidget(QWidget *parent) : QWidget(parent)
{
    m_render = winId();
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
    resize(200, 200);
    setAutoFillBackground(true);
    setUpdatesEnabled(false);
}

WId VideoInformationVideowidget::renderWindow() const
{
    return m_render;
}

void VideoInformationVideowidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}

VideoInforTopWidget::VideoInforTopWidget(VideoInformation *owner) : QWidget(owner), m_owner(owner)
{
    wallInitResources();
    setObjectName(QStringLiteral("VideoInforTopWidget"));
    resize(471, 288);
    setLayoutDirection(Qt::LeftToRight);
    setAutoFillBackground(true);
    setWindowTitle(QStringLiteral("Form"));
    auto *layout = new QHBoxLayout;
    layout->setObjectName(QStringLiteral("horizontalLayout"));
    layout->setSpacing(5);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    videoSlice = new QPushButton(this);
    videoSlice->setObjectName(QStringLiteral("videoSlice"));
    videoSlice->setFixedSize(30, 30);
    videoSlice->setStyleSheet(QStringLiteral("QPushButton#videoSlice\n{\n\tborder-image:url(:/rec/"
                                             "resouce/audio_off.png);\n\tbackground-color:"
                                             "transparent;\n}"));
    layout->addWidget(videoSlice);
    videofullscreen = new QPushButton(this);
    videofullscreen->setObjectName(QStringLiteral("videofullscreen"));
    videofullscreen->setFixedSize(28, 28);
    videofullscreen->setLayoutDirection(Qt::LeftToRight);
    videofullscreen->setAutoFillBackground(false);
    videofullscreen->setStyleSheet(QStringLiteral("QPushButton#videofullscreen\n{\n\tborder-image:"
                                                  "url(:/rec/resouce/FS.png);\n\tbackground-"
                                                  "color:transparent;\n}"));
    videofullscreen->setIconSize(QSize(16, 16));
    layout->addWidget(videofullscreen);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setLayout(layout);
    connect(videoSlice, &QPushButton::clicked, this, [this] { onMute(); });
    connect(videofullscreen, &QPushButton::clicked, this, [this] { onFullScreen(); });
}

VideoInforTopWidget::~VideoInforTopWidget()
{
    qDebug() << "~VideoInforTopWidget";
}

void VideoInforTopWidget::onMute()
{
    if (muted) {
        muted = false;
        videoSlice->setStyleSheet(
            QStringLiteral("QPushButton#videoSlice{border-image:url(:/rec/resouce/audio_on.png);"
                           "background-color:transparent;}"));
    } else {
        muted = true;
        videoSlice->setStyleSheet(
            QStringLiteral("QPushButton#videoSlice{border-image:url(:/rec/resouce/audio_off.png);"
                           "background-color:transparent;}"));
    }
    emit m_owner->videoInformationmuteEvent(muted);
}

void VideoInforTopWidget::onFullScreen()
{
    const QRect main = m_owner->mainWindowGeometry();
    const QPoint p = main.topLeft();
    const QSize s = main.size();
    qDebug() << "point size" << p << s;
    if (fullScreen) {
        m_owner->move(p.x() - 250 + s.width() / 2, p.y() - 225 + s.height() / 2);
        m_owner->resize(500, 450);
        fullScreen = false;
    } else {
        m_owner->move(p);
        m_owner->resize(s);
        fullScreen = true;
    }
    m_owner->layoutSurface();
}

VideoInformation::VideoInformation(QWidget *parent, QWidget *mainWindow)
    : QWidget(parent), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("VideoInformation"));
    resize(500, 450);
    setWindowTitle(QStringLiteral("Form"));
    auto *vertical = new QVBoxLayout;
    vertical->setObjectName(QStringLiteral("verticalLayout_2"));
    vertical->setSpacing(0);
    vertical->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    row->setObjectName(QStringLiteral("horizontalLayout"));
    row->setSpacing(0);
    QMargins margins = row->contentsMargins();
    margins.setRight(5);
    row->setContentsMargins(margins);
    row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    QFont font = m_label->font();
    font.setPointSize(16);
    font.setWeight(75);
    m_label->setFont(font);
    m_label->setStyleSheet(QStringLiteral("QLabel{\n\tcolor:#FFFFFF;\n}"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setText(QString::fromUtf8("\u89c6\u9891\u8be6\u60c5"));
    row->addWidget(m_label);
    row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_close = new QPushButton(this);
    m_close->setObjectName(QStringLiteral("closeBt"));
    m_close->setMaximumSize(40, 30);
    m_close->setStyleSheet(QStringLiteral("QPushButton#closeBt\n{\n\tborder-image:url(:/rec/"
                                          "resouce/X.png);\n\tbackground-color:transparent;\n}"));
    row->addWidget(m_close);
    row->setStretch(0, 7);
    row->setStretch(1, 1);
    row->setStretch(2, 6);
    vertical->addLayout(row);
    vertical->addItem(new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding));
    vertical->setStretch(0, 1);
    vertical->setStretch(1, 14);

    m_top = new VideoInforTopWidget(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_DeleteOnClose);
    m_surface = new VideoInformationVideowidget(this);
    setLayout(vertical);
    connect(m_close, &QPushButton::clicked, this, [this] { emit videoInformationCloseEvent(); });
    resize(500, 450);
    m_surface->resize(320, 420);
    m_surface->move(90, 30);
    m_surface->show();
}

VideoInformation::~VideoInformation()
{
    qDebug() << "~VideoInformation";
    delete m_top;
}

void VideoInformation::setUrl(const QString &url)
{
    m_url = url;
}

QString VideoInformation::url() const
{
    return m_url;
}

void VideoInformation::setBackground(int red, int green, int blue, int trans)
{
    m_red = red;
    m_green = green;
    m_blue = blue;
    m_alpha = trans;
    update();
}

void VideoInformation::setTitle(const QString &title)
{
    m_label->setText(title);
}

VideoInforTopWidget *VideoInformation::topBar() const
{
    return m_top;
}

VideoInformationVideowidget *VideoInformation::surface() const
{
    return m_surface;
}

QPushButton *VideoInformation::closeButton() const
{
    return m_close;
}

QLabel *VideoInformation::titleLabel() const
{
    return m_label;
}

QRect VideoInformation::mainWindowGeometry() const
{
    if (m_mainWindow)
        return QRect(m_mainWindow->mapToGlobal(QPoint(0, 0)), m_mainWindow->size());
    return QGuiApplication::primaryScreen()->geometry();
}

void VideoInformation::layoutSurface()
{
    if (!m_surface)
        return;
    const int h = height() - 30;
    const int w = int(h / 1.3);
    m_surface->resize(w, h);
    m_surface->move(width() / 2 - w / 2, 30);
}

void VideoInformation::mousePressEvent(QMouseEvent *event)
{
    if (event->buttons() == Qt::LeftButton)
        m_drag = event->pos();
}

void VideoInformation::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->pos();
    if (event->buttons() == Qt::LeftButton && pos.x() >= 0 && pos.y() >= 0 && pos.y() < 51)
        move(this->pos() + (pos - m_drag));
}

void VideoInformation::placeTopBar()
{
    m_top->move(mapToGlobal(QPoint(0, 0)) + QPoint(0, 30));
}

void VideoInformation::moveEvent(QMoveEvent *)
{
    placeTopBar();
}

void VideoInformation::resizeEvent(QResizeEvent *)
{
    m_top->resize(width(), 40);
    placeTopBar();
}

void VideoInformation::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    p.fillRect(QRect(0, 0, width(), 30), QColor(m_red, m_green, m_blue, m_alpha));
}
