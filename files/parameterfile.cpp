#include "files/parameterfile.h"

#include "files/parameterfile_p.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>

namespace Servo {

ParsedLine refusal(ParsedLine::Status status, const QString &why)
{
    ParsedLine out;
    out.status = status;
    out.errorString = why;
    return out;
}

namespace {

QString tooLongMessage()
{
    return QStringLiteral("the first line is longer than %1 characters")
        .arg(MaxParameterLineLength);
}

// Decodes and parses the first line of head, the start of a file (the whole
// file when atEnd). UTF-8 unless a byte-order mark says otherwise; a line
// with a NUL or a byte sequence that is not UTF-8 is binary and refused
// whole, before any field is looked at.
ParsedLine parseFileStart(const QByteArray &head, bool atEnd)
{
    QTextCodec *const utf8 = QTextCodec::codecForMib(106);
    QTextCodec *const codec = QTextCodec::codecForUtfText(head, utf8);
    QString line;
    bool ended = false;
    if (codec == utf8) {
        int end = head.indexOf('\n');
        ended = end >= 0 || atEnd;
        if (end < 0)
            end = head.size();
        const QByteArray bytes = head.left(end);
        const int nul = bytes.indexOf('\0');
        if (nul >= 0) {
            // Every other byte NUL: ASCII text saved as UTF-16 without a mark.
            const bool wide = 3 * bytes.count('\0') >= bytes.size();
            return refusal(
                ParsedLine::NotText,
                QStringLiteral("byte %1 of the first line is NUL: binary content, not text%2")
                    .arg(nul + 1)
                    .arg(wide ? " (UTF-16 without a byte-order mark?)" : ""));
        }
        // The decoder drops a leading byte-order mark.
        QTextCodec::ConverterState state;
        line = utf8->toUnicode(head.constData(), end, &state);
        // A sequence cut short is only an error where the line really ends.
        if (state.invalidChars > 0 || (ended && state.remainingChars > 0))
            return refusal(
                ParsedLine::NotText,
                QStringLiteral("the first line is not valid UTF-8: binary content, not text"));
    } else {
        const QString text = codec->toUnicode(head);
        const int end = text.indexOf(QLatin1Char('\n'));
        ended = end >= 0 || atEnd;
        line = text.left(end);
        if (line.contains(QChar(0)))
            return refusal(
                ParsedLine::NotText,
                QStringLiteral("the first line holds a NUL character: binary content, not text"));
    }
    if (!ended)
        return refusal(ParsedLine::TooLong, tooLongMessage());
    line.remove(QLatin1Char('\r'));
    ParsedLine parsed = parseParameterLine(line);
    // A file of nothing but blank lines says so, rather than that its first
    // line is empty.
    if (parsed.status == ParsedLine::TooFewFields && atEnd && line.trimmed().isEmpty() &&
        codec->toUnicode(head).trimmed().isEmpty())
        parsed.errorString = firstLineMisfit(line, true);
    return parsed;
}

// The name that QSaveFile puts its temporary file in place of: the path with
// its links followed, as QSaveFile follows them (to a file that may not
// exist yet; a chain of more than 127 links is left as it is).
QString savedFileName(const QString &path)
{
    QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    int depth = 128;
    while (--depth && info.isSymLink())
        info.setFile(info.symLinkTarget());
    return depth > 0 ? info.filePath() : path;
}

// Whether anything has the name, a link to nothing included.
bool nameTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Just before the temporary file is renamed over finalName: what is there
// now must still be a regular file, or nothing. The rename replaces the
// directory entry itself, so it is looked at without following links.
QString finalNameProblem(const QString &finalName, WriteMode mode)
{
    const NameState now = nameState(finalName, false);
    if (now.kind == NameState::Failed)
        return now.text;
    if (now.kind == NameState::Other)
        return QStringLiteral("it became %1 while it was being saved; nothing was replaced")
            .arg(now.text);
    if (now.kind == NameState::Regular && mode == WriteMode::NewFileOnly)
        return QStringLiteral(
            "it was created by something else while it was being saved; nothing was replaced");
    return QString();
}

} // namespace

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

QString parameterFileShape()
{
    return QStringLiteral("a parameter file is one line of %1 comma-separated numbers, such as %2")
        .arg(ParameterCount)
        .arg(formatParameterLine(startValues()));
}

QString firstLineMisfit(const QString &line, bool fileEmpty)
{
    const QString trimmed = line.trimmed();
    QString found;
    if (fileEmpty) {
        found = QStringLiteral("the file is empty");
    } else if (trimmed.isEmpty()) {
        found = QStringLiteral("the first line is empty");
    } else if (trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1Char(';')) ||
               trimmed.startsWith(QLatin1String("//"))) {
        const int shown = 40;
        found = QStringLiteral("the first line is a comment (\"%1\")")
                    .arg(trimmed.size() > shown ? trimmed.left(shown) + QStringLiteral("...")
                                                : trimmed);
    } else if (!trimmed.contains(QLatin1Char(','))) {
        // Only when there is no comma at all: "1,2;3" is a short line.
        struct Separator
        {
            QRegularExpression pattern;
            const char *name;
        };
        const Separator separators[] = {
            {QRegularExpression(QStringLiteral(";")), "semicolons"},
            {QRegularExpression(QStringLiteral("\t")), "tabs"},
            {QRegularExpression(QStringLiteral(" +")), "spaces"},
        };
        for (const Separator &sep : separators) {
            const int count = trimmed.split(sep.pattern).size();
            if (count > 1) {
                found =
                    QStringLiteral("the first line has %1 fields separated by %2, not by commas")
                        .arg(count)
                        .arg(QLatin1String(sep.name));
                break;
            }
        }
    }
    if (found.isEmpty())
        return found;
    return found + QStringLiteral("; ") + parameterFileShape();
}

