// Simulators announce their pseudo-terminals as symbolic links in a folder
// of the user's under the temporary directory.
#include "serial/simulatorports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace Servo {

QString simulatorPortFolder()
{
    return QDir::tempPath() + QStringLiteral("/servo-sim-%1").arg(::getuid());
}

QString announceSimulatorPort(const QString &path)
{
    const QString folder = simulatorPortFolder();
    if (!QDir().mkpath(folder))
        return QString();
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString link =
        folder + QLatin1Char('/') + QString::number(QCoreApplication::applicationPid());
    QFile::remove(link); // left by an earlier process with the same id
    return QFile::link(path, link) ? link : QString();
}

QStringList simulatorPorts()
{
    QStringList out;
    QDir folder(simulatorPortFolder());
    if (!folder.exists())
        return out;
    QList<qint64> pids;
    const QFileInfoList links =
        folder.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &link : links) {
        bool numeric = false;
        const qint64 pid = link.fileName().toLongLong(&numeric);
        if (!numeric || pid <= 0 || !link.isSymLink())
            continue;
        // A simulator that was killed leaves its link behind.
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            continue;
        const QString target = link.symLinkTarget();
        if (!QFileInfo::exists(target))
            continue;
        pids << pid;
    }
    std::sort(pids.begin(), pids.end());
    for (qint64 pid : pids)
        out << QFileInfo(folder.filePath(QString::number(pid))).symLinkTarget();
    return out;
}

} // namespace Servo
