#ifndef SERVO_INTERRUPT_P_H
#define SERVO_INTERRUPT_P_H

#include <atomic>

// Shared by interrupt.cpp and the platform file beside it
// (interrupt_unix.cpp or interrupt_win.cpp, the one CMake builds).
namespace Servo {

class InterruptNotifier;

// Raised by the handlers, cleared by InterruptHandling; lock-free, so safe in
// a signal handler and from the console's handler thread on Windows.
extern std::atomic<bool> interruptFlag;

// Has every InterruptNotifier emit requested() in its own thread's event
// loop. It takes a lock: never from a signal handler.
void notifyInterrupt();

// Has notifier hear of interrupts where the handler cannot call
// notifyInterrupt() itself (Unix: the wake-up pipe, watched in the event
// loop).
void watchInterrupts(InterruptNotifier *notifier);

} // namespace Servo

#endif // SERVO_INTERRUPT_P_H
