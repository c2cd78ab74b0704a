#include "serial/simulatorlinks.h"

#include "serial/simulatorports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Servo {

namespace {

const QLatin1String suffix(".link");

} // namespace

QString announceSimulatorLink(const QString &link, int programmer)
{
    const QString folder = simulatorPortFolder();
    if (link.isEmpty() || folder.isEmpty() || !QFileInfo(folder).isDir())
        return QString();
    const QString name = folder + QLatin1Char('/') +
        simulatorPortName(QCoreApplication::applicationPid(), programmer) + suffix;
    QFile::remove(name); // left by an earlier process with the same id
    return QFile::link(QFileInfo(link).absoluteFilePath(), name) ? name : QString();
}

QString simulatorLinkName(const QString &terminal)
{
    const QString folder = simulatorPortFolder();
    if (terminal.isEmpty() || folder.isEmpty() || !simulatorPorts().contains(terminal))
        return QString();
    const QFileInfoList announced =
        QDir(folder).entryInfoList({QStringLiteral("*") + suffix},
                                   QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &entry : announced) {
        // A simulator that was killed leaves its entry behind; its link then
        // points elsewhere, or to nothing.
        const QFileInfo link(entry.symLinkTarget());
        if (entry.isSymLink() && link.isSymLink() && link.symLinkTarget() == terminal)
            return link.filePath();
    }
    return QString();
}

} // namespace Servo
