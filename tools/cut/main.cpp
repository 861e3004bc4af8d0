// mosalune-cut: the main window's tile job for scripts and batches.

#include "tiles/gridjob.h"
#include "tiles/tilegeometry.h"
#include "tiles/tilejob.h"
#include "tiles/tilewriter.h"
#include "picture/picturechild.h"
#include "picture/picturedecoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCoreApplication>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

#include <cstdio>

#include <unistd.h>

namespace {

// What the process tells its caller; the numbers are documented in --help.
enum ExitStatus : int {
    AllCut = 0,
    SomeNotCut = 1,
    UsageError = 2,
    WouldOverwrite = 3,
};

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

const char *const helpText =
    "用法: mosalune-cut [-o 文件夹] [网格选项] [--] 图片...\n"
    "Usage: mosalune-cut [-o DIR] [GRID OPTIONS] [--] PICTURE...\n"
    "\n"
    "把每张图片切成八块，在图片所在的文件夹写入 1.jpg 到 8.jpg（与主窗口\n"
    "\"生成图片\"写出的文件完全相同），已有的同名文件会被替换。这些文件的\n"
    "内容是 BMP 位图，虽然名字是 .jpg。\n"
    "Cuts each picture into eight tiles and writes 1.jpg ... 8.jpg beside it,\n"
    "exactly the files the main window writes for that picture, replacing\n"
    "files of those names. The files hold BMP data despite their names.\n"
    "\n"
    "选项 / Options:\n"
    "  -o, --output 文件夹  每张图片的切块写入 文件夹/<图片名>/，不写在图片旁边\n"
    "                       write each picture's tiles to DIR/<picture name>/\n"
    "                       （几张图片只差扩展名时用完整文件名，如 文件夹/pic.webp/）\n"
    "                       (the whole file name when only the extensions differ)\n"
    "  -h, --help           显示本说明 / show this text\n"
    "      --version        显示版本 / show the version\n"
    "  --                   其后的参数都是图片，即使以 - 开头\n"
    "                       everything after it is a picture, even if it starts with -\n"
    "\n"
    "网格选项（用了任何一个就按网格切：正方形的块，从左上角起逐行编号 1、2、3…，\n"
    "图片先按 EXIF 方向转正、按颜色配置文件转成 sRGB；块里不带 EXIF、XMP）:\n"
    "Grid options (any one cuts a grid of square tiles, numbered row by row from\n"
    "the top left; the picture is turned upright by its EXIF orientation and\n"
    "converted to sRGB by its colour profile; no tile carries EXIF or XMP):\n"
    "  --grid 列x行         1 到 10 列、1 到 10 行，默认 4x2 / columns x rows, 1-10 each\n"
    "  --size N|full        每块边长 16 到 8192 像素（默认 146），full 用图片本身的像素，\n"
    "                       从不放大 / tile edge in pixels, or full: the picture's own\n"
    "  --gap G              块与块之间留出 G 像素（0 到 200，默认 0），像平台的间隙一样\n"
    "                       去掉，线条才能连贯 / G pixels left out between tiles\n"
    "  --fit stretch|crop|pad  stretch 拉伸到网格（默认）；crop 取居中的最大部分；\n"
    "                       pad 整张放进网格，四周填 --background 的颜色\n"
    "                       stretch (default), centred crop, or padded fit\n"
    "  --background #RRGGBB pad 的底色，默认 #FFFFFF / the padding's colour\n"
    "  --format bmp|jpeg|png|webp  文件的格式和扩展名（.bmp .jpg .png .webp），默认 bmp\n"
    "                       the files' format and extension\n"
    "  --quality Q          JPEG 和 WebP 的质量 1 到 100，默认 92 / quality, 1-100\n"
    "  --lossless           只用于 JPEG 图片，并且要和 --fit crop --size full --format jpeg\n"
    "                       一起用：每块直接取原图的编码块，不重新编码，画质一点不损失；\n"
    "                       块的左上角移到它前面的 JPEG 块边上，所以块会略大一点。\n"
    "                       with --fit crop --size full --format jpeg, a JPEG's own coded\n"
    "                       blocks, never re-encoded; each tile starts at the block edge\n"
    "                       at or before its corner, so it may be a little larger\n"
    "\n"
    "例如 / Example (3 x 3, 1080 像素一块，切成 JPEG):\n"
    "  mosalune-cut --grid 3x3 --size 1080 --fit crop --format jpeg 照片.jpg\n"
    "  写入 1.jpg 到 9.jpg / writes 1.jpg ... 9.jpg\n"
    "  mosalune-cut --grid 3x3 --fit crop --size full --format jpeg --lossless 照片.jpg\n"
    "\n"
    "几张图片的切块会写入同一个文件夹、互相覆盖时，什么也不写，列出这些图片；\n"
    "请用 -o 给每张图片各自的文件夹。\n"
    "Pictures whose tiles would go to the same folder and overwrite each other\n"
    "are refused before anything is written; -o gives each its own folder.\n"
    "\n"
    "不能切的图片在标准错误输出原因和路径（找不到文件、是文件夹、图片格式错误、\n"
    "无法读取文件、无法写入文件、图片本身就是要写入的一块会被覆盖），然后继续\n"
    "处理下一张。一张图片的块要么全部写好，要么一块也不换。损坏或不完整的\n"
    "JPEG 照样切出能读出的部分，但也会报告。\n"
    "A picture that cannot be cut is reported on standard error with the reason\n"
    "and its path; nothing is written for it and the next picture is cut.\n"
    "A picture's tiles are all put in place, or none is. A picture that is\n"
    "itself one of the tile files is never cut. A damaged or cut-off JPEG is\n"
    "cut as far as it can be read, and reported.\n"
    "\n"
    "退出码 / Exit status:\n"
    "  0  每张图片都已切好 / every picture was cut\n"
    "  1  有图片没有切好或已损坏 / some picture was not cut, or was damaged\n"
    "  2  用法错误，什么也没写 / usage error, nothing written\n"
    "  3  图片会互相覆盖，什么也没写 / pictures would overwrite each other's\n"
    "     tiles, nothing written\n";

// Qt's own chatter about the platform (no runtime folder, no display) means
// nothing to somebody cutting pictures in a script; real failures are
// reported by the cutter itself.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        print(stderr, message + QLatin1Char('\n'));
}

