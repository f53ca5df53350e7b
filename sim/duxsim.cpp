// dux-sim: a simulated module on a pseudo-terminal, for demos and tests without hardware.

#include "capturereader.h"
#include "capturereplay.h"
#include "firmwareimage.h"
#include "flashdump.h"
#include "linkkindrules.h"
#include "modulerack.h"
#include "replayserver.h"
#include "moduleserver.h"
#include "signalnotifier.h"
#include "simoptions.h"
#include "simulatedmodule.h"
#include "wirefault.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <csignal>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Requests kept in the module's log before it is emptied.
constexpr int RequestLogLimit = 4096;
// Sleeps of the pacing must end close to their deadline, not up to the default 50 µs later.
constexpr unsigned long TimerSlackNs = 1;
constexpr double NsPerUs = 1000.0;
// The lowest real-time priority: enough to go ahead of ordinary processes.
constexpr int PacingPriority = 1;

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Puts the program of an Intel HEX file into the module's flash, at the addresses the file names; a
// file the tool would not write (rejected or cut short) is refused. The file needs no identifier.
bool loadFlashImage(const QString& path, SimulatedModule* module, QString* error)
{
    const FirmwareImage image = FirmwareImage::load(path);
    if (image.verdict() != FirmwareImage::Verdict::Loaded) {
        *error = image.problem();
        return false;
    }
    // mid() stops at the image end, which a program rounded up to whole words may pass by one byte.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(image.bytes()), IntelHex::ImageSize);
    module->loadFlash(quint32(image.armFlashAddress() + image.start()), bytes.mid(image.start(), image.size()));
    return true;
}

// A line of dux-sim's own, printed by the main thread; the modules' threads queue theirs there.
void say(const QString& line)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [line] { out() << "dux-sim: " << line << Qt::endl; }, Qt::QueuedConnection);
}

// Gives a new module and its server what the command line asked for.
void setUp(const SimOptions& options, SimulatedModule* module, ModuleServer* server, int place)
{
    module->setFirmwareVersion(options.firmwareVersion);
    module->setBootloaderVersion(options.bootloaderVersion);
    module->setAddress(options.address);
    module->setPageSize(options.pageSize);
    module->setFlashBase(options.flashBase);
    module->setFlashSize(options.flashSize);
    QString imageError;
    if (!options.flashImage.isEmpty())
        loadFlashImage(options.flashImage, module, &imageError);
    if (options.pageNumberScheme)
        module->setWriteScheme(SimulatedModule::WriteScheme::PageNumber);
    for (const SimulatedModule::Failure& failure : options.failures)
        module->addFailure(failure);
    if (options.startInBootloader)
        module->setMode(SimulatedModule::Mode::Bootloader);

    server->setLinkKind(options.link);
    server->setPacingRate(options.baud);
    server->setEraseTimeMs(options.eraseMs);
    server->setWindow(options.window);
    server->setRxBufferBytes(options.rxBufferBytes);
    server->setAdapterLatencyMs(options.adapterLatencyMs);
    server->setReconnectDelayMs(options.reconnectMs);
    server->setRequestLogLimit(RequestLogLimit);
    for (const WireFault& fault : options.wireFaults)
        server->addWireFault(fault);
    server->setChaosSeed(options.chaosSeed);
    if (!options.flashOut.isEmpty())
        new FlashDump(module, server, FlashDump::pathFor(options.flashOut, place, options.modules));
}

// dux-sim --replay: the module of a capture instead of a simulated one, until a signal ends it.
int serveReplay(const SimOptions& options, QCoreApplication& app)
{
    CaptureReader reader;
    CaptureReplay replay;
    if (!reader.read(options.replayFile) || !replay.load(reader.records(), options.replayPort)) {
        err() << "dux-sim: " << (reader.errorString().isEmpty() ? replay.errorString() : reader.errorString()) << Qt::endl;
        return SimOptions::ExitUsage;
    }
    ReplayServer server(replay);
    server.setUnpaced(options.unpaced);
    server.setPortListFile(options.portFile);
    QObject::connect(&server, &ReplayServer::departed, [](const QString& message) {
        out() << "dux-sim: " << message << "; the module is silent from here on" << Qt::endl;
    });
    QObject::connect(&server, &ReplayServer::failed, &app, [&app](const QString& message) {
        err() << "dux-sim: " << message << Qt::endl;
        app.exit(SimOptions::ExitFailure);
    });
    if (!server.start()) {
        err() << "dux-sim: " << server.errorString() << Qt::endl;
        return SimOptions::ExitFailure;
    }
    out() << "dux-sim: replaying " << replay.requestCount() << " requests of " << replay.port() << " at "
          << server.devicePath() << (options.unpaced ? " unpaced" : " at their captured delays") << Qt::endl;
    const int result = app.exec();
    out() << "dux-sim: replay answered " << server.replay().position() << " of " << replay.requestCount()
          << " requests" << Qt::endl;
    server.stop();
    return result;
}

}

