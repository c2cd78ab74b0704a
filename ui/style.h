#ifndef STYLE_H
#define STYLE_H

#include <QString>

// The servo tool's look as a style sheet for windows built in code: black
// ground, dark rounded panels (rgb 46,46,46, 15 px corners), rounded cards
// (rgb 66,66,66, 10 px), white captions and blue buttons (rgb 5,136,218 and
// the darker rgb 6,91,172 for file actions, 5 px corners), the same values
// the form (widget.ui) sets on its widgets.
//
// Widgets take a part of the look by their object name or by the dynamic
// property "look": "panel", "card", "button" (blue), "fileButton" (darker
// blue), "field" (a read-only value), "caption".
namespace Servo {

QString toolStyleSheet();

} // namespace Servo

#endif // STYLE_H
