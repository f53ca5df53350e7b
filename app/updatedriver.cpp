#include "updatedriver.h"

#include "containerinterface.h"
#include "progressprinter.h"
#include "updatephase.h"
#include "updaterecorder.h"
#include "visibletext.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextStream>

namespace {

constexpr const char* OutcomeObjectName = "updateOutcome";
constexpr const char* CancelSlot = "on_btnCancel_clicked";
constexpr const char* CancelReasonMethod = "setCancelReason";
constexpr const char* FlushMethod = "flush";
constexpr const char* SetUnitMethod = "setUnit";
// Phases in which the module may still run its firmware: before and just after the entry command.
const QString EntryPhase = UpdatePhases::name(UpdatePhase::Entry);
// A module that still runs its firmware this long after the entry command did not get it.
constexpr int EntryWatchMs = 10000;
// Whether the command was lost or the module came too late, asking it after the run tells.
constexpr const char* EntryLostText = "the module was not found in its bootloader %1 s after the bootloader-entry command";
constexpr int MsPerSecond = 1000;

// Line ends inside the history: between blocks, from <br>, and in plainly appended text.
const QRegularExpression& lineBreaks()
{
    static const QRegularExpression breaks(QStringLiteral("[\\x{2029}\\x{2028}\\n]"));
    return breaks;
}

template<typename Widget>
Widget* formWidget(QObject* plugin, const char* name, QStringList* missing)
{
    auto* widget = plugin->findChild<Widget*>(QLatin1String(name));
    if (!widget)
        missing->append(QLatin1String(name));
    return widget;
}

// Connects by signature: the host knows the plug-in's classes only through their meta-objects.
bool connectByName(QObject* sender, const char* signal, QObject* receiver, const char* slot)
{
    const QMetaObject* senderMeta = sender->metaObject();
    const QMetaObject* receiverMeta = receiver->metaObject();
    const int signalIndex = senderMeta->indexOfSignal(QMetaObject::normalizedSignature(signal).constData());
    const int slotIndex = receiverMeta->indexOfSlot(QMetaObject::normalizedSignature(slot).constData());
    if (signalIndex < 0 || slotIndex < 0)
        return false;
    return bool(QObject::connect(sender, senderMeta->method(signalIndex), receiver, receiverMeta->method(slotIndex)));
}

}

UpdateDriver::UpdateDriver(ContainerInterface* plugin, QTextStream* out, QObject* parent)
    : QObject(parent)
    , m_plugin(plugin)
    , m_out(out)
{
    m_entryWatch.setSingleShot(true);
    m_entryWatch.setInterval(EntryWatchMs);
    connect(&m_entryWatch, &QTimer::timeout, this, &UpdateDriver::checkBootloaderEntry);
}

void UpdateDriver::setModuleKey(const QString& key)
{
    m_moduleKey = key;
}

void UpdateDriver::setFileName(const QString& fileName)
{
    m_fileName = fileName;
}

void UpdateDriver::setPrintHistory(bool print)
{
    m_printHistory = print;
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
    m_update = formWidget<QPushButton>(m_plugin, "btnUpdate", &missing);
    m_cancel = formWidget<QPushButton>(m_plugin, "btnCancel", &missing);
    m_progressBar = formWidget<QProgressBar>(m_plugin, "pbProcess", &missing);
    m_history = formWidget<QTextEdit>(m_plugin, "teHistory", &missing);
    m_outcome = formWidget<QObject>(m_plugin, OutcomeObjectName, &missing);
    // A plug-in without records has no recorder; its updates run all the same.
    m_recorder = m_plugin->findChild<QObject*>(QLatin1String(UpdateRecorder::ObjectName));
    if (!missing.isEmpty())
        m_errorString = tr("the plug-in has no %1").arg(missing.join(QStringLiteral(", ")));
    return missing.isEmpty();
}

