#ifndef SERVO_INTERRUPT_H
#define SERVO_INTERRUPT_H

#include <QIODevice>
#include <QObject>

// Ctrl-C and requests to terminate, for the tools that must end in order
// (servo-cli's "program" writes its log row and summary first, servo-sim
// removes its link and closes its line). While an InterruptHandling object
// lives, SIGINT, SIGTERM and SIGHUP (Unix), or CTRL_C_EVENT and
// CTRL_BREAK_EVENT (a Windows console), only raise a flag and wake whoever
// waits; the handler does nothing else. A blocking loop looks at the flag
// (the servo link between short waits, StandardInput while it waits for a
// line) and returns early; an event loop is told by an InterruptNotifier.
//
// interrupt.cpp holds what is shared, interrupt_unix.cpp and
// interrupt_win.cpp the handlers.
namespace Servo {

class InterruptHandling
{
public:
    InterruptHandling(); // installs the handlers, clears the flag
    ~InterruptHandling(); // restores what was there before
    InterruptHandling(const InterruptHandling &) = delete;
    InterruptHandling &operator=(const InterruptHandling &) = delete;
};

// Whether an interrupt came since the last InterruptHandling was made;
// lock-free, for any thread.
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

// Tells an event loop of each interrupt: requested() is emitted in the event
// loop of the notifier's own thread, never in the handler. Interrupts reach
// it while an InterruptHandling lives.
class InterruptNotifier : public QObject
{
    Q_OBJECT

public:
    explicit InterruptNotifier(QObject *parent = nullptr);
    ~InterruptNotifier() override;

signals:
    void requested();
};

} // namespace Servo

#endif // SERVO_INTERRUPT_H
