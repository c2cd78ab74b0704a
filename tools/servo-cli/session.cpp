// The steps that the commands talking to the servo share: the link options,
// the choice of port, claiming and opening it, and what a failure says.
#include "tools/servo-cli/commands.h"

#include "files/parameterfile.h"
#include "serial/simulatorports.h"
#include "tools/servo-cli/input.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTextStream>

using Servo::ParameterCount;
using Servo::Values;

namespace ServoCli {

void say(QTextStream &err, const QString &message)
{
    err << "servo-cli: " << message << '\n';
    err.flush();
}

int badArguments(QTextStream &err, const QString &problem, const QString &command)
{
    say(err, problem);
    err << "Run \"servo-cli " << (command.isEmpty() ? QString() : command + QLatin1Char(' '))
        << "--help\" for usage.\n";
    err.flush();
    return BadArguments;
}

QVector<PortRow> presentPorts()
{
    QVector<PortRow> rows;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        PortRow row;
        row.name = info.portName();
        row.description = info.description();
        row.manufacturer = info.manufacturer();
        row.hasIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        row.vendorId = info.vendorIdentifier();
        row.productId = info.productIdentifier();
        rows << row;
    }
    const QStringList simulators = Servo::simulatorPorts();
    for (const QString &path : simulators) {
        PortRow row;
        row.name = path;
        row.description = QStringLiteral("servo-sim (simulated programmer)");
        rows << row;
    }
    return rows;
}

int linkSettings(const Invocation &inv, LinkSettings *settings)
{
    QTextStream &err = *inv.err;
    // The numbers were checked with the command line.
    settings->verbose = inv.has("verbose");
    if (inv.has("timeout"))
        settings->timeout = inv.value("timeout").toInt();
    if (inv.has("retries"))
        settings->retries = inv.value("retries").toInt();
    settings->port = inv.value("port");
    if (settings->port.isEmpty())
        settings->port = qEnvironmentVariable("SERVO_PORT");
    if (!settings->port.isEmpty())
        return Success;
    const QVector<PortRow> ports = presentPorts();
    if (ports.isEmpty()) {
        say(err, QStringLiteral("no --port given, SERVO_PORT is not set, and no serial port is present"));
        return PortUnavailable;
    }
    if (ports.size() > 1) {
        QStringList names;
        for (const PortRow &p : ports)
            names << p.name;
        return badArguments(err,
                            QStringLiteral("no --port given, SERVO_PORT is not set, and %1 ports are present: %2; "
                                           "choose one with --port")
                                .arg(ports.size())
                                .arg(names.join(QLatin1String(", "))),
                            inv.name());
    }
    settings->port = ports.first().name;
    say(err, QStringLiteral("using %1, the only port present").arg(settings->port));
    return Success;
}

int openSession(const LinkSettings &settings, Session *session, QTextStream &err)
{
    Servo::ServoLink &link = session->link;
    link.setTimeout(settings.timeout);
    link.setRetries(settings.retries);
    if (settings.verbose)
        link.setLogger([&err](const QString &line) { say(err, line); });
    PortClaim &claim = session->claim;
    auto refuse = [&](const QString &why) {
        const QString resolved = claim.devicePath() != claim.requestedPath()
                                     ? QStringLiteral(" (%1)").arg(claim.devicePath())
                                     : QString();
        say(err, QStringLiteral("cannot open the serial port %1%2: %3").arg(claim.requestedPath(), resolved, why));
        return PortUnavailable;
    };
    if (!claim.claim(settings.port))
        return refuse(claim.problem());
    if (!link.open(claim.devicePath())) {
        const QString why = link.openError() == QSerialPort::PermissionError ? claim.busyProblem() : link.errorString();
        claim.release();
        return refuse(why);
    }
    return Success;
}

int startSession(const Invocation &inv, LinkSettings *settings, Session *session)
{
    if (const int code = linkSettings(inv, settings))
        return code;
    return openSession(*settings, session, *inv.err);
}

int linkFailure(const Servo::ServoLink &link, Servo::ServoLink::Result result, QTextStream &err)
{
    if (result == Servo::ServoLink::NoReply) {
        const int n = link.attempts();
        say(err, QStringLiteral("no reply from the servo programmer on %1 within %2 ms (%3 attempt%4); "
                                "check the cable and the servo's power")
                     .arg(link.portName())
                     .arg(link.timeout())
                     .arg(n)
                     .arg(n == 1 ? "" : "s"));
    } else {
        say(err, QStringLiteral("the serial port %1 failed: %2; check the cable")
                     .arg(link.portName(), link.errorString()));
    }
    return NoReply;
}

