#include "tools/servo-cli/cli.h"

#include "files/parameterfile.h"
#include "tools/servo-cli/input.h"
#include "tools/servo-cli/portaccess.h"
#include "tools/servo-cli/servolink.h"

#include <QMap>
#include <QSerialPortInfo>
#include <QTextStream>

#include <algorithm>

using Servo::ParameterCount;
using Servo::Values;
using Servo::parameterInfo;

namespace ServoCli {

namespace {

const char *const Program = "servo-cli";

// ---------------------------------------------------------------- help texts

const char *const GlobalHelp = R"(Usage: servo-cli <command> [options]

Reads and writes the fourteen parameters of a servo through a servo programmer
on a serial port (111100 baud, 8 data bits, no parity, 2 stop bits), and shows
parameter files in the one-line format of the servo tool (fourteen
comma-separated decimal fields in canonical order).

Commands:
  ports                     list the serial ports present
  read --port PORT          read the servo's parameters
  write --port PORT FILE    write a parameter file to the servo and verify it
  diff --port PORT FILE     list the fields where the servo and a file differ
  show FILE                 show a parameter file

Run "servo-cli <command> --help" for the options and the output of a command.
Results go to standard output; messages and warnings go to standard error.

Exit codes:
  0  success; for diff: the servo and the file agree
  2  bad arguments
  3  no reply from the servo programmer after every attempt, or the port failed
  4  the serial port cannot be opened (missing, busy, no permission)
  5  differences: a written value did not take (write), or the servo and the
     file differ (diff)
  6  the parameter file is malformed, is not text, or holds a value out of
     range
  7  a file cannot be read or written, or is not a regular file (a named
     pipe, a device, a folder)
)";

const char *const LinkOptionsHelp = R"(  -p, --port PORT       serial port name or device path (see "servo-cli ports")
      --timeout MS      time to wait for each reply, in milliseconds, 1 to 600000
                        (default 500)
      --retries N       further attempts when no valid reply comes, 0 to 100
                        (default 2)
  -v, --verbose         report each frame sent and received on standard error
)";

const char *const PortsHelp = R"(Usage: servo-cli ports

Lists the serial ports present, one per line after a header line, in columns
aligned with spaces: Port (the name to give to --port), Description,
Manufacturer, VID:PID (four lower-case hex digits each). A "-" stands for what
the platform does not report. With no port present the table is left out and
"no serial ports found" goes to standard error.

Options:
  -h, --help            show this help

Exit codes: 0 success (also when no port is found), 2 bad arguments.
)";

const char *const ReadHelp = R"(Usage: servo-cli read --port PORT [--json] [--out FILE] [options]

Reads the servo's parameter block and prints it as a table with a header line
and one row per parameter in canonical order: Parameter (English name), Value,
Range, Unit. Switches show as on/off. A value in the reply that lies outside
its range is shown as received, and a warning goes to standard error.

Options:
)" "%1" R"(      --json            print one JSON object instead of the table: keys are the
                        parameter stems in canonical order ("TorqueGain" ...
                        "LOCKProtection"), values are numbers, and true/false
                        for the three switches
  -o, --out FILE        save the block as a parameter file instead of printing
                        the table (with --json the JSON is printed as well);
                        values are saved as received
  -h, --help            show this help

Exit codes: 0 success, 2 bad arguments, 3 no reply, 4 port cannot be opened,
7 the output file cannot be written.
)";

const char *const WriteHelp = R"(Usage: servo-cli write --port PORT FILE [--no-verify] [options]

Writes a parameter file to the servo. The file is checked first: a malformed
file, or one with a value outside its range, is refused before anything is
sent, and the field at fault is named. After the write the values that the
programmer acknowledges are compared with those sent, then the block is read
back and compared field by field. Fields that differ are printed as a table:
Parameter, Written, Acknowledged, Read back.

