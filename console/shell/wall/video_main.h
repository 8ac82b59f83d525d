#pragma once

#include <QVector>
#include <QWidget>

class QGridLayout;
class VideoWidget;

// The wall's grid: lays the tiles out for 1, 4, 6, 8 or 9 channels and
// draws the separator lines between them.
class VideoMain : public QWidget
{
  public:
    explicit VideoMain(QWidget *parent = nullptr);
    ~VideoMain() override;

    void FillVideoMian(const QVector<VideoWidget *> &tiles);
    void setFullScreenTile(bool fullScreen);
    int widgetNum() const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    int widget_num = 0;
    bool m_fullScreenTile = false;
    QGridLayout *m_grid;
};
