#ifndef BENCHSLOT_H
#define BENCHSLOT_H

#include "bench/bench.h"
#include "protocol/frame.h"
#include "serial/portclaim.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

// One programmer of the bench: an event-driven client of one port. It owns
// its serial port, its receive buffer, its poll timer and its reply deadline,
// all on the event loop of the thread that made it; nothing here blocks.
namespace Servo {

class BenchSlot : public QObject
{
    Q_OBJECT

public:
    // A watched slot does not try to open its port on a timer of its own:
    // the bench calls retry() when the port list shows the port again, so
    // that a name the system has since given to another terminal is left
    // alone.
    BenchSlot(const QString &port, const BenchSettings &settings, bool watched,
              QObject *parent = nullptr);
    ~BenchSlot() override;

    QString port() const { return m_status.port; }
    const SlotStatus &status() const { return m_status; }
    bool isWatched() const { return m_watched; }
    bool isLost() const { return m_phase == Phase::Lost; }
    bool isProgramming() const;

    // Opens the port (or keeps trying) and polls.
    void start();
    // Ends in order: a servo being programmed is finished first. Returns
    // true when the slot is closed already; otherwise finished() follows.
    bool finish();
    // Closes now; a servo being programmed gets the result "interrupted".
    void abort();
    void setEnabled(bool enabled);
    void retry();

signals:
    void event(const Servo::BenchEvent &event);
    void changed();
    void finished(); // closed after finish() once the servo was done

private:
    enum class Phase {
        Closed, // not started, stopped or switched off
        Lost, // the port cannot be opened; tried again
        Polling,
        WaitAck, // the write went out
        ReadBack, // acknowledged; reading the block back
        Probe, // no acknowledgement; reading once to learn what happened
    };

    void tryOpen();
    void closePort();
    void portLost(const QString &reason);
    void onError(QSerialPort::SerialPortError error);
    void onReadyRead();
    void handleFrame(const Frame &frame);
    void onPollTick();
    void sendPoll();
    void resetPolling();
    void pollAnswered(const Values &values);
    void pollMissed();
    void arrived(const Values &values);
    void startProgramming();
    void onDeadline();
    void sendRead();
    void readBack(const Values &values);
    // Ends the servo's programming (or its check) with a result.
    void result(BenchEvent::Kind kind, const QString &word, const QString &reason,
                const std::optional<Values> &values);
    void emitEvent(BenchEvent event);
    void setState(SlotState state);
    bool send(const QByteArray &frame);

    BenchSettings m_settings;
    const bool m_watched;
    SlotStatus m_status;
    QSerialPort m_port;
    PortClaim m_claim;
    FrameScanner m_scanner;
    QTimer m_pollTimer;
    QTimer m_deadline;
    QTimer m_retryTimer;

    Phase m_phase = Phase::Closed;
    bool m_enabled = true;
    bool m_running = false; // between start() and finish() or abort()
    bool m_finishing = false; // close once the servo being programmed is done
    bool m_lostOnce = false; // PortBack is due when the port opens
    bool m_lossQueued = false;

    // Polling: a poll is answered when a read reply came since it was sent.
    bool m_pollOutstanding = false;
    bool m_pollAnswered = false;
    int m_answered = 0; // consecutive answered polls while the slot is empty
    int m_missed = 0; // consecutive unanswered polls after a result
    bool m_servoThere = false; // a servo got its result and was not removed yet
    QElapsedTimer m_sinceAnswer; // from the servo's first answer
    int m_servo = 0; // its number on this port

    // Programming.
    int m_readAttempt = 0;
    bool m_acknowledged = false;
    Values m_acknowledgedValues{};
};

} // namespace Servo

#endif // BENCHSLOT_H
