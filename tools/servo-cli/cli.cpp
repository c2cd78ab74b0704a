// The command line of servo-cli: the options, the table of commands, their
// help and parsing, and run().
#include "tools/servo-cli/cli.h"

#include "tools/servo-cli/commands.h"
#include "tools/servo-cli/suggest.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <climits>

#ifndef SERVO_VERSION
#define SERVO_VERSION "unknown"
#endif

namespace ServoCli {

namespace {

// Each Option's name, value name and description.
QCommandLineOption commandLineOption(Option option)
{
    // In the order of Option.
    static const QCommandLineOption options[] = {
        {QStringList{"p", "port"},
         "serial port name or device path (see \"servo-cli ports\"); a bare name is looked up in "
         "/dev. Default: $SERVO_PORT, else the one USB adapter present, else the one running "
         "simulator",
         "PORT"},
        {"timeout", "time to wait for each reply, in milliseconds, 1 to 600000 (default 500)",
         "MS"},
        {"retries", "further attempts when no valid reply comes, 0 to 100 (default 2)", "N"},
        {QStringList{"v", "verbose"}, "report each frame sent and received on standard error"},
        {"json", "print JSON instead of the table"},
        {QStringList{"o", "out"}, "save the block as a parameter file; \"-\" prints the line",
         "FILE"},
        {"no-verify", "skip both comparisons (the acknowledgement is still awaited)"},
        {"backup",
         "save the servo's block, as read just before the write, as a parameter file (nothing is "
         "written when it cannot be saved). An existing file is kept: the backup then goes to the "
         "first free name of FILE-1, FILE-2, ... (before.txt: before-1.txt), named on standard "
         "error. FILE may not be the file to write, nor a named pipe or a device",
         "FILE"},
        {"log",
         "append one CSV row per servo, with its last attempt: time (UTC), port, result, the "
         "fourteen values read back (those acknowledged when the result is \"acknowledged "
         "only\"), servo (its number in the run), job (the fingerprint of FILE), seconds (the "
         "time the attempt took); a header row starts a new file. An existing FILE must be a log "
         "that begins with that header row, or with the header of an earlier version (without "
         "servo, job and seconds; its rows keep that layout), and a regular file (not a named "
         "pipe or a device); otherwise nothing is sent",
         "FILE"},
        {"auto",
         "hands-free: program every servo the moment it answers, on every --port at once, "
         "without a key press"},
        {"count", "with --auto: stop after N servos verified (written, or already holding FILE)",
         "N"},
        {"poll",
         "with --auto: ask an empty programmer for a servo every MS milliseconds, 10 to 10000 "
         "(default 100)",
         "MS"},
        {"gone",
         "with --auto: a servo is taken as removed after N polls in a row without a reply, 1 to "
         "100 (default 3); only then is the next one programmed",
         "N"},
        {"quiet", "with --auto: no bell on a terminal"},
        {"expect-job",
         "with --auto: refuse FILE unless its fingerprint is HASH (the 8 hex digits printed at "
         "the start); nothing is sent",
         "HASH"},
        {QStringList{"h", "help"}, "show this help"},
        {"version", "print the version"},
    };
    static_assert(sizeof(options) / sizeof(options[0]) == int(Option::Version) + 1,
                  "one entry per Option");
    return options[int(option)];
}

struct OptionUse
{
    Option option;
    const char *description = nullptr; // for this command; null: the option's own
};

struct CommandEntry
{
    const char *name;
    const char *summary; // one line for "servo-cli --help"
    const char *description; // paragraphs before the options, the last one "Exit codes: ..."
    bool link; // talks to the servo: --port, --timeout, --retries and --verbose come first
    QVector<OptionUse> options;
    const char *operand; // "FILE", or "NAME..." for one or more; empty when none
    const char *operandHelp; // what the operand is
    int (*handler)(const Invocation &);
};

const QVector<CommandEntry> &table()
{
    static const QVector<CommandEntry> commands = {
        {"ports",
         "list the serial ports present and running simulators",
         R"(Lists the serial ports present, then the pseudo-terminals of running
servo-sim simulators, one per line after a header line, in columns aligned
with spaces: Port (the name to give to --port), Description, Manufacturer,
VID:PID (four lower-case hex digits each). A "-" stands for what the platform
does not report. A simulator started with --link has its link in the
Description ("link /tmp/servo"); --port takes the link as well as the
terminal. With no port present the table is left out and "no serial
ports found" goes to standard error.

Exit codes: 0 success (also when no port is found), 2 bad arguments.)",
         false,
         {},
         "",
         "",
         runPorts},
        {"read",
         "read the servo's parameters",
         R"(Reads the servo's parameter block and prints it as a table with a header line
and one row per parameter in canonical order: Parameter (English caption), Key
(the name of --json, get and set), Value, Range, Unit. Switches show as on/off.
A value in the reply that lies outside its range is shown as received, and a
warning goes to standard error.

Exit codes: 0 success, 2 bad arguments, 3 no reply, 4 port cannot be opened,
7 the output file cannot be written.)",
         true,
         {{Option::Json,
           "print one JSON object instead of the table: keys are the parameter stems in canonical "
           "order (\"TorqueGain\" ... \"LOCKProtection\"), values are numbers, and true/false for "
           "the three switches"},
          {Option::Out,
           "save the block as a parameter file instead of printing the table (with --json the JSON "
           "is printed as well); values are saved as received. An existing regular file is "
           "replaced; a named pipe, a device or a folder is refused before the servo is asked. "
           "\"-\" prints the one-line format on standard output (not together with --json)"}},
         "",
         "",
         runRead},
        {"write",
         "write a parameter file to the servo and verify it",
         R"(Writes a parameter file (one-line or JSON) to the servo. The file is checked
first: a malformed file, or one with a value outside its range, is refused
before anything is sent, and the field at fault is named. After the write the
values that the programmer acknowledges are compared with those sent, then the
block is read back and compared field by field. Fields that differ are printed
as a table: Parameter, Written, Acknowledged, Read back.

When the programmer acknowledged the write but the read-back got no reply, the
servo was written: the message says so, with the values acknowledged, and that
the write is not verified; the exit code is 3, as for any reply that did not
come (running the command again is safe).

Exit codes: 0 written (and verified), 2 bad arguments (also a --backup that is
FILE itself), 3 no reply (also to the read-back of a write that was
acknowledged), 4 port cannot be opened, 5 fields differ after the write,
6 malformed file or value out of range, 7 the file cannot be read or the
backup cannot be saved.)",
         true,
         {{Option::NoVerify},
          {Option::Backup},
          {Option::Json,
           "print the result as one JSON object: \"verified\" (true, false, or null with "
           "--no-verify), the blocks \"written\", \"acknowledged\" and \"readBack\", and "
           "\"differing\", the stems of the fields that did not take"}},
         "FILE",
         "the parameter file to write",
         runWrite},
        {"diff",
         "list the fields where the servo and a file differ",
         R"(Reads the servo's parameter block and compares it with a parameter file
(one-line or JSON). The fields that differ are printed as a table: Parameter,
Servo, File; nothing is printed when they agree.

Exit codes: 0 the servo and the file agree, 2 bad arguments, 3 no reply,
4 port cannot be opened, 5 they differ, 6 malformed file or value out of
range, 7 the file cannot be read.)",
         true,
         {{Option::Json,
           "print one JSON object: \"agree\" (true or false), the blocks \"servo\" and \"file\", "
           "and \"differing\", the stems where they differ"}},
         "FILE",
         "the parameter file to compare the servo with",
         runDiff},
        {"show",
         "show a parameter file",
         R"(Prints a parameter file as the table of "servo-cli read" (or, with --json, as
its JSON object). The file is checked as strictly as by "servo-cli write": a
malformed file or a value outside its range is refused and the field at fault
is named.

