// mosalune-cut: the window's tile job from the command line, with no display.

#include "support/files.h"
#include "support/formharness.h"
#include "support/metafilebuilder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

using files::readAll;

namespace {

const QString data = QStringLiteral(MOSALUNE_TEST_DATA);
const QString cutter = QStringLiteral(MOSALUNE_TOOLS_DIR "/mosalune-cut");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif
// MiB the sanitizer holds beside the program's own: its quarantine of freed
// blocks (256 by default) and the shadow of what the program touches.
constexpr rlim_t kSanitizerKeeps = 512;

// Runs the cutter the way a script on a machine without a desktop would,
// started in `folder` and held to `memory` bytes when these are given: its
// address space, or under AddressSanitizer (whose shadow alone takes
// terabytes of it) its peak resident memory as the sanitizer measures it.
Run cut(const QStringList &arguments, const QString &folder = QString(), rlim_t memory = 0)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (memory && kAddressSanitizer) {
        const QString options = env.value(QStringLiteral("ASAN_OPTIONS"));
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   options + (options.isEmpty() ? "" : ":") + QStringLiteral("hard_rss_limit_mb=%1")
                       .arg((memory >> 20) + kSanitizerKeeps));
    } else if (memory) {
        process.setChildProcessModifier([memory] {
            const rlimit limit{memory, memory};
            setrlimit(RLIMIT_AS, &limit);
        });
    }
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(cutter, arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString copyInto(const QTemporaryDir &dir, const QString &name)
{
    const QString target = dir.filePath(name);
    QFile::copy(data + QLatin1Char('/') + name, target);
    return target;
}

} // namespace

class TstCutTool : public QObject
{
    Q_OBJECT
private slots:
    void writesWhatTheWindowWrites_data();
    void writesWhatTheWindowWrites();
    void badPictureIsReportedAndSkipped();
    void helpAndUsage();
    void reasonPerFile_data();
    void reasonPerFile();
    void hostileFiles_data();
    void hostileFiles();
    void commandLine_data();
    void commandLine();
    void optionLookalikeIsNeverAPicture();
    void picturesSharingAFolder();
    void ownFolderPerPicture();
};

void TstCutTool::writesWhatTheWindowWrites_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("jpeg") << "picture.jpg";
    QTest::newRow("wmf") << "picture.wmf";
    QTest::newRow("rotated photo") << "rotated-exif.jpg";
    QTest::newRow("webp") << "picture.webp";
    QTest::newRow("tiff") << "picture.tiff";
    QTest::newRow("heic") << "picture.heic";
    QTest::newRow("avif") << "picture.avif";
    QTest::newRow("webp with alpha") << "alpha.webp";
}

void TstCutTool::writesWhatTheWindowWrites()
{
    QFETCH(QString, file);
    QTemporaryDir byWindow;
    QTemporaryDir byTool;

    FormHarness h(QStringLiteral("http://127.0.0.1:9/release.html"));
    h.network.result = false;
    QVERIFY(h.open());
    h.dialogs.fileNames << copyInto(byWindow, file);
    QTest::mouseClick(h.form->findChild<QPushButton *>("Command1"), Qt::LeftButton);
    QTest::mouseClick(h.form->findChild<QPushButton *>("Command2"), Qt::LeftButton);
    QCOMPARE(h.dialogs.messages.size(), 1);

    const Run run = cut({copyInto(byTool, file)});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    for (int tile = 1; tile <= 8; ++tile) {
        const QString name = QString::number(tile) + QStringLiteral(".jpg");
        const QByteArray expected = readAll(byWindow.filePath(name));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(readAll(byTool.filePath(name)), expected);
    }
}

