// The handlers of ports, read, write, diff, show, get and set, and the
// --backup of write and set.
#include "tools/servo-cli/commands.h"

#include "files/parameterfile.h"
#include "tools/servo-cli/suggest.h"

#include <QFileInfo>
#include <QTextStream>

using Servo::ParameterCount;
using Servo::Values;

namespace ServoCli {

namespace {

// Index of a field named by its key or caption (any case, spaces ignored),
// or -1 after saying which key is nearest, or else which names there are.
int fieldIndex(const QString &name, QTextStream &err, const QString &command)
{
    const int index = Servo::parameterIndex(name);
    if (index >= 0)
        return index;
    QStringList names = Servo::parameterKeys();
    for (int i = 0; i < ParameterCount; ++i)
        names << Servo::parameterCaption(i);
    const QString nearest = nearestName(name, names);
    badArguments(err,
                 QStringLiteral("unknown parameter \"%1\"; %2")
                     .arg(name,
                          nearest.isEmpty()
                              ? QStringLiteral("the names are %1")
                                    .arg(Servo::parameterKeys().join(QLatin1String(", ")))
                              : QStringLiteral("did you mean %1?")
                                    .arg(Servo::parameterKey(Servo::parameterIndex(nearest)))),
                 command);
    return -1;
}

// Checks --backup before the port is opened and chooses the name the
// backup is saved under: the name given when nothing has it, else the first
// free one of NAME-1.EXT, NAME-2.EXT, ..., so that an earlier backup is never
// replaced. The backup must not be input, the file about to be written
// (none for set). Returns Success, or the exit code after saying why.
int chooseBackup(const Invocation &inv, const QString &input, QString *backup)
{
    QTextStream &err = *inv.err;
    const QString given = inv.value(Option::Backup);
    if (!input.isEmpty() && Servo::sameFile(given, input))
        return badArguments(
            err,
            QStringLiteral("--backup %1 is the file to write%2; choose another name for the "
                           "backup; nothing was sent")
                .arg(given, given == input ? QString() : QStringLiteral(", %1").arg(input)),
            inv.command);
    const QString problem = Servo::writeTargetProblem(given);
    if (!problem.isEmpty())
        return fail(
            err, FileError,
            QStringLiteral("cannot save the backup %1: %2; nothing was sent").arg(given, problem));
    // before.txt -> before-1.txt; the number goes before the last extension.
    const QFileInfo info(given);
    const QString suffix = info.suffix().isEmpty() || info.completeBaseName().isEmpty()
        ? QString()
        : QLatin1Char('.') + info.suffix();
    const QString stem = given.left(given.size() - suffix.size());
    const int most = 9999;
    for (int n = 0; n <= most; ++n) {
        *backup = n == 0 ? given : stem + QLatin1Char('-') + QString::number(n) + suffix;
        const QFileInfo candidate(*backup);
        if (!candidate.exists() && !candidate.isSymLink())
            return Success;
    }
    return fail(err, FileError,
                QStringLiteral("cannot save the backup: %1 and %2-1%3 to %2-%4%3 exist already; "
                               "choose another name with --backup; nothing was sent")
                    .arg(given, stem, suffix, QString::number(most)));
}

// Saves the servo's block, read just before a write, as a parameter file
// under the name chooseBackup gave, which must still be free.
int saveBackup(const Values &current, const QString &path, const QString &requested,
               QTextStream &err)
{
    QString why;
    if (!Servo::writeParameterFile(path, current, &why, Servo::WriteMode::NewFileOnly))
        return fail(
            err, FileError,
            QStringLiteral("cannot save the backup %1: %2; nothing was written").arg(path, why));
    say(err,
        QStringLiteral("saved the servo's parameters to %1 before writing%2")
            .arg(path,
                 path == requested
                     ? QString()
                     : QStringLiteral(" (%1 exists already and was kept)").arg(requested)));
    return Success;
}

// The fields where the blocks differ: a table of them on standard output
// (unless --json) and how many on standard error ("N of 14 fields differ"
// and where). Returns Differences, or Success after saying agreed when the
// blocks agree.
int reportDifferences(const Invocation &inv, const QStringList &columns,
                      const QVector<Values> &blocks, const QString &where, const QString &agreed)
{
    const int count = differingFields(blocks).size();
    if (count == 0) {
        say(*inv.err, agreed);
        return Success;
    }
    if (!inv.has(Option::Json))
        *inv.out << formatComparison(columns, blocks);
    say(*inv.err,
        QStringLiteral("%1 of %2 fields differ %3").arg(count).arg(ParameterCount).arg(where));
    return Differences;
}

// After a write: the differing fields as a table (or everything as JSON)
// on standard output, and a sentence on standard error.
int reportWrite(const Invocation &inv, const QString &what, const QString &port,
                const Values &written, const Values &acknowledged, const Values *readBack)
{
    QTextStream &err = *inv.err;
    if (inv.has(Option::Json))
        *inv.out << formatWriteJson(written, acknowledged, readBack);
    if (!readBack) {
        say(err,
            QStringLiteral("wrote %1 to the servo on %2; acknowledged, not verified")
                .arg(what, port));
        return Success;
    }
    return reportDifferences(
        inv,
        {QStringLiteral("Written"), QStringLiteral("Acknowledged"), QStringLiteral("Read back")},
        {written, acknowledged, *readBack},
        QStringLiteral("after writing %1 to the servo on %2").arg(what, port),
        QStringLiteral("wrote %1 to the servo on %2 and read it back: all %3 fields match")
            .arg(what, port)
            .arg(ParameterCount));
}

// write and set: saves --backup of the servo's block (chosen before the port
// is opened, saved just before the write), then writes the block that
// change makes of the servo's, verified unless --no-verify. input is the
// file to write, if any; what names it in messages; changed are the fields
// set changes (empty for a whole block), as an acknowledgement is told.
int writeToServo(const Invocation &inv, const QString &input, ReadCheck check, const QString &what,
                 const QVector<int> &changed,
                 const std::function<Values(const Values &servo)> &change)
{
    const QString requested = inv.value(Option::Backup);
    QString backup;
    if (inv.has(Option::Backup)) {
        if (const int code = chooseBackup(inv, input, &backup))
            return code;
        check = qMax(check, NoRangeWarning);
    }
    return withServo(inv, check, [&](Session &session, const Values &servo) -> int {
        if (!backup.isEmpty()) {
            if (const int code = saveBackup(servo, backup, requested, *inv.err))
                return code;
        }
        const Values values = change(servo);
        const bool verify = !inv.has(Option::NoVerify);
        Values acknowledged{};
        Values readBack{};
        bool written = false;
        const Servo::ServoLink::Result result =
            writeAndVerify(session.link, values, verify, &acknowledged, &readBack, &written);
        if (result != Servo::ServoLink::Ok && written)
            return readBackFailure(session, result, what,
                                   changed.isEmpty()
                                       ? Servo::formatParameterLine(acknowledged)
                                       : formatAssignments(acknowledged, changed)
                                             .trimmed()
                                             .replace(QLatin1Char('\n'), QLatin1String(", ")),
                                   *inv.err);
        if (result != Servo::ServoLink::Ok)
            return linkFailure(session, result, *inv.err);
        return reportWrite(inv, what, session.claim.requestedPath(), values, acknowledged,
                           verify ? &readBack : nullptr);
    });
}

// One NAME=VALUE of set for a field not in taken: the field's *index and
// *value. Returns Success, or the exit code after saying why not.
int assignment(const Invocation &inv, const QString &text, const QVector<int> &taken, int *index,
               int *value)
{
    QTextStream &err = *inv.err;
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq < 0)
        return badArguments(err, QStringLiteral("\"%1\" is not NAME=VALUE").arg(text), inv.command);
    *index = fieldIndex(text.left(eq), err, inv.command);
    if (*index < 0)
        return BadArguments;
    const QString key = Servo::parameterKey(*index);
    if (taken.contains(*index))
        return badArguments(err, QStringLiteral("%1 given twice").arg(key), inv.command);
    const QString given = text.mid(eq + 1);
    const QString word = given.trimmed().toLower();
    if (Servo::parameterInfo(*index).isSwitch) {
        const QStringList on{"on", "true", "1"};
        const QStringList off{"off", "false", "0"};
        *value = on.contains(word) ? 1 : 0;
        if (!on.contains(word) && !off.contains(word))
            return badArguments(
                err,
                QStringLiteral("%1 takes on/off, true/false or 1/0, not \"%2\"").arg(key, given),
                inv.command);
        return Success;
    }
    bool ok = false;
    *value = word.toInt(&ok, 10);
    if (!ok || word.startsWith(QLatin1Char('+')))
        return badArguments(err,
                            QStringLiteral("%1 takes a decimal number, not \"%2\"").arg(key, given),
                            inv.command);
    if (!Servo::inRange(*index, *value))
        return fail(err, MalformedFile,
                    QStringLiteral("%1=%2 is outside %3; nothing was sent")
                        .arg(key)
                        .arg(*value)
                        .arg(Servo::parameterRange(*index)));
    return Success;
}

} // namespace