The one-line format: exactly fourteen comma-separated fields in canonical
order, each a plain decimal number within its range (no sign, no spaces; a
leading zero is allowed and read as decimal: 010 is ten). The line may end in
LF or CR LF; after it only empty lines may follow. The file is UTF-8, and a
UTF-8 byte-order mark is allowed; a UTF-16 or UTF-32 file with a byte-order
mark is read as well. A NUL byte or bytes that are not UTF-8 make it binary
content and it is refused. At most 65536 bytes.

The JSON format: one object with exactly the fourteen keys that "read --json"
prints (case as printed, any order): integral numbers within range for the
eleven numbers, true or false for the three switches. A missing or unknown key
is refused.

Exit codes: 0 success, 2 bad arguments, 6 malformed file or value out of range,
7 the file cannot be read.)",
         false,
         {{Option::Json, "print the JSON object instead of the table"}},
         "FILE",
         "the parameter file to show",
         runShow},
        {"get",
         "print single fields of the servo",
         R"(Reads the servo's block and prints the fields named, one "Key=value" line
each, as "servo-cli set" takes them. A name is a key or a caption of the table
of "servo-cli read" (see "servo-cli --help"); a wrong name gets the nearest
key ("did you mean TorqueGain?"), or the list of keys when none is near.
Switches show as on/off.

Exit codes: 0 success, 2 bad arguments or an unknown name, 3 no reply, 4 port
cannot be opened.)",
         true,
         {{Option::Json, "print one JSON object with the fields named"}},
         "NAME...",
         "a parameter's key or caption",
         runGet},
        {"set",
         "change single fields of the servo",
         R"(Reads the servo's block, changes the fields named, writes the block and
verifies it as "servo-cli write" does. Names as for "servo-cli get"; values are
decimal numbers within the field's range, and on/off, true/false or 1/0 for
the switches. Everything is checked before the port is opened. A write that
was acknowledged and whose read-back got no reply is told as for "servo-cli
write", with the acknowledged values of the fields named.

Exit codes: 0 written and verified, 2 bad arguments or an unknown name, 3 no
reply (also to the read-back of a write that was acknowledged), 4 port cannot
be opened, 5 fields differ after the write, 6 a value out of range, 7 the
backup cannot be saved.)",
         true,
         {{Option::Backup}},
         "NAME=VALUE...",
         "a parameter and its new value",
         runSet},
        {"program",
         "write and verify one file to many servos in turn",
         R"(A loop for a bench that configures many servos one after another. The port is
claimed and opened once before the first prompt: a port that is missing, busy
or not a serial port ends the run at once. Before each servo it asks on
standard error, and reads the answer from standard input:
Enter programs the next servo, "r" and Enter the same servo again (after a
failure, say), "q" and Enter (or the end of the input) stops; any other answer
is asked again. For each servo it writes the file, reads the block back and
prints one line: the servo's number, "verified" or "FAILED" and why (the fields
that did not take, no reply, the port, or a write that was acknowledged but
whose read-back got no reply, logged as "acknowledged only"). A retried
servo keeps its number. The port is opened for each servo and closed while
waiting.

