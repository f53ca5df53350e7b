#pragma once

#include "duxlframedecoder.h"
#include "linkpacer.h"
#include "ptyport.h"

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;
class SimulatedModule;

// Serves a SimulatedModule on a pseudo-terminal as a module on a serial link would: it reads request
// frames, lets the module answer and writes the reply frames, paced at the link's data rate when one is
// set. On a USB-like link the port disappears whenever the module restarts (into its bootloader or
// back into its firmware) and comes back under the next port name, as a USB device re-enumerates.
class ModuleServer : public QObject
{
    Q_OBJECT
public:
    enum class LinkKind { Serial, UsbLike };

    static constexpr int DefaultReconnectDelayMs = 300;

    // Serves `module`, which it does not own.
    explicit ModuleServer(SimulatedModule* module, QObject* parent = nullptr);
    ~ModuleServer() override;

    void setLinkKind(LinkKind kind);
    LinkKind linkKind() const { return m_linkKind; }
    // Data rate whose pace the bytes keep; 0 (default): they pass at once.
    void setPacingRate(int bitsPerSecond);
    // Port names are this prefix and a number counting from 0 (default "ttySIM").
    void setPortNamePrefix(const QString& prefix);
    // Where the present port is announced for the host (see PortListFile); empty: nowhere.
    void setPortListFile(const QString& path);
    // How long a USB-like link stays away when the module restarts.
    void setReconnectDelayMs(int delayMs);
    // How long the bootloader takes to erase its flash before it answers.
    void setEraseTimeMs(int eraseMs);
    // The module's request log is emptied every this many requests, so that a long-running server does
    // not grow with every update; 0 (default) keeps it all.
    void setRequestLogLimit(int requests);

    // Opens the first port.
    bool start();
    QString portName() const { return m_portName; }
    QString devicePath() const { return m_port.devicePath(); }
    QString errorString() const { return m_errorString; }

signals:
    void portOpened(const QString& portName, const QString& devicePath);
    void portClosed(const QString& portName);
    // Opening, reading or announcing the port failed.
    void failed(const QString& message);

private slots:
    void readRequests();

private:
    bool openNextPort();
    void closePort();
    void announce();
    void serve(const DuxlFrame& request);
    void serveCommand(const DuxlFrame& request);
    void serveVersion(const DuxlFrame& request);
    void sendReply(QByteArray frame, bool spoil);
    void handleModeChange();

    SimulatedModule* m_module;
    PtyPort m_port;
    std::unique_ptr<QSocketNotifier> m_notifier;
    DuxlFrameDecoder m_decoder;
    LinkPacer m_pacer;
    LinkKind m_linkKind = LinkKind::Serial;
    QString m_portNamePrefix = QStringLiteral("ttySIM");
    int m_portNumber = 0;
    QString m_portName;
    QString m_portListFile;
    int m_reconnectDelayMs = DefaultReconnectDelayMs;
    int m_eraseTimeMs = 0;
    int m_requestLogLimit = 0;
    // Set by a restart during a request; the port goes once that request is answered.
    bool m_restartPending = false;
    QString m_errorString;
};