struct CommandLine {
    QStringList pictures;
    QString outputRoot; // empty: beside each picture
    bool help = false;
    bool version = false;
    bool grid = false; // any grid option was given
    tiles::GridOptions options;
    QString error; // what was wrong with the command line
};

// The texts of a bad option value, each said once.
QString badValue(const QString &option)
{
    static const QMap<QString, QString> wanted = {
        {"--grid", "列x行，各 1 到 10，如 3x3"},
        {"--size", "16 到 8192 的像素数，或 full"},
        {"--gap", "0 到 200 的像素数"},
        {"--fit", "stretch、crop 或 pad"},
        {"--background", "#RRGGBB 形式的颜色，如 #FFFFFF"},
        {"--format", "bmp、jpeg、png 或 webp"},
        {"--quality", "1 到 100 的数"},
        {"--output", "文件夹"},
    };
    return QStringLiteral("%1 后面要写%2").arg(option, wanted.value(option));
}

int boundedNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n >= low && n <= high ? n : -1;
}

// One grid option's value into `options`; false when it is not one.
bool setGridOption(const QString &name, const QString &value, tiles::GridOptions &options)
{
    using tiles::Fit;
    using tiles::TileFormat;
    static const QMap<QString, Fit> fits = {{"stretch", Fit::Stretch}, {"crop", Fit::Crop}, {"pad", Fit::Pad}};
    static const QMap<QString, TileFormat> formats = {{"bmp", TileFormat::Bmp}, {"jpeg", TileFormat::Jpeg},
                                                      {"png", TileFormat::Png}, {"webp", TileFormat::Webp}};
    if (name == QLatin1String("--grid")) {
        const QStringList sides = value.split(QLatin1Char('x'));
        options.columns = sides.size() == 2 ? boundedNumber(sides[0], 1, tiles::maxGridSide) : -1;
        options.rows = sides.size() == 2 ? boundedNumber(sides[1], 1, tiles::maxGridSide) : -1;
        return options.columns > 0 && options.rows > 0;
    }
    if (name == QLatin1String("--size")) {
        options.size = value == QLatin1String("full")
                           ? 0 : boundedNumber(value, tiles::minTileSize, tiles::maxTileSize);
        return options.size >= 0;
    }
    if (name == QLatin1String("--gap"))
        return (options.gap = boundedNumber(value, 0, tiles::maxGap)) >= 0;
    if (name == QLatin1String("--quality"))
        return (options.quality = boundedNumber(value, 1, 100)) > 0;
    if (name == QLatin1String("--fit"))
        return fits.contains(value) && (options.fit = fits.value(value), true);
    if (name == QLatin1String("--format"))
        return formats.contains(value) && (options.format = formats.value(value), true);
    // --background
    options.background = QColor::fromString(value);
    return value.size() == 7 && value.startsWith(QLatin1Char('#')) && options.background.isValid();
}

