#pragma once

#include <QString>

// Puts the progress texts of an update into the user's language for the progress line. The session and
// the worker write them in English, and the history keeps them so; a text is matched against the English
// patterns below, and a text no pattern knows is shown as it is.
namespace ProgressTranslation {
QString translated(const QString& text);
}
