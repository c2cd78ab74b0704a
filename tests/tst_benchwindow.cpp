// servo-bench's window against servo-sim playing several programmers: the
// cards follow the ports, the tiles and counts follow the servos, the job is
// locked while the bench runs, the log gets servo-cli's rows, and the window
// stops in order. The engine's own tests cover the slot's life; these count
// what the window shows, hears and writes.
#include "benchwindow/benchoptions.h"
#include "benchwindow/benchwindow.h"
#include "benchwindow/slotcard.h"
#include "files/parameterfile.h"
#include "files/programlog.h"
#include "tests/programs.h"
#include "tests/simulatorprocess.h"
#include "tests/skips.h"
#include "ui/applicationfont.h"

#include <QtTest>
#include <QtWidgets>

using namespace Servo;

namespace {

constexpr int Patience = 30000; // ms for anything the bench is waited for

Values job()
{
    Values v = startValues();
    v[TorqueGain] = 120;
    v[NeutralPoint] = 1700;
    v[SoftStart] = 1;
    return v;
}

Values otherValues(int n)
{
    Values v = startValues();
    v[TorqueGain] = 10 + n;
    return v;
}

QString attach(int programmer, const Values &values)
{
    return QStringLiteral("attach %1 %2").arg(programmer).arg(formatParameterLine(values));
}

QString tileState(SlotCard *card)
{
    return card ? card->findChild<QLabel *>(QStringLiteral("tile"))->property("state").toString()
                : QStringLiteral("(no card)");
}

int cardCount(SlotCard *card, const char *which)
{
    return card ? card->findChild<QLabel *>(QStringLiteral("counts"))->property(which).toInt() : -1;
}

// A servo pulled during the write is put back at once when its failure is
// reported, before the slot sees it gone: its failure then stays on the tile,
// and it is not written again.
void putBackOnFailure(BenchWindow *w, SimulatorProcess *sim, int programmer, const Values &values)
{
    const QString port = sim->portName(programmer);
    QObject::connect(w->bench(), &Bench::event, w, [=](const BenchEvent &e) {
        if (e.kind == BenchEvent::Failed && e.port == port)
            sim->command(attach(programmer, values));
    });
}

template<typename T> T *child(QWidget &w, const char *name)
{
    return w.findChild<T *>(QString::fromLatin1(name));
}

// The rows of a log after its header.
QList<QStringList> logRows(const QString &path, QString *header = nullptr)
{
    QFile file(path);
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = QString(lines.at(i)).remove(QLatin1Char('\r'));
        if (i == 0 && header)
            *header = line;
        else if (i > 0 && !line.isEmpty())
            rows << ProgramLog::splitLine(line);
    }
    return rows;
}

} // namespace

class tst_BenchWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void commandLine_data();
    void commandLine();
    void refusals_data();
    void refusals();
    void statesFollowServos_data();
    void statesFollowServos();
    void logRowsAndTotals();
    void lockedWhileRunning();
    void cardsFollowPorts();
    void commandLineStart();
    void remembersLastSession();
    void lookOnScreen();

private:
    // A window as servo-bench makes it from options, with the sounds counted.
    std::unique_ptr<BenchWindow> window(const QStringList &arguments);

    QTemporaryDir m_dir;
    QString m_job;
    QVector<BenchSound> m_sounds;
};

