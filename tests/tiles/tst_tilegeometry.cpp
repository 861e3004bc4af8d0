// The tile geometry: every tile must show exactly its source rectangle of the
// display box, stretched to 150 x 150 and clipped to 146 x 146.

#include "tiles/tilegeometry.h"
#include "tiles/tilewriter.h"

#include <QDir>
#include <QFileInfo>
#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "tiles/tilejob.h"
#include "support/files.h"

using files::readAll;

using namespace tiles;

namespace {

// A display image whose pixels carry their own position with sub-pixel
// precision: red = 160 * x, green = 320 * y, on 16 bits per channel. Linear
// filtering of such a ramp gives back the exact sampled position.
QImage positionRamp()
{
    QImage image(displayInteriorSize, QImage::Format_RGBA64);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixelColor(x, y, QColor::fromRgba64(quint16(160 * x), quint16(320 * y), 0));
    return image;
}

} // namespace

class TstTileGeometry : public QObject
{
    Q_OBJECT
private slots:
    void sourceRectanglesAtDesignSize_data();
    void sourceRectanglesAtDesignSize();
    void tilesShowTheirSourceRectangle_data();
    void tilesShowTheirSourceRectangle();
    void bitmapFiles();
    void bitmapBytesAsQtWritesThem_data();
    void bitmapBytesAsQtWritesThem();
    void writeFailureKeepsEveryOldTile();
    void pictureFolder_data();
    void pictureFolder();
};

void TstTileGeometry::sourceRectanglesAtDesignSize_data()
{
    QTest::addColumn<int>("tile");
    QTest::addColumn<QRectF>("expected");
    QTest::newRow("1") << 1 << QRectF(0, 0, 1483, 1468);
    QTest::newRow("2") << 2 << QRectF(1487, 0, 1481, 1468);
    QTest::newRow("3") << 3 << QRectF(2972, 0, 1481, 1468);
    QTest::newRow("4") << 4 << QRectF(4457, 0, 1483, 1468);
    QTest::newRow("5") << 5 << QRectF(0, 1472, 1483, 1468);
    QTest::newRow("6") << 6 << QRectF(1487, 1472, 1481, 1466);
    QTest::newRow("7") << 7 << QRectF(2972, 1472, 1481, 1466);
    QTest::newRow("8") << 8 << QRectF(4457, 1472, 1483, 1468);
}

void TstTileGeometry::sourceRectanglesAtDesignSize()
{
    QFETCH(int, tile);
    QFETCH(QRectF, expected);
    const TwipRect r = sourceRect(tile, 5940, 2940);
    QCOMPARE(QRectF(r.x, r.y, r.width, r.height), expected);
    QCOMPARE(tileFileName(tile), QString::number(tile) + QStringLiteral(".jpg"));
}

void TstTileGeometry::tilesShowTheirSourceRectangle_data()
{
    QTest::addColumn<int>("tile");
    for (int tile = 1; tile <= tileCount; ++tile)
        QTest::newRow(qPrintable(QString::number(tile))) << tile;
}

void TstTileGeometry::tilesShowTheirSourceRectangle()
{
    QFETCH(int, tile);
    static const QImage display = positionRamp();
    const QImage canvas = cutTile(display, tile);
    QCOMPARE(canvas.size(), QSize(146, 146));

    const QRectF src = toPixels(sourceRect(tile, 5940, 2940));
    // Pixel i of the 150-px stretch samples the source at this position
    // (pixel centres at half-integers, the ramp's value at pixel centre k is k).
    auto expectedX = [&](int i) { return src.x() + (i + 0.5) * src.width() / 150.0 - 0.5; };
    auto expectedY = [&](int j) { return src.y() + (j + 0.5) * src.height() / 150.0 - 0.5; };

    double worst = 0;
    for (int j = 0; j < 146; j += 5) {
        for (int i = 0; i < 146; i += 5) {
            const double ex = expectedX(i);
            const double ey = expectedY(j);
            // Where the filter reaches past the display's own edge it clamps;
            // the ramp is not linear there.
            if (ex < 0.5 || ey < 0.5 || ex > 394.5 || ey > 194.5)
                continue;
            const QRgba64 px = canvas.pixelColor(i, j).rgba64();
            const double x = px.red() / 160.0;
            const double y = px.green() / 320.0;
            worst = qMax(worst, qMax(qAbs(x - ex), qAbs(y - ey)));
        }
    }
    // A gap of 2 twips is 0.13 px, a 146-px stretch would be off by up to
    // 2.6 px, a swapped tile by about 99 px.
    QVERIFY2(worst < 0.05, qPrintable(QStringLiteral("off by %1 px").arg(worst)));
}

