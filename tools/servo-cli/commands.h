#ifndef SERVOCLI_COMMANDS_H
#define SERVOCLI_COMMANDS_H

// The inside of servo-cli: the parsed command line, the steps the commands
// share, and the handlers.
#include "tools/servo-cli/cli.h"
#include "serial/portclaim.h"
#include "serial/servolink.h"

#include <QMap>

#include <functional>

class QTextStream;

namespace ServoCli {

// The options of the commands.
enum class Option {
    Port,
    Timeout,
    Retries,
    Verbose,
    Json,
    Out,
    NoVerify,
    Backup,
    Log,
    Auto,
    Count,
    Poll,
    Gone,
    Quiet,
    ExpectJob,
    Help,
    Version
};

// A command line, parsed, and where the command's output goes.
struct Invocation
{
    QString command; // the command's name
    QMap<Option, QString> options; // the value, "" for a flag
    QMap<Option, QStringList> repeated; // every value of an option given more than once
    QStringList operands;
    QTextStream *out = nullptr;
    QTextStream *err = nullptr;
    QTextStream *in = nullptr;

    bool has(Option option) const { return options.contains(option); }
    QString value(Option option) const { return options.value(option); }
};

// ------------------------------------------------ steps the commands share

// "servo-cli: message" on the error stream.
void say(QTextStream &err, const QString &message);
// Says message and returns code.
int fail(QTextStream &err, int code, const QString &message);
// Says problem and where the usage is told; returns BadArguments.
int badArguments(QTextStream &err, const QString &problem, const QString &command = QString());

struct LinkSettings
{
    QString port; // as chosen, before lookup in /dev
    // Where the port came from, for messages: empty for --port and a port
    // chosen by default, "SERVO_PORT" for the environment.
    QString portOrigin;
    int timeout = 500;
    int retries = 2;
    bool verbose = false;
};

// The port claimed and the link opened on it; the claim lasts as long as
// the session.
struct Session
{
    Servo::PortClaim claim;
    Servo::ServoLink link;
    QString portOrigin; // as in LinkSettings
};

// The port to use when none is named: the one USB adapter present, else the
// one running simulator. Ports that are neither (a built-in serial port) are
// never chosen. index is -1 when none is chosen; code is Success or the exit
// code; message is what to say on standard error either way.
struct PortChoice
{
    int index = -1;
    int code = Success;
    QString message;
};
PortChoice choosePort(const QVector<Servo::PresentPort> &ports);
// "ttyS0, ttyUSB0 (USB adapter), /dev/pts/3 (simulator)".
QString portNames(const QVector<Servo::PresentPort> &ports);
// For a port that does not exist: the ports present, or that there are none.
QString presentPortsSentence(const QVector<Servo::PresentPort> &ports);

// --timeout, --retries, --verbose and the port: --port, else $SERVO_PORT,
// else choosePort (said on standard error). Returns Success or the exit
// code, after saying why.
int linkSettings(const Invocation &inv, LinkSettings *settings);
// Says why talking to the servo failed; returns NoReply.
int linkFailure(const Session &session, Servo::ServoLink::Result result, QTextStream &err);

// What the commands do with the servo: claim and open the port of
// settings, read the servo's block (unless NoRead; WarnOutOfRange also warns
// of values outside their ranges) and hand the session and the block to
// body. Returns body's exit code, or the exit code after saying why the port
// or the read failed. A requested interrupt (interrupt.h) ends a wait for
// the servo.
enum ReadCheck { NoRead, NoRangeWarning, WarnOutOfRange };
using ServoBody = std::function<int(Session &session, const Servo::Values &servo)>;
int withServo(const LinkSettings &settings, QTextStream &err, ReadCheck check,
              const ServoBody &body);
// The same with the settings of the command line (linkSettings).
int withServo(const Invocation &inv, ReadCheck check, const ServoBody &body);

// Reads and checks a parameter file, one-line or JSON (files/parametertext);
// returns Success, or MalformedFile or FileError after saying why (the path,
// then the reason; consequence is added to a refusal for malformed content).
int loadFile(const QString &path, Servo::Values *values, QTextStream &err,
             const char *consequence = "");

// Writes values and, when verify, reads them back. *acknowledged and
// *readBack receive what came; *written says whether the write was
// acknowledged, whatever became of the read-back.
Servo::ServoLink::Result writeAndVerify(Servo::ServoLink &link, const Servo::Values &values,
                                        bool verify, Servo::Values *acknowledged,
                                        Servo::Values *readBack, bool *written);
// For a write that was acknowledged when the read-back then failed: says
// that what was written to the servo, with acknowledged (what the
// acknowledgement showed), and why the read-back failed, so that it is not
// verified; returns NoReply.
int readBackFailure(const Session &session, Servo::ServoLink::Result result, const QString &what,
                    const QString &acknowledged, QTextStream &err);
// ------------------------------------------------------------ the handlers

int runPorts(const Invocation &inv);
int runRead(const Invocation &inv);
int runWrite(const Invocation &inv);
int runDiff(const Invocation &inv);
int runShow(const Invocation &inv);
int runGet(const Invocation &inv);
int runSet(const Invocation &inv);
int runProgram(const Invocation &inv);
// "program --auto": the hands-free bench (auto.cpp).
int runProgramAuto(const Invocation &inv);

} // namespace ServoCli

#endif // SERVOCLI_COMMANDS_H
