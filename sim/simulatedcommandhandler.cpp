#include "simulatedcommandhandler.h"

#include "command.h"
#include "duxlconnectioninterface.h"
#include "linkkindrules.h"
#include "simulatedmodule.h"

#include <QVariant>

SimulatedCommandHandler::SimulatedCommandHandler(SimulatedModule* module, QObject* parent)
    : CommandHandlerInterface(parent)
    , m_module(module)
{
}

SimulatedCommandHandler::~SimulatedCommandHandler() = default;

SimulatedModule* SimulatedCommandHandler::module() const
{
    return m_module;
}

bool SimulatedCommandHandler::isDeviceOpen() const
{
    return m_open;
}

bool SimulatedCommandHandler::openDevice()
{
    ++m_openCount;
    if (m_openSucceeds)
        m_open = true;
    return m_open;
}

void SimulatedCommandHandler::closeDevice()
{
    ++m_closeCount;
    m_open = false;
}

int SimulatedCommandHandler::dataRate() const
{
    return m_dataRate;
}

bool SimulatedCommandHandler::setDataRate(int rate)
{
    m_requestedDataRates.append(rate);
    if (!m_acceptedDataRates.isEmpty() && !m_acceptedDataRates.contains(rate))
        return false;
    m_dataRate = rate;
    return true;
}

QString SimulatedCommandHandler::getFirmwareVersion(unsigned char moduleAddress)
{
    QString version;
    if (m_open)
        m_module->queryVersion(moduleAddress, &version);
    return version;
}

void SimulatedCommandHandler::doDirectRequest(Command* request, Command* reply)
{
    // A reused reply record must not keep the validity of an earlier answer.
    reply->invalidate();
    beginRequest();
    if (!m_open) {
        noteFailure(Failure::PortGone);
        return;
    }
    emit requestArrived(*request);
    const SimulatedModule::Outcome outcome = m_module->handleRequest(*request, reply);
    if (outcome == SimulatedModule::Outcome::Reply) {
        noteReplyStatus(*reply);
        return;
    }
    reply->invalidate();
    noteFailure(outcome == SimulatedModule::Outcome::NoReply ? Failure::NoReply : Failure::CorruptReply);
}

void SimulatedCommandHandler::doDirectRequestWithoutReply(Command* request)
{
    if (!m_open)
        return;
    emit requestArrived(*request);
    Command ignored;
    m_module->handleRequest(*request, &ignored);
}

void SimulatedCommandHandler::setAcceptedDataRates(const QList<int>& rates)
{
    m_acceptedDataRates = rates;
}

QList<int> SimulatedCommandHandler::requestedDataRates() const
{
    return m_requestedDataRates;
}

void SimulatedCommandHandler::setOpenSucceeds(bool succeeds)
{
    m_openSucceeds = succeeds;
}

int SimulatedCommandHandler::openCount() const
{
    return m_openCount;
}

int SimulatedCommandHandler::closeCount() const
{
    return m_closeCount;
}

void SimulatedCommandHandler::setPortName(const QString& portName)
{
    setProperty("dpComPort", portName);
}

void SimulatedCommandHandler::setUsbNumber(int number)
{
    setObjectName(LinkKindRules::handlerName(DUXLConnectionInterface::Usb, QString(), number));
}
