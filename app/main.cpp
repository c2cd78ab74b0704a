#include "app/widget.h"
#include "ui/applicationfont.h"
#include "ui/startinformation.h"

#include <QApplication>

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

} // namespace

int main(int argc, char *argv[])
{
    if (Servo::printedStartInformation(argc, argv, helpText, "servo-tool", SERVO_VERSION))
        return 0;

    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication a(argc, argv);

    Servo::installApplicationFont();

    Widget w;
    w.show();
    return a.exec();
}
