#include "updatedriver.h"

#include "containerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "pluginhandler.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextStream>

namespace {

constexpr int DefaultTimeoutMs = 600000;
// The worker's last history line of a successful run.
constexpr const char* CompletedLine = "Update completed.";
// The plug-in's history line when it finds a USB module again under its new port.
constexpr const char* ReconnectedLine = "Reconnected.";
// The version field shows this after a failed update, and on a USB link until the module is back.
constexpr const char* ErrorVersion = "Error";

// Line ends inside the history: between blocks, from <br>, and in plainly appended text.
const QRegularExpression& lineBreaks()
{
    static const QRegularExpression breaks(QStringLiteral("[\\x{2029}\\x{2028}\\n]"));
    return breaks;
}

// The completion's retry marks ("*") that may stand in front of the next line.
const QRegularExpression& leadingRetryMarks()
{
    static const QRegularExpression marks(QStringLiteral("^\\*+"));
    return marks;
}

template<typename Widget>
Widget* formWidget(QObject* plugin, const char* name, QStringList* missing)
{
    auto* widget = plugin->findChild<Widget*>(QLatin1String(name));
    if (!widget)
        missing->append(QLatin1String(name));
    return widget;
}

}

UpdateDriver::UpdateDriver(ContainerInterface* plugin, QTextStream* out, QObject* parent)
    : QObject(parent)
    , m_plugin(plugin)
    , m_out(out)
    , m_timeoutMs(DefaultTimeoutMs)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &UpdateDriver::timeOut);
}

void UpdateDriver::setModuleKey(const QString& key)
{
    m_moduleKey = key;
}

void UpdateDriver::setFileName(const QString& fileName)
{
    m_fileName = fileName;
}

void UpdateDriver::setTimeoutMs(int timeoutMs)
{
    m_timeoutMs = timeoutMs;
}

void UpdateDriver::setScreenshot(const QString& path, int percent)
{
    m_screenshotPath = path;
    m_screenshotPercent = percent;
}

bool UpdateDriver::findForm()
{
    QStringList missing;
    m_modules = formWidget<QComboBox>(m_plugin, "cmbModules", &missing);
    m_fileNameEdit = formWidget<QLineEdit>(m_plugin, "leFilename", &missing);
    m_fileVersion = formWidget<QLineEdit>(m_plugin, "leVersion", &missing);
    m_actualFirmware = formWidget<QLineEdit>(m_plugin, "leActualFirmware", &missing);
    m_progress = formWidget<QLineEdit>(m_plugin, "leProgress", &missing);
    m_update = formWidget<QPushButton>(m_plugin, "btnUpdate", &missing);
    m_cancel = formWidget<QPushButton>(m_plugin, "btnCancel", &missing);
    m_progressBar = formWidget<QProgressBar>(m_plugin, "pbProcess", &missing);
    m_history = formWidget<QTextEdit>(m_plugin, "teHistory", &missing);
    if (!missing.isEmpty())
        m_errorString = tr("the plug-in's form has no %1").arg(missing.join(QStringLiteral(", ")));
    return missing.isEmpty();
}

bool UpdateDriver::chooseModule()
{
    QStringList keys;
    for (int i = 0; i < m_modules->count(); ++i)
        keys.append(m_modules->itemText(i));
    int index = 0;
    if (keys.isEmpty()) {
        m_errorString = tr("no module found");
        return false;
    }
    if (m_moduleKey.isEmpty() && keys.size() > 1) {
        m_errorString = tr("%1 modules found (%2): choose one").arg(keys.size()).arg(keys.join(QStringLiteral(", ")));
        return false;
    }
    if (!m_moduleKey.isEmpty()) {
        index = keys.indexOf(m_moduleKey);
        if (index < 0) {
            m_errorString = tr("module %1 is not listed (found: %2)").arg(m_moduleKey, keys.join(QStringLiteral(", ")));
            return false;
        }
    }
    m_moduleKey = keys.at(index);
    m_modules->setCurrentIndex(index);
    const PluginHandler* handler = m_plugin->pluginHandler();
    const DUXLModuleInterface* module = handler ? handler->getModulePlugin(m_moduleKey) : nullptr;
    const DUXLConnectionInterface* connection = module ? module->connectionInterface() : nullptr;
    m_usbLink = connection && connection->interfaceType() == DUXLConnectionInterface::Usb;
    return true;
}

bool UpdateDriver::chooseFile()
{
    const QFileInfo file(m_fileName);
    if (!file.isFile() || !file.isReadable()) {
        m_errorString = tr("cannot read the firmware file %1").arg(m_fileName);
        return false;
    }
    m_fileNameEdit->setText(file.absoluteFilePath());
    if (m_fileVersion->text().isEmpty()) {
        m_errorString = tr("%1 holds no firmware the plug-in can load").arg(m_fileName);
        return false;
    }
    return true;
}

bool UpdateDriver::start()
{
    if (!findForm() || !chooseModule() || !chooseFile())
        return false;
    if (!m_update->isEnabled()) {
        m_errorString = tr("the Update button is not available");
        return false;
    }
    *m_out << "Updating " << m_moduleKey << " (firmware " << m_actualFirmware->text() << ") with "
           << QFileInfo(m_fileName).fileName() << " (firmware " << m_fileVersion->text() << ")" << Qt::endl;

    connect(m_history->document(), &QTextDocument::contentsChange, this, [this] { printHistory(false); });
    connect(m_progressBar, &QProgressBar::valueChanged, this, &UpdateDriver::checkScreenshot);
    connect(m_modules, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &UpdateDriver::moduleListRebuilt);
    m_printedUpTo = m_history->document()->characterCount() - 1;
    m_update->installEventFilter(this);
    m_running = true;
    m_clock.start();
    m_deadline.start(m_timeoutMs);
    m_update->click();
    if (m_update->isEnabled()) {
        m_running = false;
        m_deadline.stop();
        m_errorString = tr("the plug-in did not start the update (is the module's link open?)");
        return false;
    }
    return true;
}

