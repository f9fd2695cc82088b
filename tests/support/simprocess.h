#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

// The emulator program tarnavel-sim as a child process, for tests over a real pseudo-terminal.
// It runs with XDG_CONFIG_HOME set to a temporary folder of its own (so --com links never touch
// the user's configuration), its output is collected line by line as it comes, and console
// commands go to its standard input. The destructor ends it with SIGTERM (then SIGKILL if it
// does not go), so a failing test never leaves an emulator behind.
class SimProcess
{
public:
    // Every wait is this many looks of kLookMs at most: bounded, never measured.
    static constexpr int kLooks = 200;
    static constexpr int kLookMs = 50;

    // program: the tarnavel-sim binary (tests have its path in TARNAVEL_SIM_PATH).
    explicit SimProcess(const QString& program);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the program and waits for "tarnavel-sim: serving on <device>" (and, with --com,
    // for the line naming the link). False with errorString() set when it does not come.
    bool start(const QStringList& arguments);
    QString devicePath() const { return m_device; }
    // The XDG_CONFIG_HOME the emulator runs with; a host that resolves COMn through the same
    // folder finds the emulator's link.
    QString configHome() const { return m_config.path(); }
    QString comLinkPath(int number) const;
    QString errorString() const { return m_error; }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    // Runs one console command that answers with one line, and waits for that answer. False
    // when the emulator refused the command ("error: ...") or did not answer.
    bool command(const QString& line, QString* answer = nullptr);

    // Every line the program has printed so far, in order: traffic and console answers.
    const QStringList& lines();
    // The number of lines printed so far: a mark for linesSince() and countSince().
    qsizetype mark();
    QStringList linesSince(qsizetype mark);
    int countSince(qsizetype mark, const QString& fragment);
    // Takes in whatever the program has printed, without waiting.
    void collect();
    // Processes events until some line after `mark` contains fragment; bounded.
    bool waitForLine(qsizetype mark, const QString& fragment);

    // Called for every traffic or console line as it is collected. It must not run console
    // commands itself.
    std::function<void(const QString&)> onLine;

    // SIGTERM and a bounded wait; true when the program ended normally with exit code 0.
    bool stop();
    // SIGKILL: the program ends without a word, leaving whatever it made behind.
    void kill();

    // The traffic log's text for a frame the host sent: "host   > 02 6F 03 6C".
    static QString hostFrame(const QByteArray& data);
    // ... and for a frame the reader sent, uncorrupted: "reader < 02 6C 30 03 5F".
    static QString readerFrame(const QByteArray& body);

private:
    static bool isTraffic(const QString& line);
    bool readFirstLines(bool linked);
    bool waitForOutput();

    QString m_program;
    QTemporaryDir m_config;
    QProcess m_process;
    QString m_device;
    QString m_error;
    QByteArray m_partial;
    QStringList m_lines;
    QStringList m_answers; // console answers not yet taken by command()
    bool m_collecting = false;
};
