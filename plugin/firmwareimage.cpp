#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "duxlmoduleinterface.h"
#include "filesystemmodel.h"
#include "firmwarepool.h"
#include "firmwarepoolscan.h"
#include "firmwareupdaterthread.h"
#include "functionname.h"
#include "intelhexparser.h"
#include "lowlevel.h"
#include "updatesession.h"
#include "spacerwidget.h"

#include <QAction>
#include <QCheckBox>
#include <QDebug>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWhatsThis>

#include <algorithm>
#include <iterator>

namespace {
constexpr const char* HexSuffix = ".hex";
// A name filter that no file name matches: every pool file is shown disabled.
constexpr const char* MatchNothing = ".";
// The pool window is made wide enough for an identifier column of this text.
constexpr const char* IdentifierWidthSample = "XXXXVXXX____";
constexpr const char* DeviceTreeName = "deviceTree";
constexpr const char* LeaveSelectionName = "leaveSelection";
constexpr const char* UriListFormat = "text/uri-list";
// Where the drop hint appears relative to the mouse, in pixels.
constexpr int DropHintOffsetX = 20;
constexpr int DropHintOffsetY = 60;
}

QString FirmwareUpdate::loadHexFile(QString fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fill(std::begin(progData), std::end(progData), 0);
        progStart = extendedLinearAddress = segmentAddress = ARMFlashAddress = 0;
        qDebug() << DUX_FUNCTION << "could not open file!";
        loadProblem = QStringLiteral("%1 cannot be read: %2").arg(fileName, file.errorString());
        return QString();
    }
    qDebug().noquote() << DUX_FUNCTION << QStringLiteral("analysing: %1...").arg(fileName);

    const IntelHex::ReadResult result =
        IntelHex::read([&file](char* buffer, std::int64_t capacity) { return file.read(buffer, capacity); }, progData);
    file.close();
    progStart = result.progStart;
    extendedLinearAddress = result.extendedLinearAddress;
    segmentAddress = result.segmentAddress;
    ARMFlashAddress = result.ARMFlashAddress;

    if (!result.isComplete()) {
        loadProblem = QStringLiteral("%1 is rejected: %2 (line %3)")
                          .arg(fileName, QLatin1String(IntelHex::statusText(result.status)))
                          .arg(result.line);
    } else if (result.isCutShort()) {
        loadProblem = QStringLiteral("%1 is cut short: %2")
                          .arg(fileName, QString::fromStdString(IntelHex::cutShortText(result)));
    } else {
        loadProblem.clear();
    }
    switch (result.status) {
    case IntelHex::ReadResult::Complete:
        break;
    case IntelHex::ReadResult::AddressTooHigh:
        qDebug() << DUX_FUNCTION << IntelHex::statusText(IntelHex::ReadResult::AddressTooHigh);
        qDebug() << DUX_FUNCTION << IntelHex::statusText(IntelHex::ReadResult::ImageTooLarge);
        return QString();
    case IntelHex::ReadResult::RecordChecksumError:
        qDebug() << DUX_FUNCTION << IntelHex::statusText(result.status) << result.line;
        return QString();
    case IntelHex::ReadResult::UnsupportedRecordType:
    case IntelHex::ReadResult::ImageTooLarge:
        qDebug() << DUX_FUNCTION << IntelHex::statusText(result.status);
        return QString();
    }
    if (result.endedAtBadLine())
        qDebug().noquote() << DUX_FUNCTION
                           << QStringLiteral("wrong beginning character (line %1)\r\n").arg(result.line);

    programSize = result.programSize;
    hexFileChecksum = result.checksum;
    ui->leSize->setText(QString::number(programSize));
    ui->leChecksum->setText(QStringLiteral("0x%1").arg(quint32(hexFileChecksum), 0, 16));

    for (const char* pattern : IntelHex::IdentifierPatterns) {
        if (findVersionPattern(progData, int(sizeof progData), pattern)) {
            const QString identifier = QString::fromLatin1(versionBuffer);
            ui->leVersion->setText(identifier);
            return identifier;
        }
    }
    return QString();
}

bool FirmwareUpdate::findVersionPattern(unsigned char* data, int size, const char* pattern)
{
    std::fill(std::begin(versionBuffer), std::end(versionBuffer), '_');
    return IntelHex::findPattern(data, size, pattern, versionBuffer);
}

void FirmwareUpdate::clearFileInfo()
{
    ui->leHexVersion->setText(QString());
    ui->leModuleVersion->setText(QString());
    ui->leProgress->setText(QString());
    ui->pbProcess->setValue(0);
    ui->btnUpdate->setEnabled(false);
    ui->btnCancel->setEnabled(false);
    ui->leChecksum->setText(QString());
    ui->leFilename->setText(QString());
    ui->leSize->setText(QString());
    ui->leVersion->setText(QString());
}

