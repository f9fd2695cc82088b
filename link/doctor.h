#pragma once

#include "config/doctorchecks.h"
#include "config/doctorreport.h"

#include <functional>

class ISerialPort;
class IClock;
class IEventPump;
class SystemTree;

// tarnavel-cli doctor's checks in the order a person would look: what COMn is, the device
// node, access, who holds it, ModemManager and brltty, the configuration (checkSystem), and
// last a live exchange with the reader. The exchange is left out when an earlier check shows
// it would fail or would disturb another program, and when there is no port (a tree other than
// this machine's). Nothing is changed, apart from the reset the reader is sent.
struct DoctorRun {
    const SystemTree& tree;
    DoctorTarget target;
    // Set to the device to look at when a path was given; its COM number is set here.
    ISerialPort* port = nullptr;
    IClock& clock;
    IEventPump& pump;
    // Returns false to stop at once (Ctrl+C).
    std::function<bool()> carryOn;
};

DoctorReport runDoctor(const DoctorRun& run);
