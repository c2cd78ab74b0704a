// servo-cli end to end: the program run as a process against the simulated
// servo programmer (servo-sim) on a pseudo-terminal (on Windows a pair of COM
// ports, see testline.h), and against a scripted
// programmer in this test for what the simulator never does (forget a write,
// report values out of range, stay silent).
#include "files/parameterfile.h"
#include "files/parametertext.h"
#include "tests/consoleevents.h"
#include "tests/pipewatch.h"
#include "protocol/frame.h"
#include "serial/portsettings.h"
#include "serial/simulatorports.h"
#include "tests/programs.h"
#include "tests/scriptedprogrammer.h"
#include "tests/simulatorprocess.h"
#include "tests/skips.h"
#include "tests/filenodes.h"
#include "tools/servo-cli/cli.h"
#include "tools/servo-cli/commands.h"
#include "tools/servo-cli/format.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <memory>

using namespace Servo;

Q_DECLARE_METATYPE(Servo::SlotStatus)

namespace {

const QByteArray SampleLine = "100,50,20,10,900,2100,2,1500,399,128,128,1,0,1";

Values sampleValues()
{
    return parseParameterLine(QString::fromLatin1(SampleLine)).values;
}

struct Result
{
    int code = -1;
    QString out;
    QString err;
    qint64 ms = 0;
    QString rawOut; // out before its line ends were made LF
};

Result runCli(const QStringList &args,
              const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    withoutConsole(&p);
    QElapsedTimer clock;
    clock.start();
    p.start(buildProgram(QStringLiteral("servo-cli")), args);
    p.closeWriteChannel(); // program stops after the first servo
    Result r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("servo-cli did not finish");
        return r;
    }
    r.ms = clock.elapsed();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.rawOut = r.out;
#ifdef Q_OS_WIN
    // Windows programs end their text lines in CR LF, which text-mode
    // readers turn back into LF. Every line must end so, none with CR CR LF
    // or a bare LF; the checks that follow compare LF.
    for (QString *text : {&r.out, &r.err}) {
        const int pairs = text->count(QLatin1String("\r\n"));
        if (text->count(QLatin1Char('\n')) != pairs || text->count(QLatin1Char('\r')) != pairs)
            QTest::qFail(qPrintable(QStringLiteral("not CR LF throughout: ") + *text), __FILE__,
                         __LINE__);
        text->replace(QLatin1String("\r\n"), QLatin1String("\n"));
    }
#endif
    return r;
}

// What a running servo-cli has printed so far, its lines ending in LF (CR LF
// on Windows).
// job.txt with the sample line, in a folder of the test's own; empty when it
// cannot be written.
QString writeJob(const QTemporaryDir &dir)
{
    const QString job = dir.filePath(QStringLiteral("job.txt"));
    QFile f(job);
    return f.open(QIODevice::WriteOnly) && f.write(SampleLine) == SampleLine.size() ? job
                                                                                    : QString();
}

QString outputText(QProcess &p)
{
    return QString::fromUtf8(p.readAllStandardOutput()).remove(QLatin1Char('\r'));
}

// Rows of a table printed by servo-cli: first column -> the other columns.
QMap<QString, QStringList> tableRows(const QString &text)
{
    QMap<QString, QStringList> rows;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList cells = lines.at(i).split(QRegularExpression(QStringLiteral("\\s{2,}")));
        rows.insert(cells.first(), cells.mid(1));
    }
    return rows;
}

// The JSON of read/show back to values; keys must come in canonical order.
bool valuesFromJson(const QString &text, Values *values)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    int lastPosition = -1;
    for (int i = 0; i < ParameterCount; ++i) {
        const QString stem = QLatin1String(parameterInfo(i).stem);
        const int position = text.indexOf(QLatin1Char('"') + stem + QLatin1Char('"'));
        if (position <= lastPosition || !object.contains(stem) ||
            object.value(stem).isBool() != parameterInfo(i).isSwitch)
            return false;
        lastPosition = position;
        const QJsonValue v = object.value(stem);
        (*values)[i] = v.isBool() ? int(v.toBool()) : v.toInt(-99999);
    }
    return object.size() == ParameterCount;
}

void writeLockFile(const QString &path, qint64 pid)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QString::asprintf("%10lld\n", pid).toLatin1());
}

QString noReplyMessage(const QString &port, int ms, int attempts)
{
    return QStringLiteral("no reply from the servo programmer on %1 within %2 ms (%3 attempt%4); "
                          "check the cable and the servo's power")
        .arg(port)
        .arg(ms)
        .arg(attempts)
        .arg(attempts == 1 ? "" : "s");
}

// A write that took, whose read-back got no answer.
QString unverifiedMessage(const QString &what, const QString &acknowledged, int ms)
{
    return QStringLiteral("wrote %1 to the servo on %PORT and the programmer acknowledged %2; the "
                          "read-back got no reply within %3 ms (1 attempt), so the write is not "
                          "verified (\"servo-cli diff\" or \"get\" checks it)")
        .arg(what, acknowledged)
        .arg(ms);
}

// A port where nothing answers may be the wrong one: the message says so
// when the machine has other ports, which is not up to the test.
QString withoutWrongPortHint(QString err)
{
    return err.remove(QRegularExpression(
        QStringLiteral(", or whether it is the wrong port \\([^\n]* present too\\)")));
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;
    QString file(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("p%1.txt").arg(++m_files));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    // A null content stands for a missing file, "<pipe>" for a named pipe.
    QString fileFor(const QByteArray &content, std::unique_ptr<PipeWatch> *pipe)
    {
        if (content.isNull())
            return m_dir.filePath(QStringLiteral("absent.txt"));
        if (content != "<pipe>")
            return file(content);
        const QString path = m_dir.filePath(QStringLiteral("pipe%1.txt").arg(++m_files));
        pipe->reset(new PipeWatch(path));
        return path;
    }
    static void malformedFiles();

private slots:
    void initTestCase();
    void help_data();
    void help();
    void badArguments_data();
    void badArguments();
    void ports();
    void portTable();
    void strictText_data();
    void strictText();
    void formatting_data();
    void formatting();
    void show_data();
    void show();
    void showRefuses_data() { malformedFiles(); }
    void showRefuses();
    void writeRefusesBeforeSending_data() { malformedFiles(); }
    void writeRefusesBeforeSending();
    void faults_data();
    void faults();
    void noReply_data();
    void noReply();
    void portUnavailable_data();
    void portUnavailable();
    void twoOnOneLine();
    void writeDoesNotTake_data();
    void writeDoesNotTake();
    void otherFramesSkipped();
    void readOutOfRange();
    void roundTrip();
    void jsonBothWays();
    void getSetBackup();
    void program();
    void programAnswers_data();
    void programAnswers();
    void programInterrupted_data();
    void programInterrupted();
    void defaultPort_data();
    void defaultPort();
    void backupFails();
    void refusedTargets_data();
    void refusedTargets();
    void existingBackup_data();
    void existingBackup();
    void benchEvent_data();
    void benchEvent();
    void benchStatus_data();
    void benchStatus();
    void expectJob_data();
    void expectJob();
    void benchSwaps_data();
    void benchSwaps();
    void benchPortComesBack();
    void benchInterrupted_data();
    void benchInterrupted();
};

void TestCli::initTestCase()
{
    QVERIFY2(QFileInfo(buildProgram(QStringLiteral("servo-cli"))).isExecutable(),
             "servo-cli must be beside the test program");
    QVERIFY2(QFileInfo(buildProgram(QStringLiteral("servo-sim"))).isExecutable(),
             "servo-sim must be beside the test program");
    QVERIFY(m_dir.isValid());
}

void TestCli::help_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("usage");
    QTest::newRow("--help") << QStringList{"--help"} << "Usage: servo-cli <command>";
    QTest::newRow("help") << QStringList{"help"} << "Usage: servo-cli <command>";
    QTest::newRow("ports") << QStringList{"ports", "--help"}
                           << "Usage: servo-cli ports [options]\n";
    QTest::newRow("read") << QStringList{"read", "-h"} << "Usage: servo-cli read [options]\n";
    QTest::newRow("write") << QStringList{"write", "--bogus", "--help"}
                           << "Usage: servo-cli write [options] FILE\n";
    QTest::newRow("help diff") << QStringList{"help", "diff"}
                               << "Usage: servo-cli diff [options] FILE\n";
    QTest::newRow("get") << QStringList{"get", "--help"}
                         << "Usage: servo-cli get [options] NAME...\n";
    QTest::newRow("set") << QStringList{"set", "--help"}
                         << "Usage: servo-cli set [options] NAME=VALUE...\n";
    QTest::newRow("program") << QStringList{"program", "--help"}
                             << "Usage: servo-cli program [options] FILE\n";
    QTest::newRow("show") << QStringList{"show", "--help"}
                          << "Usage: servo-cli show [options] FILE\n";
}

void TestCli::help()
{
    QFETCH(QStringList, args);
    QFETCH(QString, usage);
    const Result r = runCli(args);
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.startsWith(usage), qPrintable(r.out));
    QVERIFY(r.out.contains(QLatin1String("Exit codes")));
    if (args.first() == QLatin1String("--help"))
        QVERIFY(QRegularExpression("^servo-cli \\d+\\.\\d+\n$")
                    .match(runCli({"--version"}).out)
                    .hasMatch());
    if (args.first() != QLatin1String("--help") && r.out.contains(QLatin1String("--timeout")))
        QVERIFY(r.out.simplified().contains("1 to 600000") &&
                r.out.simplified().contains("0 to 100"));
    QCOMPARE(r.err, QString());
}

void TestCli::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    // A port that does not exist: a refusal with 2 shows that the line was
    // checked before the port was touched (that would give 4).
    const QString p = QStringLiteral("/dev/no-such-port");
    QTest::newRow("nothing") << QStringList{} << "no command given";
    QTest::newRow("unknown command")
        << QStringList{"frobnicate"} << "unknown command \"frobnicate\"";
    QTest::newRow("option first") << QStringList{"--port", p, "read"} << "the command comes first";
    QTest::newRow("command typo") << QStringList{"red"}
                                  << "unknown command \"red\"; did you mean read?";
    QTest::newRow("unknown option")
        << QStringList{"read", "-p", p, "--bogus"} << "unknown option \"--bogus\"\n";
    QTest::newRow("option typo") << QStringList{"read", "-p", p, "--jsn"}
                                 << "unknown option \"--jsn\"; did you mean --json?";
    QTest::newRow("port without value") << QStringList{"read", "--port"} << "--port needs a value";
    QTest::newRow("short port without value")
        << QStringList{"read", "-vp"} << "--port needs a value";
    QTest::newRow("port twice") << QStringList{"read", "-p", p, "--port=x"} << "--port given twice";
    QTest::newRow("timeout not a number")
        << QStringList{"read", "-p", p, "--timeout", "abc"} << "--timeout takes";
    QTest::newRow("timeout zero") << QStringList{"diff", "-p", p, "--timeout=0", "f"}
                                  << "--timeout takes";
    QTest::newRow("negative retries")
        << QStringList{"read", "-p", p, "--retries", "-1"} << "--retries takes";
    QTest::newRow("write without file") << QStringList{"write", "-p", p} << "write needs FILE";
    QTest::newRow("two files") << QStringList{"show", "a", "b"} << "unexpected argument \"b\"";
    QTest::newRow("flag with value")
        << QStringList{"show", "a", "--json=yes"} << "--json takes no value, not \"yes\"";
    QTest::newRow("option of another command")
        << QStringList{"show", "a", "--no-verify"} << "--no-verify is not an option of show";
    QTest::newRow("help on nothing") << QStringList{"help", "nothing"} << "no help on \"nothing\"";
    QTest::newRow("unknown field")
        << QStringList{"get", "-p", p, "Torque"}
        << "unknown parameter \"Torque\"; the names are TorqueGain, BrakeGain";
    QTest::newRow("field typo") << QStringList{"get", "-p", p, "TorqeGain"}
                                << "unknown parameter \"TorqeGain\"; did you mean TorqueGain?\n";
    QTest::newRow("field typo in set")
        << QStringList{"set", "-p", p, "brakegian=3"}
        << "unknown parameter \"brakegian\"; did you mean BrakeGain?\n";
    QTest::newRow("set without value")
        << QStringList{"set", "-p", p, "SoftStart"} << "\"SoftStart\" is not NAME=VALUE";
    QTest::newRow("switch set to 2")
        << QStringList{"set", "-p", p, "softstart=2"} << "SoftStart takes on/off";
    QTest::newRow("field twice") << QStringList{"set", "-p", p, "Sensitivity=1", "sensitivity=2"}
                                 << "Sensitivity given twice";
    QTest::newRow("JSON on --out -")
        << QStringList{"read", "-p", p, "--json", "--out", "-"} << "--out - and --json";
    // The hands-free bench's options belong to it, and are checked first.
    const QStringList bench{"program", "--auto", "-p", p, "f"};
    QTest::newRow("--count without --auto")
        << QStringList{"program", "-p", p, "f", "--count", "3"} << "--count needs --auto";
    QTest::newRow("--json without --auto")
        << QStringList{"program", "-p", p, "f", "--json"} << "--json needs --auto";
    QTest::newRow("--port twice without --auto")
        << QStringList{"program", "-p", p, "-p", "x", "f"} << "--port given twice";
    QTest::newRow("--verbose with --auto")
        << bench + QStringList{"--verbose"} << "--verbose is not used with --auto";
    QTest::newRow("--auto without --port")
        << QStringList{"program", "--auto", "f"} << "program --auto needs --port";
    QTest::newRow("--poll below 10 ms") << bench + QStringList{"--poll", "9"}
                                        << "--poll takes a number of milliseconds from 10 to "
                                           "10000, not \"9\"";
    QTest::newRow("--poll over 10 s") << bench + QStringList{"--poll=10001"} << "--poll takes";
    QTest::newRow("--gone 0") << bench + QStringList{"--gone", "0"}
                              << "--gone takes a number from 1 to 100, not \"0\"";
    QTest::newRow("--count 0") << bench + QStringList{"--count", "0"} << "--count takes";
    QTest::newRow("--count given twice")
        << bench + QStringList{"--count", "1", "--count", "2"} << "--count given twice";
    QTest::newRow("--expect-job not a fingerprint")
        << bench + QStringList{"--expect-job", "e5be5e1"}
        << "--expect-job takes a job's fingerprint, eight hexadecimal digits";
}

