// The tile files' bytes, and where the tiles of a picture go.

#include "tiles/tilewriter.h"

#include "positionramp.h"

#include <QBuffer>
#include <QImageWriter>
#include <QtTest>

using namespace tiles;

class TstTileWriter : public QObject
{
    Q_OBJECT
private slots:
    void bitmapBytesAsQtWritesThem_data();
    void bitmapBytesAsQtWritesThem();
    void pictureFolder_data();
    void pictureFolder();
};

void TstTileWriter::bitmapBytesAsQtWritesThem_data()
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

void TstTileWriter::bitmapBytesAsQtWritesThem()
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

void TstTileWriter::pictureFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::newRow("absolute") << "/home/u/photos/a.jpg" << "/home/u/photos/";
    QTest::newRow("root") << "/a.jpg" << "/";
    QTest::newRow("bare name") << "a.jpg" << "";
    QTest::newRow("relative") << "pics/a b.png" << "pics/";
}

void TstTileWriter::pictureFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(tiles::pictureFolder(path), folder);
}

QTEST_MAIN(TstTileWriter)
#include "tst_tilewriter.moc"