int readServo(Session &session, Values *values, QTextStream &err, ReadCheck check)
{
    const Servo::ServoLink::Result result = session.link.read(values);
    if (result != Servo::ServoLink::Ok)
        return linkFailure(session.link, result, err);
    if (check == WarnOutOfRange)
        warnOutOfRange(*values, QStringLiteral("the servo"), err);
    return Success;
}

void warnOutOfRange(const Values &values, const QString &source, QTextStream &err)
{
    for (int i = 0; i < ParameterCount; ++i) {
        if (!Servo::inRange(i, values[i])) {
            const Servo::ParameterInfo &p = Servo::parameterInfo(i);
            say(err, QStringLiteral("warning: %1 reports %2 %3, outside its range %4..%5")
                         .arg(source, QLatin1String(p.english))
                         .arg(values[i])
                         .arg(p.minimum)
                         .arg(p.maximum));
        }
    }
}

int loadFile(const QString &path, Values *values, QTextStream &err, const char *consequence)
{
    QString problem;
    const int code = loadValues(path, values, &problem);
    if (code == MalformedFile)
        problem += QLatin1String(consequence);
    if (code != Success)
        say(err, problem);
    return code;
}

Servo::ServoLink::Result writeAndVerify(Servo::ServoLink &link, const Values &values, bool verify,
                                        Values *acknowledged, Values *readBack, QVector<int> *differing)
{
    differing->clear();
    Servo::ServoLink::Result result = link.write(values, acknowledged);
    if (result != Servo::ServoLink::Ok || !verify)
        return result;
    result = link.read(readBack, values);
    if (result == Servo::ServoLink::Ok)
        *differing = differingFields({values, *acknowledged, *readBack});
    return result;
}

int chooseBackup(const Invocation &inv, const QString &input, QString *backup)
{
    QTextStream &err = *inv.err;
    const QString given = inv.value("backup");
    if (!input.isEmpty() && Servo::sameFile(given, input))
        return badArguments(
            err,
            QStringLiteral("--backup %1 is the file to write%2; choose another name for the "
                           "backup; nothing was sent")
                .arg(given, given == input ? QString() : QStringLiteral(", %1").arg(input)),
            inv.name());
    const QString problem = Servo::writeTargetProblem(given);
    if (!problem.isEmpty()) {
        say(err,
            QStringLiteral("cannot save the backup %1: %2; nothing was sent").arg(given, problem));
        return FileError;
    }
    auto taken = [](const QString &path) {
        const QFileInfo info(path);
        return info.exists() || info.isSymLink();
    };
    if (!taken(given)) {
        *backup = given;
        return Success;
    }
    // before.txt -> before-1.txt; the number goes before the last extension.
    const QFileInfo info(given);
    const QString suffix = info.suffix().isEmpty() || info.completeBaseName().isEmpty()
        ? QString()
        : QLatin1Char('.') + info.suffix();
    const QString stem = given.left(given.size() - suffix.size());
    const int most = 9999;
    for (int n = 1; n <= most; ++n) {
        const QString candidate = QStringLiteral("%1-%2%3").arg(stem).arg(n).arg(suffix);
        if (!taken(candidate)) {
            *backup = candidate;
            return Success;
        }
    }
    say(err,
        QStringLiteral(
            "cannot save the backup: %1 and %2-1%3 to %2-%4%3 exist already; choose another "
            "name with --backup; nothing was sent")
            .arg(given, stem, suffix)
            .arg(most));
    return FileError;
}

int saveBackup(const Values &current, const QString &path, const QString &requested,
               QTextStream &err)
{
    QString why;
    if (!Servo::writeParameterFile(path, current, &why, Servo::WriteMode::NewFileOnly)) {
        say(err, QStringLiteral("cannot save the backup %1: %2; nothing was written").arg(path, why));
        return FileError;
    }
    if (path == requested)
        say(err, QStringLiteral("saved the servo's parameters to %1 before writing").arg(path));
    else
        say(err,
            QStringLiteral(
                "saved the servo's parameters to %1 before writing (%2 exists already and was "
                "kept)")
                .arg(path, requested));
    return Success;
}

} // namespace ServoCli
