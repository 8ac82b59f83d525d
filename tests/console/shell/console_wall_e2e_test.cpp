// The video wall as a dispatcher sees it: the console program on its own X
// server, the test page opening the wall and answering each layout with its
// streams, nginx's RTMP module and an ffmpeg test stream. What is checked is
// what the X server shows: where each tile window is and what it holds.
#include "console_run.h"
#include "live_rtmp.h"
#include "test_support.h"

#include <QDir>
#include <QImage>
#include <QRect>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

using webtest::ConsoleRun;
using webtest::k_time_scale;
using webtest::spin_until;

namespace
{

// The colour the test stream shows, and the wall window's title.
const char *const k_colour = "0x2090e0";
const QColor k_picture(0x20, 0x90, 0xe0);
const char *const k_wall_title = "\u89c6\u9891\u56de\u4f20";

struct XWindow {
    xcb_window_t id = 0;
    QRect rect;   // in its parent
    QRect screen; // on the screen
    bool mapped = false;
};

// A client of the test's X server: the window tree, the screen's pixels and
// the pointer (through the XTEST extension, as a user's hand).
class XClient
{
  public:
    explicit XClient(const QString &display)
    {
        m_c = xcb_connect(display.toLatin1().constData(), nullptr);
        if (m_c != nullptr && !xcb_connection_has_error(m_c))
            m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
    }
    ~XClient()
    {
        xcb_disconnect(m_c);
    }
    XClient(const XClient &) = delete;
    XClient &operator=(const XClient &) = delete;

    bool ok() const
    {
        return m_root != 0;
    }

    QList<XWindow> children(xcb_window_t parent) const
    {
        QList<XWindow> out;
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(m_c, xcb_query_tree(m_c, parent), nullptr);
        if (tree == nullptr)
            return out;
        const xcb_window_t *ids = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); i++) {
            XWindow w;
            w.id = ids[i];
            xcb_get_geometry_reply_t *g =
                xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, w.id), nullptr);
            xcb_get_window_attributes_reply_t *a =
                xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, w.id), nullptr);
            xcb_translate_coordinates_reply_t *t = xcb_translate_coordinates_reply(
                m_c, xcb_translate_coordinates(m_c, w.id, m_root, 0, 0), nullptr);
            if (g != nullptr && a != nullptr && t != nullptr) {
                w.rect = QRect(g->x, g->y, g->width, g->height);
                w.screen = QRect(t->dst_x, t->dst_y, g->width, g->height);
                w.mapped = a->map_state == XCB_MAP_STATE_VIEWABLE;
                out.append(w);
            }
            free(g);
            free(a);
            free(t);
        }
        free(tree);
        return out;
    }

    // The mapped top-level window with this title (0: none).
    xcb_window_t topLevel(const QString &title) const
    {
        const xcb_atom_t utf8 = atom("UTF8_STRING");
        const xcb_atom_t name = atom("_NET_WM_NAME");
        for (const XWindow &w : children(m_root)) {
            if (!w.mapped)
                continue;
            xcb_get_property_reply_t *r = xcb_get_property_reply(
                m_c, xcb_get_property(m_c, 0, w.id, name, utf8, 0, 1024), nullptr);
            QString text;
            if (r != nullptr)
                text = QString::fromUtf8(static_cast<const char *>(xcb_get_property_value(r)),
                                         xcb_get_property_value_length(r));
            free(r);
            if (text == title)
                return w.id;
        }
        return 0;
    }

    // What the screen shows in rect.
    QImage grab(const QRect &rect) const
    {
        xcb_get_image_reply_t *r = xcb_get_image_reply(
            m_c,
            xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root, (int16_t)rect.x(),
                          (int16_t)rect.y(), (uint16_t)rect.width(), (uint16_t)rect.height(), ~0u),
            nullptr);
        if (r == nullptr)
            return QImage();
        QImage out;
        // Xvfb's 24-bit screen: four bytes a pixel.
        if (xcb_get_image_data_length(r) == rect.width() * rect.height() * 4)
            out = QImage(xcb_get_image_data(r), rect.width(), rect.height(), QImage::Format_RGB32)
                      .copy();
        free(r);
        return out;
    }

    void click(const QPoint &at) const
    {
        xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, (int16_t)at.x(),
                            (int16_t)at.y(), 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_flush(m_c);
    }

  private:
    xcb_atom_t atom(const char *name) const
    {
        xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, (uint16_t)strlen(name), name), nullptr);
        const xcb_atom_t a = r != nullptr ? r->atom : (xcb_atom_t)XCB_ATOM_NONE;
        free(r);
        return a;
    }

    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = 0;
};

