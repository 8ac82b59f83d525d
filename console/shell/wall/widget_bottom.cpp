#include "widget_bottom.h"

#include "table_data.h"
#include "video_container.h"
#include "wall_resources.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace
{

const char *const kListStyle = "QListWidget{border:none;background-color:rgba(0, 0, 0, 178);"
                               "color:#ffffff;outline:0px;}QListWidget::Item:selected{"
                               "background-color:#90DB3D;color:#ffffff;}";
const char *const kPopupStyle = "border-radius:5px;border: 1px solid rgba(255, 255, 255, 255);";
const char *const kTopStyle =
    "QListWidget::Item:selected{background-color:#90DB3D;color:#ffffff;border-top-left-radius:"
    "5px;border-top-right-radius:5px;}QListWidget{border:none;background-color:rgba(0, 0, 0, "
    "178);color:#ffffff;outline:0px;}";
const char *const kBottomStyle =
    "QListWidget::Item:selected{background-color:#90DB3D;color:#ffffff;border-bottom-left-"
    "radius:5px;border-bottom-right-radius:5px;}QListWidget{border:none;background-color:rgba("
    "0, 0, 0, 178);color:#ffffff;outline:0px;}";
const char *const kNoneStyle =
    "QListWidget::Item:selected{background-color:#90DB3D;color:#ffffff;}QListWidget{border:none;"
    "background-color:rgba(0, 0, 0, 178);color:#ffffff;outline:0px;}";

} // namespace

