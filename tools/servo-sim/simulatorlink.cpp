#include "tools/servo-sim/simulatorlink.h"

#include "serial/simulatorports.h"

#include <QFile>
#include <QFileInfo>

bool makeSimulatorLink(const QString &link, const QString &terminal, QString *error)
{
    const QFileInfo old(link);
    if (old.isSymLink()) {
        const QString target = old.symLinkTarget();
        if (Servo::simulatorPorts().contains(target)) {
            *error = QStringLiteral("the link %1 belongs to a running simulator: it points to %2, "
                                    "which that simulator serves; choose another name, or stop "
                                    "that simulator first")
                         .arg(link, target);
            return false;
        }
        // Only a link to nothing is left over: a simulator's terminal goes
        // with the simulator, and whatever still exists (a file, or the
        // terminal of another program, such as socat's) is not ours to take.
        if (QFileInfo::exists(target)) {
            *error = QStringLiteral("the link %1 points to %2, which is not a simulator's "
                                    "terminal; it is left as it is: choose another name")
                         .arg(link, target);
            return false;
        }
        QFile::remove(link);
    }
    if (!QFile::link(terminal, link)) {
        *error = QStringLiteral("cannot create the link %1 to %2").arg(link, terminal);
        return false;
    }
    return true;
}

void removeSimulatorLink(const QString &link, const QString &terminal)
{
    if (!link.isEmpty() && QFileInfo(link).symLinkTarget() == terminal)
        QFile::remove(link);
}
