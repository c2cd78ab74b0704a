// The simulated programmer's device model in-process: bytes in, reply bytes
// out, with each fault of the policy. No line, no timers.
#include "protocol/frame.h"
#include "tools/servo-sim/device.h"

#include <QtTest>

using namespace Servo;

Q_DECLARE_METATYPE(Servo::Values)

namespace {

QByteArray request(const Values &v, quint8 kind)
{
    return encodeFrame(v, kind);
}

Values sample()
{
    return {100, 50, 20, 10, 900, 2100, 2, 1500, 399, 128, 128, 1, 0, 1};
}

} // namespace

class TestSimDevice : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void servoPresence_data();
    void servoPresence();
    void generatedBlocks();
};

// Arrivals are fed one after the other; the replies of all of them are
// compared, byte for byte, with the frames expected.
void TestSimDevice::replies_data()
{
    QTest::addColumn<QList<QByteArray>>("arrivals");
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<int>("corruptEvery");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<Values>("heldAfter");

    const QByteArray read = request(startValues(), 0);
    const QByteArray write = request(sample(), Flag::Write);
    Values tooBig = sample();
    tooBig[Sensitivity] = 100; // stored as 50, the top of its range
    tooBig[MinPulseWidth] = 0; // stored as 500
    Values clamped = tooBig;
    clamped[Sensitivity] = 50;
    clamped[MinPulseWidth] = 500;
    QByteArray corrupted = encodeFrame(startValues(), Flag::ReadReply);
    corrupted[FrameSize - 2] = char(corrupted.at(FrameSize - 2) ^ 0xFF);

    QTest::newRow("read") << QList<QByteArray>{read} << 0 << 0
                          << QList<QByteArray>{encodeFrame(startValues(), Flag::ReadReply)}
                          << startValues();
    QTest::newRow("write then read") << QList<QByteArray>{write, read} << 0 << 0
                                     << QList<QByteArray>{encodeFrame(sample(), Flag::WriteAck),
                                                          encodeFrame(sample(), Flag::ReadReply)}
                                     << sample();
    QTest::newRow("write clamped")
        << QList<QByteArray>{request(tooBig, Flag::Write)} << 0 << 0
        << QList<QByteArray>{encodeFrame(clamped, Flag::WriteAck)} << clamped;
    QTest::newRow("split anyhow") << QList<QByteArray>{read.left(3), read.mid(3, 16),
                                                       read.mid(19) + write.left(1), write.mid(1)}
                                  << 0 << 0
                                  << QList<QByteArray>{encodeFrame(startValues(), Flag::ReadReply),
                                                       encodeFrame(sample(), Flag::WriteAck)}
                                  << sample();
    QTest::newRow("replies are not requests")
        << QList<QByteArray>{encodeFrame(sample(), Flag::ReadReply),
                             encodeFrame(sample(), Flag::Write | Flag::WriteAck)}
        << 0 << 0 << QList<QByteArray>{} << startValues();
    QTest::newRow("noise and bad checksum skipped")
        << QList<QByteArray>{QByteArray("\x55\x01\xAA", 3) + corrupted + read} << 0 << 0
        << QList<QByteArray>{encodeFrame(startValues(), Flag::ReadReply)} << startValues();
    QTest::newRow("dropped write is not stored")
        << QList<QByteArray>{read, write, read} << 2 << 0
        << QList<QByteArray>{encodeFrame(startValues(), Flag::ReadReply),
                             encodeFrame(startValues(), Flag::ReadReply)}
        << startValues();
    QTest::newRow("second reply corrupted")
        << QList<QByteArray>{read, read} << 0 << 2
        << QList<QByteArray>{encodeFrame(startValues(), Flag::ReadReply), corrupted}
        << startValues();
}

void TestSimDevice::replies()
{
    QFETCH(QList<QByteArray>, arrivals);
    QFETCH(int, dropEvery);
    QFETCH(int, corruptEvery);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(Values, heldAfter);

    FaultPolicy faults;
    faults.dropEvery = dropEvery;
    faults.corruptEvery = corruptEvery;
    SimulatedProgrammer device(startValues(), faults);
    QList<QByteArray> got;
    for (const QByteArray &bytes : arrivals)
        for (const SimulatedProgrammer::Reply &reply : device.feed(bytes))
            got << reply.bytes;
    QCOMPARE(got, expected);
    QCOMPARE(device.values(), heldAfter);
}

