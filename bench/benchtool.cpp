#include "benchtool.h"

#include "benchprocesses.h"
#include "duxlconnectioninterface.h"
#include "firmwareupdate.h"
#include "linkmodule.h"
#include "modulediscovery.h"
#include "pluginhandler.h"
#include "portlistfile.h"
#include "serialcommandhandler.h"
#include "serialconnection.h"
#include "updatedriver.h"

#include <QEventLoop>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

namespace {
constexpr const char* ToolKey = "FirmwareUpdate";
constexpr const char* ModuleType = "1234";
constexpr const char* InProcessPort = "ttyMEM0";
// Each dux-sim names its ports after a prefix of its own: "ttySIMA0", "ttySIMB0", ...
constexpr const char* PtyPortPrefix = "ttySIM";
constexpr unsigned char ModuleAddress = 1;
// A whole update, reconnection included, even of a 256 KiB image on a slow link.
constexpr int UpdateTimeoutMs = 1800000;
}

// dux-sim and the host's link to it; the plug-ins are registered while they live.
struct BenchTool::PtyModule
{
    QTemporaryDir folder;
    QProcess simulator;
    std::unique_ptr<SerialConnection> connection;
    std::unique_ptr<LinkModule> module;
};

BenchTool::BenchTool() = default;

BenchTool::~BenchTool()
{
    // The tool goes before the plug-ins it points to.
    delete m_tool;
    for (const auto& pty : m_ptyModules) {
        m_host.pluginHandler()->removeModulePlugin(pty->module->key());
        m_host.pluginHandler()->removeConnectionPlugin(pty->connection->key());
        pty->simulator.terminate();
        pty->simulator.waitForFinished();
    }
}

QString BenchTool::addInProcessModule()
{
    FakeHost::ModuleSetup setup;
    setup.port = QLatin1String(InProcessPort);
    setup.moduleName = LinkModule::moduleNameOf(QLatin1String(ModuleType));
    setup.nameInFirmware = QLatin1String(ModuleType);
    setup.address = ModuleAddress;
    return m_host.addModule(setup);
}

QString BenchTool::addPtyModule(const QStringList& simulatorArguments)
{
    auto pty = std::make_unique<PtyModule>();
    const QString prefix = QLatin1String(PtyPortPrefix) + QChar(char16_t(u'A' + m_ptyModules.size()));
    const QString portList = pty->folder.filePath(QStringLiteral("ports"));
    if (!BenchProcesses::startSimulator(&pty->simulator, portList,
                                        QStringList{QStringLiteral("--port-prefix"), prefix} + simulatorArguments,
                                        &m_errorString))
        return QString();
    const QList<QSerialPortInfo> ports = PortListFile::read(portList);
    const QSerialPortInfo port = ports.value(0);
    // Keys as the host's module discovery gives them.
    const QString connectionKey = ModuleDiscovery::connectionKey(port.portName(), DUXLConnectionInterface::Serial);
    const QString key = ModuleDiscovery::moduleKey(port.portName(), LinkModule::moduleNameOf(QLatin1String(ModuleType)),
                                                   ModuleAddress);
    PluginHandler* handler = m_host.pluginHandler();
    pty->connection = std::make_unique<SerialConnection>(connectionKey, port, DUXLConnectionInterface::Serial, handler);
    if (!pty->connection->commandHandler()->openDevice()) {
        m_errorString = QStringLiteral("cannot open %1: %2")
                            .arg(port.systemLocation(), pty->connection->serialHandler()->errorString());
        return QString();
    }
    pty->module = std::make_unique<LinkModule>(key, pty->connection.get(), ModuleAddress, QLatin1String(ModuleType),
                                               handler);
    handler->addConnectionPlugin(connectionKey, pty->connection.get());
    handler->addModulePlugin(key, pty->module.get(), connectionKey);
    m_ptyModules.push_back(std::move(pty));
    return key;
}

void BenchTool::start(bool show)
{
    m_tool = new FirmwareUpdate(QLatin1String(ToolKey), m_host.pluginHandler());
    m_tool->setParent(&m_window);
    m_tool->init(&m_window);
    if (show)
        m_window.show();
}

QProgressBar* BenchTool::progressBar() const
{
    return m_tool->findChild<QProgressBar*>(QStringLiteral("pbProcess"));
}

bool BenchTool::update(const QString& key, const QString& fileName)
{
    QString history;
    QTextStream historyStream(&history);
    UpdateDriver driver(m_tool, &historyStream);
    driver.setModuleKey(key);
    driver.setFileName(fileName);
    driver.setPrintHistory(true);
    bool succeeded = false;
    QEventLoop loop;
    QObject::connect(&driver, &UpdateDriver::ended, &loop, [&](const UpdateResult& result) {
        succeeded = result.result == UpdateResult::Result::Updated;
        if (!succeeded)
            m_errorString = result.closingLine() + QStringLiteral("\n") + history;
        loop.quit();
    });
    QTimer::singleShot(UpdateTimeoutMs, &loop, [&] {
        m_errorString = QStringLiteral("no result after %1 ms\n").arg(UpdateTimeoutMs) + history;
        loop.quit();
    });
    if (driver.start() != UpdateDriver::StartResult::Started) {
        m_errorString = driver.errorString();
        return false;
    }
    loop.exec();
    return succeeded;
}