QString noNumberMisfit(const QStringList &fields)
{
    QStringList given;
    bool quoted = true;
    bool quotedNumbers = true;
    bool names = true;
    static const QRegularExpression name(QStringLiteral("^[^\\W\\d][\\w .()/-]*$"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    // Digits, with a sign or not: a number, however large.
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    for (const QString &field : fields) {
        const QString text = field.trimmed();
        if (number.match(text).hasMatch())
            return QString();
        if (text.isEmpty())
            continue;
        given << text;
        const bool inQuotes = text.size() >= 2 && text.front() == text.back() &&
            (text.front() == QLatin1Char('"') || text.front() == QLatin1Char('\''));
        quoted = quoted && inQuotes;
        quotedNumbers = quotedNumbers && inQuotes &&
            number.match(text.mid(1, text.size() - 2).trimmed()).hasMatch();
        names = names && name.match(text).hasMatch();
    }
    const QString start = fields.join(QLatin1Char(','));
    const int shown = 40;
    const QString quote = start.size() > shown ? start.left(shown) + QStringLiteral("...") : start;
    QString found;
    if (given.isEmpty())
        found = QStringLiteral("every field of the first line is empty");
    else if (quotedNumbers)
        found = QStringLiteral("the first line holds numbers in quotes (%1)").arg(quote);
    else if (quoted)
        found = QStringLiteral("the first line holds text in quotes (%1)").arg(quote);
    else if (names)
        found = QStringLiteral("the first line is a header row of names (%1)").arg(quote);
    else
        found = QStringLiteral("no field of the first line is a number (%1)").arg(quote);
    return found + QStringLiteral("; ") + parameterFileShape();
}

ParsedLine parseParameterLine(const QString &line)
{
    ParsedLine out;
    if (line.size() > MaxParameterLineLength) {
        out.status = ParsedLine::TooLong;
        out.errorString = tooLongMessage();
        return out;
    }
    const QStringList fields = line.split(QLatin1Char(','));
    out.fieldCount = fields.size();
    if (fields.size() < ParameterCount) {
        out.status = ParsedLine::TooFewFields;
        out.errorString = firstLineMisfit(line);
        if (out.errorString.isEmpty())
            out.errorString = QStringLiteral("the first line has %1 field%2, 14 are needed")
                                  .arg(fields.size())
                                  .arg(fields.size() == 1 ? "" : "s");
        return out;
    }
    out.fields = fields.mid(0, ParameterCount);
    // Such a line would load as zeros, clamped into range: nothing of it
    // is a parameter.
    out.errorString = noNumberMisfit(out.fields);
    if (!out.errorString.isEmpty()) {
        out.status = ParsedLine::NoNumbers;
        return out;
    }
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
    if (!parsed.ok() && parsed.status != ParsedLine::NoNumbers)
        return fail(qMax(0, parsed.fieldCount), parsed.errorString);
    for (int i = 0; i < ParameterCount; ++i) {
        const ParameterInfo &p = parameterInfo(i);
        const QString &text = parsed.fields.at(i);
        bool plain = !text.isEmpty();
        for (QChar c : text)
            plain = plain && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        bool ok = false;
        const int v = text.toInt(&ok, 10);
        // Every minimum is 0 or more: a negative number is out of range,
        // which says more than "not a number" (a "-0" is refused below).
        const QString outside = QStringLiteral("field %1 (%2) is %3, outside %4..%5")
                                    .arg(i + 1)
                                    .arg(QLatin1String(p.english))
                                    .arg(v)
                                    .arg(p.minimum)
                                    .arg(p.maximum);
        if (!plain && ok && v < 0)
            return fail(i, outside);
        if (!plain || !ok)
            return fail(i,
                        QStringLiteral("field %1 (%2) is \"%3\", not a decimal number")
                            .arg(i + 1)
                            .arg(QLatin1String(p.english), text));
        if (!inRange(i, v))
            return fail(i, outside);
    }
    return -1;
}

ParsedLine readParameterFile(const QString &path)
{
    QFile file;
    ParsedLine refused;
    if (!openRegularFile(path, &file, &refused))
        return refused;
    // Enough bytes for a line over the limit in any encoding read (at most
    // four bytes a character), with its byte-order mark and line end.
    const qint64 headSize = 4 * (MaxParameterLineLength + 2) + 4;
    const QByteArray head = file.read(headSize);
    if (file.error() != QFileDevice::NoError)
        return refusal(ParsedLine::CannotOpen, file.errorString());
    return parseFileStart(head, file.atEnd());
}

ParsedLine::Status readTextFile(const QString &path, QString *text, QString *errorString)
{
    QFile file;
    ParsedLine refused;
    auto fail = [errorString](ParsedLine::Status status, const QString &why) {
        if (errorString)
            *errorString = why;
        return status;
    };
    if (!openRegularFile(path, &file, &refused))
        return fail(refused.status, refused.errorString);
    const QByteArray bytes = file.read(MaxTextFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return fail(ParsedLine::CannotOpen, file.errorString());
    if (bytes.size() > MaxTextFileSize)
        return fail(ParsedLine::TooLong,
                    QStringLiteral("larger than %1 bytes").arg(MaxTextFileSize));
    // The first line is refused for what the window refuses it for, and in
    // the same words.
    const ParsedLine first = parseFileStart(bytes, true);
    if (first.status == ParsedLine::NotText || first.status == ParsedLine::TooLong)
        return fail(first.status, first.errorString);
    QTextCodec *const utf8 = QTextCodec::codecForMib(106);
    QTextCodec *const codec = QTextCodec::codecForUtfText(bytes, utf8);
    if (codec == utf8 && bytes.contains('\0'))
        return fail(ParsedLine::NotText,
                    QStringLiteral("byte %1 is NUL: binary content, not text")
                        .arg(bytes.indexOf('\0') + 1));
    QTextCodec::ConverterState state;
    const QString decoded = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0 || decoded.contains(QChar(0)))
        return fail(ParsedLine::NotText,
                    QStringLiteral("not valid %1: binary content, not text")
                        .arg(QString::fromLatin1(codec->name())));
    *text = decoded;
    return ParsedLine::Ok;
}

QString writeTargetProblem(const QString &path)
{
    return nameState(path, true).text;
}

bool sameFile(const QString &a, const QString &b)
{
    if (sameNode(a, b))
        return true;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

bool writeParameterFile(const QString &path, const Values &values, QString *errorString,
                        WriteMode mode)
{
    QSaveFile file(path);
    auto refuse = [&](const QString &why) {
        if (errorString)
            *errorString = why;
        if (file.isOpen())
            file.cancelWriting();
        return false;
    };
    auto fail = [&]() { return refuse(file.errorString()); };
    // Refused before the temporary file is made: a rename over a named pipe
    // or a device node would put a regular file in its place.
    const QString problem = writeTargetProblem(path);
    if (!problem.isEmpty())
        return refuse(problem);
    if (mode == WriteMode::NewFileOnly && nameTaken(path))
        return refuse(QStringLiteral("the file already exists"));
    const QString finalName = savedFileName(path);
    // Unbuffered, so that a short write (disk full, file-size limit) shows in
    // the count that write() returns: a buffered flush inside commit() can
    // drop the rest of a partial write and still report success.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered))
        return fail();
    const QByteArray data = formatParameterLine(values).toLatin1();
    if (file.write(data) != data.size())
        return fail();
    // The data reaches the disk now, so that the sync inside commit() has
    // nothing left to do and the rename follows the check below at once.
    const QString unsynced = syncToDisk(file);
    if (!unsynced.isEmpty())
        return refuse(unsynced);
    // Something may have taken the name since the first look. What remains
    // open is the moment between this check and the rename inside commit().
    const QString late = finalNameProblem(finalName, mode);
    if (!late.isEmpty())
        return refuse(late);
    if (!file.commit()) {
        if (errorString)
            *errorString = file.errorString();
        return false;
    }
    return true;
}

bool openRegularFileToAppend(const QString &path, QFile *file, QString *errorString)
{
    const QString problem = writeTargetProblem(path);
    if (problem.isEmpty())
        return openToAppend(path, file, errorString);
    if (errorString)
        *errorString = problem;
    return false;
}

} // namespace Servo
