#ifndef PARAMETERFILE_H
#define PARAMETERFILE_H

#include "protocol/parameters.h"

#include <QString>
#include <QStringList>

class QFile;

// The parameter file: one line of fourteen comma-separated decimal fields in
// canonical order, no header and no line end. Readers accept a line end
// (LF or CR LF) and ignore fields after the fourteenth and further lines.
namespace Servo {

// Longest first line that is read at all; a longer one is refused so that a
// huge or binary file cannot exhaust memory.
constexpr int MaxParameterLineLength = 4096;

// Fourteen fields, ASCII digits and commas only, no line end.
QString formatParameterLine(const Values &values);

struct ParsedLine
{
    // NotRegularFile: a named pipe, device, folder or socket, refused without
    // being read. NotText: the first line holds a NUL byte or is not valid
    // UTF-8 (a UTF-16 file without a byte-order mark, say). NoNumbers: enough
    // fields, but none of them a number (a header row of names, quoted
    // numbers); fields and fieldCount are kept for the strict check.
    enum Status { Ok, TooFewFields, TooLong, CannotOpen, NotRegularFile, NotText, NoNumbers };
    Status status = TooFewFields;
    // Lenient reading, as the window loads a file: a field that is not a
    // decimal integer counts as 0. Values are not clamped here.
    Values values{};
    QStringList fields; // the first fourteen fields as written (when Ok)
    int fieldCount = 0; // fields on the line, extra ones included
    QString errorString; // English, for a refusal

    bool ok() const { return status == Ok; }
};

// A line with fewer than fourteen fields is refused with firstLineMisfit's
// sentence where it has one, else with the count. A line whose first
// fourteen fields hold no number at all is refused with noNumberMisfit's.
ParsedLine parseParameterLine(const QString &line);

// What a parameter file looks like, for messages that refuse one: "a
// parameter file is one line of 14 comma-separated numbers, such as ...".
QString parameterFileShape();

// Why a first line is not a parameter line at a glance, followed by
// parameterFileShape(); empty when it may be one. fileEmpty: nothing but
// blank lines in the whole file ("the file is empty"). Otherwise: the line is
// blank, is a comment ('#', ';' or "//" first), or has its fields separated by
// semicolons, tabs or spaces instead of commas.
QString firstLineMisfit(const QString &line, bool fileEmpty = false);

// For fields of which none is a number: what the line looks like (a header
// row of names, quoted numbers, empty fields, text), followed by
// parameterFileShape(); empty when a field is a number.
QString noNumberMisfit(const QStringList &fields);

// Strict check for tools that must not guess: the first field that is not a
// plain decimal number or lies outside its range. Returns -1 when all hold;
// otherwise the field index, with a message in *reason. A NoNumbers line is
// checked field by field, as a line that parsed.
int firstInvalidField(const ParsedLine &parsed, QString *reason);

// Reads the first line of the file (at most MaxParameterLineLength
// characters) and parses it. Only a regular file is opened, and the open
// cannot block. The line is UTF-8 unless a byte-order mark says UTF-16 or
// UTF-32; CR characters are dropped.
ParsedLine readParameterFile(const QString &path);

// Largest file that readTextFile takes.
constexpr int MaxTextFileSize = 64 * 1024;

// The whole of a small text file, for tools that check its format strictly.
// Opened as readParameterFile opens a file (a regular file only, without
// blocking). UTF-8 unless a byte-order mark says UTF-16 or UTF-32; the mark
// is dropped. Status Ok with the text, or CannotOpen, NotRegularFile,
// TooLong (over MaxTextFileSize bytes, or a first line that readParameterFile
// finds too long) or NotText (a NUL anywhere, or bytes that are not UTF-8;
// for the first line, with readParameterFile's message), with a message in
// *errorString.
ParsedLine::Status readTextFile(const QString &path, QString *text, QString *errorString);

// Why a writer must not replace path: empty when path names nothing yet or
// a regular file (links followed), else what it is, as "a named pipe, not a
// regular file", or why it cannot be looked at ("Too many levels of symbolic
// links"). Nothing is opened.
QString writeTargetProblem(const QString &path);

// Whether two paths name one existing file: the same device and inode (a
// link, a hard link, another spelling of the path), or the same path once
// links are resolved.
bool sameFile(const QString &a, const QString &b);

// ReplaceRegularFile: the target may exist, as a regular file. NewFileOnly:
// the target must not exist at all, not even at the moment it is put in
// place, so an earlier file is never replaced.
enum class WriteMode { ReplaceRegularFile, NewFileOnly };

// Writes the line through a temporary file that replaces the target only when
// everything has been written; on any failure the old file is left as it was.
// A target that is not a regular file (a named pipe, a device, a folder,
// after following links) is refused before anything is written, and checked
// once more just before the temporary file takes its place.
bool writeParameterFile(const QString &path, const Values &values, QString *errorString = nullptr,
                        WriteMode mode = WriteMode::ReplaceRegularFile);

// Opens a regular file, or creates a new one, for reading and appending,
// without waiting on a named pipe or acting on a device: anything that is
// not a regular file is refused unopened, with what it is in *errorString.
// Writes always go to the end of the file.
bool openRegularFileToAppend(const QString &path, QFile *file, QString *errorString);

} // namespace Servo

#endif // PARAMETERFILE_H
