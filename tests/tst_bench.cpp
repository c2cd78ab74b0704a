// The bench engine in-process against scripted programmers, each on a line of
// its own (a pseudo-terminal; under Wine a pair of COM ports): servos put in
// and taken out, contacts that drop out, servos pulled during the write,
// adapters that go away. The checks count what the programmers received and
// what the bench reported; time-outs are generous, never measured.
#include "bench/bench.h"
#include "files/programlog.h"
#include "serial/simulatorports.h"
#include "tests/scriptedprogrammer.h"
#include "tests/skips.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace Servo;

namespace {

constexpr int PollMs = 20;
// Polls without a reply that mean removal: many, as a loaded machine (or
// Wine's serial line) may take several poll intervals to answer one.
constexpr int GoneAfter = 12;
constexpr int Patience = 30000; // ms for anything the bench is waited for

Values job()
{
    Values v = startValues();
    v[TorqueGain] = 100;
    v[NeutralPoint] = 1600;
    v[SoftStart] = 1;
    return v;
}

// Another block for each servo: never the job.
Values servoValues(int n)
{
    Values v = startValues();
    v[TorqueGain] = 1 + n % 90;
    v[BrakeGain] = n / 90;
    return v;
}

BenchSettings settings()
{
    BenchSettings s;
    s.job = job();
    s.pollMs = PollMs;
    s.goneAfter = GoneAfter;
    s.replyTimeoutMs = 1500;
    return s;
}

// What the bench reported.
struct Events
{
    QVector<BenchEvent> all;
    void record(Bench *bench)
    {
        QObject::connect(bench, &Bench::event, [this](const BenchEvent &e) { all << e; });
    }
    int count(BenchEvent::Kind kind, const QString &port = QString()) const
    {
        return int(std::count_if(all.begin(), all.end(), [&](const BenchEvent &e) {
            return e.kind == kind && (port.isEmpty() || e.port == port);
        }));
    }
    // The results on a port (Verified, AlreadyHeld, Failed, Interrupted).
    QVector<BenchEvent> results(const QString &port) const
    {
        QVector<BenchEvent> out;
        for (const BenchEvent &e : all) {
            if (e.port == port &&
                (e.kind == BenchEvent::Verified || e.kind == BenchEvent::AlreadyHeld ||
                 e.kind == BenchEvent::Failed || e.kind == BenchEvent::Interrupted))
                out << e;
        }
        return out;
    }
};

SlotStatus statusOf(const Bench &bench, const QString &port)
{
    for (const SlotStatus &s : bench.slotStatuses()) {
        if (s.port == port)
            return s;
    }
    return SlotStatus();
}

// Programmers with empty sockets, started.
std::vector<std::unique_ptr<ScriptedProgrammer>> emptyProgrammers(int count)
{
    std::vector<std::unique_ptr<ScriptedProgrammer>> programmers;
    for (int i = 0; i < count; ++i) {
        auto p = std::make_unique<ScriptedProgrammer>();
        p->present = false;
        if (!p->start())
            return {};
        programmers.push_back(std::move(p));
    }
    return programmers;
}

// Lets the slot poll the programmer at least this many more times.
void waitForPolls(const ScriptedProgrammer &programmer, int polls)
{
    const int until = programmer.reads + polls;
    QTRY_VERIFY_WITH_TIMEOUT(programmer.reads >= until, Patience);
}

} // namespace

class tst_Bench : public QObject
{
    Q_OBJECT

private slots:
    void everyAttachmentOnce_data();
    void everyAttachmentOnce();
    void results_data();
    void results();
    void endWhileProgramming_data();
    void endWhileProgramming();
    void portComesBack_data();
    void portComesBack();
    void logRowsPerPort();
    void watchFindsSimulators();
    void slotSwitchedOff();
};

void tst_Bench::everyAttachmentOnce_data()
{
    QTest::addColumn<int>("slotCount");
    QTest::addColumn<int>("servos"); // put in and taken out on each slot, one after another
    QTest::addColumn<bool>("holdsJob"); // each servo holds the job already
    QTest::addColumn<bool>("dropOut"); // its contact drops out for one poll

    QTest::newRow("one slot, three servos") << 1 << 3 << false << false;
    QTest::newRow("four slots at once") << 4 << 2 << false << false;
    QTest::newRow("contact drops out for one poll") << 2 << 2 << false << true;
    QTest::newRow("servos holding the job") << 2 << 2 << true << false;
    QTest::newRow("sixteen slots in one process") << 16 << 1 << false << false;
}

