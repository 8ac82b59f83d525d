#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;

// The translucent bar over a tile's top edge: name, full-screen, mute and
// close buttons. A frameless tool window the main window keeps in place.
class widgetTop : public QWidget
{
  public:
    explicit widgetTop(QWidget *parent = nullptr);

    int barHeight() const;
    void setMuteIcon(bool fullScreen);
    void setIcon(const QString &path);
    void setName(const QString &name, int width);
    void setUrl(const QString &url);
    QString url() const;
    QString iconPath() const;
    QString name() const;

    QLabel *nameLabel;
    QPushButton *fullscreen;
    QPushButton *slience;
    QPushButton *close;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    void sizeButtons(int side);

    float m_scale;
    QString m_url;
    QString m_icon;
};
