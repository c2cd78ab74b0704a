// The programming log: which files it appends to and which it refuses, the
// rows of both layouts, and the count of servos a log already holds.
#include "files/programlog.h"
#include "tests/filenodes.h"
#include "tests/pipewatch.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

using namespace Servo;

Q_DECLARE_METATYPE(Servo::Values)
Q_DECLARE_METATYPE(Servo::LogRow)

namespace {

const QString Keys = QStringLiteral(
    "TorqueGain,BrakeGain,IntegralGain,IntegralSpeed,MinPulseWidth,MAXPulseWidth,Sensitivity,"
    "NeutralPoint,MAXDuty,LeftAngleCoefficient,RightAngleCoefficient,ReversedRotation,SoftStart,"
    "LOCKProtection");
const QString OldHeader = "time,port,result," + Keys;
const QString Header = OldHeader + ",servo,job,seconds";
const QString Sample = QStringLiteral("100,50,20,10,900,2100,2,1500,399,128,128,1,0,1");
const QString Other = QStringLiteral("100,50,20,10,900,2100,2,1500,399,128,128,1,0,0");

Values values(const QString &line)
{
    Values v{};
    const QStringList fields = line.split(',');
    for (int i = 0; i < ParameterCount; ++i)
        v[i] = fields.at(i).toInt();
    return v;
}

LogRow sampleRow()
{
    LogRow row;
    row.time = QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC);
    row.port = QStringLiteral("/dev/ttyUSB0");
    row.servo = 3;
    row.job = QStringLiteral("e5be5e12");
    row.result = QStringLiteral("verified");
    row.elapsedMs = 1234;
    row.values = values(Sample);
    return row;
}

const QString SampleRowOld = "2026-12-09T10:00:00Z,/dev/ttyUSB0,verified," + Sample;
const QString SampleRow = SampleRowOld + ",3,e5be5e12,1.234";

