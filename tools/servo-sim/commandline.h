#ifndef SERVOSIM_COMMANDLINE_H
#define SERVOSIM_COMMANDLINE_H

#include "tools/servo-sim/transport.h"

#include <QString>
#include <QStringList>

// What the command line asks for. exitCode >= 0 means: stop at once with it,
// after printing message (on stdout for --help, else on stderr).
struct SimulatorCommandLine
{
    SimulatorOptions options; // for every programmer
    int programmers = 1;
    QStringList devices; // one per programmer; none: pseudo-terminals
    QStringList links; // symlinks to the pseudo-terminals, the first ones in order
    int presentMs = 0; // both > 0: servos come and go on a schedule
    int absentMs = 0;
    QString parameterFile; // the first servo's block, empty for the start values
    int exitCode = -1;
    QString message;
};

// Exit codes of servo-sim.
namespace SimulatorExit {
constexpr int Ok = 0;
constexpr int LineFailed = 1; // pty, device or link could not be set up
constexpr int BadArguments = 2;
constexpr int BadParameterFile = 6;
} // namespace SimulatorExit

// arguments include the program name, as QCoreApplication::arguments().
SimulatorCommandLine parseSimulatorCommandLine(const QStringList &arguments);

#endif // SERVOSIM_COMMANDLINE_H
