#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// Small helpers shared by the host's plug-ins.
namespace BasicTools {

// Whether a firmware file suits a module. Both texts carry a module type code in front of their
// version letter: the type is everything before the first letter, where a 'C' in the first place
// belongs to the type ("1234B101", "1234V308", "1234V567" and "1234C567" are of type "1234";
// "123V4.56" of type "123"; "C123V456" of type "C123"). The file suits the module when both types
// are non-empty and equal. Returns the common type code, or an empty text when they do not suit
// each other. `flags` is reserved and must be 0.
QString matchFirmwareVersion(const QString& moduleVersion, const QString& fileVersion, unsigned int flags);

// The module type code of a module or file version text, as matchFirmwareVersion reads it.
QString moduleTypeOf(const QString& version);

// An HTML image element that shows `pixmap` at `size`, with the image data inline.
QString setPixmapToHtml(const QPixmap& pixmap, const QSize& size);

}
