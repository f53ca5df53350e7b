#include "wirerig.h"

#include "appsettings.h"
#include "commandhandlerinterface.h"
#include "containerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "global.h"
#include "intelhexparser.h"
#include "modulediscovery.h"
#include "peripherymanager.h"
#include "pluginhandler.h"
#include "portlistfile.h"
#include "serialconnection.h"
#include "workerreportapplication.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <csignal>

namespace {
constexpr int StartTimeoutMs = 10000;
constexpr int StopTimeoutMs = 3000;
// The host lists ports this often; dux-sim rewrites its port list when its port comes or goes.
constexpr int PortPollMs = 20;
// The module answers at address 1; asking others only slows discovery down.
constexpr unsigned char ModuleAddress = 1;
constexpr const char* ModuleAddedMessage = "deviceTreeReady";
constexpr const char* ModuleRemovedMessage = "removed";
// Small pages and a firmware of two and a half of them: page changes and a last partial page, in a
// write short enough for many runs.
constexpr int PageBytes = 256;
constexpr int FirmwareBytes = 640;
constexpr int RunMs = 15000;
constexpr int WorkerLeavesMs = 3000;
// Where the identifier sits in the image (never at offset 0, where the scan does not look).
constexpr int IdentifierOffset = 0x200;

QString binary(const char* name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(name));
}

// Firmware in the segment style the module's own files use, linked for flash address 0.
QString writeFirmware(const QString& path, const char* identifier)
{
    const QByteArray image = FirmwareBuilder::firmwareImage(identifier, FirmwareBytes, IdentifierOffset);
    return FirmwareBuilder::writeFile(path, FirmwareBuilder::hexOf(image, 0, IntelHex::AddressStyle::Segment));
}
}

WireRig::WireRig()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("home"));
    QDir(m_dir.path()).mkpath(QStringLiteral("Firmware"));
    qputenv(AppSettings::HomeEnvironmentVariable, QFile::encodeName(m_dir.filePath(QStringLiteral("home"))));
    m_portList = m_dir.filePath(QStringLiteral("ports"));
    m_flashOut = m_dir.filePath(QStringLiteral("flash"));
    m_oldFirmware = writeFirmware(m_dir.filePath(QStringLiteral("old.hex")), OldFirmware);
    m_newFirmware = writeFirmware(m_dir.filePath(QStringLiteral("dux1234-v200.hex")), NewFirmware);
    m_simulator.setProcessChannelMode(QProcess::SeparateChannels);
    m_simulator.setReadChannel(QProcess::StandardOutput);
    connect(&m_simulator, &QProcess::readyReadStandardOutput, this, &WireRig::readSimulator);
}

WireRig::~WireRig()
{
    // The tool goes before the plug-ins it points to, and they before the port list goes empty.
    delete m_tool;
    delete m_window;
    m_discovery.reset();
    PeripheryManager* periphery = PeripheryManager::instance();
    periphery->setPollInterval(0);
    // An empty list for the next rig, whose ports all count as new then.
    periphery->setPortSource([] { return QList<QSerialPortInfo>(); });
    periphery->checkActualUSBDevices(true);
    periphery->setPortSource(nullptr);
    m_plugins.reset();
    if (m_simulator.state() != QProcess::NotRunning) {
        m_simulator.terminate();
        if (!m_simulator.waitForFinished(StopTimeoutMs)) {
            m_simulator.kill();
            m_simulator.waitForFinished(StopTimeoutMs);
        }
    }
}

bool WireRig::startModule(const QStringList& arguments)
{
    if (m_oldFirmware.isEmpty() || m_newFirmware.isEmpty())
        return false;
    m_simulator.start(binary("dux-sim"), QStringList{QStringLiteral("--port-file"), m_portList,
                                                     QStringLiteral("--exit-with-parent"),
                                                     QStringLiteral("--report-phases"), QStringLiteral("--flash-out"),
                                                     m_flashOut, QStringLiteral("--type"),
                                                     QLatin1String(ModuleType), QStringLiteral("--firmware"),
                                                     QLatin1String(OldFirmware), QStringLiteral("--flash-image"),
                                                     m_oldFirmware, QStringLiteral("--page-size"),
                                                     QString::number(PageBytes)}
                                             + arguments);
    if (!m_simulator.waitForStarted(StartTimeoutMs))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < StartTimeoutMs) {
        if (!PortListFile::read(m_portList).isEmpty())
            return true;
        if (m_simulator.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(PortPollMs);
    }
    return false;
}

