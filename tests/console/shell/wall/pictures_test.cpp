// The wall's pictures as the program carries them: real pictograms, each
// layout its own, each checked form lit apart from its normal one; and a
// contact sheet of all of them at the sizes the wall shows them, for review.
#include "wall_resources.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

const char *const k_names[] = {
    "1_normal",          "1_checked",  "4_normal",      "4_checked",  "6_normal", "6_checked",
    "8_normal",          "8_checked",  "9_normal",      "9_checked",  "mute",     "Silence",
    "videomute",         "videovoice", "audio_off",     "audio_on",   "X",        "fullscreen",
    "fullscreen_checkd", "FS",         "recordhistory", "meetingEnd", "up"};

const char *const k_layouts[] = {"1", "4", "6", "8", "9"};

QImage picture(const QString &name)
{
    return QImage(QStringLiteral(":/rec/resouce/%1.png").arg(name))
        .convertToFormat(QImage::Format_ARGB32);
}

// Distinct colours among the pixels that show (alpha at least half).
int colours(const QImage &image)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y++)
        for (int x = 0; x < image.width(); x++) {
            const QRgb px = image.pixel(x, y);
            if (qAlpha(px) >= 128)
                seen.insert(px | 0xff000000u);
        }
    return seen.size();
}

// The share of pixels that differ plainly (by more than 48 in a channel).
double difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 1.0;
    int differ = 0;
    for (int y = 0; y < a.height(); y++)
        for (int x = 0; x < a.width(); x++) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qAbs(qRed(p) - qRed(q)) > 48 || qAbs(qGreen(p) - qGreen(q)) > 48 ||
                qAbs(qBlue(p) - qBlue(q)) > 48 || qAbs(qAlpha(p) - qAlpha(q)) > 48)
                differ++;
        }
    return double(differ) / (a.width() * a.height());
}

} // namespace

class PicturesTest : public QObject
{
    Q_OBJECT

  private slots:
    void initTestCase()
    {
        wallInitResources();
    }

    void everyPictureShowsTwoColoursAtLeast_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : k_names)
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void everyPictureShowsTwoColoursAtLeast()
    {
        QFETCH(QString, name);
        const QImage image = picture(name);
        QVERIFY2(!image.isNull(), qPrintable(name));
        QVERIFY2(colours(image) >= 2, qPrintable(name));
        if (name != QLatin1String("up"))
            QCOMPARE(image.size(), QSize(48, 48));
    }

    // A layout button shows its own grid; its checked form is lit.
    void layoutButtonsDifferPairwiseAndFromTheirCheckedForms()
    {
        for (const char *form : {"normal", "checked"})
            for (int i = 0; i < 5; i++)
                for (int j = i + 1; j < 5; j++) {
                    const QString a = QStringLiteral("%1_%2").arg(QLatin1String(k_layouts[i]),
                                                                  QLatin1String(form));
                    const QString b = QStringLiteral("%1_%2").arg(QLatin1String(k_layouts[j]),
                                                                  QLatin1String(form));
                    QVERIFY2(difference(picture(a), picture(b)) > 0.03,
                             qPrintable(a + QStringLiteral(" looks like ") + b));
                }
        const char *const pairs[][2] = {
            {"1_normal", "1_checked"}, {"4_normal", "4_checked"},
            {"6_normal", "6_checked"}, {"8_normal", "8_checked"},
            {"9_normal", "9_checked"}, {"fullscreen", "fullscreen_checkd"},
            {"mute", "Silence"},       {"videomute", "videovoice"},
            {"audio_off", "audio_on"}};
        for (const auto &pair : pairs)
            QVERIFY2(difference(picture(QLatin1String(pair[0])), picture(QLatin1String(pair[1]))) >
                         0.03,
                     pair[0]);
    }

    // The tool draws the same bytes again: the pictures are reproducible.
    void theToolDrawsTheSameBytesAgain()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QProcess tool;
        // Under a sanitizer, what Qt keeps to the end is no fault of the tool.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        tool.setProcessEnvironment(env);
        tool.start(QStringLiteral(WALL_PICTURES_TOOL), {dir.path()});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        for (const char *name : k_names) {
            QFile again(dir.path() + QStringLiteral("/%1.png").arg(QLatin1String(name)));
            QFile built(QStringLiteral(":/rec/resouce/%1.png").arg(QLatin1String(name)));
            QVERIFY(again.open(QIODevice::ReadOnly) && built.open(QIODevice::ReadOnly));
            QVERIFY2(again.readAll() == built.readAll(), name);
        }
    }

    // Every picture at 48 and 28 px (scaled as an icon is) on the wall's
    // bar colour, and at 28 px over a bright picture, as on a tile's bar.
    void contactSheet()
    {
        const int cell = 120;
        const int count = int(sizeof(k_names) / sizeof(k_names[0]));
        const int perRow = 6;
        const int rows = (count + perRow - 1) / perRow;
        QImage sheet(perRow * cell, rows * cell, QImage::Format_ARGB32);
        sheet.fill(QColor(32, 31, 31));
        QPainter p(&sheet);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        QFont font = p.font();
        font.setPixelSize(11);
        p.setFont(font);
        for (int i = 0; i < count; i++) {
            const QString name = QLatin1String(k_names[i]);
            const QImage image = picture(name);
            const int x = (i % perRow) * cell;
            const int y = (i / perRow) * cell;
            const QSize big = image.size() == QSize(48, 48) ? QSize(48, 48) : image.size() * 2;
            const QSize small = image.size() == QSize(48, 48) ? QSize(28, 28) : image.size();
            p.drawImage(QRect(QPoint(x + 8, y + 10), big), image);
            p.drawImage(QPoint(x + 64, y + 10),
                        image.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            // A bright, busy video under a tile's bar.
            const QRect video(x + 64, y + 44, 44, 36);
            QLinearGradient g(video.topLeft(), video.bottomRight());
            g.setColorAt(0, QColor(250, 220, 90));
            g.setColorAt(0.5, QColor(90, 200, 240));
            g.setColorAt(1, QColor(240, 240, 240));
            p.fillRect(video, g);
            p.drawImage(QPoint(x + 72, y + 48),
                        image.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            p.setPen(Qt::white);
            p.drawText(QRect(x + 4, y + 90, cell - 8, 24), Qt::AlignLeft | Qt::AlignVCenter, name);
        }
        p.end();
        QDir().mkpath(QStringLiteral(PTT_SCREENSHOTS));
        QVERIFY(sheet.save(QStringLiteral(PTT_SCREENSHOTS "/wall-pictures.png")));
    }
};

QTEST_MAIN(PicturesTest)
#include "pictures_test.moc"
