#ifndef SIMULATORLINKS_H
#define SIMULATORLINKS_H

#include <QString>

// The names that simulators were started with (servo-sim --link), announced
// beside their ports (simulatorports.h): in the same folder, a symbolic link
// named as the port's announcement with ".link", pointing to the simulator's own
// link. Where simulators announce no ports, nothing is announced.
namespace Servo {

// Announces link, the link of this process's programmer (from 1) to its
// terminal, after the terminal has been announced with
// announceSimulatorPort; returns what to hand to withdrawSimulatorPort, or an
// empty string (no link, or it could not be made).
QString announceSimulatorLink(const QString &link, int programmer = 1);

// The announced link that still points to terminal, a running simulator's
// (simulatorPorts()); empty when there is none.
QString simulatorLinkName(const QString &terminal);

} // namespace Servo

#endif // SIMULATORLINKS_H
