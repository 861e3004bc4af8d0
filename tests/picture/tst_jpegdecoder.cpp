// The photo path of the decoder: shrunk while decoding, in bands on two
// cores, and safe against hostile headers.

#include "picture/jpegdecoder.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace {

const QString data = QStringLiteral(MOSALUNE_TEST_DATA);

// A photo-like picture: smooth colour with fine detail, so that every
// block has something to code.
QImage photoLike(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb((x * 255 / size.width() + (x * y) % 13) & 255,
                           (y * 255 / size.height() + (x ^ y) % 7) & 255, ((x + y) * 3) & 255);
    }
    return image;
}

// Writes a JPEG with libjpeg's own encoder, which can place restart markers
// (every `rows` MCU rows, or every `mcus` MCUs) as cameras do.
bool writeJpeg(const QImage &image, const QString &path, int rows, int mcus, bool grey, int hSampling,
               int vSampling)
{
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    if (grey)
        jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    else {
        info.comp_info[0].h_samp_factor = hSampling;
        info.comp_info[0].v_samp_factor = vSampling;
    }
    jpeg_set_quality(&info, 90, TRUE);
    info.restart_in_rows = rows;
    info.restart_interval = JDIMENSION(mcus);
    jpeg_start_compress(&info, TRUE);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
    return true;
}

} // namespace

class TstJpegDecoder : public QObject
{
    Q_OBJECT
private slots:
    void decodesShrunk();
    void refusesWhatIsNotAJpeg();
    void bandsDecodeToTheSamePixels_data();
    void bandsDecodeToTheSamePixels();
    void damagedBandsGiveWhatOnePieceGives();
    void progressiveHeaderCannotClaimGigabytes();
};

void TstJpegDecoder::bandsDecodeToTheSamePixels_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("mcus");
    QTest::addColumn<bool>("grey");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("v");
    QTest::addColumn<QSize>("atLeast");
    QTest::addColumn<bool>("banded");
    QTest::newRow("4:2:0, marker every MCU row, 1/8") << QSize(1600, 1200) << 1 << 0 << false << 2 << 2 << QSize(200, 100) << true;
    QTest::newRow("4:2:0, odd size, 1/4") << QSize(1601, 1203) << 1 << 0 << false << 2 << 2 << QSize(400, 200) << true;
    QTest::newRow("4:2:0, whole size") << QSize(640, 488) << 2 << 0 << false << 2 << 2 << QSize(640, 480) << true;
    QTest::newRow("4:4:4, every 3 rows") << QSize(1000, 999) << 3 << 0 << false << 1 << 1 << QSize(400, 200) << true;
    QTest::newRow("4:2:2") << QSize(1200, 800) << 1 << 0 << false << 2 << 1 << QSize(400, 200) << true;
    QTest::newRow("grey") << QSize(1200, 800) << 1 << 0 << true << 1 << 1 << QSize(400, 200) << true;
    // Intervals that end inside rows: bands start only where a row does.
    QTest::newRow("every 7 MCUs") << QSize(1600, 1200) << 0 << 7 << false << 2 << 2 << QSize(400, 200) << true;
    QTest::newRow("every 50 MCUs, one per row") << QSize(1600, 1200) << 0 << 50 << false << 2 << 2 << QSize(400, 200) << true;
    QTest::newRow("every 64 MCUs, never at a row start") << QSize(1008, 800) << 0 << 64 << false << 2 << 2 << QSize(400, 200) << false;
    QTest::newRow("no markers") << QSize(1600, 1200) << 0 << 0 << false << 2 << 2 << QSize(400, 200) << false;
}

void TstJpegDecoder::bandsDecodeToTheSamePixels()
{
    QFETCH(QSize, size);
    QFETCH(int, rows);
    QFETCH(int, mcus);
    QFETCH(bool, grey);
    QFETCH(int, h);
    QFETCH(int, v);
    QFETCH(QSize, atLeast);
    QFETCH(bool, banded);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    QVERIFY(writeJpeg(photoLike(size), path, rows, mcus, grey, h, v));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    for (const int wanted : {3, 2, 1}) {
        // The bands cover the picture's rows in order, each with its own
        // stretch of the file.
        const picture::RestartPlan plan = picture::restartBands(file.handle(), wanted);
        QCOMPARE(plan.bands.size(), banded && wanted > 1 ? wanted : 0);
        int row = 0;
        qint64 at = plan.header.size();
        for (const picture::RestartBand &band : plan.bands) {
            QCOMPARE(band.firstRow, row);
            QVERIFY(band.rows > 0 && band.begin >= at && band.end > band.begin);
            row += band.rows;
            at = band.end;
        }
        QCOMPARE(row, plan.bands.isEmpty() ? 0 : size.height());
    }
    const QImage whole = picture::decodeJpegUpright(path, atLeast, 1).image;
    QVERIFY(!whole.isNull());
    for (const int threads : {2, 3, 8}) {
        const QImage banded = picture::decodeJpegUpright(path, atLeast, threads).image;
        QCOMPARE(banded.size(), whole.size());
        QVERIFY2(banded == whole, qPrintable(QStringLiteral("%1 threads").arg(threads)));
    }
}