Options:
)" "%1" R"(      --no-verify       skip both comparisons (the acknowledgement is still
                        awaited)
  -h, --help            show this help

Exit codes: 0 written (and verified), 2 bad arguments, 3 no reply,
4 port cannot be opened, 5 fields differ after the write, 6 malformed file or
value out of range, 7 the file cannot be read.
)";

const char *const DiffHelp = R"(Usage: servo-cli diff --port PORT FILE [options]

Reads the servo's parameter block and compares it with a parameter file. The
fields that differ are printed as a table: Parameter, Servo, File; nothing is
printed when they agree.

Options:
)" "%1" R"(  -h, --help            show this help

Exit codes: 0 the servo and the file agree, 2 bad arguments, 3 no reply,
4 port cannot be opened, 5 they differ, 6 malformed file or value out of
range, 7 the file cannot be read.
)";

const char *const ShowHelp = R"(Usage: servo-cli show FILE [--json]

Prints a parameter file as the table of "servo-cli read" (or, with --json, as
its JSON object). The file is checked as strictly as by "servo-cli write": a
malformed file or a value outside its range is refused and the field at fault
is named.

Options:
      --json            print the JSON object instead of the table
  -h, --help            show this help

Exit codes: 0 success, 2 bad arguments, 6 malformed file or value out of range,
7 the file cannot be read.
)";

// ---------------------------------------------------------- command lines

struct Command {
    const char *name;
    QStringList valued; // long names of options that take a value
    QStringList flags;  // long names of options without one
    int positionals;    // exact number of operands
    const char *operandName;
    QString help;
};

const QVector<Command> &commands()
{
    static const QVector<Command> list = {
        {"ports", {}, {}, 0, "", QString::fromUtf8(PortsHelp)},
        {"read", {"port", "timeout", "retries", "out"}, {"verbose", "json"}, 0, "",
         QString::fromUtf8(ReadHelp).arg(QString::fromUtf8(LinkOptionsHelp))},
        {"write", {"port", "timeout", "retries"}, {"verbose", "no-verify"}, 1, "FILE",
         QString::fromUtf8(WriteHelp).arg(QString::fromUtf8(LinkOptionsHelp))},
        {"diff", {"port", "timeout", "retries"}, {"verbose"}, 1, "FILE",
         QString::fromUtf8(DiffHelp).arg(QString::fromUtf8(LinkOptionsHelp))},
        {"show", {}, {"json"}, 1, "FILE", QString::fromUtf8(ShowHelp)},
    };
    return list;
}

const Command *findCommand(const QString &name)
{
    for (const Command &c : commands()) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

struct Invocation {
    const Command *command = nullptr;
    QMap<QString, QString> options; // long name -> value ("" for flags)
    QStringList operands;
    bool help = false;
    QString error; // set when the line is refused

    bool has(const char *name) const { return options.contains(QLatin1String(name)); }
    QString value(const char *name) const { return options.value(QLatin1String(name)); }
};

QString longName(const QString &arg)
{
    static const QMap<QString, QString> shorts = {
        {"-p", "port"}, {"-o", "out"}, {"-v", "verbose"}, {"-h", "help"}};
    if (arg.startsWith(QLatin1String("--")))
        return arg.mid(2);
    return shorts.value(arg);
}

Invocation parseCommandLine(const Command &command, const QStringList &args)
{
    Invocation inv;
    inv.command = &command;
    // A request for help wins over anything else on the line.
    for (const QString &a : args) {
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            inv.help = true;
            return inv;
        }
    }
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (optionsEnded || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            inv.operands << a;
            continue;
        }
        if (a == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = longName(a);
        QString value;
        bool inlineValue = false;
        const int eq = name.indexOf(QLatin1Char('='));
        if (a.startsWith(QLatin1String("--")) && eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            inlineValue = true;
        }
        const bool valued = command.valued.contains(name);
        if (name.isEmpty() || (!valued && !command.flags.contains(name))) {
            inv.error = QStringLiteral("unknown option %1 for %2").arg(a, QLatin1String(command.name));
            return inv;
        }
        if (inv.options.contains(name)) {
            inv.error = QStringLiteral("--%1 given twice").arg(name);
            return inv;
        }
        if (valued && !inlineValue) {
            if (i + 1 >= args.size()) {
                inv.error = QStringLiteral("--%1 needs a value").arg(name);
                return inv;
            }
            value = args.at(++i);
        } else if (!valued && inlineValue) {
            inv.error = QStringLiteral("--%1 takes no value").arg(name);
            return inv;
        }
        if (valued && value.isEmpty()) {
            inv.error = QStringLiteral("--%1 needs a value").arg(name);
            return inv;
        }
        inv.options.insert(name, value);
    }
    if (inv.operands.size() < command.positionals) {
        inv.error = QStringLiteral("%1 needs %2").arg(QLatin1String(command.name), QLatin1String(command.operandName));
    } else if (inv.operands.size() > command.positionals) {
        inv.error = QStringLiteral("unexpected argument \"%1\"").arg(inv.operands.at(command.positionals));
    } else if (command.valued.contains(QLatin1String("port")) && !inv.has("port")) {
        inv.error = QStringLiteral("%1 needs --port PORT").arg(QLatin1String(command.name));
    }
    return inv;
}