void TestCli::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QVERIFY(!message.isEmpty());
    const Result r = runCli(args);
    QCOMPARE(r.code, 2);
    QCOMPARE(r.out, QString());
    QVERIFY2(r.err.startsWith(QLatin1String("servo-cli: ") + message), qPrintable(r.err));
}

void TestCli::ports()
{
    // What the machine has is not up to the test; either answer is well formed.
    const Result r = runCli({"ports"});
    QCOMPARE(r.code, 0);
    if (r.out.isEmpty()) {
        QCOMPARE(r.err, QStringLiteral("servo-cli: no serial ports found\n"));
    } else {
        QVERIFY2(r.out.startsWith(QLatin1String("Port  ")), qPrintable(r.out));
        QCOMPARE(r.err, QString());
    }
}

void TestCli::portTable()
{
    Servo::PresentPort usb;
    usb.name = QStringLiteral("ttyUSB0");
    usb.description = QStringLiteral("USB Serial");
    usb.manufacturer = QStringLiteral("Acme Devices");
    usb.hasIds = true;
    usb.vendorId = 0x403;
    usb.productId = 0xa;
    Servo::PresentPort plain;
    plain.name = QStringLiteral("ttyS0");
    const QStringList lines = ServoCli::formatPortTable({usb, plain}).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4); // header, two ports, empty after the last '\n'
    QCOMPARE(lines.at(1).split(QRegularExpression(QStringLiteral("\\s{2,}"))),
             QStringList({"ttyUSB0", "USB Serial", "Acme Devices", "0403:000a"}));
    QCOMPARE(lines.at(2).split(QRegularExpression(QStringLiteral("\\s{2,}"))),
             QStringList({"ttyS0", "-", "-", "-"}));
    // Columns line up under their headings.
    QCOMPARE(lines.at(1).indexOf(QLatin1String("0403")),
             lines.at(0).indexOf(QLatin1String("VID:PID")));
    QCOMPARE(lines.at(2).lastIndexOf(QLatin1Char('-')),
             lines.at(0).indexOf(QLatin1String("VID:PID")));
}

void TestCli::strictText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("json");
    QTest::addColumn<QString>("problem"); // empty: taken, as the sample
    const QString line = QString::fromLatin1(SampleLine);
    const QString json = ServoCli::formatJson(sampleValues());
    auto replaced = [&json](const char *from, const char *to) {
        return QString(json).replace(from, to);
    };
    QTest::newRow("line") << line << false << "";
    QTest::newRow("line, CR LF, empty line") << line + "\r\n\n" << false << "";
    QTest::newRow("fifteen fields")
        << line + ",1" << false << "the first line has 15 fields, 14 are needed";
    QTest::newRow("lone CR") << line + "\r7\n" << false << "a CR that does not end it";
    QTest::newRow("blank second line") << line + "\n \n" << false << "line 2 is not empty";
    QTest::newRow("JSON") << json << true << "";
    QTest::newRow("JSON, compact, any order, white space first") << "\r\n " +
            QString(json).replace("\n", "").replace("\"TorqueGain\": 100,", "").chopped(1) +
            ",\"TorqueGain\":1e2}" << true << "";
    QTest::newRow("JSON key missing")
        << replaced("\"BrakeGain\": 50,", "") << true << "key missing: BrakeGain";
    QTest::newRow("JSON key in other case")
        << replaced("BrakeGain", "brakegain") << true << "unknown key \"brakegain\"";
    QTest::newRow("JSON fraction")
        << replaced(": 100,", ": 100.5,") << true << "TorqueGain is 100.5, not an integer";
    QTest::newRow("JSON string") << replaced(": 100,", ": \"100\",") << true
                                 << "TorqueGain is \"100\", not an integer";
    QTest::newRow("JSON switch as number")
        << replaced("true", "1") << true << "ReversedRotation is 1, not true or false";
    QTest::newRow("JSON out of range")
        << replaced(": 399,", ": 400,") << true << "MAXDuty is 400, outside 0..399";
    QTest::newRow("JSON key twice")
        << replaced("\"BrakeGain\": 50,", "\"BrakeGain\": 50, \"BrakeGain\" : 9,") << true
        << "key \"BrakeGain\" given twice";
    QTest::newRow("JSON after the object") << json + "{}" << true << "not valid JSON";
    QTest::newRow("JSON array") << "[" + json + "]" << false << "line 2 is not empty";
}

void TestCli::strictText()
{
    QFETCH(QString, text);
    QFETCH(bool, json);
    QFETCH(QString, problem);
    const Servo::ValuesCheck check = Servo::parseValuesText(text);
    QCOMPARE(check.json, json);
    QVERIFY2(check.problem.contains(problem), qPrintable(check.problem));
    QCOMPARE(check.ok, problem.isEmpty());
    if (check.ok)
        QCOMPARE(check.values, sampleValues());
}

void TestCli::formatting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const Values sample = sampleValues();
    Values other = sample;
    other[Sensitivity] = 7;
    other[SoftStart] = 1;
    QTest::newRow("write, verified") << ServoCli::formatWriteJson(sample, sample, &sample)
                                     << "verified=true differing= readBack=100";
    QTest::newRow("write, differs")
        << ServoCli::formatWriteJson(sample, other, &sample)
        << "verified=false differing=Sensitivity,SoftStart readBack=100";
    QTest::newRow("write, not verified") << ServoCli::formatWriteJson(sample, sample, nullptr)
                                         << "verified=null differing= readBack=none";
    QTest::newRow("diff") << ServoCli::formatDiffJson(sample, other)
                          << "agree=false differing=Sensitivity,SoftStart";
    QTest::newRow("assignments") << ServoCli::formatAssignments(other, {SoftStart, TorqueGain})
                                 << "SoftStart=on\nTorqueGain=100\n";
}

void TestCli::formatting()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
    if (o.isEmpty()) { // not JSON
        QCOMPARE(text, expected);
        return;
    }
    // The JSON results: a summary of the keys the scripts read.
    const char *flag = o.contains("verified") ? "verified" : "agree";
    QStringList differing;
    for (const QJsonValue &v : o.value("differing").toArray())
        differing << v.toString();
    QString summary = QStringLiteral("%1=%2 differing=%3")
                          .arg(flag,
                               o.value(flag).isNull()       ? "null"
                                   : o.value(flag).toBool() ? "true"
                                                            : "false",
                               differing.join(','));
    if (o.contains("verified"))
        summary += " readBack=" +
            (o.contains("readBack") ? QString::number(o.value("readBack")["TorqueGain"].toInt())
                                    : QStringLiteral("none"));
    QCOMPARE(summary, expected);
    // Every block nested in it is the JSON that read --json prints.
    for (const char *key : {"written", "acknowledged", "readBack", "servo", "file"}) {
        if (o.contains(key)) {
            const QString block =
                QString::fromUtf8(QJsonDocument(o.value(key).toObject()).toJson());
            QVERIFY2(Servo::parseJsonText(block).ok, key);
        }
    }
}

void TestCli::show_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("window format") << SampleLine;
    QTest::newRow("CR LF, empty lines") << SampleLine + "\r\n\n\r\n";
    QTest::newRow("UTF-8 byte-order mark, LF") << "\xef\xbb\xbf" + SampleLine + "\n";
    QTest::newRow("UTF-16 with byte-order mark") << QByteArray("\xff\xfe") +
            QByteArray(reinterpret_cast<const char *>(QString::fromLatin1(SampleLine).utf16()),
                       2 * SampleLine.size());
    QTest::newRow("leading zeros")
        << QByteArray("0100,050,20,10,0900,2100,2,1500,399,128,128,1,0,01");
}

void TestCli::show()
{
    QFETCH(QByteArray, content);
    const QString path = file(content);
    const Result table = runCli({"show", path});
    QCOMPARE(table.code, 0);
    QCOMPARE(table.err, QString());
    const QMap<QString, QStringList> rows = tableRows(table.out);
    QCOMPARE(rows.size(), ParameterCount);
    // The caption, then the key that get, set and the JSON take.
    QCOMPARE(rows.value("Torque Gain"), QStringList({"TorqueGain", "100", "0..255"}));
    QCOMPARE(rows.value("Min Pulse Width"),
             QStringList({"MinPulseWidth", "900", "500..2500", "us"}));
    QCOMPARE(rows.value("Integral Speed"), QStringList({"IntegralSpeed", "10", "0..255", "x3 ms"}));
    QCOMPARE(rows.value("MAX Duty"), QStringList({"MAXDuty", "399", "0..399"}));
    QCOMPARE(rows.value("Reversed Rotation"), QStringList({"ReversedRotation", "on", "on/off"}));
    QCOMPARE(rows.value("Soft Start"), QStringList({"SoftStart", "off", "on/off"}));

    const Result json = runCli({"show", "--json", path});
    QCOMPARE(json.code, 0);
    QVERIFY(QJsonDocument::fromJson(json.rawOut.toUtf8()).isObject()); // CR LF included
    Values values{};
    QVERIFY2(valuesFromJson(json.out, &values), qPrintable(json.out));
    QCOMPARE(values, sampleValues());
}