bool FirmwareUpdate::fileNameChanged(QString fileName)
{
    if (auto* poolModel = qobject_cast<FileSystemModel*>(sender())) {
        scanFirmwarePool(poolModel, fileName);
        return false;
    }
    session->setChosenFile(fileName);
    if (!fileName.toLower().endsWith(QLatin1String(HexSuffix))) {
        loadProblem.clear();
        doFirmwareUpdate(progData, 0, 0, 0, 0, 0);
        return false;
    }
    hexFileVersion = loadHexFile(fileName);
    qDebug() << DUX_FUNCTION << fileName << "hexFileVersion:" << hexFileVersion;
    if (hexFileVersion.isEmpty() && loadProblem.isEmpty())
        loadProblem = QStringLiteral("%1 holds no firmware identifier").arg(fileName);
    // The loader's reason and line, for a file the user chose (the pool scan loads every pool file).
    if (!loadProblem.isEmpty())
        tellUser(loadProblem + QLatin1Char('.'));
    if (hexFileVersion.isEmpty()) {
        doFirmwareUpdate(progData, 0, 0, 0, 0, 0);
        return false;
    }
    qDebug() << DUX_FUNCTION << "programSize:" << programSize;
    qDebug() << DUX_FUNCTION << "programStart:" << progStart;
    qDebug() << DUX_FUNCTION << "extendedLinearAddress:" << extendedLinearAddress;
    qDebug() << DUX_FUNCTION << "segmentAddress:" << segmentAddress;
    qDebug() << DUX_FUNCTION << "ARMFlashAddress:" << ARMFlashAddress;
    doFirmwareUpdate(progData, programSize, progStart, segmentAddress, extendedLinearAddress, ARMFlashAddress);

    // Files below the home path are the pool's own copies; remembering them would replace the user's folder.
    const QString absolutePath = QFileInfo(fileName).absoluteFilePath();
    if (!absolutePath.startsWith(settings.homePath(), Qt::CaseSensitive))
        handleFirmwareDirectory(absolutePath);
    return true;
}

void FirmwareUpdate::doFirmwareUpdate(unsigned char* progData, int programSize, int progStart, int segmentAddress,
                                      int extendedLinearAddress, int ARMFlashAddress)
{
    ui->gridLayoutUpdate->setEnabled(programSize > 0);
    FirmwareUpdaterThread* updater = session->worker();
    updater->setHexFileVersion(hexFileVersion);
    ui->leHexVersion->setText(hexFileVersion);
    // The member, not an argument: an empty program goes along with the last computed sum.
    updater->setHexFileChecksum(hexFileChecksum);
    updater->setProgramData(progData, programSize);
    updater->setProgramAddresses(progStart, segmentAddress, extendedLinearAddress, ARMFlashAddress);
    // Without a program an update would only wipe the module: Update waits for a file with firmware.
    session->setProgram(programSize > 0, loadProblem, hexFileVersion);
    ui->btnUpdate->setEnabled(programSize > 0);
}

void FirmwareUpdate::handleFirmwareDirectory(QString directory)
{
    qDebug() << DUX_FUNCTION << "directory:" << directory;
    DUXLModuleInterface* module = session->selectedModule();
    if (!module)
        return;
    settings.setFirmwareDirectory(module->moduleName(), directory);
    saveSettings();
}

void FirmwareUpdate::saveSettings()
{
    settings.sync();
    reportUnsavedSettings();
}

void FirmwareUpdate::reportUnsavedSettings()
{
    const QString reason = settings.unsavedReason();
    if (!reason.isEmpty())
        tellUser(reason);
}

void FirmwareUpdate::tellUser(const QString& text)
{
    handleDebugMessage(text.toHtmlEscaped());
}

void FirmwareUpdate::prepareSelect()
{
    const FirmwarePool pool(settings.homePath());
    pool.make();
    const QList<QAction*> actions = ui->btnSelect->menu()->actions();
    actions.first()->setEnabled(pool.hasFirmwareFiles());
    actions.last()->setText(QStringLiteral("Browse ") + firmwareDirectory);
}

void FirmwareUpdate::toolSelectAction(QAction* action)
{
    QAction* poolAction = ui->btnSelect->menu()->actions().first();
    if (action == poolAction) {
        buildPoolWindow(poolAction->icon());
        return;
    }
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Select firmware file"), firmwareDirectory,
                                                          tr("Firmware files (*.hex)"));
    if (fileName.isEmpty()) {
        qDebug() << DUX_FUNCTION << "selected filname is empty!";
        return;
    }
    // The same name again would be no change, and the file would not be read again.
    if (fileName == ui->leFilename->text())
        ui->leFilename->setText(QString());
    qDebug() << DUX_FUNCTION << "choosen file:" << fileName;
    ui->leFilename->setText(fileName);
}

