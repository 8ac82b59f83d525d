#include "widget_top.h"

#include "video_container.h"
#include "wall_resources.h"
#include "wall_scale.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

widgetTop::widgetTop(QWidget *parent) : QWidget(parent)
{
    wallInitResources();
    setObjectName(QStringLiteral("widgetTop"));
    resize(640, 225);
    setWindowTitle(QStringLiteral("Form"));
    auto *layout = new QHBoxLayout;
    layout->setObjectName(QStringLiteral("buttonhlayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    nameLabel = new QLabel(this);
    nameLabel->setObjectName(QStringLiteral("name"));
    nameLabel->setFont(QFont(QStringLiteral("Arial"), 11));
    nameLabel->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    nameLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    nameLabel->setWordWrap(false);
    layout->addWidget(nameLabel, 1);
    auto button = [this, layout](const char *name) {
        auto *b = new QPushButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setStyleSheet(QStringLiteral("QPushButton{background: transparent;}"));
        layout->addWidget(b);
        return b;
    };
    fullscreen = button("fullscreen");
    slience = button("slience");
    close = button("close");

    m_scale = wallScale();
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setIcon(QStringLiteral(":/rec/resouce/videomute.png"));
    close->setIcon(QIcon(QStringLiteral(":/rec/resouce/X.png")));
    fullscreen->setIcon(QIcon(QStringLiteral(":/rec/resouce/fullscreen.png")));
    sizeButtons(int(28 * m_scale));
    setLayout(layout);
    resize(width(), slience->height());

    connect(slience, &QPushButton::clicked, this, [this] {
        qDebug() << "ui->slience clicked";
        VideoContainer::instance()->videovoiceEvent(m_url);
    });
    connect(close, &QPushButton::clicked, this,
            [this] { VideoContainer::instance()->videocloseEvent(m_url); });
    connect(fullscreen, &QPushButton::clicked, this, [this] {
        qDebug() << "ui->fullscreen clicked";
        VideoContainer::instance()->videofullscreenEvent(m_url);
    });
}

void widgetTop::sizeButtons(int side)
{
    for (QPushButton *b : {fullscreen, slience, close}) {
        b->setFixedSize(side, side);
        b->setIconSize(QSize(side, side));
    }
}

int widgetTop::barHeight() const
{
    return close->height();
}

void widgetTop::setMuteIcon(bool fullScreen)
{
    setIcon(QStringLiteral(":/rec/resouce/videomute.png"));
    close->setIcon(QIcon(QStringLiteral(":/rec/resouce/X.png")));
    fullscreen->setIcon(QIcon(fullScreen ? QStringLiteral(":/rec/resouce/fullscreen_checkd.png")
                                         : QStringLiteral(":/rec/resouce/fullscreen.png")));
    sizeButtons(int((fullScreen ? 38 : 28) * m_scale));
}

void widgetTop::setIcon(const QString &path)
{
    m_icon = path;
    slience->setIcon(QIcon(path));
}

QString widgetTop::iconPath() const
{
    return m_icon;
}

void widgetTop::setName(const QString &name, int width)
{
    nameLabel->setText(nameLabel->fontMetrics().elidedText(name, Qt::ElideRight, width - 120));
}

QString widgetTop::name() const
{
    return nameLabel->text();
}

void widgetTop::setUrl(const QString &url)
{
    m_url = url;
}

QString widgetTop::url() const
{
    return m_url;
}

void widgetTop::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(69, 69, 69, 60));
}