void tst_BenchWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Simulators announce their ports under the temporary folder; a private
    // one keeps those of other programs running meanwhile out of the watch.
    qputenv("TMPDIR", QFile::encodeName(m_dir.path()));
    // What the window remembers goes to a file of the test's own.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.filePath("settings"));
    QCoreApplication::setOrganizationName(QStringLiteral("servo-tool"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_benchwindow"));
    Servo::installApplicationFont();
    m_job = m_dir.filePath("job.txt");
    QString why;
    QVERIFY2(writeParameterFile(m_job, job(), &why), qPrintable(why));
}

void tst_BenchWindow::init()
{
    QSettings().clear();
    m_sounds.clear();
}

std::unique_ptr<BenchWindow> tst_BenchWindow::window(const QStringList &arguments)
{
    BenchOptions options;
    const QString problem = parseBenchOptions(arguments, &options);
    if (!problem.isEmpty())
        qWarning("options refused: %s", qPrintable(problem));
    auto w = std::make_unique<BenchWindow>();
    w->setSoundOutput([this](BenchSound s) { m_sounds << s; });
    w->applyOptions(options);
    return w;
}

void tst_BenchWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("problem"); // a part of the refusal; empty: accepted
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<int>("watch"); // 1 usb, 2 simulators
    QTest::addColumn<int>("pollMs");

    const QStringList none;
    QTest::newRow("all given") << QStringList{"--job",    "j.txt",  "--log", "b.csv",
                                              "--start",  "--port", "A",     "--port",
                                              "B",        "--port", "A",     "--expect-job",
                                              "0A1B2C3D", "--poll", "50"}
                               << QString() << QStringList{"A", "B"} << 0 << 50;
    QTest::newRow("values after =") << QStringList{"--job=j.txt", "--port=A", "--poll=10"}
                                    << QString() << QStringList{"A"} << 0 << 10;
    QTest::newRow("usb and simulators")
        << QStringList{"--port", "usb", "--port", "simulators"} << QString() << none << 3 << 100;
    QTest::newRow("nothing given") << none << QString() << none << 0 << 100;
    QTest::newRow("poll too short")
        << QStringList{"--poll", "9"} << "--poll takes" << none << 0 << 0;
    QTest::newRow("poll not a number")
        << QStringList{"--poll", "fast"} << "--poll takes" << none << 0 << 0;
    QTest::newRow("start without a job")
        << QStringList{"--start"} << "--start needs --job" << none << 0 << 0;
    QTest::newRow("port without value")
        << QStringList{"--job", "j", "--port"} << "--port needs a value" << none << 0 << 0;
    QTest::newRow("empty value") << QStringList{"--log="} << "--log needs a value" << none << 0
                                 << 0;
    QTest::newRow("start with a value")
        << QStringList{"--start=yes"} << "takes no value" << none << 0 << 0;
    QTest::newRow("unknown option")
        << QStringList{"--jobs", "j"} << "unknown option \"--jobs\"" << none << 0 << 0;
    QTest::newRow("stray argument")
        << QStringList{"j.txt"} << "unexpected argument" << none << 0 << 0;
    QTest::newRow("fingerprint too short")
        << QStringList{"--expect-job", "abc"} << "eight hexadecimal digits" << none << 0 << 0;
}

void tst_BenchWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, problem);
    QFETCH(QStringList, ports);
    QFETCH(int, watch);
    QFETCH(int, pollMs);
    BenchOptions o;
    o.pollMs = -1;
    const QString got = parseBenchOptions(arguments, &o);
    if (!problem.isEmpty()) {
        QVERIFY2(got.contains(problem), qPrintable(got));
        QCOMPARE(o.pollMs, -1); // nothing taken from a refused command line
        return;
    }
    QVERIFY2(got.isEmpty(), qPrintable(got));
    QCOMPARE(o.ports, ports);
    QCOMPARE(o.watch, watch);
    QCOMPARE(o.portsGiven, !ports.isEmpty() || watch != 0);
    QCOMPARE(o.pollMs, pollMs);
    if (arguments.contains("--expect-job"))
        QCOMPARE(o.expectJob, QStringLiteral("0a1b2c3d"));
}

