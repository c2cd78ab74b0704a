#ifndef RECEIVE_HARNESS_H
#define RECEIVE_HARNESS_H

// Shared body of the receive fuzzers: splits an input into serial arrivals
// and pushes them through the library's FrameScanner, the receive buffer of
// the window, the simulator and the command-line client. Every frame taken
// out is checked on its own against a decoder written out here, and the frame
// sequence must match a plain scan over the whole input at once: the way the
// bytes are cut into arrivals must never change what is found.

#include "protocol/frame.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace ReceiveHarness {

// Bytes at the start of an input that choose the arrival sizes.
constexpr size_t ControlSize = 4;
constexpr int MaxArrival = 48;

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "receive invariant violated: %s\n", what);
    std::abort();
}

inline void check(bool condition, const char *what)
{
    if (!condition)
        fail(what);
}

// The 20 bytes at p form a frame: header, trailer and the low 8 bits of the
// sum of bytes 1..17 in byte 18. Written out here rather than taken from the
// library, so that the check does not share a fault with the code under test.
inline bool looksLikeFrame(const unsigned char *p)
{
    if (p[0] != 0x55 || p[19] != 0xAA)
        return false;
    unsigned sum = 0;
    for (int i = 1; i <= 17; ++i)
        sum += p[i];
    return (sum & 0xFFu) == p[18];
}

struct ScanResult
{
    std::vector<QByteArray> frames;
    QByteArray rest; // bytes left over after the last frame or resync
};

// Whole input at once: a frame is taken where one starts, otherwise the scan
// moves on by one byte; it stops when fewer than 20 bytes remain.
inline ScanResult referenceScan(const unsigned char *data, size_t size)
{
    ScanResult out;
    size_t pos = 0;
    while (size - pos >= 20) {
        if (looksLikeFrame(data + pos)) {
            out.frames.emplace_back(reinterpret_cast<const char *>(data + pos), 20);
            pos += 20;
        } else {
            ++pos;
        }
    }
    out.rest = QByteArray(reinterpret_cast<const char *>(data + pos), int(size - pos));
    return out;
}

inline void checkFrame(const QByteArray &frame)
{
    check(frame.size() == Servo::FrameSize, "frame is not 20 bytes");
    const auto *p = reinterpret_cast<const unsigned char *>(frame.constData());
    check(looksLikeFrame(p), "accepted frame has a bad header, trailer or checksum");

    const Servo::Frame decoded = Servo::decodeFrame(frame);
    check(decoded.flags == p[3], "decoded flags differ from byte 3");
    const bool bits[3] = {
        (p[3] & 0x01) != 0, // reversed rotation
        (p[3] & 0x20) != 0, // soft start
        (p[3] & 0x10) != 0, // lock protection
    };
    for (int i = 0; i < 3; ++i)
        check(decoded.values[Servo::NumericCount + i] == (bits[i] ? 1 : 0),
              "switch does not follow its flag bit");

    // Spot checks of the layout, independent of the library's field table.
    check(decoded.values[Servo::TorqueGain] == p[1], "TorqueGain is not byte 1");
    check(decoded.values[Servo::BrakeGain] == (p[7] | p[8] << 8), "BrakeGain is not bytes 7-8");
    check(decoded.values[Servo::NeutralPoint] == (p[16] | p[17] << 8),
          "NeutralPoint is not bytes 16-17");
    check(decoded.values[Servo::RightAngleCoefficient] == p[15],
          "RightAngleCoefficient is not byte 15");

    // Re-encoding the decoded values, with the switch bits left to come from
    // the values, must give the same 20 bytes back.
    const quint8 kind = p[3] & quint8(~(0x01 | 0x10 | 0x20));
    check(Servo::encodeFrame(decoded.values, kind) == frame, "encode(decode(frame)) != frame");

    const Servo::FrameKind k = Servo::frameKind(p[3]);
    const Servo::FrameKind expected = (p[3] & 0x08) ? Servo::FrameKind::ReadReply
        : (p[3] & 0x04)                             ? Servo::FrameKind::WriteAck
                                                    : Servo::FrameKind::Other;
    check(k == expected, "frame kind does not follow bits 3 and 2");

    // The text the window works with: 40 digits, checksum over pairs 1..17.
    const QString text = QString::fromLatin1(frame.toHex().toUpper());
    check(text.size() == Servo::FrameHexSize, "frame text is not 40 characters");
    check((Servo::hexChecksum(text.mid(2)) & 0xFF) == p[18], "hex checksum differs from byte 18");
}

inline void sameFrames(const std::vector<QByteArray> &got, const ScanResult &want, const char *what)
{
    check(got.size() == want.frames.size(), what);
    for (size_t i = 0; i < got.size(); ++i)
        check(got[i] == want.frames[i], what);
}

// Arrival sizes come from the control bytes in turn; a size of 0 is an
// arrival that brings nothing (a readyRead whose readAll is empty).
inline std::vector<int> arrivalSizes(const unsigned char *control, size_t controlSize,
                                     size_t payload)
{
    std::vector<int> sizes;
    if (controlSize == 0) {
        sizes.push_back(int(payload));
        return sizes;
    }
    size_t done = 0;
    size_t k = 0;
    size_t emptyRun = 0;
    while (done < payload) {
        int n = control[k % controlSize] % (MaxArrival + 1);
        ++k;
        if (n == 0) {
            // Control bytes that all give 0 would never finish.
            if (++emptyRun >= controlSize)
                n = int(payload - done);
        } else {
            emptyRun = 0;
        }
        n = int(std::min<size_t>(size_t(n), payload - done));
        sizes.push_back(n);
        done += size_t(n);
    }
    return sizes;
}

inline void run(const unsigned char *data, size_t size)
{
    const size_t controlSize = std::min(size, ControlSize);
    const unsigned char *payload = data + controlSize;
    const size_t payloadSize = size - controlSize;
    const std::vector<int> sizes = arrivalSizes(data, controlSize, payloadSize);
    const ScanResult want = referenceScan(payload, payloadSize);

    std::vector<QByteArray> streamFrames;
    Servo::FrameScanner stream;

    size_t offset = 0;
    QByteArray frame;
    for (int n : sizes) {
        const QByteArray arrival(reinterpret_cast<const char *>(payload + offset), n);
        offset += size_t(n);

        stream.append(arrival.constData(), arrival.size());
        while (stream.next(&frame)) {
            checkFrame(frame);
            streamFrames.push_back(frame);
        }
        check(stream.pendingSize() < Servo::FrameSize, "stream: 20 or more bytes pending");
        check(stream.pending().size() == stream.pendingSize(),
              "stream: pending() and pendingSize() differ");
    }
    check(offset == payloadSize, "arrivals do not cover the input");

    sameFrames(streamFrames, want, "scanner found other frames than a scan of the whole input");
    check(stream.pending() == want.rest, "stream: wrong bytes left over");

    // A scanner that is cleared starts from nothing.
    stream.clear();
    check(stream.pendingSize() == 0 && !stream.next(&frame), "clear() leaves bytes behind");
}

} // namespace ReceiveHarness

#endif // RECEIVE_HARNESS_H
