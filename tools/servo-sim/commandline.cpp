#include "tools/servo-sim/commandline.h"

#include <QCommandLineParser>

#ifndef SERVO_VERSION
#define SERVO_VERSION "unknown"
#endif

SimulatorCommandLine parseSimulatorCommandLine(const QStringList &arguments)
{
    SimulatorCommandLine out;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a servo programmer on a serial line: answers read requests with the parameter\n"
        "block it holds and stores write requests. Without --device it creates a\n"
        "pseudo-terminal and prints the path of its slave side, alone on the first line of\n"
        "standard output; open that path as the serial port. Runs until SIGINT or SIGTERM."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Serve a serial device (111100 baud, 8N2) instead of a pseudo-terminal."),
        QStringLiteral("path"));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Also make a symlink at <path> to the pseudo-terminal, removed at exit "
                       "if it still points there. A link to the terminal of a running "
                       "simulator, or to anything else that exists, is refused; one left by a "
                       "simulator that is gone (to nothing) is replaced."),
        QStringLiteral("path"));
    const QCommandLineOption chunk(QStringLiteral("chunk"),
                                   QStringLiteral("Send every reply in pieces of <n> bytes."),
                                   QStringLiteral("n"));
    const QCommandLineOption pause(QStringLiteral("chunk-pause"),
                                   QStringLiteral("Pause between two pieces (default 20)."),
                                   QStringLiteral("ms"));
    const QCommandLineOption noise(
        QStringLiteral("noise"),
        QStringLiteral("Send <n> random bytes (never 0x55) before every reply."),
        QStringLiteral("n"));
    const QCommandLineOption corrupt(QStringLiteral("corrupt-every"),
                                     QStringLiteral("Spoil the checksum of every <n>th reply."),
                                     QStringLiteral("n"));
    const QCommandLineOption drop(
        QStringLiteral("drop-every"),
        QStringLiteral("Lose every <n>th request: not executed, not answered."),
        QStringLiteral("n"));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Wait <ms> after a request before replying."),
                                   QStringLiteral("ms"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Log every request and reply as hex on standard error."));
    parser.addOptions(
        {help, version, device, link, chunk, pause, noise, corrupt, drop, delay, verbose});
    parser.addPositionalArgument(
        QStringLiteral("file"),
        QStringLiteral("Parameter file to start from (one line of 14 fields); "
                       "default: the start values."),
        QStringLiteral("[file]"));

    auto fail = [&out](const QString &message) {
        out.exitCode = SimulatorExit::BadArguments;
        out.message = message + QStringLiteral("\nTry 'servo-sim --help'.");
        return out;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(version) && !parser.isSet(help)) {
        out.exitCode = SimulatorExit::Ok;
        out.message = QStringLiteral("servo-sim %1\n").arg(QLatin1String(SERVO_VERSION));
        return out;
    }
    if (parser.isSet(help)) {
        out.exitCode = SimulatorExit::Ok;
        out.message = parser.helpText() + QStringLiteral(R"(
The device:
  A read request (flags bit 1 clear) is answered with a read reply (bit 3)
  carrying the block the device holds; the data bytes of the request do not
  matter. A write request (bit 1 set) is stored and answered with a write
  acknowledgement (bit 2) carrying what was stored. The device clamps each
  written value to the range of its parameter instead of refusing the frame:
  a Sensitivity of 100 is stored as 50, a MinPulseWidth of 0 as 500, and the
  acknowledgement shows the clamped values. The switches come from flag bits 0
  (ReversedRotation), 5 (SoftStart) and 4 (LOCKProtection). Frames with a bad
  checksum or trailer are ignored, and so are frames with a reply bit (2 or 3)
  set: they are not requests. A parameter file is read as the tool reads one
  (a field that is not a number counts as 0), clamped the same way, and
  refused when its first line has fewer than 14 fields or none of them is a
  number (a header row of names, numbers in quotes).

Faults:
  --drop-every counts requests, --corrupt-every counts the replies made; a
  dropped write is not stored. Pieces, delays and noise keep replies in order.

Exit status:
  0 after SIGINT or SIGTERM, 1 when the line or the link cannot be set up
  (also a --link of a running simulator), 2 for bad arguments, 6 when the
  parameter file is refused.

Example session (bash):
  $ servo-sim --link /tmp/servo --verbose &
  /dev/pts/5
  $ exec 3<>/tmp/servo
  $ printf '\x55\0\0\0\0\0\0\0\0\xf4\x01\xc4\x09\0\0\0\xdc\x05\xa3\xaa' >&3
  servo-sim: rx 55 00 00 00 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 A3 AA  read
  servo-sim: tx 55 00 00 08 00 00 00 00 00 F4 01 C4 09 00 00 00 DC 05 AB AA  read reply
  $ timeout 1 cat <&3 | od -An -tx1
   55 00 00 08 00 00 00 00 00 f4 01 c4 09 00 00 00
   dc 05 ab aa
  $ exec 3<&-; kill %1
)");
        return out;
    }

    auto number = [&parser](const QCommandLineOption &option, int minimum, int maximum,
                            int *target) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        const int v = parser.value(option).toInt(&ok, 10);
        if (!ok || v < minimum || v > maximum)
            return false;
        *target = v;
        return true;
    };
    struct Range
    {
        const QCommandLineOption &option;
        int minimum;
        int maximum;
        int *target;
    };
    SimulatorOptions &o = out.options;
    const Range ranges[] = {
        {chunk, 1, 1000, &o.chunk},       {pause, 0, 60000, &o.chunkPauseMs},
        {noise, 0, 10000, &o.noise},      {corrupt, 1, 1000000, &o.corruptEvery},
        {drop, 1, 1000000, &o.dropEvery}, {delay, 0, 600000, &o.delayMs},
    };
    for (const Range &r : ranges) {
        if (!number(r.option, r.minimum, r.maximum, r.target))
            return fail(QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                            .arg(r.option.names().constFirst())
                            .arg(r.minimum)
                            .arg(r.maximum)
                            .arg(parser.value(r.option)));
    }
    o.verbose = parser.isSet(verbose);
    out.device = parser.value(device);
    out.link = parser.value(link);
    if (parser.isSet(device) && out.device.isEmpty())
        return fail(QStringLiteral("--device wants a path"));
    if (parser.isSet(link) && out.link.isEmpty())
        return fail(QStringLiteral("--link wants a path"));
    if (!out.device.isEmpty() && !out.link.isEmpty())
        return fail(
            QStringLiteral("--link is for the pseudo-terminal; it cannot go with --device"));
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return fail(QStringLiteral("one parameter file at most, not %1").arg(files.size()));
    if (!files.isEmpty())
        out.parameterFile = files.constFirst();
    return out;
}