// ---------------------------------------------------------------- output

void say(QTextStream &err, const QString &message)
{
    err << Program << ": " << message << '\n';
    err.flush();
}

// Lays out rows in columns separated by two spaces; the first row is the
// header. Trailing blanks are cut.
QString layout(const QVector<QStringList> &rows, const QVector<bool> &rightAligned)
{
    QVector<int> widths(rightAligned.size(), 0);
    for (const QStringList &row : rows) {
        for (int c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], int(row.at(c).size()));
    }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            if (c > 0)
                line += QLatin1String("  ");
            line += rightAligned.at(c) ? row.at(c).rightJustified(widths[c]) : row.at(c).leftJustified(widths[c]);
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString englishName(int index)
{
    return QString::fromLatin1(parameterInfo(index).english);
}

QString rangeText(int index)
{
    const Servo::ParameterInfo &p = parameterInfo(index);
    if (p.isSwitch)
        return QStringLiteral("on/off");
    return QStringLiteral("%1..%2").arg(p.minimum).arg(p.maximum);
}

int badArguments(QTextStream &err, const QString &problem, const QString &command = QString())
{
    say(err, problem);
    err << "Run \"servo-cli " << (command.isEmpty() ? QString() : command + QLatin1Char(' '))
        << "--help\" for usage.\n";
    err.flush();
    return BadArguments;
}

// ------------------------------------------------------------ the commands

struct LinkSettings {
    QString port;
    int timeout = 500;
    int retries = 2;
    bool verbose = false;
};

bool parseNumber(const QString &text, int minimum, int maximum, int *value)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < minimum || v > maximum)
        return false;
    *value = v;
    return true;
}

QString linkSettings(const Invocation &inv, LinkSettings *settings)
{
    settings->port = inv.value("port");
    settings->verbose = inv.has("verbose");
    if (inv.has("timeout") && !parseNumber(inv.value("timeout"), 1, 600000, &settings->timeout))
        return QStringLiteral("--timeout takes a number of milliseconds from 1 to 600000, not \"%1\"")
            .arg(inv.value("timeout"));
    if (inv.has("retries") && !parseNumber(inv.value("retries"), 0, 100, &settings->retries))
        return QStringLiteral("--retries takes a number from 0 to 100, not \"%1\"").arg(inv.value("retries"));
    return QString();
}

// The port claimed and the link opened on it; the claim is held as long as
// the link.
struct Session {
    PortClaim claim;
    Servo::ServoLink link;
};