int runPorts(const Invocation &inv)
{
    const QVector<Servo::PresentPort> rows = Servo::presentPorts();
    if (rows.isEmpty())
        say(*inv.err, QStringLiteral("no serial ports found"));
    else
        *inv.out << formatPortTable(rows);
    return Success;
}

int runRead(const Invocation &inv)
{
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    const bool json = inv.has(Option::Json);
    const QString path = inv.value(Option::Out);
    const bool toStdout = path == QLatin1String("-");
    if (toStdout && json)
        return badArguments(
            err, QStringLiteral("--out - and --json both print on standard output; choose one"),
            inv.command);
    if (inv.has(Option::Out) && !toStdout) {
        // Refused before the servo is asked: a named pipe or a device would
        // be replaced by a regular file.
        const QString problem = Servo::writeTargetProblem(path);
        if (!problem.isEmpty())
            return fail(err, FileError,
                        QStringLiteral("cannot write %1: %2; nothing was sent").arg(path, problem));
    }
    return withServo(inv, WarnOutOfRange, [&](Session &, const Values &values) -> int {
        if (json)
            out << formatJson(values);
        if (toStdout) {
            out << Servo::formatParameterLine(values) << '\n';
        } else if (inv.has(Option::Out)) {
            QString why;
            if (!Servo::writeParameterFile(path, values, &why))
                return fail(err, FileError, QStringLiteral("cannot write %1: %2").arg(path, why));
            say(err, QStringLiteral("saved the servo's parameters to %1").arg(path));
        } else if (!json) {
            out << formatTable(values);
        }
        return Success;
    });
}

