#pragma once

#include "duxlconnectioninterface.h"

#include <QList>

// A connection plug-in of any link kind, handing out the command handler it was given.
class FakeConnectionPlugin : public DUXLConnectionInterface
{
    Q_OBJECT
public:
    // `handler` may be null (a link without command channel); it is not owned.
    FakeConnectionPlugin(const QString& key, int linkKind, CommandHandlerInterface* handler);

    CommandHandlerInterface* commandHandler() const override { return m_handler; }
    int interfaceType() const override { return m_linkKind; }
    void setActive(bool active) override;

    // True until an update takes the link; what the last setActive() said.
    bool isActive() const { return m_active; }
    // Every value passed to setActive(), in order.
    QList<bool> activeCalls() const { return m_activeCalls; }

private:
    int m_linkKind;
    CommandHandlerInterface* m_handler;
    bool m_active = true;
    QList<bool> m_activeCalls;
};
