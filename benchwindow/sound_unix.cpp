#include "benchwindow/sound.h"

#include <QApplication>
#include <QTimer>

namespace Servo {

void playBenchSound(BenchSound sound)
{
    QApplication::beep();
    if (sound == BenchSound::Failed) {
        // Rings run together when they come at once; 200 ms apart they count.
        QTimer::singleShot(200, qApp, [] { QApplication::beep(); });
        QTimer::singleShot(400, qApp, [] { QApplication::beep(); });
    }
}

} // namespace Servo
