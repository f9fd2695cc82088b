#pragma once

#include <QString>

// The master side of a pseudo-terminal, put in raw mode the moment it is opened so the line
// discipline never echoes or eats a byte (0x03 would otherwise discard pending input).
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a new master; false with errorString() set on failure.
    bool open();
    void close();
    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    // The slave device path, for example /dev/pts/3.
    QString slavePath() const { return m_slavePath; }
    QString errorString() const { return m_error; }

private:
    int m_master = -1;
    QString m_slavePath;
    QString m_error;
};
