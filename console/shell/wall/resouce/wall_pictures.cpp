// Draws the video wall's pictures and writes them as PNG files:
//   wall_pictures OUTPUT_FOLDER
// The pictures are drawn in code, at build time, so they share one look,
// stay sharp at the sizes the wall shows them (48 px on the wall's bar, 28
// or 38 px on a tile's bar, 30 px in the information window) and come out as
// the same bytes on every build. Only QtGui's raster painter is used: no
// fonts, no platform plugin, no display.
//
// The look: a glyph on a rounded plate. The plate is a shade lighter than
// the wall's bar (RGB 32, 31, 31) with a light rim, so it reads as a button
// there and over a playing video; the glyph is near-white, its strokes thick
// enough to survive scaling to 28 px. A checked layout or the full-screen
// state lights the plate in the wall's selection green with a dark glyph;
// ending a call is a red plate. Muted sound is a speaker with a red cross.
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <QtMath>
#include <cstdio>
#include <functional>

namespace
{

// Every picture but the arrow is drawn on a 48 x 48 grid.
constexpr int k_side = 48;

const QColor k_plate(0x3b, 0x3f, 0x46);
const QColor k_plate_rim(0x6a, 0x71, 0x7c);
const QColor k_ink(0xf4, 0xf5, 0xf6);
const QColor k_lit(0x90, 0xdb, 0x3d); // the quality picker's selection green
const QColor k_lit_rim(0xc6, 0xf2, 0x93);
const QColor k_lit_ink(0x1a, 0x22, 0x12);
const QColor k_red(0xe5, 0x48, 0x3e);
const QColor k_red_rim(0xf6, 0x9a, 0x93);
const QColor k_shadow(0x14, 0x14, 0x14);

enum class Look { Normal, Lit, Danger };

using Glyph = std::function<void(QPainter &, const QColor &ink)>;

QPen stroke(const QColor &color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

QImage plate_picture(Look look, const Glyph &glyph)
{
    QImage image(k_side, k_side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = k_plate;
    QColor rim = k_plate_rim;
    QColor ink = k_ink;
    if (look == Look::Lit) {
        fill = k_lit;
        rim = k_lit_rim;
        ink = k_lit_ink;
    } else if (look == Look::Danger) {
        fill = k_red;
        rim = k_red_rim;
    }
    p.setPen(QPen(rim, 2));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);
    p.setBrush(Qt::NoBrush);
    glyph(p, ink);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// A layout: cols x rows screens, as the wall arranges its tiles.
Glyph grid(int cols, int rows)
{
    return [cols, rows](QPainter &p, const QColor &ink) {
        const QRectF area(8, 11, 32, 26);
        const qreal gap = 3;
        const qreal w = (area.width() - gap * (cols - 1)) / cols;
        const qreal h = (area.height() - gap * (rows - 1)) / rows;
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        for (int r = 0; r < rows; r++)
            for (int c = 0; c < cols; c++)
                p.drawRoundedRect(
                    QRectF(area.left() + c * (w + gap), area.top() + r * (h + gap), w, h), 1.5,
                    1.5);
    };
}

void speaker(QPainter &p, const QColor &ink)
{
    QPolygonF body;
    body << QPointF(9, 19) << QPointF(15, 19) << QPointF(23, 11.5) << QPointF(23, 36.5)
         << QPointF(15, 29) << QPointF(9, 29);
    p.setPen(stroke(ink, 1.5));
    p.setBrush(ink);
    p.drawPolygon(body);
    p.setBrush(Qt::NoBrush);
}

void sound_on(QPainter &p, const QColor &ink)
{
    speaker(p, ink);
    p.setPen(stroke(ink, 3.2));
    // Two waves leaving the speaker's mouth.
    p.drawArc(QRectF(21 - 6, 24 - 6, 12, 12), -50 * 16, 100 * 16);
    p.drawArc(QRectF(21 - 12, 24 - 12, 24, 24), -50 * 16, 100 * 16);
}

void sound_off(QPainter &p, const QColor &ink)
{
    speaker(p, ink);
    p.setPen(stroke(k_red, 4));
    p.drawLine(QPointF(28, 19), QPointF(38, 29));
    p.drawLine(QPointF(38, 19), QPointF(28, 29));
}

void cross(QPainter &p, const QColor &ink)
{
    p.setPen(stroke(ink, 4.5));
    p.drawLine(QPointF(15, 15), QPointF(33, 33));
    p.drawLine(QPointF(33, 15), QPointF(15, 33));
}

// Four corners: pointing out (enter full screen) or in (leave it).
Glyph corners(bool inward)
{
    return [inward](QPainter &p, const QColor &ink) {
        p.setPen(stroke(ink, 3.8));
        const qreal lo = 11;
        const qreal hi = 37;
        const qreal arm = 8;
        for (int i = 0; i < 4; i++) {
            const qreal sx = (i & 1) ? -1 : 1; // 1: left edge
            const qreal sy = (i & 2) ? -1 : 1; // 1: top edge
            const qreal x = sx > 0 ? lo : hi;
            const qreal y = sy > 0 ? lo : hi;
            QPolygonF l;
            if (!inward) {
                l << QPointF(x, y + sy * arm) << QPointF(x, y) << QPointF(x + sx * arm, y);
            } else {
                const QPointF c(x + sx * arm, y + sy * arm);
                l << QPointF(x, c.y()) << c << QPointF(c.x(), y);
            }
            p.drawPolyline(l);
        }
    };
}

// A clock whose rim turns back: earlier records.
void history(QPainter &p, const QColor &ink)
{
    p.setPen(stroke(ink, 3.2));
    const QPointF centre(24, 24);
    const qreal r = 12.5;
    // Open on the left; the arrowhead sits on the upper end and points on
    // round the way back (counter-clockwise).
    const qreal open = 150;
    p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), int(open * 16), int(-300 * 16));
    const qreal a = qDegreesToRadians(open);
    const QPointF end(centre.x() + r * qCos(a), centre.y() - r * qSin(a));
    const QPointF dir(-qSin(a), -qCos(a)); // counter-clockwise on the screen
    const QPointF side(-dir.y(), dir.x());
    QPolygonF head;
    head << end + dir * 5 << end - dir * 1.5 + side * 4.5 << end - dir * 1.5 - side * 4.5;
    p.setPen(stroke(ink, 1.2));
    p.setBrush(ink);
    p.drawPolygon(head);
    p.setBrush(Qt::NoBrush);
    p.setPen(stroke(ink, 3.2));
    p.drawLine(centre, QPointF(24, 16.5));
    p.drawLine(centre, QPointF(29.5, 27));
}

// A handset laid down: the call ends.
void hang_up(QPainter &p, const QColor &ink)
{
    QPainterPath path;
    path.moveTo(7.5, 29);
    path.cubicTo(7, 22, 14.5, 17.5, 24, 17.5);
    path.cubicTo(33.5, 17.5, 41, 22, 40.5, 29);
    path.lineTo(33.5, 30.5);
    path.lineTo(32.5, 25.5);
    path.cubicTo(27, 23.5, 21, 23.5, 15.5, 25.5);
    path.lineTo(14.5, 30.5);
    path.closeSubpath();
    p.setPen(stroke(ink, 1.5));
    p.setBrush(ink);
    p.drawPath(path);
    p.setBrush(Qt::NoBrush);
}

// The quality picker's small arrow beside its white text: a chevron with a
// dark rim, so it also reads on a light video.
QImage arrow_up()
{
    QImage image(12, 8, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF v;
    v << QPointF(2.2, 6) << QPointF(6, 2.2) << QPointF(9.8, 6);
    p.setPen(stroke(k_shadow, 3.6));
    p.drawPolyline(v);
    p.setPen(stroke(k_ink, 1.8));
    p.drawPolyline(v);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

struct Picture {
    const char *name;
    std::function<QImage()> draw;
};

QImage on(Look look, const Glyph &glyph)
{
    return plate_picture(look, glyph);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: wall_pictures OUTPUT_FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(out)) {
        fprintf(stderr, "wall_pictures: cannot create %s\n", argv[1]);
        return 1;
    }
    const Picture pictures[] = {
        {"1_normal", [] { return on(Look::Normal, grid(1, 1)); }},
        {"1_checked", [] { return on(Look::Lit, grid(1, 1)); }},
        {"4_normal", [] { return on(Look::Normal, grid(2, 2)); }},
        {"4_checked", [] { return on(Look::Lit, grid(2, 2)); }},
        {"6_normal", [] { return on(Look::Normal, grid(3, 2)); }},
        {"6_checked", [] { return on(Look::Lit, grid(3, 2)); }},
        {"8_normal", [] { return on(Look::Normal, grid(4, 2)); }},
        {"8_checked", [] { return on(Look::Lit, grid(4, 2)); }},
        {"9_normal", [] { return on(Look::Normal, grid(3, 3)); }},
        {"9_checked", [] { return on(Look::Lit, grid(3, 3)); }},
        // The wall's all-mute button, the tiles' and the information
        // window's mute buttons: muted, and sound on.
        {"mute", [] { return on(Look::Normal, sound_off); }},
        {"Silence", [] { return on(Look::Normal, sound_on); }},
        {"videomute", [] { return on(Look::Normal, sound_off); }},
        {"videovoice", [] { return on(Look::Normal, sound_on); }},
        {"audio_off", [] { return on(Look::Normal, sound_off); }},
        {"audio_on", [] { return on(Look::Normal, sound_on); }},
        {"X", [] { return on(Look::Normal, cross); }},
        {"fullscreen", [] { return on(Look::Normal, corners(false)); }},
        {"fullscreen_checkd", [] { return on(Look::Lit, corners(true)); }},
        {"FS", [] { return on(Look::Normal, corners(false)); }},
        {"recordhistory", [] { return on(Look::Normal, history); }},
        {"meetingEnd", [] { return on(Look::Danger, hang_up); }},
        {"up", arrow_up},
    };
    for (const Picture &picture : pictures) {
        const QString path =
            out + QLatin1Char('/') + QLatin1String(picture.name) + QStringLiteral(".png");
        if (!picture.draw().save(path, "PNG")) {
            fprintf(stderr, "wall_pictures: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
