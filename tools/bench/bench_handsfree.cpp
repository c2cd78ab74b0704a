// The hands-free bench engine (bench/bench.h) against servo-sim playing N
// programmers whose servos come and go on a schedule: how many servos it
// programs against the one per presence that the schedule allows, how long
// from a servo's first answer to its verified result, and how much of one
// core it takes while 16 empty slots poll.
//
// Usage: bench_handsfree [--programmers 1,4,16] [--cycles 10] [--present 2000]
//                        [--absent 1000] [--poll 100] [--idle-seconds 10]
// servo-sim is taken from this program's folder. Build in Release. Unix
// only for now: the simulated programmers are pseudo-terminals.

#include "bench/bench.h"
#include "protocol/parameters.h"
#include "tools/bench/cputime.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Servo;

namespace {

const Values Job = {100, 50, 20, 10, 900, 2100, 2, 1500, 399, 128, 128, 1, 0, 1};

struct Schedule
{
    int presentMs;
    int absentMs;
    int cycleMs() const { return presentMs + absentMs; }
};

// servo-sim with n programmers; empty when it could not be started.
std::unique_ptr<QProcess> startSimulator(int n, const QStringList &more, QStringList *paths)
{
    auto sim = std::make_unique<QProcess>();
    sim->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim->start(QCoreApplication::applicationDirPath() + QStringLiteral("/servo-sim"),
               QStringList{QStringLiteral("--programmers"), QString::number(n)} + more);
    QElapsedTimer clock;
    clock.start();
    while (paths->size() < n && clock.elapsed() < 30000) {
        if (sim->canReadLine())
            *paths << QString::fromLocal8Bit(sim->readLine()).trimmed();
        else if (!sim->waitForReadyRead(1000) && sim->state() == QProcess::NotRunning)
            break;
    }
    if (paths->size() < n) {
        std::fprintf(stderr, "bench_handsfree: servo-sim did not start\n");
        return nullptr;
    }
    return sim;
}

void endSimulator(QProcess &sim)
{
    sim.write("quit\n");
    if (!sim.waitForFinished(10000))
        sim.kill();
    sim.waitForFinished();
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void stopBench(Bench &bench)
{
    QEventLoop loop;
    QObject::connect(&bench, &Bench::stopped, &loop, &QEventLoop::quit);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    bench.stop();
    if (bench.isRunning())
        loop.exec();
}

qint64 percentile(std::vector<qint64> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t at = size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

// One run on n programmers for the given number of cycles of the schedule.
void throughput(int n, int cycles, const Schedule &schedule, int pollMs)
{
    QStringList paths;
    auto sim = startSimulator(n,
                              {QStringLiteral("--present"), QString::number(schedule.presentMs),
                               QStringLiteral("--absent"), QString::number(schedule.absentMs)},
                              &paths);
    if (!sim)
        return;
    // servo-sim's schedule starts as it prints the paths.
    QElapsedTimer clock;
    clock.start();

    BenchSettings settings;
    settings.job = Job;
    settings.pollMs = pollMs;
    Bench bench(settings);
    for (const QString &path : paths)
        bench.addPort(path);

    // Programmer p (from 0) gets servos from p * cycle / n on, every cycle
    // (see servo-sim --help). A servo is told by the presence it arrived in.
    const qint64 cycle = schedule.cycleMs();
    auto offset = [&](int p) { return p * cycle / n; };
    struct Served
    {
        QSet<qint64> presences; // with a verified (or already held) result
        int results = 0; // verified or already held, all told
        int failed = 0;
    };
    std::vector<Served> served(static_cast<size_t>(n));
    std::vector<QHash<int, qint64>> arrivals(static_cast<size_t>(n)); // servo number -> presence
    std::vector<qint64> latencies;
    const qint64 durationMs = offset(n - 1) + cycles * cycle;

    QObject::connect(&bench, &Bench::event, [&](const BenchEvent &e) {
        const int p = paths.indexOf(e.port);
        if (p < 0)
            return;
        const qint64 now = clock.elapsed();
        if (e.kind == BenchEvent::Arrived) {
            arrivals[size_t(p)].insert(e.servo, (now - offset(p)) / cycle);
        } else if (e.kind == BenchEvent::Verified || e.kind == BenchEvent::AlreadyHeld) {
            const qint64 presence = arrivals[size_t(p)].value(e.servo, -1);
            const qint64 end = offset(p) + presence * cycle + schedule.presentMs;
            if (presence < 0 || end > durationMs)
                return; // its presence is not wholly in the run
            served[size_t(p)].presences.insert(presence);
            ++served[size_t(p)].results;
            if (e.kind == BenchEvent::Verified)
                latencies.push_back(e.elapsedMs);
        } else if (e.kind == BenchEvent::Failed || e.kind == BenchEvent::Interrupted) {
            ++served[size_t(p)].failed;
        }
    });
    bench.start();
    runFor(int(durationMs - clock.elapsed() + 200));
    stopBench(bench);
    endSimulator(*sim);

    // Presences wholly in the run: programmer p's k-th runs from
    // offset(p) + k * cycle for presentMs.
    int ideal = 0;
    int total = 0;
    int twice = 0;
    int failed = 0;
    double worst = 1e9;
    const double minutes = double(durationMs) / 60000.0;
    for (int p = 0; p < n; ++p) {
        int allowed = 0;
        for (qint64 k = 0; offset(p) + k * cycle + schedule.presentMs <= durationMs; ++k)
            ++allowed;
        const int got = served[size_t(p)].presences.size();
        ideal += allowed;
        total += got;
        twice += served[size_t(p)].results - got;
        failed += served[size_t(p)].failed;
        worst = std::min(worst, allowed > 0 ? double(got) / allowed : 0.0);
    }
    std::printf("%4d  %8.1f  %9.1f  %9.1f  %5.3f  %10.3f  %6lld  %6lld  %5d  %6d\n", n,
                double(total) / n / minutes, double(ideal) / n / minutes, double(total) / minutes,
                ideal > 0 ? double(total) / ideal : 0.0, worst,
                static_cast<long long>(percentile(latencies, 0.5)),
                static_cast<long long>(percentile(latencies, 0.99)), twice, failed);
    std::fflush(stdout);
}

void idleCpu(int n, int seconds, int pollMs)
{
    QStringList paths;
    auto sim = startSimulator(n, {QStringLiteral("--empty")}, &paths);
    if (!sim)
        return;
    BenchSettings settings;
    settings.job = Job;
    settings.pollMs = pollMs;
    Bench bench(settings);
    for (const QString &path : paths)
        bench.addPort(path);
    bench.start();
    runFor(1000); // ports opened, polling under way
    const double cpuBefore = processCpuMs();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    const double cpu = processCpuMs() - cpuBefore;
    const qint64 ms = wall.elapsed();
    stopBench(bench);
    endSimulator(*sim);
    std::printf("%d empty slots polling every %d ms for %.1f s: %.0f ms CPU, %.2f %% of one "
                "core\n",
                n, pollMs, double(ms) / 1000.0, cpu, 100.0 * cpu / double(ms));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The hands-free bench engine against servo-sim's scheduled servos."));
    parser.addHelpOption();
    const QCommandLineOption programmers(QStringLiteral("programmers"),
                                         QStringLiteral("Runs on so many programmers."),
                                         QStringLiteral("list"), QStringLiteral("1,4,16"));
    const QCommandLineOption cycles(QStringLiteral("cycles"),
                                    QStringLiteral("Schedule cycles per run."), QStringLiteral("n"),
                                    QStringLiteral("10"));
    const QCommandLineOption present(QStringLiteral("present"), QStringLiteral("Servo present."),
                                     QStringLiteral("ms"), QStringLiteral("2000"));
    const QCommandLineOption absent(QStringLiteral("absent"), QStringLiteral("Servo absent."),
                                    QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption poll(QStringLiteral("poll"), QStringLiteral("The engine's poll."),
                                  QStringLiteral("ms"), QStringLiteral("100"));
    const QCommandLineOption idle(QStringLiteral("idle-seconds"),
                                  QStringLiteral("How long 16 empty slots are watched."),
                                  QStringLiteral("s"), QStringLiteral("10"));
    parser.addOptions({programmers, cycles, present, absent, poll, idle});
    parser.process(app);

    const Schedule schedule{parser.value(present).toInt(), parser.value(absent).toInt()};
    const int pollMs = parser.value(poll).toInt();
    const int cycleCount = parser.value(cycles).toInt();
    if (schedule.presentMs < 10 || schedule.absentMs < 10 || pollMs < 1 || cycleCount < 1) {
        std::fprintf(stderr, "bench_handsfree: bad numbers; see --help\n");
        return 2;
    }
    std::printf("servo-sim --present %d --absent %d, %d cycles per run; engine poll %d ms\n"
                "ideal: one servo per presence, %.1f per minute per slot\n\n",
                schedule.presentMs, schedule.absentMs, cycleCount, pollMs,
                60000.0 / schedule.cycleMs());
    std::printf("   N   per min  ideal/min  total/min  ratio  worst slot  median     p99  twice  "
                "failed\n"
                "      per slot   per slot                   ratio      ms      ms\n");
    std::fflush(stdout);
    for (const QString &n : parser.value(programmers).split(QLatin1Char(','))) {
        const int count = n.toInt();
        if (count >= 1 && count <= 64)
            throughput(count, cycleCount, schedule, pollMs);
    }
    std::printf("\n");
    idleCpu(16, parser.value(idle).toInt(), pollMs);
    return 0;
}
