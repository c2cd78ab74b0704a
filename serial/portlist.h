#ifndef PORTLIST_H
#define PORTLIST_H

#include <QString>
#include <QVector>

// The ports a servo programmer may be on, as the port selector and the
// command-line tools offer them: the system's serial ports, then the
// pseudo-terminals of running simulators (simulatorports.h).
namespace Servo {

struct PresentPort
{
    QString name; // the system's port name, or a simulator's device path
    QString description;
    QString manufacturer;
    bool hasIds = false; // both vendor and product identifier known
    quint16 vendorId = 0;
    quint16 productId = 0;
    bool usb = false; // the platform reports a USB vendor id: an adapter
    bool simulator = false; // the pseudo-terminal of a running servo-sim
    QString link; // a simulator's link name (servo-sim --link), where it has one

    QString ids() const; // "0403:6001": four lower-case hex digits each
};

QVector<PresentPort> presentPorts();

} // namespace Servo

#endif // PORTLIST_H
