#include "tools/servo-cli/format.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

using Servo::ParameterCount;
using Servo::parameterInfo;
using Servo::Values;

namespace ServoCli {

namespace {

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
            line += rightAligned.at(c) ? row.at(c).rightJustified(widths[c])
                                       : row.at(c).leftJustified(widths[c]);
        }
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        text += line + QLatin1Char('\n');
    }
    return text;
}

QString jsonValue(int index, int value)
{
    if (parameterInfo(index).isSwitch)
        return QLatin1String(value != 0 ? "true" : "false");
    return QString::number(value);
}

// The object of a write or a diff: the flag, the blocks (those not null),
// then "differing" with the stems of the fields given.
QString resultJson(const char *flag, const char *flagValue,
                   const QVector<QPair<const char *, const Values *>> &blocks,
                   const QVector<int> &differing)
{
    QString text =
        QStringLiteral("{\n  \"%1\": %2,\n").arg(QLatin1String(flag), QLatin1String(flagValue));
    for (const auto &block : blocks) {
        if (block.second)
            text += QStringLiteral("  \"%1\": %2,\n")
                        .arg(QLatin1String(block.first), formatJson(*block.second, 2).chopped(1));
    }
    QStringList quoted;
    for (int i : differing)
        quoted << QLatin1Char('"') + Servo::parameterKey(i) + QLatin1Char('"');
    return text +
        QStringLiteral("  \"differing\": [%1]\n}\n").arg(quoted.join(QLatin1String(", ")));
}

// A string as JSON, quotes and escapes included; null when empty.
QString jsonText(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("null");
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0, 'f', 3);
}

bool isResult(Servo::BenchEvent::Kind kind)
{
    return kind == Servo::BenchEvent::Verified || kind == Servo::BenchEvent::AlreadyHeld ||
        kind == Servo::BenchEvent::Failed || kind == Servo::BenchEvent::Interrupted;
}

struct Totals
{
    int verified = 0;
    int alreadyHeld = 0;
    int failed = 0;
};

Totals totals(const QVector<Servo::SlotStatus> &statuses)
{
    Totals t;
    for (const Servo::SlotStatus &s : statuses) {
        t.verified += s.verified;
        t.alreadyHeld += s.alreadyHeld;
        t.failed += s.failed;
    }
    return t;
}

QString countsText(int verified, int alreadyHeld, int failed)
{
    return QStringLiteral("verified %1, already held %2, failed %3")
        .arg(verified)
        .arg(alreadyHeld)
        .arg(failed);
}

// A value as the tables show it: the number, or on/off for a switch.
QString formatValue(int index, int value)
{
    if (parameterInfo(index).isSwitch)
        return value != 0 ? QStringLiteral("on") : QStringLiteral("off");
    return QString::number(value);
}

} // namespace

QString formatTable(const Values &values)
{
    QVector<QStringList> rows;
    rows << QStringList{QStringLiteral("Parameter"), QStringLiteral("Key"), QStringLiteral("Value"),
                        QStringLiteral("Range"), QStringLiteral("Unit")};
    for (int i = 0; i < ParameterCount; ++i)
        rows << QStringList{
            Servo::parameterCaption(i), Servo::parameterKey(i), formatValue(i, values[i]),
            parameterInfo(i).isSwitch ? QStringLiteral("on/off") : Servo::parameterRange(i),
            QString::fromLatin1(parameterInfo(i).unit)};
    return layout(rows, {false, false, true, false, false});
}

QString formatJson(const Values &values, int indent)
{
    QVector<int> all;
    for (int i = 0; i < ParameterCount; ++i)
        all << i;
    return formatJsonFields(values, all, indent);
}

QString formatJsonFields(const Values &values, const QVector<int> &indexes, int indent)
{
    const QString pad(indent, QLatin1Char(' '));
    QString text = QStringLiteral("{\n");
    for (int n = 0; n < indexes.size(); ++n) {
        const int i = indexes.at(n);
        text += QStringLiteral("%1  \"%2\": %3%4\n")
                    .arg(pad, Servo::parameterKey(i), jsonValue(i, values[i]),
                         QLatin1String(n + 1 < indexes.size() ? "," : ""));
    }
    text += pad + QStringLiteral("}\n");
    return text;
}

QString formatPortTable(const QVector<Servo::PresentPort> &ports)
{
    auto orDash = [](const QString &s) {
        return s.trimmed().isEmpty() ? QStringLiteral("-") : s.trimmed();
    };
    QVector<QStringList> rows;
    rows << QStringList{QStringLiteral("Port"), QStringLiteral("Description"),
                        QStringLiteral("Manufacturer"), QStringLiteral("VID:PID")};
    for (const Servo::PresentPort &p : ports) {
        rows << QStringList{orDash(p.name), orDash(p.description), orDash(p.manufacturer),
                            p.hasIds ? p.ids() : QStringLiteral("-")};
    }
    return layout(rows, {false, false, false, false});
}

QString formatComparison(const QStringList &columns, const QVector<Values> &blocks)
{
    QVector<QStringList> rows;
    rows << (QStringList{QStringLiteral("Parameter")} + columns);
    for (int i : differingFields(blocks)) {
        QStringList row{Servo::parameterCaption(i)};
        for (const Values &block : blocks)
            row << formatValue(i, block[i]);
        rows << row;
    }
    QVector<bool> right(columns.size() + 1, true);
    right[0] = false;
    return layout(rows, right);
}

QVector<int> differingFields(const QVector<Values> &blocks)
{
    QVector<int> differing;
    for (int i = 0; i < ParameterCount; ++i) {
        for (const Values &block : blocks) {
            if (block[i] != blocks.first()[i]) {
                differing << i;
                break;
            }
        }
    }
    return differing;
}

