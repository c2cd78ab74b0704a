// The tools' interrupts (tools/common/interrupt), in-process: an interrupt
// raises the flag and reaches every InterruptNotifier once, in the event loop
// of the notifier's own thread. On Unix the test sends itself the signal; on
// Windows it sends CTRL_C_EVENT to its own console.
#include "tools/common/interrupt.h"

#include <QThread>
#include <QtTest>

#include <csignal>
#include <memory>
#include <vector>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace Servo;

namespace {

// Sends the interrupt; false when it cannot be sent here.
bool interrupt(int signal)
{
#ifdef Q_OS_WIN
    if (!::GetConsoleWindow()) {
        ::FreeConsole();
        ::AllocConsole();
    }
    return ::GenerateConsoleCtrlEvent(DWORD(signal), 0);
#else
    return ::raise(signal) == 0;
#endif
}

// A notifier and where its requested() came from.
struct Heard
{
    std::unique_ptr<InterruptNotifier> notifier;
    QAtomicInt count;
    QThread *thread = nullptr; // the thread requested() was emitted in
};

} // namespace

class TestInterrupt : public QObject
{
    Q_OBJECT

private slots:
    void notifiers_data();
    void notifiers();
    void flagClearedByNextHandling();
};

void TestInterrupt::notifiers_data()
{
    QTest::addColumn<int>("signal"); // on Windows a console event
    QTest::addColumn<int>("here"); // notifiers in this thread
    QTest::addColumn<int>("elsewhere"); // notifiers in a thread of their own
#ifdef Q_OS_WIN
    QTest::newRow("CTRL_C_EVENT, one notifier") << int(CTRL_C_EVENT) << 1 << 0;
    QTest::newRow("CTRL_C_EVENT, one here, one in another thread") << int(CTRL_C_EVENT) << 1 << 1;
#else
    QTest::newRow("SIGINT, one notifier") << int(SIGINT) << 1 << 0;
    QTest::newRow("SIGTERM, three notifiers") << int(SIGTERM) << 3 << 0;
    QTest::newRow("SIGHUP, one here, one in another thread") << int(SIGHUP) << 1 << 1;
    QTest::newRow("SIGINT, in another thread only") << int(SIGINT) << 0 << 1;
#endif
}

void TestInterrupt::notifiers()
{
    QFETCH(int, signal);
    QFETCH(int, here);
    QFETCH(int, elsewhere);
    const InterruptHandling handling;
    QThread other;
    other.start();
    const auto stop = qScopeGuard([&other] {
        other.quit();
        other.wait();
    });
    std::vector<std::unique_ptr<Heard>> heard;
    for (int n = 0; n < here + elsewhere; ++n) {
        heard.push_back(std::make_unique<Heard>());
        Heard *h = heard.back().get();
        h->notifier = std::make_unique<InterruptNotifier>();
        QObject::connect(
            h->notifier.get(), &InterruptNotifier::requested, h->notifier.get(),
            [h] {
                h->thread = QThread::currentThread();
                h->count.ref();
            },
            Qt::DirectConnection);
        if (n >= here)
            h->notifier->moveToThread(&other);
    }
    QCoreApplication::processEvents();
    QVERIFY(!interruptRequested());
    for (const auto &h : heard)
        QCOMPARE(h->count.loadRelaxed(), 0);

    QVERIFY(interrupt(signal));
    QTRY_VERIFY(interruptRequested());
    for (const auto &h : heard)
        QTRY_COMPARE(h->count.loadRelaxed(), 1);
    QCoreApplication::processEvents();
    for (int n = 0; n < int(heard.size()); ++n) {
        QCOMPARE(heard[n]->count.loadRelaxed(), 1);
        QCOMPARE(heard[n]->thread, n < here ? QThread::currentThread() : &other);
    }
    // The notifiers go with their threads' objects; one in another thread is
    // deleted there.
    for (int n = here; n < int(heard.size()); ++n) {
        QObject::disconnect(heard[n]->notifier.get(), nullptr, nullptr, nullptr);
        heard[n]->notifier.release()->deleteLater();
    }
}

void TestInterrupt::flagClearedByNextHandling()
{
    {
        const InterruptHandling handling;
#ifdef Q_OS_WIN
        QVERIFY(interrupt(CTRL_C_EVENT));
#else
        QVERIFY(interrupt(SIGINT));
#endif
        QTRY_VERIFY(interruptRequested());
    }
    const InterruptHandling next;
    QVERIFY(!interruptRequested());
}

QTEST_GUILESS_MAIN(TestInterrupt)
#include "tst_interrupt.moc"
