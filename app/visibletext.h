#pragma once

#include <QString>

// Text that came from a module (its key, version, type) or from a file name, made safe for a
// terminal: a control character would clear the screen, colour it or set the window title there, so
// each is shown as a visible escape ("\x1b", "\x07"), and a backslash as "\\" so that the escape is
// unambiguous. The JSON output keeps the raw text, which JSON escapes of its own accord.
QString visibleText(const QString& text);
