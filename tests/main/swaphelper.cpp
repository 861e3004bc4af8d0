// Runs one updater swap in a folder and prints its result, so that a test can
// run it as another user than the owner of the files.
//
//   mosalune-test-swap <folder>

#include "main/mainwindow/updaterswap.h"

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mosalune-test-swap <folder>\n");
        return 2;
    }
    QString error;
    switch (mosalune::replaceUpdater(QString::fromLocal8Bit(argv[1]), &error)) {
    case mosalune::SwapResult::Swapped:
        std::printf("swapped\n");
        return 0;
    case mosalune::SwapResult::NotPossible:
        std::printf("not possible\n");
        return 1;
    case mosalune::SwapResult::Failed:
        std::printf("failed: %s\n", qPrintable(error));
        return 1;
    }
    return 1;
}