// The file's text, line ends as LF.
QString contents(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("<cannot read>");
    return QString::fromUtf8(f.readAll()).remove('\r');
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestProgramLog : public QObject
{
    Q_OBJECT

private slots:
    void fingerprint_data();
    void fingerprint();
    void rowLine_data();
    void rowLine();
    void open_data();
    void open();
    void heldCount_data();
    void heldCount();
    void appendedRowsCount();
    void rowCutShort();
};

void TestProgramLog::fingerprint_data()
{
    // The digits come from sha256sum, outside the program:
    //   printf '0,0,0,0,500,2500,0,1500,0,0,0,0,0,0' | sha256sum | cut -c1-8
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("fingerprint");
    QTest::newRow("start values") << "0,0,0,0,500,2500,0,1500,0,0,0,0,0,0"
                                  << "b3f4253b";
    QTest::newRow("sample") << Sample << "e5be5e12";
    QTest::newRow("one switch off") << Other << "d69affff";
    QTest::newRow("every maximum") << "255,255,255,255,2500,2500,50,2500,399,255,255,1,1,1"
                                   << "ec9cddac";
}

void TestProgramLog::fingerprint()
{
    QFETCH(QString, line);
    QFETCH(QString, fingerprint);
    QCOMPARE(jobFingerprint(values(line)), fingerprint);
}

void TestProgramLog::rowLine_data()
{
    QTest::addColumn<LogRow>("row");
    QTest::addColumn<bool>("oldLayout");
    QTest::addColumn<QString>("line");
    const LogRow sample = sampleRow();
    QTest::newRow("verified") << sample << false << SampleRow;
    QTest::newRow("verified, earlier layout") << sample << true << SampleRowOld;
    LogRow row = sample;
    row.values.reset();
    row.result = QStringLiteral("no reply");
    row.elapsedMs = 5;
    QTest::newRow("no values, 5 ms")
        << row << false
        << "2026-12-09T10:00:00Z,/dev/ttyUSB0,no reply" + QString(14, ',') + ",3,e5be5e12,0.005";
    row.servo = 0;
    row.elapsedMs = -1;
    QTest::newRow("neither counted nor measured")
        << row << false
        << "2026-12-09T10:00:00Z,/dev/ttyUSB0,no reply" + QString(14, ',') + ",,e5be5e12,";
    row = sample;
    row.port = QStringLiteral("/dev/a,b");
    row.result = QStringLiteral("say \"x\"");
    QTest::newRow("quoted cells") << row << false
                                  << "2026-12-09T10:00:00Z,\"/dev/a,b\",\"say \"\"x\"\"\"," +
            Sample + ",3,e5be5e12,1.234";
    row = sample;
    row.elapsedMs = 61005;
    row.time = QDateTime(QDate(2026, 12, 9), QTime(11, 0), Qt::OffsetFromUTC, 3600);
    QTest::newRow("time in UTC, a minute") << row << false << SampleRowOld + ",3,e5be5e12,61.005";
}

void TestProgramLog::rowLine()
{
    QFETCH(LogRow, row);
    QFETCH(bool, oldLayout);
    QFETCH(QString, line);
    QCOMPARE(ProgramLog::rowLine(row, oldLayout), line);
    // Read back, the cells are those given.
    const QStringList cells = ProgramLog::splitLine(line);
    QCOMPARE(cells.size(), oldLayout ? 17 : 20);
    QCOMPARE(cells.mid(1, 2), QStringList({row.port, row.result}));
    QCOMPARE(ProgramLog::headerLine(oldLayout).count(','), cells.size() - 1);
}

void TestProgramLog::open_data()
{
    // before: what the target holds; "missing", "pipe", "device" and
    // "folder" are what the name stands for instead.
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("refusal"); // empty: opened
    QTest::addColumn<bool>("oldLayout");
    QTest::addColumn<QString>("after"); // once sampleRow() is appended; empty: as before
    const QByteArray old = (OldHeader + '\n' + SampleRowOld + '\n').toUtf8();
    const QByteArray current = (Header + '\n' + SampleRow + '\n').toUtf8();
    const QString notLog = QStringLiteral(
        "is not a servo-cli log: its first line is not \"time,port,result,TorqueGain,...\"");
    QTest::newRow("new file") << "missing" << QByteArray() << QString() << false
                              << Header + '\n' + SampleRow + '\n';
    QTest::newRow("empty file") << "file" << QByteArray() << QString() << false
                                << Header + '\n' + SampleRow + '\n';
    QTest::newRow("this layout") << "file" << current << QString() << false
                                 << QString::fromUtf8(current) + SampleRow + '\n';
    QTest::newRow("earlier layout")
        << "file" << old << QString() << true << QString::fromUtf8(old) + SampleRowOld + '\n';
    QTest::newRow("earlier layout, CR LF")
        << "file" << QByteArray(old).replace("\n", "\r\n") << QString() << true
        << QString::fromUtf8(old) + SampleRowOld + '\n';
    QTest::newRow("header only, no line end")
        << "file" << Header.toUtf8() << QString() << false << Header + '\n' + SampleRow + '\n';
    QTest::newRow("last row cut short")
        << "file" << current + "2026-12-09T10:01:00Z,/dev/ttyUSB0,verif" << QString() << false
        << QString::fromUtf8(current) + "2026-12-09T10:01:00Z,/dev/ttyUSB0,verif\n" + SampleRow +
            '\n';
    QTest::newRow("another CSV") << "file" << QByteArray("name,value\n1,2\n") << notLog << false
                                 << QString();
    QTest::newRow("header with a column more")
        << "file" << (Header + ",note\n").toUtf8() << notLog << false << QString();
    QTest::newRow("blank first line")
        << "file" << ('\n' + Header + '\n').toUtf8() << notLog << false << QString();
    QTest::newRow("a first line of 100000 characters")
        << "file" << QByteArray(100000, 'x') + '\n' + current << notLog << false << QString();
    QTest::newRow("folder") << "folder" << QByteArray() << "a folder, not a regular file" << false
                            << QString();
    QTest::newRow("named pipe") << "pipe" << QByteArray() << "a named pipe, not a regular file"
                                << false << QString();
    QTest::newRow("device") << "device" << QByteArray() << "a character device, not a regular file"
                            << false << QString();
}

// A log is appended to only where it is one, and anything else stays as it
// was.
void TestProgramLog::open()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, before);
    QFETCH(QString, refusal);
    QFETCH(bool, oldLayout);
    QFETCH(QString, after);
    QTemporaryDir dir;
    const QString path = dir.filePath("log.csv");
    std::unique_ptr<PipeWatch> watch;
    MAKE_PIPE_OR_DEVICE(target, path, watch);
    if (target == QLatin1String("file"))
        QVERIFY(writeFile(path, before));
    else if (target == QLatin1String("folder"))
        QVERIFY(QDir(dir.path()).mkdir("log.csv"));
    const QString kind = nodeKind(path);

    ProgramLog log;
    QString error;
    const bool opened = log.open(path, &error);
    if (watch)
        QCOMPARE(watch->opened(), 0);
    if (!refusal.isEmpty()) {
        QVERIFY(!opened);
        QVERIFY(!log.isOpen());
        QVERIFY2(error.contains(refusal), qPrintable(error));
        QVERIFY2(error.contains(path), qPrintable(error));
        QCOMPARE(nodeKind(path), kind);
        if (target == QLatin1String("file"))
            QCOMPARE(contents(path).toUtf8(), QByteArray(before).replace("\r", ""));
        return;
    }
    QVERIFY2(opened, qPrintable(error));
    QCOMPARE(log.path(), path);
    QCOMPARE(log.oldLayout(), oldLayout);
    QVERIFY(log.append(sampleRow()));
    QCOMPARE(contents(path), after);
    QCOMPARE(allEntries(dir.path()), QStringList{"log.csv"});
}

