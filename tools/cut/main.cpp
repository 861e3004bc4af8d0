// mosalune-cut: the main window's tile job for scripts and batches.

#include "main/tiles/tilejob.h"
#include "main/tiles/tilewriter.h"
#include "platform/metafile.h"
#include "platform/picturedecoder.h"

#include <QFile>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <memory>

namespace {

void print(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

const char *const helpText =
    "用法: mosalune-cut 图片...\n"
    "Usage: mosalune-cut PICTURE...\n"
    "\n"
    "把每张图片切成八块，在图片所在的文件夹写入 1.jpg 到 8.jpg（与主窗口\n"
    "\"生成图片\"写出的文件完全相同），已有的同名文件会被替换。\n"
    "Cuts each picture into eight tiles and writes 1.jpg ... 8.jpg beside it,\n"
    "exactly the files the main window writes for that picture, replacing\n"
    "files of those names.\n"
    "\n"
    "无法识别的图片会在标准错误输出\"图片格式错误\"和路径，不写任何文件，\n"
    "然后继续处理下一张。\n"
    "A picture that cannot be decoded is reported on standard error as\n"
    "\"图片格式错误\" with its path; nothing is written for it and the next\n"
    "picture is cut.\n"
    "\n"
    "退出码 / Exit status: 0 every picture was cut; 1 some picture was not;\n"
    "2 usage error.\n";

// Qt's own chatter about the platform (no runtime folder, no display) means
// nothing to somebody cutting pictures in a script; real failures are
// reported by the cutter itself.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        print(stderr, message + QLatin1Char('\n'));
}

// Drawings may hold text, which needs the font side of Qt's GUI; pixel
// pictures are read and painted with the core alone, which starts faster.
bool anyMetafile(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        QFile file(QString::fromLocal8Bit(argv[i]));
        if (file.open(QIODevice::ReadOnly)
            && platform::metafileKind(file.read(64)) != platform::MetafileKind::None)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    // The cutter never shows a window, so it runs the same with or without a
    // display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietMessages);
    std::unique_ptr<QCoreApplication> app;
    if (anyMetafile(argc, argv))
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);

    QStringList pictures = app->arguments().mid(1);
    if (pictures.contains(QStringLiteral("--help")) || pictures.contains(QStringLiteral("-h"))) {
        std::fputs(helpText, stdout);
        return 0;
    }
    if (!pictures.isEmpty() && pictures.first() == QStringLiteral("--"))
        pictures.removeFirst();
    if (pictures.isEmpty()) {
        std::fputs(helpText, stderr);
        return 2;
    }

    int status = 0;
    for (const QString &path : std::as_const(pictures)) {
        QImage display;
        try {
            display = tiles::loadDisplay(path);
        } catch (const platform::PictureError &) {
            print(stderr, QStringLiteral("图片格式错误: %1\n").arg(path));
            status = 1;
            continue;
        }
        try {
            tiles::writeTiles(display, tiles::pictureFolder(path));
        } catch (const tiles::TileWriteError &error) {
            print(stderr, error.message() + QLatin1Char('\n'));
            status = 1;
        }
    }
    return status;
}
