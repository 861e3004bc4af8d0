// mosalune-cut: the main window's tile job for scripts and batches.

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
    "用法: mosalune-cut [-o 文件夹] [--] 图片...\n"
    "Usage: mosalune-cut [-o DIR] [--] PICTURE...\n"
    "\n"
    "把每张图片切成八块，在图片所在的文件夹写入 1.jpg 到 8.jpg（与主窗口\n"
    "\"生成图片\"写出的文件完全相同），已有的同名文件会被替换。这些文件的\n"
    "内容是 BMP 位图，虽然名字是 .jpg。\n"
    "Cuts each picture into eight tiles and writes 1.jpg ... 8.jpg beside it,\n"
    "exactly the files the main window writes for that picture, replacing\n"
    "files of those names. The files hold BMP data despite their names.\n"
    "\n"
    "选项 / Options:\n"
    "  -o, --output 文件夹  每张图片的八块写入 文件夹/<图片名>/，不写在图片旁边\n"
    "                       write each picture's tiles to DIR/<picture name>/\n"
    "                       （几张图片只差扩展名时用完整文件名，如 文件夹/pic.webp/）\n"
    "                       (the whole file name when only the extensions differ)\n"
    "  -h, --help           显示本说明 / show this text\n"
    "      --version        显示版本 / show the version\n"
    "  --                   其后的参数都是图片，即使以 - 开头\n"
    "                       everything after it is a picture, even if it starts with -\n"
    "\n"
    "几张图片的八块会写入同一个文件夹、互相覆盖时，什么也不写，列出这些图片；\n"
    "请用 -o 给每张图片各自的文件夹。\n"
    "Pictures whose tiles would go to the same folder and overwrite each other\n"
    "are refused before anything is written; -o gives each its own folder.\n"
    "\n"
    "不能切的图片在标准错误输出原因和路径（找不到文件、是文件夹、图片格式错误、\n"
    "无法读取文件、无法写入文件、图片本身就叫 1.jpg 到 8.jpg 之一会被覆盖），\n"
    "然后继续处理下一张。损坏或不完整的 JPEG 照样切出能读出的部分，但也会报告。\n"
    "A picture that cannot be cut is reported on standard error with the reason\n"
    "and its path; nothing is written for it and the next picture is cut.\n"
    "A picture that is itself one of the tile files is never cut. A damaged or\n"
    "cut-off JPEG is cut as far as it can be read, and reported.\n"
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
    QString error; // what was wrong with the command line
};

CommandLine parse(const QStringList &arguments)
{
    CommandLine line;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-'))) {
            line.pictures << arg;
        } else if (arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            line.help = true;
        } else if (arg == QLatin1String("--version")) {
            line.version = true;
        } else if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                line.error = QStringLiteral("%1 后面要写文件夹").arg(arg);
                return line;
            }
            line.outputRoot = arguments.at(++i);
        } else if (arg.startsWith(QLatin1String("--output="))) {
            line.outputRoot = arg.mid(9);
            if (line.outputRoot.isEmpty()) {
                line.error = QStringLiteral("--output= 后面要写文件夹");
                return line;
            }
        } else {
            // Never a file name: a mistyped option must not cut, or write
            // beside, a picture that happens to carry that name.
            line.error = QStringLiteral("未知选项 \"%1\"").arg(arg);
            return line;
        }
    }
    return line;
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

} // namespace

int main(int argc, char **argv)
{
    if (const auto status = picture::runPictureChild(argc, argv))
        return *status;
    // Taken before Qt sees them: the GUI side would take "-platform" and
    // the like out of the list, and such a name may well be a picture's.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = parse(arguments);
    if (!line.error.isEmpty()) {
        print(stderr, QStringLiteral("mosalune-cut: %1\n\n").arg(line.error));
        std::fputs(helpText, stderr);
        return UsageError;
    }
    if (line.help) {
        std::fputs(helpText, stdout);
        return AllCut;
    }
    if (line.version) {
        std::printf("mosalune-cut %02d.%02d.%02d\n", MOSALUNE_VERSION_MAJOR, MOSALUNE_VERSION_MINOR,
                    MOSALUNE_VERSION_REVISION);
        return AllCut;
    }
    if (line.pictures.isEmpty()) {
        std::fputs(helpText, stderr);
        return UsageError;
    }

    const QMap<QString, QString> names = folderNames(line.pictures);
    const QList<QStringList> groups = overwritingGroups(line.pictures, line.outputRoot, names);
    if (!groups.isEmpty()) {
        QString text = QStringLiteral("mosalune-cut: 这些图片的 1.jpg 到 8.jpg 会写入同一个文件夹，"
                                      "互相覆盖，所以什么也没写：\n");
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
        print(stderr, text);
        return WouldOverwrite;
    }

    qInstallMessageHandler(quietMessages);
    // No GUI side, so it runs the same with or without a display: metafiles,
    // the only pictures that need it (for their text), are played in a child
    // of this program, which brings its own.
    QCoreApplication app(argc, argv);
    // Qt hands the smooth scaling of a large picture to its thread pool;
    // here one thread does, instead of one a core started for each picture.
    QThreadPool::globalInstance()->setMaxThreadCount(1);

    int status = AllCut;
    for (const QString &path : line.pictures) {
        const QString folder = outputFolder(path, line.outputRoot, names);
        if (const int tile = tiles::tileThatIsThePicture(path, folder)) {
            print(stderr, tiles::pictureIsATileMessage(path, tile) + QLatin1Char('\n'));
            status = SomeNotCut;
            continue;
        }
        QImage display;
        bool damaged = false;
        try {
            display = tiles::loadDisplay(path, &damaged);
        } catch (const picture::PictureError &error) {
            print(stderr, QStringLiteral("%1: %2\n").arg(tiles::loadFailureReason(error.cause()), path));
            status = SomeNotCut;
            continue;
        } catch (...) {
            // Whatever else a decoder throws ends this picture, not the run.
            print(stderr, QStringLiteral("%1: %2\n").arg(tiles::loadFailureReason(picture::PictureError::Cause::NotAPicture), path));
            status = SomeNotCut;
            continue;
        }
        // Cut all the same, as a viewer shows it, but not called a success:
        // the grey part is the file's fault, not the picture's.
        if (damaged) {
            print(stderr, QStringLiteral("图片已损坏或不完整，只切了能读出的部分: %1\n").arg(path));
            status = SomeNotCut;
        }
        if (!line.outputRoot.isEmpty() && !QDir().mkpath(folder)) {
            print(stderr, QStringLiteral("无法创建文件夹: %1\n").arg(QDir::toNativeSeparators(folder)));
            status = SomeNotCut;
            continue;
        }
        try {
            tiles::writeTiles(display, folder);
        } catch (const tiles::TileWriteError &error) {
            print(stderr, error.message() + QLatin1Char('\n'));
            status = SomeNotCut;
        }
    }
    // Every tile is on the disk by now: taking Qt's and the libraries'
    // state apart again would only delay the caller.
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}
