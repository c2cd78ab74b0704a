#ifndef SERVOSIM_SIMBENCH_H
#define SERVOSIM_SIMBENCH_H

#include "tools/servo-sim/transport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// What servo-sim plays: one or more programmers, each a ServoSimulator on a
// line of its own (pseudo-terminal or serial device), with its --link and
// its announcement in the port list; servos attached and taken away on a
// schedule and on command.
struct SimulatedBenchOptions
{
    SimulatorOptions simulator; // for every programmer; values: the first servo's
    int programmers = 1;
    QStringList devices; // one per programmer, or none for pseudo-terminals
    QStringList links; // for the first programmers, in order
    // Both > 0: each programmer has a servo for presentMs, none for absentMs,
    // and so on. Programmer P (from 1) of N runs the same cycle shifted by
    // (P - 1) / N of it: it starts empty and gets its first servo
    // (P - 1) * (presentMs + absentMs) / N ms after the start, and with
    // SimulatorOptions::attached false (--empty) absentMs later still.
    int presentMs = 0;
    int absentMs = 0;
};

class SimulatedBench : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedBench(const SimulatedBenchOptions &options, QObject *parent = nullptr);
    ~SimulatedBench() override;

    // Opens every line, makes the links and announces the pseudo-terminals;
    // false with why when one fails.
    bool open(QString *error);
    QStringList linePaths() const; // in order
    int count() const { return int(m_programmers.size()); }
    const SimulatedProgrammer &device(int programmer) const; // from 1

    // Starts the schedule, if any.
    void start();

    // Carries out one control command and returns its answer: "ok" or
    // "error: <why>". A blank line is no command: the answer is empty.
    //   attach P [parameter line]   a servo is attached to programmer P, with
    //                               the values given or the next ones
    //   detach P                    no servo on P
    //   skip P                      the next request on P goes unanswered
    //   pull-on-write P             the next write request on P is neither
    //                               stored nor answered, and the servo is gone
    //   unplug P / replug P         P's pseudo-terminal goes, or a new one
    //                               comes under the same link and announcement
    //   quit                        quitRequested() follows
    QString execute(const QString &command);

    // Withdraws the announcements, closes the lines and removes the links.
    void close();

signals:
    void logMessage(const QString &line); // only with SimulatorOptions::verbose
    void lineLost(const QString &reason);
    void quitRequested();

private:
    struct Programmer;

    bool plug(Programmer &p, QString *error);
    void unplug(Programmer &p);
    void scheduleNext(Programmer &p);
    void attach(Programmer &p, const Servo::Values &values);

    SimulatedBenchOptions m_options;
    std::vector<std::unique_ptr<Programmer>> m_programmers;
    QElapsedTimer m_clock; // the schedule's
};

#endif // SERVOSIM_SIMBENCH_H