void TestCli::malformedFiles()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << QByteArray() << 7 << "cannot read";
    const QString shape =
        QStringLiteral("; a parameter file is one line of 14 comma-separated numbers, such as "
                       "0,0,0,0,500,2500,0,1500,0,0,0,0,0,0");
    QTest::newRow("empty") << QByteArray("") << 6 << "the file is empty" + shape;
    QTest::newRow("blank lines only") << QByteArray("\r\n\n") << 6 << "the file is empty" + shape;
    QTest::newRow("empty first line")
        << "\n" + SampleLine << 6 << "the first line is empty" + shape;
    QTest::newRow("comment line") << "# servo 7\n" + SampleLine << 6
                                  << "the first line is a comment (\"# servo 7\")" + shape;
    QTest::newRow("semicolons")
        << QByteArray(SampleLine).replace(',', ';') << 6
        << "the first line has 14 fields separated by semicolons, not by commas" + shape;
    QTest::newRow("tabs") << QByteArray(SampleLine).replace(',', '\t') +
            "\n" << 6 << "the first line has 14 fields separated by tabs, not by commas" + shape;
    QTest::newRow("three fields")
        << QByteArray("1,2,3") << 6
        << "the first line has 3 fields, 14 are needed; field 4 (Integral Speed)";
    QTest::newRow("letters") << QByteArray("100,5x,20,10,900,2100,2,1500,399,128,128,1,0,1") << 6
                             << "field 2 (Brake Gain) is \"5x\", not a decimal number";
    QTest::newRow("negative") << QByteArray("-1,50,20,10,900,2100,2,1500,399,128,128,1,0,1") << 6
                              << "field 1 (Torque Gain) is -1, outside 0..255";
    QTest::newRow("fifteen fields") << QByteArray("1,2,3,4,600,2400,50,1500,300,7,8,1,0,1,5") << 6
                                    << "the first line has 15 fields, 14 are needed";
    QTest::newRow("trailing comma") << SampleLine + ",\n"
                                    << 6 << "15 fields, 14 are needed (a comma at the end";
    QTest::newRow("second line") << SampleLine + "\n\n7,7,7\n" << 6 << "line 3 is not empty";
    QTest::newRow("space") << QByteArray("100, 50,20,10,900,2100,2,1500,399,128,128,1,0,1") << 6
                           << "field 2 (Brake Gain) is \" 50\", not a decimal number";
    QTest::newRow("empty field") << QByteArray("100,50,20,10,900,,2,1500,399,128,128,1,0,1") << 6
                                 << "field 6 (MAX Pulse Width)";
    QTest::newRow("above range") << QByteArray("100,50,20,10,900,2100,51,1500,399,128,128,1,0,1")
                                 << 6 << "field 7 (Sensitivity) is 51, outside 0..50";
    QTest::newRow("below range") << QByteArray("100,50,20,10,499,2100,2,1500,399,128,128,1,0,1")
                                 << 6 << "field 5 (Min Pulse Width) is 499, outside 500..2500";
    QTest::newRow("switch 2") << QByteArray("100,50,20,10,900,2100,2,1500,399,128,128,1,2,1") << 6
                              << "field 13 (Soft Start) is 2, outside 0..1";
    QTest::newRow("named pipe") << QByteArray("<pipe>") << 7 << "a named pipe, not a regular file";
    QByteArray utf16;
    for (char c : SampleLine)
        utf16 += QByteArray(1, c) + '\0';
    QTest::newRow("UTF-16 without byte-order mark")
        << utf16 << 6 << "byte 2 of the first line is NUL";
    QTest::newRow("NUL on a later line")
        << SampleLine + QByteArray("\n\n\0", 3) << 6 << "byte 49 is NUL";
    QTest::newRow("not UTF-8 on a later line") << SampleLine + "\n\xff" << 6 << "not valid UTF-8";
    QTest::newRow("over 64 KiB") << SampleLine + QByteArray(65536, '\n') << 6
                                 << "larger than 65536 bytes";
}

void TestCli::showRefuses()
{
    QFETCH(QByteArray, content);
    QFETCH(int, code);
    QFETCH(QString, message);
    if (content == "<pipe>")
        SKIP_WITHOUT_SPECIAL_FILES();
    std::unique_ptr<PipeWatch> pipe;
    const QString path = fileFor(content, &pipe);
    const Result r = runCli({"show", path});
    if (pipe)
        QCOMPARE(pipe->opened(), 0);
    QCOMPARE(r.code, code);
    QCOMPARE(r.out, QString());
    QVERIFY2(r.err.startsWith(QLatin1String("servo-cli: ")), qPrintable(r.err));
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
}

void TestCli::writeRefusesBeforeSending()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(QByteArray, content);
    QFETCH(int, code);
    QFETCH(QString, message);
    if (content == "<pipe>")
        SKIP_WITHOUT_SPECIAL_FILES();
    ScriptedProgrammer programmer;
    QVERIFY(programmer.start());
    std::unique_ptr<PipeWatch> pipe;
    const QString path = fileFor(content, &pipe);
    const Result r = runCli({"write", "--port", programmer.path(), path});
    if (pipe)
        QCOMPARE(pipe->opened(), 0);
    programmer.stop();
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    if (code == 6)
        QVERIFY(r.err.contains(QLatin1String("nothing was sent")));
    QCOMPARE(programmer.received, QByteArray());
}

void TestCli::faults_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("cliArgs"); // command first, port and file added
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QString ok;
    const QStringList read{"read", "--json", "--timeout", "3000"};
    const QStringList write{"write", "--timeout", "3000"};
    QTest::newRow("plain read") << QStringList{} << read << 0 << ok;
    QTest::newRow("plain write") << QStringList{} << write << 0 << ok;
    QTest::newRow("split replies")
        << QStringList{"--chunk", "3", "--chunk-pause", "25"} << write << 0 << ok;
    QTest::newRow("byte by byte") << QStringList{"--chunk", "1", "--chunk-pause", "5"} << read << 0
                                  << ok;
    QTest::newRow("noise") << QStringList{"--noise", "45"} << write << 0 << ok;
    QTest::newRow("noise, split") << QStringList{"--noise", "30", "--chunk", "7"} << read << 0
                                  << ok;
    QTest::newRow("delay within time-out") << QStringList{"--delay", "300"} << write << 0 << ok;
    // Rows that must get a reply allow seconds; those that must not get one
    // fail the same way whether a reply is missing or merely late.
    QTest::newRow("delay past time-out")
        << QStringList{"--delay", "60000"}
        << QStringList{"read", "--timeout", "200", "--retries", "1"} << 3
        << noReplyMessage("%PORT", 200, 2);
    QTest::newRow("every reply corrupted")
        << QStringList{"--corrupt-every", "1"} << QStringList{"read", "--timeout", "300"} << 3
        << noReplyMessage("%PORT", 300, 3);
    QTest::newRow("every request lost")
        << QStringList{"--drop-every", "1"}
        << QStringList{"write", "--timeout", "150", "--retries", "0"} << 3
        << noReplyMessage("%PORT", 150, 1);
    // The write's acknowledgement is the first reply and request, the read
    // back the second: a retry has to rescue the read back.
    QTest::newRow("corrupted read back, retried")
        << QStringList{"--corrupt-every", "2"}
        << QStringList{"write", "--timeout", "3000", "--retries", "1"} << 0 << ok;
    QTest::newRow("corrupted read back, no retry")
        << QStringList{"--corrupt-every", "2"}
        << QStringList{"write", "--timeout", "300", "--retries", "0"} << 3
        << unverifiedMessage("%FILE", QString::fromLatin1(SampleLine), 300);
    QTest::newRow("lost read back, retried")
        << QStringList{"--drop-every", "2"}
        << QStringList{"write", "--timeout", "3000", "--retries", "1"} << 0 << ok;
    QTest::newRow("lost read back, no retry")
        << QStringList{"--drop-every", "2"}
        << QStringList{"write", "--timeout", "300", "--retries", "0"} << 3
        << unverifiedMessage("%FILE", QString::fromLatin1(SampleLine), 300);
    // set reads first: its write is the second request, the read-back the third.
    QTest::newRow("set, lost read back, no retry")
        << QStringList{"--drop-every", "3"}
        << QStringList{"set", "--timeout", "300", "--retries", "0", "TorqueGain=77", "softstart=on"}
        << 3 << unverifiedMessage("TorqueGain, SoftStart", "TorqueGain=77, SoftStart=on", 300);
}

void TestCli::faults()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, cliArgs);
    QFETCH(int, code);
    QFETCH(QString, message);
    // The simulator starts from the start values; writes store the sample.
    SimulatorProcess sim;
    QVERIFY(sim.start(simArgs));
    QStringList args = cliArgs;
    args << "--port" << sim.portName();
    const bool writing = args.first() == QLatin1String("write");
    const QString written = writing ? file(SampleLine) : QString();
    if (writing)
        args << written;
    const Result r = runCli(args);
    QVERIFY2(r.code == code, qPrintable(QStringLiteral("exit %1: %2").arg(r.code).arg(r.err)));
    if (code != 0) {
        QCOMPARE(r.out, QString());
        QCOMPARE(withoutWrongPortHint(r.err),
                 QLatin1String("servo-cli: ") +
                     QString(message).replace("%PORT", sim.portName()).replace("%FILE", written) +
                     '\n');
    } else if (writing) {
        QCOMPARE(r.out, QString());
        QVERIFY2(r.err.contains(QLatin1String("all 14 fields match")), qPrintable(r.err));
    } else {
        Values values{};
        QVERIFY2(valuesFromJson(r.out, &values), qPrintable(r.out));
        QCOMPARE(values, startValues());
    }
}

void TestCli::noReply_data()
{
    QTest::addColumn<int>("retries");
    QTest::addColumn<bool>("otherPort"); // a simulator runs on another line
    QTest::newRow("no retry") << 0 << false;
    QTest::newRow("one retry") << 1 << false;
    QTest::newRow("three retries, another port present") << 3 << true;
}

void TestCli::noReply()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(int, retries);
    QFETCH(bool, otherPort);
    if (otherPort)
        SKIP_ON_WINDOWS(
            "no announced simulator ports (they are symbolic links, which need a privilege there)");
    ScriptedProgrammer programmer;
    programmer.silent = true;
    QVERIFY(programmer.start());
    std::unique_ptr<SimulatorProcess> other;
    QString announced; // the programmer's own line, listed as a simulator
    const auto withdraw = qScopeGuard([&announced] { withdrawSimulatorPort(announced); });
    if (otherPort) {
        other.reset(new SimulatorProcess);
        QVERIFY(other->start({}));
        announced = announceSimulatorPort(programmer.path());
        QVERIFY(!announced.isEmpty());
    }
    const Result r = runCli({"read", "--port", programmer.path(), "--timeout", "120", "--retries",
                             QString::number(retries)});
    programmer.stop();
    QCOMPARE(r.code, 3);
    QCOMPARE(withoutWrongPortHint(r.err),
             "servo-cli: " + noReplyMessage(programmer.path(), 120, retries + 1) + '\n');
    // After the cable: the port itself may be the wrong one.
    if (otherPort)
        QVERIFY2(r.err.contains(QRegularExpression(
                     "power, or whether it is the wrong port \\(.*" +
                     QRegularExpression::escape(other->portName() + " (simulator)"))),
                 qPrintable(r.err));
    QVERIFY2(!r.err.contains(programmer.path() + " (simulator)"),
             qPrintable(r.err)); // not the port itself
    QVERIFY2(r.ms >= 120 * (retries + 1), qPrintable(QString::number(r.ms)));
    // One read request per attempt and nothing else on the line.
    QCOMPARE(programmer.requests.size(), retries + 1);
    QCOMPARE(programmer.received.size(), FrameSize * (retries + 1));
    for (const QByteArray &request : programmer.requests) {
        const quint8 flags = decodeFrame(request).flags;
        QCOMPARE(flags & (Flag::Write | Flag::WriteAck | Flag::ReadReply), 0);
    }
}

