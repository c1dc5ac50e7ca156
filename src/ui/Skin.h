#pragma once
// The program's skin: a light, flat look drawn by a style of the program's
// own over Fusion, with a palette of its colours. Geometry stays the dialog
// templates'.
//
// A style rather than a style sheet: a style sheet makes every widget match
// its rules when it is polished and again when it paints, which cost the
// window a few milliseconds of every start.

#include <QColor>

class QApplication;

namespace melo::ui {

// A link's text, whatever the palette around it.
inline const QColor kLinkText{0x00, 0x00, 0xff};

// Sets the skin's style and palette on the whole program.
void ApplySkin(QApplication& app);

}  // namespace melo::ui
