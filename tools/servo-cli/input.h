#ifndef SERVOCLI_INPUT_H
#define SERVOCLI_INPUT_H

#include "protocol/parameters.h"

#include <QString>

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

// One line of exactly fourteen plain decimal fields in range (leading zeros
// allowed, read as decimal), optionally ended by LF or CR LF; any further
// lines must be empty.
ValuesCheck parseParameterText(const QString &text);

// One object with exactly the fourteen keys of "read --json" (case as
// printed): integral numbers in range for the eleven numbers, true or false
// for the three switches. Unknown keys are refused.
ValuesCheck parseJsonText(const QString &text);

// JSON when the first character that is not white space is '{', else the
// one-line format.
ValuesCheck parseValuesText(const QString &text);

// Reads and checks a file; returns ServoCli::Success, MalformedFile or
// FileError, with the reason in *problem (prefixed with the path).
int loadValues(const QString &path, Servo::Values *values, QString *problem);

} // namespace ServoCli

#endif // SERVOCLI_INPUT_H