// A script of steps on one device, starting with the start values:
// "a" attach the sample, "A" attach the next block, "d" detach, "s" skip the
// next request, "p" pull on the next write, "r" a read, "w" a write of the
// sample. What comes back is one letter per request: R read reply, W write
// acknowledgement, - nothing.
void TestSimDevice::servoPresence_data()
{
    QTest::addColumn<bool>("attached");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<QString>("replies");
    QTest::addColumn<bool>("hasServo");
    QTest::addColumn<int>("attachCount");
    QTest::addColumn<bool>("holdsSample");

    QTest::newRow("empty socket") << false << "rwr" << 0 << "---" << false << 0 << false;
    QTest::newRow("attached later") << false << "rarw" << 0 << "-RW" << true << 1 << true;
    QTest::newRow("detached") << true << "rdrw" << 0 << "R--" << false << 1 << false;
    QTest::newRow("skip one request") << true << "srrw" << 0 << "-RW" << true << 1 << true;
    QTest::newRow("skip a write: not stored") << true << "swr" << 0 << "-R" << true << 1 << false;
    QTest::newRow("pull on write") << true << "prrwr" << 0 << "RR--" << false << 1 << false;
    QTest::newRow("a pull on an empty socket is not armed")
        << false << "parw" << 0 << "RW" << true << 1 << true;
    QTest::newRow("detach forgets skip and pull")
        << true << "spdawr" << 0 << "WR" << true << 2 << true;
    QTest::newRow("requests count while empty: dropped by number")
        << false << "rarr" << 2 << "--R" << true << 1 << true;
    QTest::newRow("the next block is a new one")
        << true << "wdAr" << 0 << "WR" << true << 2 << false;
}

void TestSimDevice::servoPresence()
{
    QFETCH(bool, attached);
    QFETCH(QString, steps);
    QFETCH(int, dropEvery);
    QFETCH(QString, replies);
    QFETCH(bool, hasServo);
    QFETCH(int, attachCount);
    QFETCH(bool, holdsSample);

    FaultPolicy faults;
    faults.dropEvery = dropEvery;
    SimulatedProgrammer device(startValues(), faults, attached);
    QString got;
    for (const QChar step : steps) {
        QByteArray bytes;
        switch (step.toLatin1()) {
        case 'a':
            device.attach(sample());
            break;
        case 'A':
            device.attach(device.nextServoValues(1));
            break;
        case 'd':
            device.detach();
            break;
        case 's':
            device.skipNextRequest();
            break;
        case 'p':
            device.pullOnNextWrite();
            break;
        case 'r':
            bytes = request(startValues(), 0);
            break;
        case 'w':
            bytes = request(sample(), Flag::Write);
            break;
        }
        if (bytes.isEmpty())
            continue;
        const QVector<SimulatedProgrammer::Reply> out = device.feed(bytes);
        QVERIFY(out.size() <= 1);
        if (out.isEmpty()) {
            got += '-';
            continue;
        }
        const Frame f = decodeFrame(out.first().bytes);
        got += (f.flags & Flag::WriteAck) ? 'W' : 'R';
        QCOMPARE(f.values, device.values());
    }
    QCOMPARE(got, replies);
    QCOMPARE(device.hasServo(), hasServo);
    QCOMPARE(device.attachCount(), attachCount);
    QCOMPARE(device.values() == sample(), holdsSample);
}

// The blocks of later servos: in range, never the start block nor the one
// before, the same on every run, and different from programmer to
// programmer.
void TestSimDevice::generatedBlocks()
{
    QSet<QString> seen;
    for (int programmer = 1; programmer <= 16; ++programmer) {
        Values previous = startValues();
        for (int servo = 2; servo <= 200; ++servo) {
            const Values v = generatedServoValues(programmer, servo, previous);
            QCOMPARE(clampedToRanges(v), v);
            QVERIFY(v != startValues());
            QVERIFY(v != previous);
            QCOMPARE(generatedServoValues(programmer, servo, previous), v);
            QString key;
            for (int x : v)
                key += QString::number(x) + ',';
            seen.insert(key);
            previous = v;
        }
        // A servo equal to the one before gets another block.
        QVERIFY(
            generatedServoValues(programmer, 7, generatedServoValues(programmer, 7, previous)) !=
            generatedServoValues(programmer, 7, previous));
    }
    QCOMPARE(seen.size(), 16 * 199);
}

QTEST_GUILESS_MAIN(TestSimDevice)
#include "tst_simdevice.moc"
