#include "video_main.h"

#include "video_widget.h"

#include <QDebug>
#include <QGridLayout>
#include <QPainter>

VideoMain::VideoMain(QWidget *parent) : QWidget(parent), m_grid(new QGridLayout)
{
    setWindowFlags(Qt::CustomizeWindowHint | Qt::FramelessWindowHint);
}

VideoMain::~VideoMain()
{
    if (layout() != m_grid)
        delete m_grid;
}

int VideoMain::widgetNum() const
{
    return widget_num;
}

int VideoMain::gridCount() const
{
    return m_gridCount;
}

bool VideoMain::placed(const VideoWidget *tile) const
{
    return m_grid->indexOf(const_cast<VideoWidget *>(tile)) >= 0;
}

int VideoMain::gridFor(int count)
{
    for (int grid : {1, 4, 6, 8})
        if (count <= grid)
            return grid;
    return 9;
}

namespace
{

// A free tile keeps its cell while hidden, so the tiles that play stay in
// the cells the separator lines draw, whichever tiles are free.
void keepCellWhenHidden(QWidget *tile, bool keep)
{
    QSizePolicy policy = tile->sizePolicy();
    policy.setRetainSizeWhenHidden(keep);
    tile->setSizePolicy(policy);
}

} // namespace

void VideoMain::setFullScreenTile(bool fullScreen)
{
    m_fullScreenTile = fullScreen;
    // The enlarged tile takes the room of the tiles it hides.
    for (int i = 0; i < m_grid->count(); ++i) {
        if (QWidget *tile = m_grid->itemAt(i)->widget())
            keepCellWhenHidden(tile, !fullScreen);
    }
    m_grid->invalidate();
    update();
}

void VideoMain::FillVideoMian(const QVector<VideoWidget *> &tiles)
{
    const int n = tiles.size();
    widget_num = n;
    m_fullScreenTile = false;
    update();
    qDebug() << "FillVideoMian: widget_num: --------------" << n;
    const int W = width();
    const int H = height();
    const int grid = gridFor(n);
    m_gridCount = grid;
    if (grid != n)
        qDebug() << "FillVideoMian:" << n << "tiles in the grid of" << grid;
    if (n > grid)
        qWarning() << "FillVideoMian:" << n << "tiles, the grid holds" << grid
                   << ": the tiles past it stay hidden";
    for (int i = 0; i < n; ++i) {
        VideoWidget *tile = tiles[i];
        // A tile laid out before moves to its new cell.
        m_grid->removeWidget(tile);
        if (i >= grid) {
            tile->hide();
            continue;
        }
        float w = 0;
        float h = 0;
        int row = 0;
        int col = 0;
        Qt::Alignment align = Qt::AlignHCenter;
        switch (grid) {
        case 1:
            w = W / 2;
            h = H;
            align = Qt::Alignment();
            break;
        case 4:
        case 6:
        case 8: {
            const int perRow = grid == 4 ? 2 : grid == 6 ? 3 : 4;
            w = grid == 8 ? float(W / 4.2) : float(W / 4);
            h = H / 2 - 1;
            row = i < perRow ? 0 : 1;
            col = i % perRow;
            align |= row == 0 ? Qt::AlignTop : Qt::AlignBottom;
            break;
        }
        case 9:
            w = float(W / 5.5);
            row = i / 3;
            col = i % 3;
            h = row == 1 ? H / 3 - 2 : H / 3 - 1;
            align |= row == 0 ? Qt::AlignTop : row == 1 ? Qt::AlignVCenter : Qt::AlignBottom;
            break;
        }
        keepCellWhenHidden(tile, true);
        if (grid == 1)
            m_grid->addWidget(tile, row, col);
        else
            m_grid->addWidget(tile, row, col, align);
        tile->setFixedSize(int(w), int(h));
        tile->setVideoSize(w, h);
    }
    if (layout() != m_grid) {
        setLayout(m_grid);
        m_grid->setSpacing(0);
        m_grid->setContentsMargins(0, 0, 0, 0);
    }
    // Place the tiles now: their bars are placed from the tiles' positions
    // before the next turn of the event loop.
    m_grid->activate();
    qDebug() << "FillVideoMian: widget_num: --------------out" << n;
}

void VideoMain::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int W = width();
    const int H = height();
    p.fillRect(rect(), Qt::black);
    if (!m_fullScreenTile) {
        p.setPen(QColor(255, 255, 255, 153));
        const int n = m_gridCount;
        if (n == 4 || n == 6 || n == 8)
            p.drawLine(0, H / 2, W, H / 2);
        if (n == 9) {
            p.drawLine(0, H / 3, W, H / 3);
            p.drawLine(0, 2 * (H / 3), W, 2 * (H / 3));
        }
        const int cols = n == 4 ? 2 : n == 6 || n == 9 ? 3 : n == 8 ? 4 : 1;
        for (int c = 1; c < cols; ++c)
            p.drawLine(c * (W / cols), 0, c * (W / cols), H);
    }
    // The tiles' native windows cover the grid: keep repainting while shown.
    update();
}
