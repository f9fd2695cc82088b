#pragma once

#include <QString>
#include <QtGlobal>

// The seven operator settings; every field a signed 16-bit number as stored and edited.
struct AppSettings {
    qint16 CommPort = 1;
    qint16 BaudRate = 9600;
    qint16 Parity = 0; // 0 even, 1 odd, 2 none
    qint16 DataBits = 7;
    qint16 StopBits = 1;
    qint16 DefType = 1;  // card method index selected at start-up
    qint16 Timeout = 10; // seconds
};

// The serial line settings text the port is given: speed, parity letter, data bits and stop
// bits ("9600,e,7,1" with the defaults). A parity code outside 0..2 leaves the letter empty,
// which the port then refuses.
QString lineSettingsText(const AppSettings& settings);
