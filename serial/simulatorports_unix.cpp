// Simulators announce their pseudo-terminals as symbolic links in a folder
// of the user's under the temporary directory.
#include "serial/simulatorports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <csignal>
#include <unistd.h>

namespace Servo {

QString simulatorPortFolder()
{
    return QDir::tempPath() + QStringLiteral("/servo-sim-%1").arg(::getuid());
}

QString announceSimulatorPort(const QString &path, int programmer)
{
    const QString folder = simulatorPortFolder();
    if (!QDir().mkpath(folder))
        return QString();
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString link = folder + QLatin1Char('/') +
        simulatorPortName(QCoreApplication::applicationPid(), programmer);
    QFile::remove(link); // left by an earlier process with the same id
    return QFile::link(path, link) ? link : QString();
}

QStringList simulatorPorts()
{
    QStringList out;
    QDir folder(simulatorPortFolder());
    if (!folder.exists())
        return out;
    QList<std::pair<qint64, int>> ports; // process id, programmer
    const QFileInfoList links =
        folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &link : links) {
        const QStringList parts = link.fileName().split(QLatin1Char('-'));
        bool numeric = false;
        const qint64 pid = parts.first().toLongLong(&numeric);
        if (!numeric || pid <= 0 || parts.size() > 2 || !link.isSymLink())
            continue;
        int programmer = 1;
        if (parts.size() == 2) {
            programmer = parts.last().toInt(&numeric);
            if (!numeric || programmer < 2)
                continue;
        }
        // A simulator that was killed leaves its link behind.
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            continue;
        const QString target = link.symLinkTarget();
        if (!QFileInfo::exists(target))
            continue;
        ports.append({pid, programmer});
    }
    std::sort(ports.begin(), ports.end());
    for (const auto &port : ports)
        out << QFileInfo(folder.filePath(simulatorPortName(port.first, port.second)))
                   .symLinkTarget();
    return out;
}

} // namespace Servo
