#include "serial/portlist.h"

#include "serial/simulatorlinks.h"
#include "serial/simulatorports.h"

#include <QSerialPortInfo>

namespace Servo {

QString PresentPort::ids() const
{
    return QStringLiteral("%1:%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'));
}

QVector<PresentPort> presentPorts()
{
    QVector<PresentPort> ports;
    const auto system = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : system) {
        PresentPort port;
        port.name = info.portName();
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        port.vendorId = info.vendorIdentifier();
        port.productId = info.productIdentifier();
        port.usb = info.hasVendorIdentifier();
        ports << port;
    }
    const QStringList simulators = simulatorPorts();
    for (const QString &path : simulators) {
        PresentPort port;
        port.name = path;
        port.link = simulatorLinkName(path);
        port.description = QStringLiteral("servo-sim (simulated programmer)") +
            (port.link.isEmpty() ? QString() : QStringLiteral(", link ") + port.link);
        port.simulator = true;
        ports << port;
    }
    return ports;
}

} // namespace Servo