void tst_Bench::everyAttachmentOnce()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(int, slotCount);
    QFETCH(int, servos);
    QFETCH(bool, holdsJob);
    QFETCH(bool, dropOut);

    auto programmers = emptyProgrammers(slotCount);
    QCOMPARE(int(programmers.size()), slotCount);
    Bench bench(settings());
    Events events;
    events.record(&bench);
    for (const auto &p : programmers)
        bench.addPort(p->path());
    QCOMPARE(events.count(BenchEvent::SlotAdded), slotCount);
    bench.start();
    QVERIFY(bench.isRunning());
    // Empty sockets are polled, and nothing is written to them.
    for (const auto &p : programmers)
        waitForPolls(*p, 5);
    QCOMPARE(events.count(BenchEvent::Arrived), 0);

    for (int round = 1; round <= servos; ++round) {
        for (int i = 0; i < slotCount; ++i)
            programmers[i]->attach(holdsJob ? job() : servoValues(round * slotCount + i));
        for (int i = 0; i < slotCount; ++i) {
            const QString port = programmers[i]->path();
            QTRY_COMPARE_WITH_TIMEOUT(events.results(port).size(), round, Patience);
        }
        for (int i = 0; dropOut && i < slotCount; ++i) {
            programmers[i]->skipRequests = 1;
            waitForPolls(*programmers[i], GoneAfter + 3);
        }
        for (int i = 0; i < slotCount; ++i) {
            // Still there after many more polls: not written again.
            waitForPolls(*programmers[i], 5);
            QCOMPARE(programmers[i]->writes.load(), holdsJob ? 0 : round);
            QCOMPARE(events.count(BenchEvent::Removed, programmers[i]->path()), round - 1);
            programmers[i]->detach();
        }
        for (int i = 0; i < slotCount; ++i)
            QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Removed, programmers[i]->path()),
                                      round, Patience);
    }

    for (int i = 0; i < slotCount; ++i) {
        const ScriptedProgrammer &p = *programmers[i];
        const SlotStatus status = statusOf(bench, p.path());
        QCOMPARE(p.writesWithoutServo.load(), 0);
        QCOMPARE(p.held(), job());
        QCOMPARE(events.count(BenchEvent::Arrived, p.path()), servos);
        QCOMPARE(events.count(BenchEvent::Failed, p.path()), 0);
        QCOMPARE(status.servos, servos);
        QCOMPARE(status.verified, holdsJob ? 0 : servos);
        QCOMPARE(status.alreadyHeld, holdsJob ? servos : 0);
        QCOMPARE(status.state, SlotState::Empty);
        const QVector<BenchEvent> results = events.results(p.path());
        for (int n = 0; n < results.size(); ++n) {
            QCOMPARE(results[n].servo, n + 1);
            QCOMPARE(results[n].readBack, std::optional<Values>(job()));
        }
    }
}

void tst_Bench::results_data()
{
    QTest::addColumn<QString>("behaviour"); // of the programmer, see below
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("word");
    QTest::addColumn<int>("writes");
    QTest::addColumn<bool>("stays"); // the servo still answers after its result

    QTest::newRow("verified") << "" << int(BenchEvent::Verified) << "verified" << 1 << true;
    QTest::newRow("already held") << "holds job" << int(BenchEvent::AlreadyHeld) << "already held"
                                  << 0 << true;
    QTest::newRow("acknowledgement lost, job stored")
        << "ack lost" << int(BenchEvent::Verified) << "verified" << 1 << true;
    QTest::newRow("stored otherwise")
        << "stuck" << int(BenchEvent::Failed) << "differs" << 1 << true;
    QTest::newRow("write ignored")
        << "ignored" << int(BenchEvent::Failed) << "not acknowledged" << 1 << true;
    QTest::newRow("read-back lost twice")
        << "read-back lost" << int(BenchEvent::Failed) << "acknowledged only" << 1 << true;
    QTest::newRow("pulled during the write")
        << "pull" << int(BenchEvent::Failed) << "pulled" << 1 << false;
    // Each read reply comes one request late: the one that goes out just
    // before the acknowledgement still holds the old block.
    QTest::newRow("replies one request late")
        << "lagging" << int(BenchEvent::Verified) << "verified" << 1 << true;
}

