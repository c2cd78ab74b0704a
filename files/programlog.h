#ifndef PROGRAMLOG_H
#define PROGRAMLOG_H

#include "protocol/parameters.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

// The log of a programming run (servo-cli program, the bench): a CSV file
// with a header line and one complete row per servo, appended to across
// runs. Rows name the port, the servo's number on that port, the job's
// fingerprint, the result, the time from the servo's first answer to the
// result, and the fourteen values the servo holds where they are known.
//
// The columns: time,port,result,<14 keys>,servo,job,seconds. A log begun by
// an earlier version (header "time,port,result,<14 keys>") is still
// appended to, in its own layout: its rows end after the fourteen values.
namespace Servo {

struct LogRow
{
    QDateTime time; // UTC
    QString port;
    int servo = 0; // number on the port in this run, 0 when not counted
    QString job; // the job's fingerprint
    QString result; // "verified", "already held", "differs", ...
    qint64 elapsedMs = -1; // from arrival to result; -1 when not measured
    std::optional<Values> values; // what the servo holds
};

class ProgramLog
{
public:
    // Opens path to append to: a regular file that begins with a log header
    // of either layout, or a new or empty one, which gets the header.
    // Anything else (a directory, a pipe, a device, another CSV) is refused
    // and left as it is. Reads the rows already there for heldCount().
    bool open(const QString &path, QString *errorString);
    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_path; }

    // Writes one complete row and flushes it; false when the file refused.
    bool append(const LogRow &row);
    QString errorString() const;

    // Servos the log held at open() that were verified with these values
    // (written and verified, or already holding them).
    int heldCount(const Values &job) const;
    // Whether the log is in the earlier layout, without servo, job, seconds.
    bool oldLayout() const { return m_oldLayout; }

    // The header line of either layout, and one row as a line (neither with
    // a line end). Cells with a comma, a quote or a line end are quoted; a
    // row without values has fourteen empty cells.
    static QString headerLine(bool oldLayout = false);
    static QString rowLine(const LogRow &row, bool oldLayout = false);
    // The cells of one CSV line, quotes undone; a quote left open runs to
    // the end of the line.
    static QStringList splitLine(const QString &line);

private:
    QFile m_file;
    QString m_path;
    bool m_oldLayout = false;
    bool m_rowOpen = false; // a failed append may have left a row cut short
    std::map<Values, int> m_held; // verified rows at open(), by their values
};

} // namespace Servo

#endif // PROGRAMLOG_H
