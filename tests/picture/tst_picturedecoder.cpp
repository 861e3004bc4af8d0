// Picture decoding: every format the tool reads, photos turned upright, and
// files that are not pictures refused.

#include "tiles/tilegeometry.h"
#include "picture/picturedecoder.h"
#include "support/files.h"
#include "support/metafilebuilder.h"
#include "support/processes.h"
#include "support/picturechildmain.h"

#include <QBuffer>
#include <QElapsedTimer>
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
bool decode(const QString &path, QImage &image, QString &refusal, const QColor &background = Qt::white)
{
    try {
        image = picture::loadPictureStretched(path, QSize(400, 200), background);
        return true;
    } catch (const picture::PictureError &error) {
        refusal = QStringLiteral("%1 refused: %2").arg(path, error.message());
        return false;
    }
}

// The test pictures' four quadrants in a 400 x 200 box: the two on top as
// given, green and yellow below. `wrong` names the first that is not.
bool showsQuadrants(const QImage &image, const QColor &topLeft, const QColor &topRight,
                    int tolerance, QString *wrong)
{
    const struct {
        QPoint at;
        QColor colour;
    } expected[] = {
        {{100, 50}, topLeft},
        {{300, 50}, topRight},
        {{100, 150}, QColor(0, 255, 0)},
        {{300, 150}, QColor(255, 255, 0)},
    };
    for (const auto &e : expected) {
        const QColor got = image.pixelColor(e.at);
        if (!near(got, e.colour, tolerance)) {
            *wrong = QStringLiteral("at %1,%2: %3").arg(e.at.x()).arg(e.at.y()).arg(describe(got));
            return false;
        }
    }
    return true;
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
    void hostileMetafilesAreCutOff_data();
    void hostileMetafilesAreCutOff();
    void largePngIsAveragedWhileReading_data();
    void largePngIsAveragedWhileReading();
    void largePngCutShortIsRefused();
    void phoneAndWebFormats_data();
    void phoneAndWebFormats();
    void phoneAndWebPhotosUpright_data();
    void phoneAndWebPhotosUpright();
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
    QString wrong;
    QVERIFY2(showsQuadrants(image, Qt::red, Qt::blue, tolerance, &wrong), qPrintable(wrong));
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
    // Refused within libjpeg's memory budget, and not handed on to a reader
    // without one.
    QTest::newRow("progressive, header claims 20000 x 20000")
        << data + QStringLiteral("/progressive-20000.jpg");
}

void TstPictureDecoder::notAPicture()
{
    QFETCH(QString, path);
    QImage image;
    QString refusal;
    QVERIFY2(!decode(path, image, refusal), "a file that is no picture was decoded");
    QVERIFY2(refusal.endsWith(QStringLiteral(": 图片格式错误")), qPrintable(refusal));
}

void TstPictureDecoder::hostileMetafilesAreCutOff_data()
{
    using namespace metafiles;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("runsOutOfTime");
    // Played in-process, each of these took half a minute or more, or
    // gigabytes (the LINETO one 38 s and 7.7 GB).
    QTest::newRow("pie slice, no units per inch") << slowPie() << true;
    QTest::newRow("WMF: 5 million SAVEDC") << wmf(wmfRecord(0x001E), 5'000'000, 1440) << false;
    QTest::newRow("WMF: 2.5 million rectangles")
        << wmf(wmfRecord(0x041B, {1000, 1000, 0, 0}), 2'500'000, 1440) << false;
    QTest::newRow("EMF: 5 million SAVEDC") << emf(emfRecord(33), 5'000'000) << false;
    QByteArray lines;
    for (int corner : {0, 999}) {
        QByteArray point;
        put32(point, corner);
        put32(point, 999 - corner);
        lines += emfRecord(54, point);
    }
    QTest::newRow("EMF: 1.6 million LINETO") << emf(lines, 800'000) << false;
}

void TstPictureDecoder::hostileMetafilesAreCutOff()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, runsOutOfTime);
    QVERIFY(picture::pictureChildAvailable());
    const picture::PictureChildLimits before = picture::pictureChildLimits();
    picture::PictureChildLimits tight;
    tight.wallMilliseconds = 1500;
    tight.memoryBytes = 256ll << 20;
    picture::setPictureChildLimits(tight);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile.wmf"));
    files::writeFile(path, bytes);

    QImage image;
    QString refusal;
    QElapsedTimer clock;
    clock.start();
    const bool decoded = decode(path, image, refusal);
    const qint64 took = clock.elapsed();
    picture::setPictureChildLimits(before);

    QVERIFY2(!decoded, "a hostile metafile was played to the end");
    QVERIFY2(refusal.endsWith(QStringLiteral(": 图片格式错误")), qPrintable(refusal));
    // It came back at all, not after the half minute the player wants.
    QVERIFY2(took < tight.wallMilliseconds + 8000, qPrintable(QString::number(took)));
    if (runsOutOfTime)
        QVERIFY2(took >= tight.wallMilliseconds,
                 qPrintable(QStringLiteral("refused after %1 ms, before the time limit").arg(took)));
    QCOMPARE(childrenOf(QCoreApplication::applicationPid()), QStringList());

    // The next metafile plays as before.
    QVERIFY2(decode(data + QStringLiteral("/picture.wmf"), image, refusal), qPrintable(refusal));
    QVERIFY(near(image.pixelColor(100, 50), Qt::red, 8));
}

