#include "hostwindow.h"

#include "containerinterface.h"
#include "containerloader.h"
#include "doctor.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "installlayout.h"
#include "modulediscovery.h"
#include "pluginhandler.h"
#include "recordkeeper.h"
#include "recordsview.h"
#include "stationlauncher.h"
#include "wirecapture.h"

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QScreen>
#include <QFileDialog>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int MainWidth = 640;
constexpr int MainHeight = 360;
constexpr int ContainerWidth = 560;
constexpr int ContainerHeight = 640;
constexpr int RecordsWidth = 900;
constexpr int RecordsHeight = 700;
constexpr int DoctorWidth = 640;
constexpr int DoctorHeight = 360;
// The signal a container may have to report the end of an update, and its message for success.
constexpr const char* OutcomeObjectName = "updateOutcome";
constexpr const char* UpdateSucceededMessage = "true";
enum Column { KeyColumn, TypeColumn, AddressColumn, FirmwareColumn, LinkColumn, ColumnCount };
}

HostWindow::HostWindow(PluginHandler* handler, ModuleDiscovery* discovery,
                       const QList<ContainerInterface*>& containers, QWidget* parent)
    : QMainWindow(parent)
    , m_handler(handler)
    , m_hint(new QLabel)
    , m_modules(new QTreeWidget)
    , m_ifChanged(nullptr)
    , m_capture(nullptr)
    , m_verify(nullptr)
    , m_ifNewer(nullptr)
    , m_expectedSha256(nullptr)
    , m_pluginFolder(InstallLayout::pluginFolder())
{
    setWindowTitle(tr("dux host"));
    resize(MainWidth, MainHeight);
    buildModuleList();

    QToolBar* tools = addToolBar(tr("Tools"));
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addContainerActions(tools, containers);
    addLookActions(tools, discovery);
    addStationAction(tools, containers, discovery);
    addUpdateChoices(tools);
    addCaptureAction(tools);
    addSettingsMenu();
    addHelpMenu();
    followModules(handler);
    refreshModules();
}

void HostWindow::buildModuleList()
{
    m_modules->setColumnCount(ColumnCount);
    m_modules->setHeaderLabels({tr("Module"), tr("Type"), tr("Address"), tr("Firmware"), tr("Link")});
    m_modules->setRootIsDecorated(false);
    m_modules->header()->setSectionResizeMode(KeyColumn, QHeaderView::Stretch);
    m_hint->setObjectName(QStringLiteral("firstStepHint"));
    m_hint->setWordWrap(true);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(m_hint);
    layout->addWidget(m_modules);
    setCentralWidget(central);
}

void HostWindow::addContainerActions(QToolBar* tools, const QList<ContainerInterface*>& containers)
{
    for (ContainerInterface* container : containers) {
        QAction* action = tools->addAction(QIcon(container->iconPath()), container->name());
        connect(action, &QAction::triggered, this, [this, container] { openContainer(container); });
    }
}

void HostWindow::addLookActions(QToolBar* tools, ModuleDiscovery* discovery)
{
    QAction* scan = tools->addAction(tr("Look for modules"));
    connect(scan, &QAction::triggered, discovery, &ModuleDiscovery::rescan);
    QAction* records = tools->addAction(tr("Records"));
    records->setObjectName(QStringLiteral("recordsAction"));
    connect(records, &QAction::triggered, this, &HostWindow::openRecords);
}

void HostWindow::addStationAction(QToolBar* tools, const QList<ContainerInterface*>& containers,
                                  ModuleDiscovery* discovery)
{
    QAction* station = tools->addAction(tr("Station..."));
    station->setObjectName(QStringLiteral("stationAction"));
    station->setToolTip(tr("Flash the modules present as the fixtures of a production station: one firmware file, a "
                           "serial number per unit, pass or fail at a glance."));
    const auto updater = std::find_if(containers.cbegin(), containers.cend(), [](ContainerInterface* container) {
        return QLatin1String(container->metaObject()->className()) == QLatin1String(ContainerLoader::UpdatePluginClass);
    });
    if (updater == containers.cend()) {
        station->setEnabled(false);
    } else {
        connect(station, &QAction::triggered, this, [this, discovery, tool = *updater] {
            StationLauncher::open({tool, m_handler, discovery, this}, this);
        });
    }
}

void HostWindow::addUpdateChoices(QToolBar* tools)
{
    // A skip and a verify cannot both decide what an update does: choosing one drops the other.
    auto* choices = new QActionGroup(this);
    choices->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    m_ifChanged = addChoice(tools, choices, tr("Only if changed"), "ifChangedAction",
                            tr("Leave a module that already holds the chosen file as it is: it must run the file's "
                               "firmware, and its checksum and every page's sum, read in the bootloader, must equal "
                               "the file's; it is then restarted without an erase."));
    m_verify = addChoice(tools, choices, tr("Verify"), "verifyAction",
                         tr("Update only compares: the module's checksum and every page's sum, read in the "
                            "bootloader, against the chosen file's; the pages that differ are named, and the module "
                            "is restarted without an erase."));
}