The summary line ends the run: "programmed N, failed M", counting servos, not
attempts, by the result of their last attempt. The log has one row per servo,
with that result, written when the run moves on from the servo.

Ctrl-C (SIGINT), SIGTERM or SIGHUP end the run in order: the servo being
programmed is logged as "interrupted" and counted in the summary as
"interrupted 1"; at a prompt, the servo attached keeps its result. The summary
is printed and the exit code is 130.

With --auto the bench runs hands-free, on every --port at once (--port may be
given several times; "--port usb" takes every USB adapter present and any
plugged in later, "--port simulators" every running servo-sim). Each
programmer is polled with read requests every --poll milliseconds; a servo
that answers twice in a row is programmed once: written, the acknowledgement
checked, read back and compared. One that already holds the file is counted
as "already held" and not written. The next servo is programmed only after
--gone polls in a row got no reply (the servo was removed): a servo that stays
attached, or whose contact drops out for one poll, is never written twice. A
port that goes away is opened again when it comes back. With --auto, --port
is needed, --timeout is how long the acknowledgement and the read-back may
take (default 250 ms), and --retries and --verbose are not used.

At the start the job's fingerprint (8 hex digits of a hash of its fourteen
values, the same for every file with these values) is printed on standard
error, and with --log how many servos of this job the log already holds.
On a terminal a status block is redrawn in place: a line of totals, then one
line per port with its state, verified and failed counts and the last servo's
result and time; the bell rings once for a verified servo and three times for
a failure (not with --quiet). Otherwise one line per event goes to standard
output: the time (UTC), the port, the servo's number and what happened
(arrived, verified, already held, failed with the reason, interrupted,
removed, port lost, port back, port added); --json prints each event as one
JSON object per line (time, event, port, servo, result, reason, seconds,
job). The run ends after --count servos verified, or on Ctrl-C (SIGINT) or
SIGTERM: the first ends it in order (a servo being written is finished and
logged), a second at once (the servo is logged as "interrupted"). Then a
summary goes to standard output: verified, already held and failed, in total
and per port.

