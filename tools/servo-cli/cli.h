#ifndef SERVOCLI_CLI_H
#define SERVOCLI_CLI_H

#include "protocol/parameters.h"

#include <QString>
#include <QStringList>
#include <QVector>

class QTextStream;

// servo-cli: the servo programmer from a shell. Results go to the output
// stream, messages and warnings to the error stream.
namespace ServoCli {

enum ExitCode {
    Success = 0,
    BadArguments = 2,
    NoReply = 3,
    PortUnavailable = 4,
    Differences = 5,
    MalformedFile = 6,
    FileError = 7,
};

// Runs one command line (without the program name) and returns the exit code.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

// Output formats, each line ending in '\n'.

// "Parameter  Value  Range  Unit" table, one row per parameter in canonical
// order. Switches show as on/off; numbers as they are, in range or not.
QString formatTable(const Servo::Values &values);

// One object keyed by stem in canonical order; numbers for the integer
// parameters, true/false for the switches.
QString formatJson(const Servo::Values &values);

// A value as the tables show it: the number, or on/off for a switch.
QString formatValue(int index, int value);

struct PortRow {
    QString name;
    QString description;
    QString manufacturer;
    bool hasIds = false; // both vendor and product identifier known
    quint16 vendorId = 0;
    quint16 productId = 0;
};

// "Port  Description  Manufacturer  VID:PID" table; "-" where the platform
// gives nothing; identifiers as four lower-case hex digits each.
QString formatPortTable(const QVector<PortRow> &ports);

// A table of named columns, each row a parameter index and one value per
// column; values are right-aligned.
QString formatComparison(const QStringList &columns, const QVector<int> &indexes,
                         const QVector<QVector<int>> &values);

} // namespace ServoCli

#endif // SERVOCLI_CLI_H
