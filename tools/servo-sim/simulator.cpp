#include "simulator.h"

#include "serial/portsettings.h"

#include <QCommandLineParser>
#include <QRandomGenerator>
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

} // namespace

ServoSimulator::ServoSimulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_values(clampedToRanges(options.values))
{
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

void ServoSimulator::log(const QString &line)
{
    if (m_options.verbose)
        emit logMessage(line);
}

QVector<ServoSimulator::Reply> ServoSimulator::feed(const QByteArray &bytes)
{
    QVector<Reply> replies;
    m_scanner.append(bytes);
    QByteArray frame;
    for (;;) {
        const QByteArray before = m_options.verbose ? m_scanner.pending() : QByteArray();
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
        const bool write = request.flags & Flag::Write;
        const QString kind = write ? QStringLiteral("write") : QStringLiteral("read");
        if (m_options.dropEvery > 0 && m_requests % m_options.dropEvery == 0) {
            log(QStringLiteral("rx %1  %2 request %3 dropped").arg(hex(frame), kind).arg(m_requests));
            continue;
        }

        Reply reply;
        if (write) {
            // The device stores what it can: each value is held to the range
            // of its parameter, and the acknowledgement reports the result.
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
                    .arg(hex(frame), clamped.isEmpty() ? QString() : QStringLiteral(", clamped ") + clamped.join(QStringLiteral(", "))));
        } else {
            reply.bytes = encodeFrame(m_values, Flag::ReadReply);
            reply.note = QStringLiteral("read reply");
            log(QStringLiteral("rx %1  read").arg(hex(frame)));
        }

        ++m_replies;
        if (m_options.corruptEvery > 0 && m_replies % m_options.corruptEvery == 0) {
            reply.bytes[FrameSize - 2] = char(reply.bytes.at(FrameSize - 2) ^ 0xFF);
            reply.note += QStringLiteral(", checksum corrupted");
        }
        if (m_options.noise > 0) {
            QByteArray noise(m_options.noise, '\0');
            for (char &c : noise) {
                quint32 b;
                do
                    b = QRandomGenerator::global()->bounded(256u);
                while (b == FrameHeader);
                c = char(b);
            }
            reply.bytes.prepend(noise);
            reply.note += QStringLiteral(", %1 noise bytes first").arg(m_options.noise);
        }
        replies.append(reply);
    }
    return replies;
}

