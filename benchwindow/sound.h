#ifndef SOUND_H
#define SOUND_H

// The bench's two sounds, from what the platform gives: a servo verified
// and a servo failed must be told apart without looking. On Windows the
// system's "OK" and "error" message beeps; elsewhere the display's bell,
// once for verified and three times for failed.
namespace Servo {

enum class BenchSound { Verified, Failed };

void playBenchSound(BenchSound sound);

} // namespace Servo

#endif // SOUND_H
