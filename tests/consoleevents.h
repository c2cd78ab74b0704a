#ifndef CONSOLEEVENTS_H
#define CONSOLEEVENTS_H

// Ctrl-C for a child process on Windows: the child starts in a process group
// of its own on this program's console, and CTRL_C_EVENT or
// CTRL_BREAK_EVENT is sent to that group alone (a console event travels
// only within a console, and to a whole group). Windows only.
#include <QProcess>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>

// Call before process.start(). A test program without a console window
// (under ctest, under Wine) is given one.
inline void startInOwnProcessGroup(QProcess &process)
{
    if (!::GetConsoleWindow()) {
        ::FreeConsole();
        ::AllocConsole();
    }
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags &= ~DWORD(CREATE_NO_WINDOW);
        args->flags |= CREATE_NEW_PROCESS_GROUP;
    });
}

// False, with a warning, when the event could not be sent.
inline bool sendConsoleEvent(const QProcess &process, DWORD event)
{
    if (::GenerateConsoleCtrlEvent(event, DWORD(process.processId())))
        return true;
    qWarning("GenerateConsoleCtrlEvent failed: error %lu", ::GetLastError());
    return false;
}
#endif

#endif // CONSOLEEVENTS_H