void TestCli::portUnavailable_data()
{
    QTest::addColumn<QString>("how"); // a port name on Windows
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("reason"); // %PID: this test's process
#ifdef Q_OS_WIN
    // Both spellings of a port name; from COM10 on only the second opens with
    // the plain Windows file functions, and Qt accepts both.
    QTest::newRow("missing, read") << "COM199"
                                   << "read"
                                   << "does not exist";
    QTest::newRow("missing, diff") << "\\\\.\\COM210"
                                   << "diff"
                                   << "does not exist";
    QTest::newRow("missing, program, before the first prompt") << "COM199"
                                                               << "program"
                                                               << "does not exist";
    // The test's own pair of COM ports is present meanwhile, and listed.
    QTest::newRow("missing, ports present listed") << "listed"
                                                   << "read"
                                                   << "does not exist";
    QTest::newRow("regular file") << "file"
                                  << "read"
                                  << "not a serial port (a regular file)";
    QTest::newRow("folder") << "folder"
                            << "read"
                            << "not a serial port (a folder)";
    QTest::newRow("held by a serial port") << "qt"
                                           << "write"
                                           << "the port is busy: another program holds it";
#else
    QTest::newRow("missing, read") << "missing"
                                   << "read"
                                   << "the port does not exist";
    QTest::newRow("missing, diff") << "missing"
                                   << "diff"
                                   << "the port does not exist";
    QTest::newRow("missing, program, before the first prompt") << "missing"
                                                               << "program"
                                                               << "the port does not exist";
    QTest::newRow("missing, from SERVO_PORT") << "missing-env"
                                              << "read"
                                              << "the port does not exist";
    QTest::newRow("bare name, in /dev") << "bare"
                                        << "read"
                                        << "the port does not exist";
    QTest::newRow("regular file") << "file"
                                  << "read"
                                  << "not a serial port (a regular file)";
    QTest::newRow("/dev/null") << "/dev/null"
                               << "write"
                               << "not a serial port (a character device that is not";
    QTest::newRow("held by a serial port") << "qt"
                                           << "write"
                                           << "the port is busy: process %PID";
    QTest::newRow("/dev/null, program") << "/dev/null"
                                        << "program"
                                        << "not a serial port (a character device that is not";
    QTest::newRow("UUCP lock of a live process") << "uucp"
                                                 << "read"
                                                 << "the port is busy: process %PID";
#endif
#ifdef Q_OS_LINUX
    QTest::newRow("held with flock") << "flock"
                                     << "read"
                                     << "the port is busy: process %PID (tst_cli) holds it (flock)";
    if (::geteuid() != 0) // root opens whatever the mode says
        QTest::newRow("no permission") << "chmod"
                                       << "read"
                                       << "permission denied";
#endif
}

void TestCli::portUnavailable()
{
    QFETCH(QString, how);
    QFETCH(QString, command);
    QFETCH(QString, reason);
    ScriptedProgrammer programmer;
#ifdef Q_OS_WIN
    QString port = how; // the servo programmer is never reached
    if (how == QLatin1String("qt")) {
        SKIP_WITHOUT_TEST_LINE();
        if (underWine())
            QSKIP("Wine lets a second program open a COM port that one holds; Windows refuses it");
        QVERIFY(programmer.start());
        port = programmer.path();
    }
    if (how == QLatin1String("folder"))
        port = m_dir.path();
    QString listed; // a port that the refusal must list as present
    if (how == QLatin1String("listed")) {
        SKIP_WITHOUT_TEST_LINE();
        QVERIFY(programmer.start());
        listed = programmer.path();
        port = QStringLiteral("COM197");
    }
#else
    QVERIFY(programmer.start());
    QString port = programmer.path();
    QString listed; // a port that the refusal must list as present
#endif
    QSerialPort holder(port);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QTemporaryDir lockFolder;
    env.insert(QStringLiteral("SERVO_LOCK_DIR"), lockFolder.path());
    const QString lockFile = lockFolder.filePath("LCK.." + port.mid(5).replace('/', '_'));
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    if (how == QLatin1String("flock"))
        QVERIFY(::flock(fd, LOCK_EX) == 0);
    if (how == QLatin1String("chmod"))
        QVERIFY(::fchmod(fd, 0) == 0);
#endif
    if (how == QLatin1String("qt"))
        QVERIFY2(holder.open(QIODevice::ReadWrite), qPrintable(holder.errorString()));
    if (how == QLatin1String("uucp"))
        writeLockFile(lockFile, QCoreApplication::applicationPid());
    // A port that does not exist: the message lists those that do.
    QString announced;
    const auto withdraw = qScopeGuard([&announced] { withdrawSimulatorPort(announced); });
    if (how.startsWith(QLatin1String("missing"))) {
        announced = announceSimulatorPort(port);
        listed = programmer.path() + " (simulator)";
        port = m_dir.filePath(QStringLiteral("no-such-port"));
    }
    if (how == QLatin1String("bare"))
        port = QStringLiteral("no-such-servo");
    if (how == QLatin1String("file"))
        port = file(SampleLine);
    if (how == QLatin1String("/dev/null"))
        port = how;
    QStringList args{command, "--port", port};
    if (how == QLatin1String("missing-env")) {
        args = QStringList{command};
        env.insert(QStringLiteral("SERVO_PORT"), port);
    }
    if (command != QLatin1String("read"))
        args << file(SampleLine);
    const Result r = runCli(args, env);
    QCOMPARE(r.code, 4);
    QCOMPARE(r.out, QString());
    QString shown = how == QLatin1String("bare") ? "/dev/" + port : port;
    if (how == QLatin1String("missing-env"))
        shown += QLatin1String(" (from SERVO_PORT)");
    if (!listed.isEmpty())
        QVERIFY2(r.err.contains(QRegularExpression("; the ports present are .*" +
                                                   QRegularExpression::escape(listed))),
                 qPrintable(r.err));
    QVERIFY2(r.err.startsWith("servo-cli: cannot open the serial port " + shown + ": "),
             qPrintable(r.err));
    QVERIFY2(r.err.contains(QString(reason).replace(
                 "%PID", QString::number(QCoreApplication::applicationPid()))),
             qPrintable(r.err));
    QCOMPARE(programmer.received, QByteArray());
    if (how == QLatin1String("uucp")) {
        QVERIFY(r.err.contains(" (lock file " + lockFile + ")"));
        // The lock of a process that is gone is passed over and left alone.
        writeLockFile(lockFile, 999999999);
        QCOMPARE(runCli({"read", "--port", port}, env).code, 0);
        QVERIFY(QFile::exists(lockFile));
    }
}

void TestCli::twoOnOneLine()
{
    SKIP_WITHOUT_TEST_LINE();
    SKIP_ON_WINDOWS(
        "no second names (links) for ports and no flock; the busy port is in portUnavailable");
    // The first holds the port while it waits for a reply that never comes;
    // the second, through a link, must not send on the same line.
    ScriptedProgrammer programmer;
    programmer.silent = true;
    QVERIFY(programmer.start());
    const QString link = m_dir.filePath(QStringLiteral("servo-link"));
    QVERIFY(QFile::link(programmer.path(), link));
    QProcess first;
    first.setReadChannel(QProcess::StandardError);
    first.start(
        buildProgram(QStringLiteral("servo-cli")),
        {"read", "--port", programmer.path(), "--timeout", "1500", "--retries", "0", "--verbose"});
    QByteArray firstErr;
    while (!firstErr.contains("attempt 1") && first.waitForReadyRead(10000))
        firstErr += first.readAllStandardError();
    QVERIFY2(firstErr.contains("attempt 1"), firstErr.constData());
    // Lock files in a folder of its own: the flock alone must tell.
    QTemporaryDir lockFolder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SERVO_LOCK_DIR"), lockFolder.path());
    const Result second = runCli({"write", "--port", link, file(SampleLine)}, env);
    const qint64 firstPid = first.processId();
    QVERIFY(first.waitForFinished(10000));
    programmer.stop();
    QCOMPARE(first.exitCode(), 3);
    QCOMPARE(second.code, 4);
    QVERIFY2(second.err.startsWith("servo-cli: cannot open the serial port " + link + " (" +
                                   programmer.path() +
                                   "): "
                                   "the port is busy: process " +
                                   QString::number(firstPid) + " (servo-cli) holds it (flock)"),
             qPrintable(second.err));
    QCOMPARE(programmer.requests.size(), 1);
}

void TestCli::writeDoesNotTake_data()
{
    QTest::addColumn<bool>("storeStuck");
    QTest::addColumn<bool>("ackStuck");
    QTest::addColumn<QStringList>("row"); // Sensitivity: written, acknowledged, read back
    QTest::newRow("acknowledged, then lost") << true << false << QStringList{"2", "2", "7"};
    QTest::newRow("acknowledged as stored") << true << true << QStringList{"2", "7", "7"};
    QTest::newRow("stored, acknowledged wrongly") << false << true << QStringList{"2", "7", "2"};
}

void TestCli::writeDoesNotTake()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(bool, storeStuck);
    QFETCH(bool, ackStuck);
    QFETCH(QStringList, row);
    ScriptedProgrammer programmer;
    programmer.stuckField = Sensitivity;
    programmer.stuckValue = 7;
    programmer.storeStuck = storeStuck;
    programmer.ackStuck = ackStuck;
    QVERIFY(programmer.start());
    const QString path = file(SampleLine);
    const Result r = runCli({"write", "--port", programmer.path(), path});
    const Result unverified = runCli({"write", "--port", programmer.path(), "--no-verify", path});
    programmer.stop();
    QCOMPARE(r.code, 5);
    QVERIFY2(r.out.startsWith(QLatin1String("Parameter    Written  Acknowledged  Read back\n")),
             qPrintable(r.out));
    const QMap<QString, QStringList> rows = tableRows(r.out);
    QCOMPARE(rows.keys(), QStringList{"Sensitivity"});
    QCOMPARE(rows.value("Sensitivity"), row);
    QVERIFY2(r.err.contains(QLatin1String("1 of 14 fields differ")), qPrintable(r.err));
    // Without verification the acknowledgement alone is enough.
    QCOMPARE(unverified.code, 0);
    QCOMPARE(unverified.out, QString());
    // The write frames carried the file's values.
    QVERIFY(!programmer.requests.isEmpty());
    QCOMPARE(decodeFrame(programmer.requests.first()).values, sampleValues());
    QVERIFY(decodeFrame(programmer.requests.first()).flags & Flag::Write);
}

void TestCli::otherFramesSkipped()
{
    SKIP_WITHOUT_TEST_LINE();
    ScriptedProgrammer programmer;
    programmer.decoys = true;
    QVERIFY(programmer.start());
    const Result written = runCli({"write", "--port", programmer.path(), file(SampleLine)});
    const Result read = runCli({"read", "--port", programmer.path(), "--json"});
    programmer.stop();
    QVERIFY2(written.code == 0, qPrintable(written.err));
    QCOMPARE(read.code, 0);
    Values values{};
    QVERIFY(valuesFromJson(read.out, &values));
    QCOMPARE(values, sampleValues());
}

void TestCli::readOutOfRange()
{
    SKIP_WITHOUT_TEST_LINE();
    ScriptedProgrammer programmer;
    programmer.block = sampleValues();
    programmer.block[Sensitivity] = 100;
    programmer.block[MAXDuty] = 1000;
    QVERIFY(programmer.start());
    const QString saved = m_dir.filePath(QStringLiteral("out-of-range.txt"));
    const Result r = runCli({"read", "--port", programmer.path()});
    const Result json = runCli({"read", "--port", programmer.path(), "--json", "--out", saved});
    programmer.stop();
    QCOMPARE(r.code, 0);
    const QMap<QString, QStringList> rows = tableRows(r.out);
    QCOMPARE(rows.value("Sensitivity").value(1), QStringLiteral("100"));
    QCOMPARE(rows.value("MAX Duty").value(1), QStringLiteral("1000"));
    QCOMPARE(
        r.err,
        QStringLiteral(
            "servo-cli: warning: the servo reports Sensitivity 100, outside its range 0..50\n"
            "servo-cli: warning: the servo reports MAX Duty 1000, outside its range 0..399\n"));
    // JSON and the saved file carry the values as received.
    QCOMPARE(json.code, 0);
    Values values{};
    QVERIFY(valuesFromJson(json.out, &values));
    QCOMPARE(values, programmer.block);
    QCOMPARE(readParameterFile(saved).values, programmer.block);
}

void TestCli::roundTrip()
{
    SKIP_WITHOUT_TEST_LINE();
    // Window format: one line, no line end.
    const QString original = file(SampleLine);
    QCOMPARE(runCli({"show", original}).code, 0);
    SimulatorProcess sim;
    QVERIFY(sim.start({}));
    const QString port = sim.portName();

    const Result before = runCli({"diff", "--port", port, original});
    QCOMPARE(before.code, 5);
    QCOMPARE(tableRows(before.out).size(), 12);
    QCOMPARE(tableRows(before.out).value("Torque Gain"), QStringList({"0", "100"}));
    QVERIFY(!tableRows(before.out).contains("Neutral Point")); // 1500 on both sides
    QVERIFY(!tableRows(before.out).contains("Soft Start")); // off on both sides

    const Result written = runCli({"write", "--port", port, original});
    QVERIFY2(written.code == 0, qPrintable(written.err));

    const QString copy = m_dir.filePath(QStringLiteral("copy.txt"));
    const Result read = runCli({"read", "--port", port, "--out", copy});
    QCOMPARE(read.code, 0);
    QCOMPARE(read.out, QString());
    QFile f(copy);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), SampleLine);

    const Result same = runCli({"diff", "--port", port, copy});
    QCOMPARE(same.code, 0);
    QCOMPARE(same.out, QString());

    const Result changed =
        runCli({"diff", "--port", port, file("100,50,20,10,900,2100,2,1500,399,128,127,1,1,1")});
    QCOMPARE(changed.code, 5);
    QCOMPARE(changed.out,
             QStringLiteral("Parameter                Servo  File\n"
                            "Right Angle Coefficient    128   127\n"
                            "Soft Start                 off    on\n"));

    const Result unwritable =
        runCli({"read", "--port", port, "--out", m_dir.filePath("no-dir/x.txt")});
    QCOMPARE(unwritable.code, 7);
    QVERIFY(unwritable.err.contains(QLatin1String("cannot write")));
}

