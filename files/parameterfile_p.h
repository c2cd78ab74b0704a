#ifndef PARAMETERFILE_P_H
#define PARAMETERFILE_P_H

#include "files/parameterfile.h"

#include <QFile>
#include <QString>

// Shared by parameterfile.cpp and the platform file beside it
// (parameterfile_unix.cpp or parameterfile_win.cpp, the one CMake builds).
namespace Servo {

ParsedLine refusal(ParsedLine::Status status, const QString &why);

// What a name stands for now: nothing, a regular file, something else
// (text: "a named pipe, not a regular file"), or the system could not tell
// (text: why).
struct NameState
{
    enum Kind { Nothing, Regular, Other, Failed };
    Kind kind = Nothing;
    QString text;
};

// On Unix, with followLinks false a link itself is looked at (lstat).
NameState nameState(const QString &path, bool followLinks);

// Opens a regular file for reading; anything else is refused before it is
// opened. Opening a named pipe waits for a writer, and opening a device can
// wait or act on it (a serial line raises its modem lines).
bool openRegularFile(const QString &path, QFile *file, ParsedLine *refused);

// Opens path to append, creating it, after writeTargetProblem() found
// nothing against it; refuses what has become anything but a regular file.
bool openToAppend(const QString &path, QFile *file, QString *errorString);

// Sends what was written to file to the disk; empty, or why it failed.
QString syncToDisk(QFileDevice &file);

// Whether a and b are one file by the system's own identity (device and
// inode); false where the system does not tell.
bool sameNode(const QString &a, const QString &b);

} // namespace Servo

#endif // PARAMETERFILE_P_H
