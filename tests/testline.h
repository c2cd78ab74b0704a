#ifndef TESTLINE_H
#define TESTLINE_H

// The servo programmer's end of a serial line, held by a test, and the port
// name the code under test opens for the other end.
//
// On Unix it is a pseudo-terminal. Windows has none; there the line is a
// pair of COM ports joined as by a null-modem cable, the way virtual port
// drivers (com0com) make them: either a pair named by SERVO_COM_PAIR
// ("COM5,COM6"; the first is the one for the code under test), or, under
// Wine, two pseudo-terminals joined by tests/wine/ptypair (SERVO_PTYPAIR, its
// Linux path) and linked into the prefix's dosdevices as a fresh pair COMn,
// COMn+1 per line.
#include "serial/pseudoterminal.h"

#include <QByteArray>
#include <QString>

// Whether this Windows program runs under Wine (never, elsewhere).
bool underWine();

#ifdef Q_OS_WIN

class TestLine
{
public:
    TestLine() = default;
    ~TestLine();
    TestLine(const TestLine &) = delete;
    TestLine &operator=(const TestLine &) = delete;

    // Why no line can be had here; empty when one can.
    static QString unavailableReason();

    // Makes the pair and opens the programmer's end of it.
    bool open(QString *errorString = nullptr);
    // Makes the pair only, for another program to hold peerPath().
    bool openPair(QString *errorString = nullptr);
    bool isOpen() const { return m_peerHandle != nullptr; }
    QString slavePath() const { return m_port; }
    QString peerPath() const { return m_peer; }

    bool write(const QByteArray &data);
    QByteArray readAvailable(QString *lostReason = nullptr);
    QByteArray read(int timeoutMs = 0);
    QByteArray readExactly(int size, int timeoutMs);

    // Whether closeMaster() can pull the adapter (only a pair made here).
    bool canPull() const { return !m_control.isEmpty(); }
    // The code under test's end reports I/O errors from now on.
    void closeMaster();
    void close();

private:
    QString m_port;
    QString m_peer;
    QString m_control; // Windows path of the pair's files, without suffix
    void *m_peerHandle = nullptr;
};

#else

using TestLine = PseudoTerminal;

#endif

#endif // TESTLINE_H
