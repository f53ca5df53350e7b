#include "serialportdescription.h"

// QSerialPortInfo offers no public way to describe a port it did not enumerate itself; its private
// constructor is reachable only from the enumeration functions it befriends. We define one of those
// names here (hidden, so it cannot interpose on Qt's own) over a mirror of the private record of the
// Qt 5.15 library we build against; a test checks that the names come back through the public getters.
QT_BEGIN_NAMESPACE

class QSerialPortInfoPrivate
{
public:
    QString portName;
    QString device;
    QString description;
    QString manufacturer;
    QString serialNumber;
    quint16 vendorIdentifier = 0;
    quint16 productIdentifier = 0;
    bool hasVendorIdentifier = false;
    bool hasProductIdentifier = false;
};
static_assert(sizeof(QSerialPortInfoPrivate) == 48, "mirror of Qt 5.15's port record");

namespace {
thread_local const QSerialPortInfoPrivate* describedPort = nullptr;
}

__attribute__((visibility("hidden"))) QList<QSerialPortInfo> availablePortsByFiltersOfDevices(bool& ok)
{
    ok = describedPort != nullptr;
    if (!ok)
        return {};
    return {QSerialPortInfo(*describedPort)};
}

QT_END_NAMESPACE

QSerialPortInfo describeSerialPort(const QString& portName, const QString& systemLocation, const QString& description)
{
    QSerialPortInfoPrivate record;
    record.portName = portName;
    record.device = systemLocation.isEmpty() ? QStringLiteral("/dev/") + portName : systemLocation;
    record.description = description;
    describedPort = &record;
    bool ok = false;
    const QList<QSerialPortInfo> ports = availablePortsByFiltersOfDevices(ok);
    describedPort = nullptr;
    return ports.value(0);
}