bool WireRig::startHost()
{
    m_plugins = std::make_unique<PluginHandler>();
    m_discovery = std::make_unique<ModuleDiscovery>(m_plugins.get());
    m_discovery->setProbeAddresses({ModuleAddress});
    m_discovery->start();
    PeripheryManager* periphery = PeripheryManager::instance();
    const QString portList = m_portList;
    periphery->setPortSource([portList] { return PortListFile::read(portList); });
    periphery->setPollInterval(PortPollMs);
    startTool();
    return waitForModule(true, StartTimeoutMs)
        && !m_tool->findChild<QComboBox*>(QStringLiteral("cmbModules"))->currentText().isEmpty();
}

void WireRig::startTool()
{
    // A window left from an earlier tool goes with whatever is still in it.
    delete m_window;
    m_window = new QDialog;
    m_tool = new FirmwareUpdate(QStringLiteral("FirmwareUpdate"), m_plugins.get());
    // The host tells its container plug-ins when a module comes or goes.
    connect(m_discovery.get(), &ModuleDiscovery::moduleAdded, m_tool, [this](DUXLModuleInterface* module) {
        static_cast<ContainerInterface*>(m_tool)->handleModulePlugin(module, QLatin1String(ModuleAddedMessage));
    });
    connect(m_discovery.get(), &ModuleDiscovery::moduleRemoved, m_tool, [this](DUXLModuleInterface* module) {
        static_cast<ContainerInterface*>(m_tool)->handleModulePlugin(module, QLatin1String(ModuleRemovedMessage));
    });
    m_tool->setParent(m_window);
    m_tool->init(m_window);
    m_window->show();
    watchProgress();
}

void WireRig::stopHost()
{
    delete m_window;
    m_discovery.reset();
    m_plugins.reset();
}

void WireRig::watchProgress()
{
    connect(lineEdit("leProgress"), &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!text.isEmpty())
            m_progressTexts.append(text);
    });
}

void WireRig::powerCycle()
{
    ::kill(pid_t(m_simulator.processId()), SIGUSR1);
}

SimFlash WireRig::restartedFlash()
{
    const SimFlash flash = SimFlash::read(m_flashOut);
    QFile::remove(m_flashOut);
    return flash;
}

SimFlash WireRig::flashNow()
{
    if (!QFile::exists(m_flashOut)) {
        powerCycle();
        static_cast<void>(QTest::qWaitFor([this] { return QFile::exists(m_flashOut); }, StartTimeoutMs));
    }
    return restartedFlash();
}

bool WireRig::waitForModule(bool known, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while ((m_plugins->getModulePluginKeys(true).isEmpty() == known) && clock.elapsed() < timeoutMs)
        QTest::qWait(PortPollMs);
    return m_plugins->getModulePluginKeys(true).isEmpty() != known;
}

void WireRig::destroyTool()
{
    delete m_tool;
}

void WireRig::closeWindow()
{
    m_window->reject();
}

void WireRig::reopenWindow()
{
    // The closed window goes once the tool sits in the new one.
    QDialog* closed = m_window;
    m_window = new QDialog;
    m_tool->setParent(m_window);
    delete closed;
    m_tool->init(m_window);
    m_tool->show();
    m_window->show();
}

QPushButton* WireRig::button(const char* name) const
{
    return m_tool->findChild<QPushButton*>(QLatin1String(name));
}

QLineEdit* WireRig::lineEdit(const char* name) const
{
    return m_tool->findChild<QLineEdit*>(QLatin1String(name));
}

QString WireRig::historyText() const
{
    return m_tool->findChild<QTextEdit*>(QStringLiteral("teHistory"))->toPlainText();
}

