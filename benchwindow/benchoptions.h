#ifndef BENCHOPTIONS_H
#define BENCHOPTIONS_H

#include <QString>
#include <QStringList>

// servo-bench's command line, after Qt has taken its own options:
//   --job FILE        the parameter file every servo gets
//   --log FILE        the programming log to append to
//   --start           start at once (needs a job)
//   --port PORT       a port to serve; repeatable. "usb" means every USB
//                     adapter, "simulators" every running servo-sim; with
//                     no --port the window watches both and adds the ports
//                     it remembers
//   --expect-job HASH refuse a job whose fingerprint differs
//   --poll MS         read requests this often while a slot waits
// Each takes its value as the next argument or after '='.
namespace Servo {

constexpr int MinPollMs = 10;
constexpr int MaxPollMs = 10000;

struct BenchOptions
{
    QString job;
    QString log;
    bool start = false;
    bool portsGiven = false; // any --port: serve those only
    QStringList ports; // named ports, in order
    bool watchUsb = false; // --port usb
    bool watchSimulators = false; // --port simulators
    QString expectJob; // lower case
    int pollMs = 100;
};

// Parses arguments (without the program's name). Returns an empty string,
// or what is wrong with them, in a sentence.
QString parseBenchOptions(const QStringList &arguments, BenchOptions *options);

} // namespace Servo

#endif // BENCHOPTIONS_H
