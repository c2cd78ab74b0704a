#ifndef SKIPS_H
#define SKIPS_H

#include "tests/testline.h"

#include <QtTest>

// Tests that play the servo programmer on a line of their own (see
// testline.h) skip where no such line can be had, and say why.
#ifdef Q_OS_WIN
#define SKIP_WITHOUT_TEST_LINE()                                                                   \
    do {                                                                                           \
        const QString why_ = TestLine::unavailableReason();                                        \
        if (!why_.isEmpty())                                                                       \
            QSKIP(qPrintable(why_));                                                               \
    } while (false)
// Parts of a test that Windows has no equivalent of.
#define SKIP_ON_WINDOWS(why) QSKIP("Windows has " why)
#else
#define SKIP_WITHOUT_TEST_LINE() (void)0
#define SKIP_ON_WINDOWS(why) (void)0
#endif

#endif // SKIPS_H
