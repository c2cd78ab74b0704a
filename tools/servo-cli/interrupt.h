#ifndef SERVOCLI_INTERRUPT_H
#define SERVOCLI_INTERRUPT_H

#include <QIODevice>

// Ctrl-C and requests to terminate during a run that must end in order
// ("program" writes its log row and summary first). While an
// InterruptHandling object lives, SIGINT, SIGTERM and SIGHUP (Unix), or
// CTRL_C_EVENT and CTRL_BREAK_EVENT (a Windows console), only raise a flag;
// the signal handler does nothing else. The blocking loops look at the flag
// (the servo link between short waits, StandardInput while it waits for a
// line) and return early.
namespace ServoCli {

class InterruptHandling
{
public:
    InterruptHandling(); // installs the handlers, clears the flag
    ~InterruptHandling(); // restores what was there before
    InterruptHandling(const InterruptHandling &) = delete;
    InterruptHandling &operator=(const InterruptHandling &) = delete;
};

bool interruptRequested();

// Standard input, read without a buffer of its own: a read waits until bytes
// arrive, the input ends, or an interrupt is requested (then it returns 0,
// as at the end of the input; ask interruptRequested() which it was).
class StandardInput : public QIODevice
{
public:
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }
};

} // namespace ServoCli

#endif // SERVOCLI_INTERRUPT_H
