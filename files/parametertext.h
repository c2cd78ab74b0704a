#ifndef PARAMETERTEXT_H
#define PARAMETERTEXT_H

#include "protocol/parameters.h"

#include <QString>

// The text of a parameter file as tools that must not guess take it: the
// one-line format of the window, or the JSON object that "servo-cli read
// --json" prints. Both are checked strictly.
namespace Servo {

struct ValuesCheck
{
    bool ok = false;
    bool json = false; // the text was taken as JSON
    Values values{}; // when ok
    QString problem; // English, names the line, field or key at fault
};

// One object with exactly the fourteen keys of "read --json" (case as
// printed): integral numbers in range for the eleven numbers, true or false
// for the three switches. Unknown keys are refused.
ValuesCheck parseJsonText(const QString &text);

// JSON when the first character that is not white space is '{', else the
// one-line format.
ValuesCheck parseValuesText(const QString &text);

} // namespace Servo

#endif // PARAMETERTEXT_H
