#ifndef PIPEWATCH_H
#define PIPEWATCH_H

// A named pipe with a watchdog, for code that must never open one: whenever
// something holds the read end (a reader blocked in open() or read()), the
// watchdog opens and closes the write end, so that reader goes on and sees an
// empty pipe instead of hanging the test, and opened() counts it.
#include <QFile>
#include <QtTest>

#ifdef Q_OS_WIN
// Windows keeps its named pipes out of the file system and has no /dev.
#define SKIP_WITHOUT_SPECIAL_FILES() QSKIP("Windows has no named pipes or devices among its files")

class PipeWatch
{
public:
    explicit PipeWatch(const QString &) { }
    bool made() const { return false; }
    int opened() { return 0; }
};
#else
#define SKIP_WITHOUT_SPECIAL_FILES() (void)0

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class PipeWatch
{
public:
    explicit PipeWatch(const QString &path)
        : m_path(QFile::encodeName(path))
        , m_made(::mkfifo(m_path.constData(), 0600) == 0)
    {
        m_thread = std::thread([this] {
            for (; !m_stop; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
                // Fails at once (ENXIO) while nobody reads.
                const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    ++m_opened;
                    ::close(fd);
                }
            }
        });
    }
    ~PipeWatch() { opened(); }
    bool made() const { return m_made; }
    int opened() // stops the watch
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_opened;
    }

private:
    const QByteArray m_path;
    const bool m_made;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_opened{0};
    std::thread m_thread;
};
#endif

#endif // PIPEWATCH_H
