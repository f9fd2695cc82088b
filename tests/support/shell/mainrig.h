#pragma once

#include "shell/frmmain.h"
#include "support/emulated/loopbackport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/memorystore.h"
#include "support/recordingshell.h"
#include "support/scriptedmessagebox.h"

#include <memory>

// A main window on test doubles: the emulated reader in-process, a manual clock, scripted
// message boxes, an in-memory store. start() runs the start-up sequence.
struct MainRig {
    LoopbackPort port;
    ManualClock clock;
    ManualPump pump{clock};
    ScriptedMessageBox boxes;
    MemoryStore store;
    RecordingShell shell;
    std::unique_ptr<frmMain> window;

    frmMain& start(const QString& commandLine = QString())
    {
        window = std::make_unique<frmMain>(MainServices{port, clock, boxes, pump, store, shell},
                                           commandLine);
        pump.setLink(&window->link());
        window->Form_Load();
        return *window;
    }
};
