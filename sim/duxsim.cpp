// dux-sim: a simulated module on a pseudo-terminal, for demos and tests without hardware.

#include "intelhexparser.h"
#include "moduleserver.h"
#include "simulatedmodule.h"
#include "wirefault.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QMetaEnum>
#include <QSocketNotifier>
#include <QTextStream>

#include <algorithm>
#include <csignal>
#include <functional>
#include <iterator>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
// Requests kept in the module's log before it is emptied.
constexpr int RequestLogLimit = 4096;
// Bootloaders of these module types write flash words by page number instead of through a page buffer.
constexpr const char* PageNumberTypes[] = {"7342", "7351", "473"};
// Sleeps of the pacing must end close to their deadline, not up to the default 50 µs later.
constexpr unsigned long TimerSlackNs = 1;
constexpr double NsPerUs = 1000.0;
// The lowest real-time priority: enough to go ahead of ordinary processes.
constexpr int PacingPriority = 1;

struct FailureName
{
    const char* name;
    SimulatedModule::FailureMode mode;
};
constexpr FailureName FailureNames[] = {
    {"no-reply", SimulatedModule::FailureMode::NoReply},
    {"invalid-reply", SimulatedModule::FailureMode::InvalidReply},
    {"status2-on-208", SimulatedModule::FailureMode::Status2On208},
    {"wrong-checksum", SimulatedModule::FailureMode::WrongChecksum},
    {"wrong-echo-on-203", SimulatedModule::FailureMode::WrongEchoOn203},
};

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

// "MODE[:COMMAND[:FIRST[:COUNT]]]", COMMAND a number, "version" or "any".
bool parseFailure(const QString& text, SimulatedModule::Failure* failure)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool known = false;
    for (const FailureName& entry : FailureNames) {
        if (parts.at(0) == QLatin1String(entry.name)) {
            failure->mode = entry.mode;
            known = true;
        }
    }
    if (!known || parts.size() > 4)
        return false;
    bool ok = true;
    if (parts.size() > 1) {
        if (parts.at(1) == QLatin1String("version"))
            failure->command = SimulatedModule::VersionQuery;
        else if (parts.at(1) != QLatin1String("any"))
            failure->command = parts.at(1).toInt(&ok);
    }
    if (ok && parts.size() > 2)
        failure->first = parts.at(2).toInt(&ok);
    if (ok && parts.size() > 3)
        failure->count = parts.at(3).toInt(&ok);
    return ok && failure->first >= 1;
}

// Numbers may be given in decimal or with 0x in hexadecimal.
bool parseNumber(const QString& text, quint32* value)
{
    bool ok = false;
    *value = text.toUInt(&ok, 0);
    return ok;
}

// Puts the program of an Intel HEX file into the module's flash, at the addresses the file names.
bool loadFlashImage(const QString& path, SimulatedModule* module, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray image(IntelHex::ImageSize, '\0');
    const IntelHex::ReadResult result =
        IntelHex::read([&file](char* buffer, std::int64_t capacity) { return file.read(buffer, capacity); },
                       reinterpret_cast<unsigned char*>(image.data()));
    if (!result.isComplete()) {
        *error = QStringLiteral("%1: %2").arg(path, QLatin1String(IntelHex::statusText(result.status)));
        return false;
    }
    module->loadFlash(quint32(result.ARMFlashAddress + result.progStart),
                      image.mid(result.progStart, result.programSize));
    return true;
}

