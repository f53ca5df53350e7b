#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "basictools.h"
#include "command.h"
#include "commandhandlerinterface.h"
#include "duxlmoduleinterface.h"
#include "elapsedclock.h"
#include "firmwareupdaterthread.h"
#include "formicons.h"
#include "functionname.h"
#include "lowlevel.h"
#include "peripherymanager.h"
#include "tooltip.h"
#include "updateoutcome.h"
#include "updaterecorder.h"
#include "valuefieldwidths.h"
#include "workerbridge.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QMenu>
#include <QPointer>
#include <QTextCursor>
#include <QTextStream>

namespace {
constexpr const char* VersionInfo = "4.6.0 - vamberplug;Plugin-Interface.4.6.0.vamberplug;Plugin ;Plugin.Interface.";
constexpr const char* PluginTitle = "Firmware Update";
constexpr const char* PluginIcon = ":/Software-Icons/fwUpdate";
constexpr int PluginKind = 1;
constexpr int ClockIntervalMs = 200;
// How often the destructor looks for worker requests that wait on this thread while it joins the worker.
constexpr int WorkerJoinPollMs = 20;
}

FirmwareUpdate::FirmwareUpdate()
    : ContainerInterface(QStringLiteral("undefined"), QLatin1String(PluginTitle), PluginKind, nullptr,
                         QLatin1String(PluginIcon), nullptr)
    , formIcons(std::make_shared<FormIcons>())
    , outcome(new UpdateOutcome(this))
{
    outcome->setObjectName(QStringLiteral("updateOutcome"));
}

FirmwareUpdate::FirmwareUpdate(QString key, PluginHandler* handler)
    : ContainerInterface(key, QLatin1String(PluginTitle), PluginKind, handler, QLatin1String(PluginIcon), nullptr)
    , formIcons(std::make_shared<FormIcons>())
    , outcome(new UpdateOutcome(this))
{
    outcome->setObjectName(QStringLiteral("updateOutcome"));
    setProperty("dpShowOnToolbar", true);
}

FirmwareUpdate::~FirmwareUpdate()
{
    if (!ui)
        return;
    // Between its start and its completion an update holds the module and its link.
    const bool updateUnderWay = elapsedTimeTimer.isActive();
    elapsedTimeTimer.stop();
    qCDebug(debLowLevel) << "virtual FirmwareUpdate::~FirmwareUpdate()" << "plus 2:";
    if (updater)
        stopWorker();
    if (updateUnderWay)
        handLinkBack(lookUpLink(actualModuleKey));
    qCDebug(debLowLevel) << "                        1";
    delete ui;
    qCDebug(debLowLevel) << "                         2";
}

void FirmwareUpdate::stopWorker()
{
    // The outcome goes with this widget; a worker that outlives it reports to nobody.
    updater->setOutcome(nullptr);
    updater->cancelUpdate();
    // Requests that the worker emits from now on find no receiver and return at once with nothing filled;
    // one it is already blocked in is waiting for this thread, which is busy here: dropping that pending
    // call releases the worker, which then meets the cancel request and ends.
    updater->disconnect();
    if (inWorkerRequest) {
        // This thread is further down inside the worker's request, which the worker waits for: it can
        // only end once this destructor has returned. It meets the cancel point after the erase then.
        connect(updater, &QThread::finished, updater, &QObject::deleteLater);
        updater = nullptr;
        return;
    }
    while (!updater->wait(WorkerJoinPollMs))
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    delete updater;
    updater = nullptr;
}

QString FirmwareUpdate::versionInfo()
{
    return QLatin1String(VersionInfo);
}

void FirmwareUpdate::setParameter(const QString&, const QVariant&, int)
{
}

void FirmwareUpdate::receiveMessage(int, const QString&)
{
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
        ui->setupUi(this);
        formIcons->share(this);
        reserveValueFieldWidths(ui);
        ui->gbNewFirmware->setEnabled(false);
        ui->btnCancel->setEnabled(false);
        ui->btnUpdate->setEnabled(false);

        updater = new FirmwareUpdaterThread;
        updater->setOutcome(outcome);
        // Every update's record, written beside the outcome; a record that cannot be kept is said here.
        auto* recorder = new UpdateRecorder(outcome, this);
        connect(recorder, &UpdateRecorder::unrecorded, this, [this](const QString& text) { tellUser(text); });
        commandHandler = nullptr;
        moduleAddress = 1;
        moduleListLoaded = false;

        connectWorker();
        buildSelectMenu();

        updateState = UpdateState::Idle;
        setProperty("dpStatusTip", tr("use this tool to update modules"));

        elapsedTimeTimer.setInterval(ClockIntervalMs);
        connect(&elapsedTimeTimer, SIGNAL(timeout()), this, SLOT(dumpElapsedTime()));

        connect(PeripheryManager::instance(), &PeripheryManager::handleUSBInterfaces, this,
                &FirmwareUpdate::handleUSBDevices);
        PeripheryManager::instance()->checkActualUSBDevices(false);

        firmwareDirectory = QStringLiteral("/");
        setAcceptDrops(true);
        connect(ui->leFilename, SIGNAL(textChanged(QString)), this, SLOT(fileNameChanged(QString)));

        buildFileToolTip();
        leaveSelection = false;
    }

    connect(parentWidget(), SIGNAL(finished(int)), this, SLOT(finished(int)));
    if (!moduleListLoaded && !elapsedTimeTimer.isActive()) {
        on_btnRefresh_clicked();
        moduleListLoaded = true;
    }
}

