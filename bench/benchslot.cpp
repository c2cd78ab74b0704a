#include "bench/benchslot.h"

#include "serial/portsettings.h"

namespace Servo {

namespace {

constexpr int RetryMs = 1000; // a port that cannot be opened is tried again this often
constexpr int AnswersToArrive = 2;

// "TorqueGain 90 for 100, SoftStart 0 for 1": what the servo holds where
// it is not the job.
QString differences(const Values &held, const Values &job)
{
    QStringList parts;
    for (int i = 0; i < ParameterCount; ++i) {
        if (held[i] != job[i])
            parts << QStringLiteral("%1 %2 for %3").arg(parameterKey(i)).arg(held[i]).arg(job[i]);
    }
    return parts.join(QLatin1String(", "));
}

} // namespace

BenchSlot::BenchSlot(const QString &port, const BenchSettings &settings, bool watched,
                     QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_watched(watched)
{
    m_status.port = port;
    m_pollTimer.setInterval(qMax(1, settings.pollMs));
    m_deadline.setSingleShot(true);
    m_retryTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &BenchSlot::onPollTick);
    connect(&m_deadline, &QTimer::timeout, this, &BenchSlot::onDeadline);
    connect(&m_retryTimer, &QTimer::timeout, this, &BenchSlot::retry);
    connect(&m_port, &QSerialPort::readyRead, this, &BenchSlot::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &BenchSlot::onError);
}

BenchSlot::~BenchSlot()
{
    closePort();
}

bool BenchSlot::isProgramming() const
{
    return m_phase == Phase::WaitAck || m_phase == Phase::ReadBack || m_phase == Phase::Probe;
}

void BenchSlot::start()
{
    m_running = true;
    m_finishing = false;
    if (m_enabled && m_phase == Phase::Closed)
        tryOpen();
}

bool BenchSlot::finish()
{
    m_running = false;
    if (isProgramming()) {
        m_finishing = true;
        return false;
    }
    closePort();
    return true;
}

void BenchSlot::abort()
{
    m_running = false;
    if (isProgramming()) {
        m_finishing = true;
        result(BenchEvent::Interrupted, QStringLiteral("interrupted"),
               QStringLiteral("the run was ended before the servo was verified"), std::nullopt);
        return; // result() closed the port
    }
    closePort();
}

void BenchSlot::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (!enabled) {
        if (isProgramming()) {
            m_finishing = true; // the servo is finished first, then the port closes
            return;
        }
        closePort();
        setState(SlotState::Off);
    } else if (isProgramming()) {
        m_finishing = !m_running; // switched on again before the servo was done
    } else if (m_running && m_phase == Phase::Closed) {
        tryOpen();
    }
}

void BenchSlot::retry()
{
    if (m_phase == Phase::Lost && m_running && m_enabled)
        tryOpen();
}

void BenchSlot::tryOpen()
{
    m_retryTimer.stop();
    QString problem = m_claim.claim(m_status.port);
    if (problem.isEmpty()) {
        m_port.setPortName(m_claim.devicePath());
        applyLineSettings(&m_port);
        if (m_port.open(QIODevice::ReadWrite)) {
            m_scanner.clear();
            m_lossQueued = false;
            m_phase = Phase::Polling;
            m_servoThere = false;
            resetPolling();
            setState(SlotState::Empty);
            if (m_lostOnce) {
                m_lostOnce = false;
                BenchEvent back;
                back.kind = BenchEvent::PortBack;
                emitEvent(back);
            }
            m_pollTimer.start();
            sendPoll();
            return;
        }
        problem = m_port.error() == QSerialPort::PermissionError ? m_claim.busyProblem()
                                                                 : describeOpenError(m_port);
        m_claim.release();
    }
    const bool known = m_phase == Phase::Lost;
    m_phase = Phase::Lost;
    if (!m_watched)
        m_retryTimer.start(RetryMs);
    if (!known) {
        m_lostOnce = true;
        setState(SlotState::PortLost);
        BenchEvent lost;
        lost.kind = BenchEvent::PortLost;
        lost.reason = problem;
        emitEvent(lost);
    }
}

void BenchSlot::closePort()
{
    m_pollTimer.stop();
    m_deadline.stop();
    m_retryTimer.stop();
    if (m_port.isOpen())
        m_port.close();
    m_claim.release();
    m_scanner.clear();
    m_phase = Phase::Closed;
    m_finishing = false;
    m_lossQueued = false;
}

