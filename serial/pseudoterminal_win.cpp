// Windows has no pseudo-terminals: opening one fails, and the rest does
// nothing.
#include "serial/pseudoterminal.h"

bool PseudoTerminal::open(QString *errorString)
{
    if (errorString)
        *errorString = QStringLiteral("pseudo-terminals are not available on this system");
    return false;
}
bool PseudoTerminal::write(const QByteArray &)
{
    return false;
}
qint64 PseudoTerminal::writeSome(const char *, qint64, QString *errorString)
{
    if (errorString)
        *errorString = QStringLiteral("pseudo-terminals are not available on this system");
    return -1;
}
QByteArray PseudoTerminal::readAvailable(QString *lostReason)
{
    if (lostReason)
        *lostReason = QStringLiteral("pseudo-terminals are not available on this system");
    return {};
}
QByteArray PseudoTerminal::read(int)
{
    return {};
}
void PseudoTerminal::closeMaster()
{
}
void PseudoTerminal::close()
{
}
