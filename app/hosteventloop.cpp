#include "hosteventloop.h"

#include <QByteArray>
#include <QtGlobal>

namespace HostEventLoop {

void chooseDispatcher()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

}
