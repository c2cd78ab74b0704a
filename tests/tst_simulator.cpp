// The servo-sim program, driven as a client drives it: started as a process,
// reached through the pseudo-terminal (or device) it serves, answered byte
// for byte. On Windows it serves one end of a pair of COM ports (testline.h)
// and the test opens the other. Timings are checked with loose lower bounds only.
#include "files/parameterfile.h"
#include "tests/consoleevents.h"
#include "tests/linesettings.h"
#include "protocol/frame.h"
#include "serial/portsettings.h"
#include "serial/pseudoterminal.h"
#include "serial/simulatorlinks.h"
#include "serial/simulatorports.h"
#include "tests/programs.h"
#include "tests/simulatorprocess.h"
#include "tests/skips.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <optional>
#include <vector>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif
#include <utility>

using namespace Servo;

Q_DECLARE_METATYPE(Servo::Values)

namespace {

constexpr int StartTimeoutMs = 30000;
constexpr int ReplyTimeoutMs = 10000;
constexpr int QuietMs = 300; // how long "no reply" is watched for

QString simulatorPath()
{
    return buildProgram(QStringLiteral("servo-sim"));
}

Values allSet(int switches)
{
    return {100, 50, 20, 10, 900, 2100, 2, 1500, 399, 128, 128, switches, switches, switches};
}

QByteArray readRequest(const Values &v = startValues())
{
    return encodeFrame(v, 0);
}
QByteArray writeRequest(const Values &v)
{
    return encodeFrame(v, Flag::Write);
}

struct Arrival
{
    qint64 ms;
    QByteArray bytes;
};

// Reads until size bytes have come or the time is up.
QVector<Arrival> readArrivals(QSerialPort &port, int size, const QElapsedTimer &clock,
                              int timeoutMs = ReplyTimeoutMs)
{
    QVector<Arrival> out;
    int got = 0;
    QElapsedTimer wait;
    wait.start();
    while (got < size && wait.elapsed() < timeoutMs) {
        if (port.bytesAvailable() == 0 && !port.waitForReadyRead(int(timeoutMs - wait.elapsed())))
            continue;
        const QByteArray bytes = port.readAll();
        if (!bytes.isEmpty()) {
            out.append({clock.elapsed(), bytes});
            got += bytes.size();
        }
    }
    return out;
}

QByteArray readBytes(QSerialPort &port, int size, int timeoutMs = ReplyTimeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QByteArray all;
    for (const Arrival &a : readArrivals(port, size, clock, timeoutMs))
        all += a.bytes;
    return all;
}

// What arrives within ms, in hex: empty when the line stays quiet.
QByteArray arrivesWithin(QSerialPort &port, int ms = QuietMs)
{
    if (port.bytesAvailable() == 0)
        port.waitForReadyRead(ms);
    return port.readAll().toHex(' ');
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(content);
    return path;
}

// One servo-sim process and the serial port that talks to it.
struct Sim
{
    bool start(const QStringList &args, QString *why) { return process.start(args, 1, why); }

    bool startAndOpen(const QStringList &args, QString *why, const QString &portPath = QString())
    {
        if (!process.start(args, 1, why))
            return false;
        port.setPortName(portPath.isEmpty() ? process.portName() : portPath);
        applyLineSettings(&port);
        if (!port.open(QIODevice::ReadWrite)) {
            *why = QStringLiteral("cannot open %1: %2").arg(port.portName(), port.errorString());
            return false;
        }
        return true;
    }

    void send(const QByteArray &bytes)
    {
        port.write(bytes);
        port.waitForBytesWritten(ReplyTimeoutMs);
    }

    int stop(int signal) { return process.stop(signal); }
    QString linePath() const { return process.linePath(); }

    SimulatorProcess process; // stopped after the port is closed
    QSerialPort port;
};

#define START_SIM(sim, args)                                                                       \
    do {                                                                                           \
        QString why_;                                                                              \
        QVERIFY2((sim).startAndOpen((args), &why_), qPrintable(why_));                             \
    } while (false)

} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init()
    {
        // Only the command line can be tried without a pseudo-terminal.
        if (qstrcmp(QTest::currentTestFunction(), "exitCodes") != 0)
            SKIP_WITHOUT_TEST_LINE();
    }
    void cleanup() { QCOMPARE(SimulatorProcess::takeUncleanExits(), 0); }
    void readReply_data();
    void readReply();
    void writeThenRead_data();
    void writeThenRead();
    void ignoredFrames_data();
    void ignoredFrames();
    void requestStream_data();
    void requestStream();
    void droppedWriteIsNotStored();
    void replyPattern_data();
    void replyPattern();
    void timing_data();
    void timing();
    void verboseLog();
    void signalEndsCleanly_data();
    void signalEndsCleanly();
    void deviceMode();
    void programmersAnswerIndependently_data();
    void programmersAnswerIndependently();
    void emptySockets_data();
    void emptySockets();
    void controlCommands_data();
    void controlCommands();
    void schedule_data();
    void schedule();
    void badCommands_data();
    void badCommands();
    void ending_data();
    void ending();
    void exitCodes_data();
    void exitCodes();

private:
    QTemporaryDir m_dir;
};

void TestSimulator::initTestCase()
{
    QVERIFY2(QFileInfo(simulatorPath()).isExecutable(), qPrintable(simulatorPath()));
    QVERIFY(m_dir.isValid());
}

