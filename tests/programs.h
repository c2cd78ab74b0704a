#ifndef PROGRAMS_H
#define PROGRAMS_H

#include <QCoreApplication>
#include <QProcess>
#include <QString>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

// The programs of the build (servo-sim, servo-cli) sit in the same folder as
// the test programs: bin/ of the build folder.
inline QString buildProgram(const QString &name)
{
#ifdef Q_OS_WIN
    const QString suffix = QStringLiteral(".exe");
#else
    const QString suffix;
#endif
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name + suffix;
}

// A console program that a test starts gets a console of its own on Windows,
// for which Wine starts conhost.exe beside it: two program starts for one.
// The tests talk to the programs through pipes only, so they start them
// without a console.
inline void withoutConsole(QProcess *process)
{
#ifdef Q_OS_WIN
    process->setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags = (arguments->flags & ~DWORD(CREATE_NO_WINDOW)) | DETACHED_PROCESS;
    });
#else
    Q_UNUSED(process)
#endif
}

#endif // PROGRAMS_H
