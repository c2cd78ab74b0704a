#include "benchwindow/sound.h"

#include <qt_windows.h>

namespace Servo {

void playBenchSound(BenchSound sound)
{
    MessageBeep(sound == BenchSound::Verified ? MB_OK : MB_ICONHAND);
}

} // namespace Servo
