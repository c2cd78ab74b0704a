#ifndef SERVOLINK_H
#define SERVOLINK_H

#include "protocol/frame.h"

#include <QSerialPort>
#include <QString>

#include <functional>

namespace Servo {

// Blocking request/reply client for the servo programmer, for programs
// without an event loop (servo-cli). Each request goes out as one frame; the reply is
// awaited until a deadline, and the request is sent again when none came.
// Bytes that do not form a valid frame, and valid frames of another kind (an
// echo of the request, a write acknowledgement while a read reply is
// expected), are skipped.
//
// A reply is not tied to a particular attempt: a late answer to an earlier
// attempt of the same request is taken as the answer.
class ServoLink
{
public:
    enum Result {
        Ok,
        NoReply, // every attempt timed out
        PortFailed, // the port reported an error after it was opened
        Interrupted, // the interruption check said so (see setInterruption)
    };

    ServoLink();
    ~ServoLink();
    ServoLink(const ServoLink &) = delete;
    ServoLink &operator=(const ServoLink &) = delete;

    // Opens a port by name or device path with the programmer's line
    // settings. On failure errorString() says why (missing, busy, permission).
    bool open(const QString &portName);
    void close();
    bool isOpen() const { return m_port.isOpen(); }
    QString portName() const { return m_name; }
    // Why the last open failed, as the serial port classes tell it.
    QSerialPort::SerialPortError openError() const { return m_openError; }

    // Time allowed for each attempt, counted from the moment the request
    // has been handed to the port.
    void setTimeout(int milliseconds) { m_timeout = milliseconds; }
    int timeout() const { return m_timeout; }
    // Further attempts after the first one times out.
    void setRetries(int retries) { m_retries = retries; }
    int attempts() const { return 1 + m_retries; }

    // Reads the servo's block. The read request carries requestValues in its
    // data bytes (the programmer answers with its own block regardless).
    Result read(Values *values, const Values &requestValues = startValues());
    // Writes values; *acknowledged receives what the programmer reports it
    // has stored.
    Result write(const Values &values, Values *acknowledged);

    // Sends request and waits for a valid frame of kind expected.
    Result exchange(const QByteArray &request, FrameKind expected, Frame *reply);

    QString errorString() const { return m_error; }

    // Asked before each attempt and, while a reply is awaited, at least every
    // InterruptionPollMs; true ends the exchange with Interrupted.
    static constexpr int InterruptionPollMs = 50;
    void setInterruption(std::function<bool()> requested) { m_interrupted = std::move(requested); }

    // Progress lines for people (frames sent and received, time-outs).
    void setLogger(std::function<void(const QString &)> logger) { m_log = std::move(logger); }

private:
    void log(const QString &line) const;
    qint64 takeArrivedBytes(); // into the scanner; returns the count

    QSerialPort m_port;
    QString m_name;
    FrameScanner m_scanner;
    int m_timeout = 500;
    int m_retries = 2;
    QString m_error;
    QSerialPort::SerialPortError m_openError = QSerialPort::NoError;
    std::function<void(const QString &)> m_log;
    std::function<bool()> m_interrupted;
};

} // namespace Servo

#endif // SERVOLINK_H