void HostWindow::addCaptureAction(QToolBar* tools)
{
    m_capture = tools->addAction(tr("Capture the wire"));
    m_capture->setObjectName(QStringLiteral("captureAction"));
    m_capture->setCheckable(true);
    m_capture->setEnabled(false);
    // triggered, not toggled: only the user's click asks for a file; captureTo() sets the check itself.
    connect(m_capture, &QAction::triggered, this, [this](bool on) {
        const QString path = on ? QFileDialog::getSaveFileName(this, tr("Capture the wire to"), QString(),
                                                              tr("Captures (*.pcap)"))
                                : QString();
        if (on && path.isEmpty())
            showCaptureState();
        else
            captureTo(path);
    });
}

void HostWindow::addSettingsMenu()
{
    // The guards are settings of the updates rather than tools: a menu of their own.
    QMenu* settings = menuBar()->addMenu(tr("&Settings"));
    m_ifNewer = settings->addAction(tr("Only if newer"));
    m_ifNewer->setObjectName(QStringLiteral("ifNewerAction"));
    m_ifNewer->setToolTip(tr("Leave a module whose firmware is as new as the chosen file's, or newer, as it is."));
    m_ifNewer->setCheckable(true);
    connect(m_ifNewer, &QAction::toggled, this, &HostWindow::applyChoicesToShown);
    m_expectedSha256 = settings->addAction(tr("Expected SHA-256..."));
    m_expectedSha256->setObjectName(QStringLiteral("sha256Action"));
    m_expectedSha256->setToolTip(tr("Write only a file with this SHA-256."));
    m_expectedSha256->setCheckable(true);
    connect(m_expectedSha256, &QAction::triggered, this, &HostWindow::chooseExpectedSha256);
}

void HostWindow::addHelpMenu()
{
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    QAction* doctor = help->addAction(tr("Check this computer"));
    doctor->setObjectName(QStringLiteral("doctorAction"));
    doctor->setToolTip(tr("Look for what keeps an update from starting: port access, the udev rule, latency timers, "
                          "ports held by other programs, a modem manager, the plug-ins and the records."));
    connect(doctor, &QAction::triggered, this, &HostWindow::openDoctor);
}

void HostWindow::followModules(PluginHandler* handler)
{
    connect(handler, &PluginHandler::modulePluginAdded, this, &HostWindow::refreshModules);
    connect(handler, &PluginHandler::modulePluginRemoved, this, &HostWindow::refreshModules);
    // A module an update left in its bootloader: what it runs now replaces what an earlier update read.
    connect(handler, &PluginHandler::modulePluginChanged, this, [this](const QString& key) {
        m_updatedVersions.remove(key);
        refreshModules();
    });
}

void HostWindow::setWireCapture(WireCapture* capture)
{
    m_wireCapture = capture;
    m_capture->setEnabled(capture != nullptr);
    showCaptureState();
}

bool HostWindow::captureTo(const QString& path)
{
    if (!m_wireCapture)
        return false;
    bool started = true;
    if (path.isEmpty()) {
        m_wireCapture->close();
    } else if (!m_wireCapture->open(path)) {
        started = false;
        statusBar()->showMessage(tr("Cannot write the capture %1: %2").arg(path, m_wireCapture->errorString()));
    }
    showCaptureState();
    return started;
}

void HostWindow::showCaptureState()
{
    const bool recording = m_wireCapture && m_wireCapture->isOpen();
    m_capture->setChecked(recording);
    m_capture->setToolTip(recording ? tr("Every byte on the links goes to %1; click to stop.").arg(m_wireCapture->path())
                                    : tr("Write every byte on the links to a pcap file, to be read with Wireshark."));
}

QDialog* HostWindow::openContainer(ContainerInterface* container)
{
    if (QWidget* window = container->parentWidget()) {
        window->raise();
        window->activateWindow();
        return qobject_cast<QDialog*>(window);
    }
    // Each container shown here, or an instance of it that runs an update, may report its module's new version.
    if (QObject* outcome = container->findChild<QObject*>(QLatin1String(OutcomeObjectName))) {
        connect(outcome, SIGNAL(finished(UpdateOutcome::Report)), this, SLOT(outcomeFinished(UpdateOutcome::Report)),
                Qt::UniqueConnection);
    }
    auto* window = new QDialog(this);
    window->setWindowTitle(container->name());
    // On a small screen the window takes what there is, and the form scrolls in it.
    window->resize(QSize(ContainerWidth, ContainerHeight).boundedTo(screen()->availableSize()));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    container->setParent(window);
    applyChoices(container);
    layout->addWidget(container);
    container->init(window);
    // A dialog makes its push buttons default buttons of their own accord, and presses the default
    // one on Enter, wherever the focus is.
    const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
    for (QPushButton* button : buttons) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // The container's own title is translated; the name it registered with is not.
    if (!container->windowTitle().isEmpty())
        window->setWindowTitle(container->windowTitle());
    container->show();
    window->show();
    return window;
}

