#include "formsetup.h"
#include "ui_firmwareupdate.h"

#include "basictools.h"
#include "tooltip.h"

#include <QAction>
#include <QMenu>
#include <QScrollArea>
#include <QVBoxLayout>

namespace FormSetup {

void buildScrollingForm(Ui::FirmwareUpdate* form, QWidget* tool)
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("formPage"));
    form->setupUi(page);
    tool->setWindowTitle(page->windowTitle());
    auto* area = new QScrollArea(tool);
    area->setObjectName(QStringLiteral("formScrollArea"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(page);
    auto* layout = new QVBoxLayout(tool);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area);
    // The form's slots are the tool's, not the page's.
    QMetaObject::connectSlotsByName(tool);
}

void buildSelectMenu(Ui::FirmwareUpdate* form, QWidget* tool)
{
    // Owned by the tool rather than left without parent, so that it goes with the form.
    auto* selectMenu = new QMenu(tool);
    selectMenu->addAction(new QAction(QIcon(QStringLiteral(":/moreIcons/DirectoryPool")),
                                      QStringLiteral("Local pool"), tool));
    selectMenu->addAction(new QAction(form->btnSelect->icon(), form->btnSelect->text(), tool));
    form->btnSelect->setMenu(selectMenu);
    QObject::connect(selectMenu, SIGNAL(aboutToShow()), tool, SLOT(prepareSelect()));
    QObject::connect(form->btnSelect, SIGNAL(triggered(QAction*)), tool, SLOT(toolSelectAction(QAction*)));
    form->btnSelect->setDefaultAction(form->btnSelect->actions().last());
    form->btnSelect->setIcon(selectMenu->actions().last()->icon());
    form->btnSelect->setText(selectMenu->actions().last()->text());
}

void buildFileToolTip(Ui::FirmwareUpdate* form, QWidget* tool, const QString& iconPath)
{
    ToolTip builder(0, 1.0, 1, QColor(QStringLiteral("navy")));
    builder.addCaption(BasicTools::setPixmapToHtml(QPixmap(iconPath), QSize(32, 32))
                       + QStringLiteral("Get a filename"));
    builder.addToolTip({QStringLiteral("Browse to a firmware file"), QStringLiteral("Enter or paste absolute filename"),
                        QStringLiteral("Drop a file here")});
    form->gbNewFirmware->setToolTip(builder.getToolTip());
    form->gbNewFirmware->setProperty("dpAdvancedTip", tool->toolTip());
}

}
