#include "modulekey.h"

namespace {
constexpr QChar Separator = QLatin1Char('/');
}

ModuleKey::ModuleKey(const QString& key)
    : m_parts(key.split(Separator, Qt::KeepEmptyParts))
{
}

QString ModuleKey::port() const
{
    return m_parts.value(PortPart);
}

QString ModuleKey::moduleType() const
{
    return m_parts.value(TypePart);
}

QString ModuleKey::address() const
{
    return m_parts.value(AddressPart);
}

ModuleKey ModuleKey::moved(const QString& port, const QString& address) const
{
    ModuleKey key = *this;
    while (key.m_parts.size() < Parts)
        key.m_parts.append(QString());
    key.m_parts[PortPart] = port;
    key.m_parts[AddressPart] = address;
    return key;
}

QString ModuleKey::toString() const
{
    return m_parts.join(Separator);
}
