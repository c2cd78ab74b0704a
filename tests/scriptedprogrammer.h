#ifndef SCRIPTEDPROGRAMMER_H
#define SCRIPTEDPROGRAMMER_H

// A servo programmer scripted by a test, on a line of its own (testline.h),
// served from a thread while the code under test runs. It does what the
// simulator never does: forget a write, report values out of range, stay
// silent, answer late, lose a servo in the middle of a write.
#include "protocol/frame.h"
#include "tests/testline.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <mutex>
#include <thread>

class ScriptedProgrammer
{
public:
    // The servo's block. Set before start() and read after stop(); while the
    // programmer serves, use attach() and held().
    Servo::Values block = Servo::startValues();
    std::atomic<bool> silent{false};
    // A field that does not take what is written: it is stored as
    // stuckValue, or acknowledged as stuckValue, or both.
    int stuckField = -1;
    int stuckValue = 0;
    std::atomic<bool> storeStuck{false}; // may change while serving
    std::atomic<int> stuckWrites{0}; // so many writes are stored stuck first
    std::atomic<int> lostReadBacks{0}; // so many reads after a write get no reply
    bool ackStuck = false;
    // Before each reply: the request echoed back and a valid frame of the
    // other reply kind, both carrying other values.
    bool decoys = false;

    // A servo in the socket: without one, requests get no reply.
    std::atomic<bool> present{true};
    // So many of the next requests get no reply (a contact dropping out).
    std::atomic<int> skipRequests{0};
    // The next write is neither stored nor answered, and the servo is gone.
    std::atomic<bool> pullOnWrite{false};
    // The adapter is pulled at the next write: the line closes, the link
    // goes, and the programmer stops serving (replug() brings it back).
    std::atomic<bool> unplugOnWrite{false};
    // Writes are stored but not acknowledged / neither stored nor answered.
    std::atomic<bool> ackLost{false};
    std::atomic<bool> writeIgnored{false};
    // The acknowledgement comes so late.
    std::atomic<int> ackDelayMs{0};
    // Each read reply goes out only when the next request comes in, just
    // before that request is served: every reply is one request late.
    bool lagging = false;

    // Counted while serving.
    std::atomic<int> writes{0}; // write requests received
    std::atomic<int> writesWithoutServo{0}; // of them, while no servo was present
    std::atomic<int> reads{0}; // read requests received

    ScriptedProgrammer() = default;
    ~ScriptedProgrammer();
    ScriptedProgrammer(const ScriptedProgrammer &) = delete;
    ScriptedProgrammer &operator=(const ScriptedProgrammer &) = delete;

    bool start();
    void stop();
    // The port the code under test opens: the link, where there is one.
    QString path() const;

    // Puts a servo holding values into the socket / takes it out.
    void attach(const Servo::Values &values);
    void detach();
    Servo::Values held() const;

    // Serves under a symbolic link at linkPath to the line, as a udev rule
    // names an adapter (Unix: a link to a pseudo-terminal).
    bool startAt(const QString &linkPath);
    // The adapter is pulled: the line is closed and the link removed.
    void unplug();
    // Plugged in again: a new line under the same link.
    bool replug();

    // After stop(): everything received, and the valid frames among it.
    QByteArray received;
    QVector<QByteArray> requests;

private:
    void serve();
    TestLine m_pty;
    QString m_link;
    mutable std::mutex m_mutex; // guards block while serving
    bool m_written = false;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
};

#endif // SCRIPTEDPROGRAMMER_H