void tst_BenchWindow::refusals_data()
{
    QTest::addColumn<QString>("jobText"); // written to a second job file
    QTest::addColumn<QString>("logKind"); // "good", "other csv"
    QTest::addColumn<QString>("expectJob");
    QTest::addColumn<QString>("label"); // where the reason shows
    QTest::addColumn<QString>("reason");

    const QString good = formatParameterLine(otherValues(1));
    QTest::newRow("header row") << parameterKeys().join(',') << "good" << QString() << "jobMessage"
                                << "not a decimal number";
    QTest::newRow("value out of range") << QString(good).replace(QRegularExpression("^\\d+"), "999")
                                        << "good" << QString() << "jobMessage"
                                        << "Loading failed";
    QTest::newRow("log is another csv") << good << "other csv" << QString() << "logMessage"
                                        << "Log refused";
    QTest::newRow("another job expected")
        << good << "good"
        << "00000000"
        << "jobMessage"
        << "not the job 00000000 expected (--expect-job); nothing was started";
}

void tst_BenchWindow::refusals()
{
    QFETCH(QString, jobText);
    QFETCH(QString, logKind);
    QFETCH(QString, expectJob);
    QFETCH(QString, label);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString other = dir.filePath("other.txt");
    QFile f(other);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(jobText.toUtf8());
    f.close();
    QString log = dir.filePath("bench.csv");
    if (logKind == "other csv") {
        QFile csv(log);
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("name,size\nservo,20\n");
    }
    QByteArray before;
    if (logKind == "other csv") {
        QFile csv(log);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        before = csv.readAll();
    }

    // The good job first, then the other file on top of it.
    auto w = window({"--job", m_job, "--port", dir.filePath("no-such-port")});
    const QString fingerprint = child<QLabel>(*w, "fingerprint")->text();
    QCOMPARE(fingerprint, jobFingerprint(job()));
    const bool jobLoaded = w->loadJob(other);
    const bool logOpened = w->openLog(log);
    BenchOptions o;
    o.expectJob = expectJob;
    if (!expectJob.isEmpty()) {
        QVERIFY(jobLoaded);
        o.job = other;
        o.ports = QStringList{dir.filePath("no-such-port")};
        o.portsGiven = true;
        o.start = true;
        QVERIFY(!w->applyOptions(o));
        QVERIFY(!w->isRunning());
        QVERIFY(!w->isLocked());
    } else if (label == "jobMessage") {
        QVERIFY(!jobLoaded);
        QCOMPARE(child<QLabel>(*w, "fingerprint")->text(), fingerprint); // the job held stays
        QCOMPARE(child<QLabel>(*w, "value:TorqueGain")->text(), QString::number(job()[0]));
    } else {
        QVERIFY(!logOpened);
        QCOMPARE(child<QLabel>(*w, "logPath")->text(), QString());
    }
    QLabel *message = child<QLabel>(*w, qPrintable(label));
    QVERIFY2(message->text().contains(reason), qPrintable(message->text()));
    QVERIFY(message->property("error").toBool());
    if (logKind == "other csv") { // left as it was
        QFile r(log);
        QVERIFY(r.open(QIODevice::ReadOnly));
        QCOMPARE(r.readAll(), before);
    }
}

void tst_BenchWindow::statesFollowServos_data()
{
    QTest::addColumn<QStringList>("commands"); // to the simulator, in order
    QTest::addColumn<QString>("state"); // the tile's word once it settles
    QTest::addColumn<int>("verified");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("reason"); // part of the failure shown
    QTest::addColumn<bool>("muted");
    QTest::addColumn<QString>("sounds"); // V verified, F failed, in order

    QTest::newRow("new servo") << QStringList{attach(1, otherValues(1))} << "verified" << 1 << 0
                               << QString() << false << "V";
    QTest::newRow("already holds the job")
        << QStringList{attach(1, job())} << "already held" << 1 << 0 << QString() << false << "V";
    QTest::newRow("pulled during the write")
        << QStringList{attach(1, otherValues(2)), "pull-on-write 1"} << "failed" << 0 << 1
        << "pulled" << false << "F";
    QTest::newRow("muted") << QStringList{attach(1, otherValues(3))} << "verified" << 1 << 0
                           << QString() << true << "";
}

