// The steps that the commands talking to the servo share: the link options,
// the choice of port, claiming and opening it, and what a failure says.
#include "tools/servo-cli/commands.h"

#include "files/parameterfile.h"
#include "files/parametertext.h"
#include "tools/common/interrupt.h"

#include <QTextStream>

using Servo::ParameterCount;
using Servo::Values;

namespace ServoCli {

namespace {

// For a port where nothing answers: when ports other than device (a path,
// links resolved) are present, that it may be the wrong one; else empty.
QString wrongPortHint(const QVector<Servo::PresentPort> &ports, const QString &device)
{
    const QString own = Servo::portIdentity(device);
    QVector<Servo::PresentPort> others;
    for (const Servo::PresentPort &p : ports) {
        if (Servo::portIdentity(Servo::portDevicePath(p.name)) != own)
            others << p;
    }
    if (others.isEmpty())
        return QString();
    return QStringLiteral(", or whether it is the wrong port (%1 %2 present too)")
        .arg(portNames(others), QLatin1String(others.size() == 1 ? "is" : "are"));
}

} // namespace

void say(QTextStream &err, const QString &message)
{
    err << "servo-cli: " << message << '\n';
    err.flush();
}

int fail(QTextStream &err, int code, const QString &message)
{
    say(err, message);
    return code;
}

int badArguments(QTextStream &err, const QString &problem, const QString &command)
{
    say(err, problem);
    err << "Run \"servo-cli " << (command.isEmpty() ? QString() : command + QLatin1Char(' '))
        << "--help\" for usage.\n";
    err.flush();
    return BadArguments;
}

QString portNames(const QVector<Servo::PresentPort> &ports)
{
    QStringList names;
    for (const Servo::PresentPort &p : ports)
        names << p.name +
                (p.usb                  ? QStringLiteral(" (USB adapter)")
                     : !p.simulator     ? QString()
                     : p.link.isEmpty() ? QStringLiteral(" (simulator)")
                                        : QStringLiteral(" (simulator %1)").arg(p.link));
    return names.join(QLatin1String(", "));
}

PortChoice choosePort(const QVector<Servo::PresentPort> &ports)
{
    const QString none = QStringLiteral("no --port given and SERVO_PORT is not set");
    if (ports.isEmpty())
        return {-1, PortUnavailable, none + QStringLiteral(", and no serial port is present")};
    QVector<int> usb;
    QVector<int> simulators;
    for (int i = 0; i < ports.size(); ++i) {
        if (ports.at(i).usb)
            usb << i;
        else if (ports.at(i).simulator)
            simulators << i;
    }
    const bool byUsb = !usb.isEmpty();
    const QVector<int> &candidates = byUsb ? usb : simulators;
    // Built-in ports only: a servo programmer is a USB adapter, and a port
    // of the machine itself is never taken without being named.
    if (candidates.isEmpty())
        return {-1, PortUnavailable,
                QStringLiteral("%1, and no USB adapter or simulator is present (is the programmer "
                               "plugged in?); %2 %3 not chosen without --port")
                    .arg(none, portNames(ports), QLatin1String(ports.size() == 1 ? "is" : "are"))};
    if (candidates.size() > 1) {
        QVector<Servo::PresentPort> listed;
        for (int i : candidates)
            listed << ports.at(i);
        return {-1, BadArguments,
                QStringLiteral("%1, and %2 %3 are present: %4; choose one with --port")
                    .arg(none)
                    .arg(candidates.size())
                    .arg(byUsb ? QStringLiteral("USB adapters") : QStringLiteral("simulators"),
                         portNames(listed))};
    }
    const int index = candidates.first();
    const Servo::PresentPort &p = ports.at(index);
    if (!byUsb)
        return {
            index, Success,
            QStringLiteral("using %1, the only simulator running (no USB adapter is present)")
                .arg(p.link.isEmpty() ? p.name : QStringLiteral("%1 (%2)").arg(p.name, p.link))};
    QStringList about;
    if (!p.description.trimmed().isEmpty())
        about << p.description.trimmed();
    if (p.hasIds)
        about << p.ids();
    return {index, Success,
            QStringLiteral("using %1%2, the only USB adapter present")
                .arg(p.name,
                     about.isEmpty()
                         ? QString()
                         : QStringLiteral(" (%1)").arg(about.join(QLatin1String(", "))))};
}

QString presentPortsSentence(const QVector<Servo::PresentPort> &ports)
{
    if (ports.isEmpty())
        return QStringLiteral("no serial port is present");
    return QStringLiteral("the ports present are %1").arg(portNames(ports));
}

int linkSettings(const Invocation &inv, LinkSettings *settings)
{
    QTextStream &err = *inv.err;
    // The numbers were checked with the command line.
    settings->verbose = inv.has(Option::Verbose);
    if (inv.has(Option::Timeout))
        settings->timeout = inv.value(Option::Timeout).toInt();
    if (inv.has(Option::Retries))
        settings->retries = inv.value(Option::Retries).toInt();
    settings->port = inv.value(Option::Port);
    settings->portOrigin.clear();
    if (settings->port.isEmpty()) {
        settings->port = qEnvironmentVariable("SERVO_PORT");
        if (!settings->port.isEmpty())
            settings->portOrigin = QStringLiteral("SERVO_PORT");
    }
    if (!settings->port.isEmpty())
        return Success;
    const QVector<Servo::PresentPort> ports = Servo::presentPorts();
    const PortChoice choice = choosePort(ports);
    if (choice.code == BadArguments)
        return badArguments(err, choice.message, inv.command);
    say(err, choice.message);
    if (choice.index < 0)
        return choice.code;
    settings->port = ports.at(choice.index).name;
    return Success;
}

namespace {

// The port as messages about the link name it: "/dev/ttyUSB0 (from SERVO_PORT)".
QString linkPortName(const Session &session)
{
    return session.link.portName() +
        (session.portOrigin.isEmpty() ? QString()
                                      : QStringLiteral(" (from %1)").arg(session.portOrigin));
}

// "within 500 ms (3 attempts)"
QString attemptsText(const Servo::ServoLink &link)
{
    const int n = link.attempts();
    return QStringLiteral("within %1 ms (%2 attempt%3)")
        .arg(link.timeout())
        .arg(n)
        .arg(n == 1 ? "" : "s");
}

} // namespace

int linkFailure(const Session &session, Servo::ServoLink::Result result, QTextStream &err)
{
    const Servo::ServoLink &link = session.link;
    const QString port = linkPortName(session);
    if (result == Servo::ServoLink::NoReply) {
        say(err,
            QStringLiteral("no reply from the servo programmer on %1 %2; "
                           "check the cable and the servo's power%3")
                .arg(port, attemptsText(link),
                     wrongPortHint(Servo::presentPorts(), session.claim.devicePath())));
    } else {
        say(err,
            QStringLiteral("the serial port %1 failed: %2; check the cable")
                .arg(port, link.errorString()));
    }
    return NoReply;
}

int readBackFailure(const Session &session, Servo::ServoLink::Result result, const QString &what,
                    const QString &acknowledged, QTextStream &err)
{
    const QString why = result == Servo::ServoLink::NoReply
        ? QStringLiteral("the read-back got no reply %1").arg(attemptsText(session.link))
        : QStringLiteral("the read-back failed: the serial port failed: %1")
              .arg(session.link.errorString());
    say(err,
        QStringLiteral("wrote %1 to the servo on %2 and the programmer acknowledged %3; %4, so "
                       "the write is not verified (\"servo-cli diff\" or \"get\" checks it)")
            .arg(what, linkPortName(session), acknowledged, why));
    return NoReply;
}

int withServo(const LinkSettings &settings, QTextStream &err, ReadCheck check,
              const ServoBody &body)
{
    Session session;
    session.portOrigin = settings.portOrigin;
    Servo::ServoLink &link = session.link;
    link.setTimeout(settings.timeout);
    link.setRetries(settings.retries);
    link.setInterruption(Servo::interruptRequested);
    if (settings.verbose)
        link.setLogger([&err](const QString &line) { say(err, line); });
    Servo::PortClaim &claim = session.claim;
    auto refuse = [&](QString why, bool missing) {
        QStringList notes;
        if (claim.devicePath() != claim.requestedPath())
            notes << claim.devicePath();
        if (!settings.portOrigin.isEmpty())
            notes << QStringLiteral("from ") + settings.portOrigin;
        if (missing)
            why += QStringLiteral("; ") + presentPortsSentence(Servo::presentPorts());
        return fail(err, PortUnavailable,
                    QStringLiteral("cannot open the serial port %1%2: %3")
                        .arg(claim.requestedPath(),
                             notes.isEmpty()
                                 ? QString()
                                 : QStringLiteral(" (%1)").arg(notes.join(QLatin1String("; "))),
                             why));
    };
    const QString problem = claim.claim(settings.port);
    if (!problem.isEmpty())
        return refuse(problem, claim.missing());
    if (!link.open(claim.devicePath())) {
        const QString why = link.openError() == QSerialPort::PermissionError ? claim.busyProblem()
                                                                             : link.errorString();
        claim.release();
        return refuse(why, link.openError() == QSerialPort::DeviceNotFoundError);
    }
    Values values{};
    if (check != NoRead) {
        const Servo::ServoLink::Result result = link.read(&values);
        if (result != Servo::ServoLink::Ok)
            return linkFailure(session, result, err);
    }
    for (int i = 0; check == WarnOutOfRange && i < ParameterCount; ++i) {
        if (!Servo::inRange(i, values[i]))
            say(err,
                QStringLiteral("warning: the servo reports %1 %2, outside its range %3")
                    .arg(Servo::parameterCaption(i))
                    .arg(values[i])
                    .arg(Servo::parameterRange(i)));
    }
    return body(session, values);
}

int withServo(const Invocation &inv, ReadCheck check, const ServoBody &body)
{
    LinkSettings settings;
    if (const int code = linkSettings(inv, &settings))
        return code;
    return withServo(settings, *inv.err, check, body);
}

int loadFile(const QString &path, Values *values, QTextStream &err, const char *consequence)
{
    QString text;
    Servo::ValuesCheck check;
    const Servo::ParsedLine::Status status = Servo::readTextFile(path, &text, &check.problem);
    if (status == Servo::ParsedLine::CannotOpen || status == Servo::ParsedLine::NotRegularFile)
        return fail(err, FileError, QStringLiteral("cannot read %1: %2").arg(path, check.problem));
    if (status == Servo::ParsedLine::Ok)
        check = Servo::parseValuesText(text);
    if (!check.ok)
        return fail(
            err, MalformedFile,
            QStringLiteral("%1: %2%3").arg(path, check.problem, QLatin1String(consequence)));
    *values = check.values;
    return Success;
}

Servo::ServoLink::Result writeAndVerify(Servo::ServoLink &link, const Values &values, bool verify,
                                        Values *acknowledged, Values *readBack, bool *written)
{
    const Servo::ServoLink::Result result = link.write(values, acknowledged);
    *written = result == Servo::ServoLink::Ok;
    if (result != Servo::ServoLink::Ok || !verify)
        return result;
    return link.read(readBack, values);
}

} // namespace ServoCli