void TestCli::jsonBothWays()
{
    SKIP_WITHOUT_TEST_LINE();
    SimulatorProcess sim;
    QVERIFY(sim.start({}));
    const QString port = sim.portName();
    const QString backup = m_dir.filePath(QStringLiteral("backup.txt"));
    const QString json = file(ServoCli::formatJson(sampleValues()).toUtf8());
    const Result written = runCli({"write", "--port", port, "--json", "--backup", backup, json});
    QVERIFY2(written.code == 0, qPrintable(written.err));
    QCOMPARE(QJsonDocument::fromJson(written.out.toUtf8()).object().value("verified"),
             QJsonValue(true));
    QCOMPARE(readParameterFile(backup).values, startValues()); // the block before the write

    const QString readBack = file(runCli({"read", "--port", port, "--json"}).out.toUtf8());
    const Result same = runCli({"diff", "--port", port, "--json", readBack});
    QCOMPARE(same.code, 0);
    QCOMPARE(QJsonDocument::fromJson(same.out.toUtf8()).object().value("agree"), QJsonValue(true));
    const Result shown = runCli({"show", "--json", readBack});
    QCOMPARE(shown.out, ServoCli::formatJson(sampleValues()));
    const Result line = runCli({"read", "--port", port, "--out", "-"});
    QCOMPARE(line.out, QString::fromLatin1(SampleLine + '\n'));
    const Result bad = runCli({"write", "--port", port, file("{\"TorqueGain\": 1}")});
    QCOMPARE(bad.code, 6);
    QVERIFY2(bad.err.contains("keys missing: BrakeGain, IntegralGain"), qPrintable(bad.err));
}

void TestCli::getSetBackup()
{
    SKIP_WITHOUT_TEST_LINE();
    SimulatorProcess sim;
    QVERIFY(sim.start({}));
    // The port from the environment; ports lists the simulator.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SERVO_PORT"), sim.portName());
#ifdef Q_OS_WIN // a COM port among the system's ports
    QVERIFY(runCli({"ports"}).out.contains(
        QRegularExpression("^" + sim.portName() + " ", QRegularExpression::MultilineOption)));
#else
    QVERIFY(runCli({"ports"}).out.contains(sim.portName() + "  servo-sim"));
#endif
    const QString backup = m_dir.filePath(QStringLiteral("before-set.txt"));
    // Names: the key or the caption, in any case, spaces ignored.
    const Result set =
        runCli({"set", "sensitivity=7", "SoftStart=on", "max duty=0399", "--backup", backup}, env);
    QVERIFY2(set.code == 0, qPrintable(set.err));
    QCOMPARE(readParameterFile(backup).values, startValues());
    const Result get = runCli({"get", "SOFTSTART", "Sensitivity", "MAXDuty", "Torque Gain"}, env);
    QCOMPARE(get.code, 0);
    QCOMPARE(get.out, QStringLiteral("SoftStart=on\nSensitivity=7\nMAXDuty=399\nTorqueGain=0\n"));
    const Result outside = runCli({"set", "Sensitivity=51"}, env);
    QCOMPARE(outside.code, 6);
    QCOMPARE(outside.err,
             QStringLiteral("servo-cli: Sensitivity=51 is outside 0..50; nothing was sent\n"));
    QCOMPARE(runCli({"get", "Sensitivity"}, env).out, QStringLiteral("Sensitivity=7\n"));
    const Result json = runCli({"get", "--json", "softStart", "TorqueGain"}, env);
    QCOMPARE(json.out, QStringLiteral("{\n  \"SoftStart\": true,\n  \"TorqueGain\": 0\n}\n"));
    // Neither --port nor SERVO_PORT: the simulator, whatever built-in ports
    // the machine has, unless it has a USB adapter of its own.
    env.remove(QStringLiteral("SERVO_PORT"));
    const Result chosen = runCli({"get", "Sensitivity"}, env);
    if (!chosen.err.contains(QLatin1String("USB adapter"))) {
        QCOMPARE(chosen.err,
                 "servo-cli: using " + sim.portName() +
                     ", the only simulator running (no USB adapter is present)\n");
        QCOMPARE(chosen.out, QStringLiteral("Sensitivity=7\n"));
        QCOMPARE(chosen.code, 0);
    }
}

void TestCli::program()
{
    SKIP_WITHOUT_TEST_LINE();
    // Three servos; the second does not keep Sensitivity.
    ScriptedProgrammer programmer;
    programmer.stuckField = Sensitivity;
    programmer.stuckValue = 7;
    QVERIFY(programmer.start());
    const QString log = m_dir.filePath(QStringLiteral("batch.csv"));
    const QString values = file(SampleLine);
    QProcess cli;
    withoutConsole(&cli);
    cli.start(buildProgram(QStringLiteral("servo-cli")),
              {"program", "--port", programmer.path(), values, "--log", log, "--verbose"});
    QString out;
    auto waitFor = [&](const QString &text) {
        while (!out.contains(text) && cli.waitForReadyRead(10000))
            out += outputText(cli);
        return out.contains(text);
    };
    cli.write("\n"); // the first servo is attached
    QVERIFY2(waitFor("servo 1: verified\n"), qPrintable(out));
    programmer.storeStuck = true;
    cli.write("\n");
    QVERIFY2(waitFor("servo 2: FAILED, fields that did not take: Sensitivity\n"), qPrintable(out));
    programmer.storeStuck = false;
    cli.write("\n");
    QVERIFY2(waitFor("servo 3: verified\n"), qPrintable(out));
    cli.write("q\n");
    QVERIFY(cli.waitForFinished(10000));
    out += outputText(cli);
    programmer.stop();
    QCOMPARE(cli.exitCode(), 5);
    QVERIFY2(out.endsWith("servo 3: verified\nprogrammed 2, failed 1\n"), qPrintable(out));
    QFile csv(log);
    QVERIFY(csv.open(QIODevice::ReadOnly | QIODevice::Text)); // CR LF on Windows
    const QStringList rows = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 4);
    QVERIFY2(rows.at(0).startsWith("time,port,result,TorqueGain,"), qPrintable(rows.at(0)));
    QVERIFY2(rows.at(0).endsWith(",LOCKProtection,servo,job,seconds"), qPrintable(rows.at(0)));
    Values stuck = sampleValues();
    stuck[Sensitivity] = 7;
    QStringList cells = rows.at(2).split(',');
    QCOMPARE(cells.mid(1, 2), QStringList({programmer.path(), "differs"}));
    QCOMPARE(cells.mid(3, 14).join(','), formatParameterLine(stuck));
    // The servo's number, the job's fingerprint, the seconds of its attempt.
    QCOMPARE(cells.mid(17, 2), QStringList({"2", jobFingerprint(sampleValues())}));
    QVERIFY2(QRegularExpression("^\\d+\\.\\d{3}$").match(cells.value(19)).hasMatch(),
             qPrintable(rows.at(2)));
    QCOMPARE(rows.at(3).section(',', 2, 16), "verified," + QString::fromLatin1(SampleLine));
    QCOMPARE(rows.at(3).section(',', 17, 17), "3");

    // Every servo verified, and the end of the input stops the run.
    QVERIFY(programmer.start());
    QProcess again;
    withoutConsole(&again);
    again.start(buildProgram(QStringLiteral("servo-cli")),
                {"program", "--port", programmer.path(), values});
    again.write("\n");
    again.closeWriteChannel();
    QVERIFY(again.waitForFinished(10000));
    programmer.stop();
    QCOMPARE(again.exitCode(), 0);
    QCOMPARE(outputText(again), QStringLiteral("servo 1: verified\nprogrammed 1, failed 0\n"));

    // A servo that does not answer fails; the log gets a row without values
    // and no second header.
    programmer.silent = true;
    QVERIFY(programmer.start());
    QProcess silent;
    withoutConsole(&silent);
    silent.start(buildProgram(QStringLiteral("servo-cli")),
                 {"program", "--port", programmer.path(), values, "--log", log, "--timeout", "100",
                  "--retries", "0"});
    silent.write("\n");
    silent.closeWriteChannel();
    QVERIFY(silent.waitForFinished(10000));
    programmer.stop();
    QCOMPARE(silent.exitCode(), 5);
    QCOMPARE(outputText(silent),
             QStringLiteral("servo 1: FAILED, no reply\nprogrammed 0, failed 1\n"));
    QVERIFY(csv.seek(0));
    const QStringList appended = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(appended.mid(0, 4), rows);
    QCOMPARE(appended.size(), 5);
    QCOMPARE(appended.at(4).section(',', 1, 16),
             programmer.path() + ",no reply" + QString(14, ','));
}

void TestCli::programAnswers_data()
{
    QTest::addColumn<QByteArray>("answers"); // typed ahead; then the input ends
    QTest::addColumn<int>("stuckWrites"); // the first writes do not keep Sensitivity
    QTest::addColumn<int>("lostReadBacks"); // reads after the first write left unanswered
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("logged"); // the result of each row
    QTest::addColumn<int>("askedAgain");
    QTest::addColumn<int>("code");
    const QString failed = QStringLiteral("FAILED, fields that did not take: Sensitivity\n");
    QTest::newRow("retry a failed servo")
        << QByteArray("\nr\nq\n") << 1 << 0
        << "servo 1: " + failed + "servo 1: verified\nprogrammed 1, failed 0\n"
        << QStringList{"verified"} << 0 << 0;
    QTest::newRow("retried in vain, then the next") << QByteArray("\nR\n\n") << 2 << 0
                                                    << "servo 1: " + failed + "servo 1: " + failed +
            "servo 2: verified\nprogrammed 1, failed 1\n"
                                                    << QStringList{"differs", "verified"} << 0 << 5;
    QTest::newRow("wrong keys ask again")
        << QByteArray("x\n\nquit\nr x\n \nq\n") << 0 << 0
        << "servo 1: verified\nservo 2: verified\nprogrammed 2, failed 0\n"
        << QStringList{"verified", "verified"} << 3 << 0;
    QTest::newRow("nothing to retry before the first servo")
        << QByteArray("r\nq\n") << 0 << 0 << "programmed 0, failed 0\n"
        << QStringList{} << 1 << 0;
    QTest::newRow("the input ends at the first prompt")
        << QByteArray() << 0 << 0 << "programmed 0, failed 0\n"
        << QStringList{} << 0 << 0;
    // Three attempts at the read-back, none answered: the servo was written.
    QTest::newRow("written, read-back lost")
        << QByteArray("\nq\n") << 0 << 3
        << "servo 1: FAILED, written and acknowledged, but the read-back got no reply: not "
           "verified\nprogrammed 0, failed 1\n"
        << QStringList{"acknowledged only"} << 0 << 5;
}