void TstTileGeometry::bitmapFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + QLatin1Char('/');
    QImage display(displayInteriorSize, QImage::Format_RGB32);
    display.fill(QColor(10, 200, 30));

    writeTiles(display, folder);
    for (int tile = 1; tile <= tileCount; ++tile) {
        const QByteArray bytes = readAll(folder + tileFileName(tile));
        QVERIFY(bytes.size() > 54);
        // A bitmap under a .jpg name: uncompressed, 24 bits, 146 x 146, 96 dpi.
        QCOMPARE(bytes.left(2), QByteArray("BM"));
        const char *h = bytes.constData();
        QCOMPARE(qFromLittleEndian<qint32>(h + 18), 146);
        QCOMPARE(qFromLittleEndian<qint32>(h + 22), 146);
        QCOMPARE(qFromLittleEndian<quint16>(h + 28), quint16(24));
        QCOMPARE(qFromLittleEndian<quint32>(h + 30), 0u);
        QCOMPARE(qFromLittleEndian<qint32>(h + 38), 3780);
        QImage back;
        QVERIFY(back.loadFromData(bytes, "BMP"));
        QCOMPARE(back.pixelColor(73, 73), QColor(10, 200, 30));
    }
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), tileCount);

    // A second run replaces what the first wrote.
    QFile old(folder + QStringLiteral("5.jpg"));
    QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
    old.write("old content");
    old.close();
    // The replaced file keeps its permissions; a tile that is a link is
    // written through it.
    QVERIFY(old.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QFile::rename(folder + QStringLiteral("6.jpg"), dir.filePath(QStringLiteral("elsewhere"))));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("elsewhere")), folder + QStringLiteral("6.jpg")));
    display.fill(QColor(200, 10, 30));
    writeTiles(display, folder);
    QImage back;
    QVERIFY(back.load(folder + QStringLiteral("5.jpg"), "BMP"));
    QCOMPARE(back.pixelColor(0, 0), QColor(200, 10, 30));
    QCOMPARE(old.permissions() & QFile::ReadOther, QFile::Permissions());
    QVERIFY(QFileInfo(folder + QStringLiteral("6.jpg")).isSymLink());
    QCOMPARE(readAll(dir.filePath(QStringLiteral("elsewhere"))), readAll(folder + QStringLiteral("5.jpg")));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), tileCount + 1);
}

void TstTileGeometry::bitmapBytesAsQtWritesThem_data()
{
    QTest::addColumn<QImage>("image");
    QImage odd(5, 3, QImage::Format_ARGB32);
    for (int y = 0; y < odd.height(); ++y)
        for (int x = 0; x < odd.width(); ++x)
            odd.setPixel(x, y, qRgba(40 * x, 80 * y, 7 * x * y, 100));
    QTest::newRow("tile") << positionRamp().convertToFormat(QImage::Format_RGB32).copy(0, 0, 146, 146);
    QTest::newRow("odd width, alpha dropped") << odd;
    QTest::newRow("one pixel, 24-bit source") << odd.copy(1, 1, 1, 1).convertToFormat(QImage::Format_RGB888);
    QTest::newRow("two wide") << odd.copy(0, 0, 2, 3).convertToFormat(QImage::Format_RGB32);
}

void TstTileGeometry::bitmapBytesAsQtWritesThem()
{
    // The files have always been what Qt's BMP writer makes of the canvas.
    QFETCH(QImage, image);
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    rgb.setDotsPerMeterX(3780);
    rgb.setDotsPerMeterY(3780);
    QByteArray expected;
    QBuffer buffer(&expected);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(QImageWriter(&buffer, "bmp").write(rgb));
    QCOMPARE(bitmapBytes(image).toHex(), expected.toHex());
}

void TstTileGeometry::writeFailureKeepsEveryOldTile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + QLatin1Char('/');
    // A folder where tile 3 should go cannot be replaced by a file.
    QVERIFY(QDir(folder).mkdir(QStringLiteral("3.jpg")));
    QImage display(displayInteriorSize, QImage::Format_RGB32);
    display.fill(Qt::gray);

    bool thrown = false;
    try {
        writeTiles(display, folder);
    } catch (const TileWriteError &error) {
        thrown = true;
        QCOMPARE(error.path(), folder + QStringLiteral("3.jpg"));
        QVERIFY(error.message().contains(QDir::toNativeSeparators(folder + QStringLiteral("3.jpg"))));
    }
    QVERIFY(thrown);
    // No tile is put in place, nothing half-written or temporary is left.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({QStringLiteral("3.jpg")}));
}

void TstTileGeometry::pictureFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::newRow("absolute") << "/home/u/photos/a.jpg" << "/home/u/photos/";
    QTest::newRow("root") << "/a.jpg" << "/";
    QTest::newRow("bare name") << "a.jpg" << "";
    QTest::newRow("relative") << "pics/a b.png" << "pics/";
}

void TstTileGeometry::pictureFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(tiles::pictureFolder(path), folder);
}

QTEST_MAIN(TstTileGeometry)
#include "tst_tilegeometry.moc"
