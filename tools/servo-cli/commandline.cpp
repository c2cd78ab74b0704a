#include "tools/servo-cli/commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <climits>

namespace ServoCli {

namespace {

// The parser of a command: its description, options (and --help) and operand.
void prepare(QCommandLineParser *parser, const CommandEntry &command)
{
    parser->setApplicationDescription(QLatin1Char('\n') +
                                      QString::fromUtf8(command.description).trimmed());
    QVector<OptionUse> uses = command.options;
    uses << OptionUse{Option::Help};
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

} // namespace

QCommandLineOption commandLineOption(Option option)
{
    // In the order of Option.
    static const QCommandLineOption options[] = {
        {QStringList{"p", "port"},
         "serial port name or device path (see \"servo-cli ports\"); a bare name is looked up in "
         "/dev. "
         "Default: $SERVO_PORT, else the one USB adapter present, else the one running simulator",
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
         "written "
         "when it cannot be saved). An existing file is kept: the backup then goes to the first "
         "free name "
         "of FILE-1, FILE-2, ... (before.txt: before-1.txt), named on standard error. FILE may not "
         "be the "
         "file to write, nor a named pipe or a device",
         "FILE"},
        {"log",
         "append one CSV row per servo, with its last attempt: time (UTC), port, result, the "
         "fourteen values "
         "read back; a header row starts a new file. An existing FILE must be a log that begins "
         "with that "
         "header row, and a regular file (not a named pipe or a device); otherwise nothing is sent",
         "FILE"},
        {QStringList{"h", "help"}, "show this help"},
        {"version", "print the version"},
    };
    static_assert(sizeof(options) / sizeof(options[0]) == int(Option::Version) + 1,
                  "one entry per Option");
    return options[int(option)];
}

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

QString commandHelp(const CommandEntry &command)
{
    QCommandLineParser parser;
    prepare(&parser, command);
    return helpText(parser, QStringLiteral("servo-cli ") + QLatin1String(command.name));
}

QString parseArguments(const CommandEntry &command, const QStringList &arguments, Invocation *inv,
                       bool *help)
{
    inv->command = &command;
    // A request for help wins over anything else on the line.
    *help = false;
    for (const QString &a : arguments) {
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            *help = true;
            return QString();
        }
    }
    QCommandLineParser parser;
    prepare(&parser, command);
    if (!parser.parse(QStringList{QStringLiteral("servo-cli")} + arguments))
        return parser.errorText();
    for (const OptionUse &use : command.options) {
        const QCommandLineOption option = commandLineOption(use.option);
        if (!parser.isSet(option))
            continue;
        const QStringList values = parser.values(option);
        const QString name = QLatin1String("--") + option.names().last();
        if (values.size() > 1)
            return QStringLiteral("%1 given twice").arg(name);
        if (!option.valueName().isEmpty() && values.first().isEmpty())
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
                  {Option::Retries, 0, 100, "a number"}};
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
    inv->operands = parser.positionalArguments();
    const QString operand = QLatin1String(command.operand);
    const int most = operand.isEmpty() ? 0 : operand.endsWith(QLatin1String("...")) ? INT_MAX : 1;
    if (!operand.isEmpty() && inv->operands.isEmpty())
        return QStringLiteral("%1 needs %2")
            .arg(inv->name(), QString(operand).remove(QLatin1String("...")));
    if (inv->operands.size() > most)
        return QStringLiteral("unexpected argument \"%1\"").arg(inv->operands.at(most));
    return QString();
}

} // namespace ServoCli
