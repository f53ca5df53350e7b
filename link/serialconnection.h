#pragma once

#include "duxlconnectioninterface.h"

#include <QSerialPortInfo>

class SerialCommandHandler;

// One serial port of the host (or a USB module that shows up as one) with the command handler that
// talks over it. The handler belongs to the connection.
class SerialConnection : public DUXLConnectionInterface
{
    Q_OBJECT
public:
    // `linkKind`: DUXLConnectionInterface::LinkKind, as LinkKindRules::kindOfPort told it.
    SerialConnection(const QString& key, const QSerialPortInfo& port, int linkKind, PluginHandler* handler);
    ~SerialConnection() override;

    CommandHandlerInterface* commandHandler() const override;
    int interfaceType() const override;
    void setActive(bool active) override;

    // False while an update owns the link: the host then leaves port and handler alone.
    bool isActive() const { return m_active; }
    SerialCommandHandler* serialHandler() const { return m_handler; }

private:
    int m_linkKind;
    SerialCommandHandler* m_handler;
    bool m_active = true;
};
