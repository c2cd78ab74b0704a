#ifndef PIPEWATCH_H
#define PIPEWATCH_H

// A named pipe for tests of code that must never open one, with a watchdog:
// whenever something holds the read end open (a reader blocked in open() or
// read()), the watchdog opens and closes the write end, which lets that
// reader go on and see an empty pipe. So a faulty loader returns instead of
// hanging the test, and opened() says that it happened.
#include <QByteArray>
#include <QFile>
#include <QString>

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
    {
        m_made = ::mkfifo(m_path.constData(), 0600) == 0;
        m_thread = std::thread([this] {
            while (!m_stop) {
                // Without a reader this open fails at once (ENXIO).
                const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    ++m_opened;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    ~PipeWatch() { stop(); }
    PipeWatch(const PipeWatch &) = delete;
    PipeWatch &operator=(const PipeWatch &) = delete;

    bool made() const { return m_made; }
    // How often a reader had to be let go; stops the watch first.
    int opened()
    {
        stop();
        return m_opened;
    }

private:
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    QByteArray m_path;
    bool m_made = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_opened{0};
    std::thread m_thread;
};

#endif // PIPEWATCH_H
