#pragma once

#include "duxlmoduleinterface.h"

#include <QPointer>

class SerialConnection;

// A module that answered at one address of a serial link, named after the type code of its version
// text, which its firmware and its bootloader share.
class LinkModule : public DUXLModuleInterface
{
    Q_OBJECT
public:
    // `version`: the version text the module answered with when it was found.
    LinkModule(const QString& key, SerialConnection* connection, unsigned char address, const QString& typeCode,
               PluginHandler* handler, const QString& version = QString());
    ~LinkModule() override;

    // "DUX" and the type code: the same in firmware and bootloader, so keys and settings survive a restart.
    static QString moduleNameOf(const QString& typeCode);

    DUXLConnectionInterface* connectionInterface() const override;
    unsigned char moduleAddress() const override;
    QString nameInFirmware() const override;
    QString moduleName() const override;
    QString firmwareVersion() const override;
    void setFirmwareVersion(const QString& version) override;
    // Only noted in the log: this host does not act on the states the update announces.
    void setModuleState(int state) override;

private:
    QPointer<SerialConnection> m_connection;
    unsigned char m_address;
    QString m_typeCode;
    QString m_version;
};
