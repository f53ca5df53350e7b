#pragma once

#include "commandhandlerinterface.h"
#include "commandlinehelp.h"
#include "stationshift.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// What dux-host was asked to do, read from its command line without touching a display, so that
// --help, --version and usage errors work anywhere.
struct HostOptions
{
    using Request = CommandLineHelp::Request;
    // How much a headless update prints: only the result, progress, or every history line (-v);
    // -vv adds the Qt debug output.
    enum class Verbosity { Quiet, Normal, Verbose, Debug };

    // Exit codes, also listed in --help and the README.
    static constexpr int ExitUpdated = 0;
    static constexpr int ExitUpdateFailed = 1;
    static constexpr int ExitUsage = 2;
    static constexpr int ExitInterrupted = 3;

    static constexpr int DefaultPollMs = 100;
    static constexpr int DefaultTimeoutSeconds = 600;
    static constexpr int DefaultScreenshotPercent = 50;
    static constexpr const char* CaptureVariable = "DUX_CAPTURE";

    Request request = Request::Run;
    Verbosity verbosity = Verbosity::Normal;
    QString pluginFolder; // empty: beside the program
    QStringList serialPorts;
    QStringList usbPorts;
    QStringList portFiles;
    bool simulate = false;
    QStringList simulatorArguments;
    int dataRate = 0;
    QVector<unsigned char> addresses;
    int probeTimeoutMs = 0;
    // --window: the most flash words in flight.
    int windowLimit = CommandHandlerInterface::MaxWindow;
    int pollMs = DefaultPollMs;
    bool list = false;
    bool headless = false;
    bool json = false;
    // Keys of the modules to update; none: the only module found. Several: all at once.
    QStringList moduleKeys;
    bool allModules = false;
    bool watch = false;
    bool dryRun = false;
    // --if-changed: a module that already holds the file is restarted without an update.
    bool ifChanged = false;
    // --resume: a module whose flash holds a prefix of the file, erased after it, is written on from there.
    bool resume = false;
    // --verify: the module's sums are compared with the file's; nothing is written.
    bool verify = false;
    // --read-back: the HEX file the module's flash is read into (empty: no read-back), over --range
    // (readFirst up to readEnd; -1: the module's flash base and the end its memory size states).
    QString readBackFile;
    qint64 readFirst = -1;
    qint64 readEnd = -1;
    QString fileName;
    int timeoutSeconds = DefaultTimeoutSeconds;
    bool exitWhenDone = false;
    QString screenshotPath;
    int screenshotPercent = DefaultScreenshotPercent;
    // --capture, else DUX_CAPTURE: where every byte on the links goes (docs/capture.md); empty: nowhere.
    QString capturePath;
    // --log: the file a headless run appends its history and closing lines to; empty: none.
    QString logPath;
    // --records: where the records go (and --history reads them); empty: DUX_RECORDS, the setting, the file.
    QString recordsLocation;
    // The folder of a new records file is created rather than refused.
    bool recordsInit = false;
    // With --json: a JSON line for each update's phases and percents as well.
    bool jsonProgress = false;
    // --history and its filters (module: moduleKeys), --summary, --csv.
    bool history = false;
    bool summary = false;
    bool csv = false;
    QString firmwareFilter;
    QString resultFilter;
    QString stationFilter;
    QString operatorFilter;
    QString serialFilter;
    QString fixtureFilter;
    QDateTime since;
    // --station without --history: the station's view, under this name, with its operator, its serial
    // list (empty: typed or scanned) and its line stop after so many failures in a row.
    QString stationName;
    QString operatorName;
    QString serialList;
    int stopAfter = StationShift::DefaultStopAfter;
    // The bench's checks and guards.
    bool doctor = false;
    // --if-newer: a module whose firmware is not older than the file's is not started.
    bool ifNewer = false;
    // --sha256: the file's expected hash, lower case; empty: not checked.
    QString sha256;
    // --retries: how often a failed update is tried again.
    int retries = 0;

    // The options of `arguments` (the program name first); on a usage error `error` names it, and the
    // text --help or --version asks for is `requestText`.
    using Parsed = CommandLineHelp::Parsed<HostOptions>;
    static Parsed parse(const QStringList& arguments);

    // A window is wanted: none of --headless, --list and --dry-run.
    bool wantsWindow() const { return !headless && !list && !dryRun; }
    // Several modules at once: --all, or --module more than once.
    bool updatesSeveral() const { return allModules || moduleKeys.size() > 1; }
    bool station() const { return !stationName.isEmpty(); }
    // Updates run side by side, their requests sharing the GUI thread's event loop.
    bool updatesSideBySide() const { return updatesSeveral() || watch || station(); }
};
