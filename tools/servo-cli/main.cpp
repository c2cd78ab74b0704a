// servo-cli: reads and writes a servo's parameters through the servo
// programmer from a shell; "servo-cli --help" lists the commands.
#include "tools/servo-cli/cli.h"
#include "tools/common/interrupt.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("servo-cli"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    // Read without a buffer in between, so that a wait for an answer ends on
    // Ctrl-C ("program").
    Servo::StandardInput input;
    input.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QTextStream in(&input);
    out.setCodec("UTF-8");
    in.setCodec("UTF-8");
    err.setCodec("UTF-8");
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const int code = ServoCli::run(arguments, out, err, &in);
    out.flush();
    err.flush();
    return code;
}
