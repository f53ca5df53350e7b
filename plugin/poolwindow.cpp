#include "poolwindow.h"

#include "filesystemmodel.h"
#include "spacerwidget.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>

// The texts keep the tool's translation context.
namespace {
// The window is made wide enough for an identifier column of this text.
constexpr const char* IdentifierWidthSample = "XXXXVXXX____";
constexpr const char* DeviceTreeName = "deviceTree";
constexpr const char* LeaveSelectionName = "leaveSelection";
// The file choice's debug lines go out under the name of the tool's slot that asks.
constexpr const char* SelectFunction = "FirmwareUpdate::toolSelectAction()";

QTreeView* buildTree(QWidget* tool, FileSystemModel* model)
{
    auto* tree = new QTreeView;
    tree->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    tree->setObjectName(QLatin1String(DeviceTreeName));
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->setAlternatingRowColors(true);
    tree->setModel(model);
    tree->setRootIndex(model->index(model->rootPath()));
    tree->setSortingEnabled(true);
    QObject::connect(tree, SIGNAL(doubleClicked(QModelIndex)), tool, SLOT(doubleClickedFile(QModelIndex)));
    return tree;
}
}

namespace PoolWindow {

QDialog* build(QWidget* tool, const QString& folder, const QIcon& icon, bool leaveSelection, bool singleModule)
{
    auto* model = new FileSystemModel;
    model->setFilter(QDir::Files | QDir::NoDotAndDotDot);
    model->setRootPath(folder);
    QObject::connect(model, SIGNAL(directoryLoaded(QString)), tool, SLOT(fileNameChanged(QString)));
    QTreeView* tree = buildTree(tool, model);

    auto* dialog = new QDialog(tool, Qt::Tool);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(model->rootPath());
    dialog->setModal(true);
    dialog->setSizeGripEnabled(true);
    // Nothing else owns the model; it goes with its window, after the view that shows it.
    QObject::connect(dialog, &QObject::destroyed, model, &QObject::deleteLater);

    auto* layout = new QVBoxLayout;
    layout->addWidget(tree, 1);
    auto* buttonRow = new QHBoxLayout;
    auto* leaveBox = new QCheckBox(QCoreApplication::translate("FirmwareUpdate", "Leave file in selection"));
    auto* closeButton = new QPushButton(QIcon(QStringLiteral(":/WindowIcons/CloseButton")), QCoreApplication::translate("FirmwareUpdate", " Close "));
    closeButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    buttonRow->addWidget(leaveBox);
    buttonRow->addWidget(new SpacerWidget);
    buttonRow->addWidget(closeButton);
    layout->addLayout(buttonRow);

    QObject::connect(closeButton, SIGNAL(clicked(bool)), dialog, SLOT(close()));
    QObject::connect(tree, SIGNAL(destroyed(QObject*)), dialog, SLOT(close()));

    // Keeping the file for the next module only makes sense while there is exactly one to go to.
    leaveBox->setChecked(leaveSelection);
    leaveBox->setEnabled(singleModule);
    leaveBox->setObjectName(QLatin1String(LeaveSelectionName));
    QObject::connect(leaveBox, SIGNAL(stateChanged(int)), tool, SLOT(parameterChanged(int)));

    dialog->setLayout(layout);
    dialog->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    dialog->setWindowTitle(QCoreApplication::translate("FirmwareUpdate", "Select firmware file from: ") + model->rootPath());
    dialog->setWindowIcon(icon);
    return dialog;
}

QString askForFile(QWidget* tool, const QString& directory)
{
    const QString fileName = QFileDialog::getOpenFileName(
        tool, QCoreApplication::translate("FirmwareUpdate", "Select firmware file"), directory,
        QCoreApplication::translate("FirmwareUpdate", "Firmware files (*.hex)"));
    if (fileName.isEmpty())
        qDebug() << SelectFunction << "selected filname is empty!";
    return fileName;
}

void show(QWidget* tool, const QString& folder)
{
    auto* dialog = tool->findChild<QDialog*>(folder);
    if (!dialog)
        return;
    dialog->show();
    if (auto* tree = dialog->findChild<QTreeView*>(QLatin1String(DeviceTreeName))) {
        const int width = tool->fontMetrics().horizontalAdvance(QLatin1String(IdentifierWidthSample))
                          + tree->horizontalScrollBar()->maximum();
        dialog->resize(width, dialog->height());
    }
}

}