void TestCli::programAnswers()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(QByteArray, answers);
    QFETCH(int, stuckWrites);
    QFETCH(int, lostReadBacks);
    QFETCH(QString, out);
    QFETCH(QStringList, logged);
    QFETCH(int, askedAgain);
    QFETCH(int, code);
    ScriptedProgrammer programmer;
    programmer.stuckField = Sensitivity;
    programmer.stuckValue = 7;
    programmer.stuckWrites = stuckWrites;
    programmer.lostReadBacks = lostReadBacks;
    QVERIFY(programmer.start());
    const QString log = m_dir.filePath(QStringLiteral("answers%1.csv").arg(++m_files));
    QProcess cli;
    withoutConsole(&cli);
    cli.start(buildProgram(QStringLiteral("servo-cli")),
              {"program", "--port", programmer.path(), file(SampleLine), "--log", log});
    cli.write(answers);
    cli.closeWriteChannel();
    QVERIFY(cli.waitForFinished(20000));
    programmer.stop();
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(outputText(cli), out);
    QCOMPARE(cli.exitCode(), code);
    QCOMPARE(err.count(QLatin1String("is not an answer")), askedAgain);
    // Programmed as often as the output says, and one row per servo.
    int writes = 0;
    for (const QByteArray &request : qAsConst(programmer.requests))
        writes += decodeFrame(request).flags & Flag::Write ? 1 : 0;
    QCOMPARE(writes, out.count(QLatin1String(": verified")) + out.count(QLatin1String(": FAILED")));
    QFile csv(log);
    QVERIFY(csv.open(QIODevice::ReadOnly | QIODevice::Text)); // CR LF on Windows
    QStringList rows = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(!rows.isEmpty() && rows.takeFirst().startsWith(QLatin1String("time,port,result,")));
    QStringList results;
    for (const QString &row : qAsConst(rows))
        results << row.section(',', 2, 2);
    QCOMPARE(results, logged);
}

void TestCli::programInterrupted_data()
{
    QTest::addColumn<bool>("duringWrite"); // else at the prompt after servo 1
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("logged"); // the result in the last row
    QTest::newRow("Ctrl-C at the prompt") << false << "INT"
                                          << "servo 1: verified\nprogrammed 1, failed 0\n"
                                          << "verified";
    QTest::newRow("Ctrl-C during a write")
        << true << "INT"
        << "servo 1: INTERRUPTED\nprogrammed 0, failed 0, interrupted 1\n"
        << "interrupted";
    QTest::newRow("SIGTERM during a write")
        << true << "TERM"
        << "servo 1: INTERRUPTED\nprogrammed 0, failed 0, interrupted 1\n"
        << "interrupted";
    QTest::newRow("SIGHUP during a write")
        << true << "HUP"
        << "servo 1: INTERRUPTED\nprogrammed 0, failed 0, interrupted 1\n"
        << "interrupted";
}

void TestCli::programInterrupted()
{
    QFETCH(bool, duringWrite);
    QFETCH(QString, signal);
    QFETCH(QString, out);
    QFETCH(QString, logged);
#ifdef Q_OS_WIN
    // Ctrl-C is CTRL_C_EVENT, sent to servo-cli's own process group.
    if (signal != QLatin1String("INT"))
        QSKIP("Windows has no SIGTERM or SIGHUP to send");
    if (!duringWrite)
        QSKIP("a console event does not end a read of a pipe, which standard input is here");
    SKIP_WITHOUT_TEST_LINE();
#endif
    ScriptedProgrammer programmer;
    programmer.silent = duringWrite;
    QVERIFY(programmer.start());
    const QString log = m_dir.filePath(QStringLiteral("interrupted%1.csv").arg(++m_files));
    QProcess cli;
#ifdef Q_OS_WIN
    startInOwnProcessGroup(cli);
#endif
    // A time-out far longer than the test waits: only the signal ends the write.
    cli.start(buildProgram(QStringLiteral("servo-cli")),
              {"program", "--port", programmer.path(), file(SampleLine), "--log", log, "--timeout",
               "600000", "--retries", "0", "--verbose"});
    QString stdoutText;
    QString stderrText;
    auto waitFor = [&](const QString *text, const QString &what) {
        QElapsedTimer clock;
        clock.start();
        while (!text->contains(what) && clock.elapsed() < 20000) {
            cli.waitForReadyRead(100);
            stdoutText += QString::fromUtf8(cli.readAllStandardOutput());
            stderrText += QString::fromUtf8(cli.readAllStandardError());
        }
        return text->contains(what);
    };
    QVERIFY2(waitFor(&stderrText, "Attach servo 1"), qPrintable(stderrText));
    cli.write("\n");
    if (duringWrite)
        QVERIFY2(waitFor(&stderrText, "attempt 1 of 1: sending"), qPrintable(stderrText));
    else
        QVERIFY2(waitFor(&stderrText, "Attach servo 2"), qPrintable(stderrText));
#ifdef Q_OS_WIN
    QVERIFY(sendConsoleEvent(cli, CTRL_C_EVENT));
#else
    const int number = signal == QLatin1String("INT") ? SIGINT
        : signal == QLatin1String("HUP")              ? SIGHUP
                                                      : SIGTERM;
    QCOMPARE(::kill(pid_t(cli.processId()), number), 0);
#endif
    QVERIFY(cli.waitForFinished(20000));
    programmer.stop();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 130);
    stdoutText += QString::fromUtf8(cli.readAllStandardOutput());
    QCOMPARE(stdoutText.replace(QLatin1String("\r\n"), QLatin1String("\n")), out);
    QFile csv(log);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(1).section(',', 2, 2), logged);
    // The servo was written either way.
    QVERIFY(!programmer.requests.isEmpty());
    QVERIFY(decodeFrame(programmer.requests.first()).flags & Flag::Write);
}

void TestCli::defaultPort_data()
{
    QTest::addColumn<QStringList>("ports"); // "usb:" an adapter, "sim:" a simulator
    QTest::addColumn<QString>("chosen"); // empty: none
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("built-in port, USB adapter, simulator")
        << QStringList{"ttyS0", "usb:ttyUSB0", "sim:/dev/pts/7"} << "ttyUSB0" << 0
        << "using ttyUSB0 (USB Serial, 0403:6001), the only USB adapter present";
    QTest::newRow("built-in port, simulator")
        << QStringList{"COM1", "sim:/dev/pts/7"} << "/dev/pts/7" << 0
        << "using /dev/pts/7, the only simulator running";
    QTest::newRow("built-in ports only") << QStringList{"ttyS0", "ttyS1"} << "" << 4
                                         << "no USB adapter or simulator is present (is the "
                                            "programmer plugged in?); ttyS0, ttyS1 are not chosen";
    QTest::newRow("two USB adapters")
        << QStringList{"usb:ttyUSB0", "ttyS0", "usb:ttyUSB1", "sim:/dev/pts/7"} << "" << 2
        << "2 USB adapters are present: ttyUSB0 (USB adapter), ttyUSB1 (USB adapter); "
           "choose one with --port";
    QTest::newRow("two simulators")
        << QStringList{"sim:/dev/pts/7", "ttyS0", "sim:/dev/pts/8"} << "" << 2
        << "2 simulators are present: /dev/pts/7 (simulator), /dev/pts/8 (simulator)";
    QTest::newRow("two simulators with links")
        << QStringList{"sim:/dev/pts/7=/tmp/servo", "sim:/dev/pts/8=/tmp/slow"} << "" << 2
        << "2 simulators are present: /dev/pts/7 (simulator /tmp/servo), /dev/pts/8 (simulator "
           "/tmp/slow); choose one with --port";
    QTest::newRow("no port") << QStringList{} << "" << 4 << "no serial port is present";
}

void TestCli::defaultPort()
{
    QFETCH(QStringList, ports);
    QFETCH(QString, chosen);
    QFETCH(int, code);
    QFETCH(QString, message);
    QVector<Servo::PresentPort> rows;
    for (const QString &port : qAsConst(ports)) {
        Servo::PresentPort row;
        row.name = port.section(':', -1).section('=', 0, 0); // "=LINK": the simulator's link
        row.link = port.section('=', 1);
        row.usb = port.startsWith(QLatin1String("usb:"));
        row.simulator = port.startsWith(QLatin1String("sim:"));
        if (row.usb) {
            row.description = QStringLiteral("USB Serial");
            row.hasIds = true;
            row.vendorId = 0x403;
            row.productId = 0x6001;
        }
        rows << row;
    }
    const ServoCli::PortChoice choice = ServoCli::choosePort(rows);
    QCOMPARE(choice.index >= 0 ? rows.at(choice.index).name : QString(), chosen);
    QCOMPARE(choice.code, code);
    QVERIFY2(choice.message.contains(message), qPrintable(choice.message));
    // A port that does not exist is told together with those that do.
    QCOMPARE(ServoCli::presentPortsSentence(rows),
             rows.isEmpty() ? QStringLiteral("no serial port is present")
                            : "the ports present are " + ServoCli::portNames(rows));
}

void TestCli::backupFails()
{
    SKIP_WITHOUT_TEST_LINE();
    ScriptedProgrammer programmer;
    QVERIFY(programmer.start());
    const QString backup = m_dir.filePath(QStringLiteral("no-dir/backup.txt"));
    const Result write =
        runCli({"write", "--port", programmer.path(), "--backup", backup, file(SampleLine)});
    const Result set =
        runCli({"set", "--port", programmer.path(), "--backup", backup, "SoftStart=on"});
    programmer.stop();
    for (const Result &r : {write, set}) {
        QCOMPARE(r.code, 7);
        QVERIFY2(r.err.contains("cannot save the backup " + backup), qPrintable(r.err));
    }
    // Two reads, nothing written.
    QCOMPARE(programmer.requests.size(), 2);
    for (const QByteArray &request : programmer.requests)
        QVERIFY(!(decodeFrame(request).flags & Flag::Write));
}

void TestCli::refusedTargets_data()
{
    // %PORT the programmer, %JOB a parameter file, %TARGET the name made as
    // the target column says: a named pipe, a device (mknod, a copy of
    // /dev/null), the job file itself, or a link to one of these.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    const QStringList read{"read", "--port", "%PORT", "--out", "%TARGET"};
    const QStringList write{"write", "--port", "%PORT", "--backup", "%TARGET", "%JOB"};
    const QStringList set{"set", "--port", "%PORT", "--backup", "%TARGET", "SoftStart=on"};
    const QStringList program{"program", "--port", "%PORT", "%JOB", "--log", "%TARGET"};
    const QString pipe = QStringLiteral("a named pipe, not a regular file; nothing was sent");
    const QString device =
        QStringLiteral("a character device, not a regular file; nothing was sent");
    QTest::newRow("--out onto a named pipe")
        << read << "pipe" << 7 << "cannot write %TARGET: " + pipe;
    QTest::newRow("--out onto a device")
        << read << "device" << 7 << "cannot write %TARGET: " + device;
    QTest::newRow("--out through a link to a device")
        << read << "link:device" << 7 << "cannot write %TARGET: " + device;
    QTest::newRow("--backup onto a named pipe")
        << write << "pipe" << 7 << "cannot save the backup %TARGET: " + pipe;
    QTest::newRow("--backup onto a device, set")
        << set << "device" << 7 << "cannot save the backup %TARGET: " + device;
    QTest::newRow("--backup onto the same file")
        << write << "job" << 2 << "--backup %TARGET is the file to write; choose another name";
    QTest::newRow("--backup through a link to the same file")
        << write << "link:job" << 2
        << "--backup %TARGET is the file to write, %JOB; choose another name";
    QTest::newRow("--backup onto a hard link to the same file")
        << write << "hard:job" << 2
        << "--backup %TARGET is the file to write, %JOB; choose another name";
    QTest::newRow("--log onto a named pipe")
        << program << "pipe" << 7 << "cannot write the log %TARGET: " + pipe;
    QTest::newRow("--log onto a device")
        << program << "device" << 7 << "cannot write the log %TARGET: " + device;
    QTest::newRow("--log onto the parameter file")
        << program << "job" << 7
        << "%TARGET is not a servo-cli log: its first line is not "
           "\"time,port,result,TorqueGain,...\"";
}

