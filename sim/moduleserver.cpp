#include "moduleserver.h"

#include "command.h"
#include "linkkindrules.h"
#include "portlistfile.h"
#include "simulatedmodule.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcModuleServer, "dux.sim.server", QtInfoMsg)

namespace {
constexpr unsigned char EraseCommand = 200;
// A host that does not take a reply within this time is not listening any more.
constexpr int WriteTimeoutMs = 1000;
constexpr qint64 NsPerMs = 1000000;
constexpr int NoiseBufferBytes = 64 * 1024;
// The same random noise on every run, so that a failure it causes can be seen again.
constexpr quint32 NoiseSeed = 17;
}

ModuleServer::ModuleServer(SimulatedModule* module, QObject* parent)
    : QObject(parent)
    , m_module(module)
{
    connect(m_module, &SimulatedModule::modeChanged, this, &ModuleServer::handleModeChange);
    m_latencyTimer.setSingleShot(true);
    m_latencyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_latencyTimer, &QTimer::timeout, this, &ModuleServer::flushHeldReplies);
    m_lateCopyTimer.setSingleShot(true);
    m_lateCopyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_lateCopyTimer, &QTimer::timeout, this, [this] { sendDueLateCopies(lateCopyLeadNs()); });
}

ModuleServer::~ModuleServer() = default;

void ModuleServer::setLinkKind(int kind)
{
    m_linkKind = kind;
}

void ModuleServer::setPacingRate(int bitsPerSecond)
{
    m_pacer.setRate(bitsPerSecond);
}

void ModuleServer::setPortNamePrefix(const QString& prefix)
{
    m_portNamePrefix = prefix;
}

void ModuleServer::setPortNameSource(std::function<QString()> nextName)
{
    m_nextPortName = std::move(nextName);
}

void ModuleServer::setPortListFile(const QString& path)
{
    m_portListFile = path;
}

void ModuleServer::setReconnectDelayMs(int delayMs)
{
    m_reconnectDelayMs = delayMs;
}

void ModuleServer::setEraseTimeMs(int eraseMs)
{
    m_eraseTimeMs = eraseMs;
}

void ModuleServer::setWindow(int window)
{
    m_window = window;
}

void ModuleServer::setRxBufferBytes(int bytes)
{
    m_rxBufferBytes = bytes;
}

void ModuleServer::setAdapterLatencyMs(int latencyMs)
{
    m_adapterLatencyMs = latencyMs;
}

void ModuleServer::setRequestLogLimit(int requests)
{
    m_requestLogLimit = requests;
}

void ModuleServer::addWireFault(const WireFault& fault)
{
    m_faults.append({fault, 0});
}

void ModuleServer::streamNoise(qint64 bytes, const QByteArray& pattern)
{
    if (!m_port.isOpen() || bytes <= 0)
        return;
    m_randomNoise = pattern.isEmpty();
    m_noise = m_randomNoise ? QByteArray(NoiseBufferBytes, '\0')
                            : pattern.repeated(NoiseBufferBytes / pattern.size() + 1);
    m_noiseRandom.seed(NoiseSeed);
    m_noiseOffset = m_noise.size();
    m_noiseLeft = bytes;
    m_noiseNotifier = std::make_unique<QSocketNotifier>(m_port.masterDescriptor(), QSocketNotifier::Write);
    connect(m_noiseNotifier.get(), SIGNAL(activated(QSocketDescriptor)), this, SLOT(sendNoise()));
}

void ModuleServer::sendNoise()
{
    while (m_noiseLeft > 0) {
        if (m_noiseOffset == m_noise.size()) {
            if (m_randomNoise)
                m_noiseRandom.fillRange(reinterpret_cast<quint32*>(m_noise.data()),
                                        m_noise.size() / int(sizeof(quint32)));
            m_noiseOffset = 0;
        }
        const int put = m_port.writeSome(m_noise.constData() + m_noiseOffset,
                                         int(qMin<qint64>(m_noise.size() - m_noiseOffset, m_noiseLeft)));
        if (put == 0)
            return;
        if (put < 0) {
            m_errorString = m_port.errorString();
            emit failed(m_errorString);
            break;
        }
        m_noiseOffset += put;
        m_noiseLeft -= put;
    }
    // Not deleted here: this runs in the notifier's own signal.
    m_noiseNotifier->setEnabled(false);
    m_noiseLeft = 0;
}

