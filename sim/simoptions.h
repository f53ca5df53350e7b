#pragma once

#include "commandlinehelp.h"

#include "moduleserver.h"
#include "simulatedmodule.h"
#include "wirefault.h"

#include <QList>
#include <QString>

// What dux-sim was asked to serve, read from its command line.
struct SimOptions
{
    using Request = CommandLineHelp::Request;

    static constexpr int ExitFailure = 1;
    static constexpr int ExitUsage = 2;

    Request request = Request::Run;
    QString type;
    QString firmwareVersion;
    QString bootloaderVersion;
    quint8 address = 1;
    int pageSize = 0;
    quint32 flashBase = 0;
    quint32 flashSize = 0;
    bool pageNumberScheme = false;
    // DUXLConnectionInterface::LinkKind
    int link = DUXLConnectionInterface::Serial;
    int baud = 0;
    int eraseMs = 0;
    // The window the module answers; 0: it leaves the window question unanswered, as an older module.
    int window = ModuleServer::DefaultWindow;
    // 0: the module's receive buffer never overflows.
    int rxBufferBytes = 0;
    int adapterLatencyMs = 0;
    int reconnectMs = ModuleServer::DefaultReconnectDelayMs;
    QString portPrefix;
    QString portFile;
    bool startInBootloader = false;
    QList<SimulatedModule::Failure> failures;
    QList<WireFault> wireFaults;
    // --chaos: SIGUSR2 arms a fault drawn at random, from this seed on.
    bool chaos = false;
    quint32 chaosSeed = 0;
    bool exitWithParent = false;
    QString flashImage;
    // Where the flash is written at each restart and at the end (see FlashDump); empty: nowhere.
    QString flashOut;
    bool reportPhases = false;
    int modules = 1;
    // 0: the modules stay plugged in.
    int replugEveryMs = 0;
    // --replay: the capture whose module is played instead of a simulated one; empty: none.
    QString replayFile;
    QString replayPort;
    bool unpaced = false;

    // The options of `arguments` (the program name first); on a usage error `error` names it, and the
    // text --help or --version asks for is `requestText`.
    using Parsed = CommandLineHelp::Parsed<SimOptions>;
    static Parsed parse(const QStringList& arguments);
};
