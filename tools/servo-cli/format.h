#ifndef SERVOCLI_FORMAT_H
#define SERVOCLI_FORMAT_H

#include "bench/bench.h"
#include "protocol/parameters.h"
#include "serial/portlist.h"

#include <QString>
#include <QStringList>
#include <QVector>

// What servo-cli prints, as pure functions of the values. Every line ends in
// '\n'.
namespace ServoCli {

// "Parameter  Key  Value  Range  Unit" table, one row per parameter in
// canonical order: the caption, then the key that get, set and the JSON use.
// Switches show as on/off; numbers as they are, in range or not.
QString formatTable(const Servo::Values &values);

// One object keyed by stem in canonical order; numbers for the integer
// parameters, true/false for the switches. indent spaces go before every
// line but the first, so that the object can be nested.
QString formatJson(const Servo::Values &values, int indent = 0);
// The same object with only the fields given, in the order given.
QString formatJsonFields(const Servo::Values &values, const QVector<int> &indexes, int indent = 0);

// "Port  Description  Manufacturer  VID:PID" table; "-" where the platform
// gives nothing; identifiers as four lower-case hex digits each.
QString formatPortTable(const QVector<Servo::PresentPort> &ports);

// A table of the fields where the blocks differ: the caption, then a
// right-aligned column per block, named by columns.
QString formatComparison(const QStringList &columns, const QVector<Servo::Values> &blocks);

// Indexes of the fields where any of the blocks differs from the first.
QVector<int> differingFields(const QVector<Servo::Values> &blocks);

// The result of a write as JSON: "verified" (false when fields differ, null
// without verification), the blocks "written", "acknowledged" and
// "readBack" (left out when null), and "differing", the stems of the fields
// that did not take.
QString formatWriteJson(const Servo::Values &written, const Servo::Values &acknowledged,
                        const Servo::Values *readBack);

// The result of a diff as JSON: "agree", the blocks "servo" and "file", and
// "differing", the stems where they differ.
QString formatDiffJson(const Servo::Values &servo, const Servo::Values &file);

// "Stem=value" lines for the fields given, as "set" takes them back.
QString formatAssignments(const Servo::Values &values, const QVector<int> &indexes);

// ------------------------------------------- the hands-free bench (--auto)

// One event as a line for logs and scripts (no line end), fields separated
// by two spaces: the time (UTC, milliseconds), the port, "servo N" where a
// servo is concerned, what happened, and for a result the result word and
// reason where it failed, and the seconds it took:
// "2026-12-09T10:00:00.123Z  /dev/ttyUSB0  servo 2  failed  pulled: ...  0.532 s".
QString formatBenchEvent(const Servo::BenchEvent &event);
// The same event as one JSON object on one line, the keys in this order:
// time, event, port, servo, result, reason, seconds, job; null where an
// event has none (servo for a port's events, seconds but for results).
QString formatBenchEventJson(const Servo::BenchEvent &event, const QString &job);

// The status block: a line of totals, then one line per slot (port, state,
// verified, already held and failed counts, the last result and its time).
// No line ends; a line longer than columns - 1 is cut (0: never).
QStringList formatBenchStatus(const QVector<Servo::SlotStatus> &statuses, const QString &job,
                              int columns = 0);

// The summary at the end: one line per port, then the total.
QString formatBenchSummary(const QVector<Servo::SlotStatus> &statuses);
// The same as one JSON object on one line: "event": "summary", the totals
// and "ports", an object per port.
QString formatBenchSummaryJson(const QVector<Servo::SlotStatus> &statuses, const QString &job);

} // namespace ServoCli

#endif // SERVOCLI_FORMAT_H
