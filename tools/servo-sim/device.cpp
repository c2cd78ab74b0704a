#include "tools/servo-sim/device.h"

#include <QRandomGenerator>
#include <QStringList>

#include <utility>

using namespace Servo;

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

QByteArray FaultPolicy::noiseBytes()
{
    QByteArray bytes(noise, '\0');
    if (m_seed == 0) {
        for (char &c : bytes) {
            quint32 b;
            do
                b = QRandomGenerator::global()->bounded(256u);
            while (b == FrameHeader);
            c = char(b);
        }
        return bytes;
    }
    // Seeded: xorshift64, continued across replies.
    if (m_state == 0)
        m_state = m_seed;
    for (char &c : bytes) {
        quint8 b;
        do {
            m_state ^= m_state << 13;
            m_state ^= m_state >> 7;
            m_state ^= m_state << 17;
            b = quint8(m_state >> 24);
        } while (b == FrameHeader);
        c = char(b);
    }
    return bytes;
}

Values generatedServoValues(int programmer, int servo, const Values &previous)
{
    // splitmix64 over (programmer, servo, salt); a salt is added only in the
    // unlikely case that the block equals one it must not.
    for (quint64 salt = 0;; ++salt) {
        quint64 state =
            (quint64(quint32(programmer)) << 40) ^ (quint64(quint32(servo)) << 8) ^ salt;
        Values v{};
        for (int i = 0; i < ParameterCount; ++i) {
            state += 0x9E3779B97F4A7C15ull;
            quint64 z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            const ParameterInfo &p = parameterInfo(i);
            v[i] = p.minimum + int(z % quint64(p.maximum - p.minimum + 1));
        }
        if (v != startValues() && v != previous)
            return v;
    }
}

SimulatedProgrammer::SimulatedProgrammer(const Values &values, const FaultPolicy &faults,
                                         bool attached)
    : m_values(clampedToRanges(values))
    , m_faults(faults)
    , m_attached(attached)
    , m_attachCount(attached ? 1 : 0)
{
}

Values SimulatedProgrammer::nextServoValues(int programmer) const
{
    return m_attachCount == 0 ? m_values
                              : generatedServoValues(programmer, m_attachCount + 1, m_values);
}

void SimulatedProgrammer::attach(const Values &values)
{
    m_values = clampedToRanges(values);
    m_attached = true;
    ++m_attachCount;
    m_skipNext = false;
    m_pullOnWrite = false;
    log(QStringLiteral("servo %1 attached").arg(m_attachCount));
}

void SimulatedProgrammer::detach()
{
    if (m_attached)
        log(QStringLiteral("servo %1 detached").arg(m_attachCount));
    m_attached = false;
    m_skipNext = false;
    m_pullOnWrite = false;
}

bool SimulatedProgrammer::pullOnNextWrite()
{
    if (!m_attached)
        return false;
    m_pullOnWrite = true;
    return true;
}

void SimulatedProgrammer::log(const QString &line)
{
    if (m_logger)
        m_logger(line);
}

QVector<SimulatedProgrammer::Reply> SimulatedProgrammer::feed(const QByteArray &bytes)
{
    QVector<Reply> replies;
    m_scanner.append(bytes);
    QByteArray frame;
    for (;;) {
        const QByteArray before = m_logger ? m_scanner.pending() : QByteArray();
        const int sizeBefore = m_scanner.pendingSize();
        const bool found = m_scanner.next(&frame);
        const int skipped = sizeBefore - m_scanner.pendingSize() - (found ? FrameSize : 0);
        if (skipped > 0)
            log(QStringLiteral("rx %1  ignored: no valid frame").arg(hex(before.left(skipped))));
        if (!found)
            break;

        const Frame request = decodeFrame(frame);
        if (request.flags & (Flag::ReadReply | Flag::WriteAck)) {
            log(QStringLiteral("rx %1  ignored: carries a reply bit").arg(hex(frame)));
            continue;
        }
        ++m_requests;
        const bool writing = request.flags & Flag::Write;
        if (!m_attached) {
            log(QStringLiteral("rx %1  no servo attached: unanswered").arg(hex(frame)));
            continue;
        }
        if (std::exchange(m_skipNext, false)) {
            log(QStringLiteral("rx %1  skipped: unanswered").arg(hex(frame)));
            continue;
        }
        if (writing && std::exchange(m_pullOnWrite, false)) {
            log(QStringLiteral("rx %1  write not stored: the servo is pulled out").arg(hex(frame)));
            detach();
            continue;
        }
        if (m_faults.dropsRequest(m_requests)) {
            const QString kind = writing ? QStringLiteral("write") : QStringLiteral("read");
            log(QStringLiteral("rx %1  %2 request %3 dropped")
                    .arg(hex(frame), kind)
                    .arg(m_requests));
            continue;
        }
        replies.append(answer(request, frame));
    }
    return replies;
}

SimulatedProgrammer::Reply SimulatedProgrammer::answer(const Frame &request,
                                                       const QByteArray &frame)
{
    Reply reply;
    if (request.flags & Flag::Write) {
        // The device stores what it can: each value is held to the range of
        // its parameter, and the acknowledgement reports the result.
        const Values stored = clampedToRanges(request.values);
        QStringList clamped;
        for (int i = 0; i < NumericCount; ++i) {
            if (stored[i] != request.values[i])
                clamped << QStringLiteral("%1 %2->%3")
                               .arg(QLatin1String(parameterInfo(i).stem))
                               .arg(request.values[i])
                               .arg(stored[i]);
        }
        m_values = stored;
        reply.bytes = encodeFrame(m_values, Flag::WriteAck);
        reply.note = QStringLiteral("write acknowledgement");
        log(QStringLiteral("rx %1  write stored%2")
                .arg(hex(frame),
                     clamped.isEmpty()
                         ? QString()
                         : QStringLiteral(", clamped ") + clamped.join(QStringLiteral(", "))));
    } else {
        reply.bytes = encodeFrame(m_values, Flag::ReadReply);
        reply.note = QStringLiteral("read reply");
        log(QStringLiteral("rx %1  read").arg(hex(frame)));
    }

    ++m_replies;
    if (m_faults.corruptsReply(m_replies)) {
        reply.bytes[FrameSize - 2] = char(reply.bytes.at(FrameSize - 2) ^ 0xFF);
        reply.note += QStringLiteral(", checksum corrupted");
    }
    if (m_faults.noise > 0) {
        reply.bytes.prepend(m_faults.noiseBytes());
        reply.note += QStringLiteral(", %1 noise bytes first").arg(m_faults.noise);
    }
    return reply;
}
