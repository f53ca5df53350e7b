#include "fakeconnectionplugin.h"

namespace {
// Connection plug-ins are not placed in windows of their own.
constexpr int ConnectionPluginKind = 3;
}

FakeConnectionPlugin::FakeConnectionPlugin(const QString& key, int linkKind, CommandHandlerInterface* handler)
    : DUXLConnectionInterface(key, key, ConnectionPluginKind, nullptr, QString())
    , m_linkKind(linkKind)
    , m_handler(handler)
{
}

void FakeConnectionPlugin::setActive(bool active)
{
    m_active = active;
    m_activeCalls.append(active);
}
