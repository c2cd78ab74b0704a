#include "tools/servo-sim/simbench.h"

#include "files/parameterfile.h"
#include "serial/simulatorlinks.h"
#include "serial/simulatorports.h"
#include "tools/servo-sim/simulatorlink.h"

#include <QRegularExpression>
#include <QTimer>

using namespace Servo;

struct SimulatedBench::Programmer
{
    int number = 1; // from 1
    std::unique_ptr<ServoSimulator> sim;
    QString device; // empty: a pseudo-terminal
    QString link;
    QString served; // the line, kept while unplugged
    QString announced;
    QString announcedLink;
    bool unplugged = false;
    QTimer *timer = nullptr; // the schedule's
    bool present = false; // the schedule's phase
    qint64 due = 0; // the schedule's next change, on m_clock
};

SimulatedBench::SimulatedBench(const SimulatedBenchOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    const bool scheduled = options.presentMs > 0 && options.absentMs > 0;
    for (int n = 1; n <= options.programmers; ++n) {
        auto p = std::make_unique<Programmer>();
        p->number = n;
        SimulatorOptions simulator = options.simulator;
        // A staggered schedule leaves every programmer but the first empty
        // at the start; the first servo they get holds the start block.
        simulator.attached = options.simulator.attached && (!scheduled || n == 1);
        p->sim = std::make_unique<ServoSimulator>(simulator);
        p->device = options.devices.value(n - 1);
        p->link = options.links.value(n - 1);
        const QString prefix =
            options.programmers > 1 ? QStringLiteral("programmer %1: ").arg(n) : QString();
        connect(p->sim.get(), &ServoSimulator::logMessage, this,
                [this, prefix](const QString &line) { emit logMessage(prefix + line); });
        connect(p->sim.get(), &ServoSimulator::lineLost, this,
                [this, prefix](const QString &reason) { emit lineLost(prefix + reason); });
        p->timer = new QTimer(this);
        p->timer->setSingleShot(true);
        p->timer->setTimerType(Qt::PreciseTimer);
        Programmer *raw = p.get();
        connect(p->timer, &QTimer::timeout, this, [this, raw] {
            if (raw->present) {
                raw->sim->device().detach();
                raw->due += m_options.absentMs;
            } else {
                attach(*raw, raw->sim->device().nextServoValues(raw->number));
                raw->due += m_options.presentMs;
            }
            raw->present = !raw->present;
            scheduleNext(*raw);
        });
        m_programmers.push_back(std::move(p));
    }
}

SimulatedBench::~SimulatedBench()
{
    close();
}

bool SimulatedBench::open(QString *error)
{
    for (auto &p : m_programmers) {
        if (!plug(*p, error))
            return false;
    }
    return true;
}

bool SimulatedBench::plug(Programmer &p, QString *error)
{
    QString why;
    const bool opened =
        p.device.isEmpty() ? p.sim->openPseudoTerminal(&why) : p.sim->openDevice(p.device, &why);
    if (!opened) {
        *error = QStringLiteral("cannot open %1: %2")
                     .arg(p.device.isEmpty() ? QStringLiteral("a pseudo-terminal") : p.device, why);
        return false;
    }
    p.served = p.sim->linePath();
    if (!p.link.isEmpty() && !makeSimulatorLink(p.link, p.served, error)) {
        p.sim->close();
        return false;
    }
    p.unplugged = false;
    // Offered by the window's port selector while the line is there.
    if (p.device.isEmpty()) {
        p.announced = announceSimulatorPort(p.served, p.number);
        if (!p.announced.isEmpty())
            p.announcedLink = announceSimulatorLink(p.link, p.number);
    }
    if (m_options.simulator.verbose)
        emit logMessage(
            (count() > 1 ? QStringLiteral("programmer %1: ").arg(p.number) : QString()) +
            QStringLiteral("serving %1").arg(p.served));
    return true;
}

void SimulatedBench::unplug(Programmer &p)
{
    withdrawSimulatorPort(p.announcedLink);
    withdrawSimulatorPort(p.announced);
    p.announcedLink.clear();
    p.announced.clear();
    p.sim->close();
    removeSimulatorLink(p.link, p.served);
    p.unplugged = true;
}

void SimulatedBench::close()
{
    for (auto &p : m_programmers) {
        p->timer->stop();
        if (!p->unplugged)
            unplug(*p);
    }
}

QStringList SimulatedBench::linePaths() const
{
    QStringList out;
    for (const auto &p : m_programmers)
        out << p->served;
    return out;
}

const SimulatedProgrammer &SimulatedBench::device(int programmer) const
{
    return m_programmers.at(size_t(programmer - 1))->sim->device();
}

