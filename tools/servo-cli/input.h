#ifndef SERVOCLI_INPUT_H
#define SERVOCLI_INPUT_H

#include "protocol/parameters.h"

#include <QString>

class QTextStream;

// Parameter files as servo-cli takes them: the one-line format of the window,
// or the JSON object that "servo-cli read --json" prints. Both are checked
// strictly; nothing is guessed.
namespace ServoCli {

struct ValuesCheck
{
    bool ok = false;
    bool json = false; // the text was taken as JSON
    Servo::Values values{}; // when ok
    QString problem; // English, names the line, field or key at fault
};

// One object with exactly the fourteen keys of "read --json" (case as
// printed): integral numbers in range for the eleven numbers, true or false
// for the three switches. Unknown keys are refused.
ValuesCheck parseJsonText(const QString &text);

// JSON when the first character that is not white space is '{', else the
// one-line format.
ValuesCheck parseValuesText(const QString &text);

// Reads and checks a file; returns Success, or MalformedFile or FileError
// after saying why (the path, then the reason; consequence is added to a
// refusal for malformed content).
int loadFile(const QString &path, Servo::Values *values, QTextStream &err,
             const char *consequence = "");

} // namespace ServoCli

#endif // SERVOCLI_INPUT_H