// Runs `handler` on the event loop each time `signal` arrives, instead of the signal's own action.
void handleSignal(int signal, QCoreApplication* app, const std::function<void()>& handler)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    const int descriptor = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    auto* notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [descriptor, handler] {
        // Taken off the descriptor, or the notifier would fire again at once.
        signalfd_siginfo info;
        while (::read(descriptor, &info, sizeof info) == sizeof info)
            handler();
    });
}

}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dux-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Serves a simulated DUXL module on a pseudo-terminal and prints the port it serves.\n"
            "Failure switches (--fail, repeatable): MODE[:COMMAND[:FIRST[:COUNT]]] with MODE one of no-reply, "
            "invalid-reply, status2-on-208, wrong-checksum, wrong-echo-on-203; COMMAND a number, \"version\" or "
            "\"any\"; FIRST the first matching request hit (from 1); COUNT how many (default: all).\n"
            "Wire faults (--fault, repeatable): KIND@PHASE[:NTH], set off once by the NTH request (default 1) of "
            "that update phase; KIND one of %1; PHASE one of %2. SIGUSR1 power-cycles the module: a stall ends "
            "and a vanished port comes back.")
            .arg(WireFault::kindNames().join(QStringLiteral(", ")), WireFault::phaseNames().join(QStringLiteral(", "))));
    parser.addHelpOption();
    const QCommandLineOption typeOption(QStringLiteral("type"), QStringLiteral("Module type code."),
                                        QStringLiteral("code"), QStringLiteral("1234"));
    const QCommandLineOption firmwareOption(QStringLiteral("firmware"),
                                            QStringLiteral("Firmware version (default <type>V101)."),
                                            QStringLiteral("version"));
    const QCommandLineOption bootloaderOption(QStringLiteral("bootloader"),
                                              QStringLiteral("Bootloader version (default <type>B101)."),
                                              QStringLiteral("version"));
    const QCommandLineOption addressOption(QStringLiteral("address"), QStringLiteral("Module address."),
                                           QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption pageSizeOption(QStringLiteral("page-size"), QStringLiteral("Flash page size in bytes."),
                                            QStringLiteral("bytes"), QStringLiteral("1024"));
    const QCommandLineOption flashBaseOption(QStringLiteral("flash-base"), QStringLiteral("Flash base address."),
                                             QStringLiteral("address"), QStringLiteral("0"));
    const QCommandLineOption flashSizeOption(QStringLiteral("flash-size"), QStringLiteral("Flash size in bytes."),
                                             QStringLiteral("bytes"), QStringLiteral("0x40000"));
    const QCommandLineOption schemeOption(
        QStringLiteral("scheme"),
        QStringLiteral("Write scheme: page-buffer, page-number, or auto (page-number for the types that use it: "
                       "7342, 7351, 473x)."),
        QStringLiteral("scheme"), QStringLiteral("auto"));
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Link kind: serial, or usb (the port disappears on every restart and comes back "
                       "under a new name)."),
        QStringLiteral("kind"), QStringLiteral("serial"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Pace the bytes at this data rate; 0: unpaced."),
                                        QStringLiteral("rate"), QStringLiteral("0"));
    const QCommandLineOption eraseOption(QStringLiteral("erase-ms"), QStringLiteral("Time the erase takes."),
                                         QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption reconnectOption(QStringLiteral("reconnect-ms"),
                                             QStringLiteral("Time a USB-like link stays away on a restart."),
                                             QStringLiteral("ms"),
                                             QString::number(ModuleServer::DefaultReconnectDelayMs));
    const QCommandLineOption prefixOption(QStringLiteral("port-prefix"),
                                          QStringLiteral("Port names: this prefix and a number."),
                                          QStringLiteral("prefix"), QStringLiteral("ttySIM"));
    const QCommandLineOption portFileOption(QStringLiteral("port-file"),
                                            QStringLiteral("Keep the served port listed in this file for dux-host."),
                                            QStringLiteral("file"));
    const QCommandLineOption bootloaderModeOption(QStringLiteral("start-in-bootloader"),
                                                  QStringLiteral("Start in the bootloader."));
    const QCommandLineOption failOption(QStringLiteral("fail"), QStringLiteral("A failure switch (see above)."),
                                        QStringLiteral("switch"));
    const QCommandLineOption parentOption(QStringLiteral("exit-with-parent"),
                                          QStringLiteral("End when the process that started this one ends."));
    const QCommandLineOption faultOption(QStringLiteral("fault"), QStringLiteral("A wire fault (see above)."),
                                         QStringLiteral("fault"));
    const QCommandLineOption imageOption(QStringLiteral("flash-image"),
                                         QStringLiteral("Intel HEX file the flash holds at the start (default: erased)."),
                                         QStringLiteral("file"));
    const QCommandLineOption phasesOption(QStringLiteral("report-phases"),
                                          QStringLiteral("Print a line when an update phase begins."));
    parser.addOptions({typeOption, firmwareOption, bootloaderOption, addressOption, pageSizeOption, flashBaseOption,
                       flashSizeOption, schemeOption, linkOption, baudOption, eraseOption, reconnectOption,
                       prefixOption, portFileOption, bootloaderModeOption, failOption, parentOption, faultOption,
                       imageOption, phasesOption});
    parser.process(app);

    const auto usage = [](const QString& message) {
        err() << "dux-sim: " << message << Qt::endl;
        return ExitUsage;
    };

    SimulatedModule module;
    const QString type = parser.value(typeOption);
    module.setFirmwareVersion(parser.isSet(firmwareOption) ? parser.value(firmwareOption) : type + QStringLiteral("V101"));
    module.setBootloaderVersion(parser.isSet(bootloaderOption) ? parser.value(bootloaderOption)
                                                               : type + QStringLiteral("B101"));
    quint32 address = 0;
    quint32 pageSize = 0;
    quint32 flashBase = 0;
    quint32 flashSize = 0;
    quint32 baud = 0;
    quint32 eraseMs = 0;
    quint32 reconnectMs = 0;
    if (!parseNumber(parser.value(addressOption), &address) || address > 255)
        return usage(QStringLiteral("--address takes 0 to 255"));
    if (!parseNumber(parser.value(pageSizeOption), &pageSize) || pageSize == 0)
        return usage(QStringLiteral("--page-size takes a positive number"));
    if (!parseNumber(parser.value(flashBaseOption), &flashBase) || !parseNumber(parser.value(flashSizeOption), &flashSize))
        return usage(QStringLiteral("--flash-base and --flash-size take numbers"));
    if (!parseNumber(parser.value(baudOption), &baud) || !parseNumber(parser.value(eraseOption), &eraseMs)
        || !parseNumber(parser.value(reconnectOption), &reconnectMs))
        return usage(QStringLiteral("--baud, --erase-ms and --reconnect-ms take numbers"));
    module.setAddress(quint8(address));
    module.setPageSize(int(pageSize));
    module.setFlashBase(flashBase);
    module.setFlashSize(flashSize);
    QString imageError;
    if (parser.isSet(imageOption) && !loadFlashImage(parser.value(imageOption), &module, &imageError))
        return usage(imageError);

    const QString scheme = parser.value(schemeOption);
    const bool pageNumberType = std::any_of(std::begin(PageNumberTypes), std::end(PageNumberTypes),
                                            [&type](const char* prefix) { return type.startsWith(QLatin1String(prefix)); });
    if (scheme == QLatin1String("page-number") || (scheme == QLatin1String("auto") && pageNumberType))
        module.setWriteScheme(SimulatedModule::WriteScheme::PageNumber);
    else if (scheme != QLatin1String("page-buffer") && scheme != QLatin1String("auto"))
        return usage(QStringLiteral("--scheme takes page-buffer, page-number or auto"));

    for (const QString& text : parser.values(failOption)) {
        SimulatedModule::Failure failure;
        if (!parseFailure(text, &failure))
            return usage(QStringLiteral("cannot read the failure switch \"%1\"").arg(text));
        module.addFailure(failure);
    }
    if (parser.isSet(bootloaderModeOption))
        module.setMode(SimulatedModule::Mode::Bootloader);

    ModuleServer server(&module);
    const QString link = parser.value(linkOption);
    if (link == QLatin1String("usb"))
        server.setLinkKind(ModuleServer::LinkKind::UsbLike);
    else if (link != QLatin1String("serial"))
        return usage(QStringLiteral("--link takes serial or usb"));
    server.setPacingRate(int(baud));
    server.setEraseTimeMs(int(eraseMs));
    server.setReconnectDelayMs(int(reconnectMs));
    server.setPortNamePrefix(parser.value(prefixOption));
    server.setPortListFile(parser.value(portFileOption));
    server.setRequestLogLimit(RequestLogLimit);
    for (const QString& text : parser.values(faultOption)) {
        WireFault fault;
        QString error;
        if (!WireFault::parse(text, &fault, &error))
            return usage(error);
        server.addWireFault(fault);
    }

    const QString linkText = server.linkKind() == ModuleServer::LinkKind::UsbLike ? QStringLiteral("USB-like")
                                                                                   : QStringLiteral("serial");
    QObject::connect(&server, &ModuleServer::portOpened, [&](const QString& name, const QString& path) {
        out() << "dux-sim: serving " << name << " at " << path << " (" << linkText << " link, module "
              << module.address() << ", " << (module.mode() == SimulatedModule::Mode::Firmware ? "firmware " : "bootloader ")
              << (module.mode() == SimulatedModule::Mode::Firmware ? module.firmwareVersion() : module.bootloaderVersion())
              << ")" << Qt::endl;
    });
    QObject::connect(&server, &ModuleServer::portClosed, [](const QString& name) {
        out() << "dux-sim: " << name << " is gone: the module restarts" << Qt::endl;
    });
    QObject::connect(&server, &ModuleServer::wireFaultSetOff, [](const QString& fault, const QString& request) {
        out() << "dux-sim: fault " << fault << " set off by " << request << Qt::endl;
    });
    if (parser.isSet(phasesOption)) {
        QObject::connect(&server, &ModuleServer::phaseEntered, [](WireFault::Phase phase) {
            out() << "dux-sim: phase " << WireFault::phaseName(phase) << Qt::endl;
        });
    }
    QObject::connect(&server, &ModuleServer::failed, &app, [&app](const QString& message) {
        err() << "dux-sim: " << message << Qt::endl;
        app.exit(ExitFailure);
    });

    prctl(PR_SET_TIMERSLACK, TimerSlackNs);
    if (baud > 0) {
        // A paced link stands for a UART, which does not wait for a CPU: where the system allows it,
        // the pacing's wake-ups go ahead of ordinary processes (such as builds on the same machine).
        // Elsewhere they stay ordinary, and the replies come as late as the scheduler makes them.
        sched_param realtime{};
        realtime.sched_priority = PacingPriority;
        sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &realtime);
    }
    // SIGINT and SIGTERM end the event loop, so that the port list is cleaned up on the way out.
    handleSignal(SIGINT, &app, [&app] { app.quit(); });
    handleSignal(SIGTERM, &app, [&app] { app.quit(); });
    handleSignal(SIGUSR1, &app, [&server] { server.powerCycle(); });
    if (parser.isSet(parentOption)) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have gone before the line above took effect.
        if (getppid() == 1)
            return ExitFailure;
    }

    if (!server.start())
        return ExitFailure;
    const int result = app.exec();
    const LinkPacer::Account& paced = server.pacingAccount();
    if (paced.replies > 0 && paced.turnarounds > 0) {
        // Where a paced exchange's time goes beyond its line time (bench_linkupdate reads this line).
        err() << "dux-sim: paced " << paced.replies << " replies, " << paced.latenessNs / paced.replies / NsPerUs
              << " us late on average; " << paced.turnarounds << " turnarounds of the host, "
              << paced.turnaroundNs / paced.turnarounds / NsPerUs << " us on average" << Qt::endl;
    }
    if (parser.isSet(portFileOption))
        QFile::remove(parser.value(portFileOption));
    return result;
}