int runWrite(const Invocation &inv)
{
    const QString path = inv.operands.at(0);
    Values values{};
    if (const int code = loadFile(path, &values, *inv.err, "; nothing was sent"))
        return code;
    return writeToServo(inv, path, NoRead, path, {}, [&values](const Values &) { return values; });
}

int runDiff(const Invocation &inv)
{
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    const QString path = inv.operands.at(0);
    Values fileValues{};
    if (const int code = loadFile(path, &fileValues, err))
        return code;
    return withServo(inv, WarnOutOfRange, [&](Session &session, const Values &servoValues) -> int {
        const QString port = session.claim.requestedPath();
        if (inv.has(Option::Json))
            out << formatDiffJson(servoValues, fileValues);
        return reportDifferences(inv, {QStringLiteral("Servo"), QStringLiteral("File")},
                                 {servoValues, fileValues},
                                 QStringLiteral("between the servo on %1 and %2").arg(port, path),
                                 QStringLiteral("the servo on %1 and %2 agree").arg(port, path));
    });
}

int runShow(const Invocation &inv)
{
    Values values{};
    if (const int code = loadFile(inv.operands.at(0), &values, *inv.err))
        return code;
    *inv.out << (inv.has(Option::Json) ? formatJson(values) : formatTable(values));
    return Success;
}

int runGet(const Invocation &inv)
{
    QVector<int> indexes;
    for (const QString &name : inv.operands) {
        const int index = fieldIndex(name, *inv.err, inv.command);
        if (index < 0)
            return BadArguments;
        if (!indexes.contains(index))
            indexes << index;
    }
    return withServo(inv, NoRangeWarning, [&](Session &, const Values &values) -> int {
        *inv.out << (inv.has(Option::Json) ? formatJsonFields(values, indexes)
                                           : formatAssignments(values, indexes));
        return Success;
    });
}

int runSet(const Invocation &inv)
{
    QVector<int> indexes;
    QVector<int> newValues;
    QStringList changed;
    for (const QString &text : inv.operands) {
        int index = -1;
        int value = 0;
        if (const int code = assignment(inv, text, indexes, &index, &value))
            return code;
        indexes << index;
        newValues << value;
        changed << Servo::parameterKey(index);
    }
    return writeToServo(inv, QString(), WarnOutOfRange, changed.join(QLatin1String(", ")), indexes,
                        [&](Values values) {
                            for (int n = 0; n < indexes.size(); ++n)
                                values[indexes.at(n)] = newValues.at(n);
                            return values;
                        });
}

} // namespace ServoCli