void TestSimulator::readReply_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no parameter file
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<Values>("held");

    QTest::newRow("start values") << QByteArray() << readRequest() << startValues();
    QTest::newRow("data bytes of a read do not matter")
        << QByteArray() << readRequest(allSet(1)) << startValues();
    QTest::newRow("file") << QByteArray("120,0,0,0,500,2500,0,1500,0,0,0,1,0,1") << readRequest()
                          << Values{120, 0, 0, 0, 500, 2500, 0, 1500, 0, 0, 0, 1, 0, 1};
    QTest::newRow("file clamped") << QByteArray("300,0,0,0,0,9999,0,1500,0,0,0,2,0,0")
                                  << readRequest()
                                  << Values{255, 0, 0, 0, 500, 2500, 0, 1500, 0, 0, 0, 1, 0, 0};
    QTest::newRow("file with CR LF and more lines")
        << QByteArray("100,50,20,10,900,2100,2,1500,399,128,128,0,1,1\r\n1,2,3\r\n")
        << readRequest() << Values{100, 50, 20, 10, 900, 2100, 2, 1500, 399, 128, 128, 0, 1, 1};
}

void TestSimulator::readReply()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, request);
    QFETCH(Values, held);
    QStringList args;
    if (!file.isEmpty())
        args << writeFile(m_dir, QStringLiteral("read.txt"), file);
    Sim sim;
    START_SIM(sim, args);
    for (int i = 0; i < 2; ++i) { // reading changes nothing
        sim.send(request);
        QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
                 encodeFrame(held, Flag::ReadReply).toHex(' '));
    }
    QCOMPARE(arrivesWithin(sim.port), QByteArray());
}

void TestSimulator::writeThenRead_data()
{
    QTest::addColumn<Values>("written");
    QTest::addColumn<int>("extraFlags");
    QTest::addColumn<Values>("stored");

    QTest::newRow("in range") << allSet(1) << 0 << allSet(1);
    const Values soft = {1, 2, 3, 4, 501, 2499, 49, 1501, 398, 254, 253, 0, 1, 0};
    QTest::newRow("soft start only") << soft << 0 << soft;
    const Values crossed = {0, 0, 0, 0, 2000, 1000, 0, 2500, 0, 0, 0, 1, 0, 0};
    QTest::newRow("min above max is the sender's business") << crossed << 0 << crossed;
    QTest::newRow("clamped high") << Values{255,  300, 255, 255, 3000, 65535, 100,
                                            2501, 400, 255, 255, 0,    0,     1}
                                  << 0 << Values{255,  255, 255, 255, 2500, 2500, 50,
                                                 2500, 399, 255, 255, 0,    0,    1};
    QTest::newRow("clamped low") << Values{0, 0, 0, 0, 0, 499, 0, 10, 0, 0, 0, 0, 0, 0} << 0
                                 << Values{0, 0, 0, 0, 500, 500, 0, 500, 0, 0, 0, 0, 0, 0};
    QTest::newRow("flag bits 6 and 7 not kept") << allSet(0) << 0xC0 << allSet(0);
}

void TestSimulator::writeThenRead()
{
    QFETCH(Values, written);
    QFETCH(int, extraFlags);
    QFETCH(Values, stored);
    Sim sim;
    START_SIM(sim, QStringList());
    sim.send(encodeFrame(written, quint8(Flag::Write | extraFlags)));
    QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
             encodeFrame(stored, Flag::WriteAck).toHex(' '));
    sim.send(readRequest());
    QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
             encodeFrame(stored, Flag::ReadReply).toHex(' '));
}

void TestSimulator::ignoredFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    const QByteArray good = writeRequest(allSet(1));
    QByteArray badSum = good;
    badSum[18] = char(badSum.at(18) + 1);
    QByteArray badTrailer = good;
    badTrailer[19] = char(0xAB);
    QTest::newRow("bad checksum") << badSum;
    QTest::newRow("bad trailer") << badTrailer;
    QTest::newRow("read reply") << encodeFrame(allSet(1), Flag::ReadReply);
    QTest::newRow("write acknowledgement") << encodeFrame(allSet(1), Flag::WriteAck);
    QTest::newRow("write bit with a reply bit")
        << encodeFrame(allSet(1), Flag::Write | Flag::WriteAck);
    QTest::newRow("both reply bits") << encodeFrame(allSet(0), Flag::ReadReply | Flag::WriteAck);
}

void TestSimulator::ignoredFrames()
{
    QFETCH(QByteArray, frame);
    Sim sim;
    START_SIM(sim, QStringList());
    sim.send(frame);
    QCOMPARE(arrivesWithin(sim.port), QByteArray());
    // Not stored either: the block is still the start block.
    sim.send(readRequest());
    QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
             encodeFrame(startValues(), Flag::ReadReply).toHex(' '));
}

void TestSimulator::requestStream_data()
{
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("replies");
    const Values v = allSet(1);
    const QByteArray write = writeRequest(v);
    const QByteArray ack = encodeFrame(v, Flag::WriteAck);
    QTest::newRow("split 7 + 13 after stray bytes")
        << QByteArrayList{QByteArray::fromHex("00AA55") + write.left(7), write.mid(7)} << ack;
    QTest::newRow("two requests at once")
        << QByteArrayList{write + readRequest()} << ack + encodeFrame(v, Flag::ReadReply);
    QTest::newRow("false header before a request")
        << QByteArrayList{QByteArray::fromHex("550102") + write} << ack;
}

void TestSimulator::requestStream()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, replies);
    Sim sim;
    START_SIM(sim, QStringList());
    for (int i = 0; i < pieces.size(); ++i) {
        sim.send(pieces.at(i));
        if (i + 1 < pieces.size())
            QCOMPARE(arrivesWithin(sim.port, 150), QByteArray());
    }
    QCOMPARE(readBytes(sim.port, replies.size()).toHex(' '), replies.toHex(' '));
    QCOMPARE(arrivesWithin(sim.port), QByteArray());
}

