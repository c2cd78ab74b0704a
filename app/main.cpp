#include "app/widget.h"
#include "ui/applicationfont.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

#ifndef SERVO_VERSION
#define SERVO_VERSION "unknown"
#endif

namespace {

const char helpText[] = R"(Usage: servo-tool [--help | --version | Qt options]

Opens the Servo Tool window: read the fourteen parameters of a servo through a
servo programmer on a serial port, change them and write them back, and keep
them in one-line parameter files.

Options:
  -h, --help  show this help and exit
  --version   print the version and exit

Any other arguments go to Qt as they are, such as -platform NAME.
)";

// "--help" or "--version" as the only argument: printed before the
// QApplication is made, so that neither needs a display. Returns true when
// one was printed.
bool printedInformation(int argc, char *argv[])
{
    if (argc != 2)
        return false;
    const char *argument = argv[1];
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)
        std::fputs(helpText, stdout);
    else if (std::strcmp(argument, "--version") == 0)
        std::fputs("servo-tool " SERVO_VERSION "\n", stdout);
    else
        return false;
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (printedInformation(argc, argv))
        return 0;

    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication a(argc, argv);

    Servo::installApplicationFont();

    Widget w;
    w.show();
    return a.exec();
}