const QStringList valueOptions = {"-o", "--output", "--grid", "--size", "--gap", "--fit",
                                  "--background", "--format", "--quality"};

// One option (and its value) at arguments[i]; moves i past what it took.
// Returns what was wrong, or nothing.
QString takeOption(const QStringList &arguments, qsizetype &i, CommandLine &line)
{
    QString name = arguments.at(i);
    QString value;
    const qsizetype equals = name.indexOf(QLatin1Char('='));
    const bool inline_ = name.startsWith(QLatin1String("--")) && equals > 0;
    if (inline_) {
        value = name.mid(equals + 1);
        name = name.left(equals);
    }
    if (name == QLatin1String("-h") || name == QLatin1String("--help"))
        return line.help = true, QString();
    if (name == QLatin1String("--version"))
        return line.version = true, QString();
    if (name == QLatin1String("--lossless"))
        return line.grid = line.options.lossless = true, QString();
    if (!valueOptions.contains(name))
        // Never a file name: a mistyped option must not cut, or write
        // beside, a picture that happens to carry that name.
        return QStringLiteral("未知选项 \"%1\"").arg(arguments.at(i));
    if (!inline_ && i + 1 < arguments.size())
        value = arguments.at(++i);
    const QString canonical = name == QLatin1String("-o") ? QStringLiteral("--output") : name;
    if (canonical == QLatin1String("--output")) {
        line.outputRoot = value;
        return value.isEmpty() ? badValue(name).replace(QLatin1String("--output"), name) : QString();
    }
    line.grid = true;
    return setGridOption(canonical, value, line.options) ? QString() : badValue(canonical);
}

// What the grid options ask that cannot be done together.
QString conflict(const CommandLine &line)
{
    const tiles::GridOptions &o = line.options;
    if (o.lossless && (o.fit != tiles::Fit::Crop || o.size != 0 || o.format != tiles::TileFormat::Jpeg))
        return QStringLiteral("--lossless 只能和 --fit crop --size full --format jpeg 一起用："
                              "拉伸、填充、缩放和换格式都要重新编码");
    return {};
}

CommandLine parse(const QStringList &arguments)
{
    CommandLine line;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size() && line.error.isEmpty(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')))
            line.pictures << arg;
        else if (arg == QLatin1String("--"))
            optionsEnded = true;
        else
            line.error = takeOption(arguments, i, line);
    }
    if (line.error.isEmpty())
        line.error = conflict(line);
    return line;
}

