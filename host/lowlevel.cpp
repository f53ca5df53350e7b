#include "lowlevel.h"

Q_LOGGING_CATEGORY(lowLevelCategory, "dux.lowlevel", QtInfoMsg)

const QLoggingCategory& debLowLevel()
{
    return lowLevelCategory();
}