void TestSimulator::droppedWriteIsNotStored()
{
    Sim sim;
    START_SIM(sim, (QStringList{QStringLiteral("--drop-every"), QStringLiteral("2")}));
    const Values first = allSet(0);
    sim.send(writeRequest(first));
    QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
             encodeFrame(first, Flag::WriteAck).toHex(' '));
    sim.send(writeRequest(allSet(1)));
    QCOMPARE(arrivesWithin(sim.port), QByteArray());
    sim.send(readRequest());
    QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
             encodeFrame(first, Flag::ReadReply).toHex(' '));
}

void TestSimulator::replyPattern_data()
{
    // One write request per letter, sent in one go, TorqueGain = its number;
    // R: plain acknowledgement, C: checksum spoilt, D: no reply.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("noise");

    auto row = [](const char *args, const char *pattern, int noise) {
        QTest::newRow(args) << QString::fromLatin1(args).split(QLatin1Char(' '))
                            << QString::fromLatin1(pattern) << noise;
    };
    row("--drop-every 3", "RRDRRD", 0);
    row("--drop-every 1", "DDD", 0);
    row("--corrupt-every 2", "RCRCRC", 0);
    row("--corrupt-every 1", "CCC", 0);
    row("--drop-every 2 --corrupt-every 2", "RDCDRD", 0);
    row("--noise 5", "RRR", 5);
    row("--noise 2000", "RR", 2000); // enough bytes to meet a 0x55 if one could come
    row("--noise 3 --corrupt-every 2", "RCRC", 3);
    row("--noise 4 --chunk 6 --chunk-pause 5 --drop-every 3", "RRDR", 4);
    row("--delay 50 --chunk 3 --chunk-pause 1 --corrupt-every 3", "RRCRRC", 0);
}

void TestSimulator::replyPattern()
{
    QFETCH(QStringList, args);
    QFETCH(QString, pattern);
    QFETCH(int, noise);
    Sim sim;
    START_SIM(sim, args);
    QByteArray requests;
    QByteArray expected; // acknowledgements as sent, without the noise
    for (int k = 1; k <= pattern.size(); ++k) {
        Values v = startValues();
        v[TorqueGain] = k;
        requests += writeRequest(v);
        if (pattern.at(k - 1) != QLatin1Char('D'))
            expected += encodeFrame(v, Flag::WriteAck);
    }
    sim.send(requests);
    const int replies = expected.size() / FrameSize;
    const QByteArray got = readBytes(sim.port, replies * (noise + FrameSize));
    QCOMPARE(got.size(), replies * (noise + FrameSize));
    QCOMPARE(arrivesWithin(sim.port), QByteArray());

    int r = 0;
    for (int k = 1; k <= pattern.size(); ++k) {
        const QChar what = pattern.at(k - 1);
        if (what == QLatin1Char('D'))
            continue;
        const int at = r * (noise + FrameSize);
        const QByteArray noiseBytes = got.mid(at, noise);
        QVERIFY2(!noiseBytes.contains(char(FrameHeader)), noiseBytes.toHex(' ').constData());
        const QByteArray frame = got.mid(at + noise, FrameSize);
        const QByteArray want = expected.mid(r * FrameSize, FrameSize);
        if (what == QLatin1Char('R')) {
            QCOMPARE(frame.toHex(' '), want.toHex(' '));
        } else {
            QVERIFY2(!isValidFrame(frame.constData()), frame.toHex(' ').constData());
            QCOMPARE(frame.left(18).toHex(' '), want.left(18).toHex(' '));
            QCOMPARE(frame.at(19), want.at(19));
        }
        ++r;
    }
}

void TestSimulator::timing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("pause");

    auto row = [](const char *args, int delay, int chunk, int pause) {
        QTest::newRow(args) << (*args ? QString::fromLatin1(args).split(QLatin1Char(' '))
                                      : QStringList())
                            << delay << chunk << pause;
    };
    row("", 0, 0, 0);
    row("--delay 400", 400, 0, 0);
    row("--chunk 7 --chunk-pause 150", 0, 7, 150);
    row("--chunk 10 --chunk-pause 250", 0, 10, 250);
    row("--chunk 1", 0, 1, 20);
    row("--delay 300 --chunk 7 --chunk-pause 100", 300, 7, 100);
}

void TestSimulator::timing()
{
    QFETCH(QStringList, args);
    QFETCH(int, delay);
    QFETCH(int, chunk);
    QFETCH(int, pause);
    Sim sim;
    START_SIM(sim, args + QStringList{QStringLiteral("--verbose")});
    QElapsedTimer clock;
    clock.start();
    sim.send(readRequest());
    const QVector<Arrival> arrivals = readArrivals(sim.port, FrameSize, clock);
    QByteArray all;
    for (const Arrival &a : arrivals) {
        all += a.bytes;
        // Pieces may merge on the way, but never split inside a piece.
        if (chunk > 0 && all.size() < FrameSize)
            QVERIFY2(all.size() % chunk == 0,
                     qPrintable(QStringLiteral("piece ends at %1").arg(all.size())));
    }
    QCOMPARE(all.toHex(' '), encodeFrame(startValues(), Flag::ReadReply).toHex(' '));
    // Lower bounds only: a busy machine makes the bytes later, never earlier.
    // How many pieces were sent is counted in the simulator's log, since a
    // reader that gets the processor late sees pieces merged.
    const int pieces = chunk > 0 ? (FrameSize + chunk - 1) / chunk : 1;
    QVERIFY2(arrivals.first().ms >= delay * 9 / 10,
             qPrintable(QString::number(arrivals.first().ms)));
    const qint64 least = delay + qint64(pause) * (pieces - 1);
    QVERIFY2(arrivals.last().ms >= least * 9 / 10,
             qPrintable(QStringLiteral("%1 ms").arg(arrivals.last().ms)));
    QCOMPARE(sim.stop(SIGTERM), 0);
    const QString log = QString::fromLocal8Bit(sim.process.readStandardError());
    QCOMPARE(log.count(QRegularExpression(QStringLiteral("^servo-sim: tx "),
                                          QRegularExpression::MultilineOption)),
             pieces);
}

