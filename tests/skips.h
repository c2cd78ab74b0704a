#ifndef SKIPS_H
#define SKIPS_H

#include <QtTest>

// Tests whose servo programmer sits on a pseudo-terminal (servo-sim, or the
// test itself on the master side) cannot run where there are none.
#ifdef Q_OS_WIN
#define SKIP_WITHOUT_PSEUDO_TERMINAL() \
    QSKIP("the servo programmer's line is a pseudo-terminal, and Windows has none")
#else
#define SKIP_WITHOUT_PSEUDO_TERMINAL() (void)0
#endif

#endif // SKIPS_H
