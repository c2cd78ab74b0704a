// The port claim's shared part; what the system does lives in
// portclaim_unix.cpp and portclaim_win.cpp.
#include "serial/portclaim.h"

#include "serial/portclaim_p.h"

namespace Servo {

QString notSerialPort(const QString &kind)
{
    return QStringLiteral("not a serial port (%1)").arg(kind);
}

PortClaim::~PortClaim()
{
    release();
}

QString PortClaim::claim(const QString &port)
{
    release();
    m_missing = false;
    m_requested = portDevicePath(port);
    m_device = m_requested;
    return claimDevice();
}

} // namespace Servo
