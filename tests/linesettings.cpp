// Kept apart from everything else: <asm/termbits.h> clashes with <termios.h>.
#include "tests/linesettings.h"

#ifdef __linux__
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

bool readLineSettings(int fd, LineSettings *s)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return false;
    s->inputBaud = tio.c_ispeed;
    s->outputBaud = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        s->dataBits = 5;
        break;
    case CS6:
        s->dataBits = 6;
        break;
    case CS7:
        s->dataBits = 7;
        break;
    default:
        s->dataBits = 8;
        break;
    }
    s->stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    s->parity = (tio.c_cflag & PARENB) != 0;
    s->hardwareFlow = (tio.c_cflag & CRTSCTS) != 0;
    s->softwareFlow = (tio.c_iflag & (IXON | IXOFF)) != 0;
    return true;
}
#else
bool readLineSettings(int, LineSettings *)
{
    return false;
}
#endif

#ifdef _WIN32
#include <windows.h>

bool readCommSettings(void *handle, LineSettings *s)
{
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return false;
    s->inputBaud = s->outputBaud = dcb.BaudRate;
    s->dataBits = dcb.ByteSize;
    s->stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    s->parity = dcb.Parity != NOPARITY;
    s->hardwareFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    s->softwareFlow = dcb.fOutX || dcb.fInX;
    return true;
}
#endif
