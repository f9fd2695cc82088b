#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class ReaderLink;

// Owns what keeps the link going for a front end: the port's configuration and opening, and
// the poll that collects the reader's replies. The window polls every 200 ms, the command line
// faster; everything else is the same.
class LinkDriver : public QObject
{
    Q_OBJECT
public:
    LinkDriver(ReaderLink& link, int pollMs, QObject* parent = nullptr);
    ~LinkDriver() override;

    // The poll; its owner may give it a name and a parent of its own.
    QTimer& poll() { return m_poll; }
    // Also looks at the line the moment bytes arrive, not only at the next poll: a command
    // line waits for nobody. The window keeps its rhythm.
    void setEager(bool eager);

    // Port number and line settings; port errors (AppError) reach the caller.
    void configure(int commPort, const QString& lineSettings);
    bool configured() const { return m_configured; }
    // Opens the port unless it is open, in text mode, with nothing awaited and the poll
    // running. Port errors (AppError) reach the caller.
    void open();
    // Stops the poll and closes the port; never fails.
    void close();

private:
    ReaderLink& m_link;
    QTimer m_poll;
    bool m_configured = false;
};
