#ifndef STARTINFORMATION_H
#define STARTINFORMATION_H

// What the windowed programs answer before they make their QApplication, so
// that neither answer needs a display.
namespace Servo {

// With "--help" or "-h" as the only argument prints help, with "--version"
// the program's name and version, on standard output. Returns true when one
// was printed.
bool printedStartInformation(int argc, char *argv[], const char *help, const char *program,
                             const char *version);

} // namespace Servo

#endif // STARTINFORMATION_H