// The file names of one picture's tiles.
QStringList tileNames(const CommandLine &line)
{
    QStringList names;
    const int count = line.grid ? line.options.columns * line.options.rows : tiles::tileCount;
    for (int tile = 1; tile <= count; ++tile)
        names << (line.grid ? tiles::gridTileName(line.options, tile) : tiles::tileFileName(tile));
    return names;
}

QString stem(const QString &picture)
{
    const QFileInfo info(picture);
    const QString name = info.completeBaseName();
    return name.isEmpty() ? info.fileName() : name;
}

// The same file however it is named, for telling two pictures apart.
QString fileKey(const QString &picture)
{
    const QFileInfo info(picture);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// Under -o, each picture's folder in DIR: its name without the extension,
// or, when another picture of the run has that name too (pic.webp and
// pic.heic), its whole file name, so that neither overwrites the other.
QMap<QString, QString> folderNames(const QStringList &pictures)
{
    QMap<QString, QSet<QString>> byStem;
    for (const QString &picture : pictures)
        byStem[stem(picture)].insert(fileKey(picture));
    QMap<QString, QString> names;
    for (const QString &picture : pictures)
        names[picture] =
            byStem.value(stem(picture)).size() > 1 ? QFileInfo(picture).fileName() : stem(picture);
    return names;
}

// The folder a picture's tiles go to, with its trailing separator.
QString outputFolder(const QString &picture, const QString &outputRoot,
                     const QMap<QString, QString> &names)
{
    if (outputRoot.isEmpty())
        return tiles::pictureFolder(picture);
    return QDir(outputRoot).filePath(names.value(picture, stem(picture))) + QLatin1Char('/');
}

// The same folder however it is spelled, for telling whether two pictures'
// tiles would meet.
QString folderKey(const QString &folder)
{
    const QFileInfo info(folder.isEmpty() ? QStringLiteral(".") : folder);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// Pictures whose tiles would land in one folder, grouped by that folder.
// Only files that exist count; the others are reported one by one later.
QList<QStringList> overwritingGroups(const QStringList &pictures, const QString &outputRoot,
                                     const QMap<QString, QString> &names)
{
    QMap<QString, QStringList> byFolder;
    QMap<QString, QStringList> seen;
    for (const QString &picture : pictures) {
        const QFileInfo info(picture);
        if (!info.isFile())
            continue;
        const QString key = folderKey(outputFolder(picture, outputRoot, names));
        const QString same = fileKey(picture);
        // One picture named twice writes the same tiles twice; no harm.
        if (seen[key].contains(same))
            continue;
        seen[key] << same;
        byFolder[key] << picture;
    }
    QList<QStringList> groups;
    for (const QStringList &group : std::as_const(byFolder))
        if (group.size() > 1)
            groups << group;
    return groups;
}

QString overwriteReport(const QList<QStringList> &groups, const CommandLine &line,
                        const QMap<QString, QString> &names)
{
    const QStringList tileFiles = tileNames(line);
    QString text = QStringLiteral("mosalune-cut: 这些图片的 %1 到 %2 会写入同一个文件夹，"
                                  "互相覆盖，所以什么也没写：\n")
                       .arg(tileFiles.first(), tileFiles.last());
    for (const QStringList &group : groups) {
        text += QStringLiteral("  %1\n").arg(QDir::toNativeSeparators(
            folderKey(outputFolder(group.first(), line.outputRoot, names))));
        for (const QString &picture : group)
            text += QStringLiteral("    %1\n").arg(picture);
    }
    // Under -o only pictures of one file name are left to meet.
    text += line.outputRoot.isEmpty()
                ? QStringLiteral("请用 -o 文件夹 让每张图片写入各自的文件夹。\n")
                : QStringLiteral("这些图片的文件名相同，请把其中的图片改名，"
                                 "或分几次切到不同的 -o 文件夹。\n");
    return text;
}

// Taken before Qt sees them: the GUI side would take "-platform" and the
// like out of the list, and such a name may well be a picture's.
QStringList argumentsOf(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int usageError(const QString &error)
{
    if (!error.isEmpty())
        print(stderr, QStringLiteral("mosalune-cut: %1\n\n").arg(error));
    std::fputs(helpText, stderr);
    return UsageError;
}

int showVersion()
{
    std::printf("mosalune-cut %02d.%02d.%02d\n", MOSALUNE_VERSION_MAJOR, MOSALUNE_VERSION_MINOR,
                MOSALUNE_VERSION_REVISION);
    return AllCut;
}

// The window's job, or the grid job; throws what they throw.
void cutOne(const QString &path, const QString &folder, const CommandLine &line, bool *damaged)
{
    if (line.grid) {
        tiles::cutGrid(path, folder, line.options, damaged);
        return;
    }
    const QImage display = tiles::loadDisplay(path, damaged);
    tiles::writeTiles(display, folder);
}

// Cuts one picture and reports what went wrong; false when it did.
bool cutPicture(const QString &path, const QString &folder, const CommandLine &line)
{
    if (const int tile = tiles::tileThatIsThePicture(path, folder, tileNames(line))) {
        print(stderr, tiles::pictureIsATileMessage(path, tile, tileNames(line).at(tile - 1)) + '\n');
        return false;
    }
    if (!line.outputRoot.isEmpty() && !QDir().mkpath(folder)) {
        print(stderr, QStringLiteral("无法创建文件夹: %1\n").arg(QDir::toNativeSeparators(folder)));
        return false;
    }
    bool damaged = false;
    try {
        cutOne(path, folder, line, &damaged);
    } catch (const picture::PictureError &error) {
        print(stderr, QStringLiteral("%1: %2\n").arg(tiles::loadFailureReason(error.cause()), path));
        return false;
    } catch (const tiles::TileWriteError &error) {
        print(stderr, error.message() + QLatin1Char('\n'));
        return false;
    } catch (const tiles::GridError &error) {
        print(stderr, QStringLiteral("%1: %2\n").arg(error.message(), path));
        return false;
    } catch (...) {
        // Whatever else a decoder throws ends this picture, not the run.
        print(stderr, QStringLiteral("%1: %2\n")
                          .arg(tiles::loadFailureReason(picture::PictureError::Cause::NotAPicture), path));
        return false;
    }
    // Cut all the same, as a viewer shows it, but not called a success:
    // the grey part is the file's fault, not the picture's.
    if (damaged)
        print(stderr, QStringLiteral("图片已损坏或不完整，只切了能读出的部分: %1\n").arg(path));
    return !damaged;
}

} // namespace

int main(int argc, char **argv)
{
    if (const auto status = picture::runPictureChild(argc, argv))
        return *status;
    const CommandLine line = parse(argumentsOf(argc, argv));
    if (!line.error.isEmpty())
        return usageError(line.error);
    if (line.help)
        return std::fputs(helpText, stdout), AllCut;
    if (line.version)
        return showVersion();
    if (line.pictures.isEmpty())
        return usageError({});
    const QMap<QString, QString> names = folderNames(line.pictures);
    if (const auto groups = overwritingGroups(line.pictures, line.outputRoot, names); !groups.isEmpty())
        return print(stderr, overwriteReport(groups, line, names)), WouldOverwrite;

    qInstallMessageHandler(quietMessages);
    // No GUI side, so it runs the same with or without a display: metafiles,
    // the only pictures that need it (for their text), are played in a child
    // of this program, which brings its own.
    QCoreApplication app(argc, argv);
    // Qt hands the smooth scaling of a large picture to its thread pool;
    // here one thread does, instead of one a core started for each picture.
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    int status = AllCut;
    for (const QString &path : line.pictures)
        if (!cutPicture(path, outputFolder(path, line.outputRoot, names), line))
            status = SomeNotCut;
    // Every tile is on the disk by now: taking Qt's and the libraries'
    // state apart again would only delay the caller.
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}
