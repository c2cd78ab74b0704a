// The simulators' announced ports, shared part; announcing and listing live
// in simulatorports_unix.cpp and simulatorports_win.cpp.
#include "serial/simulatorports.h"

#include <QFile>

namespace Servo {

void withdrawSimulatorPort(const QString &link)
{
    if (!link.isEmpty())
        QFile::remove(link);
}

} // namespace Servo
