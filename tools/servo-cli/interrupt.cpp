#include "tools/servo-cli/interrupt.h"

#include <atomic>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace ServoCli {

namespace {

// Set by the handler, read by the loops; lock-free, so safe in a signal
// handler and from the console's handler thread on Windows.
std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag must be lock-free");

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE; // closing the console and the like: the default
    requested.store(true);
    return TRUE;
}
#else
// A pipe that the handler writes one byte to, so that a wait for standard
// input wakes up (the signal alone does not end a poll that is restarted).
int wakeUp[2] = {-1, -1};
const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[sizeof handledSignals / sizeof handledSignals[0]];

extern "C" void onSignal(int)
{
    const int savedErrno = errno;
    requested.store(true);
    if (wakeUp[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &c, 1);
    }
    errno = savedErrno;
}

void drainWakeUp()
{
    char buffer[64];
    while (wakeUp[0] >= 0 && ::read(wakeUp[0], buffer, sizeof buffer) > 0) { }
}
#endif

} // namespace

InterruptHandling::InterruptHandling()
{
    requested.store(false);
#ifdef Q_OS_WIN
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (wakeUp[0] < 0 && ::pipe(wakeUp) == 0) {
        for (int fd : wakeUp) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    drainWakeUp();
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (size_t n = 0; n < sizeof handledSignals / sizeof handledSignals[0]; ++n)
        ::sigaction(handledSignals[n], &sa, &previous[n]);
#endif
}

InterruptHandling::~InterruptHandling()
{
#ifdef Q_OS_WIN
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    for (size_t n = 0; n < sizeof handledSignals / sizeof handledSignals[0]; ++n)
        ::sigaction(handledSignals[n], &previous[n], nullptr);
#endif
}

bool interruptRequested()
{
    return requested.load();
}

qint64 StandardInput::readData(char *data, qint64 maxSize)
{
#ifdef Q_OS_WIN
    DWORD got = 0;
    const DWORD want = DWORD(qMin<qint64>(maxSize, 1 << 20));
    const BOOL ok = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), data, want, &got, nullptr);
    if (ok && got > 0 && !requested.load())
        return qint64(got);
    // Ctrl-C ends a console read, and its handler runs on a thread of its
    // own: give it a moment to raise the flag.
    for (int n = 0; n < 20 && !requested.load(); ++n)
        ::Sleep(10);
    return requested.load() || ok ? 0 : -1;
#else
    for (;;) {
        if (requested.load())
            return 0;
        struct pollfd fds[2] = {{0, POLLIN, 0}, {wakeUp[0], POLLIN, 0}};
        if (::poll(fds, wakeUp[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (fds[1].revents != 0)
            drainWakeUp();
        if (requested.load())
            return 0;
        if (fds[0].revents == 0)
            continue;
        const ssize_t n = ::read(0, data, size_t(maxSize));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n;
    }
#endif
}

} // namespace ServoCli
