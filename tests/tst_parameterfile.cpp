// The one-line parameter file: formatting, lenient and strict reading, and
// writes that never damage the file they replace.
#include "files/parameterfile.h"
#include "tests/pipewatch.h"
#include "tests/filenodes.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <csignal>
#ifndef Q_OS_WIN
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace Servo;

Q_DECLARE_METATYPE(Servo::Values)

class TestParameterFile : public QObject
{
    Q_OBJECT

private slots:
    void format_data();
    void format();
    void parse_data();
    void parse();
    void refuse_data();
    void refuse();
    void strict_data();
    void strict();
    void readFile_data();
    void readFile();
    void notAFile_data();
    void notAFile();
    void writeRoundTrip();
    void writeIntoMissingFolder();
    void failedWriteKeepsOldFile();
    void writeTarget_data();
    void writeTarget();
    void sameFile_data();
    void sameFile();
};

void TestParameterFile::format_data()
{
    QTest::addColumn<Values>("values");
    QTest::newRow("0,0,0,0,500,2500,0,1500,0,0,0,0,0,0") << startValues();
    Values v = startValues();
    v[TorqueGain] = 120;
    v[ReversedRotation] = 1;
    v[LOCKProtection] = 1;
    QTest::newRow("120,0,0,0,500,2500,0,1500,0,0,0,1,0,1") << v;
    Values w = {255, 255, 255, 255, 2500, 500, 50, 2500, 399, 255, 255, 7, 1, 0};
    QTest::newRow("255,255,255,255,2500,500,50,2500,399,255,255,1,1,0") << w;
}

void TestParameterFile::format()
{
    QFETCH(Values, values);
    QCOMPARE(formatParameterLine(values), QString::fromLatin1(QTest::currentDataTag()));
}

void TestParameterFile::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<Values>("values");

    QTest::newRow("start values") << "0,0,0,0,500,2500,0,1500,0,0,0,0,0,0" << startValues();
    QTest::newRow("out of range is kept for the controls to clamp")
        << "300,0,0,0,0,9999,0,1500,0,0,0,2,0,0"
        << Values{300, 0, 0, 0, 0, 9999, 0, 1500, 0, 0, 0, 2, 0, 0};
    QTest::newRow("letters count as 0")
        << "abc,1,2,3,600,700,8,900,10,11,12,1,x,1"
        << Values{0, 1, 2, 3, 600, 700, 8, 900, 10, 11, 12, 1, 0, 1};
    QTest::newRow("empty fields count as 0")
        << ",,,,,,,1500,,,,,," << Values{0, 0, 0, 0, 0, 0, 0, 1500, 0, 0, 0, 0, 0, 0};
    QTest::newRow("extra fields ignored")
        << "1,2,3,4,500,600,7,800,9,10,11,0,1,0,99,100"
        << Values{1, 2, 3, 4, 500, 600, 7, 800, 9, 10, 11, 0, 1, 0};
    QTest::newRow("negative") << "-5,0,0,0,500,2500,0,1500,0,0,0,0,0,-1"
                              << Values{-5, 0, 0, 0, 500, 2500, 0, 1500, 0, 0, 0, 0, 0, -1};
}

void TestParameterFile::parse()
{
    QFETCH(QString, line);
    QFETCH(Values, values);
    const ParsedLine parsed = parseParameterLine(line);
    QVERIFY2(parsed.ok(), qPrintable(parsed.errorString));
    QCOMPARE(parsed.values, values);
}

