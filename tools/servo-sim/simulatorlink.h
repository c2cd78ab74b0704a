#ifndef SERVOSIM_SIMULATORLINK_H
#define SERVOSIM_SIMULATORLINK_H

#include <QString>

// servo-sim --link: a symbolic link of the user's choice to the terminal the
// simulator serves, which never takes the name of another running simulator.

// Makes link point to terminal. A symbolic link left behind by a simulator
// that no longer runs (its terminal is gone) is replaced; one that points to
// the terminal of a running simulator, or to anything else that exists, is
// refused and left as it is, and so is anything that is not a symbolic link.
// Returns false with why in *error.
bool makeSimulatorLink(const QString &link, const QString &terminal, QString *error);

// Removes link if it still points to terminal: a link that has been made
// anew since belongs to someone else.
void removeSimulatorLink(const QString &link, const QString &terminal);

#endif // SERVOSIM_SIMULATORLINK_H