bool near_picture(const QColor &c)
{
    return qAbs(c.red() - k_picture.red()) < 40 && qAbs(c.green() - k_picture.green()) < 40 &&
           qAbs(c.blue() - k_picture.blue()) < 40;
}

// The picture fills the tile across its width or across its height (the
// renderer may keep the stream's shape with black bars on the other axis):
// nearly every pixel of the middle row, or of the middle column, is the
// stream's colour.
bool shows_picture(const QImage &img)
{
    if (img.isNull())
        return false;
    int row = 0;
    int col = 0;
    for (int x = 0; x < img.width(); x++)
        row += near_picture(img.pixelColor(x, img.height() / 2)) ? 1 : 0;
    for (int y = 0; y < img.height(); y++)
        col += near_picture(img.pixelColor(img.width() / 2, y)) ? 1 : 0;
    return row >= img.width() * 95 / 100 || col >= img.height() * 95 / 100;
}

// The wall's grid window: the child of the wall window that is the grid's size.
XWindow grid_window(const XClient &x, xcb_window_t wall)
{
    for (const XWindow &w : x.children(wall))
        if (w.mapped && w.rect.size() == QSize(1300, 900))
            return w;
    return XWindow();
}

QList<XWindow> shown_tiles(const XClient &x, const XWindow &grid)
{
    QList<XWindow> out;
    for (const XWindow &w : x.children(grid.id))
        if (w.mapped)
            out.append(w);
    return out;
}

std::string describe(const QList<XWindow> &tiles)
{
    std::string out;
    for (const XWindow &t : tiles)
        out += QStringLiteral("(%1,%2 %3x%4) ")
                   .arg(t.rect.x())
                   .arg(t.rect.y())
                   .arg(t.rect.width())
                   .arg(t.rect.height())
                   .toStdString();
    return out;
}

// Each shown tile has the layout's size and lies in its own cell of a grid
// of rows x cols over 1300 x 900: centred across it, the first row at the
// top, the last at the bottom; no two overlap.
void expect_cells(const QList<XWindow> &tiles, const QSize &size, int rows, int cols)
{
    const int cellW = 1300 / cols;
    const int cellH = 900 / rows;
    QList<QPoint> cells;
    for (const XWindow &t : tiles) {
        EXPECT_EQ(t.rect.size(), size) << describe(tiles);
        const QPoint cell(t.rect.center().x() / cellW, t.rect.center().y() / cellH);
        EXPECT_FALSE(cells.contains(cell)) << "two tiles in one cell: " << describe(tiles);
        cells.append(cell);
        EXPECT_LE(qAbs(t.rect.center().x() - (cell.x() * cellW + cellW / 2)), 2) << describe(tiles);
        if (cell.y() == 0) {
            EXPECT_EQ(t.rect.top(), 0) << describe(tiles);
        }
        if (cell.y() == rows - 1) {
            EXPECT_EQ(t.rect.bottom(), 899) << describe(tiles);
        }
    }
}