void TestParameterFile::refuse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says"); // the start of the reason
    const int noNumbers = int(ParsedLine::NoNumbers);
    QTest::newRow("empty line") << "" << int(ParsedLine::TooFewFields) << "the first line is empty";
    QTest::newRow("thirteen fields") << "0,0,0,0,500,2500,0,1500,0,0,0,0,0"
                                     << int(ParsedLine::TooFewFields) << "the first line has 13";
    QTest::newRow("no commas") << "0 0 0 0 500 2500 0 1500 0 0 0 0 0 0"
                               << int(ParsedLine::TooFewFields) << "the first line has 14 fields";
    QTest::newRow("4097 characters")
        << QString(4097 - 13, QLatin1Char('1')) + QString(13, QLatin1Char(','))
        << int(ParsedLine::TooLong) << "the first line is longer";
    // Read field by field, these would load zeros clamped into range.
    QTest::newRow("header row of names")
        << "TorqueGain,BrakeGain,IntegralGain,IntegralSpeed,MinPulseWidth,MAXPulseWidth,"
           "Sensitivity,NeutralPoint,MAXDuty,LeftAngleCoefficient,RightAngleCoefficient,"
           "ReversedRotation,SoftStart,LOCKProtection"
        << noNumbers << "the first line is a header row of names (TorqueGain,BrakeGain,";
    QTest::newRow("quoted numbers")
        << "\"100\",\"50\",\"20\",\"10\",\"900\",\"2100\",\"2\",\"1500\",\"399\",\"128\","
           "\"128\",\"1\",\"0\",\"1\""
        << noNumbers << "the first line holds numbers in quotes (\"100\",\"50\"";
    QTest::newRow("sentence with commas")
        << "servo 3, left leg, tuned on Monday, soft, slow, reversed, locked, a, b, c, d, e, f, g"
        << noNumbers << "the first line is a header row of names (servo 3, left leg";
    QTest::newRow("text and units")
        << "gain: x,7 ms?,,,,,,,,,,,," << noNumbers << "no field of the first line is a number";
    QTest::newRow("fourteen empty fields")
        << ",,,,,,,,,,,,," << noNumbers << "every field of the first line is empty";
}

void TestParameterFile::refuse()
{
    QFETCH(QString, line);
    QFETCH(int, status);
    QFETCH(QString, says);
    const ParsedLine parsed = parseParameterLine(line);
    QCOMPARE(int(parsed.status), status);
    QVERIFY2(parsed.errorString.startsWith(says), qPrintable(parsed.errorString));
    if (status == int(ParsedLine::NoNumbers))
        QVERIFY2(parsed.errorString.endsWith(parameterFileShape()), qPrintable(parsed.errorString));
}

void TestParameterFile::strict_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("field");
    QTest::newRow("valid") << "0,0,0,0,500,2500,0,1500,0,0,0,0,0,0" << -1;
    QTest::newRow("letters") << "0,0,abc,0,500,2500,0,1500,0,0,0,0,0,0" << 2;
    QTest::newRow("empty field") << "0,0,0,0,500,2500,0,1500,0,,0,0,0,0" << 9;
    QTest::newRow("above range") << "0,0,0,0,500,2500,51,1500,0,0,0,0,0,0" << 6;
    QTest::newRow("below range") << "0,0,0,0,499,2500,0,1500,0,0,0,0,0,0" << 4;
    QTest::newRow("switch 2") << "0,0,0,0,500,2500,0,1500,0,0,0,0,2,0" << 12;
    QTest::newRow("sign") << "+1,0,0,0,500,2500,0,1500,0,0,0,0,0,0" << 0;
    QTest::newRow("space") << "0,0,0,0,500,2500,0,1500,0,0, 1,0,0,0" << 10;
    QTest::newRow("too few") << "0,0,0" << 3;
}

void TestParameterFile::strict()
{
    QFETCH(QString, line);
    QFETCH(int, field);
    QString reason;
    QCOMPARE(firstInvalidField(parseParameterLine(line), &reason), field);
    QCOMPARE(reason.isEmpty(), field == -1);
}

