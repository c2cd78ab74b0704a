#include "tools/servo-sim/transport.h"

#include "serial/portsettings.h"

#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

using namespace Servo;

namespace {

// Unwritten replies kept for a pty whose other side does not read; past this
// the oldest output is thrown away instead of growing without bound.
constexpr int MaxPtyBacklog = 1 << 20;

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

FaultPolicy faultsOf(const SimulatorOptions &options)
{
    FaultPolicy faults;
    faults.noise = options.noise;
    faults.corruptEvery = options.corruptEvery;
    faults.dropEvery = options.dropEvery;
    return faults;
}

} // namespace

ServoSimulator::ServoSimulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_device(options.values, faultsOf(options), options.attached)
{
    if (m_options.verbose)
        m_device.setLogger([this](const QString &line) { emit logMessage(line); });
    m_clock.start();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer); // a coarse timer may fire early
    connect(m_timer, &QTimer::timeout, this, &ServoSimulator::sendDue);
}

ServoSimulator::~ServoSimulator()
{
    close();
}

void ServoSimulator::received(const QByteArray &bytes)
{
    const QVector<SimulatedProgrammer::Reply> replies = m_device.feed(bytes);
    const qint64 due = m_clock.elapsed() + m_options.delayMs;
    for (const SimulatedProgrammer::Reply &reply : replies) {
        const int size = reply.bytes.size();
        const int step = m_options.chunk > 0 ? m_options.chunk : size;
        const int pieces = (size + step - 1) / step;
        for (int i = 0; i < pieces; ++i) {
            Piece piece{reply.bytes.mid(i * step, step), i == 0 ? due : 0,
                        i == 0 ? 0 : m_options.chunkPauseMs, reply.note};
            if (pieces > 1)
                piece.note += QStringLiteral(", piece %1 of %2").arg(i + 1).arg(pieces);
            m_queue.enqueue(piece);
        }
    }
    if (!m_timer->isActive())
        sendDue();
}

// Sends every piece that is due, in order, and sets the timer for the next.
void ServoSimulator::sendDue()
{
    while (!m_queue.isEmpty()) {
        const Piece &head = m_queue.head();
        qint64 due = head.notBefore;
        if (m_lastSent >= 0)
            due = qMax(due, m_lastSent + head.gapMs);
        const qint64 now = m_clock.elapsed();
        if (due > now) {
            m_timer->start(int(due - now));
            return;
        }
        const Piece piece = m_queue.dequeue();
        m_lastSent = now;
        if (m_options.verbose)
            emit logMessage(QStringLiteral("tx %1  %2").arg(hex(piece.bytes), piece.note));
        if (m_port) {
            m_port->write(piece.bytes);
        } else if (m_pty.isOpen()) {
            m_ptyPending += piece.bytes;
            if (m_ptyPending.size() > MaxPtyBacklog) {
                if (m_options.verbose)
                    emit logMessage(QStringLiteral("nobody reads the line: %1 bytes discarded")
                                        .arg(m_ptyPending.size() - MaxPtyBacklog));
                m_ptyPending.remove(0, m_ptyPending.size() - MaxPtyBacklog);
            }
            flushPty();
        }
    }
}

bool ServoSimulator::openPseudoTerminal(QString *errorString)
{
    close();
    if (!m_pty.open(errorString))
        return false;
    m_linePath = m_pty.slavePath();
    m_readNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Read);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &ServoSimulator::readPty);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_pty.masterFd(), QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &ServoSimulator::flushPty);
    return true;
}

bool ServoSimulator::openDevice(const QString &path, QString *errorString)
{
    close();
    m_port = new QSerialPort(path, this);
    applyLineSettings(m_port);
    if (!m_port->open(QIODevice::ReadWrite)) {
        if (errorString)
            *errorString = describeOpenError(*m_port);
        delete m_port;
        m_port = nullptr;
        return false;
    }
    m_linePath = path;
    connect(m_port, &QSerialPort::readyRead, this, [this] { received(m_port->readAll()); });
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError)
            emit lineLost(m_port->errorString());
    });
    return true;
}

void ServoSimulator::close()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_pty.close();
    m_ptyPending.clear();
    delete m_port;
    m_port = nullptr;
    m_linePath.clear();
    m_queue.clear();
    m_timer->stop();
}

void ServoSimulator::readPty()
{
    QString lost;
    const QByteArray bytes = m_pty.readAvailable(&lost);
    if (!lost.isEmpty()) {
        // Nobody can reach this side any more. Stop listening, or the
        // notifier would fire without end.
        m_readNotifier->setEnabled(false);
        emit lineLost(lost);
    }
    if (!bytes.isEmpty())
        received(bytes);
}

void ServoSimulator::flushPty()
{
    while (!m_ptyPending.isEmpty()) {
        QString error;
        const qint64 n = m_pty.writeSome(m_ptyPending.constData(), m_ptyPending.size(), &error);
        if (n == 0)
            break; // the write notifier says when there is room again
        if (n < 0) {
            m_ptyPending.clear();
            emit lineLost(error);
            break;
        }
        m_ptyPending.remove(0, int(n));
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_ptyPending.isEmpty());
}