void TstCutTool::badPictureIsReportedAndSkipped()
{
    QTemporaryDir good;
    QTemporaryDir bad;
    QTemporaryDir alsoGood;
    QTemporaryDir slowDir;
    const QString notes = copyInto(bad, "notes.txt");
    // A metafile that would keep the player busy for half a minute.
    const QString slow = slowDir.filePath(QStringLiteral("slow.wmf"));
    files::writeFile(slow, metafiles::slowPie());
    const Run run = cut({copyInto(good, "picture.png"), notes, slow, copyInto(alsoGood, "picture.gif")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("图片格式错误: ") + notes), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("图片格式错误: ") + slow), qPrintable(run.err));
    // Nothing beside the bad files; both good pictures are cut all the same.
    QCOMPARE(QDir(bad.path()).entryList(QDir::Files), QStringList({"notes.txt"}));
    QCOMPARE(QDir(slowDir.path()).entryList(QDir::Files), QStringList({"slow.wmf"}));
    QCOMPARE(QDir(good.path()).entryList(QDir::Files).size(), 9);
    QCOMPARE(QDir(alsoGood.path()).entryList(QDir::Files).size(), 9);
}

void TstCutTool::helpAndUsage()
{
    const Run help = cut({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains(QStringLiteral("mosalune-cut")));
    QVERIFY(help.out.contains(QStringLiteral("1.jpg")));
    const Run none = cut({});
    QCOMPARE(none.exitCode, 2);
    QVERIFY(none.out.isEmpty());
}

namespace {

QStringList tileNames()
{
    QStringList names;
    for (int tile = 1; tile <= 8; ++tile)
        names << QString::number(tile) + QStringLiteral(".jpg");
    return names;
}

} // namespace

void TstCutTool::reasonPerFile_data()
{
    QTest::addColumn<QString>("path"); // %1: a folder of its own with that test picture (or picture.jpg)
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such file") << data + "/no-such-file.png" << QStringLiteral("找不到文件");
    QTest::newRow("a folder") << data << QStringLiteral("这是文件夹，不是图片");
    QTest::newRow("not a picture") << data + "/notes.txt" << QStringLiteral("图片格式错误");
    QTest::newRow("empty file") << data + "/empty.jpg" << QStringLiteral("图片格式错误");
    // Opens, but every read fails (even for root).
    QTest::newRow("unreadable") << QStringLiteral("/proc/self/mem") << QStringLiteral("无法读取文件");
    QTest::newRow("picture named 3.jpg") << "%1/3.jpg" << QStringLiteral("图片本身就是要写入的 3.jpg，切图会覆盖它，所以没有切");
    QTest::newRow("named 8.jpg, by a link") << "%1/link/8.jpg" << QStringLiteral("图片本身就是要写入的 8.jpg，切图会覆盖它，所以没有切");
    QTest::newRow("JPEG cut short") << "%1/cut-short.jpg" << QStringLiteral("图片已损坏或不完整，只切了能读出的部分");
}

void TstCutTool::reasonPerFile()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QTemporaryDir good, own;
    const QString name = QFileInfo(path).fileName(), source = data + (QFile::exists(data + "/" + name) ? "/" + name : "/picture.jpg");
    path = path.arg(own.path());
    QVERIFY(QFile::link(own.path(), own.filePath("link")) && (!path.startsWith(own.path()) || QFile::copy(source, path)));
    const Run run = cut({path, copyInto(good, "picture.png")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, reason + QStringLiteral(": ") + path + QLatin1Char('\n'));
    QCOMPARE(QDir(good.path()).entryList(QDir::Files).size(), 9);
    QVERIFY(!path.startsWith(own.path()) || readAll(path) == readAll(source)); // never overwritten
}

// A deflate TIFF of any size in a few kilobytes: every strip of 64 black rows
// points at the same compressed bytes. `orientation` as EXIF numbers it.
static QByteArray deflateTiff(quint32 width, quint32 height, quint32 orientation = 1)
{
    const quint32 strips = (height + 63) / 64;
    QByteArray strip = qCompress(QByteArray(qsizetype(width) * 3 * 64, '\0')).mid(4);
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const auto u16 = [&](quint32 v) { tiff.append(char(v & 0xFF)).append(char(v >> 8 & 0xFF)); };
    const auto u32 = [&](quint32 v) { u16(v & 0xFFFF), u16(v >> 16); };
    // Bits per sample, strip offsets and counts follow the directory.
    const quint32 bitsAt = 8 + 2 + 10 * 12 + 4, offsetsAt = bitsAt + 8;
    const quint32 countsAt = offsetsAt + 4 * strips, stripAt = countsAt + 4 * strips;
    const quint32 tags[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, bitsAt}, {259, 3, 8}, {262, 3, 2},
                               {273, 4, offsetsAt}, {274, 3, orientation}, {277, 3, 3}, {278, 4, 64}, {279, 4, countsAt}};
    u16(10);
    for (const auto &tag : tags) {
        u16(tag[0]), u16(tag[1]), u32(tag[0] == 258 ? 3 : tag[0] == 273 || tag[0] == 279 ? strips : 1);
        u32(tag[2]); // a short stored in place, little-endian, is the same
    }
    u32(0), u16(8), u16(8), u16(8), u16(0);
    for (quint32 i = 0; i < 2 * strips; ++i)
        u32(i < strips ? stripAt : quint32(strip.size()));
    return tiff + strip;
}

