#include "serialconnection.h"

#include "linkkindrules.h"
#include "serialcommandhandler.h"

namespace {
// Device plug-ins have no window of their own.
constexpr int DevicePluginKind = 0;

QString titleOf(const QSerialPortInfo& port, int linkKind)
{
    return LinkKindRules::title(linkKind, port.portName());
}
}

SerialConnection::SerialConnection(const QString& key, const QSerialPortInfo& port, int linkKind,
                                   PluginHandler* handler)
    : DUXLConnectionInterface(key, titleOf(port, linkKind), DevicePluginKind, handler, QString())
    , m_linkKind(linkKind)
    , m_handler(new SerialCommandHandler(port, linkKind, this))
{
}

SerialConnection::~SerialConnection() = default;

CommandHandlerInterface* SerialConnection::commandHandler() const
{
    return m_handler;
}

int SerialConnection::interfaceType() const
{
    return m_linkKind;
}

void SerialConnection::setActive(bool active)
{
    m_active = active;
}
