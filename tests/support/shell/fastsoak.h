#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// A long seeded run of the window's operations against the emulated reader in-process, on a
// manual clock: Read, Write, Reset and Connect with every line fault the emulator knows, Reset
// pressed and cables pulled in the middle of waits, replugged readers. Every operation is
// checked against the invariants an operator relies on; the run stops at the first breach.
struct FastSoakResult {
    int operations = 0;
    int pulls = 0;    // cables pulled while the link was up
    int connects = 0; // Connect pressed after a loss
    int boxes = 0;
    qint64 peakRssKiB = 0;
    qint64 rssGrowthKiB = 0; // after the first thousand operations
    QString failure;         // empty when every invariant held
    QStringList journal;     // the last operations, for a failure's report
};

FastSoakResult runFastSoak(quint32 seed, int operations);