void tst_Bench::results()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(QString, behaviour);
    QFETCH(int, kind);
    QFETCH(QString, word);
    QFETCH(int, writes);
    QFETCH(bool, stays);

    ScriptedProgrammer p;
    p.present = false;
    p.stuckField = TorqueGain;
    p.stuckValue = 90;
    p.storeStuck = behaviour == QLatin1String("stuck");
    p.ackLost = behaviour == QLatin1String("ack lost");
    p.writeIgnored = behaviour == QLatin1String("ignored");
    p.lostReadBacks = behaviour == QLatin1String("read-back lost") ? 2 : 0;
    p.pullOnWrite = behaviour == QLatin1String("pull");
    p.lagging = behaviour == QLatin1String("lagging");
    QVERIFY(p.start());
    Bench bench(settings());
    Events events;
    events.record(&bench);
    bench.addPort(p.path());
    bench.start();
    waitForPolls(p, 3);
    p.attach(behaviour == QLatin1String("holds job") ? job() : servoValues(1));

    QTRY_COMPARE_WITH_TIMEOUT(events.results(p.path()).size(), 1, Patience);
    const BenchEvent result = events.results(p.path()).first();
    QCOMPARE(int(result.kind), kind);
    QCOMPARE(result.result, word);
    QCOMPARE(result.servo, 1);
    QCOMPARE(result.reason.isEmpty(),
             kind != BenchEvent::Failed && kind != BenchEvent::AlreadyHeld);
    QVERIFY(result.elapsedMs >= 0);
    if (kind == BenchEvent::Verified || kind == BenchEvent::AlreadyHeld)
        QCOMPARE(result.readBack, std::optional<Values>(job()));
    if (stays) {
        waitForPolls(p, GoneAfter + 3);
        QCOMPARE(events.count(BenchEvent::Removed), 0);
        p.detach();
    }
    // The slot waits for the removal, and only then arms again.
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Removed), 1, Patience);
    QCOMPARE(p.writes.load(), writes);
    QCOMPARE(events.count(BenchEvent::Arrived), 1);
    QCOMPARE(statusOf(bench, p.path()).state, SlotState::Empty);

    p.storeStuck = false;
    p.ackLost = false;
    p.writeIgnored = false;
    p.attach(servoValues(2));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Verified),
                              1 + (kind == BenchEvent::Verified), Patience);
    QCOMPARE(p.writes.load(), writes + 1);
    const SlotStatus status = statusOf(bench, p.path());
    QCOMPARE(status.servos, 2);
    QCOMPARE(status.failed, kind == BenchEvent::Failed ? 1 : 0);
    QCOMPARE(status.lastResult, QStringLiteral("verified"));
}

void tst_Bench::endWhileProgramming_data()
{
    QTest::addColumn<bool>("abort");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("word");

    QTest::newRow("stop finishes the servo") << false << int(BenchEvent::Verified) << "verified";
    QTest::newRow("abort interrupts it") << true << int(BenchEvent::Interrupted) << "interrupted";
}

