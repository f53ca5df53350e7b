#include "linkmodule.h"

#include "serialconnection.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcLinkModule, "dux.module", QtInfoMsg)

namespace {
constexpr int DevicePluginKind = 0;
constexpr const char* ModuleNamePrefix = "DUX";
}

LinkModule::LinkModule(const QString& key, SerialConnection* connection, unsigned char address,
                       const QString& typeCode, PluginHandler* handler, const QString& version)
    : DUXLModuleInterface(key, moduleNameOf(typeCode), DevicePluginKind, handler, QString())
    , m_connection(connection)
    , m_address(address)
    , m_typeCode(typeCode)
    , m_version(version)
{
}

LinkModule::~LinkModule() = default;

QString LinkModule::moduleNameOf(const QString& typeCode)
{
    return QLatin1String(ModuleNamePrefix) + typeCode;
}

DUXLConnectionInterface* LinkModule::connectionInterface() const
{
    return m_connection.data();
}

unsigned char LinkModule::moduleAddress() const
{
    return m_address;
}

QString LinkModule::nameInFirmware() const
{
    return m_typeCode;
}

QString LinkModule::moduleName() const
{
    return moduleNameOf(m_typeCode);
}

QString LinkModule::firmwareVersion() const
{
    return m_version;
}

void LinkModule::setFirmwareVersion(const QString& version)
{
    m_version = version;
}

void LinkModule::setModuleState(int state)
{
    qCDebug(lcLinkModule).noquote() << key() << "state" << state;
}
