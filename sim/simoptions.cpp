#include "simoptions.h"

#include "commandlinehelp.h"
#include "linkkindrules.h"
#include "modulerack.h"
#include "protocolfacts.h"

#include <QCommandLineParser>

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

constexpr const char* ProgramName = "dux-sim";
// The same shape as dux-host's table; a signal is how dux-sim is meant to end, so it is no interruption.
constexpr const char* Epilogue =
    "\nExit status:\n"
    "  0  ended by SIGINT or SIGTERM, or nothing to do (--help, --version)\n"
    "  1  a port could not be served, or failed while served; --exit-with-parent: the parent had already\n"
    "     ended\n"
    "  2  nothing was served because of the input (usage, a --flash-image or --replay file it does not\n"
    "     take)\n";
constexpr int MaxAddress = 255;
constexpr quint32 MaxModules = 64;
constexpr double MsPerSecond = 1000;
using Protocol::PageNumberTypes;

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

// The command line's options, in the order --help lists them.
struct OptionTable
{
    QCommandLineOption help = CommandLineHelp::helpOption();
    QCommandLineOption version = CommandLineHelp::versionOption();
    QCommandLineOption type{QStringLiteral("type"), QStringLiteral("Module type code."), QStringLiteral("code"),
                            QStringLiteral("1234")};
    QCommandLineOption firmware{QStringLiteral("firmware"), QStringLiteral("Firmware version (default <type>V101)."),
                                QStringLiteral("version")};
    QCommandLineOption bootloader{QStringLiteral("bootloader"),
                                  QStringLiteral("Bootloader version (default <type>B101)."), QStringLiteral("version")};
    QCommandLineOption address{QStringLiteral("address"), QStringLiteral("Module address."), QStringLiteral("n"),
                               QStringLiteral("1")};
    QCommandLineOption pageSize{QStringLiteral("page-size"), QStringLiteral("Flash page size in bytes."),
                                QStringLiteral("bytes"), QStringLiteral("1024")};
    QCommandLineOption flashBase{QStringLiteral("flash-base"), QStringLiteral("Flash base address."),
                                 QStringLiteral("address"), QStringLiteral("0")};
    QCommandLineOption flashSize{QStringLiteral("flash-size"), QStringLiteral("Flash size in bytes."),
                                 QStringLiteral("bytes"), QStringLiteral("0x%1").arg(Protocol::ImageBytes, 0, 16)};
    QCommandLineOption scheme{QStringLiteral("scheme"),
                              QStringLiteral("Write scheme: page-buffer, page-number, or auto (page-number for the "
                                             "types that use it: 7342, 7351, 473x)."),
                              QStringLiteral("scheme"), QStringLiteral("auto")};
    QCommandLineOption link{QStringLiteral("link"),
                            QStringLiteral("Link kind: serial, or usb (the port disappears on every restart and comes "
                                           "back under a new name)."),
                            QStringLiteral("kind"), QStringLiteral("serial")};
    QCommandLineOption baud{QStringLiteral("baud"), QStringLiteral("Pace the bytes at this data rate; 0: unpaced."),
                            QStringLiteral("rate"), QStringLiteral("0")};
    QCommandLineOption erase{QStringLiteral("erase-ms"), QStringLiteral("Time the erase takes."), QStringLiteral("ms"),
                             QStringLiteral("0")};
    QCommandLineOption window{QStringLiteral("window"),
                              QStringLiteral("Answer the window question with this many requests in flight (1 to "
                                             "16); 0: leave it unanswered."),
                              QStringLiteral("n"), QString::number(ModuleServer::DefaultWindow)};
    QCommandLineOption rxBuffer{QStringLiteral("rx-buffer"),
                                QStringLiteral("The module's receive buffer; request bytes beyond it are lost. 0: "
                                               "unbounded."),
                                QStringLiteral("bytes"), QStringLiteral("0")};
    QCommandLineOption adapterLatency{QStringLiteral("adapter-latency-ms"),
                                      QStringLiteral("Hold each burst of replies this long before the host gets it, "
                                                     "as a USB adapter's latency timer does."),
                                      QStringLiteral("ms"), QStringLiteral("0")};
    QCommandLineOption reconnect{QStringLiteral("reconnect-ms"),
                                 QStringLiteral("Time a USB-like link stays away on a restart."), QStringLiteral("ms"),
                                 QString::number(ModuleServer::DefaultReconnectDelayMs)};
    QCommandLineOption prefix{QStringLiteral("port-prefix"), QStringLiteral("Port names: this prefix and a number."),
                              QStringLiteral("prefix"), QStringLiteral("ttySIM")};
    QCommandLineOption portFile{QStringLiteral("port-file"),
                                QStringLiteral("Keep the served port listed in this file for dux-host."),
                                QStringLiteral("file")};
    QCommandLineOption startInBootloader{QStringLiteral("start-in-bootloader"), QStringLiteral("Start in the bootloader.")};
    QCommandLineOption fail{QStringLiteral("fail"), QStringLiteral("A failure switch (see above); repeatable."),
                            QStringLiteral("switch")};
    QCommandLineOption exitWithParent{QStringLiteral("exit-with-parent"),
                                      QStringLiteral("End when the process that started this one ends.")};
    QCommandLineOption fault{QStringLiteral("fault"), QStringLiteral("A wire fault (see above); repeatable."),
                             QStringLiteral("fault")};
    QCommandLineOption flashImage{QStringLiteral("flash-image"),
                                  QStringLiteral("Intel HEX file the flash holds at the start (default: erased)."),
                                  QStringLiteral("file")};
    QCommandLineOption flashOut{
        QStringLiteral("flash-out"),
        QStringLiteral("Write what the flash holds, and the stored size and checksum, to this file at each restart, "
                       "power cycle and at the end: lines \"size N|none\", \"checksum 0xN|none\" and \"mode "
                       "firmware|bootloader\", then the whole flash as Intel HEX. With --modules, one file per "
                       "module: FILE.0, FILE.1, ..."),
        QStringLiteral("file")};
    QCommandLineOption reportPhases{QStringLiteral("report-phases"),
                                    QStringLiteral("Print a line when an update phase begins.")};
    QCommandLineOption chaos{QStringLiteral("chaos"),
                             QStringLiteral("On each SIGUSR2, arm one wire fault drawn at random (any kind, phase "
                                            "and request), from this seed on; a power cycle drops it unless set off."),
                             QStringLiteral("seed")};
    QCommandLineOption modules{QStringLiteral("modules"),
                               QStringLiteral("Serve this many modules, each on a port of its own, all with these "
                                              "options and all in the port file."),
                               QStringLiteral("n"), QStringLiteral("1")};
    QCommandLineOption replugEvery{
        QStringLiteral("replug-every"),
        QStringLiteral("Every this many seconds, unplug the module served longest once it is at rest (in its "
                       "firmware, %1 s without a request) and plug in a fresh one under a new port name.")
            .arg(ModuleRack::RestMs / MsPerSecond),
        QStringLiteral("seconds")};
    QCommandLineOption replay{QStringLiteral("replay"),
                              QStringLiteral("Play the module of this capture of dux-host --capture instead: answer "
                                             "each request as the module of the capture did; the first request that "
                                             "departs is reported and left unanswered, as is every one after it."),
                              QStringLiteral("file")};
    QCommandLineOption replayPort{QStringLiteral("replay-port"),
                                  QStringLiteral("With --replay: the captured port to play (default: the first a "
                                                 "module answered on)."),
                                  QStringLiteral("name")};
    QCommandLineOption unpaced{QStringLiteral("unpaced"),
                               QStringLiteral("With --replay: answer at once, not at the captured delays.")};

