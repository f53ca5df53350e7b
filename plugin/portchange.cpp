#include "portchange.h"

namespace {
// A re-enumerated module answers at address 1.
constexpr const char* RekeyedAddressPart = "id1";
constexpr int KeyParts = 3;
constexpr int AddressPart = 2;

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
    QStringList parts = moduleKey.split(QLatin1Char('/'), Qt::KeepEmptyParts);
    parts.takeFirst();
    parts.prepend(newPort);
    while (parts.size() < KeyParts)
        parts.append(QString());
    parts[AddressPart] = QLatin1String(RekeyedAddressPart);
    return parts.join(QLatin1Char('/'));
}