void tst_BenchWindow::statesFollowServos()
{
    QFETCH(QStringList, commands);
    QFETCH(QString, state);
    QFETCH(int, verified);
    QFETCH(int, failed);
    QFETCH(QString, reason);
    QFETCH(bool, muted);
    QFETCH(QString, sounds);
    SKIP_WITHOUT_TEST_LINE();
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 1, &why), qPrintable(why));
    auto w = window({"--job", m_job, "--port", sim.portName(1), "--start"});
    w->setMuted(muted);
    QVERIFY(w->isRunning());
    putBackOnFailure(w.get(), &sim, 1, otherValues(9));
    QTRY_COMPARE_WITH_TIMEOUT(tileState(w->card(sim.portName(1))), QStringLiteral("empty"),
                              Patience);
    for (const QString &c : commands)
        QVERIFY2(sim.command(c, &why), qPrintable(why));
    SlotCard *card = w->card(sim.portName(1));
    QTRY_COMPARE_WITH_TIMEOUT(tileState(card), state, Patience);
    QCOMPARE(cardCount(card, "verified"), verified);
    QCOMPARE(cardCount(card, "failed"), failed);
    QCOMPARE(w->sessionVerified(), verified);
    QCOMPARE(w->sessionFailed(), failed);
    auto *tile = card->findChild<QLabel *>("tile");
    QVERIFY2(tile->text().contains(state), qPrintable(tile->text())); // never colour alone
    auto *reasonLabel = card->findChild<QLabel *>("reason");
    QCOMPARE(reasonLabel->isVisibleTo(card), !reason.isEmpty());
    QVERIFY2(reasonLabel->text().contains(reason), qPrintable(reasonLabel->text()));
    QVERIFY2(card->findChild<QLabel *>("last")->text().contains(" s"),
             qPrintable(card->findChild<QLabel *>("last")->text()));
    QString heard;
    for (BenchSound s : qAsConst(m_sounds))
        heard += s == BenchSound::Verified ? 'V' : 'F';
    QCOMPARE(heard, sounds);

    // The servo stays: it is never written again, and the tile holds.
    QTest::qWait(600);
    QCOMPARE(tileState(card), state);
    QCOMPARE(w->sessionVerified() + w->sessionFailed(), 1);
}

