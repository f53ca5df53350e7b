#include "moduleserver.h"

#include "command.h"
#include "portlistfile.h"
#include "simulatedmodule.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

Q_LOGGING_CATEGORY(lcModuleServer, "dux.sim.server", QtInfoMsg)

namespace {
constexpr unsigned char EraseCommand = 200;
// A host that does not take a reply within this time is not listening any more.
constexpr int WriteTimeoutMs = 1000;
constexpr qint64 NsPerMs = 1000000;
}

ModuleServer::ModuleServer(SimulatedModule* module, QObject* parent)
    : QObject(parent)
    , m_module(module)
{
    connect(m_module, &SimulatedModule::modeChanged, this, &ModuleServer::handleModeChange);
}

ModuleServer::~ModuleServer() = default;

void ModuleServer::setLinkKind(LinkKind kind)
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

void ModuleServer::setRequestLogLimit(int requests)
{
    m_requestLogLimit = requests;
}

bool ModuleServer::start()
{
    return openNextPort();
}

bool ModuleServer::openNextPort()
{
    if (!m_port.open()) {
        m_errorString = m_port.errorString();
        emit failed(m_errorString);
        return false;
    }
    m_portName = m_portNamePrefix + QString::number(m_portNumber++);
    m_notifier = std::make_unique<QSocketNotifier>(m_port.masterDescriptor(), QSocketNotifier::Read);
    connect(m_notifier.get(), SIGNAL(activated(QSocketDescriptor)), this, SLOT(readRequests()));
    announce();
    emit portOpened(m_portName, m_port.devicePath());
    return true;
}

void ModuleServer::closePort()
{
    const QString gone = m_portName;
    m_notifier.reset();
    m_port.close();
    m_decoder.clear();
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
        entries.append({m_portName, m_port.devicePath(), m_linkKind == LinkKind::UsbLike});
    if (!PortListFile::write(m_portListFile, entries))
        emit failed(tr("cannot write the port list %1").arg(m_portListFile));
}

void ModuleServer::readRequests()
{
    QByteArray bytes;
    if (!m_port.readAvailable(&bytes)) {
        m_errorString = m_port.errorString();
        m_notifier.reset();
        emit failed(m_errorString);
        return;
    }
    if (bytes.isEmpty())
        return;
    m_pacer.noteReceived(bytes.size());
    m_decoder.append(bytes);
    DuxlFrame frame;
    DuxlFrameDecoder::Result result;
    while ((result = m_decoder.next(&frame)) != DuxlFrameDecoder::Result::NeedMore) {
        if (result != DuxlFrameDecoder::Result::Frame)
            continue;
        m_pacer.waitForFrame(m_decoder.bufferedBytes());
        serve(frame);
        // A restart of a USB-like module takes the port away, and what was still queued with it.
        if (!m_port.isOpen())
            return;
    }
}

void ModuleServer::serve(const DuxlFrame& request)
{
    if (request.kind() == DuxlFrame::Kind::CommandRequest)
        serveCommand(request);
    else if (request.kind() == DuxlFrame::Kind::VersionRequest)
        serveVersion(request);
    // Replies of other modules on the line are none of this module's business.

    if (m_requestLogLimit > 0 && m_module->requests().size() >= m_requestLogLimit)
        m_module->clearRequests();
    if (m_restartPending) {
        m_restartPending = false;
        closePort();
        QTimer::singleShot(m_reconnectDelayMs, this, &ModuleServer::openNextPort);
    }
}

void ModuleServer::serveCommand(const DuxlFrame& request)
{
    const Command command = request.toCommand();
    Command reply;
    const SimulatedModule::Outcome outcome = m_module->handleRequest(command, &reply);
    if (command.command() == EraseCommand && m_module->mode() == SimulatedModule::Mode::Bootloader
        && m_eraseTimeMs > 0)
        LinkPacer::sleepUntilNs(LinkPacer::nowNs() + m_eraseTimeMs * NsPerMs);
    if (!request.wantsReply() || outcome == SimulatedModule::Outcome::NoReply)
        return;
    sendReply(DuxlFrame::encodeCommandReply(request.sequence(), reply.moduleAddress(), command.replyAddress(),
                                            reply.command(), reply.status(), reply.value()),
              outcome == SimulatedModule::Outcome::InvalidReply);
}

void ModuleServer::serveVersion(const DuxlFrame& request)
{
    QString version;
    const SimulatedModule::Outcome outcome = m_module->queryVersion(request.moduleAddress(), &version);
    if (outcome == SimulatedModule::Outcome::NoReply)
        return;
    sendReply(DuxlFrame::encodeVersionReply(request.sequence(), request.moduleAddress(), request.replyAddress(),
                                            version),
              outcome == SimulatedModule::Outcome::InvalidReply);
}

void ModuleServer::sendReply(QByteArray frame, bool spoil)
{
    // A spoilt reply is a whole frame whose CRC does not match, as line noise would leave it.
    if (spoil)
        frame[frame.size() - 1] = char(frame.at(frame.size() - 1) ^ 0xFF);
    const bool sent
        = m_pacer.send(frame, [this](const QByteArray& bytes) { return m_port.writeAll(bytes, WriteTimeoutMs); });
    // A host that stopped reading loses this reply; it will ask again or give up, as with a real module.
    if (!sent)
        qCWarning(lcModuleServer).noquote() << m_portName << "reply dropped:" << m_port.errorString();
}

void ModuleServer::handleModeChange()
{
    if (m_linkKind == LinkKind::UsbLike && m_port.isOpen())
        m_restartPending = true;
}