void TestSimulator::verboseLog()
{
    Sim sim;
    START_SIM(sim, (QStringList{"--verbose", "--drop-every", "3", "--corrupt-every", "2"}));
    Values big = startValues();
    big[Sensitivity] = 100;
    sim.send(readRequest());
    QCOMPARE(readBytes(sim.port, FrameSize).size(), FrameSize);
    sim.send(writeRequest(big));
    QCOMPARE(readBytes(sim.port, FrameSize).size(), FrameSize);
    sim.send(readRequest());
    QCOMPARE(arrivesWithin(sim.port), QByteArray());
    // Stopped once the dropped request is logged: a busy machine may take
    // the request in later than the quiet time.
    QVERIFY(sim.process.waitForStandardError(QStringLiteral("dropped")));
    QCOMPARE(sim.stop(SIGTERM), 0);
    const QString log = QString::fromLocal8Bit(sim.process.readStandardError());
    QVERIFY2(log.contains(QStringLiteral(
                 "rx 55 00 00 00 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 A3 AA  read")),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("tx 55 00 00 08")), qPrintable(log));
    QVERIFY2(log.contains(QRegularExpression(
                 QStringLiteral("rx 55 00 00 02 .*write stored.*Sensitivity 100->50"))),
             qPrintable(log));
    QVERIFY2(log.contains(QRegularExpression(QStringLiteral("tx 55 00 00 04 .*corrupted"))),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("dropped")), qPrintable(log));
}

void TestSimulator::signalEndsCleanly_data()
{
    QTest::addColumn<int>("signal"); // on Windows a console event
#ifdef Q_OS_WIN
    QTest::newRow("CTRL_C_EVENT") << int(CTRL_C_EVENT);
    QTest::newRow("CTRL_BREAK_EVENT") << int(CTRL_BREAK_EVENT);
#else
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
#endif
}

void TestSimulator::signalEndsCleanly()
{
    QFETCH(int, signal);
#ifdef Q_OS_WIN
    // servo-sim.exe serves a COM port and makes no link: a clean end is exit
    // code 0 after a reply that shows it was serving (without a handler of
    // its own the event is ignored in a new process group, or the console's
    // default ends the process with STATUS_CONTROL_C_EXIT).
    if (signal == CTRL_BREAK_EVENT && underWine())
        QSKIP("Wine 10 ends a process on CTRL_BREAK_EVENT without calling its console handler");
    Sim sim;
    sim.process.useConsoleEvents();
    START_SIM(sim, QStringList());
    sim.send(readRequest());
    QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
             encodeFrame(startValues(), Flag::ReadReply).toHex(' '));
    sim.port.close();
    QCOMPARE(sim.process.stopByConsoleEvent(DWORD(signal)), 0);
#else
    const QString link = m_dir.filePath(QStringLiteral("servo-%1").arg(signal));
    Sim sim;
    QString why; // the port is opened through the link: it is as good as the path
    QVERIFY2(sim.startAndOpen({QStringLiteral("--link"), link}, &why, link), qPrintable(why));
    QVERIFY2(
        QRegularExpression(QStringLiteral("^/dev/pts/[0-9]+$")).match(sim.linePath()).hasMatch(),
        qPrintable(sim.linePath()));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.linePath());
    sim.send(readRequest());
    QCOMPARE(readBytes(sim.port, FrameSize).toHex(' '),
             encodeFrame(startValues(), Flag::ReadReply).toHex(' '));
    sim.port.close();

    QCOMPARE(sim.stop(signal), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
#endif
    QCOMPARE(sim.process.readStandardOutput(), QByteArray()); // the path line and nothing else
}

void TestSimulator::deviceMode()
{
    TestLine line; // the test holds the "programmer" end this time
    QString error;
    QVERIFY2(line.open(&error), qPrintable(error));
    Sim sim;
    QVERIFY2(sim.start({QStringLiteral("--device"), line.slavePath()}, &error), qPrintable(error));
    QCOMPARE(sim.linePath(), line.slavePath());

#ifndef Q_OS_WIN // a COM port does not show the settings of the port it is joined to
    LineSettings s; // the master side reports the settings of the slave side
    QVERIFY(readLineSettings(line.masterFd(), &s));
    QCOMPARE(s.outputBaud, unsigned(BaudRate));
    QCOMPARE(s.dataBits, 8);
    QCOMPARE(s.stopBits, 2);
    QVERIFY(!s.parity);
#endif

    const Values v = allSet(1);
    QVERIFY(line.write(writeRequest(v)));
    QCOMPARE(line.readExactly(FrameSize, ReplyTimeoutMs).toHex(' '),
             encodeFrame(v, Flag::WriteAck).toHex(' '));
    QVERIFY(line.write(readRequest()));
    QCOMPARE(line.readExactly(FrameSize, ReplyTimeoutMs).toHex(' '),
             encodeFrame(v, Flag::ReadReply).toHex(' '));
    QCOMPARE(sim.stop(SIGTERM), 0);
}

namespace {

// The ports of every programmer of a simulator, opened; empty on failure.
std::vector<std::unique_ptr<QSerialPort>> openPorts(const QStringList &names, QString *why)
{
    std::vector<std::unique_ptr<QSerialPort>> ports;
    for (const QString &name : names) {
        auto port = std::make_unique<QSerialPort>(name);
        applyLineSettings(port.get());
        if (!port->open(QIODevice::ReadWrite)) {
            *why = QStringLiteral("cannot open %1: %2").arg(name, port->errorString());
            return {};
        }
        ports.push_back(std::move(port));
    }
    return ports;
}

void sendTo(QSerialPort &port, const QByteArray &bytes)
{
    port.write(bytes);
    port.waitForBytesWritten(ReplyTimeoutMs);
}

// The block a read request is answered with, or nothing after QuietMs.
std::optional<Values> readServo(QSerialPort &port, int quietMs = QuietMs)
{
    port.readAll();
    sendTo(port, readRequest());
    const QByteArray reply = readBytes(port, FrameSize, quietMs);
    if (reply.size() < FrameSize)
        return std::nullopt;
    return decodeFrame(reply).values;
}

QString parameterLine(const Values &v)
{
    QStringList fields;
    for (int x : v)
        fields << QString::number(x);
    return fields.join(QLatin1Char(','));
}

} // namespace