void TestParameterFile::readFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("torqueGain");

    QTest::newRow("no line end") << QByteArray("7,0,0,0,500,2500,0,1500,0,0,0,0,0,0") << 0 << 7;
    QTest::newRow("LF") << QByteArray("7,0,0,0,500,2500,0,1500,0,0,0,0,0,0\n") << 0 << 7;
    QTest::newRow("CR LF and more lines")
        << QByteArray("7,0,0,0,500,2500,0,1500,0,0,0,0,0,0\r\n1,2\r\n") << 0 << 7;
    QTest::newRow("empty file") << QByteArray() << int(ParsedLine::TooFewFields) << 0;
    QTest::newRow("short first line, full second")
        << QByteArray("1,2,3\n7,0,0,0,500,2500,0,1500,0,0,0,0,0,0") << int(ParsedLine::TooFewFields)
        << 0;
    QTest::newRow("4096 characters") << QByteArray(4096 - 13, '7') + QByteArray(13, ',') << 0 << 0;
    QTest::newRow("4097 characters")
        << QByteArray(4097 - 13, '7') + QByteArray(13, ',') << int(ParsedLine::TooLong) << 0;
    QTest::newRow("binary, 3 MiB without a line end")
        << QByteArray(3 << 20, '\x01') << int(ParsedLine::TooLong) << 0;

    // Text in the encodings an editor may choose; binary content is refused
    // whole, however its fields would have read.
    const QString line = QStringLiteral("7,0,0,0,500,2500,0,1500,0,0,0,0,0,0\r\n");
    auto utf16 = [&line](QSysInfo::Endian order, bool mark) {
        QByteArray out;
        for (QChar c : (mark ? QChar(0xFEFF) + line : line)) {
            const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xFF);
            out += order == QSysInfo::LittleEndian ? low : high;
            out += order == QSysInfo::LittleEndian ? high : low;
        }
        return out;
    };
    const int notText = int(ParsedLine::NotText);
    QTest::newRow("UTF-8 with byte-order mark") << "\xEF\xBB\xBF" + line.toLatin1() << 0 << 7;
    QTest::newRow("UTF-16 LE with byte-order mark")
        << utf16(QSysInfo::LittleEndian, true) << 0 << 7;
    QTest::newRow("UTF-16 BE with byte-order mark") << utf16(QSysInfo::BigEndian, true) << 0 << 7;
    QTest::newRow("spaces and tabs around fields")
        << QByteArray(" 7 ,0,0,0,\t500, 2500 ,0,1500,0,0,0,0,0,0 ") << 0 << 7;
    QTest::newRow("UTF-16 LE without byte-order mark")
        << utf16(QSysInfo::LittleEndian, false) << notText << 0;
    QTest::newRow("UTF-16 BE without byte-order mark")
        << utf16(QSysInfo::BigEndian, false) << notText << 0;
    QTest::newRow("NUL inside a field")
        << QByteArray("7,0,0,0,5") + '\0' + "0,2500,0,1500,0,0,0,0,0,0" << notText << 0;
    QTest::newRow("NUL with UTF-16 mark")
        << utf16(QSysInfo::LittleEndian, true).replace(4, 2, "\0\0", 2) << notText << 0;
    QTest::newRow("not UTF-8") << QByteArray("7,0,0,0,500,2500,0,1500,0,0,0,0,\xE9,0") << notText
                               << 0;
    QTest::newRow("UTF-8 cut short at the line end")
        << QByteArray("7,0,0,0,500,2500,0,1500,0,0,0,0,0,0\xC3\n") << notText << 0;
    QTest::newRow("binary after the first line")
        << QByteArray("7,0,0,0,500,2500,0,1500,0,0,0,0,0,0\n") + '\0' + "\xFF" << 0 << 7;
}

void TestParameterFile::readFile()
{
    QFETCH(QByteArray, content);
    QFETCH(int, status);
    QFETCH(int, torqueGain);
    QTemporaryDir dir;
    const QString path = dir.filePath("p.txt");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    const ParsedLine parsed = readParameterFile(path);
    QCOMPARE(int(parsed.status), status);
    if (parsed.ok())
        QCOMPARE(parsed.values[TorqueGain], torqueGain);
    QCOMPARE(int(readParameterFile(dir.filePath("missing.txt")).status),
             int(ParsedLine::CannotOpen));
}

void TestParameterFile::notAFile_data()
{
    QTest::addColumn<QString>("path"); // empty: a named pipe
    QTest::addColumn<QString>("reason");
    QTest::newRow("named pipe") << QString() << "a named pipe, not a regular file";
    QTest::newRow("/dev/zero") << "/dev/zero"
                               << "a character device, not a regular file";
    QTest::newRow("/dev/null") << "/dev/null"
                               << "a character device, not a regular file";
    QTest::newRow("folder") << "/"
                            << "a folder, not a regular file";
}