int main(int argc, char* argv[])
{
    // Before anything starts a thread, which would otherwise take the signals' own action.
    for (int signalNumber : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2})
        SignalNotifier::blockSignal(signalNumber);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dux-sim"));

    const SimOptions::Parsed parsed = SimOptions::parse(app.arguments());
    const SimOptions& options = parsed.options;
    const auto usage = [](const QString& message) {
        err() << "dux-sim: " << message << "\nTry 'dux-sim --help'." << Qt::endl;
        return SimOptions::ExitUsage;
    };
    if (!parsed.error.isEmpty())
        return usage(parsed.error);
    if (options.request != SimOptions::Request::Run) {
        out() << parsed.requestText();
        return 0;
    }

    // Checked once here; each module loads it again when it is plugged in, replugs included.
    QString imageError;
    SimulatedModule probe;
    if (!options.flashImage.isEmpty() && !loadFlashImage(options.flashImage, &probe, &imageError))
        return usage(imageError);

    const QString linkText = LinkKindRules::forKind(options.link).reenumerates ? QStringLiteral("USB-like")
                                                                                : QStringLiteral("serial");
    // Runs on each module's thread; lines are printed on the main thread, in the order they come.
    ModuleRack rack([&](SimulatedModule* module, ModuleServer* server, int place) {
        setUp(options, module, server, place);
        QObject::connect(server, &ModuleServer::portOpened, [module, linkText](const QString& name, const QString& path) {
            const bool firmware = module->mode() == SimulatedModule::Mode::Firmware;
            say(QStringLiteral("serving %1 at %2 (%3 link, module %4, %5 %6)")
                    .arg(name, path, linkText)
                    .arg(module->address())
                    .arg(firmware ? QStringLiteral("firmware") : QStringLiteral("bootloader"),
                         firmware ? module->firmwareVersion() : module->bootloaderVersion()));
        });
        QObject::connect(server, &ModuleServer::portClosed,
                         [](const QString& name) { say(QStringLiteral("%1 is gone: the module restarts").arg(name)); });
        QObject::connect(server, &ModuleServer::chaosFaultArmed,
                         [](const QString& fault) { say(QStringLiteral("chaos: armed %1").arg(fault)); });
        QObject::connect(server, &ModuleServer::wireFaultSetOff, [](const QString& fault, const QString& request) {
            say(QStringLiteral("fault %1 set off by %2").arg(fault, request));
        });
        if (options.reportPhases) {
            QObject::connect(server, &ModuleServer::phaseEntered, [](WireFault::Phase phase) {
                say(QStringLiteral("phase %1").arg(WireFault::phaseName(phase)));
            });
        }
        QObject::connect(server, &ModuleServer::failed, &app, [&app](const QString& message) {
            err() << "dux-sim: " << message << Qt::endl;
            app.exit(SimOptions::ExitFailure);
        });
    });
    rack.setPortNamePrefix(options.portPrefix);
    rack.setPortListFile(options.portFile);
    QObject::connect(&rack, &ModuleRack::unplugged,
                     [](const QString& name) { say(QStringLiteral("%1 is unplugged").arg(name)); });
    QObject::connect(&rack, &ModuleRack::failed, &app, [&app](const QString& message) {
        err() << "dux-sim: " << message << Qt::endl;
        app.exit(SimOptions::ExitFailure);
    });

    prctl(PR_SET_TIMERSLACK, TimerSlackNs);
    if (options.baud > 0) {
        // A paced link stands for a UART, which does not wait for a CPU: where the system allows it,
        // the pacing's wake-ups go ahead of ordinary processes (such as builds on the same machine).
        // Elsewhere they stay ordinary, and the replies come as late as the scheduler makes them.
        sched_param realtime{};
        realtime.sched_priority = PacingPriority;
        sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &realtime);
    }
    // SIGINT and SIGTERM end the event loop, so that the port list is cleaned up on the way out.
    const SignalNotifier interrupt(SIGINT);
    const SignalNotifier terminate(SIGTERM);
    const SignalNotifier powerCycle(SIGUSR1);
    QObject::connect(&interrupt, &SignalNotifier::raised, &app, &QCoreApplication::quit);
    QObject::connect(&terminate, &SignalNotifier::raised, &app, &QCoreApplication::quit);
    QObject::connect(&powerCycle, &SignalNotifier::raised, &rack, &ModuleRack::powerCycle);
    const SignalNotifier chaosFault(SIGUSR2);
    if (options.chaos)
        QObject::connect(&chaosFault, &SignalNotifier::raised, &rack, &ModuleRack::armChaosFaults);
    if (options.exitWithParent) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have gone before the line above took effect.
        if (getppid() == 1)
            return SimOptions::ExitFailure;
    }

    if (!options.replayFile.isEmpty())
        return serveReplay(options, app);
    if (!rack.start(options.modules))
        return SimOptions::ExitFailure;
    if (options.replugEveryMs > 0)
        rack.replugEvery(options.replugEveryMs);
    const int result = app.exec();
    rack.unplugAll();
    const LinkPacer::Account& paced = rack.pacingAccount();
    if (paced.replies > 0 && paced.turnarounds > 0) {
        // Where a paced exchange's time goes beyond its line time (bench_linkupdate reads this line).
        err() << "dux-sim: paced " << paced.replies << " replies, " << paced.latenessNs / paced.replies / NsPerUs
              << " us late on average; " << paced.turnarounds << " turnarounds of the host, "
              << paced.turnaroundNs / paced.turnarounds / NsPerUs << " us on average" << Qt::endl;
    }
    if (!options.portFile.isEmpty())
        QFile::remove(options.portFile);
    return result;
}
