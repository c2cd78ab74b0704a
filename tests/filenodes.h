#ifndef FILENODES_H
#define FILENODES_H

// Device nodes and links in a temporary folder, for checks that a writer
// replaces nothing but a regular file. A device is made there with mknod, a
// copy of /dev/null: the test never points a writer at the system's own
// /dev, which a faulty writer would replace.
#include "tests/pipewatch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <memory>

#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

// Makes a character device at path with the numbers of /dev/null. Empty, or
// why it cannot be made here (mknod needs root, or CAP_MKNOD).
inline QString makeNullDevice(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return QStringLiteral("Windows has no device files");
#else
    if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        return QString();
    return QStringLiteral("mknod of a character device failed (%1): it needs root or CAP_MKNOD")
        .arg(QString::fromLocal8Bit(std::strerror(errno)));
#endif
}

// For kind "pipe", a named pipe at path, watched by *watch (a
// std::unique_ptr<PipeWatch>); for "device", a copy of /dev/null. Skips the
// test where that cannot be made; other kinds are left to the caller.
#define MAKE_PIPE_OR_DEVICE(kind, path, watch)                                                     \
    do {                                                                                           \
        if ((kind) == QLatin1String("pipe")) {                                                     \
            SKIP_WITHOUT_SPECIAL_FILES();                                                          \
            (watch) = std::make_unique<PipeWatch>(path);                                           \
            QVERIFY((watch)->made());                                                              \
        } else if ((kind) == QLatin1String("device")) {                                            \
            const QString why_ = makeNullDevice(path);                                             \
            if (!why_.isEmpty())                                                                   \
                QSKIP(qPrintable(why_));                                                           \
        }                                                                                          \
    } while (false)

// What a name is, without following a link: "file", "link", "pipe",
// "device", "folder", "other" or "missing".
inline QString nodeKind(const QString &path)
{
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("link");
    if (!info.exists())
        return QStringLiteral("missing");
    return info.isDir() ? QStringLiteral("folder")
        : info.isFile() ? QStringLiteral("file")
                        : QStringLiteral("other");
#else
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("missing");
    return S_ISREG(st.st_mode) ? QStringLiteral("file")
        : S_ISLNK(st.st_mode)  ? QStringLiteral("link")
        : S_ISFIFO(st.st_mode) ? QStringLiteral("pipe")
        : S_ISCHR(st.st_mode)  ? QStringLiteral("device")
        : S_ISDIR(st.st_mode)  ? QStringLiteral("folder")
                               : QStringLiteral("other");
#endif
}

// Every name in a folder, hidden ones and temporary files included.
inline QStringList allEntries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

#endif // FILENODES_H