Exit codes: 0 every servo verified, 2 bad arguments, 4 the port cannot be
opened (before the first prompt), 5 at least one servo failed, 6 malformed
file or value out of range, or with --expect-job a file whose fingerprint is
another, 7 the file cannot be read, or the log cannot be written or is not a
servo-cli log, 130 interrupted.)",
         true,
         {{Option::Log},
          {Option::Auto},
          {Option::Count},
          {Option::Poll},
          {Option::Gone},
          {Option::Quiet},
          {Option::Json,
           "with --auto: print each event as one JSON object per line, and the summary as one "
           "object"},
          {Option::ExpectJob}},
         "FILE",
         "the parameter file to write to each servo",
         runProgram},
    };
    return commands;
}

// The parser's help, which names the program by the path it was started
// with, naming it as typed instead ("servo-cli read").
QString helpText(const QCommandLineParser &parser, const QString &program)
{
    // "Usage: /usr/bin/servo-cli [options] FILE": the path stands between
    // spaces, as every parser here has options.
    QString text = parser.helpText();
    const QString started = QCoreApplication::arguments().value(0);
    const int at = text.indexOf(QLatin1Char(' ') + started + QLatin1Char(' '));
    if (!started.isEmpty() && at >= 0 && at < text.indexOf(QLatin1Char('\n')))
        text.replace(at + 1, started.size(), program);
    return text;
}

QString globalHelp()
{
    QString list;
    for (const CommandEntry &c : table())
        list += QStringLiteral("  %1%2\n")
                    .arg(QString::fromLatin1(c.name).leftJustified(10), QLatin1String(c.summary));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(R"(
Reads and writes the fourteen parameters of a servo through a servo programmer
on a serial port (111100 baud, 8 data bits, no parity, 2 stop bits).

Commands:
%1
Run "servo-cli <command> --help" for the options and the output of a command;
"servo-cli --version" prints the version. Results go to standard output;
messages and warnings go to standard error.

A parameter file is either the one-line format of the servo tool or the JSON
object of "servo-cli read --json", told apart by the first character that is
not white space ('{' for JSON); either is checked strictly (see
"servo-cli show --help").

The port: --port, else the environment variable SERVO_PORT, else the one USB
adapter present (a port with a USB vendor id), else the one running simulator;
the port taken is named on standard error. Built-in serial ports (ttyS0, COM1)
are listed but never taken without --port. With two adapters, or no adapter
and two simulators, the command is refused and they are listed, a simulator
with the link it was started with (servo-sim --link), which --port takes.

Parameter names: "get" and "set" take a parameter's key ("TorqueGain", as in
the Key column of the table, the JSON and the log) or its caption ("Torque
Gain"), in any case, with spaces ignored. A name, command or option that is
not known gets the nearest one that is ("did you mean ...?").

Exit codes:
  0  success; for diff: the servo and the file agree
  2  bad arguments
  3  no reply from the servo programmer after every attempt, or the port
     failed; for write, set: also when only the read-back of an acknowledged
     write got no reply (the servo was written, not verified)
  4  the serial port cannot be opened (missing, busy, no permission, not a
     serial port)
  5  differences: a written value did not take (write, set, program), or the
     servo and the file differ (diff)
  6  the parameter file is malformed, is not text, or holds a value out of
     range
  7  a file cannot be read or written, or is not a regular file (a named
     pipe, a device, a folder)
  130 program was interrupted (Ctrl-C, SIGTERM, SIGHUP))")
                                         .arg(list));
    parser.addOption(commandLineOption(Option::Help));
    parser.addOption(commandLineOption(Option::Version));
    return helpText(parser, QStringLiteral("servo-cli <command>"));
}