QDialog* HostWindow::openRecords()
{
    return openPanel(tr("Records"), QSize(RecordsWidth, RecordsHeight),
                     new RecordsView(RecordKeeper::configuredLocation()));
}

QDialog* HostWindow::openDoctor()
{
    auto* report = new QPlainTextEdit;
    report->setObjectName(QStringLiteral("doctorReport"));
    report->setReadOnly(true);
    report->setPlainText(Doctor::report(
        Doctor(Doctor::Machine(), m_pluginFolder, RecordKeeper::configuredLocation()).examine()));
    return openPanel(tr("Check this computer"), QSize(DoctorWidth, DoctorHeight), report);
}

QDialog* HostWindow::openPanel(const QString& title, const QSize& size, QWidget* content)
{
    auto* window = new QDialog(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(title);
    window->resize(size);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(content);
    window->show();
    return window;
}

void HostWindow::setPluginFolder(const QString& folder)
{
    m_pluginFolder = folder;
}

void HostWindow::setRunOptions(const RunOptions& options)
{
    m_runOptions = options;
    m_ifChanged->setChecked(options.ifChanged);
    m_verify->setChecked(options.verifyOnly);
    m_ifNewer->setChecked(options.ifNewer);
    setExpectedSha256(options.expectedSha256);
}

void HostWindow::setExpectedSha256(const QString& sha256)
{
    m_sha256 = sha256.trimmed().toLower();
    m_expectedSha256->setChecked(!m_sha256.isEmpty());
    m_expectedSha256->setToolTip(m_sha256.isEmpty() ? tr("Write only a file with this SHA-256.")
                                                    : tr("Only a file with the SHA-256 %1 is written.").arg(m_sha256));
    applyChoicesToShown();
}

void HostWindow::chooseExpectedSha256()
{
    bool ok = false;
    const QString sha256 = QInputDialog::getText(this, tr("Expected SHA-256"),
                                                 tr("The SHA-256 of the file to write (empty: any file):"),
                                                 QLineEdit::Normal, m_sha256, &ok);
    setExpectedSha256(ok ? sha256 : m_sha256);
}

QAction* HostWindow::addChoice(QToolBar* tools, QActionGroup* group, const QString& text, const char* name,
                              const QString& toolTip)
{
    QAction* choice = tools->addAction(text);
    choice->setObjectName(QLatin1String(name));
    choice->setToolTip(toolTip);
    choice->setCheckable(true);
    group->addAction(choice);
    connect(choice, &QAction::toggled, this, &HostWindow::applyChoicesToShown);
    return choice;
}

void HostWindow::applyChoices(QObject* container) const
{
    RunOptions options = m_runOptions;
    options.ifChanged = m_ifChanged->isChecked();
    options.verifyOnly = m_verify->isChecked();
    options.ifNewer = m_ifNewer->isChecked();
    options.expectedSha256 = m_sha256;
    RunOptions::handTo(container, options);
}

void HostWindow::applyChoicesToShown() const
{
    // The containers shown sit in windows of this one; each update reads the choices as it starts.
    const QList<ContainerInterface*> shown = findChildren<ContainerInterface*>();
    for (ContainerInterface* container : shown)
        applyChoices(container);
}

void HostWindow::outcomeFinished(const UpdateOutcome::Report& report)
{
    if (!report.success || report.moduleKey.isEmpty() || report.firmwareAfter.isEmpty())
        return;
    m_updatedVersions.insert(report.moduleKey, report.firmwareAfter);
    refreshModules();
}

void HostWindow::refreshModules()
{
    m_modules->clear();
    const QStringList keys = m_handler->getModulePluginKeys(true);
    QHash<QString, QString> stillPresent;
    for (const QString& key : keys) {
        DUXLModuleInterface* module = m_handler->getModulePlugin(key);
        if (!module)
            continue;
        DUXLConnectionInterface* connection = module->connectionInterface();
        const QString version = m_updatedVersions.value(key, module->firmwareVersion());
        if (m_updatedVersions.contains(key))
            stillPresent.insert(key, version);
        new QTreeWidgetItem(m_modules, {key, module->nameInFirmware(), QString::number(module->moduleAddress()),
                                        version, connection ? connection->name() : tr("none")});
    }
    m_updatedVersions = stillPresent;
    m_hint->setText(keys.isEmpty()
        ? tr("No module found yet. Connect a module and switch it on, then press \"Look for modules\".")
        : tr("To write new firmware into a module, open \"Firmware Update\" in the tool bar, choose the module "
             "and a HEX file, then press Update."));
    statusBar()->showMessage(tr("%n module(s)", nullptr, keys.size()));
}
