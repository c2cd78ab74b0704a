// Known-answer and stream tests for the wire frame and the receive buffer.
#include "protocol/frame.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Servo;

Q_DECLARE_METATYPE(Servo::Values)

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// The controls of the "all fields set" example, canonical order.
Values allSet(int switches)
{
    return {100, 50, 20, 10, 900, 2100, 2, 1500, 399, 128, 128, switches, switches, switches};
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

private slots:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
    void fieldsAreLowByteFirst_data();
    void fieldsAreLowByteFirst();
    void hexChecksumSum_data();
    void hexChecksumSum();
    void scan_data();
    void scan();
    void scanConsumesOneFrameAtATime();
    void randomRoundTrip();
};

void TestFrame::encode_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<int>("kind");

    QTest::newRow("55 00 00 00 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 A3 AA")
        << startValues() << 0;
    QTest::newRow("55 00 00 02 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 A5 AA")
        << startValues() << int(Flag::Write);
    QTest::newRow("55 64 14 33 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 1D AA")
        << allSet(1) << int(Flag::Write);
    QTest::newRow("55 64 14 31 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 1B AA") << allSet(1) << 0;
    QTest::newRow("55 64 14 39 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 23 AA")
        << allSet(1) << int(Flag::ReadReply);
    // Single switches land on their own bits: 0x01, 0x20, 0x10.
    Values reversed = startValues();
    reversed[ReversedRotation] = 1;
    QTest::newRow("55 00 00 01 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 A4 AA") << reversed << 0;
    Values soft = startValues();
    soft[SoftStart] = 1;
    QTest::newRow("55 00 00 20 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 C3 AA") << soft << 0;
    Values lock = startValues();
    lock[LOCKProtection] = 1;
    QTest::newRow("55 00 00 10 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 B3 AA") << lock << 0;
}

void TestFrame::encode()
{
    QFETCH(Values, values);
    QFETCH(int, kind);
    const QByteArray frame = encodeFrame(values, quint8(kind));
    QCOMPARE(frame.toHex(' ').toUpper(), QByteArray(QTest::currentDataTag()));
    QVERIFY(isValidFrame(frame.constData()));
}

void TestFrame::decode_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<int>("kind");

    QTest::newRow("55 64 14 39 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 23 AA")
        << allSet(1) << int(FrameKind::ReadReply);
    QTest::newRow("55 64 14 35 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 1F AA")
        << allSet(1) << int(FrameKind::WriteAck);
    QTest::newRow("55 64 14 0C 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 F6 AA")
        << allSet(0) << int(FrameKind::ReadReply);
    QTest::newRow("55 64 14 31 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 1B AA")
        << allSet(1) << int(FrameKind::Other);
    // 16-bit fields beyond every range come through unclamped.
    Values big = startValues();
    big[BrakeGain] = 0xFFFF;
    big[NeutralPoint] = 0x1234;
    QTest::newRow("55 00 00 08 00 00 00 FF FF F4 01 C4 09 00 00 00 34 12 0E AA")
        << big << int(FrameKind::ReadReply);
}

void TestFrame::decode()
{
    const QByteArray frame = hex(QTest::currentDataTag());
    QFETCH(Values, values);
    QFETCH(int, kind);
    QVERIFY(isValidFrame(frame.constData()));
    const Frame f = decodeFrame(frame);
    QCOMPARE(f.values, values);
    QCOMPARE(int(frameKind(f.flags)), kind);
}

void TestFrame::fieldsAreLowByteFirst_data()
{
    QTest::addColumn<int>("parameter");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("MinPulseWidth 500") << int(MinPulseWidth) << 500 << 9 << hex("F4 01");
    QTest::newRow("MAXPulseWidth 2500") << int(MAXPulseWidth) << 2500 << 11 << hex("C4 09");
    QTest::newRow("MAXDuty 399") << int(MAXDuty) << 399 << 13 << hex("8F 01");
    QTest::newRow("BrakeGain 50") << int(BrakeGain) << 50 << 7 << hex("32 00");
    QTest::newRow("NeutralPoint 2049") << int(NeutralPoint) << 2049 << 16 << hex("01 08");
    QTest::newRow("RightAngleCoefficient 7") << int(RightAngleCoefficient) << 7 << 15 << hex("07");
    QTest::newRow("IntegralSpeed 255") << int(IntegralSpeed) << 255 << 6 << hex("FF");
}

void TestFrame::fieldsAreLowByteFirst()
{
    QFETCH(int, parameter);
    QFETCH(int, value);
    QFETCH(int, offset);
    QFETCH(QByteArray, bytes);
    Values v = startValues();
    v[parameter] = value;
    const QByteArray frame = encodeFrame(v, 0);
    QCOMPARE(frame.mid(offset, bytes.size()), bytes);
    QCOMPARE(decodeFrame(frame).values[parameter], value);
}

void TestFrame::hexChecksumSum_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sum");

    QTest::newRow("example bytes 1-17")
        << "64 14 33 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05" << 1053;
    QTest::newRow("sum 256") << "FF01000000000000000000000000000000" << 256;
    QTest::newRow("only 17 pairs count") << "0101010101010101010101010101010101FF" << 17;
    QTest::newRow("bad pair counts 0") << "zz02" << 2;
    QTest::newRow("short text") << "10" << 16;
    QTest::newRow("empty") << "" << 0;
}

