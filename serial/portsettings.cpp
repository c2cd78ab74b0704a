#include "serial/portsettings.h"

#include "serial/portclaim_p.h"

#include <QSerialPort>

namespace Servo {

void applyLineSettings(QSerialPort *port)
{
    port->setBaudRate(BaudRate, QSerialPort::AllDirections);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::TwoStop);
}

QString describeOpenError(const QSerialPort &port)
{
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return missingPortSentence();
    case QSerialPort::PermissionError:
        return permissionOrBusySentence();
    case QSerialPort::UnsupportedOperationError:
        return QStringLiteral("the driver refused the line settings (111100 baud, 8N2)");
    default:
        return port.errorString();
    }
}

QString missingPortSentence()
{
    return QStringLiteral("the port does not exist (is the programmer plugged in?)");
}

} // namespace Servo
