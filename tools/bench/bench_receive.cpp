// Throughput of the receive path, end to end through the real window: a
// Widget on the offscreen platform opens one side of a pseudo-terminal, and
// the other side is fed a deterministic stream of line noise with replies
// mixed in (about one per 200 bytes). The clock
// stops when the last reply, which carries values no other reply has, shows
// in the controls. Beside it, the bare FrameScanner on the same stream.
//
// Usage: bench_receive [MiB] [--pieces] [--window-only]
//   MiB            size of the stream, default 1
//   --pieces       write pieces of 1 to 64 bytes, as a USB serial adapter
//                  hands them on, one per turn of the event loop, instead of
//                  up to 4 KiB at a time, as much as the line takes
//   --window-only  leave out the bare scanner (for a profiler)
// Build in Release; the window runs on the offscreen platform.

#include "app/widget.h"
#include "protocol/frame.h"
#include "protocol/parameters.h"
#include "serial/pseudoterminal.h"

#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// xorshift64*: the same stream on every platform and library.
class Random
{
public:
    explicit Random(uint64_t seed)
        : m_state(seed)
    {
    }
    uint64_t next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1DULL;
    }
    int below(int n) { return int(next() % uint64_t(n)); }

private:
    uint64_t m_state;
};

struct Stream
{
    QByteArray bytes;
    std::vector<int> arrivals; // pieces of 1..64 bytes, as an adapter delivers them
    std::vector<int> offsets; // where each piece starts
    int replies = 0; // read replies and write acknowledgements put in
    Servo::Values last{}; // the values of the last reply
};

// Noise never holds 0x55, so that it cannot start a frame that hides a reply;
// a false candidate costs the scanner more than a clean byte, so every tenth
// noise run ends in one (header, trailer, wrong checksum).
Stream makeStream(int size, uint64_t seed)
{
    Random rng(seed);
    Stream s;
    s.bytes.reserve(size + Servo::FrameSize);
    const quint8 kinds[2] = {Servo::Flag::ReadReply, Servo::Flag::WriteAck};
    Servo::Values v{};
    while (s.bytes.size() < size - Servo::FrameSize) {
        const int noise = 150 + rng.below(61);
        for (int i = 0; i < noise; ++i) {
            char c = char(rng.below(256));
            if (quint8(c) == Servo::FrameHeader)
                c = 0;
            s.bytes.append(c);
        }
        if (rng.below(10) == 0) {
            QByteArray fake = Servo::encodeFrame(v, Servo::Flag::ReadReply);
            fake[Servo::FrameSize - 2] = char(fake.at(Servo::FrameSize - 2) + 1);
            s.bytes.append(fake);
        }
        for (int i = 0; i < Servo::ParameterCount; ++i) {
            const Servo::ParameterInfo &p = Servo::parameterInfo(i);
            v[i] = p.minimum + rng.below(p.maximum - p.minimum); // never the maximum
        }
        s.bytes.append(Servo::encodeFrame(v, kinds[rng.below(2)]));
        ++s.replies;
    }
    // The last reply: a MAXDuty that no other reply carries, so its arrival
    // in the controls is unmistakable.
    v[Servo::MAXDuty] = Servo::parameterInfo(Servo::MAXDuty).maximum;
    s.bytes.append(Servo::encodeFrame(v, Servo::Flag::ReadReply));
    ++s.replies;
    s.last = v;
    for (int done = 0; done < s.bytes.size();) {
        const int n = qMin(1 + rng.below(64), int(s.bytes.size()) - done);
        s.arrivals.push_back(n);
        s.offsets.push_back(done);
        done += n;
    }
    return s;
}

struct Result
{
    int frames = 0;
    int replies = 0;
    long long sink = 0; // keeps the decoded values alive
};

Result scannerPath(const Stream &s)
{
    Result r;
    Servo::FrameScanner scanner;
    int offset = 0;
    QByteArray frame;
    for (int n : s.arrivals) {
        scanner.append(s.bytes.constData() + offset, n);
        offset += n;
        while (scanner.next(&frame)) {
            ++r.frames;
            const Servo::Frame f = Servo::decodeFrame(frame);
            if (Servo::frameKind(f.flags) == Servo::FrameKind::Other)
                continue;
            ++r.replies;
            for (int v : f.values)
                r.sink += v;
        }
    }
    r.sink += scanner.pendingSize();
    return r;
}

