#include "protocol/frame.h"

namespace Servo {

namespace {

struct Field
{
    int offset;
    int width; // 1 or 2 bytes
    Parameter parameter;
};

// Numeric fields in wire order.
constexpr Field fields[NumericCount] = {
    {1, 1, TorqueGain},
    {2, 1, IntegralGain},
    {4, 1, LeftAngleCoefficient},
    {5, 1, Sensitivity},
    {6, 1, IntegralSpeed},
    {7, 2, BrakeGain},
    {9, 2, MinPulseWidth},
    {11, 2, MAXPulseWidth},
    {13, 2, MAXDuty},
    {15, 1, RightAngleCoefficient},
    {16, 2, NeutralPoint},
};

constexpr int FlagsOffset = 3;
constexpr int ChecksumOffset = 18;

inline quint8 byteAt(const char *frame, int i)
{
    return static_cast<quint8>(frame[i]);
}

} // namespace

QByteArray encodeFrame(const Values &values, quint8 kindFlags)
{
    QByteArray frame(FrameSize, '\0');
    frame[0] = static_cast<char>(FrameHeader);
    quint8 flags = kindFlags;
    if (values[ReversedRotation] != 0)
        flags |= Flag::ReversedRotation;
    if (values[LOCKProtection] != 0)
        flags |= Flag::LOCKProtection;
    if (values[SoftStart] != 0)
        flags |= Flag::SoftStart;
    frame[FlagsOffset] = static_cast<char>(flags);
    for (const Field &f : fields) {
        const unsigned v = static_cast<unsigned>(values[f.parameter]);
        frame[f.offset] = static_cast<char>(v & 0xFF);
        if (f.width == 2)
            frame[f.offset + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    frame[ChecksumOffset] = static_cast<char>(frameChecksum(frame.constData()));
    frame[FrameSize - 1] = static_cast<char>(FrameTrailer);
    return frame;
}

quint8 frameChecksum(const char *frame)
{
    unsigned sum = 0;
    for (int i = 1; i <= 17; ++i)
        sum += byteAt(frame, i);
    return static_cast<quint8>(sum & 0xFF);
}

bool isValidFrame(const char *frame)
{
    return byteAt(frame, 0) == FrameHeader && byteAt(frame, FrameSize - 1) == FrameTrailer &&
        byteAt(frame, ChecksumOffset) == frameChecksum(frame);
}

Frame decodeFrame(const char *frame)
{
    Frame out;
    out.flags = byteAt(frame, FlagsOffset);
    for (const Field &f : fields) {
        int v = byteAt(frame, f.offset);
        if (f.width == 2)
            v |= byteAt(frame, f.offset + 1) << 8;
        out.values[f.parameter] = v;
    }
    out.values[ReversedRotation] = (out.flags & Flag::ReversedRotation) ? 1 : 0;
    out.values[SoftStart] = (out.flags & Flag::SoftStart) ? 1 : 0;
    out.values[LOCKProtection] = (out.flags & Flag::LOCKProtection) ? 1 : 0;
    return out;
}

FrameKind frameKind(quint8 flags)
{
    if (flags & Flag::ReadReply)
        return FrameKind::ReadReply;
    if (flags & Flag::WriteAck)
        return FrameKind::WriteAck;
    return FrameKind::Other;
}

int hexChecksum(const QString &text)
{
    int sum = 0;
    for (int i = 0; i < 17; ++i) {
        bool ok = false;
        const uint v = text.mid(2 * i, 2).toUInt(&ok, 16);
        sum += ok ? static_cast<int>(v) : 0;
    }
    return sum;
}

QString frameToText(const QByteArray &frame)
{
    QString text = QString::fromLatin1(frame.toHex());
    if (text.size() == FrameHexSize)
        text.replace(FrameHexSize - 2, 2, text.right(2).toUpper());
    return text;
}

void FrameScanner::append(const QByteArray &bytes)
{
    append(bytes.constData(), bytes.size());
}

void FrameScanner::append(const char *data, int size)
{
    compact();
    m_buffer.append(data, size);
}

bool FrameScanner::next(QByteArray *frame)
{
    const char *data = m_buffer.constData();
    const int size = m_buffer.size();
    while (size - m_pos >= FrameSize) {
        const char *candidate = data + m_pos;
        if (isValidFrame(candidate)) {
            if (frame)
                *frame = QByteArray(candidate, FrameSize);
            m_pos += FrameSize;
            return true;
        }
        ++m_pos;
    }
    compact();
    return false;
}

QByteArray FrameScanner::pending() const
{
    return m_buffer.mid(m_pos);
}

void FrameScanner::clear()
{
    m_buffer.clear();
    m_pos = 0;
}

void FrameScanner::compact()
{
    // Only called when at most 19 unconsumed bytes are left or before an
    // append, so each byte is moved at most once per append.
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_pos = 0;
    }
}

} // namespace Servo
