#include "benchwindow/benchoptions.h"
#include "benchwindow/benchwindow.h"
#include "tools/common/interrupt.h"
#include "ui/applicationfont.h"
#include "ui/startinformation.h"

#include <QApplication>

#include <cstdio>

#ifndef SERVO_VERSION
#define SERVO_VERSION "unknown"
#endif

namespace {

const char helpText[] = R"(Usage: servo-bench [options] [Qt options]

Opens the Servo Bench window: one job (a parameter file) programmed into
every servo attached to any of several servo programmers, the moment it
answers, with one card per programmer and the rows in a programming log (the
same CSV as "servo-cli program --auto"). USB adapters and running servo-sim
simulators are found by themselves; other ports are added in the window.

Options:
  --job FILE         the parameter file every servo gets
  --log FILE         the programming log to append to
  --start            start at once (needs --job)
  --port PORT        serve this port (repeatable): a port name, "usb" for
                     every USB adapter, "simulators" for every running
                     servo-sim; without --port both are watched
  --expect-job HASH  refuse to start with a job of another fingerprint
  --poll MS          poll an empty slot this often (10 to 10000, default 100)
  -h, --help         show this help and exit
  --version          print the version and exit

The window remembers the last job, log and ports. Closing it while a servo
is being written finishes that servo and logs it first; so does Ctrl-C or a
request to terminate (a second one logs that servo as interrupted).
)";

} // namespace

int main(int argc, char *argv[])
{
    if (Servo::printedStartInformation(argc, argv, helpText, "servo-bench", SERVO_VERSION))
        return 0;

    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication a(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("servo-tool"));
    QApplication::setApplicationName(QStringLiteral("servo-bench"));

    Servo::BenchOptions options;
    const QString problem = Servo::parseBenchOptions(a.arguments().mid(1), &options);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "servo-bench: %s\nTry servo-bench --help.\n",
                     problem.toLocal8Bit().constData());
        return 2;
    }

    Servo::installApplicationFont();

    Servo::BenchWindow w;
    // A request to terminate (a session that ends, Ctrl-C in the terminal
    // that started it) closes the window as the user would: in order.
    Servo::InterruptHandling interrupts;
    Servo::InterruptNotifier interrupt;
    int requests = 0;
    QObject::connect(&interrupt, &Servo::InterruptNotifier::requested, &w, [&] {
        if (++requests > 1 && w.bench())
            w.bench()->abort();
        w.close();
    });
    w.show();
    w.applyOptions(options);
    return a.exec();
}
