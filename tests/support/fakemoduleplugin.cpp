#include "fakemoduleplugin.h"

namespace {
// Module plug-ins are not placed in windows of their own.
constexpr int ModulePluginKind = 2;
}

FakeModulePlugin::FakeModulePlugin(const QString& key, const QString& displayName, const QString& moduleName,
                                   const QString& nameInFirmware, unsigned char address,
                                   DUXLConnectionInterface* connection)
    : DUXLModuleInterface(key, displayName, ModulePluginKind, nullptr, QString())
    , m_connection(connection)
    , m_address(address)
    , m_nameInFirmware(nameInFirmware)
    , m_moduleName(moduleName)
{
}
