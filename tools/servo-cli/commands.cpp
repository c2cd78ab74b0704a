// The handlers of ports, read, write, diff, show, get and set.
#include "tools/servo-cli/commands.h"

#include "files/parameterfile.h"

#include <QTextStream>

using Servo::ParameterCount;
using Servo::Values;
using Servo::parameterInfo;

namespace ServoCli {

namespace {

QString stem(int index)
{
    return Servo::parameterKey(index);
}

// Index of a field named by its key or caption (any case, spaces ignored),
// or -1 after saying which names there are.
int fieldIndex(const QString &name, QTextStream &err, const QString &command)
{
    const int index = Servo::parameterIndex(name);
    if (index < 0)
        badArguments(err,
                     QStringLiteral("unknown parameter \"%1\"; the names are %2")
                         .arg(name, Servo::parameterKeys().join(QLatin1String(", "))),
                     command);
    return index;
}

// After a write: the differing fields as a table (or everything as JSON)
// on standard output, and a sentence on standard error.
int reportWrite(const Invocation &inv, const QString &what, const QString &port, const Values &written,
                const Values &acknowledged, const Values *readBack, const QVector<int> &differing)
{
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    if (inv.has("json"))
        out << formatWriteJson(written, acknowledged, readBack);
    if (!readBack) {
        say(err, QStringLiteral("wrote %1 to the servo on %2; acknowledged, not verified").arg(what, port));
        return Success;
    }
    if (!differing.isEmpty()) {
        QVector<QVector<int>> rows;
        for (int i : differing)
            rows << QVector<int>{written[i], acknowledged[i], (*readBack)[i]};
        if (!inv.has("json"))
            out << formatComparison({QStringLiteral("Written"), QStringLiteral("Acknowledged"),
                                     QStringLiteral("Read back")},
                                    differing, rows);
        say(err, QStringLiteral("%1 of %2 fields differ after writing %3 to the servo on %4")
                     .arg(differing.size())
                     .arg(ParameterCount)
                     .arg(what, port));
        return Differences;
    }
    say(err, QStringLiteral("wrote %1 to the servo on %2 and read it back: all %3 fields match")
                 .arg(what, port)
                 .arg(ParameterCount));
    return Success;
}

// Writes values over an open session, verified unless --no-verify.
int writeValues(const Invocation &inv, Session &session, const QString &what, const Values &values)
{
    const bool verify = !inv.has("no-verify");
    Values acknowledged{};
    Values readBack{};
    QVector<int> differing;
    const Servo::ServoLink::Result result =
        writeAndVerify(session.link, values, verify, &acknowledged, &readBack, &differing);
    if (result != Servo::ServoLink::Ok)
        return linkFailure(session, result, *inv.err);
    return reportWrite(inv, what, session.claim.requestedPath(), values, acknowledged, verify ? &readBack : nullptr,
                       differing);
}

} // namespace

int runPorts(const Invocation &inv)
{
    const QVector<PortRow> rows = presentPorts();
    if (rows.isEmpty()) {
        say(*inv.err, QStringLiteral("no serial ports found"));
        return Success;
    }
    *inv.out << formatPortTable(rows);
    return Success;
}

int runRead(const Invocation &inv)
{
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    const bool toStdout = inv.value("out") == QLatin1String("-");
    if (toStdout && inv.has("json"))
        return badArguments(err, QStringLiteral("--out - and --json both print on standard output; choose one"),
                            inv.name());
    if (inv.has("out") && !toStdout) {
        // Refused before the servo is asked: a named pipe or a device would
        // be replaced by a regular file.
        const QString problem = Servo::writeTargetProblem(inv.value("out"));
        if (!problem.isEmpty()) {
            say(err,
                QStringLiteral("cannot write %1: %2; nothing was sent")
                    .arg(inv.value("out"), problem));
            return FileError;
        }
    }
    LinkSettings settings;
    Session session;
    if (const int code = startSession(inv, &settings, &session))
        return code;
    Values values{};
    if (const int code = readServo(session, &values, err, WarnOutOfRange))
        return code;

    if (inv.has("json"))
        out << formatJson(values);
    if (toStdout) {
        out << Servo::formatParameterLine(values) << '\n';
    } else if (inv.has("out")) {
        const QString path = inv.value("out");
        QString why;
        if (!Servo::writeParameterFile(path, values, &why)) {
            say(err, QStringLiteral("cannot write %1: %2").arg(path, why));
            return FileError;
        }
        say(err, QStringLiteral("saved the servo's parameters to %1").arg(path));
    } else if (!inv.has("json")) {
        out << formatTable(values);
    }
    return Success;
}

int runWrite(const Invocation &inv)
{
    const QString path = inv.operands.at(0);
    Values values{};
    if (const int code = loadFile(path, &values, *inv.err, "; nothing was sent"))
        return code;
    QString backup;
    if (inv.has("backup")) {
        if (const int code = chooseBackup(inv, path, &backup))
            return code;
    }
    LinkSettings settings;
    Session session;
    if (const int code = startSession(inv, &settings, &session))
        return code;
    if (inv.has("backup")) {
        Values current{};
        if (const int code = readServo(session, &current, *inv.err, NoRangeWarning))
            return code;
        if (const int code = saveBackup(current, backup, inv.value("backup"), *inv.err))
            return code;
    }
    return writeValues(inv, session, path, values);
}

int runDiff(const Invocation &inv)
{
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    const QString path = inv.operands.at(0);
    Values fileValues{};
    if (const int code = loadFile(path, &fileValues, err))
        return code;
    LinkSettings settings;
    Session session;
    if (const int code = startSession(inv, &settings, &session))
        return code;
    Values servoValues{};
    if (const int code = readServo(session, &servoValues, err, WarnOutOfRange))
        return code;

    const QString port = session.claim.requestedPath();
    const QVector<int> differing = differingFields({servoValues, fileValues});
    if (inv.has("json"))
        out << formatDiffJson(servoValues, fileValues);
    if (differing.isEmpty()) {
        say(err, QStringLiteral("the servo on %1 and %2 agree").arg(port, path));
        return Success;
    }
    QVector<QVector<int>> rows;
    for (int i : differing)
        rows << QVector<int>{servoValues[i], fileValues[i]};
    if (!inv.has("json"))
        out << formatComparison({QStringLiteral("Servo"), QStringLiteral("File")}, differing, rows);
    say(err, QStringLiteral("%1 of %2 fields differ between the servo on %3 and %4")
                 .arg(differing.size())
                 .arg(ParameterCount)
                 .arg(port, path));
    return Differences;
}

int runShow(const Invocation &inv)
{
    Values values{};
    if (const int code = loadFile(inv.operands.at(0), &values, *inv.err))
        return code;
    *inv.out << (inv.has("json") ? formatJson(values) : formatTable(values));
    return Success;
}

int runGet(const Invocation &inv)
{
    QVector<int> indexes;
    for (const QString &name : inv.operands) {
        const int index = fieldIndex(name, *inv.err, inv.name());
        if (index < 0)
            return BadArguments;
        if (!indexes.contains(index))
            indexes << index;
    }
    LinkSettings settings;
    Session session;
    if (const int code = startSession(inv, &settings, &session))
        return code;
    Values values{};
    if (const int code = readServo(session, &values, *inv.err, NoRangeWarning))
        return code;
    *inv.out << (inv.has("json") ? formatJsonFields(values, indexes) : formatAssignments(values, indexes));
    return Success;
}

int runSet(const Invocation &inv)
{
    QTextStream &err = *inv.err;
    QVector<int> indexes;
    QVector<int> newValues;
    for (const QString &assignment : inv.operands) {
        const int eq = assignment.indexOf(QLatin1Char('='));
        if (eq < 0)
            return badArguments(err, QStringLiteral("\"%1\" is not NAME=VALUE").arg(assignment), inv.name());
        const int index = fieldIndex(assignment.left(eq), err, inv.name());
        if (index < 0)
            return BadArguments;
        if (indexes.contains(index))
            return badArguments(err, QStringLiteral("%1 given twice").arg(stem(index)), inv.name());
        const Servo::ParameterInfo &p = parameterInfo(index);
        const QString text = assignment.mid(eq + 1).trimmed().toLower();
        int value = 0;
        bool ok = false;
        if (p.isSwitch) {
            ok = true;
            if (text == QLatin1String("on") || text == QLatin1String("true") || text == QLatin1String("1"))
                value = 1;
            else if (text == QLatin1String("off") || text == QLatin1String("false") || text == QLatin1String("0"))
                value = 0;
            else
                ok = false;
            if (!ok)
                return badArguments(err, QStringLiteral("%1 takes on/off, true/false or 1/0, not \"%2\"")
                                             .arg(stem(index), assignment.mid(eq + 1)),
                                    inv.name());
        } else {
            value = text.toInt(&ok, 10);
            if (!ok || text.startsWith(QLatin1Char('+')))
                return badArguments(err, QStringLiteral("%1 takes a decimal number, not \"%2\"")
                                             .arg(stem(index), assignment.mid(eq + 1)),
                                    inv.name());
            if (!Servo::inRange(index, value)) {
                say(err, QStringLiteral("%1=%2 is outside %3..%4; nothing was sent")
                             .arg(stem(index))
                             .arg(value)
                             .arg(p.minimum)
                             .arg(p.maximum));
                return MalformedFile;
            }
        }
        indexes << index;
        newValues << value;
    }
    QString backup;
    if (inv.has("backup")) {
        if (const int code = chooseBackup(inv, QString(), &backup))
            return code;
    }
    LinkSettings settings;
    Session session;
    if (const int code = startSession(inv, &settings, &session))
        return code;
    Values values{};
    if (const int code = readServo(session, &values, err, WarnOutOfRange))
        return code;
    if (inv.has("backup")) {
        if (const int code = saveBackup(values, backup, inv.value("backup"), err))
            return code;
    }
    QStringList changed;
    for (int n = 0; n < indexes.size(); ++n) {
        values[indexes.at(n)] = newValues.at(n);
        changed << stem(indexes.at(n));
    }
    return writeValues(inv, session, changed.join(QLatin1String(", ")), values);
}

} // namespace ServoCli
