#pragma once

#include "commandhandlerinterface.h"

#include <QList>
#include <QString>
#include <atomic>

class Command;
class SimulatedModule;

// A command handler whose link is a function call: it serves a SimulatedModule in process, so that
// tests and fake host plug-ins can run the whole update dialogue without a device.
class SimulatedCommandHandler : public CommandHandlerInterface
{
    Q_OBJECT
public:
    static constexpr int DefaultDataRate = 9600;

    // Serves `module`, which it does not own. The device starts open.
    explicit SimulatedCommandHandler(SimulatedModule* module, QObject* parent = nullptr);
    ~SimulatedCommandHandler() override;

    SimulatedModule* module() const;

    bool isDeviceOpen() const override;
    // Opens unless setOpenSucceeds(false); returns whether the device is open.
    bool openDevice() override;
    void closeDevice() override;
    int dataRate() const override;
    // Refuses (false, rate unchanged) a rate outside setAcceptedDataRates().
    bool setDataRate(int rate) override;
    // Empty while the device is closed or when the module does not answer.
    QString getFirmwareVersion(unsigned char moduleAddress) override;
    // Leaves `reply` invalid while the device is closed or when the module does not answer properly.
    void doDirectRequest(Command* request, Command* reply) override;
    void doDirectRequestWithoutReply(Command* request) override;

    // Data rates the link can do; an empty list (the default) accepts every rate.
    void setAcceptedDataRates(const QList<int>& rates);
    // Every rate asked for through setDataRate(), accepted or not, in order.
    QList<int> requestedDataRates() const;

    void setOpenSucceeds(bool succeeds);
    int openCount() const;
    int closeCount() const;

    // Sets the dynamic property "dpComPort".
    void setPortName(const QString& portName);
    // Names the handler as a USB link's handler: "USB construct No: <number>".
    void setUsbNumber(int number);

signals:
    // Emitted for every request that reaches the module, before the module handles it.
    void requestArrived(const Command& request);

private:
    SimulatedModule* m_module;
    std::atomic<bool> m_open{true};
    bool m_openSucceeds = true;
    int m_dataRate = DefaultDataRate;
    QList<int> m_acceptedDataRates;
    QList<int> m_requestedDataRates;
    int m_openCount = 0;
    int m_closeCount = 0;
};