bool UpdateDriver::connectOutcome()
{
    if (connectByName(m_outcome, "phaseChanged(QString)", this, "outcomePhaseChanged(QString)")
        && connectByName(m_outcome, "progressed(qint64,qint64)", this, "outcomeProgressed(qint64,qint64)")
        && connectByName(m_outcome, "finished(UpdateOutcome::Report)", this, "outcomeFinished(UpdateOutcome::Report)"))
        return true;
    m_errorString = tr("the plug-in's outcome object does not report phases, progress and the end");
    return false;
}

UpdateDriver::StartResult UpdateDriver::chooseModule()
{
    QStringList keys;
    for (int i = 0; i < m_modules->count(); ++i)
        keys.append(m_modules->itemText(i));
    if (keys.isEmpty()) {
        m_errorString = tr("no module found");
        return StartResult::NoModule;
    }
    if (m_moduleKey.isEmpty() && keys.size() > 1) {
        m_errorString = tr("%1 modules found (%2): choose one with --module").arg(keys.size()).arg(keys.join(QStringLiteral(", ")));
        return StartResult::Refused;
    }
    const int index = m_moduleKey.isEmpty() ? 0 : keys.indexOf(m_moduleKey);
    if (index < 0) {
        m_errorString = tr("module %1 is not listed (found: %2)").arg(m_moduleKey, keys.join(QStringLiteral(", ")));
        return StartResult::Refused;
    }
    m_moduleKey = keys.at(index);
    m_modules->setCurrentIndex(index);
    return StartResult::Started;
}

bool UpdateDriver::chooseFile()
{
    m_fileNameEdit->setText(QFileInfo(m_fileName).absoluteFilePath());
    // The form forgets the file when its module list is rebuilt at the end.
    m_identifier = m_fileVersion->text();
    if (m_identifier.isEmpty()) {
        m_errorString = tr("%1 holds no firmware the plug-in can load").arg(m_fileName);
        return false;
    }
    return true;
}

UpdateDriver::StartResult UpdateDriver::start()
{
    if (!findForm() || !connectOutcome())
        return StartResult::Refused;
    // Told before the click: the record written at the first phase carries the unit already.
    if (m_recorder && !m_unit.serialNumber.isEmpty())
        QMetaObject::invokeMethod(m_recorder, SetUnitMethod, Qt::DirectConnection, Q_ARG(QString, m_unit.serialNumber),
                                  Q_ARG(QString, m_unit.fixture), Q_ARG(QString, m_unit.station),
                                  Q_ARG(QString, m_unit.operatorName));
    const StartResult chosen = chooseModule();
    if (chosen != StartResult::Started)
        return chosen;
    if (!chooseFile())
        return StartResult::Refused;
    if (!m_update->isEnabled()) {
        m_errorString = tr("the Update button is not available");
        return StartResult::Refused;
    }
    m_moduleFirmware = m_actualFirmware->text();
    tell(QStringLiteral("Updating %1 (firmware %2) with %3 (firmware %4)")
             .arg(visibleText(m_moduleKey), visibleText(m_actualFirmware->text()),
                  visibleText(QFileInfo(m_fileName).fileName()), visibleText(m_fileVersion->text())));
    connect(m_history->document(), &QTextDocument::contentsChange, this, [this] { tellHistory(false); });
    connect(m_progressBar, &QProgressBar::valueChanged, this, &UpdateDriver::checkScreenshot);
    m_printedUpTo = m_history->document()->characterCount() - 1;
    m_running = true;
    m_clock.start();
    m_entryWatch.start();
    m_update->click();
    if (m_update->isEnabled()) {
        m_running = false;
        m_entryWatch.stop();
        m_errorString = tr("the plug-in did not start the update (is the module's link open?)");
        return StartResult::Refused;
    }
    return StartResult::Started;
}

