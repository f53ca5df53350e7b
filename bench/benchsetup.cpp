#include "benchsetup.h"

#include <QtGlobal>

#include <cstdio>

namespace {

void discardDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

}

namespace BenchSetup {

void defaultTimeScale(const char* scale)
{
    if (!qEnvironmentVariableIsSet("DUX_TIME_SCALE"))
        qputenv("DUX_TIME_SCALE", scale);
}

void defaultOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void discardDebugMessages()
{
    qInstallMessageHandler(discardDebug);
}

int intOption(const QStringList& arguments, const char* name, int fallback)
{
    const int at = arguments.indexOf(QLatin1String(name));
    return at > 0 && at + 1 < arguments.size() ? qMax(0, arguments.at(at + 1).toInt()) : fallback;
}

}
