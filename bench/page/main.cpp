// Reads one page through the transfer control's blocking fetchBytes, the
// way the windows read the release page, RUNS times. Prints each run's
// seconds and bytes; run.sh sets them against curl.
//
//     mosalune-bench-page <address> <runs>

#include "common/errors.h"
#include "common/inet.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 || args.at(2).toInt() < 1) {
        std::fprintf(stderr, "usage: mosalune-bench-page <address> <runs>\n");
        return 2;
    }
    common::Inet inet;
    for (int run = 0; run < args.at(2).toInt(); ++run) {
        QElapsedTimer clock;
        clock.start();
        try {
            const QByteArray body = inet.fetchBytes(args.at(1));
            std::printf("%.4f %lld\n", double(clock.nsecsElapsed()) / 1e9, qint64(body.size()));
        } catch (const common::TransferError &e) {
            std::printf("%.4f refused: %s\n", double(clock.nsecsElapsed()) / 1e9, e.what());
        }
    }
    return 0;
}
