// Shows one window published under a class and title, for tests that need a
// window in another process.
//
//   mosalune-test-window <class> <title> [folder]
//
// Prints "SHOWN" once the window can be found. A line "close" on stdin closes
// the window (and prints "CLOSED"); the end of stdin ends the program.

#include "platform/windowfinder.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <cstdio>

#include <unistd.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || args.size() > 4) {
        std::fprintf(stderr, "usage: mosalune-test-window <class> <title> [folder]\n");
        return 2;
    }

    platform::RuntimeDirWindows windows(args.size() == 4 ? args.at(3) : QString());
    QWidget window;
    window.setWindowTitle(args.at(2));
    window.resize(200, 100);
    const auto registration = windows.publish(&window, args.at(1), args.at(2));
    window.show();
    std::printf("SHOWN\n");
    std::fflush(stdout);

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            app.quit();
            return;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (line == "close") {
                window.close();
                std::printf("CLOSED\n");
                std::fflush(stdout);
            }
        }
    });
    return app.exec();
}
