#ifndef SERVO_TERMINAL_H
#define SERVO_TERMINAL_H

// Standard output as a terminal, for a status that is redrawn in place
// (servo-cli program --auto). terminal_unix.cpp and terminal_win.cpp hold
// what differs by system.
namespace Servo {

// Whether standard output is a terminal (on Windows a console) that takes
// the escape sequences that move the cursor and clear a line; on Windows
// they are turned on here. False for a file, a pipe, a terminal that says it
// is dumb (TERM=dumb), or a console that cannot take them.
bool prepareTerminalOutput();

// The width of that terminal in characters; 0 when it does not tell.
int terminalColumns();

} // namespace Servo

#endif // SERVO_TERMINAL_H