const CommandEntry *findCommand(const QString &name)
{
    for (const CommandEntry &c : table()) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

// "unknown command "red"; did you mean read?"
QString unknownCommand(const QString &name)
{
    QStringList names;
    for (const CommandEntry &c : table())
        names << QLatin1String(c.name);
    return QStringLiteral("unknown command \"%1\"%2").arg(name, didYouMean(name, names));
}

// The options of a command, in the order of its help (--help aside).
QVector<OptionUse> optionsOf(const CommandEntry &command)
{
    QVector<OptionUse> uses;
    if (command.link)
        uses = {{Option::Port}, {Option::Timeout}, {Option::Retries}, {Option::Verbose}};
    return uses + command.options;
}

// The parser of a command: its description, options (and --help) and operand.
void prepare(QCommandLineParser *parser, const CommandEntry &command)
{
    parser->setApplicationDescription(QLatin1Char('\n') +
                                      QString::fromUtf8(command.description).trimmed());
    const QVector<OptionUse> uses = optionsOf(command) << OptionUse{Option::Help};
    for (const OptionUse &use : uses) {
        QCommandLineOption option = commandLineOption(use.option);
        if (use.description)
            option.setDescription(QString::fromUtf8(use.description));
        parser->addOption(option);
    }
    const QString operand = QLatin1String(command.operand);
    if (!operand.isEmpty())
        parser->addPositionalArgument(QString(operand).remove(QLatin1String("...")),
                                      QString::fromUtf8(command.operandHelp), operand);
}

// The option an argument such as "--port", "--json=yes" or "-p" names among
// options (of short options run together, "-vp", the last); null when none.
const QCommandLineOption *namedOption(const QString &argument,
                                      const QVector<QCommandLineOption> &options)
{
    const QString name = argument.startsWith(QLatin1String("--"))
        ? argument.mid(2).section(QLatin1Char('='), 0, 0)
        : argument.right(1);
    for (const QCommandLineOption &option : options) {
        if (option.names().contains(name))
            return &option;
    }
    return nullptr;
}

// What QCommandLineParser refused in arguments, in servo-cli's words: an
// unknown option (with the nearest of the command's own, or the note that
// it belongs to other commands), an option without its value, a value
// given to a flag.
QString optionProblem(const CommandEntry &command, const QStringList &unknown,
                      const QStringList &arguments, const QString &qtText)
{
    QVector<QCommandLineOption> own;
    QStringList ownNames;
    QVector<OptionUse> uses = optionsOf(command);
    uses.append(OptionUse{Option::Help});
    for (const OptionUse &use : qAsConst(uses)) {
        own << commandLineOption(use.option);
        ownNames << QLatin1String("--") + own.last().names().last();
    }
    if (!unknown.isEmpty()) {
        const QString name = unknown.first();
        const QString shown = (name.size() == 1 ? QLatin1String("-") : QLatin1String("--")) + name;
        for (int o = 0; o <= int(Option::Version); ++o) {
            if (commandLineOption(Option(o)).names().contains(name))
                return QStringLiteral("%1 is not an option of %2")
                    .arg(shown, QLatin1String(command.name));
        }
        return QStringLiteral("unknown option \"%1\"%2").arg(shown, didYouMean(shown, ownNames));
    }
    const int end = arguments.contains(QStringLiteral("--"))
        ? arguments.indexOf(QStringLiteral("--"))
        : arguments.size();
    for (int i = 0; i < end; ++i) {
        const QString &argument = arguments.at(i);
        if (!argument.startsWith(QLatin1Char('-')) || argument.size() < 2)
            continue;
        const QCommandLineOption *option = namedOption(argument, own);
        if (!option)
            continue;
        const QString shown = QLatin1String("--") + option->names().last();
        const bool takesValue = !option->valueName().isEmpty();
        if (takesValue && !argument.contains(QLatin1Char('=')) && i + 1 == end)
            return QStringLiteral("%1 needs a value").arg(shown);
        if (!takesValue && argument.startsWith(QLatin1String("--")) &&
            argument.contains(QLatin1Char('=')))
            return QStringLiteral("%1 takes no value, not \"%2\"")
                .arg(shown, argument.section(QLatin1Char('='), 1));
    }
    return qtText;
}

QString commandHelp(const CommandEntry &command)
{
    QCommandLineParser parser;
    prepare(&parser, command);
    return helpText(parser, QStringLiteral("servo-cli ") + QLatin1String(command.name));
}

// Parses what follows the command name with QCommandLineParser. Returns an
// empty string, or the problem.
QString parseArguments(const CommandEntry &command, const QStringList &arguments, Invocation *inv)
{
    QCommandLineParser parser;
    prepare(&parser, command);
    if (!parser.parse(QStringList{QStringLiteral("servo-cli")} + arguments))
        return optionProblem(command, parser.unknownOptionNames(), arguments, parser.errorText());
    for (const OptionUse &use : optionsOf(command)) {
        const QCommandLineOption option = commandLineOption(use.option);
        if (!parser.isSet(option))
            continue;
        const QStringList values = parser.values(option);
        const QString name = QLatin1String("--") + option.names().last();
        // The bench serves several ports.
        const bool repeatable =
            use.option == Option::Port && parser.optionNames().contains(QStringLiteral("auto"));
        if (values.size() > 1 && !repeatable)
            return QStringLiteral("%1 given twice").arg(name);
        if (values.size() > 1)
            inv->repeated.insert(use.option, values);
        if (!option.valueName().isEmpty() && values.contains(QString()))
            return QStringLiteral("%1 needs a value").arg(name);
        inv->options.insert(use.option, values.value(0));
    }
    const struct
    {
        Option option;
        int minimum;
        int maximum;
        const char *what;
    } limits[] = {{Option::Timeout, 1, 600000, "a number of milliseconds"},
                  {Option::Retries, 0, 100, "a number"},
                  {Option::Count, 1, 1000000, "a number"},
                  {Option::Poll, 10, 10000, "a number of milliseconds"},
                  {Option::Gone, 1, 100, "a number"}};
    for (const auto &l : limits) {
        if (!inv->has(l.option))
            continue;
        bool ok = false;
        const int v = inv->value(l.option).toInt(&ok, 10);
        if (!ok || v < l.minimum || v > l.maximum)
            return QStringLiteral("--%1 takes %2 from %3 to %4, not \"%5\"")
                .arg(commandLineOption(l.option).names().last(), QLatin1String(l.what))
                .arg(l.minimum)
                .arg(l.maximum)
                .arg(inv->value(l.option));
    }
    // The bench's own options, and the attended loop's.
    if (inv->command == QLatin1String("program")) {
        const bool hands = inv->has(Option::Auto);
        for (Option o : {Option::Count, Option::Poll, Option::Gone, Option::Quiet, Option::Json,
                         Option::ExpectJob, Option::Retries, Option::Verbose}) {
            const bool benchOnly = o != Option::Retries && o != Option::Verbose;
            if (inv->has(o) && benchOnly != hands)
                return QString::fromLatin1(benchOnly ? "--%1 needs --auto"
                                                     : "--%1 is not used with --auto")
                    .arg(commandLineOption(o).names().last());
        }
    }
    inv->operands = parser.positionalArguments();
    const QString operand = QLatin1String(command.operand);
    const int most = operand.isEmpty() ? 0 : operand.endsWith(QLatin1String("...")) ? INT_MAX : 1;
    if (!operand.isEmpty() && inv->operands.isEmpty())
        return QStringLiteral("%1 needs %2")
            .arg(inv->command, QString(operand).remove(QLatin1String("...")));
    if (inv->operands.size() > most)
        return QStringLiteral("unexpected argument \"%1\"").arg(inv->operands.at(most));
    return QString();
}

} // namespace

