#pragma once

#include <QString>

class FileSystemModel;
class QDialog;
class QIcon;
class QWidget;

// The windows the tool chooses a firmware file in. The pool window lists the firmware pool's files: a
// tree of the folder, "Leave file in selection" and Close; built hidden, it is shown, wide enough for
// the identifiers, once the folder has been read. Browsing is a file dialog.
namespace PoolWindow {

// Makes the window, owned by `tool`, and connects it to the tool's slots fileNameChanged (the folder
// read), doubleClickedFile and parameterChanged (the check box). The window is named after the folder.
QDialog* build(QWidget* tool, const QString& folder, const QIcon& icon, bool leaveSelection, bool singleModule);
// The HEX file the user picks in a file dialog that starts in `directory`; empty when cancelled.
QString askForFile(QWidget* tool, const QString& directory);
// Shows the window of `folder`, if the tool has one, sized for its identifier column.
void show(QWidget* tool, const QString& folder);

}