void TestSimulator::programmersAnswerIndependently_data()
{
    QTest::addColumn<int>("programmers");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("one") << 1 << QStringList();
    QTest::newRow("two") << 2 << QStringList();
    QTest::newRow("four, replies in pieces")
        << 4 << QStringList{"--chunk", "6", "--chunk-pause", "5"};
}

// Each programmer holds the servo of its own: what is written to one is
// read back from it alone. On Unix each is announced in the port list, in
// order, under its own link, and withdrawn at the end.
void TestSimulator::programmersAnswerIndependently()
{
    QFETCH(int, programmers);
    QFETCH(QStringList, args);
    QStringList links;
#ifndef Q_OS_WIN
    for (int n = 1; n <= programmers; ++n) {
        links << m_dir.filePath(QStringLiteral("bench-%1-%2").arg(programmers).arg(n));
        args << QStringLiteral("--link") << links.last();
    }
#endif
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start(args, programmers, &why), qPrintable(why));
    QCOMPARE(sim.programmers(), programmers);
    auto ports = openPorts(sim.portNames(), &why);
    QVERIFY2(int(ports.size()) == programmers, qPrintable(why));

#ifndef Q_OS_WIN
    const QStringList listed = simulatorPorts();
    int at = -1;
    for (int n = 1; n <= programmers; ++n) {
        const int found = listed.indexOf(sim.linePath(n));
        QVERIFY2(found > at, qPrintable(listed.join(' ')));
        at = found;
        QCOMPARE(QFileInfo(links.at(n - 1)).symLinkTarget(), sim.linePath(n));
        QCOMPARE(simulatorLinkName(sim.linePath(n)), links.at(n - 1));
    }
#endif

    for (int n = 1; n <= programmers; ++n) {
        Values v = allSet(n % 2);
        v[TorqueGain] = 10 * n;
        sendTo(*ports[size_t(n - 1)], writeRequest(v));
        QCOMPARE(readBytes(*ports[size_t(n - 1)], FrameSize).toHex(' '),
                 encodeFrame(v, Flag::WriteAck).toHex(' '));
    }
    for (int n = 1; n <= programmers; ++n) {
        const std::optional<Values> held = readServo(*ports[size_t(n - 1)], ReplyTimeoutMs);
        QVERIFY(held);
        QCOMPARE(held->at(TorqueGain), 10 * n);
        QCOMPARE(arrivesWithin(*ports[size_t(n - 1)]), QByteArray());
    }

    ports.clear();
    QCOMPARE(sim.stop(SIGTERM), 0);
#ifndef Q_OS_WIN
    const QStringList after = simulatorPorts();
    for (int n = 1; n <= programmers; ++n) {
        QVERIFY(!after.contains(sim.linePath(n)));
        QVERIFY(!QFileInfo(links.at(n - 1)).isSymLink());
    }
#endif
}

void TestSimulator::emptySockets_data()
{
    // Which programmers answer at the start: Y or N for each.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("answering");
    QTest::newRow("--empty") << QStringList{"--empty"} << "N";
    QTest::newRow("--empty, three") << QStringList{"--empty"} << "NNN";
    QTest::newRow("--empty, with a slow schedule")
        << QStringList{"--empty", "--present", "600000", "--absent", "600000"} << "NN";
    QTest::newRow("a slow schedule: only the first starts with a servo")
        << QStringList{"--present", "600000", "--absent", "600000"} << "YNN";
    QTest::newRow("no servo, no fault makes a reply")
        << QStringList{"--empty", "--noise", "4", "--corrupt-every", "1"} << "N";
}

void TestSimulator::emptySockets()
{
    QFETCH(QStringList, args);
    QFETCH(QString, answering);
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start(args, answering.size(), &why), qPrintable(why));
    auto ports = openPorts(sim.portNames(), &why);
    QVERIFY2(int(ports.size()) == answering.size(), qPrintable(why));
    for (int round = 0; round < 2; ++round) {
        for (int n = 0; n < answering.size(); ++n) {
            const std::optional<Values> held =
                readServo(*ports[size_t(n)], answering.at(n) == 'Y' ? ReplyTimeoutMs : QuietMs);
            QVERIFY2(bool(held) == (answering.at(n) == 'Y'), qPrintable(QString::number(n + 1)));
            if (held)
                QCOMPARE(*held, startValues());
        }
    }
    // A write is not stored: the servo attached later holds the start block.
    sendTo(*ports.back(), writeRequest(allSet(1)));
    QCOMPARE(arrivesWithin(*ports.back()), QByteArray());
    if (answering.endsWith('N') && !args.contains(QStringLiteral("--noise"))) {
        QVERIFY(sim.command(QStringLiteral("attach %1").arg(answering.size())));
        QCOMPARE(readServo(*ports.back(), ReplyTimeoutMs), std::optional<Values>(startValues()));
    }
}