void FirmwareUpdate::buildPoolWindow(const QIcon& icon)
{
    auto* model = new FileSystemModel;
    model->setFilter(QDir::Files | QDir::NoDotAndDotDot);
    model->setRootPath(FirmwarePool(settings.homePath()).path());
    connect(model, SIGNAL(directoryLoaded(QString)), this, SLOT(fileNameChanged(QString)));

    auto* tree = new QTreeView;
    tree->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    tree->setObjectName(QLatin1String(DeviceTreeName));
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->setAlternatingRowColors(true);
    tree->setModel(model);
    tree->setRootIndex(model->index(model->rootPath()));
    tree->setSortingEnabled(true);
    connect(tree, SIGNAL(doubleClicked(QModelIndex)), this, SLOT(doubleClickedFile(QModelIndex)));

    auto* dialog = new QDialog(this, Qt::Tool);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(model->rootPath());
    dialog->setModal(true);
    dialog->setSizeGripEnabled(true);
    // Nothing else owns the model; it goes with its window, after the view that shows it.
    connect(dialog, &QObject::destroyed, model, &QObject::deleteLater);

    auto* layout = new QVBoxLayout;
    layout->addWidget(tree, 1);
    auto* buttonRow = new QHBoxLayout;
    auto* leaveBox = new QCheckBox(tr("Leave file in selection"));
    auto* closeButton = new QPushButton(QIcon(QStringLiteral(":/WindowIcons/CloseButton")), tr(" Close "));
    closeButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    buttonRow->addWidget(leaveBox);
    buttonRow->addWidget(new SpacerWidget);
    buttonRow->addWidget(closeButton);
    layout->addLayout(buttonRow);

    connect(closeButton, SIGNAL(clicked(bool)), dialog, SLOT(close()));
    connect(tree, SIGNAL(destroyed(QObject*)), dialog, SLOT(close()));

    // Keeping the file for the next module only makes sense while there is exactly one to go to.
    const bool singleModule = ui->cmbModules->count() == 1;
    leaveSelection = leaveSelection && singleModule;
    leaveBox->setChecked(leaveSelection);
    leaveBox->setEnabled(singleModule);
    leaveBox->setObjectName(QLatin1String(LeaveSelectionName));
    connect(leaveBox, SIGNAL(stateChanged(int)), this, SLOT(parameterChanged(int)));

    dialog->setLayout(layout);
    dialog->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    dialog->setWindowTitle(tr("Select firmware file from: ") + model->rootPath());
    dialog->setWindowIcon(icon);
}

void FirmwareUpdate::scanFirmwarePool(FileSystemModel* model, const QString& directory)
{
    const FirmwarePoolScan scan = FirmwarePoolScan::run(*model, directory, ui->leActualFirmware->text(),
                                                        [this](const QString& path) { return loadHexFile(path); });
    for (auto file = scan.identifiers.cbegin(); file != scan.identifiers.cend(); ++file)
        model->firmwareVersions.insert(file.key(), file.value());
    QStringList nameFilters = scan.suitingFiles;
    if (nameFilters.isEmpty())
        nameFilters << QLatin1String(MatchNothing);
    model->setNameFilters(nameFilters);
    model->setNameFilterDisables(true);

    if (auto* dialog = findChild<QDialog*>(directory)) {
        dialog->show();
        if (auto* tree = dialog->findChild<QTreeView*>(QLatin1String(DeviceTreeName))) {
            const int width = fontMetrics().horizontalAdvance(QLatin1String(IdentifierWidthSample))
                              + tree->horizontalScrollBar()->maximum();
            dialog->resize(width, dialog->height());
        }
    }
    // The scan loaded every pool file over the chosen one; the user has to choose again.
    clearFileInfo();
}

void FirmwareUpdate::doubleClickedFile(QModelIndex index)
{
    const auto* model = qobject_cast<const QFileSystemModel*>(index.model());
    if (!model || !(model->flags(index) & Qt::ItemIsEnabled))
        return;
    ui->leFilename->setText(model->fileInfo(index).absoluteFilePath());
    // The view is still delivering this click; its destruction then closes the window.
    if (QObject* view = sender())
        view->deleteLater();
}

void FirmwareUpdate::parameterChanged(int state)
{
    qCDebug(debLowLevel) << "void FirmwareUpdate::parameterChanged(int)" << sender() << state;
    if (sender() && sender()->objectName().contains(QLatin1String(LeaveSelectionName)))
        leaveSelection = state != 0;
}

void FirmwareUpdate::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    qDebug() << DUX_FUNCTION << "dragEnterEvent" << event->type() << urls;
    if (!event->mimeData()->hasFormat(QLatin1String(UriListFormat)) || urls.isEmpty())
        return;
    const QString path = urls.first().toLocalFile();
    if (!path.toLower().contains(QLatin1String(HexSuffix)))
        return;
    QWhatsThis::showText(mapToGlobal(event->pos() + QPoint(DropHintOffsetX, DropHintOffsetY)),
                         tr("Update %1 with\n").arg(QStringLiteral("current Device")) + path);
    event->acceptProposedAction();
}

void FirmwareUpdate::dragMoveEvent(QDragMoveEvent* event)
{
    Q_UNUSED(event)
}

void FirmwareUpdate::dropEvent(QDropEvent* event)
{
    QWhatsThis::hideText();
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty())
        ui->leFilename->setText(urls.first().toLocalFile());
}