    void addTo(QCommandLineParser* parser) const
    {
        parser->setApplicationDescription(
            QStringLiteral(
                "Serves a simulated DUXL module on a pseudo-terminal and prints the port it serves.\n"
                "Failure switches (--fail): MODE[:COMMAND[:FIRST[:COUNT]]] with MODE one of no-reply, invalid-reply, "
                "status2-on-208, wrong-checksum, wrong-echo-on-203; COMMAND a number, \"version\" or \"any\"; FIRST "
                "the first matching request hit (from 1); COUNT how many (default: all).\n"
                "Wire faults (--fault): KIND@PHASE[:NTH], set off once by the NTH request (default 1) of that update "
                "phase, or by each of its requests with NTH \"*\"; KIND one of %1; PHASE one of %2.\n"
                "SIGUSR1 power-cycles the module: a stall ends, a vanished port comes back and faults not set off "
                "are dropped. SIGUSR2 arms a fault drawn at random (with --chaos). SIGINT and SIGTERM end it.\n"
                "Numbers may be given in decimal or, with 0x, in hexadecimal.")
                .arg(WireFault::kindNames().join(QStringLiteral(", ")),
                     WireFault::phaseNames().join(QStringLiteral(", "))));
        CommandLineHelp::addOptions(parser, {help, version, type, firmware, bootloader, address, pageSize, flashBase, flashSize, scheme,
                            link, baud, erase, window, rxBuffer, adapterLatency, reconnect, prefix, portFile, startInBootloader, fail, exitWithParent,
                            fault, chaos, flashImage, flashOut, reportPhases, modules, replugEvery, replay, replayPort, unpaced});
    }
};