DUXLModuleInterface* WireRig::module() const
{
    const QStringList keys = m_plugins->getModulePluginKeys(true);
    return keys.isEmpty() ? nullptr : m_plugins->getModulePlugin(keys.first());
}

DUXLConnectionInterface* WireRig::connection() const
{
    DUXLModuleInterface* found = module();
    return found ? found->connectionInterface() : nullptr;
}

bool WireRig::simulatorSaid(const QString& prefix) const
{
    for (const QString& line : m_simLines) {
        if (line.startsWith(prefix))
            return true;
    }
    return false;
}

bool WireRig::simulatorSaidAfter(const QString& earlier, const QString& later) const
{
    bool seen = false;
    for (const QString& line : m_simLines) {
        if (seen && line.startsWith(later))
            return true;
        seen = seen || line.startsWith(earlier);
    }
    return false;
}

bool WireRig::linkHandedBack() const
{
    auto* link = qobject_cast<SerialConnection*>(connection());
    return link && link->isActive() && link->isPluginEnabled() && module()->isPluginEnabled();
}

QString WireRig::moduleFirmware() const
{
    DUXLModuleInterface* found = module();
    if (!found || !found->connectionInterface()->commandHandler()->isDeviceOpen())
        return QString();
    return found->connectionInterface()->commandHandler()->getFirmwareVersion(found->moduleAddress());
}

QString WireRig::homePath() const
{
    return AppSettings::homePath();
}

QString WireRig::poolPath() const
{
    return QDir::cleanPath(homePath() + QStringLiteral("/../Firmware"));
}

bool WireRig::chooseModuleAndFile(const QString& file)
{
    button("btnRefresh")->click();
    auto* modules = m_tool->findChild<QComboBox*>(QStringLiteral("cmbModules"));
    if (modules->count() == 0)
        return false;
    modules->setCurrentIndex(0);
    QLineEdit* fileName = lineEdit("leFilename");
    fileName->clear();
    fileName->setText(file.isEmpty() ? m_newFirmware : file);
    return button("btnUpdate")->isEnabled();
}

bool WireRig::workerFinished()
{
    return Global::instance(false)->registeredThreadCount() == 0;
}

void WireRig::readSimulator()
{
    m_simPending += m_simulator.readAllStandardOutput();
    for (int end = m_simPending.indexOf('\n'); end >= 0; end = m_simPending.indexOf('\n')) {
        const QString line = QString::fromLocal8Bit(m_simPending.left(end));
        m_simPending.remove(0, end + 1);
        m_simLines.append(line);
    }
}

void WireRig::updateAndReadBack(const QString& file)
{
    WorkerReportApplication* app = WorkerReportApplication::instance();
    QVERIFY(chooseModuleAndFile(file));
    // On a USB link the tool does not follow the port change of a module it found in its bootloader:
    // it shows the new firmware only after an update that began in the firmware.
    const bool toolFollows = connection()->interfaceType() != DUXLConnectionInterface::Usb
                             || !lineEdit("leActualFirmware")->text().contains(QLatin1Char('b'), Qt::CaseInsensitive);
    app->watch(m_tool);
    button("btnUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!app->reports().isEmpty(), RunMs);
    QCOMPARE(app->reports(), QList<bool>{true});
    QTRY_COMPARE_WITH_TIMEOUT(moduleFirmware(), QLatin1String(NewFirmware), RunMs);
    // Judged by what the module holds: the flash as it was when the module restarted.
    const SimFlash flash = restartedFlash();
    QVERIFY2(flash.isValid(), qPrintable(flash.error()));
    const QString written = file.isEmpty() ? m_newFirmware : file;
    QVERIFY2(flash.differenceFrom(written).isEmpty(), qPrintable(flash.differenceFrom(written)));
    QVERIFY2(flash.storedDifferenceFrom(written).isEmpty(), qPrintable(flash.storedDifferenceFrom(written)));
    if (toolFollows)
        QTRY_COMPARE_WITH_TIMEOUT(lineEdit("leActualFirmware")->text(), QLatin1String(NewFirmware), RunMs);
    QTRY_VERIFY_WITH_TIMEOUT(workerFinished(), WorkerLeavesMs);
}