void UpdateDriver::cancel(const QString& reason, bool interrupted)
{
    if (!m_running)
        return;
    tell(ProgressPrinter::clockText(m_clock.elapsed()) + QStringLiteral(" dux-host: ") + visibleText(reason)
         + QStringLiteral("; cancelling the update"));
    tellCancelReason(m_recorder, reason, interrupted);
    if (m_cancel->isEnabled())
        m_cancel->click();
    else
        QMetaObject::invokeMethod(m_plugin, CancelSlot);
}

void UpdateDriver::tellCancelReason(QObject* recorder, const QString& reason, bool interrupted, int flushWaitMs)
{
    if (!recorder)
        return;
    QMetaObject::invokeMethod(recorder, CancelReasonMethod, Qt::DirectConnection, Q_ARG(QString, reason),
                              Q_ARG(bool, interrupted));
    if (flushWaitMs > 0)
        QMetaObject::invokeMethod(recorder, FlushMethod, Qt::DirectConnection, Q_ARG(int, flushWaitMs));
}

void UpdateDriver::outcomePhaseChanged(const QString& phase)
{
    m_phase = phase;
    if (phase != EntryPhase)
        m_entryWatch.stop();
    emit phaseChanged(phase);
}

void UpdateDriver::outcomeProgressed(qint64 bytesDone, qint64 bytesTotal)
{
    m_bytesWritten = qMax(m_bytesWritten, bytesDone);
    emit progressed(bytesDone, bytesTotal);
}

void UpdateDriver::checkBootloaderEntry()
{
    if (!m_running || (!m_phase.isEmpty() && m_phase != EntryPhase))
        return;
    m_entryFailure = QString::fromLatin1(EntryLostText).arg(EntryWatchMs / MsPerSecond);
    cancel(m_entryFailure, false);
}

void UpdateDriver::outcomeFinished(const UpdateOutcome::Report& report)
{
    if (!m_running)
        return;
    m_running = false;
    m_entryWatch.stop();
    tellHistory(true);
    disconnect(m_history->document(), nullptr, this, nullptr);
    disconnect(m_progressBar, nullptr, this, nullptr);
    UpdateResult result;
    static_cast<EndedUpdate&>(result) = report;
    // dux-host says itself whether it interrupted an update (ModuleUpdate): the plug-in's cancel is a
    // failure to it.
    if (result.result == EndedUpdate::Result::Interrupted)
        result.result = EndedUpdate::Result::Failed;
    // A module on a USB link comes back under another port: the report names the key it ended with.
    if (result.moduleKey.isEmpty())
        result.moduleKey = m_moduleKey;
    // The file as given, not as the form made it absolute, and what the form showed as the update started.
    result.fileName = m_fileName;
    result.fileIdentifier = m_identifier;
    result.firmwareBefore = m_moduleFirmware;
    if (!m_entryFailure.isEmpty())
        result.failureText = m_entryFailure;
    result.erases = !(report.subject.verifyOnly || report.subject.readBack || report.skipped);
    emit ended(result);
}

void UpdateDriver::tellHistory(bool includingUnfinishedLine)
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
        if (!trimmed.isEmpty())
            tell(ProgressPrinter::clockText(m_clock.elapsed()) + QLatin1Char(' ') + trimmed);
    }
}

void UpdateDriver::tell(const QString& line)
{
    if (m_printHistory)
        *m_out << line << Qt::endl;
    emit historyLine(line);
}

void UpdateDriver::checkScreenshot(int value)
{
    if (m_screenshotPath.isEmpty() || m_screenshotTaken || m_progressBar->maximum() <= 1)
        return;
    if (qint64(value) * 100 < qint64(m_screenshotPercent) * m_progressBar->maximum())
        return;
    m_screenshotTaken = true;
    if (!m_out)
        return;
    QWidget* window = m_plugin->window();
    const QString clock = ProgressPrinter::clockText(m_clock.elapsed());
    if (window->grab().save(m_screenshotPath))
        *m_out << clock << " (window saved to " << m_screenshotPath << ")" << Qt::endl;
    else
        *m_out << clock << " (could not save the window to " << m_screenshotPath << ")" << Qt::endl;
}
