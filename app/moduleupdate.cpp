#include "moduleupdate.h"

#include "containerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "hostwindow.h"
#include "modulekey.h"
#include "moduleview.h"
#include "linkpolicy.h"

#include <QDateTime>
#include <QDialog>
#include <QThread>

namespace {
constexpr int MsPerSecond = 1000;
}

ModuleUpdate::ModuleUpdate(ContainerInterface* plugin, PluginHandler* handler, HostWindow* window,
                           const QString& moduleKey, const QString& fileName, QTextStream* out, bool printHistory,
                           QObject* parent)
    : QObject(parent)
    , m_moduleKey(moduleKey)
    , m_fileName(fileName)
{
    DUXLModuleInterface* module = handler->getModulePlugin(moduleKey);
    DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
    // A module that comes back under new ports shows up in the instance's register under them; the
    // instance itself follows port changes only on such links (its LinkPolicy), so the ports of other
    // modules updated beside it do not concern it.
    const bool followNewModules = connection && LinkPolicy::forKind(connection->interfaceType()).followsPortChange();
    m_view = std::make_unique<ModuleView>(handler, moduleKey, followNewModules);
    auto* instance = qobject_cast<ContainerInterface*>(plugin->createInstance(moduleKey, m_view.get()));
    m_instance = instance;
    m_window = window->openContainer(instance);
    m_window->setWindowTitle(QStringLiteral("%1 %2").arg(instance->name(), moduleKey));
    m_driver = std::make_unique<UpdateDriver>(instance, out);
    m_driver->setModuleKey(moduleKey);
    m_driver->setFileName(fileName);
    m_driver->setPrintHistory(printHistory && out);
    connect(m_driver.get(), &UpdateDriver::phaseChanged, this, &ModuleUpdate::phaseChanged);
    connect(m_driver.get(), &UpdateDriver::progressed, this, &ModuleUpdate::progressed);
    connect(m_driver.get(), &UpdateDriver::ended, this, &ModuleUpdate::driverEnded);
    connect(m_driver.get(), &UpdateDriver::historyLine, this, &ModuleUpdate::historyLine);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { cancel(UpdateResult::Result::TimedOut); });
    m_result.startedUtc = QDateTime::currentDateTimeUtc();
    m_result.moduleKey = moduleKey;
    m_result.fileName = fileName;
    m_result.firmwareBefore = module ? module->firmwareVersion() : QString();
}

void ModuleUpdate::setScreenshot(const QString& path, int percent)
{
    m_driver->setScreenshot(path, percent);
}

ModuleUpdate::~ModuleUpdate()
{
    m_driver.reset();
    delete m_window.data();
}

UpdateDriver::StartResult ModuleUpdate::start()
{
    const UpdateDriver::StartResult started = m_driver->start();
    m_result.fileIdentifier = m_driver->fileVersion();
    if (started != UpdateDriver::StartResult::Started) {
        m_result.failureText = m_driver->errorString();
        return started;
    }
    m_result.firmwareBefore = m_driver->moduleFirmware();
    m_running = true;
    return started;
}

void ModuleUpdate::setUnit(const UpdateDriver::Unit& unit)
{
    m_driver->setUnit(unit);
}

void ModuleUpdate::hideWindow()
{
    m_window->hide();
}

void ModuleUpdate::setTimeout(int seconds)
{
    m_result.timeoutSeconds = seconds;
    m_timeout.start(seconds * MsPerSecond);
}

void ModuleUpdate::setCancelBound(int seconds)
{
    m_result.timeoutSeconds = seconds;
}

void ModuleUpdate::cancel(UpdateResult::Result outcome)
{
    if (!m_running || m_cancelled)
        return;
    m_cancelled = true;
    m_cancelOutcome = outcome;
    // Interrupted: exit code 3, like the run's; a time-out is a failure (exit code 1).
    m_driver->cancel(cancelText(outcome), outcome == UpdateResult::Result::Interrupted);
}

QString ModuleUpdate::cancelText(UpdateResult::Result outcome) const
{
    return outcome == UpdateResult::Result::TimedOut ? m_result.timedOutText() : QStringLiteral("interrupted");
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

void ModuleUpdate::keepWindowOpen()
{
    if (!m_window || !m_instance)
        return;
    // Closed, the window hands its instance back (it detaches itself, and drops every connection of its
    // own, its destroyed() among them): then the instance goes, and after it its register, deleted
    // in the order they were posted.
    ModuleView* view = m_view.release();
    connect(m_window, &QDialog::finished, view, [view, instance = m_instance] {
        if (instance)
            instance->deleteLater();
        view->deleteLater();
    });
    m_window->setAttribute(Qt::WA_DeleteOnClose);
    m_window.clear();
}

QThread* ModuleUpdate::worker() const
{
    // By class name: the plug-in's classes are known to this program only by their meta-objects.
    for (QThread* thread : m_instance ? m_instance->findChildren<QThread*>() : QList<QThread*>()) {
        if (thread->inherits("FirmwareUpdaterThread"))
            return thread;
    }
    return nullptr;
}

bool ModuleUpdate::workerRunning() const
{
    const QThread* thread = worker();
    return thread && thread->isRunning();
}

void ModuleUpdate::deleteOnceWorkerLeft(int unstartedBoundMs)
{
    QThread* const worker = this->worker();
    if (!worker || worker->isFinished()) {
        deleteLater();
        return;
    }
    // Connected before the question, so that an end in between is not missed.
    connect(worker, &QThread::finished, this, &QObject::deleteLater);
    if (worker->isFinished())
        deleteLater();
    else if (!worker->isRunning())
        QTimer::singleShot(unstartedBoundMs, this, [this, worker = QPointer<QThread>(worker)] {
            if (!worker || !worker->isRunning())
                deleteLater();
        });
}

void ModuleUpdate::driverEnded(const UpdateResult& result)
{
    m_running = false;
    m_timeout.stop();
    const int timeoutSeconds = m_result.timeoutSeconds;
    m_result = result;
    m_result.timeoutSeconds = timeoutSeconds;
    // The plug-in ends a cancelled update as failed; the run says why it was cancelled.
    if (m_cancelled && result.result == UpdateResult::Result::Failed) {
        m_result.result = m_cancelOutcome;
        m_result.failureText = cancelText(m_cancelOutcome);
    }
    emit ended(m_result);
}
