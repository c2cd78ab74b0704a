// The parameter file on Unix: stat() and open() with O_NONBLOCK, so that a
// named pipe or a device is refused without waiting on it, and fsync().
#include "files/parameterfile_p.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Servo {

namespace {

QString notRegularText(mode_t mode)
{
    const char *kind = S_ISFIFO(mode) ? "a named pipe"
        : S_ISCHR(mode)               ? "a character device"
        : S_ISBLK(mode)               ? "a block device"
        : S_ISDIR(mode)               ? "a folder"
        : S_ISSOCK(mode)              ? "a socket"
        : S_ISLNK(mode)               ? "a symbolic link"
                                      : "a special file";
    return QStringLiteral("%1, not a regular file").arg(QLatin1String(kind));
}

ParsedLine notRegular(mode_t mode)
{
    return refusal(ParsedLine::NotRegularFile, notRegularText(mode));
}

// open() that goes on after a signal.
int openFile(const QByteArray &name, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open(name.constData(), flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// A descriptor opened with O_NONBLOCK blocks again, as QFile expects.
void makeBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

} // namespace

NameState nameState(const QString &path, bool followLinks)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if ((followLinks ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) != 0)
        return errno == ENOENT ? NameState{NameState::Nothing, QString()}
                               : NameState{NameState::Failed, qt_error_string(errno)};
    return S_ISREG(st.st_mode) ? NameState{NameState::Regular, QString()}
                               : NameState{NameState::Other, notRegularText(st.st_mode)};
}

bool openRegularFile(const QString &path, QFile *file, ParsedLine *refused)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::stat(name.constData(), &st) != 0) {
        *refused = refusal(ParsedLine::CannotOpen, qt_error_string(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *refused = notRegular(st.st_mode);
        return false;
    }
    // The path can be replaced by a pipe between the check and the open:
    // O_NONBLOCK keeps the open from waiting, and the opened descriptor is
    // checked once more.
    const int fd = openFile(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *refused = refusal(ParsedLine::CannotOpen, qt_error_string(errno));
        return false;
    }
    if (::fstat(fd, &st) != 0) {
        *refused = refusal(ParsedLine::CannotOpen, qt_error_string(errno));
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *refused = notRegular(st.st_mode);
        ::close(fd);
        return false;
    }
    makeBlocking(fd);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *refused = refusal(ParsedLine::CannotOpen, file->errorString());
        ::close(fd);
        return false;
    }
    return true;
}

bool openToAppend(const QString &path, QFile *file, QString *errorString)
{
    auto refuse = [errorString](const QString &why) {
        if (errorString)
            *errorString = why;
        return false;
    };
    // O_NONBLOCK: a named pipe put in place since the look above does not
    // hold the open; the opened descriptor is checked once more.
    const int fd = openFile(QFile::encodeName(path),
                            O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0)
        return refuse(qt_error_string(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const QString why = qt_error_string(errno);
        ::close(fd);
        return refuse(why);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse(notRegularText(st.st_mode));
    }
    makeBlocking(fd);
    if (!file->open(fd, QIODevice::ReadWrite | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(file->errorString());
    }
    return true;
}

QString syncToDisk(QFileDevice &file)
{
    if (::fsync(file.handle()) != 0 && errno != EINVAL)
        return qt_error_string(errno);
    return QString();
}

bool sameNode(const QString &a, const QString &b)
{
    struct stat sa, sb;
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
        ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
        sa.st_ino == sb.st_ino;
}

} // namespace Servo
