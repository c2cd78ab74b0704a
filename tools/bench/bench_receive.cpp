// Throughput of the receive path. A deterministic stream of line noise with
// valid frames mixed in is cut into arrivals of 1 to 64 bytes, as readyRead
// delivers them, and pushed through
//   - the window's path: the unconsumed bytes live as upper-case hex text
//     between arrivals; each arrival turns them back into bytes, scans with a
//     fresh FrameScanner, turns every frame into its text and reads the
//     fields from that text, and stores what is left as hex again;
//   - a bare FrameScanner that lives for the whole stream.
// Usage: bench_receive [MiB]   (default 1)

#include "protocol/frame.h"
#include "protocol/parameters.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// xorshift64*: the same stream on every platform and library.
class Random
{
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
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

struct Stream {
    QByteArray bytes;
    std::vector<int> arrivals;
    int frames = 0;  // frames put in
    int replies = 0; // of which read replies or write acknowledgements
};

Stream makeStream(int size, uint64_t seed)
{
    Random rng(seed);
    Stream s;
    s.bytes.reserve(size);
    const quint8 kinds[4] = {Servo::Flag::ReadReply, Servo::Flag::WriteAck, 0, Servo::Flag::Write};
    while (s.bytes.size() < size) {
        const int noise = rng.below(97);
        for (int i = 0; i < noise && s.bytes.size() < size; ++i)
            s.bytes.append(char(rng.below(256)));
        if (size - s.bytes.size() < Servo::FrameSize)
            continue;
        Servo::Values v{};
        for (int i = 0; i < Servo::ParameterCount; ++i) {
            const Servo::ParameterInfo &p = Servo::parameterInfo(i);
            v[i] = p.minimum + rng.below(p.maximum - p.minimum + 1);
        }
        const quint8 kind = kinds[rng.below(4)];
        s.bytes.append(Servo::encodeFrame(v, kind));
        ++s.frames;
        if (Servo::frameKind(kind) != Servo::FrameKind::Other)
            ++s.replies;
    }
    for (int done = 0; done < s.bytes.size();) {
        const int n = qMin(1 + rng.below(64), int(s.bytes.size()) - done);
        s.arrivals.push_back(n);
        done += n;
    }
    return s;
}

struct Result {
    int frames = 0;
    int replies = 0;
    long long sink = 0; // keeps the decoded values alive
};

// The steps of Widget::serialDataRead and Widget::applyParameterFrame, less
// the widgets: the decoded values are summed instead of shown.
Result windowPath(const Stream &s)
{
    Result r;
    QString rxBuffer;
    bool ok = true;
    int offset = 0;
    QByteArray frame;
    for (int n : s.arrivals) {
        const QByteArray arrival(s.bytes.constData() + offset, n); // readAll() copies too
        offset += n;
        Servo::FrameScanner scanner;
        scanner.append(QByteArray::fromHex(rxBuffer.toLatin1()));
        scanner.append(arrival);
        while (scanner.next(&frame)) {
            ++r.frames;
            const QString text = QString::fromLatin1(frame.toHex().toUpper());
            const quint8 flags = static_cast<quint8>(text.mid(6, 2).toUInt(&ok, 16));
            if (Servo::frameKind(flags) == Servo::FrameKind::Other)
                continue;
            ++r.replies;
            QByteArray bytes(Servo::FrameSize, '\0');
            for (int i = 0; i < Servo::FrameSize; ++i)
                bytes[i] = static_cast<char>(text.mid(2 * i, 2).toUInt(&ok, 16));
            for (int v : Servo::decodeFrame(bytes).values)
                r.sink += v;
        }
        rxBuffer = QString::fromLatin1(scanner.pending().toHex().toUpper());
    }
    r.sink += rxBuffer.size() / 2;
    return r;
}

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
template <typename Path>
Result measure(const char *name, const Stream &s, Path path)
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
                bytes / seconds / 1e6, passes, seconds, first.frames, first.replies, first.sink % 1000);
    return first;
}

} // namespace

int main(int argc, char **argv)
{
    const int mib = argc > 1 ? std::atoi(argv[1]) : 1;
    if (mib < 1 || mib > 1024) {
        std::fprintf(stderr, "usage: %s [MiB 1..1024]\n", argv[0]);
        return 2;
    }
    const Stream s = makeStream(mib * 1024 * 1024, 0x5e4f0d1ce11aULL);
    std::printf("stream: %d bytes in %d arrivals of 1..64 bytes; frames expected %d, replies %d\n",
                int(s.bytes.size()), int(s.arrivals.size()), s.frames, s.replies);
    const Result window = measure("window path", s, windowPath);
    const Result bare = measure("FrameScanner", s, scannerPath);
    if (window.frames != bare.frames || window.replies != bare.replies || window.sink != bare.sink) {
        std::printf("the two paths disagree\n");
        return 1;
    }
    if (window.frames != s.frames)
        std::printf("note: %d frames found, %d put in (noise can form or hide a frame)\n",
                    window.frames, s.frames);
    return 0;
}
