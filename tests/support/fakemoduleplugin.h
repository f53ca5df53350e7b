#pragma once

#include "duxlmoduleinterface.h"

#include <QList>

// A module plug-in as the host makes one for each module it finds: fixed identity, and a record of
// what the tool under test asked of it.
class FakeModulePlugin : public DUXLModuleInterface
{
    Q_OBJECT
public:
    FakeModulePlugin(const QString& key, const QString& displayName, const QString& moduleName,
                     const QString& nameInFirmware, unsigned char address, DUXLConnectionInterface* connection);

    DUXLConnectionInterface* connectionInterface() const override { return m_connection; }
    unsigned char moduleAddress() const override { return m_address; }
    QString nameInFirmware() const override { return m_nameInFirmware; }
    QString moduleName() const override { return m_moduleName; }
    void setModuleState(int state) override { m_states.append(state); }
    QString firmwareVersion() const override { return m_firmwareVersion; }
    void setFirmwareVersion(const QString& version) override { m_firmwareVersion = version; }

    // The host learns a module's kind anew when it re-reads the module.
    void setNameInFirmware(const QString& name) { m_nameInFirmware = name; }

    // Every state set through setModuleState(), in order.
    QList<int> moduleStates() const { return m_states; }

private:
    DUXLConnectionInterface* m_connection;
    unsigned char m_address;
    QString m_nameInFirmware;
    QString m_moduleName;
    QString m_firmwareVersion;
    QList<int> m_states;
};
