// servo-sim: a servo programmer on a pseudo-terminal or a serial device, for
// trying the tool and its tests without hardware. See --help.
#include "tools/servo-sim/commandline.h"

#include "files/parameterfile.h"
#include "serial/simulatorlinks.h"
#include "serial/simulatorports.h"
#include "tools/common/interrupt.h"
#include "tools/servo-sim/simulatorlink.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

static void printErr(const QString &text)
{
    std::fprintf(stderr, "servo-sim: %s\n", qPrintable(text));
    std::fflush(stderr);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("servo-sim"));

    SimulatorCommandLine cmd = parseSimulatorCommandLine(QCoreApplication::arguments());
    if (cmd.exitCode == SimulatorExit::Ok) {
        std::fputs(qPrintable(cmd.message), stdout);
        return SimulatorExit::Ok;
    }
    if (cmd.exitCode >= 0) {
        printErr(cmd.message);
        return cmd.exitCode;
    }

    if (!cmd.parameterFile.isEmpty()) {
        const Servo::ParsedLine parsed = Servo::readParameterFile(cmd.parameterFile);
        if (!parsed.ok()) {
            printErr(
                QStringLiteral("cannot use %1: %2").arg(cmd.parameterFile, parsed.errorString));
            return SimulatorExit::BadParameterFile;
        }
        cmd.options.values = Servo::clampedToRanges(parsed.values);
        for (int i = 0; i < Servo::NumericCount; ++i) {
            if (cmd.options.values[i] != parsed.values[i])
                printErr(QStringLiteral("%1: field %2 (%3) %4 clamped to %5")
                             .arg(cmd.parameterFile)
                             .arg(i + 1)
                             .arg(QLatin1String(Servo::parameterInfo(i).english))
                             .arg(parsed.values[i])
                             .arg(cmd.options.values[i]));
        }
    }

    ServoSimulator sim(cmd.options);
    QObject::connect(&sim, &ServoSimulator::logMessage,
                     [](const QString &line) { printErr(line); });
    int exitCode = SimulatorExit::Ok;
    QObject::connect(&sim, &ServoSimulator::lineLost, [&exitCode](const QString &reason) {
        printErr(QStringLiteral("line lost: %1").arg(reason));
        exitCode = SimulatorExit::LineFailed;
        QCoreApplication::quit();
    });

    QString error;
    const bool opened =
        cmd.device.isEmpty() ? sim.openPseudoTerminal(&error) : sim.openDevice(cmd.device, &error);
    if (!opened) {
        printErr(QStringLiteral("cannot open %1: %2")
                     .arg(cmd.device.isEmpty() ? QStringLiteral("a pseudo-terminal") : cmd.device,
                          error));
        return SimulatorExit::LineFailed;
    }
    if (!cmd.link.isEmpty() && !makeSimulatorLink(cmd.link, sim.linePath(), &error)) {
        printErr(error);
        return SimulatorExit::LineFailed;
    }

    // Ctrl-C and requests to terminate end the event loop, so that the link
    // is removed and the line closed as on any other exit.
    const Servo::InterruptHandling interruptHandling;
    Servo::InterruptNotifier interrupts;
    QObject::connect(&interrupts, &Servo::InterruptNotifier::requested, &app,
                     &QCoreApplication::quit);

    // Offered by the window's port selector while this process runs.
    const QString announced =
        cmd.device.isEmpty() ? Servo::announceSimulatorPort(sim.linePath()) : QString();
    const QString announcedLink =
        announced.isEmpty() ? QString() : Servo::announceSimulatorLink(cmd.link);

    std::printf("%s\n", qPrintable(sim.linePath()));
    std::fflush(stdout);
    if (cmd.options.verbose)
        printErr(QStringLiteral("serving %1").arg(sim.linePath()));

    const int loopCode = app.exec();
    const QString served = sim.linePath();
    Servo::withdrawSimulatorPort(announcedLink);
    Servo::withdrawSimulatorPort(announced);
    sim.close();
    removeSimulatorLink(cmd.link, served);
    return loopCode != 0 ? loopCode : exitCode;
}
