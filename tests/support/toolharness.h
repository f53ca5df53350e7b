#pragma once

#include "fakehost.h"

#include <QDialog>
#include <QGenericArgument>
#include <QPointer>

class FirmwareUpdate;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTextEdit;

// The tool as the host runs it: a FakeHost, a host window, and the FirmwareUpdate plug-in placed in
// that window and initialised. Gives tests the form's widgets by object name and the tool's slots.
class ToolHarness
{
public:
    ToolHarness();
    ~ToolHarness();
    ToolHarness(const ToolHarness&) = delete;
    ToolHarness& operator=(const ToolHarness&) = delete;

    FakeHost& host() { return m_host; }

    // Creates the plug-in as the host's factory does, places it in the window and calls init(): the
    // module list is built from what the host knows at this moment.
    FirmwareUpdate* start(bool show = true);
    FirmwareUpdate* tool() const { return m_tool; }
    QDialog* window() { return &m_window; }

    QComboBox* modules() const;
    QPushButton* button(const char* objectName) const;
    QLineEdit* lineEdit(const char* objectName) const;
    QTextEdit* history() const;
    QProgressBar* progressBar() const;
    // The history as plain text.
    QString historyText() const;
    // The keys listed in cmbModules, in order.
    QStringList listedKeys() const;

    // Calls a slot of the tool by name on this thread; false when there is no such slot.
    bool invoke(const char* slot, QGenericArgument a0 = QGenericArgument(), QGenericArgument a1 = QGenericArgument(),
                QGenericArgument a2 = QGenericArgument());

    // Ticks or unticks "Leave file in selection" the way the pool window's check box does.
    void setLeaveSelection(bool leave);

private:
    FakeHost m_host;
    QDialog m_window;
    QPointer<FirmwareUpdate> m_tool;
};