void tst_BenchWindow::logRowsAndTotals()
{
    SKIP_WITHOUT_TEST_LINE();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A log that servo-cli began: one servo of this job and one of another.
    const QString log = dir.filePath("bench.csv");
    {
        ProgramLog earlier;
        QString why;
        QVERIFY2(earlier.open(log, &why), qPrintable(why));
        LogRow row;
        row.time = QDateTime::currentDateTimeUtc();
        row.port = "COM9";
        row.servo = 1;
        row.job = jobFingerprint(job());
        row.result = "verified";
        row.elapsedMs = 120;
        row.values = job();
        QVERIFY(earlier.append(row));
        row.values = otherValues(7);
        row.job = jobFingerprint(otherValues(7));
        QVERIFY(earlier.append(row));
    }
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 2, &why), qPrintable(why));
    auto w = window({"--job", m_job, "--log", log, "--port", sim.portName(1), "--port",
                     sim.portName(2), "--start"});
    QVERIFY(w->isRunning());
    QCOMPARE(child<QLabel>(*w, "logTotals")->property("servos").toInt(), 1);
    QVERIFY2(sim.command(attach(1, otherValues(1)), &why), qPrintable(why));
    QVERIFY2(sim.command(attach(2, job()), &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(w->sessionVerified(), 2, Patience);
    // A second servo on programmer 1, once the first is seen gone.
    QVERIFY2(sim.command("detach 1", &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(tileState(w->card(sim.portName(1))), QStringLiteral("empty"),
                              Patience);
    QVERIFY2(sim.command(attach(1, otherValues(2)), &why), qPrintable(why));
    QVERIFY2(sim.command("pull-on-write 1", &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(w->sessionFailed(), 1, Patience);
    QCOMPARE(child<QLabel>(*w, "logTotals")->property("servos").toInt(), 3);
    QCOMPARE(child<QLabel>(*w, "sessionTotals")->property("verified").toInt(), 2);
    QCOMPARE(child<QLabel>(*w, "sessionTotals")->property("failed").toInt(), 1);
    w->stopBench();
    QTRY_VERIFY_WITH_TIMEOUT(!w->isLocked(), Patience);

    QString header;
    const QList<QStringList> rows = logRows(log, &header);
    QCOMPARE(header, ProgramLog::headerLine());
    QCOMPARE(rows.size(), 5);
    const int columns = ProgramLog::headerLine().split(',').size();
    const int servoColumn = columns - 3;
    struct Expected
    {
        QString port;
        QString servo;
        QString result;
    };
    const QVector<Expected> expected{{sim.portName(1), "1", "verified"},
                                     {sim.portName(2), "1", "already held"},
                                     {sim.portName(1), "2", "pulled"}};
    QList<QStringList> ours = rows.mid(2);
    // The two first servos may be logged in either order.
    if (ours.at(0).at(1) != sim.portName(1))
        ours.swapItemsAt(0, 1);
    for (int i = 0; i < expected.size(); ++i) {
        const QStringList &row = ours.at(i);
        QCOMPARE(row.size(), columns);
        QCOMPARE(row.at(1), expected.at(i).port);
        QCOMPARE(row.at(2), expected.at(i).result);
        QCOMPARE(row.at(servoColumn), expected.at(i).servo);
        QCOMPARE(row.at(servoColumn + 1), jobFingerprint(job()));
        QVERIFY2(QRegularExpression("^\\d+\\.\\d{3}$").match(row.at(servoColumn + 2)).hasMatch(),
                 qPrintable(row.at(servoColumn + 2)));
        if (expected.at(i).result != "pulled")
            QCOMPARE(row.mid(3, ParameterCount).join(','), formatParameterLine(job()));
    }
    // What servo-cli would write for the same result, cell for cell but the time.
    LogRow same;
    same.time = QDateTime::fromString(ours.at(0).at(0), Qt::ISODateWithMs);
    same.port = sim.portName(1);
    same.servo = 1;
    same.job = jobFingerprint(job());
    same.result = "verified";
    same.elapsedMs = qRound64(ours.at(0).at(servoColumn + 2).toDouble() * 1000);
    same.values = job();
    QCOMPARE(ProgramLog::splitLine(ProgramLog::rowLine(same)).mid(1), ours.at(0).mid(1));
}

void tst_BenchWindow::lockedWhileRunning()
{
    SKIP_WITHOUT_TEST_LINE();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString otherJob = dir.filePath("other.txt");
    QVERIFY(writeParameterFile(otherJob, otherValues(5)));
    const QString log = dir.filePath("bench.csv");
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 1, &why), qPrintable(why));
    auto w = window(
        {"--job", m_job, "--log", log, "--port", sim.portName(1), "--poll", "20", "--start"});
    w->show();
    QVERIFY(w->isLocked());
    for (const char *name : {"chooseJob", "chooseLog", "start"})
        QVERIFY2(!child<QPushButton>(*w, name)->isEnabled(), name);
    QVERIFY(child<QPushButton>(*w, "stop")->isEnabled());
    QVERIFY(!w->loadJob(otherJob));
    QVERIFY(!w->openLog(dir.filePath("another.csv")));
    QCOMPARE(child<QLabel>(*w, "fingerprint")->text(), jobFingerprint(job()));
    QCOMPARE(child<QLabel>(*w, "logPath")->text(), log);
    QVERIFY(!QFile::exists(dir.filePath("another.csv")));

    // Closing while running stops in order first: the servo being written
    // when the window is closed is finished and logged, then it closes.
    connect(w->bench(), &Bench::event, w.get(), [&](const BenchEvent &e) {
        if (e.kind == BenchEvent::Arrived)
            QMetaObject::invokeMethod(w.get(), &QWidget::close, Qt::QueuedConnection);
    });
    QSignalSpy stopped(w.get(), &BenchWindow::benchStopped);
    QVERIFY2(sim.command(attach(1, otherValues(1)), &why), qPrintable(why));
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), Patience);
    QCOMPARE(stopped.count(), 1);
    QVERIFY(!w->isRunning());
    const QList<QStringList> rows = logRows(log);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).at(2), QStringLiteral("verified"));
    QCOMPARE(w->sessionVerified(), 1);

    // Stopped: the job and the log can be changed again.
    for (const char *name : {"chooseJob", "chooseLog", "start"})
        QVERIFY2(child<QPushButton>(*w, name)->isEnabled(), name);
    QVERIFY(w->loadJob(otherJob));
    QCOMPARE(child<QLabel>(*w, "fingerprint")->text(), jobFingerprint(otherValues(5)));
}

