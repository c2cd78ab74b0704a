// A process in the background that reads its terminal is stopped (SIGTTIN).
// Ignored, the read fails instead, which ends the control channel and leaves
// the terminal to the shell.
#include "tools/servo-sim/controlinput.h"

#include <csignal>

void prepareControlInput()
{
    std::signal(SIGTTIN, SIG_IGN);
}
