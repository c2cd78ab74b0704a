#ifndef SERVOSIM_DEVICE_H
#define SERVOSIM_DEVICE_H

#include "protocol/frame.h"
#include "protocol/parameters.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

// The faults a simulated programmer makes on purpose. A count or size of 0
// switches that fault off. The noise comes from a random source that can be
// seeded, so that a test sees the same bytes every time.
class FaultPolicy
{
public:
    int noise = 0; // random bytes (never 0x55) before each reply
    int corruptEvery = 0; // spoil the checksum of every Nth reply
    int dropEvery = 0; // every Nth request is lost: not executed, no reply

    // Seed 0: a different stream each run.
    explicit FaultPolicy(quint64 seed = 0)
        : m_seed(seed)
    {
    }

    bool dropsRequest(int requestNumber) const
    {
        return dropEvery > 0 && requestNumber % dropEvery == 0;
    }
    bool corruptsReply(int replyNumber) const
    {
        return corruptEvery > 0 && replyNumber % corruptEvery == 0;
    }
    QByteArray noiseBytes();

private:
    quint64 m_seed;
    quint64 m_state = 0;
};

// The block held by the servo'th servo (from 1) attached to a programmer
// (from 1) by a schedule or by a command without values: every value within
// its parameter's range, the same for the same numbers on every run, and
// never the start values nor the block of the servo before (previous).
Servo::Values generatedServoValues(int programmer, int servo, const Servo::Values &previous);

// What the servo programmer answers, with no I/O: bytes in (split anyhow),
// reply bytes out.
//
// A programmer answers only while a servo is attached to it; with its socket
// empty every request goes unanswered, as on the device.
//
// A read request is answered with the block the device holds; a write
// request is stored and acknowledged with what was stored. The device clamps
// every written value to the range of its parameter (a Sensitivity of 100 is
// stored as 50) rather than refusing the frame, so the acknowledgement tells
// the sender what actually took effect. Frames that carry a reply bit are not
// requests and are ignored, so two simulators, or a line that echoes, cannot
// ping-pong.
class SimulatedProgrammer
{
public:
    struct Reply
    {
        QByteArray bytes; // noise and corruption already applied
        QString note; // what it is, for the log
    };

    // values: the block of the servo attached at the start, or, when
    // attached is false, of the first one attached later without values.
    explicit SimulatedProgrammer(const Servo::Values &values = Servo::startValues(),
                                 const FaultPolicy &faults = FaultPolicy(), bool attached = true);

    // The replies to the complete requests among the bytes received so far,
    // in order; an incomplete request waits for the rest.
    QVector<Reply> feed(const QByteArray &bytes);

    const Servo::Values &values() const { return m_values; }
    int requestCount() const { return m_requests; }

    // A servo holding values is plugged in (one already there is replaced);
    // detach() takes it away. Pending skips and pulls are dropped by both.
    void attach(const Servo::Values &values);
    // The block the next servo holds when no values are given: the start
    // block for the first servo, then generatedServoValues().
    Servo::Values nextServoValues(int programmer) const;
    void detach();
    bool hasServo() const { return m_attached; }
    int attachCount() const { return m_attachCount; } // servos attached so far
    // The next request goes unanswered, whatever it is: a contact that drops
    // out once.
    void skipNextRequest() { m_skipNext = true; }
    // The next write request is neither stored nor answered, and the servo
    // is gone from then on: pulled out during the write. False, and nothing
    // armed, when no servo is attached.
    bool pullOnNextWrite();

    // Called with one line for every request, reply decision and ignored
    // byte run; unset, nothing is described.
    void setLogger(std::function<void(const QString &)> logger) { m_logger = std::move(logger); }

private:
    void log(const QString &line);
    Reply answer(const Servo::Frame &request, const QByteArray &frame);

    Servo::Values m_values;
    FaultPolicy m_faults;
    Servo::FrameScanner m_scanner;
    int m_requests = 0; // valid requests seen
    int m_replies = 0; // replies made (dropped requests not counted)
    bool m_attached;
    int m_attachCount;
    bool m_skipNext = false;
    bool m_pullOnWrite = false;
    std::function<void(const QString &)> m_logger;
};

#endif // SERVOSIM_DEVICE_H