int openLink(Session &session, const LinkSettings &settings, QTextStream &err)
{
    Servo::ServoLink &link = session.link;
    link.setTimeout(settings.timeout);
    link.setRetries(settings.retries);
    if (settings.verbose)
        link.setLogger([&err](const QString &line) { say(err, line); });
    PortClaim &claim = session.claim;
    auto refuse = [&](const QString &why) {
        const QString resolved = claim.devicePath() != claim.requestedPath()
                                     ? QStringLiteral(" (%1)").arg(claim.devicePath())
                                     : QString();
        say(err, QStringLiteral("cannot open the serial port %1%2: %3").arg(claim.requestedPath(), resolved, why));
        return PortUnavailable;
    };
    if (!claim.claim(settings.port))
        return refuse(claim.problem());
    if (!link.open(claim.devicePath())) {
        const QString why = link.openError() == QSerialPort::PermissionError ? claim.busyProblem() : link.errorString();
        claim.release();
        return refuse(why);
    }
    return Success;
}

int linkFailure(const Servo::ServoLink &link, Servo::ServoLink::Result result, QTextStream &err)
{
    if (result == Servo::ServoLink::NoReply) {
        const int n = link.attempts();
        say(err, QStringLiteral("no reply from the servo programmer on %1 within %2 ms (%3 attempt%4); "
                                "check the cable and the servo's power")
                     .arg(link.portName())
                     .arg(link.timeout())
                     .arg(n)
                     .arg(n == 1 ? "" : "s"));
    } else {
        say(err, QStringLiteral("the serial port %1 failed: %2; check the cable")
                     .arg(link.portName(), link.errorString()));
    }
    return NoReply;
}

void warnOutOfRange(const Values &values, const QString &source, QTextStream &err)
{
    for (int i = 0; i < ParameterCount; ++i) {
        if (!Servo::inRange(i, values[i]))
            say(err, QStringLiteral("warning: %1 reports %2 %3, outside its range %4")
                         .arg(source, englishName(i))
                         .arg(values[i])
                         .arg(rangeText(i)));
    }
}

// Reads and strictly checks a parameter file.
int loadFile(const QString &path, Values *values, QTextStream &err, const char *consequence = "")
{
    QString problem;
    const int code = loadValues(path, values, &problem);
    if (code == MalformedFile)
        problem += QLatin1String(consequence);
    if (code != Success)
        say(err, problem);
    return code;
}

int runPorts(const Invocation &, QTextStream &out, QTextStream &err)
{
    QVector<PortRow> rows;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        PortRow row;
        row.name = info.portName();
        row.description = info.description();
        row.manufacturer = info.manufacturer();
        row.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        row.vendorId = info.vendorIdentifier();
        row.productId = info.productIdentifier();
        rows << row;
    }
    if (rows.isEmpty()) {
        say(err, QStringLiteral("no serial ports found"));
        return Success;
    }
    out << formatPortTable(rows);
    return Success;
}

