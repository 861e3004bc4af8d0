// The tile job's files: eight bitmaps put in place together, replaced whole,
// and what stays when one cannot be written.

#include "tiles/tilegeometry.h"
#include "tiles/tilejob.h"
#include "tiles/tilewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "support/files.h"

using files::readAll;

using namespace tiles;

class TstTileJob : public QObject
{
    Q_OBJECT
private slots:
    void bitmapFiles();
    void writeFailureKeepsEveryOldTile();
};

void TstTileJob::bitmapFiles()
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

void TstTileJob::writeFailureKeepsEveryOldTile()
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

QTEST_MAIN(TstTileJob)
#include "tst_tilejob.moc"