void TstJpegDecoder::damagedBandsGiveWhatOnePieceGives()
{
    // Cut short, or with a restart marker struck out: the bands must not
    // make anything up that decoding in one piece would not.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    QVERIFY(writeJpeg(photoLike(QSize(1600, 1200)), path, 1, 0, false, 2, 2));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray good = file.readAll();
    file.close();
    QByteArray struck = good;
    const qsizetype marker = struck.indexOf(QByteArray("\xFF\xD3", 2));
    QVERIFY(marker > 0);
    struck[marker + 1] = char(0x00);
    const QList<QByteArray> damaged = {good.left(good.size() * 2 / 3), struck,
                                       good.left(good.size() - 2)};
    for (const QByteArray &bytes : damaged) {
        const QString bad = dir.filePath(QStringLiteral("bad.jpg"));
        QFile out(bad);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
        out.close();
        const QImage whole = picture::decodeJpegUpright(bad, QSize(400, 200), 1).image;
        const QImage banded = picture::decodeJpegUpright(bad, QSize(400, 200), 2).image;
        QCOMPARE(banded.size(), whole.size());
        QVERIFY(banded == whole);
    }
}

void TstJpegDecoder::decodesShrunk()
{
    QTemporaryDir dir;
    QImage big(2400, 1200, QImage::Format_RGB32);
    big.fill(Qt::red);
    QPainter(&big).fillRect(1200, 0, 1200, 1200, Qt::blue);
    const QString path = dir.filePath(QStringLiteral("big.jpg"));
    QVERIFY(big.save(path, "JPEG", 90));
    // 1/8 would give 300 x 150, too small for 400 x 200: 1/4 it is.
    const QImage image = picture::decodeJpegUpright(path, QSize(400, 200)).image;
    QCOMPARE(image.size(), QSize(600, 300));
    QVERIFY(qAbs(image.pixelColor(100, 150).red() - 255) < 30);
    QVERIFY(qAbs(image.pixelColor(500, 150).blue() - 255) < 30);

    // The tagged photo in the test data: stored 96 x 48, shown 48 x 96. To
    // cover 12 x 24 upright it must cover 24 x 12 as stored: 1/4.
    const QImage turned = picture::decodeJpegUpright(data + QStringLiteral("/rotated-exif.jpg"),
                                                      QSize(12, 24)).image;
    QCOMPARE(turned.size(), QSize(12, 24));
}

void TstJpegDecoder::refusesWhatIsNotAJpeg()
{
    QVERIFY(picture::decodeJpegUpright(data + QStringLiteral("/picture.png"), QSize(400, 200)).image.isNull());
    QVERIFY(picture::decodeJpegUpright(data + QStringLiteral("/empty.jpg"), QSize(400, 200)).image.isNull());
    QVERIFY(picture::decodeJpegUpright(data + QStringLiteral("/no-such.jpg"), QSize(400, 200)).image.isNull());
    QTemporaryDir dir;
    QFile truncated(dir.filePath(QStringLiteral("cut.jpg")));
    QFile whole(data + QStringLiteral("/picture.jpg"));
    QVERIFY(whole.open(QIODevice::ReadOnly) && truncated.open(QIODevice::WriteOnly));
    truncated.write(whole.read(40)); // the header only, no scan
    truncated.close();
    QVERIFY(picture::decodeJpegUpright(truncated.fileName(), QSize(400, 200)).image.isNull());
}

// A progressive file needs the coefficients of the whole picture in memory.
// One of a few KB whose frame header claims 20000 x 20000 would make libjpeg
// take over a gigabyte and then paint grey; it is refused instead, while a
// real progressive photo still decodes.
void TstJpegDecoder::progressiveHeaderCannotClaimGigabytes()
{
    QImage source(64, 64, QImage::Format_RGB32);
    source.fill(Qt::red);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    QVERIFY(writer.write(source));
    QByteArray jpeg = buffer.data();
    const qsizetype sof = jpeg.indexOf(QByteArray("\xff\xc2", 2));
    QVERIFY2(sof > 0, "the writer made no progressive file");

    QTemporaryDir dir;
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName()
                                                                                    : QString();
    };
    const QString real = write(QStringLiteral("real.jpg"), jpeg);
    QVERIFY(!real.isEmpty());
    QCOMPARE(picture::decodeJpegUpright(real, QSize(32, 32)).image.size(), QSize(32, 32));

    // Frame header: marker, length (2), precision (1), height (2), width (2).
    qToBigEndian<quint16>(20000, jpeg.data() + sof + 5);
    qToBigEndian<quint16>(20000, jpeg.data() + sof + 7);
    const QString hostile = write(QStringLiteral("hostile.jpg"), jpeg);
    QVERIFY(!hostile.isEmpty());
    QVERIFY(picture::decodeJpegUpright(hostile, QSize(400, 200)).image.isNull());
}

QTEST_MAIN(TstJpegDecoder)
#include "tst_jpegdecoder.moc"