void TestSimulator::controlCommands_data()
{
    // Steps, in order, with programmers 1 and 2 from the start values:
    //   "> COMMAND"       the command, answered with ok
    //   "rP start"        a read on P is answered with the start block
    //   "rP sample"       ... with the block written or attached before
    //   "rP clamped"      ... with the block of "attach clamps", clamped
    //   "rP new"          ... with a block that is neither the start block
    //                     nor the one P held before
    //   "rP -"            a read on P goes unanswered
    //   "wP ack" / "wP -" the sample written to P, acknowledged or not
    //   "gone P"          P's port is gone: neither link nor announcement
    //   "open P"          P's port opened anew through its link
    QTest::addColumn<QStringList>("steps");
    const QString sample = parameterLine(allSet(1));
    QTest::newRow("attach with values")
        << QStringList{"> detach 1", "r1 -", "> attach 1 " + sample, "r1 sample", "r2 start"};
    QTest::newRow("attach with values separated by spaces")
        << QStringList{"> attach 2 " + QString(sample).replace(',', ' '), "r2 sample", "r1 start"};
    QTest::newRow("attach replaces the servo")
        << QStringList{"> attach 1", "r1 new", "> attach 1", "r1 new", "r2 start"};
    QTest::newRow("attach clamps")
        << QStringList{"> attach 1 300,0,0,0,0,9999,0,1500,0,0,0,2,0,0", "r1 clamped"};
    QTest::newRow("detach") << QStringList{"r1 start", "> detach 1", "r1 -",  "w1 -",
                                           "r2 start", "> attach 1", "r1 new"};
    QTest::newRow("detach twice") << QStringList{"> detach 2", "> detach 2", "r2 -", "r1 start"};
    QTest::newRow("skip") << QStringList{"> skip 1", "r2 start", "r1 -", "r1 start", "r1 start"};
    QTest::newRow("skip a write") << QStringList{"> skip 2", "w2 -", "r2 start"};
    QTest::newRow("pull-on-write")
        << QStringList{"> pull-on-write 1", "r1 start", "r1 start", "w1 -", "r1 -", "r2 start"};
    QTest::newRow("a pull is forgotten by detach")
        << QStringList{"> pull-on-write 1", "> detach 1", "> attach 1", "w1 ack", "r1 sample"};
#ifndef Q_OS_WIN
    QTest::newRow("unplug and replug")
        << QStringList{"w1 ack",     "> unplug 1", "gone 1",    "r2 start",
                       "> replug 1", "open 1",     "r1 sample", "r2 start"};
    QTest::newRow("a servo comes while unplugged") << QStringList{
        "> unplug 2", "gone 2", "> attach 2 " + sample, "> replug 2", "open 2", "r2 sample"};
#endif
}

void TestSimulator::controlCommands()
{
    QFETCH(QStringList, steps);
    QStringList args;
    QStringList links;
#ifndef Q_OS_WIN
    for (int n = 1; n <= 2; ++n) {
        links << m_dir.filePath(QStringLiteral("control-%1").arg(n));
        args << QStringLiteral("--link") << links.last();
    }
#endif
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start(args, 2, &why), qPrintable(why));
    auto ports = openPorts(links.isEmpty() ? sim.portNames() : links, &why);
    QVERIFY2(ports.size() == 2, qPrintable(why));

    Values previous[2] = {startValues(), startValues()};
    for (const QString &step : steps) {
        const QString where = QStringLiteral("step \"%1\"").arg(step);
        if (step.startsWith(QLatin1String("> "))) {
            QString answer;
            QVERIFY2(sim.command(step.mid(2), &answer), qPrintable(where + ": " + answer));
            continue;
        }
        const QStringList words = step.split(QLatin1Char(' '));
        const int n = words.last().toInt() > 0 ? words.last().toInt() : step.mid(1, 1).toInt();
        QVERIFY(n == 1 || n == 2);
        QSerialPort &port = *ports[size_t(n - 1)];
        if (words.first() == QLatin1String("gone")) {
            QVERIFY2(!QFileInfo::exists(links.at(n - 1)), qPrintable(where));
            QVERIFY2(!simulatorPorts().contains(sim.linePath(n)), qPrintable(where));
            QVERIFY(!QFileInfo(links.at(n - 1)).isSymLink());
        } else if (words.first() == QLatin1String("open")) {
            port.close();
            QVERIFY2(QFileInfo(links.at(n - 1)).isSymLink(), qPrintable(where));
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(where + port.errorString()));
            QVERIFY2(simulatorPorts().contains(QFileInfo(links.at(n - 1)).symLinkTarget()),
                     qPrintable(where));
        } else if (step.startsWith('w')) {
            sendTo(port, writeRequest(allSet(1)));
            if (words.last() == QLatin1String("-")) {
                QVERIFY2(arrivesWithin(port).isEmpty(), qPrintable(where));
            } else {
                QCOMPARE(readBytes(port, FrameSize).toHex(' '),
                         encodeFrame(allSet(1), Flag::WriteAck).toHex(' '));
                previous[n - 1] = allSet(1);
            }
        } else {
            const QString want = words.last();
            const std::optional<Values> held =
                readServo(port, want == QLatin1String("-") ? QuietMs : ReplyTimeoutMs);
            QVERIFY2(bool(held) == (want != QLatin1String("-")), qPrintable(where));
            if (!held)
                continue;
            if (want == QLatin1String("start")) {
                QCOMPARE(*held, startValues());
            } else if (want == QLatin1String("sample")) {
                QCOMPARE(*held, allSet(1));
            } else if (want == QLatin1String("clamped")) {
                QCOMPARE(*held, (Values{255, 0, 0, 0, 500, 2500, 0, 1500, 0, 0, 0, 1, 0, 0}));
            } else {
                QVERIFY2(*held != startValues() && *held != previous[n - 1], qPrintable(where));
                QCOMPARE(clampedToRanges(*held), *held);
            }
            previous[n - 1] = *held;
        }
    }
}

