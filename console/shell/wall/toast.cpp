#include "toast.h"

#include <QDebug>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QTimer>

Toast::Toast(QWidget *parent) : QWidget(parent)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("ToastClass"));
    resize(170, 52);
    setMinimumHeight(52);
    setMaximumHeight(52);
    m_layout = new QGridLayout(this);
    m_layout->setObjectName(QStringLiteral("gridLayout"));
    m_layout->setSpacing(0);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setStyleSheet(QStringLiteral("background-color: rgba(0,0,0,0.80);\n"
                                          "border-radius: 26px;\n"
                                          "color: #FFFFFF;\n"
                                          "font-family: microsoft yahei;\n"
                                          "font-size: 16px;\n"
                                          "padding-left:25px;\n"
                                          "padding-right:25px;"));
    m_label->setAlignment(Qt::AlignCenter);
    m_layout->addWidget(m_label, 0, 0);
    setWindowTitle(QStringLiteral("Toast"));
    m_label->setText(QStringLiteral("TextLabel"));

    setWindowFlags(windowFlags() | Qt::Tool | Qt::FramelessWindowHint);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_TranslucentBackground);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &Toast::stopAnimation);
    hide();
}

Toast::~Toast()
{
    if (m_timer->isActive()) {
        m_timer->stop();
        m_timer->disconnect(this);
        delete m_timer;
    }
}

QString Toast::text() const
{
    return m_label->text();
}

void Toast::showText(const QString &text)
{
    stopAnimation();
    m_label->setText(text);
    adjustSize();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    move((screen.width() - width()) / 2, screen.height() * 7 / 10);
    show();
    m_timer->start(1000);
}

void Toast::stopAnimation()
{
    qDebug() << "Toast::stopAnimation: enter stopAnimation";
    if (m_timer->isActive())
        m_timer->stop();
    hide();
}

void Toast::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.fillRect(rect(), QColor(255, 255, 255, 0));
}
