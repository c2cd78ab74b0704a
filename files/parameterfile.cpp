#include "files/parameterfile.h"

#include <QFile>
#include <QSaveFile>
#include <QTextStream>

namespace Servo {

QString formatParameterLine(const Values &values)
{
    QString line;
    line.reserve(64);
    for (int i = 0; i < ParameterCount; ++i) {
        if (i > 0)
            line += QLatin1Char(',');
        const int v = parameterInfo(i).isSwitch ? (values[i] != 0 ? 1 : 0) : values[i];
        line += QString::number(v);
    }
    return line;
}

ParsedLine parseParameterLine(const QString &line)
{
    ParsedLine out;
    if (line.size() > MaxParameterLineLength) {
        out.status = ParsedLine::TooLong;
        out.errorString = QStringLiteral("the first line is longer than %1 characters")
                              .arg(MaxParameterLineLength);
        return out;
    }
    const QStringList fields = line.split(QLatin1Char(','));
    out.fieldCount = fields.size();
    if (fields.size() < ParameterCount) {
        out.status = ParsedLine::TooFewFields;
        out.errorString = QStringLiteral("the first line has %1 field%2, 14 are needed")
                              .arg(fields.size())
                              .arg(fields.size() == 1 ? "" : "s");
        return out;
    }
    out.fields = fields.mid(0, ParameterCount);
    for (int i = 0; i < ParameterCount; ++i)
        out.values[i] = out.fields.at(i).toInt(nullptr, 10);
    out.status = ParsedLine::Ok;
    return out;
}

int firstInvalidField(const ParsedLine &parsed, QString *reason)
{
    auto fail = [reason](int index, const QString &why) {
        if (reason)
            *reason = why;
        return index;
    };
    if (!parsed.ok())
        return fail(qMax(0, parsed.fieldCount), parsed.errorString);
    for (int i = 0; i < ParameterCount; ++i) {
        const ParameterInfo &p = parameterInfo(i);
        const QString &text = parsed.fields.at(i);
        bool plain = !text.isEmpty();
        for (QChar c : text)
            plain = plain && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        bool ok = false;
        const int v = text.toInt(&ok, 10);
        if (!plain || !ok)
            return fail(i, QStringLiteral("field %1 (%2) is \"%3\", not a decimal number")
                               .arg(i + 1)
                               .arg(QLatin1String(p.english), text));
        if (!inRange(i, v))
            return fail(i, QStringLiteral("field %1 (%2) is %3, outside %4..%5")
                               .arg(i + 1)
                               .arg(QLatin1String(p.english))
                               .arg(v)
                               .arg(p.minimum)
                               .arg(p.maximum));
    }
    return -1;
}

ParsedLine readParameterFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        ParsedLine out;
        out.status = ParsedLine::CannotOpen;
        out.errorString = file.errorString();
        return out;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    // One character more than allowed tells an over-long line from one that
    // is exactly at the limit.
    return parseParameterLine(in.readLine(MaxParameterLineLength + 1));
}

bool writeParameterFile(const QString &path, const Values &values, QString *errorString)
{
    QSaveFile file(path);
    auto fail = [&]() {
        if (errorString)
            *errorString = file.errorString();
        file.cancelWriting();
        return false;
    };
    // Unbuffered, so that a short write (disk full, file-size limit) shows in
    // the count that write() returns: a buffered flush inside commit() can
    // drop the rest of a partial write and still report success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered))
        return fail();
    const QByteArray data = formatParameterLine(values).toLatin1();
    if (file.write(data) != data.size())
        return fail();
    if (!file.commit()) {
        if (errorString)
            *errorString = file.errorString();
        return false;
    }
    return true;
}

} // namespace Servo