void ServoSimulator::received(const QByteArray &bytes)
{
    const QVector<Reply> replies = feed(bytes);
    const qint64 due = m_clock.elapsed() + m_options.delayMs;
    for (const Reply &reply : replies) {
        const int size = reply.bytes.size();
        const int step = m_options.chunk > 0 ? m_options.chunk : size;
        const int pieces = (size + step - 1) / step;
        for (int i = 0; i < pieces; ++i) {
            Piece piece{reply.bytes.mid(i * step, step), i == 0 ? due : 0, i == 0 ? 0 : m_options.chunkPauseMs,
                        reply.note};
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
        log(QStringLiteral("tx %1  %2").arg(hex(piece.bytes), piece.note));
        if (m_port) {
            m_port->write(piece.bytes);
        } else if (m_pty.isOpen()) {
            m_ptyPending += piece.bytes;
            if (m_ptyPending.size() > MaxPtyBacklog) {
                log(QStringLiteral("nobody reads the line: %1 bytes discarded").arg(m_ptyPending.size() - MaxPtyBacklog));
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

SimulatorCommandLine parseSimulatorCommandLine(const QStringList &arguments)
{
    SimulatorCommandLine out;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a servo programmer on a serial line: answers read requests with the parameter\n"
        "block it holds and stores write requests. Without --device it creates a\n"
        "pseudo-terminal and prints the path of its slave side, alone on the first line of\n"
        "standard output; open that path as the serial port. Runs until SIGINT or SIGTERM."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Serve a serial device (111100 baud, 8N2) instead of a pseudo-terminal."),
                                    QStringLiteral("path"));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make a symlink at <path> to the pseudo-terminal, removed at exit."),
                                  QStringLiteral("path"));
    const QCommandLineOption chunk(QStringLiteral("chunk"), QStringLiteral("Send every reply in pieces of <n> bytes."),
                                   QStringLiteral("n"));
    const QCommandLineOption pause(QStringLiteral("chunk-pause"),
                                   QStringLiteral("Pause between two pieces (default 20)."), QStringLiteral("ms"));
    const QCommandLineOption noise(QStringLiteral("noise"),
                                   QStringLiteral("Send <n> random bytes (never 0x55) before every reply."),
                                   QStringLiteral("n"));
    const QCommandLineOption corrupt(QStringLiteral("corrupt-every"),
                                     QStringLiteral("Spoil the checksum of every <n>th reply."), QStringLiteral("n"));
    const QCommandLineOption drop(QStringLiteral("drop-every"),
                                  QStringLiteral("Lose every <n>th request: not executed, not answered."),
                                  QStringLiteral("n"));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("Wait <ms> after a request before replying."),
                                   QStringLiteral("ms"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Log every request and reply as hex on standard error."));
    parser.addOptions({help, device, link, chunk, pause, noise, corrupt, drop, delay, verbose});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("Parameter file to start from (one line of 14 fields); "
                                                "default: the start values."),
                                 QStringLiteral("[file]"));

    auto fail = [&out](const QString &message) {
        out.exitCode = SimulatorExit::BadArguments;
        out.message = message + QStringLiteral("\nTry 'servo-sim --help'.");
        return out;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(help)) {
        out.exitCode = SimulatorExit::Ok;
        out.message = parser.helpText() + QStringLiteral(R"(
The device:
  A read request (flags bit 1 clear) is answered with a read reply (bit 3)
  carrying the block the device holds; the data bytes of the request do not
  matter. A write request (bit 1 set) is stored and answered with a write
  acknowledgement (bit 2) carrying what was stored. The device clamps each
  written value to the range of its parameter instead of refusing the frame:
  a Sensitivity of 100 is stored as 50, a MinPulseWidth of 0 as 500, and the
  acknowledgement shows the clamped values. The switches come from flag bits 0
  (ReversedRotation), 5 (SoftStart) and 4 (LOCKProtection). Frames with a bad
  checksum or trailer are ignored, and so are frames with a reply bit (2 or 3)
  set: they are not requests. A parameter file is read as the tool reads one
  (a field that is not a number counts as 0), clamped the same way, and
  refused when its first line has fewer than 14 fields.

Faults:
  --drop-every counts requests, --corrupt-every counts the replies made; a
  dropped write is not stored. Pieces, delays and noise keep replies in order.

Exit status:
  0 after SIGINT or SIGTERM, 1 when the line or the link cannot be set up,
  2 for bad arguments, 6 when the parameter file is refused.

Example session (bash):
  $ servo-sim --link /tmp/servo --verbose &
  /dev/pts/5
  $ exec 3<>/tmp/servo
  $ printf '\x55\0\0\0\0\0\0\0\0\xf4\x01\xc4\x09\0\0\0\xdc\x05\xa3\xaa' >&3
  servo-sim: rx 55 00 00 00 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 A3 AA  read
  servo-sim: tx 55 00 00 08 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 AB AA  read reply
  $ timeout 1 cat <&3 | od -An -tx1
   55 00 00 08 00 00 00 00 00 f4 01 c4 09 00 00 00
   dc 05 ab aa
  $ exec 3<&-; kill %1
)");
        return out;
    }

    auto number = [&parser](const QCommandLineOption &option, int minimum, int maximum, int *target) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        const int v = parser.value(option).toInt(&ok, 10);
        if (!ok || v < minimum || v > maximum)
            return false;
        *target = v;
        return true;
    };
    struct Range {
        const QCommandLineOption &option;
        int minimum;
        int maximum;
        int *target;
    };
    SimulatorOptions &o = out.options;
    const Range ranges[] = {
        {chunk, 1, 1000, &o.chunk},           {pause, 0, 60000, &o.chunkPauseMs},
        {noise, 0, 10000, &o.noise},          {corrupt, 1, 1000000, &o.corruptEvery},
        {drop, 1, 1000000, &o.dropEvery},     {delay, 0, 600000, &o.delayMs},
    };
    for (const Range &r : ranges) {
        if (!number(r.option, r.minimum, r.maximum, r.target))
            return fail(QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                            .arg(r.option.names().constFirst())
                            .arg(r.minimum)
                            .arg(r.maximum)
                            .arg(parser.value(r.option)));
    }
    o.verbose = parser.isSet(verbose);
    out.device = parser.value(device);
    out.link = parser.value(link);
    if (parser.isSet(device) && out.device.isEmpty())
        return fail(QStringLiteral("--device wants a path"));
    if (parser.isSet(link) && out.link.isEmpty())
        return fail(QStringLiteral("--link wants a path"));
    if (!out.device.isEmpty() && !out.link.isEmpty())
        return fail(QStringLiteral("--link is for the pseudo-terminal; it cannot go with --device"));
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return fail(QStringLiteral("one parameter file at most, not %1").arg(files.size()));
    if (!files.isEmpty())
        out.parameterFile = files.constFirst();
    return out;
}