void TestParameterFile::notAFile()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);
    if (path != QLatin1String("/"))
        SKIP_WITHOUT_SPECIAL_FILES();
    QTemporaryDir dir;
    const QString pipe = dir.filePath("pipe.txt");
    std::unique_ptr<PipeWatch> watch;
    if (path.isEmpty()) {
        watch = std::make_unique<PipeWatch>(pipe);
        QVERIFY(watch->made());
    }
    const ParsedLine parsed = readParameterFile(path.isEmpty() ? pipe : path);
    if (watch)
        QCOMPARE(watch->opened(), 0);
    QCOMPARE(int(parsed.status), int(ParsedLine::NotRegularFile));
    QCOMPARE(parsed.errorString, reason);
}

void TestParameterFile::writeRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("round.txt");
    const Values v = {1, 2, 3, 4, 501, 2499, 49, 1501, 398, 254, 253, 1, 0, 1};
    QString error;
    QVERIFY2(writeParameterFile(path, v, &error), qPrintable(error));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("1,2,3,4,501,2499,49,1501,398,254,253,1,0,1"));
    QCOMPARE(readParameterFile(path).values, v);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"round.txt"});
}

void TestParameterFile::writeIntoMissingFolder()
{
    QTemporaryDir dir;
    QString error;
    QVERIFY(!writeParameterFile(dir.filePath("no/such/folder/p.txt"), startValues(), &error));
    QVERIFY(!error.isEmpty());
}

void TestParameterFile::failedWriteKeepsOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("old.txt");
    const QByteArray old = "9,9,9,9,900,900,9,900,9,9,9,1,1,1";
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    QString error;
#ifdef Q_OS_WIN
    // The file is open in another program, as a spreadsheet holds it: the
    // new contents are written, but they cannot replace the file.
    QFile holder(path);
    QVERIFY(holder.open(QIODevice::ReadOnly));
    const bool written = writeParameterFile(path, startValues(), &error);
    holder.close();
#else
    // The file-size limit makes the write fail after the file has opened;
    // root ignores permissions, but not this.
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 10;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeParameterFile(path, startValues(), &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
#endif

    QVERIFY(!written);
    QVERIFY(!error.isEmpty());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.txt"});
}

void TestParameterFile::writeTarget_data()
{
    QTest::addColumn<QString>("operation"); // save, save new (nothing may be replaced), append
    QTest::addColumn<QString>(
        "target"); // file, missing, pipe, device, folder; "link:" a link to it
    QTest::addColumn<QString>("refusal"); // empty: done
    const QString pipe = QStringLiteral("a named pipe, not a regular file");
    const QString device = QStringLiteral("a character device, not a regular file");
    const QString folder = QStringLiteral("a folder, not a regular file");
    for (const char *op : {"save", "append"}) {
        const QString o = QLatin1String(op);
        QTest::addRow("%s: regular file", op) << o << "file" << QString();
        QTest::addRow("%s: new file", op) << o << "missing" << QString();
        QTest::addRow("%s: link to a regular file", op) << o << "link:file" << QString();
        QTest::addRow("%s: link to a device", op) << o << "link:device" << device;
        QTest::addRow("%s: link to a named pipe", op) << o << "link:pipe" << pipe;
        QTest::addRow("%s: named pipe", op) << o << "pipe" << pipe;
        QTest::addRow("%s: folder", op) << o << "folder" << folder;
        QTest::addRow("%s: character device", op) << o << "device" << device;
    }
    QTest::newRow("save new: nothing there") << "save new"
                                             << "missing" << QString();
    QTest::newRow("save new: regular file") << "save new"
                                            << "file"
                                            << "the file already exists";
    QTest::newRow("save new: link to nothing") << "save new"
                                               << "link:missing"
                                               << "the file already exists";
    QTest::newRow("save new: named pipe") << "save new"
                                          << "pipe" << pipe;
}

