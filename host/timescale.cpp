#include "timescale.h"

#include <QString>
#include <cmath>

namespace TimeScale {

double factor()
{
    static const double value = [] {
        bool ok = false;
        const double scale = qEnvironmentVariable(EnvironmentVariable).toDouble(&ok);
        return ok && scale > 0 ? scale : 1.0;
    }();
    return value;
}

int scaledMs(int ms)
{
    return static_cast<int>(std::lround(ms * factor()));
}

unsigned long scaledUs(unsigned long us)
{
    return static_cast<unsigned long>(std::lround(us * factor()));
}

}