void ModuleServer::powerCycle()
{
    m_faults.clear();
    m_stalled = false;
    if (!m_vanishedPortName.isEmpty() && !m_port.isOpen())
        openPort(m_vanishedPortName);
    m_vanishedPortName.clear();
    emit powerCycled();
}

void ModuleServer::setChaosSeed(quint32 seed)
{
    m_chaosRandom.seed(seed);
}

void ModuleServer::armChaosFault()
{
    const WireFault fault = WireFault::drawn(m_chaosRandom);
    m_faults = {{fault, 0}};
    // An update starts: the version requests of the firmware restarted by the one before are no
    // reconnection of this one.
    m_phases = UpdatePhaseTracker();
    emit chaosFaultArmed(fault.toString());
}

bool ModuleServer::start()
{
    return openNextPort();
}

bool ModuleServer::openNextPort()
{
    return openPort(m_nextPortName ? m_nextPortName() : m_portNamePrefix + QString::number(m_portNumber++));
}

bool ModuleServer::openPort(const QString& name)
{
    if (!m_port.open()) {
        m_errorString = m_port.errorString();
        emit failed(m_errorString);
        return false;
    }
    m_portName = name;
    m_notifier = std::make_unique<QSocketNotifier>(m_port.masterDescriptor(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ModuleServer::readRequests);
    m_pacer.watchInput(m_port.masterDescriptor(), [this] { takeInputMeanwhile(); });
    announce();
    emit portOpened(m_portName, m_port.devicePath());
    return true;
}

void ModuleServer::closePort()
{
    const QString gone = m_portName;
    m_pacer.watchInput(-1, {});
    m_notifier.reset();
    m_noiseNotifier.reset();
    m_noiseLeft = 0;
    m_port.close();
    m_decoder.clear();
    m_latencyTimer.stop();
    m_heldReplies.clear();
    m_lateCopyTimer.stop();
    m_lateCopies.clear();
    m_portName.clear();
    announce();
    emit portClosed(gone);
}

void ModuleServer::announce()
{
    if (m_portListFile.isEmpty())
        return;
    QList<PortListFile::Entry> entries;
    if (m_port.isOpen())
        entries.append({m_portName, m_port.devicePath(), m_linkKind});
    if (!PortListFile::write(m_portListFile, entries))
        emit failed(tr("cannot write the port list %1").arg(m_portListFile));
}

void ModuleServer::readRequests()
{
    if (takeInput())
        serveBuffered();
}

bool ModuleServer::takeInput()
{
    const qint64 readNs = LinkPacer::nowNs();
    QByteArray bytes;
    if (!m_port.readAvailable(&bytes)) {
        m_errorString = m_port.errorString();
        m_notifier.reset();
        emit failed(m_errorString);
        return false;
    }
    if (bytes.isEmpty())
        return false;
    // Everything that arrived while the module was busy answering waited in its receive buffer.
    const int room = m_rxBufferBytes - m_decoder.bufferedBytes();
    if (m_rxBufferBytes > 0 && bytes.size() > room) {
        m_lostRequestBytes += bytes.size() - qMax(0, room);
        qCWarning(lcModuleServer).noquote() << m_portName << "receive buffer overrun:" << bytes.size() - qMax(0, room)
                                            << "bytes lost";
        bytes.truncate(qMax(0, room));
    }
    m_pacer.noteReceived(bytes.size(), readNs);
    m_decoder.append(bytes);
    return true;
}

void ModuleServer::takeInputMeanwhile()
{
    if (m_port.isOpen() && takeInput())
        QMetaObject::invokeMethod(this, &ModuleServer::serveBuffered, Qt::QueuedConnection);
}

void ModuleServer::serveBuffered()
{
    DuxlFrame frame;
    DuxlFrameDecoder::Result result;
    while (m_port.isOpen() && (result = m_decoder.next(&frame)) != DuxlFrameDecoder::Result::NeedMore) {
        if (result != DuxlFrameDecoder::Result::Frame)
            continue;
        m_pacer.takeFrame(m_decoder.bufferedBytes());
        // A restart of a USB-like module takes the port away, and what was still queued with it.
        serve(frame);
    }
}

void ModuleServer::serve(const DuxlFrame& request)
{
    // A module on its way into the bootloader hears nothing.
    if (m_restarting)
        return;
    // The window question is the link's, not a request: it counts toward no phase and no fault.
    if (request.kind() == DuxlFrame::Kind::Window) {
        ++m_windowQuestions;
        if (m_window > 0 && !m_stalled)
            transmit(DuxlFrame::encodeWindow(quint8(m_window)));
        return;
    }
    const qint64 receivedNs = LinkPacer::nowNs();
    m_lastRequestNs = receivedNs;
    const WireFault::Phase phase = request.moduleAddress() == m_module->address()
        ? m_phases.classify(request, m_module->mode())
        : WireFault::NoPhase;
    if (phase != m_phase) {
        m_phase = phase;
        if (phase != WireFault::NoPhase)
            emit phaseEntered(phase);
    }
    const std::unique_ptr<WireFault> fault = faultSetOffBy(phase, request);
    if (fault && fault->kind() == WireFault::Kind::Stall)
        m_stalled = true;
    // A hung module takes in bytes and does nothing with them.
    if (m_stalled)
        return;
    if (fault && (fault->kind() == WireFault::Kind::PortVanishes || fault->kind() == WireFault::Kind::PortRenamed)) {
        takePortAway(fault->kind());
        return;
    }

    if (fault && (fault->kind() == WireFault::Kind::LostRequest || fault->kind() == WireFault::Kind::CorruptRequest))
        return;
    if (fault && fault->kind() == WireFault::Kind::SlowRestart) {
        m_restarting = true;
        QTimer::singleShot(WireFault::SlowRestartMs, this, [this, request] {
            m_restarting = false;
            serveCommand(request, nullptr, LinkPacer::nowNs());
            finishRequest();
        });
        return;
    }

    if (request.kind() == DuxlFrame::Kind::CommandRequest) {
        serveCommand(request, fault.get(), receivedNs);
        if (fault && fault->kind() == WireFault::Kind::DuplicatedRequest)
            serveCommand(request, fault.get(), LinkPacer::nowNs());
    } else if (request.kind() == DuxlFrame::Kind::VersionRequest) {
        serveVersion(request, fault.get(), receivedNs);
    }
    // Replies of other modules on the line are none of this module's business.
    finishRequest();
}

void ModuleServer::finishRequest()
{
    if (m_requestLogLimit > 0 && m_module->requests().size() >= m_requestLogLimit)
        m_module->clearRequests();
    if (m_restartPending) {
        m_restartPending = false;
        closePort();
        QTimer::singleShot(m_reconnectDelayMs, this, &ModuleServer::openNextPort);
    }
}

std::unique_ptr<WireFault> ModuleServer::faultSetOffBy(WireFault::Phase phase, const DuxlFrame& request)
{
    if (phase == WireFault::NoPhase)
        return nullptr;
    for (int i = 0; i < m_faults.size(); ++i) {
        ArmedFault& armed = m_faults[i];
        if (armed.fault.phase() != phase)
            continue;
        ++armed.seen;
        if (armed.fault.everyRequest()) {
            if (armed.seen > 1)
                return std::make_unique<WireFault>(armed.fault);
        } else if (armed.seen != armed.fault.nth()) {
            continue;
        }
        auto fault = std::make_unique<WireFault>(armed.fault);
        if (!fault->everyRequest())
            m_faults.removeAt(i);
        const QString what = request.kind() == DuxlFrame::Kind::VersionRequest
            ? QStringLiteral("version request")
            : QStringLiteral("request %1 type %2").arg(request.command()).arg(request.type());
        emit wireFaultSetOff(fault->toString(), what);
        return fault;
    }
    return nullptr;
}

void ModuleServer::takePortAway(WireFault::Kind kind)
{
    if (kind == WireFault::Kind::PortVanishes) {
        m_vanishedPortName = m_portName;
        closePort();
        return;
    }
    closePort();
    QTimer::singleShot(WireFault::RenamedPortAbsenceMs, this, &ModuleServer::openNextPort);
}

void ModuleServer::serveCommand(const DuxlFrame& request, const WireFault* fault, qint64 receivedNs)
{
    const Command command = request.toCommand();
    Command reply;
    SimulatedModule::Outcome outcome = SimulatedModule::Outcome::Reply;
    using Kind = WireFault::Kind;
    const Kind kind = fault ? fault->kind() : Kind::LostReply;
    if (fault && kind == Kind::ErrorStatus) {
        reply.setReply(m_module->address(), command.command(), SimulatedModule::StatusInvalidValue, 0);
    } else {
        outcome = m_module->handleRequest(command, &reply);
        if (command.command() == EraseCommand && m_module->mode() == SimulatedModule::Mode::Bootloader
            && m_eraseTimeMs > 0)
            LinkPacer::sleepUntilNs(LinkPacer::nowNs() + m_eraseTimeMs * NsPerMs);
        // The restart went wrong: the bootloader runs again, and a USB-like port still goes and comes back.
        if (fault && kind == Kind::BootloaderRestart)
            m_module->setMode(SimulatedModule::Mode::Bootloader);
    }
    if (!request.wantsReply() || outcome == SimulatedModule::Outcome::NoReply)
        return;
    quint8 echo = reply.command();
    quint8 status = reply.status();
    qint32 value = reply.value();
    if (fault && kind == Kind::ChecksumMismatch)
        ++value;
    else if (fault && kind == Kind::WrongEcho)
        echo = quint8(echo + WireFault::WrongEchoOffset);
    else if (fault && kind == Kind::UnexpectedStatus)
        status = WireFault::UnexpectedStatusCode;
    else if (fault && kind == Kind::ImplausibleValue)
        value = qint32(WireFault::implausibleParameter(command.type()));
    sendReply(DuxlFrame::encodeCommandReply(request.sequence(), echo, status, value),
              outcome == SimulatedModule::Outcome::InvalidReply, fault, receivedNs);
}

void ModuleServer::serveVersion(const DuxlFrame& request, const WireFault* fault, qint64 receivedNs)
{
    QString version;
    const SimulatedModule::Outcome outcome = m_module->queryVersion(request.moduleAddress(), &version);
    if (outcome == SimulatedModule::Outcome::NoReply)
        return;
    if (fault && fault->kind() == WireFault::Kind::JunkVersion)
        version = QString::fromLatin1(WireFault::junkVersion());
    sendReply(DuxlFrame::encodeVersionReply(request.sequence(), version),
              outcome == SimulatedModule::Outcome::InvalidReply, fault, receivedNs);
}

void ModuleServer::sendReply(QByteArray frame, bool spoil, const WireFault* fault, qint64 receivedNs)
{
    sendDueLateCopies(0);
    using Kind = WireFault::Kind;
    // A spoilt reply is a whole frame whose CRC does not match, as line noise would leave it.
    if (spoil || (fault && fault->kind() == Kind::CorruptFrame))
        frame = DuxlFrame::withSpoiledCrc(frame);
    if (fault) {
        switch (fault->kind()) {
        case Kind::LostReply:
            return;
        case Kind::LateReply:
            LinkPacer::sleepUntilNs(receivedNs
                                    + (WireFault::hostTimeoutMs(fault->phase()) + WireFault::LateMarginMs) * NsPerMs);
            break;
        case Kind::StaleReply:
            if (!m_lastReply.isEmpty())
                transmit(m_lastReply);
            break;
        case Kind::DuplicatedReply:
            transmit(frame);
            break;
        case Kind::EarlyReply:
            // A reply for the next request, ahead even of this one's: it is on the line before the
            // request it answers can be sent, so the host must not take it.
            transmit(DuxlFrame::withSequence(frame, DuxlFrame::nextSequence(DuxlFrame::sequenceOf(frame))));
            break;
        case Kind::WrongBaud:
            transmit(WireFault::asReadAtWrongBaud(frame));
            return;
        default:
            break;
        }
    }
    transmit(frame);
    m_lastReply = frame;
    if (fault)
        sendAfterReply(frame, *fault);
}

void ModuleServer::sendAfterReply(const QByteArray& frame, const WireFault& fault)
{
    using Kind = WireFault::Kind;
    const quint8 sequence = DuxlFrame::sequenceOf(frame);
    switch (fault.kind()) {
    case Kind::LateDuplicate:
        // Not slept: the module goes on serving meanwhile, as one whose transmit queue repeats itself does.
        m_lateCopies.append({LinkPacer::nowNs() + qint64(WireFault::LateDuplicateMs) * NsPerMs, frame});
        scheduleLateCopies();
        break;
    case Kind::Unsolicited:
        for (int i = 1; i <= WireFault::UnsolicitedReplies; ++i)
            transmit(DuxlFrame::withSequence(frame, quint8(sequence + i * WireFault::UnsolicitedSequenceStep)));
        break;
    default:
        break;
    }
}

void ModuleServer::sendDueLateCopies(qint64 withinNs)
{
    while (!m_lateCopies.isEmpty() && m_lateCopies.first().first <= LinkPacer::nowNs() + withinNs) {
        const QPair<qint64, QByteArray> copy = m_lateCopies.takeFirst();
        if (m_port.isOpen())
            transmit(copy.second, copy.first);
    }
    scheduleLateCopies();
}

void ModuleServer::scheduleLateCopies()
{
    if (m_lateCopies.isEmpty())
        return;
    const qint64 waitNs = std::max<qint64>(0, m_lateCopies.first().first - LinkPacer::nowNs() - lateCopyLeadNs());
    m_lateCopyTimer.start(int((waitNs + NsPerMs - 1) / NsPerMs));
}

qint64 ModuleServer::lateCopyLeadNs() const
{
    // The timer counts whole milliseconds. On a paced line it fires up to one before a copy is due, and
    // the copy waits for its time on the line; unpaced, the copy would leave early.
    return m_pacer.rate() > 0 ? NsPerMs : 0;
}

void ModuleServer::transmit(const QByteArray& bytes, qint64 atNs)
{
    const LinkPacer::Writer write = [this](const QByteArray& chunk) { return writeToPort(chunk); };
    const bool sent = atNs == AnswersFrame ? m_pacer.send(bytes, write) : m_pacer.sendAt(atNs, bytes, write);
    // A host that stopped reading loses this reply; it will ask again or give up, as with a real module.
    if (!sent)
        qCWarning(lcModuleServer).noquote() << m_portName << "reply dropped:" << m_port.errorString();
}

bool ModuleServer::writeToPort(const QByteArray& chunk)
{
    // Requests sent while a reply goes out arrive meanwhile on a full-duplex line: taken now, their
    // time on the line starts when they came, not when this reply is done. Served once it is.
    if (m_pacer.rate() > 0)
        takeInputMeanwhile();
    if (m_adapterLatencyMs <= 0)
        return m_port.writeAll(chunk, WriteTimeoutMs);
    m_heldReplies += chunk;
    if (m_heldReplies.size() >= AdapterPacketBytes)
        flushHeldReplies();
    else if (!m_latencyTimer.isActive())
        m_latencyTimer.start(m_adapterLatencyMs);
    return true;
}

void ModuleServer::flushHeldReplies()
{
    m_latencyTimer.stop();
    if (!m_heldReplies.isEmpty() && m_port.isOpen() && !m_port.writeAll(m_heldReplies, WriteTimeoutMs))
        qCWarning(lcModuleServer).noquote() << m_portName << "held replies dropped:" << m_port.errorString();
    m_heldReplies.clear();
}

void ModuleServer::handleModeChange()
{
    if (LinkKindRules::forKind(m_linkKind).reenumerates && m_port.isOpen())
        m_restartPending = true;
}
