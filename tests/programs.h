#ifndef PROGRAMS_H
#define PROGRAMS_H

#include <QCoreApplication>
#include <QString>

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

#endif // PROGRAMS_H
