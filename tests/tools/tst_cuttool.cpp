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

#include <QRegularExpression>
#include <QScopeGuard>
#include <QStorageInfo>

#include <cstring>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using files::readAll;

namespace {

const QString data = QStringLiteral(MOSALUNE_TEST_DATA);
const QString cutter = QStringLiteral(MOSALUNE_TOOLS_DIR "/mosalune-cut");

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the cutter the way a script on a machine without a desktop would,
// started in `folder` and held to `addressSpace` bytes when these are given,
// through `wrapper` (a program and its arguments before the cutter's path).
Run cut(const QStringList &arguments, const QString &folder = QString(), rlim_t addressSpace = 0,
        const QStringList &wrapper = {}, const QString &program = cutter)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    if (addressSpace)
        process.setChildProcessModifier([addressSpace] {
            const rlimit limit{addressSpace, addressSpace};
            setrlimit(RLIMIT_AS, &limit);
        });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    if (wrapper.isEmpty())
        process.start(program, arguments);
    else
        process.start(wrapper.first(), wrapper.mid(1) + QStringList{program} + arguments);
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
    void writeFailures_data();
    void writeFailures();
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
    QTest::newRow("picture named 3.jpg") << "%1/3.jpg" << QStringLiteral("图片 %1/3.jpg 就是要写入的第 3 块 3.jpg");
    QTest::newRow("named 8.jpg, by a link") << "%1/link/8.jpg" << QStringLiteral("图片 %1/link/8.jpg 就是要写入的第 8 块 8.jpg");
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
    if (reason.contains(QLatin1String("%1")))
        QVERIFY2(run.err.startsWith(reason.arg(own.path())), qPrintable(run.err));
    else
        QCOMPARE(run.err, reason + QStringLiteral(": ") + path + QLatin1Char('\n'));
    QCOMPARE(QDir(good.path()).entryList(QDir::Files).size(), 9);
    QVERIFY(!path.startsWith(own.path()) || readAll(path) == readAll(source)); // never overwritten
}

// Every entry of a folder, also those whose names Qt cannot decode.
static int entryCount(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    int count = 0;
    while (const dirent *entry = dir ? ::readdir(dir) : nullptr)
        count += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
    if (dir)
        ::closedir(dir);
    return count;
}

void TstCutTool::writeFailures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message"); // a pattern; %1: the folder
    const QString kept = QStringLiteral("，图片切割已停止，原有的图片没有改动。\n");
    QTest::newRow("full disk") << "full" << QStringLiteral("无法写入文件 %1/[1-8]\\.jpg（磁盘空间不足）") + kept;
    QTest::newRow("read-only folder") << "read-only" << QStringLiteral("无法写入文件 %1/1\\.jpg（文件夹是只读的）") + kept;
    QTest::newRow("no permission") << "nobody" << QStringLiteral("无法写入文件 %1/1\\.jpg（没有写入权限）") + kept;
    QTest::newRow("no such picture") << "missing" << QStringLiteral("找不到文件: %1/picture\\.png\n");
    QTest::newRow("link to nowhere") << "dangling" << QStringLiteral("找不到文件: %1/picture\\.png\n");
    QTest::newRow("GBK file name") << "gbk" << QStringLiteral("无法打开文件，文件名不是 UTF-8 编码: \\./\uFFFD+\\.png\n");
}

void TstCutTool::writeFailures()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);
    QTemporaryDir dir, bin;
    const QString folder = dir.path();
    // A small file system of its own, for the faults only one can have.
    const bool mounted = fault == "full" || fault == "read-only";
    if (mounted && QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8m", "mosalune-test", folder}) != 0)
        QSKIP("mounting a small file system needs root");
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            QProcess::execute("umount", {folder});
        ::unlink(QFile::encodeName(folder) + "/\xc7\xd0.png"); // Qt cannot name it
    });
    // Another picture's tiles are there already.
    for (const QString &tile : tileNames())
        files::writeFile(dir.filePath(tile), "old " + tile.toUtf8());
    const QString picture = dir.filePath("picture.png");
    if (fault == "dangling")
        QVERIFY(QFile::link(dir.filePath("gone.png"), picture));
    else if (fault == "gbk") // "切.png" in GBK
        QVERIFY(::symlink(QFile::encodeName(data + "/picture.png"), QFile::encodeName(folder) + "/\xc7\xd0.png") == 0);
    else if (fault != "missing")
        QVERIFY(QFile::copy(data + "/picture.png", picture));
    QStringList wrapper, arguments{picture};
    QString program = cutter;
    if (fault == "full") { // room for about one tile
        const QStorageInfo disk(folder);
        const qint64 size = disk.bytesTotal() - disk.bytesAvailable() + 96 * 1024;
        QCOMPARE(QProcess::execute("mount", {"-o", "remount,size=" + QString::number(size), folder}), 0);
    } else if (fault == "read-only") {
        QCOMPARE(QProcess::execute("mount", {"-o", "remount,ro", folder}), 0);
    } else if (fault == "nobody") { // root may write anywhere
        program = bin.filePath("mosalune-cut");
        QVERIFY(QFile::copy(cutter, program));
        QVERIFY(::chmod(qPrintable(folder), 0755) == 0 && ::chmod(qPrintable(bin.path()), 0755) == 0);
        wrapper = QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else if (fault == "gbk") { // a name that is not UTF-8 only goes through as bytes
        wrapper = QStringList{"sh", "-c", "exec \"$0\" ./*.png"};
        arguments.clear();
    }
    const Run run = cut(arguments, folder, 0, wrapper, program);
    QCOMPARE(run.exitCode, 1);
    const QRegularExpression expected('^' + message.arg(QRegularExpression::escape(folder)) + '$');
    QVERIFY2(expected.match(run.err).hasMatch(), qPrintable(run.err));
    // Every old tile as it was, and nothing else left behind.
    QCOMPARE(entryCount(folder), 8 + (fault == "missing" ? 0 : 1));
    for (const QString &tile : tileNames())
        QCOMPARE(readAll(dir.filePath(tile)), "old " + tile.toUtf8());
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
