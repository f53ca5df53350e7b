#pragma once

#include <QString>

// The short function name that starts an ordinary diagnostic line: from just after the last blank
// before the first "::" up to the last "(", then "()".
// "QString FirmwareUpdate::loadHexFile(QString)" gives "FirmwareUpdate::loadHexFile()".
QString shortFunctionName(const char* signature);

// For qDebug() streams: the short name of the enclosing function, printed without quotes.
#define DUX_FUNCTION qPrintable(shortFunctionName(Q_FUNC_INFO))
