// How a picture is turned upright for every orientation a camera can record,
// and the helper thread the decoders and the tile jobs put on another core.

#include "picture/corethread.h"
#include "picture/orientation.h"

#include <QtEndian>
#include <QtTest>

#include <atomic>

#include <sched.h>

namespace {

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

class TstOrientation : public QObject
{
    Q_OBJECT
private slots:
    void orientationTag_data();
    void orientationTag();
    void everyOrientationTurnsUpright_data();
    void everyOrientationTurnsUpright();
    void coreThreadRunsBesideItsMaker();
};

void TstOrientation::orientationTag_data()
{
    QTest::addColumn<QByteArray>("app1");
    QTest::addColumn<int>("orientation");
    QTest::newRow("little endian") << exifWithOrientation(6, true) << 6;
    QTest::newRow("big endian") << exifWithOrientation(8, false) << 8;
    QTest::newRow("out of range") << exifWithOrientation(9, true) << 1;
    QTest::newRow("not exif") << QByteArray("http://ns.adobe.com/xap/1.0/") << 1;
    QTest::newRow("cut short") << exifWithOrientation(6, true).left(20) << 1;
}

void TstOrientation::orientationTag()
{
    QFETCH(QByteArray, app1);
    QFETCH(int, orientation);
    QCOMPARE(picture::exifOrientation(app1), orientation);
}

void TstOrientation::everyOrientationTurnsUpright_data()
{
    QTest::addColumn<int>("orientation");
    for (int o = 1; o <= 8; ++o)
        QTest::newRow(qPrintable(QString::number(o))) << o;
}

void TstOrientation::everyOrientationTurnsUpright()
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
    const QImage shown = picture::applyOrientation(stored, orientation);
    QCOMPARE(shown.size(), orientation >= 5 ? QSize(h, w) : QSize(w, h));
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            QCOMPARE(shown.pixel(x, y), stored.pixel(source(x, y)));
}

// The work runs on another core than the maker's while there is one, may
// go anywhere the process may once it runs, and runs on the only core too.
void TstOrientation::coreThreadRunsBesideItsMaker()
{
    cpu_set_t all;
    QVERIFY(sched_getaffinity(0, sizeof all, &all) == 0);
    for (const bool oneCore : {false, true}) {
        if (oneCore) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(sched_getcpu(), &one);
            QVERIFY(sched_setaffinity(0, sizeof one, &one) == 0);
        }
        const int maker = sched_getcpu();
        std::atomic<int> ranOn{-1};
        cpu_set_t mayUse;
        CPU_ZERO(&mayUse);
        picture::CoreThread helper([&] {
            ranOn = sched_getcpu();
            sched_getaffinity(0, sizeof mayUse, &mayUse);
        });
        QVERIFY(helper.start());
        const bool makerStayed = sched_getcpu() == maker;
        helper.join();
        cpu_set_t now;
        QVERIFY(sched_getaffinity(0, sizeof now, &now) == 0);
        QVERIFY(CPU_EQUAL(&mayUse, &now));
        if (!oneCore && CPU_COUNT(&all) > 1 && makerStayed)
            QVERIFY(ranOn != maker);
        QVERIFY(ranOn >= 0);
    }
    QVERIFY(sched_setaffinity(0, sizeof all, &all) == 0);
}

QTEST_MAIN(TstOrientation)
#include "tst_orientation.moc"
