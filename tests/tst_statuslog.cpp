// The status log: line format, the time stamp from the one-second clock and
// the four-line limit. Lines are produced the way a user produces them
// without a servo: by choosing a port that cannot be opened.
#include "app/widget.h"
#include "tests/windowdriver.h"

#include <QSerialPort>
#include <QtTest>
#include <QtWidgets>

namespace {

const QString stampFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// The user picks an entry with the keyboard: the entry is put at the end of
// the list and the Down key moves onto it, which activates it.
void choose(const WindowDriver &d, const QString &name)
{
    QComboBox *combo = d.portSelector();
    combo->addItem(name);
    combo->setCurrentIndex(combo->count() - 2);
    QSignalSpy activated(combo, &QComboBox::textActivated);
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.first().first().toString(), name);
}

QString failureLine(const QString &name)
{
    return name + QStringLiteral(" 打开失败  ") + name + QStringLiteral(" Failed to open");
}

// The name under which the port object reports a port chosen as given.
QString reportedName(const QString &chosen)
{
    QSerialPort port;
    port.setPortName(chosen);
    return port.portName();
}

QString failureMessage(const QString &chosen)
{
    return failureLine(reportedName(chosen));
}

// Splits "[stamp] message".
bool splitLine(const QString &line, QString *stamp, QString *message)
{
    if (!line.startsWith(QLatin1Char('[')))
        return false;
    const int close = line.indexOf(QLatin1String("] "));
    if (close < 0)
        return false;
    *stamp = line.mid(1, close - 1);
    *message = line.mid(close + 2);
    return true;
}

// True when stamp, which has whole seconds, was taken between from and to.
bool within(const QDateTime &stamp, const QDateTime &from, const QDateTime &to)
{
    return stamp.secsTo(from) < 1 && stamp <= to;
}

} // namespace

class TestStatusLog : public QObject
{
    Q_OBJECT

private slots:
    void emptyStampBeforeFirstTick_data();
    void emptyStampBeforeFirstTick();
    void keepsLastFourLines_data();
    void keepsLastFourLines();
    void stampIsCurrentTimeAfterTick();
    void emptyEntryLogsNothing();
};

void TestStatusLog::emptyStampBeforeFirstTick_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("shown"); // the name in the line
#ifdef Q_OS_WIN
    QTest::newRow("COM name") << "COM199"
                              << "COM199";
    QTest::newRow("device namespace") << "\\\\.\\COM210"
                                      << "COM210";
#else
    QTest::newRow("bare name") << "ttyNOPE0"
                               << "ttyNOPE0";
    QTest::newRow("device path") << "/dev/ttyNOPE1"
                                 << "ttyNOPE1";
    QTest::newRow("path outside /dev") << "/tmp/no-such-dir/port"
                                       << "/tmp/no-such-dir/port";
#endif
}

void TestStatusLog::emptyStampBeforeFirstTick()
{
    QFETCH(QString, chosen);
    QFETCH(QString, shown);
    Widget w;
    const WindowDriver d(&w);
    QCOMPARE(d.logLines(), QStringList());
    // No event has been processed since construction, so the clock has not
    // ticked yet.
    choose(d, chosen);
    QCOMPARE(d.logLines(), QStringList{QStringLiteral("[] ") + failureLine(shown)});
    QCOMPARE(d.log()->document()->blockCount(), 1);
}

void TestStatusLog::keepsLastFourLines_data()
{
    QTest::addColumn<int>("reports");
    for (int n : {1, 3, 4, 5, 9})
        QTest::addRow("%d reports", n) << n;
}

void TestStatusLog::keepsLastFourLines()
{
    QFETCH(int, reports);
    Widget w;
    const WindowDriver d(&w);
    QStringList all;
    for (int i = 0; i < reports; ++i) {
        const QString name = QStringLiteral("ttyNOPE%1").arg(i);
        choose(d, name);
        all << failureMessage(name);
    }
    const QStringList expected = all.mid(qMax(0, reports - 4));
    QStringList messages;
    for (const QString &line : d.logLines()) {
        QString stamp, message;
        QVERIFY2(splitLine(line, &stamp, &message), qPrintable(line));
        messages << message;
    }
    QCOMPARE(messages, expected);
    QCOMPARE(d.log()->document()->blockCount(), expected.size());
}

void TestStatusLog::stampIsCurrentTimeAfterTick()
{
    // Ticks are counted, not waited for by time, and each stamp lies between
    // the clock readings taken around it (to the second), however late the
    // ticks come on a busy machine.
    const QDateTime start = QDateTime::currentDateTime();
    Widget w;
    const WindowDriver d(&w);
    auto *clock =
        w.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly); // the one-second clock
    QVERIFY(clock);
    QSignalSpy ticks(clock, &QTimer::timeout);
    QVERIFY(ticks.wait(30000));
    choose(d, QStringLiteral("ttyNOPE0"));
    choose(d, QStringLiteral("ttyNOPE1"));
    const QDateTime now = QDateTime::currentDateTime();
    QStringList lines = d.logLines();
    QCOMPARE(lines.size(), 2);

    QString stamp, message;
    QVERIFY(splitLine(lines[0], &stamp, &message));
    QCOMPARE(lines[0],
             QStringLiteral("[") + stamp + QStringLiteral("] ") + failureMessage("ttyNOPE0"));
    QCOMPARE(stamp.size(), 19);
    const QDateTime first = QDateTime::fromString(stamp, stampFormat);
    QVERIFY2(first.isValid(), qPrintable(stamp));
    QVERIFY2(within(first, start, now), qPrintable(stamp + " vs " + now.toString(stampFormat)));

    // Reports between two ticks carry the same time.
    QString second;
    QVERIFY(splitLine(lines[1], &second, &message));
    QCOMPARE(second, stamp);

    // The clock keeps running: a report two ticks later carries a later time.
    ticks.clear();
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 60000);
    choose(d, QStringLiteral("ttyNOPE2"));
    lines = d.logLines();
    QCOMPARE(lines.size(), 3);
    QString third;
    QVERIFY(splitLine(lines[2], &third, &message));
    const QDateTime later = QDateTime::fromString(third, stampFormat);
    QVERIFY2(later.isValid(), qPrintable(third));
    QVERIFY2(first.secsTo(later) >= 1, qPrintable(stamp + " then " + third));
    QVERIFY2(within(later, start, QDateTime::currentDateTime()), qPrintable(third));
}

void TestStatusLog::emptyEntryLogsNothing()
{
    Widget w;
    const WindowDriver d(&w);
    QComboBox *combo = d.portSelector();
    QVERIFY(combo);
    QCOMPARE(combo->itemText(0), QString());
    combo->addItem(QStringLiteral("ttyNOPE0"));
    combo->setCurrentIndex(1);
    QSignalSpy activated(combo, &QComboBox::textActivated);
    QTest::keyClick(combo, Qt::Key_Home); // back onto the empty first entry
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.first().first().toString(), QString());
    QCOMPARE(d.logLines(), QStringList());
    QSerialPort *port = d.port();
    QVERIFY(port);
    QVERIFY(!port->isOpen());
    QCOMPARE(port->portName(), QString());
}

QTEST_MAIN(TestStatusLog)
#include "tst_statuslog.moc"
