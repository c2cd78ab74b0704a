#ifndef LINESETTINGS_H
#define LINESETTINGS_H

// Line settings of an open terminal as the kernel holds them, read with the
// TCGETS2 ioctl (which knows arbitrary baud rates such as 111100).
struct LineSettings
{
    unsigned inputBaud = 0;
    unsigned outputBaud = 0;
    int dataBits = 0;
    int stopBits = 0;
    bool parity = false;
    bool hardwareFlow = false;
    bool softwareFlow = false;
};

bool readLineSettings(int fd, LineSettings *settings);
#ifdef _WIN32
// The same from Windows' settings of an open COM port (GetCommState).
bool readCommSettings(void *handle, LineSettings *settings);
#endif

#endif