int run(const QStringList &arguments, QTextStream &out, QTextStream &err, QTextStream *in)
{
    if (arguments.isEmpty()) {
        say(err, QStringLiteral("no command given"));
        err << '\n' << globalHelp();
        err.flush();
        return BadArguments;
    }
    const QString first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        (first == QLatin1String("help") && arguments.size() == 1)) {
        out << globalHelp();
        return Success;
    }
    if (first == QLatin1String("--version") && arguments.size() == 1) {
        out << "servo-cli " << SERVO_VERSION << '\n';
        return Success;
    }
    if (first == QLatin1String("help")) {
        const CommandEntry *c = findCommand(arguments.at(1));
        if (!c || arguments.size() > 2)
            return badArguments(
                err,
                QStringLiteral("no help on \"%1\"").arg(arguments.mid(1).join(QLatin1Char(' '))));
        out << commandHelp(*c);
        return Success;
    }
    const CommandEntry *command = findCommand(first);
    if (!command) {
        if (first.startsWith(QLatin1Char('-')))
            return badArguments(err,
                                QStringLiteral("the command comes first, before %1").arg(first));
        return badArguments(err, unknownCommand(first));
    }
    // A request for help wins over anything else on the line.
    const QStringList rest = arguments.mid(1);
    const QStringList options = rest.mid(0, rest.indexOf(QStringLiteral("--")));
    if (options.contains(QStringLiteral("--help")) || options.contains(QStringLiteral("-h"))) {
        out << commandHelp(*command);
        return Success;
    }
    Invocation inv{first, {}, {}, {}, &out, &err, in};
    const QString problem = parseArguments(*command, rest, &inv);
    if (!problem.isEmpty())
        return badArguments(err, problem, first);
    return command->handler(inv);
}

} // namespace ServoCli
