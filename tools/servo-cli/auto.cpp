// "program --auto": the hands-free bench. The engine (bench/bench.h) serves
// the ports; this file sets it up from the command line, shows what it does
// and prints the summary.
#include "tools/servo-cli/commands.h"

#include "bench/bench.h"
#include "files/programlog.h"
#include "tools/common/interrupt.h"
#include "tools/common/terminal.h"

#include <QEventLoop>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>

namespace ServoCli {

namespace {

// Where the bench's events go: a status block redrawn in place on a
// terminal, else a line or a JSON object per event.
class BenchOutput
{
public:
    enum Mode { Block, Lines, Json };

    BenchOutput(QTextStream &out, QTextStream &err, Mode mode, bool bell, const QString &job,
                const Servo::Bench &bench)
        : m_out(out)
        , m_err(err)
        , m_mode(mode)
        , m_bell(bell)
        , m_job(job)
        , m_bench(bench)
    {
        // Redraws come together: at most one every 50 ms.
        m_redraw.setSingleShot(true);
        m_redraw.setInterval(50);
        QObject::connect(&m_redraw, &QTimer::timeout, [this] { redraw(); });
    }

    void event(const Servo::BenchEvent &event)
    {
        if (m_mode == Lines)
            m_out << formatBenchEvent(event) << '\n';
        else if (m_mode == Json)
            m_out << formatBenchEventJson(event, m_job) << '\n';
        if (m_mode != Block) {
            m_out.flush();
            return;
        }
        if (m_bell) {
            if (event.kind == Servo::BenchEvent::Verified ||
                event.kind == Servo::BenchEvent::AlreadyHeld)
                m_out << '\a';
            else if (event.kind == Servo::BenchEvent::Failed)
                m_out << "\a\a\a";
        }
        changed();
    }

    void changed()
    {
        if (m_mode == Block && !m_redraw.isActive())
            m_redraw.start();
    }

    // A message on standard error, which on a terminal goes above the block.
    void message(const QString &text)
    {
        clear();
        say(m_err, text);
        changed();
    }

    // The last state of the block, with the cursor below it.
    void finish()
    {
        if (m_mode != Block)
            return;
        m_redraw.stop();
        redraw();
    }

private:
    void clear()
    {
        if (m_mode != Block || m_drawn == 0)
            return;
        m_out << QStringLiteral("\x1b[%1A\r\x1b[J").arg(m_drawn);
        m_out.flush();
        m_drawn = 0;
    }

    void redraw()
    {
        const QStringList lines =
            formatBenchStatus(m_bench.slotStatuses(), m_job, Servo::terminalColumns());
        QString text;
        if (m_drawn > 0)
            text += QStringLiteral("\x1b[%1A\r").arg(m_drawn);
        for (const QString &line : lines)
            text += QStringLiteral("\x1b[2K") + line + QLatin1Char('\n');
        text += QStringLiteral("\x1b[J");
        m_out << text;
        m_out.flush();
        m_drawn = lines.size();
    }

