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
        "Plays one or more servo programmers on serial lines: each answers read requests\n"
        "with the parameter block its servo holds and stores write requests, while a\n"
        "servo is attached. Without --device it creates pseudo-terminals and prints the\n"
        "paths of their slave sides, one per line in order, before anything else; open\n"
        "such a path as the serial port. Then it reads commands on standard input\n"
        "(below). Runs until SIGINT, SIGTERM or the command quit."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption programmers(
        QStringLiteral("programmers"),
        QStringLiteral("Play <n> programmers (1 to 64), each on a pseudo-terminal of its own "
                       "(default: one per --link, at least 1)."),
        QStringLiteral("n"));
    const QCommandLineOption device(
        QStringLiteral("device"),
        QStringLiteral("Serve a serial device (111100 baud, 8N2) instead of a pseudo-terminal; "
                       "once per programmer."),
        QStringLiteral("path"));
    const QCommandLineOption link(
        QStringLiteral("link"),
        QStringLiteral("Also make a symlink at <path> to a pseudo-terminal, once per "
                       "programmer in order, removed at exit if it still points there. A "
                       "link to the terminal of a running simulator, or to anything else that "
                       "exists, is refused; one left by a simulator that is gone (to nothing) "
                       "is replaced."),
        QStringLiteral("path"));
    const QCommandLineOption empty(
        QStringLiteral("empty"),
        QStringLiteral("Start with no servo attached: requests go unanswered."));
    const QCommandLineOption present(
        QStringLiteral("present"),
        QStringLiteral("With --absent: a servo is attached for <ms>, then none for the "
                       "--absent time, and so on; each new servo holds other values."),
        QStringLiteral("ms"));
    const QCommandLineOption absent(QStringLiteral("absent"), QStringLiteral("See --present."),
                                    QStringLiteral("ms"));
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
    parser.addOptions({help, version, programmers, device, link, empty, present, absent, chunk,
                       pause, noise, corrupt, drop, delay, verbose});
    parser.addPositionalArgument(
        QStringLiteral("file"),
        QStringLiteral("Parameter file of the first servo (one line of 14 fields); "
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
  Faults apply to every programmer, each counting its own requests.

Several programmers:
  --programmers N plays N programmers in one process, on N pseudo-terminals
  whose paths are printed in order; --link may be given once per programmer,
  in the same order. With --device once per programmer, they serve serial
  devices instead. Each pseudo-terminal is offered in the port list like a
  single simulator's. With --verbose, each line names its programmer.

Servos:
  A programmer answers only while a servo is attached: with its socket empty
  (--empty at the start, or after detach) requests go unanswered. The first
  servo of each programmer holds the parameter file's block (or the start
  values); every later one that comes without values holds a block of its
  own, the same on every run, within the parameters' ranges, and never the
  start values nor the block of the servo before it.
  --present MS --absent MS: each programmer has a servo for MS, none for MS,
  and so on. Programmer P of N is shifted by (P-1)/N of a cycle, so they do
  not all change at once: it starts empty and gets its first servo
  (P-1) * (present + absent) / N ms after the start; only programmer 1 has
  one at the start. With --empty each first servo comes absent ms later
  still.

Commands (one per line on standard input; programmers are numbered from 1;
each is answered by one line on standard output, "ok" or "error: <why>"):
  attach P [LINE]   a servo is attached to P (replacing one there), holding
                    LINE (14 values, as in a parameter file, clamped to the
                    ranges) or the next block as above
  detach P          the servo is taken away
  skip P            the next request on P goes unanswered
  pull-on-write P   the next write request on P is neither stored nor
                    answered, and the servo is gone: pulled during the write
  unplug P          P's pseudo-terminal is closed: the client's port fails,
                    the link and the port list entry go (not for a device)
  replug P          a new pseudo-terminal for P, under the same link and in
                    the port list again
  quit              end, as on SIGTERM
  The end of standard input ends only the commands: servo-sim runs on. On a
  terminal, commands are read in the foreground only; started with "&", it
  reads none.

Exit status:
  0 after SIGINT, SIGTERM or quit, 1 when a line or a link cannot be set up
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
        {programmers, 1, 64, &out.programmers}, {present, 10, 86400000, &out.presentMs},
        {absent, 10, 86400000, &out.absentMs},  {chunk, 1, 1000, &o.chunk},
        {pause, 0, 60000, &o.chunkPauseMs},     {noise, 0, 10000, &o.noise},
        {corrupt, 1, 1000000, &o.corruptEvery}, {drop, 1, 1000000, &o.dropEvery},
        {delay, 0, 600000, &o.delayMs},
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
    o.attached = !parser.isSet(empty);
    out.devices = parser.values(device);
    out.links = parser.values(link);
    if (out.devices.contains(QString()))
        return fail(QStringLiteral("--device wants a path"));
    if (out.links.contains(QString()))
        return fail(QStringLiteral("--link wants a path"));
    if (!out.devices.isEmpty() && !out.links.isEmpty())
        return fail(
            QStringLiteral("--link is for the pseudo-terminal; it cannot go with --device"));
    if (!out.devices.isEmpty() && parser.isSet(programmers))
        return fail(QStringLiteral("--programmers is for pseudo-terminals; give --device once "
                                   "per programmer instead"));
    if (!parser.isSet(programmers))
        out.programmers = qMax(1, int(qMax(out.devices.size(), out.links.size())));
    if (out.links.size() > out.programmers)
        return fail(QStringLiteral("%1 links for %2 programmers: one --link per programmer at "
                                   "most")
                        .arg(out.links.size())
                        .arg(out.programmers));
    if (parser.isSet(present) != parser.isSet(absent))
        return fail(QStringLiteral("--present and --absent go together"));
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return fail(QStringLiteral("one parameter file at most, not %1").arg(files.size()));
    if (!files.isEmpty())
        out.parameterFile = files.constFirst();
    return out;
}
