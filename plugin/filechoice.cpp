#include "firmwareupdate.h"
#include "ui_firmwareupdate.h"

#include "duxlmoduleinterface.h"
#include "filesystemmodel.h"
#include "firmwarepool.h"
#include "firmwarepoolscan.h"
#include "functionname.h"
#include "intelhexparser.h"
#include "lowlevel.h"
#include "poolwindow.h"
#include "updatesession.h"

#include <QAction>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QWhatsThis>

namespace {
constexpr const char* HexSuffix = ".hex";
// The chosen file's debug lines go out under the name of the slot that takes it.
constexpr const char* FileChoiceFunction = "FirmwareUpdate::fileNameChanged()";
// A name filter that no file name matches: every pool file is shown disabled.
constexpr const char* MatchNothing = ".";
constexpr const char* LeaveSelectionName = "leaveSelection";
constexpr const char* UriListFormat = "text/uri-list";
// Where the drop hint appears relative to the mouse, in pixels.
constexpr int DropHintOffsetX = 20;
constexpr int DropHintOffsetY = 60;
}

FirmwareImage FirmwareUpdate::loadHexFile(const QString& fileName)
{
    const FirmwareImage loaded = FirmwareImage::load(fileName);
    if (!loaded.wasOpened()) {
        qDebug() << DUX_FUNCTION << "could not open file!";
        return loaded;
    }
    qDebug().noquote() << DUX_FUNCTION << QStringLiteral("analysing: %1...").arg(fileName);

    const IntelHex::ReadResult& result = loaded.reading();
    switch (result.status) {
    case IntelHex::ReadResult::Complete:
        break;
    case IntelHex::ReadResult::AddressTooHigh:
        qDebug() << DUX_FUNCTION << IntelHex::statusText(IntelHex::ReadResult::AddressTooHigh);
        qDebug() << DUX_FUNCTION << IntelHex::statusText(IntelHex::ReadResult::ImageTooLarge);
        return loaded;
    case IntelHex::ReadResult::RecordChecksumError:
        qDebug() << DUX_FUNCTION << IntelHex::statusText(result.status) << result.line;
        return loaded;
    case IntelHex::ReadResult::UnsupportedRecordType:
    case IntelHex::ReadResult::ImageTooLarge:
        qDebug() << DUX_FUNCTION << IntelHex::statusText(result.status);
        return loaded;
    }
    if (result.endedAtBadLine())
        qDebug().noquote() << DUX_FUNCTION
                           << QStringLiteral("wrong beginning character (line %1)\r\n").arg(result.line);

    ui->leSize->setText(QString::number(loaded.size()));
    ui->leChecksum->setText(QStringLiteral("0x%1").arg(quint32(loaded.checksum()), 0, 16));
    if (!loaded.identifier().isEmpty())
        ui->leVersion->setText(loaded.identifier());
    return loaded;
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
    const bool hexFile = fileName.toLower().endsWith(QLatin1String(HexSuffix));
    image = hexFile ? loadChosenFile(fileName) : image.withoutProgram(QString());
    handOver();
    if (image.size() == 0)
        return false;
    rememberFolderOf(fileName);
    return true;
}

void FirmwareUpdate::rememberFolderOf(const QString& fileName)
{
    // Files below the home path are the pool's own copies; remembering them would replace the user's folder.
    const QString absolutePath = QFileInfo(fileName).absoluteFilePath();
    if (!absolutePath.startsWith(settings.homePath(), Qt::CaseSensitive))
        handleFirmwareDirectory(absolutePath);
}

FirmwareImage FirmwareUpdate::loadChosenFile(const QString& fileName)
{
    const FirmwareImage loaded = loadHexFile(fileName);
    qDebug() << FileChoiceFunction << fileName << "hexFileVersion:" << loaded.identifier();
    // The loader's reason and line, for a file the user chose (the pool scan loads every pool file).
    if (!loaded.problem().isEmpty())
        tellUser(loaded.problem() + QLatin1Char('.'));
    if (!loaded.warning().isEmpty())
        tellUser(loaded.warning() + QLatin1Char('.'));
    if (loaded.identifier().isEmpty())
        return loaded.withoutProgram(loaded.problem());
    qDebug() << FileChoiceFunction << "programSize:" << loaded.size();
    qDebug() << FileChoiceFunction << "programStart:" << loaded.start();
    qDebug() << FileChoiceFunction << "extendedLinearAddress:" << loaded.extendedLinearAddress();
    qDebug() << FileChoiceFunction << "segmentAddress:" << loaded.segmentAddress();
    qDebug() << FileChoiceFunction << "ARMFlashAddress:" << loaded.armFlashAddress();
    return loaded;
}

void FirmwareUpdate::handOver()
{
    doFirmwareUpdate(const_cast<unsigned char*>(image.bytes()), image.size(), image.start(), image.segmentAddress(),
                     image.extendedLinearAddress(), image.armFlashAddress());
}

// The arguments are those of `image`, in the signature the plug-in's meta-object has always had; the
// value carries them to the worker whole.
void FirmwareUpdate::doFirmwareUpdate(unsigned char*, int programSize, int, int, int, int)
{
    ui->gridLayoutUpdate->setEnabled(programSize > 0);
    ui->leHexVersion->setText(image.identifier());
    // Without a program an update would only wipe the module: Update waits for a file with firmware.
    session->setImage(image);
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
    if (action == ui->btnSelect->menu()->actions().first()) {
        openPoolWindow(action->icon());
        return;
    }
    const QString fileName = PoolWindow::askForFile(this, firmwareDirectory);
    if (fileName.isEmpty())
        return;
    // The same name again would be no change, and the file would not be read again.
    if (fileName == ui->leFilename->text())
        ui->leFilename->setText(QString());
    qDebug() << DUX_FUNCTION << "choosen file:" << fileName;
    ui->leFilename->setText(fileName);
}

void FirmwareUpdate::openPoolWindow(const QIcon& icon)
{
    // Keeping the file for the next module only makes sense while there is exactly one to go to.
    const bool singleModule = ui->cmbModules->count() == 1;
    leaveSelection = leaveSelection && singleModule;
    PoolWindow::build(this, FirmwarePool(settings.homePath()).path(), icon, leaveSelection, singleModule);
}

void FirmwareUpdate::scanFirmwarePool(FileSystemModel* model, const QString& directory)
{
    const auto identify = [this](const QString& path) { return loadHexFile(path).identifier(); };
    const FirmwarePoolScan scan = FirmwarePoolScan::run(*model, directory, ui->leActualFirmware->text(), identify);
    for (auto file = scan.identifiers.cbegin(); file != scan.identifiers.cend(); ++file)
        model->firmwareVersions.insert(file.key(), file.value());
    QStringList nameFilters = scan.suitingFiles;
    if (nameFilters.isEmpty())
        nameFilters << QLatin1String(MatchNothing);
    model->setNameFilters(nameFilters);
    model->setNameFilterDisables(true);

    PoolWindow::show(this, directory);
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