    QTextStream &m_out;
    QTextStream &m_err;
    const Mode m_mode;
    const bool m_bell;
    const QString m_job;
    const Servo::Bench &m_bench;
    QTimer m_redraw;
    int m_drawn = 0; // lines of the block on the screen
};

} // namespace

int runProgramAuto(const Invocation &inv)
{
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    const QString path = inv.operands.at(0);
    if (inv.has(Option::ExpectJob) &&
        !QRegularExpression(QStringLiteral("^[0-9a-fA-F]{8}$"))
             .match(inv.value(Option::ExpectJob))
             .hasMatch())
        return badArguments(err,
                            QStringLiteral("--expect-job takes the 8 hex digits of a fingerprint, "
                                           "not \"%1\"")
                                .arg(inv.value(Option::ExpectJob)),
                            inv.command);
    QStringList ports = inv.repeated.value(Option::Port);
    if (ports.isEmpty() && inv.has(Option::Port))
        ports << inv.value(Option::Port);
    if (ports.isEmpty())
        return badArguments(
            err,
            QStringLiteral("program --auto needs --port: a port, \"usb\" (every USB "
                           "adapter) or \"simulators\" (every servo-sim)"),
            inv.command);

    Servo::Values values{};
    if (const int code = loadFile(path, &values, err, "; nothing was sent"))
        return code;
    const QString job = Servo::jobFingerprint(values);
    say(err, QStringLiteral("job %1: %2").arg(job, path));
    if (inv.has(Option::ExpectJob) &&
        inv.value(Option::ExpectJob).compare(job, Qt::CaseInsensitive) != 0)
        return fail(err, MalformedFile,
                    QStringLiteral("%1 is job %2, not the job %3 expected (--expect-job); "
                                   "nothing was sent")
                        .arg(path, job, inv.value(Option::ExpectJob).toLower()));

    Servo::ProgramLog log;
    if (inv.has(Option::Log)) {
        QString why;
        if (!log.open(inv.value(Option::Log), &why))
            return fail(err, FileError, why + QStringLiteral("; nothing was sent"));
        const int held = log.heldCount(values);
        say(err,
            QStringLiteral("the log %1 holds %2 servo%3 of this job")
                .arg(log.path())
                .arg(held)
                .arg(QLatin1String(held == 1 ? "" : "s")));
    }

    Servo::BenchSettings settings;
    settings.job = values;
    if (inv.has(Option::Poll))
        settings.pollMs = inv.value(Option::Poll).toInt();
    if (inv.has(Option::Gone))
        settings.goneAfter = inv.value(Option::Gone).toInt();
    if (inv.has(Option::Timeout))
        settings.replyTimeoutMs = inv.value(Option::Timeout).toInt();
    Servo::Bench bench(settings);
    if (log.isOpen())
        bench.setLog(&log);
    int watch = Servo::Bench::NoWatch;
    for (const QString &port : qAsConst(ports)) {
        if (port == QLatin1String("usb"))
            watch |= Servo::Bench::UsbAdapters;
        else if (port == QLatin1String("simulators"))
            watch |= Servo::Bench::Simulators;
        else
            bench.addPort(port);
    }
    bench.setWatch(watch);

    const BenchOutput::Mode mode = inv.has(Option::Json) ? BenchOutput::Json
        : Servo::prepareTerminalOutput()                 ? BenchOutput::Block
                                                         : BenchOutput::Lines;
    BenchOutput output(out, err, mode, !inv.has(Option::Quiet), job, bench);
    const int count = inv.has(Option::Count) ? inv.value(Option::Count).toInt() : 0;
    int verified = 0;
    bool stopping = false;
    bool logFailed = false;
    QObject::connect(&bench, &Servo::Bench::event, [&](const Servo::BenchEvent &event) {
        output.event(event);
        if (event.kind != Servo::BenchEvent::Verified &&
            event.kind != Servo::BenchEvent::AlreadyHeld)
            return;
        if (count > 0 && ++verified >= count && !stopping) {
            stopping = true;
            bench.stop();
        }
    });
    QObject::connect(&bench, &Servo::Bench::slotChanged, [&] { output.changed(); });
    QObject::connect(&bench, &Servo::Bench::logFailed, [&](const QString &why) {
        if (!logFailed)
            output.message(QStringLiteral("cannot write the log %1: %2").arg(log.path(), why));
        logFailed = true;
    });

    // Ctrl-C and SIGTERM: the first ends the run in order, a second at once.
    const Servo::InterruptHandling interruptHandling;
    Servo::InterruptNotifier interrupts;
    int interrupted = 0;
    QObject::connect(&interrupts, &Servo::InterruptNotifier::requested, [&] {
        if (++interrupted == 1) {
            stopping = true;
            bench.stop();
        } else {
            bench.abort();
        }
    });
    QEventLoop loop;
    QObject::connect(&bench, &Servo::Bench::stopped, &loop, &QEventLoop::quit);
    bench.start();
    if (bench.isRunning())
        loop.exec();
    output.finish();

    const QVector<Servo::SlotStatus> statuses = bench.slotStatuses();
    out << (mode == BenchOutput::Json ? formatBenchSummaryJson(statuses, job) + QLatin1Char('\n')
                                      : formatBenchSummary(statuses));
    out.flush();
    int failed = 0;
    for (const Servo::SlotStatus &s : statuses)
        failed += s.failed;
    if (interrupted > 0)
        return fail(err, Interrupted, QStringLiteral("interrupted"));
    if (logFailed)
        return FileError;
    return failed == 0 ? Success : Differences;
}

} // namespace ServoCli
