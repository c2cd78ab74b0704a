// "program": one parameter file written to many servos in turn, on a bench.
#include "tools/servo-cli/commands.h"

#include "files/parameterfile.h"
#include "files/programlog.h"
#include "tools/common/interrupt.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTextStream>

#include <optional>

using Servo::InterruptHandling;
using Servo::interruptRequested;
using Servo::Values;

namespace ServoCli {

namespace {

// What came of one attempt at a servo.
struct Outcome
{
    // For the log: verified, differs, no reply, port failed, port unavailable,
    // interrupted.
    QString result;
    QString details; // why it failed, for people
    std::optional<Values> readBack;
    QDateTime time; // when it was known
    qint64 elapsedMs = -1; // how long the attempt took

    bool verified() const { return result == QLatin1String("verified"); }
    bool interrupted() const { return result == QLatin1String("interrupted"); }
};

Outcome programOne(const LinkSettings &settings, const Values &values, const QString &path,
                   QTextStream &err)
{
    Outcome o;
    QElapsedTimer clock;
    clock.start();
    auto failure = [&o](const QString &result, const QString &details) {
        o.result = result;
        o.details = details;
    };
    const int code = withServo(settings, err, NoRead, [&](Session &session, const Values &) {
        Values acknowledged{};
        Values readBack{};
        bool written = false;
        const Servo::ServoLink::Result result =
            writeAndVerify(session.link, values, true, &acknowledged, &readBack, &written);
        if (result == Servo::ServoLink::Interrupted) {
            o.result = QStringLiteral("interrupted");
        } else if (result != Servo::ServoLink::Ok && written) {
            // The servo holds what the acknowledgement showed; the log
            // keeps that block.
            readBackFailure(session, result, path, Servo::formatParameterLine(acknowledged), err);
            o.readBack = acknowledged;
            failure(QStringLiteral("acknowledged only"),
                    result == Servo::ServoLink::NoReply
                        ? QStringLiteral("written and acknowledged, but the read-back got no "
                                         "reply: not verified")
                        : QStringLiteral("written and acknowledged, but the port failed at the "
                                         "read-back: not verified"));
        } else if (result != Servo::ServoLink::Ok) {
            linkFailure(session, result, err);
            const QString what = result == Servo::ServoLink::NoReply
                ? QStringLiteral("no reply")
                : QStringLiteral("port failed");
            failure(what, what);
        } else {
            o.readBack = readBack;
            QStringList names;
            for (int i : differingFields({values, acknowledged, readBack}))
                names << Servo::parameterKey(i);
            if (names.isEmpty())
                o.result = QStringLiteral("verified");
            else
                failure(QStringLiteral("differs"),
                        QStringLiteral("fields that did not take: %1")
                            .arg(names.join(QLatin1String(", "))));
        }
        return Success;
    });
    if (code != Success) // the port could not be opened
        failure(interruptRequested() ? QStringLiteral("interrupted")
                                     : QStringLiteral("port unavailable"),
                QStringLiteral("the port cannot be opened"));
    o.time = QDateTime::currentDateTimeUtc();
    o.elapsedMs = clock.elapsed();
    return o;
}

// Asks until the answer is one of Enter, r (when there is a servo to retry)
// or q. Returns the number of the servo to program: the next one, the current
// one again, or 0 to stop (q, the end of the input, an interrupt).
int ask(QTextStream &in, QTextStream &err, int current)
{
    const int next = current + 1;
    for (;;) {
        if (interruptRequested())
            return 0;
        if (current > 0)
            err << QStringLiteral("Attach servo %1 and press Enter (r and Enter: servo %2 again; q "
                                  "and Enter: stop): ")
                       .arg(next)
                       .arg(current);
        else
            err << QStringLiteral("Attach servo %1 and press Enter (q and Enter to stop): ")
                       .arg(next);
        err.flush();
        const QString line = in.readLine();
        if (interruptRequested() || line.isNull()) {
            err << '\n';
            return 0;
        }
        const QString answer = line.trimmed();
        if (answer.isEmpty())
            return next;
        if (answer.compare(QLatin1String("q"), Qt::CaseInsensitive) == 0)
            return 0;
        if (current > 0 && answer.compare(QLatin1String("r"), Qt::CaseInsensitive) == 0)
            return current;
        say(err,
            QStringLiteral("\"%1\" is not an answer: Enter programs servo %2%3, q stops")
                .arg(answer, QString::number(next),
                     current > 0 ? QStringLiteral(", r programs servo %1 again").arg(current)
                                 : QString()));
    }
}

} // namespace

int runProgram(const Invocation &inv)
{
    if (inv.has(Option::Auto))
        return runProgramAuto(inv);
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    const QString path = inv.operands.at(0);
    Values values{};
    if (const int code = loadFile(path, &values, err, "; nothing was sent"))
        return code;
    LinkSettings settings;
    if (const int code = linkSettings(inv, &settings))
        return code;
    // The port is claimed and opened once before the first prompt: one that
    // is missing, busy or not a serial port ends the run before a servo is
    // asked for. It is opened again for each servo.
    if (const int code = withServo(settings, err, NoRead,
                                   [](Session &, const Values &) { return int(Success); }))
        return code;

    Servo::ProgramLog log;
    if (inv.has(Option::Log)) {
        QString why;
        if (!log.open(inv.value(Option::Log), &why))
            return fail(err, FileError, why + QStringLiteral("; nothing was sent"));
    }
    const QString job = Servo::jobFingerprint(values);
    // Ctrl-C and termination end the run in order from here on: the servo
    // being programmed gets its row, and the summary is printed.
    const InterruptHandling interruptHandling;
    bool logFailed = false;
    int programmed = 0;
    int failed = 0;
    int interrupted = 0;
    int current = 0; // the servo last programmed, 0 before the first
    Outcome last;
    // A servo's log row, with the result of its last attempt, is written and
    // counted when the run moves on from it.
    auto finishCurrent = [&]() {
        if (current == 0)
            return;
        if (log.isOpen()) {
            Servo::LogRow row;
            row.time = last.time;
            row.port = settings.port;
            row.servo = current;
            row.job = job;
            row.result = last.result;
            row.elapsedMs = last.elapsedMs;
            row.values = last.readBack;
            if (!log.append(row) && !logFailed) {
                say(err,
                    QStringLiteral("cannot write the log %1: %2")
                        .arg(log.path(), log.errorString()));
                logFailed = true;
            }
        }
        if (last.verified())
            ++programmed;
        else if (last.interrupted())
            ++interrupted;
        else
            ++failed;
    };
    for (;;) {
        // Without answers to read: one servo.
        const int number = inv.in ? ask(*inv.in, err, current) : current == 0 ? 1 : 0;
        if (number == 0)
            break;
        if (number != current) {
            finishCurrent();
            current = number;
        }
        last = programOne(settings, values, path, err);
        out << QStringLiteral("servo %1: %2\n")
                   .arg(current)
                   .arg(last.verified()          ? QStringLiteral("verified")
                            : last.interrupted() ? QStringLiteral("INTERRUPTED")
                                                 : QStringLiteral("FAILED, ") + last.details);
        out.flush();
        if (last.interrupted())
            break;
    }
    finishCurrent();
    out << QStringLiteral("programmed %1, failed %2%3\n")
               .arg(programmed)
               .arg(failed)
               .arg(interrupted > 0 ? QStringLiteral(", interrupted %1").arg(interrupted)
                                    : QString());
    out.flush();
    if (interruptRequested())
        return fail(err, Interrupted, QStringLiteral("interrupted"));
    if (logFailed)
        return FileError;
    return failed == 0 ? Success : Differences;
}

} // namespace ServoCli