void TestSimulator::schedule_data()
{
    QTest::addColumn<int>("programmers");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("one") << 1 << QStringList{"--present", "400", "--absent", "300"};
    QTest::newRow("three") << 3 << QStringList{"--present", "400", "--absent", "300"};
    QTest::newRow("two, empty at the start")
        << 2 << QStringList{"--empty", "--present", "400", "--absent", "300"};
}

// Polled for a while, every programmer's servo comes and goes: counted
// through reads, each new servo with a block of its own. The times are
// generous: a busy machine sees fewer changes, never none.
void TestSimulator::schedule()
{
    QFETCH(int, programmers);
    QFETCH(QStringList, args);
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start(args, programmers, &why), qPrintable(why));
    auto ports = openPorts(sim.portNames(), &why);
    QVERIFY2(int(ports.size()) == programmers, qPrintable(why));
    QVector<int> attachments(programmers, 0);
    QVector<int> removals(programmers, 0);
    QVector<std::optional<Values>> last(programmers);
    QVector<QVector<Values>> blocks(programmers);
    QElapsedTimer clock;
    clock.start();
    auto enough = [&] {
        for (int n = 0; n < programmers; ++n) {
            if (attachments[n] < 3 || removals[n] < 2)
                return false;
        }
        return true;
    };
    while (!enough() && clock.elapsed() < 60000) {
        for (int n = 0; n < programmers; ++n) {
            const std::optional<Values> held = readServo(*ports[size_t(n)], 100);
            if (held && (!last[n] || *held != *last[n])) {
                ++attachments[n];
                blocks[n] << *held;
            }
            if (!held && last[n])
                ++removals[n];
            last[n] = held;
        }
    }
    for (int n = 0; n < programmers; ++n) {
        QVERIFY2(attachments[n] >= 3 && removals[n] >= 2,
                 qPrintable(QStringLiteral("programmer %1: %2 attachments, %3 removals")
                                .arg(n + 1)
                                .arg(attachments[n])
                                .arg(removals[n])));
        // Only the first servo of a programmer holds the start block.
        for (int k = 1; k < blocks[n].size(); ++k) {
            QVERIFY(blocks[n][k] != startValues());
            QVERIFY(blocks[n][k] != blocks[n][k - 1]);
        }
    }
}

void TestSimulator::badCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("says");
    QTest::newRow("unknown") << "plug 1"
                             << "unknown command \"plug\"";
    QTest::newRow("no number") << "detach"
                               << "detach wants a programmer number";
    QTest::newRow("programmer 0") << "skip 0"
                                  << "no programmer \"0\": the programmers are 1 to 2";
    QTest::newRow("programmer 3") << "attach 3"
                                  << "the programmers are 1 to 2";
    QTest::newRow("not a number") << "detach one"
                                  << "no programmer \"one\"";
    QTest::newRow("two numbers") << "detach 1 2"
                                 << "detach takes one programmer number";
    QTest::newRow("too few values") << "attach 1 1,2,3"
                                    << "3 values given; a servo holds 14";
    QTest::newRow("too many values") << "attach 1 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15"
                                     << "15 values given";
    QTest::newRow("a word among the values") << "attach 2 1,2,3,4,5,6,x,8,9,10,11,12,13,14"
                                             << "\"x\" is not a number";
    QTest::newRow("pull with no servo") << "pull-on-write 2"
                                        << "no servo is attached";
    QTest::newRow("quit with an argument") << "quit 1"
                                           << "quit takes no arguments";
#ifdef Q_OS_WIN
    QTest::newRow("unplug a device") << "unplug 1"
                                     << "cannot be unplugged";
#else
    QTest::newRow("replug what is plugged in") << "replug 1"
                                               << "is plugged in already";
#endif
}

// Refused with one error line; the simulator carries on.
void TestSimulator::badCommands()
{
    QFETCH(QString, command);
    QFETCH(QString, says);
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({QStringLiteral("--verbose")}, 2, &why), qPrintable(why));
    QVERIFY(sim.command(QStringLiteral("detach 2")));
    QString answer;
    QVERIFY(!sim.command(command, &answer));
    QVERIFY2(answer.startsWith(QLatin1String("error: ")) && answer.contains(says),
             qPrintable(answer));
    QVERIFY2(sim.command(QStringLiteral("attach 2"), &answer), qPrintable(answer));
    QVERIFY(sim.isRunning());
    // With several programmers the log names each line's.
    QCOMPARE(sim.stop(SIGTERM), 0);
    const QString log = QString::fromLocal8Bit(sim.readStandardError());
    QVERIFY2(log.contains(QStringLiteral("servo-sim: programmer 2: servo 1 detached")) &&
                 log.contains(QStringLiteral("servo-sim: programmer 2: servo 2 attached")) &&
                 !log.contains(QStringLiteral("programmer 1: servo")),
             qPrintable(log));
}

void TestSimulator::ending_data()
{
    QTest::addColumn<bool>("quit"); // else the input ends, and a signal follows
    QTest::newRow("quit") << true;
    QTest::newRow("end of input is not quit") << false;
}

void TestSimulator::ending()
{
    QFETCH(bool, quit);
    QStringList args;
#ifndef Q_OS_WIN
    const QString link = m_dir.filePath(QStringLiteral("ending"));
    args << QStringLiteral("--link") << link;
#endif
    Sim sim;
    START_SIM(sim, args);
    if (quit) {
        sim.port.close();
        QVERIFY(sim.process.command(QStringLiteral("quit")));
        QTRY_VERIFY_WITH_TIMEOUT(!sim.process.isRunning(), 20000);
        QCOMPARE(sim.process.exitCode(), 0);
    } else {
        sim.process.closeInput();
        for (int i = 0; i < 3; ++i) {
            QTest::qWait(100);
            QCOMPARE(readServo(sim.port, ReplyTimeoutMs), std::optional<Values>(startValues()));
        }
        sim.port.close();
        QCOMPARE(sim.stop(SIGTERM), 0);
    }
#ifndef Q_OS_WIN
    QVERIFY(!QFileInfo(link).isSymLink());
#endif
}

