#ifndef SIMULATORPORTS_H
#define SIMULATORPORTS_H

#include <QString>
#include <QStringList>

// Running servo simulators announce their pseudo-terminals here, so that the
// port selector can offer them next to the real serial ports (the system's
// port enumeration never lists pseudo-terminals). Each simulated programmer
// keeps one symbolic link in a per-user folder under the temporary
// directory, named after the process id, "-" and its number for the second
// programmer of a process and the ones after (the first keeps the plain
// process id that single simulators have always used). It is removed when
// the programmer's port goes, and links of processes that are gone are
// ignored.
namespace Servo {

QString simulatorPortFolder();

// Announces path, the port of this process's programmer (from 1); returns
// the link to hand to withdrawSimulatorPort, or an empty string when it
// could not be made.
QString announceSimulatorPort(const QString &path, int programmer = 1);
// The name of programmer's announcement in the folder: "1234" or "1234-2".
QString simulatorPortName(qint64 pid, int programmer);
void withdrawSimulatorPort(const QString &link);

// Paths of the pseudo-terminals of simulators that are running, oldest
// process first, and a process's programmers in order.
QStringList simulatorPorts();

} // namespace Servo

#endif // SIMULATORPORTS_H
