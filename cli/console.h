#pragma once

#include "cards/databox.h"
#include "cards/statuswindow.h"
#include "platform/messagebox.h"

#include <QByteArray>
#include <QString>

class IStandardStreams;
class Interrupts;

// The terminal the command line talks to: data on standard output, messages and prompts on
// standard error, answers from standard input only when it is a terminal.
class Console
{
public:
    Console(IStandardStreams& streams, Interrupts& interrupts)
        : m_streams(streams), m_interrupts(interrupts)
    {
    }

    // Bytes exactly as given, on standard output; false with *error set when they could not
    // go out (a full disk, a closed pipe).
    bool out(const QByteArray& bytes, QString* error = nullptr);
    // Why standard output first failed; empty while everything went out.
    QString outputError() const { return m_outputError; }
    // "tarnavel-cli: " and the text, one line on standard error.
    void message(const QString& text);
    // Raw text on standard error (help never goes here; traces do).
    void err(const QString& text);
    bool stderrIsTerminal() const;
    // A status line kept at the bottom of a terminal, redrawn in place and moved out of the
    // way of every other line, cut to the terminal's width; nothing when standard error is not
    // a terminal. Empty: gone.
    void setProgress(const QString& text);

    // Standard input's descriptor, for the commands that read data from it.
    int input() const;
    // Standard input is a terminal nobody else reads: questions may be asked.
    bool interactive() const { return m_interactive; }
    void setInteractive(bool interactive) { m_interactive = interactive; }
    bool stdinIsTerminal() const;

    // Asks on standard error and reads a line; true for y or yes. Without a terminal, at the
    // end of input or on Ctrl+C the answer is no.
    bool askYesNo(const QString& question);

private:
    void writeErr(const QByteArray& bytes);
    // The status line as it fits the terminal now.
    QByteArray progressLine() const;

    IStandardStreams& m_streams;
    Interrupts& m_interrupts;
    bool m_interactive = false;
    QString m_progress;
    QString m_outputError;
};

// The window's message boxes as lines on standard error. Questions are asked only on a
// terminal; otherwise the safe answer is taken (No, Cancel): no retry, no confirmation.
class ConsoleMessageBox : public IMessageBox
{
public:
    explicit ConsoleMessageBox(Console& console) : m_console(console) {}
    int show(const QString& text, const QString& title, mb::Buttons buttons, mb::Icon icon,
             int defaultResult = 0) override;
    // Boxes that put a line on standard error so far.
    int shownCount() const { return m_shown; }

private:
    Console& m_console;
    int m_shown = 0;
};

// The swipe prompt as a line on standard error, with the card in hand named in a batch.
class ConsoleStatusWindow : public IStatusWindow
{
public:
    explicit ConsoleStatusWindow(Console& console) : m_console(console) {}
    void ShowStatusWindow(const QString& message, bool writingMode) override;
    void HideStatusWindow() override {}
    // "Card 3 of 10": put before the prompt; empty for none.
    void setContext(const QString& context) { m_context = context; }

private:
    Console& m_console;
    QString m_context;
};

// The data box of the operations: it holds the text; the command line passes data itself.
class ConsoleDataBox : public IDataBox
{
public:
    QString text() const override { return m_text; }
    void setText(const QString& text) override { m_text = text; }

private:
    QString m_text;
};
