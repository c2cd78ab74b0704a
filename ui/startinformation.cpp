#include "ui/startinformation.h"

#include <cstdio>
#include <cstring>

namespace Servo {

bool printedStartInformation(int argc, char *argv[], const char *help, const char *program,
                             const char *version)
{
    if (argc != 2)
        return false;
    const char *argument = argv[1];
    if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0)
        std::fputs(help, stdout);
    else if (std::strcmp(argument, "--version") == 0)
        std::printf("%s %s\n", program, version);
    else
        return false;
    std::fflush(stdout);
    return true;
}

} // namespace Servo