// "MODE[:COMMAND[:FIRST[:COUNT]]]", COMMAND a number, "version" or "any".
bool parseFailure(const QString& text, SimulatedModule::Failure* failure)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    const auto entry = std::find_if(std::begin(FailureNames), std::end(FailureNames),
                                    [&parts](const FailureName& name) { return parts.at(0) == QLatin1String(name.name); });
    if (entry == std::end(FailureNames) || parts.size() > 4)
        return false;
    failure->mode = entry->mode;
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

// A number in decimal or with 0x in hexadecimal, at most `maximum`.
bool readNumber(const QCommandLineParser& parser, const QCommandLineOption& option, quint32 maximum, quint32* value)
{
    bool ok = false;
    *value = parser.value(option).toUInt(&ok, 0);
    return ok && *value <= maximum;
}

// Reads the options of a command line that asks to run into `options`; on a usage error `error` names it.
void readOptions(const QCommandLineParser& parser, const OptionTable& table, SimOptions& options, QString& error)
{
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst());
        return;
    }

    options.type = parser.value(table.type);
    options.firmwareVersion = parser.isSet(table.firmware) ? parser.value(table.firmware)
                                                           : options.type + QStringLiteral("V101");
    options.bootloaderVersion = parser.isSet(table.bootloader) ? parser.value(table.bootloader)
                                                               : options.type + QStringLiteral("B101");
    constexpr quint32 IntMax = quint32(std::numeric_limits<int>::max());
    quint32 address = 0;
    quint32 pageSize = 0;
    quint32 baud = 0;
    quint32 eraseMs = 0;
    quint32 reconnectMs = 0;
    if (!readNumber(parser, table.address, MaxAddress, &address)) {
        error = QStringLiteral("--address takes 0 to %1").arg(MaxAddress);
        return;
    }
    if (!readNumber(parser, table.pageSize, IntMax, &pageSize) || pageSize == 0) {
        error = QStringLiteral("--page-size takes a positive number");
        return;
    }
    if (!readNumber(parser, table.flashBase, UINT32_MAX, &options.flashBase)
        || !readNumber(parser, table.flashSize, UINT32_MAX, &options.flashSize)) {
        error = QStringLiteral("--flash-base and --flash-size take numbers");
        return;
    }
    if (!readNumber(parser, table.baud, IntMax, &baud) || !readNumber(parser, table.erase, IntMax, &eraseMs)
        || !readNumber(parser, table.reconnect, IntMax, &reconnectMs)) {
        error = QStringLiteral("--baud, --erase-ms and --reconnect-ms take numbers");
        return;
    }
    quint32 window = 0;
    quint32 rxBuffer = 0;
    quint32 latencyMs = 0;
    if (!readNumber(parser, table.window, ModuleServer::MaxWindow, &window)) {
        error = QStringLiteral("--window takes 0 to %1").arg(ModuleServer::MaxWindow);
        return;
    }
    if (!readNumber(parser, table.rxBuffer, IntMax, &rxBuffer)
        || !readNumber(parser, table.adapterLatency, IntMax, &latencyMs)) {
        error = QStringLiteral("--rx-buffer and --adapter-latency-ms take numbers");
        return;
    }
    options.window = int(window);
    options.rxBufferBytes = int(rxBuffer);
    options.adapterLatencyMs = int(latencyMs);
    quint32 modules = 0;
    if (!readNumber(parser, table.modules, MaxModules, &modules) || modules == 0) {
        error = QStringLiteral("--modules takes 1 to %1").arg(MaxModules);
        return;
    }
    options.modules = int(modules);
    options.chaos = parser.isSet(table.chaos);
    if (options.chaos && !readNumber(parser, table.chaos, UINT32_MAX, &options.chaosSeed)) {
        error = QStringLiteral("--chaos takes a number");
        return;
    }
    if (parser.isSet(table.replugEvery)) {
        bool ok = false;
        const double seconds = parser.value(table.replugEvery).toDouble(&ok);
        options.replugEveryMs = int(seconds * MsPerSecond);
        if (!ok || options.replugEveryMs <= 0 || seconds > std::numeric_limits<int>::max() / MsPerSecond) {
            error = QStringLiteral("--replug-every takes a positive number of seconds");
            return;
        }
    }
    options.address = quint8(address);
    options.pageSize = int(pageSize);
    options.baud = int(baud);
    options.eraseMs = int(eraseMs);
    options.reconnectMs = int(reconnectMs);

    const QString scheme = parser.value(table.scheme);
    const QString& type = options.type;
    const bool pageNumberType = std::any_of(std::begin(PageNumberTypes), std::end(PageNumberTypes),
                                            [&type](const char* prefix) { return type.startsWith(QLatin1String(prefix)); });
    if (scheme != QLatin1String("page-buffer") && scheme != QLatin1String("page-number") && scheme != QLatin1String("auto")) {
        error = QStringLiteral("--scheme takes page-buffer, page-number or auto");
        return;
    }
    options.pageNumberScheme = scheme == QLatin1String("page-number") || (scheme == QLatin1String("auto") && pageNumberType);

    for (const QString& text : parser.values(table.fail)) {
        SimulatedModule::Failure failure;
        if (!parseFailure(text, &failure)) {
            error = QStringLiteral("cannot read the failure switch \"%1\"").arg(text);
            return;
        }
        options.failures.append(failure);
    }
    for (const QString& text : parser.values(table.fault)) {
        WireFault fault;
        if (!WireFault::parse(text, &fault, &error))
            return;
        options.wireFaults.append(fault);
    }
    const QString link = parser.value(table.link);
    const std::optional<int> linkKind = LinkKindRules::kindNamed(link);
    if (!linkKind) {
        error = QStringLiteral("--link takes %1").arg(LinkKindRules::names().join(QStringLiteral(" or ")));
        return;
    }
    options.link = *linkKind;
    options.portPrefix = parser.value(table.prefix);
    options.portFile = parser.value(table.portFile);
    options.startInBootloader = parser.isSet(table.startInBootloader);
    options.exitWithParent = parser.isSet(table.exitWithParent);
    options.flashImage = parser.value(table.flashImage);
    options.flashOut = parser.value(table.flashOut);
    options.reportPhases = parser.isSet(table.reportPhases);
    options.replayFile = parser.value(table.replay);
    options.replayPort = parser.value(table.replayPort);
    options.unpaced = parser.isSet(table.unpaced);
    if (options.replayFile.isEmpty() && (parser.isSet(table.replayPort) || options.unpaced))
        error = QStringLiteral("--replay-port and --unpaced need --replay");
}

}

SimOptions::Parsed SimOptions::parse(const QStringList& arguments)
{
    return CommandLineHelp::parseWith<SimOptions, OptionTable>(arguments, {ProgramName, "[options]", Epilogue, DUX_VERSION},
                                                               readOptions);
}
