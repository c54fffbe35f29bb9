#pragma once
// Fonts that show the tool's Russian texts. Qt takes a font's family from the
// system; where that family is missing (a fresh Wine prefix has none of
// Windows' fonts, neither the one for windows nor Courier New), Qt falls back
// to the first family it knows, whatever it is: one without Cyrillic letters,
// whose Russian ones then come from another font, below the first one's line
// (group box titles lose the bottoms of them), or a proportional one for the
// line monitor's columns.

#include <QFont>

enum class FontPitch { Proportional, Fixed };

// `font` when the family it resolves to writes Cyrillic with the pitch asked
// for; otherwise `font` in the first family that does. Where no family does,
// `font` as it was.
QFont RussianFont(QFont font, FontPitch pitch);
