// Interrupts on Unix: SIGINT, SIGTERM and SIGHUP raise the flag and write a
// byte to a wake-up pipe, which a wait for standard input and the notifiers'
// event loops watch.
#include "tools/common/interrupt.h"

#include "tools/common/interrupt_p.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace Servo {

namespace {

// A pipe that the handler writes one byte to, so that a wait wakes up (the
// signal alone does not end a poll that is restarted). Made once, kept for
// the life of the process.
int wakeUp[2] = {-1, -1};
const int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[sizeof handledSignals / sizeof handledSignals[0]];

extern "C" void onSignal(int)
{
    const int savedErrno = errno;
    interruptFlag.store(true);
    if (wakeUp[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &c, 1);
    }
    errno = savedErrno;
}

void openWakeUp()
{
    if (wakeUp[0] >= 0 || ::pipe(wakeUp) != 0)
        return;
    for (int fd : wakeUp) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

// Empties the wake-up pipe. When it held a byte and tell is set, the
// notifiers hear of it, whoever waited on the pipe.
void drainWakeUp(bool tell)
{
    char buffer[64];
    bool woken = false;
    while (wakeUp[0] >= 0 && ::read(wakeUp[0], buffer, sizeof buffer) > 0)
        woken = true;
    if (woken && tell)
        notifyInterrupt();
}

} // namespace

InterruptHandling::InterruptHandling()
{
    interruptFlag.store(false);
    openWakeUp();
    drainWakeUp(false);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (size_t n = 0; n < sizeof handledSignals / sizeof handledSignals[0]; ++n)
        ::sigaction(handledSignals[n], &sa, &previous[n]);
}

InterruptHandling::~InterruptHandling()
{
    for (size_t n = 0; n < sizeof handledSignals / sizeof handledSignals[0]; ++n)
        ::sigaction(handledSignals[n], &previous[n], nullptr);
}

qint64 StandardInput::readData(char *data, qint64 maxSize)
{
    for (;;) {
        if (interruptFlag.load())
            return 0;
        struct pollfd fds[2] = {{0, POLLIN, 0}, {wakeUp[0], POLLIN, 0}};
        if (::poll(fds, wakeUp[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (fds[1].revents != 0)
            drainWakeUp(true);
        if (interruptFlag.load())
            return 0;
        if (fds[0].revents == 0)
            continue;
        const ssize_t n = ::read(0, data, size_t(maxSize));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n;
    }
}

void watchInterrupts(InterruptNotifier *notifier)
{
    openWakeUp();
    if (wakeUp[0] < 0)
        return;
    auto *watch = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, notifier);
    QObject::connect(watch, &QSocketNotifier::activated, notifier, [] { drainWakeUp(true); });
}

} // namespace Servo