QString formatWriteJson(const Values &written, const Values &acknowledged, const Values *readBack)
{
    const QVector<int> differing =
        readBack ? differingFields({written, acknowledged, *readBack}) : QVector<int>();
    return resultJson(
        "verified",
        !readBack                 ? "null"
            : differing.isEmpty() ? "true"
                                  : "false",
        {{"written", &written}, {"acknowledged", &acknowledged}, {"readBack", readBack}},
        differing);
}

QString formatDiffJson(const Values &servo, const Values &file)
{
    const QVector<int> differing = differingFields({servo, file});
    return resultJson("agree", differing.isEmpty() ? "true" : "false",
                      {{"servo", &servo}, {"file", &file}}, differing);
}

QString formatAssignments(const Values &values, const QVector<int> &indexes)
{
    QString text;
    for (int i : indexes)
        text += Servo::parameterKey(i) + QLatin1Char('=') + formatValue(i, values[i]) +
            QLatin1Char('\n');
    return text;
}

QString formatBenchEvent(const Servo::BenchEvent &event)
{
    QStringList fields{event.time.toUTC().toString(Qt::ISODateWithMs), event.port};
    if (event.servo > 0)
        fields << QStringLiteral("servo %1").arg(event.servo);
    fields << Servo::benchEventWord(event.kind);
    if (event.kind == Servo::BenchEvent::Failed || event.kind == Servo::BenchEvent::Interrupted) {
        // "failed  differs: fields that did not take: ...", "interrupted  why".
        QString detail = event.result == fields.last() ? QString() : event.result;
        if (!event.reason.isEmpty() && event.reason != event.result)
            detail += (detail.isEmpty() ? QString() : QStringLiteral(": ")) + event.reason;
        if (!detail.isEmpty())
            fields << detail;
    }
    if (isResult(event.kind))
        fields << seconds(event.elapsedMs) + QStringLiteral(" s");
    return fields.join(QLatin1String("  "));
}

QString formatBenchEventJson(const Servo::BenchEvent &event, const QString &job)
{
    const bool result = isResult(event.kind);
    return QStringLiteral("{\"time\":%1,\"event\":%2,\"port\":%3,\"servo\":%4,\"result\":%5,"
                          "\"reason\":%6,\"seconds\":%7,\"job\":%8}")
        .arg(jsonText(event.time.toUTC().toString(Qt::ISODateWithMs)),
             jsonText(Servo::benchEventWord(event.kind)), jsonText(event.port),
             event.servo > 0 ? QString::number(event.servo) : QStringLiteral("null"),
             jsonText(result ? event.result : QString()), jsonText(event.reason),
             result ? seconds(event.elapsedMs) : QStringLiteral("null"), jsonText(job));
}

QStringList formatBenchStatus(const QVector<Servo::SlotStatus> &statuses, const QString &job,
                              int columns)
{
    const Totals t = totals(statuses);
    QStringList lines{QStringLiteral("job %1: %2 (%3 port%4)")
                          .arg(job, countsText(t.verified, t.alreadyHeld, t.failed))
                          .arg(statuses.size())
                          .arg(QLatin1String(statuses.size() == 1 ? "" : "s"))};
    QVector<QStringList> rows;
    for (const Servo::SlotStatus &s : statuses) {
        QString last;
        if (!s.lastResult.isEmpty()) {
            last = QStringLiteral("last: ") + s.lastResult;
            if (!s.lastReason.isEmpty() && s.lastReason != s.lastResult)
                last += QStringLiteral(" (%1)").arg(s.lastReason);
            if (s.lastElapsedMs >= 0)
                last += QStringLiteral(" in %1 s").arg(seconds(s.lastElapsedMs));
        }
        rows << QStringList{s.port,
                            Servo::slotStateWord(s.state),
                            QStringLiteral("%1 verified").arg(s.verified),
                            QStringLiteral("%1 held").arg(s.alreadyHeld),
                            QStringLiteral("%1 failed").arg(s.failed),
                            last};
    }
    if (!rows.isEmpty())
        lines += layout(rows, {false, false, true, true, true, false})
                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (columns > 0) {
        for (QString &line : lines)
            line.truncate(columns - 1);
    }
    return lines;
}

QString formatBenchSummary(const QVector<Servo::SlotStatus> &statuses)
{
    QString text;
    for (const Servo::SlotStatus &s : statuses)
        text +=
            QStringLiteral("%1: %2\n").arg(s.port, countsText(s.verified, s.alreadyHeld, s.failed));
    const Totals t = totals(statuses);
    return text +
        QStringLiteral("total: %1\n").arg(countsText(t.verified, t.alreadyHeld, t.failed));
}

QString formatBenchSummaryJson(const QVector<Servo::SlotStatus> &statuses, const QString &job)
{
    auto counts = [](int verified, int alreadyHeld, int failed) {
        return QStringLiteral("\"verified\":%1,\"alreadyHeld\":%2,\"failed\":%3")
            .arg(verified)
            .arg(alreadyHeld)
            .arg(failed);
    };
    QStringList ports;
    for (const Servo::SlotStatus &s : statuses)
        ports << QStringLiteral("{\"port\":%1,%2}")
                     .arg(jsonText(s.port), counts(s.verified, s.alreadyHeld, s.failed));
    const Totals t = totals(statuses);
    return QStringLiteral("{\"event\":\"summary\",\"job\":%1,%2,\"ports\":[%3]}")
        .arg(jsonText(job), counts(t.verified, t.alreadyHeld, t.failed),
             ports.join(QLatin1Char(',')));
}

} // namespace ServoCli
