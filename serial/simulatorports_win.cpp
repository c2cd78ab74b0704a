// A simulator on Windows serves a COM port, which the system lists itself:
// nothing is announced.
#include "serial/simulatorports.h"

namespace Servo {

QString simulatorPortFolder()
{
    return QString();
}

QString announceSimulatorPort(const QString &, int)
{
    return QString();
}

QStringList simulatorPorts()
{
    return QStringList();
}

} // namespace Servo
