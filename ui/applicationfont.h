#ifndef APPLICATIONFONT_H
#define APPLICATIONFONT_H

#include <QStringList>

// The font of the windows: the family "微软雅黑" (Microsoft YaHei) at 8
// points, the face the form's captions were laid out in. Where that face is
// missing (every system but Windows), a Chinese UI face with narrow Latin
// glyphs stands in for it through Qt's font substitution, so that the
// family stays the same and the captions keep to the width they were drawn
// for; without a stand-in, the platform's default face would take its place
// and clip the longer English captions.
namespace Servo {

QString applicationFontFamily(); // "微软雅黑"
int applicationFontPointSize(); // 8

// The faces that may stand in, best first: the same face under its English
// name, then faces with similar metrics.
QStringList applicationFontStandIns();

// Sets the application font, first substituting the first stand-in present
// when the designed face is missing. Needs the QGuiApplication. Returns the
// stand-in chosen, or an empty string when the designed face is there (or
// when none of the stand-ins is).
QString installApplicationFont();

} // namespace Servo

#endif // APPLICATIONFONT_H
