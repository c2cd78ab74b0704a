#ifndef PROGRAMLOG_H
#define PROGRAMLOG_H

#include "protocol/parameters.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <optional>

// The log of a programming run (servo-cli program, the bench): a CSV file
// with a header line and one complete row per servo, appended to across
// runs. Rows name the port, the servo's number on that port, the job's
// fingerprint, the result, the time from the servo's first answer to the
// result, and the fourteen values the servo holds where they are known.
//
// A log begun by an earlier version (header "time,port,result,<14 keys>")
// is still appended to, in its own layout.
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
    QString path() const { return m_file.fileName(); }

    // Writes one complete row and flushes it; false when the file refused.
    bool append(const LogRow &row);
    QString errorString() const;

    // Servos the log held at open() that were verified with these values
    // (written and verified, or already holding them).
    int heldCount(const Values &job) const;

private:
    QFile m_file;
    bool m_oldLayout = false;
    QVector<std::pair<QString, Values>> m_verified; // fingerprint, values
};

} // namespace Servo

#endif // PROGRAMLOG_H
