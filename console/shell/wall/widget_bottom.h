#pragma once

#include <QPushButton>
#include <QStringList>
#include <QWidget>

class QLabel;
class QListWidget;
class pushcombox;

// The translucent bar at a tile's bottom-right corner that carries the
// quality picker. A frameless tool window the main window keeps in place.
class widgetBottom : public QWidget
{
  public:
    explicit widgetBottom(QWidget *parent = nullptr);
    ~widgetBottom() override;

    void setUrl(const QString &url);
    QString url() const;
    pushcombox *picker() const;

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    QString m_url;
    pushcombox *m_picker;
};

// The quality picker: shows the chosen quality and opens a list of the
// three labels right above itself.
class pushcombox : public QPushButton
{
    Q_OBJECT
  public:
    explicit pushcombox(widgetBottom *bar);
    ~pushcombox() override;

    void hideList();
    void fillItems(const QString &size);
    void ChangeComBoxTableData();

    QString shownText() const;
    QListWidget *list() const;
    QWidget *popup() const;

  public slots:
    void on_clicked();
    void on_pressed();
    void on_showPopup();

  private:
    void applySelectionStyle();

    widgetBottom *m_bar;
    QString m_high;
    QString m_standard;
    QString m_fluent;
    QStringList m_items;
    QListWidget *m_list;
    QWidget *m_popup;
    QLabel *m_text;
    QLabel *m_arrow;
};
