#include "serial/servolink.h"

#include "serial/portsettings.h"

#include <QElapsedTimer>

namespace Servo {

namespace {

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString kindName(FrameKind kind)
{
    switch (kind) {
    case FrameKind::ReadReply:
        return QStringLiteral("read reply");
    case FrameKind::WriteAck:
        return QStringLiteral("write acknowledgement");
    case FrameKind::Other:
        break;
    }
    return QStringLiteral("frame without a reply bit");
}

} // namespace

ServoLink::ServoLink() = default;

ServoLink::~ServoLink()
{
    close();
}

bool ServoLink::open(const QString &portName)
{
    close();
    m_name = portName;
    m_error.clear();
    m_port.setPortName(portName);
    applyLineSettings(&m_port);
    m_openError = QSerialPort::NoError;
    if (!m_port.open(QIODevice::ReadWrite)) {
        m_openError = m_port.error();
        m_error = describeOpenError(m_port);
        return false;
    }
    return true;
}

void ServoLink::close()
{
    if (m_port.isOpen())
        m_port.close();
    m_scanner.clear();
}

ServoLink::Result ServoLink::read(Values *values, const Values &requestValues)
{
    Frame reply;
    const Result r = exchange(encodeFrame(requestValues, 0), FrameKind::ReadReply, &reply);
    if (r == Ok && values)
        *values = reply.values;
    return r;
}

ServoLink::Result ServoLink::write(const Values &values, Values *acknowledged)
{
    Frame reply;
    const Result r = exchange(encodeFrame(values, Flag::Write), FrameKind::WriteAck, &reply);
    if (r == Ok && acknowledged)
        *acknowledged = reply.values;
    return r;
}

qint64 ServoLink::takeArrivedBytes()
{
    if (m_port.bytesAvailable() <= 0)
        return 0;
    const QByteArray bytes = m_port.readAll();
    m_scanner.append(bytes);
    return bytes.size();
}

ServoLink::Result ServoLink::exchange(const QByteArray &request, FrameKind expected, Frame *reply)
{
    m_error.clear();
    if (!m_port.isOpen()) {
        m_error = QStringLiteral("the port is not open");
        return PortFailed;
    }
    const int total = attempts();
    auto interrupted = [this] {
        if (!m_interrupted || !m_interrupted())
            return false;
        m_error = QStringLiteral("interrupted");
        log(m_error);
        return true;
    };
    for (int attempt = 1; attempt <= total; ++attempt) {
        if (interrupted())
            return Interrupted;
        // Whatever is left from before (noise, the tail of an earlier
        // answer) must not be mistaken for the start of this reply.
        m_port.clear(QSerialPort::Input);
        m_scanner.clear();

        log(QStringLiteral("attempt %1 of %2: sending %3")
                .arg(attempt)
                .arg(total)
                .arg(hexBytes(request)));
        QElapsedTimer clock;
        if (m_port.write(request) != request.size() || !m_port.waitForBytesWritten(m_timeout)) {
            m_error = QStringLiteral("cannot send to the port: %1").arg(m_port.errorString());
            return PortFailed;
        }
        clock.start();

        qint64 received = 0;
        for (;;) {
            received += takeArrivedBytes();
            QByteArray bytes;
            while (m_scanner.next(&bytes)) {
                const Frame frame = decodeFrame(bytes);
                const FrameKind kind = frameKind(frame.flags);
                if (kind == expected) {
                    log(QStringLiteral("received %1: %2").arg(kindName(kind), hexBytes(bytes)));
                    if (reply)
                        *reply = frame;
                    return Ok;
                }
                log(QStringLiteral("skipped %1: %2").arg(kindName(kind), hexBytes(bytes)));
            }
            if (interrupted())
                return Interrupted;
            const qint64 left = m_timeout - clock.elapsed();
            if (left <= 0)
                break;
            const qint64 slice = m_interrupted ? qMin<qint64>(left, InterruptionPollMs) : left;
            if (m_port.waitForReadyRead(int(slice)))
                continue;
            const QSerialPort::SerialPortError error = m_port.error();
            if (error == QSerialPort::TimeoutError || error == QSerialPort::NoError) {
                m_port.clearError();
                continue; // the loop head decides whether time is left
            }
            m_error = m_port.errorString();
            return PortFailed;
        }
        log(received > 0
                ? QStringLiteral("no reply within %1 ms (%2 bytes came, no valid %3 among them)")
                      .arg(m_timeout)
                      .arg(received)
                      .arg(kindName(expected))
                : QStringLiteral("no reply within %1 ms").arg(m_timeout));
    }
    m_error = QStringLiteral("no reply within %1 ms").arg(m_timeout);
    return NoReply;
}

void ServoLink::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

} // namespace Servo
