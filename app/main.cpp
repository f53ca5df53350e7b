// dux-host: a small desktop host for DUXL modules. It finds modules on serial links, loads the
// container plug-ins of its plug-in folder and shows them; with a firmware file it runs an update
// through the "Firmware update" plug-in, also without a display (--headless).

#include "console.h"
#include "doctor.h"
#include "history.h"
#include "hosteventloop.h"
#include "hostoptions.h"
#include "hostrun.h"
#include "installlayout.h"
#include "recordkeeper.h"
#include "recordstore.h"
#include "runwatchdog.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>


namespace {

constexpr const char* NoDisplayText = "no display: use --headless, or set DISPLAY";

QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

// A window needs a display, unless the user chose a Qt platform that has none.
bool displayAvailable()
{
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY")
        || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

}

// A records location dux-host cannot use is refused before anything else: an unknown scheme would
// become a SQLite file named after it, a misspelt folder a new, empty database. The default file's
// folder (the first run's home) and one asked for with --records-init are created.
QString recordsProblem(const HostOptions& options)
{
    const QString location = RecordKeeper::configuredLocation(options.recordsLocation);
    const QString problem = RecordStore::locationProblem(location);
    if (!problem.isEmpty() || RecordStore::isServerLocation(location) || location == RecordKeeper::localFile())
        return problem;
    const QString folder = QFileInfo(RecordStore::sqliteFile(location)).absolutePath();
    if (QFileInfo(folder).isDir() || (options.recordsInit && QDir().mkpath(folder)))
        return QString();
    return QStringLiteral("the folder %1 of the records file %2 does not exist (--records-init creates it)")
        .arg(folder, RecordStore::sqliteFile(location));
}

bool refusedRecords(const HostOptions& options)
{
    const QString problem = recordsProblem(options);
    if (!problem.isEmpty())
        Console::err() << "dux-host: " << problem << Qt::endl;
    return !problem.isEmpty();
}

namespace {

int printHistory(int& argc, char* argv[], const HostOptions& options)
{
    QCoreApplication app(argc, argv);
    return refusedRecords(options) ? HostOptions::ExitUsage : History::run(options, Console::out(), Console::err());
}

int checkComputer(int& argc, char* argv[], const HostOptions& options)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dux-host"));
    const QString plugins = options.pluginFolder.isEmpty() ? InstallLayout::pluginFolder() : options.pluginFolder;
    const QVector<Doctor::Finding> findings =
        Doctor(Doctor::Machine(), plugins, RecordKeeper::configuredLocation(options.recordsLocation),
               options.serialPorts + options.usbPorts)
            .examine();
    Console::out() << Doctor::report(findings);
    return findings.isEmpty() ? HostOptions::ExitUpdated : HostOptions::ExitUpdateFailed;
}

// What the process must settle before the application object exists.
void prepareProcess(const HostOptions& options)
{
    // Without a window on screen there is no need for a display: take Qt's offscreen platform then.
    if (!options.wantsWindow() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Console::routeMessages(options.verbosity == HostOptions::Verbosity::Debug
                               || qEnvironmentVariableIsSet("QT_LOGGING_RULES"),
                           options.verbosity != HostOptions::Verbosity::Quiet);
    // Before the application starts threads, which would otherwise take SIGINT's and SIGTERM's own action.
    RunWatchdog::blockSignals();
    // Only where several modules share the GUI thread's waits: a lone update gains nothing from it.
    if (options.updatesSideBySide())
        HostEventLoop::chooseDispatcher();
}

}

int main(int argc, char* argv[])
{
    const HostOptions::Parsed parsed = HostOptions::parse(argumentsOf(argc, argv));
    const HostOptions& options = parsed.options;
    if (!parsed.error.isEmpty()) {
        Console::err() << "dux-host: " << parsed.error << "\nTry 'dux-host --help'." << Qt::endl;
        return HostOptions::ExitUsage;
    }
    if (options.request != HostOptions::Request::Run) {
        // The help text needs an application object, but no display.
        QCoreApplication app(argc, argv);
        Console::out() << parsed.requestText();
        return HostOptions::ExitUpdated;
    }
    if (options.history)
        return printHistory(argc, argv, options);
    if (options.doctor)
        return checkComputer(argc, argv, options);
    // The plug-in's recorder reads where the records go from the environment, as from a user's DUX_RECORDS.
    if (!options.recordsLocation.isEmpty())
        qputenv(RecordKeeper::LocationVariable, options.recordsLocation.toLocal8Bit());
    if (options.wantsWindow() && !displayAvailable()) {
        Console::err() << "dux-host: " << NoDisplayText << Qt::endl;
        return HostOptions::ExitUsage;
    }
    prepareProcess(options);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dux-host"));
    InstallLayout::loadTranslation(&app);
    // --list keeps no records.
    if (!options.list && refusedRecords(options))
        return HostOptions::ExitUsage;
    HostRun run(options, &app);
    return run.exec();
}