TEST(ConsoleWallE2e, OpenWallAndAFourTileLayoutShowTheStreamInTheirCells)
{
    LiveRtmp rtmp;
    ASSERT_TRUE(rtmp.start()) << rtmp.log().toStdString();
    ASSERT_TRUE(rtmp.publish(QStringLiteral("test"), QLatin1String(k_colour)));
    QString base = rtmp.url(QStringLiteral("test"));
    base.chop(5); // "/test"

    ConsoleRun run;
    // Played sound goes to files: the machine may have no sound card.
    qputenv("VISTREL_TEST_DIR", run.folder().toUtf8());
    run.setPageQuery(QStringLiteral("drive=1&rtmp=") + base);
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.waitLog(QStringLiteral("channel "))) << run.qtlog().toStdString();
    XClient x(run.x().display());
    ASSERT_TRUE(x.ok());
    const int wait = int(30000 * k_time_scale);

    // Open wall: the one-tile layout asks for its streams; the page pulls one.
    run.press(QStringLiteral("wall"));
    ASSERT_EQ(run.waitCall(QStringLiteral("startpullstreamindex->"), 1, wait), 1)
        << run.qtlog().toStdString();
    EXPECT_EQ(run.calls(QStringLiteral("OnGetUrllistX")).value(0).args, QStringLiteral("[\"1\"]"));
    EXPECT_EQ(run.calls(QStringLiteral("startpullstreamindex->")).value(0).args,
              QStringLiteral("[\"%1/test\",0]").arg(base));
    xcb_window_t wall = 0;
    ASSERT_TRUE(
        spin_until([&] { return (wall = x.topLevel(QString::fromUtf8(k_wall_title))); }, wait));
    XWindow grid;
    ASSERT_TRUE(spin_until([&] { return (grid = grid_window(x, wall)).id != 0; }, wait));
    QList<XWindow> tiles;
    EXPECT_TRUE(spin_until([&] { return (tiles = shown_tiles(x, grid)).size() == 1; }, wait))
        << describe(tiles);
    expect_cells(tiles, QSize(650, 900), 1, 1);
    for (const XWindow &t : tiles) {
        EXPECT_TRUE(spin_until([&] { return shows_picture(x.grab(t.screen)); }, wait))
            << describe(tiles);
    }

    // The 4-tile button, pressed as a hand does. A switch within 3 s of the
    // last one is refused: press again until the layout asks for its streams.
    const QPoint wallAt = grid.screen.topLeft() - grid.rect.topLeft();
    const QPoint fourButton = wallAt + QPoint(122 + 24, 5 + 24);
    bool switched = false;
    for (int i = 0; i < 30 && !switched; i++) {
        x.click(fourButton);
        switched = spin_until(
            [&] {
                for (const webtest::PageCall &c : run.calls(QStringLiteral("OnGetUrllistX")))
                    if (c.args == QStringLiteral("[\"4\"]"))
                        return true;
                return false;
            },
            int(1000 * k_time_scale));
    }
    ASSERT_TRUE(switched) << run.qtlog().toStdString();
    ASSERT_EQ(run.waitCall(QStringLiteral("startpullstreamindex->"), 3, wait), 3);
    for (const webtest::PageCall &c : run.calls(QStringLiteral("startpullstreamindex->")))
        EXPECT_TRUE(c.args.endsWith(QStringLiteral(",0]"))) << c.args.toStdString();

    // Two tiles play, in the first row's two cells, 325 x 449 each; the two
    // free tiles stay hidden; nothing is stacked.
    ASSERT_TRUE(spin_until([&] { return (grid = grid_window(x, wall)).id != 0; }, wait));
    EXPECT_TRUE(spin_until(
        [&] {
            tiles = shown_tiles(x, grid);
            return tiles.size() == 2 && tiles[0].rect.size() == QSize(325, 449) &&
                   tiles[1].rect.size() == QSize(325, 449);
        },
        wait))
        << describe(tiles);
    expect_cells(tiles, QSize(325, 449), 2, 2);
    for (const XWindow &t : tiles) {
        EXPECT_LT(t.rect.center().y(), 450) << describe(tiles);
        EXPECT_TRUE(spin_until([&] { return shows_picture(x.grab(t.screen)); }, wait))
            << describe(tiles);
    }
    EXPECT_TRUE(spin_until([&] { return rtmp.count(QStringLiteral("test"), false) == 2; }, wait));

    // Kept beside the build for review.
    const QString dir = QString::fromStdString(ptt::test::run_path("../screenshots"));
    QDir().mkpath(dir);
    EXPECT_TRUE(run.x().screenshot(dir + QStringLiteral("/wall.png")));
}

} // namespace