int runRead(const Invocation &inv, QTextStream &out, QTextStream &err)
{
    LinkSettings settings;
    const QString problem = linkSettings(inv, &settings);
    if (!problem.isEmpty())
        return badArguments(err, problem, QLatin1String(inv.command->name));
    Session session;
    if (const int code = openLink(session, settings, err))
        return code;
    Servo::ServoLink &link = session.link;
    Values values{};
    const Servo::ServoLink::Result result = link.read(&values);
    if (result != Servo::ServoLink::Ok)
        return linkFailure(link, result, err);
    warnOutOfRange(values, QStringLiteral("the servo"), err);

    if (inv.has("json"))
        out << formatJson(values);
    if (inv.has("out")) {
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

int runWrite(const Invocation &inv, QTextStream &out, QTextStream &err)
{
    LinkSettings settings;
    const QString problem = linkSettings(inv, &settings);
    if (!problem.isEmpty())
        return badArguments(err, problem, QLatin1String(inv.command->name));
    const QString path = inv.operands.at(0);
    Values values{};
    if (const int code = loadFile(path, &values, err, "; nothing was sent"))
        return code;

    Session session;
    if (const int code = openLink(session, settings, err))
        return code;
    Servo::ServoLink &link = session.link;
    Values acknowledged{};
    Servo::ServoLink::Result result = link.write(values, &acknowledged);
    if (result != Servo::ServoLink::Ok)
        return linkFailure(link, result, err);
    if (inv.has("no-verify")) {
        say(err, QStringLiteral("wrote %1 to the servo on %2; acknowledged, not verified").arg(path, settings.port));
        return Success;
    }
    Values readBack{};
    result = link.read(&readBack, values);
    if (result != Servo::ServoLink::Ok)
        return linkFailure(link, result, err);

    QVector<int> differing;
    QVector<QVector<int>> rows;
    for (int i = 0; i < ParameterCount; ++i) {
        if (acknowledged[i] != values[i] || readBack[i] != values[i]) {
            differing << i;
            rows << QVector<int>{values[i], acknowledged[i], readBack[i]};
        }
    }
    if (!differing.isEmpty()) {
        out << formatComparison({QStringLiteral("Written"), QStringLiteral("Acknowledged"), QStringLiteral("Read back")},
                                differing, rows);
        say(err, QStringLiteral("%1 of %2 fields differ after writing %3 to the servo on %4")
                     .arg(differing.size())
                     .arg(ParameterCount)
                     .arg(path, settings.port));
        return Differences;
    }
    say(err, QStringLiteral("wrote %1 to the servo on %2 and read it back: all %3 fields match")
                 .arg(path, settings.port)
                 .arg(ParameterCount));
    return Success;
}

int runDiff(const Invocation &inv, QTextStream &out, QTextStream &err)
{
    LinkSettings settings;
    const QString problem = linkSettings(inv, &settings);
    if (!problem.isEmpty())
        return badArguments(err, problem, QLatin1String(inv.command->name));
    const QString path = inv.operands.at(0);
    Values fileValues{};
    if (const int code = loadFile(path, &fileValues, err))
        return code;

    Session session;
    if (const int code = openLink(session, settings, err))
        return code;
    Servo::ServoLink &link = session.link;
    Values servoValues{};
    const Servo::ServoLink::Result result = link.read(&servoValues);
    if (result != Servo::ServoLink::Ok)
        return linkFailure(link, result, err);
    warnOutOfRange(servoValues, QStringLiteral("the servo"), err);

    QVector<int> differing;
    QVector<QVector<int>> rows;
    for (int i = 0; i < ParameterCount; ++i) {
        if (servoValues[i] != fileValues[i]) {
            differing << i;
            rows << QVector<int>{servoValues[i], fileValues[i]};
        }
    }
    if (differing.isEmpty()) {
        say(err, QStringLiteral("the servo on %1 and %2 agree").arg(settings.port, path));
        return Success;
    }
    out << formatComparison({QStringLiteral("Servo"), QStringLiteral("File")}, differing, rows);
    say(err, QStringLiteral("%1 of %2 fields differ between the servo on %3 and %4")
                 .arg(differing.size())
                 .arg(ParameterCount)
                 .arg(settings.port, path));
    return Differences;
}

int runShow(const Invocation &inv, QTextStream &out, QTextStream &err)
{
    Values values{};
    if (const int code = loadFile(inv.operands.at(0), &values, err))
        return code;
    out << (inv.has("json") ? formatJson(values) : formatTable(values));
    return Success;
}

} // namespace

QString formatValue(int index, int value)
{
    if (parameterInfo(index).isSwitch)
        return value != 0 ? QStringLiteral("on") : QStringLiteral("off");
    return QString::number(value);
}

QString formatTable(const Values &values)
{
    QVector<QStringList> rows;
    rows << QStringList{QStringLiteral("Parameter"), QStringLiteral("Value"), QStringLiteral("Range"),
                        QStringLiteral("Unit")};
    for (int i = 0; i < ParameterCount; ++i)
        rows << QStringList{englishName(i), formatValue(i, values[i]), rangeText(i),
                            QString::fromLatin1(parameterInfo(i).unit)};
    return layout(rows, {false, true, false, false});
}

QString formatJson(const Values &values)
{
    QString text = QStringLiteral("{\n");
    for (int i = 0; i < ParameterCount; ++i) {
        const Servo::ParameterInfo &p = parameterInfo(i);
        const QString value = p.isSwitch ? QLatin1String(values[i] != 0 ? "true" : "false")
                                         : QString::number(values[i]);
        text += QStringLiteral("  \"%1\": %2%3\n")
                    .arg(QLatin1String(p.stem), value, QLatin1String(i + 1 < ParameterCount ? "," : ""));
    }
    text += QStringLiteral("}\n");
    return text;
}

QString formatPortTable(const QVector<PortRow> &ports)
{
    auto orDash = [](const QString &s) { return s.trimmed().isEmpty() ? QStringLiteral("-") : s.trimmed(); };
    QVector<QStringList> rows;
    rows << QStringList{QStringLiteral("Port"), QStringLiteral("Description"), QStringLiteral("Manufacturer"),
                        QStringLiteral("VID:PID")};
    for (const PortRow &p : ports) {
        const QString ids = p.hasIds ? QStringLiteral("%1:%2")
                                           .arg(p.vendorId, 4, 16, QLatin1Char('0'))
                                           .arg(p.productId, 4, 16, QLatin1Char('0'))
                                     : QStringLiteral("-");
        rows << QStringList{orDash(p.name), orDash(p.description), orDash(p.manufacturer), ids};
    }
    return layout(rows, {false, false, false, false});
}

QString formatComparison(const QStringList &columns, const QVector<int> &indexes,
                         const QVector<QVector<int>> &values)
{
    QVector<QStringList> rows;
    rows << (QStringList{QStringLiteral("Parameter")} + columns);
    QVector<bool> right{false};
    for (int c = 0; c < columns.size(); ++c)
        right << true;
    for (int r = 0; r < indexes.size(); ++r) {
        QStringList row{englishName(indexes.at(r))};
        for (int v : values.at(r))
            row << formatValue(indexes.at(r), v);
        rows << row;
    }
    return layout(rows, right);
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    if (arguments.isEmpty()) {
        say(err, QStringLiteral("no command given"));
        err << '\n' << GlobalHelp;
        err.flush();
        return BadArguments;
    }
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")
        || (first == QLatin1String("help") && arguments.size() == 1)) {
        out << GlobalHelp;
        return Success;
    }
    if (first == QLatin1String("help")) {
        const Command *c = findCommand(arguments.at(1));
        if (!c || arguments.size() > 2)
            return badArguments(err, QStringLiteral("no help on \"%1\"").arg(arguments.mid(1).join(QLatin1Char(' '))));
        out << c->help;
        return Success;
    }
    const Command *command = findCommand(first);
    if (!command) {
        if (first.startsWith(QLatin1Char('-')))
            return badArguments(err, QStringLiteral("the command comes first, before %1").arg(first));
        return badArguments(err, QStringLiteral("unknown command \"%1\"").arg(first));
    }
    const Invocation inv = parseCommandLine(*command, arguments.mid(1));
    if (inv.help) {
        out << command->help;
        return Success;
    }
    if (!inv.error.isEmpty())
        return badArguments(err, inv.error, first);

    const QString name = QLatin1String(command->name);
    if (name == QLatin1String("ports"))
        return runPorts(inv, out, err);
    if (name == QLatin1String("read"))
        return runRead(inv, out, err);
    if (name == QLatin1String("write"))
        return runWrite(inv, out, err);
    if (name == QLatin1String("diff"))
        return runDiff(inv, out, err);
    return runShow(inv, out, err);
}

} // namespace ServoCli