widgetBottom::widgetBottom(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("widgetBottom"));
    resize(385, 30);
    setWindowTitle(QStringLiteral("Form"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    m_picker = new pushcombox(this);
}

widgetBottom::~widgetBottom()
{
    delete m_picker;
}

void widgetBottom::setUrl(const QString &url)
{
    m_url = url;
}

QString widgetBottom::url() const
{
    return m_url;
}

pushcombox *widgetBottom::picker() const
{
    return m_picker;
}

void widgetBottom::resizeEvent(QResizeEvent *)
{
    m_picker->move(0, height() - m_picker->height());
}

pushcombox::pushcombox(widgetBottom *bar) : QPushButton(bar), m_bar(bar)
{
    wallInitResources();
    m_popup = new QWidget(bar);
    m_list = new QListWidget;
    auto *popupLayout = new QVBoxLayout;
    popupLayout->addWidget(m_list);
    popupLayout->setContentsMargins(0, 0, 0, 0);
    m_popup->setLayout(popupLayout);
    resize(84, 32);

    const TableData *labels = TableData::instance();
    m_high = QString::fromUtf8(labels->high.toUtf8());
    m_standard = QString::fromUtf8(labels->standard.toUtf8());
    m_fluent = QString::fromUtf8(labels->fluent.toUtf8());
    m_items = QStringList{m_high, m_standard, m_fluent};
    for (const QString &text : qAsConst(m_items)) {
        auto *item = new QListWidgetItem(text, m_list);
        item->setTextAlignment(Qt::AlignCenter);
    }
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_list->setStyleSheet(QString::fromLatin1(kListStyle));
    m_popup->setStyleSheet(QString::fromLatin1(kPopupStyle));
    setStyleSheet(QStringLiteral("QPushButton{border-radius:5px;border: 1px solid rgba(255, 255, "
                                 "255, 114);background-color:rgba(0, 0, 0, 178);}"));

    connect(m_list, SIGNAL(clicked(QModelIndex)), this, SLOT(on_clicked()));
    connect(m_list, SIGNAL(pressed(QModelIndex)), this, SLOT(on_pressed()));
    connect(this, SIGNAL(clicked(bool)), this, SLOT(on_showPopup()));

    m_text = new QLabel;
    m_text->setStyleSheet(
        QStringLiteral("background-color:transparent;font-size:13px;color:#ffffff;"));
    m_text->setText(m_list->item(0)->text());
    m_text->setFixedSize(30, 20);
    m_text->setAlignment(Qt::AlignTop);
    m_arrow = new QLabel;
    m_arrow->setStyleSheet(QStringLiteral("background-color:transparent;"));
    m_arrow->setPixmap(QPixmap(QStringLiteral(":/rec/resouce/up.png")));
    auto *layout = new QHBoxLayout;
    layout->addSpacing(15);
    layout->addWidget(m_text);
    layout->addSpacing(-2);
    layout->addWidget(m_arrow);
    layout->addStretch();
    setLayout(layout);
    m_popup->hide();
}

pushcombox::~pushcombox()
{
    qDebug() << "~pushcombox";
    delete m_text;
    delete m_arrow;
    delete m_list;
    delete m_popup;
}

QString pushcombox::shownText() const
{
    return m_text->text();
}

QListWidget *pushcombox::list() const
{
    return m_list;
}

QWidget *pushcombox::popup() const
{
    return m_popup;
}

void pushcombox::hideList()
{
    m_popup->hide();
}

void pushcombox::on_showPopup()
{
    if (m_popup->isVisible()) {
        m_popup->hide();
        return;
    }
    const int h = m_list->count() * 26;
    qDebug() << "height show" << h;
    for (int i = 0; i < m_list->count(); ++i)
        m_list->item(i)->setSizeHint(QSize(width(), 26));
    m_popup->resize(width(), h);
    m_popup->move(x(), y() - 5 - h);
    m_popup->show();
}

void pushcombox::applySelectionStyle()
{
    const QListWidgetItem *item = m_list->currentItem();
    const QString text = item ? item->text() : QString();
    if (text == m_high)
        m_list->setStyleSheet(QString::fromLatin1(kTopStyle));
    else if (text == m_fluent)
        m_list->setStyleSheet(QString::fromLatin1(kBottomStyle));
    else
        m_list->setStyleSheet(QString::fromLatin1(kNoneStyle));
}

void pushcombox::on_clicked()
{
    qDebug() << "on_clicked";
    const QListWidgetItem *item = m_list->currentItem();
    const QString text = item ? item->text() : QString();
    m_text->setText(text);
    const QString url = m_bar->url();
    if (text == m_high)
        VideoContainer::instance()->videosizeevent(QStringLiteral("480p"), url);
    else if (text == m_fluent)
        VideoContainer::instance()->videosizeevent(QStringLiteral("240p"), url);
    else
        VideoContainer::instance()->videosizeevent(QStringLiteral("360p"), url);
    applySelectionStyle();
    m_popup->hide();
}

void pushcombox::on_pressed()
{
    qDebug() << "on_pressed";
    applySelectionStyle();
}

void pushcombox::fillItems(const QString &size)
{
    int row = 0;
    if (size == QLatin1String("360p"))
        row = 1;
    else if (size == QLatin1String("240p"))
        row = 2;
    m_text->setText(m_list->item(row)->text());
    m_list->setStyleSheet(QString::fromLatin1(kListStyle));
    m_popup->setStyleSheet(QString::fromLatin1(kPopupStyle));
}

void pushcombox::ChangeComBoxTableData()
{
    const TableData *labels = TableData::instance();
    const QString high = QString::fromUtf8(labels->high.toUtf8());
    const QString standard = QString::fromUtf8(labels->standard.toUtf8());
    const QString fluent = QString::fromUtf8(labels->fluent.toUtf8());
    // A quality shown by fillItems has no current item: the shown text then
    // names it, so it keeps its quality under the new name too.
    const QListWidgetItem *item = m_list->currentItem();
    const QString text = item ? item->text() : m_text->text();
    if (text == m_high)
        m_text->setText(high);
    else if (text == m_standard)
        m_text->setText(standard);
    else if (text == m_fluent)
        m_text->setText(fluent);
    else if (!item)
        m_text->setText(high);
    qDebug() << "ChangeComBoxTableData currentItem data " << text;
    m_high = high;
    m_standard = standard;
    m_fluent = fluent;
    m_items = QStringList{m_high, m_standard, m_fluent};
    for (int i = 0; i < 3; ++i)
        m_list->item(i)->setText(m_items[i]);
}
