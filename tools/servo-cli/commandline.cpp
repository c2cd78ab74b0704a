#include "tools/servo-cli/commands.h"

#include <QCommandLineParser>

namespace ServoCli {

namespace {

struct OptionInfo {
    QStringList names; // short first
    const char *valueName;
    const char *description;
};

const QMap<QString, OptionInfo> &catalogue()
{
    static const QMap<QString, OptionInfo> options = {
        {"port",
         {{"p", "port"},
          "PORT",
          "serial port name or device path (see \"servo-cli ports\"); a bare name is looked up in /dev. "
          "Default: $SERVO_PORT, else the one USB adapter present, else the one running simulator"}},
        {"timeout",
         {{"timeout"}, "MS", "time to wait for each reply, in milliseconds, 1 to 600000 (default 500)"}},
        {"retries", {{"retries"}, "N", "further attempts when no valid reply comes, 0 to 100 (default 2)"}},
        {"verbose", {{"v", "verbose"}, nullptr, "report each frame sent and received on standard error"}},
        {"json", {{"json"}, nullptr, "print JSON instead of the table"}},
        {"out", {{"o", "out"}, "FILE", "save the block as a parameter file; \"-\" prints the line"}},
        {"no-verify", {{"no-verify"}, nullptr, "skip both comparisons (the acknowledgement is still awaited)"}},
        {"backup",
         {{"backup"},
          "FILE",
          "save the servo's block, as read just before the write, as a parameter file (nothing is written "
          "when it cannot be saved). An existing file is kept: the backup then goes to the first free name "
          "of FILE-1, FILE-2, ... (before.txt: before-1.txt), named on standard error. FILE may not be the "
          "file to write, nor a named pipe or a device"}},
        {"log",
         {{"log"},
          "FILE",
          "append one CSV row per servo, with its last attempt: time (UTC), port, result, the fourteen values "
          "read back; a header row starts a new file. An existing FILE must be a log that begins with that "
          "header row, and a regular file (not a named pipe or a device); otherwise nothing is sent"}},
        {"help", {{"h", "help"}, nullptr, "show this help"}},
    };
    return options;
}

QCommandLineOption makeOption(const OptionInfo &info)
{
    return info.valueName ? QCommandLineOption(info.names, QString(), QLatin1String(info.valueName))
                          : QCommandLineOption(info.names);
}

// Words of text in lines of at most width characters.
QStringList wrap(const QString &text, int width)
{
    QStringList lines;
    QString line;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &word : words) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            lines << line;
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

QString optionLines(const QVector<OptionUse> &uses)
{
    const int column = 24;
    QString text;
    QVector<OptionUse> all = uses;
    all << OptionUse{"help", nullptr};
    for (const OptionUse &use : all) {
        const OptionInfo &info = catalogue()[QLatin1String(use.key)];
        QString left = info.names.size() == 2 ? QStringLiteral("  -%1, --%2").arg(info.names.at(0), info.names.at(1))
                                              : QStringLiteral("      --%1").arg(info.names.at(0));
        if (info.valueName)
            left += QLatin1Char(' ') + QLatin1String(info.valueName);
        const QStringList lines =
            wrap(QString::fromUtf8(use.description ? use.description : info.description), 79 - column);
        text += left.size() + 2 > column ? left + QLatin1Char('\n') + QString(column, QLatin1Char(' '))
                                         : left.leftJustified(column);
        text += lines.join(QLatin1Char('\n') + QString(column, QLatin1Char(' '))) + QLatin1Char('\n');
    }
    return text;
}

} // namespace

QString commandHelp(const CommandEntry &command)
{
    return QStringLiteral("Usage: servo-cli %1 %2\n\n%3\nOptions:\n%4\nExit codes: %5")
        .arg(QLatin1String(command.name), QLatin1String(command.usage), QString::fromUtf8(command.description),
             optionLines(command.options), QString::fromUtf8(command.exitCodes));
}

QString parseArguments(const CommandEntry &command, const QStringList &arguments, Invocation *inv, bool *help)
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
    QMap<QString, QCommandLineOption> options;
    for (const OptionUse &use : command.options) {
        const QCommandLineOption option = makeOption(catalogue()[QLatin1String(use.key)]);
        options.insert(QLatin1String(use.key), option);
        parser.addOption(option);
    }
    if (!parser.parse(QStringList{QStringLiteral("servo-cli")} + arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return QStringLiteral("unknown option %1%2 for %3")
                .arg(QLatin1String(unknown.first().size() == 1 ? "-" : "--"), unknown.first(), inv->name());
        // "Missing value after '--port'." and the like, in the words used
        // elsewhere.
        const QString text = parser.errorText();
        const int quote = text.indexOf(QLatin1Char('\''));
        const QString option = text.mid(quote + 1).section(QLatin1Char('\''), 0, 0);
        if (text.startsWith(QLatin1String("Missing value")))
            return QStringLiteral("%1 needs a value").arg(option);
        if (text.startsWith(QLatin1String("Unexpected value")))
            return QStringLiteral("%1 takes no value").arg(option);
        return text;
    }
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        if (!parser.isSet(it.value()))
            continue;
        if (it.value().valueName().isEmpty()) {
            inv->options.insert(it.key(), QString());
            continue;
        }
        const QStringList values = parser.values(it.value());
        if (values.size() > 1)
            return QStringLiteral("--%1 given twice").arg(it.key());
        if (values.first().isEmpty())
            return QStringLiteral("--%1 needs a value").arg(it.key());
        inv->options.insert(it.key(), values.first());
    }
    struct Limit {
        const char *key;
        int minimum;
        int maximum;
        const char *what;
    };
    for (const Limit &l : {Limit{"timeout", 1, 600000, "a number of milliseconds"}, Limit{"retries", 0, 100, "a number"}}) {
        if (!inv->has(l.key))
            continue;
        bool ok = false;
        const int v = inv->value(l.key).toInt(&ok, 10);
        if (!ok || v < l.minimum || v > l.maximum)
            return QStringLiteral("--%1 takes %2 from %3 to %4, not \"%5\"")
                .arg(QLatin1String(l.key), QLatin1String(l.what))
                .arg(l.minimum)
                .arg(l.maximum)
                .arg(inv->value(l.key));
    }
    inv->operands = parser.positionalArguments();
    const int count = inv->operands.size();
    if (count < command.minOperands)
        return QStringLiteral("%1 needs %2").arg(inv->name(), QLatin1String(command.operandName));
    if (command.maxOperands >= 0 && count > command.maxOperands)
        return QStringLiteral("unexpected argument \"%1\"").arg(inv->operands.at(command.maxOperands));
    return QString();
}

} // namespace ServoCli