void BenchSlot::onError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError || m_lossQueued || !m_port.isOpen())
        return;
    // The port is closed from the event loop, not from inside the serial
    // port's own notification.
    m_lossQueued = true;
    const QString reason = m_port.errorString();
    QMetaObject::invokeMethod(
        this, [this, reason] { portLost(reason); }, Qt::QueuedConnection);
}

void BenchSlot::portLost(const QString &reason)
{
    if (!m_lossQueued)
        return; // closed or opened again meanwhile
    m_lossQueued = false;
    const bool finishing = m_finishing || !m_running;
    if (isProgramming()) {
        m_finishing = false; // the result must not close the slot yet
        result(
            BenchEvent::Failed, QStringLiteral("port lost"),
            QStringLiteral("the adapter went away while the servo was programmed: %1").arg(reason),
            std::nullopt);
    }
    closePort();
    m_servoThere = false;
    m_lostOnce = true;
    setState(SlotState::PortLost);
    BenchEvent lost;
    lost.kind = BenchEvent::PortLost;
    lost.reason = reason;
    emitEvent(lost);
    if (finishing) {
        emit finished();
        return;
    }
    m_phase = Phase::Lost;
    if (!m_watched)
        m_retryTimer.start(RetryMs);
}

bool BenchSlot::send(const QByteArray &frame)
{
    return m_port.write(frame) == frame.size();
}

void BenchSlot::onReadyRead()
{
    m_scanner.append(m_port.readAll());
    QByteArray bytes;
    while (m_phase != Phase::Closed && m_phase != Phase::Lost && m_scanner.next(&bytes))
        handleFrame(decodeFrame(bytes));
}

void BenchSlot::handleFrame(const Frame &frame)
{
    const FrameKind kind = frameKind(frame.flags);
    switch (m_phase) {
    case Phase::Polling:
        if (kind == FrameKind::ReadReply && m_pollOutstanding && !m_pollAnswered) {
            m_pollAnswered = true;
            pollAnswered(frame.values);
        }
        break;
    case Phase::WaitAck:
        // A read reply here answers a poll sent before the write: stale.
        if (kind == FrameKind::WriteAck) {
            m_deadline.stop();
            m_acknowledged = true;
            m_acknowledgedValues = frame.values;
            m_phase = Phase::ReadBack;
            m_readAttempt = 0;
            sendRead();
        }
        break;
    case Phase::ReadBack:
    case Phase::Probe:
        if (kind == FrameKind::ReadReply) {
            m_deadline.stop();
            readBack(frame.values);
        }
        break;
    case Phase::Closed:
    case Phase::Lost:
        break;
    }
}

void BenchSlot::resetPolling()
{
    m_pollOutstanding = false;
    m_pollAnswered = false;
    m_answered = 0;
    m_missed = 0;
}

void BenchSlot::onPollTick()
{
    if (m_phase != Phase::Polling)
        return;
    if (m_pollOutstanding && !m_pollAnswered) {
        // A reply that reached the line while the event loop was busy
        // elsewhere still answers the poll: take in what the line holds
        // (readyRead comes from inside) before calling it unanswered.
        if (!m_port.waitForReadyRead(0) && m_port.error() == QSerialPort::TimeoutError)
            m_port.clearError();
        if (m_phase != Phase::Polling)
            return; // the reply made the servo arrive, or the port went away
        if (!m_pollAnswered)
            pollMissed();
    }
    sendPoll();
}

void BenchSlot::sendPoll()
{
    send(encodeFrame(startValues(), 0));
    m_pollOutstanding = true;
    m_pollAnswered = false;
}

void BenchSlot::pollAnswered(const Values &values)
{
    m_missed = 0;
    if (m_servoThere)
        return; // the servo that got its result is still there
    if (m_answered == 0)
        m_sinceAnswer.start();
    if (++m_answered >= AnswersToArrive)
        arrived(values);
}

void BenchSlot::pollMissed()
{
    m_answered = 0;
    if (!m_servoThere || ++m_missed < qMax(1, m_settings.goneAfter))
        return;
    m_servoThere = false;
    m_missed = 0;
    setState(SlotState::Empty);
    BenchEvent removed;
    removed.kind = BenchEvent::Removed;
    removed.servo = m_servo;
    emitEvent(removed);
}

void BenchSlot::arrived(const Values &values)
{
    m_answered = 0;
    m_servo = ++m_status.servos;
    setState(SlotState::Arrived);
    BenchEvent arrival;
    arrival.kind = BenchEvent::Arrived;
    arrival.servo = m_servo;
    arrival.readBack = values;
    emitEvent(arrival);
    if (m_phase != Phase::Polling)
        return; // the event's receiver stopped the slot
    if (values == m_settings.job) {
        result(BenchEvent::AlreadyHeld, QStringLiteral("already held"),
               QStringLiteral("the servo held the job already; nothing was written"), values);
        return;
    }
    startProgramming();
}

