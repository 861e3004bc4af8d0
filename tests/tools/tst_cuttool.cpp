// mosalune-cut: the window's tile job from the command line, with no display.

#include "support/files.h"
#include "support/formharness.h"
#include "support/metafilebuilder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCryptographicHash>
#include <QImageWriter>
#include <QPainter>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <QRegularExpression>
#include <QScopeGuard>
#include <QStorageInfo>

#include <cmath>
#include <cstring>

#include <libheif/heif.h>

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
// started in `folder` and held to `memory` bytes when these are given (its
// address space, or under AddressSanitizer, whose shadow alone takes
// terabytes of it, its peak resident memory as the sanitizer measures it),
// through `wrapper` (a program and its arguments before the cutter's path).
Run cut(const QStringList &arguments, const QString &folder = QString(), rlim_t memory = 0,
        const QStringList &wrapper = {}, const QString &program = cutter)
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
    void gridJob_data();
    void gridJob();
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

namespace grid {

// Smooth but never flat, so a tile from the wrong place or scale shows.
QImage synthetic()
{
    QImage image(300, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            image.setPixel(x, y, qRgb(x * 255 / 299, y * 255 / 199, int(128 + 127 * std::sin(x / 17.0) * std::cos(y / 13.0))));
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(95);
    return writer.write(image) ? buffer.data() : QByteArray();
}

// A JPEG with an EXIF block: `orientation` and a GPS position (latitude "N").
QByteArray withExif(const QByteArray &jpeg, int orientation)
{
    QByteArray exif("Exif\0\0MM\0*\0\0\0\x08\0\x02\x01\x12\0\x03\0\0\0\x01\0\0\0\0\x88\x25\0\x04\0\0\0\x01\0\0\0\x26"
                    "\0\0\0\0\0\x01\0\x01\0\x02\0\0\0\x02N\0\0\0\0\0\0\0", 62);
    exif[25] = char(orientation);
    const int app0 = 4 + (quint8(jpeg[4]) << 8 | quint8(jpeg[5]));
    return jpeg.left(app0) + QByteArray("\xFF\xE1") + char((exif.size() + 2) >> 8) + char(exif.size() + 2) + exif + jpeg.mid(app0);
}

// A lossless HEIF of `image` carrying `profile`, written by libheif.
QByteArray heifWithProfile(const QImage &image, const QByteArray &profile)
{
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_image *picture = nullptr;
    QByteArray out;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code == heif_error_Ok
        && heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture).code == heif_error_Ok
        && heif_image_add_plane(picture, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code == heif_error_Ok) {
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width() * 3));
        heif_image_set_raw_color_profile(picture, "prof", profile.constData(), size_t(profile.size()));
        heif_encoder_set_lossless(encoder, 1);
        heif_writer writer{1, [](heif_context *, const void *data, size_t size, void *into) {
                               static_cast<QByteArray *>(into)->append(static_cast<const char *>(data), qsizetype(size));
                               return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                           }};
        if (heif_context_encode_image(context, picture, encoder, nullptr, nullptr).code == heif_error_Ok)
            heif_context_write(context, &writer, &out);
    }
    heif_image_release(picture);
    heif_encoder_release(encoder);
    heif_context_free(context);
    return out;
}

// The picture a source key names, and what it is upright, in sRGB.
QByteArray source(const QString &key, QImage *upright)
{
    *upright = synthetic();
    if (key == "synthetic.png")
        return encoded(*upright, "png");
    if (key == "gps.jpg")
        return withExif(encoded(*upright, "jpeg"), 1);
    if (key == "turned-gps.jpg") // stored a quarter turn back, EXIF 6 turns it upright
        return withExif(encoded(upright->transformed(QTransform().rotate(-90)), "jpeg"), 6);
    QImage red(64, 64, QImage::Format_RGB32); // a profile that swaps red and green
    red.fill(Qt::red);
    red.setColorSpace(QColorSpace::fromIccProfile(readAll("/usr/share/color/icc/colord/SwappedRedAndGreen.icc")));
    upright->fill(Qt::green);
    *upright = upright->copy(0, 0, 64, 64);
    const QString format = QFileInfo(key).suffix();
    if (format == "heic")
        return heifWithProfile(red, red.colorSpace().iccProfile());
    return encoded(red, format == "jpg" ? "jpeg" : qPrintable(format));
}

QString option(const QStringList &args, const QString &name, const QString &otherwise)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 ? args.at(at + 1) : otherwise;
}

