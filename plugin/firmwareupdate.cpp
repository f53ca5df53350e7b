#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "command.h"
#include "duxlmoduleinterface.h"
#include "elapsedclock.h"
#include "formicons.h"
#include "formsetup.h"
#include "functionname.h"
#include "lowlevel.h"
#include "peripherymanager.h"
#include "updateform.h"
#include "updatesession.h"
#include "valuefieldwidths.h"

#include <QDebug>

namespace {
constexpr const char* VersionInfo = "4.6.0 - vamberplug;Plugin-Interface.4.6.0.vamberplug;Plugin ;Plugin.Interface.";
constexpr const char* PluginTitle = "Firmware Update";
constexpr const char* PluginIcon = ":/Software-Icons/fwUpdate";
constexpr int PluginKind = 1;
constexpr int ClockIntervalMs = 200;
}

FirmwareUpdate::FirmwareUpdate()
    : ContainerInterface(QStringLiteral("undefined"), QLatin1String(PluginTitle), PluginKind, nullptr,
                         QLatin1String(PluginIcon), nullptr)
    , formIcons(std::make_shared<FormIcons>())
    , session(new UpdateSession(nullptr, settings, this))
{
}

FirmwareUpdate::FirmwareUpdate(QString key, PluginHandler* handler)
    : ContainerInterface(key, QLatin1String(PluginTitle), PluginKind, handler, QLatin1String(PluginIcon), nullptr)
    , formIcons(std::make_shared<FormIcons>())
    , session(new UpdateSession(handler, settings, this))
{
    setProperty("dpShowOnToolbar", true);
}

FirmwareUpdate::~FirmwareUpdate()
{
    if (!ui)
        return;
    elapsedTimeTimer.stop();
    qCDebug(debLowLevel) << "virtual FirmwareUpdate::~FirmwareUpdate()" << "plus 2:";
    session->shutDown();
    qCDebug(debLowLevel) << "                        1";
    delete ui;
    qCDebug(debLowLevel) << "                         2";
}

QString FirmwareUpdate::versionInfo()
{
    return QLatin1String(VersionInfo);
}

PluginInterface* FirmwareUpdate::createInstance(QString key, PluginHandler* handler)
{
    auto* instance = new FirmwareUpdate(key, handler);
    instance->formIcons = formIcons;
    return instance;
}

void FirmwareUpdate::init(QWidget* parent)
{
    if (parent != parentWidget())
        qWarning() << "virtual void FirmwareUpdate::init(QWidget*)" << parent << parentWidget();

    if (!ui) {
        ui = new Ui::FirmwareUpdate;
        FormSetup::buildScrollingForm(ui, this);
        formIcons->share(this);
        reserveValueFieldWidths(ui);
        ui->gbNewFirmware->setEnabled(false);
        ui->btnCancel->setEnabled(false);
        ui->btnUpdate->setEnabled(false);

        session->createWorker();

        connectSession();
        FormSetup::buildSelectMenu(ui, this);

        setProperty("dpStatusTip", tr("use this tool to update modules"));

        elapsedTimeTimer.setInterval(ClockIntervalMs);
        connect(&elapsedTimeTimer, SIGNAL(timeout()), this, SLOT(dumpElapsedTime()));

        connect(PeripheryManager::instance(), &PeripheryManager::handleUSBInterfaces, this,
                &FirmwareUpdate::handleUSBDevices);
        PeripheryManager::instance()->checkActualUSBDevices(false);

        firmwareDirectory = QStringLiteral("/");
        setAcceptDrops(true);
        connect(ui->leFilename, SIGNAL(textChanged(QString)), this, SLOT(fileNameChanged(QString)));

        FormSetup::buildFileToolTip(ui, this, QLatin1String(PluginIcon));
        leaveSelection = false;
    }

    connect(parentWidget(), SIGNAL(finished(int)), this, SLOT(finished(int)));
    if (!moduleListLoaded && !elapsedTimeTimer.isActive()) {
        on_btnRefresh_clicked();
        moduleListLoaded = true;
    }
}

void FirmwareUpdate::connectSession()
{
    // The settings report and the clock come before the form's lock, as an update's first steps.
    connect(session, &UpdateSession::begun, this, [this] {
        reportUnsavedSettings();
        elapsedTimer.start();
        elapsedTimeTimer.start();
    });
    connect(session, &UpdateSession::released, &elapsedTimeTimer, &QTimer::stop);
    form = new UpdateForm(session, ui, this);
    connect(session, &UpdateSession::listRebuildWanted, this, &FirmwareUpdate::on_btnRefresh_clicked);
    connect(session, &UpdateSession::concluded, this, &FirmwareUpdate::concludeUpdate);
    connect(session, &UpdateSession::firmwareCompleted, this, &FirmwareUpdate::handleFirmwareCompleted);
}

void FirmwareUpdate::finished(int code)
{
    Q_UNUSED(code)
    disconnect(this, nullptr, nullptr, nullptr);
    if (parentWidget())
        parentWidget()->deleteLater();
    setParent(nullptr);
    moduleListLoaded = false;
}

namespace {
constexpr const char* WindowTitle = "Firmware Update";
constexpr const char* WatchdogText = "An error has occurred ";
}

void FirmwareUpdate::handleProgressMessage(QString message)
{
    ui->leProgress->setText(message);
}

void FirmwareUpdate::handleDebugMessage(QString message)
{
    form->addHistoryLine(message);
}

void FirmwareUpdate::handleModuleVersion(QString version)
{
    ui->leModuleVersion->setText(version);
}

void FirmwareUpdate::dumpElapsedTime()
{
    const qint64 elapsedMs = elapsedTimer.isValid() ? elapsedTimer.elapsed() : 0;
    if (parentWidget())
        parentWidget()->setWindowTitle(QLatin1String(WindowTitle) + ElapsedClock::titleSuffix(elapsedMs));
    if (!ui->btnCancel->isEnabled() && elapsedMs >= ElapsedClock::WatchdogMs) {
        ui->teHistory->append(QLatin1String(WatchdogText));
        ui->btnCancel->setEnabled(true);
    }
}
