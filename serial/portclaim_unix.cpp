// The port claim on Unix: flock() on the device, UUCP lock files, and who
// holds a busy port from /proc (Linux).
#include "serial/portclaim.h"

#include "serial/portclaim_p.h"
#include "serial/portsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif

namespace Servo {

QString portDevicePath(const QString &port)
{
    if (!port.contains(QLatin1Char('/')))
        return QStringLiteral("/dev/") + port;
    return port;
}

QString portIdentity(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString permissionOrBusySentence()
{
#ifdef Q_OS_LINUX
    return QStringLiteral("permission denied or the port is busy; another program may hold it, "
                          "or add yourself to the dialout group (sudo usermod -aG dialout $USER, "
                          "then log in again)");
#else
    return QStringLiteral("permission denied or the port is busy (another program holds it)");
#endif
}

namespace {

// Folders searched for UUCP lock files ("LCK..ttyUSB0" holding the owner's
// process id): $SERVO_LOCK_DIR when set, else /run/lock and /var/lock.
QStringList lockFolders()
{
    const QString overridden = qEnvironmentVariable("SERVO_LOCK_DIR");
    if (!overridden.isEmpty())
        return {overridden};
    QStringList folders;
    for (const char *candidate : {"/run/lock", "/var/lock"}) {
        const QString canonical = QFileInfo(QLatin1String(candidate)).canonicalFilePath();
        if (!canonical.isEmpty() && !folders.contains(canonical))
            folders << canonical;
    }
    return folders;
}

QString describeProcess(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    const QString command = comm.open(QIODevice::ReadOnly)
        ? QString::fromLocal8Bit(comm.readAll()).trimmed()
        : QString();
    return command.isEmpty() ? QStringLiteral("process %1").arg(pid)
                             : QStringLiteral("process %1 (%2)").arg(pid).arg(command);
}

// "process 1234 (minicom)" for every other process that has path open, where
// the system tells (Linux, processes this user may inspect).
QStringList processesUsing(const QString &path)
{
    QStringList found;
#ifdef Q_OS_LINUX
    const QByteArray target = QFile::encodeName(path);
    const QStringList entries =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == QCoreApplication::applicationPid())
            continue;
        const QString fdFolder = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds =
            QDir(fdFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            char link[4096];
            const QByteArray name = QFile::encodeName(fdFolder + QLatin1Char('/') + fd);
            const ssize_t n = ::readlink(name.constData(), link, sizeof link);
            if (n > 0 && QByteArray(link, int(n)) == target) {
                found << describeProcess(pid);
                break;
            }
        }
    }
#else
    Q_UNUSED(path)
#endif
    return found;
}

QString heldBy(const QStringList &holders)
{
    if (holders.isEmpty())
        return QStringLiteral("the port is busy: another program holds it");
    if (holders.size() == 1)
        return QStringLiteral("the port is busy: %1 holds it").arg(holders.first());
    return QStringLiteral("the port is busy: it is open in %1")
        .arg(holders.join(QLatin1String(", ")));
}

// The name of a device's UUCP lock file: the path below /dev with '/' as '_'
// ("LCK..ttyUSB0", "LCK..pts_3").
QString lockFileName(const QString &device)
{
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

// The process id in a lock file: ASCII ("%10d\n", or the first of several
// lines), or a binary int as very old programs wrote it. 0 when unreadable.
qint64 lockFilePid(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.read(128);
    bool ok = false;
    const qint64 pid = bytes.split('\n').value(0).trimmed().toLongLong(&ok);
    if (ok)
        return pid;
    if (bytes.size() == int(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, bytes.constData(), sizeof binary);
        return binary;
    }
    return 0;
}

bool alive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Other processes holding an flock() on the file of st, from /proc/locks
// (Linux).
QStringList flockHolders(const struct stat &st)
{
    QStringList found;
#ifdef Q_OS_LINUX
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return found;
    // "1: FLOCK  ADVISORY  WRITE 2319 00:19:6 0 EOF"; waiters carry "->".
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f.at(1) != "FLOCK")
            continue;
        const QList<QByteArray> id = f.at(5).split(':');
        bool ok[3] = {false, false, false};
        if (id.size() == 3 && id.at(0).toUInt(&ok[0], 16) == major(st.st_dev) &&
            id.at(1).toUInt(&ok[1], 16) == minor(st.st_dev) &&
            id.at(2).toULongLong(&ok[2]) == st.st_ino && ok[0] && ok[1] && ok[2] &&
            f.at(4).toLongLong() != QCoreApplication::applicationPid())
            found << describeProcess(f.at(4).toLongLong());
    }
#else
    Q_UNUSED(st)
#endif
    return found;
}

