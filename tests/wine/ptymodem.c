/* Test-only preload library for a Wine process whose COM port is a link to a
 * Linux pseudo-terminal:
 *
 *     LD_PRELOAD=/path/to/ptymodem.so wine program.exe
 *
 * Wine's WaitCommEvent polls the modem lines with TIOCMGET, which a
 * pseudo-terminal refuses; Wine then ends the wait as cancelled, and a Qt
 * serial port on Windows never hears a reply. Here TIOCMGET on a
 * pseudo-terminal answers as a null-modem cable with both ends up would
 * (DTR, RTS, CTS, DSR, CD). Every other call, and TIOCMGET on real serial
 * devices, goes to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

/* Unix 98 pseudo-terminal slaves have the major numbers 136 to 143. */
static int is_pty_slave(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
        major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*next)(int, unsigned long, void *);
    va_list args;
    void *arg;

    va_start(args, request);
    arg = va_arg(args, void *);
    va_end(args);
    if (!next)
        next = (int (*)(int, unsigned long, void *))dlsym(RTLD_NEXT, "ioctl");

    const int saved = errno;
    const int result = next(fd, request, arg);
    if (result != 0 && request == TIOCMGET && arg && (errno == ENOTTY || errno == EINVAL) &&
        is_pty_slave(fd)) {
        *(int *)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        errno = saved;
        return 0;
    }
    return result;
}
