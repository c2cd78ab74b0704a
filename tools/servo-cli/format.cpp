#include "tools/servo-cli/format.h"

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

} // namespace ServoCli