// The grid's area as the options define it; `edge` gets the tiles' edge.
QImage expectedArea(const QImage &p, const QStringList &args, int *edge)
{
    const QStringList cr = option(args, "--grid", "4x2").split('x');
    const int c = cr[0].toInt(), r = cr[1].toInt(), g = option(args, "--gap", "0").toInt();
    const QString fit = option(args, "--fit", "stretch");
    const bool full = option(args, "--size", "") == "full";
    const int w = p.width(), h = p.height();
    int s = option(args, "--size", "146").toInt();
    if (full)
        s = fit == "pad" ? std::max((w + c - 1) / c, (h + r - 1) / r) : std::min((w - (c - 1) * g) / c, (h - (r - 1) * g) / r);
    *edge = s;
    const int aw = c * s + (c - 1) * g, ah = r * s + (r - 1) * g;
    QImage area(aw, ah, QImage::Format_RGB32);
    area.fill(QColor::fromString(option(args, "--background", "#ffffff")));
    QPainter painter(&area);
    if (fit == "stretch") {
        painter.drawImage(0, 0, p.scaled(aw, ah, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    } else if (fit == "crop") {
        const double k = full ? 1.0 : std::min(double(w) / aw, double(h) / ah);
        const int cw = int(std::lround(k * aw)), ch = int(std::lround(k * ah));
        painter.drawImage(0, 0, p.copy((w - cw) / 2, (h - ch) / 2, cw, ch).scaled(aw, ah, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    } else {
        const double k = full ? 1.0 : std::max(double(w) / aw, double(h) / ah);
        const QImage placed = p.scaled(int(std::lround(w / k)), int(std::lround(h / k)), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage((aw - placed.width()) / 2, (ah - placed.height()) / 2, placed);
    }
    return area;
}

double psnr(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return 0;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::pow(qRed(p) - qRed(q), 2) + std::pow(qGreen(p) - qGreen(q), 2) + std::pow(qBlue(p) - qBlue(q), 2);
        }
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255 * 3 * a.width() * a.height() / sum);
}

// The quantisation tables of a JPEG file, as its DQT segments hold them.
QByteArray quantisationTables(const QByteArray &jpeg)
{
    QByteArray tables;
    for (qsizetype at = 2; at + 4 < jpeg.size() && quint8(jpeg[at + 1]) != 0xDA;) {
        const int length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        if (quint8(jpeg[at + 1]) == 0xDB)
            tables += jpeg.mid(at + 4, length - 2);
        at += 2 + length;
    }
    return tables;
}

} // namespace grid

void TstCutTool::gridJob_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("source"); // grid::source's key, or "data/NAME" from tests/data
    QTest::addColumn<QString>("expected"); // a refusal's start, the default job's SHA-256, or empty
    const auto row = [](const char *name, const QString &args, const QString &source, const QString &expected = {}) {
        QTest::newRow(name) << args.split(' ', Qt::SkipEmptyParts) << source << expected;
    };
    row("stretch, 3x3", "--grid 3x3 --size 64", "synthetic.png");
    row("stretch, enlarged", "--grid 1x1 --size 400", "synthetic.png");
    row("crop with a gap", "--grid 2x1 --size 50 --fit crop --gap 10", "synthetic.png");
    row("pad on green", "--grid 2x2 --size 40 --fit pad --background #00ff00", "synthetic.png");
    row("crop at full size with a gap", "--grid 3x2 --size full --fit crop --gap 4", "synthetic.png");
    row("pad at full size", "--grid 4x1 --size full --fit pad", "synthetic.png");
    row("JPEG tiles", "--grid 2x2 --size 80 --format jpeg --quality 92", "synthetic.png");
    row("PNG tiles", "--grid 2x2 --size 80 --format png", "synthetic.png");
    row("WebP tiles", "--grid 2x2 --size 80 --format webp", "synthetic.png");
    row("bitmap tiles", "--grid 2x2 --size 80 --format bmp", "synthetic.png");
    row("ICC-tagged PNG: red comes out green", "--grid 1x1 --size 32 --format png", "red-icc.png");
    row("ICC-tagged JPEG: red comes out green", "--grid 1x1 --size 32 --format jpeg", "red-icc.jpg");
    row("ICC-tagged WebP: red comes out green", "--grid 1x1 --size 32 --format png", "red-icc.webp");
    row("ICC-tagged HEIF: red comes out green", "--grid 1x1 --size 32 --format png", "red-icc.heic");
    row("EXIF-turned JPEG with a GPS tag", "--grid 2x3 --size full --fit crop --format jpeg", "turned-gps.jpg");
    row("JPEG cut at its own size as its rows decode", "--grid 3x2 --size full --fit crop --gap 8 --format png", "gps.jpg");
    row("lossless", "--grid 3x2 --size full --fit crop --format jpeg --lossless", "gps.jpg");
    row("lossless refused: turned", "--grid 3x2 --size full --fit crop --format jpeg --lossless", "turned-gps.jpg",
        QStringLiteral("照片带有 EXIF 方向标记"));
    row("lossless refused: not a JPEG", "--grid 3x2 --size full --fit crop --format jpeg --lossless", "synthetic.png",
        QStringLiteral("--lossless 只能切 JPEG 图片"));
    // The default job's tiles as the window has always written them.
    row("default job, JPEG", "", "data/picture.jpg", "1dc069636bacf4ab");
    row("default job, turned JPEG", "", "data/rotated-exif.jpg", "fc1862455ca38384");
    row("default job, PNG", "", "data/picture.png", "c99373a76407f864");
    row("default job, HEIC", "", "data/picture.heic", "fe4efaa22f05bc06");
    row("default job, WebP with alpha", "", "data/alpha.webp", "c7ef462da34425bb");
}

void TstCutTool::gridJob()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QImage upright;
    const QString picture = dir.filePath(QFileInfo(source).fileName());
    const QByteArray bytes = source.startsWith("data/") ? readAll(data + source.mid(4)) : grid::source(source, &upright);
    files::writeFile(picture, bytes);
    const Run run = cut(arguments + QStringList{picture});
    if (arguments.isEmpty()) {
        QByteArray all;
        for (const QString &tile : tileNames())
            all += readAll(dir.filePath(tile));
        QCOMPARE(QCryptographicHash::hash(all, QCryptographicHash::Sha256).toHex().left(16), expected.toLatin1());
        return;
    }
    if (!expected.isEmpty()) {
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.startsWith(expected) && run.err.endsWith(picture + '\n'), qPrintable(run.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
        return;
    }
    QCOMPARE(run.err, QString());
    QCOMPARE(run.exitCode, 0);
    const bool lossless = arguments.contains("--lossless");
    int edge = 0;
    const QImage area = grid::expectedArea(upright, arguments, &edge);
    const QString format = grid::option(arguments, "--format", "bmp");
    const QString extension = format == "jpeg" ? "jpg" : format;
    const QStringList cr = grid::option(arguments, "--grid", "4x2").split('x');
    const int columns = cr[0].toInt(), count = columns * cr[1].toInt(), step = edge + grid::option(arguments, "--gap", "0").toInt();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), count + 1);
    const QByteArray magic = QMap<QString, QByteArray>{{"bmp", "BM"}, {"jpeg", "\xFF\xD8\xFF"}, {"png", "\x89PNG"}, {"webp", "RIFF"}}.value(format);
    for (int tile = 1; tile <= count; ++tile) {
        const QByteArray file = readAll(dir.filePath(QStringLiteral("%1.%2").arg(tile).arg(extension)));
        QVERIFY2(file.startsWith(magic) && !file.contains(QByteArray("Exif\0\0", 6)), qPrintable(QString::number(tile)));
        QImage image = QImage::fromData(file);
        QRect square((tile - 1) % columns * step, (tile - 1) / columns * step, edge, edge);
        if (lossless) { // from the block edge at or before the corner, the source's own tables
            square.setTopLeft(QPoint(square.x() / 16 * 16, square.y() / 16 * 16));
            QCOMPARE(grid::quantisationTables(file), grid::quantisationTables(bytes));
        } else if (format != "bmp") {
            QCOMPARE(image.colorSpace(), QColorSpace(QColorSpace::SRgb));
        }
        image.setColorSpace(QColorSpace());
        const double quality = grid::psnr(image.convertToFormat(QImage::Format_RGB32), area.copy(square));
        QVERIFY2(quality > 30, qPrintable(QStringLiteral("tile %1: %2 dB").arg(tile).arg(quality)));
    }
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
    QTest::newRow("grid past 10") << QStringList({"--grid=11x1", data + "/picture.png"}) << 2 << QString()
                                  << QStringLiteral("mosalune-cut: --grid 后面要写列x行，各 1 到 10");
    QTest::newRow("lossless, padded") << QStringList({"--fit", "pad", "--lossless", data + "/picture.jpg"}) << 2
                                      << QString() << QStringLiteral("mosalune-cut: --lossless 只能和 --fit crop");
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
