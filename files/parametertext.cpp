#include "files/parametertext.h"

#include "files/parameterfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>

namespace Servo {

namespace {

ValuesCheck refused(const QString &problem, bool json = false)
{
    ValuesCheck out;
    out.json = json;
    out.problem = problem;
    return out;
}

// One line of exactly fourteen plain decimal fields in range (leading zeros
// allowed, read as decimal), optionally ended by LF or CR LF; any further
// lines must be empty.
ValuesCheck parseParameterText(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    // A file that is empty, starts with a comment or uses another separator
    // is told as such, before what follows the first line is looked at.
    bool blank = true;
    for (const QString &line : qAsConst(lines))
        blank = blank && line.trimmed().isEmpty();
    const QString misfit = firstLineMisfit(lines.first(), blank);
    if (!misfit.isEmpty())
        return refused(misfit);
    for (int n = 1; n < lines.size(); ++n) {
        if (!lines.at(n).isEmpty())
            return refused(
                QStringLiteral("line %1 is not empty; a parameter file holds one line").arg(n + 1));
    }
    const QString &line = lines.first();
    if (line.contains(QLatin1Char('\r')))
        return refused(QStringLiteral(
            "the first line holds a CR that does not end it; lines end in LF or CR LF"));
    const ParsedLine parsed = parseParameterLine(line);
    if (parsed.fieldCount > ParameterCount)
        return refused(
            QStringLiteral("the first line has %1 fields, 14 are needed%2")
                .arg(parsed.fieldCount)
                .arg(line.endsWith(QLatin1Char(',')) ? " (a comma at the end of the line?)" : ""));
    QString reason;
    const int field = firstInvalidField(parsed, &reason);
    if (field >= 0) {
        if (parsed.status == ParsedLine::TooFewFields && parsed.fieldCount > 1)
            reason += QStringLiteral("; field %1 (%2) is the first one missing")
                          .arg(field + 1)
                          .arg(parameterCaption(field));
        return refused(reason);
    }
    ValuesCheck out;
    out.ok = true;
    out.values = parsed.values;
    return out;
}

} // namespace

ValuesCheck parseJsonText(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return refused(QStringLiteral("not valid JSON: %1 at byte %2")
                           .arg(error.errorString())
                           .arg(error.offset + 1),
                       true);
    if (!document.isObject())
        return refused(QStringLiteral("the JSON is not one object"), true);
    const QJsonObject object = document.object();
    // The parser keeps the last of two equal keys; a file that says two
    // things of one field is refused instead. Values are numbers and
    // booleans only, so every quoted word before a colon is a key.
    QStringList seen;
    const QRegularExpression keyPattern(QStringLiteral("\"([^\"\\\\]*)\"\\s*:"));
    for (auto it = keyPattern.globalMatch(text); it.hasNext();) {
        const QString key = it.next().captured(1);
        if (seen.contains(key))
            return refused(QStringLiteral("key \"%1\" given twice").arg(key), true);
        seen << key;
    }
    const QStringList keys = parameterKeys();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!keys.contains(it.key()))
            return refused(QStringLiteral("unknown key \"%1\"; the keys are %2")
                               .arg(it.key(), keys.join(QLatin1String(", "))),
                           true);
    }
    QStringList missing;
    for (const QString &key : keys) {
        if (!object.contains(key))
            missing << key;
    }
    if (!missing.isEmpty())
        return refused(QStringLiteral("key%1 missing: %2")
                           .arg(missing.size() == 1 ? "" : "s", missing.join(", ")),
                       true);
    ValuesCheck out;
    out.json = true;
    for (int i = 0; i < ParameterCount; ++i) {
        const QString key = keys.at(i);
        const QJsonValue v = object.value(key);
        const QString shown =
            QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact))
                .mid(1)
                .chopped(1);
        if (parameterInfo(i).isSwitch) {
            if (!v.isBool())
                return refused(QStringLiteral("%1 is %2, not true or false").arg(key, shown), true);
            out.values[i] = v.toBool() ? 1 : 0;
            continue;
        }
        const double d = v.toDouble();
        if (!v.isDouble() || std::floor(d) != d || std::fabs(d) > 1e9)
            return refused(QStringLiteral("%1 is %2, not an integer").arg(key, shown), true);
        if (!inRange(i, int(d)))
            return refused(
                QStringLiteral("%1 is %2, outside %3").arg(key, shown, parameterRange(i)), true);
        out.values[i] = int(d);
    }
    out.ok = true;
    return out;
}

ValuesCheck parseValuesText(const QString &text)
{
    for (QChar c : text) {
        if (!c.isSpace())
            return c == QLatin1Char('{') ? parseJsonText(text) : parseParameterText(text);
    }
    return parseParameterText(text);
}

} // namespace Servo