void BenchSlot::startProgramming()
{
    m_pollTimer.stop();
    m_phase = Phase::WaitAck;
    m_acknowledged = false;
    m_readAttempt = 0;
    // Whatever is left in the buffer answers earlier polls.
    m_scanner.clear();
    // Sent once: the write is never repeated for this servo.
    send(encodeFrame(m_settings.job, Flag::Write));
    m_deadline.start(m_settings.replyTimeoutMs);
    setState(SlotState::Programming);
}

void BenchSlot::sendRead()
{
    ++m_readAttempt;
    send(encodeFrame(startValues(), 0));
    m_deadline.start(m_settings.replyTimeoutMs);
}

void BenchSlot::onDeadline()
{
    switch (m_phase) {
    case Phase::WaitAck:
        m_phase = Phase::Probe;
        m_readAttempt = 0;
        sendRead();
        break;
    case Phase::ReadBack:
        if (m_readAttempt < 2) {
            sendRead();
            break;
        }
        result(BenchEvent::Failed, QStringLiteral("acknowledged only"),
               QStringLiteral("the programmer acknowledged the write, but the read-back got no "
                              "reply within %1 ms, twice")
                   .arg(m_settings.replyTimeoutMs),
               std::nullopt);
        break;
    case Phase::Probe:
        result(BenchEvent::Failed, QStringLiteral("pulled"),
               QStringLiteral("the servo stopped answering during programming (no acknowledgement "
                              "and no reply within %1 ms each)")
                   .arg(m_settings.replyTimeoutMs),
               std::nullopt);
        break;
    case Phase::Closed:
    case Phase::Lost:
    case Phase::Polling:
        break;
    }
}

void BenchSlot::readBack(const Values &values)
{
    const Values &job = m_settings.job;
    if (m_phase == Phase::Probe) {
        if (values == job)
            result(BenchEvent::Verified, QStringLiteral("verified"), QString(), values);
        else
            result(BenchEvent::Failed, QStringLiteral("not acknowledged"),
                   QStringLiteral("no acknowledgement, and the servo holds other values: %1")
                       .arg(differences(values, job)),
                   values);
        return;
    }
    if (values == job) {
        result(BenchEvent::Verified, QStringLiteral("verified"), QString(), values);
        return;
    }
    QString reason =
        QStringLiteral("the read-back differs from the job: %1").arg(differences(values, job));
    if (m_acknowledgedValues != job)
        reason += QStringLiteral("; the acknowledgement reported %1")
                      .arg(differences(m_acknowledgedValues, job));
    result(BenchEvent::Failed, QStringLiteral("differs"), reason, values);
}

void BenchSlot::result(BenchEvent::Kind kind, const QString &word, const QString &reason,
                       const std::optional<Values> &values)
{
    m_deadline.stop();
    BenchEvent event;
    event.kind = kind;
    event.servo = m_servo;
    event.result = word;
    event.reason = reason;
    event.elapsedMs = m_sinceAnswer.isValid() ? m_sinceAnswer.elapsed() : 0;
    event.readBack = values;
    switch (kind) {
    case BenchEvent::Verified:
        ++m_status.verified;
        setState(SlotState::Verified);
        break;
    case BenchEvent::AlreadyHeld:
        ++m_status.alreadyHeld;
        setState(SlotState::AlreadyHeld);
        break;
    default:
        ++m_status.failed;
        setState(SlotState::Failed);
        break;
    }
    m_status.lastResult = word;
    m_status.lastReason = reason;
    m_status.lastElapsedMs = event.elapsedMs;
    m_servoThere = true;
    m_phase = Phase::Polling;
    resetPolling();
    const bool close = m_finishing;
    emitEvent(event);
    if (close) {
        closePort();
        if (!m_enabled)
            setState(SlotState::Off);
        if (!m_running)
            emit finished();
        return;
    }
    if (m_phase == Phase::Polling && !m_lossQueued)
        m_pollTimer.start();
}

void BenchSlot::emitEvent(BenchEvent event)
{
    event.time = QDateTime::currentDateTimeUtc();
    event.port = m_status.port;
    emit this->event(event);
}

void BenchSlot::setState(SlotState state)
{
    if (m_status.state == state)
        return;
    m_status.state = state;
    emit changed();
}

} // namespace Servo
