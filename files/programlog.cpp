#include "files/programlog.h"

#include "files/parameterfile.h"

namespace Servo {

namespace {

// Longest row that is looked at; the rest of a longer line is skipped.
constexpr qint64 MaxRowLength = 64 * 1024;

const char *const Verified = "verified";
const char *const AlreadyHeld = "already held";

QString csvCell(const QString &cell)
{
    if (!cell.contains(QLatin1Char(',')) && !cell.contains(QLatin1Char('"')) &&
        !cell.contains(QLatin1Char('\n')) && !cell.contains(QLatin1Char('\r')))
        return cell;
    return QLatin1Char('"') + QString(cell).replace(QLatin1String("\""), QLatin1String("\"\"")) +
        QLatin1Char('"');
}

// Reads the next line of file into *line without its line end. A line
// longer than MaxRowLength is read to its end and comes back cut to that
// length with *whole false. False at the end of the file or on an error.
bool nextLine(QFile &file, QByteArray *line, bool *whole)
{
    *line = file.readLine(MaxRowLength + 1);
    if (line->isEmpty())
        return false;
    *whole = true;
    if (!line->endsWith('\n')) {
        while (!file.atEnd()) {
            *whole = false;
            const QByteArray rest = file.readLine(MaxRowLength + 1);
            if (rest.isEmpty() || rest.endsWith('\n'))
                break;
        }
    }
    while (line->endsWith('\n') || line->endsWith('\r'))
        line->chop(1);
    return true;
}

// The fourteen values of a row's cells, from the fourth on; none when a
// cell is not a decimal number.
std::optional<Values> rowValues(const QStringList &cells)
{
    if (cells.size() < 3 + ParameterCount)
        return std::nullopt;
    Values values{};
    for (int i = 0; i < ParameterCount; ++i) {
        bool ok = false;
        values[i] = cells.at(3 + i).toInt(&ok, 10);
        if (!ok)
            return std::nullopt;
    }
    return values;
}

} // namespace

QString ProgramLog::headerLine(bool oldLayout)
{
    QStringList names{QStringLiteral("time"), QStringLiteral("port"), QStringLiteral("result")};
    names += parameterKeys();
    if (!oldLayout)
        names << QStringLiteral("servo") << QStringLiteral("job") << QStringLiteral("seconds");
    return names.join(QLatin1Char(','));
}

QString ProgramLog::rowLine(const LogRow &row, bool oldLayout)
{
    QStringList cells{row.time.toUTC().toString(Qt::ISODate), row.port, row.result};
    for (int i = 0; i < ParameterCount; ++i)
        cells << (row.values ? QString::number((*row.values)[i]) : QString());
    if (!oldLayout)
        cells << (row.servo > 0 ? QString::number(row.servo) : QString()) << row.job
              << (row.elapsedMs >= 0 ? QString::number(row.elapsedMs / 1000.0, 'f', 3) : QString());
    for (QString &cell : cells)
        cell = csvCell(cell);
    return cells.join(QLatin1Char(','));
}

QStringList ProgramLog::splitLine(const QString &line)
{
    QStringList cells;
    QString cell;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c != QLatin1Char('"'))
                cell += c;
            else if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"'))
                cell += line.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            cells << cell;
            cell.clear();
        } else {
            cell += c;
        }
    }
    cells << cell;
    return cells;
}

bool ProgramLog::open(const QString &path, QString *errorString)
{
    m_held.clear();
    m_path = path;
    m_oldLayout = false;
    m_rowOpen = false;
    if (m_file.isOpen())
        m_file.close();
    auto refuse = [&](const QString &why) {
        if (errorString)
            *errorString = why;
        if (m_file.isOpen())
            m_file.close();
        return false;
    };
    QString why;
    if (!openRegularFileToAppend(path, &m_file, &why))
        return refuse(QStringLiteral("cannot write the log %1: %2").arg(path, why));
    auto readFailed = [&]() {
        return refuse(QStringLiteral("cannot read the log %1: %2").arg(path, m_file.errorString()));
    };
    const qint64 size = m_file.size();
    if (size > 0) {
        if (!m_file.seek(0))
            return readFailed();
        QByteArray line;
        bool whole = true;
        const QString header = headerLine();
        const QString oldHeader = headerLine(true);
        const bool read = nextLine(m_file, &line, &whole);
        const QString first = QString::fromUtf8(line);
        if (!read || !whole || (first != header && first != oldHeader)) {
            if (m_file.error() != QFileDevice::NoError)
                return readFailed();
            return refuse(
                QStringLiteral("%1 is not a servo-cli log: its first line is not \"%2,...\"; name "
                               "a new file or an earlier log")
                    .arg(path, oldHeader.section(QLatin1Char(','), 0, 3)));
        }
        m_oldLayout = first == oldHeader;
        while (nextLine(m_file, &line, &whole)) {
            if (!whole)
                continue;
            const QStringList cells = splitLine(QString::fromUtf8(line));
            const QString result = cells.value(2);
            if (result != QLatin1String(Verified) && result != QLatin1String(AlreadyHeld))
                continue;
            if (const std::optional<Values> values = rowValues(cells))
                ++m_held[*values];
        }
        if (m_file.error() != QFileDevice::NoError)
            return readFailed();
        char last = '\n';
        if (!m_file.seek(size - 1) || !m_file.getChar(&last))
            return readFailed();
        // A row cut short, by a full disk say, stays on its own line.
        m_rowOpen = last != '\n';
    }
    m_file.seek(size);
    m_file.setTextModeEnabled(true);
    QByteArray start;
    if (size == 0)
        start = headerLine().toUtf8() + '\n';
    else if (m_rowOpen)
        start = "\n";
    if (!start.isEmpty() && (m_file.write(start) != start.size() || !m_file.flush()))
        return refuse(
            QStringLiteral("cannot write the log %1: %2").arg(path, m_file.errorString()));
    m_rowOpen = false;
    return true;
}

bool ProgramLog::append(const LogRow &row)
{
    if (!m_file.isOpen())
        return false;
    QByteArray text = rowLine(row, m_oldLayout).toUtf8() + '\n';
    // After a row that failed, the next one starts on a line of its own.
    if (m_rowOpen)
        text.prepend('\n');
    m_rowOpen = true;
    if (m_file.write(text) != text.size() || !m_file.flush())
        return false;
    m_rowOpen = false;
    return true;
}

QString ProgramLog::errorString() const
{
    return m_file.errorString();
}

int ProgramLog::heldCount(const Values &job) const
{
    const auto found = m_held.find(job);
    return found == m_held.end() ? 0 : found->second;
}

} // namespace Servo
