#include "benchwindow/benchoptions.h"

#include <QRegularExpression>

namespace Servo {

QString parseBenchOptions(const QStringList &arguments, BenchOptions *options)
{
    BenchOptions o;
    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        QString value;
        bool hasValue = false;
        const int equals = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
            hasValue = true;
        }
        const bool takesValue = name == QLatin1String("--job") || name == QLatin1String("--log") ||
            name == QLatin1String("--port") || name == QLatin1String("--expect-job") ||
            name == QLatin1String("--poll");
        if (name == QLatin1String("--start")) {
            if (hasValue)
                return QStringLiteral("--start takes no value");
            o.start = true;
            continue;
        }
        if (!takesValue)
            return name.startsWith(QLatin1Char('-'))
                ? QStringLiteral("unknown option \"%1\"").arg(name)
                : QStringLiteral("unexpected argument \"%1\"").arg(name);
        if (!hasValue) {
            if (i + 1 >= arguments.size())
                return QStringLiteral("%1 needs a value").arg(name);
            value = arguments.at(++i);
        }
        if (value.isEmpty())
            return QStringLiteral("%1 needs a value").arg(name);
        if (name == QLatin1String("--job")) {
            o.job = value;
        } else if (name == QLatin1String("--log")) {
            o.log = value;
        } else if (name == QLatin1String("--port")) {
            o.portsGiven = true;
            if (value == QLatin1String("usb"))
                o.watchUsb = true;
            else if (value == QLatin1String("simulators"))
                o.watchSimulators = true;
            else if (!o.ports.contains(value))
                o.ports << value;
        } else if (name == QLatin1String("--expect-job")) {
            static const QRegularExpression hash(QStringLiteral("^[0-9a-fA-F]{8}$"));
            if (!hash.match(value).hasMatch())
                return QStringLiteral("--expect-job takes a job's fingerprint, eight hexadecimal "
                                      "digits, not \"%1\"")
                    .arg(value);
            o.expectJob = value.toLower();
        } else { // --poll
            bool ok = false;
            const int ms = value.toInt(&ok);
            if (!ok || ms < MinPollMs || ms > MaxPollMs)
                return QStringLiteral("--poll takes milliseconds from %1 to %2, not \"%3\"")
                    .arg(MinPollMs)
                    .arg(MaxPollMs)
                    .arg(value);
            o.pollMs = ms;
        }
    }
    if (o.start && o.job.isEmpty())
        return QStringLiteral("--start needs --job");
    *options = o;
    return QString();
}

} // namespace Servo
