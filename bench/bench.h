#ifndef BENCH_H
#define BENCH_H

#include "protocol/parameters.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

#include <memory>
#include <optional>

// The hands-free production bench: one job (a parameter block) programmed
// into every servo that is attached to any of several servo programmers, the
// moment it answers, without a key press. Qt Core and SerialPort only, so
// that servo-cli and the bench window drive the same engine.
//
// Each programmer is a slot with a life of its own:
//   Empty        polls with a read request every pollMs;
//   Arrived      2 consecutive valid read replies: a servo is there;
//   Programming  the job is written once, the acknowledgement checked, the
//                block read back and compared;
//   Verified / AlreadyHeld / Failed
//                the result, logged once; the slot keeps polling and stays
//                here until goneAfter consecutive polls got no reply
//                (Removed), and only then arms again (Empty). A servo that
//                stays, or whose contact drops out for fewer polls, is never
//                written again;
//   PortLost     the adapter went away; the port is opened again when it
//                comes back (PortBack, then Empty).
namespace Servo {

class BenchSlot;
class ProgramLog;

struct BenchSettings
{
    Values job{}; // the block every servo gets
    int pollMs = 100; // a read request this often while waiting
    int goneAfter = 3; // polls without a reply that mean the servo was removed
    // How long the write's acknowledgement and a read-back may take.
    int replyTimeoutMs = 250;
};

enum class SlotState {
    Off, // switched off by the user: the port is closed
    Empty,
    Arrived,
    Programming,
    Verified,
    AlreadyHeld, // held the job when it arrived: verified, not written
    Failed,
    PortLost,
};

// "empty", "servo found", "programming", "verified", "already held",
// "failed", "adapter gone", "off": the word every front end shows.
QString slotStateWord(SlotState state);

struct BenchEvent
{
    enum Kind {
        Arrived,
        Verified,
        AlreadyHeld,
        Failed, // result and reason say why
        Interrupted, // the run was aborted while this servo was written
        Removed,
        PortLost,
        PortBack,
        SlotAdded, // a port joined the bench (named, or found by a watch)
    };
    Kind kind = Arrived;
    QDateTime time; // UTC
    QString port;
    int servo = 0; // the servo's number on this port in this run, from 1; 0 for port events
    // Results only (Verified, AlreadyHeld, Failed, Interrupted):
    QString result; // the log's word: "verified", "already held", "differs", ...
    QString reason; // for people; empty when verified
    qint64 elapsedMs = 0; // from the servo's first answer to the result
    std::optional<Values> readBack; // what the servo holds, where known
};

// "arrived", "verified", "already held", "failed", "interrupted", "removed",
// "port lost", "port back", "port added".
QString benchEventWord(BenchEvent::Kind kind);

struct SlotStatus
{
    QString port;
    SlotState state = SlotState::Empty;
    int verified = 0; // written and verified in this run
    int alreadyHeld = 0;
    int failed = 0; // including interrupted
    int servos = 0; // servos seen on this port in this run
    // The last result on this port, if any: its word, reason and time taken.
    QString lastResult;
    QString lastReason;
    qint64 lastElapsedMs = -1;
};

class Bench : public QObject
{
    Q_OBJECT

public:
    explicit Bench(const BenchSettings &settings, QObject *parent = nullptr);
    ~Bench() override;

    const BenchSettings &settings() const;

    // Ports to serve: a port named by the user stays a slot even while it is
    // missing or lost (opened again when it appears). Before or after start().
    void addPort(const QString &port);
    // Watches the port list (rescanned about once a second) and adds every
    // USB adapter present or plugged in later, and/or the pseudo-terminal of
    // every running servo simulator. A watched port that goes away is opened
    // again only once the list shows it again.
    enum Watch { NoWatch = 0, UsbAdapters = 1, Simulators = 2 };
    void setWatch(int watch);
    // With forget set, a watched port that the port list no longer shows
    // (an adapter pulled out, a simulator ended) leaves the bench once no
    // servo is being written on it: slotRemoved(port), and it is gone from
    // slotStatuses(). If it comes back it is a new slot. Off by default:
    // such a slot stays, lost, with its counts.
    void setForgetGonePorts(bool forget);
    void setSlotEnabled(const QString &port, bool enabled);

    // Rows go to log, one per result (Verified, AlreadyHeld, Failed,
    // Interrupted); null for none. The log must outlive the bench.
    void setLog(ProgramLog *log);

    void start();
    // Ends in order: slots that are writing finish that servo (its result is
    // logged), the others stop at once; stopped() follows when all are idle.
    void stop();
    // Ends now: a servo being written is logged as interrupted.
    void abort();
    bool isRunning() const;

    QVector<SlotStatus> slotStatuses() const; // in the order the ports were added

signals:
    void event(const Servo::BenchEvent &event);
    void slotChanged(const QString &port); // its status changed
    void slotRemoved(const QString &port); // see setForgetGonePorts()
    void logFailed(const QString &why); // a row could not be written
    void stopped();

private:
    BenchSlot *addSlot(const QString &port, bool watched);
    void rescanPorts();
    void slotEvent(const Servo::BenchEvent &event);
    void checkStopped();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Servo

Q_DECLARE_METATYPE(Servo::BenchEvent)

#endif // BENCH_H
