// dux-host: a small desktop host for DUXL modules. It finds modules on serial links, loads the
// container plug-ins of its plug-in folder and shows them; with a firmware file it runs an update
// through the "Firmware update" plug-in, also without a display (--headless).

#include "appsettings.h"
#include "containerinterface.h"
#include "containerloader.h"
#include "duxlmoduleinterface.h"
#include "hostwindow.h"
#include "modulediscovery.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portlistfile.h"
#include "protocolfacts.h"
#include "serialportdescription.h"
#include "simulatorprocess.h"
#include "updatedriver.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>
#include <memory>

namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitUpdateFailed = 1;
constexpr int ExitSetupFailed = 2;
constexpr const char* UpdatePluginClass = "FirmwareUpdate";
constexpr const char* DefaultPluginFolder = "../plugins";
constexpr int DefaultPollMs = 100;
constexpr int DefaultTimeoutSeconds = 600;
constexpr int DefaultScreenshotPercent = 50;
constexpr int MsPerSecond = 1000;
constexpr const char* ModuleAddedMessage = Protocol::DeviceTreeReady;
constexpr const char* ModuleRemovedMessage = "removed";
// The host's pool of firmware files, beside its home folder; the update plug-in keeps copies there.
constexpr const char* FirmwarePoolFolder = Protocol::PoolFolder;

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

// Without a window on screen there is no need for a display: take Qt's offscreen platform then.
void chooseOffscreenPlatform(int argc, char* argv[])
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--")
            return;
        if (argument == "--headless" || argument == "--list") {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            return;
        }
    }
}

struct PortOptions
{
    QStringList serialPorts;
    QStringList usbPorts;
    QStringList portFiles;
};

// The ports given on the command line and in port lists; none given: the system's own list.
PeripheryManager::PortSource portSource(const PortOptions& options)
{
    if (options.serialPorts.isEmpty() && options.usbPorts.isEmpty() && options.portFiles.isEmpty())
        return nullptr;
    QList<QSerialPortInfo> fixed;
    for (const QString& path : options.serialPorts)
        fixed.append(describeSerialPort(QFileInfo(path).fileName(), path, QLatin1String(PortListFile::SerialDescription)));
    for (const QString& path : options.usbPorts)
        fixed.append(describeSerialPort(QFileInfo(path).fileName(), path, QLatin1String(PortListFile::UsbDescription)));
    const QStringList files = options.portFiles;
    return [fixed, files] {
        QList<QSerialPortInfo> ports = fixed;
        for (const QString& file : files)
            ports.append(PortListFile::read(file));
        return ports;
    };
}

QVector<unsigned char> parseAddresses(const QString& text, bool* ok)
{
    QVector<unsigned char> addresses;
    *ok = true;
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool numberOk = false;
        const uint address = part.trimmed().toUInt(&numberOk);
        if (!numberOk || address > 255) {
            *ok = false;
            return {};
        }
        addresses.append(static_cast<unsigned char>(address));
    }
    *ok = *ok && !addresses.isEmpty();
    return addresses;
}

void listModules(const PluginHandler& handler)
{
    const QStringList keys = handler.getModulePluginKeys(true);
    out() << keys.size() << (keys.size() == 1 ? " module" : " modules") << Qt::endl;
    for (const QString& key : keys) {
        DUXLModuleInterface* module = handler.getModulePlugin(key);
        out() << "  " << key << "  type " << module->nameInFirmware() << ", address " << module->moduleAddress()
              << Qt::endl;
    }
}

}

