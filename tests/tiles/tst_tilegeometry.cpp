// The tile geometry: every tile must show exactly its source rectangle of the
// display box, stretched to 150 x 150 and clipped to 146 x 146.

#include "tiles/tilegeometry.h"

#include "positionramp.h"

#include <QtTest>

using namespace tiles;

class TstTileGeometry : public QObject
{
    Q_OBJECT
private slots:
    void sourceRectanglesAtDesignSize_data();
    void sourceRectanglesAtDesignSize();
    void tilesShowTheirSourceRectangle_data();
    void tilesShowTheirSourceRectangle();
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

QTEST_MAIN(TstTileGeometry)
#include "tst_tilegeometry.moc"
