// Downloads one address through the transfer control's startDownload, the way the
// updater does, and moves the finished body into place. Prints the bytes and
// the seconds it took; run.sh sets it against curl.
//
//     mosalune-bench-download <address> <target file>

#include "common/fspath.h"
#include "common/inet.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <filesystem>
#include <system_error>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: mosalune-bench-download <address> <target file>\n");
        return 2;
    }
    const QString target = QFileInfo(args.at(2)).absoluteFilePath();

    common::Inet inet;
    // Beside the target, so that the finished body is renamed, not copied.
    inet.setDownloadFolder(QFileInfo(target).absolutePath());
    QElapsedTimer clock;
    int code = 1;
    QObject::connect(&inet, &common::Inet::finished, &app, [&](common::Inet::Outcome outcome) {
        if (outcome != common::Inet::Outcome::Completed) {
            std::fprintf(stderr, "download failed: %s\n", qPrintable(inet.lastError()));
        } else {
            const QString body = inet.releaseBodyFile();
            std::error_code error;
            std::filesystem::rename(common::toFsPath(body), common::toFsPath(target), error);
            if (!error) {
                code = 0;
                std::printf("%lld bytes in %.3f s\n", inet.bytesReceived(),
                            double(clock.nsecsElapsed()) / 1e9);
            } else {
                QFile::remove(body);
                std::fprintf(stderr, "cannot move the body to %s: %s\n", qPrintable(target),
                             error.message().c_str());
            }
        }
        app.exit(code);
    });
    clock.start();
    inet.startDownload(args.at(1));
    app.exec();
    return code;
}
