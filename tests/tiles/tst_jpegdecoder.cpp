// The photo path of the decoder: shrunk while decoding, and turned upright
// for every orientation a camera can record.

#include "platform/jpegdecoder.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

const QString data = QStringLiteral(MOSALUNE_TEST_DATA);

// An APP1 payload with one directory entry: Orientation = value.
QByteArray exifWithOrientation(int value, bool littleEndian)
{
    QByteArray tiff(8 + 2 + 12 + 4, '\0');
    char *t = tiff.data();
    auto put16 = [&](int at, quint16 v) {
        littleEndian ? qToLittleEndian(v, t + at) : qToBigEndian(v, t + at);
    };
    auto put32 = [&](int at, quint32 v) {
        littleEndian ? qToLittleEndian(v, t + at) : qToBigEndian(v, t + at);
    };
    t[0] = t[1] = littleEndian ? 'I' : 'M';
    put16(2, 42);
    put32(4, 8);
    put16(8, 1);          // one entry
    put16(10, 0x0112);    // Orientation
    put16(12, 3);         // SHORT
    put32(14, 1);         // one value
    put16(18, quint16(value));
    return QByteArray("Exif\0\0", 6) + tiff;
}

} // namespace

class TstJpegDecoder : public QObject
{
    Q_OBJECT
private slots:
    void decodesShrunk();
    void refusesWhatIsNotAJpeg();
    void orientationTag_data();
    void orientationTag();
    void everyOrientationTurnsUpright_data();
    void everyOrientationTurnsUpright();
};

void TstJpegDecoder::decodesShrunk()
{
    QTemporaryDir dir;
    QImage big(2400, 1200, QImage::Format_RGB32);
    big.fill(Qt::red);
    QPainter(&big).fillRect(1200, 0, 1200, 1200, Qt::blue);
    const QString path = dir.filePath(QStringLiteral("big.jpg"));
    QVERIFY(big.save(path, "JPEG", 90));
    // 1/8 would give 300 x 150, too small for 400 x 200: 1/4 it is.
    const QImage image = platform::decodeJpegUpright(path, QSize(400, 200));
    QCOMPARE(image.size(), QSize(600, 300));
    QVERIFY(qAbs(image.pixelColor(100, 150).red() - 255) < 30);
    QVERIFY(qAbs(image.pixelColor(500, 150).blue() - 255) < 30);

    // The tagged photo in the test data: stored 96 x 48, shown 48 x 96. To
    // cover 12 x 24 upright it must cover 24 x 12 as stored: 1/4.
    const QImage turned = platform::decodeJpegUpright(data + QStringLiteral("/rotated-exif.jpg"),
                                                      QSize(12, 24));
    QCOMPARE(turned.size(), QSize(12, 24));
}

void TstJpegDecoder::refusesWhatIsNotAJpeg()
{
    QVERIFY(platform::decodeJpegUpright(data + QStringLiteral("/picture.png"), QSize(400, 200)).isNull());
    QVERIFY(platform::decodeJpegUpright(data + QStringLiteral("/empty.jpg"), QSize(400, 200)).isNull());
    QVERIFY(platform::decodeJpegUpright(data + QStringLiteral("/no-such.jpg"), QSize(400, 200)).isNull());
    QTemporaryDir dir;
    QFile truncated(dir.filePath(QStringLiteral("cut.jpg")));
    QFile whole(data + QStringLiteral("/picture.jpg"));
    QVERIFY(whole.open(QIODevice::ReadOnly) && truncated.open(QIODevice::WriteOnly));
    truncated.write(whole.read(40)); // the header only, no scan
    truncated.close();
    QVERIFY(platform::decodeJpegUpright(truncated.fileName(), QSize(400, 200)).isNull());
}

void TstJpegDecoder::orientationTag_data()
{
    QTest::addColumn<QByteArray>("app1");
    QTest::addColumn<int>("orientation");
    QTest::newRow("little endian") << exifWithOrientation(6, true) << 6;
    QTest::newRow("big endian") << exifWithOrientation(8, false) << 8;
    QTest::newRow("out of range") << exifWithOrientation(9, true) << 1;
    QTest::newRow("not exif") << QByteArray("http://ns.adobe.com/xap/1.0/") << 1;
    QTest::newRow("cut short") << exifWithOrientation(6, true).left(20) << 1;
}

void TstJpegDecoder::orientationTag()
{
    QFETCH(QByteArray, app1);
    QFETCH(int, orientation);
    QCOMPARE(platform::exifOrientation(app1), orientation);
}

void TstJpegDecoder::everyOrientationTurnsUpright_data()
{
    QTest::addColumn<int>("orientation");
    for (int o = 1; o <= 8; ++o)
        QTest::newRow(qPrintable(QString::number(o))) << o;
}

void TstJpegDecoder::everyOrientationTurnsUpright()
{
    QFETCH(int, orientation);
    // A 3 x 2 picture whose pixels are all different.
    const int w = 3;
    const int h = 2;
    QImage stored(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            stored.setPixel(x, y, qRgb(40 * x + 1, 90 * y + 1, 7));

    // Where the stored pixel of each shown pixel comes from, by the
    // definition of the tag (row 0 / column 0 of the stored picture is ...).
    auto source = [&](int x, int y) -> QPoint {
        switch (orientation) {
        case 2: return {w - 1 - x, y};
        case 3: return {w - 1 - x, h - 1 - y};
        case 4: return {x, h - 1 - y};
        case 5: return {y, x};
        case 6: return {y, h - 1 - x};
        case 7: return {w - 1 - y, h - 1 - x};
        case 8: return {w - 1 - y, x};
        default: return {x, y};
        }
    };
    const QImage shown = platform::applyOrientation(stored, orientation);
    QCOMPARE(shown.size(), orientation >= 5 ? QSize(h, w) : QSize(w, h));
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            QCOMPARE(shown.pixel(x, y), stored.pixel(source(x, y)));
}

QTEST_MAIN(TstJpegDecoder)
#include "tst_jpegdecoder.moc"
