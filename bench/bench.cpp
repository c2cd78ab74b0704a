#include "bench/bench.h"

#include "bench/benchslot.h"
#include "files/programlog.h"
#include "serial/portclaim.h"
#include "serial/portlist.h"

#include <QTimer>

namespace Servo {

namespace {

constexpr int RescanMs = 1000; // the port list is read again this often while watching

} // namespace

QString slotStateWord(SlotState state)
{
    switch (state) {
    case SlotState::Off:
        return QStringLiteral("off");
    case SlotState::Empty:
        return QStringLiteral("empty");
    case SlotState::Arrived:
        return QStringLiteral("servo found");
    case SlotState::Programming:
        return QStringLiteral("programming");
    case SlotState::Verified:
        return QStringLiteral("verified");
    case SlotState::AlreadyHeld:
        return QStringLiteral("already held");
    case SlotState::Failed:
        return QStringLiteral("failed");
    case SlotState::PortLost:
        return QStringLiteral("adapter gone");
    }
    return QString();
}

QString benchEventWord(BenchEvent::Kind kind)
{
    switch (kind) {
    case BenchEvent::Arrived:
        return QStringLiteral("arrived");
    case BenchEvent::Verified:
        return QStringLiteral("verified");
    case BenchEvent::AlreadyHeld:
        return QStringLiteral("already held");
    case BenchEvent::Failed:
        return QStringLiteral("failed");
    case BenchEvent::Interrupted:
        return QStringLiteral("interrupted");
    case BenchEvent::Removed:
        return QStringLiteral("removed");
    case BenchEvent::PortLost:
        return QStringLiteral("port lost");
    case BenchEvent::PortBack:
        return QStringLiteral("port back");
    case BenchEvent::SlotAdded:
        return QStringLiteral("port added");
    }
    return QString();
}

struct Bench::Private
{
    BenchSettings settings;
    QString fingerprint; // of the job, for the log
    QVector<BenchSlot *> benchSlots; // in the order the ports were added
    QStringList identities; // of their ports, to add each port once
    int watch = NoWatch;
    bool forgetGone = false;
    QTimer rescan;
    ProgramLog *log = nullptr;
    bool running = false;
    bool stopping = false;
};

Bench::Bench(const BenchSettings &settings, QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    qRegisterMetaType<Servo::BenchEvent>();
    d->settings = settings;
    d->fingerprint = jobFingerprint(settings.job);
    d->rescan.setInterval(RescanMs);
    connect(&d->rescan, &QTimer::timeout, this, [this] { rescanPorts(); });
}

Bench::~Bench()
{
    // The slots close their ports; no signal leaves a bench being destroyed.
    for (BenchSlot *slot : qAsConst(d->benchSlots))
        slot->disconnect(this);
    qDeleteAll(d->benchSlots);
}

const BenchSettings &Bench::settings() const
{
    return d->settings;
}

void Bench::addPort(const QString &port)
{
    addSlot(port, false);
}

BenchSlot *Bench::addSlot(const QString &port, bool watched)
{
    const QString identity = portIdentity(portDevicePath(port));
    const int known = d->identities.indexOf(identity);
    if (known >= 0)
        return d->benchSlots.at(known);
    auto *slot = new BenchSlot(port, d->settings, watched);
    d->benchSlots << slot;
    d->identities << identity;
    connect(slot, &BenchSlot::event, this, [this](const BenchEvent &e) { slotEvent(e); });
    connect(slot, &BenchSlot::changed, this, [this, port] { emit slotChanged(port); });
    connect(slot, &BenchSlot::finished, this, [this] { checkStopped(); });
    BenchEvent added;
    added.kind = BenchEvent::SlotAdded;
    added.time = QDateTime::currentDateTimeUtc();
    added.port = port;
    emit event(added);
    if (d->running && !d->stopping)
        slot->start();
    return slot;
}

void Bench::setWatch(int watch)
{
    d->watch = watch;
    if (d->running && !d->stopping)
        rescanPorts();
    if (d->watch == NoWatch)
        d->rescan.stop();
    else if (d->running && !d->stopping)
        d->rescan.start();
}

void Bench::setForgetGonePorts(bool forget)
{
    d->forgetGone = forget;
}

void Bench::rescanPorts()
{
    if (d->watch == NoWatch)
        return;
    const QVector<PresentPort> ports = presentPorts();
    QStringList listed; // identities of the watched ports present
    for (const PresentPort &port : ports) {
        if (!((port.usb && (d->watch & UsbAdapters)) ||
              (port.simulator && (d->watch & Simulators))))
            continue;
        BenchSlot *slot = addSlot(port.name, true);
        listed << d->identities.at(d->benchSlots.indexOf(slot));
        // A watched port that came back is opened again from here; the
        // slot of a named port tries by itself.
        if (slot->isWatched() && slot->isLost())
            slot->retry();
    }
    if (!d->forgetGone)
        return;
    for (int i = d->benchSlots.size() - 1; i >= 0; --i) {
        BenchSlot *slot = d->benchSlots.at(i);
        if (!slot->isWatched() || slot->isProgramming() || listed.contains(d->identities.at(i)))
            continue;
        const QString port = slot->port();
        d->benchSlots.removeAt(i);
        d->identities.removeAt(i);
        slot->disconnect(this);
        delete slot;
        emit slotRemoved(port);
    }
}

void Bench::setSlotEnabled(const QString &port, bool enabled)
{
    for (BenchSlot *slot : qAsConst(d->benchSlots)) {
        if (slot->port() == port)
            slot->setEnabled(enabled);
    }
}

void Bench::setLog(ProgramLog *log)
{
    d->log = log;
}

void Bench::start()
{
    if (d->running)
        return;
    d->running = true;
    d->stopping = false;
    for (BenchSlot *slot : qAsConst(d->benchSlots))
        slot->start();
    if (d->watch != NoWatch) {
        rescanPorts();
        d->rescan.start();
    }
}

void Bench::stop()
{
    if (!d->running || d->stopping)
        return;
    d->stopping = true;
    d->rescan.stop();
    for (BenchSlot *slot : qAsConst(d->benchSlots))
        slot->finish();
    checkStopped();
}

void Bench::abort()
{
    if (!d->running)
        return;
    d->stopping = true;
    d->rescan.stop();
    for (BenchSlot *slot : qAsConst(d->benchSlots))
        slot->abort();
    checkStopped();
}

bool Bench::isRunning() const
{
    return d->running;
}

QVector<SlotStatus> Bench::slotStatuses() const
{
    QVector<SlotStatus> statuses;
    for (const BenchSlot *slot : qAsConst(d->benchSlots))
        statuses << slot->status();
    return statuses;
}

void Bench::slotEvent(const BenchEvent &e)
{
    const bool isResult = e.kind == BenchEvent::Verified || e.kind == BenchEvent::AlreadyHeld ||
        e.kind == BenchEvent::Failed || e.kind == BenchEvent::Interrupted;
    if (isResult && d->log) {
        LogRow row;
        row.time = e.time;
        row.port = e.port;
        row.servo = e.servo;
        row.job = d->fingerprint;
        row.result = e.result;
        row.elapsedMs = e.elapsedMs;
        row.values = e.readBack;
        if (!d->log->append(row))
            emit logFailed(QStringLiteral("cannot write the log row for servo %1 on %2: %3")
                               .arg(e.servo)
                               .arg(e.port, d->log->errorString()));
    }
    emit event(e);
}

void Bench::checkStopped()
{
    if (!d->running || !d->stopping)
        return;
    for (const BenchSlot *slot : qAsConst(d->benchSlots)) {
        if (slot->isProgramming())
            return;
    }
    d->running = false;
    d->stopping = false;
    // From the event loop, so that stopped() never comes from inside stop().
    QMetaObject::invokeMethod(this, &Bench::stopped, Qt::QueuedConnection);
}

} // namespace Servo