void TestFrame::hexChecksumSum()
{
    QFETCH(QString, text);
    QFETCH(int, sum);
    QCOMPARE(hexChecksum(text.remove(QLatin1Char(' '))), sum);
}

void TestFrame::scan_data()
{
    // Arrivals separated by '|'; every reply is looked for after the last.
    QTest::addColumn<QByteArray>("arrivals");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("pending");

    const QByteArray read = "55 64 14 39 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 23 AA";
    const QByteArray ack = "55 64 14 35 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 1F AA";
    const QByteArray bad = "55 64 14 39 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 24 AA";

    QTest::newRow("one reply") << read << QList<QByteArray>{hex(read)} << 0;
    QTest::newRow("7 then 13 bytes")
        << read.left(7 * 3) + "|" + read.mid(7 * 3) << QList<QByteArray>{hex(read)} << 0;
    QTest::newRow("byte by byte") << QByteArray(read).replace(' ', '|')
                                  << QList<QByteArray>{hex(read)} << 0;
    QTest::newRow("two replies at once")
        << read + ack << QList<QByteArray>{hex(read), hex(ack)} << 0;
    QTest::newRow("stray byte first") << "00" + read << QList<QByteArray>{hex(read)} << 0;
    QTest::newRow("bad checksum") << bad << QList<QByteArray>{} << 19;
    QTest::newRow("bad then good") << bad + read << QList<QByteArray>{hex(read)} << 0;
    QTest::newRow("19 bytes") << read.left(19 * 3) << QList<QByteArray>{} << 19;
    QTest::newRow("noise only")
        << QByteArray("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16")
        << QList<QByteArray>{} << 19;
    // A false header 0x55 two bytes before a real reply, whose 20th byte is
    // the real reply's byte 17 (0xAA set there by making NeutralPoint's high
    // byte 0xAA) - the real reply starts inside the false candidate.
    const QByteArray inner = "55 00 00 08 00 00 00 00 00 F4 01 C4 09 00 00 00 00 AA 00 AA";
    const QByteArray innerFixed = hex(inner);
    QByteArray fixed = innerFixed;
    fixed[18] = char(frameChecksum(fixed.constData()));
    const QByteArray falseStart = "55 00 " + fixed.toHex(' ');
    QTest::newRow("real reply inside a false candidate")
        << falseStart << QList<QByteArray>{fixed} << 0;
    QTest::newRow("echoed request")
        << QByteArray("55 64 14 31 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 1B AA")
        << QList<QByteArray>{hex("55 64 14 31 80 02 0A 32 00 84 03 34 08 8F 01 80 DC 05 1B AA")}
        << 0;
}

void TestFrame::scan()
{
    QFETCH(QByteArray, arrivals);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, pending);

    FrameScanner scanner;
    QList<QByteArray> found;
    for (const QByteArray &chunk : arrivals.split('|')) {
        scanner.append(hex(chunk.constData()));
        QByteArray frame;
        while (scanner.next(&frame))
            found << frame;
        QVERIFY(scanner.pendingSize() < FrameSize);
    }
    QCOMPARE(found, frames);
    QCOMPARE(scanner.pendingSize(), pending);
}

void TestFrame::scanConsumesOneFrameAtATime()
{
    const QByteArray a = encodeFrame(allSet(1), Flag::ReadReply);
    const QByteArray b = encodeFrame(startValues(), Flag::WriteAck);
    FrameScanner scanner;
    scanner.append(a + b + b.left(5));
    QByteArray frame;
    QVERIFY(scanner.next(&frame));
    QCOMPARE(frame, a);
    QCOMPARE(scanner.pendingSize(), 25);
    QVERIFY(scanner.next(&frame));
    QCOMPARE(frame, b);
    QVERIFY(!scanner.next(&frame));
    QCOMPARE(scanner.pending(), b.left(5));
    scanner.append(b.mid(5));
    QVERIFY(scanner.next(&frame));
    QCOMPARE(frame, b);
}

void TestFrame::randomRoundTrip()
{
    QRandomGenerator rng(20261208);
    for (int n = 0; n < 2000; ++n) {
        Values v{};
        for (int i = 0; i < ParameterCount; ++i) {
            const ParameterInfo &p = parameterInfo(i);
            v[i] = int(rng.bounded(p.minimum, p.maximum + 1));
        }
        const quint8 kind = quint8(rng.bounded(2) ? Flag::ReadReply : Flag::WriteAck);
        const QByteArray frame = encodeFrame(v, kind);
        QVERIFY(isValidFrame(frame.constData()));
        const Frame f = decodeFrame(frame);
        QCOMPARE(f.values, v);
        // The text form keeps the trailer upper case and is read back the same.
        const QString text = frameToText(frame);
        QCOMPARE(text.size(), FrameHexSize);
        QVERIFY(text.endsWith(QLatin1String("AA")));
        QCOMPARE(hexChecksum(text.mid(2, 34)) & 0xFF, int(quint8(frame[18])));
    }
}

QTEST_APPLESS_MAIN(TestFrame)
#include "tst_frame.moc"