void tst_BenchWindow::cardsFollowPorts()
{
    SKIP_ON_WINDOWS("no simulators announced in the port list: they serve COM port pairs");
    auto w = window({"--job", m_job, "--poll", "20", "--start"});
    QVERIFY(w->isRunning());
    QCOMPARE(w->cards().size(), 0);
    SimulatorProcess a;
    SimulatorProcess b;
    QString why;
    QVERIFY2(a.start({"--empty"}, 2, &why), qPrintable(why));
    QVERIFY2(b.start({"--empty"}, 1, &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(w->cards().size(), 3, Patience);
    for (const QString &port : a.portNames() + b.portNames())
        QVERIFY2(w->card(port), qPrintable(port));

    // A programmer unplugged and a simulator ended: their cards go.
    QVERIFY2(a.command("unplug 2", &why), qPrintable(why));
    QCOMPARE(b.stop(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(w->cards().size(), 1, Patience);
    QVERIFY(w->card(a.portName(1)));
    // Plugged in again: a card again, and it programs.
    QVERIFY2(a.command("replug 2", &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(w->cards().size(), 2, Patience);
    QVERIFY2(a.command(attach(2, otherValues(1)), &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(w->sessionVerified(), 1, Patience);

    // A port the user adds stays, even where nothing answers.
    const QString missing = m_dir.filePath("no-such-port");
    child<QLineEdit>(*w, "portField")->setText(missing);
    child<QPushButton>(*w, "addPort")->click();
    QTRY_COMPARE_WITH_TIMEOUT(tileState(w->card(missing)), QStringLiteral("adapter gone"),
                              Patience);
    QTest::qWait(2500); // two rescans of the port list
    QVERIFY(w->card(missing));
    w->stopBench();
    QTRY_VERIFY_WITH_TIMEOUT(!w->isLocked(), Patience);
}

// servo-bench as a bench PC starts it: straight into work from the command
// line, three programmers, one row per servo; a request to terminate ends it
// in order.
void tst_BenchWindow::commandLineStart()
{
    SKIP_WITHOUT_TEST_LINE();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 3, &why), qPrintable(why));
    const QString log = dir.filePath("bench.csv");
    QStringList arguments{"--job", m_job, "--log", log, "--poll", "20", "--start"};
    for (const QString &port : sim.portNames())
        arguments << "--port" << port;
    QProcess bench;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    bench.setProcessEnvironment(environment);
    bench.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bench.start(buildProgram("servo-bench"), arguments);
    QVERIFY2(bench.waitForStarted(), qPrintable(bench.errorString()));
    for (int p = 1; p <= 3; ++p)
        QVERIFY2(sim.command(attach(p, otherValues(p)), &why), qPrintable(why));
    QTRY_COMPARE_WITH_TIMEOUT(logRows(log).size(), 3, Patience);
    QStringList ports;
    for (const QStringList &row : logRows(log)) {
        QCOMPARE(row.at(2), QStringLiteral("verified"));
        ports << row.at(1);
    }
    ports.sort();
    QStringList expected = sim.portNames();
    expected.sort();
    QCOMPARE(ports, expected);

    SKIP_ON_WINDOWS("no request to terminate that reaches a window on the offscreen platform");
    bench.terminate();
    QVERIFY(bench.waitForFinished(Patience));
    QCOMPARE(bench.exitStatus(), QProcess::NormalExit);
    QCOMPARE(bench.exitCode(), 0);
    QCOMPARE(logRows(log).size(), 3);
}

void tst_BenchWindow::remembersLastSession()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString log = dir.filePath("bench.csv");
    const QString port = dir.filePath("ttyBENCH");
    {
        auto w = window({"--job", m_job, "--log", log});
        w->addPort(port);
        QVERIFY(w->card(port));
        w->card(port)->findChild<QCheckBox *>("switch")->setChecked(false);
        w->setMuted(true);
    }
    auto w = window({});
    QCOMPARE(child<QLabel>(*w, "jobPath")->text(), m_job);
    QCOMPARE(child<QLabel>(*w, "logPath")->text(), log);
    QVERIFY(child<QCheckBox>(*w, "mute")->isChecked());
    SlotCard *card = w->card(port);
    QVERIFY(card);
    QVERIFY(!card->isSwitchedOn());
    QCOMPARE(tileState(card), QStringLiteral("off"));
    // Started, the slot stays off and its port closed.
    QVERIFY(w->startBench());
    QTest::qWait(300);
    QCOMPARE(tileState(card), QStringLiteral("off"));
    w->stopBench();
    QTRY_VERIFY_WITH_TIMEOUT(!w->isLocked(), Patience);
}

// The picture in the README: four programmers in mixed states. Saved beside
// the test program as bench-screenshot.png.
void tst_BenchWindow::lookOnScreen()
{
    SKIP_ON_WINDOWS("no unplug of a simulated programmer");
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 4, &why), qPrintable(why));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList arguments{"--job", m_job, "--log", dir.filePath("bench.csv"), "--start"};
    for (const QString &port : sim.portNames())
        arguments << "--port" << port;
    auto w = window(arguments);
    w->resize(1000, 720);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    putBackOnFailure(w.get(), &sim, 2, otherValues(3));
    QVERIFY2(sim.command(attach(1, otherValues(1)), &why), qPrintable(why));
    QVERIFY2(sim.command(attach(2, otherValues(2)), &why), qPrintable(why));
    QVERIFY2(sim.command("pull-on-write 2", &why), qPrintable(why));
    QVERIFY2(sim.command("unplug 4", &why), qPrintable(why));
    const QStringList states{"verified", "failed", "empty", "adapter gone"};
    for (int i = 0; i < states.size(); ++i)
        QTRY_COMPARE_WITH_TIMEOUT(tileState(w->card(sim.portName(i + 1))), states.at(i), Patience);
    QCOMPARE(w->cards().size(), 4);
    QCOMPARE(w->size(), QSize(1000, 720)); // long paths and reasons do not widen it
    // Each state its own colour on screen, in the middle of its tile.
    const QImage img = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QSet<QRgb> colours;
    for (SlotCard *card : w->cards()) {
        auto *tile = card->findChild<QLabel *>("tile");
        const QPoint middle = tile->mapTo(w.get(), QPoint(4, tile->height() / 2));
        colours << img.pixel(middle);
    }
    QCOMPARE(colours.size(), 4);
    const QString path = QCoreApplication::applicationDirPath() + "/bench-screenshot.png";
    QVERIFY(img.save(path));
    qInfo("window picture: %s", qPrintable(path));
    w->stopBench();
    QTRY_VERIFY_WITH_TIMEOUT(!w->isLocked(), Patience);
}

QTEST_MAIN(tst_BenchWindow)
#include "tst_benchwindow.moc"
