#ifndef FRAME_H
#define FRAME_H

#include "protocol/parameters.h"

#include <QByteArray>
#include <QString>

// The one wire frame of the servo programmer, 20 bytes, used both ways:
//
//   byte   field                   byte   field
//   0      header 0x55             9-10   MinPulseWidth
//   1      TorqueGain              11-12  MAXPulseWidth
//   2      IntegralGain            13-14  MAXDuty
//   3      flags                   15     RightAngleCoefficient
//   4      LeftAngleCoefficient    16-17  NeutralPoint
//   5      Sensitivity             18     checksum: low 8 bits of bytes 1..17
//   6      IntegralSpeed           19     trailer 0xAA
//   7-8    BrakeGain
// Two-byte fields are unsigned 16-bit, low byte first.
namespace Servo {

constexpr int FrameSize = 20;
constexpr int FrameHexSize = 2 * FrameSize;
constexpr quint8 FrameHeader = 0x55;
constexpr quint8 FrameTrailer = 0xAA;

namespace Flag {
constexpr quint8 ReversedRotation = 0x01;
constexpr quint8 Write = 0x02; // request: 1 = write, 0 = read
constexpr quint8 WriteAck = 0x04; // reply: write acknowledgement
constexpr quint8 ReadReply = 0x08;
constexpr quint8 LOCKProtection = 0x10;
constexpr quint8 SoftStart = 0x20;
} // namespace Flag

enum class FrameKind { Other, ReadReply, WriteAck };

struct Frame
{
    Values values{}; // canonical order, switches from the flag bits
    quint8 flags = 0; // the whole flags byte as received
};

// Composes a frame from values; kindFlags are OR-ed into the flags byte next
// to the switch bits (Flag::Write for a write request, Flag::ReadReply or
// Flag::WriteAck for replies). Values are cut to their field width.
QByteArray encodeFrame(const Values &values, quint8 kindFlags);

// Low 8 bits of the sum of bytes 1..17 of a 20-byte frame.
quint8 frameChecksum(const char *frame);

// Header, trailer and checksum of the 20 bytes at frame.
bool isValidFrame(const char *frame);

// Decodes 20 bytes without checking them; the caller has checked.
Frame decodeFrame(const char *frame);
inline Frame decodeFrame(const QByteArray &frame)
{
    return decodeFrame(frame.constData());
}

// Bit 3 wins over bit 2: a frame with both is a read reply.
FrameKind frameKind(quint8 flags);

// Sum of the first 17 hexadecimal pairs of text; a pair that is not valid hex,
// or missing, counts as 0. The full sum, not reduced.
int hexChecksum(const QString &text);

// Frame text as the window composes it: lower-case field digits, "AA" trailer.
QString frameToText(const QByteArray &frame);

// Receive buffer for a byte stream: append what arrives, take whole frames
// out one at a time. A position at which no valid frame starts costs one
// byte, so a real frame that begins inside a false candidate is still found.
// Consuming never copies the rest of the buffer.
class FrameScanner
{
public:
    void append(const QByteArray &bytes);
    void append(const char *data, int size);
    // Takes the next valid frame (header, trailer, checksum hold) into *frame.
    // Returns false once fewer than 20 bytes remain without one; those bytes
    // stay for the next append.
    bool next(QByteArray *frame);
    QByteArray pending() const;
    int pendingSize() const { return m_buffer.size() - m_pos; }
    void clear();

private:
    void compact();
    QByteArray m_buffer;
    int m_pos = 0;
};

} // namespace Servo

#endif // FRAME_H