// What servo-cli is told to write is refused before anything is sent when
// it would replace or feed something other than a regular file of its own,
// and what was there stays as it was.
void TestCli::refusedTargets()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(QStringList, args);
    QFETCH(QString, target);
    QFETCH(int, code);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString job = writeJob(dir);
    QVERIFY(!job.isEmpty());
    const QString kind = target.section(QLatin1Char(':'), -1);
    QString node = kind == QLatin1String("job") ? job : dir.filePath("node.txt");
    std::unique_ptr<PipeWatch> watch;
    MAKE_PIPE_OR_DEVICE(kind, node, watch);
    QString name = node;
    if (target.contains(QLatin1Char(':'))) {
#ifdef Q_OS_WIN
        QSKIP("links need a privilege on Windows");
#else
        name = dir.filePath("link.txt");
        const QByteArray from = QFile::encodeName(node), to = QFile::encodeName(name);
        QCOMPARE(target.startsWith(QLatin1String("hard:"))
                     ? ::link(from.constData(), to.constData())
                     : ::symlink(from.constData(), to.constData()),
                 0);
#endif
    }
    const QString before = nodeKind(node);
    const QStringList entries = allEntries(dir.path());

    ScriptedProgrammer programmer;
    QVERIFY(programmer.start());
    for (QString &a : args)
        a.replace("%PORT", programmer.path()).replace("%JOB", job).replace("%TARGET", name);
    const Result r = runCli(args);
    if (watch)
        QCOMPARE(watch->opened(), 0);
    programmer.stop();
    QVERIFY2(r.code == code, qPrintable(QStringLiteral("exit %1: %2").arg(r.code).arg(r.err)));
    message.replace("%JOB", job).replace("%TARGET", name);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QCOMPARE(programmer.received, QByteArray());
    QCOMPARE(nodeKind(node), before);
    QCOMPARE(allEntries(dir.path()), entries);
    QFile f(job);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), SampleLine);
}

void TestCli::existingBackup_data()
{
    QTest::addColumn<QString>("backup");
    QTest::addColumn<QStringList>("names"); // of the first, second and third backup
    QTest::newRow("before.txt") << "before.txt"
                                << QStringList{"before.txt", "before-1.txt", "before-2.txt"};
    QTest::newRow("no extension") << "before" << QStringList{"before", "before-1", "before-2"};
    QTest::newRow("two dots") << "servo.old.txt"
                              << QStringList{"servo.old.txt", "servo.old-1.txt", "servo.old-2.txt"};
    QTest::newRow("hidden name") << ".before" << QStringList{".before", ".before-1", ".before-2"};
    QTest::newRow("percent signs")
        << "b%2%3.txt" << QStringList{"b%2%3.txt", "b%2%3-1.txt", "b%2%3-2.txt"};
}

// Running write --backup twice, then set --backup, keeps every backup: the
// first one holds the servo's original values.
void TestCli::existingBackup()
{
    SKIP_WITHOUT_TEST_LINE();
    QFETCH(QString, backup);
    QFETCH(QStringList, names);
    QTemporaryDir dir;
    const QString job = writeJob(dir);
    QVERIFY(!job.isEmpty());
    SimulatorProcess sim;
    QVERIFY(sim.start({}));
    const QString given = dir.filePath(backup);
    const QList<QStringList> runs{
        {"write", "--port", sim.portName(), "--backup", given, job},
        {"write", "--port", sim.portName(), "--backup", given, job},
        {"set", "--port", sim.portName(), "--backup", given, "SoftStart=on"}};
    for (int n = 0; n < runs.size(); ++n) {
        const Result r = runCli(runs.at(n));
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QString saved = dir.filePath(names.at(n));
        const QString said = n == 0
            ? QStringLiteral("saved the servo's parameters to %1 before writing\n").arg(saved)
            : QStringLiteral("saved the servo's parameters to %1 before writing (%2 exists "
                             "already and was kept)\n")
                  .arg(saved, given);
        QVERIFY2(r.err.startsWith("servo-cli: " + said), qPrintable(r.err));
    }
    QCOMPARE(readParameterFile(dir.filePath(names.at(0))).values, startValues());
    QCOMPARE(readParameterFile(dir.filePath(names.at(1))).values, sampleValues());
    QCOMPARE(readParameterFile(dir.filePath(names.at(2))).values, sampleValues());
    QStringList expected = names;
    expected << "job.txt";
    expected.sort();
    QCOMPARE(allEntries(dir.path()), expected);
}

void TestCli::benchEvent_data()
{
    QTest::addColumn<BenchEvent>("event");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("json");
    BenchEvent e;
    e.time = QDateTime(QDate(2026, 12, 9), QTime(10, 0, 0, 123), Qt::UTC);
    e.port = QStringLiteral("/dev/ttyUSB0");
    e.servo = 2;
    const QString t = QStringLiteral("2026-12-09T10:00:00.123Z  /dev/ttyUSB0  ");
    const QString j =
        QStringLiteral(R"({"time":"2026-12-09T10:00:00.123Z","port":"/dev/ttyUSB0",)");
    QTest::newRow("arrived") << e << t + "servo 2  arrived"
                             << j +
            R"("event":"arrived","servo":2,"result":null,"reason":null,"seconds":null})";
    e.kind = BenchEvent::Verified;
    e.result = QStringLiteral("verified");
    e.elapsedMs = 532;
    QTest::newRow("verified") << e << t + "servo 2  verified  0.532 s"
                              << j +
            R"("event":"verified","servo":2,"result":"verified","reason":null,"seconds":0.532})";
    e.kind = BenchEvent::Failed;
    e.result = QStringLiteral("differs");
    e.reason = QStringLiteral("fields that did not take: Sensitivity");
    e.elapsedMs = 1532;
    QTest::newRow("failed") << e
                            << t +
            "servo 2  failed  differs: fields that did not take: Sensitivity  1.532 s"
                            << j +
            R"("event":"failed","servo":2,"result":"differs","reason":"fields that did not take: Sensitivity","seconds":1.532})";
    e.kind = BenchEvent::Interrupted;
    e.result = QStringLiteral("interrupted");
    e.reason = QStringLiteral("stopped during the write");
    e.elapsedMs = 61000;
    QTest::newRow("interrupted") << e
                                 << t + "servo 2  interrupted  stopped during the write  61.000 s"
                                 << j +
            R"("event":"interrupted","servo":2,"result":"interrupted","reason":"stopped during the write","seconds":61})";
    BenchEvent port;
    port.time = e.time;
    port.port = QStringLiteral("COM3 \"x\\y\"");
    const QString jp =
        QStringLiteral(R"({"time":"2026-12-09T10:00:00.123Z","port":"COM3 \"x\\y\"",)");
    // A port event has no servo; a port name with a quote and a backslash is
    // escaped in JSON.
    port.kind = BenchEvent::PortLost;
    QTest::newRow("port lost") << port << "2026-12-09T10:00:00.123Z  COM3 \"x\\y\"  port lost"
                               << jp +
            R"("event":"port lost","servo":null,"result":null,"reason":null,"seconds":null})";
}

// An event as a line and as a JSON object; the JSON's keys in their order,
// "job" last.
void TestCli::benchEvent()
{
    QFETCH(BenchEvent, event);
    QFETCH(QString, line);
    QFETCH(QString, json);
    QCOMPARE(ServoCli::formatBenchEvent(event), line);
    const QString text = ServoCli::formatBenchEventJson(event, QStringLiteral("e5be5e12"));
    QVERIFY2(!text.contains('\n'), qPrintable(text));
    QJsonParseError error;
    const QJsonObject got = QJsonDocument::fromJson(text.toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(text));
    const QJsonObject expected = QJsonDocument::fromJson(json.toUtf8()).object();
    QVERIFY(!expected.isEmpty());
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QVERIFY2(got.value(it.key()) == it.value(), qPrintable(it.key() + ": " + text));
    QCOMPARE(got.value("job").toString(), QStringLiteral("e5be5e12"));
    QCOMPARE(got.size(), 8);
    int at = -1;
    for (const char *key :
         {"time", "event", "port", "servo", "result", "reason", "seconds", "job"}) {
        const int next = text.indexOf(QStringLiteral("\"%1\":").arg(QLatin1String(key)));
        QVERIFY2(next > at, key);
        at = next;
    }
}

void TestCli::benchStatus_data()
{
    QTest::addColumn<QVector<SlotStatus>>("statuses");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QStringList>("block");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("json");
    SlotStatus a;
    a.port = QStringLiteral("/dev/ttyUSB0");
    a.state = SlotState::Empty;
    a.verified = 12;
    a.alreadyHeld = 1;
    a.lastResult = QStringLiteral("verified");
    a.lastElapsedMs = 532;
    SlotStatus b;
    b.port = QStringLiteral("/dev/ttyUSB10");
    b.state = SlotState::Failed;
    b.failed = 1;
    b.lastResult = QStringLiteral("pulled");
    b.lastReason = QStringLiteral("the servo stopped answering");
    b.lastElapsedMs = 610;
    SlotStatus c;
    c.port = QStringLiteral("COM7");
    c.state = SlotState::PortLost;
    const QString total = QStringLiteral("total: verified 12, already held 1, failed 1\n");
    QTest::newRow("three ports")
        << QVector<SlotStatus>{a, b, c} << 0
        << QStringList{"job e5be5e12: verified 12, already held 1, failed 1 (3 ports)",
                       "/dev/ttyUSB0   empty         12 verified  1 held  0 failed  last: verified "
                       "in 0.532 s",
                       "/dev/ttyUSB10  failed         0 verified  0 held  1 failed  last: pulled "
                       "(the servo "
                       "stopped answering) in 0.610 s",
                       "COM7           adapter gone   0 verified  0 held  0 failed"}
        << "/dev/ttyUSB0: verified 12, already held 1, failed 0\n"
           "/dev/ttyUSB10: verified 0, already held 0, failed 1\n"
           "COM7: verified 0, already held 0, failed 0\n" +
            total
        << R"({"event":"summary","job":"e5be5e12","verified":12,"alreadyHeld":1,"failed":1,"ports":[)"
           R"({"port":"/dev/ttyUSB0","verified":12,"alreadyHeld":1,"failed":0},)"
           R"({"port":"/dev/ttyUSB10","verified":0,"alreadyHeld":0,"failed":1},)"
           R"({"port":"COM7","verified":0,"alreadyHeld":0,"failed":0}]})";
    QTest::newRow("cut to a narrow terminal")
        << QVector<SlotStatus>{a} << 21
        << QStringList{"job e5be5e12: verifi", "/dev/ttyUSB0  empty "}
        << "/dev/ttyUSB0: verified 12, already held 1, failed 0\n"
           "total: verified 12, already held 1, failed 0\n"
        << R"({"event":"summary","job":"e5be5e12","verified":12,"alreadyHeld":1,"failed":0,"ports":[)"
           R"({"port":"/dev/ttyUSB0","verified":12,"alreadyHeld":1,"failed":0}]})";
    QTest::newRow("no port yet")
        << QVector<SlotStatus>{} << 80
        << QStringList{"job e5be5e12: verified 0, already held 0, failed 0 (0 ports)"}
        << "total: verified 0, already held 0, failed 0\n"
        << R"({"event":"summary","job":"e5be5e12","verified":0,"alreadyHeld":0,"failed":0,"ports":[]})";
}

// The status block on a terminal and the summary at the end, as text and
// as JSON.
void TestCli::benchStatus()
{
    QFETCH(QVector<SlotStatus>, statuses);
    QFETCH(int, columns);
    QFETCH(QStringList, block);
    QFETCH(QString, summary);
    QFETCH(QString, json);
    QCOMPARE(ServoCli::formatBenchStatus(statuses, QStringLiteral("e5be5e12"), columns), block);
    QCOMPARE(ServoCli::formatBenchSummary(statuses), summary);
    const QString got = ServoCli::formatBenchSummaryJson(statuses, QStringLiteral("e5be5e12"));
    QCOMPARE(QJsonDocument::fromJson(got.toUtf8()), QJsonDocument::fromJson(json.toUtf8()));
    QVERIFY(!QJsonDocument::fromJson(json.toUtf8()).isNull());
}

void TestCli::expectJob_data()
{
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("message");
    // The sample's fingerprint is e5be5e12 (see tst_programlog).
    QTest::newRow("another job")
        << "e5be5e13"
        << "is job e5be5e12, not the job e5be5e13 expected (--expect-job); "
           "nothing was sent\n";
    QTest::newRow("another job, upper case") << "0000ABCD"
                                             << "is job e5be5e12, not the job 0000abcd expected";
}

// A bench handed the wrong file stops before any port is opened: the port
// named does not exist, which would otherwise show as a missing port.
void TestCli::expectJob()
{
    QFETCH(QString, expected);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString job = writeJob(dir);
    QVERIFY(!job.isEmpty());
    const QString log = dir.filePath("log.csv");
    const Result r = runCli({"program", "--auto", "--port", "/dev/no-such-port", "--port", "usb",
                             job, "--expect-job", expected, "--log", log});
    QCOMPARE(r.code, 6);
    QCOMPARE(r.out, QString());
    QVERIFY2(
        r.err.startsWith("servo-cli: job e5be5e12: " + job + "\nservo-cli: " + job + " " + message),
        qPrintable(r.err));
    QVERIFY(!QFile::exists(log));
}

