#ifndef SIMULATOR_H
#define SIMULATOR_H

#include "protocol/frame.h"
#include "protocol/parameters.h"
#include "serial/pseudoterminal.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QStringList>
#include <QVector>

#include <memory>

class QSerialPort;
class QSocketNotifier;
class QTimer;

// Fault injection and start-up choices of the simulated servo programmer.
// A count or size of 0 switches the fault off.
struct SimulatorOptions {
    Servo::Values values = Servo::startValues(); // the block the device holds
    int chunk = 0;         // split each reply into pieces of this many bytes
    int chunkPauseMs = 20; // pause between two pieces
    int noise = 0;         // random bytes (never 0x55) before each reply
    int corruptEvery = 0;  // spoil the checksum of every Nth reply
    int dropEvery = 0;     // every Nth request is lost: not executed, no reply
    int delayMs = 0;       // wait this long after a request before replying
    bool verbose = false;  // emit logMessage() for every request and reply
};

// What the command line asks for. exitCode >= 0 means: stop at once with it,
// after printing message (on stdout for --help, else on stderr).
struct SimulatorCommandLine {
    SimulatorOptions options;
    QString device;        // empty: create a pseudo-terminal
    QString link;          // symlink to the pseudo-terminal's slave side
    QString parameterFile; // start block, empty for the start values
    int exitCode = -1;
    QString message;
};

// Exit codes of servo-sim.
namespace SimulatorExit {
constexpr int Ok = 0;
constexpr int LineFailed = 1; // pty, device or link could not be set up
constexpr int BadArguments = 2;
constexpr int BadParameterFile = 6;
} // namespace SimulatorExit

// arguments include the program name, as QCoreApplication::arguments().
SimulatorCommandLine parseSimulatorCommandLine(const QStringList &arguments);

// Plays the servo programmer at the far end of the serial line.
//
// The device logic is feed(): bytes in, replies out, no I/O. A read request
// is answered with the block it holds; a write request is stored and
// acknowledged with what was stored. The device clamps every written value to
// the range of its parameter (a Sensitivity of 100 is stored as 50) rather
// than refusing the frame, so the acknowledgement tells the sender what
// actually took effect. Frames that carry a reply bit are not requests and
// are ignored, so two simulators, or a line that echoes, cannot ping-pong.
//
// The transport part owns a pseudo-terminal or a serial port, feeds it what
// arrives and sends the replies with the configured delays and pauses,
// driven by a timer so that the event loop never blocks.
class ServoSimulator : public QObject
{
    Q_OBJECT

public:
    struct Reply {
        QByteArray bytes; // noise and corruption already applied
        QString note;     // what it is, for the log
    };

    explicit ServoSimulator(const SimulatorOptions &options, QObject *parent = nullptr);
    ~ServoSimulator() override;

    // Device logic: takes received bytes (split anyhow), returns the replies
    // to the complete requests among them, in order.
    QVector<Reply> feed(const QByteArray &bytes);

    const Servo::Values &values() const { return m_values; }
    int requestCount() const { return m_requests; }

    // Transport. Either creates a pseudo-terminal (the client opens
    // linePath(), its slave side) or opens a serial device.
    bool openPseudoTerminal(QString *errorString);
    bool openDevice(const QString &path, QString *errorString);
    QString linePath() const { return m_linePath; }
    void close();

signals:
    void logMessage(const QString &line); // only with SimulatorOptions::verbose
    void lineLost(const QString &reason); // the device or the pty went away

private:
    struct Piece {
        QByteArray bytes;
        qint64 notBefore; // on m_clock, ms
        int gapMs;        // at least this long after the previous piece
        QString note;
    };

    void log(const QString &line);
    void received(const QByteArray &bytes);
    void sendDue();
    void readPty();
    void flushPty();

    SimulatorOptions m_options;
    Servo::Values m_values;
    Servo::FrameScanner m_scanner;
    int m_requests = 0; // valid requests seen
    int m_replies = 0;  // replies made (dropped requests not counted)

    QQueue<Piece> m_queue;
    QElapsedTimer m_clock;
    qint64 m_lastSent = -1;
    QTimer *m_timer = nullptr;

    PseudoTerminal m_pty;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QByteArray m_ptyPending; // written but not yet taken by the pty
    QSerialPort *m_port = nullptr;
    QString m_linePath;
};

#endif // SIMULATOR_H
