#ifndef SIMULATORPROCESS_H
#define SIMULATORPROCESS_H

// servo-sim as the tests start it: one process playing one or more servo
// programmers, each on a line the code under test opens by portName(). On
// Unix each line is a pseudo-terminal that servo-sim makes; on Windows each
// is a pair of COM ports (testline.h) of which servo-sim serves one end
// (--device) and the code under test opens the other. Control commands go
// to its standard input and each waits for its answer; its standard error
// is kept for the test to read.
#include "tests/testline.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <memory>
#include <vector>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

class SimulatorProcess
{
public:
    SimulatorProcess() = default;
    // Stops a simulator that still runs (SIGTERM, or ended on Windows); one
    // that does not exit with 0 is counted in uncleanExits().
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;

    // Windows: the next start() puts servo-sim in a process group of its
    // own on a console, for stopByConsoleEvent(). Elsewhere nothing.
    void useConsoleEvents() { m_consoleEvents = true; }

    // Starts servo-sim with args for programmers programmers (adding
    // --programmers, or on Windows a --device per programmer unless args
    // name devices themselves) and waits for its path lines. False with why.
    bool start(const QStringList &args = QStringList(), int programmers = 1,
               QString *why = nullptr);

    int programmers() const { return m_linePaths.size(); }
    // What servo-sim printed for programmer (from 1): its line.
    QString linePath(int programmer = 1) const { return m_linePaths.value(programmer - 1); }
    // The port the code under test opens to reach programmer (from 1).
    QString portName(int programmer = 1) const { return m_portNames.value(programmer - 1); }
    QStringList portNames() const { return m_portNames; }

    // Writes one control line and waits for its answer; true when it is
    // "ok". The answer (or why there is none) goes to *answer.
    bool command(const QString &line, QString *answer = nullptr);

    // Ends servo-sim's standard input: the commands end, servo-sim runs on.
    void closeInput() { m_process.closeWriteChannel(); }

    // Sends signal (on Windows the process is ended: a console program has
    // no signal to end it) and waits for the exit; returns the exit code,
    // or -1 for a crash or no exit.
    int stop(int signal = SIGTERM);
#ifdef Q_OS_WIN
    // Sends CTRL_C_EVENT or CTRL_BREAK_EVENT (after useConsoleEvents()) and
    // waits for the exit; returns the exit code, or -1.
    int stopByConsoleEvent(DWORD event);
#endif
    // The exit code after the process has ended, or -1.
    int exitCode() const;

    // Standard error and output (after the path lines and the answers)
    // received so far.
    QByteArray readStandardError();
    // Waits until standard error has shown text (kept for
    // readStandardError()); false when it has not in time.
    bool waitForStandardError(const QString &text);
    QByteArray readStandardOutput();
    qint64 processId() const
    {
        return m_process.processId();
    }
    bool isRunning() const
    {
        return m_process.state() != QProcess::NotRunning;
    }

    // Simulators stopped by a destructor that did not exit with 0, since
    // the last call.
    static int takeUncleanExits();

private:
    int waitForExit();

    QProcess m_process;
    QByteArray m_standardError; // received, not yet taken
    QStringList m_linePaths;
    QStringList m_portNames;
    bool m_consoleEvents = false;
#ifdef Q_OS_WIN
    std::vector<std::unique_ptr<TestLine>> m_pairs; // outlive the process
#endif
};

#endif // SIMULATORPROCESS_H
