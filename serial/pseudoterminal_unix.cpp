// A pseudo-terminal pair from posix_openpt().
#include "serial/pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

bool PseudoTerminal::open(QString *errorString)
{
    close();
    auto fail = [&](const char *what) {
        if (errorString)
            *errorString = QStringLiteral("%1: %2").arg(
                QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail("grantpt/unlockpt");
    const char *name = ::ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_slavePath = QString::fromLocal8Bit(name);
    m_slaveHold = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slaveHold < 0)
        return fail("open slave");
    // Raw from the start: no echo of what the master writes, no line editing,
    // no CR/LF translation, even before a port on the slave side sets its own.
    struct termios tio;
    if (::tcgetattr(m_slaveHold, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slaveHold, TCSANOW, &tio);
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

qint64 PseudoTerminal::writeSome(const char *data, qint64 size, QString *errorString)
{
    if (m_master < 0) {
        if (errorString)
            *errorString = QStringLiteral("the pseudo-terminal is closed");
        return -1;
    }
    for (;;) {
        const ssize_t n = ::write(m_master, data, size_t(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN)
            return 0;
        if (errorString)
            *errorString = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
}

bool PseudoTerminal::write(const QByteArray &data)
{
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = writeSome(data.constData() + done, data.size() - done);
        if (n < 0)
            return false;
        if (n == 0) {
            struct pollfd p = {m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        done += n;
    }
    return true;
}

QByteArray PseudoTerminal::readAvailable(QString *lostReason)
{
    QByteArray out;
    if (m_master < 0) {
        if (lostReason)
            *lostReason = QStringLiteral("the pseudo-terminal is closed");
        return out;
    }
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, int(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            break;
        } else {
            if (lostReason)
                *lostReason = n == 0 ? QStringLiteral("the pseudo-terminal was closed")
                                     : QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
    }
    return out;
}

QByteArray PseudoTerminal::read(int timeoutMs)
{
    if (m_master < 0)
        return QByteArray();
    struct pollfd p = {m_master, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
        return QByteArray();
    return readAvailable();
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    // Without a master the slave side is a dead line; let it go too.
    if (m_slaveHold >= 0)
        ::close(m_slaveHold);
    m_slaveHold = -1;
}

void PseudoTerminal::close()
{
    closeMaster();
    m_slavePath.clear();
}
