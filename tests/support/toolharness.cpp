#include "toolharness.h"

#include "firmwareupdate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

namespace {
// The pool window's check box carries this name; the tool reacts to its state by it.
constexpr const char* LeaveSelectionBoxName = "leaveSelection";
}

ToolHarness::ToolHarness() = default;

ToolHarness::~ToolHarness()
{
    // The tool goes before the host whose plug-ins it points to.
    delete m_tool;
}

FirmwareUpdate* ToolHarness::start(bool show)
{
    m_tool = new FirmwareUpdate(QStringLiteral("FirmwareUpdate"), m_host.pluginHandler());
    m_tool->setParent(&m_window);
    m_tool->init(&m_window);
    if (show)
        m_window.show();
    return m_tool;
}

QComboBox* ToolHarness::modules() const
{
    return m_tool->findChild<QComboBox*>(QStringLiteral("cmbModules"));
}

QPushButton* ToolHarness::button(const char* objectName) const
{
    return m_tool->findChild<QPushButton*>(QLatin1String(objectName));
}

QLineEdit* ToolHarness::lineEdit(const char* objectName) const
{
    return m_tool->findChild<QLineEdit*>(QLatin1String(objectName));
}

QTextEdit* ToolHarness::history() const
{
    return m_tool->findChild<QTextEdit*>(QStringLiteral("teHistory"));
}

QProgressBar* ToolHarness::progressBar() const
{
    return m_tool->findChild<QProgressBar*>(QStringLiteral("pbProcess"));
}

QString ToolHarness::historyText() const
{
    return history()->toPlainText();
}

QStringList ToolHarness::listedKeys() const
{
    QStringList keys;
    for (int i = 0; i < modules()->count(); ++i)
        keys.append(modules()->itemText(i));
    return keys;
}

bool ToolHarness::invoke(const char* slot, QGenericArgument a0, QGenericArgument a1, QGenericArgument a2)
{
    return QMetaObject::invokeMethod(m_tool, slot, Qt::DirectConnection, a0, a1, a2);
}

void ToolHarness::setLeaveSelection(bool leave)
{
    QCheckBox box;
    box.setObjectName(QLatin1String(LeaveSelectionBoxName));
    QObject::connect(&box, SIGNAL(stateChanged(int)), m_tool, SLOT(parameterChanged(int)));
    box.setChecked(leave);
    if (!leave) {
        // A box that starts unchecked does not signal when it stays so: tick and untick.
        box.setChecked(true);
        box.setChecked(false);
    }
}