bool UpdateDriver::eventFilter(QObject* watched, QEvent* event)
{
    // The Update button comes back when the update has ended, whichever way.
    // Later changes in the same go (the list rebuild clears and refills the form) are not the end.
    if (watched == m_update && event->type() == QEvent::EnabledChange && m_update->isEnabled() && m_running
        && !m_endPending && !m_waitingForReconnection) {
        m_endPending = true;
        m_endProgress = m_progress->text();
        QTimer::singleShot(0, this, &UpdateDriver::updateEnded);
    }
    return QObject::eventFilter(watched, event);
}

void UpdateDriver::printHistory(bool includingUnfinishedLine)
{
    QTextDocument* document = m_history->document();
    const int end = document->characterCount() - 1;
    // Text before the printed part changed: the history was cleared for this update.
    m_printedUpTo = qMin(m_printedUpTo, end);
    QTextCursor cursor(document);
    cursor.setPosition(m_printedUpTo);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    QString text = cursor.selectedText();
    if (!includingUnfinishedLine) {
        const int lastBreak = text.lastIndexOf(lineBreaks());
        if (lastBreak < 0)
            return;
        text.truncate(lastBreak);
        m_printedUpTo += lastBreak + 1;
    } else {
        m_printedUpTo = end;
    }
    const QStringList lines = text.split(lineBreaks());
    for (const QString& line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty())
            continue;
        QString message = trimmed;
        message.remove(leadingRetryMarks());
        if (message == QLatin1String(CompletedLine))
            m_completedSeen = true;
        else if (message == QLatin1String(ReconnectedLine) && m_completedSeen)
            m_reconnectedSeen = true;
        *m_out << clockText() << ' ' << trimmed << Qt::endl;
    }
}

void UpdateDriver::updateEnded()
{
    m_endPending = false;
    if (!m_running || m_waitingForReconnection)
        return;
    printHistory(false);
    if (!m_completedSeen) {
        const QString reason = m_endProgress.isEmpty() ? tr("the update failed") : m_endProgress;
        finish(false, reason);
        return;
    }
    // On a serial link the completion has read the new version and rebuilt the list already. A USB
    // module comes back under a new port first; the plug-in rebuilds its list once it has found it.
    if (m_usbLink && !m_rebuiltAfterReconnection)
        m_waitingForReconnection = true;
    else
        reportNewVersion();
}

void UpdateDriver::moduleListRebuilt(int index)
{
    if (!m_running || !m_reconnectedSeen || index < 0)
        return;
    m_rebuiltAfterReconnection = true;
    if (m_waitingForReconnection)
        QTimer::singleShot(0, this, &UpdateDriver::reportNewVersion);
}

void UpdateDriver::reportNewVersion()
{
    if (!m_running)
        return;
    const QString version = m_actualFirmware->text();
    if (version.isEmpty() || version == QLatin1String(ErrorVersion) || version.toLower().contains(QLatin1Char('b')))
        finish(false, tr("the module did not come back with a firmware version (it shows \"%1\")").arg(version));
    else
        finish(true, version);
}

void UpdateDriver::checkScreenshot(int value)
{
    if (m_screenshotPath.isEmpty() || m_screenshotTaken || m_progressBar->maximum() <= 1)
        return;
    if (qint64(value) * 100 < qint64(m_screenshotPercent) * m_progressBar->maximum())
        return;
    m_screenshotTaken = true;
    QWidget* window = m_plugin->window();
    if (window->grab().save(m_screenshotPath))
        *m_out << clockText() << " (window saved to " << m_screenshotPath << ")" << Qt::endl;
    else
        *m_out << clockText() << " (could not save the window to " << m_screenshotPath << ")" << Qt::endl;
}

void UpdateDriver::timeOut()
{
    if (!m_running)
        return;
    const QString lastStep = m_progress->text();
    if (m_cancel->isEnabled())
        m_cancel->click();
    finish(false, tr("no result after %1 s (last step: %2)").arg(m_timeoutMs / 1000).arg(lastStep));
}

void UpdateDriver::finish(bool success, const QString& message)
{
    printHistory(true);
    m_running = false;
    m_deadline.stop();
    m_update->removeEventFilter(this);
    disconnect(m_modules, nullptr, this, nullptr);
    disconnect(m_progressBar, nullptr, this, nullptr);
    disconnect(m_history->document(), nullptr, this, nullptr);
    const QString seconds = QString::number(m_clock.elapsed() / 1000.0, 'f', 1);
    if (success) {
        *m_out << "Update succeeded after " << seconds << " s." << Qt::endl;
        *m_out << m_modules->currentText() << " now runs firmware " << message << Qt::endl;
    } else {
        *m_out << "Update failed after " << seconds << " s: " << message << Qt::endl;
    }
    emit finished(success, message);
}

QString UpdateDriver::clockText() const
{
    const qint64 ms = m_clock.elapsed();
    return QStringLiteral("[%1:%2.%3]")
        .arg(ms / 60000)
        .arg((ms / 1000) % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}