namespace {

// A picture of the four quadrants at any size and pixel format.
QImage quadrants(QSize size, QImage::Format format, const QColor (&colours)[4])
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    p.fillRect(0, 0, w, h, colours[0]);
    p.fillRect(w, 0, size.width() - w, h, colours[1]);
    p.fillRect(0, h, w, size.height() - h, colours[2]);
    p.fillRect(w, h, size.width() - w, size.height() - h, colours[3]);
    p.end();
    return image.convertToFormat(format);
}

} // namespace

void TstPictureDecoder::largePngIsAveragedWhileReading_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("interlaced");
    QTest::newRow("rgb") << QSize(2400, 1200) << int(QImage::Format_RGB32) << false;
    QTest::newRow("rgb, odd size") << QSize(1237, 803) << int(QImage::Format_RGB32) << false;
    QTest::newRow("rgba") << QSize(1600, 900) << int(QImage::Format_ARGB32) << false;
    QTest::newRow("palette") << QSize(1600, 900) << int(QImage::Format_Indexed8) << false;
    QTest::newRow("16-bit") << QSize(1600, 900) << int(QImage::Format_RGBA64) << false;
    QTest::newRow("interlaced") << QSize(1600, 800) << int(QImage::Format_RGB32) << true;
    QTest::newRow("small") << QSize(600, 300) << int(QImage::Format_ARGB32) << false;
}

void TstPictureDecoder::largePngIsAveragedWhileReading()
{
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(bool, interlaced);
    // With transparency: a see-through quadrant shows the box's background,
    // a half see-through one is mixed with it.
    const bool alpha = QImage::Format(format) == QImage::Format_ARGB32
                       || QImage::Format(format) == QImage::Format_RGBA64;
    const QColor colours[4] = {alpha ? QColor(255, 0, 0, 0) : QColor(Qt::red),
                               alpha ? QColor(0, 0, 255, 128) : QColor(Qt::blue), Qt::green,
                               Qt::yellow};
    QImage source = quadrants(size, QImage::Format(format), colours);
    if (QImage::Format(format) == QImage::Format_Indexed8)
        source = quadrants(size, QImage::Format_RGB32, colours)
                     .convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    QTemporaryDir dir;
    // Qt writes no interlaced PNG; that one comes made.
    const QString path = interlaced ? data + QStringLiteral("/large-interlaced.png")
                                    : dir.filePath(QStringLiteral("big.png"));
    if (!interlaced)
        QVERIFY(source.save(path, "png"));
    {
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        // The header's interlace method byte.
        QCOMPARE(written.read(29).at(28) != 0, interlaced);
    }

    const QColor background(Qt::white);
    QImage image;
    QString refusal;
    QVERIFY2(decode(path, image, refusal, background), qPrintable(refusal));
    QCOMPARE(image.size(), QSize(400, 200));
    const QColor expected[4] = {alpha ? background : QColor(Qt::red),
                                alpha ? QColor(127, 127, 255) : QColor(Qt::blue), Qt::green,
                                Qt::yellow};
    const QPoint at[4] = {{100, 50}, {300, 50}, {100, 150}, {300, 150}};
    for (int i = 0; i < 4; ++i) {
        const QColor got = image.pixelColor(at[i]);
        QVERIFY2(near(got, expected[i], 2), qPrintable(describe(got)));
    }
    // The cut between the quadrants stays where it was: no column or row of
    // the picture is lost at its right or bottom edge.
    QVERIFY2(near(image.pixelColor(197, 150), Qt::green, 2), qPrintable(describe(image.pixelColor(197, 150))));
    QVERIFY2(near(image.pixelColor(202, 150), Qt::yellow, 2), qPrintable(describe(image.pixelColor(202, 150))));
    QVERIFY2(near(image.pixelColor(399, 199), Qt::yellow, 2), qPrintable(describe(image.pixelColor(399, 199))));
}