// Saving replaces a regular file, or makes a new one, and nothing else: a
// named pipe, a device or a folder stays what it is and is never opened.
void TestParameterFile::writeTarget()
{
    QFETCH(QString, operation);
    QFETCH(QString, target);
    QFETCH(QString, refusal);
    const bool link = target.startsWith(QLatin1String("link:"));
    const QString kind = target.section(QLatin1Char(':'), -1);
#ifdef Q_OS_WIN
    if (link)
        QSKIP("symbolic links need a privilege on Windows");
#endif
    QTemporaryDir dir;
    const QString node = dir.filePath("node.txt");
    const QByteArray old = "9,9,9,9,900,900,9,900,9,9,9,1,1,1";
    std::unique_ptr<PipeWatch> watch;
    MAKE_PIPE_OR_DEVICE(kind, node, watch);
    if (kind == QLatin1String("file")) {
        QFile f(node);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(old);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir("node.txt"));
    }
    const QString before = nodeKind(node);
    const QString name = link ? dir.filePath("link.txt") : node;
    if (link)
        QVERIFY(QFile::link(node, name));
    const QStringList entries = allEntries(dir.path());

    QString error;
    bool done = false;
    QByteArray expected = QByteArray("0,0,0,0,500,2500,0,1500,0,0,0,0,0,0");
    if (operation == QLatin1String("append")) {
        QFile file;
        done = openRegularFileToAppend(name, &file, &error);
        if (done) {
            QVERIFY(file.seek(0));
            QCOMPARE(file.readAll(), kind == QLatin1String("file") ? old : QByteArray());
            QCOMPARE(file.write(expected), qint64(expected.size()));
            file.close();
        }
        if (kind == QLatin1String("file"))
            expected = old + expected;
    } else {
        const WriteMode mode = operation == QLatin1String("save new")
            ? WriteMode::NewFileOnly
            : WriteMode::ReplaceRegularFile;
        done = writeParameterFile(name, startValues(), &error, mode);
    }
    if (watch)
        QCOMPARE(watch->opened(), 0);

    if (refusal.isEmpty()) {
        QVERIFY2(done, qPrintable(error));
        QCOMPARE(nodeKind(node), QStringLiteral("file"));
        QFile f(node);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), expected);
    } else {
        QVERIFY(!done);
        QCOMPARE(error, refusal);
        QCOMPARE(nodeKind(node), before);
        if (kind == QLatin1String("file")) {
            QFile f(node);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), old);
        }
    }
    if (link)
        QCOMPARE(nodeKind(name), QStringLiteral("link"));
    // No temporary file left, nothing else made.
    QStringList after = entries;
    if (kind == QLatin1String("missing") && refusal.isEmpty())
        after << QStringLiteral("node.txt");
    after.sort();
    QCOMPARE(allEntries(dir.path()), after);
}

void TestParameterFile::sameFile_data()
{
    QTest::addColumn<QString>("other"); // beside the file "a.txt"
    QTest::addColumn<bool>("same");
    QTest::newRow("the same path") << "a.txt" << true;
    QTest::newRow("another spelling") << "sub/../a.txt" << true;
    QTest::newRow("a link to it") << "link.txt" << true;
    QTest::newRow("a hard link to it") << "hard.txt" << true;
    QTest::newRow("another file, same content") << "b.txt" << false;
    QTest::newRow("nothing there") << "missing.txt" << false;
}

void TestParameterFile::sameFile()
{
    QFETCH(QString, other);
    QFETCH(bool, same);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("sub"));
    for (const char *name : {"a.txt", "b.txt"}) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("1,2,3");
    }
    if (other == QLatin1String("link.txt") || other == QLatin1String("hard.txt")) {
#ifdef Q_OS_WIN
        QSKIP("links need a privilege on Windows");
#else
        const QByteArray a = QFile::encodeName(dir.filePath("a.txt"));
        const QByteArray b = QFile::encodeName(dir.filePath(other));
        QCOMPARE(other == QLatin1String("link.txt") ? ::symlink("a.txt", b.constData())
                                                    : ::link(a.constData(), b.constData()),
                 0);
#endif
    }
    const QString a = dir.filePath("a.txt");
    const QString b = dir.path() + QLatin1Char('/') + other;
    QCOMPARE(Servo::sameFile(a, b), same);
    QCOMPARE(Servo::sameFile(b, a), same);
}

QTEST_GUILESS_MAIN(TestParameterFile)
#include "tst_parameterfile.moc"
