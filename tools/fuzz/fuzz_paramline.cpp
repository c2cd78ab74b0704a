// libFuzzer target: the parameter file's line parser and its strict check,
// and the strict reading of a whole file's text (one-line or JSON). Each
// input is tried as UTF-8 and as Latin-1 text.

#include "files/parameterfile.h"
#include "files/parametertext.h"

#include <QString>
#include <QStringList>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char *what, const QString &line)
{
    std::fprintf(stderr, "parameter line invariant violated: %s\nline (%d chars): %s\n", what,
                 int(line.size()), line.left(200).toUtf8().constData());
    std::abort();
}

// A field as the strict check should see it, worked out without the library:
// plain means one or more ASCII digits and nothing else.
struct FieldView
{
    bool plain = false;
    bool fits = false; // plain and at most INT_MAX
    long long value = 0;
};

FieldView viewField(const QString &text)
{
    FieldView f;
    f.plain = !text.isEmpty();
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            f.plain = false;
            break;
        }
        if (f.value <= INT_MAX)
            f.value = f.value * 10 + (c.unicode() - '0');
    }
    f.fits = f.plain && f.value <= INT_MAX;
    return f;
}

bool fieldValid(int index, const QString &text)
{
    const FieldView f = viewField(text);
    const Servo::ParameterInfo &p = Servo::parameterInfo(index);
    return f.fits && f.value >= p.minimum && f.value <= p.maximum;
}

bool digitsAndCommasOnly(const QString &text)
{
    for (QChar c : text) {
        if (c != QLatin1Char(',') && (c < QLatin1Char('0') || c > QLatin1Char('9')))
            return false;
    }
    return true;
}

void checkFormatRoundTrip(const Servo::Values &values, bool clamp, const QString &line)
{
    const Servo::Values written = clamp ? Servo::clampedToRanges(values) : values;
    const QString text = Servo::formatParameterLine(written);
    if (text.count(QLatin1Char(',')) != Servo::ParameterCount - 1)
        fail("formatted line does not have 14 fields", line);
    if (clamp && !digitsAndCommasOnly(text))
        fail("formatted line has characters other than digits and commas", line);
    const Servo::ParsedLine back = Servo::parseParameterLine(text);
    if (!back.ok())
        fail("formatted line does not parse", line);
    for (int i = 0; i < Servo::ParameterCount; ++i) {
        const bool isSwitch = Servo::parameterInfo(i).isSwitch;
        const int want = isSwitch ? (written[i] != 0 ? 1 : 0) : written[i];
        if (back.values[i] != want)
            fail("formatted line parses back to other values", line);
    }
    if (clamp && Servo::firstInvalidField(back, nullptr) != -1)
        fail("formatted clamped values fail the strict check", line);
}

void checkLine(const QString &line)
{
    const Servo::ParsedLine parsed = Servo::parseParameterLine(line);
    const QStringList pieces = line.split(QLatin1Char(','));

    if (parsed.status == Servo::ParsedLine::CannotOpen)
        fail("parser reports a file error", line);
    if ((parsed.status == Servo::ParsedLine::TooLong) !=
        (line.size() > Servo::MaxParameterLineLength))
        fail("TooLong does not match a line over the limit", line);
    if (parsed.ok() && line.size() > Servo::MaxParameterLineLength)
        fail("line over the limit accepted", line);
    if (parsed.status == Servo::ParsedLine::TooFewFields && pieces.size() >= Servo::ParameterCount)
        fail("line with 14 fields refused", line);
    if (!parsed.ok() && parsed.errorString.isEmpty())
        fail("refusal without a reason", line);
    // Enough fields, within the limit: refused as holding no number exactly
    // when none of the first fourteen, without white space around and a
    // sign, is digits.
    if (pieces.size() >= Servo::ParameterCount && line.size() <= Servo::MaxParameterLineLength) {
        bool number = false;
        for (int i = 0; i < Servo::ParameterCount; ++i) {
            QString text = pieces.at(i).trimmed();
            if (text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-')))
                text.remove(0, 1);
            number = number || viewField(text).plain;
        }
        if ((parsed.status == Servo::ParsedLine::NoNumbers) == number)
            fail("a line with a number refused as holding none, or one without taken", line);
    }

    if (parsed.ok()) {
        if (parsed.fieldCount < Servo::ParameterCount || parsed.fieldCount != pieces.size())
            fail("wrong field count", line);
        if (parsed.fields.size() != Servo::ParameterCount)
            fail("Ok without 14 fields kept", line);
        for (int i = 0; i < Servo::ParameterCount; ++i) {
            if (parsed.fields.at(i) != pieces.at(i))
                fail("kept field differs from the text between commas", line);
            const FieldView f = viewField(pieces.at(i));
            if (f.plain && parsed.values[i] != (f.fits ? int(f.value) : 0))
                fail("decimal field read as another number", line);
        }
        checkFormatRoundTrip(parsed.values, true, line);
        checkFormatRoundTrip(parsed.values, false, line);
    }

    QString reason;
    const int bad = Servo::firstInvalidField(parsed, &reason);
    if (bad == -1) {
        if (!parsed.ok())
            fail("refused line passes the strict check", line);
        for (int i = 0; i < Servo::ParameterCount; ++i) {
            if (!fieldValid(i, parsed.fields.at(i)))
                fail("strict check passes a field that is not a number in range", line);
            if (!Servo::inRange(i, parsed.values[i]))
                fail("strict check passes a value out of range", line);
        }
    } else {
        if (bad < 0 || reason.isEmpty())
            fail("strict check gives a bad index or no reason", line);
        if (parsed.ok()) {
            if (bad >= Servo::ParameterCount)
                fail("strict check points past field 14", line);
            for (int i = 0; i < bad; ++i) {
                if (!fieldValid(i, parsed.fields.at(i)))
                    fail("strict check missed an earlier bad field", line);
            }
            if (fieldValid(bad, parsed.fields.at(bad)))
                fail("strict check refuses a good field", line);
        }
    }
}

// The strict reading of a file's text: JSON exactly when the first character
// that is not white space is '{'; what it takes is in range, and a line it
// takes is what the line parser reads.
void checkText(const QString &text)
{
    const Servo::ValuesCheck check = Servo::parseValuesText(text);
    const QString start = text.trimmed();
    if (check.json != start.startsWith(QLatin1Char('{')))
        fail("JSON taken for a line or a line for JSON", text);
    if (check.ok == !check.problem.isEmpty())
        fail("a refusal without a reason, or a reason for text taken", text);
    if (!check.ok)
        return;
    for (int i = 0; i < Servo::ParameterCount; ++i) {
        if (!Servo::inRange(i, check.values[i]))
            fail("text taken with a value out of range", text);
    }
    if (!check.json) {
        const QString line = text.section(QLatin1Char('\n'), 0, 0).remove(QLatin1Char('\r'));
        if (Servo::parseParameterLine(line).values != check.values)
            fail("text taken as other values than its line", text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *text = reinterpret_cast<const char *>(data);
    checkLine(QString::fromUtf8(text, int(size)));
    checkLine(QString::fromLatin1(text, int(size)));
    checkText(QString::fromUtf8(text, int(size)));
    checkText(QString::fromLatin1(text, int(size)));
    return 0;
}