void TestProgramLog::heldCount_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("job");
    QTest::addColumn<int>("held");
    const QString t = QStringLiteral("2026-12-09T10:00:00Z,");
    const QString tail = QStringLiteral(",1,e5be5e12,0.120");
    const QStringList mixed{
        t + "/dev/a,verified," + Sample + tail,
        t + "/dev/a,already held," + Sample + tail,
        t + "/dev/b,differs," + Sample + tail, // the values read back may even match
        t + "/dev/b,no reply" + QString(14, ',') + tail,
        t + "/dev/c,verified," + Other + tail,
        t + "\"/dev/a,b\",verified," + Sample + tail, // a port with a comma, quoted
        t + "/dev/a,\"verified\"," + Sample + tail,
        t + "/dev/a,verified,100,50,20", // cut short
        t + "/dev/a,verified," + QString(Sample).replace("900", "x") + tail,
        t + "/dev/a,verified," + QString(Sample).replace(",128,", ",\"128\",") + tail,
        "",
        "garbage",
    };
    QTest::newRow("mixed rows, the sample") << Header << mixed << Sample << 5;
    QTest::newRow("mixed rows, the other job") << Header << mixed << Other << 1;
    QTest::newRow("no row holds it")
        << Header << mixed << "0,0,0,0,500,2500,0,1500,0,0,0,0,0,0" << 0;
    QStringList old;
    for (QString row : mixed)
        old << row.remove(tail);
    QTest::newRow("earlier layout, the sample") << OldHeader << old << Sample << 5;
    QTest::newRow("earlier layout, the other job") << OldHeader << old << Other << 1;
    QTest::newRow("a row of 200000 characters between")
        << Header << QStringList{mixed.at(0), QString(200000, 'v'), mixed.at(1)} << Sample << 2;
    QStringList many;
    for (int i = 0; i < 20000; ++i)
        many << mixed.at(i % 3);
    QTest::newRow("20000 rows") << Header << many << Sample << 13334;
}

void TestProgramLog::heldCount()
{
    QFETCH(QString, header);
    QFETCH(QStringList, rows);
    QFETCH(QString, job);
    QFETCH(int, held);
    QTemporaryDir dir;
    const QString path = dir.filePath("log.csv");
    QVERIFY(writeFile(path, (QStringList{header} + rows).join('\n').toUtf8() + '\n'));
    ProgramLog log;
    QString error;
    QVERIFY2(log.open(path, &error), qPrintable(error));
    QCOMPARE(log.heldCount(values(job)), held);
}

// Rows appended in one run are counted by the next.
void TestProgramLog::appendedRowsCount()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log.csv");
    const QStringList results{"verified", "differs", "already held", "verified", "pulled"};
    for (int run = 1; run <= 2; ++run) {
        ProgramLog log;
        QString error;
        QVERIFY2(log.open(path, &error), qPrintable(error));
        QCOMPARE(log.heldCount(values(Sample)), 3 * (run - 1));
        for (const QString &result : results) {
            LogRow row = sampleRow();
            row.result = result;
            QVERIFY(log.append(row));
        }
    }
    QCOMPARE(contents(path).count('\n'), 1 + 2 * results.size());
}

// A row that a full disk cut short stays on its line: the next row starts on
// a line of its own.
void TestProgramLog::rowCutShort()
{
#ifdef Q_OS_WIN
    QSKIP("Windows has no file-size limit for a process to set");
#else
    QTemporaryDir dir;
    const QString path = dir.filePath("log.csv");
    {
        ProgramLog log;
        QString error;
        QVERIFY2(log.open(path, &error), qPrintable(error));
        QVERIFY(log.append(sampleRow()));
        const qint64 size = QFileInfo(path).size();
        // The file-size limit stands for a full disk; root ignores
        // permissions, but not this.
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = rlim_t(size + 40);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool appended = log.append(sampleRow());
        const qint64 cut = QFileInfo(path).size();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!appended);
        QCOMPARE(cut, size + 40);
        QVERIFY(log.append(sampleRow()));
    }
    // Every line is the header, a whole row or the start of one; the last
    // is whole.
    QStringList lines = contents(path).split('\n');
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.takeFirst(), Header);
    QCOMPARE(lines.last(), SampleRow);
    int whole = 0;
    for (const QString &line : qAsConst(lines)) {
        QVERIFY2(SampleRow.startsWith(line), qPrintable(line));
        whole += line == SampleRow ? 1 : 0;
    }
    QVERIFY(whole >= 2);
#endif
}

QTEST_GUILESS_MAIN(TestProgramLog)
#include "tst_programlog.moc"
