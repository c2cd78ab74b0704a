#ifndef SERVOCLI_CLI_H
#define SERVOCLI_CLI_H

#include "tools/servo-cli/format.h"

#include <QString>
#include <QStringList>

class QTextStream;

// servo-cli: the servo programmer from a shell. Results go to the output
// stream, messages, warnings and prompts to the error stream.
namespace ServoCli {

enum ExitCode {
    Success = 0,
    BadArguments = 2,
    NoReply = 3,
    PortUnavailable = 4,
    Differences = 5,
    MalformedFile = 6,
    FileError = 7,
    Interrupted = 130, // SIGINT or SIGTERM during "program", as a shell reports Ctrl-C
};

// Runs one command line (without the program name) and returns the exit
// code. in is what "program" reads its answers from (none: it stops after
// the first servo).
int run(const QStringList &arguments, QTextStream &out, QTextStream &err,
        QTextStream *in = nullptr);

} // namespace ServoCli

#endif // SERVOCLI_CLI_H
