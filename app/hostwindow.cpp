#include "hostwindow.h"

#include "containerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "hostmessages.h"
#include "modulediscovery.h"
#include "pluginhandler.h"
#include "recordkeeper.h"
#include "recordsview.h"
#include "wirecapture.h"

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QFileDialog>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int MainWidth = 640;
constexpr int MainHeight = 360;
constexpr int ContainerWidth = 560;
constexpr int ContainerHeight = 640;
constexpr int RecordsWidth = 900;
constexpr int RecordsHeight = 700;
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
{
    setWindowTitle(tr("dux host"));
    resize(MainWidth, MainHeight);
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

    QToolBar* tools = addToolBar(tr("Tools"));
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    for (ContainerInterface* container : containers) {
        QAction* action = tools->addAction(QIcon(container->iconPath()), container->name());
        connect(action, &QAction::triggered, this, [this, container] { openContainer(container); });
    }
    QAction* scan = tools->addAction(tr("Look for modules"));
    connect(scan, &QAction::triggered, discovery, &ModuleDiscovery::rescan);
    QAction* records = tools->addAction(tr("Records"));
    records->setObjectName(QStringLiteral("recordsAction"));
    connect(records, &QAction::triggered, this, &HostWindow::openRecords);
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

    connect(handler, &PluginHandler::modulePluginAdded, this, &HostWindow::refreshModules);
    connect(handler, &PluginHandler::modulePluginRemoved, this, &HostWindow::refreshModules);
    // A module an update left in its bootloader: what it runs now replaces what an earlier update read.
    connect(handler, &PluginHandler::modulePluginChanged, this, [this](const QString& key) {
        m_updatedVersions.remove(key);
        refreshModules();
    });
    refreshModules();
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
    window->resize(ContainerWidth, ContainerHeight);
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
    auto* window = new QDialog(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(tr("Records"));
    window->resize(RecordsWidth, RecordsHeight);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(new RecordsView(RecordKeeper::configuredLocation(), window));
    window->show();
    return window;
}

void HostWindow::setIfChanged(bool on)
{
    m_ifChanged->setChecked(on);
}

bool HostWindow::ifChanged() const
{
    return m_ifChanged->isChecked();
}

QAction* HostWindow::addChoice(QToolBar* tools, QActionGroup* group, const QString& text, const char* name,
                              const QString& toolTip)
{
    QAction* choice = tools->addAction(text);
    choice->setObjectName(QLatin1String(name));
    choice->setToolTip(toolTip);
    choice->setCheckable(true);
    group->addAction(choice);
    connect(choice, &QAction::toggled, this, [this] {
        // The containers shown sit in windows of this one; each update reads the choices as it starts.
        const QList<ContainerInterface*> shown = findChildren<ContainerInterface*>();
        for (ContainerInterface* container : shown)
            applyChoices(container);
    });
    return choice;
}

void HostWindow::setVerifyOnly(bool on)
{
    m_verify->setChecked(on);
}

void HostWindow::setReadBack(bool on, qint64 first, qint64 end)
{
    m_readBack = on;
    m_readFirst = first;
    m_readEnd = end;
}

void HostWindow::applyChoices(QObject* container) const
{
    container->setProperty(HostMessages::ReadBackProperty, m_readBack);
    container->setProperty(HostMessages::ReadBackFirstProperty, m_readFirst);
    container->setProperty(HostMessages::ReadBackEndProperty, m_readEnd);
    container->setProperty(HostMessages::IfChangedProperty, m_ifChanged->isChecked());
    container->setProperty(HostMessages::VerifyOnlyProperty, m_verify->isChecked());
}

void HostWindow::outcomeFinished(const UpdateOutcome::Report& report)
{
    if (!report.success || report.moduleKey.isEmpty() || report.firmwareVersion.isEmpty())
        return;
    m_updatedVersions.insert(report.moduleKey, report.firmwareVersion);
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
