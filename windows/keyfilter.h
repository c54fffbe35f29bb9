#pragma once
// Per-key filtering of edit boxes: every typed character goes through a rule
// before it reaches the box, which may pass it, swallow it or put another
// character in its place; a read-only box takes a replacement no more than
// the character itself. Keys that type no character (arrows, Home, End) and
// Delete (which carries the DEL character on X11, on the keypad too) edit the
// box and always pass, Tab moves the focus as usual; pasting through the
// context menu is not typing.

#include <QObject>

#include <functional>
#include <optional>

class QLineEdit;
class QWidget;

// The character the box gets for a typed one; std::nullopt swallows it.
using KeyRule = std::function<std::optional<QChar>(QChar typed)>;

// Installs the rule on the edit box (the filter is owned by the box).
void FilterKeys(QLineEdit* edit, KeyRule rule);

// Number boxes: "," becomes "."; digits, "-", "." and Backspace pass; the
// exponent letter typed on either keyboard layout (Latin E/e, Cyrillic Е/е)
// becomes the Latin "E"; everything else (also "+", blanks, Enter and control
// characters such as Ctrl+V) is swallowed.
std::optional<QChar> NumberKey(QChar typed);

// Serial-number boxes: only digits and Backspace pass.
std::optional<QChar> DigitKey(QChar typed);

// Every push button of the window clicks on Enter (either key) while it has
// the focus, as it does on Space. For a window that is no dialog, so no
// button becomes the default one.
void ButtonsTakeEnter(QWidget* window);
