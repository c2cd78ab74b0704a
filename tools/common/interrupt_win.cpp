// Interrupts on Windows: the console runs its handler on a thread of its
// own, which raises the flag and posts to the notifiers' threads.
#include "tools/common/interrupt.h"

#include "tools/common/interrupt_p.h"

#include <windows.h>

namespace Servo {

namespace {

BOOL WINAPI onConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE; // closing the console and the like: the default
    interruptFlag.store(true);
    notifyInterrupt();
    return TRUE;
}

} // namespace

InterruptHandling::InterruptHandling()
{
    interruptFlag.store(false);
    // A process started in a process group of its own (CREATE_NEW_PROCESS_GROUP)
    // starts with Ctrl-C ignored; it is heard again, as on Unix, where the
    // handler is installed whatever was there before. It stays heard after
    // this object is gone, then with the console's default.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptHandling::~InterruptHandling()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

qint64 StandardInput::readData(char *data, qint64 maxSize)
{
    DWORD got = 0;
    const DWORD want = DWORD(qMin<qint64>(maxSize, 1 << 20));
    const BOOL ok = ::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), data, want, &got, nullptr);
    if (ok && got > 0 && !interruptFlag.load())
        return qint64(got);
    // Ctrl-C ends a console read, and its handler runs on a thread of its
    // own: give it a moment to raise the flag.
    for (int n = 0; n < 20 && !interruptFlag.load(); ++n)
        ::Sleep(10);
    return interruptFlag.load() || ok ? 0 : -1;
}

// The console handler calls notifyInterrupt() itself.
void watchInterrupts(InterruptNotifier *)
{
}

} // namespace Servo
