#include "portchange.h"

#include "modulekey.h"

namespace {
// A re-enumerated module answers at address 1.
constexpr const char* RekeyedAddressPart = "id1";

QStringList portNames(const QList<QSerialPortInfo>& ports)
{
    QStringList names;
    for (const QSerialPortInfo& port : ports)
        names.append(port.portName());
    return names;
}

QStringList namesMissingFrom(const QStringList& names, const QStringList& others)
{
    QStringList missing;
    for (const QString& name : names) {
        if (!others.contains(name))
            missing.append(name);
    }
    return missing;
}
}

PortChange PortChange::between(const QList<QSerialPortInfo>& actual, const QList<QSerialPortInfo>& old)
{
    const QStringList oldNames = portNames(old);
    const QStringList actualNames = portNames(actual);
    return {actualNames, oldNames, namesMissingFrom(actualNames, oldNames), namesMissingFrom(oldNames, actualNames)};
}

QString PortChange::rekeyed(const QString& moduleKey, const QString& newPort)
{
    return ModuleKey(moduleKey).moved(newPort, QLatin1String(RekeyedAddressPart)).toString();
}
