#ifndef SIMULATORPORTS_H
#define SIMULATORPORTS_H

#include <QString>
#include <QStringList>

// Running servo simulators announce their pseudo-terminals here, so that the
// port selector can offer them next to the real serial ports (the system's
// port enumeration never lists pseudo-terminals). Each simulator keeps one
// symbolic link, named after its process id, in a per-user folder under the
// temporary directory; it removes the link when it stops, and links of
// processes that are gone are ignored.
namespace Servo {

QString simulatorPortFolder();

// Announces path; returns the link to hand to withdrawSimulatorPort, or an
// empty string when it could not be made.
QString announceSimulatorPort(const QString &path);
void withdrawSimulatorPort(const QString &link);

// Paths of the pseudo-terminals of simulators that are running, oldest
// process first.
QStringList simulatorPorts();

} // namespace Servo

#endif // SIMULATORPORTS_H