void SimulatedBench::start()
{
    if (m_options.presentMs <= 0 || m_options.absentMs <= 0)
        return;
    m_clock.start();
    const qint64 cycle = qint64(m_options.presentMs) + m_options.absentMs;
    for (auto &p : m_programmers) {
        p->present = p->sim->device().hasServo();
        if (p->present)
            p->due = m_options.presentMs;
        else
            p->due = (p->number - 1) * cycle / count() +
                (m_options.simulator.attached ? 0 : m_options.absentMs);
        scheduleNext(*p);
    }
}

void SimulatedBench::scheduleNext(Programmer &p)
{
    p.timer->start(int(qMax<qint64>(0, p.due - m_clock.elapsed())));
}

void SimulatedBench::attach(Programmer &p, const Values &values)
{
    p.sim->device().attach(values);
}

QString SimulatedBench::execute(const QString &command)
{
    const QString line = command.trimmed();
    if (line.isEmpty())
        return QString();
    const QRegularExpression space(QStringLiteral("\\s+"));
    const QStringList words = line.split(space);
    const QString name = words.first();
    auto error = [](const QString &why) { return QStringLiteral("error: ") + why; };
    const QString ok = QStringLiteral("ok");

    static const QStringList commands{QStringLiteral("attach"), QStringLiteral("detach"),
                                      QStringLiteral("skip"),   QStringLiteral("pull-on-write"),
                                      QStringLiteral("unplug"), QStringLiteral("replug"),
                                      QStringLiteral("quit")};
    if (!commands.contains(name))
        return error(QStringLiteral("unknown command \"%1\"; the commands are %2")
                         .arg(name, commands.join(QStringLiteral(", "))));
    if (name == QLatin1String("quit")) {
        if (words.size() > 1)
            return error(QStringLiteral("quit takes no arguments"));
        emit quitRequested();
        return ok;
    }
    if (words.size() < 2)
        return error(QStringLiteral("%1 wants a programmer number").arg(name));
    bool numeric = false;
    const int number = words.at(1).toInt(&numeric, 10);
    if (!numeric || number < 1 || number > count())
        return error(QStringLiteral("no programmer \"%1\": the programmers are 1 to %2")
                         .arg(words.at(1))
                         .arg(count()));
    Programmer &p = *m_programmers.at(size_t(number - 1));
    SimulatedProgrammer &device = p.sim->device();

    if (name == QLatin1String("attach")) {
        Values values = device.nextServoValues(number);
        if (words.size() > 2) {
            // A parameter line, or its fourteen numbers separated by spaces.
            QString given = line.section(space, 2);
            if (!given.contains(QLatin1Char(',')))
                given = words.mid(2).join(QLatin1Char(','));
            const ParsedLine parsed = parseParameterLine(given);
            if (parsed.fieldCount != ParameterCount)
                return error(QStringLiteral("attach %1: %2 values given; a servo holds %3")
                                 .arg(number)
                                 .arg(parsed.fieldCount)
                                 .arg(ParameterCount));
            if (!parsed.ok())
                return error(QStringLiteral("attach %1: %2").arg(number).arg(parsed.errorString));
            for (const QString &field : parsed.fields) {
                bool isNumber = false;
                field.trimmed().toInt(&isNumber, 10);
                if (!isNumber)
                    return error(
                        QStringLiteral("attach %1: \"%2\" is not a number").arg(number).arg(field));
            }
            values = parsed.values; // out of range: clamped, as the device stores them
        }
        attach(p, values);
        return ok;
    }
    if (words.size() > 2)
        return error(QStringLiteral("%1 takes one programmer number").arg(name));
    if (name == QLatin1String("detach")) {
        device.detach();
    } else if (name == QLatin1String("skip")) {
        device.skipNextRequest();
    } else if (name == QLatin1String("pull-on-write")) {
        if (!device.pullOnNextWrite())
            return error(QStringLiteral("no servo is attached to programmer %1").arg(number));
    } else {
        if (!p.device.isEmpty())
            return error(QStringLiteral("programmer %1 serves the serial device %2, which "
                                        "cannot be %3ged here")
                             .arg(number)
                             .arg(p.device, name));
        const bool unplugging = name == QLatin1String("unplug");
        if (unplugging == p.unplugged)
            return error(
                QStringLiteral("programmer %1 is %2 already")
                    .arg(number)
                    .arg(unplugging ? QStringLiteral("unplugged") : QStringLiteral("plugged in")));
        if (unplugging) {
            unplug(p);
        } else {
            QString why;
            if (!plug(p, &why))
                return error(why);
        }
    }
    return ok;
}
