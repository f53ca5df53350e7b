#include "portsearch.h"

#include "duxlconnectioninterface.h"
#include "duxlframe.h"
#include "serialcommandhandler.h"

#include <QElapsedTimer>
#include <QThread>

#include <memory>
#include <vector>

namespace {
// On top of twice the first answer's time: a module's turnaround varies with what it is doing, and a
// loaded host schedules the reading thread late.
constexpr int FollowUpMarginMs = 20;
constexpr int FirstAnswerFactor = 2;
constexpr qint64 NsPerMs = 1000000;
constexpr int LongestVersionExchangeBytes =
    DuxlFrame::HeaderBytes + DuxlFrame::VersionRequestBodyBytes + DuxlFrame::CrcBytes + DuxlFrame::MaxFrameBytes;
}

int PortSearch::followUpTimeoutMs(qint64 firstAnswerMs, int dataRate, int probeTimeoutMs)
{
    const qint64 lineMs = (SerialCommandHandler::lineNsAt(LongestVersionExchangeBytes, dataRate) + NsPerMs - 1) / NsPerMs;
    const qint64 bound = FirstAnswerFactor * firstAnswerMs + lineMs + FollowUpMarginMs;
    return int(qMin<qint64>(bound, probeTimeoutMs));
}

void PortSearch::searchAll(QVector<Port>& ports, const Settings& settings)
{
    std::vector<std::unique_ptr<QThread>> threads;
    threads.reserve(size_t(ports.size()));
    for (Port& port : ports) {
        threads.emplace_back(QThread::create([&port, &settings] { searchOne(port, settings); }));
        threads.back()->start();
    }
    for (const std::unique_ptr<QThread>& thread : threads)
        thread->wait();
}

void PortSearch::searchOne(Port& port, const Settings& settings)
{
    // Named by its port whatever the link's kind: this one is gone before the port is registered, and
    // handlers named by their kind count only the links'.
    SerialCommandHandler handler(port.info, DUXLConnectionInterface::Serial);
    handler.setDataRate(settings.dataRate);
    handler.setWireCapture(settings.capture);
    if (!handler.openDevice()) {
        port.openError = handler.errorString();
        return;
    }
    handler.setMaxTimeoutMS(settings.probeTimeoutMs);
    for (unsigned char address : settings.addresses) {
        QElapsedTimer clock;
        clock.start();
        const QString version = handler.getFirmwareVersion(address);
        if (version.isEmpty())
            continue;
        if (port.answers.isEmpty())
            handler.setMaxTimeoutMS(followUpTimeoutMs(clock.elapsed(), settings.dataRate, settings.probeTimeoutMs));
        port.answers.append({address, version});
        if (port.oneModule)
            break;
    }
    handler.closeDevice();
}
