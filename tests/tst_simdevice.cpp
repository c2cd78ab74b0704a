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

QTEST_GUILESS_MAIN(TestSimDevice)
#include "tst_simdevice.moc"
