#pragma once

#include "config/appsettings.h"
#include "config/doctorreport.h"

#include <QString>

class SystemTree;

// What tarnavel-cli doctor is asked to look at.
struct DoctorTarget {
    int commPort = 0;         // -p COMn; 0: the stored port
    QString deviceOverride;   // -p PATH
    QString settingsOverride; // -s
    QString portsFolder;      // normally portsDirectory()
    QString storePath;        // normally userStorePath()
};

// The checks that only look (1 to 6), and what the live exchange needs from them.
struct SystemFindings {
    DoctorReport report;
    AppSettings settings; // as stored (defaults where not)
    QString lineSettings; // the ones to talk with: -s, else the stored ones
    int commPort = 1;     // 0 when a device path was given
    QString device;       // what opening the port opens
    bool pseudoTerminal = false;
    // Why the live exchange would be pointless or would disturb another program; empty when
    // it may be tried.
    QString holdBack;
};

// In the order a person would look: what COMn is, the device node, access, who holds it,
// ModemManager and brltty, the configuration. Changes nothing.
SystemFindings checkSystem(const SystemTree& tree, const DoctorTarget& target);

// The Options dialog's words for line settings ("9600,e,7,1" -> "Baud rate 9600, Even parity,
// 7 data bits, 1 stop bit"), for the change that makes a found setting permanent.
QString optionsWording(const QString& lineSettings);
