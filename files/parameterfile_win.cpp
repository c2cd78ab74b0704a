// The parameter file on Windows: what a name is comes from QFileInfo, and
// files are opened with QFile.
#include "files/parameterfile_p.h"

#include <QFileInfo>

namespace Servo {

namespace {

QString notRegularText(const QFileInfo &info)
{
    return info.isDir() ? QStringLiteral("a folder, not a regular file")
                        : QStringLiteral("not a regular file");
}

} // namespace

NameState nameState(const QString &path, bool)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {NameState::Nothing, QString()};
    return info.isFile() ? NameState{NameState::Regular, QString()}
                         : NameState{NameState::Other, notRegularText(info)};
}

bool openRegularFile(const QString &path, QFile *file, ParsedLine *refused)
{
    const QFileInfo info(path);
    if (!info.isFile()) {
        *refused = info.exists()
            ? refusal(ParsedLine::NotRegularFile, notRegularText(info))
            : refusal(ParsedLine::CannotOpen, QStringLiteral("No such file or directory"));
        return false;
    }
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *refused = refusal(ParsedLine::CannotOpen, file->errorString());
        return false;
    }
    return true;
}

bool openToAppend(const QString &path, QFile *file, QString *errorString)
{
    file->setFileName(path);
    if (file->open(QIODevice::ReadWrite | QIODevice::Append))
        return true;
    if (errorString)
        *errorString = file->errorString();
    return false;
}

// commit() syncs the file itself.
QString syncToDisk(QFileDevice &)
{
    return QString();
}

bool sameNode(const QString &, const QString &)
{
    return false;
}

} // namespace Servo
