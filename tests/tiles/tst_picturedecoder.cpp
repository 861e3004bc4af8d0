// Picture decoding: every format the tool reads, photos turned upright, and
// files that are not pictures refused.

#include "main/tiles/tilegeometry.h"
#include "platform/picturedecoder.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString data = QStringLiteral(MOSALUNE_TEST_DATA);

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
           && qAbs(a.blue() - b.blue()) <= tolerance;
}

QString describe(const QColor &c)
{
    return QStringLiteral("(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// Decodes into `image`; a refusal comes back as false with the decoder's
// message, so that a good picture the decoder cannot read fails its own case
// instead of ending the whole test program with an uncaught exception.
bool decode(const QString &path, QImage &image, QString &refusal)
{
    try {
        image = platform::loadPictureStretched(path, QSize(400, 200), Qt::white);
        return true;
    } catch (const platform::PictureError &error) {
        refusal = QStringLiteral("%1 refused: %2").arg(path, error.message());
        return false;
    }
}

} // namespace

class TstPictureDecoder : public QObject
{
    Q_OBJECT
private slots:
    void everyFormatFillsTheBox_data();
    void everyFormatFillsTheBox();
    void photoIsTurnedUpright();
    void largeJpegIsShrunkWhileDecoding();
    void notAPicture_data();
    void notAPicture();
};

void TstPictureDecoder::everyFormatFillsTheBox_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("tolerance");
    // Each file holds the same four quadrants: red, blue / green, yellow.
    QTest::newRow("bmp") << "picture.bmp" << 0;
    QTest::newRow("gif") << "picture.gif" << 0;
    QTest::newRow("jpeg") << "picture.jpg" << 24;
    QTest::newRow("png") << "picture.png" << 0;
    QTest::newRow("icon") << "picture.ico" << 0;
    QTest::newRow("cursor") << "picture.cur" << 0;
    QTest::newRow("wmf") << "picture.wmf" << 8;
    QTest::newRow("emf") << "picture.emf" << 8;
    // The content decides, not the name.
    QTest::newRow("png named .jpg") << "png-named.jpg" << 0;
}

void TstPictureDecoder::everyFormatFillsTheBox()
{
    QFETCH(QString, file);
    QFETCH(int, tolerance);
    QImage image;
    QString refusal;
    QVERIFY2(decode(data + QLatin1Char('/') + file, image, refusal), qPrintable(refusal));
    QCOMPARE(image.size(), QSize(400, 200));
    const struct {
        QPoint at;
        QColor colour;
    } expected[] = {
        {{100, 50}, QColor(255, 0, 0)},
        {{300, 50}, QColor(0, 0, 255)},
        {{100, 150}, QColor(0, 255, 0)},
        {{300, 150}, QColor(255, 255, 0)},
    };
    for (const auto &e : expected) {
        const QColor got = image.pixelColor(e.at);
        QVERIFY2(near(got, e.colour, tolerance),
                 qPrintable(QStringLiteral("at %1,%2: %3").arg(e.at.x()).arg(e.at.y()).arg(describe(got))));
    }
}

void TstPictureDecoder::photoIsTurnedUpright()
{
    // Stored sideways (red left, blue right) with an orientation tag that
    // says: turn 90 degrees clockwise. Upright it is red above blue.
    QImage image;
    QString refusal;
    QVERIFY2(decode(data + QStringLiteral("/rotated-exif.jpg"), image, refusal), qPrintable(refusal));
    for (const int x : {60, 340}) {
        QVERIFY2(near(image.pixelColor(x, 40), Qt::red, 40), qPrintable(describe(image.pixelColor(x, 40))));
        QVERIFY2(near(image.pixelColor(x, 160), Qt::blue, 40), qPrintable(describe(image.pixelColor(x, 160))));
    }
}

void TstPictureDecoder::largeJpegIsShrunkWhileDecoding()
{
    // A photo large enough to be shrunk inside the decoder still comes out
    // at exactly the box's size, not at the decoder's nearest scale.
    QTemporaryDir dir;
    QImage big(2400, 1200, QImage::Format_RGB32);
    big.fill(Qt::red);
    {
        QPainter p(&big);
        p.fillRect(1200, 0, 1200, 1200, Qt::blue);
    }
    const QString path = dir.filePath(QStringLiteral("big.jpg"));
    QVERIFY(big.save(path, "JPEG", 90));
    QImage image;
    QString refusal;
    QVERIFY2(decode(path, image, refusal), qPrintable(refusal));
    QCOMPARE(image.size(), QSize(400, 200));
    QVERIFY(near(image.pixelColor(50, 100), Qt::red, 30));
    QVERIFY(near(image.pixelColor(350, 100), Qt::blue, 30));
}

void TstPictureDecoder::notAPicture_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("text") << data + QStringLiteral("/notes.txt");
    QTest::newRow("empty file") << data + QStringLiteral("/empty.jpg");
    QTest::newRow("folder") << data;
    QTest::newRow("missing") << data + QStringLiteral("/no-such-file.png");
    QTest::newRow("no path") << QString();
    QTest::newRow("metafile header only") << data + QStringLiteral("/broken.wmf");
}

void TstPictureDecoder::notAPicture()
{
    QFETCH(QString, path);
    QImage image;
    QString refusal;
    QVERIFY2(!decode(path, image, refusal), "a file that is no picture was decoded");
    QVERIFY2(refusal.endsWith(QStringLiteral(": 图片格式错误")), qPrintable(refusal));
}

QTEST_MAIN(TstPictureDecoder)
#include "tst_picturedecoder.moc"