int main(int argc, char* argv[])
{
    chooseOffscreenPlatform(argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dux-host"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Finds DUXL modules on serial links and shows the container plug-ins of its plug-in folder.\n"
        "With --file it updates a module through the \"Firmware update\" plug-in; --headless does so "
        "without a display and prints the history.\n"
        "Arguments after -- go to dux-sim when --simulate is given."));
    parser.addHelpOption();
    const QCommandLineOption pluginsOption(QStringLiteral("plugins"), QStringLiteral("Plug-in folder."),
                                           QStringLiteral("folder"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("A serial port (device path)."),
                                        QStringLiteral("path"));
    const QCommandLineOption usbPortOption(QStringLiteral("usb-port"),
                                           QStringLiteral("The port of a USB module (device path)."),
                                           QStringLiteral("path"));
    const QCommandLineOption portFileOption(QStringLiteral("port-file"),
                                            QStringLiteral("A port list kept by dux-sim (--port-file there)."),
                                            QStringLiteral("file"));
    const QCommandLineOption simulateOption(QStringLiteral("simulate"),
                                            QStringLiteral("Start a simulated module (dux-sim) and use it."));
    const QCommandLineOption baudOption(QStringLiteral("baud"), QStringLiteral("Data rate of the links."),
                                        QStringLiteral("rate"), QString::number(ModuleDiscovery::DefaultDataRate));
    const QCommandLineOption addressesOption(QStringLiteral("addresses"),
                                             QStringLiteral("Module addresses to look for, comma-separated."),
                                             QStringLiteral("list"), QStringLiteral("1,2,3,4"));
    const QCommandLineOption pollOption(QStringLiteral("poll-ms"), QStringLiteral("How often the ports are listed."),
                                        QStringLiteral("ms"), QString::number(DefaultPollMs));
    const QCommandLineOption listOption(QStringLiteral("list"), QStringLiteral("List modules and plug-ins, then end."));
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
                                            QStringLiteral("No display: update (needs --file) and end."));
    const QCommandLineOption moduleOption(QStringLiteral("module"),
                                          QStringLiteral("Key of the module to update (default: the only one)."),
                                          QStringLiteral("key"));
    const QCommandLineOption fileOption(QStringLiteral("file"), QStringLiteral("Firmware file (Intel HEX) to write."),
                                       QStringLiteral("file"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Seconds the whole update may take."), QStringLiteral("s"),
                                           QString::number(DefaultTimeoutSeconds));
    const QCommandLineOption exitOption(QStringLiteral("exit-when-done"),
                                        QStringLiteral("With a window: end when the update has ended."));
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                              QStringLiteral("Save the update window as a picture during the write."),
                                              QStringLiteral("png"));
    const QCommandLineOption screenshotAtOption(QStringLiteral("screenshot-at"),
                                                QStringLiteral("Percent of the write at which the picture is taken."),
                                                QStringLiteral("percent"), QString::number(DefaultScreenshotPercent));
    parser.addOptions({pluginsOption, portOption, usbPortOption, portFileOption, simulateOption, baudOption,
                       addressesOption, pollOption, listOption, headlessOption, moduleOption, fileOption, timeoutOption,
                       exitOption, screenshotOption, screenshotAtOption});
    parser.addPositionalArgument(QStringLiteral("dux-sim options"), QStringLiteral("Options for dux-sim."),
                                 QStringLiteral("[-- dux-sim options]"));
    parser.process(app);

    const auto setupFailed = [](const QString& message) {
        err() << "dux-host: " << message << Qt::endl;
        return ExitSetupFailed;
    };
    bool numbersOk = true;
    bool ok = false;
    const int baud = parser.value(baudOption).toInt(&ok);
    numbersOk = numbersOk && ok && baud > 0;
    const int pollMs = parser.value(pollOption).toInt(&ok);
    numbersOk = numbersOk && ok && pollMs > 0;
    const int timeoutSeconds = parser.value(timeoutOption).toInt(&ok);
    numbersOk = numbersOk && ok && timeoutSeconds > 0;
    const int screenshotPercent = parser.value(screenshotAtOption).toInt(&ok);
    numbersOk = numbersOk && ok && screenshotPercent >= 0 && screenshotPercent <= 100;
    const QVector<unsigned char> addresses = parseAddresses(parser.value(addressesOption), &ok);
    if (!numbersOk || !ok)
        return setupFailed(QStringLiteral("--baud, --poll-ms, --timeout, --screenshot-at or --addresses is not valid"));
    const bool headless = parser.isSet(headlessOption);
    if (headless && !parser.isSet(fileOption))
        return setupFailed(QStringLiteral("--headless needs --file"));

    QDir().mkpath(AppSettings::homePath() + QLatin1String(FirmwarePoolFolder));

    PortOptions ports{parser.values(portOption), parser.values(usbPortOption), parser.values(portFileOption)};
    std::unique_ptr<SimulatorProcess> simulator;
    if (parser.isSet(simulateOption)) {
        simulator = std::make_unique<SimulatorProcess>(&out());
        if (!simulator->start(parser.positionalArguments()))
            return setupFailed(simulator->errorString());
        ports.portFiles.append(simulator->portListFile());
    }

    PluginHandler handler;
    ModuleDiscovery discovery(&handler);
    discovery.setDataRate(baud);
    discovery.setProbeAddresses(addresses);
    discovery.start();
    PeripheryManager* periphery = PeripheryManager::instance();
    periphery->setPortSource(portSource(ports));
    periphery->checkActualUSBDevices(false);
    periphery->setPollInterval(pollMs);

    ContainerLoader loader(&handler);
    QObject::connect(&loader, &ContainerLoader::loadFailed, [](const QString& file, const QString& reason) {
        err() << "dux-host: plug-in " << file << " not loaded: " << reason << Qt::endl;
    });
    const QString pluginFolder = parser.isSet(pluginsOption)
        ? parser.value(pluginsOption)
        : QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(DefaultPluginFolder));
    loader.loadFolder(pluginFolder);
    const QList<ContainerInterface*> containers = loader.containers();

    // The host tells its container plug-ins when a module comes or goes.
    QObject::connect(&discovery, &ModuleDiscovery::moduleAdded, &loader, [&loader](DUXLModuleInterface* module) {
        for (ContainerInterface* container : loader.containers())
            container->handleModulePlugin(module, QLatin1String(ModuleAddedMessage));
    });
    QObject::connect(&discovery, &ModuleDiscovery::moduleRemoved, &loader, [&loader](DUXLModuleInterface* module) {
        for (ContainerInterface* container : loader.containers())
            container->handleModulePlugin(module, QLatin1String(ModuleRemovedMessage));
    });

    if (parser.isSet(listOption)) {
        listModules(handler);
        out() << containers.size() << (containers.size() == 1 ? " plug-in" : " plug-ins") << Qt::endl;
        for (ContainerInterface* container : containers)
            out() << "  " << container->name() << Qt::endl;
        return ExitSuccess;
    }

    HostWindow window(&handler, &discovery, containers);
    if (!parser.isSet(fileOption)) {
        window.show();
        return app.exec();
    }

    ContainerInterface* updater = loader.containerOfClass(QLatin1String(UpdatePluginClass));
    if (!updater)
        return setupFailed(QStringLiteral("no \"Firmware update\" plug-in in %1").arg(pluginFolder));
    if (!headless)
        window.show();
    window.openContainer(updater);

    UpdateDriver driver(updater, &out());
    driver.setModuleKey(parser.value(moduleOption));
    driver.setFileName(parser.value(fileOption));
    driver.setTimeoutMs(timeoutSeconds * MsPerSecond);
    if (parser.isSet(screenshotOption))
        driver.setScreenshot(parser.value(screenshotOption), screenshotPercent);
    int result = ExitSuccess;
    QObject::connect(&driver, &UpdateDriver::finished, [&](bool success, const QString&) {
        result = success ? ExitSuccess : ExitUpdateFailed;
        if (headless || parser.isSet(exitOption))
            app.exit(result);
    });
    if (!driver.start())
        return setupFailed(driver.errorString());
    const int loopResult = app.exec();
    return headless || parser.isSet(exitOption) ? result : loopResult;
}