// Runs a path until at least a second has gone by (three passes at least)
// and reports bytes per second over all passes.
template<typename Path> Result measure(const char *name, const Stream &s, Path path)
{
    using Clock = std::chrono::steady_clock;
    Result first;
    int passes = 0;
    const auto start = Clock::now();
    double seconds = 0;
    do {
        const Result r = path(s);
        if (passes == 0)
            first = r;
        ++passes;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    } while (passes < 3 || seconds < 1.0);
    const double bytes = double(s.bytes.size()) * passes;
    std::printf("%-14s %8.1f MB/s  (%d passes, %.2f s)  frames %d, replies %d  [%lld]\n", name,
                bytes / seconds / 1e6, passes, seconds, first.frames, first.replies,
                first.sink % 1000);
    return first;
}

double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// The window, its port on the pseudo-terminal's slave side; the master side
// is written as fast as the line takes it. Returns false when the last reply
// did not show within ten minutes (a profiler slows it).
bool measureWindow(const Stream &s, bool bigWrites)
{
    PseudoTerminal pty;
    QString error;
    if (!pty.open(&error)) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(error));
        return false;
    }
    Widget window;
    window.show();
    auto *port = window.findChild<QComboBox *>(QStringLiteral("comboBox_Port"));
    emit port->textActivated(pty.slavePath());
    auto *maxDuty = window.findChild<QSpinBox *>(QStringLiteral("spinBox_MAXDuty"));
    const int marker = s.last[Servo::MAXDuty];
    // Other replies never carry the marker; start from a value that differs.
    maxDuty->setValue(Servo::parameterInfo(Servo::MAXDuty).minimum);

    QElapsedTimer wall;
    double cpuStart = 0;
    double seconds = 0;
    double cpu = 0;
    int written = 0;
    size_t piece = 0;
    int arrivals = 0;
    QObject::connect(window.findChild<QSerialPort *>(), &QSerialPort::readyRead,
                     [&] { ++arrivals; });
    QSocketNotifier writable(pty.masterFd(), QSocketNotifier::Write);
    QObject::connect(&writable, &QSocketNotifier::activated, [&] {
        const int size = bigWrites ? qMin(4096, int(s.bytes.size()) - written)
                                   : s.arrivals[piece] - (written - s.offsets[piece]);
        const qint64 n = pty.writeSome(s.bytes.constData() + written, size);
        if (n > 0)
            written += int(n);
        while (piece < s.offsets.size() && s.offsets[piece] + s.arrivals[piece] <= written)
            ++piece;
        if (n < 0 || written == s.bytes.size())
            writable.setEnabled(false);
    });
    QObject::connect(maxDuty, QOverload<int>::of(&QSpinBox::valueChanged), [&](int value) {
        if (value != marker)
            return;
        seconds = wall.nsecsElapsed() / 1e9;
        cpu = cpuSeconds() - cpuStart;
        QCoreApplication::quit();
    });
    QTimer::singleShot(600000, [] { QCoreApplication::exit(1); });
    wall.start();
    cpuStart = cpuSeconds();
    if (QCoreApplication::exec() != 0) {
        std::fprintf(stderr,
                     "the last reply did not show within 10 minutes (%d of %d bytes written)\n",
                     written, int(s.bytes.size()));
        return false;
    }
    for (int i = 0; i < Servo::NumericCount; ++i) {
        auto *box = window.findChild<QSpinBox *>(QStringLiteral("spinBox_") +
                                                 QLatin1String(Servo::parameterInfo(i).stem));
        if (box->value() != s.last[i]) {
            std::fprintf(stderr, "%s shows %d, the last reply says %d\n",
                         Servo::parameterInfo(i).stem, box->value(), s.last[i]);
            return false;
        }
    }
    std::printf("%-14s %8.2f MB/s  %8.0f replies/s  %6.1f us CPU per reply  (%.2f s, CPU %.2f s "
                "whole process, "
                "%d readyRead)\n",
                "window", s.bytes.size() / seconds / 1e6, s.replies / seconds,
                cpu * 1e6 / s.replies, seconds, cpu, arrivals);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int mib = 1;
    bool bigWrites = true;
    bool scanner = true;
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--pieces") == 0)
            bigWrites = false;
        else if (qstrcmp(argv[i], "--window-only") == 0)
            scanner = false;
        else
            mib = std::atoi(argv[i]);
    }
    if (mib < 1 || mib > 64) {
        std::fprintf(stderr, "usage: %s [MiB 1..64] [--pieces] [--window-only]\n", argv[0]);
        return 2;
    }
    const Stream s = makeStream(mib * 1024 * 1024, 0x5e4f0d1ce11aULL);
    std::printf("stream: %d bytes, %d replies\n", int(s.bytes.size()), s.replies);
    const Result bare = scanner ? measure("FrameScanner", s, scannerPath) : scannerPath(s);
    if (bare.replies != s.replies) {
        std::printf("the scanner found %d replies, %d were put in\n", bare.replies, s.replies);
        return 1;
    }
    return measureWindow(s, bigWrites) ? 0 : 1;
}