// Who holds device by a lock file in one of folders: a live process other
// than this one, as a sentence; empty when none.
QString lockHolder(const QString &device, const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QString lockFile = folder + QLatin1Char('/') + lockFileName(device);
        const qint64 pid = lockFilePid(lockFile);
        if (pid != QCoreApplication::applicationPid() && alive(pid))
            return heldBy({describeProcess(pid)}) + QStringLiteral(" (lock file %1)").arg(lockFile);
    }
    return QString();
}

QString fileKind(mode_t mode)
{
    return S_ISREG(mode) ? QStringLiteral("a regular file")
        : S_ISDIR(mode)  ? QStringLiteral("a folder")
        : S_ISFIFO(mode) ? QStringLiteral("a named pipe")
        : S_ISBLK(mode)  ? QStringLiteral("a block device")
        : S_ISSOCK(mode) ? QStringLiteral("a socket")
                         : QStringLiteral("a character device that is not a terminal");
}

QString permissionProblem(const struct stat &st)
{
    QString group;
    if (const struct group *g = ::getgrgid(st.st_gid))
        group = QString::fromLocal8Bit(g->gr_name);
    QString advice;
#ifdef Q_OS_LINUX
    if (!group.isEmpty() && group != QLatin1String("root"))
        advice =
            QStringLiteral(
                "; add yourself to the %1 group (sudo usermod -aG %1 $USER), then log in again")
                .arg(group);
#endif
    return QStringLiteral("permission denied (the port belongs to group %1 with mode %2)%3")
        .arg(group.isEmpty() ? QString::number(st.st_gid) : group)
        .arg(QString::number(st.st_mode & 07777, 8), advice);
}

// Who holds a port that cannot be had: an flock(), else a lock file of a
// live process (the serial port classes keep one in the first of these
// folders that can take it), else every process that has it open.
QString busyReason(const QString &device, const struct stat &st)
{
    const QStringList locking = flockHolders(st);
    if (!locking.isEmpty())
        return heldBy(locking) + QStringLiteral(" (flock)");
    QStringList folders = lockFolders();
    for (const char *folder : {"/run/lock", "/var/lock", "/tmp", "/var/tmp"})
        folders << QString::fromLatin1(folder);
    const QString locked = lockHolder(device, folders);
    return locked.isEmpty() ? heldBy(processesUsing(device)) : locked;
}

} // namespace

void PortClaim::release()
{
    if (m_fd >= 0)
        ::close(m_fd); // drops the flock
    m_fd = -1;
}

QString PortClaim::busyProblem() const
{
    struct stat st;
    if (::stat(QFile::encodeName(m_device).constData(), &st) != 0)
        return heldBy({});
    return busyReason(m_device, st);
}

QString PortClaim::claimDevice()
{
    const QFileInfo info(m_requested);
    if (!info.exists()) {
        m_missing = true;
        return missingPortSentence();
    }
    m_device = info.canonicalFilePath();
    const QByteArray name = QFile::encodeName(m_device);
    struct stat st;
    if (::stat(name.constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (!S_ISCHR(st.st_mode))
        return notSerialPort(fileKind(st.st_mode));
    const QString locked = lockHolder(m_device, lockFolders());
    if (!locked.isEmpty())
        return locked;
    int fd;
    do
        fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return permissionProblem(st);
        if (error == EBUSY)
            return busyReason(m_device, st);
        m_missing = error == ENOENT || error == ENXIO || error == ENODEV;
        return m_missing ? missingPortSentence() : QString::fromLocal8Bit(std::strerror(error));
    }
    if (!::isatty(fd)) {
        ::close(fd);
        return notSerialPort(fileKind(st.st_mode));
    }
    // A device that does not take flock() at all is used without one.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return busyReason(m_device, st);
    }
    m_fd = fd;
    return QString();
}

} // namespace Servo
