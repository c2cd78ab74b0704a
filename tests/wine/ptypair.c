/* Test-only helper for Windows programs under Wine: a pair of COM ports
 * joined as by a null-modem cable, made of two Linux pseudo-terminals whose
 * masters this program joins byte for byte:
 *
 *     ptypair PREFIX/dosdevices/comA PREFIX/dosdevices/comB
 *
 * Both slave sides are set raw and linked as the two names, which the Wine
 * prefix then opens as COMa and COMb. The program writes comA.ready when the
 * links are there, and watches two files beside the first link:
 *     comA.pull   when it appears, comA's master is closed (an adapter pulled
 *                 out: comA then reports I/O errors; comB stays);
 *     comA.run    when it disappears (the test made it before starting this),
 *                 everything is closed, the links removed, and the program
 *                 exits.
 * A Windows program starts it with CreateProcess, which Wine runs natively,
 * but cannot signal it or learn its exit code: hence the files. It also ends
 * after an hour, should a test have died without removing comA.run. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

struct end
{
    int master;
    int hold; /* the slave side kept open: its settings stay, no hang-up */
    char path[64];
};

static int open_end(struct end *e)
{
    struct termios t;
    e->master = posix_openpt(O_RDWR | O_NOCTTY);
    if (e->master < 0 || grantpt(e->master) != 0 || unlockpt(e->master) != 0 || !ptsname(e->master))
        return -1;
    snprintf(e->path, sizeof e->path, "%s", ptsname(e->master));
    e->hold = open(e->path, O_RDWR | O_NOCTTY);
    if (e->hold < 0 || tcgetattr(e->hold, &t) != 0)
        return -1;
    cfmakeraw(&t);
    return tcsetattr(e->hold, TCSANOW, &t);
}

static int exists(const char *path)
{
    return access(path, F_OK) == 0;
}

/* Copies what has arrived on from to to; -1 when from is gone. */
static int pass(int from, int to)
{
    char buf[4096];
    const ssize_t n = read(from, buf, sizeof buf);
    if (n <= 0)
        return n == 0 || (errno != EAGAIN && errno != EINTR) ? -1 : 0;
    for (ssize_t done = 0; done < n;) {
        const ssize_t w = to >= 0 ? write(to, buf + done, (size_t)(n - done)) : n - done;
        if (w < 0 && errno != EINTR && errno != EAGAIN)
            return 0; /* the other end is gone: the bytes are lost, as on a cable */
        if (w > 0)
            done += w;
    }
    return 0;
}

int main(int argc, char **argv)
{
    struct end a = {-1, -1, ""}, b = {-1, -1, ""};
    char run[4096], pull[4096], ready[4096];
    if (argc != 3) {
        fprintf(stderr, "usage: ptypair LINK-A LINK-B\n");
        return 2;
    }
    snprintf(run, sizeof run, "%s.run", argv[1]);
    snprintf(pull, sizeof pull, "%s.pull", argv[1]);
    snprintf(ready, sizeof ready, "%s.ready", argv[1]);
    if (open_end(&a) != 0 || open_end(&b) != 0) {
        perror("ptypair: pseudo-terminal");
        return 1;
    }
    unlink(argv[1]);
    unlink(argv[2]);
    if (symlink(a.path, argv[1]) != 0 || symlink(b.path, argv[2]) != 0) {
        perror("ptypair: link");
        return 1;
    }
    close(open(ready, O_WRONLY | O_CREAT | O_TRUNC, 0644));

    const time_t start = time(NULL);
    while (exists(run) && time(NULL) - start < 3600) {
        struct pollfd fds[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
        if (a.master >= 0 && exists(pull)) {
            close(a.master);
            close(a.hold);
            a.master = a.hold = -1;
            fds[0].fd = -1;
        }
        if (poll(fds, 2, 50) < 0 && errno != EINTR)
            break;
        /* A master reads EIO while no one but us holds its slave: not an end. */
        if (fds[0].revents & POLLIN)
            pass(a.master, b.master);
        if (fds[1].revents & POLLIN)
            pass(b.master, a.master);
    }
    unlink(argv[1]);
    unlink(argv[2]);
    unlink(ready);
    unlink(pull);
    return 0;
}