void TstCutTool::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes"); // a JPEG is grown to 3 GB, sparse
    QTest::addColumn<bool>("cut");
    const QByteArray jpeg = readAll(data + "/picture.jpg");
    const qsizetype scan = jpeg.indexOf("\xFF\xDA");
    const qsizetype scanData = scan + 2 + (quint8(jpeg[scan + 2]) << 8 | quint8(jpeg[scan + 3]));
    // Each crashed under the cap, took a gigabyte or a minute of work.
    QTest::newRow("JPEG header, then 3 GB of nothing") << jpeg.left(scanData) << false;
    QTest::newRow("whole JPEG, then 3 GB of nothing") << jpeg << true;
    QImage bomb(16384, 8193, QImage::Format_Mono);
    bomb.fill(0);
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    bomb.save(&png, "png");
    QTest::newRow("1-bit PNG, one row past 128 Mi pixels") << png.data() << false;
    QTest::newRow("30-byte lossless WebP, 16384 x 16384")
        << QByteArray("RIFF\x16\0\0\0WEBPVP8L\x0a\0\0\0\x2f\xff\xff\xff\x0f\x88\x88\xfe\x07\0", 30) << false;
    QTest::newRow("35-byte GIF, 16383 x 16383 screen")
        << QByteArray("GIF89a\xff?\xff?\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0\1\0\1\0\0\2\2D\1\0;", 35) << false;
    QTest::newRow("deflate TIFF, 16383 x 16383") << deflateTiff(16383, 16383) << false;
    // At the bound, turned by its tag: cut within the cap.
    QTest::newRow("deflate TIFF of 128 Mi pixels, turned") << deflateTiff(16384, 8192, 6) << true;
}

void TstCutTool::hostileFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, cut);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile"));
    files::writeFile(path, bytes);
    if (bytes.startsWith("\xFF\xD8"))
        QVERIFY(QFile::resize(path, 3LL << 30));
    const Run run = ::cut({path}, QString(), 1LL << 30);
    QCOMPARE(run.err, cut ? QString() : QStringLiteral("图片格式错误: %1\n").arg(path));
    QCOMPARE(run.exitCode, cut ? 0 : 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), cut ? 9 : 1);
}

