#include "video_single.h"

#include "video_call_host.h"
#include "video_widget.h"
#include "wall_resources.h"
#include "wall_scale.h"

#include <QCloseEvent>
#include <QDebug>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

videosingelTopwidget::videosingelTopwidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("videosingelTopwidget"));
    resize(400, 300);
    setWindowTitle(QStringLiteral("Form"));
    m_username = new QLabel(this);
    m_username->setObjectName(QStringLiteral("username"));
    m_username->setGeometry(0, 0, 220, 20);
    m_username->setFont(QFont(QStringLiteral("Arial"), 11));
    m_username->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    m_username->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_scale = wallScale();
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
}

videosingelTopwidget::~videosingelTopwidget()
{
    qDebug() << "~videosingelTopwidget";
}

void videosingelTopwidget::setUserName(const QString &name)
{
    m_username->setText(name);
}

QString videosingelTopwidget::userName() const
{
    return m_username->text();
}

void videosingelTopwidget::setusernamesize(int width)
{
    qDebug() << "setusernamesize width" << width;
    m_username->resize(width, m_username->height());
    resize(m_username->size());
}

videosignalmain::videosignalmain(QWidget *parent, VideoCallHost *owner,
                                 const QString &configuredTitle)
    : QWidget(parent), m_owner(owner)
{
    wallInitResources();
    setWindowFlags(Qt::Window | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);
    m_scale = wallScale();
    qDebug() << "videosignalmain::getSale"
             << "deskRect.width()" << QGuiApplication::primaryScreen()->availableGeometry().width();
    setFixedSize(int(450 * m_scale), int(800 * m_scale));
    setWindowTitle(configuredTitle.isNull() ? QString::fromUtf8("\u89c6\u9891\u5355\u547c")
                                            : configuredTitle);
    pushTile = new VideoWidget(this, false);
    pushTile->setWallTile(false);
    pushTile->setSwap(true);
    pullTile = new VideoWidget(this, true);
    nameOverlay = new videosingelTopwidget(this);
    auto button = [this](const char *icon) {
        auto *b = new QPushButton(this);
        b->setIcon(QIcon(QString::fromLatin1(icon)));
        b->setIconSize(QSize(90, 35));
        b->setStyleSheet(QStringLiteral("QPushButton{background-color:transparent;}"));
        b->setFlat(true);
        return b;
    };
    endButton = button(":/rec/resouce/meetingEnd.png");
    muteButton = button(":/rec/resouce/Silence.png");
}

videosignalmain::~videosignalmain()
{
    qDebug() << "~videosignalmain";
    delete pushTile;
    delete pullTile;
    delete nameOverlay;
    // The layouts belong to the window once installed; Qt deletes them.
}

void videosignalmain::buildLayout()
{
    if (m_vertical)
        return;
    m_grid = new QGridLayout;
    m_grid->addWidget(pullTile, 0, 0);
    pullTile->resize(width(), height());
    pushTile->move(width() - int(162 * m_scale), 0);
    pushTile->resize(int(162 * m_scale), int(125 * m_scale));
    pushTile->raise();
    m_horizontal = new QHBoxLayout;
    m_horizontal->addWidget(muteButton);
    m_horizontal->addWidget(endButton);
    m_vertical = new QVBoxLayout;
    m_vertical->addLayout(m_grid);
    m_vertical->addLayout(m_horizontal);
    setLayout(m_vertical);
    m_vertical->setSpacing(0);
    m_vertical->setContentsMargins(0, 0, 0, 0);
    endButton->setFocusPolicy(Qt::NoFocus);
    muteButton->setFocusPolicy(Qt::NoFocus);
}

void videosignalmain::closeEvent(QCloseEvent *event)
{
    qDebug() << "enter videosignalmain::closeEvent";
    nameOverlay->hide();
    nameOverlay->setUserName(QStringLiteral(" "));
    if (m_owner)
        m_owner->StopVideoSignel();
    event->accept();
}

void videosignalmain::moveEvent(QMoveEvent *)
{
    const QPoint p = pullTile->mapToGlobal(QPoint(0, 0));
    emit videosignalMoveEvent(p.x(), p.y());
}

void videosignalmain::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(70, 104, 118));
}

void Mythread::setOwner(VideoCallHost *owner)
{
    m_owner = owner;
}

void Mythread::run()
{
    if (m_owner)
        m_owner->threadWork();
}