namespace {

// One event of servo-cli program --auto, from a JSON line or a plain one.
struct SeenEvent
{
    QString event;
    QString port;
    int servo = 0;
    QString result;
    QString job;
};

// servo-cli program --auto as a child process, and the events it printed.
class BenchRun
{
public:
    explicit BenchRun(bool json)
        : m_json(json)
    {
    }
    ~BenchRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    void start(const QStringList &args, bool ownGroup = false)
    {
#ifdef Q_OS_WIN
        if (ownGroup)
            startInOwnProcessGroup(m_process);
        else
            withoutConsole(&m_process);
#else
        Q_UNUSED(ownGroup)
#endif
        m_process.start(buildProgram(QStringLiteral("servo-cli")),
                        QStringList{"program", "--auto"} + args +
                            (m_json ? QStringList{"--json"} : QStringList{}));
    }
    // Events of this kind on port (any port when empty), once at least
    // count have been printed; false after the time-out.
    bool waitFor(const QString &event, const QString &port, int count = 1)
    {
        QElapsedTimer clock;
        clock.start();
        while (this->count(event, port) < count && clock.elapsed() < 60000) {
            if (m_process.state() == QProcess::NotRunning)
                break;
            m_process.waitForReadyRead(200);
            read();
        }
        read();
        return this->count(event, port) >= count;
    }
    int count(const QString &event, const QString &port) const
    {
        int n = 0;
        for (const SeenEvent &e : m_events)
            n += e.event == event && (port.isEmpty() || e.port == port) ? 1 : 0;
        return n;
    }
    bool finish()
    {
        const bool done = m_process.waitForFinished(60000);
        read();
        return done && m_process.exitStatus() == QProcess::NormalExit;
    }
    QProcess &process()
    {
        return m_process;
    }
    const QVector<SeenEvent> &events() const
    {
        return m_events;
    }
    QStringList otherLines() const
    {
        return m_other;
    }
    QString errors()
    {
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_err.remove('\r');
    }

private:
    void read()
    {
        m_rest += QString::fromUtf8(m_process.readAllStandardOutput());
        m_rest.remove('\r');
        int end;
        while ((end = m_rest.indexOf('\n')) >= 0) {
            const QString line = m_rest.left(end);
            m_rest.remove(0, end + 1);
            SeenEvent e;
            if (m_json) {
                const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
                e.event = o.value("event").toString();
                e.port = o.value("port").toString();
                e.servo = o.value("servo").toInt();
                e.result = o.value("result").toString();
                e.job = o.value("job").toString();
            } else {
                // "TIME  PORT  [servo N  ]EVENT[  ...]"
                const QStringList f = line.split(QStringLiteral("  "));
                const bool servo = f.value(2).startsWith(QLatin1String("servo "));
                if (f.size() >= 3 && f.at(0).endsWith('Z')) {
                    e.port = f.at(1);
                    e.servo = servo ? f.at(2).mid(6).toInt() : 0;
                    e.event = f.value(servo ? 3 : 2);
                }
            }
            if (e.event.isEmpty() || e.event == QLatin1String("summary"))
                m_other << line;
            else
                m_events << e;
        }
    }
    const bool m_json;
    QProcess m_process;
    QString m_rest;
    QString m_err;
    QVector<SeenEvent> m_events;
    QStringList m_other;
};

// The rows of a log after its header, as cells.
QVector<QStringList> logRows(const QString &path)
{
    QFile f(path);
    QVector<QStringList> rows;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return rows;
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    for (int i = 1; i < lines.size(); ++i)
        rows << lines.at(i).split(',');
    return rows;
}

} // namespace

void TestCli::benchSwaps_data()
{
    QTest::addColumn<bool>("json");
    QTest::addColumn<int>("rounds"); // servos attached and taken away on each programmer
    QTest::addColumn<bool>("heldFirst"); // the first servo on each already holds the job
    QTest::newRow("JSON lines, 2 servos each") << true << 2 << false;
    QTest::newRow("plain lines, 1 servo each") << false << 1 << false;
    QTest::newRow("the first already holds the job") << true << 2 << true;
}

// Three programmers, servos swapped on each in turn: every servo is
// programmed and verified once, and the log has one row for each, with its
// port, its number on the port and the job's fingerprint. --count ends the
// run.
void TestCli::benchSwaps()
{
    QFETCH(bool, json);
    QFETCH(int, rounds);
    QFETCH(bool, heldFirst);
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 3, &why), qPrintable(why));
    QTemporaryDir dir;
    const QString job = writeJob(dir);
    const QString log = dir.filePath("bench.csv");
    BenchRun run(json);
    // Removal after 10 polls without a reply, so that a busy machine (or
    // Wine's serial line) is not taken for a servo pulled and put back.
    QStringList args{
        job, "--log", log, "--poll", "30", "--gone", "10", "--count", QString::number(3 * rounds)};
    for (const QString &port : sim.portNames())
        args << "--port" << port;
    run.start(args);
    for (int round = 1; round <= rounds; ++round) {
        for (int p = 1; p <= 3; ++p) {
            const QString port = sim.portName(p);
            const bool held = heldFirst && round == 1;
            const QString attach = held
                ? QStringLiteral("attach %1 %2").arg(p).arg(QLatin1String(SampleLine))
                : QStringLiteral("attach %1").arg(p);
            QVERIFY2(sim.command(attach, &why), qPrintable(why));
            QVERIFY2(run.waitFor(held ? "already held" : "verified", port,
                                 held ? 1 : round - (heldFirst ? 1 : 0)),
                     qPrintable(run.errors()));
            if (round < rounds) {
                QVERIFY2(sim.command(QStringLiteral("detach %1").arg(p), &why), qPrintable(why));
                QVERIFY2(run.waitFor("removed", port, round), qPrintable(run.errors()));
            }
        }
    }
    QVERIFY(run.finish());
    QCOMPARE(run.process().exitCode(), 0);
    QCOMPARE(run.count("failed", QString()), 0);
    QCOMPARE(run.count("verified", QString()) + run.count("already held", QString()), 3 * rounds);
    QCOMPARE(run.count("arrived", QString()), 3 * rounds);
    QVERIFY2(run.errors().startsWith("servo-cli: job e5be5e12: " + job + "\nservo-cli: the log " +
                                     log + " holds 0 servos of this job\n"),
             qPrintable(run.errors()));
    const QVector<QStringList> rows = logRows(log);
    QCOMPARE(rows.size(), 3 * rounds);
    for (int p = 1; p <= 3; ++p) {
        QStringList numbers;
        for (const QStringList &row : rows) {
            if (row.value(1) != sim.portName(p))
                continue;
            QCOMPARE(row.value(18), QStringLiteral("e5be5e12"));
            QCOMPARE(row.mid(3, 14).join(','), QString::fromLatin1(SampleLine));
            numbers << row.value(17);
            QCOMPARE(row.value(2), heldFirst && row.value(17) == "1" ? "already held" : "verified");
        }
        QStringList expected;
        for (int n = 1; n <= rounds; ++n)
            expected << QString::number(n);
        QCOMPARE(numbers, expected);
    }
    for (const SeenEvent &e : run.events()) {
        if (json)
            QCOMPARE(e.job, QStringLiteral("e5be5e12"));
        QVERIFY(sim.portNames().contains(e.port));
    }
    // The summary, and the next run counts what this one logged.
    const QString total = QStringLiteral("verified %1, already held %2, failed 0")
                              .arg(3 * rounds - (heldFirst ? 3 : 0))
                              .arg(heldFirst ? 3 : 0);
    if (json) {
        const QJsonObject summary =
            QJsonDocument::fromJson(run.otherLines().value(0).toUtf8()).object();
        QCOMPARE(summary.value("event").toString(), QStringLiteral("summary"));
        QCOMPARE(summary.value("verified").toInt() + summary.value("alreadyHeld").toInt(),
                 3 * rounds);
        QCOMPARE(summary.value("ports").toArray().size(), 3);
    } else {
        QCOMPARE(run.otherLines().size(), 4);
        QCOMPARE(run.otherLines().last(), "total: " + total);
    }
    BenchRun next(true);
    next.start({job, "--log", log, "--port", sim.portName(1), "--count", "1"});
    QVERIFY2(next.waitFor("already held", sim.portName(1)), qPrintable(next.errors()));
    QVERIFY(next.finish());
    QVERIFY2(next.errors().contains(QStringLiteral("holds %1 servos of this job").arg(3 * rounds)),
             qPrintable(next.errors()));
}

// A programmer whose port goes away and comes back is served again, and
// the others go on meanwhile.
void TestCli::benchPortComesBack()
{
#ifdef Q_OS_WIN
    QSKIP("servo-sim takes a port away only on Unix: a COM port of Wine stays");
#else
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 2, &why), qPrintable(why));
    QTemporaryDir dir;
    const QString job = writeJob(dir);
    BenchRun run(true);
    run.start({job, "--poll", "30", "--port", sim.portName(1), "--port", sim.portName(2)});
    QVERIFY(sim.command("attach 1"));
    QVERIFY2(run.waitFor("verified", sim.portName(1)), qPrintable(run.errors()));
    QVERIFY(sim.command("detach 1"));
    QVERIFY2(run.waitFor("removed", sim.portName(1)), qPrintable(run.errors()));
    QVERIFY2(sim.command("unplug 1", &why), qPrintable(why));
    QVERIFY2(run.waitFor("port lost", sim.portName(1)), qPrintable(run.errors()));
    QVERIFY(sim.command("attach 2"));
    QVERIFY2(run.waitFor("verified", sim.portName(2)), qPrintable(run.errors()));
    QVERIFY2(sim.command("replug 1", &why), qPrintable(why));
    QVERIFY2(run.waitFor("port back", sim.portName(1)), qPrintable(run.errors()));
    QVERIFY(sim.command("attach 1"));
    QVERIFY2(run.waitFor("verified", sim.portName(1), 2), qPrintable(run.errors()));
    QCOMPARE(::kill(pid_t(run.process().processId()), SIGINT), 0);
    QVERIFY(run.finish());
    QCOMPARE(run.process().exitCode(), 130);
    QCOMPARE(run.count("verified", QString()), 3);
    QCOMPARE(run.count("failed", QString()), 0);
#endif
}

void TestCli::benchInterrupted_data()
{
    QTest::addColumn<QString>("signal");
    QTest::newRow("Ctrl-C") << "INT";
    QTest::newRow("SIGTERM") << "TERM";
}

// Ctrl-C or SIGTERM ends the bench in order: the summary with what was
// done, and exit code 130.
void TestCli::benchInterrupted()
{
    QFETCH(QString, signal);
#ifdef Q_OS_WIN
    if (signal != QLatin1String("INT"))
        QSKIP("Windows has no SIGTERM to send");
#endif
    SimulatorProcess sim;
    QString why;
    QVERIFY2(sim.start({"--empty"}, 1, &why), qPrintable(why));
    QTemporaryDir dir;
    const QString job = writeJob(dir);
    BenchRun run(false);
    run.start({job, "--poll", "30", "--port", sim.portName()}, true);
    QVERIFY(sim.command("attach 1"));
    QVERIFY2(run.waitFor("verified", sim.portName()), qPrintable(run.errors()));
#ifdef Q_OS_WIN
    QVERIFY(sendConsoleEvent(run.process(), CTRL_C_EVENT));
#else
    QCOMPARE(
        ::kill(pid_t(run.process().processId()), signal == QLatin1String("INT") ? SIGINT : SIGTERM),
        0);
#endif
    QVERIFY(run.finish());
    QCOMPARE(run.process().exitCode(), 130);
    QCOMPARE(run.otherLines(),
             QStringList({sim.portName() + ": verified 1, already held 0, failed 0",
                          "total: verified 1, already held 0, failed 0"}));
    QVERIFY2(run.errors().endsWith("servo-cli: interrupted\n"), qPrintable(run.errors()));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