void tst_Bench::endWhileProgramming()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(bool, abort);
    QFETCH(int, kind);
    QFETCH(QString, word);

    auto programmers = emptyProgrammers(2); // the second socket stays empty
    QCOMPARE(int(programmers.size()), 2);
    ScriptedProgrammer &p = *programmers[0];
    p.ackDelayMs = 2000; // ended while the write waits for its acknowledgement
    BenchSettings s = settings();
    s.replyTimeoutMs = 10000;
    Bench bench(s);
    Events events;
    events.record(&bench);
    QSignalSpy stopped(&bench, &Bench::stopped);
    for (const auto &programmer : programmers)
        bench.addPort(programmer->path());
    bench.start();
    p.attach(servoValues(1));
    QTRY_COMPARE_WITH_TIMEOUT(p.writes.load(), 1, Patience);
    QCOMPARE(statusOf(bench, p.path()).state, SlotState::Programming);
    abort ? bench.abort() : bench.stop();
    QVERIFY(events.results(p.path()).size() == int(abort));

    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, Patience);
    QVERIFY(!bench.isRunning());
    const QVector<BenchEvent> results = events.results(p.path());
    QCOMPARE(results.size(), 1);
    QCOMPARE(int(results.first().kind), kind);
    QCOMPARE(results.first().result, word);
    QCOMPARE(p.writes.load(), 1);
    // Everything is closed: no more requests, and stopped() came once.
    const int reads[2] = {p.reads, programmers[1]->reads};
    QTest::qWait(20 * PollMs);
    QCOMPARE(p.reads.load(), reads[0]);
    QCOMPARE(programmers[1]->reads.load(), reads[1]);
    QCOMPARE(stopped.count(), 1);
}

void tst_Bench::portComesBack_data()
{
    QTest::addColumn<QString>("when"); // the port of the first slot goes away

    QTest::newRow("missing at start") << "at start";
    QTest::newRow("after a servo") << "after";
    QTest::newRow("during the write") << "during";
}

void tst_Bench::portComesBack()
{
    SKIP_WITHOUT_TEST_LINE();
    SKIP_ON_WINDOWS("no test line that goes away and comes back under its name");
    QFETCH(QString, when);
    const bool atStart = when == QLatin1String("at start");
    const bool during = when == QLatin1String("during");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("ttyBench"));
    ScriptedProgrammer lost;
    auto others = emptyProgrammers(1);
    QCOMPARE(int(others.size()), 1);
    ScriptedProgrammer &other = *others[0];
    Bench bench(settings());
    Events events;
    events.record(&bench);
    bench.addPort(link);
    bench.addPort(other.path());
    if (!atStart) {
        QVERIFY(lost.startAt(link));
        lost.unplugOnWrite = during;
        lost.attach(servoValues(1));
    }
    bench.start();
    if (when == QLatin1String("after")) {
        QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Verified, link), 1, Patience);
        lost.unplug();
    }
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::PortLost, link), 1, Patience);
    QCOMPARE(statusOf(bench, link).state, SlotState::PortLost);
    if (during) {
        QCOMPARE(events.results(link).size(), 1);
        QCOMPARE(events.results(link).first().result, QStringLiteral("port lost"));
    }

    // The other slot goes on meanwhile.
    other.attach(servoValues(2));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Verified, other.path()), 1, Patience);

    lost.present = false;
    QVERIFY(atStart ? lost.startAt(link) : lost.replug());
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::PortBack, link), 1, Patience);
    QCOMPARE(statusOf(bench, link).state, SlotState::Empty);
    lost.attach(servoValues(3));
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Verified, link), atStart || during ? 1 : 2,
                              Patience);
    QCOMPARE(lost.writes.load(), atStart ? 1 : 2);
    QCOMPARE(events.count(BenchEvent::PortLost), 1);
    QCOMPARE(events.count(BenchEvent::Failed), during ? 1 : 0);
    QCOMPARE(other.writes.load(), 1);
    QCOMPARE(statusOf(bench, link).servos, atStart ? 1 : 2);
}