void TstPictureDecoder::largePngCutShortIsRefused()
{
    const QColor colours[4] = {Qt::red, Qt::blue, Qt::green, Qt::yellow};
    QImage source = quadrants(QSize(2000, 1000), QImage::Format_RGB32, colours);
    // Noise, so that the picture's data is long enough to cut in half.
    for (int y = 0; y < source.height(); y += 3)
        for (int x = 0; x < source.width(); x += 7)
            source.setPixel(x, y, qRgb((x * 31) & 255, (y * 17) & 255, (x ^ y) & 255));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(source.save(&buffer, "png"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cut-short.png"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(buffer.data().left(buffer.data().size() / 2));
    file.close();
    QImage image;
    QString refusal;
    QVERIFY2(!decode(path, image, refusal), "a PNG cut in half was decoded");
}

void TstPictureDecoder::phoneAndWebFormats_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QColor>("topLeft");
    QTest::addColumn<QColor>("topRight");
    QTest::addColumn<int>("tolerance");
    const QColor red(255, 0, 0);
    const QColor blue(0, 0, 255);
    // Over a grey background: the top-left quadrant is see-through, the
    // top-right one half see-through.
    const QColor grey(100, 100, 100);
    const QColor blueOnGrey(50, 50, 178);
    QTest::newRow("webp") << "picture.webp" << red << blue << 0;
    QTest::newRow("tiff") << "picture.tiff" << red << blue << 0;
    QTest::newRow("heic") << "picture.heic" << red << blue << 40;
    QTest::newRow("avif") << "picture.avif" << red << blue << 40;
    QTest::newRow("webp with alpha") << "alpha.webp" << grey << blueOnGrey << 2;
    QTest::newRow("heic with alpha") << "alpha.heic" << grey << blueOnGrey << 40;
    QTest::newRow("animated webp, first frame") << "animated.webp" << red << blue << 0;
    QTest::newRow("heic with a thumbnail") << "thumbnailed.heic" << red << blue << 40;
    // More than 128 MB once decoded, which Qt's readers refuse unless told.
    QTest::newRow("large webp") << "large.webp" << red << blue << 0;
    QTest::newRow("large tiff") << "large.tiff" << red << blue << 0;
}

void TstPictureDecoder::phoneAndWebFormats()
{
    QFETCH(QString, file);
    QFETCH(QColor, topLeft);
    QFETCH(QColor, topRight);
    QFETCH(int, tolerance);
    QImage image;
    QString refusal;
    QVERIFY2(decode(data + QLatin1Char('/') + file, image, refusal, QColor(100, 100, 100)),
             qPrintable(refusal));
    QCOMPARE(image.size(), QSize(400, 200));
    QString wrong;
    QVERIFY2(showsQuadrants(image, topLeft, topRight, tolerance, &wrong), qPrintable(wrong));
}

void TstPictureDecoder::phoneAndWebPhotosUpright_data()
{
    QTest::addColumn<QString>("file");
    // Each made from rotated-exif.jpg, which is stored sideways.
    QTest::newRow("tiff with orientation tag") << "rotated.tiff";
    QTest::newRow("webp with exif") << "rotated.webp";
}

void TstPictureDecoder::phoneAndWebPhotosUpright()
{
    QFETCH(QString, file);
    QImage image;
    QString refusal;
    QVERIFY2(decode(data + QLatin1Char('/') + file, image, refusal), qPrintable(refusal));
    for (const int x : {60, 340}) {
        QVERIFY2(near(image.pixelColor(x, 40), Qt::red, 40), qPrintable(describe(image.pixelColor(x, 40))));
        QVERIFY2(near(image.pixelColor(x, 160), Qt::blue, 40), qPrintable(describe(image.pixelColor(x, 160))));
    }
}

MOSALUNE_PICTURE_TEST_MAIN(TstPictureDecoder)
#include "tst_picturedecoder.moc"
