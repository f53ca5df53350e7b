#pragma once

#include "duxlconnectioninterface.h"
#include "duxlframedecoder.h"
#include "linkpacer.h"
#include "ptyport.h"
#include "updatephasetracker.h"
#include "wirefault.h"

#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>

class QSocketNotifier;
class SimulatedModule;

// Serves a SimulatedModule on a pseudo-terminal as a module on a serial link would: it reads request
// frames, lets the module answer and writes the reply frames, paced at the link's data rate when one is
// set. On a USB-like link the port disappears whenever the module restarts (into its bootloader or
// back into its firmware) and comes back under the next port name, as a USB device re-enumerates.
// Wire faults make the link misbehave at chosen requests of an update.
class ModuleServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultReconnectDelayMs = 300;
    // Requests a module takes in flight unless told otherwise, and the most it may answer.
    static constexpr int DefaultWindow = 4;
    static constexpr int MaxWindow = 16;
    // A USB adapter passes on what it holds as soon as one packet of it is full.
    static constexpr int AdapterPacketBytes = 62;

    // Serves `module`, which it does not own.
    explicit ModuleServer(SimulatedModule* module, QObject* parent = nullptr);
    ~ModuleServer() override;

    // DUXLConnectionInterface::LinkKind; its LinkKindRules tell whether the port goes at each restart.
    void setLinkKind(int kind);
    int linkKind() const { return m_linkKind; }
    // Data rate whose pace the bytes keep; 0 (default): they pass at once.
    void setPacingRate(int bitsPerSecond);
    // Port names are this prefix and a number counting from 0 (default "ttySIM").
    void setPortNamePrefix(const QString& prefix);
    // Where the names of new ports come from instead, when several servers share one numbering; it
    // is called on the server's thread.
    void setPortNameSource(std::function<QString()> nextName);
    // Where the present port is announced for the host (see PortListFile); empty: nowhere.
    void setPortListFile(const QString& path);
    // How long a USB-like link stays away when the module restarts.
    void setReconnectDelayMs(int delayMs);
    // How long the bootloader takes to erase its flash before it answers.
    void setEraseTimeMs(int eraseMs);
    // The window the module answers the window question with; 0: it leaves the question unanswered.
    void setWindow(int window);
    // The module's receive buffer: request bytes that arrive while it is full are lost. 0: unbounded.
    void setRxBufferBytes(int bytes);
    // Replies reach the host this long after the first of a burst left (or once a packet is full), as
    // through a USB adapter's latency timer. 0: at once.
    void setAdapterLatencyMs(int latencyMs);
    // Window questions heard since the server started, answered or not.
    int windowQuestions() const { return m_windowQuestions; }
    // Request bytes the receive buffer had no room for, since the server started.
    qint64 lostRequestBytes() const { return m_lostRequestBytes; }
    // The module's request log is emptied every this many requests, so that a long-running server does
    // not grow with every update; 0 (default) keeps it all.
    void setRequestLogLimit(int requests);
    // Arms a fault; each one goes off once, at its request, or at every request of its phase.
    void addWireFault(const WireFault& fault);
    // Streams `bytes` that nobody asked for, as a module whose firmware went astray would: `pattern` over
    // and over, or random bytes when it is empty. They leave as fast as the host takes them, between
    // replies, until all have gone or the port goes.
    void streamNoise(qint64 bytes, const QByteArray& pattern);
    bool isSendingNoise() const { return m_noiseLeft > 0; }
    // Switches the module off and on: a stall ends, and a port that vanished comes back under its name.
    // Faults armed and not yet set off are dropped: the next update starts clean.
    void powerCycle();
    // Seeds the draws of armChaosFault(), so that a soak can be run again the same way.
    void setChaosSeed(quint32 seed);
    // Arms one fault drawn at random (WireFault::drawn()) in place of those not yet set off.
    void armChaosFault();

    // Opens the first port.
    bool start();
    QString portName() const { return m_portName; }
    QString devicePath() const { return m_port.devicePath(); }
    QString errorString() const { return m_errorString; }
    const LinkPacer::Account& pacingAccount() const { return m_pacer.account(); }
    // When the last request arrived (LinkPacer::nowNs()), 0 before the first; may be read from any thread.
    qint64 lastRequestNs() const { return m_lastRequestNs; }

signals:
    void portOpened(const QString& portName, const QString& devicePath);
    void portClosed(const QString& portName);
    // Opening, reading or announcing the port failed.
    void failed(const QString& message);
    // The first request of another update phase has arrived.
    void phaseEntered(WireFault::Phase phase);
    void chaosFaultArmed(const QString& fault);
    // The module was switched off and on.
    void powerCycled();
    // An armed fault went off at the request described.
    void wireFaultSetOff(const QString& fault, const QString& request);

