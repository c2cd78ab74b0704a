#ifndef SERVOSIM_TRANSPORT_H
#define SERVOSIM_TRANSPORT_H

#include "protocol/parameters.h"
#include "serial/pseudoterminal.h"
#include "tools/servo-sim/device.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>

#include <memory>

class QSerialPort;
class QSocketNotifier;
class QTimer;

// Fault injection and start-up choices of the simulated servo programmer.
// A count or size of 0 switches the fault off.
struct SimulatorOptions
{
    Servo::Values values = Servo::startValues(); // the block the device holds
    int chunk = 0; // split each reply into pieces of this many bytes
    int chunkPauseMs = 20; // pause between two pieces
    int noise = 0; // see FaultPolicy
    int corruptEvery = 0;
    int dropEvery = 0;
    int delayMs = 0; // wait this long after a request before replying
    bool verbose = false; // emit logMessage() for every request and reply
    bool attached = true; // a servo holding values is attached at the start
};

// Plays the servo programmer at the far end of the serial line: owns a
// pseudo-terminal or a serial port, hands what arrives to the device model
// (SimulatedProgrammer) and sends its replies with the configured delays and
// pauses, driven by a timer so that the event loop never blocks.
class ServoSimulator : public QObject
{
    Q_OBJECT

public:
    explicit ServoSimulator(const SimulatorOptions &options, QObject *parent = nullptr);
    ~ServoSimulator() override;

    const SimulatedProgrammer &device() const { return m_device; }
    SimulatedProgrammer &device() { return m_device; }

    // Either creates a pseudo-terminal (the client opens
    // linePath(), its slave side) or opens a serial device.
    bool openPseudoTerminal(QString *errorString);
    bool openDevice(const QString &path, QString *errorString);
    QString linePath() const { return m_linePath; }
    bool servesDevice() const { return m_port != nullptr; }
    // Ends the line: a pseudo-terminal's master is closed, so that the
    // client's port fails, as when an adapter is pulled; replies not yet
    // sent are dropped. openPseudoTerminal() makes a new one.
    void close();

signals:
    void logMessage(const QString &line); // only with SimulatorOptions::verbose
    void lineLost(const QString &reason); // the device or the pty went away

private:
    struct Piece
    {
        QByteArray bytes;
        qint64 notBefore; // on m_clock, ms
        int gapMs; // at least this long after the previous piece
        QString note;
    };

    void received(const QByteArray &bytes);
    void sendDue();
    void readPty();
    void flushPty();

    SimulatorOptions m_options;
    SimulatedProgrammer m_device;

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

#endif // SERVOSIM_TRANSPORT_H
