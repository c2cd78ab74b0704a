#ifndef PORTCLAIM_H
#define PORTCLAIM_H

#include <QString>

// Claiming a serial port before the servo link opens it, so that a port held
// by another program is told apart from one this user may not open, and two
// programs never send on one line. Each failure is told as a sentence for
// people ("the port is busy: process 1234 (minicom) holds it").
namespace Servo {

// The device a --port value names: a bare name ("ttyUSB0") is looked up in
// /dev on Unix, as the serial port classes do; anything else is a path.
QString portDevicePath(const QString &port);

// What two names of one port share, to tell whether they name the same port:
// on Unix the path with its links resolved (the path itself when it does not
// exist); on Windows the name in upper case without the \\.\ prefix, as
// COM10 and \\.\COM10 name one port.
QString portIdentity(const QString &device);

class PortClaim
{
public:
    PortClaim() = default;
    ~PortClaim();
    PortClaim(const PortClaim &) = delete;
    PortClaim &operator=(const PortClaim &) = delete;

    // On Unix: resolves links, refuses what is not a terminal, a port named
    // in the lock file of a live process, and a port that another open file
    // holds with flock(); then opens the device and takes flock(LOCK_EX) on
    // it, kept until release(). On Windows opens the port once to refuse
    // what is missing, busy, not to be opened by this user, or not a COM
    // port, and closes it again. Returns an empty string, or why the port
    // cannot be had as a sentence.
    QString claim(const QString &port);
    void release();

    QString requestedPath() const { return m_requested; } // as looked up
    QString devicePath() const { return m_device; } // links resolved
    // The last claim failed because nothing is at the path.
    bool missing() const { return m_missing; }

    // After the serial port itself refused to open with a permission error
    // although the claim held: says who holds it, where that is known.
    QString busyProblem() const;

private:
    // The platform's part of claim(), on m_requested (portclaim_unix.cpp,
    // portclaim_win.cpp).
    QString claimDevice();

    QString m_requested;
    QString m_device;
    bool m_missing = false;
    int m_fd = -1;
};

} // namespace Servo

#endif // PORTCLAIM_H
