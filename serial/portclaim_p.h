#ifndef PORTCLAIM_P_H
#define PORTCLAIM_P_H

#include <QString>

// Shared by the port claim (portclaim.cpp) and the platform files beside it
// (portclaim_unix.cpp, portclaim_win.cpp), which one of them CMake builds.
namespace Servo {

// "not a serial port (a folder)"; kind says what it is instead.
QString notSerialPort(const QString &kind);

// What the serial port's own permission error means here: denied, or busy,
// with the advice that fits the system (describeOpenError).
QString permissionOrBusySentence();

} // namespace Servo

#endif // PORTCLAIM_P_H
