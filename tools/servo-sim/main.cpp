// servo-sim: a servo programmer on a pseudo-terminal or a serial device, for
// trying the tool and its tests without hardware. See --help.
#include "tools/servo-sim/commandline.h"

#include "files/parameterfile.h"
#include "tools/common/interrupt.h"
#include "tools/servo-sim/controlinput.h"
#include "tools/servo-sim/simbench.h"

#include <QCoreApplication>

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

    SimulatedBenchOptions options;
    options.simulator = cmd.options;
    options.programmers = cmd.programmers;
    options.devices = cmd.devices;
    options.links = cmd.links;
    options.presentMs = cmd.presentMs;
    options.absentMs = cmd.absentMs;
    SimulatedBench bench(options);
    QObject::connect(&bench, &SimulatedBench::logMessage,
                     [](const QString &line) { printErr(line); });
    int exitCode = SimulatorExit::Ok;
    QObject::connect(&bench, &SimulatedBench::lineLost, [&exitCode](const QString &reason) {
        printErr(QStringLiteral("line lost: %1").arg(reason));
        exitCode = SimulatorExit::LineFailed;
        QCoreApplication::quit();
    });
    QObject::connect(&bench, &SimulatedBench::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    QString error;
    if (!bench.open(&error)) {
        printErr(error);
        return SimulatorExit::LineFailed;
    }

    // Ctrl-C and requests to terminate end the event loop, so that the links
    // are removed and the lines closed as on any other exit.
    const Servo::InterruptHandling interruptHandling;
    Servo::InterruptNotifier interrupts;
    QObject::connect(&interrupts, &Servo::InterruptNotifier::requested, &app,
                     &QCoreApplication::quit);

    for (const QString &path : bench.linePaths())
        std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);

    // One answer line on standard output per command.
    ControlInput control;
    QObject::connect(&control, &ControlInput::line, &bench, [&bench](const QString &command) {
        const QString answer = bench.execute(command);
        if (answer.isEmpty())
            return;
        std::printf("%s\n", qPrintable(answer));
        std::fflush(stdout);
    });
    control.start();
    bench.start();

    const int loopCode = app.exec();
    bench.close();
    return loopCode != 0 ? loopCode : exitCode;
}
