#ifndef PORTSETTINGS_H
#define PORTSETTINGS_H

#include <QString>

class QSerialPort;

// Line settings of the servo programmer: 111100 baud (not 115200) both ways,
// 8 data bits, no parity, 2 stop bits, no flow control.
namespace Servo {

constexpr int BaudRate = 111100;

// Applies the line settings to a port object; the object keeps them and
// applies them again at every open.
void applyLineSettings(QSerialPort *port);

// A sentence on why an open failed, for people: missing, busy, permission.
QString describeOpenError(const QSerialPort &port);
// Its sentence for a port that is not there.
QString missingPortSentence();

} // namespace Servo

#endif // PORTSETTINGS_H
