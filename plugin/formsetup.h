#pragma once

class QString;
class QWidget;

namespace Ui {
class FirmwareUpdate;
}

// The parts of the tool's form that the Designer file cannot hold: the scroll area it sits in, the file
// button's menu and the file group's tool tip.
namespace FormSetup {

// Builds the form on a page of its own inside a scroll area that fills `tool`, so that a screen smaller
// than the form still reaches every control, and connects the tool's on_<name>_<signal> slots.
void buildScrollingForm(Ui::FirmwareUpdate* form, QWidget* tool);

// Gives btnSelect its menu ("Local pool", then browsing), both owned by `tool`, and connects them to
// the tool's slots prepareSelect and toolSelectAction.
void buildSelectMenu(Ui::FirmwareUpdate* form, QWidget* tool);
// The file group's tool tip, with the tool's icon; the tool's own tip becomes its advanced tip.
void buildFileToolTip(Ui::FirmwareUpdate* form, QWidget* tool, const QString& iconPath);

}
