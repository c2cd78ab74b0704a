// "program": one parameter file written to many servos in turn, on a bench.
#include "tools/servo-cli/commands.h"

#include "files/parameterfile.h"

#include <QDateTime>
#include <QFile>
#include <QTextStream>

using Servo::ParameterCount;
using Servo::Values;

namespace ServoCli {

namespace {

struct Outcome {
    bool verified = false;
    QString result;  // for the log: verified, differs, no reply, port failed, port unavailable
    QString details; // for people
    bool haveReadBack = false;
    Values readBack{};
};

Outcome programOne(const LinkSettings &settings, const Values &values, QTextStream &err)
{
    Outcome o;
    Session session;
    if (openSession(settings, &session, err) != Success) {
        o.result = QStringLiteral("port unavailable");
        o.details = QStringLiteral("the port cannot be opened");
        return o;
    }
    Values acknowledged{};
    QVector<int> differing;
    const Servo::ServoLink::Result result =
        writeAndVerify(session.link, values, true, &acknowledged, &o.readBack, &differing);
    if (result != Servo::ServoLink::Ok) {
        linkFailure(session.link, result, err);
        o.result = result == Servo::ServoLink::NoReply ? QStringLiteral("no reply") : QStringLiteral("port failed");
        o.details = o.result;
        return o;
    }
    o.haveReadBack = true;
    if (differing.isEmpty()) {
        o.verified = true;
        o.result = QStringLiteral("verified");
        return o;
    }
    QStringList names;
    for (int i : differing)
        names << QString::fromLatin1(Servo::parameterInfo(i).stem);
    o.result = QStringLiteral("differs");
    o.details = QStringLiteral("fields that did not take: %1").arg(names.join(QLatin1String(", ")));
    return o;
}

// Opens the log to append to: a regular file that begins with the log's
// header line, or a new or empty one, which gets the header. Anything else is
// refused, so that rows never end up in another file or a named pipe.
int openLog(const QString &path, QFile *log, QTextStream &err)
{
    QString why;
    if (!Servo::openRegularFileToAppend(path, log, &why)) {
        say(err, QStringLiteral("cannot write the log %1: %2; nothing was sent").arg(path, why));
        return FileError;
    }
    const QByteArray header =
        formatCsvHeader({QStringLiteral("time"), QStringLiteral("port"), QStringLiteral("result")})
            .toUtf8();
    QByteArray start;
    bool lineEnded = true;
    const qint64 size = log->size();
    if (size > 0) {
        log->seek(0);
        start = log->readLine(header.size() + 3);
        while (start.endsWith('\n') || start.endsWith('\r'))
            start.chop(1);
        char last = '\n';
        lineEnded = log->seek(size - 1) && log->getChar(&last) && last == '\n';
        if (log->error() != QFileDevice::NoError) {
            say(err,
                QStringLiteral("cannot read the log %1: %2; nothing was sent")
                    .arg(path, log->errorString()));
            return FileError;
        }
        if (start != header) {
            say(err,
                QStringLiteral(
                    "%1 is not a servo-cli log: its first line is not \"%2,...\"; name a new "
                    "file or an earlier log; nothing was sent")
                    .arg(path, QString::fromUtf8(header).section(QLatin1Char(','), 0, 3)));
            return FileError;
        }
    }
    log->seek(size);
    log->setTextModeEnabled(true);
    if (size == 0)
        log->write(header + '\n');
    else if (!lineEnded) // a row cut short, by a full disk say, stays on its own line
        log->write("\n");
    if (!log->flush()) {
        say(err,
            QStringLiteral("cannot write the log %1: %2; nothing was sent")
                .arg(path, log->errorString()));
        return FileError;
    }
    return Success;
}

} // namespace

int runProgram(const Invocation &inv)
{
    QTextStream &out = *inv.out;
    QTextStream &err = *inv.err;
    const QString path = inv.operands.at(0);
    Values values{};
    if (const int code = loadFile(path, &values, err, "; nothing was sent"))
        return code;
    LinkSettings settings;
    if (const int code = linkSettings(inv, &settings))
        return code;

    QFile log;
    QTextStream logStream;
    if (inv.has("log")) {
        if (const int code = openLog(inv.value("log"), &log, err))
            return code;
        logStream.setDevice(&log);
    }

    int programmed = 0;
    int failed = 0;
    bool logFailed = false;
    for (int number = 1;; ++number) {
        const Outcome o = programOne(settings, values, err);
        if (o.verified)
            ++programmed;
        else
            ++failed;
        out << QStringLiteral("servo %1: %2\n")
                   .arg(number)
                   .arg(o.verified ? QStringLiteral("verified") : QStringLiteral("FAILED, ") + o.details);
        out.flush();
        if (log.isOpen()) {
            logStream << formatCsvRow({QDateTime::currentDateTimeUtc().toString(Qt::ISODate), settings.port, o.result},
                                      o.haveReadBack ? &o.readBack : nullptr)
                      << '\n';
            logStream.flush();
            if (log.error() != QFileDevice::NoError && !logFailed) {
                say(err, QStringLiteral("cannot write the log %1: %2").arg(log.fileName(), log.errorString()));
                logFailed = true;
            }
        }
        if (!inv.in)
            break;
        err << "Attach the next servo and press Enter (q and Enter to stop): ";
        err.flush();
        const QString answer = inv.in->readLine();
        if (answer.isNull() || answer.trimmed().compare(QLatin1String("q"), Qt::CaseInsensitive) == 0)
            break;
    }
    out << QStringLiteral("programmed %1, failed %2\n").arg(programmed).arg(failed);
    if (logFailed)
        return FileError;
    return failed == 0 ? Success : Differences;
}

} // namespace ServoCli
