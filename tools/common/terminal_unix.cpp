#include "tools/common/terminal.h"

#include <cstdlib>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

namespace Servo {

bool prepareTerminalOutput()
{
    if (!::isatty(STDOUT_FILENO))
        return false;
    const char *term = std::getenv("TERM");
    return !term || std::strcmp(term, "dumb") != 0;
}

int terminalColumns()
{
    struct winsize size;
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

} // namespace Servo
