// The pseudo-terminal's shared part; the system's side lives in
// pseudoterminal_unix.cpp and pseudoterminal_win.cpp.
#include "serial/pseudoterminal.h"

#include <QElapsedTimer>

PseudoTerminal::~PseudoTerminal()
{
    close();
}

QByteArray PseudoTerminal::readExactly(int size, int timeoutMs)
{
    QByteArray out;
    if (!isOpen())
        return out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < size) {
        const int left = timeoutMs - int(clock.elapsed());
        if (left <= 0)
            break;
        out += read(left);
    }
    return out;
}
