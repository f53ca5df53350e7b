#include "elapsedclock.h"

#include <QTime>

namespace ElapsedClock {

QString titleSuffix(qint64 elapsedMs)
{
    const qint64 shownMs = elapsedMs / ResolutionMs * ResolutionMs;
    return QTime(0, 0).addMSecs(int(shownMs % (24 * 3600 * 1000))).toString(QStringLiteral(" [m:ss.zzz]"));
}

}
