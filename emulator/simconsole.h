#pragma once

#include <QString>

class SimServer;

// The emulator's console: one command line in, the text to show out. The command-line options
// of tarnavel-sim are turned into these same commands, so both take the same values.
class SimConsole
{
public:
    explicit SimConsole(SimServer& server) : m_server(server) {}

    // Runs one line. False when the command was not understood or failed; *output then holds
    // the reason. An empty line does nothing and succeeds.
    bool execute(const QString& line, QString* output);
    bool quitRequested() const { return m_quit; }

    static QString commandsHelp();

private:
    bool fault(const QString& args, QString* output);
    QString statusText() const;

    SimServer& m_server;
    bool m_quit = false;
};
