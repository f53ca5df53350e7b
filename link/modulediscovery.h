#pragma once

#include "commandhandlerinterface.h"
#include "portsearch.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QHash>
#include <QObject>
#include <QSerialPortInfo>
#include <QTimer>
#include <QVector>

class DUXLModuleInterface;
class LinkModule;
class PluginHandler;
class SerialConnection;
class WireCapture;

// Looks for modules on the serial ports that the PeripheryManager reports and keeps the plug-in
// handler's register in step with them: each module under "<port>/<module name>/id<address>", its link
// under "<port>/Serial" or "<port>/USB". A port that goes away takes its plug-ins along, and a module
// that comes back under a new port name (a USB module after a restart) is registered under the new key.
class ModuleDiscovery : public QObject
{
    Q_OBJECT
public:
    // The protocol's default reply time-out: a module may take that long to answer.
    static constexpr int DefaultProbeTimeoutMs = 1000;
    static constexpr int DefaultDataRate = 115200;

    explicit ModuleDiscovery(PluginHandler* handler, QObject* parent = nullptr);
    ~ModuleDiscovery() override;

    static QString moduleKey(const QString& portName, const QString& moduleName, unsigned char address);
    static QString connectionKey(const QString& portName, int linkKind);

    // Addresses asked on each new port, in this order (default 1 to 4). A USB link holds one module,
    // so asking stops at the first answer there. New ports are searched side by side.
    void setProbeAddresses(const QVector<unsigned char>& addresses);
    // How long one address may take to answer while looking, until a module on its port has answered
    // (PortSearch::followUpTimeoutMs then bounds the rest).
    void setProbeTimeoutMs(int timeoutMs);
    // The most requests the links found from now on keep in flight (CommandHandlerInterface::setWindowLimit).
    void setWindowLimit(int limit);
    // The data rate new links are opened with.
    void setDataRate(int rate);
    // The links found from now on, and the modules they answer for, are noted in `capture`, which
    // outlives them.
    void setWireCapture(WireCapture* capture);

    // Every port seen so far, with or without a module.
    QStringList portNames() const;
    // Ports present that are another present port's device under a second name (a symbolic link, the
    // same path given twice, a USB module's second interface with its serial number): "PORT and PORT
    // (DEVICE)" each. Such a port is not searched.
    QStringList samePortsTwice() const;
    QVector<unsigned char> probeAddresses() const { return m_probeAddresses; }
    int probeTimeoutMs() const { return m_probeTimeoutMs; }
    int dataRate() const { return m_dataRate; }

    // Follows the PeripheryManager's reports from now on.
    void start();

    // Looks for modules on the present ports with the given list (what the PeripheryManager reports).
    void update(const QList<QSerialPortInfo>& ports);

public slots:
    // Asks again on the ports where no module answered before (a module switched on later).
    void rescan();

signals:
    void moduleAdded(DUXLModuleInterface* module);
    // Emitted while the module still exists; it is deleted later.
    void moduleRemoved(DUXLModuleInterface* module);

private:
    struct Link
    {
        QSerialPortInfo port;
        SerialConnection* connection = nullptr; // null when no module answered
        QList<LinkModule*> modules;
    };
    struct ParkedConnection
    {
        SerialConnection* connection;
        QElapsedTimer since;
    };

    // Searches `ports` side by side and keeps what was found on each.
    void probe(const QList<QSerialPortInfo>& ports);
    // The port among those known whose device `port` is too; empty when none.
    QString twinOf(const QSerialPortInfo& port) const;
    // Registers the modules that answered on a searched port, on a link opened anew.
    Link linkOf(const PortSearch::Port& searched);
    void removePort(const QString& portName);
    void releaseParked();

    PluginHandler* m_handler;
    QMap<QString, Link> m_links; // every port seen, by name
    QMap<QString, QString> m_twins; // a port not searched, by name: the port whose device it is
    // Ports that could not be opened and were said so, with who held them (empty: not known). A search
    // that looks again says it once, and does not knock again while the same programs hold the port.
    QHash<QString, QString> m_unopenable;
    // Links that vanished while an update owned them: their handler may still be in the update's
    // hands, so they live on until no update thread runs.
    QList<ParkedConnection> m_parked;
    QTimer m_parkedTimer;
    QVector<unsigned char> m_probeAddresses{1, 2, 3, 4};
    int m_probeTimeoutMs = DefaultProbeTimeoutMs;
    int m_windowLimit = CommandHandlerInterface::MaxWindow;
    int m_dataRate = DefaultDataRate;
    WireCapture* m_capture = nullptr;
};
