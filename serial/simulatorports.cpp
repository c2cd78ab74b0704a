// The simulators' announced ports, shared part; announcing and listing live
// in simulatorports_unix.cpp and simulatorports_win.cpp.
#include "serial/simulatorports.h"

#include <QFile>

namespace Servo {

QString simulatorPortName(qint64 pid, int programmer)
{
    return programmer <= 1 ? QString::number(pid)
                           : QStringLiteral("%1-%2").arg(pid).arg(programmer);
}

void withdrawSimulatorPort(const QString &link)
{
    if (!link.isEmpty())
        QFile::remove(link);
}

} // namespace Servo