void TestSimulator::exitCodes_data()
{
    // %D stands for a scratch folder, %LIVE for the link of a simulator that
    // runs meanwhile
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("says"); // on stdout for code 0, else on stderr

    QTest::newRow("help") << QStringList{"--help"} << 0 << "device clamps";
    QTest::newRow("-h") << QStringList{"-h"} << 0 << "--corrupt-every";
    QTest::newRow("version") << QStringList{"--version"} << 0 << "servo-sim 1.";
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << "bogus";
    QTest::newRow("missing value") << QStringList{"--delay"} << 2 << "delay";
    QTest::newRow("chunk 0") << QStringList{"--chunk", "0"} << 2 << "--chunk";
    QTest::newRow("not a number") << QStringList{"--drop-every", "x"} << 2 << "--drop-every";
    QTest::newRow("negative noise") << QStringList{"--noise", "-1"} << 2 << "--noise";
    QTest::newRow("two files") << QStringList{"%D/a.txt", "%D/b.txt"} << 2 << "one parameter file";
    QTest::newRow("link with device")
        << QStringList{"--device", "/dev/null", "--link", "%D/l"} << 2 << "--link";
    QTest::newRow("missing file") << QStringList{"%D/none.txt"} << 6 << "none.txt";
    QTest::newRow("short file") << QStringList{"%D/short.txt"} << 6 << "14 are needed";
    QTest::newRow("empty file") << QStringList{"%D/empty.txt"} << 6
                                << "the file is empty; a parameter file is one line";
    QTest::newRow("header row") << QStringList{"%D/header.txt"} << 6
                                << "header.txt: the first line is a header row of names";
    QTest::newRow("quoted numbers")
        << QStringList{"%D/quoted.txt"} << 6 << "the first line holds numbers in quotes";
    QTest::newRow("link of a running simulator")
        << QStringList{"--link", "%LIVE"} << 1 << "belongs to a running simulator: it points to";
    QTest::newRow("link to a file") << QStringList{"--link", "%D/to-file"} << 1
                                    << "short.txt, which is not a simulator's terminal";
    QTest::newRow("link to another program's terminal")
        << QStringList{"--link", "%D/to-terminal"} << 1 << "which is not a simulator's terminal";
    QTest::newRow("no programmers") << QStringList{"--programmers", "0"} << 2 << "--programmers";
    QTest::newRow("too many programmers")
        << QStringList{"--programmers", "65"} << 2 << "from 1 to 64";
    QTest::newRow("more links than programmers")
        << QStringList{"--programmers", "1", "--link", "%D/a", "--link", "%D/b"} << 2
        << "2 links for 1 programmers";
    QTest::newRow("programmers with devices")
        << QStringList{"--programmers", "2", "--device", "/dev/null"} << 2 << "--device once";
    QTest::newRow("present without absent")
        << QStringList{"--present", "100"} << 2 << "--present and --absent go together";
    QTest::newRow("absent 0") << QStringList{"--present", "100", "--absent", "0"} << 2
                              << "--absent wants a whole number from 10";
    QTest::newRow("no such device")
        << QStringList{"--device", "/dev/no-such-tty"} << 1 << "no-such-tty";
}

void TestSimulator::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, says);
    writeFile(m_dir, QStringLiteral("short.txt"), "1,2,3");
    writeFile(m_dir, QStringLiteral("empty.txt"), "");
    QFile::link(m_dir.filePath(QStringLiteral("short.txt")),
                m_dir.filePath(QStringLiteral("to-file")));
    writeFile(m_dir, QStringLiteral("header.txt"), "A,B,C,D,E,F,G,H,I,J,K,L,M,N\n1,2");
    writeFile(
        m_dir, QStringLiteral("quoted.txt"),
        "\"1\",\"2\",\"3\",\"4\",\"5\",\"6\",\"7\",\"8\",\"9\",\"10\",\"11\",\"1\",\"0\",\"1\"");
    args.replaceInStrings(QStringLiteral("%D"), m_dir.path());
    Sim live;
    const QString liveLink = m_dir.filePath(QStringLiteral("live"));
    if (args.contains(QStringLiteral("--link")) && !args.contains(QStringLiteral("--device")))
        SKIP_ON_WINDOWS("no pseudo-terminal for servo-sim to link to");
    // A terminal that this test holds, as socat holds one: live, but no
    // simulator's.
    PseudoTerminal otherProgram;
    if (args.contains(m_dir.filePath(QStringLiteral("to-terminal")))) {
        QVERIFY(otherProgram.open());
        QFile::link(otherProgram.slavePath(), m_dir.filePath(QStringLiteral("to-terminal")));
    }
    if (args.contains(QStringLiteral("%LIVE"))) {
        QString why;
        QVERIFY2(live.start({QStringLiteral("--link"), liveLink}, &why), qPrintable(why));
        args.replaceInStrings(QStringLiteral("%LIVE"), liveLink);
    }

    QProcess p;
    p.start(simulatorPath(), args);
    QVERIFY(p.waitForFinished(StartTimeoutMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), code);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    if (code == 0) {
        QVERIFY2(out.contains(says), qPrintable(out));
    } else {
        QVERIFY2(out.isEmpty(), qPrintable(out));
        QVERIFY2(err.contains(says), qPrintable(err));
    }
    if (!live.linePath().isEmpty()) {
        // The running simulator keeps its name, and is known by it.
        QCOMPARE(QFileInfo(liveLink).symLinkTarget(), live.linePath());
        QCOMPARE(simulatorLinkName(live.linePath()), liveLink);
        QCOMPARE(live.stop(SIGTERM), 0);
        QVERIFY(!QFileInfo(liveLink).isSymLink());
    }
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