private slots:
    void readRequests();
    void sendNoise();

private:
    struct ArmedFault
    {
        WireFault fault;
        int seen = 0;
    };

    // Reads what arrived into the decoder, as far as the receive buffer has room; false when nothing came.
    bool takeInput();
    // Serves the requests the decoder holds.
    void serveBuffered();
    // Takes what arrived while a reply goes out, and serves it once that reply is done.
    void takeInputMeanwhile();
    bool openNextPort();
    bool openPort(const QString& name);
    void closePort();
    void announce();
    void serve(const DuxlFrame& request);
    // What follows every request carried out: the request log kept short, and the port of a USB-like
    // module that restarted taken away.
    void finishRequest();
    // The armed fault that `request` sets off, if any; it is disarmed.
    std::unique_ptr<WireFault> faultSetOffBy(WireFault::Phase phase, const DuxlFrame& request);
    void takePortAway(WireFault::Kind kind);
    void serveCommand(const DuxlFrame& request, const WireFault* fault, qint64 receivedNs);
    void serveVersion(const DuxlFrame& request, const WireFault* fault, qint64 receivedNs);
    void sendReply(QByteArray frame, bool spoil, const WireFault* fault, qint64 receivedNs);
    // What a fault sends after the reply itself: a late copy, a reply ahead of its request, or replies
    // nobody asked for.
    void sendAfterReply(const QByteArray& frame, const WireFault& fault);
    static constexpr qint64 AnswersFrame = -1;
    // Sends `bytes` as the answer to the frame last taken, or, answering none, from `atNs` on.
    void transmit(const QByteArray& bytes, qint64 atNs = AnswersFrame);
    // Late copies go out when due, between two frames, as a module's transmit queue would send them,
    // not after everything the module is busy sending when their time comes: those due now or within
    // `withinNs`, each at its time.
    void sendDueLateCopies(qint64 withinNs);
    void scheduleLateCopies();
    // How long before a late copy is due its timer fires.
    qint64 lateCopyLeadNs() const;
    // Writes a chunk to the port, or holds it as a USB adapter would.
    bool writeToPort(const QByteArray& chunk);
    void flushHeldReplies();
    void handleModeChange();

    SimulatedModule* m_module;
    PtyPort m_port;
    std::unique_ptr<QSocketNotifier> m_notifier;
    DuxlFrameDecoder m_decoder;
    LinkPacer m_pacer;
    int m_linkKind = DUXLConnectionInterface::Serial;
    QString m_portNamePrefix = QStringLiteral("ttySIM");
    int m_portNumber = 0;
    std::function<QString()> m_nextPortName;
    std::atomic<qint64> m_lastRequestNs{0};
    QString m_portName;
    QString m_portListFile;
    int m_reconnectDelayMs = DefaultReconnectDelayMs;
    int m_eraseTimeMs = 0;
    int m_window = DefaultWindow;
    int m_rxBufferBytes = 0;
    qint64 m_lostRequestBytes = 0;
    int m_windowQuestions = 0;
    int m_adapterLatencyMs = 0;
    QByteArray m_heldReplies;
    QTimer m_latencyTimer;
    // Copies of replies waiting for their time (late-duplicate), oldest first: due time in ns, frame.
    QList<QPair<qint64, QByteArray>> m_lateCopies;
    QTimer m_lateCopyTimer;
    int m_requestLogLimit = 0;
    // Set by a restart during a request; the port goes once that request is answered.
    bool m_restartPending = false;
    QString m_errorString;
    QList<ArmedFault> m_faults;
    UpdatePhaseTracker m_phases;
    WireFault::Phase m_phase = WireFault::NoPhase;
    bool m_stalled = false;
    // A slow restart into the bootloader is under way; requests go unheard.
    bool m_restarting = false;
    // The name a vanished port comes back under at the next power cycle; empty when none vanished.
    QString m_vanishedPortName;
    // The last reply that left, for a stale copy.
    QByteArray m_lastReply;
    // Noise goes out of this buffer, refilled with fresh random bytes each time round unless a pattern
    // repeats in it; a notifier resumes it whenever the host has made room.
    std::unique_ptr<QSocketNotifier> m_noiseNotifier;
    QByteArray m_noise;
    bool m_randomNoise = false;
    int m_noiseOffset = 0;
    qint64 m_noiseLeft = 0;
    QRandomGenerator m_noiseRandom;
    QRandomGenerator m_chaosRandom;
};
