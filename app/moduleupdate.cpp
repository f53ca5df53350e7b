#include "moduleupdate.h"

#include "containerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "hostwindow.h"
#include "linkpolicy.h"
#include "moduleview.h"
#include "peripherymanager.h"

#include <QDialog>

namespace {
constexpr int MsPerSecond = 1000;
}

ModuleUpdate::ModuleUpdate(ContainerInterface* plugin, PluginHandler* handler, HostWindow* window,
                           const QString& moduleKey, const QString& fileName, QObject* parent)
    : QObject(parent)
    , m_moduleKey(moduleKey)
    , m_fileName(fileName)
{
    DUXLModuleInterface* module = handler->getModulePlugin(moduleKey);
    DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
    const bool usb = connection && LinkPolicy::forKind(connection->interfaceType()).followsPortChange();
    m_view = std::make_unique<ModuleView>(handler, moduleKey, usb);
    auto* instance = qobject_cast<ContainerInterface*>(plugin->createInstance(moduleKey, m_view.get()));
    m_window = window->openContainer(instance);
    // The tool follows every port that appears during its update, as a module on a USB link comes
    // back under a new one. Among several modules that would be another module's port: a tool on any
    // other link gets no port reports.
    if (!usb)
        disconnect(PeripheryManager::instance(), &PeripheryManager::handleUSBInterfaces, instance, nullptr);
    m_window->setWindowTitle(QStringLiteral("%1 %2").arg(instance->name(), moduleKey));
    m_driver = std::make_unique<UpdateDriver>(instance, nullptr);
    m_driver->setModuleKey(moduleKey);
    m_driver->setFileName(fileName);
    connect(m_driver.get(), &UpdateDriver::phaseChanged, this, &ModuleUpdate::phaseChanged);
    connect(m_driver.get(), &UpdateDriver::progressed, this, &ModuleUpdate::progressed);
    connect(m_driver.get(), &UpdateDriver::ended, this, &ModuleUpdate::driverEnded);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { cancel(UpdateResult::Outcome::TimedOut); });
    m_result.moduleKey = moduleKey;
    m_result.port = moduleKey.section(QLatin1Char('/'), 0, 0);
    m_result.fileName = fileName;
}

ModuleUpdate::~ModuleUpdate()
{
    m_driver.reset();
    delete m_window.data();
}

UpdateDriver::StartResult ModuleUpdate::start()
{
    const UpdateDriver::StartResult started = m_driver->start();
    m_result.identifier = m_driver->fileVersion();
    if (started != UpdateDriver::StartResult::Started) {
        m_result.failureText = m_driver->errorString();
        return started;
    }
    m_running = true;
    return started;
}

void ModuleUpdate::setTimeout(int seconds)
{
    m_result.timeoutSeconds = seconds;
    if (seconds > 0)
        m_timeout.start(seconds * MsPerSecond);
}

void ModuleUpdate::cancel(UpdateResult::Outcome outcome)
{
    if (!m_running || m_cancelled)
        return;
    m_cancelled = true;
    m_cancelOutcome = outcome;
    m_driver->cancel();
}

UpdateResult ModuleUpdate::result() const
{
    if (!m_running)
        return m_result;
    UpdateResult sofar = m_result;
    sofar.phase = m_driver->phase();
    sofar.bytes = m_driver->bytesWritten();
    return sofar;
}

void ModuleUpdate::driverEnded(const UpdateResult& result)
{
    m_running = false;
    m_timeout.stop();
    const int timeoutSeconds = m_result.timeoutSeconds;
    m_result = result;
    m_result.timeoutSeconds = timeoutSeconds;
    if (m_cancelled && result.outcome != UpdateResult::Outcome::Updated) {
        m_result.outcome = m_cancelOutcome;
        if (m_cancelOutcome == UpdateResult::Outcome::TimedOut)
            m_result.failureText = QStringLiteral("timed out after %1 s").arg(timeoutSeconds);
        else if (m_cancelOutcome == UpdateResult::Outcome::Interrupted)
            m_result.failureText = QStringLiteral("interrupted");
    }
    emit ended(m_result);
}
