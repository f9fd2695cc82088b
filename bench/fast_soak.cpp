// Operations per second of the fast soak (the window's operations against the in-process
// emulator on a manual clock, every invariant checked).
//   bench_fast_soak [operations] [seed]   (default 100000, 20261207)
#include "support/shell/fastsoak.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int operations = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const quint32 seed = argc > 2 ? QByteArray(argv[2]).toUInt() : 20261207u;
    QElapsedTimer wall;
    wall.start();
    const FastSoakResult result = runFastSoak(seed, operations);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    if (!result.failure.isEmpty()) {
        std::printf("failed: %s\n", qPrintable(result.failure));
        return 1;
    }
    std::printf("%d operations in %.2f s: %.0f operations/s (%d pulls, peak RSS %lld KiB)\n",
                result.operations, seconds, result.operations / seconds, result.pulls,
                result.peakRssKiB);
    return 0;
}