void TstCutTool::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("errStart");
    const QString usage = QStringLiteral("用法: mosalune-cut");
    QTest::newRow("version") << QStringList({"--version"}) << 0 << "mosalune-cut 13.04.20\n"
                             << QString();
    QTest::newRow("unknown long option")
        << QStringList({"--bogus", data + "/picture.png"}) << 2 << QString()
        << QStringLiteral("mosalune-cut: 未知选项 \"--bogus\"\n\n") + usage;
    QTest::newRow("unknown short option") << QStringList({"-x"}) << 2 << QString()
                                          << QStringLiteral("mosalune-cut: 未知选项 \"-x\"\n\n") + usage;
    QTest::newRow("a lone dash") << QStringList({"-"}) << 2 << QString()
                                 << QStringLiteral("mosalune-cut: 未知选项 \"-\"\n\n") + usage;
    QTest::newRow("output without folder") << QStringList({data + "/picture.png", "-o"}) << 2
                                           << QString() << QStringLiteral("mosalune-cut: -o ");
    QTest::newRow("nothing to cut") << QStringList() << 2 << QString() << usage;
}

void TstCutTool::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, errStart);
    QTemporaryDir cwd;
    const Run run = cut(arguments, cwd.path());
    QCOMPARE(run.exitCode, status);
    QCOMPARE(run.out, out);
    QVERIFY2(run.err.startsWith(errStart), qPrintable(run.err));
    if (status == 2)
        QVERIFY(run.err.contains(QStringLiteral("退出码")));
    QVERIFY(QDir(cwd.path()).isEmpty());
}

void TstCutTool::optionLookalikeIsNeverAPicture()
{
    QTemporaryDir dir;
    copyInto(dir, "picture.png");
    QVERIFY(QFile::rename(dir.filePath("picture.png"), dir.filePath("-p.png")));
    const Run refused = cut({"-p.png"}, dir.path());
    QCOMPARE(refused.exitCode, 2);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"-p.png"}));
    const Run cutAfterDashes = cut({"--", "-p.png"}, dir.path());
    QCOMPARE(cutAfterDashes.exitCode, 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 9);
}

void TstCutTool::picturesSharingAFolder()
{
    // Two pictures in one folder would write each other's tiles: nothing is
    // written and both are named.
    QTemporaryDir dir;
    const QString a = copyInto(dir, "picture.png");
    const QString b = copyInto(dir, "picture.gif");
    const Run run = cut({a, b});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.err.contains(a) && run.err.contains(b), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("-o")), qPrintable(run.err));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);

    // The same picture named twice, however spelled, meets nothing.
    const Run twice = cut({a, "picture.png"}, dir.path());
    QCOMPARE(twice.exitCode, 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 10);

    // Under -o, two pictures of one name from different folders would meet.
    QTemporaryDir other;
    QTemporaryDir out;
    const Run sameName = cut({"-o", out.path(), a, copyInto(other, "picture.png")});
    QCOMPARE(sameName.exitCode, 3);
    QVERIFY(QDir(out.path()).isEmpty());
}

void TstCutTool::ownFolderPerPicture()
{
    QTemporaryDir dir;
    QTemporaryDir out;
    const QString a = copyInto(dir, "picture.png");
    const QString b = copyInto(dir, "rotated-exif.jpg");
    const QString c = copyInto(dir, "picture.jpg"); // only its extension tells it from a
    const Run run = cut({"--output", out.path(), a, b, c});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);

    // Each folder holds exactly what a picture cut on its own gets.
    for (const auto &[name, folder] : {std::pair{"picture.png", "picture.png"},
                                       {"rotated-exif.jpg", "rotated-exif"}, {"picture.jpg", "picture.jpg"}}) {
        QTemporaryDir alone;
        QCOMPARE(cut({copyInto(alone, name)}).exitCode, 0);
        const QDir tilesDir(out.filePath(folder));
        QCOMPARE(tilesDir.entryList(QDir::Files), tileNames());
        for (const QString &tile : tileNames())
            QCOMPARE(readAll(tilesDir.filePath(tile)), readAll(alone.filePath(tile)));
    }
}

QTEST_MAIN(TstCutTool)
#include "tst_cuttool.moc"
