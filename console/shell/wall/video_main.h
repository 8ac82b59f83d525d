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

    // Lays every tile out in the grid of its count. A count without a layout
    // of its own takes the smallest grid that holds it (over 9, the 9-tile
    // grid: the tiles past the ninth stay hidden and out of the grid).
    void FillVideoMian(const QVector<VideoWidget *> &tiles);
    void setFullScreenTile(bool fullScreen);
    int widgetNum() const;
    // The layout the last fill used: 1, 4, 6, 8 or 9 (0 before any fill).
    int gridCount() const;
    // The tile has a cell of the grid (a tile past the ninth has none).
    bool placed(const VideoWidget *tile) const;

    // The grid that a tile count is laid out in.
    static int gridFor(int count);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    int widget_num = 0;
    int m_gridCount = 0;
    bool m_fullScreenTile = false;
    QGridLayout *m_grid;
};
