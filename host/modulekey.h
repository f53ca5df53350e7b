#pragma once

#include <QString>
#include <QStringList>

// The host's key of a module, its parts separated by "/": the port name of its link, the module's type
// and its address ("ttyUSB0/DUX1234/id1"). A connection's key begins with its port the same way. Parts a
// short key lacks read empty.
class ModuleKey
{
public:
    explicit ModuleKey(const QString& key);

    QString port() const;
    QString moduleType() const;
    QString address() const;
    // The same module on `port` at `address`; a short key gets the parts it lacks.
    ModuleKey moved(const QString& port, const QString& address) const;
    QString toString() const;

private:
    enum Part { PortPart, TypePart, AddressPart, Parts };

    QStringList m_parts;
};