void FirmwareUpdate::connectWorker()
{
    WorkerBridge::connect(*updater, *this, *this);
}

QString FirmwareUpdate::runRequest(Command* request, Command* reply)
{
    // The erase runs the event loop, in which the host may destroy this widget.
    const QPointer<FirmwareUpdate> alive(this);
    forwardDoDirectRequest(request, reply);
    return alive && commandHandler ? commandHandler->requestFailure() : QString();
}

void FirmwareUpdate::runRequestWithoutReply(Command* request)
{
    forwardDoDirectRequestWithoutAnswer(request);
}

void FirmwareUpdate::readFirmwareVersion(QString* version, int moduleAddress)
{
    handleGetFirmwareVersion(version, moduleAddress);
}

void FirmwareUpdate::closeDevice()
{
    handleCloseDevice();
}

void FirmwareUpdate::reopenDevice(int moduleState)
{
    handleReOpenDevice(moduleState);
}

void FirmwareUpdate::showProgressMessage(const QString& message)
{
    ui->leProgress->setText(message);
}

void FirmwareUpdate::showDebugMessage(const QString& message)
{
    handleDebugMessage(message);
}

void FirmwareUpdate::showProgressBarValue(int value)
{
    ui->pbProcess->setValue(value);
}

void FirmwareUpdate::showProgressBarMaximum(int maximum)
{
    ui->pbProcess->setMaximum(maximum);
}

void FirmwareUpdate::showModuleVersion(const QString& version)
{
    handleModuleVersion(version);
}

void FirmwareUpdate::updateCompleted(bool successful)
{
    handleUpdateCompleted(successful);
}

void FirmwareUpdate::buildSelectMenu()
{
    // Owned by this widget rather than left without parent, so that it goes with the form.
    auto* selectMenu = new QMenu(this);
    selectMenu->addAction(new QAction(QIcon(QStringLiteral(":/moreIcons/DirectoryPool")),
                                      QStringLiteral("Local pool"), this));
    selectMenu->addAction(new QAction(ui->btnSelect->icon(), ui->btnSelect->text(), this));
    ui->btnSelect->setMenu(selectMenu);
    connect(selectMenu, SIGNAL(aboutToShow()), this, SLOT(prepareSelect()));
    connect(ui->btnSelect, SIGNAL(triggered(QAction*)), this, SLOT(toolSelectAction(QAction*)));
    ui->btnSelect->setDefaultAction(ui->btnSelect->actions().last());
    ui->btnSelect->setIcon(selectMenu->actions().last()->icon());
    ui->btnSelect->setText(selectMenu->actions().last()->text());
}

void FirmwareUpdate::buildFileToolTip()
{
    ToolTip builder(0, 1.0, 1, QColor(QStringLiteral("navy")));
    builder.addCaption(BasicTools::setPixmapToHtml(QPixmap(QLatin1String(PluginIcon)), QSize(32, 32))
                       + QStringLiteral("Get a filename"));
    builder.addToolTip({QStringLiteral("Browse to a firmware file"), QStringLiteral("Enter or paste absolute filename"),
                        QStringLiteral("Drop a file here")});
    ui->gbNewFirmware->setToolTip(builder.getToolTip());
    ui->gbNewFirmware->setProperty("dpAdvancedTip", toolTip());
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
constexpr const char* HistoryEchoPrefix = "void FirmwareUpdate::handleDebugMessage(QString)";
// One of these per flash page: they stay out of the console, which would slow the write down.
constexpr const char* UnechoedHistoryPrefix = "Writing page at";
constexpr const char* WindowTitle = "Firmware Update";
constexpr const char* WatchdogText = "An error has occurred ";
}

void FirmwareUpdate::handleProgressMessage(QString message)
{
    ui->leProgress->setText(message);
}

void FirmwareUpdate::handleDebugMessage(QString message)
{
    // Each message gets a block of its own and the cursor waits in a fresh empty block after it: the
    // reader sees one line per message as with a line break, but an insertion only lays out its own
    // block, where one growing paragraph would be laid out again in full for every line.
    QTextCursor cursor = ui->teHistory->textCursor();
    cursor.insertHtml(message);
    // The new line starts without the colour a span of the message may have left at the cursor.
    cursor.insertBlock(cursor.blockFormat(), QTextCharFormat());
    ui->teHistory->setTextCursor(cursor);
    ui->teHistory->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
    ui->teHistory->update();

    if (message.startsWith(QLatin1String(UnechoedHistoryPrefix)))
        return;
    QTextStream console(stderr);
    console << HistoryEchoPrefix << ' ' << message << "\r\n";
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