void tst_Bench::logRowsPerPort()
{
    SKIP_WITHOUT_TEST_LINE();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("bench.csv"));
    ProgramLog log;
    QString why;
    QVERIFY2(log.open(path, &why), qPrintable(why));
    auto programmers = emptyProgrammers(2);
    QCOMPARE(int(programmers.size()), 2);
    ScriptedProgrammer &a = *programmers[0];
    ScriptedProgrammer &b = *programmers[1];
    Bench bench(settings());
    Events events;
    events.record(&bench);
    bench.setLog(&log);
    QSignalSpy logFailed(&bench, &Bench::logFailed);
    QSignalSpy stopped(&bench, &Bench::stopped);
    bench.addPort(a.path());
    bench.addPort(b.path());
    bench.start();

    // On a: two servos verified; on b: one that holds the job, then one
    // pulled during the write.
    a.attach(servoValues(1));
    b.attach(job());
    QTRY_COMPARE_WITH_TIMEOUT(events.results(a.path()).size(), 1, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(events.results(b.path()).size(), 1, Patience);
    a.detach();
    b.detach();
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Removed), 2, Patience);
    b.pullOnWrite = true;
    a.attach(servoValues(2));
    b.attach(servoValues(3));
    QTRY_COMPARE_WITH_TIMEOUT(events.results(a.path()).size(), 2, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(events.results(b.path()).size(), 2, Patience);
    bench.stop();
    QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, Patience);
    QCOMPARE(logFailed.count(), 0);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines =
        QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1 + 4);
    QCOMPARE(lines.first(), ProgramLog::headerLine());
    const int servoColumn = 3 + ParameterCount;
    QStringList seen; // "port servo result", in the order written
    for (const QString &line : lines.mid(1)) {
        const QStringList cells = ProgramLog::splitLine(line);
        QCOMPARE(cells.size(), servoColumn + 3);
        seen << QStringLiteral("%1 %2 %3").arg(cells[1], cells[servoColumn], cells[2]);
        QCOMPARE(cells[servoColumn + 1], jobFingerprint(job()));
        bool ok = false;
        QVERIFY(cells[servoColumn + 2].toDouble(&ok) >= 0 && ok);
        const bool held = cells[2] != QLatin1String("pulled");
        for (int i = 0; i < ParameterCount; ++i)
            QCOMPARE(cells[3 + i], held ? QString::number(job()[i]) : QString());
    }
    const QStringList perPort[2] = {seen.filter(a.path() + QLatin1Char(' ')),
                                    seen.filter(b.path() + QLatin1Char(' '))};
    QCOMPARE(perPort[0],
             QStringList({a.path() + QStringLiteral(" 1 verified"),
                          a.path() + QStringLiteral(" 2 verified")}));
    QCOMPARE(perPort[1],
             QStringList({b.path() + QStringLiteral(" 1 already held"),
                          b.path() + QStringLiteral(" 2 pulled")}));

    ProgramLog again;
    QVERIFY2(again.open(path, &why), qPrintable(why));
    QCOMPARE(again.heldCount(job()), 3);
}

void tst_Bench::watchFindsSimulators()
{
    SKIP_ON_WINDOWS("no pseudo-terminals that simulators announce");
    // A folder of announcements of this test's own, so that the simulators
    // of other programs on this machine are left alone.
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    const auto restore = qScopeGuard([&] { qputenv("TMPDIR", oldTmp); });

    ScriptedProgrammer p;
    p.block = servoValues(1);
    QVERIFY(p.start());
    Bench bench(settings());
    Events events;
    events.record(&bench);
    bench.setWatch(Bench::Simulators);
    bench.start();
    const QString announced = announceSimulatorPort(p.path());
    QVERIFY(!announced.isEmpty());
    const auto withdraw = qScopeGuard([&] { withdrawSimulatorPort(announced); });

    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Verified, p.path()), 1, Patience);
    QCOMPARE(events.count(BenchEvent::SlotAdded), 1);
    QCOMPARE(bench.slotStatuses().size(), 1);
    QCOMPARE(p.writes.load(), 1);
}

void tst_Bench::slotSwitchedOff()
{
    SKIP_WITHOUT_TEST_LINE();
    auto programmers = emptyProgrammers(1);
    QCOMPARE(int(programmers.size()), 1);
    ScriptedProgrammer &p = *programmers[0];
    Bench bench(settings());
    Events events;
    events.record(&bench);
    bench.addPort(p.path());
    bench.start();
    waitForPolls(p, 3);

    bench.setSlotEnabled(p.path(), false);
    QCOMPARE(statusOf(bench, p.path()).state, SlotState::Off);
    const int reads = p.reads;
    p.attach(servoValues(1));
    QTest::qWait(20 * PollMs);
    QCOMPARE(p.reads.load(), reads); // the port is closed: not even polled
    QCOMPARE(events.count(BenchEvent::Arrived), 0);

    bench.setSlotEnabled(p.path(), true);
    QTRY_COMPARE_WITH_TIMEOUT(events.count(BenchEvent::Verified), 1, Patience);
    QCOMPARE(p.writes.load(), 1);
}

QTEST_GUILESS_MAIN(tst_Bench)
#include "tst_bench.moc"
