#include "tests/simulatorprocess.h"

#include "tests/consoleevents.h"
#include "tests/programs.h"

#include <QElapsedTimer>

#include <utility>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

constexpr int StartTimeoutMs = 30000; // these bound a hang only
constexpr int AnswerTimeoutMs = 20000;

int uncleanExits = 0;

} // namespace

SimulatorProcess::~SimulatorProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    const int code = stop(SIGTERM);
    if (code != 0) {
        qWarning("servo-sim did not exit cleanly (%d): %s", code, readStandardError().constData());
        ++uncleanExits;
    }
}

int SimulatorProcess::takeUncleanExits()
{
    const int n = uncleanExits;
    uncleanExits = 0;
    return n;
}

bool SimulatorProcess::start(const QStringList &args, int programmers, QString *why)
{
    QString scratch;
    if (!why)
        why = &scratch;
    QStringList all = args;
    const bool ownDevices = args.contains(QStringLiteral("--device"));
#ifdef Q_OS_WIN
    if (!ownDevices) {
        for (int n = 0; n < programmers; ++n) {
            auto pair = std::make_unique<TestLine>();
            if (!pair->openPair(why))
                return false;
            all << QStringLiteral("--device") << pair->peerPath();
            m_portNames << pair->slavePath();
            m_pairs.push_back(std::move(pair));
        }
    }
    if (m_consoleEvents)
        startInOwnProcessGroup(m_process);
    else
        withoutConsole(&m_process);
#else
    if (!ownDevices && programmers != 1)
        all << QStringLiteral("--programmers") << QString::number(programmers);
    withoutConsole(&m_process);
#endif
    const QString program = buildProgram(QStringLiteral("servo-sim"));
    m_process.start(program, all);
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        *why = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    const int lines = ownDevices ? int(args.count(QStringLiteral("--device"))) : programmers;
    while (m_linePaths.size() < lines) {
        if (m_process.canReadLine()) {
            m_linePaths << QString::fromLocal8Bit(m_process.readLine()).trimmed();
            continue;
        }
        if (clock.elapsed() > StartTimeoutMs || m_process.state() == QProcess::NotRunning) {
            m_process.waitForFinished(1000);
            *why = QStringLiteral("servo-sim printed %1 of %2 path lines; its errors: %3")
                       .arg(m_linePaths.size())
                       .arg(lines)
                       .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
            return false;
        }
        m_process.waitForReadyRead(1000);
    }
    if (m_portNames.isEmpty())
        m_portNames = m_linePaths;
    return true;
}

bool SimulatorProcess::command(const QString &line, QString *answer)
{
    QString scratch;
    if (!answer)
        answer = &scratch;
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(AnswerTimeoutMs);
    QElapsedTimer clock;
    clock.start();
    while (!m_process.canReadLine()) {
        if (clock.elapsed() > AnswerTimeoutMs || m_process.state() == QProcess::NotRunning) {
            *answer = QStringLiteral("no answer to \"%1\"").arg(line);
            return false;
        }
        m_process.waitForReadyRead(1000);
    }
    *answer = QString::fromUtf8(m_process.readLine()).trimmed();
    return *answer == QLatin1String("ok");
}

int SimulatorProcess::exitCode() const
{
    if (m_process.state() != QProcess::NotRunning)
        return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

int SimulatorProcess::waitForExit()
{
    if (!m_process.waitForFinished(StartTimeoutMs)) {
        m_process.kill();
        m_process.waitForFinished();
        return -1;
    }
    return exitCode();
}

int SimulatorProcess::stop(int signal)
{
    if (m_process.state() == QProcess::NotRunning)
        return exitCode();
#ifdef Q_OS_WIN
    // What it wrote until then is read as after a signal.
    Q_UNUSED(signal);
    m_process.kill();
    return m_process.waitForFinished(StartTimeoutMs) ? 0 : -1;
#else
    ::kill(pid_t(m_process.processId()), signal);
    return waitForExit();
#endif
}

#ifdef Q_OS_WIN
int SimulatorProcess::stopByConsoleEvent(DWORD event)
{
    if (!sendConsoleEvent(m_process, event))
        return -1;
    return waitForExit();
}
#endif

QByteArray SimulatorProcess::readStandardError()
{
    return std::exchange(m_standardError, QByteArray()) + m_process.readAllStandardError();
}

bool SimulatorProcess::waitForStandardError(const QString &text)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        m_standardError += m_process.readAllStandardError();
        if (QString::fromLocal8Bit(m_standardError).contains(text))
            return true;
        if (clock.elapsed() > AnswerTimeoutMs || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(50);
    }
}

QByteArray SimulatorProcess::readStandardOutput()
{
    return m_process.readAllStandardOutput();
}
