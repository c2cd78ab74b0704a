// "program": one parameter file written to many servos in turn, on a bench.
#include "tools/servo-cli/commands.h"

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
        log.setFileName(inv.value("log"));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            say(err, QStringLiteral("cannot write the log %1: %2").arg(log.fileName(), log.errorString()));
            return FileError;
        }
        logStream.setDevice(&log);
        if (log.size() == 0)
            logStream << formatCsvHeader({QStringLiteral("time"), QStringLiteral("port"), QStringLiteral("result")})
                      << '\n';
        logStream.flush();
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
